// Patch files through the instrument's patch loader (header check, then the patch stream). A
// refused file leaves the patch exactly as it was; the instrument plays clean audio after any.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "InstrumentHarness.h"
#include "framework/String.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    fuzz::InstrumentHarness& h = fuzz::InstrumentHarness::Get();
    Torvane& t = h.Instrument();
    h.Reset();
    std::vector<uint8_t> const before = h.State();

    String const path = t.GetPatchPresetManager()->MakePresetPath("Fuzz", "Input");
    fuzz::WriteFile(static_cast<char const*>(path), data, size);
    if (t.LoadPatch("Fuzz", "Input") == 0)
        fuzz::Check(h.State() == before, "a refused patch file changed the patch");
    else
        fuzz::Check(t.GetPatchName() == String("Input") && t.GetPatchCategory() == String("Fuzz"),
                    "a loaded patch does not take the file's name and folder");
    h.PlayAndCheck("after a patch file");
    return 0;
}

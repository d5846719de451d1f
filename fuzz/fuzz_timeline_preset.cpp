// Timeline-preset files through the instrument's loader into the lines of a layer. A refused
// file leaves the patch exactly as it was; the instrument plays clean audio after any.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "InstrumentHarness.h"
#include "framework/ParameterFile.h"
#include "framework/String.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    fuzz::InstrumentHarness& h = fuzz::InstrumentHarness::Get();
    Torvane& t = h.Instrument();
    h.Reset();
    t.SetCurrentVoice(static_cast<int>(size % 4));
    std::vector<uint8_t> const before = h.State();

    PresetManager& presets = *t.GetTimelinePresetManager();
    String const path = presets.MakePresetPath("Fuzz", "Input");
    fuzz::WriteFile(static_cast<char const*>(path), data, size);

    ParameterFileReader available;
    if (presets.LoadStart("Fuzz", "Input", available))
    {
        std::vector<bool> flags;
        bool const read = t.TimelineLoadAvailableEnvelopes(flags, available);
        fuzz::Check(flags.size() == 6 && (read || flags == std::vector<bool>(6, false)), "available lines");
    }

    // Which lines are wanted: all of them, or a pattern that the size picks.
    std::vector<bool> wanted(6, true);
    if (size % 3 != 0)
    {
        for (int i = 0; i < 6; ++i)
            wanted[static_cast<size_t>(i)] = ((size / 3) >> i) & 1;
    }
    ParameterFileReader reader;
    bool const opened = presets.LoadStart("Fuzz", "Input", reader);
    if (!opened || !t.LoadTimelinePreset(wanted, reader))
        fuzz::Check(h.State() == before, "a refused timeline preset changed the patch");
    h.PlayAndCheck("after a timeline preset");
    t.SetCurrentVoice(0);
    return 0;
}

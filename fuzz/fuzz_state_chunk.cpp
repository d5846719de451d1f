// The host's state block through the plug-in's setChunk. A refused block leaves the state
// exactly as it was; an accepted one gives a state that restores to itself. Either way the
// instrument goes on playing clean audio.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "InstrumentHarness.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    fuzz::InstrumentHarness& h = fuzz::InstrumentHarness::Get();
    Torvane& t = h.Instrument();

    // As a host would: setChunk (no result comes back through it).
    h.Reset();
    std::vector<uint8_t> const before = h.State();
    h.SetState(data, size);
    std::vector<uint8_t> const viaHost = h.State();
    h.PlayAndCheck("after setChunk");

    // The same block again, where the result shows.
    h.Reset();
    bool const accepted = t.RestorePatchState(data, static_cast<int>(size));
    std::vector<uint8_t> const after = h.State();
    fuzz::Check(after == viaHost, "the same block restores differently twice");
    if (!accepted)
    {
        fuzz::Check(after == before, "a refused block changed the state");
        return 0;
    }
    // What was accepted is a state the instrument gives back and takes again unchanged.
    fuzz::Check(t.RestorePatchState(after.data(), static_cast<int>(after.size())),
                "the state given is refused");
    fuzz::Check(h.State() == after, "the state given restores to another");
    h.PlayAndCheck("after restoring the state given");
    return 0;
}

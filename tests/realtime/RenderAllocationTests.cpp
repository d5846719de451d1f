// The instrument's own render (no adapter) of the busy patch allocates nothing once warm.

#include <gtest/gtest.h>

#include <vector>

#include "dsp/Envelope.h"
#include "engine/PlayTestSupport.h"
#include "support/allocation/AllocationCounter.h"
#include "support/engine/BusyPatch.h"

using namespace play;

TEST(RenderAllocations, PlayingAndRenderingAllocateNothing)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    MakeBusyPatch(t);
    for (int k = 0; k < 16; ++k)
        t.NoteOnMidiEvent(0, 40 + 3 * k, 100, 0);
    // Warm up: every pool reaches the size the patch needs.
    for (int b = 0; b < 40; ++b)
        RenderDirect(t, b % 2 ? 8192 : 64);

    std::vector<float> l(8192), r(8192);
    allocations::StartCounting();
    {
        Envelope probe(1); // the counter sees what this thread allocates
    }
    EXPECT_GT(allocations::StopCounting(), 0u);
    allocations::StartCounting();
    for (int b = 0; b < 40; ++b)
    {
        if (b == 10) t.NoteOffMidiEvent(0, 40, 0);
        if (b == 12) t.NoteOnMidiEvent(0, 90, 127, 5);
        if (b == 20) t.AllNotesOffMidiEvent(0);
        t.Render(l.data(), r.data(), b % 3 ? 512 : 8192, 0);
    }
    EXPECT_EQ(allocations::StopCounting(), 0u);
}

// Once their pools are grown, envelopes must not allocate on the audio thread.

#include <gtest/gtest.h>

#include <cmath>

#include "dsp/Envelope.h"
#include "dsp/EnvelopeTestSupport.h"
#include "framework/Random.h"
#include "support/allocation/AllocationCounter.h"

using Counter = allocations::Scope;

TEST(EnvelopeAllocation, VoiceAndModulationBlocksAllocateNothing)
{
    Random rng(31);
    Envelope line(5);
    envtest::RandomEnvelope(line, rng, 32, 0.0f, 200);
    Envelope level(1);
    envtest::RandomEnvelope(level, rng, 12, 0.0f, 600);

    // Working envelopes, pre-grown as the engine does.
    Envelope piece(5);
    Envelope column(1);
    Envelope mod(1);
    Envelope lfo(1);
    Envelope copy(5);
    for (Envelope* e : {&piece, &column, &mod, &lfo, &copy})
        e->Reserve(1024);

    LoopInfo loop;
    loop.looping = true;
    loop.start = 1000;
    loop.end = 3000;
    EnvelopeContext lineCtx;
    EnvelopeContext levelCtx;
    float from = 0.0f;
    float sink = 0.0f;

    Counter counter;
    for (int block = 0; block < 200; ++block)
    {
        const float frames = static_cast<float>(64 + 64 * (block % 8));
        piece.Clear();
        line.ExtractTimePeriod(&piece, from, from + frames, &lineCtx, false, &loop, -from);
        from = loop.position;
        piece.ClipValues(-1.0f, 1.0f);
        column.Clear();
        piece.ExtractYRange(&column, 2, 2);

        mod.Clear();
        level.ExtractTimePeriod(&mod, static_cast<float>(block) * 64.0f,
                                static_cast<float>(block) * 64.0f + frames, &levelCtx, true, nullptr,
                                -static_cast<float>(block) * 64.0f);
        lfo.Clear();
        lfo.CreateEnvelope(0.0f, 1.0f, 0.0f, frames, 8.0f);
        mod *= lfo;
        mod += column;
        mod.ScaleYs(0.5f);
        column = mod;
        column.RemoveDuplicates();
        copy = piece;
        copy.ShiftTime(1.0f);
        copy.InsertBreakpoint(3.0f, true, nullptr);
        copy.DeleteBreakpoint(0);
        sink += mod.ValueAtTime(frames * 0.5f, 0, nullptr, false) + copy.GetPeakY(1, nullptr);
    }
    EXPECT_EQ(counter.Count(), 0u);
    EXPECT_TRUE(std::isfinite(sink));
}

TEST(EnvelopeAllocation, GrowthIsTheOnlyAllocation)
{
    Envelope e(2);
    long grown = 0;
    {
        Counter counter;
        for (int i = 0; i < 8; ++i)
            e.AddBreakpoint(static_cast<float>(i), 0.0f);
        EXPECT_EQ(counter.Count(), 0u);
        e.AddBreakpoint(8.0f, 0.0f);
        grown = static_cast<long>(counter.Count());
    }
    EXPECT_GT(grown, 0);
    Counter counter;
    e.Clear();
    for (int i = 0; i < 264; ++i)
        e.AddBreakpoint(static_cast<float>(i), 1.0f);
    EXPECT_EQ(counter.Count(), 0u);
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "dsp/StepSequencer.h"

namespace
{

// One block of `samples` samples: samples / 64 + 1 values.
std::vector<float> Block(StepSeq& seq, unsigned samples)
{
    int const chunks = static_cast<int>(samples / 64 + 1);
    ModulationValues* v = seq.CalculateModulation(samples, chunks, 0);
    EXPECT_EQ(v->count, chunks);
    return std::vector<float>(v->values, v->values + chunks);
}

} // namespace

TEST(StepSequencer, Construction)
{
    StepSeq seq;
    std::vector<std::string> keys;
    for (long i = 0; i < seq.GetNumInternalParameters(false); ++i)
        keys.emplace_back(seq.FindInternalParameter(i)->GetName());
    EXPECT_EQ(keys, (std::vector<std::string>{"STEPSEQ_ENABLED", "STEPSEQ_RATE", "STEPSEQ_SMOOTHTRANSITION",
                                              "STEPSEQ_NUMACTIVESTEPS"}));
    EXPECT_FLOAT_EQ(seq.enabled, 0.0f);
    EXPECT_FLOAT_EQ(seq.rate, 1.0f);
    EXPECT_FLOAT_EQ(seq.numActiveSteps, 16.0f);
    EXPECT_FLOAT_EQ(seq.GetRateMultiplier(), 1.0f);
    EXPECT_EQ(seq.GetCurrentStep(), 0);
    EXPECT_EQ(seq.GetPosition(), 0);
    for (long i = 0; i < StepSeq::kNumSteps; ++i)
        EXPECT_FLOAT_EQ(seq.GetStep(i), 1.0f);
    // All levels at 1: the output is 1 in every chunk, enabled or not.
    for (float v : Block(seq, 8000))
        EXPECT_FLOAT_EQ(v, 1.0f);
}

TEST(StepSequencer, RateValues)
{
    StepSeq seq;
    float const expected[8] = {0.5f, 1.0f, 2.0f, 4.0f, 8.0f, 16.0f, 32.0f, 32.0f};
    for (int r = 0; r < 8; ++r)
    {
        seq.rate = static_cast<float>(r);
        EXPECT_FLOAT_EQ(seq.GetRateMultiplier(), expected[r]) << r;
        EXPECT_DOUBLE_EQ(seq.SamplesPerStep(), 22050.0 / expected[r]) << r;
    }
}

TEST(StepSequencer, StepLevels)
{
    StepSeq seq;
    seq.SetStep(3, 0.25f);
    seq.SetStep(4, 7.0f);
    seq.SetStep(5, -1.0f);
    seq.SetStep(16, 0.0f);
    seq.SetStep(-1, 0.0f);
    EXPECT_FLOAT_EQ(seq.GetStep(3), 0.25f);
    EXPECT_FLOAT_EQ(seq.GetStep(4), 1.0f);
    EXPECT_FLOAT_EQ(seq.GetStep(5), 0.0f);
    EXPECT_FLOAT_EQ(seq.GetStep(16), 0.0f);
    seq.Reset();
    EXPECT_FLOAT_EQ(seq.GetStep(3), 1.0f);
}

// One step per beat at 44100: 22050 samples a step; 16 steps restart after 352800 samples.
TEST(StepSequencer, WalksThroughTheSteps)
{
    StepSeq seq;
    for (long i = 0; i < 16; ++i)
        seq.SetStep(i, static_cast<float>(i) / 15.0f);
    long position = 0;
    for (int block = 0; block < 1000; ++block)
    {
        std::vector<float> v = Block(seq, 512);
        for (size_t c = 0; c + 1 < v.size(); ++c)
        {
            long const p = position + static_cast<long>(c) * 64;
            long const step = (p / 22050) % 16;
            ASSERT_FLOAT_EQ(v[c], 2.0f * (static_cast<float>(step) / 15.0f) - 1.0f) << p;
        }
        position += 512;
    }
    EXPECT_EQ(seq.GetPosition(), 512000 - 352800);
    EXPECT_EQ(seq.GetCurrentStep(), (512000 - 352800) / 22050);
}

TEST(StepSequencer, PatternRestartsAfter352800Samples)
{
    StepSeq seq;
    seq.SetStep(0, 0.0f);
    // 352800 = 689 blocks of 512 and 32 samples.
    for (int block = 0; block < 689; ++block)
        Block(seq, 512);
    std::vector<float> last = Block(seq, 32);
    EXPECT_EQ(seq.GetPosition(), 352800);
    EXPECT_FLOAT_EQ(last[0], 1.0f); // still step 15
    std::vector<float> next = Block(seq, 64);
    EXPECT_FLOAT_EQ(next[0], -1.0f); // step 0 again
    EXPECT_EQ(seq.GetCurrentStep(), 0);
    EXPECT_EQ(seq.GetPosition(), 64);
}

TEST(StepSequencer, ShortBlockAdvancesByItsLength)
{
    StepSeq seq;
    Block(seq, 30);
    EXPECT_EQ(seq.GetPosition(), 30);
    Block(seq, 0);
    EXPECT_EQ(seq.GetPosition(), 30);
    Block(seq, 200);
    EXPECT_EQ(seq.GetPosition(), 230);
}

TEST(StepSequencer, FewerActiveStepsRestartAtStepZero)
{
    StepSeq seq;
    seq.SetStep(0, 0.0f);
    seq.SetStep(1, 0.5f);
    seq.rate = 7.0f; // 32 steps a beat: 689.0625 samples a step
    for (int block = 0; block < 10; ++block)
        Block(seq, 512);
    ASSERT_EQ(seq.GetCurrentStep(), 7);
    seq.numActiveSteps = 4.0f;
    EXPECT_EQ(seq.GetCurrentStep(), 0);
    std::vector<float> v = Block(seq, 768);
    // Steps 0 and 1 of the new pattern follow.
    EXPECT_FLOAT_EQ(v[0], -1.0f);
    EXPECT_FLOAT_EQ(v[10], -1.0f);
    EXPECT_FLOAT_EQ(v[11], 0.0f);
    EXPECT_EQ(seq.GetPosition(), 768);

    // Raising it again keeps the place.
    seq.numActiveSteps = 16.0f;
    EXPECT_EQ(seq.GetPosition(), 768);
}

namespace
{

// The walk in double precision: a pattern that has run out goes back by whole patterns (to
// the whole sample); values are read before each advance of 64 samples.
class ReferenceWalk
{
public:
    ReferenceWalk(std::vector<float> levels, double sps, bool smooth)
        : levels(std::move(levels)), sps(sps), smooth(smooth)
    {
    }

    // The values of a block, as CalculateModulation gives them.
    std::vector<float> Block(long samples)
    {
        long const active = static_cast<long>(levels.size());
        std::vector<float> out;
        long remaining = samples;
        for (long c = 0; c < samples / 64 + 1; ++c)
        {
            while (static_cast<long>(position / sps) >= active)
                position = static_cast<long>(position - active * sps);
            double const x = position / sps;
            long const step = static_cast<long>(x);
            double const a = 2.0 * levels[static_cast<size_t>(step)] - 1.0;
            double const b = 2.0 * levels[static_cast<size_t>((step + 1) % active)] - 1.0;
            double const f = x - std::floor(x);
            out.push_back(static_cast<float>(smooth ? a + std::pow(f, 50.0) * (b - a) : a));
            long const advance = std::min(remaining, 64L);
            position += advance;
            remaining -= advance;
        }
        return out;
    }

    long position = 0;

private:
    std::vector<float> levels;
    double sps;
    bool smooth;
};

} // namespace

TEST(StepSequencer, ShortPatternWraps)
{
    StepSeq seq;
    seq.numActiveSteps = 3.0f;
    seq.rate = 7.0f; // 689.0625 samples a step, a pattern of 2067.1875
    seq.SetStep(0, 0.0f);
    seq.SetStep(1, 0.5f);
    seq.SetStep(2, 1.0f);
    ReferenceWalk reference({0.0f, 0.5f, 1.0f}, 689.0625, false);
    for (int block = 0; block < 60; ++block)
    {
        long const n = block % 3 == 0 ? 1000 : 256;
        std::vector<float> expected = reference.Block(n);
        std::vector<float> v = Block(seq, static_cast<unsigned>(n));
        ASSERT_EQ(v, expected) << block;
        ASSERT_EQ(seq.GetPosition(), reference.position);
    }
}

// With the smooth transition each step holds near its level and glides into the next one at
// its very end: a + f^50 (b - a), f the fraction of the step gone; the last step glides into
// the first.
TEST(StepSequencer, SmoothTransitionGlides)
{
    StepSeq seq;
    seq.numActiveSteps = 3.0f;
    seq.rate = 7.0f;
    seq.smoothTransition = 1.0f;
    seq.SetStep(0, 0.0f);
    seq.SetStep(1, 1.0f);
    seq.SetStep(2, 0.25f);
    ReferenceWalk reference({0.0f, 1.0f, 0.25f}, 689.0625, true);
    int glides = 0;
    for (int block = 0; block < 40; ++block)
    {
        std::vector<float> expected = reference.Block(128);
        std::vector<float> v = Block(seq, 128);
        ASSERT_EQ(v.size(), expected.size());
        for (size_t c = 0; c < v.size(); ++c)
        {
            ASSERT_NEAR(v[c], expected[c], 1e-5) << block << " " << c;
            glides += v[c] != -1.0f && v[c] != 1.0f && v[c] != -0.5f;
        }
    }
    EXPECT_GT(glides, 0);

    // Deep into a step the glide has covered part of the way: f = 0.99 gives 60 %.
    StepSeq one;
    one.rate = 7.0f;
    one.smoothTransition = 1.0f;
    one.SetStep(0, 0.0f);
    one.SetStep(1, 1.0f);
    one.SetBeatSyncCountdown(11025 - 682); // position 682 of a pattern of 16 x 689.0625
    EXPECT_EQ(one.GetPosition(), 682);
    std::vector<float> v = Block(one, 0);
    ASSERT_EQ(v.size(), 1u);
    double const f = 682.0 / 689.0625;
    EXPECT_NEAR(v[0], -1.0 + std::pow(f, 50.0) * 2.0, 1e-5);
    EXPECT_GT(v[0], 0.15f);
}

TEST(StepSequencer, BeatSyncCountdown)
{
    StepSeq seq;
    seq.SetStep(0, 0.0f);
    seq.SetBeatSyncCountdown(100);
    EXPECT_EQ(seq.GetPosition(), 352700);
    EXPECT_EQ(seq.GetCurrentStep(), 15);
    std::vector<float> v = Block(seq, 128);
    EXPECT_FLOAT_EQ(v[0], 1.0f);
    EXPECT_FLOAT_EQ(v[2], -1.0f); // 128 samples on: the pattern has started again
    EXPECT_EQ(seq.GetPosition(), 28);

    seq.SetBeatSyncCountdown(0);
    EXPECT_EQ(seq.GetPosition(), 0);
    EXPECT_EQ(seq.GetCurrentStep(), 0);
}

#include "ModulationTestSupport.h"
#include "engine/VoiceLFO.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace modtest;

namespace
{
constexpr double kTwoPi = 6.283185307179586;

// A modulation line of 23 values with one point: depth, rate, shape at `first`.
struct Line
{
    explicit Line(float depth, float rate, float shape, int first = 0) : e(23)
    {
        float v[23] = {};
        v[first] = depth;
        v[first + 1] = rate;
        v[first + 2] = shape;
        e.GetBreakpoints().Add(0.0f, v);
    }
    Envelope e;
};

std::vector<float> Times(Envelope const& e)
{
    std::vector<float> t;
    for (long i = 0; i < e.Size(); ++i)
        t.push_back(e[i].time);
    return t;
}

Envelope Curve(TLFO& lfo, long length)
{
    Envelope out(1);
    lfo.CreateModEnvelope(&out, length, 0);
    return out;
}

// The distance between two phases on the circle.
double CircleDistance(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), kTwoPi);
    return std::min(d, kTwoPi - d);
}

void SetInput(TLFO& lfo, int input, float value)
{
    TModValues* in = lfo.GetInput(input);
    in->Clear();
    in->AddBreakpoint(0.0f, value);
    in->AddBreakpoint(1e9f, value);
    in->valid = true;
}
} // namespace

TEST(TLFOCurve, APointEvery32SamplesAndAtTheBlockEnd)
{
    TLFO lfo;
    Line line(1.0f, 0.0f, 0.0f);
    lfo.SetParamEnvelope(&line.e, 0);
    EXPECT_EQ(Times(Curve(lfo, 100)), (std::vector<float>{0, 32, 64, 96, 100}));
    EXPECT_EQ(Times(Curve(lfo, 64)), (std::vector<float>{0, 32, 64}));
    EXPECT_EQ(Times(Curve(lfo, 5)), (std::vector<float>{0, 5}));
    EXPECT_EQ(Times(Curve(lfo, 0)), (std::vector<float>{0}));
    Envelope longest = Curve(lfo, kMaxRenderFrames);
    EXPECT_EQ(longest.Size(), kModBlockPoints);
    EXPECT_EQ(longest[longest.Size() - 1].time, 8192.0f);
}

TEST(TLFOCurve, DepthZeroIsFlatAtZeroForEveryShape)
{
    for (float shape : {0.0f, 1.0f, 2.0f, 3.0f})
    {
        TLFO lfo;
        Line line(0.0f, 2.0f, shape);
        lfo.SetParamEnvelope(&line.e, 0);
        lfo.SetPhase(1.0f);
        Envelope out = Curve(lfo, 1000);
        for (long i = 0; i < out.Size(); ++i)
            EXPECT_EQ(out[i].values[0], 0.0f) << shape;
    }
}

TEST(TLFOCurve, ShapesFromThePhaseAndTheSecondLfosValues)
{
    // LFO 2 reads values 3-5. Rate 0 keeps the phase where it was set.
    struct Case
    {
        float shape;
        float phase;
        float expected;
    };
    const Case cases[] = {{0.0f, 1.0f, std::sin(1.0f)}, {1.0f, 3.0f, 1.0f},       {1.0f, 3.2f, -1.0f},
                          {2.0f, 0.0f, 1.0f},           {2.0f, 3.1415927f, 0.0f}, {1.4f, 4.0f, -1.0f}};
    for (Case const& c : cases)
    {
        TLFO lfo;
        Line line(0.5f, 0.0f, c.shape, 3);
        lfo.SetParamEnvelope(&line.e, 3);
        lfo.SetPhase(c.phase);
        Envelope out = Curve(lfo, 64);
        EXPECT_NEAR(out[0].values[0], 0.5f * c.expected, 1e-6f) << c.shape << " " << c.phase;
        EXPECT_EQ(out[2].values[0], out[0].values[0]);
    }
}

TEST(TLFOCurve, SquarePositiveOnlyIsOneThenZero)
{
    TLFO lfo;
    Line line(1.0f, 4.0f, 1.0f); // 0.002 rad per sample: a cycle of about 3142 samples
    lfo.SetParamEnvelope(&line.e, 0);
    lfo.SetPositiveOnly(true);
    int ones = 0;
    int zeros = 0;
    double phase = 0.0; // the expected phase at each point
    for (int block = 0; block < 4; ++block)
    {
        Envelope out = Curve(lfo, 8192);
        for (long i = 0; i < out.Size(); ++i)
        {
            const float v = out[i].values[0];
            ASSERT_TRUE(v == 0.0f || v == 1.0f);
            (v == 1.0f ? ones : zeros)++;
            const double p = std::fmod(phase, kTwoPi);
            if (std::fabs(p - 3.1415927) > 0.01 && p > 0.01 && p < kTwoPi - 0.01)
            {
                EXPECT_EQ(v, p <= 3.1415927 ? 1.0f : 0.0f) << block << " " << i;
            }
            if (i + 1 < out.Size()) phase += 0.002 * (out[i + 1].time - out[i].time);
        }
    }
    EXPECT_NEAR(static_cast<double>(ones) / (ones + zeros), 0.5, 0.05);
}

TEST(TLFOPhase, SyncedRateOneAt120BpmTakes22050SamplesPerCycle)
{
    TLFO lfo;
    lfo.SetSampleRate(44100.0f);
    lfo._SetTempo(120.0f);
    Line line(1.0f, 1.0f, 0.0f);
    lfo.SetParamEnvelope(&line.e, 0);
    lfo.SetSync(true);
    Curve(lfo, 11025);
    EXPECT_NEAR(lfo.GetPhase(), 3.1415927, 1e-3);
    Curve(lfo, 8192);
    Curve(lfo, 2833);
    EXPECT_LT(CircleDistance(lfo.GetPhase(), 0.0), 1e-3);
    EXPECT_GE(lfo.GetPhase(), 0.0f);
    EXPECT_LT(lfo.GetPhase(), kTwoPi);

    // Index 0 is a quarter cycle per beat; the tempo scales it.
    TLFO slow;
    slow.SetSampleRate(44100.0f);
    slow._SetTempo(60.0f);
    Line zero(1.0f, 0.0f, 0.0f);
    slow.SetParamEnvelope(&zero.e, 0);
    slow.SetSync(true);
    Curve(slow, 4410);
    EXPECT_NEAR(slow.GetPhase(), 0.25 * kTwoPi * 4410.0 / 44100.0, 1e-4);

    // Indices outside 0-5 leave the phase still.
    TLFO still;
    Line seven(1.0f, 7.0f, 0.0f);
    still.SetParamEnvelope(&seven.e, 0);
    still.SetSync(true);
    Curve(still, 1000);
    EXPECT_EQ(still.GetPhase(), 0.0f);
}

TEST(TLFOPhase, FreeRateAdvancesByHalfAThousandthPerSampleAndUnit)
{
    TLFO lfo;
    Line line(1.0f, 2.0f, 0.0f);
    lfo.SetParamEnvelope(&line.e, 0);
    Curve(lfo, 1000);
    EXPECT_NEAR(lfo.GetPhase(), 1.0, 1e-5);
    Envelope out = Curve(lfo, 32);
    EXPECT_NEAR(out[0].values[0], std::sin(1.0), 1e-5); // a block starts where the last ended
}

TEST(TLFOPhase, HugeNegativeAndNonFiniteRatesStayInRange)
{
    for (float rate : {1e30f, 3e38f, -1.0f, -1e20f, std::numeric_limits<float>::max()})
    {
        TLFO lfo;
        Line line(1.0f, rate, 0.0f);
        lfo.SetParamEnvelope(&line.e, 0);
        for (int block = 0; block < 3; ++block)
        {
            Envelope out = Curve(lfo, 8192);
            for (long i = 0; i < out.Size(); ++i)
                ASSERT_TRUE(std::isfinite(out[i].values[0])) << rate;
            ASSERT_GE(lfo.GetPhase(), 0.0f) << rate;
            ASSERT_LT(lfo.GetPhase(), kTwoPi) << rate;
        }
    }
    TLFO lfo;
    lfo.SetPhase(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(lfo.GetPhase(), 0.0f);
    lfo.SetPhase(-1.0f);
    EXPECT_NEAR(lfo.GetPhase(), kTwoPi - 1.0, 1e-6);
    lfo.SetPhase(1e30f);
    EXPECT_GE(lfo.GetPhase(), 0.0f);
    EXPECT_LT(lfo.GetPhase(), kTwoPi);
}

TEST(TLFOPhase, RandomShapeHoldsItsValueForACycle)
{
    TLFO lfo;
    Line line(1.0f, 4.0f, 3.0f); // one cycle in about 3142 samples
    lfo.SetParamEnvelope(&line.e, 0);
    lfo.SetPhase(5.0f); // wraps after about 642 samples
    const float first = lfo.GetRandomValue();
    Envelope out = Curve(lfo, 3000);
    std::vector<float> distinct;
    for (long i = 0; i < out.Size(); ++i)
    {
        const float v = out[i].values[0];
        ASSERT_GE(v, -1.0f);
        ASSERT_LT(v, 1.0f);
        if (distinct.empty() || distinct.back() != v) distinct.push_back(v);
    }
    ASSERT_EQ(distinct.size(), 2u);
    EXPECT_EQ(distinct[0], first);
    EXPECT_EQ(out[20].values[0], first); // t = 640
    EXPECT_NE(out[21].values[0], first); // t = 672
}

TEST(TLFOInputs, DepthAndRateModulation)
{
    // Depth input m scales by 0.5 + 0.5 m, clamped.
    TLFO lfo;
    Line line(1.0f, 0.0f, 1.0f); // square: 1 at phase 0
    lfo.SetParamEnvelope(&line.e, 0);
    SetInput(lfo, kLFOInputDepth, -1.0f);
    EXPECT_EQ(Curve(lfo, 32)[0].values[0], 0.0f);
    SetInput(lfo, kLFOInputDepth, 0.0f);
    EXPECT_EQ(Curve(lfo, 32)[0].values[0], 0.5f);
    SetInput(lfo, kLFOInputDepth, 5.0f);
    EXPECT_EQ(Curve(lfo, 32)[0].values[0], 1.0f);
    lfo.GetInput(kLFOInputDepth)->valid = false; // an input not valid this block is not read
    EXPECT_EQ(Curve(lfo, 32)[0].values[0], 1.0f);

    // Rate input m: factor 1 + 4m above 0, 1 / (4|m| + 1) below, clamped to [0, 2].
    struct Case
    {
        float m;
        double factor;
    };
    for (Case c : {Case{0.125f, 1.5}, Case{1.0f, 2.0}, Case{-0.25f, 0.5}, Case{-1.0f, 0.2}})
    {
        TLFO rated;
        Line rl(1.0f, 2.0f, 0.0f);
        rated.SetParamEnvelope(&rl.e, 0);
        SetInput(rated, kLFOInputRate, c.m);
        Curve(rated, 1000);
        EXPECT_NEAR(rated.GetPhase(), 1.0 * c.factor, 1e-5) << c.m;
    }
    // Input 2 is not read.
    TLFO plain;
    Line pl(1.0f, 2.0f, 0.0f);
    plain.SetParamEnvelope(&pl.e, 0);
    SetInput(plain, 2, 1.0f);
    Curve(plain, 1000);
    EXPECT_NEAR(plain.GetPhase(), 1.0, 1e-5);
}

TEST(TLFOInputs, NoLineGivesAFlatZeroCurve)
{
    TLFO lfo;
    Envelope out = Curve(lfo, 100);
    ASSERT_EQ(out.Size(), 5);
    for (long i = 0; i < out.Size(); ++i)
        EXPECT_EQ(out[i].values[0], 0.0f);
    Envelope shortLine(2); // values 0-1 only: the shape index 2 is missing
    lfo.SetParamEnvelope(&shortLine, 0);
    EXPECT_EQ(Curve(lfo, 10).Size(), 2);
}

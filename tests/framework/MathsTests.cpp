#include "framework/Random.h"
#include "framework/StandardMaths.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <set>

TEST(MathsPitch, NoteToFreqMatchesEqualTemperamentForEveryMidiNote)
{
    EXPECT_EQ(NoteToFreq(69.0f), 440.0f);
    EXPECT_EQ(NoteToFreq(57.0f), 220.0f);
    EXPECT_EQ(NoteToFreq(9.0f), 13.75f);
    for (int n = 0; n < 128; ++n)
    {
        const double expected = 440.0 * std::pow(2.0, (n - 69) / 12.0);
        EXPECT_NEAR(NoteToFreq(static_cast<float>(n)), expected, expected * 1e-6) << n;
    }
}

TEST(MathsPitch, FreqToNoteFindsEveryNoteFromItsFrequencyAndJustBelow)
{
    EXPECT_EQ(FreqToNote(440.0f), 69);
    EXPECT_EQ(FreqToNote(439.9f), 69);
    EXPECT_FLOAT_EQ(FreqToFNote(220.0f), 57.01f);
    for (int n = 1; n < 128; ++n)
    {
        const double f = 440.0 * std::pow(2.0, (n - 69) / 12.0);
        EXPECT_EQ(FreqToNote(static_cast<float>(f)), n) << n;
        // A hair (0.05 of a semitone) below still counts as the note; a whole half step above not.
        EXPECT_EQ(FreqToNote(static_cast<float>(f * std::pow(2.0, -0.05 / 12.0))), n) << n;
        EXPECT_EQ(FreqToNote(static_cast<float>(f * std::pow(2.0, 0.6 / 12.0))), n + 1) << n;
    }
}

TEST(MathsPitch, FreqToNoteOfNoFrequencySaturates)
{
    EXPECT_EQ(FreqToNote(0.0f), INT_MIN);
    EXPECT_EQ(FreqToNote(-10.0f), INT_MIN);
    EXPECT_EQ(FreqToNote(std::numeric_limits<float>::quiet_NaN()), INT_MIN);
    EXPECT_EQ(FreqToNote(std::numeric_limits<float>::infinity()), INT_MAX);
}

TEST(MathsRound, TruncatesNegativeValuesAndRoundsPositiveHalvesUp)
{
    struct Case
    {
        float in, out;
    };
    const Case cases[] = {
        {0.5f, 1.0f},
        {-0.5f, 0.0f},
        {3.0f, 3.0f},
        {-3.0f, -3.0f},
        {2.5f, 3.0f},
        {-2.5f, -2.0f},
        {-2.7f, -2.0f},
        {2.7f, 3.0f},
        {2.49f, 2.0f},
        {-2.2f, -2.0f},
        {0.0f, 0.0f},
        {0.49f, 0.0f},
        {-0.99f, 0.0f},
        {127.5f, 128.0f},
        {-1e-6f, 0.0f},
        {8388607.5f, 8388608.0f},
        {-8388607.5f, -8388607.0f},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Round(c.in), c.out) << c.in;
}

TEST(MathsRound, WholeAndHugeValuesComeBackUnchanged)
{
    EXPECT_TRUE(std::signbit(Round(-0.0f))); // exactly whole: the input itself
    EXPECT_EQ(Round(1e10f), 1e10f);
    EXPECT_EQ(Round(-3e38f), -3e38f);
    EXPECT_EQ(Round(std::numeric_limits<float>::infinity()), std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(Round(std::numeric_limits<float>::quiet_NaN())));
}

TEST(MathsLevel, DecibelConversions)
{
    const double floorDb = 20.0 * std::log10(static_cast<double>(1e-10f));
    EXPECT_EQ(linearTodB(0.0), floorDb);
    EXPECT_EQ(linearTodB(-1.0), floorDb);
    EXPECT_GT(floorDb, -200.0);
    EXPECT_LT(floorDb, -199.99999);
    EXPECT_DOUBLE_EQ(linearTodB(1.0), 0.0);
    EXPECT_DOUBLE_EQ(linearTodB(0.1), -20.0);
    EXPECT_DOUBLE_EQ(dBToLinear(-20.0), 0.1);
    EXPECT_DOUBLE_EQ(dBToLinear(0.0), 1.0);
    for (double v : {1e-6, 0.001, 0.25, 0.5, 1.0, 3.0})
        EXPECT_NEAR(dBToLinear(linearTodB(v)), v, v * 1e-12) << v;
}

TEST(MathsLevel, PositiveScaleMapsMinus140To0dBOntoZeroToOne)
{
    EXPECT_DOUBLE_EQ(linearToPositivedB(1.0), 1.0);
    EXPECT_NEAR(linearToPositivedB(1e-7), 0.0, 1e-12);
    EXPECT_NEAR(linearToPositivedB(std::pow(10.0, -70.0 / 20.0)), 0.5, 1e-12);
    EXPECT_GT(linearToPositivedB(2.0), 1.0); // not clamped
    EXPECT_LT(linearToPositivedB(0.0), 0.0);
    EXPECT_DOUBLE_EQ(positivedBToLinear(1.0), 1.0);
    EXPECT_NEAR(positivedBToLinear(0.0), 1e-7, 1e-19);
    for (double v : {1e-7, 1e-4, 0.3, 1.0})
        EXPECT_NEAR(positivedBToLinear(linearToPositivedB(v)), v, v * 1e-12) << v;
}

TEST(MathsLevel, OffsetScaleIsClampedAtZero)
{
    EXPECT_DOUBLE_EQ(linearToPositivedB(1.0, 40.0), 40.0);
    EXPECT_DOUBLE_EQ(linearToPositivedB(0.1, 40.0), 20.0);
    EXPECT_EQ(linearToPositivedB(0.001, 40.0), 0.0);
    EXPECT_EQ(linearToPositivedB(0.0, 40.0), 0.0);
    EXPECT_DOUBLE_EQ(positivedBToLinear(40.0, 40.0), 1.0);
    EXPECT_DOUBLE_EQ(positivedBToLinear(20.0, 40.0), 0.1);
}

TEST(MathsInterpolator, RampsAndHoldsOnZeroWidth)
{
    Interpolator flat;
    flat.Init(0.0f, 5.0f, 0.0f, 7.0f);
    EXPECT_EQ(flat.GetValue(), 5.0f);
    EXPECT_EQ(flat.Step(10.0f), 5.0f);
    EXPECT_EQ(flat.Step(10.0f), 5.0f);

    Interpolator ramp;
    ramp.Init(100.0f, 1.0f, 200.0f, 0.0f);
    EXPECT_EQ(ramp.GetValue(), 1.0f);
    EXPECT_FLOAT_EQ(ramp.Step(32.0f), 0.68f);
    EXPECT_FLOAT_EQ(ramp.Step(68.0f), 0.0f);
}

TEST(MathsCurve, PassesThroughEndsAndIsOdd)
{
    for (float b : {0.1f, 0.3f, 0.5f, 0.8f, 0.95f})
    {
        CurveGenerator curve;
        curve.Init(b);
        EXPECT_FLOAT_EQ(curve.CalcPoint(1.0f), 1.0f) << b;
        EXPECT_FLOAT_EQ(curve.CalcPoint(-1.0f), -1.0f) << b;
        EXPECT_EQ(curve.CalcPoint(0.0f), 0.0f) << b;
        for (float x : {0.1f, 0.25f, 0.7f})
            EXPECT_EQ(curve.CalcPoint(-x), -curve.CalcPoint(x)) << b << " " << x;
    }
}

TEST(MathsCurve, BendFollowsTheParameter)
{
    CurveGenerator identity, above, below;
    identity.Init(0.5f);
    above.Init(0.8f);
    below.Init(0.3f);
    for (float x : {0.1f, 0.5f, 0.9f})
    {
        EXPECT_FLOAT_EQ(identity.CalcPoint(x), x);
        EXPECT_GT(above.CalcPoint(x), x);
        EXPECT_LT(below.CalcPoint(x), x);
    }
    // b = 0.8: c = -0.25, so 0.5 maps to 0.5 / (-0.5 * -0.25 + 0.5) = 0.8.
    EXPECT_FLOAT_EQ(above.CalcPoint(0.5f), 0.8f);
}

TEST(Random, SameSeedSameSequenceAndDefaultObjectsDiffer)
{
    Random a(42), b(42), c(43);
    bool differs = false;
    for (int i = 0; i < 100; ++i)
    {
        const auto x = a.NextUInt32();
        EXPECT_EQ(x, b.NextUInt32());
        differs |= x != c.NextUInt32();
    }
    EXPECT_TRUE(differs);

    Random d, e;
    EXPECT_NE(d.NextUInt32(), e.NextUInt32());

    Random zero(0);
    std::set<std::uint32_t> seen;
    for (int i = 0; i < 1000; ++i)
        seen.insert(zero.NextUInt32());
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(Random, FloatsStayInTheirRangesAndSpreadEvenly)
{
    Random r(7);
    const int n = 200000;
    double sum = 0.0, signedSum = 0.0;
    int low = 0;
    for (int i = 0; i < n; ++i)
    {
        const float u = r.NextFloat();
        ASSERT_GE(u, 0.0f);
        ASSERT_LT(u, 1.0f);
        sum += u;
        low += u < 0.25f;
        const float s = r.NextSignedFloat();
        ASSERT_GE(s, -1.0f);
        ASSERT_LT(s, 1.0f);
        signedSum += s;
    }
    EXPECT_NEAR(sum / n, 0.5, 0.01);
    EXPECT_NEAR(signedSum / n, 0.0, 0.01);
    EXPECT_NEAR(static_cast<double>(low) / n, 0.25, 0.01);
}

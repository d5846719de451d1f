#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "dsp/InsertEffects.h"

namespace
{

std::vector<std::string> InternalKeys(ParameterHost& host)
{
    std::vector<std::string> keys;
    for (long i = 0; i < host.GetNumInternalParameters(false); ++i)
        keys.emplace_back(host.FindInternalParameter(i)->GetName());
    return keys;
}

struct Stereo
{
    explicit Stereo(long n, float v = 0.0f)
        : left(static_cast<size_t>(n), v), right(static_cast<size_t>(n), v)
    {
    }
    float* L() { return left.data(); }
    float* R() { return right.data(); }
    long size() const { return static_cast<long>(left.size()); }
    std::vector<float> left;
    std::vector<float> right;
};

// Disabled: distinct buffers get a copy, shared buffers stay as they are.
void ExpectCopiesWhenOff(DSPComponent& fx)
{
    Stereo in(64), out(64, 7.0f);
    for (long i = 0; i < 64; ++i)
    {
        in.left[static_cast<size_t>(i)] = 0.01f * static_cast<float>(i);
        in.right[static_cast<size_t>(i)] = -0.02f * static_cast<float>(i);
    }
    fx.RenderStereo(in.L(), in.R(), out.L(), out.R(), 64);
    EXPECT_EQ(out.left, in.left);
    EXPECT_EQ(out.right, in.right);
    Stereo shared = in;
    fx.RenderStereo(shared.L(), shared.R(), shared.L(), shared.R(), 64);
    EXPECT_EQ(shared.left, in.left);
    EXPECT_EQ(shared.right, in.right);
}

} // namespace

// ---------------------------------------------------------------------------
// Gain

TEST(InsertGainEffect, KeysDefaultsAndBypass)
{
    GainEffect fx;
    EXPECT_EQ(InternalKeys(fx), (std::vector<std::string>{"BYPASS", "GAIN_ENABLED", "GAIN_GAIN"}));
    EXPECT_FLOAT_EQ(fx.enabled, 0.0f);
    EXPECT_FLOAT_EQ(fx.gain, 1.0f);
    EXPECT_FLOAT_EQ(fx.gain.GetMaxValue(), 5.0f);
    ExpectCopiesWhenOff(fx);
}

TEST(InsertGainEffect, ScalesByGain)
{
    GainEffect fx;
    fx.enabled = 1.0f;
    Stereo in(32), out(32);
    for (long i = 0; i < 32; ++i)
    {
        in.left[static_cast<size_t>(i)] = std::sin(0.3f * static_cast<float>(i));
        in.right[static_cast<size_t>(i)] = std::cos(0.2f * static_cast<float>(i));
    }
    fx.RenderStereo(in.L(), in.R(), out.L(), out.R(), 32);
    EXPECT_EQ(out.left, in.left); // gain 1 passes the input unchanged
    EXPECT_EQ(out.right, in.right);

    fx.gain = 0.0f;
    fx.RenderStereo(in.L(), in.R(), out.L(), out.R(), 32);
    for (long i = 0; i < 32; ++i)
        EXPECT_EQ(out.left[static_cast<size_t>(i)], 0.0f);

    fx.gain = 2.5f;
    Stereo inPlace = in;
    fx.RenderStereo(inPlace.L(), inPlace.R(), inPlace.L(), inPlace.R(), 32);
    for (size_t i = 0; i < 32; ++i)
    {
        EXPECT_FLOAT_EQ(inPlace.left[i], 2.5f * in.left[i]);
        EXPECT_FLOAT_EQ(inPlace.right[i], 2.5f * in.right[i]);
    }
}

// ---------------------------------------------------------------------------
// Compressor

TEST(InsertCompEffect, RegistrationOrderAndDefaults)
{
    CompEffect fx;
    EXPECT_EQ(InternalKeys(fx), (std::vector<std::string>{"BYPASS", "COMPRESSOR_ENABLED", "COMPRESSOR_RATIO",
                                                          "COMPRESSOR_ATTACKTIME", "COMPRESSOR_RELEASETIME",
                                                          "COMPRESSOR_HOLDTIME", "COMPRESSOR_MAKEUPGAIN",
                                                          "COMPRESSOR_THRESHOLD"}));
    EXPECT_FLOAT_EQ(fx.enabled, 0.0f);
    EXPECT_FLOAT_EQ(fx.ratio, 4.0f);
    EXPECT_FLOAT_EQ(fx.threshold, 0.8f);
    EXPECT_FLOAT_EQ(fx.makeupGain, 0.2f);
    EXPECT_FLOAT_EQ(fx.attackTime, 0.005f);
    EXPECT_FLOAT_EQ(fx.releaseTime, 0.2f);
    EXPECT_FLOAT_EQ(fx.holdTime, 0.01f);
    EXPECT_FLOAT_EQ(fx.GetGain(), 1.0f);
    EXPECT_FLOAT_EQ(fx.GetGainReduction(), 0.0f);
    ExpectCopiesWhenOff(fx);
}

TEST(InsertCompEffect, BelowThresholdOnlyMakeUp)
{
    CompEffect fx;
    fx.enabled = 1.0f;
    // Threshold 0.8 compares peaks with 0.64; make-up 1 + 16 x 0.2^2.
    Stereo in(2000), out(2000);
    for (long i = 0; i < in.size(); ++i)
    {
        in.left[static_cast<size_t>(i)] = 0.6f * std::sin(0.05f * static_cast<float>(i));
        in.right[static_cast<size_t>(i)] = -0.63f * std::cos(0.07f * static_cast<float>(i));
    }
    fx.RenderStereo(in.L(), in.R(), out.L(), out.R(), in.size());
    double const makeup = 1.0 + 16.0 * 0.2 * 0.2;
    for (size_t i = 0; i < in.left.size(); ++i)
    {
        ASSERT_NEAR(out.left[i], in.left[i] * makeup, 1e-6);
        ASSERT_NEAR(out.right[i], in.right[i] * makeup, 1e-6);
    }
    EXPECT_FLOAT_EQ(fx.GetGain(), 1.0f);
    EXPECT_FLOAT_EQ(fx.GetGainReduction(), 0.0f);
}

// The gain ramps linearly to ((p - thr) / ratio + thr) / p over the attack time, the output
// follows the gain squared, and the release ramps it back to 1 once the level falls.
TEST(InsertCompEffect, AttackAndReleaseRamps)
{
    CompEffect fx;
    fx.enabled = 1.0f;
    fx.makeupGain = 0.0f;
    long const attack = 220;   // trunc(0.005 x 44100)
    long const release = 8820; // trunc(0.2 x 44100)
    double const thr = 0.8 * 0.8;
    double const target = ((1.0 - thr) / 4.0 + thr) / 1.0;

    Stereo loud(1000, 1.0f), out(1000);
    loud.right.assign(1000, -0.5f);
    fx.RenderStereo(loud.L(), loud.R(), out.L(), out.R(), 1000);
    for (long i = 0; i < 1000; ++i)
    {
        double const g = i + 1 < attack ? 1.0 + (i + 1) * (target - 1.0) / attack : target;
        ASSERT_NEAR(out.left[static_cast<size_t>(i)], g * g, 5e-4) << i;
        ASSERT_NEAR(out.right[static_cast<size_t>(i)], -0.5 * g * g, 5e-4) << i;
    }
    EXPECT_NEAR(fx.GetGain(), target, 1e-6);
    EXPECT_NEAR(fx.GetGainReduction(), 1.0 - target * target, 1e-5);

    // Quiet again: the peak is held and released on alternate frames, and each release
    // aims the step at 1 from where the gain is, so the gain approaches 1 smoothly.
    Stereo quiet(10000, 0.1f), out2(10000);
    fx.RenderStereo(quiet.L(), quiet.R(), out2.L(), out2.R(), 10000);
    double g = target, step = 0.0;
    for (long i = 0; i < 10000; ++i)
    {
        if (i % 2 == 0) step = (1.0 - g) / release;
        g = std::min(1.0, g + step);
        ASSERT_NEAR(out2.left[static_cast<size_t>(i)], 0.1 * g * g, 1e-4) << i;
    }
    EXPECT_GT(fx.GetGain(), 0.9f);
    // The reading keeps its largest value.
    EXPECT_NEAR(fx.GetGainReduction(), 1.0 - target * target, 1e-5);
}

TEST(InsertCompEffect, HoldTimeDoesNotAct)
{
    CompEffect a, b;
    a.enabled = 1.0f;
    b.enabled = 1.0f;
    a.holdTime = 0.0f;
    b.holdTime = 0.05f;
    Stereo in(6000), outA(6000), outB(6000);
    for (long i = 0; i < in.size(); ++i)
    {
        float const env = (i / 1500) % 2 == 0 ? 1.0f : 0.2f;
        in.left[static_cast<size_t>(i)] = env * std::sin(0.01f * static_cast<float>(i));
        in.right[static_cast<size_t>(i)] = in.left[static_cast<size_t>(i)];
    }
    a.RenderStereo(in.L(), in.R(), outA.L(), outA.R(), in.size());
    b.RenderStereo(in.L(), in.R(), outB.L(), outB.R(), in.size());
    EXPECT_EQ(outA.left, outB.left);
}

// ---------------------------------------------------------------------------
// Distortion

namespace
{
// The shaper curve, with its separate bends for the two signs, in double.
double Shape(double x, double crunch)
{
    double const h = 1.0 - std::pow(1.0 - 0.8 * crunch, 8.0);
    double const cPos = 1.0 - 1.0 / (0.5 * h + 0.5);
    double const cNeg = 1.0 - 1.0 / (0.95 * (0.5 * h + 0.5));
    if (x >= 0.0) return x / ((x - 1.0) * cPos + x);
    double const a = -x;
    return -(a / ((a - 1.0) * cNeg + a));
}

double OutGain(double output, double crunch)
{
    double const h = 1.0 - std::pow(1.0 - 0.8 * crunch, 8.0);
    return output * (1.05 - h) * 15.0;
}

// The effect's path rebuilt from separate converters and the curve in double: up to 176400
// (a quarter of the level), shaped and scaled, down to 44100.
class ReferenceDistortion
{
public:
    ReferenceDistortion(double drive, double crunch, double output, float highCut)
        : drive(drive), crunch(crunch), gain(OutGain(output, crunch))
    {
        up.InitConversion(44100, 176400, 0.45f, 0.45f * highCut);
        down.InitConversion(176400, 44100, 0.45f, 0.45f * highCut);
        bufL.resize(4 * 8192);
        bufR.resize(4 * 8192);
    }

    void Render(float* inL, float* inR, float* outL, float* outR, long n)
    {
        long const m = up.Convert(inL, inR, bufL.data(), bufR.data(), n);
        for (long i = 0; i < m; ++i)
        {
            bufL[static_cast<size_t>(i)] =
                static_cast<float>(Shape(drive * bufL[static_cast<size_t>(i)], crunch) * gain);
            bufR[static_cast<size_t>(i)] =
                static_cast<float>(Shape(drive * bufR[static_cast<size_t>(i)], crunch) * gain);
        }
        down.Convert(bufL.data(), bufR.data(), outL, outR, m);
    }

private:
    double drive, crunch, gain;
    SampleRateConverter up, down;
    std::vector<float> bufL, bufR;
};

Stereo TestSignal(long n, float level, float offset)
{
    Stereo s(n);
    for (long i = 0; i < n; ++i)
    {
        s.left[static_cast<size_t>(i)] = offset + level * std::sin(0.031f * static_cast<float>(i));
        s.right[static_cast<size_t>(i)] = -offset + level * std::cos(0.017f * static_cast<float>(i));
    }
    return s;
}
} // namespace

TEST(InsertDistortionEffect, ShapesThroughTheConverters)
{
    struct Case
    {
        float crunch, drive, output, highCut, level;
    };
    for (Case c : {Case{0.0f, 1.0f, 1.0f, 1.0f, 0.5f}, Case{0.5f, 1.0f, 1.0f, 1.0f, 0.9f},
                   Case{0.5f, 3.0f, 0.4f, 0.3f, 0.8f}, Case{1.0f, 1.5f, 0.7f, 1.0f, 1.0f},
                   Case{0.2f, 2.0f, 1.0f, 0.05f, 0.6f}})
    {
        DistortionEffect fx;
        fx.enabled = 1.0f;
        fx.crunch = c.crunch;
        fx.drive = c.drive;
        fx.output = c.output;
        fx.highCut = c.highCut;
        ReferenceDistortion reference(c.drive, c.crunch, c.output, c.highCut);
        // The low-cut converter filters turn the rounding differences between the float and the
        // double curve into a few parts in 10^4 at their lowest cutoffs.
        for (int block = 0; block < 3; ++block)
        {
            Stereo in = TestSignal(3000, c.level, 0.1f), copy = in, out(3000), expected(3000);
            fx.RenderStereo(in.L(), in.R(), out.L(), out.R(), in.size());
            reference.Render(copy.L(), copy.R(), expected.L(), expected.R(), copy.size());
            for (size_t i = 0; i < out.left.size(); ++i)
            {
                ASSERT_NEAR(out.left[i], expected.left[i], 3e-3 * (1.0 + std::fabs(expected.left[i])))
                    << "crunch " << c.crunch << " block " << block << " frame " << i;
                ASSERT_NEAR(out.right[i], expected.right[i], 3e-3 * (1.0 + std::fabs(expected.right[i])))
                    << "crunch " << c.crunch << " block " << block << " frame " << i;
            }
        }
    }
}

// Without crunch the positive half of the curve is a straight line and the negative half bends.
TEST(InsertDistortionEffect, NoCrunchLeavesThePositiveHalfStraight)
{
    auto render = [](float scale)
    {
        DistortionEffect fx;
        fx.enabled = 1.0f;
        fx.crunch = 0.0f;
        Stereo in(4000), out(4000);
        for (long i = 0; i < in.size(); ++i)
        {
            // A slow, positive wave on the left and its negative on the right: after the
            // up-converter both keep their sign.
            float const v = scale * (0.6f + 0.3f * std::sin(0.002f * static_cast<float>(i)));
            in.left[static_cast<size_t>(i)] = v;
            in.right[static_cast<size_t>(i)] = -v;
        }
        fx.RenderStereo(in.L(), in.R(), out.L(), out.R(), in.size());
        return out;
    };
    Stereo one = render(1.0f), two = render(2.0f);
    double bendRatio = 0.0;
    for (size_t i = 2000; i < one.left.size(); ++i)
    {
        ASSERT_NEAR(two.left[i], 2.0f * one.left[i], 1e-4 * std::fabs(one.left[i])) << i;
        bendRatio =
            std::max(bendRatio, static_cast<double>(std::fabs(two.right[i] / (2.0f * one.right[i]) - 1.0f)));
    }
    EXPECT_GT(bendRatio, 0.01);
}

TEST(InsertDistortionEffect, EveryFrameWrittenInBlocksOfAnyLength)
{
    for (long n : {1L, 100L, 8192L, 8193L, 20000L})
    {
        DistortionEffect fx;
        fx.enabled = 1.0f;
        Stereo in(n), out(n, std::numeric_limits<float>::quiet_NaN());
        for (long i = 0; i < n; ++i)
        {
            in.left[static_cast<size_t>(i)] = 0.5f * std::sin(0.02f * static_cast<float>(i));
            in.right[static_cast<size_t>(i)] = 0.5f * std::cos(0.03f * static_cast<float>(i));
        }
        fx.RenderStereo(in.L(), in.R(), out.L(), out.R(), n);
        for (long i = 0; i < n; ++i)
        {
            ASSERT_TRUE(std::isfinite(out.left[static_cast<size_t>(i)])) << n << " " << i;
            ASSERT_TRUE(std::isfinite(out.right[static_cast<size_t>(i)])) << n << " " << i;
        }
    }
    // A long block in one call gives what the same signal gives in short blocks.
    DistortionEffect whole, pieces;
    whole.enabled = 1.0f;
    pieces.enabled = 1.0f;
    long const n = 20000;
    Stereo in(n), a(n), b(n);
    for (long i = 0; i < n; ++i)
        in.left[static_cast<size_t>(i)] = in.right[static_cast<size_t>(i)] = 0.7f * std::sin(0.01f * i);
    whole.RenderStereo(in.L(), in.R(), a.L(), a.R(), n);
    for (long off = 0; off < n; off += 8192)
    {
        long const m = std::min(8192L, n - off);
        pieces.RenderStereo(in.L() + off, in.R() + off, b.L() + off, b.R() + off, m);
    }
    EXPECT_EQ(a.left, b.left);
}

TEST(InsertDistortionEffect, HotInputStaysFinite)
{
    // Almost no crunch bends the negative half towards a pole; loud input must not reach it.
    DistortionEffect fx;
    fx.enabled = 1.0f;
    fx.crunch = 0.0f;
    fx.drive = 3.0f;
    Stereo in(4096), out(4096);
    for (long i = 0; i < in.size(); ++i)
        in.left[static_cast<size_t>(i)] = in.right[static_cast<size_t>(i)] =
            40.0f * std::sin(0.05f * i) - 20.0f;
    for (int block = 0; block < 3; ++block)
    {
        fx.RenderStereo(in.L(), in.R(), out.L(), out.R(), in.size());
        for (float v : out.left)
            ASSERT_TRUE(std::isfinite(v));
    }
}

TEST(InsertDistortionEffect, HighCutChangeTakesEffect)
{
    DistortionEffect bright, dark;
    bright.enabled = 1.0f;
    dark.enabled = 1.0f;
    dark.highCut = 0.05f;
    bright.crunch = dark.crunch = 0.0f;
    // A 6 kHz tone: far above a cutoff of 44100 x 0.45 x 0.45 x 0.05 Hz, well below 44100 x 0.45 x 0.45.
    long const n = 8192;
    Stereo in(n), a(n), b(n);
    for (long i = 0; i < n; ++i)
        in.left[static_cast<size_t>(i)] = in.right[static_cast<size_t>(i)] =
            0.4f * static_cast<float>(std::sin(2.0 * 3.14159265358979 * 6000.0 * i / 44100.0));
    for (int block = 0; block < 3; ++block)
    {
        bright.RenderStereo(in.L(), in.R(), a.L(), a.R(), n);
        dark.RenderStereo(in.L(), in.R(), b.L(), b.R(), n);
    }
    double ea = 0.0, eb = 0.0;
    for (long i = n / 2; i < n; ++i)
    {
        ea += a.left[static_cast<size_t>(i)] * a.left[static_cast<size_t>(i)];
        eb += b.left[static_cast<size_t>(i)] * b.left[static_cast<size_t>(i)];
    }
    EXPECT_GT(ea, 100.0 * eb);
}

// ---------------------------------------------------------------------------
// Chorus

TEST(InsertChorusEffect, KeysDefaultsAndTheSharedKey)
{
    ChorusEffect fx;
    EXPECT_EQ(InternalKeys(fx), (std::vector<std::string>{"BYPASS", "CHORUS_ENABLED", "CHORUS_RATE",
                                                          "CHORUS_DEPTH", "CHORUS_MIX", "CHORUS_MIX"}));
    EXPECT_FLOAT_EQ(fx.rate, 0.2f);
    EXPECT_FLOAT_EQ(fx.depth, 0.2f);
    EXPECT_FLOAT_EQ(fx.mix, 0.2f);
    EXPECT_FLOAT_EQ(fx.stereoOffset, 0.0f);
    // A search by key finds the mix only.
    EXPECT_EQ(fx.FindInternalParameter("CHORUS_MIX", false), &fx.mix);
    EXPECT_FLOAT_EQ(fx.GetBasePosition(), 3000.0f);
    EXPECT_FLOAT_EQ(fx.GetLeftTapPosition(), 3000.0f);
    ExpectCopiesWhenOff(fx);
}

namespace
{
// Renders silence with an impulse at `at`; returns the frames after it at which the left
// output differs from its input.
std::vector<long> EchoesAfterImpulse(ChorusEffect& fx, long at, long span)
{
    Stereo in(span), out(span);
    in.left[static_cast<size_t>(at)] = 1.0f;
    in.right[static_cast<size_t>(at)] = -1.0f;
    fx.RenderStereo(in.L(), in.R(), out.L(), out.R(), span);
    std::vector<long> echoes;
    for (long i = 0; i < span; ++i)
    {
        float const wet = out.left[static_cast<size_t>(i)] - in.left[static_cast<size_t>(i)];
        if (wet != 0.0f)
        {
            EXPECT_FLOAT_EQ(wet, 0.5f * fx.mix);
            EXPECT_FLOAT_EQ(out.right[static_cast<size_t>(i)] - in.right[static_cast<size_t>(i)],
                            -0.5f * fx.mix);
            echoes.push_back(i - at);
        }
    }
    return echoes;
}
} // namespace

TEST(InsertChorusEffect, DepthZeroIsAFixedDelayOf2000)
{
    ChorusEffect fx;
    fx.enabled = 1.0f;
    fx.depth = 0.0f;
    fx.mix = 0.6f;
    EXPECT_EQ(EchoesAfterImpulse(fx, 10, 4000), (std::vector<long>{2000}));
}

TEST(InsertChorusEffect, DelayStaysAfterTenMillionSamples)
{
    ChorusEffect fx;
    fx.enabled = 1.0f;
    fx.depth = 0.0f;
    fx.rate = 1.0f;
    fx.mix = 0.5f;
    Stereo block(8192);
    long done = 0;
    while (done < 10000000)
    {
        long const n = std::min(8192L, 10000000 - done);
        fx.RenderStereo(block.L(), block.R(), block.L(), block.R(), n);
        done += n;
        ASSERT_GE(fx.GetPhase(), 0.0f);
        ASSERT_LT(fx.GetPhase(), 360.0f);
        ASSERT_GE(fx.GetBasePosition(), 0.0f);
        ASSERT_LT(fx.GetBasePosition(), 5000.0f);
    }
    // The read position still trails the write position by 2000.
    EXPECT_EQ((static_cast<long>(fx.GetWritePosition()) - static_cast<long>(fx.GetBasePosition()) + 5000) %
                  5000,
              2000);
    fx.FlushBuffers();
    EXPECT_EQ(EchoesAfterImpulse(fx, 100, 4000), (std::vector<long>{2000}));
}

// A ramp written into the line reads back as its own position under linear interpolation, so
// the wet part gives the tap's delay: 2000 - DEPTH x 100 x cos(phase).
TEST(InsertChorusEffect, TapSwingsWithTheCosineLfo)
{
    ChorusEffect fx;
    fx.enabled = 1.0f;
    fx.depth = 1.0f;
    fx.rate = 1.0f;
    fx.mix = 1.0f;
    fx.stereoOffset = 1.0f;
    long const n = 4900;
    Stereo in(n), out(n);
    for (long i = 0; i < n; ++i)
        in.left[static_cast<size_t>(i)] = in.right[static_cast<size_t>(i)] = static_cast<float>(i);
    fx.RenderStereo(in.L(), in.R(), out.L(), out.R(), n);
    for (long t = 2200; t < n; ++t)
    {
        double const phase = (t - 1) * 0.05 * 3.14159265358979 / 180.0;
        double const readL = (out.left[static_cast<size_t>(t)] - in.left[static_cast<size_t>(t)]) / 0.5;
        double const readR = (out.right[static_cast<size_t>(t)] - in.right[static_cast<size_t>(t)]) / 0.5;
        ASSERT_NEAR(t - readL, 2000.0 - 100.0 * std::cos(phase), 0.02) << t;
        ASSERT_NEAR(t - readR, 2000.0 - 100.0 * std::cos(phase + 1.5707963), 0.02) << t;
    }
}

TEST(InsertChorusEffect, PositionsStayInsideTheLine)
{
    ChorusEffect fx;
    fx.enabled = 1.0f;
    fx.depth = 1.0f;
    fx.rate = 1.0f;
    fx.stereoOffset = 0.7f;
    Stereo block(777, 0.25f);
    for (int b = 0; b < 200; ++b)
    {
        fx.RenderStereo(block.L(), block.R(), block.L(), block.R(), block.size());
        ASSERT_GE(fx.GetLeftTapPosition(), 0.0f);
        ASSERT_LT(fx.GetLeftTapPosition(), 5000.0f);
        ASSERT_GE(fx.GetRightTapPosition(), 0.0f);
        ASSERT_LT(fx.GetRightTapPosition(), 5000.0f);
        for (float v : block.left)
            ASSERT_TRUE(std::isfinite(v));
        block.left.assign(block.left.size(), 0.25f);
        block.right.assign(block.right.size(), 0.25f);
    }
}

#include "dsp/DistortionEffect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "DSPTestSupport.h"
#include "framework/Random.h"

namespace
{
std::vector<float> Noise(long n, std::uint32_t seed, float amp = 1.0f)
{
    Random rng(seed);
    std::vector<float> x(static_cast<size_t>(n));
    for (float& v : x)
        v = amp * rng.NextSignedFloat();
    return x;
}

// A continuous sine cut into blocks: block b of length n.
std::vector<float> SineBlock(long b, long n, double freq, double amp)
{
    std::vector<float> x(static_cast<size_t>(n));
    for (long i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] = static_cast<float>(
            amp * std::sin(2.0 * dsptest::kPi * freq * static_cast<double>(b * n + i) / 44100.0));
    return x;
}

// The chain in double precision: zero-stuffing by 6, the cookbook low-pass at 264600 Hz, the
// shaper, the second low-pass, every sixth sample.
class ReferenceChain
{
public:
    ReferenceChain(double crunch, double drive, double output, double downCutoff)
    {
        Design(up, 19845.0);
        Design(down, downCutoff);
        q = 1.0 - std::pow(1.0 - 0.8 * crunch, 8.0);
        a = -1.0 / (0.5 + 0.5 * q);
        b = 1.0 + 1.0 / (-0.95 * (0.5 + 0.5 * q));
        d = drive;
        g = 3.75 * output * (1.05 - q);
    }

    std::vector<double> Process(std::vector<float> const& in)
    {
        std::vector<double> out;
        for (float s : in)
        {
            for (int k = 0; k < 6; ++k)
            {
                double v = Filter(up, k == 0 ? static_cast<double>(s) : 0.0);
                v = Shape(v * d);
                v = Filter(down, v * g);
                if (k == 0) out.push_back(v);
            }
        }
        return out;
    }

private:
    struct Biquad
    {
        double b0, b1, b2, a1, a2, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    };

    static void Design(Biquad& f, double f0)
    {
        const double w0 = 2.0 * dsptest::kPi * f0 / 264600.0;
        const double alpha = std::sin(w0) / (2.0 * static_cast<double>(0.96f));
        const double a0 = 1.0 + alpha;
        f.b0 = (1.0 - std::cos(w0)) / 2.0 / a0;
        f.b1 = (1.0 - std::cos(w0)) / a0;
        f.b2 = f.b0;
        f.a1 = -2.0 * std::cos(w0) / a0;
        f.a2 = (1.0 - alpha) / a0;
    }

    static double Filter(Biquad& f, double x)
    {
        const double y = f.b0 * x + f.b1 * f.x1 + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
        f.x2 = f.x1;
        f.x1 = x;
        f.y2 = f.y1;
        f.y1 = y;
        return y;
    }

    double Shape(double x) const
    {
        if (x >= 0.0) return x / ((x - 1.0) * (1.0 + a) + x);
        const double X = -x;
        return -(X / ((X - 1.0) * b + X));
    }

    Biquad up, down;
    double q, a, b, d, g;
};

struct Blocks
{
    std::vector<float> left, right;
};

void Render(TDistortionEffect& e, std::vector<float> inL, std::vector<float> inR, Blocks& out)
{
    out.left.assign(inL.size(), 0.0f);
    out.right.assign(inR.size(), 0.0f);
    e.RenderStereo(inL.data(), inR.data(), out.left.data(), out.right.data(), static_cast<long>(inL.size()));
}
} // namespace

TEST(DistortionEffect, ConstructedState)
{
    TDistortionEffect e;
    ASSERT_EQ(e.GetNumInternalParameters(false), 6);
    const char* names[] = {"BYPASS",
                           "DISTORTION_ENABLED",
                           "DISTORTION_DRIVE",
                           "DISTORTION_CRUNCH",
                           "DISTORTION_OUTPUT",
                           "DISTORTION_HIGHCUT"};
    for (long i = 0; i < 6; ++i)
        EXPECT_STREQ(e.FindInternalParameter(i)->GetName(), names[i]);
    EXPECT_FALSE(e.enabled.GetBool());
    EXPECT_EQ(static_cast<float>(e.drive), 1.0f);
    EXPECT_EQ(static_cast<float>(e.crunch), 0.5f);
    EXPECT_EQ(static_cast<float>(e.output), 1.0f);
    EXPECT_EQ(static_cast<float>(e.highCut), 1.0f);
    EXPECT_EQ(e.drive.GetMinValue(), 0.1f);
    EXPECT_EQ(e.drive.GetMaxValue(), 3.0f);
    EXPECT_EQ(e.output.GetMinValue(), 0.1f);
    EXPECT_EQ(e.highCut.GetMinValue(), 0.05f);
    EXPECT_EQ(e.highCut.GetCurveType(), Parameter::CubeLaw);
    EXPECT_EQ(e.GetComponentName()[0], '\0');

    e.enabled.SetBool(true);
    e.drive = 2.0f;
    e.Reset();
    EXPECT_FALSE(e.enabled.GetBool());
    EXPECT_EQ(static_cast<float>(e.drive), 1.0f);
}

TEST(DistortionEffect, DisabledIsABitExactBypass)
{
    TDistortionEffect e;
    std::vector<float> inL = Noise(9000, 1, 3.0f), inR = Noise(9000, 2, 3.0f);
    inL[5] = -1e30f;
    std::vector<float> outL(9000, 7.0f), outR(9000, 7.0f);
    e.RenderStereo(inL.data(), inR.data(), outL.data(), outR.data(), 9000);
    EXPECT_EQ(outL, inL);
    EXPECT_EQ(outR, inR);
    std::vector<float> l = inL, r = inR;
    e.RenderStereo(l.data(), r.data(), l.data(), r.data(), 9000);
    EXPECT_EQ(l, inL);
    EXPECT_EQ(r, inR);
}

TEST(DistortionEffect, ShaperCurves)
{
    const TDistortionEffect::Shaper soft(0.0f, 1.0f, 1.0f);
    EXPECT_EQ(soft.q, 0.0f);
    EXPECT_EQ(soft.a, -2.0f);
    EXPECT_FLOAT_EQ(soft.b, 1.0f - 1.0f / 0.475f);
    EXPECT_FLOAT_EQ(soft.g, 3.75f * 1.05f);

    const TDistortionEffect::Shaper hard(1.0f, 1.0f, 0.5f);
    EXPECT_FLOAT_EQ(hard.q, 1.0f - std::pow(0.2f, 8.0f));
    EXPECT_FLOAT_EQ(hard.g, 3.75f * 0.5f * (1.05f - hard.q));

    // Both halves pass through 0 and reach +-1 at +-1 (before the output gain).
    for (float c : {0.0f, 0.3f, 0.5f, 0.9f, 1.0f})
    {
        const TDistortionEffect::Shaper s(c, 1.0f, 1.0f);
        EXPECT_FLOAT_EQ(s.Shape(1.0f), s.g) << c;
        EXPECT_FLOAT_EQ(s.Shape(-1.0f), -s.g) << c;
        EXPECT_LT(std::fabs(s.Shape(0.0f)), 1e-10f) << c;
    }
    // Drive scales the input.
    const TDistortionEffect::Shaper driven(0.5f, 2.0f, 1.0f);
    EXPECT_FLOAT_EQ(driven.Shape(0.5f), driven.g);
}

TEST(DistortionEffect, NegativeCurveIsHeldBelowItsPole)
{
    for (float c : {0.0f, 0.004f, 0.008f})
    {
        const TDistortionEffect::Shaper s(c, 3.0f, 1.0f);
        ASSERT_LT(1.0f + s.b, 0.0f) << "crunch " << c << " has a pole";
        const float pole = s.b / (1.0f + s.b);
        float previous = 0.0f;
        for (double x = 1e-3; x < 1e35; x *= 1.25)
        {
            const float y = s.Shape(static_cast<float>(-x));
            ASSERT_TRUE(std::isfinite(y)) << x;
            ASSERT_LE(y, previous) << "monotonic at " << x;
            previous = y;
        }
        // Below the limit the shaper's curve is untouched.
        const float X = 0.25f * pole;
        EXPECT_FLOAT_EQ(s.Shape(-X / 3.0f), -(X / ((X - 1.0f) * s.b + X)) * s.g);
    }
    // Above that crunch there is no pole and no limit.
    const TDistortionEffect::Shaper s(0.01f, 1.0f, 1.0f);
    EXPECT_GE(1.0f + s.b, 0.0f);
    EXPECT_TRUE(std::isfinite(s.Shape(-1e30f)));
    EXPECT_TRUE(std::isfinite(s.Shape(std::numeric_limits<float>::quiet_NaN())));
    EXPECT_EQ(s.Shape(std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

TEST(DistortionEffect, SmallSinePeaksFollowTheSlopesAtZero)
{
    // Crunch 0.5: q = 1 - 0.6^8. Small signals see the slopes of the two curves at 0:
    // (1 + q) / (1 - q) above and 1 / -b below, times the output gain, over the factor 6 of
    // the zero-stuffing. Around each peak the shaper is linear, so the images that pass the
    // up filter fold back onto the sine after the down filter: the level of the whole chain
    // is |sum over k of H(f + 44100 k)^2| / 6 with H the converters' low-pass.
    TDistortionEffect e;
    e.enabled.SetBool(true);
    const double amp = 1e-5;
    Blocks out;
    for (long b = 0; b < 40; ++b)
        Render(e, SineBlock(b, 512, 100.0, amp), SineBlock(b, 512, 100.0, amp), out);
    float hi = -1.0f, lo = 1.0f;
    for (float v : out.left)
    {
        hi = std::max(hi, v);
        lo = std::min(lo, v);
    }
    const double q = 1.0 - std::pow(0.6, 8.0);
    const double g = 3.75 * (1.05 - q);
    const double b = 1.0 + 1.0 / (-0.95 * (0.5 + 0.5 * q));
    std::complex<double> sum = 0.0;
    for (int k = 0; k < 6; ++k)
    {
        const std::complex<double> h =
            dsptest::AnalyticResponse(0, 19845.0, 264600.0, 0.96, 0.0, 100.0 + 44100.0 * k);
        sum += h * h;
    }
    const double chain = std::abs(sum) / 6.0;
    EXPECT_GT(chain, 1.03 / 6.0);
    const double wantHi = amp * g * (1.0 + q) / (1.0 - q) * chain;
    const double wantLo = -amp * g / -b * chain;
    EXPECT_NEAR(hi, wantHi, 0.005 * wantHi);
    EXPECT_NEAR(lo, wantLo, 0.005 * -wantLo);
    EXPECT_EQ(out.left, out.right);
}

TEST(DistortionEffect, MatchesAnIndependentChainInDouble)
{
    for (float crunch : {0.0f, 0.2f, 0.7f})
    {
        TDistortionEffect e;
        e.enabled.SetBool(true);
        e.crunch = crunch;
        e.drive = 1.7f;
        e.output = 0.6f;
        e.highCut = 0.5f;
        ReferenceChain ref(crunch, 1.7f, 0.6f, 44100.0 * static_cast<double>(0.45f * 0.5f));
        Blocks out;
        double worst = 0.0, peak = 0.0;
        for (long b = 0; b < 30; ++b)
        {
            std::vector<float> in = SineBlock(b, 512, 330.0, 0.4);
            Render(e, in, in, out);
            std::vector<double> want = ref.Process(in);
            if (b < 10) continue; // the converters' cutoff glide and start-up
            for (size_t i = 0; i < want.size(); ++i)
            {
                worst = std::max(worst, std::fabs(out.left[i] - want[i]));
                peak = std::max(peak, std::fabs(want[i]));
            }
        }
        EXPECT_GT(peak, 0.05) << crunch;
        EXPECT_LT(worst, 2e-3 * peak) << crunch;
    }
}

TEST(DistortionEffect, HugeNegativeInputAtCrunchZeroStaysFinite)
{
    TDistortionEffect e;
    e.enabled.SetBool(true);
    e.crunch = 0.0f;
    e.drive = 3.0f;
    Blocks out;
    for (float v :
         {-20.0f, -1e6f, -1e30f, -std::numeric_limits<float>::max(), std::numeric_limits<float>::max()})
    {
        std::vector<float> in(512, v);
        for (int b = 0; b < 4; ++b)
        {
            Render(e, in, in, out);
            ASSERT_TRUE(dsptest::AllFinite(out.left.data(), 512)) << v;
            ASSERT_TRUE(dsptest::AllFinite(out.right.data(), 512)) << v;
        }
    }
    // Afterwards an ordinary signal gives what a fresh effect gives.
    TDistortionEffect fresh;
    fresh.enabled.SetBool(true);
    fresh.crunch = 0.0f;
    fresh.drive = 3.0f;
    Blocks want;
    for (long b = 0; b < 12; ++b)
    {
        std::vector<float> in = SineBlock(b, 512, 440.0, 0.5);
        Render(e, in, in, out);
        Render(fresh, in, in, want);
    }
    for (size_t i = 0; i < 512; ++i)
        ASSERT_NEAR(out.left[i], want.left[i], 1e-4f);
}

TEST(DistortionEffect, NonFiniteInputRecovers)
{
    TDistortionEffect e;
    e.enabled.SetBool(true);
    Blocks out;
    std::vector<float> bad(512, 0.1f);
    bad[17] = std::numeric_limits<float>::quiet_NaN();
    bad[18] = std::numeric_limits<float>::infinity();
    Render(e, bad, bad, out);
    EXPECT_TRUE(dsptest::AllFinite(out.left.data(), 512));
    for (long b = 0; b < 4; ++b)
    {
        Render(e, SineBlock(b, 512, 200.0, 0.3), SineBlock(b, 512, 200.0, 0.3), out);
        ASSERT_TRUE(dsptest::AllFinite(out.left.data(), 512));
    }
    EXPECT_GT(dsptest::PeakAbs(out.left.data(), 512), 0.1f);
}

TEST(DistortionEffect, HighCutTakesEffectAtTheNextRender)
{
    TDistortionEffect e;
    e.enabled.SetBool(true);
    Blocks out;
    Render(e, Noise(64, 3), Noise(64, 4), out);
    EXPECT_EQ(e.GetUpConverter().GetMode(), SampleRateConverter::Up);
    EXPECT_EQ(e.GetDownConverter().GetMode(), SampleRateConverter::Down);
    EXPECT_EQ(e.GetUpConverter().GetSampleRate(), 264600.0f);
    EXPECT_FLOAT_EQ(e.GetUpConverter().GetTargetCutoff(), 19845.0f);
    EXPECT_FLOAT_EQ(e.GetDownConverter().GetTargetCutoff(), 19845.0f);

    e.highCut = 0.2f;
    EXPECT_FLOAT_EQ(e.GetDownConverter().GetTargetCutoff(), 19845.0f);
    Render(e, Noise(64, 5), Noise(64, 6), out);
    EXPECT_FLOAT_EQ(e.GetDownConverter().GetTargetCutoff(), 44100.0f * (0.45f * 0.2f));
    EXPECT_FLOAT_EQ(e.GetUpConverter().GetTargetCutoff(), 19845.0f);
}

TEST(DistortionEffect, SilenceInSilenceOutAndOutputIsWritten)
{
    TDistortionEffect e;
    e.enabled.SetBool(true);
    std::vector<float> zero(2048, 0.0f);
    std::vector<float> outL(2048, 5.0f), outR(2048, 5.0f);
    for (int b = 0; b < 3; ++b)
        e.RenderStereo(zero.data(), zero.data(), outL.data(), outR.data(), 2048);
    EXPECT_LT(dsptest::PeakAbs(outL.data(), 2048), 1e-9f);
    EXPECT_LT(dsptest::PeakAbs(outR.data(), 2048), 1e-9f);
}

TEST(DistortionEffect, LongBlocksAreProcessedInPieces)
{
    TDistortionEffect a, b;
    a.enabled.SetBool(true);
    b.enabled.SetBool(true);
    Blocks scratch;
    for (long k = 0; k < 10; ++k)
    {
        std::vector<float> in = SineBlock(k, 512, 250.0, 0.5);
        Render(a, in, in, scratch);
        Render(b, in, in, scratch);
    }
    const long n = 20000;
    std::vector<float> inL = Noise(n, 7, 0.8f), inR = Noise(n, 8, 0.8f);
    Blocks whole;
    Render(a, inL, inR, whole);
    std::vector<float> outL(static_cast<size_t>(n)), outR(static_cast<size_t>(n));
    for (long pos = 0; pos < n; pos += 8192)
    {
        const long len = std::min(8192L, n - pos);
        b.RenderStereo(inL.data() + pos, inR.data() + pos, outL.data() + pos, outR.data() + pos, len);
    }
    EXPECT_EQ(whole.left, outL);
    EXPECT_EQ(whole.right, outR);

    // In place works too.
    std::vector<float> l = inL, r = inR;
    TDistortionEffect c;
    c.enabled.SetBool(true);
    c.RenderStereo(l.data(), r.data(), l.data(), r.data(), n);
    EXPECT_TRUE(dsptest::AllFinite(l.data(), n));
}

#include "dsp/StereoFilter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "DSPTestSupport.h"
#include "framework/Random.h"
#include "framework/Streams.h"
#include "framework/String.h"

using dsptest::AnalyticMagnitude;
using dsptest::BiquadMagnitude;

namespace
{
std::vector<float> Noise(long n, std::uint32_t seed)
{
    Random rng(seed);
    std::vector<float> x(static_cast<size_t>(n));
    for (float& v : x)
        v = rng.NextSignedFloat();
    return x;
}

double StoredMagnitude(FlexiFilter const& f, double freq, double rate)
{
    return BiquadMagnitude(f.b0, f.b1, f.b2, f.a1, f.a2, freq, rate);
}

void ExpectSameCoefficients(FlexiFilter const& a, FlexiFilter const& b)
{
    EXPECT_EQ(a.b0, b.b0);
    EXPECT_EQ(a.b1, b.b1);
    EXPECT_EQ(a.b2, b.b2);
    EXPECT_EQ(a.a1, b.a1);
    EXPECT_EQ(a.a2, b.a2);
}

FlexiFilter Designed(int type, double freq, double rate, double q)
{
    FlexiFilter f;
    f.InitFilter(type, freq, rate, q, 1.0, false);
    return f;
}

struct Counter : ParamUpdateListener
{
    int calls = 0;
    float last = 0.0f;
    void ParameterUpdated(float value, Parameter*) override
    {
        ++calls;
        last = value;
    }
};

// An enabled filter whose coefficients already sit at `cutoff` (a short block jumps there).
void Settle(StereoFilter& f, float cutoff)
{
    f.enabled.SetBool(true);
    f.cutoff = cutoff;
    float l[32] = {}, r[32] = {};
    f.RenderStereo(l, r, l, r, 32);
    f.Flush();
}
} // namespace

// Biquad design

TEST(FlexiFilter, EveryTypeMatchesTheAnalyticResponse)
{
    const double rate = 48000.0;
    struct Setting
    {
        double f0, q, gain;
    };
    const Setting settings[] = {
        {1000.0, 0.7071, 6.0}, {250.0, 2.5, -9.0}, {6000.0, 6.0, 12.0}, {15000.0, 0.96, 3.0}};
    for (int type = 0; type <= 8; ++type)
    {
        for (Setting const& s : settings)
        {
            FlexiFilter f;
            f.InitFilter(type, s.f0, rate, s.q, s.gain, false);
            for (int k = 0; k <= 80; ++k)
            {
                const double freq = 20.0 * std::pow(23000.0 / 20.0, k / 80.0);
                const double want = AnalyticMagnitude(type, s.f0, rate, s.q, s.gain, freq);
                const double got = StoredMagnitude(f, freq, rate);
                ASSERT_NEAR(got, want, 1e-4 + 1e-3 * want)
                    << "type " << type << " f0 " << s.f0 << " q " << s.q << " at " << freq << " Hz";
            }
        }
    }
}

TEST(FlexiFilter, BandwidthInOctavesActsAsTheEquivalentQ)
{
    const double rate = 44100.0;
    for (int type = 0; type <= 6; ++type)
    {
        for (double f0 : {500.0, 3000.0})
        {
            for (double bw : {0.5, 1.0, 2.0})
            {
                FlexiFilter f;
                f.InitFilter(type, f0, rate, bw, -6.0, true);
                const double w0 = 2.0 * dsptest::kPi * f0 / rate;
                const double q = 1.0 / (2.0 * std::sinh(std::log(2.0) / 2.0 * bw * w0 / std::sin(w0)));
                for (double freq : {100.0, 400.0, f0, 2500.0, 9000.0})
                {
                    const double want = AnalyticMagnitude(type, f0, rate, q, -6.0, freq);
                    ASSERT_NEAR(StoredMagnitude(f, freq, rate), want, 1e-4 + 1e-3 * want)
                        << "type " << type << " bw " << bw;
                }
            }
        }
    }
}

TEST(FlexiFilter, ShelvesReadTheArgumentAsQEvenInBandwidthMode)
{
    for (int type : {7, 8})
    {
        FlexiFilter a, b;
        a.InitFilter(type, 1200.0, 44100.0, 0.8, 9.0, true);
        b.InitFilter(type, 1200.0, 44100.0, 0.8, 9.0, false);
        ExpectSameCoefficients(a, b);
    }
}

TEST(FlexiFilter, SteadyStateSineGainMatchesTheResponse)
{
    const double rate = 48000.0;
    for (int type : {0, 1, 2, 4})
    {
        for (double freq : {300.0, 1500.0, 2000.0, 4000.0, 11000.0})
        {
            FlexiFilter f = Designed(type, 2000.0, rate, 2.0);
            std::vector<float> x = dsptest::Sine(16384, freq, rate);
            f.DoFiltering(x.data(), x.data(), static_cast<int>(x.size()));
            // The last 8192 samples: the start-up transient has died away.
            const double got = dsptest::Amplitude(x.data() + 8192, 8192, freq, rate);
            const double want = AnalyticMagnitude(type, 2000.0, rate, 2.0, 0.0, freq);
            EXPECT_NEAR(got, want, 2e-4 + 2e-3 * want) << "type " << type << " at " << freq;
        }
    }
}

TEST(FlexiFilter, LowCutoffsLowerTheQ)
{
    const double rate = 44100.0;
    FlexiFilter adjusted;
    FlexiFilter plain;
    plain.adjustResonanceAtLowCutoffs = false;

    adjusted.InitFilter(0, 40.0, rate, 6.0, 1.0, false);
    plain.InitFilter(0, 40.0, rate, 1.5, 1.0, false);
    ExpectSameCoefficients(adjusted, plain);

    adjusted.InitFilter(0, 10.0, rate, 6.0, 1.0, false);
    plain.InitFilter(0, 10.0, rate, static_cast<double>(0.1f), 1.0, false);
    ExpectSameCoefficients(adjusted, plain);

    adjusted.InitFilter(0, 60.0, rate, 6.0, 1.0, false);
    plain.InitFilter(0, 60.0, rate, 3.375, 1.0, false);
    ExpectSameCoefficients(adjusted, plain);

    adjusted.InitFilter(0, 80.0, rate, 6.0, 1.0, false);
    plain.InitFilter(0, 80.0, rate, 6.0, 1.0, false);
    ExpectSameCoefficients(adjusted, plain);

    // Without the flag the Q stays.
    FlexiFilter off;
    off.adjustResonanceAtLowCutoffs = false;
    off.InitFilter(0, 40.0, rate, 6.0, 1.0, false);
    plain.InitFilter(0, 40.0, rate, 6.0, 1.0, false);
    ExpectSameCoefficients(off, plain);
}

TEST(FlexiFilter, NonsenseSettingsKeepThePreviousCoefficients)
{
    FlexiFilter f = Designed(0, 1000.0, 44100.0, 0.7);
    const FlexiFilter before = f;
    f.InitFilter(0, 1000.0, 0.0, 0.7, 1.0, false);
    ExpectSameCoefficients(f, before);
    f.InitFilter(3, 1000.0, 44100.0, 0.0, 1.0, false);
    ExpectSameCoefficients(f, before);

    // Unknown types pass the signal through.
    f.InitFilter(42, 1000.0, 44100.0, 0.7, 1.0, false);
    EXPECT_EQ(f.b0, 1.0f);
    EXPECT_EQ(f.b1, 0.0f);
    EXPECT_EQ(f.a2, 0.0f);
}

TEST(FlexiFilter, FilterSampleFollowsTheSameRecurrenceInPlace)
{
    FlexiFilter a = Designed(2, 900.0, 44100.0, 3.0);
    FlexiFilter b = a;
    std::vector<float> x = Noise(256, 7);
    std::vector<float> y(x.size());
    a.DoFiltering(x.data(), y.data(), 256);
    for (size_t i = 0; i < x.size(); ++i)
        ASSERT_NEAR(b.FilterSample(x[i]), y[i], 1e-6f);
    // In place gives the same as out of place.
    FlexiFilter c = Designed(2, 900.0, 44100.0, 3.0);
    c.DoFiltering(x.data(), x.data(), 256);
    EXPECT_EQ(x, y);
    // n <= 0 touches nothing.
    const float keep = x[0];
    c.DoFiltering(x.data(), x.data(), 0);
    c.DoFiltering(x.data(), x.data(), -5);
    EXPECT_EQ(x[0], keep);
}

// The stereo filter

TEST(StereoFilter, ConstructedState)
{
    StereoFilter f;
    ASSERT_EQ(f.GetNumGlobalParameters(false), 4);
    ASSERT_EQ(f.GetNumInternalParameters(false), 1);
    EXPECT_EQ(f.FindGlobalParameter(0L), &f.enabled);
    EXPECT_EQ(f.FindGlobalParameter(1L), &f.cutoff);
    EXPECT_EQ(f.FindGlobalParameter(2L), &f.resonance);
    EXPECT_EQ(f.FindGlobalParameter(3L), &f.type);
    EXPECT_STREQ(f.enabled.GetName(), "STEREOFILTER_ENABLED");
    EXPECT_STREQ(f.cutoff.GetName(), "STEREOFILTER_CUTOFF");
    EXPECT_STREQ(f.resonance.GetName(), "STEREOFILTER_RESONANCE");
    EXPECT_STREQ(f.type.GetName(), "STEREOFILTER_TYPE");
    EXPECT_STREQ(f.FindInternalParameter(0L)->GetName(), "BYPASS");

    EXPECT_EQ(static_cast<float>(f.enabled), 0.0f);
    EXPECT_EQ(static_cast<float>(f.cutoff), 30.0f);
    EXPECT_EQ(static_cast<float>(f.resonance), 20.0f);
    EXPECT_EQ(static_cast<float>(f.type), 0.0f);
    EXPECT_EQ(f.cutoff.GetMinValue(), 20.0f);
    EXPECT_EQ(f.cutoff.GetMaxValue(), 22000.0f);
    EXPECT_EQ(f.cutoff.GetCurveType(), Parameter::CubeLaw);
    EXPECT_TRUE(f.cutoff.GetModulationBypass());
    EXPECT_EQ(f.resonance.GetMinValue(), 0.01f);
    EXPECT_EQ(f.resonance.GetMaxValue(), 70.0f);
    EXPECT_TRUE(f.type.IsDiscrete());
    EXPECT_EQ(f.GetCurrentCutoff(), 30.0f);
    EXPECT_EQ(f.GetPreviousCutoff(), 30.0f);
    ExpectSameCoefficients(f.GetLeft(), Designed(0, 30.0, 44100.0, 6.0));
    ExpectSameCoefficients(f.GetRight(), f.GetLeft());
}

TEST(StereoFilter, ResonanceToQTable)
{
    EXPECT_EQ(StereoFilter::ResonanceToQ(20.0f), 6.0f);
    EXPECT_EQ(StereoFilter::ResonanceToQ(7.0f), 0.735f);
    EXPECT_FLOAT_EQ(StereoFilter::ResonanceToQ(8.0f), 0.96f);

    StereoFilter f;
    Settle(f, 1000.0f);
    ExpectSameCoefficients(f.GetLeft(), Designed(0, 1000.0, 44100.0, 6.0));
    f.resonance = 7.0f;
    float l[8] = {}, r[8] = {};
    f.RenderStereo(l, r, l, r, 8);
    ExpectSameCoefficients(f.GetLeft(), Designed(0, 1000.0, 44100.0, StereoFilter::ResonanceToQ(7.0f)));
}

TEST(StereoFilter, TypeParameterMapsToLowBandAndHighPass)
{
    EXPECT_EQ(StereoFilter::MapType(0.0f), FlexiFilter::LowPass);
    EXPECT_EQ(StereoFilter::MapType(1.0f), FlexiFilter::BandPass);
    EXPECT_EQ(StereoFilter::MapType(2.0f), FlexiFilter::HighPass);
    EXPECT_EQ(StereoFilter::MapType(1.9f), FlexiFilter::BandPass);
    EXPECT_EQ(StereoFilter::MapType(-3.0f), FlexiFilter::HighPass);

    StereoFilter f;
    Settle(f, 2500.0f);
    float l[16] = {}, r[16] = {};
    f.type = 1.0f;
    f.RenderStereo(l, r, l, r, 16);
    ExpectSameCoefficients(f.GetLeft(), Designed(FlexiFilter::BandPass, 2500.0, 44100.0, 6.0));
    f.type = 2.0f;
    f.RenderStereo(l, r, l, r, 16);
    ExpectSameCoefficients(f.GetLeft(), Designed(FlexiFilter::HighPass, 2500.0, 44100.0, 6.0));
    ExpectSameCoefficients(f.GetRight(), f.GetLeft());
}

TEST(StereoFilter, DisabledOutputEqualsInput)
{
    StereoFilter f;
    f.cutoff = 500.0f;
    std::vector<float> inL = Noise(300, 1), inR = Noise(300, 2);
    std::vector<float> outL(300, 9.0f), outR(300, 9.0f);
    f.RenderStereo(inL.data(), inR.data(), outL.data(), outR.data(), 300);
    EXPECT_EQ(outL, inL);
    EXPECT_EQ(outR, inR);

    std::vector<float> l = inL, r = inR;
    f.RenderStereo(l.data(), r.data(), l.data(), r.data(), 300);
    EXPECT_EQ(l, inL);
    EXPECT_EQ(r, inR);
}

TEST(StereoFilter, AShortBlockAfterAChangeUsesTheNewCutoffWhole)
{
    StereoFilter f;
    f.enabled.SetBool(true);
    f.cutoff = 3000.0f;
    std::vector<float> l = Noise(32, 3), r = Noise(32, 4);
    std::vector<float> wantL = l, wantR = r;
    FlexiFilter ref = Designed(0, 3000.0, 44100.0, 6.0);
    FlexiFilter refR = ref;
    ref.DoFiltering(wantL.data(), wantL.data(), 32);
    refR.DoFiltering(wantR.data(), wantR.data(), 32);

    f.RenderStereo(l.data(), r.data(), l.data(), r.data(), 32);
    EXPECT_EQ(l, wantL);
    EXPECT_EQ(r, wantR);
    EXPECT_EQ(f.GetCurrentCutoff(), 3000.0f);
    EXPECT_EQ(f.GetPreviousCutoff(), 3000.0f);
}

TEST(StereoFilter, ChannelsSharingBuffersFilterAsTwoSeparatePasses)
{
    // The channels run in one loop; buffers shared between them must give what a left pass
    // followed by a right pass gives: one input for both, and the left output as the right input.
    const std::vector<float> x = Noise(300, 9), y = Noise(300, 10);
    FlexiFilter ref = Designed(0, 3000.0, 44100.0, 6.0);

    StereoFilter mono;
    Settle(mono, 3000.0f);
    std::vector<float> in = x, outL(300), outR(300), want(300);
    FlexiFilter refMono = ref;
    refMono.DoFiltering(in.data(), want.data(), 300);
    mono.RenderStereo(in.data(), in.data(), outL.data(), outR.data(), 300);
    EXPECT_EQ(outL, want);
    EXPECT_EQ(outR, want);

    StereoFilter chained;
    Settle(chained, 3000.0f);
    std::vector<float> l = x, r = y, wantL(300), wantR(300);
    FlexiFilter refL = ref, refR = ref;
    refL.DoFiltering(l.data(), wantL.data(), 300);
    refR.DoFiltering(wantL.data(), wantR.data(), 300);
    chained.RenderStereo(l.data(), r.data(), r.data(), l.data(), 300);
    EXPECT_EQ(r, wantL);
    EXPECT_EQ(l, wantR);
}

TEST(StereoFilter, CutoffRampsIn32SampleChunks)
{
    StereoFilter f;
    Settle(f, 1000.0f);
    f.cutoff = 2000.0f;

    std::vector<float> inL = Noise(512, 5), inR = Noise(512, 6);
    std::vector<float> outL(512), outR(512);
    std::vector<float> wantL(512), wantR(512);
    FlexiFilter refL, refR;
    for (int c = 0; c < 16; ++c)
    {
        refL.InitFilter(0, 1000.0 + 62.5 * c, 44100.0, 6.0, 1.0, false);
        refR.CopyCoefficients(refL);
        refL.DoFiltering(inL.data() + 32 * c, wantL.data() + 32 * c, 32);
        refR.DoFiltering(inR.data() + 32 * c, wantR.data() + 32 * c, 32);
    }
    f.RenderStereo(inL.data(), inR.data(), outL.data(), outR.data(), 512);
    EXPECT_EQ(outL, wantL);
    EXPECT_EQ(outR, wantR);
    EXPECT_EQ(f.GetCurrentCutoff(), 1937.5f);
    EXPECT_EQ(f.GetPreviousCutoff(), 1937.5f);
    EXPECT_EQ(f.GetTargetCutoff(), 2000.0f);

    // A block that is not a multiple of 32: the last chunk takes the remainder.
    StereoFilter g;
    Settle(g, 1000.0f);
    g.cutoff = 1100.0f;
    std::vector<float> x = Noise(100, 8), y = x;
    g.RenderStereo(x.data(), y.data(), x.data(), y.data(), 100);
    const float step = 100.0f / (100.0f * 0.03125f);
    EXPECT_EQ(g.GetCurrentCutoff(), 1000.0f + step + step + step);
}

TEST(StereoFilter, CutoffRampConvergesOnLaterBlocks)
{
    StereoFilter f;
    Settle(f, 1000.0f);
    f.cutoff = 2000.0f;
    std::vector<float> l(512), r(512);
    std::vector<float> cutoffs;
    for (int block = 0; block < 10; ++block)
    {
        f.RenderStereo(l.data(), r.data(), l.data(), r.data(), 512);
        cutoffs.push_back(f.GetCurrentCutoff());
    }
    EXPECT_EQ(cutoffs[0], 1937.5f);
    EXPECT_FLOAT_EQ(cutoffs[1], 1937.5f + 15.0f * 62.5f / 16.0f);
    for (size_t i = 1; i < cutoffs.size(); ++i)
        EXPECT_GE(cutoffs[i], cutoffs[i - 1]);
    // Reached exactly, within a handful of blocks, and it stays there.
    EXPECT_EQ(cutoffs[5], 2000.0f);
    EXPECT_EQ(cutoffs[9], 2000.0f);
    EXPECT_EQ(f.GetPreviousCutoff(), 2000.0f);
    ExpectSameCoefficients(f.GetLeft(), Designed(0, 2000.0, 44100.0, 6.0));

    // Downwards too; 64-frame blocks halve the distance each time.
    f.cutoff = 200.0f;
    for (int block = 0; block < 30; ++block)
        f.RenderStereo(l.data(), r.data(), l.data(), r.data(), 64);
    EXPECT_EQ(f.GetCurrentCutoff(), 200.0f);
}

TEST(StereoFilter, SampleRateChangeMovesTheRangeAndKeepsTheCutoff)
{
    StereoFilter f;
    Counter heard;
    f.cutoff.AddUpdateListener(&heard);
    f.cutoff = 1000.0f;
    f.SetSampleRate(48000.0f);
    EXPECT_EQ(f.cutoff.GetMinValue(), 20.0f);
    EXPECT_EQ(f.cutoff.GetMaxValue(), 23950.0f);
    EXPECT_EQ(static_cast<float>(f.cutoff), 1000.0f);
    EXPECT_EQ(heard.last, 1000.0f);
    ExpectSameCoefficients(f.GetLeft(), Designed(0, 1000.0, 48000.0, 6.0));

    f.cutoff = 23000.0f;
    f.SetSampleRate(32000.0f);
    EXPECT_EQ(f.cutoff.GetMaxValue(), 15950.0f);
    EXPECT_EQ(static_cast<float>(f.cutoff), 15950.0f);
    EXPECT_EQ(f.GetTargetCutoff(), 15950.0f);
    EXPECT_EQ(heard.last, 15950.0f);
    ExpectSameCoefficients(f.GetLeft(), Designed(0, 15950.0, 32000.0, 6.0));

    f.SetSampleRate(96000.0f);
    EXPECT_EQ(f.cutoff.GetMaxValue(), 47950.0f);
    EXPECT_EQ(static_cast<float>(f.cutoff), 15950.0f);
}

TEST(StereoFilter, GlobalFilterSettingsSurviveAHostAt48k)
{
    // The instrument's low filter: adjust flag off, high-pass.
    StereoFilter f;
    f.type = 2.0f;
    f.resonance = 7.0f;
    f.SetAdjustResonanceAtLowCutoffs(false);
    f.cutoff = 60.0f;
    f.SetSampleRate(48000.0f);
    f.enabled.SetBool(true);
    float l[64] = {}, r[64] = {};
    // The filter glides from its constructed 30 Hz.
    f.RenderStereo(l, r, l, r, 64);
    EXPECT_EQ(f.GetCurrentCutoff(), 45.0f);
    for (int block = 0; block < 30; ++block)
        f.RenderStereo(l, r, l, r, 64);
    FlexiFilter want;
    want.adjustResonanceAtLowCutoffs = false;
    want.InitFilter(FlexiFilter::HighPass, 60.0, 48000.0, StereoFilter::ResonanceToQ(7.0f), 1.0, false);
    EXPECT_EQ(f.GetCurrentCutoff(), 60.0f);
    ExpectSameCoefficients(f.GetLeft(), want);
}

TEST(StereoFilter, RecoversFromNonFiniteInputAndLeavesNoSubnormals)
{
    StereoFilter f;
    Settle(f, 800.0f);
    std::vector<float> l = Noise(256, 9), r = Noise(256, 10);
    l[100] = std::numeric_limits<float>::quiet_NaN();
    r[7] = std::numeric_limits<float>::infinity();
    f.RenderStereo(l.data(), r.data(), l.data(), r.data(), 256);

    std::vector<float> silenceL(512, 0.0f), silenceR(512, 0.0f);
    for (int block = 0; block < 2000; ++block)
    {
        std::fill(silenceL.begin(), silenceL.end(), 0.0f);
        std::fill(silenceR.begin(), silenceR.end(), 0.0f);
        f.RenderStereo(silenceL.data(), silenceR.data(), silenceL.data(), silenceR.data(), 512);
        for (size_t i = 0; i < silenceL.size(); ++i)
        {
            ASSERT_TRUE(std::isfinite(silenceL[i]) && std::isfinite(silenceR[i])) << "block " << block;
            ASSERT_FALSE(dsptest::IsSubnormal(silenceL[i]) || dsptest::IsSubnormal(silenceR[i]));
        }
    }
    FlexiFilter const& h = f.GetLeft();
    EXPECT_FALSE(dsptest::IsSubnormal(h.y1) || dsptest::IsSubnormal(h.y2) || dsptest::IsSubnormal(h.x1) ||
                 dsptest::IsSubnormal(h.x2));

    // A sine still comes through at the expected level.
    std::vector<float> x = dsptest::Sine(4096, 200.0, 44100.0), y = x;
    f.RenderStereo(x.data(), y.data(), x.data(), y.data(), 4096);
    EXPECT_NEAR(dsptest::Amplitude(x.data() + 2048, 2048, 200.0, 44100.0),
                AnalyticMagnitude(0, 800.0, 44100.0, 6.0, 0.0, 200.0), 1e-3);
}

TEST(StereoFilter, ResetFlushAndFilterSample)
{
    StereoFilter f;
    f.enabled.SetBool(true);
    f.cutoff = 4000.0f;
    f.resonance = 3.0f;
    f.type = 2.0f;
    f.Reset();
    EXPECT_EQ(static_cast<float>(f.enabled), 0.0f);
    EXPECT_EQ(static_cast<float>(f.cutoff), 30.0f);
    EXPECT_EQ(static_cast<float>(f.resonance), 20.0f);
    EXPECT_EQ(static_cast<float>(f.type), 0.0f);

    Settle(f, 1500.0f);
    float l = 1.0f, r = -1.0f;
    f.FilterSample(l, r);
    EXPECT_EQ(l, f.GetLeft().b0);
    EXPECT_EQ(r, -f.GetRight().b0);
    EXPECT_NE(f.GetLeft().y1, 0.0f);
    const FlexiFilter before = f.GetLeft();
    f.Flush();
    EXPECT_EQ(f.GetLeft().x1, 0.0f);
    EXPECT_EQ(f.GetLeft().y1, 0.0f);
    EXPECT_EQ(f.GetRight().y1, 0.0f);
    ExpectSameCoefficients(f.GetLeft(), before);
}

TEST(StereoFilter, SavedSettingsLoadBack)
{
    StereoFilter f;
    f.enabled.SetBool(true);
    f.cutoff = 1234.0f;
    f.resonance = 7.0f;
    f.type = 1.0f;
    std::string const block = dsptest::Saved(f);
    ASSERT_EQ(block.size(), 20u); // the layout: StoredLayout in the engine tests

    StereoFilter g;
    dsptest::LoadFrom(g, block, 20);
    EXPECT_TRUE(g.enabled.GetBool());
    EXPECT_EQ(static_cast<float>(g.cutoff), 1234.0f);
    EXPECT_EQ(g.GetTargetCutoff(), 1234.0f);
    EXPECT_EQ(static_cast<float>(g.type), 1.0f);

    // A truncated block leaves the rest as it was.
    StereoFilter h;
    dsptest::LoadFrom(h, block, 6);
    EXPECT_TRUE(h.enabled.GetBool());
    EXPECT_EQ(static_cast<float>(h.cutoff), 30.0f);
}

TEST(StereoFilter, CutoffWrittenFromAnotherThreadIsPickedUp)
{
    StereoFilter f;
    Settle(f, 1000.0f);
    std::atomic<bool> stop{false};
    std::thread writer(
        [&]
        {
            for (int i = 0; i < 20000 && !stop.load(); ++i)
                f.cutoff = 100.0f + static_cast<float>(i % 97) * 150.0f;
            f.cutoff = 5000.0f;
        });
    const std::vector<float> inL = Noise(256, 11), inR = Noise(256, 12);
    std::vector<float> l(256), r(256);
    bool finite = true;
    for (int block = 0; block < 200 && finite; ++block)
    {
        f.RenderStereo(const_cast<float*>(inL.data()), const_cast<float*>(inR.data()), l.data(), r.data(),
                       256);
        finite = dsptest::AllFinite(l.data(), 256) && dsptest::AllFinite(r.data(), 256);
    }
    stop = true;
    writer.join();
    EXPECT_TRUE(finite);
    for (int block = 0; block < 20; ++block)
        f.RenderStereo(l.data(), r.data(), l.data(), r.data(), 256);
    EXPECT_EQ(f.GetCurrentCutoff(), 5000.0f);
}

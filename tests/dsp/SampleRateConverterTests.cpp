#include "dsp/SampleRateConverter.h"

#include <gtest/gtest.h>

#include <vector>

#include "DSPTestSupport.h"
#include "framework/Random.h"

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

// The converter's filter: low-pass, Q from resonance 8.
FlexiFilter Reference(double cutoff, double rate)
{
    FlexiFilter f;
    f.InitFilter(FlexiFilter::LowPass, cutoff, rate, StereoFilter::ResonanceToQ(8.0f), 1.0, false);
    return f;
}

// Runs blocks of a steady sine through conversion and returns the amplitude at freq measured on
// the last block, in the output's rate.
double ConvertedAmplitude(SampleRateConverter& c, double freq, double inRate, long n, int blocks,
                          double outRate)
{
    std::vector<float> outL(static_cast<size_t>(n * 6)), outR(outL.size());
    long m = 0;
    for (int b = 0; b < blocks; ++b)
    {
        std::vector<float> inL(static_cast<size_t>(n));
        for (long i = 0; i < n; ++i)
            inL[static_cast<size_t>(i)] = static_cast<float>(
                std::sin(2.0 * dsptest::kPi * freq * static_cast<double>(b * n + i) / inRate));
        std::vector<float> inR = inL;
        m = c.Convert(inL.data(), inR.data(), outL.data(), outR.data(), n);
    }
    return dsptest::Amplitude(outL.data(), m, freq, outRate);
}
} // namespace

TEST(SampleRateConverter, ConstructedFilterIsOnLowPassResonance8)
{
    SampleRateConverter c;
    EXPECT_TRUE(c.enabled.GetBool());
    EXPECT_EQ(static_cast<float>(c.type), 0.0f);
    EXPECT_EQ(static_cast<float>(c.resonance), 8.0f);
    EXPECT_EQ(c.GetMode(), SampleRateConverter::Copy);
}

TEST(SampleRateConverter, EqualRatesCopy)
{
    SampleRateConverter c;
    c.InitConversion(44100, 44100, 0.45f, 0.45f);
    EXPECT_EQ(c.GetMode(), SampleRateConverter::Copy);
    std::vector<float> inL = Noise(50, 1), inR = Noise(50, 2), outL(50), outR(50);
    EXPECT_EQ(c.Convert(inL.data(), inR.data(), outL.data(), outR.data(), 50), 50);
    EXPECT_EQ(outL, inL);
    EXPECT_EQ(outR, inR);

    // Before any set-up the converter copies too.
    SampleRateConverter fresh;
    std::vector<float> l(50);
    EXPECT_EQ(fresh.Convert(inL.data(), inR.data(), l.data(), outR.data(), 50), 50);
    EXPECT_EQ(l, inL);
    // Nonsense rates give a copy, never a division by zero.
    fresh.InitConversion(0, 44100, 0.45f, 0.45f);
    EXPECT_EQ(fresh.GetMode(), SampleRateConverter::Copy);
}

TEST(SampleRateConverter, UpSamplingStuffsZerosThenLowPasses)
{
    SampleRateConverter c;
    c.InitConversion(44100, 264600, 0.45f, 0.3f);
    EXPECT_EQ(c.GetMode(), SampleRateConverter::Up);
    EXPECT_EQ(c.GetSampleRate(), 264600.0f);
    EXPECT_EQ(c.cutoff.GetMaxValue(), 132250.0f);
    EXPECT_EQ(static_cast<float>(c.cutoff), 19845.0f);

    float inL[3] = {1.0f, -0.5f, 0.25f}, inR[3] = {0.0f, 1.0f, 0.0f};
    std::vector<float> outL(18, 7.0f), outR(18, 7.0f);
    ASSERT_EQ(c.Convert(inL, inR, outL.data(), outR.data(), 3), 18);

    std::vector<float> wantL(18, 0.0f), wantR(18, 0.0f);
    for (int i = 0; i < 3; ++i)
    {
        wantL[static_cast<size_t>(i * 6)] = inL[i];
        wantR[static_cast<size_t>(i * 6)] = inR[i];
    }
    FlexiFilter refL = Reference(19845.0, 264600.0), refR = refL;
    refL.DoFiltering(wantL.data(), wantL.data(), 18);
    refR.DoFiltering(wantR.data(), wantR.data(), 18);
    EXPECT_EQ(outL, wantL);
    EXPECT_EQ(outR, wantR);
}

TEST(SampleRateConverter, UpSampledLevelIsOneSixthInThePassBand)
{
    for (double freq : {100.0, 1000.0, 5000.0, 12000.0, 18000.0})
    {
        SampleRateConverter c;
        c.InitConversion(44100, 264600, 0.45f, 0.45f);
        const double got = ConvertedAmplitude(c, freq, 44100.0, 512, 12, 264600.0);
        const double want = dsptest::AnalyticMagnitude(0, 19845.0, 264600.0, 0.96, 0.0, freq) / 6.0;
        EXPECT_NEAR(got, want, 2e-3 * want) << freq << " Hz";
        if (freq <= 1000.0)
        {
            EXPECT_NEAR(got, 1.0 / 6.0, 0.01 / 6.0) << freq << " Hz";
        }
    }
}

TEST(SampleRateConverter, UpSamplingAttenuatesTheFirstImage)
{
    SampleRateConverter c;
    c.InitConversion(44100, 264600, 0.45f, 0.45f);
    const double image = ConvertedAmplitude(c, 1000.0, 44100.0, 512, 12, 264600.0);
    SampleRateConverter d;
    d.InitConversion(44100, 264600, 0.45f, 0.45f);
    // The zero-stuffed 1 kHz sine has an image at 44100 - 1000 Hz of the same size before
    // filtering; measure it on the same output.
    std::vector<float> outL(3072), outR(3072);
    long m = 0;
    for (int b = 0; b < 12; ++b)
    {
        std::vector<float> inL(512);
        for (long i = 0; i < 512; ++i)
            inL[static_cast<size_t>(i)] = static_cast<float>(
                std::sin(2.0 * dsptest::kPi * 1000.0 * static_cast<double>(b * 512 + i) / 44100.0));
        std::vector<float> inR = inL;
        m = d.Convert(inL.data(), inR.data(), outL.data(), outR.data(), 512);
    }
    const double imageLevel = dsptest::Amplitude(outL.data(), m, 43100.0, 264600.0);
    const double want = dsptest::AnalyticMagnitude(0, 19845.0, 264600.0, 0.96, 0.0, 43100.0) / 6.0;
    EXPECT_NEAR(imageLevel, want, 0.05 * want);
    EXPECT_LT(imageLevel, 0.25 * image);
}

TEST(SampleRateConverter, DownSamplingFiltersTheInputThenDecimates)
{
    SampleRateConverter c;
    c.InitConversion(264600, 44100, 0.45f, 0.3f);
    EXPECT_EQ(c.GetMode(), SampleRateConverter::Down);
    EXPECT_EQ(c.GetSampleRate(), 264600.0f);
    EXPECT_FLOAT_EQ(static_cast<float>(c.cutoff), 13230.0f);
    const double cutoff = static_cast<float>(c.cutoff);

    const std::vector<float> srcL = Noise(20, 3), srcR = Noise(20, 4);
    std::vector<float> inL = srcL, inR = srcR;
    std::vector<float> outL(4, 9.0f), outR(4, 9.0f);
    ASSERT_EQ(c.Convert(inL.data(), inR.data(), outL.data(), outR.data(), 20), 3);

    std::vector<float> wantL = srcL, wantR = srcR;
    FlexiFilter refL = Reference(cutoff, 264600.0), refR = refL;
    refL.DoFiltering(wantL.data(), wantL.data(), 20);
    refR.DoFiltering(wantR.data(), wantR.data(), 20);
    // The input holds the filtered signal, the last 20 mod 6 frames included.
    EXPECT_EQ(inL, wantL);
    EXPECT_EQ(inR, wantR);
    for (int j = 0; j < 3; ++j)
    {
        EXPECT_EQ(outL[static_cast<size_t>(j)], wantL[static_cast<size_t>(j * 6)]);
        EXPECT_EQ(outR[static_cast<size_t>(j)], wantR[static_cast<size_t>(j * 6)]);
    }
    EXPECT_EQ(outL[3], 9.0f);

    // In place works: each output frame comes from a later or the same input frame.
    std::vector<float> l = srcL, r = srcR;
    SampleRateConverter d;
    d.InitConversion(264600, 44100, 0.45f, 0.3f);
    ASSERT_EQ(d.DownSample(l.data(), r.data(), l.data(), r.data(), 20), 3);
    for (int j = 0; j < 3; ++j)
        EXPECT_EQ(l[static_cast<size_t>(j)], wantL[static_cast<size_t>(j * 6)]);
}

TEST(SampleRateConverter, UpThenDownKeepsThePassBandAtOneSixth)
{
    SampleRateConverter up, down;
    up.InitConversion(44100, 264600, 0.45f, 0.45f);
    down.InitConversion(264600, 44100, 0.45f, 0.45f);
    std::vector<float> wide(3072), wideR(3072), outL(512), outR(512);
    for (int b = 0; b < 16; ++b)
    {
        std::vector<float> inL =
            dsptest::Sine(512, 2000.0, 44100.0, 1.0, 2.0 * dsptest::kPi * 2000.0 * b * 512 / 44100.0);
        std::vector<float> inR = inL;
        ASSERT_EQ(up.Convert(inL.data(), inR.data(), wide.data(), wideR.data(), 512), 3072);
        ASSERT_EQ(down.Convert(wide.data(), wideR.data(), outL.data(), outR.data(), 3072), 512);
    }
    // The zero-stuffed sine holds six equal components at 2000 + k x 44100 Hz; each passes both
    // filters and decimation folds all of them back onto 2000 Hz.
    std::complex<double> sum = 0.0;
    for (int k = 0; k < 6; ++k)
    {
        const std::complex<double> h =
            dsptest::AnalyticResponse(0, 19845.0, 264600.0, 0.96, 0.0, 2000.0 + 44100.0 * k);
        sum += h * h;
    }
    const double want = std::abs(sum) / 6.0;
    EXPECT_NEAR(dsptest::Amplitude(outL.data(), 512, 2000.0, 44100.0), want, 1e-3 * want);
    const double h0 = dsptest::AnalyticMagnitude(0, 19845.0, 264600.0, 0.96, 0.0, 2000.0);
    EXPECT_GT(std::abs(want - h0 * h0 / 6.0), 1e-3);
}

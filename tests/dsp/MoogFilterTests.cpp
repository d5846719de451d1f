#include "dsp/MoogFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "DSPTestSupport.h"
#include "framework/Random.h"

TEST(MoogLP, CutoffFactorAndFeedback)
{
    MoogLP m;
    m.InitFilter(0, 44100.0 / 3.0, 44100.0, 0.0, 1.0, false);
    EXPECT_DOUBLE_EQ(m.GetCutoffFactor(), 1.16);
    EXPECT_EQ(m.GetFeedback(), 0.0);

    m.InitFilter(0, 1000.0, 48000.0, 25.0, 1.0, false);
    const double f = static_cast<float>(1000.0 / 16000.0) * 1.16;
    EXPECT_EQ(m.GetCutoffFactor(), f);
    EXPECT_EQ(m.GetFeedback(), (1.0 - 0.15 * f * f) * 0.5);
}

TEST(MoogLP, ConstantInputSettlesAtUnityGainWithoutResonance)
{
    MoogLP m;
    m.InitFilter(0, 2000.0, 44100.0, 0.0, 1.0, false);
    std::vector<float> x(20000, 0.5f);
    m.DoFilteringWithSoftClip(x.data(), x.data(), 20000, 0.0f);
    // Four stages of DC gain 1.3 / f after the input scale 0.35013 f^4: 0.35013 x 1.3^4.
    EXPECT_NEAR(x[19999], 0.5 * 0.35013 * std::pow(1.3, 4), 1e-6);
    EXPECT_NEAR(x[19999], x[19000], 1e-7);
}

TEST(MoogLP, FollowsTheFourStageRecurrence)
{
    // An independent evaluation in double, without the denormal guard.
    const double freq = 3000.0, rate = 44100.0, res = 30.0;
    const double f = static_cast<float>(freq / (rate / 3.0)) * 1.16;
    const double fb = (1.0 - 0.15 * f * f) * (res / 50.0);
    double in[4] = {}, out[4] = {};
    MoogLP m;
    m.InitFilter(0, freq, rate, res, 1.0, false);
    Random rng(5);
    std::vector<float> x(2000), y(2000);
    for (float& v : x)
        v = rng.NextSignedFloat();
    m.DoFilteringWithSoftClip(x.data(), y.data(), 2000, 0.0f);
    for (size_t i = 0; i < x.size(); ++i)
    {
        double s = static_cast<float>(x[i] - out[3] * fb);
        s = static_cast<float>(s * 0.35013 * f * f * f * f);
        double stage = s;
        for (int k = 0; k < 4; ++k)
        {
            out[k] = stage + 0.3 * in[k] + (1.0 - f) * out[k];
            in[k] = stage;
            stage = out[k];
        }
        ASSERT_NEAR(y[i], out[3], 1e-6 + 1e-5 * std::fabs(out[3])) << i;
    }
}

TEST(MoogLP, PassesLowsCutsHighsAndLeavesNoSubnormals)
{
    MoogLP m;
    m.InitFilter(0, 1000.0, 44100.0, 10.0, 1.0, false);
    std::vector<float> low = dsptest::Sine(16384, 100.0, 44100.0);
    std::vector<float> high = dsptest::Sine(16384, 10000.0, 44100.0);
    MoogLP m2 = m;
    m.DoFilteringWithSoftClip(low.data(), low.data(), 16384, 0.0f);
    m2.DoFilteringWithSoftClip(high.data(), high.data(), 16384, 0.0f);
    EXPECT_GT(dsptest::Amplitude(low.data() + 8192, 8192, 100.0, 44100.0), 0.8);
    EXPECT_LT(dsptest::Amplitude(high.data() + 8192, 8192, 10000.0, 44100.0), 1e-3);

    // A minute of silence: the stages settle instead of sinking into denormals.
    std::vector<float> silence(4096);
    for (int block = 0; block < 700; ++block)
    {
        std::fill(silence.begin(), silence.end(), 0.0f);
        m.DoFilteringWithSoftClip(silence.data(), silence.data(), 4096, 0.0f);
        for (float v : silence)
            ASSERT_FALSE(dsptest::IsSubnormal(v)) << block;
    }
    EXPECT_LT(dsptest::PeakAbs(silence.data(), 4096), 1e-12f);

    // n <= 0 does nothing.
    float keep = 3.0f;
    m.DoFilteringWithSoftClip(&keep, &keep, 0, 0.0f);
    EXPECT_EQ(keep, 3.0f);
}

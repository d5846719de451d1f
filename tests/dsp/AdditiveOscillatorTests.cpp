#include "dsp/AdditiveOscillator.h"

#include "dsp/DSPTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace
{

// Points at times 0 and `frames`, partial p holding values[p] at both (or start/end values).
void Constant(Envelope& e, float frames, const std::vector<float>& values)
{
    e.Clear();
    for (const float t : {0.0f, frames})
    {
        Breakpoint* b = e.AddBreakpoint();
        b->time = t;
        for (size_t p = 0; p < values.size(); ++p)
            b->values[p] = values[p];
    }
}

void Ramp(Envelope& e, float frames, const std::vector<float>& from, const std::vector<float>& to)
{
    Constant(e, frames, from);
    for (size_t p = 0; p < to.size(); ++p)
        e[1].values[p] = to[p];
}

// |X[k]| * 2 / n of a naive DFT in double.
double DFTAmplitude(const std::vector<float>& x, long k)
{
    const double n = static_cast<double>(x.size());
    std::complex<double> sum = 0.0;
    for (size_t i = 0; i < x.size(); ++i)
        sum += static_cast<double>(x[i]) *
               std::polar(1.0, -2.0 * dsptest::kPi * static_cast<double>(k) * static_cast<double>(i) / n);
    return std::abs(sum) * 2.0 / n;
}

class AdditiveOscillatorTest : public ::testing::Test
{
protected:
    void Render(long n, long offset = 0)
    {
        osc.RenderStereo(nullptr, nullptr, left.data() + offset, right.data() + offset, n);
    }
    void Clear(long n, float fill = 0.0f)
    {
        left.assign(static_cast<size_t>(n), fill);
        right.assign(static_cast<size_t>(n), fill);
    }
    AdditiveOsc osc;
    std::vector<float> left;
    std::vector<float> right;
};

TEST_F(AdditiveOscillatorTest, PartialsSitAtTheirFrequencies)
{
    // 4410 samples at 44100 Hz: DFT bins every 10 Hz, each partial on a bin of its own.
    const long n = 4410;
    const std::vector<float> freqs = {1000.0f, 2500.0f, 7000.0f};
    const std::vector<float> gains = {0.5f, 0.25f, 0.125f};
    osc.Init(3);
    Constant(osc.amplitudeEnvelope, n, gains);
    Constant(osc.pitchEnvelope, n, freqs);
    Constant(osc.panEnvelope, n, {0.0f, -1.0f, 1.0f});
    Clear(n);
    Render(n);

    // Partial 0 is centred, partial 1 left only, partial 2 right only.
    std::vector<double> expectLeft(static_cast<size_t>(n / 2), 0.0);
    std::vector<double> expectRight(static_cast<size_t>(n / 2), 0.0);
    expectLeft[100] = 0.25;
    expectRight[100] = 0.25;
    expectLeft[250] = 0.25;
    expectRight[700] = 0.125;
    for (long k = 1; k < n / 2; ++k)
    {
        ASSERT_NEAR(DFTAmplitude(left, k), expectLeft[static_cast<size_t>(k)], 1e-4) << "left bin " << k;
        ASSERT_NEAR(DFTAmplitude(right, k), expectRight[static_cast<size_t>(k)], 1e-4) << "right bin " << k;
    }
    // Each partial steps its frequency through the 44100-sample table.
    EXPECT_EQ(osc.GetPartialPhase(0), 1000 * n % 44100);
    EXPECT_EQ(osc.GetPartialPhase(2), 7000 * n % 44100);
}

TEST_F(AdditiveOscillatorTest, PartialAboveHalfTheRateIsSilentAndKeepsItsPhase)
{
    const long n = 100;
    osc.Init(2);
    Constant(osc.amplitudeEnvelope, n, {1.0f, 1.0f});
    Constant(osc.pitchEnvelope, n, {440.0f, 440.0f});
    Constant(osc.panEnvelope, n, {0.0f, 0.0f});
    Clear(n);
    Render(n);
    ASSERT_EQ(osc.GetPartialPhase(1), 44000);

    Constant(osc.pitchEnvelope, n, {0.0f, 22051.0f});
    Clear(n);
    osc.RenderPartial(left.data(), right.data(), n, 1);
    EXPECT_EQ(left, std::vector<float>(static_cast<size_t>(n), 0.0f));
    EXPECT_EQ(osc.GetPartialPhase(1), 44000);

    // Exactly half the rate still plays.
    Constant(osc.pitchEnvelope, n, {0.0f, 22050.0f});
    osc.RenderPartial(left.data(), right.data(), n, 1);
    EXPECT_EQ(osc.GetPartialPhase(1), (44000 + 22050 * n) % 44100);
}

TEST_F(AdditiveOscillatorTest, ResetStartsEveryPartialAtIndexZero)
{
    const long n = 64;
    osc.Init(2);
    Constant(osc.amplitudeEnvelope, n, {1.0f, 1.0f});
    Constant(osc.pitchEnvelope, n, {100.0f, 300.0f});
    Constant(osc.panEnvelope, n, {1.0f, 1.0f});
    Clear(n);
    Render(n);
    ASSERT_NE(osc.GetPartialPhase(0), 0);
    osc.ResetOscs();
    EXPECT_EQ(osc.GetPartialPhase(0), 0);
    EXPECT_EQ(osc.GetPartialPhase(1), 0);
    Clear(n);
    Render(n);
    // Both partials start at sin(0) = 0.
    EXPECT_EQ(right[0], 0.0f);
    EXPECT_NEAR(right[1],
                std::sin(2.0 * dsptest::kPi * 100.0 / 44100.0) +
                    std::sin(2.0 * dsptest::kPi * 300.0 / 44100.0),
                1e-6);

    // A new table restarts them too, and hands back the built-in sine.
    OscWaveDef square;
    square.CreateSquare(44100);
    Clear(n);
    Render(n);
    const OscWaveDef* previous = osc.SetOscWaveDef(&square);
    EXPECT_NE(previous, nullptr);
    EXPECT_EQ(osc.GetPartialPhase(1), 0);
    Clear(n);
    Render(n);
    EXPECT_EQ(right[0], 2.0f);
}

TEST_F(AdditiveOscillatorTest, RendersNothingWithoutPartials)
{
    const long n = 32;
    Clear(n, 0.5f);
    Render(n);
    EXPECT_EQ(left, std::vector<float>(static_cast<size_t>(n), 0.5f));
    osc.Init(-3);
    EXPECT_EQ(osc.GetNumPartials(), 0);
    Render(n);
    osc.Init(1);
    osc.RenderPartial(left.data(), right.data(), n, 1);
    osc.RenderPartial(left.data(), right.data(), n, -1);
    EXPECT_EQ(left, std::vector<float>(static_cast<size_t>(n), 0.5f));
}

TEST_F(AdditiveOscillatorTest, NegativeFrequenciesAndLongEnvelopesStayInBounds)
{
    // A partial gliding through negative frequencies never steps backwards out of the table,
    // and envelopes longer than the block render the block only.
    const long n = 512;
    osc.Init(3);
    Constant(osc.amplitudeEnvelope, 4 * n, {1.0f, 1.0f, 1.0f});
    Ramp(osc.pitchEnvelope, 4 * n, {-1000.0f, -30000.0f, -5.0f}, {1000.0f, 5.0f, -1e9f});
    Constant(osc.panEnvelope, 4 * n, {0.0f, 0.0f, 0.0f});
    Clear(2 * n, 3.0f);
    Render(n);
    for (long k = 0; k < n; ++k)
        ASSERT_TRUE(std::isfinite(left[static_cast<size_t>(k)]));
    for (long k = n; k < 2 * n; ++k)
        ASSERT_EQ(left[static_cast<size_t>(k)], 3.0f);
    for (int p = 0; p < 3; ++p)
    {
        EXPECT_GE(osc.GetPartialPhase(p), 0);
        EXPECT_LT(osc.GetPartialPhase(p), 44100);
    }
    // A partial whose frequency stays negative holds its phase on one table value.
    EXPECT_EQ(osc.GetPartialPhase(2), 0);
}

} // namespace

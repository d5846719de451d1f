#include "dsp/TableOscillator.h"
#include "dsp/WaveTables.h"

#include "dsp/DSPTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{

void Line(Envelope& e, float t0, float v0, float t1, float v1)
{
    e.Clear();
    e.AddBreakpoint(t0, v0);
    e.AddBreakpoint(t1, v1);
}

// A constant note over [0, frames): gain, note number, pan.
void Steady(StdOsc& osc, float frames, float gain, float note, float pan)
{
    Line(osc.amplitudeEnvelope, 0.0f, gain, frames, gain);
    Line(osc.pitchEnvelope, 0.0f, note, frames, note);
    Line(osc.panEnvelope, 0.0f, pan, frames, pan);
}

struct Stereo
{
    explicit Stereo(long n, float fill = 0.0f)
        : left(static_cast<size_t>(n), fill), right(static_cast<size_t>(n), fill)
    {
    }
    void Render(DSPComponent& c, long n, long offset = 0)
    {
        c.RenderStereo(nullptr, nullptr, left.data() + offset, right.data() + offset, n);
    }
    std::vector<float> left;
    std::vector<float> right;
};

class TableOscillatorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sine.CreateSine(44100);
        osc.SetOscWaveDef(&sine);
    }
    OscWaveDef sine;
    StdOsc osc;
};

TEST_F(TableOscillatorTest, StepsWholeTableSamplesPerOutputSample)
{
    // Note 69 is 440 Hz: 440 table steps per sample at 44100 Hz, trunc(404.25) = 404 at 48000.
    for (const float rate : {44100.0f, 48000.0f})
    {
        const long step = rate == 44100.0f ? 440 : 404;
        osc.SetSampleRate(rate);
        osc.SetOscWaveDef(&sine);
        const long n = 4800;
        Steady(osc, static_cast<float>(n), 1.0f, 69.0f, 0.0f);
        Stereo out(n);
        out.Render(osc, n);
        for (long k = 0; k < n; ++k)
        {
            const float x = sine.table[static_cast<size_t>((k * step) % 44100)];
            ASSERT_EQ(out.left[static_cast<size_t>(k)], 0.5f * x) << rate << " sample " << k;
            ASSERT_EQ(out.right[static_cast<size_t>(k)], 0.5f * x);
        }
        EXPECT_EQ(osc.GetPhase(), (n * step) % 44100);
    }
}

TEST_F(TableOscillatorTest, PitchAndAmplitudeMeasured)
{
    // One second at 48 kHz: 404 steps of a 44100-sample sine is 404 * 48000 / 44100 Hz.
    osc.SetSampleRate(48000.0f);
    const long n = 48000;
    Steady(osc, static_cast<float>(n), 0.6f, 69.0f, 0.0f);
    Stereo out(n);
    out.Render(osc, n);
    const double f = 404.0 * 48000.0 / 44100.0;
    // The full amplitude (gain 0.6, half to each side) at f pins the pitch within a few
    // hundredths of a hertz; one hertz away over one second there is nothing.
    EXPECT_NEAR(dsptest::Amplitude(out.left.data(), n, f, 48000.0), 0.3, 1e-4);
    EXPECT_LT(dsptest::Amplitude(out.left.data(), n, f - 1.0, 48000.0), 0.01);
    EXPECT_LT(dsptest::Amplitude(out.left.data(), n, f + 1.0, 48000.0), 0.01);
}

TEST_F(TableOscillatorTest, BlocksContinueThePhase)
{
    const long n = 1000;
    Stereo whole(n);
    Steady(osc, static_cast<float>(n), 1.0f, 57.0f, 0.0f);
    whole.Render(osc, n);

    osc.SetOscWaveDef(&sine);
    Stereo pieces(n);
    Steady(osc, 300.0f, 1.0f, 57.0f, 0.0f);
    pieces.Render(osc, 300);
    Steady(osc, 700.0f, 1.0f, 57.0f, 0.0f);
    pieces.Render(osc, 700, 300);
    EXPECT_EQ(whole.left, pieces.left);
}

TEST_F(TableOscillatorTest, PanAndGainRamp)
{
    const long n = 441;
    for (const float pan : {-1.0f, 1.0f})
    {
        osc.SetOscWaveDef(&sine);
        Steady(osc, static_cast<float>(n), 1.0f, 69.0f, pan);
        Stereo out(n);
        out.Render(osc, n);
        const std::vector<float>& loud = pan < 0 ? out.left : out.right;
        const std::vector<float>& quiet = pan < 0 ? out.right : out.left;
        for (long k = 0; k < n; ++k)
        {
            ASSERT_EQ(quiet[static_cast<size_t>(k)], 0.0f);
            ASSERT_EQ(loud[static_cast<size_t>(k)], sine.table[static_cast<size_t>((k * 440) % 44100)]);
        }
    }

    // The gain moves from its first value by (a1 - a0) / d per sample.
    osc.SetOscWaveDef(&sine);
    Steady(osc, static_cast<float>(n), 0.0f, 69.0f, 1.0f);
    Line(osc.amplitudeEnvelope, 0.0f, 0.2f, static_cast<float>(n), 1.0f);
    Stereo out(n);
    out.Render(osc, n);
    for (long k = 0; k < n; ++k)
    {
        const double g = 0.2 + 0.8 * static_cast<double>(k) / static_cast<double>(n);
        ASSERT_NEAR(out.right[static_cast<size_t>(k)], g * sine.table[static_cast<size_t>((k * 440) % 44100)],
                    1e-5);
    }
}

TEST_F(TableOscillatorTest, RendersNothingWithoutASpan)
{
    const long n = 256;
    Stereo out(n, 0.25f);
    const std::vector<float> before = out.left;

    // A single amplitude point.
    Steady(osc, static_cast<float>(n), 1.0f, 69.0f, 0.0f);
    osc.amplitudeEnvelope.Clear();
    osc.amplitudeEnvelope.AddBreakpoint(0.0f, 1.0f);
    out.Render(osc, n);
    EXPECT_EQ(out.left, before);

    // Gains at or below 0.0005 at both ends leave the outputs and the phase alone.
    Steady(osc, static_cast<float>(n), 0.0005f, 69.0f, 0.0f);
    out.Render(osc, n);
    EXPECT_EQ(out.left, before);
    EXPECT_EQ(osc.GetPhase(), 0);

    // A segment starting below 0 plays at gain 0.
    Line(osc.amplitudeEnvelope, 0.0f, -0.5f, static_cast<float>(n), 1.0f);
    out.Render(osc, n);
    EXPECT_EQ(out.left, before);

    // Empty pitch or pan envelopes, no table, or no sample rate.
    Steady(osc, static_cast<float>(n), 1.0f, 69.0f, 0.0f);
    osc.pitchEnvelope.Clear();
    out.Render(osc, n);
    Steady(osc, static_cast<float>(n), 1.0f, 69.0f, 0.0f);
    osc.panEnvelope.Clear();
    out.Render(osc, n);
    Steady(osc, static_cast<float>(n), 1.0f, 69.0f, 0.0f);
    osc.SetSampleRate(0.0f);
    out.Render(osc, n);
    osc.SetSampleRate(44100.0f);
    EXPECT_EQ(osc.SetOscWaveDef(nullptr), &sine);
    out.Render(osc, n);
    EXPECT_EQ(out.left, before);
    EXPECT_EQ(out.right, before);
}

TEST_F(TableOscillatorTest, AboveHalfTheSampleRateIsSilentAndKeepsThePhase)
{
    const long n = 300;
    Steady(osc, 100.0f, 1.0f, 69.0f, 0.0f);
    Stereo out(n);
    out.Render(osc, 100);
    const int phase = osc.GetPhase();
    ASSERT_EQ(phase, 100 * 440 % 44100);
    // Note 138 is about 23.7 kHz.
    Steady(osc, static_cast<float>(n), 1.0f, 138.0f, 0.0f);
    Stereo silent(n);
    silent.Render(osc, n);
    EXPECT_EQ(silent.left, std::vector<float>(static_cast<size_t>(n), 0.0f));
    EXPECT_EQ(osc.GetPhase(), phase);
}

TEST_F(TableOscillatorTest, StopsAtTheBlockLengthAndHoldsShortEnvelopes)
{
    const long n = 512;
    // Envelopes twice as long as the block: only n frames are touched.
    Stereo out(2 * n, 7.0f);
    Steady(osc, static_cast<float>(2 * n), 1.0f, 69.0f, 0.0f);
    out.Render(osc, n);
    for (long k = n; k < 2 * n; ++k)
        ASSERT_EQ(out.left[static_cast<size_t>(k)], 7.0f);

    // Pitch and pan envelopes that end early hold their last points.
    osc.SetOscWaveDef(&sine);
    Stereo reference(n);
    Steady(osc, static_cast<float>(n), 1.0f, 69.0f, 0.5f);
    reference.Render(osc, n);
    osc.SetOscWaveDef(&sine);
    Line(osc.pitchEnvelope, 0.0f, 69.0f, 10.0f, 69.0f);
    osc.panEnvelope.Clear();
    osc.panEnvelope.AddBreakpoint(0.0f, 0.5f);
    Stereo held(n);
    held.Render(osc, n);
    EXPECT_EQ(held.left, reference.left);
    EXPECT_EQ(held.right, reference.right);
}

TEST_F(TableOscillatorTest, HostilePitchesStayInTheTable)
{
    // Huge, infinite and NaN increments, glides and backwards times must not read outside the
    // table (checked by the sanitizers) nor produce anything but finite samples.
    const long n = 512;
    const float nan = std::nanf("");
    const float inf = INFINITY;
    const float cases[][2] = {
        {0.0f, 1000.0f}, {-500.0f, 300.0f}, {69.0f, inf}, {nan, 69.0f}, {136.0f, 60.0f}};
    for (const auto& c : cases)
    {
        Steady(osc, static_cast<float>(n), 1.0f, 0.0f, 0.0f);
        Line(osc.pitchEnvelope, 0.0f, c[0], static_cast<float>(n), c[1]);
        Stereo out(n);
        out.Render(osc, n);
        EXPECT_GE(osc.GetPhase(), 0);
        EXPECT_LT(osc.GetPhase(), 44100);
        for (const float v : out.left)
            ASSERT_TRUE(std::isfinite(v));
    }
    Steady(osc, static_cast<float>(n), 1.0f, 69.0f, 0.0f);
    osc.amplitudeEnvelope[1].time = -5.0f;
    Stereo out(n);
    out.Render(osc, n);
    EXPECT_EQ(out.left, std::vector<float>(static_cast<size_t>(n), 0.0f));
}

} // namespace

#include "dsp/WaveTables.h"
#include "engine/VectorOsc.h"

#include "dsp/DSPTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

namespace
{

using Weights = std::array<float, 4>;

void Line(Envelope& e, float t0, float v0, float t1, float v1)
{
    e.Clear();
    e.AddBreakpoint(t0, v0);
    e.AddBreakpoint(t1, v1);
}

void SetWeights(Envelope& e, std::initializer_list<float> times, const Weights& w)
{
    e.Clear();
    for (const float t : times)
        e.GetBreakpoints().Add(t, w.data());
}

// The envelopes of one block: constant gain, frequency (Hz), pan and weights over [0, frames).
void Steady(VectorOsc& osc, float frames, float gain, float hz, float pan, const Weights& w)
{
    Line(osc.amplitude, 0.0f, gain, frames, gain);
    Line(osc.frequency, 0.0f, hz, frames, hz);
    Line(osc.pan, 0.0f, pan, frames, pan);
    SetWeights(osc.weights, {0.0f, frames}, w);
}

struct Stereo
{
    explicit Stereo(long n, float fill = 0.0f)
        : left(static_cast<size_t>(n), fill), right(static_cast<size_t>(n), fill)
    {
    }
    void Render(VectorOsc& osc, long n, long offset = 0)
    {
        osc.RenderStereo(nullptr, nullptr, left.data() + offset, right.data() + offset, n);
    }
    std::vector<float> left;
    std::vector<float> right;
};

class VectorOscTest : public ::testing::Test
{
protected:
    // Slot 0 sine, 1 saw, 2 square, 3 silence, at 4096 samples and 128 levels.
    static void SetUpTestSuite()
    {
        waves = std::make_unique<VectorMipOscWaveDef>();
        ASSERT_TRUE(waves->CreateSine(0, 4096));
        ASSERT_TRUE(waves->CreateSaw(1, 4096));
        ASSERT_TRUE(waves->CreateSquare(2, 4096));
        ASSERT_TRUE(waves->CreateSilence(3, 4096));
    }
    static void TearDownTestSuite() { waves.reset(); }

    void SetUp() override
    {
        osc.SeedRandom(1);
        osc.SetMipOscWaveDef(waves.get());
        osc.Reset(false);
    }

    // A steady tone rendered in blocks of 512 frames, the envelopes refilled for each block.
    Stereo Play(long n, float hz, float pan, const Weights& w, float gain = 1.0f)
    {
        Stereo out(n);
        for (long at = 0; at < n; at += 512)
        {
            const long block = std::min(512L, n - at);
            Steady(osc, static_cast<float>(block), gain, hz, pan, w);
            out.Render(osc, block, at);
        }
        return out;
    }

    static std::unique_ptr<VectorMipOscWaveDef> waves;
    VectorOsc osc;
};

std::unique_ptr<VectorMipOscWaveDef> VectorOscTest::waves;

long RisingZeroCrossings(const std::vector<float>& x)
{
    long count = 0;
    for (size_t i = 1; i < x.size(); ++i)
        count += x[i - 1] < 0.0f && x[i] >= 0.0f;
    return count;
}

TEST_F(VectorOscTest, PureSineHasItsAmplitudeCyclesAndPan)
{
    const long n = 44100;
    const Stereo left = Play(n, 441.0f, -1.0f, {1.0f, 0.0f, 0.0f, 0.0f});
    EXPECT_NEAR(dsptest::Amplitude(left.left.data(), n, 441.0, 44100.0), 1.0, 1e-4);
    EXPECT_NEAR(RisingZeroCrossings(left.left), 440, 1); // 441 cycles, starting on a crossing
    EXPECT_NEAR(*std::max_element(left.left.begin(), left.left.end()), 1.0f, 1e-4);
    EXPECT_EQ(left.right, std::vector<float>(static_cast<size_t>(n), 0.0f));

    osc.Reset(false);
    const Stereo right = Play(n, 441.0f, 1.0f, {1.0f, 0.0f, 0.0f, 0.0f}, 0.5f);
    EXPECT_NEAR(dsptest::Amplitude(right.right.data(), n, 441.0, 44100.0), 0.5, 1e-4);
    EXPECT_EQ(right.left, std::vector<float>(static_cast<size_t>(n), 0.0f));
    EXPECT_NEAR(RisingZeroCrossings(right.right), 440, 1);

    osc.Reset(false);
    const Stereo centre = Play(n, 441.0f, 0.0f, {1.0f, 0.0f, 0.0f, 0.0f});
    EXPECT_EQ(centre.left, centre.right);
    EXPECT_NEAR(dsptest::Amplitude(centre.left.data(), n, 441.0, 44100.0), 0.5, 1e-4);
}

TEST_F(VectorOscTest, WeightsBlendTheInterleavedWaves)
{
    // Against a reference in double: the phase steps by the 16.16 increment, each wave is read
    // linearly between neighbouring table samples of the level the increment picks.
    const long n = 512;
    const Weights w = {0.1f, 0.2f, 0.3f, 0.4f};
    const float hz = 100.0f;
    const Stereo out = Play(n, hz, 0.5f, w, 0.8f);

    const float increment = hz * (4096.0f / 44100.0f);
    const auto step = static_cast<std::uint32_t>(increment * 65536.0f);
    const float* level = waves->levels[waves->LevelForIncrement(increment)];
    std::uint32_t phase = 0;
    for (long k = 0; k < n; ++k)
    {
        const std::uint32_t i0 = (phase >> 16) % 4096;
        const std::uint32_t i1 = (i0 + 1) % 4096;
        const double frac = static_cast<double>(phase & 0xFFFF) / 65536.0;
        double sum = 0.0;
        for (int s = 0; s < 4; ++s)
            sum += w[static_cast<size_t>(s)] * ((1.0 - frac) * level[4 * i0 + static_cast<std::uint32_t>(s)] +
                                                frac * level[4 * i1 + static_cast<std::uint32_t>(s)]);
        phase = (phase + step) % (4096u << 16);
        ASSERT_NEAR(out.left[static_cast<size_t>(k)], 0.25 * 0.8 * sum, 1e-5) << k;
        ASSERT_NEAR(out.right[static_cast<size_t>(k)], 0.75 * 0.8 * sum, 1e-5) << k;
    }
}

TEST_F(VectorOscTest, WeightsOfAtMostTheThresholdAreLeftOut)
{
    const long n = 4410;
    const Stereo skipped = Play(n, 441.0f, 1.0f, {0.005f, 0.005f, 0.005f, 0.005f});
    EXPECT_EQ(skipped.right, std::vector<float>(static_cast<size_t>(n), 0.0f));

    osc.Reset(false);
    const Stereo played = Play(n, 441.0f, 1.0f, {0.0051f, 0.0f, 0.0f, 0.0f});
    EXPECT_NEAR(dsptest::Amplitude(played.right.data(), n, 441.0, 44100.0), 0.0051, 1e-6);
}

TEST_F(VectorOscTest, SilentBlocksKeepOutputsAndPhase)
{
    osc.Reset(true);
    const float phase = osc.GetPhase();
    const long n = 512;
    Stereo out(n, 0.125f);
    Steady(osc, static_cast<float>(n), 0.0f, 441.0f, 0.0f, {1.0f, 1.0f, 1.0f, 1.0f});
    out.Render(osc, n);
    // A segment starting below 0 is silent too.
    Line(osc.amplitude, 0.0f, -1.0f, static_cast<float>(n), 1.0f);
    out.Render(osc, n);
    EXPECT_EQ(out.left, std::vector<float>(static_cast<size_t>(n), 0.125f));
    EXPECT_EQ(out.right, out.left);
    EXPECT_EQ(osc.GetPhase(), phase);
}

TEST_F(VectorOscTest, RendersNothingWithoutRateTablesOrEnvelopes)
{
    const long n = 256;
    Stereo out(n, 0.25f);
    const std::vector<float> before = out.left;
    const Weights w = {1.0f, 0.0f, 0.0f, 0.0f};

    osc.SetSampleRate(0.0f);
    Steady(osc, static_cast<float>(n), 1.0f, 441.0f, 0.0f, w);
    out.Render(osc, n);
    osc.SetSampleRate(44100.0f);

    for (Envelope* e : {&osc.amplitude, &osc.frequency, &osc.pan, &osc.weights})
    {
        Steady(osc, static_cast<float>(n), 1.0f, 441.0f, 0.0f, w);
        e->Clear();
        out.Render(osc, n);
    }
    // A single amplitude point spans nothing.
    Steady(osc, static_cast<float>(n), 1.0f, 441.0f, 0.0f, w);
    osc.amplitude.Clear();
    osc.amplitude.AddBreakpoint(0.0f, 1.0f);
    out.Render(osc, n);

    VectorMipOscWaveDef empty;
    EXPECT_EQ(osc.SetMipOscWaveDef(&empty), waves.get());
    EXPECT_EQ(osc.GetPhase(), 0.0f);
    Steady(osc, static_cast<float>(n), 1.0f, 441.0f, 0.0f, w);
    out.Render(osc, n);
    EXPECT_EQ(osc.SetMipOscWaveDef(nullptr), &empty);
    out.Render(osc, n);

    EXPECT_EQ(out.left, before);
    EXPECT_EQ(out.right, before);
}

TEST_F(VectorOscTest, StopsAtTheBlockLengthAndHoldsShortEnvelopes)
{
    const long n = 512;
    const Weights w = {0.3f, 0.3f, 0.2f, 0.2f};
    Stereo out(2 * n, 9.0f);
    Steady(osc, static_cast<float>(2 * n), 1.0f, 441.0f, 0.0f, w);
    out.Render(osc, n);
    for (long k = n; k < 2 * n; ++k)
        ASSERT_EQ(out.left[static_cast<size_t>(k)], 9.0f);

    // Frequency, pan and weights that end early hold their last points.
    osc.Reset(false);
    Stereo reference(n);
    Steady(osc, static_cast<float>(n), 1.0f, 441.0f, 0.25f, w);
    reference.Render(osc, n);

    osc.Reset(false);
    Steady(osc, static_cast<float>(n), 1.0f, 441.0f, 0.25f, w);
    Line(osc.frequency, 0.0f, 441.0f, 100.0f, 441.0f);
    osc.pan.Clear();
    osc.pan.AddBreakpoint(0.0f, 0.25f);
    SetWeights(osc.weights, {0.0f, 0.0f, 3.0f}, w);
    Stereo held(n);
    held.Render(osc, n);
    EXPECT_EQ(held.left, reference.left);
    EXPECT_EQ(held.right, reference.right);
}

TEST_F(VectorOscTest, PitchMovesAtCycleBoundaries)
{
    // A 20 Hz cycle lasts 2205 samples: a glide inside a 512-frame block starting on the cycle
    // boundary does not change the pitch before the block ends.
    const long n = 512;
    const Weights w = {0.0f, 1.0f, 0.0f, 0.0f};
    Stereo steady(n);
    Steady(osc, static_cast<float>(n), 1.0f, 20.0f, 0.0f, w);
    steady.Render(osc, n);

    osc.Reset(false);
    Stereo glide(n);
    Steady(osc, static_cast<float>(n), 1.0f, 20.0f, 0.0f, w);
    Line(osc.frequency, 0.0f, 20.0f, static_cast<float>(n), 40.0f);
    glide.Render(osc, n);
    EXPECT_EQ(glide.left, steady.left);
}

TEST_F(VectorOscTest, IncrementsBeyondTheTableStayInBounds)
{
    // Frequencies far above the rate, gliding, infinite, NaN or negative: the phase wraps
    // modulo the table and the increment is clamped (the sanitizers check the reads).
    const long n = 512;
    const float nan = std::nanf("");
    const float cases[][2] = {{1.0e6f, 1.0e6f},   {0.0f, 5.0e5f}, {-3000.0f, 1.0e9f},
                              {INFINITY, 100.0f}, {nan, nan},     {441.0f, -1.0e7f}};
    for (const auto& c : cases)
    {
        osc.Reset(true);
        Steady(osc, static_cast<float>(n), 1.0f, 0.0f, 0.0f, {0.4f, 0.3f, 0.2f, 0.1f});
        Line(osc.frequency, 0.0f, c[0], static_cast<float>(n), c[1]);
        Stereo out(n);
        out.Render(osc, n);
        EXPECT_GE(osc.GetPhase(), 0.0f);
        EXPECT_LT(osc.GetPhase(), 4096.0f);
        for (const float v : out.left)
            ASSERT_TRUE(std::isfinite(v));
    }

    // An increment of a whole table or more stands on one table point.
    osc.Reset(false);
    Stereo out(n);
    Steady(osc, static_cast<float>(n), 1.0f, 1.0e6f, 0.0f, {0.0f, 1.0f, 0.0f, 0.0f});
    out.Render(osc, n);
    EXPECT_EQ(osc.GetPhase(), 0.0f);
    EXPECT_EQ(out.left, std::vector<float>(static_cast<size_t>(n), out.left[0]));
}

TEST_F(VectorOscTest, SawKeepsBelowNyquistAt48k)
{
    // 5 kHz at 48 kHz over 4800 frames: 10 Hz bins; the level chosen keeps harmonics 1-4,
    // so all the energy lies on the harmonics below Nyquist (Parseval).
    osc.SetSampleRate(48000.0f);
    const long n = 4800;
    const Stereo out = Play(n, 5000.0f, -1.0f, {0.0f, 1.0f, 0.0f, 0.0f});
    double total = 0.0;
    for (const float v : out.left)
        total += static_cast<double>(v) * v;
    double harmonics = 0.0;
    for (long k = 500; k < n / 2; k += 500)
    {
        std::complex<double> x = 0.0;
        for (long i = 0; i < n; ++i)
            x += static_cast<double>(out.left[static_cast<size_t>(i)]) *
                 std::polar(1.0, -2.0 * dsptest::kPi * static_cast<double>(k * i) / static_cast<double>(n));
        harmonics += 2.0 * std::norm(x) / static_cast<double>(n);
        if (k == 500)
        {
            EXPECT_NEAR(std::abs(x) * 2.0 / static_cast<double>(n), 1.0, 1e-3); // the saw's first harmonic
        }
    }
    EXPECT_LT(1.0 - harmonics / total, 1e-4);
}

TEST_F(VectorOscTest, RandomStartPhasesAreSeeded)
{
    VectorOsc a;
    VectorOsc b;
    a.SeedRandom(42);
    b.SeedRandom(42);
    EXPECT_EQ(a.SetMipOscWaveDef(waves.get()), nullptr);
    b.SetMipOscWaveDef(waves.get());
    EXPECT_EQ(a.GetPhase(), b.GetPhase());
    float previous = a.GetPhase();
    bool moved = false;
    for (int i = 0; i < 20; ++i)
    {
        a.Reset(true);
        EXPECT_GE(a.GetPhase(), 0.0f);
        EXPECT_LT(a.GetPhase(), 4096.0f);
        moved |= a.GetPhase() != previous;
        previous = a.GetPhase();
    }
    EXPECT_TRUE(moved);
    a.Reset(false);
    EXPECT_EQ(a.GetPhase(), 0.0f);

    VectorOsc none;
    none.Reset(true);
    EXPECT_EQ(none.GetPhase(), 0.0f);
}

} // namespace

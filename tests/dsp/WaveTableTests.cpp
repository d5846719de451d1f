#include "dsp/WaveTables.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "framework/StandardMaths.h"
#include "framework/Streams.h"
#include "framework/String.h"
#include "support/AudioChecks.h"

namespace fs = std::filesystem;

namespace
{

constexpr double kTwoPi = 6.283185307179586;

struct Bin
{
    double amp = 0.0;   // peak amplitude (bin 0: the mean; bin N/2: the Nyquist term's size)
    double phase = 0.0; // of amp * sin(2 pi h n / N + phase), in [0, 2 pi)
};

// Naive DFT in double precision of one slot of a level, bins 0 .. N/2.
std::vector<Bin> NaiveDft(float const* level, int stride, long n)
{
    std::vector<long> wanted;
    for (long h = 0; h <= n / 2; ++h)
        wanted.push_back(h);
    std::vector<audio::DftBin> const dft =
        audio::NaiveDft(level, static_cast<std::size_t>(n), wanted, static_cast<std::size_t>(stride));
    std::vector<Bin> bins(size_t(n / 2 + 1));
    for (long h = 0; h <= n / 2; ++h)
    {
        double const re = dft[size_t(h)].re;
        double const im = dft[size_t(h)].im;
        Bin& b = bins[size_t(h)];
        if (h == 0 || h == n / 2)
        {
            b.amp = std::fabs(re) / double(n);
        }
        else
        {
            b.amp = 2.0 * std::hypot(re, im) / double(n);
            b.phase = std::atan2(re, im);
            if (b.phase < 0) b.phase += kTwoPi;
        }
    }
    return bins;
}

double PhaseDistance(double a, double b)
{
    double d = std::fmod(std::fabs(a - b), kTwoPi);
    return std::min(d, kTwoPi - d);
}

// The band limits of level m.
float ShapeLimit(int m, long length)
{
    float const limit = 44100.0f / NoteToFreq(float(m + 1));
    return std::min(limit, float(length / 2 - 1));
}

float CustomLimit(int m, long length)
{
    float const limit = 44100.0f / (2.0f * NoteToFreq(float(m + 1)));
    return std::min(limit, float(length / 2 - 1));
}

// Harmonic h of a saw or square survives while limit - 1 > h - 1.
bool ShapeKeeps(long h, float limit)
{
    return limit - 1.0f > float(h - 1);
}

// The highest harmonic a level holds, by the band limits.
long HighestHarmonic(int kind, int m, long length)
{
    if (kind == kWaveCustom) return long(CustomLimit(m, length)) - 1;
    long top = 0;
    for (long h = 1; ShapeKeeps(h, ShapeLimit(m, length)); ++h)
        if (kind == kWaveSaw || (h & 1)) top = h;
    return top;
}

void CheckShapeLevel(MipWaveTable const& def, int slot, int m, int shape)
{
    long const n = def.length;
    std::vector<Bin> const bins = NaiveDft(def.levels[m] + slot, def.NumWaves(), n);
    float const limit = ShapeLimit(m, n);
    EXPECT_NEAR(bins[0].amp, 0.0, 1e-6) << "level " << m;
    EXPECT_NEAR(bins[size_t(n / 2)].amp, 0.0, 1e-6) << "level " << m;
    for (long h = 1; h < n / 2; ++h)
    {
        bool const present = ShapeKeeps(h, limit) && (shape == kWaveSaw || (h & 1));
        double const expected = present ? 1.0 / double(h) : 0.0;
        ASSERT_NEAR(bins[size_t(h)].amp, expected, 2e-6) << "level " << m << " harmonic " << h;
        if (present)
        {
            ASSERT_LT(PhaseDistance(bins[size_t(h)].phase, 0.0), 1e-3) << "level " << m << " h " << h;
        }
    }
}

struct Spectrum
{
    std::vector<float> amps, phases;
};

Spectrum RandomSpectrum(long count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> phase(0.0f, 6.2f);
    Spectrum s;
    for (long j = 0; j < count; ++j)
    {
        s.amps.push_back(0.5f / std::sqrt(float(j + 1)));
        s.phases.push_back(phase(rng));
    }
    return s;
}

// One cycle with a mean, harmonics 1 .. n/2 - 1 of the given spectrum and a Nyquist term.
std::vector<float> CustomCycle(long n, Spectrum const& s, double mean, double nyquist)
{
    std::vector<float> cycle(static_cast<size_t>(n));
    for (long i = 0; i < n; ++i)
    {
        double v = mean + ((i & 1) ? -nyquist : nyquist);
        for (long h = 1; h < n / 2; ++h)
            v += s.amps[size_t(h - 1)] *
                 std::sin(kTwoPi * double(h * i % n) / double(n) + s.phases[size_t(h - 1)]);
        cycle[size_t(i)] = float(v);
    }
    return cycle;
}

std::vector<float> Slot(MipWaveTable const& def, int slot, int m)
{
    std::vector<float> out(size_t(def.length));
    for (long i = 0; i < def.length; ++i)
        out[size_t(i)] = def.levels[m][size_t(i) * size_t(def.NumWaves()) + size_t(slot)];
    return out;
}

// Everything observable about a wave definition, for "left intact" checks.
struct Snapshot
{
    long length;
    int numLevels;
    std::vector<int> kinds;
    std::vector<float> samples;
    bool operator==(Snapshot const&) const = default;
};

Snapshot Take(MipWaveTable const& def)
{
    Snapshot s{def.length, def.numLevels, {}, {}};
    for (int k = 0; k < def.NumWaves(); ++k)
        s.kinds.push_back(def.GetKind(k));
    if (def.HasStorage())
        for (int m = 0; m < def.numLevels; ++m)
            s.samples.insert(s.samples.end(), def.levels[m], def.levels[m] + def.length * def.NumWaves());
    return s;
}

std::string Saved(MipWaveTable const& def, int slot)
{
    String block;
    StringWriter w;
    w.Open(&block);
    def.Save(slot, w, 1.0f);
    w.Close();
    return std::string(static_cast<char const*>(block), size_t(block.GetLength()));
}

bool LoadFrom(MipWaveTable& def, int slot, std::string const& bytes)
{
    StringReader r;
    r.Open(bytes.data(), bytes.size());
    return def.Load(slot, r);
}

bool LoadFrom(MipOscWaveDef& def, std::string const& bytes)
{
    StringReader r;
    r.Open(bytes.data(), bytes.size());
    return def.Load(r);
}

std::string Saved(MipOscWaveDef const& def)
{
    String block;
    StringWriter w;
    w.Open(&block);
    def.Save(w, 1.0f);
    w.Close();
    return std::string(static_cast<char const*>(block), size_t(block.GetLength()));
}

void PutLe32(std::string& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(char((v >> (8 * i)) & 0xFF));
}

std::string StreamHeader(float version, int32_t length, int32_t levels, int32_t kind)
{
    std::string b;
    uint32_t bits;
    std::memcpy(&bits, &version, 4);
    PutLe32(b, bits);
    PutLe32(b, uint32_t(length));
    PutLe32(b, uint32_t(levels));
    PutLe32(b, uint32_t(kind));
    return b;
}

// Standard waves

TEST(WaveTableShapes, SawEveryLevelIsBandLimitedWithHarmonicsOneOverH)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSaw(1, 1024));
    EXPECT_EQ(def.GetKind(1), kWaveSaw);
    for (int m = 0; m < def.numLevels; ++m)
        CheckShapeLevel(def, 1, m, kWaveSaw);

    // The instrument's size at levels where the length cap, the note limit and the
    // top level apply.
    ASSERT_TRUE(def.CreateSaw(3, 4096));
    for (int m : {0, 16, 17, 60, 127})
        CheckShapeLevel(def, 3, m, kWaveSaw);
    EXPECT_EQ(HighestHarmonic(kWaveSaw, 0, 4096), 2046);
    EXPECT_EQ(HighestHarmonic(kWaveSaw, 127, 4096), 3);
}

TEST(WaveTableShapes, SquareEveryLevelHoldsOddHarmonicsBelowTheLimit)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSquare(2, 1024));
    for (int m = 0; m < def.numLevels; ++m)
        CheckShapeLevel(def, 2, m, kWaveSquare);
}

TEST(WaveTableShapes, AnalyticValues)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSaw(0, 4096));
    ASSERT_TRUE(def.CreateSquare(1, 4096));
    ASSERT_TRUE(def.CreateSine(2, 4096));
    ASSERT_TRUE(def.CreateSilence(3, 4096));

    // Saw: sum of sin(h x) / h, jumping at sample 0 to its Gibbs peak near Si(pi).
    std::vector<float> const saw = Slot(def, 0, 0);
    float const top = *std::max_element(saw.begin(), saw.end());
    float const bottom = *std::min_element(saw.begin(), saw.end());
    EXPECT_NEAR(top, 1.852, 0.005);
    EXPECT_NEAR(bottom, -top, 1e-4);
    EXPECT_NEAR(saw[0], 0.0f, 1e-5);
    EXPECT_GT(saw[1], 1.0f);
    EXPECT_NEAR(saw[1024], std::atan(1.0), 1e-3); // (pi - x) / 2 at x = pi / 2
    EXPECT_NEAR(saw[2048], 0.0f, 1e-5);

    // Square: about +pi/4 for the first half cycle, -pi/4 for the second.
    std::vector<float> const square = Slot(def, 1, 0);
    EXPECT_NEAR(square[1024], std::atan(1.0), 1e-3);
    EXPECT_NEAR(square[3072], -std::atan(1.0), 1e-3);

    // Sine: the same exact cycle on every level.
    for (int m = 0; m < def.numLevels; m += 9)
    {
        std::vector<float> const sine = Slot(def, 2, m);
        for (long i = 0; i < 4096; ++i)
            ASSERT_NEAR(sine[size_t(i)], std::sin(kTwoPi * double(i) / 4096.0), 1e-6) << m << " " << i;
    }
    for (int m = 0; m < def.numLevels; ++m)
    {
        std::vector<float> const silence = Slot(def, 3, m);
        ASSERT_TRUE(std::all_of(silence.begin(), silence.end(), [](float v) { return v == 0.0f; }));
    }
}

// Level choice

TEST(WaveTableShapes, LevelChoiceKeepsHarmonicsBelowNyquist)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSaw(0, 4096));
    for (float rate : {44100.0f, 48000.0f, 96000.0f})
    {
        for (int note = 0; note <= 127; ++note)
        {
            float const freq = NoteToFreq(float(note));
            int const level = def.LevelForIncrement(freq * float(def.length) / rate);
            ASSERT_GE(level, 0);
            ASSERT_LT(level, def.numLevels);
            // Custom waves never alias.
            EXPECT_LT(double(HighestHarmonic(kWaveCustom, level, 4096)) * freq, rate / 2)
                << rate << " " << note;
            // Saw and square alias only where the choice is clamped to the top level
            // (which holds harmonics 1 to 3): above note 117 at 44.1 kHz, 119 at 48 kHz.
            if (level < def.numLevels - 1)
            {
                EXPECT_LT(double(HighestHarmonic(kWaveSaw, level, 4096)) * freq, rate / 2)
                    << rate << " " << note;
                EXPECT_LT(double(HighestHarmonic(kWaveSquare, level, 4096)) * freq, rate / 2)
                    << rate << " " << note;
            }
        }
    }
    // At 96 kHz the choice never reaches the clamp.
    EXPECT_LT(def.LevelForIncrement(NoteToFreq(127.0f) * 4096.0f / 96000.0f), 127);
}

TEST(WaveTableShapes, ReverseTableIsClampedAndDefined)
{
    VectorMipOscWaveDef def;
    EXPECT_EQ(def.LevelForIncrement(10.0f), 0); // no table yet
    ASSERT_TRUE(def.CreateSilence(0, 4096));
    ASSERT_NE(def.reverseTable, nullptr);
    EXPECT_FLOAT_EQ(def.reverseScale, 88200.0f / 4096.0f);
    EXPECT_EQ(def.reverseTable[0], 0);
    EXPECT_EQ(def.reverseTable[1], 0);
    EXPECT_EQ(def.reverseTable[440], 69);
    EXPECT_EQ(def.reverseTable[44099], 127);

    EXPECT_EQ(def.LevelForIncrement(0.0f), 0);
    EXPECT_EQ(def.LevelForIncrement(-5.0f), 0);
    EXPECT_EQ(def.LevelForIncrement(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(def.LevelForIncrement(std::numeric_limits<float>::infinity()), 127);
    EXPECT_EQ(def.LevelForIncrement(1e30f), 127);
    // 440 Hz at 44.1 kHz reads entry 880: one octave up.
    EXPECT_EQ(def.LevelForIncrement(440.0f * 4096.0f / 44100.0f), 81);

    // Fewer levels: the choice stops at the last; the scale follows the length.
    MipOscWaveDef small;
    ASSERT_TRUE(small.InitArray(1024, 32));
    ASSERT_TRUE(small.CreateSaw(1024));
    EXPECT_EQ(small.LevelForIncrement(1e6f), 31);
    EXPECT_FLOAT_EQ(small.reverseScale, 88200.0f / 1024.0f);
}

// Custom waves

TEST(WaveTableCustom, SamplesEveryLevelKeepsHarmonicsBelowTheTruncatedLimit)
{
    long const n = 1024;
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSilence(0, n));
    Spectrum const s = RandomSpectrum(n / 2, 7);
    std::vector<float> const cycle = CustomCycle(n, s, 0.25, 0.1);
    ASSERT_TRUE(def.CreateWithSamples(2, cycle.data(), -1));
    EXPECT_EQ(def.GetKind(2), kWaveCustom);
    for (int m = 0; m < def.numLevels; ++m)
    {
        std::vector<Bin> const bins = NaiveDft(def.levels[m] + 2, 4, n);
        long const cut = long(CustomLimit(m, n));
        ASSERT_NEAR(bins[0].amp, 0.25, 1e-5) << m;            // the mean stays
        ASSERT_NEAR(bins[size_t(n / 2)].amp, 0.1, 1e-5) << m; // and the Nyquist term with it
        for (long h = 1; h < n / 2; ++h)
        {
            if (h < cut)
            {
                ASSERT_NEAR(bins[size_t(h)].amp, s.amps[size_t(h - 1)], 1e-5) << m << " " << h;
                ASSERT_LT(PhaseDistance(bins[size_t(h)].phase, s.phases[size_t(h - 1)]), 1e-3)
                    << m << " " << h;
            }
            else
            {
                ASSERT_NEAR(bins[size_t(h)].amp, 0.0, 1e-5) << m << " " << h;
            }
        }
    }
    // Level 127 (limit about 1.66) keeps only the mean and the Nyquist term.
    EXPECT_EQ(long(CustomLimit(127, n)), 1);
    // The other slots are untouched.
    std::vector<float> const silence = Slot(def, 0, 40);
    EXPECT_TRUE(std::all_of(silence.begin(), silence.end(), [](float v) { return v == 0.0f; }));
}

TEST(WaveTableCustom, SamplesReproduceWhatStaysAndHonourTheCallerLimit)
{
    long const n = 4096;
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSilence(0, n));
    Spectrum s = RandomSpectrum(n / 2, 11);
    for (long h = 100; h <= n / 2; ++h)
        s.amps[size_t(h - 1)] = 0.0f; // band-limited for level 0
    std::vector<float> const cycle = CustomCycle(n, s, -0.125, 0.0);
    ASSERT_TRUE(def.CreateWithSamples(1, cycle.data(), -1));
    std::vector<float> const level0 = Slot(def, 1, 0);
    for (long i = 0; i < n; ++i)
        ASSERT_NEAR(level0[size_t(i)], cycle[size_t(i)], 1e-5) << i;

    ASSERT_TRUE(def.CreateWithSamples(1, cycle.data(), 10));
    std::vector<Bin> const bins = NaiveDft(def.levels[0] + 1, 4, n);
    EXPECT_NEAR(bins[9].amp, s.amps[8], 1e-5);
    EXPECT_NEAR(bins[10].amp, 0.0, 1e-6);
    EXPECT_NEAR(bins[0].amp, 0.125, 1e-6);

    // Without storage nothing can be built.
    VectorMipOscWaveDef empty;
    EXPECT_FALSE(empty.CreateWithSamples(0, cycle.data(), -1));
    EXPECT_EQ(empty.GetKind(0), kWaveNone);
}

TEST(WaveTableCustom, IfftEveryLevelKeepsHarmonicsOneToTruncLimitLessOne)
{
    long const n = 1024;
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSilence(0, n));
    Spectrum const s = RandomSpectrum(256, 3);
    ASSERT_TRUE(def.CreateWithIFFT(3, 256, s.amps.data(), s.phases.data()));
    for (int m = 0; m < def.numLevels; ++m)
    {
        std::vector<Bin> const bins = NaiveDft(def.levels[m] + 3, 4, n);
        long const cut = long(std::min(CustomLimit(m, n), 256.0f));
        ASSERT_NEAR(bins[0].amp, 0.0, 1e-6);
        for (long h = 1; h <= n / 2; ++h)
        {
            double const expected = h < cut ? s.amps[size_t(h - 1)] : 0.0;
            ASSERT_NEAR(bins[size_t(h)].amp, expected, 1e-5) << m << " " << h;
            if (h < cut)
            {
                ASSERT_LT(PhaseDistance(bins[size_t(h)].phase, s.phases[size_t(h - 1)]), 1e-3);
            }
        }
    }
    // Level 127 is silent.
    std::vector<float> const top = Slot(def, 3, 127);
    EXPECT_TRUE(std::all_of(top.begin(), top.end(), [](float v) { return v == 0.0f; }));
}

TEST(WaveTableCustom, IfftAtInstrumentSizeKeepsHarmonicsOneTo255)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSilence(0, 4096));
    std::vector<float> amps(256, 0.01f);
    ASSERT_TRUE(def.CreateWithIFFT(0, 256, amps.data(), nullptr));
    std::vector<Bin> const bins = NaiveDft(def.levels[0], 4, 4096);
    EXPECT_NEAR(bins[1].amp, 0.01, 1e-6);
    EXPECT_NEAR(bins[255].amp, 0.01, 1e-6);
    EXPECT_NEAR(bins[256].amp, 0.0, 1e-7);
    EXPECT_LT(PhaseDistance(bins[17].phase, 0.0), 1e-3);
}

TEST(WaveTableCustom, NormalisePeak)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSine(0, 256));
    ASSERT_TRUE(def.CreateSaw(1, 256));
    std::vector<float> const before = Slot(def, 1, 50);
    std::vector<float> const original0 = Slot(def, 1, 0);
    float const peak0 = *std::max_element(original0.begin(), original0.end());
    def.NormalisePeak(1, 0.5f);
    EXPECT_EQ(def.GetKind(1), kWaveCustom);
    std::vector<float> const level0 = Slot(def, 1, 0);
    EXPECT_FLOAT_EQ(*std::max_element(level0.begin(), level0.end()), 0.5f);
    std::vector<float> const after = Slot(def, 1, 50);
    for (size_t i = 0; i < after.size(); ++i)
        EXPECT_FLOAT_EQ(after[i], before[i] * (0.5f / peak0));
    EXPECT_EQ(def.GetKind(0), kWaveSine);

    // A slot without a positive sample only becomes custom.
    ASSERT_TRUE(def.CreateSilence(2, 256));
    for (int m = 0; m < def.numLevels; ++m)
        for (long i = 0; i < 256; ++i)
            def.levels[m][size_t(i) * 4 + 2] = -0.25f;
    Snapshot const held = Take(def);
    def.NormalisePeak(2, 1.0f);
    EXPECT_EQ(def.GetKind(2), kWaveCustom);
    Snapshot now = Take(def);
    now.kinds[2] = held.kinds[2];
    EXPECT_TRUE(now == held);
}

TEST(WaveTableCustom, GetFFTData)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSilence(0, 4096));
    Spectrum const s = RandomSpectrum(256, 5);
    ASSERT_TRUE(def.CreateWithIFFT(2, 256, s.amps.data(), s.phases.data()));
    std::vector<float> amps(256, -1.0f), phases(256, -1.0f);
    def.GetFFTData(2, 256, amps.data(), phases.data());
    for (int e = 0; e < 255; ++e)
    { // harmonics 1 .. 255
        EXPECT_NEAR(amps[size_t(e)], s.amps[size_t(e)], 1e-5) << e;
        EXPECT_LT(PhaseDistance(phases[size_t(e)], s.phases[size_t(e)]), 1e-3) << e;
    }
    EXPECT_EQ(amps[255], -1.0f); // entry count - 1 is not written
    EXPECT_EQ(phases[255], -1.0f);
    def.GetFFTData(2, 256, nullptr, phases.data());
    def.GetFFTData(2, 256, amps.data(), nullptr);

    // More entries than bins: the rest are 0 up to entry count - 2.
    MipOscWaveDef small;
    ASSERT_TRUE(small.InitArray(16, 128));
    ASSERT_TRUE(small.CreateSaw(16));
    EXPECT_EQ(small.NumFFTHarmonics(), 7);
    std::vector<float> out(10, -1.0f);
    small.GetFFTData(10, out.data(), nullptr);
    for (int e = 0; e < 6; ++e)
        EXPECT_NEAR(out[size_t(e)], 1.0 / (e + 1), 1e-5) << e;
    for (int e = 6; e < 9; ++e)
        EXPECT_EQ(out[size_t(e)], 0.0f) << e;
    EXPECT_EQ(out[9], -1.0f);
}

// Storage and streams

TEST(WaveTableStorage, ShapeAlignmentAndInPlaceRebuild)
{
    VectorMipOscWaveDef def;
    EXPECT_FALSE(def.HasStorage());
    EXPECT_EQ(def.numLevels, 128);
    EXPECT_EQ(def.length, 0);
    ASSERT_TRUE(def.CreateSaw(0, 4096));
    ASSERT_TRUE(def.CreateSquare(2, 4096));
    for (int m = 0; m < def.numLevels; ++m)
        EXPECT_EQ(reinterpret_cast<uintptr_t>(def.levels[m]) % 64, 0u);
    float* const level5 = def.levels[5];
    std::vector<float> const square = Slot(def, 2, 5);
    ASSERT_TRUE(def.CreateSine(0, 4096)); // same shape: rewritten in place
    EXPECT_EQ(def.levels[5], level5);
    EXPECT_EQ(Slot(def, 2, 5), square);

    MipOscWaveDef one;
    ASSERT_TRUE(one.InitArray(16, 3));
    for (int m = 0; m < 3; ++m)
        EXPECT_EQ(reinterpret_cast<uintptr_t>(one.levels[m]) % 64, 0u);

    // Unsupported shapes and slots change nothing.
    Snapshot const held = Take(def);
    EXPECT_FALSE(def.CreateSaw(0, 3000));
    EXPECT_FALSE(def.CreateSaw(0, 0));
    EXPECT_FALSE(def.CreateSaw(0, 1L << 20));
    EXPECT_FALSE(def.CreateSaw(4, 4096));
    EXPECT_FALSE(def.CreateSaw(-1, 4096));
    EXPECT_FALSE(def.InitArray(4096, 0));
    EXPECT_FALSE(def.InitArray(4096, 129));
    EXPECT_TRUE(Take(def) == held);
}

TEST(WaveTableStorage, StreamBytesAndRoundTrip)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSaw(0, 4096));
    std::vector<float> cycle(4096);
    for (long i = 0; i < 4096; ++i)
        cycle[size_t(i)] = float(std::sin(kTwoPi * 3 * double(i) / 4096.0) * 0.7);
    ASSERT_TRUE(def.CreateWithSamples(2, cycle.data(), -1));

    std::string const saw = Saved(def, 0);
    EXPECT_EQ(saw, StreamHeader(1.0f, 4096, 128, 2));
    std::string const custom = Saved(def, 2);
    ASSERT_EQ(custom.size(), 16u + 4096u * 4u);
    EXPECT_EQ(custom.substr(0, 16), StreamHeader(1.0f, 4096, 128, 5));
    float sample;
    std::memcpy(&sample, custom.data() + 16 + 4 * 100, 4);
    EXPECT_EQ(sample, def.levels[0][100 * 4 + 2]);

    VectorMipOscWaveDef copy;
    ASSERT_TRUE(LoadFrom(copy, 0, saw));
    ASSERT_TRUE(LoadFrom(copy, 3, custom));
    EXPECT_EQ(copy.GetKind(0), kWaveSaw);
    EXPECT_EQ(copy.GetKind(3), kWaveCustom);
    ASSERT_NE(copy.reverseTable, nullptr);
    for (int m : {0, 40, 127})
    {
        std::vector<float> const a = Slot(def, 2, m), b = Slot(copy, 3, m);
        for (size_t i = 0; i < a.size(); ++i)
            ASSERT_NEAR(a[i], b[i], 1e-6) << m << " " << i;
        EXPECT_EQ(Slot(def, 0, m), Slot(copy, 0, m));
    }

    // A loaded custom wave saves back to the very same bytes, however often it goes round.
    EXPECT_EQ(Saved(copy, 3), custom);

    // The one-wave form reads a four-wave slot's stream and writes the same stream back.
    MipOscWaveDef one;
    ASSERT_TRUE(LoadFrom(one, custom));
    EXPECT_EQ(one.GetKind(), kWaveCustom);
    std::string const oneBytes = Saved(one);
    EXPECT_EQ(oneBytes, custom);
    VectorMipOscWaveDef back;
    ASSERT_TRUE(LoadFrom(back, 1, oneBytes));
    EXPECT_EQ(Saved(back, 1), oneBytes);
}

TEST(WaveTableStorage, UnchangedStandardKindIsNotRebuiltCustomAlwaysIs)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSaw(1, 4096));
    std::string const saw = Saved(def, 1);
    def.levels[7][1] = 42.0f; // a marker a rebuild would overwrite
    ASSERT_TRUE(LoadFrom(def, 1, saw));
    EXPECT_EQ(def.levels[7][1], 42.0f);

    ASSERT_TRUE(def.CreateWithIFFT(1, 4, std::vector<float>{1, 0.5f, 0.25f, 0}.data(), nullptr));
    std::string const custom = Saved(def, 1);
    def.levels[7][1] = 42.0f;
    ASSERT_TRUE(LoadFrom(def, 1, custom));
    EXPECT_NE(def.levels[7][1], 42.0f);

    // A different kind is rebuilt.
    ASSERT_TRUE(LoadFrom(def, 1, StreamHeader(1.0f, 4096, 128, 3)));
    EXPECT_EQ(def.GetKind(1), kWaveSquare);
    CheckShapeLevel(def, 1, 30, kWaveSquare);
}

TEST(WaveTableStorage, CorruptShapesAreRefusedAndTheObjectKept)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSaw(0, 256));
    ASSERT_TRUE(def.CreateSine(1, 256));
    std::vector<float> cycle(256, 0.0f);
    cycle[3] = 1.0f;
    ASSERT_TRUE(def.CreateWithSamples(2, cycle.data(), -1));
    Snapshot const held = Take(def);

    std::string const truncatedCustom = StreamHeader(1.0f, 256, 128, 5) + std::string(100 * 4, '\0');
    std::vector<std::pair<char const*, std::string>> const streams = {
        {"length 0", StreamHeader(1.0f, 0, 128, 2)},
        {"negative length", StreamHeader(1.0f, -4096, 128, 2)},
        {"length not a power of two", StreamHeader(1.0f, 3000, 128, 2)},
        {"length too small", StreamHeader(1.0f, 8, 128, 2)},
        {"length too large", StreamHeader(1.0f, 1 << 20, 128, 5)},
        {"length 2^31 - 1", StreamHeader(1.0f, 0x7FFFFFFF, 128, 1)},
        {"levels 0", StreamHeader(1.0f, 4096, 0, 2)},
        {"levels negative", StreamHeader(1.0f, 4096, -1, 2)},
        {"levels 129", StreamHeader(1.0f, 4096, 129, 2)},
        {"kind 6", StreamHeader(1.0f, 4096, 128, 6)},
        {"kind -1", StreamHeader(1.0f, 4096, 128, -1)},
        {"custom samples cut short", truncatedCustom},
        {"header cut short", StreamHeader(1.0f, 256, 128, 2).substr(0, 10)},
        {"empty", std::string()},
    };
    for (auto const& [name, bytes] : streams)
    {
        EXPECT_FALSE(LoadFrom(def, 1, bytes)) << name;
        EXPECT_TRUE(Take(def) == held) << name;
    }
    EXPECT_FALSE(LoadFrom(def, 4, StreamHeader(1.0f, 256, 128, 2)));
    EXPECT_TRUE(Take(def) == held);
}

TEST(WaveTableStorage, AnotherSupportedShapeReshapesTheOtherSlots)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSaw(0, 4096));
    std::vector<float> amps = {1.0f, 0.5f};
    ASSERT_TRUE(def.CreateWithIFFT(1, 2, amps.data(), nullptr));
    ASSERT_TRUE(def.CreateSquare(2, 4096));
    ASSERT_TRUE(def.CreateSilence(3, 4096));

    ASSERT_TRUE(LoadFrom(def, 3, StreamHeader(1.0f, 1024, 64, 1)));
    EXPECT_EQ(def.length, 1024);
    EXPECT_EQ(def.numLevels, 64);
    EXPECT_FLOAT_EQ(def.reverseScale, 88200.0f / 1024.0f);
    EXPECT_EQ(def.LevelForIncrement(1e9f), 63);
    EXPECT_EQ(def.GetKind(0), kWaveSaw);
    EXPECT_EQ(def.GetKind(1), kWaveSilence); // a custom cycle can't follow a new length
    EXPECT_EQ(def.GetKind(2), kWaveSquare);
    EXPECT_EQ(def.GetKind(3), kWaveSine);
    CheckShapeLevel(def, 0, 20, kWaveSaw);
    CheckShapeLevel(def, 2, 63, kWaveSquare);
    std::vector<float> const cleared = Slot(def, 1, 0);
    EXPECT_TRUE(std::all_of(cleared.begin(), cleared.end(), [](float v) { return v == 0.0f; }));
    EXPECT_NEAR(def.levels[10][256 * 4 + 3], 1.0f, 1e-6); // the sine's peak
}

// Import

class WaveTableImport : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("torvane_wt_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A PCM file of the given frames (one value per channel and frame, -1 .. 1).
    std::string WriteWav(char const* name, int channels, int bits, std::vector<float> const& values)
    {
        std::string data;
        for (float v : values)
        {
            long const scale = bits == 16 ? 32767 : 8388607;
            long const s = std::lround(double(v) * double(scale));
            for (int b = 0; b < bits / 8; ++b)
                data.push_back(char((uint32_t(s) >> (8 * b)) & 0xFF));
        }
        std::string file = "RIFF";
        PutLe32(file, uint32_t(4 + 8 + 16 + 8 + data.size()));
        file += "WAVEfmt ";
        PutLe32(file, 16);
        PutLe32(file, 1u | (uint32_t(channels) << 16));
        PutLe32(file, 44100);
        PutLe32(file, uint32_t(44100 * channels * bits / 8));
        PutLe32(file, uint32_t(channels * bits / 8) | (uint32_t(bits) << 16));
        file += "data";
        PutLe32(file, uint32_t(data.size()));
        file += data;
        std::string const path = (dir / name).string();
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
        return path;
    }

    fs::path dir;
};

TEST_F(WaveTableImport, PeriodicSoundBecomesItsHarmonics)
{
    // 64 cycles in 32768 frames of a wave with harmonics 1 and 3 (amplitudes 0.6, 0.2).
    std::vector<float> values;
    for (long i = 0; i < 32768; ++i)
    {
        double const x = kTwoPi * 64.0 * double(i) / 32768.0;
        values.push_back(float(0.6 * std::sin(x) + 0.2 * std::sin(3 * x)));
    }
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSaw(0, 4096));
    ASSERT_EQ(def.Import(1, WriteWav("mono16.wav", 1, 16, values).c_str()), 1);
    EXPECT_EQ(def.GetKind(1), kWaveCustom);
    std::vector<Bin> const bins = NaiveDft(def.levels[0] + 1, 4, 4096);
    // The window spreads each harmonic over neighbouring bins, all gathered into it.
    EXPECT_GT(bins[1].amp, 0.2);
    EXPECT_NEAR(bins[3].amp / bins[1].amp, 1.0 / 3.0, 0.03);
    EXPECT_LT(bins[2].amp, 0.02 * bins[1].amp);
    for (long h = 4; h < 2048; ++h)
        ASSERT_LT(bins[size_t(h)].amp, 0.02 * bins[1].amp) << h;

    def.NormalisePeak(1, 1.0f);
    std::vector<float> const level0 = Slot(def, 1, 0);
    EXPECT_FLOAT_EQ(*std::max_element(level0.begin(), level0.end()), 1.0f);
    CheckShapeLevel(def, 0, 0, kWaveSaw); // the other slots are untouched
}

TEST_F(WaveTableImport, StereoIsAveragedAndShortFilesZeroPadded)
{
    // 8192 stereo frames of one 32-cycle sine: the analysis sees it padded with zeros.
    std::vector<float> same, opposite;
    for (long i = 0; i < 8192; ++i)
    {
        float const v = float(0.5 * std::sin(kTwoPi * 32.0 * double(i) / 8192.0));
        same.insert(same.end(), {v, v});
        opposite.insert(opposite.end(), {v, -v});
    }
    MipOscWaveDef def;
    ASSERT_TRUE(def.CreateSilence(4096));
    ASSERT_EQ(def.Import(WriteWav("same.wav", 2, 24, same).c_str()), 1);
    EXPECT_EQ(def.GetKind(), kWaveCustom);
    std::vector<Bin> const bins = NaiveDft(def.levels[0], 1, 4096);
    for (long h = 2; h < 2048; ++h)
        ASSERT_LT(bins[size_t(h)].amp, bins[1].amp) << h;

    // Channels in opposite phase average to silence.
    ASSERT_EQ(def.Import(WriteWav("opposite.wav", 2, 24, opposite).c_str()), 1);
    std::vector<float> const level0(def.levels[0], def.levels[0] + 4096);
    EXPECT_TRUE(std::all_of(level0.begin(), level0.end(), [](float v) { return v == 0.0f; }));
}

TEST_F(WaveTableImport, SilenceOrNoSpacingGivesSilentCustom)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSaw(2, 4096));
    ASSERT_EQ(def.Import(2, WriteWav("silent.wav", 1, 16, std::vector<float>(5000, 0.0f)).c_str()), 1);
    EXPECT_EQ(def.GetKind(2), kWaveCustom);
    for (int m : {0, 64})
    {
        std::vector<float> const s = Slot(def, 2, m);
        EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](float v) { return v == 0.0f; })) << m;
    }

    // One cycle over the whole analysis: the first peak lies in bin 1.
    std::vector<float> one;
    for (long i = 0; i < 32768; ++i)
        one.push_back(float(0.5 * std::sin(kTwoPi * double(i) / 32768.0)));
    ASSERT_TRUE(def.CreateSaw(2, 4096));
    ASSERT_EQ(def.Import(2, WriteWav("bin1.wav", 1, 16, one).c_str()), 1);
    std::vector<float> const s = Slot(def, 2, 0);
    EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](float v) { return v == 0.0f; }));
}

TEST_F(WaveTableImport, UnreadableFileChangesNothing)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSaw(0, 256));
    Snapshot const held = Take(def);
    EXPECT_EQ(def.Import(0, (dir / "absent.wav").string().c_str()), 0);
    EXPECT_EQ(def.Import(0, dir.string().c_str()), 0);
    EXPECT_TRUE(Take(def) == held);
    VectorMipOscWaveDef empty;
    EXPECT_EQ(empty.Import(0, WriteWav("x.wav", 1, 16, {0.5f}).c_str()), 0);
}

TEST_F(WaveTableImport, OnlyDepthsTheReaderConvertsAndFilesWithACycleAreImported)
{
    std::vector<float> sine;
    for (long i = 0; i < 4096; ++i)
        sine.push_back(float(0.5 * std::sin(kTwoPi * 16.0 * double(i) / 4096.0)));
    struct Case
    {
        char const* name;
        int channels;
        int bits;
        std::vector<float> values;
        bool imported;
    };
    Case const cases[] = {
        {"8.wav", 1, 8, sine, true},
        {"16.wav", 1, 16, sine, true},
        {"24.wav", 2, 24, sine, true},
        {"32.wav", 1, 32, sine, false},
        {"two.wav", 1, 16, {0.5f, -0.5f}, true},
        {"one.wav", 1, 16, {0.5f}, false},
        {"none.wav", 1, 16, {}, false},
        {"three.wav", 3, 16, sine, false},
    };
    for (Case const& c : cases)
    {
        VectorMipOscWaveDef def;
        ASSERT_TRUE(def.CreateSaw(0, 256));
        Snapshot const held = Take(def);
        EXPECT_EQ(def.Import(0, WriteWav(c.name, c.channels, c.bits, c.values).c_str()), c.imported ? 1 : 0)
            << c.name;
        if (!c.imported)
        {
            EXPECT_TRUE(Take(def) == held) << c.name;
        }
    }
}

// Plain cycles

TEST(OscWaveDefTest, PlainCycles)
{
    OscWaveDef def;
    EXPECT_EQ(def.table, nullptr);
    EXPECT_EQ(def.length, 0);
    def.CreateSquare(5);
    ASSERT_EQ(def.length, 5);
    EXPECT_EQ(std::vector<float>(def.table.get(), def.table.get() + 5), (std::vector<float>{1, 1, 0, 0, 0}));
    def.CreateSaw(4);
    EXPECT_EQ(std::vector<float>(def.table.get(), def.table.get() + 4),
              (std::vector<float>{1.0f, 0.5f, 0.0f, -0.5f}));
    def.CreateSaw(44100);
    EXPECT_NEAR(def.table[44099], 2.0f / 44100.0f - 1.0f, 1e-3f); // single-precision steps drift
    def.CreateSine(4096);
    for (long i = 0; i < 4096; i += 97)
        EXPECT_NEAR(def.table[i], std::sin(kTwoPi * double(i) / 4096.0), 1e-6);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Stored format of a slot, written out by hand.

namespace
{
// float 1.0, long length, int levels, int kind, as little-endian bytes.
std::string HandHeader(std::string const& length, std::string const& levels, std::string const& kind)
{
    return std::string("\x00\x00\x80\x3f", 4) + length + levels + kind;
}
} // namespace

TEST(WaveTableFormat, CustomSlotIsItsLevelZeroCycleInOrder)
{
    // Length 16, 128 levels, kind 5, then sample i = i / 8 - 1 (-1, -0.875, ..., 0.875).
    std::string stored = HandHeader(std::string("\x10\x00\x00\x00", 4), std::string("\x80\x00\x00\x00", 4),
                                    std::string("\x05\x00\x00\x00", 4));
    for (int i = 0; i < 16; ++i)
    {
        float const v = float(i) / 8.0f - 1.0f;
        unsigned char b[4];
        std::memcpy(b, &v, 4);
        stored.append(reinterpret_cast<char const*>(b), 4);
    }
    EXPECT_EQ(stored.substr(16, 8), std::string("\x00\x00\x80\xbf\x00\x00\x60\xbf", 8));

    VectorMipOscWaveDef def;
    ASSERT_TRUE(LoadFrom(def, 2, stored));
    ASSERT_EQ(def.length, 16);
    EXPECT_EQ(def.GetKind(2), kWaveCustom);
    // Level 0 holds the stored cycle itself, in slot 2 of every group of four.
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(def.levels[0][4 * i + 2], float(i) / 8.0f - 1.0f) << i;
    EXPECT_EQ(Saved(def, 2), stored);

    // The one-wave form stores the same bytes.
    MipOscWaveDef one;
    ASSERT_TRUE(LoadFrom(one, stored));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(one.levels[0][i], float(i) / 8.0f - 1.0f) << i;
    EXPECT_EQ(Saved(one), stored);
}

TEST(WaveTableFormat, StandardKindsStoreOnlyTheHeader)
{
    VectorMipOscWaveDef def;
    ASSERT_TRUE(def.CreateSine(0, 4096));
    ASSERT_TRUE(def.CreateSquare(1, 4096));
    ASSERT_TRUE(def.CreateSilence(2, 4096));
    std::string const length("\x00\x10\x00\x00", 4); // 4096
    std::string const levels("\x80\x00\x00\x00", 4); // 128
    EXPECT_EQ(Saved(def, 0), HandHeader(length, levels, std::string("\x01\x00\x00\x00", 4)));
    EXPECT_EQ(Saved(def, 1), HandHeader(length, levels, std::string("\x03\x00\x00\x00", 4)));
    EXPECT_EQ(Saved(def, 2), HandHeader(length, levels, std::string("\x04\x00\x00\x00", 4)));
    EXPECT_EQ(Saved(def, 3), HandHeader(length, levels, std::string("\x00\x00\x00\x00", 4)));

    // A stored kind 0 ("nothing built") reads back as kind 0 and rebuilds nothing.
    VectorMipOscWaveDef other;
    ASSERT_TRUE(other.CreateSaw(3, 4096));
    ASSERT_TRUE(LoadFrom(other, 3, Saved(def, 3)));
    EXPECT_EQ(other.GetKind(3), kWaveNone);
    EXPECT_EQ(Saved(other, 3), Saved(def, 3));
}

TEST(WaveTableSwap, TablesTradeTheirWholeContentAndStayUsable)
{
    VectorMipOscWaveDef a;
    VectorMipOscWaveDef b;
    ASSERT_TRUE(a.CreateSaw(0, 2048));
    ASSERT_TRUE(b.InitArray(4096, 64));
    std::vector<float> amps(30, 0.5f);
    ASSERT_TRUE(b.CreateWithIFFT(3, 30, amps.data(), nullptr));
    float const* aLevels = a.levels[0];
    float const* bLevels = b.levels[0];
    int const bLevel = b.LevelForIncrement(3.0f);

    a.Swap(b);
    EXPECT_EQ(a.length, 4096);
    EXPECT_EQ(a.numLevels, 64);
    EXPECT_EQ(a.GetKind(3), kWaveCustom);
    EXPECT_EQ(a.levels[0], bLevels);
    EXPECT_EQ(a.LevelForIncrement(3.0f), bLevel);
    EXPECT_EQ(b.length, 2048);
    EXPECT_EQ(b.GetKind(0), kWaveSaw);
    EXPECT_EQ(b.levels[0], aLevels);

    // Each goes on building at its own length with the transform it took along.
    ASSERT_TRUE(b.CreateWithIFFT(1, 30, amps.data(), nullptr));
    ASSERT_TRUE(a.CreateWithIFFT(1, 30, amps.data(), nullptr));
    for (long i = 0; i < 16; ++i)
        EXPECT_NEAR(b.levels[0][4 * i * 2 + 1], a.levels[0][4 * i * 4 + 1], 1e-5f) << i;
}

TEST(WaveTableBounds, BuildersKeepEverySampleStorable)
{
    VectorMipOscWaveDef w;
    ASSERT_TRUE(w.InitArray(1024, 32));
    std::vector<float> loud(100, 1.0e7f);
    ASSERT_TRUE(w.CreateWithIFFT(0, 100, loud.data(), nullptr));
    std::vector<float> nan(10, std::numeric_limits<float>::quiet_NaN());
    ASSERT_TRUE(w.CreateWithIFFT(1, 10, nan.data(), nullptr));
    std::vector<float> edge(1024, MipWaveTable::kMaxStoredSample);
    for (std::size_t i = 0; i < edge.size(); i += 2)
        edge[i] = -MipWaveTable::kMaxStoredSample;
    ASSERT_TRUE(w.CreateWithSamples(2, edge.data(), -1));
    std::vector<float> one(5, 1.0f);
    ASSERT_TRUE(w.CreateWithIFFT(3, 5, one.data(), nullptr));
    w.NormalisePeak(3, std::numeric_limits<float>::max());
    for (int m = 0; m < w.numLevels; ++m)
        for (long i = 0; i < 4 * w.length; ++i)
            ASSERT_TRUE(MipWaveTable::IsStorableSample(w.levels[m][i])) << m << " " << i;

    // What is held is what a load takes back.
    String stored;
    StringWriter out;
    out.Open(&stored);
    for (int slot = 0; slot < 4; ++slot)
        w.Save(slot, out, 1.0f);
    StringReader in;
    in.Open(stored, static_cast<std::size_t>(stored.GetLength()));
    VectorMipOscWaveDef back;
    for (int slot = 0; slot < 4; ++slot)
        EXPECT_TRUE(back.Load(slot, in)) << slot;
    for (long i = 0; i < 4 * w.length; ++i)
        ASSERT_EQ(back.levels[0][i], w.levels[0][i]) << i;
}

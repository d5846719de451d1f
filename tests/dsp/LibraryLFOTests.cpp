#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dsp/LibraryLFO.h"

namespace
{

constexpr double kTwoPi = 6.28318530717958647692;

// One block of `chunks` values.
std::vector<float> Block(LFO& lfo, int chunks)
{
    ModulationValues* v = lfo.CalculateModulation(static_cast<unsigned>(chunks - 1) * 64u, chunks, 0);
    EXPECT_EQ(v->count, chunks);
    return std::vector<float>(v->values, v->values + chunks);
}

double FreeIncrement(double rate, double sr = 44100.0)
{
    double const d = std::log(120.0) - std::log(rate);
    return kTwoPi * 64.0 / (d * d * sr * 0.5);
}

// A target with one input, to see what a matrix row hands over.
class Target : public ModulationTarget
{
public:
    Target() : ModulationTarget(1) {}
};

} // namespace

TEST(LibraryLFO, ParametersAfterConstruction)
{
    LFO lfo;
    std::vector<std::string> keys;
    for (long i = 0; i < lfo.GetNumInternalParameters(false); ++i)
        keys.emplace_back(lfo.FindInternalParameter(i)->GetName());
    EXPECT_EQ(keys, (std::vector<std::string>{"LFO_ENABLED", "LFO_RATE", "LFO_DEPTH", "LFO_SYNC",
                                              "LFO_LOOSENESS", "LFO_DELAY", "LFO_TYPE"}));
    EXPECT_FLOAT_EQ(lfo.enabled, 0.0f);
    EXPECT_FLOAT_EQ(lfo.rateParam, 50.0f);
    EXPECT_FLOAT_EQ(lfo.depthParam, 100.0f);
    EXPECT_EQ(lfo.type.GetType(), Parameter::Discrete);
    EXPECT_TRUE(lfo.rateParam.GetModulationBypass());
    EXPECT_TRUE(lfo.depthParam.GetModulationBypass());
    EXPECT_FALSE(lfo.IsOutputEnabled(0));
    EXPECT_FLOAT_EQ(lfo.GetPhase(), 0.0f);
    EXPECT_FLOAT_EQ(lfo.GetDepth(), 1.0f);
    EXPECT_FLOAT_EQ(lfo.GetFadeGain(), 1.0f);
    EXPECT_NEAR(lfo.GetBaseIncrement(), FreeIncrement(50.0), 1e-6);
}

TEST(LibraryLFO, DisabledLfoDeactivatesItsTarget)
{
    LFO lfo;
    Target target;
    ModulationMatrix matrix;
    matrix.Init(1);
    matrix.SetMapping(0, &lfo, 0, 1, &target, 0, 1);
    matrix.GetMap(0)->amount = 1.0f;
    matrix.DoModulations(256);
    EXPECT_FALSE(target.GetModValues(0)->active);

    lfo.enabled = 1.0f;
    lfo.type = 1.0f; // square: +1 in the first half cycle
    matrix.DoModulations(256);
    EXPECT_TRUE(target.GetModValues(0)->active);
    EXPECT_FLOAT_EQ(target.GetModValues(0)->values[0], 1.0f);
}

TEST(LibraryLFO, FreeRunningCycleLength)
{
    LFO lfo;
    for (float rate : {1.0f, 10.0f, 50.0f, 99.0f})
    {
        lfo.rateParam = rate;
        EXPECT_NEAR(lfo.GetBaseIncrement(), FreeIncrement(rate), 1e-5 * FreeIncrement(rate)) << rate;
        EXPECT_FLOAT_EQ(lfo.GetIncrement(), lfo.GetBaseIncrement());
    }
    // About 11.5 s at rate 1 and 0.0185 s at rate 99.
    lfo.rateParam = 1.0f;
    EXPECT_NEAR(64.0 * kTwoPi / lfo.GetBaseIncrement() / 44100.0, 11.46, 0.01);
    lfo.rateParam = 99.0f;
    EXPECT_NEAR(64.0 * kTwoPi / lfo.GetBaseIncrement() / 44100.0, 0.0185, 0.0001);

    // A new sample rate keeps the cycle length in seconds.
    SampleRateSource source;
    source.AddSampleRateListener(&lfo);
    source.SetSourceSampleRate(48000.0f);
    EXPECT_NEAR(lfo.GetBaseIncrement(), FreeIncrement(99.0, 48000.0), 1e-5 * FreeIncrement(99.0, 48000.0));
}

TEST(LibraryLFO, SyncedTwoCyclesPerBeatAt120)
{
    LFO lfo;
    lfo.enabled = 1.0f;
    lfo.type = 2.0f; // saw: falls from 1 to -1, jumps up at every wrap
    lfo.sync = 1.0f;
    lfo.rateParam = 50.0f;                     // 0.08 x 50 = 4: two cycles per beat
    double const period = 44100.0 / 2.0 / 2.0; // samples
    EXPECT_NEAR(lfo.GetBaseIncrement(), kTwoPi * 64.0 / period, 1e-6);

    // Count wraps over many cycles.
    std::vector<long> wraps;
    float previous = 2.0f;
    long chunk = 0;
    for (int block = 0; block < 200; ++block)
    {
        std::vector<float> v = Block(lfo, 128);
        for (size_t i = 1; i < v.size(); ++i, ++chunk)
        {
            if (v[i] > previous) wraps.push_back(chunk);
            previous = v[i];
        }
    }
    ASSERT_GE(wraps.size(), 101u);
    double const measured = static_cast<double>(wraps[100] - wraps[0]) * 64.0 / 100.0;
    EXPECT_NEAR(measured, period, 1.0);

    // At 60 beats per minute the cycle doubles.
    TempoSource tempo;
    tempo.AddTempoListener(&lfo);
    tempo.SetSourceTempo(60.0f);
    EXPECT_NEAR(lfo.GetBaseIncrement(), kTwoPi * 64.0 / (2.0 * period), 1e-6);
}

TEST(LibraryLFO, SyncedDivisions)
{
    LFO lfo;
    lfo.sync = 1.0f;
    struct Case
    {
        float rate;
        double cyclesPerBeat;
    };
    for (Case c :
         {Case{1.0f, 0.125}, Case{10.0f, 0.25}, Case{25.0f, 0.5}, Case{40.0f, 1.0}, Case{50.0f, 2.0},
          Case{60.0f, 4.0}, Case{70.0f, 8.0}, Case{80.0f, 8.0}, Case{90.0f, 16.0}, Case{99.0f, 32.0}})
    {
        lfo.rateParam = c.rate;
        EXPECT_NEAR(lfo.GetBaseIncrement(), 64.0 * kTwoPi / (44100.0 / (2.0 * c.cyclesPerBeat)), 1e-6)
            << c.rate;
    }
}

TEST(LibraryLFO, ShapesAndDepth)
{
    LFO lfo;
    lfo.enabled = 1.0f;
    lfo.type = 2.0f;
    EXPECT_FLOAT_EQ(Block(lfo, 1)[0], 1.0f); // saw at phase 0

    lfo.Reset(0);
    lfo.type = 1.0f;
    lfo.depthParam = 40.0f;
    lfo.rateParam = 99.0f;
    std::vector<float> square = Block(lfo, 128);
    for (float v : square)
        ASSERT_TRUE(v == 0.4f || v == -0.4f) << v;

    lfo.Reset(0);
    lfo.type = 0.0f;
    lfo.depthParam = 100.0f;
    lfo.rateParam = 20.0f;
    std::vector<float> sine = Block(lfo, 64);
    double const inc = lfo.GetBaseIncrement();
    for (size_t c = 0; c < sine.size(); ++c)
        ASSERT_NEAR(sine[c], std::sin(std::fmod(c * inc, kTwoPi)), 1e-4) << c;
}

TEST(LibraryLFO, RandomStepsChangeOnlyAtWraps)
{
    LFO lfo;
    lfo.enabled = 1.0f;
    lfo.type = 3.0f;
    lfo.rateParam = 99.0f;
    std::vector<float> v = Block(lfo, 128);
    EXPECT_FLOAT_EQ(v[0], 0.0f);
    int changes = 0;
    for (size_t i = 1; i < v.size(); ++i)
    {
        ASSERT_GE(v[i], -1.0f);
        ASSERT_LE(v[i], 1.0f);
        changes += v[i] != v[i - 1];
    }
    // Rate 99: a cycle of about 12.8 chunks, so about 10 new levels in 128 chunks.
    EXPECT_GE(changes, 7);
    EXPECT_LE(changes, 10);
}

TEST(LibraryLFO, RateAndDepthModulation)
{
    LFO lfo;
    lfo.enabled = 1.0f;
    lfo.type = 1.0f;
    lfo.depthParam = 50.0f;
    ModulationValues* depthMod = lfo.depthParam.GetModValues(0);
    depthMod->active = true;
    std::fill(depthMod->values, depthMod->values + ModulationValues::kMaxValues, 0.25f); // u 0.5: x 1.5
    std::vector<float> v = Block(lfo, 4);
    EXPECT_FLOAT_EQ(v[0], 0.5f); // the first value comes from the state before the block
    EXPECT_FLOAT_EQ(v[1], 0.75f);
    std::fill(depthMod->values, depthMod->values + ModulationValues::kMaxValues, -0.5f); // u -1: x 1/2
    v = Block(lfo, 4);
    EXPECT_FLOAT_EQ(v[1], 0.25f);
    depthMod->active = false;

    ModulationValues* rateMod = lfo.rateParam.GetModValues(0);
    rateMod->active = true;
    std::fill(rateMod->values, rateMod->values + ModulationValues::kMaxValues, 0.5f); // u 1: twice the speed
    Block(lfo, 2);
    EXPECT_FLOAT_EQ(lfo.GetIncrement(), 2.0f * lfo.GetBaseIncrement());

    // A huge modulation makes steps of many cycles: the phase is still wrapped into 0 .. 2 pi.
    std::fill(rateMod->values, rateMod->values + ModulationValues::kMaxValues, 1.0e6f);
    for (int block = 0; block < 10; ++block)
    {
        for (float x : Block(lfo, 129))
            ASSERT_TRUE(std::isfinite(x));
        ASSERT_GE(lfo.GetPhase(), 0.0f);
        ASSERT_LE(lfo.GetPhase(), static_cast<float>(kTwoPi));
    }

    // Values that are not finite change nothing.
    float const depth = lfo.GetDepth();
    std::fill(rateMod->values, rateMod->values + ModulationValues::kMaxValues, INFINITY);
    depthMod->active = true;
    std::fill(depthMod->values, depthMod->values + ModulationValues::kMaxValues, NAN);
    for (float x : Block(lfo, 64))
        ASSERT_TRUE(std::isfinite(x));
    EXPECT_TRUE(std::isfinite(lfo.GetIncrement()));
    EXPECT_TRUE(std::isfinite(lfo.GetPhase()));
    EXPECT_EQ(lfo.GetDepth(), depth);
}

TEST(LibraryLFO, DelayFadesIn)
{
    LFO lfo;
    lfo.enabled = 1.0f;
    lfo.type = 1.0f;
    lfo.rateParam = 1.0f; // slow: the square stays +1 during the fade
    lfo.delay = 50.0f;
    lfo.Retrigger(0);
    EXPECT_FLOAT_EQ(lfo.GetFadeGain(), 0.0f);
    double const l = std::log(50.0);
    double const step = 64.0 / (44100.0 * l * l * 0.5);
    EXPECT_NEAR(lfo.GetFadeIncrement(), step, 1e-9);
    std::vector<float> v = Block(lfo, 100);
    for (size_t c = 0; c < v.size(); ++c)
        ASSERT_NEAR(v[c], std::min(1.0, c * step), 1e-5) << c;
    for (int block = 0; block < 200; ++block)
        Block(lfo, 128);
    EXPECT_FLOAT_EQ(lfo.GetFadeGain(), 1.0f);
    EXPECT_FLOAT_EQ(lfo.GetFadeIncrement(), 0.0f);
}

TEST(LibraryLFO, DelayOfOneCompletesAtOnce)
{
    LFO lfo;
    lfo.enabled = 1.0f;
    lfo.type = 1.0f;
    lfo.delay = 1.0f; // ln 1 = 0: the fade would take no time at all
    lfo.Retrigger(0);
    EXPECT_FLOAT_EQ(lfo.GetFadeGain(), 1.0f);
    EXPECT_FLOAT_EQ(lfo.GetFadeIncrement(), 0.0f);
    for (int block = 0; block < 20; ++block)
    {
        for (float v : Block(lfo, 65))
        {
            ASSERT_TRUE(std::isfinite(v));
            ASSERT_LE(std::fabs(v), 1.0f);
        }
    }
}

TEST(LibraryLFO, RetriggerWithoutDelayKeepsThePhase)
{
    LFO lfo;
    lfo.enabled = 1.0f;
    Block(lfo, 50);
    float const phase = lfo.GetPhase();
    lfo.Retrigger(1000);
    EXPECT_FLOAT_EQ(lfo.GetPhase(), phase);
    EXPECT_FLOAT_EQ(lfo.GetFadeGain(), 1.0f);
}

TEST(LibraryLFO, SyncedRetriggerAlignsThePhase)
{
    LFO lfo;
    lfo.sync = 1.0f;
    lfo.rateParam = 50.0f; // b = 4: the fade lasts 1/16 s
    lfo.delay = 10.0f;
    lfo.Retrigger(640);
    double expected = std::fmod(-(640.0 / 64.0) * lfo.GetBaseIncrement(), kTwoPi);
    if (expected < 0.0) expected += kTwoPi;
    EXPECT_NEAR(lfo.GetPhase(), expected, 1e-4);
    EXPECT_NEAR(lfo.GetFadeIncrement(), 64.0 / (44100.0 / 16.0), 1e-7);
    EXPECT_FLOAT_EQ(lfo.GetFadeGain(), 0.0f);
}

TEST(LibraryLFO, Looseness)
{
    // Looseness 0: every cycle at the set rate.
    LFO steady;
    steady.enabled = 1.0f;
    steady.rateParam = 99.0f;
    float const base = steady.GetBaseIncrement();
    for (int block = 0; block < 10; ++block)
        Block(steady, 128);
    EXPECT_FLOAT_EQ(steady.GetBaseIncrement(), base);

    // Full looseness: each cycle between rate / 2 and rate x 2, never beyond the rate range.
    LFO loose;
    loose.enabled = 1.0f;
    loose.looseness = 100.0f;
    loose.rateParam = 99.0f;
    float lowest = 1e30f, highest = 0.0f;
    for (int block = 0; block < 100; ++block)
    {
        for (float v : Block(loose, 128))
            ASSERT_TRUE(std::isfinite(v));
        lowest = std::min(lowest, loose.GetBaseIncrement());
        highest = std::max(highest, loose.GetBaseIncrement());
        ASSERT_GE(loose.GetPhase(), 0.0f);
        ASSERT_LE(loose.GetPhase(), static_cast<float>(kTwoPi));
    }
    EXPECT_GE(lowest, FreeIncrement(49.5) * 0.999);
    EXPECT_LE(highest, FreeIncrement(99.0) * 1.001);
    EXPECT_LT(lowest, FreeIncrement(80.0));
    EXPECT_FLOAT_EQ(loose.rateParam, 99.0f);
}

#include "engine/TNoiseOsc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>
#include <vector>

namespace
{

void Line(Envelope& e, float t0, float v0, float t1, float v1)
{
    e.Clear();
    e.AddBreakpoint(t0, v0);
    e.AddBreakpoint(t1, v1);
}

void Steady(TNoiseOsc& osc, float frames, float gain, float pan)
{
    Line(osc.amplitude, 0.0f, gain, frames, gain);
    Line(osc.pan, 0.0f, pan, frames, pan);
}

struct Stereo
{
    explicit Stereo(long n, float fill = 0.0f)
        : left(static_cast<size_t>(n), fill), right(static_cast<size_t>(n), fill)
    {
    }
    void Render(TNoiseOsc& osc, long n, long offset = 0)
    {
        osc.RenderStereo(nullptr, nullptr, left.data() + offset, right.data() + offset, n);
    }
    std::vector<float> left;
    std::vector<float> right;
};

// A whole table's worth of noise at gain 1, centred, in blocks of 512.
Stereo PlayTable(TNoiseOsc& osc)
{
    const long n = TNoiseOsc::waveLength;
    Stereo out(n);
    for (long at = 0; at < n; at += 512)
    {
        Steady(osc, 512.0f, 1.0f, 0.0f);
        out.Render(osc, 512, at);
    }
    return out;
}

TEST(NoiseOscTest, UniformNoiseHasZeroMeanAndItsRMS)
{
    TNoiseOsc osc;
    const Stereo out = PlayTable(osc);
    EXPECT_EQ(osc.GetIndex(), 0); // one whole table
    EXPECT_EQ(out.left, out.right);
    double sum = 0.0;
    double squares = 0.0;
    for (const float v : out.left)
    {
        const double s = 2.0 * v; // half of the noise goes to each side
        ASSERT_GE(s, -1.0);
        ASSERT_LT(s, 1.0);
        sum += s;
        squares += s * s;
    }
    const double n = static_cast<double>(out.left.size());
    // Uniform on [-1, 1): mean 0 (standard error 0.0016 here), RMS 1 / sqrt(3).
    EXPECT_NEAR(sum / n, 0.0, 0.01);
    EXPECT_NEAR(std::sqrt(squares / n), 1.0 / std::sqrt(3.0), 0.005);
}

TEST(NoiseOscTest, InstancesShareOneTableBuiltOnceAndFreedLast)
{
    const int before = TNoiseOsc::GetInstanceCount();
    std::vector<float> first;
    {
        TNoiseOsc a;
        TNoiseOsc b;
        EXPECT_EQ(TNoiseOsc::GetInstanceCount(), before + 2);
        EXPECT_EQ(a.GetNoiseWave(), b.GetNoiseWave());
        // Freshly built slots play the same noise from their own indices.
        Stereo outA(1000);
        Stereo outB(1000);
        Steady(a, 1000.0f, 1.0f, -1.0f);
        Steady(b, 1000.0f, 1.0f, -1.0f);
        outA.Render(a, 1000);
        outB.Render(b, 700);
        EXPECT_EQ(outA.left, std::vector<float>(a.GetNoiseWave(), a.GetNoiseWave() + 1000));
        EXPECT_TRUE(std::equal(outB.left.begin(), outB.left.begin() + 700, outA.left.begin()));
        EXPECT_EQ(b.GetIndex(), 700);
        first = outA.left;
    }
    EXPECT_EQ(TNoiseOsc::GetInstanceCount(), before);
    if (before == 0)
    {
        // The next instance builds the table anew, with the same values.
        TNoiseOsc c;
        EXPECT_TRUE(std::equal(first.begin(), first.end(), c.GetNoiseWave()));
    }
}

TEST(NoiseOscTest, InstancesComeAndGoOnManyThreads)
{
    TNoiseOsc keeper;
    const int before = TNoiseOsc::GetInstanceCount();
    const float* table = keeper.GetNoiseWave();
    std::vector<std::thread> threads;
    std::vector<int> same(4, 1);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&same, t, table]
            {
                for (int i = 0; i < 50; ++i)
                {
                    auto osc = std::make_unique<TNoiseOsc>();
                    same[static_cast<size_t>(t)] &= osc->GetNoiseWave() == table;
                }
            });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(same, std::vector<int>(4, 1));
    EXPECT_EQ(TNoiseOsc::GetInstanceCount(), before);

    // Without a keeper each thread may build and free the table; every build is the same.
    std::vector<float> head(table, table + 64);
    threads.clear();
    std::vector<int> equal(4, 1);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&equal, &head, t]
            {
                for (int i = 0; i < 20; ++i)
                {
                    TNoiseOsc osc;
                    equal[static_cast<size_t>(t)] &= std::equal(head.begin(), head.end(), osc.GetNoiseWave());
                }
            });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(equal, std::vector<int>(4, 1));
}

TEST(NoiseOscTest, AmplitudeAndPanMoveOnlyWhenTheIndexWraps)
{
    TNoiseOsc osc;
    const float* wave = osc.GetNoiseWave();
    // A segment from 0.2 to 0.8 plays at 0.2 throughout; pan +1 is right only.
    const long n = 512;
    Stereo out(n);
    Line(osc.amplitude, 0.0f, 0.2f, static_cast<float>(n), 0.8f);
    Line(osc.pan, 0.0f, 1.0f, static_cast<float>(n), 1.0f);
    out.Render(osc, n);
    for (long k = 0; k < n; ++k)
    {
        ASSERT_EQ(out.right[static_cast<size_t>(k)], wave[k] * 0.2f);
        ASSERT_EQ(out.left[static_cast<size_t>(k)], 0.0f);
    }

    // Over a segment crossing the wrap, the gain catches up there by the slope times the samples
    // since the run began (not counting the wrapping one).
    TNoiseOsc wrap;
    const long total = TNoiseOsc::waveLength + 100;
    Stereo big(total);
    Line(wrap.amplitude, 0.0f, 0.0f, static_cast<float>(total), 1.0f);
    Line(wrap.pan, 0.0f, -1.0f, static_cast<float>(total), -1.0f);
    big.Render(wrap, total);
    EXPECT_EQ(wrap.GetIndex(), 100);
    for (long k = 0; k < TNoiseOsc::waveLength - 1; ++k)
        ASSERT_EQ(big.left[static_cast<size_t>(k)], 0.0f);
    const float gain = (1.0f / static_cast<float>(total)) * static_cast<float>(TNoiseOsc::waveLength - 1);
    for (long k = TNoiseOsc::waveLength - 1; k < total; ++k)
        ASSERT_EQ(big.left[static_cast<size_t>(k)], wave[k % TNoiseOsc::waveLength] * gain) << k;
}

TEST(NoiseOscTest, SilentSegmentsMoveTheIndexOnly)
{
    TNoiseOsc osc;
    const long n = 1000;
    Stereo out(n, 0.5f);
    Steady(osc, static_cast<float>(n), 0.0f, 0.0f);
    out.Render(osc, n);
    Line(osc.amplitude, 0.0f, -0.1f, static_cast<float>(n), 1.0f);
    out.Render(osc, n);
    EXPECT_EQ(out.left, std::vector<float>(static_cast<size_t>(n), 0.5f));
    EXPECT_EQ(osc.GetIndex(), 2 * n);

    // A pan ramp moves across a silent wrap just as across a sounding one.
    TNoiseOsc a;
    TNoiseOsc b;
    const long total = TNoiseOsc::waveLength + 50;
    for (TNoiseOsc* o : {&a, &b})
    {
        // a is silent until 10 frames before the end, b sounds throughout.
        const float before = o == &a ? 0.0f : 1.0f;
        o->amplitude.Clear();
        o->amplitude.AddBreakpoint(0.0f, before);
        o->amplitude.AddBreakpoint(static_cast<float>(total - 10), before);
        o->amplitude.AddBreakpoint(static_cast<float>(total - 10), 1.0f);
        o->amplitude.AddBreakpoint(static_cast<float>(total), 1.0f);
        Line(o->pan, 0.0f, -1.0f, static_cast<float>(total), 1.0f);
    }
    Stereo outA(total);
    Stereo outB(total);
    outA.Render(a, total);
    outB.Render(b, total);
    EXPECT_EQ(a.GetIndex(), b.GetIndex());
    for (long k = total - 10; k < total; ++k)
    {
        ASSERT_EQ(outA.left[static_cast<size_t>(k)], outB.left[static_cast<size_t>(k)]);
        ASSERT_EQ(outA.right[static_cast<size_t>(k)], outB.right[static_cast<size_t>(k)]);
    }
}

TEST(NoiseOscTest, StopsAtTheBlockLengthAndHoldsAShortPan)
{
    TNoiseOsc osc;
    const long n = 256;
    Stereo out(2 * n, 4.0f);
    Steady(osc, static_cast<float>(2 * n), 1.0f, 0.0f);
    out.Render(osc, n);
    EXPECT_EQ(osc.GetIndex(), n);
    for (long k = n; k < 2 * n; ++k)
        ASSERT_EQ(out.left[static_cast<size_t>(k)], 4.0f);

    // A one-point pan holds; an empty pan or amplitude, or no sample rate, renders nothing.
    Stereo held(n);
    Steady(osc, static_cast<float>(n), 1.0f, 0.0f);
    osc.pan.Clear();
    osc.pan.AddBreakpoint(0.0f, 1.0f);
    held.Render(osc, n);
    EXPECT_EQ(held.right[0], osc.GetNoiseWave()[n]);
    EXPECT_EQ(held.left[0], 0.0f);

    Stereo none(n, 1.0f);
    osc.pan.Clear();
    none.Render(osc, n);
    Steady(osc, static_cast<float>(n), 1.0f, 0.0f);
    osc.amplitude.Clear();
    none.Render(osc, n);
    Steady(osc, static_cast<float>(n), 1.0f, 0.0f);
    osc.SetSampleRate(0.0f);
    none.Render(osc, n);
    EXPECT_EQ(none.left, std::vector<float>(static_cast<size_t>(n), 1.0f));
    EXPECT_EQ(osc.GetIndex(), 2 * n);
}

} // namespace

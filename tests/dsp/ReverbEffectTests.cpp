#include "dsp/ReverbEffect.h"

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

namespace
{
struct Output
{
    std::vector<float> left, right;
};

Output RunReverb(ReverbEffect& r, std::vector<float> inL, std::vector<float> inR, long block = 512)
{
    const long n = static_cast<long>(inL.size());
    Output out{std::vector<float>(inL.size(), 0.0f), std::vector<float>(inL.size(), 0.0f)};
    for (long pos = 0; pos < n; pos += block)
    {
        const long len = std::min(block, n - pos);
        r.RenderStereo(inL.data() + pos, inR.data() + pos, out.left.data() + pos, out.right.data() + pos,
                       len);
    }
    return out;
}

std::vector<float> Impulse(long n)
{
    std::vector<float> x(static_cast<size_t>(n), 0.0f);
    x[0] = 1.0f;
    return x;
}

long FirstAbove(std::vector<float> const& x, float threshold = 1e-9f)
{
    for (size_t i = 0; i < x.size(); ++i)
    {
        if (std::fabs(x[i]) > threshold) return static_cast<long>(i);
    }
    return -1;
}

double Rms(const float* x, long n)
{
    double s = 0.0;
    for (long i = 0; i < n; ++i)
        s += static_cast<double>(x[i]) * x[i];
    return std::sqrt(s / static_cast<double>(n));
}

std::vector<float> Noise(long n, std::uint32_t seed)
{
    Random rng(seed);
    std::vector<float> x(static_cast<size_t>(n));
    for (float& v : x)
        v = rng.NextSignedFloat();
    return x;
}
} // namespace

TEST(ReverbEffect, ConstructedState)
{
    ReverbEffect r;
    ASSERT_EQ(r.GetNumInternalParameters(false), 5);
    const char* names[] = {"BYPASS", "REVERB_ENABLED", "REVERB_TIME", "REVERB_SIZE", "REVERB_MIX"};
    for (long i = 0; i < 5; ++i)
        EXPECT_STREQ(r.FindInternalParameter(i)->GetName(), names[i]);
    EXPECT_FALSE(r.enabled.GetBool());
    EXPECT_EQ(static_cast<float>(r.timeParam), 0.5f);
    EXPECT_EQ(static_cast<float>(r.sizeParam), 0.5f);
    EXPECT_EQ(static_cast<float>(r.mixParam), 0.5f);
    EXPECT_EQ(r.GetTime(), 0.5f);
    EXPECT_EQ(r.GetSize(), 0.5f);
    EXPECT_EQ(r.GetFeedback(), 0.5f * 0.3f + 0.68f);
    const unsigned want[] = {2620, 2624, 2968, 3434, 2734, 3034, 3084, 3334};
    for (int j = 0; j < 8; ++j)
        EXPECT_EQ(r.GetLineLength(j), want[j]);
    EXPECT_EQ(r.GetLineLength(8), 0u);
}

TEST(ReverbEffect, TimeAndSizeSetFeedbackAndLengths)
{
    ReverbEffect r;
    r.timeParam = 0.0f;
    EXPECT_EQ(r.GetFeedback(), 0.68f);
    r.timeParam = 1.0f;
    EXPECT_EQ(r.GetFeedback(), 0.98f);

    r.sizeParam = 0.0f;
    const unsigned offsets[] = {1120, 1124, 1468, 1934, 1234, 1534, 1584, 1834};
    for (int j = 0; j < 8; ++j)
        EXPECT_EQ(r.GetLineLength(j), offsets[j]);
    r.sizeParam = 1.0f;
    for (int j = 0; j < 8; ++j)
        EXPECT_EQ(r.GetLineLength(j), offsets[j] + 3000);

    // Direct calls are held inside the lines.
    r.SetDelays(10000);
    for (int j = 0; j < 8; ++j)
        EXPECT_EQ(r.GetLineLength(j), ReverbEffect::kCapacity);
    r.SetSize(7.0f);
    EXPECT_EQ(r.GetSize(), 1.0f);
    EXPECT_EQ(r.GetLineLength(3), 4934u);
    r.SetTime(-3.0f);
    EXPECT_EQ(r.GetFeedback(), 0.68f);

    r.enabled.SetBool(true);
    r.SetDelays(100000);
    RunReverb(r, Noise(12000, 1), Noise(12000, 2));
    r.SetDelays(0);
    Output out = RunReverb(r, Noise(6000, 3), Noise(6000, 4));
    EXPECT_TRUE(dsptest::AllFinite(out.left.data(), 6000));
}

TEST(ReverbEffect, MixZeroIsDryAndMixOneIsTheCombsOnly)
{
    ReverbEffect r;
    r.enabled.SetBool(true);
    r.mixParam = 0.0f;
    const std::vector<float> inL = Noise(5000, 5), inR = Noise(5000, 6);
    Output dry = RunReverb(r, inL, inR);
    EXPECT_EQ(dry.left, inL);
    EXPECT_EQ(dry.right, inR);

    ReverbEffect w;
    w.enabled.SetBool(true);
    w.mixParam = 1.0f;
    w.sizeParam = 0.0f;
    Output wet = RunReverb(w, Impulse(1100), Impulse(1100));
    for (size_t i = 0; i < 1100; ++i)
        ASSERT_LT(std::fabs(wet.left[i]) + std::fabs(wet.right[i]), 1e-12f);
}

TEST(ReverbEffect, ImpulseArrivesOnTheRightFirst)
{
    for (float size : {0.0f, 0.5f, 1.0f})
    {
        ReverbEffect r;
        r.enabled.SetBool(true);
        r.mixParam = 1.0f;
        r.sizeParam = size;
        const long t = static_cast<long>(size * 3000.0f);
        Output out = RunReverb(r, Impulse(6000), std::vector<float>(6000, 0.0f), 300);
        EXPECT_EQ(FirstAbove(out.right), 1120 + t) << size;
        EXPECT_EQ(FirstAbove(out.left), 1124 + t) << size;
        // One sixteenth of the input through one line.
        EXPECT_NEAR(out.right[static_cast<size_t>(1120 + t)], 0.0625f, 1e-7f);
        EXPECT_NEAR(out.left[static_cast<size_t>(1124 + t)], 0.0625f, 1e-7f);
        // Left receives lines 1, 3, 5 only; the right lines' first arrivals stay off the left.
        EXPECT_LT(std::fabs(out.left[static_cast<size_t>(1234 + t)]), 1e-9f);
        EXPECT_NEAR(out.right[static_cast<size_t>(1234 + t)], 0.0625f, 1e-7f);
    }
}

TEST(ReverbEffect, TailDecaysMoreThan60dBWithoutSubnormals)
{
    ReverbEffect r;
    r.enabled.SetBool(true);
    r.mixParam = 1.0f;
    const long n = 44100 * 12;
    Output out = RunReverb(r, Impulse(n), Impulse(n), 1024);
    const double early = Rms(out.right.data() + 2000, 8192);
    const double late = Rms(out.right.data() + n - 8192, 8192);
    EXPECT_GT(early, 0.0);
    EXPECT_LT(late, early * 1e-3);
    for (long i = 0; i < n; ++i)
    {
        ASSERT_FALSE(dsptest::IsSubnormal(out.left[static_cast<size_t>(i)]) ||
                     dsptest::IsSubnormal(out.right[static_cast<size_t>(i)]))
            << i;
    }
}

TEST(ReverbEffect, LongestTimeStaysBoundedAndDecays)
{
    ReverbEffect r;
    r.enabled.SetBool(true);
    r.mixParam = 1.0f;
    r.timeParam = 1.0f;
    r.sizeParam = 1.0f;
    const long n = 44100 * 30;
    std::vector<float> in = Noise(n, 7);
    std::fill(in.begin() + 44100, in.end(), 0.0f);
    Output out = RunReverb(r, in, in, 2048);
    EXPECT_LT(dsptest::PeakAbs(out.left.data(), n), 4.0f);
    EXPECT_LT(dsptest::PeakAbs(out.right.data(), n), 4.0f);
    EXPECT_LT(Rms(out.right.data() + n - 8192, 8192), 1e-3 * Rms(out.right.data() + 44100, 8192));
}

TEST(ReverbEffect, DisabledCopiesOrLeavesSharedBuffers)
{
    ReverbEffect r;
    std::vector<float> inL = {1, 2, 3}, inR = {4, 5, 6};
    std::vector<float> outL(3, 9.0f), outR(3, 9.0f);
    r.RenderStereo(inL.data(), inR.data(), outL.data(), outR.data(), 3);
    EXPECT_EQ(outL, inL);
    EXPECT_EQ(outR, inR);
    r.RenderStereo(inL.data(), inR.data(), inL.data(), inR.data(), 3);
    EXPECT_EQ(inR, (std::vector<float>{4, 5, 6}));
}

TEST(ReverbEffect, InPlaceMatchesSeparateBuffers)
{
    ReverbEffect a, b;
    a.enabled.SetBool(true);
    b.enabled.SetBool(true);
    std::vector<float> l = Noise(4000, 8), r = Noise(4000, 9);
    Output separate = RunReverb(a, l, r);
    for (long pos = 0; pos < 4000; pos += 512)
        b.RenderStereo(l.data() + pos, r.data() + pos, l.data() + pos, r.data() + pos,
                       std::min(512L, 4000 - pos));
    EXPECT_EQ(l, separate.left);
    EXPECT_EQ(r, separate.right);
}

TEST(ReverbEffect, NonFiniteInputDoesNotRingForEver)
{
    ReverbEffect r;
    r.enabled.SetBool(true);
    std::vector<float> bad(512, 0.0f);
    bad[10] = std::numeric_limits<float>::quiet_NaN();
    bad[11] = -std::numeric_limits<float>::infinity();
    RunReverb(r, bad, bad);
    Output out = RunReverb(r, Noise(20000, 10), Noise(20000, 11));
    EXPECT_TRUE(dsptest::AllFinite(out.left.data(), 20000));
    EXPECT_TRUE(dsptest::AllFinite(out.right.data(), 20000));

    r.FlushBuffers();
    r.mixParam = 1.0f;
    Output quiet = RunReverb(r, std::vector<float>(1000, 0.0f), std::vector<float>(1000, 0.0f));
    EXPECT_LT(dsptest::PeakAbs(quiet.left.data(), 1000), 1e-12f);
}

TEST(ReverbEffect, SavedParametersLoadBack)
{
    ReverbEffect r;
    r.enabled.SetBool(true);
    r.timeParam = 0.9f;
    r.sizeParam = 0.1f;
    r.mixParam = 0.3f;
    std::string const block = dsptest::Saved(r);
    ASSERT_EQ(block.size(), 20u); // the layout: StoredLayout in the engine tests

    ReverbEffect s;
    dsptest::LoadFrom(s, block, 20);
    EXPECT_TRUE(s.enabled.GetBool());
    EXPECT_EQ(s.GetFeedback(), 0.9f * 0.3f + 0.68f);
    EXPECT_EQ(s.GetLineLength(0), 1120u + 300u);

    s.Reset();
    EXPECT_FALSE(s.enabled.GetBool());
    EXPECT_EQ(s.GetLineLength(0), 2620u);
}

TEST(ReverbEffect, SizeChangedFromAnotherThread)
{
    ReverbEffect r;
    r.enabled.SetBool(true);
    std::atomic<bool> stop{false};
    std::thread writer(
        [&]
        {
            for (int i = 0; i < 5000 && !stop.load(); ++i)
            {
                r.sizeParam = static_cast<float>(i % 11) / 10.0f;
                r.timeParam = static_cast<float>(i % 7) / 6.0f;
            }
        });
    const std::vector<float> inL = Noise(512, 12), inR = Noise(512, 13);
    std::vector<float> outL(512), outR(512);
    bool finite = true;
    for (int block = 0; block < 300 && finite; ++block)
    {
        r.RenderStereo(const_cast<float*>(inL.data()), const_cast<float*>(inR.data()), outL.data(),
                       outR.data(), 512);
        finite = dsptest::AllFinite(outL.data(), 512) && dsptest::AllFinite(outR.data(), 512);
    }
    stop = true;
    writer.join();
    EXPECT_TRUE(finite);
}

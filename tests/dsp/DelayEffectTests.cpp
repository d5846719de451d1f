#include "dsp/DelayEffect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "DSPTestSupport.h"
#include "framework/Streams.h"
#include "framework/String.h"

namespace
{
struct Output
{
    std::vector<float> left, right;
};

// Renders in blocks of `block` frames; the outputs start at `base` (the delay adds to them).
Output RunDelay(DelayEffect& d, std::vector<float> inL, std::vector<float> inR, long block = 512,
                float base = 0.0f)
{
    const long n = static_cast<long>(inL.size());
    Output out{std::vector<float>(inL.size(), base), std::vector<float>(inL.size(), base)};
    for (long pos = 0; pos < n; pos += block)
    {
        const long len = std::min(block, n - pos);
        d.RenderStereo(inL.data() + pos, inR.data() + pos, out.left.data() + pos, out.right.data() + pos,
                       len);
    }
    return out;
}

std::vector<float> Impulse(long n, long at = 0, float v = 1.0f)
{
    std::vector<float> x(static_cast<size_t>(n), 0.0f);
    x[static_cast<size_t>(at)] = v;
    return x;
}

// Indices of samples above the level of the denormal guards.
std::vector<long> Echoes(std::vector<float> const& x, float threshold = 1e-9f)
{
    std::vector<long> at;
    for (size_t i = 0; i < x.size(); ++i)
    {
        if (std::fabs(x[i]) > threshold) at.push_back(static_cast<long>(i));
    }
    return at;
}

// Enabled, fully wet, synced at 120 BPM, time 1 (one beat) at 2000 Hz: 1000 samples.
void SetUpThousand(DelayEffect& d, float fb, bool spread = true)
{
    d.enabled.SetBool(true);
    d.mix = 1.0f;
    d.feedback = fb;
    d.stereo.SetBool(spread);
    d.time = 1.0f;
    d.SetSampleRate(2000.0f);
    ASSERT_EQ(d.GetLength(), 1000u);
}
} // namespace

TEST(DelayEffect, ConstructedState)
{
    DelayEffect d;
    ASSERT_EQ(d.GetNumInternalParameters(false), 8);
    const char* names[] = {"BYPASS",    "DELAY_ENABLED",   "DELAY_TIME",   "DELAY_FEEDBACK",
                           "DELAY_MIX", "DELAY_AMPLITUDE", "DELAY_STEREO", "SYNC_TO_HOST"};
    for (long i = 0; i < 8; ++i)
        EXPECT_STREQ(d.FindInternalParameter(i)->GetName(), names[i]);
    EXPECT_FALSE(d.enabled.GetBool());
    EXPECT_EQ(static_cast<float>(d.time), 0.0f);
    EXPECT_EQ(static_cast<float>(d.mix), 0.5f);
    EXPECT_EQ(static_cast<float>(d.feedback), 0.5f);
    EXPECT_EQ(static_cast<float>(d.amplitude), 1.0f);
    EXPECT_TRUE(d.stereo.GetBool());
    EXPECT_TRUE(d.syncToHost.GetBool());
    EXPECT_TRUE(d.time.IsDiscrete());
    EXPECT_TRUE(d.time.GetModulationBypass());
    EXPECT_TRUE(d.amplitude.GetModulationBypass());
    EXPECT_EQ(d.GetLength(), 44100u);
    EXPECT_EQ(d.GetTime(), 0.0f);
}

TEST(DelayEffect, SyncedLengthsAt120Bpm)
{
    DelayEffect d;
    const unsigned want[] = {44100, 22050, 11025, 5512, 2756};
    for (int t = 0; t <= 4; ++t)
    {
        d.time = static_cast<float>(t);
        EXPECT_EQ(d.GetLength(), want[t]) << "time " << t;
        EXPECT_EQ(d.GetTime(), static_cast<float>(t));
    }
    d.time = 1.0f;
    d._SetTempo(90.0f);
    EXPECT_EQ(d.GetLength(), 29400u);

    // Turning sync off makes the time continuous; back on, whole note values again.
    d.syncToHost.SetBool(false);
    EXPECT_TRUE(d.time.IsContinuous());
    d.syncToHost.SetBool(true);
    EXPECT_TRUE(d.time.IsDiscrete());
}

TEST(DelayEffect, FreeLengthsAt48k)
{
    DelayEffect d;
    d.syncToHost.SetBool(false);
    d.SetSampleRate(48000.0f);
    EXPECT_EQ(d.GetLength(), 96000u);
    d.time = 4.0f;
    EXPECT_EQ(d.GetLength(), 3840u);
    d.time = 1.0f;
    EXPECT_EQ(d.GetLength(), 13714u);
    d.time = 0.25f;
    EXPECT_EQ(d.GetLength(), static_cast<unsigned>(48000.0f / 1.25f));
}

TEST(DelayEffect, SampleRateChangeRecomputesTheLength)
{
    DelayEffect d;
    d.time = 1.0f;
    EXPECT_EQ(d.GetLength(), 22050u);
    d.SetSampleRate(96000.0f);
    EXPECT_EQ(d.GetLength(), 48000u);

    // And the new length is what the echoes use.
    d.enabled.SetBool(true);
    d.mix = 1.0f;
    d.feedback = 0.0f;
    d.stereo.SetBool(false);
    Output out = RunDelay(d, Impulse(50000), std::vector<float>(50000, 0.0f));
    EXPECT_EQ(Echoes(out.right), std::vector<long>{47999});
}

TEST(DelayEffect, ChannelsCrossWithTheStereoOffset)
{
    DelayEffect d;
    SetUpThousand(d, 0.5f);
    const long n = 4000;
    Output fromRight = RunDelay(d, std::vector<float>(n, 0.0f), Impulse(n));
    EXPECT_EQ(Echoes(fromRight.left), (std::vector<long>{500, 1500, 2500, 3500}));
    EXPECT_TRUE(Echoes(fromRight.right).empty());
    EXPECT_NEAR(fromRight.left[500], 1.0f, 1e-6f);
    EXPECT_NEAR(fromRight.left[1500], 0.5f, 1e-6f);
    EXPECT_NEAR(fromRight.left[2500], 0.25f, 1e-6f);
    EXPECT_NEAR(fromRight.left[3500], 0.125f, 1e-6f);

    DelayEffect e;
    SetUpThousand(e, 0.5f);
    Output fromLeft = RunDelay(e, Impulse(n), std::vector<float>(n, 0.0f));
    EXPECT_EQ(Echoes(fromLeft.right), (std::vector<long>{999, 1999, 2999, 3999}));
    EXPECT_TRUE(Echoes(fromLeft.left).empty());
}

TEST(DelayEffect, MonoEchoesBothSidesAfterNMinusOne)
{
    DelayEffect d;
    SetUpThousand(d, 0.8f, false);
    Output out = RunDelay(d, Impulse(3000), Impulse(3000), 333);
    EXPECT_EQ(Echoes(out.left), (std::vector<long>{999, 1999, 2999}));
    EXPECT_EQ(Echoes(out.right), (std::vector<long>{999, 1999, 2999}));
    EXPECT_NEAR(out.left[1999], 0.8f, 1e-6f);
    EXPECT_NEAR(out.right[2999], 0.64f, 1e-6f);
}

TEST(DelayEffect, FeedbackZeroGivesOneEchoScaledByMix)
{
    DelayEffect d;
    SetUpThousand(d, 0.0f);
    d.mix = 0.3f;
    Output out = RunDelay(d, Impulse(5000), Impulse(5000, 10, 2.0f), 512, 1.0f);
    // Added to what the outputs held.
    EXPECT_EQ(out.left[0], 1.0f);
    std::vector<float> l = out.left, r = out.right;
    for (float& v : l)
        v -= 1.0f;
    for (float& v : r)
        v -= 1.0f;
    EXPECT_EQ(Echoes(l, 1e-6f), std::vector<long>{510});
    EXPECT_EQ(Echoes(r, 1e-6f), std::vector<long>{999});
    EXPECT_NEAR(l[510], 0.6f, 1e-6f);
    EXPECT_NEAR(r[999], 0.3f, 1e-6f);
}

TEST(DelayEffect, DisabledCopiesOrLeavesSharedBuffers)
{
    DelayEffect d;
    std::vector<float> inL = {1, 2, 3}, inR = {4, 5, 6};
    std::vector<float> outL(3, 9.0f), outR(3, 9.0f);
    d.RenderStereo(inL.data(), inR.data(), outL.data(), outR.data(), 3);
    EXPECT_EQ(outL, inL);
    EXPECT_EQ(outR, inR);
    d.RenderStereo(inL.data(), inR.data(), inL.data(), inR.data(), 3);
    EXPECT_EQ(inL, (std::vector<float>{1, 2, 3}));
}

TEST(DelayEffect, SlowTempoAtHighRateIsClampedToTheLines)
{
    DelayEffect d;
    d.SetSampleRate(192000.0f);
    d._SetTempo(10.0f);
    EXPECT_EQ(d.GetLength(), DelayEffect::kCapacity);
    d._SetTempo(0.0f);
    EXPECT_EQ(d.GetLength(), DelayEffect::kCapacity);

    d.enabled.SetBool(true);
    d.mix = 1.0f;
    d.feedback = 0.9f;
    d.stereo.SetBool(true);
    const long n = 450000;
    Output out = RunDelay(d, Impulse(n), Impulse(n), 8192);
    EXPECT_EQ(Echoes(out.right), std::vector<long>{440999});
    EXPECT_EQ(Echoes(out.left), std::vector<long>{220500});

    // Back to a short length while echoes are in flight: positions stay inside the lines.
    d._SetTempo(6000.0f);
    EXPECT_EQ(d.GetLength(), 3840u);
    Output after = RunDelay(d, Impulse(20000), Impulse(20000), 4096);
    EXPECT_TRUE(dsptest::AllFinite(after.left.data(), 20000));
}

TEST(DelayEffect, LengthChangesApplyAtTheNextBlock)
{
    DelayEffect d;
    SetUpThousand(d, 0.0f, false);
    std::vector<float> silence(512, 0.0f), outL(512), outR(512);
    d.RenderStereo(silence.data(), silence.data(), outL.data(), outR.data(), 512);
    d.time = 2.0f; // an eighth: 500 samples
    EXPECT_EQ(d.GetLength(), 500u);
    Output out = RunDelay(d, Impulse(2000), std::vector<float>(2000, 0.0f));
    EXPECT_EQ(Echoes(out.right), std::vector<long>{499});
}

TEST(DelayEffect, NonFiniteInputDoesNotStayInTheLines)
{
    DelayEffect d;
    SetUpThousand(d, 0.9f);
    std::vector<float> bad(512, 0.0f);
    bad[3] = std::numeric_limits<float>::quiet_NaN();
    bad[4] = std::numeric_limits<float>::infinity();
    RunDelay(d, bad, bad);
    Output out = RunDelay(d, std::vector<float>(20000, 0.0f), std::vector<float>(20000, 0.0f));
    EXPECT_TRUE(dsptest::AllFinite(out.left.data(), 20000));
    EXPECT_TRUE(dsptest::AllFinite(out.right.data(), 20000));
    for (size_t i = 0; i < out.left.size(); ++i)
        ASSERT_FALSE(dsptest::IsSubnormal(out.left[i]) || dsptest::IsSubnormal(out.right[i]));
}

TEST(DelayEffect, StreamIsVersionThenEightValues)
{
    DelayEffect d;
    d.enabled.SetBool(true);
    d.time = 3.0f;
    d.feedback = 0.25f;
    d.mix = 0.75f;
    d.amplitude = 0.5f;
    d.stereo.SetBool(false);
    d.syncToHost.SetBool(false);
    String block;
    StringWriter w;
    w.Open(&block);
    d.Save(w);
    w.Close();
    ASSERT_EQ(block.GetLength(), 36u);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(static_cast<char const*>(block));
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1] | bytes[2] | bytes[3], 0);
    float values[8];
    std::memcpy(values, bytes + 4, 32);
    const float want[8] = {1.0f, 1.0f, 3.0f, 0.25f, 0.75f, 0.5f, 0.0f, 0.0f};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(values[i], want[i]) << i;

    // Another version number loads the same way; the length follows the loaded values.
    std::string data(static_cast<char const*>(block), 36);
    data[0] = 7;
    DelayEffect e;
    StringReader r;
    r.Open(data.data(), data.size());
    e.Load(r);
    EXPECT_TRUE(e.enabled.GetBool());
    EXPECT_EQ(static_cast<float>(e.time), 3.0f);
    EXPECT_EQ(static_cast<float>(e.feedback), 0.25f);
    EXPECT_FALSE(e.stereo.GetBool());
    EXPECT_FALSE(e.syncToHost.GetBool());
    EXPECT_TRUE(e.time.IsContinuous());
    EXPECT_EQ(e.GetLength(), static_cast<unsigned>(44100.0f / 9.5f));

    // A truncated stream leaves what it does not reach.
    DelayEffect f;
    StringReader shortReader;
    shortReader.Open(data.data(), 14);
    f.Load(shortReader);
    EXPECT_TRUE(f.enabled.GetBool());
    EXPECT_EQ(static_cast<float>(f.time), 0.0f);
    EXPECT_TRUE(f.syncToHost.GetBool());
}

TEST(DelayLine, InitClampsTheLength)
{
    DelayLine line;
    line.Init(100, static_cast<unsigned>(-1));
    EXPECT_EQ(line.capacity, 100u);
    EXPECT_EQ(line.length, 100u);
    line.Init(100, 0);
    EXPECT_EQ(line.length, 1u);
    line.Init(100, 40);
    EXPECT_EQ(line.length, 40u);
    line.buffer[5] = 3.0f;
    line.Clear();
    EXPECT_EQ(line.buffer[5], 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Stored format, bytes written out by hand.

namespace
{
std::string DelayStream(DelayEffect& d)
{
    return dsptest::Saved(d);
}
} // namespace

TEST(DelayEffectFormat, ConstructedDelayStreamBytes)
{
    DelayEffect d;
    // int 1, then BYPASS 1, DELAY_ENABLED 0, DELAY_TIME 0, DELAY_FEEDBACK 0.5, DELAY_MIX 0.5,
    // DELAY_AMPLITUDE 1, DELAY_STEREO 1, SYNC_TO_HOST 1.
    const std::string expected("\x01\x00\x00\x00"
                               "\x00\x00\x80\x3f"
                               "\x00\x00\x00\x00"
                               "\x00\x00\x00\x00"
                               "\x00\x00\x00\x3f"
                               "\x00\x00\x00\x3f"
                               "\x00\x00\x80\x3f"
                               "\x00\x00\x80\x3f"
                               "\x00\x00\x80\x3f",
                               36);
    EXPECT_EQ(DelayStream(d), expected);
}

TEST(DelayEffectFormat, FreeFractionalTimeLoadsBackExactlyIntoASyncedDelay)
{
    // A free delay time of 2.5 (0x40200000), sync off; the delay it loads into is synced (its
    // time parameter discrete), as every new instrument's delay is.
    const std::string stored("\x01\x00\x00\x00"
                             "\x00\x00\x80\x3f"
                             "\x00\x00\x80\x3f"
                             "\x00\x00\x20\x40"
                             "\x00\x00\x80\x3e"
                             "\x00\x00\x40\x3f"
                             "\x00\x00\x00\x3f"
                             "\x00\x00\x00\x00"
                             "\x00\x00\x00\x00",
                             36);
    DelayEffect d;
    ASSERT_TRUE(d.syncToHost.GetBool());
    ASSERT_TRUE(d.time.IsDiscrete());
    StringReader r;
    r.Open(stored.data(), stored.size());
    d.Load(r);
    EXPECT_EQ(static_cast<float>(d.time), 2.5f);
    EXPECT_TRUE(d.time.IsContinuous());
    EXPECT_EQ(d.GetLength(), static_cast<unsigned>(44100.0f / (3.0f * 2.5f + 0.5f)));
    EXPECT_EQ(DelayStream(d), stored);

    // A synced stream makes the time discrete again; its whole-number time is kept.
    DelayEffect synced;
    synced.time = 3.0f;
    const std::string syncedBytes = DelayStream(synced);
    StringReader back;
    back.Open(syncedBytes.data(), syncedBytes.size());
    d.Load(back);
    EXPECT_TRUE(d.time.IsDiscrete());
    EXPECT_EQ(DelayStream(d), syncedBytes);
}

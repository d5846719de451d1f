#include "framework/SoundBuffer.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

static_assert(!std::is_copy_constructible_v<SoundBuffer> && !std::is_copy_assignable_v<SoundBuffer>);

namespace
{
void Fill(SoundBuffer& b, float l, float r)
{
    for (long i = 0; i < b.frames; ++i)
    {
        b.left[i] = l;
        b.right[i] = r;
    }
}
} // namespace

TEST(SoundBuffer, StartsEmptyAndInitZeroesEverySample)
{
    SoundBuffer b;
    EXPECT_EQ(b.left, nullptr);
    EXPECT_EQ(b.right, nullptr);
    EXPECT_EQ(b.frames, 0);
    b.Init(4, false);
    ASSERT_EQ(b.frames, 4);
    for (long i = 0; i < 4; ++i)
    {
        EXPECT_EQ(b.left[i], 0.0f);
        EXPECT_EQ(b.right[i], 0.0f);
    }
}

TEST(SoundBuffer, InitAgainReplacesContentAndSize)
{
    SoundBuffer b;
    b.Init(8);
    Fill(b, 1.0f, -1.0f);
    b.Init(3);
    ASSERT_EQ(b.frames, 3);
    for (long i = 0; i < 3; ++i)
        EXPECT_EQ(b.left[i] + b.right[i], 0.0f);
    b.Init(8192);
    EXPECT_EQ(b.left[8191], 0.0f);
    EXPECT_EQ(b.right[8191], 0.0f);
}

TEST(SoundBuffer, NegativeLengthLeavesTheBufferAsItWas)
{
    SoundBuffer b;
    b.Init(2);
    Fill(b, 0.5f, 0.25f);
    float* const left = b.left;
    b.Init(-1);
    EXPECT_EQ(b.frames, 2);
    EXPECT_EQ(b.left, left);
    EXPECT_EQ(b.left[1], 0.5f);
}

TEST(SoundBuffer, ClearStereoSetsTheFirstSamples)
{
    SoundBuffer b;
    b.Init(4);
    Fill(b, 2.0f, 3.0f);
    b.ClearStereo(3, 0.0f);
    EXPECT_EQ(std::vector<float>(b.left, b.left + 4), (std::vector<float>{0, 0, 0, 2}));
    EXPECT_EQ(std::vector<float>(b.right, b.right + 4), (std::vector<float>{0, 0, 0, 3}));
    b.ClearStereo(4, 0.5f);
    EXPECT_EQ(b.right[3], 0.5f);
}

TEST(SoundBuffer, MixToStereoAddsFromTheOffset)
{
    SoundBuffer b;
    b.Init(6);
    for (long i = 0; i < 6; ++i)
    {
        b.left[i] = static_cast<float>(i);
        b.right[i] = static_cast<float>(10 * i);
    }
    std::vector<float> outL{1, 1, 1}, outR{0, 0, 0};
    b.MixToStereo(outL.data(), outR.data(), 3, 2);
    EXPECT_EQ(outL, (std::vector<float>{3, 4, 5}));
    EXPECT_EQ(outR, (std::vector<float>{20, 30, 40}));
    b.MixToStereo(outL.data(), outR.data(), 3, 2);
    EXPECT_EQ(outR, (std::vector<float>{40, 60, 80}));
}

TEST(SoundBuffer, GradientMixAppliesARampThatEndsOneStepShortOfTheTarget)
{
    SoundBuffer b;
    b.Init(4);
    Fill(b, 1.0f, 2.0f);
    std::vector<float> outL(4, 0.0f), outR(4, 1.0f);
    b.MixToStereoGradient(outL.data(), outR.data(), 4, 0, 0.0f, 1.0f);
    EXPECT_EQ(outL, (std::vector<float>{0.0f, 0.25f, 0.5f, 0.75f}));
    EXPECT_EQ(outR, (std::vector<float>{1.0f, 1.5f, 2.0f, 2.5f}));
}

TEST(SoundBuffer, GradientsOfConsecutiveBlocksJoinWithoutAStep)
{
    SoundBuffer b;
    b.Init(8);
    Fill(b, 1.0f, 1.0f);
    std::vector<float> outL(8, 0.0f), outR(8, 0.0f);
    b.MixToStereoGradient(outL.data(), outR.data(), 4, 0, 0.0f, 0.5f);
    b.MixToStereoGradient(outL.data() + 4, outR.data() + 4, 4, 4, 0.5f, 1.0f);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(outL[i], 0.125f * static_cast<float>(i)) << i;
}

TEST(SoundBuffer, LongGradientStaysCloseToTheExactRamp)
{
    const long n = 8192;
    SoundBuffer b;
    b.Init(n);
    Fill(b, 1.0f, -1.0f);
    std::vector<float> outL(n, 0.0f), outR(n, 0.0f);
    b.MixToStereoGradient(outL.data(), outR.data(), n, 0, 0.9f, 0.1f);
    for (long i = 0; i < n; ++i)
    {
        const double g = 0.9 + static_cast<double>(i) * (0.1 - 0.9) / static_cast<double>(n);
        ASSERT_NEAR(outL[i], g, 1e-4) << i;
        ASSERT_NEAR(outR[i], -g, 1e-4) << i;
    }
}

TEST(SoundBuffer, AmplitudeGradientScalesInPlaceFromTheOffset)
{
    SoundBuffer b;
    b.Init(6);
    Fill(b, 2.0f, -4.0f);
    b.AmplitudeGradient(1.0f, 1.0f, 0, 6);
    EXPECT_EQ(std::vector<float>(b.left, b.left + 6), std::vector<float>(6, 2.0f));
    b.AmplitudeGradient(0.0f, 5.0f, 2, 0); // n = 0: nothing
    EXPECT_EQ(b.left[2], 2.0f);
    b.AmplitudeGradient(1.0f, 0.0f, 2, 4);
    EXPECT_EQ(std::vector<float>(b.left, b.left + 6), (std::vector<float>{2, 2, 2, 1.5f, 1, 0.5f}));
    EXPECT_EQ(std::vector<float>(b.right, b.right + 6), (std::vector<float>{-4, -4, -4, -3, -2, -1}));
}

#include "framework/Locks.h"
#include "framework/PluginBase.h"

#include "support/RecordingMessageSink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

using AudioAPI::FixedPoint;

namespace
{
bool ClaimedFromOtherThread(AudioAPI::Mutex& m)
{
    bool claimed = false;
    std::thread t(
        [&]
        {
            claimed = m.TryClaim();
            if (claimed) m.Release();
        });
    t.join();
    return claimed;
}

FixedPoint<16> Fixed(float f)
{
    FixedPoint<16> x;
    x = f;
    return x;
}
} // namespace

TEST(LocksMutex, ClaimedTwiceIsFreeOnlyAfterTwoReleases)
{
    AudioAPI::Mutex m;
    EXPECT_FALSE(m.HeldByCurrentThread());
    m.Claim();
    m.Claim();
    EXPECT_TRUE(m.HeldByCurrentThread());
    EXPECT_FALSE(ClaimedFromOtherThread(m));
    bool heldThere = true;
    std::thread([&] { heldThere = m.HeldByCurrentThread(); }).join();
    EXPECT_FALSE(heldThere);
    m.Release();
    EXPECT_TRUE(m.HeldByCurrentThread());
    EXPECT_FALSE(ClaimedFromOtherThread(m));
    m.Release();
    EXPECT_FALSE(m.HeldByCurrentThread());
    EXPECT_TRUE(ClaimedFromOtherThread(m));
}

TEST(LocksMutex, LockHoldsForItsScopeAndNests)
{
    AudioAPI::Mutex m;
    {
        AudioAPI::Lock outer(m);
        {
            AudioAPI::Lock inner(m);
            EXPECT_FALSE(ClaimedFromOtherThread(m));
        }
        EXPECT_FALSE(ClaimedFromOtherThread(m));
    }
    EXPECT_TRUE(ClaimedFromOtherThread(m));
}

// A holder preempted by ordinary work must not keep a real-time waiter (the host's audio thread)
// waiting: the system gives the plug-in mutex priority inheritance, and keeps it recursive.
TEST(LocksMutex, PluginMutexInheritsPriorityAndStaysRecursive)
{
    PluginMutex m;
    EXPECT_EQ(m.Protocol(), PTHREAD_PRIO_INHERIT);
    AudioAPI::Lock outer(m);
    AudioAPI::Lock inner(m);
    EXPECT_FALSE(ClaimedFromOtherThread(m));
}

TEST(LocksSignal, WaiterPassesOnlyOnceSetFromAnotherThread)
{
    AudioAPI::Signal gate;
    std::atomic<bool> passed{false};
    std::thread waiter(
        [&]
        {
            gate.WaitFor();
            passed = true;
        });
    std::thread opener([&] { gate.Set(); });
    opener.join();
    waiter.join();
    EXPECT_TRUE(passed);
    gate.WaitFor(); // stays open
    gate.Set();     // setting again is harmless
}

TEST(FixedPoint, KnownValues)
{
    FixedPoint<16> a = Fixed(2.75f);
    EXPECT_EQ(static_cast<float>(a), 2.75f);
    EXPECT_EQ(static_cast<int>(a), 2);
    EXPECT_EQ(a.Decimal(), 0.75f);

    FixedPoint<16> b = Fixed(-1.25f);
    EXPECT_EQ(static_cast<float>(b), -1.25f);
    EXPECT_EQ(static_cast<int>(b), -2);
    EXPECT_EQ(b.Decimal(), 0.75f);

    FixedPoint<16> c = Fixed(0.75f);
    c += Fixed(0.5f);
    EXPECT_EQ(static_cast<float>(c), 1.25f);
    c -= Fixed(2.0f);
    EXPECT_EQ(static_cast<float>(c), -0.75f);

    EXPECT_EQ(FixedPoint<16>::CalculateMaskConstant(16), -65536);
    EXPECT_EQ(FixedPoint<16>::CalculateDecimalMaskConstant(16), 65535);
    EXPECT_EQ(static_cast<float>(FixedPoint<16>()), 0.0f);
}

TEST(FixedPoint, AssignmentTruncatesTowardZeroAndReturnsTheFloat)
{
    FixedPoint<16> x;
    const float tiny = 1.0f / 131072.0f; // half a step
    EXPECT_EQ((x = 1.0f + tiny), 1.0f + tiny);
    EXPECT_EQ(static_cast<float>(x), 1.0f);
    x = -1.0f - tiny;
    EXPECT_EQ(static_cast<float>(x), -1.0f);
}

TEST(FixedPoint, IntegerAndFractionMatchFloorOverARange)
{
    for (int k = -4 * 64; k <= 4 * 64; ++k)
    {
        const float f = static_cast<float>(k) / 64.0f;
        const FixedPoint<16> x = Fixed(f);
        EXPECT_EQ(static_cast<int>(x), static_cast<int>(std::floor(f))) << f;
        EXPECT_EQ(x.Decimal(), f - std::floor(f)) << f;
    }
}

TEST(FixedPoint, AdditionAndSubtractionWrapAround)
{
    FixedPoint<16> x = Fixed(32767.5f);
    x += Fixed(1.0f);
    EXPECT_EQ(static_cast<float>(x), -32767.5f);
    EXPECT_EQ(static_cast<int>(x), -32768);
    x -= Fixed(1.0f);
    EXPECT_EQ(static_cast<float>(x), 32767.5f);

    FixedPoint<16> low = Fixed(-32768.0f);
    low -= Fixed(0.5f);
    EXPECT_EQ(static_cast<float>(low), 32767.5f);
}

TEST(FixedPoint, OutOfRangeAssignmentWrapsAndNonFiniteGivesZero)
{
    EXPECT_EQ(static_cast<float>(Fixed(40000.0f)), 40000.0f - 65536.0f);
    EXPECT_EQ(static_cast<float>(Fixed(-40000.0f)), 65536.0f - 40000.0f);
    EXPECT_EQ(static_cast<float>(Fixed(65536.0f * 3.0f + 2.5f)), 2.5f);
    EXPECT_EQ(static_cast<float>(Fixed(1e30f)), 0.0f); // a multiple of 2^16, so no bits stay
    EXPECT_EQ(static_cast<float>(Fixed(std::numeric_limits<float>::quiet_NaN())), 0.0f);
    EXPECT_EQ(static_cast<float>(Fixed(std::numeric_limits<float>::infinity())), 0.0f);
    EXPECT_EQ(static_cast<float>(Fixed(-std::numeric_limits<float>::infinity())), 0.0f);
}

TEST(FixedPoint, ComparisonIsSignedOnRawValues)
{
    EXPECT_TRUE(Fixed(4096.0f) >= Fixed(4096.0f));
    EXPECT_TRUE(Fixed(4096.0f) >= Fixed(4095.99f));
    EXPECT_FALSE(Fixed(-1.0f) >= Fixed(0.0f));
}

TEST(LocksHelpers, PerformanceCounterShowsItsNoteAndDoesNothingElse)
{
    RecordingMessageSink sink;
    PerformanceCounter counter;
    counter.Start();
    EXPECT_EQ(counter.CheckPoint(true), 0);
    counter.ShowTime(12, nullptr);
    const auto messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Not implemented on Mac");
    EXPECT_EQ(messages[0].caption, "");
    EXPECT_FALSE(messages[0].question);
}

TEST(LocksHelpers, DegreesToRadiansUsesTheShortPi)
{
    EXPECT_EQ(Angle::DegreesToRadians(180.0f), 3.1415927f);
    EXPECT_EQ(Angle::DegreesToRadians(90.0f), static_cast<float>(90.0 * 3.1415927 / 180.0));
    EXPECT_EQ(Angle::DegreesToRadians(0.0f), 0.0f);
}

TEST(LocksHelpers, LoopInfoDefaults)
{
    const LoopInfo loop;
    EXPECT_FALSE(loop.looping);
    EXPECT_EQ(loop.start, 0.0f);
    EXPECT_EQ(loop.end, 0.0f);
    EXPECT_EQ(loop.minLength, 512.0f);
    EXPECT_EQ(loop.position, 0.0f);
}

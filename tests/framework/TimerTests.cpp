#include "framework/Timers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace
{
using namespace std::chrono_literals;
using TimePoint = TimerService::TimePoint;

// Records each call with the fake time at which it came; `onEvent` runs inside the call.
class Recorder : public TimerListener
{
public:
    explicit Recorder(std::string name, std::vector<std::string>* log = nullptr)
        : name(std::move(name)), log(log)
    {
    }

    void TimerEvent(int id) override
    {
        calls.push_back(id);
        if (log) log->push_back(name + ":" + std::to_string(id));
        if (onEvent) onEvent(id);
    }

    std::string name;
    std::vector<std::string>* log;
    std::vector<int> calls;
    std::function<void(int)> onEvent;
};

// A clock that stands still until the test moves it; installed for each test.
class TimerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        previous = TimerService::SetClock([this] { return now; });
        timersBefore = TimerService::NumTimers();
    }
    void TearDown() override
    {
        EXPECT_EQ(TimerService::NumTimers(), timersBefore);
        TimerService::SetClock(std::move(previous));
    }

    // Moves the clock by d in steps of 1 ms, pumping at every step.
    void Run(std::chrono::milliseconds d)
    {
        for (auto i = 0ms; i < d; ++i)
        {
            now += 1ms;
            TimerService::Pump();
        }
    }
    void Jump(std::chrono::milliseconds d)
    {
        now += d;
        TimerService::Pump();
    }

    TimePoint now{std::chrono::hours(1000)};
    std::function<TimePoint()> previous;
    std::size_t timersBefore = 0;
};
} // namespace

TEST_F(TimerTest, FirstCallComesOnePeriodAfterTheStartThenEveryPeriod)
{
    Recorder r("r");
    r.StartTimer(0, 20);
    EXPECT_TRUE(TimerService::IsRunning(&r, 0));
    EXPECT_EQ(TimerService::NextDue(), now + 20ms);
    Run(19ms);
    EXPECT_TRUE(r.calls.empty());
    Run(1ms);
    EXPECT_EQ(r.calls, std::vector<int>{0});
    Run(980ms); // one second after the start
    EXPECT_EQ(r.calls.size(), 50u);

    // A period of 0 is 1 ms: one call per millisecond, never more.
    r.StartTimer(1, 0);
    Run(5ms);
    EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), 1), 5);
    TimerService::Pump();
    EXPECT_EQ(std::count(r.calls.begin(), r.calls.end(), 1), 5);
}

TEST_F(TimerTest, StartingARunningIdRestartsItWithTheNewPeriod)
{
    Recorder r("r");
    r.StartTimer(0, 20);
    std::size_t count = TimerService::NumTimers();
    Run(15ms);
    r.StartTimer(0, 100);
    EXPECT_EQ(TimerService::NumTimers(), count);
    Run(99ms);
    EXPECT_TRUE(r.calls.empty());
    Run(1ms);
    EXPECT_EQ(r.calls.size(), 1u);
    Run(100ms);
    EXPECT_EQ(r.calls.size(), 2u);

    r.StopTimer(0);
    EXPECT_FALSE(TimerService::IsRunning(&r, 0));
    EXPECT_EQ(TimerService::NumTimers(), count - 1);
    r.StopTimer(0);  // never mind
    r.StopTimer(42); // never started
    EXPECT_EQ(TimerService::NumTimers(), count - 1);
    Run(300ms);
    EXPECT_EQ(r.calls.size(), 2u);
    if (timersBefore == 0)
    {
        EXPECT_FALSE(TimerService::NextDue().has_value());
    }
}

TEST_F(TimerTest, ListenersAndIdsAreKeptApart)
{
    std::vector<std::string> log;
    Recorder a("a", &log);
    Recorder b("b", &log);
    a.StartTimer(0, 10);
    b.StartTimer(0, 15);
    a.StartTimer(1, 30);
    Run(30ms);
    // Due at the same moment: the earlier start comes first.
    EXPECT_EQ(log, (std::vector<std::string>{"a:0", "b:0", "a:0", "a:0", "b:0", "a:1"}));
    b.StopTimer(0);
    Run(30ms);
    EXPECT_EQ(b.calls.size(), 2u);
    EXPECT_EQ(a.calls, (std::vector<int>{0, 0, 0, 1, 0, 0, 0, 1}));
}

TEST_F(TimerTest, LateTimerFiresOnceAndStaysOnItsGrid)
{
    Recorder r("r");
    r.StartTimer(0, 10);
    Jump(95ms);
    EXPECT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(TimerService::NextDue(), now + 5ms);
    Jump(5ms);
    EXPECT_EQ(r.calls.size(), 2u);
    // Hours late with a short period: still one call.
    r.StartTimer(0, 1);
    Jump(std::chrono::duration_cast<std::chrono::milliseconds>(10h));
    EXPECT_EQ(r.calls.size(), 3u);
}

TEST_F(TimerTest, CallbacksMayStartStopAndDestroy)
{
    std::vector<std::string> log;
    Recorder self("self", &log);
    Recorder other("other", &log);
    auto doomed = std::make_unique<Recorder>("doomed", &log);

    // Stops itself at its second call and starts timer 1, which fires on a later pump only.
    self.onEvent = [&](int id)
    {
        if (id == 0 && self.calls.size() == 2)
        {
            self.StopTimer(0);
            self.StartTimer(1, 5);
        }
    };
    // Stops another listener's timer that is due in the same pump, and destroys a third.
    other.onEvent = [&](int)
    {
        self.StopTimer(2);
        doomed.reset();
    };
    self.StartTimer(0, 10);
    other.StartTimer(0, 20);
    self.StartTimer(2, 20);
    doomed->StartTimer(0, 20);
    Run(20ms);
    EXPECT_EQ(log, (std::vector<std::string>{"self:0", "self:0", "other:0"}));
    EXPECT_FALSE(doomed);
    EXPECT_FALSE(TimerService::IsRunning(&self, 0));
    EXPECT_FALSE(TimerService::IsRunning(&self, 2));

    Run(5ms);
    EXPECT_EQ(log.back(), "self:1");

    // A listener that restarts its own timer inside the call is called again a period later.
    log.clear();
    self.onEvent = [&](int id) { self.StartTimer(id, 7); };
    other.StopTimer(0);
    Run(5ms);
    EXPECT_EQ(log, std::vector<std::string>{"self:1"});
    Run(6ms);
    EXPECT_EQ(log.size(), 1u);
    Run(1ms);
    EXPECT_EQ(log.size(), 2u);
    self.StopTimer(1);
}

TEST_F(TimerTest, DestroyedListenersLeaveTheTable)
{
    std::size_t before = TimerService::NumTimers();
    {
        Recorder r("r");
        r.StartTimer(0, 10);
        r.StartTimer(3, 20);
        Recorder copy(r); // a copy runs no timers of its own
        EXPECT_FALSE(TimerService::IsRunning(&copy, 0));
        EXPECT_EQ(TimerService::NumTimers(), before + 2);
    }
    EXPECT_EQ(TimerService::NumTimers(), before);
    Run(50ms); // nothing left to call

    // Destroying itself inside its own call.
    auto* self = new Recorder("self");
    int calls = 0;
    self->onEvent = [&](int)
    {
        ++calls;
        delete self;
    };
    self->StartTimer(0, 10);
    self->StartTimer(1, 10);
    Run(30ms);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(TimerService::NumTimers(), before);
}

TEST_F(TimerTest, PumpInsideACallbackDoesNotCallTheSameTimerTwice)
{
    Recorder outer("outer");
    Recorder inner("inner");
    int depth = 0;
    outer.onEvent = [&](int)
    {
        ++depth;
        TimerService::Pump(); // e.g. a modal loop run from a timer call
        --depth;
    };
    outer.StartTimer(0, 10);
    inner.StartTimer(0, 10);
    Run(10ms);
    EXPECT_EQ(outer.calls.size(), 1u);
    EXPECT_EQ(inner.calls.size(), 1u); // called by the nested pump, not again by the outer one
    EXPECT_EQ(depth, 0);
    outer.StopTimer(0);
    inner.StopTimer(0);
}

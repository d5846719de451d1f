#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ToolkitTestSupport.h"
#include "toolkit/Animation.h"

using namespace Animation;

namespace
{
using std::chrono::milliseconds;

// Records every tick's times; a hook may act inside the tick.
class Recorder : public ClockListener
{
public:
    explicit Recorder(std::vector<std::string>* shared = nullptr, std::string tag = "")
        : log(shared), name(std::move(tag))
    {
    }
    void ClockTick(TimeInfo const& t) override
    {
        ticks.push_back(t);
        if (log) log->push_back(name);
        if (onTick) onTick();
    }
    std::vector<TimeInfo> ticks;
    std::vector<std::string>* log;
    std::string name;
    std::function<void()> onTick;
};

// An element that finishes at the tick its hook says, and counts its frames.
class Stepper : public AnimationElement
{
public:
    void NextFrame(TimeInfo const& t) override
    {
        ++frames;
        if (finishWhen && finishWhen(t)) Finished();
    }
    int frames = 0;
    std::function<bool(TimeInfo const&)> finishWhen;
};

struct FinishLog : FinishedListener
{
    std::vector<int> calls;
    std::function<void()> onFinish;
    void AnimationFinished(int arg) override
    {
        calls.push_back(arg);
        if (onFinish) onFinish();
    }
};

// A tween that records its values.
class ValueTween : public TweenFloat
{
public:
    using TweenFloat::TweenFloat;
    void NextTweenedValue(float const& v) override { values.push_back(v); }
    std::vector<float> values;
};

// Counts repaint requests and moves.
class Target : public RecordingWindow
{
public:
    void ForceRepaint() override
    {
        ++repaintRequests;
        RecordingWindow::ForceRepaint();
    }
    int repaintRequests = 0;
};

class AnimationTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        elementsBefore = AnimationElement::NumLive();
        playersBefore = EasyAnimation::Player::NumLive();
    }
    void TearDown() override
    {
        EXPECT_EQ(EasyAnimation::Player::NumLive(), playersBefore);
        ToolkitTest::TearDown();
    }

    // Moves the virtual clock on and ticks the clock by hand.
    void TickAt(Clock& clock, std::uint32_t sinceStart, std::uint32_t start)
    {
        std::uint32_t const now = clock.GetAbsoluteTime();
        backend.Advance(milliseconds(static_cast<std::uint32_t>(start + sinceStart - now)));
        clock.DoTick();
    }

    std::unique_ptr<Target> MakeTarget(long x, long y)
    {
        auto t = std::make_unique<Target>();
        t->CreateChildWindow(surface.get(), 20, 20, x, y);
        return t;
    }

    std::size_t elementsBefore = 0;
    std::size_t playersBefore = 0;
};
} // namespace

// ---------------------------------------------------------------------------------------------
// Clock

TEST_F(AnimationTest, ClockTicksListenersInOrderWithDuplicatesAndDefersChangesInATick)
{
    std::vector<std::string> log;
    Clock clock(25);
    Recorder a(&log, "a");
    Recorder b(&log, "b");
    Recorder c(&log, "c");
    Recorder late(&log, "late");
    clock.AddListener(&a);
    clock.AddListener(&b);
    clock.AddListener(&a);
    clock.AddListener(&c);
    clock.DoTick();
    EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "a", "c"}));
    clock.RemoveListener(&a); // one occurrence
    log.clear();
    clock.DoTick();
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "c"}));

    // b leaves in its own tick and adds another: c still ticks now, the new one from the next.
    b.onTick = [&]
    {
        clock.RemoveListener(&b);
        clock.AddListener(&late);
        b.onTick = nullptr;
    };
    log.clear();
    clock.DoTick();
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "c"}));
    log.clear();
    clock.DoTick();
    EXPECT_EQ(log, (std::vector<std::string>{"a", "c", "late"}));

    // A tick does not re-enter.
    a.onTick = [&] { clock.DoTick(); };
    log.clear();
    clock.DoTick();
    EXPECT_EQ(log, (std::vector<std::string>{"a", "c", "late"}));
    a.onTick = nullptr;
    clock.RemoveListener(&a);
    clock.RemoveListener(&c);
    clock.RemoveListener(&late);
}

TEST_F(AnimationTest, ClockRunsOnTheLoopsTimersAtItsFrameRate)
{
    for (auto [fps, period] : {std::pair{25, 40}, {0, 1000}, {-3, 1000}, {1000, 1}})
    {
        Clock clock(fps);
        Recorder r;
        r.SetClock(&clock);
        clock.Start();
        EXPECT_TRUE(TimerService::IsRunning(&clock, 0));
        backend.Advance(milliseconds(period - 1));
        gfx::RunLoop::Turn(false);
        EXPECT_TRUE(r.ticks.empty()) << fps;
        backend.Advance(milliseconds(1));
        gfx::RunLoop::Turn(false);
        ASSERT_EQ(r.ticks.size(), 1u) << fps;
        clock.Stop();
        EXPECT_FALSE(TimerService::IsRunning(&clock, 0));
    }
}

TEST_F(AnimationTest, ClockTimeComesFromTheTimersClockAndSurvivesPauseAndStop)
{
    Clock clock(25);
    Recorder r;
    r.SetClock(&clock);
    std::uint32_t const t0 = clock.GetAbsoluteTime();
    EXPECT_EQ(t0,
              static_cast<std::uint32_t>(
                  std::chrono::duration_cast<milliseconds>(TimerService::Now().time_since_epoch()).count()));
    clock.Start();
    backend.Advance(milliseconds(100));
    clock.DoTick();
    EXPECT_EQ(r.ticks.back().sinceOrigin, t0 + 100); // a fresh clock's origin is 0
    EXPECT_EQ(r.ticks.back().sinceLastTick, t0 + 100);

    clock.Pause();
    backend.Advance(milliseconds(300));
    clock.DoTick(); // ticks go on during a pause, and the time advances
    EXPECT_EQ(r.ticks.back().sinceOrigin, t0 + 400);
    clock.Start(); // resumes from the time at the pause
    clock.DoTick();
    EXPECT_EQ(r.ticks.back().sinceOrigin, t0 + 100);
    EXPECT_EQ(r.ticks.back().sinceLastTick, t0 + 100); // the last tick restarts at the origin

    clock.Stop();
    backend.Advance(milliseconds(50));
    clock.Start(); // no pause: the origin stays
    backend.Advance(milliseconds(10));
    clock.DoTick();
    EXPECT_EQ(r.ticks.back().sinceOrigin, t0 + 160);
}

TEST_F(AnimationTest, DyingClocksAndListenersLeaveNoPointerBehind)
{
    auto element = std::make_unique<Stepper>();
    auto other = std::make_unique<Stepper>();
    {
        Clock clock(25);
        element->SetClock(&clock);
        other->SetClock(&clock);
        clock.AddListener(other.get()); // twice
        EXPECT_EQ(clock.NumListeners(), 3u);
        other.reset(); // every entry goes
        EXPECT_EQ(clock.NumListeners(), 1u);
    }
    EXPECT_EQ(element->GetClock(), nullptr);
    element.reset(); // touches no dead clock
}

TEST_F(AnimationTest, AnElementDestroyedInATickByAnothersFinishedHandlerGetsNoTick)
{
    Clock clock(25);
    auto first = std::make_shared<Stepper>();
    auto second = std::make_shared<Stepper>();
    auto third = std::make_shared<Stepper>();
    first->finishWhen = [](TimeInfo const&) { return true; };
    for (auto* e : {first.get(), second.get(), third.get()})
    {
        e->SetClock(&clock);
        e->Start(0);
    }
    FinishLog log;
    log.onFinish = [&]
    {
        second.reset();                    // destroyed: no tick for it
        clock.RemoveListener(third.get()); // only removed: still this tick
    };
    first->AddListener(&log);
    clock.DoTick();
    EXPECT_EQ(log.calls, (std::vector<int>{0}));
    EXPECT_EQ(first->frames, 1);
    EXPECT_EQ(third->frames, 1);
    EXPECT_FALSE(first->IsRunning());
    clock.DoTick(); // the finished element gets no more frames; the removed one is gone
    EXPECT_EQ(first->frames, 1);
    EXPECT_EQ(third->frames, 1);
    EXPECT_EQ(clock.NumListeners(), 1u);
    first->RemoveListener(&log);
}

// ---------------------------------------------------------------------------------------------
// Tweens

TEST_F(AnimationTest, TweenFloatMovesLinearlyAndFinishesAtItsDuration)
{
    Clock clock(25);
    struct Case
    {
        std::vector<std::uint32_t> at;
        std::vector<float> values;
        unsigned long duration;
        int finishedAfter; // ticks
    };
    for (Case const& c : {Case{{40, 80, 120, 160, 200, 240}, {0.2f, 0.4f, 0.6f, 0.8f, 1.0f}, 200, 5},
                          Case{{230}, {1.0f}, 200, 1}, Case{{40}, {1.0f}, 0, 1}})
    {
        ValueTween tween(0.0f, 1.0f, c.duration);
        FinishLog log;
        tween.AddListener(&log);
        tween.SetClock(&clock);
        clock.DoTick(); // not started: sets nothing
        EXPECT_TRUE(tween.values.empty());
        tween.Start(clock.GetAbsoluteTime());
        std::uint32_t const begin = tween.GetStartTime();
        for (std::size_t i = 0; i < c.at.size(); ++i)
        {
            TickAt(clock, c.at[i], begin);
            EXPECT_EQ(log.calls.size(), static_cast<int>(i + 1) >= c.finishedAfter ? 1u : 0u) << i;
        }
        ASSERT_EQ(tween.values.size(), c.values.size());
        for (std::size_t i = 0; i < c.values.size(); ++i)
            EXPECT_NEAR(tween.values[i], c.values[i], 1e-6) << i;
        EXPECT_EQ(log.calls, (std::vector<int>{0}));
        tween.RemoveListener(&log);
    }
}

TEST_F(AnimationTest, ElapsedTimeSurvivesTheMillisecondCounterWrapping)
{
    Clock clock(25);
    std::uint32_t const now = clock.GetAbsoluteTime();
    backend.Advance(milliseconds(0xFFFFFFFFu - now - 50)); // 50 ms before the wrap
    ValueTween tween(0.0f, 10.0f, 100);
    tween.SetClock(&clock);
    tween.Start(clock.GetAbsoluteTime());
    backend.Advance(milliseconds(100));
    clock.DoTick();
    EXPECT_LT(clock.GetAbsoluteTime(), 100u);
    ASSERT_EQ(tween.values.size(), 1u);
    EXPECT_FLOAT_EQ(tween.values[0], 10.0f);
}

TEST_F(AnimationTest, WindowTweenMovesTruncatedAndRepaintsEveryFrame)
{
    auto panel = MakeTarget(0, 590);
    Clock clock(25);
    auto tween = std::make_shared<WindowTween>(panel.get(), 0, 0, 590, 497, 1.0f, 1.0f, 200);
    FinishLog log;
    tween->AddListener(&log);
    tween->SetClock(&clock);
    tween->Start(clock.GetAbsoluteTime());
    std::uint32_t const begin = clock.GetAbsoluteTime();
    std::vector<long> ys;
    int const repaintsBefore = panel->repaintRequests;
    for (std::uint32_t at : {40u, 80u, 120u, 160u, 200u})
    {
        TickAt(clock, at, begin);
        ys.push_back(panel->GetWindowY());
    }
    EXPECT_EQ(ys, (std::vector<long>{571, 552, 534, 515, 497}));
    EXPECT_EQ(panel->repaintRequests - repaintsBefore, 5);
    EXPECT_EQ(log.calls, (std::vector<int>{0})); // once, after all three
    EXPECT_FLOAT_EQ(panel->GetAlpha(), 1.0f);

    tween->SetX(-0.5f);
    tween->SetY(2.9f);
    tween->SetAlpha(0.5f);
    EXPECT_EQ(panel->GetWindowX(), 0);
    EXPECT_EQ(panel->GetWindowY(), 2);
    tween->RemoveListener(&log);
}

TEST_F(AnimationTest, AlphaTweenFadesTheWindowAloneAndNeverMovesIt)
{
    auto window = MakeTarget(30, 40);
    Window child;
    child.CreateChildWindow(window.get(), 5, 5, 0, 0);
    child.SetAlpha(0.7f);
    Clock clock(25);
    AlphaTween fade(window.get(), 1.0f, 0.0f, 500);
    FinishLog log;
    fade.AddListener(&log);
    fade.SetClock(&clock);
    fade.Start(clock.GetAbsoluteTime());
    std::uint32_t const begin = clock.GetAbsoluteTime();
    TickAt(clock, 250, begin);
    EXPECT_FLOAT_EQ(window->GetAlpha(), 0.5f);
    EXPECT_TRUE(log.calls.empty());
    TickAt(clock, 520, begin);
    EXPECT_FLOAT_EQ(window->GetAlpha(), 0.0f);
    EXPECT_EQ(log.calls, (std::vector<int>{0}));
    EXPECT_EQ(window->GetWindowX(), 30);
    EXPECT_EQ(window->GetWindowY(), 40);
    EXPECT_FLOAT_EQ(child.GetAlpha(), 0.7f);
    fade.RemoveListener(&log);
}

TEST_F(AnimationTest, TweensOfADeadWindowSetNothingAndRunOut)
{
    Clock clock(25);
    auto window = MakeTarget(0, 100);
    WindowTween slide(window.get(), 0, 0, 100, 0, 1.0f, 0.0f, 200);
    AlphaTween fade(window.get(), 1.0f, 0.0f, 200);
    FinishLog log;
    slide.AddListener(&log);
    fade.AddListener(&log);
    for (AnimationElement* e : std::vector<AnimationElement*>{&slide, &fade})
    {
        e->SetClock(&clock);
        e->Start(clock.GetAbsoluteTime());
    }
    std::uint32_t const begin = clock.GetAbsoluteTime();
    TickAt(clock, 40, begin);
    EXPECT_EQ(window->GetWindowY(), 80);
    window.reset(); // mid-tween
    TickAt(clock, 120, begin);
    TickAt(clock, 200, begin);
    EXPECT_EQ(log.calls, (std::vector<int>{0, 0}));
    slide.RemoveListener(&log);
    fade.RemoveListener(&log);
}

// ---------------------------------------------------------------------------------------------
// Sequences and players

TEST_F(AnimationTest, SequencesFinishOnTheirLastChildsNotice)
{
    Clock clock(25);
    ParallelSequence empty(&clock);
    FinishLog emptyLog;
    empty.AddListener(&emptyLog);
    empty.Start(0);
    EXPECT_EQ(emptyLog.calls, (std::vector<int>{0})); // inside Start
    empty.RemoveListener(&emptyLog);

    ParallelSequence three(&clock);
    auto* a = new ValueTween(0.0f, 1.0f, 200);
    auto b = std::make_shared<ValueTween>(0.0f, 2.0f, 200);
    auto* c = new ValueTween(0.0f, 3.0f, 100);
    three.Add(a);
    three.Add(b);
    three.Add(c);
    FinishLog log;
    three.AddListener(&log);
    three.Start(clock.GetAbsoluteTime());
    std::uint32_t const begin = clock.GetAbsoluteTime();
    EXPECT_EQ(clock.NumListeners(), 5u); // both sequences and the three children
    TickAt(clock, 120, begin);
    EXPECT_TRUE(log.calls.empty()); // one of three finished
    TickAt(clock, 200, begin);
    EXPECT_EQ(log.calls, (std::vector<int>{0}));
    EXPECT_FLOAT_EQ(b->values.back(), 2.0f);
    three.RemoveListener(&log);
}

TEST_F(AnimationTest, DestroyedSequenceDetachesItsChildren)
{
    Clock clock(25);
    auto held = std::make_shared<Stepper>();
    {
        ParallelSequence s(&clock);
        s.Add(held);
        s.Start(0);
        EXPECT_EQ(held->GetClock(), &clock);
    }
    EXPECT_EQ(held->GetClock(), nullptr);
    EXPECT_EQ(held->NumListeners(), 0u);
    EXPECT_EQ(clock.NumListeners(), 0u);
}

TEST_F(AnimationTest, AnElementFinishingAfterItsPlayerDiedCallsNoPlayer)
{
    auto element = std::make_shared<Stepper>();
    {
        EasyAnimation::Player player(element, false);
        EXPECT_EQ(element->NumListeners(), 1u);
        EXPECT_TRUE(element->IsRunning());
    }
    EXPECT_EQ(element->NumListeners(), 0u);
    EXPECT_EQ(element->GetClock(), nullptr);
    element->Finished(); // reaches no dead player
}

TEST_F(AnimationTest, PlaySyncReturnsAfterTheSliceInWhichTheElementFinished)
{
    auto window = MakeTarget(0, 100);
    auto start = gfx::RunLoop::Now();
    auto tween = std::make_shared<WindowTween>(window.get(), 0, 0, 100, 50, 1.0f, 1.0f, 200);
    std::weak_ptr<WindowTween> watch = tween;
    EasyAnimation::PlaySync(window.get(), std::move(tween));
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(window->GetWindowY(), 50);
    auto const took = std::chrono::duration_cast<milliseconds>(gfx::RunLoop::Now() - start).count();
    EXPECT_GE(took, 1000);
    EXPECT_LT(took, 1100);
    EXPECT_EQ(AnimationElement::NumLive(), elementsBefore);
}

TEST_F(AnimationTest, PlaySyncOutlivesItsWindowAndEndsWhenTheLoopShutsDown)
{
    // The window goes in the pump, mid-tween.
    auto window = MakeTarget(0, 100);
    struct Closer : TimerListener
    {
        std::unique_ptr<Target>* window;
        void TimerEvent(int) override
        {
            window->reset();
            StopTimer(1);
        }
    } closer;
    closer.window = &window;
    closer.StartTimer(1, 100);
    Window* raw = window.get();
    EasyAnimation::PlaySync(raw, std::make_shared<WindowTween>(raw, 0, 0, 100, 0, 1.0f, 0.0f, 400));
    EXPECT_EQ(window, nullptr);

    // An element that never finishes: the editor is abandoned in the pump (its host window
    // went, or another thread closes it), and the loop stays bound until the close.
    gfx::RunLoop::Post([] { gfx::RunLoop::AbandonNested(); });
    auto endless = std::make_shared<Stepper>();
    EasyAnimation::PlaySync(nullptr, endless);
    EXPECT_TRUE(gfx::RunLoop::IsBound());
    EXPECT_EQ(endless->NumListeners(), 0u);
    EXPECT_EQ(EasyAnimation::Player::NumLive(), playersBefore);
    gfx::RunLoop::ResumeNested();
}

TEST_F(AnimationTest, AnAsyncFadeRunsOnAndFreesPlayerAndTween)
{
    auto window = MakeTarget(0, 0);
    EasyAnimation::Fade(window.get(), 1.0f, 0.0f, 500, false);
    EXPECT_FLOAT_EQ(window->GetAlpha(), 1.0f); // returned at once
    EXPECT_EQ(EasyAnimation::Player::NumLive(), playersBefore + 1);
    EXPECT_EQ(AnimationElement::NumLive(), elementsBefore + 2); // the fade and its inner tween
    gfx::RunLoop::RunFor(milliseconds(480));
    EXPECT_GT(window->GetAlpha(), 0.0f);
    gfx::RunLoop::RunFor(milliseconds(100));
    EXPECT_FLOAT_EQ(window->GetAlpha(), 0.0f);
    EXPECT_EQ(EasyAnimation::Player::NumLive(), playersBefore);
    EXPECT_EQ(AnimationElement::NumLive(), elementsBefore);

    // The caller's pointer dropped at once does not stop it.
    auto tween = std::make_shared<AlphaTween>(window.get(), 0.0f, 1.0f, 200);
    EasyAnimation::PlayAsync(tween);
    tween.reset();
    gfx::RunLoop::RunFor(milliseconds(300));
    EXPECT_FLOAT_EQ(window->GetAlpha(), 1.0f);
    EXPECT_EQ(EasyAnimation::Player::NumLive(), playersBefore);
    EXPECT_EQ(AnimationElement::NumLive(), elementsBefore);
}

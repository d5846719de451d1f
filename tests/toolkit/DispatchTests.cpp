#include <atomic>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <thread>

#include "ToolkitTestSupport.h"
#include "framework/Timers.h"
#include "platform/gfx/View.h"
#include "toolkit/Frame.h"

namespace
{
using Calls = std::vector<std::string>;

class DispatchTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        page = MakeRoot(200, 200, 0, 0, &pageLog);
        target = std::make_unique<RecordingWindow>(&log);
        target->CreateChildWindow(page.get(), 20, 20, 10, 10);
    }

    Calls pageLog;
    Calls log;
    std::unique_ptr<RecordingWindow> page;
    std::unique_ptr<RecordingWindow> target;
};

TEST_F(DispatchTest, LeftAndTopEdgesHitRightAndBottomDoNot)
{
    struct Case
    {
        int x, y;
        bool hit;
    };
    for (Case c : {Case{10, 10, true}, Case{29, 29, true}, Case{30, 10, false}, Case{10, 30, false},
                   Case{9, 15, false}, Case{15, 9, false}, Case{29, 10, true}})
    {
        log.clear();
        pageLog.clear();
        gfx::Dispatcher::Reset();
        backend.Click(*surface, c.x, c.y);
        Run();
        EXPECT_EQ(log.size(), c.hit ? 3u : 0u) << c.x << "," << c.y;
        EXPECT_EQ(pageLog.size(), c.hit ? 0u : 3u) << c.x << "," << c.y;
        backend.Pause(std::chrono::seconds(1));
    }
}

TEST_F(DispatchTest, ClicksCountByTimeAndDistance)
{
    struct Case
    {
        char const* name;
        std::function<void(gfx::HeadlessBackend&, gfx::Surface&)> script;
        Calls expected;
    };
    Calls click = {"LButtonDown(5,5)", "MouseMoved(5,5)", "LButtonUp(5,5)"};
    Calls twoClicks = click;
    twoClicks.insert(twoClicks.end(), click.begin(), click.end());
    Calls doubleClick = click;
    doubleClick.push_back("LDoubleClick(5,5)");
    Calls triple = doubleClick;
    triple.insert(triple.end(), click.begin(), click.end());
    Calls rights = {"RButtonDown(5,5)", "MouseMoved(5,5)", "RButtonUp(5,5)",
                    "RButtonDown(5,5)", "MouseMoved(5,5)", "RButtonUp(5,5)"};
    const Case cases[] = {
        {"double", [](auto& b, auto& s) { b.DoubleClick(s, 15, 15); }, doubleClick},
        {"triple",
         [](auto& b, auto& s)
         {
             b.DoubleClick(s, 15, 15);
             b.Click(s, 15, 15);
         },
         triple},
        {"slow",
         [](auto& b, auto& s)
         {
             b.Click(s, 15, 15);
             b.Pause(std::chrono::milliseconds(600));
             b.Click(s, 15, 15);
         },
         twoClicks},
        {"apart",
         [](auto& b, auto& s)
         {
             b.Click(s, 15, 15);
             b.Click(s, 20, 15);
         },
         {"LButtonDown(5,5)", "MouseMoved(5,5)", "LButtonUp(5,5)", "LButtonDown(10,5)", "MouseMoved(10,5)",
          "LButtonUp(10,5)"}},
        {"right double",
         [](auto& b, auto& s)
         {
             b.Click(s, 15, 15, gfx::kButtonRight);
             b.Click(s, 15, 15, gfx::kButtonRight);
         },
         rights},
    };
    for (Case const& c : cases)
    {
        log.clear();
        gfx::Dispatcher::Reset();
        c.script(backend, *surface);
        Run();
        EXPECT_EQ(log, c.expected) << c.name;
        backend.Pause(std::chrono::seconds(1));
    }
}

TEST_F(DispatchTest, DraggingOutLeftReportsNegativePointsAndReleasesOutside)
{
    backend.Drag(*surface, {15, 15}, {-5, 12}, 2);
    Run();
    EXPECT_EQ(log, (Calls{"LButtonDown(5,5)", "MouseMoved(-5,4)", "MouseMoved(-15,2)", "MouseMoved(-15,2)",
                          "LButtonUp(-15,2)"}));
    EXPECT_TRUE(pageLog.empty());
    EXPECT_EQ(backend.grabs, 0);
}

TEST_F(DispatchTest, TrackingUsesTheSurfaceOriginAtThePress)
{
    surface->Move(300, 400);
    target->after = [&](std::string const& what)
    {
        if (what == "MouseMoved") surface->Move(0, 0); // the host moves its window during the drag
    };
    backend.Press(*surface, 15, 15);
    backend.MoveTo(*surface, 16, 16);
    backend.Release(*surface, 20 - 300, 20 - 400); // at screen (20, 20)
    Run();
    // The release is taken relative to the surface's origin at the press (300, 400).
    EXPECT_EQ(
        log, (Calls{"LButtonDown(5,5)", "MouseMoved(6,6)", "MouseMoved(-290,-390)", "LButtonUp(-290,-390)"}));
}

TEST_F(DispatchTest, ModifiersAreStoredBeforeEveryCall)
{
    struct Case
    {
        unsigned modifiers;
        char const* shown;
    };
    for (Case c : {Case{gfx::kModShift, " [shift]"}, Case{gfx::kModControl, " [control]"},
                   Case{gfx::kModAlt, " [option]"}, Case{gfx::kModSuper, " [command]"},
                   Case{gfx::kModShift | gfx::kModSuper, " [shift command]"}, Case{0, ""}})
    {
        log.clear();
        backend.Click(*surface, 12, 12, gfx::kButtonLeft, c.modifiers);
        backend.Pause(std::chrono::seconds(1));
        Run();
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[0], std::string("LButtonDown(2,2)") + c.shown);
        EXPECT_EQ(log[2], std::string("LButtonUp(2,2)") + c.shown);
    }

    log.clear();
    backend.Press(*surface, 12, 12);
    backend.MoveTo(*surface, 13, 12, gfx::kModShift);
    backend.MoveTo(*surface, 14, 12);
    backend.Release(*surface, 15, 12, gfx::kButtonLeft, gfx::kModShift);
    Run();
    EXPECT_EQ(log, (Calls{"LButtonDown(2,2)", "MouseMoved(3,2) [shift]", "MouseMoved(4,2)",
                          "MouseMoved(5,2) [shift]", "LButtonUp(5,2) [shift]"}));
}

TEST_F(DispatchTest, LeftWinsWhenBothButtonsAreDown)
{
    bool nested = false;
    target->after = [&](std::string const& what)
    {
        if (what != "RButtonDown" || nested) return;
        nested = true; // a menu's loop, in which the left button goes down too
        gfx::RunLoop::RunUntil([&] { return backend.PendingInput() == 0; });
    };
    backend.Press(*surface, 15, 15, gfx::kButtonRight);
    backend.Press(*surface, 16, 15, gfx::kButtonLeft);
    backend.Release(*surface, 16, 15, gfx::kButtonLeft);
    backend.Release(*surface, 17, 15, gfx::kButtonRight);
    Run();
    EXPECT_EQ(log, (Calls{"RButtonDown(5,5)", "LButtonDown(6,5)", "MouseMoved(6,5)", "LButtonUp(6,5)",
                          "MouseMoved(7,5)", "RButtonUp(7,5)"}));
}

TEST_F(DispatchTest, AWindowDestroyedInItsOwnPressGetsNoFurtherCall)
{
    target->after = [this](std::string const& what)
    {
        if (what == "LButtonDown") target.reset();
    };
    backend.Drag(*surface, {15, 15}, {25, 25});
    Run();
    EXPECT_EQ(log, Calls{"LButtonDown(5,5)"});
    EXPECT_EQ(backend.grabs, 0);
    EXPECT_FALSE(gfx::Dispatcher::Tracking());
    backend.Pause(std::chrono::seconds(1));
    backend.Click(*surface, 15, 15); // the page is hit now
    Run();
    EXPECT_EQ(pageLog.size(), 3u);
}

TEST_F(DispatchTest, APageRebuiltFromAButtonHandlerEndsTheDispatchQuietly)
{
    auto sibling = std::make_unique<RecordingWindow>(&log, "sibling.");
    sibling->CreateChildWindow(page.get(), 20, 20, 50, 10);
    target->after = [&](std::string const& what)
    {
        if (what != "LButtonUp") return;
        // The button's handler throws away the whole page: the sibling, the page, the button
        // (and with it this handler, so nothing of it is used afterwards).
        DispatchTest* self = this;
        auto* oldSibling = &sibling;
        oldSibling->reset();
        self->page.reset();
        self->target.reset();
        self->page = self->MakeRoot(200, 200, 0, 0, &self->pageLog);
    };
    backend.Click(*surface, 15, 15);
    backend.Click(*surface, 55, 15);
    Run();
    EXPECT_EQ(log, (Calls{"LButtonDown(5,5)", "MouseMoved(5,5)", "LButtonUp(5,5)"}));
    EXPECT_EQ(pageLog.size(), 3u); // the new page took the second click
}

TEST_F(DispatchTest, AWindowDestroyedByASiblingWhileTrackedGetsNoFurtherCall)
{
    struct Killer : TimerListener
    {
        std::function<void()> action;
        void TimerEvent(int id) override
        {
            StopTimer(id);
            action();
        }
    } killer;
    killer.action = [this] { target.reset(); };
    target->after = [&](std::string const& what)
    {
        if (what == "LButtonDown") killer.StartTimer(1, 15);
    };
    backend.Press(*surface, 15, 15);
    backend.MoveTo(*surface, 16, 16);
    backend.Pause(std::chrono::milliseconds(50));
    backend.MoveTo(*surface, 17, 17);
    backend.Release(*surface, 17, 17);
    Run();
    EXPECT_EQ(log, (Calls{"LButtonDown(5,5)", "MouseMoved(6,6)"}));
    EXPECT_FALSE(gfx::Dispatcher::Tracking());
}

TEST_F(DispatchTest, ANestedLoopThatTakesTheReleaseEndsTrackingAtOnce)
{
    target->after = [&](std::string const& what)
    {
        // A menu: its own loop runs until the button came up.
        if (what == "RButtonDown") gfx::RunLoop::RunUntil([&] { return backend.PendingInput() == 0; });
    };
    backend.Press(*surface, 15, 15, gfx::kButtonRight);
    backend.MoveTo(*surface, 18, 18);
    backend.Release(*surface, 19, 19, gfx::kButtonRight);
    Run();
    EXPECT_EQ(log, (Calls{"RButtonDown(5,5)", "MouseMoved(9,9)", "RButtonUp(9,9)"}));
}

TEST_F(DispatchTest, AnExceptionFromAHandlerUnwindsTrackingAndGrabs)
{
    target->after = [&](std::string const& what)
    {
        if (what == "MouseMoved") throw std::runtime_error("handler failed");
    };
    backend.Drag(*surface, {15, 15}, {16, 16}, 3);
    EXPECT_THROW(Run(), std::runtime_error);
    EXPECT_EQ(backend.grabs, 0);
    EXPECT_FALSE(gfx::Dispatcher::Tracking());

    // A host entry catches everything.
    target->after = nullptr;
    bool done = gfx::RunLoop::GuardHostEntry("idle", [&] { throw std::runtime_error("idle failed"); });
    EXPECT_FALSE(done);
    EXPECT_TRUE(gfx::RunLoop::GuardHostEntry("idle", [] {}));
    EXPECT_FALSE(gfx::RunLoop::GuardHostEntry("open", [] { throw "text"; }));
    EXPECT_FALSE(gfx::RunLoop::GuardHostEntry("open", [] { throw 5; }));

    backend.Pause(std::chrono::seconds(1));
    backend.Drag(*surface, {15, 15}, {16, 16}, 1);
    log.clear();
    Run();
    EXPECT_EQ(log.size(), 4u);
}

TEST_F(DispatchTest, ThePointerIsGrabbedOnlyWhileAPressIsFollowed)
{
    struct Case
    {
        char const* name;
        char const* when; // the handler call in which it looks
        bool modal;       // looks from inside a modal run started there
        int grabs;
    };
    for (Case c : {Case{"a press handler before it follows the pointer", "LButtonDown", false, 0},
                   Case{"while the pointer is followed", "MouseMoved", false, 1},
                   Case{"after the release", "LButtonUp", false, 0},
                   Case{"a modal run from the press handler", "LButtonDown", true, 0},
                   Case{"a modal run while the pointer is followed", "MouseMoved", true, 0},
                   Case{"a modal run after the release", "LButtonUp", true, 0}})
    {
        SCOPED_TRACE(c.name);
        std::optional<int> seen;
        target->after = [&](std::string const& what)
        {
            if (what != c.when || seen) return;
            if (!c.modal)
            {
                seen = backend.grabs;
                return;
            }
            Frame dialog;
            dialog.CreateFrame(page.get(), 10, 10, 50, 50);
            backend.Then(
                [&]
                {
                    seen = backend.grabs;
                    dialog.QuitModal();
                });
            dialog.RunModal();
        };
        backend.Drag(*surface, {15, 15}, {18, 18}, 3);
        Run();
        ASSERT_TRUE(seen.has_value());
        EXPECT_EQ(*seen, c.grabs);
        EXPECT_EQ(backend.grabs, 0);
        EXPECT_FALSE(gfx::Dispatcher::Tracking());
        backend.Pause(std::chrono::seconds(1));
    }
}

TEST_F(DispatchTest, AWaitWithNothingScriptedFailsInsteadOfHanging)
{
    backend.onFailure = nullptr;
    EXPECT_THROW(gfx::RunLoop::RunUntil([] { return false; }), gfx::HeadlessStarved);

    struct Ticker : TimerListener
    {
        int ticks = 0;
        void TimerEvent(int) override { ++ticks; }
    } ticker;
    ticker.StartTimer(1, 40);
    gfx::TimePoint start = backend.Now();
    EXPECT_THROW(gfx::RunLoop::RunUntil([] { return false; }), gfx::HeadlessStarved);
    auto waited = backend.Now() - start;
    EXPECT_GE(waited, std::chrono::seconds(59));
    EXPECT_LE(waited, std::chrono::seconds(61));
    EXPECT_GT(ticker.ticks, 1000);

    // Time-bounded waits run their timers and end.
    ticker.ticks = 0;
    gfx::RunLoop::RunFor(std::chrono::seconds(120));
    EXPECT_EQ(ticker.ticks, 3000);
}

TEST_F(DispatchTest, AWaitWakesOnAPostFromAnotherThreadAndFailsOnceNoneCanCome)
{
    backend.onFailure = nullptr;
    struct Ticker : TimerListener
    {
        void TimerEvent(int) override {}
    } ticker;
    struct Case
    {
        char const* name;
        bool ticking; // a timer runs meanwhile
        bool posts;   // the other thread posts before it ends
        bool starves;
    };
    for (Case c : {Case{"a post ends an open-ended wait", false, true, false},
                   Case{"a post ends a wait between timer ticks", true, true, false},
                   Case{"the other thread ends without posting", false, false, true},
                   Case{"it ends without posting while a timer ticks", true, false, true}})
    {
        SCOPED_TRACE(c.name);
        if (c.ticking)
            ticker.StartTimer(1, 40);
        else
            ticker.StopTimer(1);
        std::atomic<bool> ran{false};
        bool starved = false;
        {
            auto poster = std::make_unique<gfx::HeadlessBackend::Poster>(backend);
            std::thread other(
                [&]
                {
                    std::this_thread::sleep_for(std::chrono::milliseconds(30));
                    if (c.posts) gfx::RunLoop::Post([&] { ran = true; });
                    poster.reset();
                });
            gfx::TimePoint before = backend.Now();
            try
            {
                gfx::RunLoop::RunUntil([&] { return ran.load(); });
            }
            catch (gfx::HeadlessStarved const&)
            {
                starved = true;
            }
            other.join();
            EXPECT_GE(backend.Now(), before);
        }
        EXPECT_EQ(starved, c.starves);
        EXPECT_EQ(ran.load(), c.posts);
    }
    ticker.StopTimer(1);

    // With nobody left who could post, the wait fails at once again.
    EXPECT_THROW(gfx::RunLoop::RunUntil([] { return false; }), gfx::HeadlessStarved);
}

TEST_F(DispatchTest, TheLoopBelongsToOneThreadAtATime)
{
    bool ran = false;
    std::thread other(
        [&]
        {
            EXPECT_FALSE(gfx::RunLoop::Acquire());
            EXPECT_FALSE(gfx::RunLoop::MayRun());
            gfx::RunLoop::Post([&] { ran = true; });
            gfx::RunLoop::Turn(true); // refused: returns at once
        });
    other.join();
    EXPECT_FALSE(ran);
    Run();
    EXPECT_TRUE(ran);

    // Nested acquisitions on the bound thread count; another thread binds after the last release.
    EXPECT_TRUE(gfx::RunLoop::Acquire());
    gfx::RunLoop::Release();
    gfx::RunLoop::Release();
    EXPECT_FALSE(gfx::RunLoop::IsBound());
    bool bound = false;
    std::thread next(
        [&]
        {
            bound = gfx::RunLoop::Acquire();
            gfx::RunLoop::Release();
        });
    next.join();
    EXPECT_TRUE(bound);
    EXPECT_TRUE(gfx::RunLoop::Acquire()); // for TearDown
}

TEST_F(DispatchTest, DeferredReleasesWaitForTheOutermostHandler)
{
    std::vector<std::string> order;
    target->after = [&](std::string const& what)
    {
        if (what != "LButtonDown") return;
        gfx::RunLoop::DeferRelease([&] { order.push_back("released"); });
        order.push_back("handler");
    };
    backend.Click(*surface, 15, 15);
    Run();
    EXPECT_EQ(order, (std::vector<std::string>{"handler", "released"}));
    gfx::RunLoop::DeferRelease([&] { order.push_back("at once"); });
    EXPECT_EQ(order.back(), "at once");
}
} // namespace

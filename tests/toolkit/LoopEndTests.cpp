// Every loop of the toolkit that waits (a synchronous animation, a modal run, an alert, the
// file dialog, a menu, the tracking of a press) ends promptly once its loop is abandoned (the
// host's window or the X connection went, or another thread closes the editor), and a loop
// started while it is abandoned does not wait at all. Times are the back end's virtual clock,
// which moves only while the loop waits.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "ToolkitTestSupport.h"
#include "framework/Timers.h"
#include "platform/MessagePopup.h"
#include "toolkit/Animation.h"
#include "toolkit/FileDialog.h"
#include "toolkit/Frame.h"
#include "toolkit/PopupMenu.h"

namespace
{
using std::chrono::milliseconds;

// An element that never finishes on its own.
class Endless : public Animation::AnimationElement
{
public:
    void NextFrame(Animation::TimeInfo const&) override { ++frames; }
    int frames = 0;
};

struct Ticker : TimerListener
{
    std::function<void()> action;
    void TimerEvent(int id) override
    {
        StopTimer(id);
        if (action) action();
    }
};

class LoopEndTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        // A loop that never ends fails the run instead of hanging it.
        watchdog = std::thread(
            [this]
            {
                std::unique_lock<std::mutex> lock(watchdogMutex);
                if (!watchdogDone.wait_for(lock, std::chrono::seconds(120), [this] { return finished; }))
                {
                    std::fprintf(stderr, "a loop did not end once abandoned\n");
                    std::_Exit(1);
                }
            });
        ToolkitTest::SetUp();
        page = MakeRoot(200, 200, 0, 0);
        FileDialog::SetLastFolder(::testing::TempDir().c_str());
        list.AddItem("One", 1, nullptr, false);
        list.AddItem("Two", 2, nullptr, false);
    }
    void TearDown() override
    {
        gfx::RunLoop::ResumeNested();
        page.reset();
        ToolkitTest::TearDown();
        {
            std::lock_guard<std::mutex> lock(watchdogMutex);
            finished = true;
        }
        watchdogDone.notify_all();
        watchdog.join();
    }

    struct Loop
    {
        char const* name;
        std::function<void(LoopEndTest&)> run;
    };
    static std::vector<Loop> Loops()
    {
        return {
            {"a synchronous animation that never ends",
             [](LoopEndTest&) { Animation::EasyAnimation::PlaySync(nullptr, std::make_shared<Endless>()); }},
            {"a splash's synchronous fade",
             [](LoopEndTest& t) { Animation::EasyAnimation::Fade(t.page.get(), 0.0f, 1.0f, 200, true); }},
            {"a modal run",
             [](LoopEndTest& t)
             {
                 Frame dialog;
                 dialog.CreateFrame(t.page.get(), 10, 10, 100, 80);
                 dialog.RunModal();
             }},
            {"an alert", [](LoopEndTest&) { MessagePopup("Something to say", "Note"); }},
            {"a question", [](LoopEndTest&) { EXPECT_FALSE(MessageYesNoPopup("Go on?", "Question")); }},
            {"the file dialog",
             [](LoopEndTest&)
             {
                 FileDialog::TypeList types;
                 types.Add("Wave", "wav");
                 String path("unchanged");
                 EXPECT_FALSE(FileDialog::OpenDialog("Import", types, path));
                 EXPECT_STREQ(path, "unchanged");
             }},
            {"a menu",
             [](LoopEndTest& t) { EXPECT_EQ(RunPopupMenu(t.list, t.page.get(), 20, 20), nullptr); }},
            {"the tracking of a press",
             [](LoopEndTest& t)
             {
                 // The handler starts when the scripted press comes.
                 t.page->after = [&t](std::string const& what)
                 {
                     if (what == "LButtonDown") t.started = t.backend.Now();
                 };
                 gfx::Dispatcher::Reset();            // a press, not the second of a double click
                 t.backend.Press(*t.surface, 50, 50); // never released
                 t.Run();
                 t.page->after = nullptr;
                 EXPECT_FALSE(gfx::Dispatcher::Tracking());
             }},
        };
    }

    // Runs the loop, abandoned by `abandon` meanwhile; then checks that it ended within 100 ms of
    // the abandonment, left nothing open, and that the same loop started again while the loop
    // stays abandoned returns without waiting.
    void Check(Loop const& loop, std::function<void(gfx::TimePoint& at)> const& abandon)
    {
        SCOPED_TRACE(loop.name);
        std::size_t const surfaces = gfx::Surface::All().size();
        int const players = Animation::EasyAnimation::Player::NumLive();
        gfx::TimePoint abandonedAt{};
        abandon(abandonedAt);
        gfx::TimePoint const start = backend.Now();
        loop.run(*this);
        gfx::TimePoint const end = backend.Now();
        ASSERT_TRUE(gfx::RunLoop::Abandoned());
        EXPECT_GE(abandonedAt, start);
        EXPECT_LE(end - abandonedAt, milliseconds(100));
        EXPECT_EQ(gfx::Surface::All().size(), surfaces);
        EXPECT_EQ(Animation::EasyAnimation::Player::NumLive(), players);
        EXPECT_EQ(backend.grabs, 0);

        started = backend.Now();
        loop.run(*this);
        EXPECT_EQ(backend.Now(), started);
        EXPECT_EQ(gfx::Surface::All().size(), surfaces);
        EXPECT_EQ(backend.grabs, 0);

        gfx::RunLoop::ResumeNested();
        gfx::RunLoop::Turn(false);
    }

    std::unique_ptr<RecordingWindow> page;
    gfx::TimePoint started; // when the loop began to run
    CascadeList list;
    Ticker ticker;
    std::thread watchdog;
    std::mutex watchdogMutex;
    std::condition_variable watchdogDone;
    bool finished = false;
};

// What the back end does when the host's window or the connection goes: it abandons the loop
// from inside a turn of the editor's thread.
TEST_F(LoopEndTest, EveryWaitingLoopEndsOnceTheWindowSystemGoes)
{
    for (Loop const& loop : Loops())
        Check(loop,
              [this](gfx::TimePoint& at)
              {
                  ticker.action = [&at]
                  {
                      at = gfx::RunLoop::Now();
                      gfx::RunLoop::AbandonNested();
                  };
                  ticker.StartTimer(1, 50);
              });
}

// A close from another thread: it posts the abandonment to the editor's thread and wakes it.
TEST_F(LoopEndTest, EveryWaitingLoopEndsOnAnAbandonmentPostedFromAnotherThread)
{
    for (Loop const& loop : Loops())
    {
        std::unique_ptr<std::thread> closer;
        Check(loop,
              [this, &closer](gfx::TimePoint& at)
              {
                  auto poster = std::make_shared<gfx::HeadlessBackend::Poster>(backend);
                  closer = std::make_unique<std::thread>(
                      [poster, &at]() mutable
                      {
                          std::this_thread::sleep_for(milliseconds(20));
                          gfx::RunLoop::Post(
                              [&at]
                              {
                                  at = gfx::RunLoop::Now();
                                  gfx::RunLoop::AbandonNested();
                              });
                          poster.reset();
                      });
              });
        closer->join();
    }
}
} // namespace

// A close ends an editor's loops for good: the host showing the editor again (which lifts a
// hide's end) does not wake a closing editor's loops. Its surface's end forgets it.
TEST_F(LoopEndTest, AnEditorsCloseOutlastsAShowAndItsSurfaceForgetsIt)
{
    struct Row
    {
        char const* what;
        std::function<void(gfx::Surface const*)> steps;
        bool abandoned;
    };
    Row const rows[] = {
        {"hidden", [](gfx::Surface const* s) { gfx::RunLoop::Abandon(s); }, true},
        {"hidden, shown", [](gfx::Surface const* s) { gfx::RunLoop::Abandon(s), gfx::RunLoop::ShowAgain(s); },
         false},
        {"closing", [](gfx::Surface const* s) { gfx::RunLoop::End(s); }, true},
        {"closing, shown", [](gfx::Surface const* s) { gfx::RunLoop::End(s), gfx::RunLoop::ShowAgain(s); },
         true},
        {"hidden, closing, shown",
         [](gfx::Surface const* s)
         { gfx::RunLoop::Abandon(s), gfx::RunLoop::End(s), gfx::RunLoop::ShowAgain(s); },
         true},
        {"closing, its surface gone",
         [](gfx::Surface const* s) { gfx::RunLoop::End(s), gfx::RunLoop::Forget(s); }, false},
    };
    for (Row const& row : rows)
    {
        row.steps(surface.get());
        EXPECT_EQ(gfx::RunLoop::Abandoned(surface.get()), row.abandoned) << row.what;
        // The next row starts afresh.
        gfx::RunLoop::Forget(surface.get());
        EXPECT_FALSE(gfx::RunLoop::Abandoned(surface.get())) << row.what;
    }
}

TEST_F(LoopEndTest, AStrandWhoseThreadEndedKeepsNothingAnotherThreadHandsIt)
{
    gfx::Surface* const editor = surface.get();
    gfx::RunLoop::AddStrand(editor);
    // The host's first thread opens a menu's loop on the editor's strand, then ends.
    gfx::RunLoop::Release();
    std::thread(
        [editor]
        {
            ASSERT_TRUE(gfx::RunLoop::Acquire());
            gfx::RunLoop::RunOnEditor(editor, [] { gfx::RunLoop::RunUntil([] { return false; }); });
            EXPECT_TRUE(gfx::RunLoop::StrandWaiting(editor));
            gfx::RunLoop::Release();
        })
        .join();
    // Its other thread idles the editor on and on.
    ASSERT_TRUE(gfx::RunLoop::Acquire());
    int taken = 0;
    for (int i = 0; i < 100000; ++i)
    {
        gfx::RunLoop::Turn(false);
        taken += gfx::RunLoop::RunOnEditor(editor, [] {}) ? 1 : 0;
    }
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(gfx::RunLoop::Queued(editor), 0u);
    EXPECT_TRUE(gfx::RunLoop::StrandWaiting(editor)); // until its editor is closed
    gfx::RunLoop::RemoveStrand(editor);
}

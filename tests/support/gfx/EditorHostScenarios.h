#pragma once

// The ways hosts drive an editor, as one table run against each deliverable's adapter (the VST
// editor loader, the Audio Unit view): which threads open, idle and close, what runs on the
// editor's thread when the instance is closed from another one (an alert, a modal dialog, a
// menu, a drag, a fade, or nothing because that thread stopped idling), and whether the host
// window or the X connection went first. Every row ends with every editor closed, every
// instance deleted, the loop unbound, and a second editor on another instance still working;
// the editor is opened again afterwards. The sanitizers watch for use after free, leaks and
// races. The editors open in fake host windows of the headless back end, whose waits sleep
// until another thread posts while such a thread is about (HeadlessBackend::Poster).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "framework/Parameter.h"
#include "framework/PluginBase.h"
#include "platform/CascadeList.h"
#include "platform/MessagePopup.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/EditorWindowSystem.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/headless/HeadlessBackend.h"
#include "toolkit/Alerts.h"
#include "toolkit/Animation.h"
#include "toolkit/EditorHost.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/Frame.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/MacWindowManager.h"
#include "toolkit/ParameterControls.h"
#include "toolkit/PopupMenu.h"

namespace scenarios
{
// What the editor's thread is doing when the instance is closed from another thread.
enum class Nest
{
    None,       // idling normally
    Alert,      // a modal alert
    SaveDialog, // a modal dialog frame
    Menu,       // a popup menu
    Drag,       // the tracking of a press
    Fade,       // a synchronous fade
    Stopped,    // not idling at all for the moment
    Blocked     // inside a handler, blocked outside our code until the host lets it go
};

// What the host does to the editor's surroundings first.
enum class First
{
    Nothing,
    WindowGone,
    ConnectionLost
};

inline char const* Name(Nest n)
{
    switch (n)
    {
    case Nest::None:
        return "idling";
    case Nest::Alert:
        return "alert";
    case Nest::SaveDialog:
        return "save dialog";
    case Nest::Menu:
        return "menu";
    case Nest::Drag:
        return "drag";
    case Nest::Fade:
        return "fade";
    case Nest::Stopped:
        return "stopped idling";
    case Nest::Blocked:
        return "blocked outside our code";
    }
    return "?";
}

// What a scenario root saw, per plug-in.
struct Counts
{
    std::atomic<Nest> nest{Nest::None}; // what the next press runs
    std::atomic<int> nestedStarted{0};
    std::atomic<int> nestedEnded{0};
    std::atomic<int> updates{0};
    std::atomic<int> presses{0};
    std::atomic<bool> unblock{false};           // lets a blocked handler go on
    std::atomic<gfx::Surface*> dialog{nullptr}; // the save dialog's surface while it runs
    std::atomic<int> dialogPresses{0};
    std::atomic<long> chosen{0}; // the id of the menu entry chosen last (0: none)
};

// The scenario's save dialog: a frame that counts the presses it receives.
class ScenarioDialog : public Frame
{
public:
    explicit ScenarioDialog(Counts& c) : counts(c) {}
    void LButtonDown(long x, long y) override
    {
        ++counts.dialogPresses;
        Frame::LButtonDown(x, y);
    }

private:
    Counts& counts;
};

// Waits, polling, until `ready`; false after the bound.
inline bool WaitFor(std::function<bool()> const& ready)
{
    for (int i = 0; i < 20000; ++i)
    {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ready();
}

inline std::mutex& CountsMutex()
{
    static std::mutex m;
    return m;
}
inline std::map<PluginBase const*, std::shared_ptr<Counts>>& CountsMap()
{
    static std::map<PluginBase const*, std::shared_ptr<Counts>> m;
    return m;
}
inline Counts& CountsOf(PluginBase const* plugin)
{
    std::lock_guard<std::mutex> lock(CountsMutex());
    auto& slot = CountsMap()[plugin];
    if (!slot) slot = std::make_shared<Counts>();
    return *slot;
}
inline void ForgetCounts()
{
    std::lock_guard<std::mutex> lock(CountsMutex());
    CountsMap().clear();
}

// The plug-in behind an editor handle and the parameter a scenario root binds, as each test
// binary's deliverable finds them.
struct Binding
{
    EditedPlugin edited;
    Parameter* parameter = nullptr;
};
Binding Bind(void* handle);

// An editor root with one control bound to a parameter of its plug-in, whose press runs the
// nested loop its plug-in's counts name and then uses the plug-in, as the editor's handlers do.
class ScenarioRoot : public EffectGUIBase
{
public:
    explicit ScenarioRoot(void* handle) : ScenarioRoot(handle, Bind(handle)) {}
    ~ScenarioRoot() override { Detach(); }
    void GetDimensions(long& w, long& h) override
    {
        w = 120;
        h = 80;
    }
    void CreateContent() override
    {
        if (parameter != nullptr) toggle.Create(this, parameter, 70, 50, String("on"), String("off"));
    }
    // Whatever the plug-in makes of a request, the drain reports that it delivered one.
    void NotificationQueueChanged() override { ++counts.updates; }
    void Repaint(GraphicsContext& gc) override
    {
        gc.SetPenColour(30, 160, 90, 1, 255);
        gc.DrawFilledRect(0, 0, width - 1, height - 1);
    }
    void LButtonDown(long, long) override
    {
        ++counts.presses;
        Nest const nest = counts.nest.exchange(Nest::None);
        if (nest == Nest::None || nest == Nest::Stopped) return;
        ++counts.nestedStarted;
        switch (nest)
        {
        case Nest::Alert:
            MessagePopup("The scenario's alert.", "It stays until the editor closes.");
            break;
        case Nest::SaveDialog:
        {
            ScenarioDialog dialog(counts);
            dialog.CreateFrame(this, 10, 10, 80, 50);
            counts.dialog = dialog.GetFrameWindow();
            dialog.RunModal();
            counts.dialog = nullptr;
            break;
        }
        case Nest::Menu:
        {
            CascadeList list;
            list.AddItem("One", 1, nullptr, false);
            list.AddItem("Two", 2, nullptr, false);
            CascadeList::Item const* item = RunPopupMenu(list, this, 10, 10);
            counts.chosen = item != nullptr ? item->id : 0;
            break;
        }
        case Nest::Blocked:
            // A call that waits on something of the host's, turning no loop.
            WaitFor([this] { return counts.unblock.load(); });
            break;
        case Nest::Fade:
            Animation::EasyAnimation::PlaySync(
                this, std::make_shared<Animation::AlphaTween>(this, 1.0f, 0.2f, 600000ul));
            break;
        default:
            // A drag: the press is tracked until its release, which never comes.
            break;
        }
        // What a handler does once its dialog returned: it uses its plug-in.
        {
            EditedPluginLock lock(this);
            if (lock.Plugin() != nullptr) (void)lock.Plugin()->GetNumParameters();
        }
        ++counts.nestedEnded;
    }
    void LButtonUp(long, long) override
    {
        EditedPluginLock lock(this);
        if (lock.Plugin() != nullptr) (void)lock.Plugin()->GetNumParameters();
    }

private:
    ScenarioRoot(void* handle, Binding b)
        : EffectGUIBase(handle, b.edited), parameter(b.parameter), counts(CountsOf(b.edited.plugin))
    {
    }
    Parameter* parameter;
    Counts& counts;
    SimpleToggleBox toggle;
};

// Host windows are handles with a size, all on one headless back end.
class FakeWindows : public EditorWindowSystem
{
public:
    explicit FakeWindows(gfx::HeadlessBackend& b) : backend(b) {}
    gfx::Backend* Acquire() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        // A new connection after the last editor let the lost one go.
        if (users++ == 0) lost.store(false);
        return &backend;
    }
    void Release() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        --users;
    }
    bool HostWindowSize(void* window, int& w, int& h) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = windows.find(window);
        if (it == windows.end()) return false;
        w = it->second.first;
        h = it->second.second;
        return true;
    }
    bool Lost() override { return lost.load(); }

    void Add(void* window, int w, int h)
    {
        std::lock_guard<std::mutex> lock(mutex);
        windows[window] = {w, h};
    }
    void Remove(void* window)
    {
        std::lock_guard<std::mutex> lock(mutex);
        windows.erase(window);
    }
    int Users()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return users;
    }

    gfx::HeadlessBackend& backend;
    std::atomic<bool> lost{false};

private:
    std::mutex mutex;
    std::map<void*, std::pair<int, int>> windows;
    int users = 0;
};

// One deliverable's host side: instances with an editor each, in host windows of their own.
class Driver
{
public:
    virtual ~Driver() = default;
    // A new instance (on the calling thread); its index.
    virtual int Make() = 0;
    virtual bool Open(int i) = 0;
    virtual void Idle(int i) = 0;
    virtual void CloseEditor(int i) = 0;
    // The host's close of the instance (it deletes it, or leaves it to the editor's thread).
    virtual void CloseInstance(int i) = 0;
    // Whether the host may close the editor from another thread while the editor's thread
    // calls it (a VST host may: the editor object stays; an Audio Unit host closes the view
    // component, which goes, on the thread that calls it, after closing the unit anywhere).
    virtual bool ClosesEditorFromAnyThread() = 0;
    virtual void* Window(int i) = 0;
    virtual PluginBase* Plugin(int i) = 0;
    // The open editor's surface (null when none). Editor thread.
    virtual gfx::Surface* Surface(int i) = 0;
    // Instances not yet deleted.
    virtual int Alive() = 0;
};

// Runs `f` on a thread of its own; a scenario that does not end within the bound is a hang,
// reported before the process is stopped.
class Bounded
{
public:
    explicit Bounded(std::function<void()> f) : thread([this, f = std::move(f)] { Run(f); }) {}
    ~Bounded() { Join(); }
    void Join()
    {
        if (!thread.joinable()) return;
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(60), [this] { return done; }))
        {
            std::fprintf(stderr, "a host scenario did not end: stopping\n");
            std::fflush(stderr);
            std::abort();
        }
        lock.unlock();
        thread.join();
    }

private:
    void Run(std::function<void()> const& f)
    {
        f();
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::thread thread;
};

// The set-up every row shares: the headless back end as the editors' window system, the
// toolkit's timers, alerts and menus, and the final checks.
class Stage
{
public:
    Stage()
    {
        gfx::Dispatcher::Reset();
        MacWindowManager::InstallTimers();
        InstallToolkitAlerts();
        InstallToolkitMenus();
        backend.onFailure = [](std::string const& why) { ADD_FAILURE() << "starved: " << why; };
        previous = EditorHost::OverrideWindowSystem(&windows);
    }
    ~Stage() { EditorHost::OverrideWindowSystem(previous); }

    // After a row: nothing open, bound or left over.
    void ExpectAllGone(Driver& d)
    {
        EXPECT_EQ(windows.Users(), 0);
        EXPECT_FALSE(gfx::RunLoop::IsBound());
        EXPECT_TRUE(gfx::Surface::All().empty());
        EXPECT_EQ(d.Alive(), 0);
        gfx::RunLoop::ResumeNested();
        ForgetCounts();
        // The next row's first click is no second click of this row's.
        gfx::Dispatcher::Reset();
    }

    gfx::HeadlessBackend backend;
    FakeWindows windows{backend};

private:
    EditorWindowSystem* previous = nullptr;
};

// The second editor keeps working on the editor's thread: requests reach it, presses too.
inline void ExpectWorking(Driver& d, int i)
{
    Counts& c = CountsOf(d.Plugin(i));
    int const updates = c.updates.load();
    d.Plugin(i)->UpdateGUIAll();
    // An idle while another thread is inside the editors does nothing: the host idles again.
    EXPECT_TRUE(WaitFor(
        [&]
        {
            d.Idle(i);
            return c.updates.load() > updates;
        }))
        << "requests no longer reach the editor";
}

// The host idles editor i, its clock moving on, until `ready`; false after the bound.
inline bool IdleUntil(Stage& stage, Driver& d, int i, std::function<bool()> const& ready)
{
    return WaitFor(
        [&]
        {
            stage.backend.Advance(std::chrono::milliseconds(50));
            d.Idle(i);
            return ready();
        });
}

// A click at (x, y) reaches editor i over the host's idles.
inline void ExpectClicked(Stage& stage, Driver& d, int i, int x, int y)
{
    Counts& c = CountsOf(d.Plugin(i));
    int const presses = c.presses.load();
    stage.backend.Click(*d.Surface(i), x, y);
    EXPECT_TRUE(IdleUntil(stage, d, i, [&] { return c.presses.load() == presses + 1; }))
        << "input no longer reaches the editor";
}

// Row group: who opens, idles and closes.
enum class Threads
{
    Same,         // open, idle and close on one thread
    Split,        // open, idle and close each on a thread of its own
    OpenerExited, // the opening thread ended before the idle and close from another
    TwoOpeners    // two threads open two instances at once and idle them side by side
};

inline char const* Name(Threads t)
{
    switch (t)
    {
    case Threads::Same:
        return "same thread";
    case Threads::Split:
        return "split threads";
    case Threads::OpenerExited:
        return "opening thread exited";
    case Threads::TwoOpeners:
        return "two threads opening at once";
    }
    return "?";
}

// Opens, idles and closes the editor of a fresh instance on the calling thread.
inline void Reopen(Driver& d)
{
    int const i = d.Make();
    EXPECT_TRUE(d.Open(i)) << "reopen";
    ExpectWorking(d, i);
    d.CloseEditor(i);
    d.CloseInstance(i);
}

inline void RunThreads(Stage& stage, Driver& d, Threads row)
{
    SCOPED_TRACE(Name(row));
    gfx::HeadlessBackend::Poster poster(stage.backend);
    switch (row)
    {
    case Threads::Same:
    {
        Bounded t(
            [&]
            {
                int const i = d.Make();
                EXPECT_TRUE(d.Open(i));
                ExpectWorking(d, i);
                d.CloseEditor(i);
                d.CloseInstance(i);
            });
        break;
    }
    case Threads::Split:
    {
        int const i = d.Make();
        Bounded([&] { EXPECT_TRUE(d.Open(i)); }).Join();
        Bounded([&] { ExpectWorking(d, i); }).Join();
        Bounded(
            [&]
            {
                d.CloseEditor(i);
                d.CloseInstance(i);
            })
            .Join();
        break;
    }
    case Threads::OpenerExited:
    {
        int const i = d.Make();
        {
            Bounded opener([&] { EXPECT_TRUE(d.Open(i)); });
        }
        Bounded(
            [&]
            {
                ExpectWorking(d, i);
                d.CloseEditor(i);
                d.CloseInstance(i);
            })
            .Join();
        break;
    }
    case Threads::TwoOpeners:
    {
        int const a = d.Make();
        int const b = d.Make();
        std::atomic<int> ready{0};
        auto side = [&](int i)
        {
            ++ready;
            WaitFor([&] { return ready.load() == 2; });
            EXPECT_TRUE(d.Open(i));
            // Each idles its own editor; the loop follows whichever thread calls in.
            for (int k = 0; k < 20; ++k)
                d.Idle(i);
            ExpectWorking(d, i);
        };
        {
            Bounded one([&] { side(a); });
            Bounded two([&] { side(b); });
        }
        Bounded(
            [&]
            {
                d.CloseEditor(a);
                d.CloseInstance(a);
                d.CloseEditor(b);
                d.CloseInstance(b);
            })
            .Join();
        break;
    }
    }
    Bounded([&] { Reopen(d); }).Join();
    stage.ExpectAllGone(d);
}

// The instance closed from another thread while the editor's thread runs `nest`, after the
// host did `first` to the editor's window or connection.
inline void RunClose(Stage& stage, Driver& d, Nest nest, First first)
{
    SCOPED_TRACE(std::string(Name(nest)) +
                 (first == First::WindowGone ? ", window gone"
                                             : (first == First::ConnectionLost ? ", connection lost" : "")));
    int const a = d.Make(); // the instance closed under its editor
    int const b = d.Make(); // another instance whose editor stays open
    Counts& counts = CountsOf(d.Plugin(a));
    std::atomic<int> phase{0};
    {
        gfx::HeadlessBackend::Poster poster(stage.backend);
        Bounded editor(
            [&]
            {
                EXPECT_TRUE(d.Open(a));
                EXPECT_TRUE(d.Open(b));
                d.Idle(a);
                d.Idle(b);
                if (nest == Nest::Stopped)
                {
                    phase = 1;
                    WaitFor([&] { return phase.load() == 2; });
                }
                else
                {
                    counts.nest = nest;
                    stage.backend.Press(*d.Surface(a), 20, 20);
                    // A handler blocked outside our code holds the idle until the close.
                    if (nest == Nest::Blocked) phase = 1;
                    // The press is due once the clock reaches it; the idle that handles it
                    // returns while its nested loop waits.
                    EXPECT_TRUE(IdleUntil(stage, d, a, [&] { return counts.presses.load() > 0; }));
                    phase = 1;
                    WaitFor([&] { return phase.load() == 2; });
                }
                // What is left of the closed instance's editor, closed on its own thread.
                d.CloseEditor(a);
                if (first != First::ConnectionLost)
                {
                    ExpectWorking(d, b);
                    ExpectClicked(stage, d, b, 5, 5);
                }
                d.CloseEditor(b);
                // Opened again on the same instance.
                EXPECT_TRUE(d.Open(b));
                ExpectWorking(d, b);
                d.CloseEditor(b);
            });
        Bounded closer(
            [&]
            {
                EXPECT_TRUE(WaitFor(
                    [&]
                    {
                        return phase.load() >= 1 && (nest == Nest::Stopped || nest == Nest::Drag ||
                                                     counts.nestedStarted.load() > 0);
                    }));
                if (first == First::WindowGone)
                {
                    // The host destroys its window first; the window system ends the loops.
                    stage.windows.Remove(d.Window(a));
                    gfx::RunLoop::AbandonNested();
                }
                else if (first == First::ConnectionLost)
                {
                    stage.windows.lost = true;
                    gfx::RunLoop::AbandonNested();
                }
                int const alive = d.Alive();
                if (d.ClosesEditorFromAnyThread()) d.CloseEditor(a);
                d.CloseInstance(a);
                if (nest == Nest::Blocked)
                {
                    // The close gave up waiting: the instance stays for the editor's thread,
                    // which deletes it once it has left.
                    EXPECT_EQ(d.Alive(), alive);
                    counts.unblock = true;
                }
                phase = 2;
            });
        closer.Join();
        editor.Join();
    }
    // A nested loop waits on the editor's strand, tied to the editor's thread, which is outside
    // while the instance goes: the strand is parked with it (its handler never runs on, and its
    // windows are gone). A handler blocked inside the idle unwinds as that call leaves; a drag's
    // handler returned before its tracking waits.
    if (nest == Nest::Alert || nest == Nest::SaveDialog || nest == Nest::Menu || nest == Nest::Fade)
        EXPECT_EQ(counts.nestedEnded.load(), 0) << "a parked handler ran on";
    else
        EXPECT_EQ(counts.nestedEnded.load(), counts.nestedStarted.load()) << "a handler did not unwind";
    d.CloseInstance(b);
    Bounded([&] { Reopen(d); }).Join();
    stage.ExpectAllGone(d);
}

// Another instance's save dialog waits on the editor's thread while an instance is closed from
// another thread: the dialog stays open and keeps taking input; it goes (parked, its window gone)
// when its own instance closes from that other thread.
inline void RunCloseBesideAnotherEditorsDialog(Stage& stage, Driver& d)
{
    SCOPED_TRACE("another editor's dialog open");
    int const a = d.Make(); // closed from another thread
    int const b = d.Make(); // its dialog stays open meanwhile
    Counts& other = CountsOf(d.Plugin(b));
    std::atomic<bool> done{false};
    // The editor's thread stays outside every call from `hold` until `done` (`outside` says so).
    std::atomic<bool> hold{false};
    std::atomic<bool> outside{false};
    {
        gfx::HeadlessBackend::Poster poster(stage.backend);
        Bounded editor(
            [&]
            {
                EXPECT_TRUE(d.Open(a));
                EXPECT_TRUE(d.Open(b));
                d.Idle(a);
                other.nest = Nest::SaveDialog;
                stage.backend.Press(*d.Surface(b), 20, 20);
                // The host idles on while the other thread closes.
                while (!done.load())
                {
                    if (hold.load())
                    {
                        outside = true;
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        continue;
                    }
                    stage.backend.Advance(std::chrono::milliseconds(50));
                    d.Idle(b);
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                d.CloseEditor(a);
                d.CloseEditor(b);
            });
        Bounded closer(
            [&]
            {
                ASSERT_TRUE(WaitFor([&] { return other.dialog.load() != nullptr; }));
                int const alive = d.Alive();
                if (d.ClosesEditorFromAnyThread()) d.CloseEditor(a);
                d.CloseInstance(a);
                // The closed instance went with its editor (at once, or as the editor's thread
                // left its call), and the dialog of the other one is still running.
                EXPECT_TRUE(WaitFor([&] { return d.Alive() < alive; }));
                EXPECT_NE(other.dialog.load(), nullptr);
                EXPECT_EQ(other.nestedEnded.load(), 0);
                // It still takes input.
                gfx::RunLoop::Post(
                    [&]
                    {
                        if (gfx::Surface* dialog = other.dialog.load()) stage.backend.Press(*dialog, 5, 5);
                        stage.backend.Advance(std::chrono::milliseconds(50));
                    });
                EXPECT_TRUE(WaitFor([&] { return other.dialogPresses.load() > 0; }));
                EXPECT_EQ(other.nestedEnded.load(), 0);
                // Its own instance closes while the editor's thread is outside (inside, that thread
                // would unwind the dialog on its way out).
                hold = true;
                EXPECT_TRUE(WaitFor([&] { return outside.load(); }));
                if (d.ClosesEditorFromAnyThread()) d.CloseEditor(b);
                d.CloseInstance(b);
                done = true;
            });
        closer.Join();
        editor.Join();
    }
    EXPECT_EQ(other.nestedEnded.load(), 0) << "the dialog ran on after its instance went";
    Bounded([&] { Reopen(d); }).Join();
    stage.ExpectAllGone(d);
}

// The open popup menu of an editor (null when none). Editor thread.
inline gfx::Surface* MenuOf(gfx::Surface const* editor)
{
    for (gfx::Surface* s : gfx::Surface::All())
        if (s->Kind() == gfx::SurfaceKind::Popup && !s->Retired() && gfx::RunLoop::EditorOf(s) == editor)
            return s;
    return nullptr;
}

// Closes instance i as its host does (a VST host the editor, then the instance; an Audio Unit host
// the unit, which closes the view's editor, then the view component): the close returns at once,
// waiting for neither the user nor another editor, and the instance is gone. How long it took is
// recorded under `property`.
inline void CloseAtOnce(Driver& d, int i, char const* property)
{
    int const alive = d.Alive();
    auto const start = std::chrono::steady_clock::now();
    if (d.ClosesEditorFromAnyThread()) d.CloseEditor(i);
    d.CloseInstance(i);
    if (!d.ClosesEditorFromAnyThread()) d.CloseEditor(i);
    auto const took = std::chrono::steady_clock::now() - start;
    ::testing::Test::RecordProperty(
        property, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_LT(took, std::chrono::milliseconds(EditorHost::kOpenWaitMs));
    EXPECT_EQ(d.Alive(), alive - 1) << "the instance went with its close";
}

// Two instances on one host thread. Instance 2 opens, draws and takes a click while the save
// dialog of instance 1 waits; instance 1 is closed while the menu of instance 2 waits: the close
// returns at once (the dialog unwinds as Cancel on this thread), and the menu still chooses.
inline void RunTwoInstancesOnOneThread(Stage& stage, Driver& d)
{
    SCOPED_TRACE("two instances on one host thread");
    {
        gfx::HeadlessBackend::Poster poster(stage.backend);
        Bounded host(
            [&]
            {
                int const a = d.Make();
                int const b = d.Make();
                Counts& first = CountsOf(d.Plugin(a));
                Counts& second = CountsOf(d.Plugin(b));
                ASSERT_TRUE(d.Open(a));
                d.Idle(a);
                first.nest = Nest::SaveDialog;
                stage.backend.Click(*d.Surface(a), 20, 20);
                // The idle that runs the dialog returns while it waits.
                ASSERT_TRUE(IdleUntil(stage, d, a, [&] { return first.dialog.load() != nullptr; }));
                EXPECT_EQ(first.nestedEnded.load(), 0);

                ASSERT_TRUE(d.Open(b)) << "a second editor opens while a dialog waits";
                d.Idle(b);
                gfx::Pixel const drawn = stage.backend.Probe(*d.Surface(b), 20, 20);
                EXPECT_EQ(drawn.r, 30);
                EXPECT_EQ(drawn.g, 160);
                EXPECT_EQ(drawn.b, 90);
                // (Away from the dialog's opening click, which would make it a double click.)
                ExpectClicked(stage, d, b, 5, 5);
                EXPECT_NE(first.dialog.load(), nullptr) << "the dialog still waits";

                second.nest = Nest::Menu;
                stage.backend.Click(*d.Surface(b), 40, 30);
                ASSERT_TRUE(IdleUntil(stage, d, b, [&] { return second.nestedStarted.load() == 1; }));
                gfx::Surface const* const editor = d.Surface(b);
                ASSERT_NE(MenuOf(editor), nullptr);

                CloseAtOnce(d, a, "closeWithAnotherMenuOpenMs");
                EXPECT_EQ(first.nestedEnded.load(), 1) << "the dialog unwound on its own thread";
                EXPECT_EQ(second.nestedEnded.load(), 0) << "the other editor's menu waits on";

                // The menu still works: a click on its first entry chooses it.
                gfx::Surface* menu = MenuOf(editor);
                ASSERT_NE(menu, nullptr);
                stage.backend.Click(*menu, 20, 11);
                EXPECT_TRUE(IdleUntil(stage, d, b, [&] { return second.nestedEnded.load() == 1; }));
                EXPECT_EQ(second.chosen.load(), 1);
                EXPECT_EQ(MenuOf(editor), nullptr);
                ExpectWorking(d, b);
                d.CloseEditor(b);
                d.CloseInstance(b);
            });
    }
    Bounded([&] { Reopen(d); }).Join();
    stage.ExpectAllGone(d);
}

// A split host: the thread that opened a dialog exits with it open (another editor opens and works
// meanwhile); the instance is closed from a second thread, which returns at once (the dialog is
// parked for good, its window gone); a new editor opens and works on a third.
inline void RunSplitHostWithADialogOpen(Stage& stage, Driver& d)
{
    SCOPED_TRACE("a split host leaving a dialog open");
    gfx::HeadlessBackend::Poster poster(stage.backend);
    int const a = d.Make();
    Counts& counts = CountsOf(d.Plugin(a));
    Bounded(
        [&]
        {
            ASSERT_TRUE(d.Open(a));
            d.Idle(a);
            counts.nest = Nest::SaveDialog;
            stage.backend.Click(*d.Surface(a), 20, 20);
            EXPECT_TRUE(IdleUntil(stage, d, a, [&] { return counts.dialog.load() != nullptr; }));
        })
        .Join();
    ASSERT_NE(counts.dialog.load(), nullptr);
    // Another editor opens, works, takes a click at (x, y) and closes on a thread of its own.
    auto another = [&](int x, int y, char const* when)
    {
        Bounded(
            [&]
            {
                int const b = d.Make();
                ASSERT_TRUE(d.Open(b)) << "another editor opens " << when;
                ExpectWorking(d, b);
                ExpectClicked(stage, d, b, x, y);
                d.CloseEditor(b);
                d.CloseInstance(b);
            })
            .Join();
    };
    // The dialog's thread is gone: nothing can resume its strand, which keeps the loop from no
    // other thread. (The click is away from the last one's, which makes no double click.)
    another(40, 30, "while the exited thread's dialog stays");
    Bounded(
        [&]
        {
            CloseAtOnce(d, a, "closeFromASecondThreadMs");
            EXPECT_FALSE(gfx::RunLoop::IsBound()) << "the loop stayed with the thread that exited";
        })
        .Join();
    EXPECT_EQ(counts.nestedEnded.load(), 0) << "a parked handler ran on";
    another(5, 5, "on a third thread");
    stage.ExpectAllGone(d);
}

inline constexpr Nest kNests[] = {Nest::Alert, Nest::SaveDialog, Nest::Menu, Nest::Drag, Nest::Fade};

// The row groups both adapters run, one test each.
inline void RunThreadRows(Stage& stage, Driver& d)
{
    for (Threads row : {Threads::Same, Threads::Split, Threads::OpenerExited, Threads::TwoOpeners})
        RunThreads(stage, d, row);
}

// Every nested loop with `first` happening before the close; with nothing first, also the
// editor thread that stopped idling.
inline void RunCloseRows(Stage& stage, Driver& d, First first)
{
    for (Nest nest : kNests)
        RunClose(stage, d, nest, first);
    if (first == First::Nothing) RunClose(stage, d, Nest::Stopped, first);
}
} // namespace scenarios

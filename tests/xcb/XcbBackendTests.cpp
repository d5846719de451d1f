// The X11 back end under a private X server: embedding, repaint, XTest pointer and keys, menus
// and grabs, frames, the clipboard, and the window system going away under the editor.

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "framework/Timers.h"
#include "platform/CascadeList.h"
#include "platform/MessagePopup.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/xcb/XcbBackend.h"
#include "support/gfx/XClient.h"
#include "support/gfx/Xvfb.h"
#include "toolkit/Animation.h"
#include "toolkit/FileDialog.h"
#include "toolkit/Frame.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/MacWindowManager.h"
#include "toolkit/PopupMenu.h"
#include "toolkit/TextControl.h"
#include "toolkit/Window.h"

namespace
{
using namespace std::chrono_literals;
using Client = XClient;

// A window filled with one colour that records its mouse calls.
class Probe : public Window
{
public:
    std::vector<std::string> calls;
    std::function<void()> onPress;
    std::function<void()> onRelease;
    int r = 200, g = 40, b = 40;
    void Repaint(GraphicsContext& gc) override
    {
        gc.SetPenColour(r, g, b, 1, 255);
        gc.DrawFilledRect(0, 0, width - 1, height - 1);
    }
    void Record(char const* what, long x, long y)
    {
        calls.push_back(std::string(what) + "(" + std::to_string(x) + "," + std::to_string(y) + ")");
    }
    void LButtonDown(long x, long y) override
    {
        Record("LButtonDown", x, y);
        if (onPress) onPress();
    }
    void LButtonUp(long x, long y) override
    {
        Record("LButtonUp", x, y);
        if (onRelease) onRelease();
    }
    void MouseMoved(long x, long y) override { Record("MouseMoved", x, y); }
    void LDoubleClick(long x, long y) override { Record("LDoubleClick", x, y); }
    bool Has(std::string const& prefix) const
    {
        for (auto const& c : calls)
            if (c.rfind(prefix, 0) == 0) return true;
        return false;
    }
};

// Runs an action once, a while after it is started.
struct Once : TimerListener
{
    std::function<void()> action;
    void Start(std::chrono::milliseconds after, std::function<void()> a)
    {
        action = std::move(a);
        StartTimer(1, static_cast<unsigned>(after.count()));
    }
    void TimerEvent(int id) override
    {
        StopTimer(id);
        if (action) action();
    }
};

class XcbTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        XVFB_START_OR_SKIP(server);
        Connect();
    }
    void TearDown() override { Disconnect(); }

    // A host window and the back end on the server.
    void Connect()
    {
        host = std::make_unique<Client>();
        hostWindow = host->MakeWindow(0, 0, 200, 150);
        backend = gfx::XcbBackend::Acquire();
        ASSERT_NE(backend, nullptr);
        gfx::RunLoop::SetBackend(backend);
        ASSERT_TRUE(gfx::RunLoop::Acquire());
        MacWindowManager::InstallTimers();
        gfx::Dispatcher::Reset();
    }
    void Disconnect()
    {
        if (!backend) return;
        editors.clear();
        surfaces.clear();
        gfx::RunLoop::Turn(false);
        gfx::RunLoop::Release();
        gfx::RunLoop::SetBackend(nullptr);
        gfx::RunLoop::ResumeNested();
        gfx::XcbBackend::Release();
        EXPECT_EQ(gfx::XcbBackend::Current(), nullptr);
        host.reset();
    }

    // An editor-like window of w x h at (0, y) of a host window.
    Probe& Embed(xcb_window_t in, int y, int w = 100, int h = 50)
    {
        surfaces.push_back(
            std::make_unique<gfx::Surface>(*backend, gfx::SurfaceKind::Embedded, gfx::Rect{0, y, w, h},
                                           reinterpret_cast<void*>(static_cast<std::uintptr_t>(in))));
        editors.push_back(std::make_unique<Probe>());
        editors.back()->CreateChildWindow(surfaces.back().get(), w, h, 0, 0);
        return *editors.back();
    }

    // Turns of the loop until done() or the time is up; false on time out.
    bool RunUntil(std::function<bool()> const& done, std::chrono::milliseconds limit = 3000ms)
    {
        auto end = std::chrono::steady_clock::now() + limit;
        while (!done())
        {
            if (std::chrono::steady_clock::now() > end) return false;
            gfx::RunLoop::RunFor(10ms);
        }
        return true;
    }
    // Waits for the editor's first frame on the screen (input is scripted after it).
    void Shown(xcb_window_t in, int x, int y, std::uint32_t colour = 0xc82828)
    {
        ASSERT_TRUE(RunUntil([&] { return host->Pixel(in, x, y) == colour; }, 10000ms))
            << std::hex << host->Pixel(in, x, y);
    }
    // Input from a thread and a connection of its own: handlers may hold the loop.
    void Script(std::function<void(Client&)> steps)
    {
        scripts.emplace_back(
            [steps]
            {
                Client client;
                steps(client);
            });
    }
    void JoinScripts()
    {
        for (auto& t : scripts)
            t.join();
        scripts.clear();
    }

    XvfbServer server;
    std::unique_ptr<Client> host;
    xcb_window_t hostWindow = 0;
    gfx::XcbBackend* backend = nullptr;
    std::vector<std::unique_ptr<gfx::Surface>> surfaces;
    std::vector<std::unique_ptr<Probe>> editors;
    std::vector<std::thread> scripts;
};

TEST_F(XcbTest, EmbeddedAtTheBottomOfTheHostWindowAndRepaintedAfterExpose)
{
    Embed(hostWindow, 100);
    Shown(hostWindow, 10, 120);
    EXPECT_EQ(host->Pixel(hostWindow, 10, 90), 0xffffffu); // the host's own background above
    EXPECT_EQ(backend->ScreenOrigin(*surfaces[0]).y, 100);
    // Hidden and shown again: the contents come back from the back buffer on expose.
    xcb_unmap_window(host->c, hostWindow);
    host->Sync();
    xcb_map_window(host->c, hostWindow);
    host->Sync();
    Shown(hostWindow, 50, 140);
}

TEST_F(XcbTest, PressDragOffTheWindowAndRelease)
{
    Probe& editor = Embed(hostWindow, 100);
    Shown(hostWindow, 10, 120);
    xcb_window_t in = hostWindow;
    Script(
        [in](Client& c)
        {
            c.MoveTo(in, 20, 120);
            c.Button(true);
            for (int x = 40; x <= 180; x += 40)
            {
                std::this_thread::sleep_for(20ms);
                c.MoveTo(in, x, 140);
            }
            std::this_thread::sleep_for(20ms);
            c.Button(false);
        });
    EXPECT_TRUE(RunUntil([&] { return editor.Has("LButtonUp"); }));
    JoinScripts();
    ASSERT_FALSE(editor.calls.empty());
    EXPECT_EQ(editor.calls.front(), "LButtonDown(20,20)");
    EXPECT_EQ(editor.calls.back(), "LButtonUp(160,40)"); // outside the 100-wide editor
    EXPECT_TRUE(editor.Has("MouseMoved(120,40)"));
}

TEST_F(XcbTest, TwoClicksInAShortGapAreADoubleClick)
{
    Probe& editor = Embed(hostWindow, 100);
    Shown(hostWindow, 10, 120);
    xcb_window_t in = hostWindow;
    Script(
        [in](Client& c)
        {
            c.MoveTo(in, 30, 110);
            c.Button(true);
            c.Button(false);
            std::this_thread::sleep_for(60ms);
            c.Button(true);
            c.Button(false);
        });
    EXPECT_TRUE(RunUntil([&] { return editor.Has("LDoubleClick"); }));
    JoinScripts();
    EXPECT_EQ(editor.calls.back(), "LDoubleClick(30,10)");
}

TEST_F(XcbTest, MenuWhoseGrabAnotherClientHoldsGivesNull)
{
    Probe& editor = Embed(hostWindow, 100);
    Shown(hostWindow, 10, 120);
    Client other;
    xcb_window_t theirs = other.MakeWindow(300, 300, 50, 50);
    xcb_grab_pointer_reply_t* grab = xcb_grab_pointer_reply(
        other.c,
        xcb_grab_pointer(other.c, 0, theirs, XCB_EVENT_MASK_BUTTON_PRESS, XCB_GRAB_MODE_ASYNC,
                         XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
        nullptr);
    ASSERT_NE(grab, nullptr);
    ASSERT_EQ(grab->status, XCB_GRAB_STATUS_SUCCESS);
    std::free(grab);
    CascadeList list;
    list.AddItem("One", 1, nullptr, false);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunPopupMenu(list, &editor, 10, 10), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(XcbTest, HostWindowDestroyedWhileAMenuIsOpen)
{
    Probe& editor = Embed(hostWindow, 100);
    Shown(hostWindow, 10, 120);
    CascadeList list;
    list.AddItem("One", 1, nullptr, false);
    list.AddItem("Two", 2, nullptr, false);
    Client* h = host.get();
    xcb_window_t in = hostWindow;
    Script(
        [h, in](Client&)
        {
            std::this_thread::sleep_for(300ms);
            xcb_destroy_window(h->c, in);
            h->Sync();
        });
    {
        // The menu is the editor's, as when one of its handlers opens it.
        gfx::RunLoop::EditorScope scope(surfaces[0].get());
        EXPECT_EQ(RunPopupMenu(list, &editor, 10, 10), nullptr);
    }
    JoinScripts();
    // Inert from now on: turns and paints do nothing harmful until the editor goes.
    editor.ForceRepaint();
    gfx::RunLoop::Turn(false);
    editors.clear();
    surfaces.clear();
}

TEST_F(XcbTest, ConnectionClosedWhileAModalRunWaits)
{
    Probe& editor = Embed(hostWindow, 100);
    Shown(hostWindow, 10, 120);
    Frame frame;
    frame.CreateFrame(&editor, 300, 200, 80, 60);
    // Another client closes our connection (as a window manager's "kill" does).
    std::uint32_t ours = gfx::XcbBackend::WindowOf(*surfaces[0]);
    Client* h = host.get();
    Script(
        [h, ours](Client&)
        {
            std::this_thread::sleep_for(300ms);
            xcb_kill_client(h->c, ours);
            h->Sync();
        });
    auto start = std::chrono::steady_clock::now();
    frame.RunModal();
    JoinScripts();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_TRUE(backend->Lost());
    editor.ForceRepaint();
    gfx::RunLoop::Turn(false);
}

TEST_F(XcbTest, FrameIsTransientForTheHostsTopLevelAndFocused)
{
    Probe& editor = Embed(hostWindow, 100);
    Shown(hostWindow, 10, 120);
    Frame frame;
    frame.CreateFrame(&editor, 300, 200, 120, 60);
    gfx::RunLoop::Turn(false);
    xcb_window_t mine = gfx::XcbBackend::WindowOf(*frame.GetFrameWindow());
    ASSERT_NE(mine, 0u);
    xcb_get_property_reply_t* p = xcb_get_property_reply(
        host->c, xcb_get_property(host->c, 0, mine, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(xcb_get_property_value_length(p), 4);
    EXPECT_EQ(*static_cast<xcb_window_t*>(xcb_get_property_value(p)), hostWindow);
    std::free(p);
    xcb_atom_t type = host->Atom("_NET_WM_WINDOW_TYPE");
    p = xcb_get_property_reply(host->c, xcb_get_property(host->c, 0, mine, type, XCB_ATOM_ATOM, 0, 1),
                               nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*static_cast<xcb_atom_t*>(xcb_get_property_value(p)), host->Atom("_NET_WM_WINDOW_TYPE_DIALOG"));
    std::free(p);
    EXPECT_TRUE(RunUntil([&] { return host->InputFocus() == mine; }));
    EXPECT_EQ(frame.GetScreenPosition().x, 300);
    EXPECT_EQ(frame.GetScreenPosition().y, 200);
}

TEST_F(XcbTest, TypingAndPasteFromAnotherClientIntoAFramesField)
{
    Probe& editor = Embed(hostWindow, 100);
    Shown(hostWindow, 10, 120);
    Frame frame;
    frame.CreateFrame(&editor, 300, 200, 160, 60);
    TextControl field;
    field.Create(&frame, GRectangle(10, 10, 140, 20), true, nullptr);
    xcb_window_t mine = gfx::XcbBackend::WindowOf(*frame.GetFrameWindow());
    ASSERT_TRUE(RunUntil([&] { return host->InputFocus() == mine; }));

    // Another client owns the clipboard and answers with UTF-8.
    Client owner;
    xcb_window_t offer = owner.MakeWindow(600, 600, 10, 10);
    xcb_atom_t clipboard = owner.Atom("CLIPBOARD"), utf8 = owner.Atom("UTF8_STRING");
    xcb_set_selection_owner(owner.c, offer, clipboard, XCB_CURRENT_TIME);
    owner.Sync();
    std::atomic<bool> stop{false};
    std::thread answer(
        [&]
        {
            while (!stop)
            {
                xcb_generic_event_t* e = xcb_poll_for_event(owner.c);
                if (!e)
                {
                    std::this_thread::sleep_for(5ms);
                    continue;
                }
                if ((e->response_type & 0x7f) == XCB_SELECTION_REQUEST)
                {
                    auto* r = reinterpret_cast<xcb_selection_request_event_t*>(e);
                    xcb_selection_notify_event_t n{};
                    n.response_type = XCB_SELECTION_NOTIFY;
                    n.requestor = r->requestor;
                    n.selection = r->selection;
                    n.target = r->target;
                    n.time = r->time;
                    n.property = XCB_NONE;
                    if (r->target == utf8)
                    {
                        char const text[] = "\xc3\xa9t\xc3\xa9";
                        xcb_change_property(owner.c, XCB_PROP_MODE_REPLACE, r->requestor, r->property, utf8,
                                            8, sizeof text - 1, text);
                        n.property = r->property;
                    }
                    xcb_send_event(owner.c, 0, r->requestor, 0, reinterpret_cast<char const*>(&n));
                    xcb_flush(owner.c);
                }
                std::free(e);
            }
        });

    Script(
        [](Client& c)
        {
            // A click into the field gives it the keys.
            c.MoveTo(c.screen->root, 330, 218);
            c.Button(true);
            c.Button(false);
            std::this_thread::sleep_for(50ms);
            c.Tap('a');
            c.Tap('b');
            c.Key(0xffe3, true); // Control_L
            c.Tap('v');
            c.Key(0xffe3, false);
        });
    bool pasted = RunUntil([&] { return field.GetText().ToStdString() == "ab\xc3\xa9t\xc3\xa9"; });
    JoinScripts();
    stop = true;
    answer.join();
    EXPECT_TRUE(pasted) << field.GetText().ToStdString();
}

TEST_F(XcbTest, TwoEditorsOpenOneClosed)
{
    xcb_window_t second = host->MakeWindow(300, 0, 200, 150);
    Embed(hostWindow, 100);
    Probe& other = Embed(second, 0);
    other.r = 40;
    other.g = 200;
    Shown(hostWindow, 10, 120);
    Shown(second, 10, 10, 0x28c828);
    editors.erase(editors.begin());
    surfaces.erase(surfaces.begin());
    other.b = 200;
    other.ForceRepaint();
    Shown(second, 10, 10, 0x28c8c8);
    EXPECT_EQ(host->Pixel(hostWindow, 10, 120), 0xffffffu); // ours went, the host's stayed
}

TEST_F(XcbTest, ThePointerIsHeldOnlyWhileADragTracksOrAMenuIsOpen)
{
    Probe& editor = Embed(hostWindow, 100);
    Shown(hostWindow, 10, 120);
    Client other;
    xcb_window_t theirs = other.MakeWindow(600, 600, 20, 20);
    CascadeList list;
    list.AddItem("One", 1, nullptr, false);
    Once check;
    std::optional<bool> free;
    bool done = false;
    // A dialog run modally until the check has looked at the pointer.
    auto modal = [&]
    {
        Frame dialog;
        dialog.CreateFrame(&editor, 300, 200, 80, 60);
        check.Start(300ms,
                    [&]
                    {
                        free = PointerFree(other, theirs);
                        dialog.QuitModal();
                    });
        dialog.RunModal();
        done = true;
    };
    std::atomic<bool> checked{false};
    auto looked = [&]
    {
        check.Start(300ms,
                    [&]
                    {
                        free = PointerFree(other, theirs);
                        checked = true;
                    });
    };
    // The script goes on once the check has looked (a loaded machine may be slow to get there).
    auto afterCheck = [&checked]
    {
        for (int i = 0; i < 500 && !checked; ++i)
            std::this_thread::sleep_for(10ms);
    };
    struct Case
    {
        char const* name;
        std::function<void()> onPress, onRelease;
        std::function<void(Client&)> script;
        bool free; // while the handler's loop runs
    };
    xcb_window_t in = hostWindow;
    auto click = [in](Client& c)
    {
        c.MoveTo(in, 20, 120);
        c.Button(true);
        c.Button(false);
    };
    Case const cases[] = {
        {"a modal run from the press handler", modal, nullptr, click, true},
        {"a modal run after the release of a followed press", nullptr, modal, click, true},
        {"a menu from the press handler",
         [&]
         {
             looked();
             EXPECT_EQ(RunPopupMenu(list, &editor, 10, 10), nullptr);
             done = true;
         },
         nullptr,
         [click, afterCheck](Client& c)
         {
             click(c);
             afterCheck();
             c.MoveTo(c.screen->root, 700, 700); // a click outside closes it
             c.Button(true);
             c.Button(false);
         },
         false},
        {"a drag while it is followed", looked, [&] { done = true; },
         [in, afterCheck](Client& c)
         {
             c.MoveTo(in, 20, 120);
             c.Button(true);
             c.MoveTo(in, 24, 120);
             afterCheck();
             c.MoveTo(in, 28, 120);
             c.Button(false);
         },
         false},
    };
    for (Case const& c : cases)
    {
        SCOPED_TRACE(c.name);
        free.reset();
        checked = false;
        done = false;
        editor.onPress = c.onPress;
        editor.onRelease = c.onRelease;
        Script(c.script);
        EXPECT_TRUE(RunUntil([&] { return done; }, 5000ms));
        JoinScripts();
        ASSERT_TRUE(free.has_value());
        EXPECT_EQ(*free, c.free);
        EXPECT_TRUE(PointerFree(other, theirs)); // nothing held afterwards
        gfx::RunLoop::RunFor(100ms);             // no double click with the next row
        gfx::Dispatcher::Reset();
    }
    editor.onPress = nullptr;
    editor.onRelease = nullptr;
}

TEST_F(XcbTest, TheKeyboardStaysWithTheHostAndComesBackWhenDialogsAndMenusClose)
{
    Probe& editor = Embed(hostWindow, 100);
    Shown(hostWindow, 10, 120);
    CascadeList list;
    list.AddItem("One", 1, nullptr, false);
    auto focused = [&](xcb_window_t w) { return RunUntil([&] { return host->InputFocus() == w; }, 2000ms); };
    auto windowOf = [](Frame& f) { return gfx::XcbBackend::WindowOf(*f.GetFrameWindow()); };
    xcb_window_t in = hostWindow;
    struct Case
    {
        char const* name;
        std::function<void()> run;
    };
    Case const cases[] = {
        {"a click on the editor",
         [&]
         {
             editor.calls.clear();
             Script(
                 [in](Client& c)
                 {
                     c.MoveTo(in, 20, 120);
                     c.Button(true);
                     c.Button(false);
                 });
             EXPECT_TRUE(RunUntil([&] { return editor.Has("LButtonUp"); }));
             JoinScripts();
         }},
        {"a dialog opened and closed",
         [&]
         {
             Frame dialog;
             dialog.CreateFrame(&editor, 300, 200, 80, 60);
             EXPECT_TRUE(focused(windowOf(dialog)));
         }},
        {"a dialog over a dialog",
         [&]
         {
             Frame dialog;
             dialog.CreateFrame(&editor, 300, 200, 80, 60);
             EXPECT_TRUE(focused(windowOf(dialog)));
             {
                 Frame alert;
                 alert.CreateFrame(&dialog, 320, 220, 60, 40);
                 EXPECT_TRUE(focused(windowOf(alert)));
             }
             EXPECT_TRUE(focused(windowOf(dialog)));
         }},
        {"a menu dismissed",
         [&]
         {
             // A click outside once the menu runs.
             std::atomic<bool> open{false};
             Once running;
             running.Start(100ms, [&] { open = true; });
             Script(
                 [&open](Client& c)
                 {
                     for (int i = 0; i < 500 && !open; ++i)
                         std::this_thread::sleep_for(10ms);
                     c.MoveTo(c.screen->root, 700, 700);
                     c.Button(true);
                     c.Button(false);
                 });
             EXPECT_EQ(RunPopupMenu(list, &editor, 10, 10), nullptr);
             JoinScripts();
         }},
    };
    for (Case const& c : cases)
    {
        SCOPED_TRACE(c.name);
        xcb_set_input_focus(host->c, XCB_INPUT_FOCUS_PARENT, hostWindow, XCB_CURRENT_TIME);
        host->Sync();
        c.run();
        gfx::RunLoop::RunFor(50ms);
        EXPECT_EQ(host->InputFocus(), hostWindow);
        gfx::Dispatcher::Reset();
    }
}

// An animation that never finishes on its own.
class Endless : public Animation::AnimationElement
{
public:
    void NextFrame(Animation::TimeInfo const&) override {}
};

TEST_F(XcbTest, EveryWaitingLoopEndsWhenTheHostWindowOrTheConnectionGoes)
{
    struct Trigger
    {
        char const* name;
        std::function<void(Client& host, xcb_window_t hostWindow, xcb_window_t ours)> run;
    };
    Trigger const triggers[] = {
        {"the host's window destroyed",
         [](Client& h, xcb_window_t in, xcb_window_t) { xcb_destroy_window(h.c, in); }},
        {"the connection closed by another client",
         [](Client& h, xcb_window_t, xcb_window_t ours) { xcb_kill_client(h.c, ours); }},
    };
    struct Loop
    {
        char const* name;
        std::function<void(XcbTest&, Probe&)> run;
    };
    Loop const loops[] = {
        {"a synchronous animation",
         [](XcbTest&, Probe&) { Animation::EasyAnimation::PlaySync(nullptr, std::make_shared<Endless>()); }},
        {"a modal run",
         [](XcbTest&, Probe& editor)
         {
             Frame dialog;
             dialog.CreateFrame(&editor, 300, 200, 80, 60);
             dialog.RunModal();
         }},
        {"an alert", [](XcbTest&, Probe&) { MessagePopup("Something to say", "Note"); }},
        {"a menu",
         [](XcbTest&, Probe& editor)
         {
             CascadeList list;
             list.AddItem("One", 1, nullptr, false);
             EXPECT_EQ(RunPopupMenu(list, &editor, 10, 10), nullptr);
         }},
        {"the tracking of a press",
         [](XcbTest& t, Probe& editor)
         {
             // The button goes down and stays down until the end.
             xcb_window_t in = t.hostWindow;
             Client presser;
             presser.MoveTo(in, 20, 120);
             presser.Button(true);
             presser.MoveTo(in, 30, 120);
             EXPECT_TRUE(t.RunUntil([&] { return editor.Has("MouseMoved") || t.backend->Lost(); }));
             // Inside the press handler's tracking until the window system goes.
             while (!editor.Has("LButtonUp") && !gfx::RunLoop::Abandoned(t.surfaces[0].get()))
                 gfx::RunLoop::Turn(true);
             presser.Button(false);
         }},
    };
    for (Trigger const& trigger : triggers)
        for (Loop const& loop : loops)
        {
            SCOPED_TRACE(std::string(loop.name) + ", " + trigger.name);
            Probe& editor = Embed(hostWindow, 100);
            Shown(hostWindow, 10, 120);
            Client* h = host.get();
            xcb_window_t in = hostWindow;
            xcb_window_t ours = gfx::XcbBackend::WindowOf(*surfaces[0]);
            Script(
                [h, in, ours, &trigger](Client&)
                {
                    std::this_thread::sleep_for(400ms);
                    trigger.run(*h, in, ours);
                    h->Sync();
                });
            auto start = std::chrono::steady_clock::now();
            {
                // The loops are the editor's, as when one of its handlers runs them.
                gfx::RunLoop::EditorScope scope(surfaces[0].get());
                loop.run(*this, editor);
            }
            JoinScripts();
            EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
            EXPECT_TRUE(gfx::RunLoop::Abandoned(surfaces[0].get()));
            EXPECT_FALSE(gfx::Dispatcher::Tracking());
            // Inert until it is closed; then a new editor in a new host window works.
            editor.ForceRepaint();
            gfx::RunLoop::Turn(false);
            Disconnect();
            Connect();
        }
}

// The host hides or shows the window holding the editor; the dialogs stay with their editor.
// Like a DAW's plug-in window: a client top-level (hostWindow) with the host's window for the
// editor inside it. These tests run with no window manager and under openbox (TORVANE_TEST_WM).
class XcbHostWindow : public XcbTest
{
public:
    void SetUp() override
    {
        XcbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        manager = !XvfbServer::Manager().empty();
        wmState = host->Atom("WM_STATE");
        ASSERT_TRUE(RunUntil([&] { return Managed(hostWindow) == (manager ? 1 : -1); }, 5000ms));
        // Managed as made: no state of another window (one that had the same id) carried over.
        xcb_get_geometry_reply_t* g =
            xcb_get_geometry_reply(host->c, xcb_get_geometry(host->c, hostWindow), nullptr);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->width, 200);
        EXPECT_EQ(g->height, 150);
        std::free(g);
        inner = xcb_generate_id(host->c);
        std::uint32_t values[] = {host->screen->white_pixel};
        xcb_create_window(host->c, XCB_COPY_FROM_PARENT, inner, hostWindow, 0, 0, 200, 150, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, host->screen->root_visual, XCB_CW_BACK_PIXEL,
                          values);
        xcb_map_window(host->c, inner);
        host->Sync();
    }

    // WM_STATE of a window: 0 withdrawn, 1 normal, 3 iconic, -1 none.
    int Managed(xcb_window_t w)
    {
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            host->c, xcb_get_property(host->c, 0, w, wmState, XCB_ATOM_ANY, 0, 2), nullptr);
        int state = -1;
        if (r && r->format == 32 && xcb_get_property_value_length(r) >= 4)
            state = static_cast<int>(*static_cast<std::uint32_t*>(xcb_get_property_value(r)));
        std::free(r);
        return state;
    }
    xcb_window_t TransientFor(xcb_window_t w)
    {
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            host->c, xcb_get_property(host->c, 0, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1),
            nullptr);
        xcb_window_t owner = 0;
        if (r && xcb_get_property_value_length(r) >= 4)
            owner = *static_cast<xcb_window_t*>(xcb_get_property_value(r));
        std::free(r);
        return owner;
    }
    xcb_window_t Parent(xcb_window_t w)
    {
        xcb_query_tree_reply_t* t = xcb_query_tree_reply(host->c, xcb_query_tree(host->c, w), nullptr);
        xcb_window_t p = t ? t->parent : 0;
        std::free(t);
        return p;
    }
    bool Mapped(xcb_window_t w)
    {
        xcb_get_window_attributes_reply_t* a =
            xcb_get_window_attributes_reply(host->c, xcb_get_window_attributes(host->c, w), nullptr);
        bool mapped = a && a->map_state != XCB_MAP_STATE_UNMAPPED;
        std::free(a);
        return mapped;
    }

    // What the host does, from a client of its own: withdraw its top-level (ICCCM: unmap it and
    // tell the manager), map it again, iconify it.
    static void Withdraw(Client& c, xcb_window_t top)
    {
        xcb_unmap_window(c.c, top);
        xcb_unmap_notify_event_t n{};
        n.response_type = XCB_UNMAP_NOTIFY;
        n.event = c.screen->root;
        n.window = top;
        xcb_send_event(c.c, 0, c.screen->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<char const*>(&n));
        c.Sync();
    }
    static void Iconify(Client& c, xcb_window_t top)
    {
        xcb_client_message_event_t m{};
        m.response_type = XCB_CLIENT_MESSAGE;
        m.format = 32;
        m.window = top;
        m.type = c.Atom("WM_CHANGE_STATE");
        m.data.data32[0] = 3; // IconicState
        xcb_send_event(c.c, 0, c.screen->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<char const*>(&m));
        c.Sync();
    }
    // Shows the top-level again and waits until the editor responds.
    void ShowAgain(Probe& editor)
    {
        xcb_map_window(host->c, hostWindow);
        host->Sync();
        ASSERT_TRUE(RunUntil([&] { return !backend->Hidden(*surfaces[0]); }, 5000ms));
        Shown(inner, 10, 120);
        editor.calls.clear();
        gfx::Dispatcher::Reset();
        xcb_window_t in = inner;
        Script(
            [in](Client& c)
            {
                c.MoveTo(in, 20, 120);
                c.Button(true);
                c.Button(false);
            });
        EXPECT_TRUE(RunUntil([&] { return editor.Has("LButtonUp"); }, 5000ms));
        JoinScripts();
    }

    bool manager = false;
    xcb_atom_t wmState = 0;
    xcb_window_t inner = 0; // the host's window for the editor
};

TEST_F(XcbHostWindow, ADialogIsTransientForTheClientTopLevelAndAnAlertForItsDialog)
{
    Probe& editor = Embed(inner, 100);
    Shown(inner, 10, 120);
    for (int round = 0; round < 2; ++round)
    {
        SCOPED_TRACE(round == 0 ? "first shown" : "after a hide and a show");
        // Under a manager the top-level sits in the manager's frame, which is never the owner.
        if (manager)
        {
            EXPECT_NE(Parent(hostWindow), host->screen->root);
        }
        {
            Frame dialog;
            dialog.CreateFrame(&editor, 300, 200, 80, 60);
            xcb_window_t const dialogWindow = gfx::XcbBackend::WindowOf(*dialog.GetFrameWindow());
            EXPECT_EQ(TransientFor(dialogWindow), hostWindow);
            Frame alert;
            alert.CreateFrame(&dialog, 320, 220, 60, 40);
            EXPECT_EQ(TransientFor(gfx::XcbBackend::WindowOf(*alert.GetFrameWindow())), dialogWindow);
        }
        Withdraw(*host, hostWindow);
        ASSERT_TRUE(RunUntil([&] { return backend->Hidden(*surfaces[0]); }, 5000ms));
        ShowAgain(editor);
    }
}

TEST_F(XcbHostWindow, AHideEndsEveryNestedLoopOfTheEditorAndAShowMakesItRespondAgain)
{
    Probe& editor = Embed(inner, 100);
    Shown(inner, 10, 120);
    FileDialog::SetLastFolder(::testing::TempDir().c_str());
    struct Loop
    {
        char const* name;
        std::function<void(XcbHostWindow&, Probe&)> run;
    };
    Loop const loops[] = {
        {"an alert", [](XcbHostWindow&, Probe&) { MessagePopup("Something to say", "Note"); }},
        {"a question", [](XcbHostWindow&, Probe&) { EXPECT_FALSE(MessageYesNoPopup("Go on?", "Question")); }},
        {"a dialog's modal run",
         [](XcbHostWindow&, Probe& e)
         {
             Frame dialog;
             dialog.CreateFrame(&e, 300, 200, 80, 60);
             dialog.RunModal();
         }},
        {"the file dialog",
         [](XcbHostWindow&, Probe&)
         {
             FileDialog::TypeList types;
             types.Add("Wave", "wav");
             String path("unchanged");
             EXPECT_FALSE(FileDialog::OpenDialog("Import", types, path));
             EXPECT_STREQ(path, "unchanged");
         }},
        {"a menu",
         [](XcbHostWindow&, Probe& e)
         {
             CascadeList list;
             list.AddItem("One", 1, nullptr, false);
             EXPECT_EQ(RunPopupMenu(list, &e, 10, 10), nullptr);
         }},
        {"a drag",
         [](XcbHostWindow& t, Probe& e)
         {
             // The button goes down, moves and stays down: the drag ends as a release where it is.
             gfx::Dispatcher::Reset(); // a press, not the second of a double click
             Client presser;
             presser.MoveTo(t.inner, 20, 120);
             presser.Button(true);
             presser.MoveTo(t.inner, 30, 125);
             EXPECT_TRUE(t.RunUntil([&] { return e.Has("MouseMoved(30,25)"); }, 5000ms));
             while (!e.Has("LButtonUp") && !gfx::RunLoop::Abandoned(t.surfaces[0].get()))
                 gfx::RunLoop::Turn(true);
             std::string calls;
             for (auto const& c : e.calls)
                 calls += c + " ";
             EXPECT_TRUE(e.Has("LButtonUp(30,25)")) << calls;
             presser.Button(false);
         }},
    };
    for (Loop const& loop : loops)
    {
        SCOPED_TRACE(loop.name);
        editor.calls.clear();
        xcb_window_t const top = hostWindow;
        Script(
            [top](Client& c)
            {
                std::this_thread::sleep_for(400ms);
                Withdraw(c, top);
            });
        auto const start = std::chrono::steady_clock::now();
        {
            gfx::RunLoop::EditorScope scope(surfaces[0].get());
            loop.run(*this, editor);
        }
        // Ended by the hide, as cancelled, well before anyone could have answered it.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        JoinScripts();
        EXPECT_TRUE(backend->Hidden(*surfaces[0]));
        EXPECT_FALSE(gfx::Dispatcher::Tracking());
        {
            // Started while hidden: returns at once, and no window is mapped.
            gfx::RunLoop::EditorScope scope(surfaces[0].get());
            Frame dialog;
            dialog.CreateFrame(&editor, 300, 200, 80, 60);
            EXPECT_FALSE(Mapped(gfx::XcbBackend::WindowOf(*dialog.GetFrameWindow())));
            auto const again = std::chrono::steady_clock::now();
            dialog.RunModal();
            EXPECT_LT(std::chrono::steady_clock::now() - again, 5s);
        }
        ShowAgain(editor);
    }
}

TEST_F(XcbHostWindow, AHiddenHostWindowInsideItsTopLevelEndsTheEditorsModalRun)
{
    // The host unmaps only its own window for the editor (the top-level stays).
    Probe& editor = Embed(inner, 100);
    Shown(inner, 10, 120);
    xcb_window_t const in = inner;
    Script(
        [in](Client& c)
        {
            std::this_thread::sleep_for(400ms);
            xcb_unmap_window(c.c, in);
            c.Sync();
        });
    auto const start = std::chrono::steady_clock::now();
    {
        gfx::RunLoop::EditorScope scope(surfaces[0].get());
        Frame dialog;
        dialog.CreateFrame(&editor, 300, 200, 80, 60);
        dialog.RunModal();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    JoinScripts();
    EXPECT_TRUE(backend->Hidden(*surfaces[0]));
    xcb_map_window(host->c, inner);
    host->Sync();
    EXPECT_TRUE(RunUntil([&] { return !backend->Hidden(*surfaces[0]); }, 5000ms));
}

TEST_F(XcbHostWindow, AnIconifiedTopLevelKeepsItsDialog)
{
    // Without a manager nothing iconifies: the row runs under one.
    if (!manager) return;
    Probe& editor = Embed(inner, 100);
    Shown(inner, 10, 120);
    xcb_window_t const top = hostWindow;
    Script(
        [top](Client& c)
        {
            std::this_thread::sleep_for(300ms);
            Iconify(c, top);
        });
    auto dialog = std::make_unique<Frame>();
    dialog->CreateFrame(&editor, 300, 200, 80, 60);
    bool iconified = false, stillRunning = false;
    Once check;
    std::function<void()> poll = [&]
    {
        if (Managed(hostWindow) == 3 && !iconified)
        {
            iconified = true;
            // A second later the dialog still runs.
            check.Start(1000ms,
                        [&]
                        {
                            stillRunning = dialog->IsRunningModal() && !backend->Hidden(*surfaces[0]);
                            dialog->QuitModal();
                        });
            return;
        }
        if (!iconified) check.Start(20ms, poll);
    };
    check.Start(20ms, poll);
    auto const start = std::chrono::steady_clock::now();
    {
        gfx::RunLoop::EditorScope scope(surfaces[0].get());
        dialog->RunModal();
    }
    JoinScripts();
    EXPECT_TRUE(iconified);
    EXPECT_TRUE(stillRunning);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    // The dialog goes first: a manager centres it over the editor it belongs to.
    dialog.reset();
    ShowAgain(editor);
}

TEST_F(XcbHostWindow, AnotherEditorsDialogRunsOnWhileOneEditorIsHidden)
{
    Probe& first = Embed(inner, 100);
    Shown(inner, 10, 120);
    xcb_window_t const otherTop = host->MakeWindow(400, 0, 200, 150);
    ASSERT_TRUE(RunUntil([&] { return Managed(otherTop) == (manager ? 1 : -1); }, 5000ms));
    Probe& second = Embed(otherTop, 100);
    Shown(otherTop, 10, 120);
    xcb_window_t const top = hostWindow;
    Script(
        [top](Client& c)
        {
            std::this_thread::sleep_for(300ms);
            Withdraw(c, top);
        });
    auto dialog = std::make_unique<Frame>();
    dialog->CreateFrame(&second, 300, 200, 80, 60);
    EXPECT_EQ(TransientFor(gfx::XcbBackend::WindowOf(*dialog->GetFrameWindow())), otherTop);
    bool firstHidden = false, stillRunning = false;
    Once check;
    std::function<void()> poll = [&]
    {
        if (backend->Hidden(*surfaces[0]) && !firstHidden)
        {
            firstHidden = true;
            check.Start(1000ms,
                        [&]
                        {
                            stillRunning = dialog->IsRunningModal();
                            dialog->QuitModal();
                        });
            return;
        }
        if (!firstHidden) check.Start(20ms, poll);
    };
    check.Start(20ms, poll);
    {
        gfx::RunLoop::EditorScope scope(surfaces[1].get());
        dialog->RunModal();
    }
    JoinScripts();
    EXPECT_TRUE(firstHidden);
    EXPECT_TRUE(stillRunning);
    EXPECT_FALSE(backend->Hidden(*surfaces[1]));
    // The dialog and the other top-level go first: a manager may place them over the editor.
    dialog.reset();
    xcb_unmap_window(host->c, otherTop);
    host->Sync();
    ShowAgain(first);
}
} // namespace

namespace
{
// A manager reparents a top-level into its frame first and marks it (WM_STATE) only afterwards:
// an editor embedded in between is withdrawn, and shown once the mark comes. The test plays the
// manager itself, so it runs only where no real one does.
TEST_F(XcbHostWindow, AnEditorEmbeddedBeforeTheManagerMarksItsTopLevelIsShownOnceMarked)
{
    if (manager) return;
    xcb_window_t const selection = host->MakeWindow(0, 0, 1, 1);
    xcb_set_selection_owner(host->c, selection, host->Atom("WM_S0"), XCB_CURRENT_TIME);
    xcb_window_t const frame = host->MakeWindow(0, 0, 220, 190);
    xcb_reparent_window(host->c, hostWindow, frame, 0, 20);
    host->Sync();
    Embed(inner, 100);
    EXPECT_TRUE(RunUntil([&] { return backend->Hidden(*surfaces[0]); }, 5000ms)) << "not yet marked";
    std::uint32_t const normal[2] = {1, XCB_NONE};
    xcb_change_property(host->c, XCB_PROP_MODE_REPLACE, hostWindow, wmState, wmState, 32, 2, normal);
    host->Sync();
    EXPECT_TRUE(RunUntil([&] { return !backend->Hidden(*surfaces[0]); }, 5000ms)) << "marked normal";
    std::uint32_t const withdrawn[2] = {0, XCB_NONE};
    xcb_change_property(host->c, XCB_PROP_MODE_REPLACE, hostWindow, wmState, wmState, 32, 2, withdrawn);
    host->Sync();
    EXPECT_TRUE(RunUntil([&] { return backend->Hidden(*surfaces[0]); }, 5000ms)) << "withdrawn";
}
} // namespace

namespace
{
// The window manager's close of a dialog (its close button, Alt+F4: WM_DELETE_WINDOW, which the
// dialog announces) ends its modal run as Escape does, that is as its Cancel button.
TEST_F(XcbHostWindow, TheManagersCloseOfADialogEndsItsRunAsEscape)
{
    Probe& editor = Embed(inner, 100);
    Shown(inner, 10, 120);
    struct Cancellable : Frame
    {
        bool cancelled = false;
        bool CancelByKey() override
        {
            cancelled = true;
            QuitModal();
            return true;
        }
    } dialog;
    dialog.CreateFrame(&editor, 300, 200, 80, 60);
    xcb_window_t const window = gfx::XcbBackend::WindowOf(*dialog.GetFrameWindow());
    Script(
        [window](Client& c)
        {
            std::this_thread::sleep_for(300ms);
            xcb_client_message_event_t m{};
            m.response_type = XCB_CLIENT_MESSAGE;
            m.format = 32;
            m.window = window;
            m.type = c.Atom("WM_PROTOCOLS");
            m.data.data32[0] = c.Atom("WM_DELETE_WINDOW");
            xcb_send_event(c.c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<char const*>(&m));
            c.Sync();
        });
    // Ignored, the run would go on: it is ended after a while so that the test fails, not hangs.
    Once giveUp;
    giveUp.Start(10000ms, [&] { dialog.QuitModal(); });
    auto const start = std::chrono::steady_clock::now();
    {
        gfx::RunLoop::EditorScope scope(surfaces[0].get());
        dialog.RunModal();
    }
    JoinScripts();
    EXPECT_TRUE(dialog.cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}
} // namespace

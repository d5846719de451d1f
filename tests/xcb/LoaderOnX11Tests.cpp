// The editor loader on the X11 window system, in this process: host windows are X window ids.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "framework/Parameter.h"
#include "platform/CascadeList.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/xcb/XcbBackend.h"
#include "support/InstanceOverlap.h"
#include "support/gfx/Xvfb.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/PopupMenu.h"
#include "vst/VstInstrumentBase.h"
#include "vst/editor/VstGUILoader.h"

namespace
{
class GreenEditor : public EffectGUIBase
{
public:
    explicit GreenEditor(void* effect) : EffectGUIBase(effect, EditedVstPlugin(effect)) {}
    void GetDimensions(long& w, long& h) override
    {
        w = 80;
        h = 40;
    }
    void CreateContent() override {}
    void Repaint(GraphicsContext& gc) override
    {
        gc.SetPenColour(30, 220, 60, 1, 255);
        gc.DrawFilledRect(0, 0, width - 1, height - 1);
    }
};

// Instances made and deleted.
std::atomic<int> made{0};
std::atomic<int> deleted{0};

class QuietSynth : public VstInstrumentBase
{
public:
    QuietSynth()
        : VstInstrumentBase(nullptr, 0, 0, 1, FourCharCode("QtT1"), "QuietSynth", "Torvane Tests",
                            "QuietSynth", nullptr)
    {
        ++made;
    }
    ~QuietSynth() override
    {
        closeEditor();
        ++deleted;
    }
    void Render(float* outL, float* outR, long frames, int) override
    {
        for (long i = 0; i < frames; ++i)
            outL[i] = outR[i] = 0.0f;
    }
};

// A mapped top-level of the host's, 120 by 100.
xcb_window_t MakeHostWindow(xcb_connection_t* c)
{
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_window_t host = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, host, screen->root, 0, 0, 120, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_map_window(c, host);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return host;
}

// 0xRRGGBB of a pixel of a window, children included (0 when it cannot be read).
std::uint32_t Pixel(xcb_connection_t* c, xcb_window_t window, int x, int y)
{
    std::uint32_t p = 0;
    if (xcb_get_image_reply_t* image = xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, static_cast<std::int16_t>(x),
                          static_cast<std::int16_t>(y), 1, 1, ~0u),
            nullptr))
    {
        std::memcpy(&p, xcb_get_image_data(image), 4);
        std::free(image);
    }
    return p & 0xffffff;
}

TEST(LoaderOnX11, OpensInTheHostsWindowAndNotInOneThatDoesNotExist)
{
    XvfbServer server;
    XVFB_START_OR_SKIP(server);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t host = MakeHostWindow(c);

    auto* synth = new QuietSynth;
    AttachEditorLoader<GreenEditor>(synth);
    AEffect* e = synth->getAeffect();
    ERect* rect = nullptr;
    EXPECT_EQ(e->dispatcher(e, effEditGetRect, 0, 0, &rect, 0.0f), 1);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // the size question opens no connection

    void* missing = reinterpret_cast<void*>(static_cast<std::uintptr_t>(host + 1000));
    EXPECT_EQ(e->dispatcher(e, effEditOpen, 0, 0, missing, 0.0f), 0);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // nothing kept after the failure
    EXPECT_FALSE(gfx::RunLoop::IsBound());

    void* window = reinterpret_cast<void*>(static_cast<std::uintptr_t>(host));
    ASSERT_EQ(e->dispatcher(e, effEditOpen, 0, 0, window, 0.0f), 1);
    auto* loader = static_cast<VstGUILoader*>(synth->getEditor());
    ASSERT_NE(loader->GetSurface(), nullptr);
    EXPECT_EQ(loader->GetSurface()->ScreenOrigin().y, 60); // the bottom of the 100-high host window
    std::uint32_t pixel = 0;
    for (int i = 0; i < 200 && pixel != 0x1edc3c; ++i)
    {
        e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);
        pixel = Pixel(c, host, 10, 80);
        usleep(10000);
    }
    EXPECT_EQ(pixel, 0x1edc3cu);

    // The host destroys its window before closing the editor: the close still succeeds.
    xcb_destroy_window(c, host);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effEditClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // closed with the last editor
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    xcb_disconnect(c);
}

// An editor whose press opens a menu of two entries.
class MenuEditor : public GreenEditor
{
public:
    using GreenEditor::GreenEditor;
    void LButtonDown(long, long) override
    {
        opened = true;
        CascadeList list;
        list.AddItem("One", 1, nullptr, false);
        list.AddItem("Two", 2, nullptr, false);
        CascadeList::Item const* item = RunPopupMenu(list, this, 10, 10);
        chosen = item != nullptr ? item->id : 0;
        ended = true;
    }
    static inline std::atomic<bool> opened{false};
    static inline std::atomic<bool> ended{false};
    static inline std::atomic<long> chosen{-1};
};

// Another application: XTest input, and grabs of a window of its own.
struct OtherClient
{
    OtherClient() : c(xcb_connect(nullptr, nullptr)), screen(xcb_setup_roots_iterator(xcb_get_setup(c)).data)
    {
        window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 600, 600, 20, 20, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(c, window);
        Sync();
    }
    ~OtherClient() { xcb_disconnect(c); }
    OtherClient(OtherClient const&) = delete;
    OtherClient& operator=(OtherClient const&) = delete;
    void Sync() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
    // The status of a grab of the pointer (then of the keyboard) by this client, given back at once.
    std::uint8_t GrabPointer()
    {
        xcb_grab_pointer_reply_t* r = xcb_grab_pointer_reply(
            c,
            xcb_grab_pointer(c, 0, window, XCB_EVENT_MASK_BUTTON_PRESS, XCB_GRAB_MODE_ASYNC,
                             XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
            nullptr);
        std::uint8_t const status = r ? r->status : 0xff;
        std::free(r);
        if (status == XCB_GRAB_STATUS_SUCCESS) xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
        Sync();
        return status;
    }
    std::uint8_t GrabKeyboard()
    {
        xcb_grab_keyboard_reply_t* r = xcb_grab_keyboard_reply(
            c, xcb_grab_keyboard(c, 0, window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr);
        std::uint8_t const status = r ? r->status : 0xff;
        std::free(r);
        if (status == XCB_GRAB_STATUS_SUCCESS) xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        Sync();
        return status;
    }
    // A click at a point of the root window.
    void Click(int x, int y)
    {
        xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen->root,
                            static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 0);
        xcb_test_fake_input(c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        Sync();
    }

    xcb_connection_t* c;
    xcb_screen_t* screen;
    xcb_window_t window = 0;
};

TEST(LoaderOnX11, AMenusGrabIsLetGoOfWhileTheHostStopsIdlingAndTakenAgainAtItsNextCall)
{
    XvfbServer server;
    XVFB_START_OR_SKIP(server);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t const host = MakeHostWindow(c);

    auto* synth = new QuietSynth;
    AttachEditorLoader<MenuEditor>(synth);
    AEffect* e = synth->getAeffect();
    auto idle = [e] { e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f); };
    // Idles as a host does, every 10 ms, until `done`; false after the bound.
    auto idleUntil = [&idle](std::function<bool()> const& done)
    {
        for (int i = 0; i < 1000 && !done(); ++i)
        {
            idle();
            usleep(10000);
        }
        return done();
    };
    ASSERT_EQ(
        e->dispatcher(e, effEditOpen, 0, 0, reinterpret_cast<void*>(static_cast<std::uintptr_t>(host)), 0.0f),
        1);
    auto* loader = static_cast<VstGUILoader*>(synth->getEditor());
    ASSERT_NE(loader->GetSurface(), nullptr);
    OtherClient other;
    // Shown (the editor fills the bottom 40 of the host window), then clicked: the menu opens
    // and holds the pointer and the keyboard.
    ASSERT_TRUE(idleUntil([&] { return Pixel(c, host, 10, 80) == 0x1edc3cu; }));
    other.Click(20, 70);
    ASSERT_TRUE(idleUntil([] { return MenuEditor::opened.load(); }));
    idle();
    EXPECT_EQ(other.GrabPointer(), XCB_GRAB_STATUS_ALREADY_GRABBED);

    // The host stops idling: the grabs go within 2.5 s, and the menu stays open.
    auto const stopped = std::chrono::steady_clock::now();
    bool pointerFree = false;
    while (!pointerFree && std::chrono::steady_clock::now() - stopped < std::chrono::milliseconds(2500))
    {
        pointerFree = other.GrabPointer() == XCB_GRAB_STATUS_SUCCESS;
        if (!pointerFree) usleep(5000);
    }
    auto const freed = std::chrono::steady_clock::now() - stopped;
    RecordProperty("pointerFreeAfterMs",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(freed).count()));
    EXPECT_TRUE(pointerFree) << "the pointer is still held after 2.5 s without a host call";
    EXPECT_EQ(other.GrabKeyboard(), XCB_GRAB_STATUS_SUCCESS);
    EXPECT_FALSE(MenuEditor::ended.load()) << "the menu ended";

    // The next host call takes the grabs again; the menu goes on and a click chooses its first entry.
    idle();
    EXPECT_EQ(other.GrabPointer(), XCB_GRAB_STATUS_ALREADY_GRABBED);
    EXPECT_EQ(other.GrabKeyboard(), XCB_GRAB_STATUS_ALREADY_GRABBED);
    gfx::Surface* menu = nullptr;
    for (gfx::Surface* s : gfx::Surface::All())
        if (s->Kind() == gfx::SurfaceKind::Popup) menu = s;
    ASSERT_NE(menu, nullptr);
    gfx::Point const at = menu->ScreenOrigin();
    other.Click(at.x + 20, at.y + 11);
    EXPECT_TRUE(idleUntil([] { return MenuEditor::ended.load(); }));
    EXPECT_EQ(MenuEditor::chosen.load(), 1);
    // Nothing is held after the menu.
    EXPECT_EQ(other.GrabPointer(), XCB_GRAB_STATUS_SUCCESS);

    e->dispatcher(e, effEditClose, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    xcb_disconnect(c);
}
} // namespace

namespace
{
// Closes on two threads at once, one of which disposes of the last editor and so deletes the X
// back end, while the other, not let in, has posted its editor's disposal to it and wakes the
// loop.
enum class Race
{
    IdleThenClose,       // effClose on one thread right after effEditIdle was counted on another
    TwoCloses,           // effClose of two instances at once
    EditCloseBesideClose // effEditClose of one instance beside effClose of another
};

struct RaceRow
{
    Race race;
    char const* name;
    int instances;
};

constexpr RaceRow kRaceRows[] = {
    {Race::IdleThenClose, "effClose right after an effEditIdle was counted", 1},
    {Race::TwoCloses, "two instances closed at once", 2},
    {Race::EditCloseBesideClose, "effEditClose of one instance beside effClose of another", 2},
};

// The seam: in the rounds that ask for it, a wake made by a closing thread holds the back end it
// found until the loop has let go of it and the window system has had the time to delete it (a
// few milliseconds either way: a wake made under the editors' lock waits for nothing). The wake
// must never find it deleted.
struct WakeHold
{
    static inline thread_local bool armed = false;
    static inline std::atomic<int> held{0};
    static inline std::atomic<int> deletedUnder{0};

    static void Hook(gfx::Backend* backend)
    {
        // The thread the loop is bound to is the one that disposes: its own wakes are not held.
        if (!armed || gfx::RunLoop::MayRun()) return;
        ++held;
        int const before = gfx::XcbBackend::Deleted();
        auto const bound = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
        while (gfx::RunLoop::GetBackend() == backend && std::chrono::steady_clock::now() < bound)
            std::this_thread::yield();
        auto const grace = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
        while (gfx::RunLoop::GetBackend() != backend && gfx::XcbBackend::Deleted() == before &&
               std::chrono::steady_clock::now() < grace)
            std::this_thread::yield();
        if (gfx::XcbBackend::Deleted() != before) ++deletedUnder;
    }
};

class WakeHookScope
{
public:
    WakeHookScope() { gfx::RunLoop::SetWakeHook(&WakeHold::Hook); }
    ~WakeHookScope() { gfx::RunLoop::SetWakeHook(nullptr); }
    WakeHookScope(WakeHookScope const&) = delete;
    WakeHookScope& operator=(WakeHookScope const&) = delete;
};

VstIntPtr Dispatch(AEffect* e, VstInt32 opcode, void* ptr = nullptr)
{
    return e->dispatcher(e, opcode, 0, 0, ptr, 0.0f);
}

// Runs a close with the wakes of its thread held or not.
void Closing(bool hold, std::function<void()> const& close)
{
    WakeHold::armed = hold;
    close();
    WakeHold::armed = false;
}
} // namespace

// The rows run 1,000 times each (200 under a sanitizer): every instance and every back end is
// deleted exactly once, and in every tenth group of rounds (one round of each offset) a
// closer's wakes are held across the other thread's disposal of the last editor.
TEST(LoaderOnX11, ConcurrentClosesNeverWakeAReleasedBackEnd)
{
    XvfbServer server;
    XVFB_START_OR_SKIP(server);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    void* windows[2];
    for (void*& window : windows)
        window = reinterpret_cast<void*>(static_cast<std::uintptr_t>(MakeHostWindow(c)));
    overlap::HookScope entryHook;
    WakeHookScope wakeHook;
    int const rounds = overlap::Rounds();
    for (RaceRow const& row : kRaceRows)
    {
        SCOPED_TRACE(row.name);
        int const madeBefore = made.load();
        int const backendsBefore = gfx::XcbBackend::Made();
        int const deletedUnderBefore = WakeHold::deletedUnder.load();
        int const heldBefore = WakeHold::held.load();
        for (int round = 0; round < rounds; ++round)
        {
            overlap::Offset const offset = overlap::kOffsets[round % std::size(overlap::kOffsets)];
            bool const hold = (round / std::size(overlap::kOffsets)) % 10 == 9;
            AEffect* e[2] = {};
            for (int i = 0; i < row.instances; ++i)
            {
                auto* synth = new QuietSynth;
                AttachEditorLoader<GreenEditor>(synth);
                e[i] = synth->getAeffect();
                ASSERT_EQ(Dispatch(e[i], effEditOpen, windows[i]), 1) << "round " << round;
            }
            switch (row.race)
            {
            case Race::IdleThenClose:
                overlap::Race(
                    offset, [&] { Dispatch(e[0], effEditIdle); },
                    [&] { Closing(hold, [&] { Dispatch(e[0], effClose); }); });
                break;
            case Race::TwoCloses:
                overlap::Race(
                    offset, [&] { Closing(hold, [&] { Dispatch(e[0], effClose); }); },
                    [&] { Closing(hold, [&] { Dispatch(e[1], effClose); }); });
                break;
            case Race::EditCloseBesideClose:
                overlap::Race(
                    offset, [&] { Closing(hold, [&] { Dispatch(e[1], effEditClose); }); },
                    [&] { Closing(hold, [&] { Dispatch(e[0], effClose); }); });
                Dispatch(e[1], effClose);
                break;
            }
            bool const gone = made.load() == deleted.load() &&
                              gfx::XcbBackend::Made() == gfx::XcbBackend::Deleted() &&
                              gfx::XcbBackend::Current() == nullptr && !gfx::RunLoop::IsBound() &&
                              gfx::Surface::All().empty();
            if (!gone)
            {
                ADD_FAILURE() << "round " << round << ": instances alive " << made.load() - deleted.load()
                              << ", back ends alive " << gfx::XcbBackend::Made() - gfx::XcbBackend::Deleted()
                              << ", surfaces " << gfx::Surface::All().size();
                break;
            }
        }
        EXPECT_EQ(made.load() - madeBefore, rounds * row.instances);
        EXPECT_EQ(deleted.load(), made.load()) << "each instance deleted once";
        EXPECT_EQ(gfx::XcbBackend::Made() - backendsBefore, rounds) << "one back end a round";
        EXPECT_EQ(gfx::XcbBackend::Deleted(), gfx::XcbBackend::Made()) << "each back end deleted once";
        EXPECT_EQ(WakeHold::deletedUnder.load(), deletedUnderBefore) << "a back end was deleted under a wake";
        RecordProperty(std::string(row.name) + ": held wakes", WakeHold::held.load() - heldBefore);
    }
    xcb_disconnect(c);
}

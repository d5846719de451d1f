// The editor loader on the X11 window system, in this process: host windows are X window ids.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>

#include <memory>
#include <unistd.h>

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "framework/Parameter.h"
#include "platform/CascadeList.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/xcb/XcbBackend.h"
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

class QuietSynth : public VstInstrumentBase
{
public:
    QuietSynth()
        : VstInstrumentBase(nullptr, 0, 0, 1, FourCharCode("QtT1"), "QuietSynth", "Torvane Tests",
                            "QuietSynth", nullptr)
    {
    }
    ~QuietSynth() override { closeEditor(); }
    void Render(float* outL, float* outR, long frames, int) override
    {
        for (long i = 0; i < frames; ++i)
            outL[i] = outR[i] = 0.0f;
    }
};

// A client of the test's own with a top-level window: the host's, or another application's.
struct Client
{
    Client(int x, int y, int w, int h)
        : c(xcb_connect(nullptr, nullptr)), screen(xcb_setup_roots_iterator(xcb_get_setup(c)).data),
          window(xcb_generate_id(c))
    {
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, static_cast<std::int16_t>(x),
                          static_cast<std::int16_t>(y), static_cast<std::uint16_t>(w),
                          static_cast<std::uint16_t>(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, 0, nullptr);
        xcb_map_window(c, window);
        Sync();
    }
    ~Client() { xcb_disconnect(c); }
    Client(Client const&) = delete;
    Client& operator=(Client const&) = delete;
    void Sync() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
    void* Handle() const { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window)); }
    // 0xRRGGBB of a pixel of the window, children included (0 when it cannot be read).
    std::uint32_t Pixel(int x, int y)
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

    xcb_connection_t* c;
    xcb_screen_t* screen;
    xcb_window_t window;
};

TEST(LoaderOnX11, OpensInTheHostsWindowAndNotInOneThatDoesNotExist)
{
    XvfbServer server;
    XVFB_START_OR_SKIP(server);
    Client host(0, 0, 120, 100);

    auto* synth = new QuietSynth;
    AttachEditorLoader<GreenEditor>(synth);
    AEffect* e = synth->getAeffect();
    ERect* rect = nullptr;
    EXPECT_EQ(e->dispatcher(e, effEditGetRect, 0, 0, &rect, 0.0f), 1);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // the size question opens no connection

    void* missing = reinterpret_cast<void*>(static_cast<std::uintptr_t>(host.window + 1000));
    EXPECT_EQ(e->dispatcher(e, effEditOpen, 0, 0, missing, 0.0f), 0);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // nothing kept after the failure
    EXPECT_FALSE(gfx::RunLoop::IsBound());

    ASSERT_EQ(e->dispatcher(e, effEditOpen, 0, 0, host.Handle(), 0.0f), 1);
    auto* loader = static_cast<VstGUILoader*>(synth->getEditor());
    ASSERT_NE(loader->GetSurface(), nullptr);
    EXPECT_EQ(loader->GetSurface()->ScreenOrigin().y, 60); // the bottom of the 100-high host window
    std::uint32_t pixel = 0;
    for (int i = 0; i < 200 && pixel != 0x1edc3c; ++i)
    {
        e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);
        pixel = host.Pixel(10, 80);
        usleep(10000);
    }
    EXPECT_EQ(pixel, 0x1edc3cu);

    // The host destroys its window before closing the editor: the close still succeeds.
    xcb_destroy_window(host.c, host.window);
    host.Sync();
    e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effEditClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // closed with the last editor
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
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
struct OtherClient : Client
{
    OtherClient() : Client(600, 600, 20, 20) {}
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
};

TEST(LoaderOnX11, AMenusGrabIsLetGoOfWhileTheHostStopsIdlingAndTakenAgainAtItsNextCall)
{
    XvfbServer server;
    XVFB_START_OR_SKIP(server);
    Client host(0, 0, 120, 100);

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
    ASSERT_EQ(e->dispatcher(e, effEditOpen, 0, 0, host.Handle(), 0.0f), 1);
    auto* loader = static_cast<VstGUILoader*>(synth->getEditor());
    ASSERT_NE(loader->GetSurface(), nullptr);
    OtherClient other;
    // Shown (the editor fills the bottom 40 of the host window), then clicked: the menu opens
    // and holds the pointer and the keyboard.
    ASSERT_TRUE(idleUntil([&] { return host.Pixel(10, 80) == 0x1edc3cu; }));
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
}
} // namespace

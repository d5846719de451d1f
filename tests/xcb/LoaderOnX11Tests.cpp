// The editor loader on the X11 window system, in this process: host windows are X window ids.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "framework/Parameter.h"
#include "platform/CascadeList.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/xcb/XcbBackend.h"
#include "support/InstanceOverlap.h"
#include "support/gfx/XClient.h"
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

void* Handle(xcb_window_t window)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window));
}

VstIntPtr Dispatch(AEffect* e, VstInt32 opcode, void* ptr = nullptr)
{
    return e->dispatcher(e, opcode, 0, 0, ptr, 0.0f);
}

// Idles as a host does, every 10 ms, until `done`; false after ten seconds.
bool IdleUntil(AEffect* e, std::function<bool()> const& done)
{
    for (int i = 0; i < 1000 && !done(); ++i)
    {
        Dispatch(e, effEditIdle);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// The editor's green, at the bottom of a 120 by 100 host window.
constexpr std::uint32_t kGreen = 0x1edc3c;

// A private X server, and a host window of 120 by 100 on it.
class LoaderOnX11 : public ::testing::Test
{
protected:
    void SetUp() override
    {
        XVFB_START_OR_SKIP(server);
        client = std::make_unique<XClient>();
        host = client->MakeWindow(0, 0, 120, 100);
    }
    // A new instance whose loader builds an `Editor`.
    template <class Editor> static QuietSynth* Make()
    {
        auto* synth = new QuietSynth;
        AttachEditorLoader<Editor>(synth);
        return synth;
    }

    XvfbServer server;
    std::unique_ptr<XClient> client;
    xcb_window_t host = 0;
};

TEST_F(LoaderOnX11, OpensInTheHostsWindowAndNotInOneThatDoesNotExist)
{
    QuietSynth* synth = Make<GreenEditor>();
    AEffect* e = synth->getAeffect();
    ERect* rect = nullptr;
    EXPECT_EQ(Dispatch(e, effEditGetRect, &rect), 1);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // the size question opens no connection

    EXPECT_EQ(Dispatch(e, effEditOpen, Handle(host + 1000)), 0);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // nothing kept after the failure
    EXPECT_FALSE(gfx::RunLoop::IsBound());

    ASSERT_EQ(Dispatch(e, effEditOpen, Handle(host)), 1);
    auto* loader = static_cast<VstGUILoader*>(synth->getEditor());
    ASSERT_NE(loader->GetSurface(), nullptr);
    EXPECT_EQ(loader->GetSurface()->ScreenOrigin().y, 60); // the bottom of the 100-high host window
    EXPECT_TRUE(IdleUntil(e, [&] { return client->Pixel(host, 10, 80) == kGreen; }));

    // The host destroys its window before closing the editor: the close still succeeds.
    xcb_destroy_window(client->c, host);
    client->Sync();
    Dispatch(e, effEditIdle);
    Dispatch(e, effEditClose);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr); // closed with the last editor
    Dispatch(e, effClose);
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

TEST_F(LoaderOnX11, AMenusGrabIsLetGoOfWhileTheHostStopsIdlingAndTakenAgainAtItsNextCall)
{
    AEffect* e = Make<MenuEditor>()->getAeffect();
    ASSERT_EQ(Dispatch(e, effEditOpen, Handle(host)), 1);
    // Another application: XTest input, and grabs of a window of its own.
    XClient other;
    xcb_window_t const theirs = other.MakeWindow(600, 600, 20, 20);
    // Shown, then clicked: the menu opens and holds the pointer and the keyboard.
    ASSERT_TRUE(IdleUntil(e, [&] { return client->Pixel(host, 10, 80) == kGreen; }));
    other.Click(other.screen->root, 20, 70);
    ASSERT_TRUE(IdleUntil(e, [] { return MenuEditor::opened.load(); }));
    Dispatch(e, effEditIdle);
    EXPECT_EQ(other.GrabPointer(theirs), XCB_GRAB_STATUS_ALREADY_GRABBED);

    // The host stops idling: the grabs go within 2.5 s, and the menu stays open.
    auto const stopped = std::chrono::steady_clock::now();
    bool pointerFree = false;
    while (std::chrono::steady_clock::now() - stopped < std::chrono::milliseconds(2500) &&
           !(pointerFree = PointerFree(other, theirs)))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    RecordProperty("pointerFreeAfterMs",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - stopped)
                                        .count()));
    EXPECT_TRUE(pointerFree) << "the pointer is still held after 2.5 s without a host call";
    EXPECT_EQ(other.GrabKeyboard(theirs), XCB_GRAB_STATUS_SUCCESS);
    EXPECT_FALSE(MenuEditor::ended.load()) << "the menu ended";

    // The next host call takes the grabs again; the menu goes on and a click chooses its first entry.
    Dispatch(e, effEditIdle);
    EXPECT_EQ(other.GrabPointer(theirs), XCB_GRAB_STATUS_ALREADY_GRABBED);
    EXPECT_EQ(other.GrabKeyboard(theirs), XCB_GRAB_STATUS_ALREADY_GRABBED);
    gfx::Surface* menu = nullptr;
    for (gfx::Surface* s : gfx::Surface::All())
        if (s->Kind() == gfx::SurfaceKind::Popup) menu = s;
    ASSERT_NE(menu, nullptr);
    gfx::Point const at = menu->ScreenOrigin();
    other.Click(other.screen->root, at.x + 20, at.y + 11);
    EXPECT_TRUE(IdleUntil(e, [] { return MenuEditor::ended.load(); }));
    EXPECT_EQ(MenuEditor::chosen.load(), 1);
    EXPECT_TRUE(PointerFree(other, theirs)) << "held after the menu";

    Dispatch(e, effEditClose);
    Dispatch(e, effClose);
}

// Closes on two threads at once, one of which disposes of the last editor and so deletes the X
// back end, while the other, not let in, has posted its editor's disposal to it and wakes the
// loop. Each row's call (on one thread) and close (on the other, once the call was counted in)
// go to instance 0 or 1; an instance left open by the race is closed after it.
struct Call
{
    int instance;
    VstInt32 opcode;
};

struct RaceRow
{
    char const* name;
    int instances;
    Call call;
    Call close;
};

constexpr RaceRow kRaceRows[] = {
    {"effClose right after an effEditIdle was counted", 1, {0, effEditIdle}, {0, effClose}},
    {"two instances closed at once", 2, {0, effClose}, {1, effClose}},
    {"effEditClose of one instance beside effClose of another", 2, {1, effEditClose}, {0, effClose}},
};

// The seam: in the rounds that ask for it, a wake made by a closing thread holds the back end it
// found until the loop has let go of it and the window system has had the time to delete it (a
// few milliseconds either way: a wake made under the editors' lock waits for nothing). The wake
// must never find it deleted.
struct WakeHold
{
    static inline thread_local bool armed = false; // on the closing threads of the rounds that hold
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
} // namespace

// The rows run 1,000 times each (200 under a sanitizer): every instance and every back end is
// deleted exactly once, and in every tenth group of rounds (one round of each offset) a
// closer's wakes are held across the other thread's disposal of the last editor.
TEST_F(LoaderOnX11, ConcurrentClosesNeverWakeAReleasedBackEnd)
{
    void* const windows[2] = {Handle(host), Handle(client->MakeWindow(0, 0, 120, 100))};
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
                e[i] = Make<GreenEditor>()->getAeffect();
                ASSERT_EQ(Dispatch(e[i], effEditOpen, windows[i]), 1) << "round " << round;
            }
            // A call on a thread of the race; a closing one's wakes are held in the rounds that hold.
            auto on = [&](Call c)
            {
                return [&, c]
                {
                    WakeHold::armed = hold && c.opcode != effEditIdle;
                    Dispatch(e[c.instance], c.opcode);
                };
            };
            overlap::Race(offset, on(row.call), on(row.close));
            if (row.call.opcode == effEditClose) Dispatch(e[row.call.instance], effClose);
            if (made.load() != deleted.load() || gfx::XcbBackend::Made() != gfx::XcbBackend::Deleted() ||
                gfx::XcbBackend::Current() != nullptr || gfx::RunLoop::IsBound() ||
                !gfx::Surface::All().empty())
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
}

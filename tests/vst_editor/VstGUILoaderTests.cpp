// The editor loader through the dispatcher, on the headless back end with fake host windows.

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "framework/Parameter.h"
#include "framework/Timers.h"
#include "platform/MessagePopup.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/headless/HeadlessBackend.h"
#include "platform/gfx/xcb/XcbBackend.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/MacWindowManager.h"
#include "vst/VstInstrumentBase.h"
#include "vst/editor/VstGUILoader.h"

namespace
{
struct Counts
{
    int built = 0;
    int destroyed = 0;
    int contents = 0;
    bool failContent = false;
    bool waitThenFail = false; // the building waits (across the host's calls), then fails
    // Runs a nested loop from a press until it is ended from outside; records what it saw.
    bool nestOnPress = false;
    int nestedReturns = 0;
    int destroyedWhenNestedReturned = -1;
    std::thread::id destroyedOn;
};
Counts counts;
// The next size question holds until let go (an open under way on another thread).
std::atomic<bool> holdSize{false};
std::atomic<bool> sizeHeld{false};
std::atomic<bool> letSizeGo{false};
// The next building holds until let go (an editor thread inside its open).
std::atomic<bool> holdContent{false};
std::atomic<bool> contentHeld{false};
std::atomic<bool> letContentGo{false};

// Waits until `flag` is set; false after ten seconds.
bool WaitFor(std::atomic<bool> const& flag)
{
    for (int i = 0; i < 10000 && !flag.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag.load();
}

class ProbeEditor : public EffectGUIBase
{
public:
    explicit ProbeEditor(void* effect) : EffectGUIBase(effect, EditedVstPlugin(effect)) { ++counts.built; }
    ~ProbeEditor() override
    {
        Detach();
        ++counts.destroyed;
        counts.destroyedOn = std::this_thread::get_id();
    }
    void GetDimensions(long& w, long& h) override
    {
        if (holdSize.exchange(false))
        {
            sizeHeld = true;
            WaitFor(letSizeGo);
        }
        w = 100;
        h = 60;
    }
    void CreateContent() override
    {
        if (holdContent.exchange(false))
        {
            contentHeld = true;
            WaitFor(letContentGo);
        }
        if (counts.waitThenFail) gfx::RunLoop::RunFor(std::chrono::milliseconds(100));
        if (counts.failContent || counts.waitThenFail) throw std::runtime_error("content refused");
        ++counts.contents;
    }
    void Repaint(GraphicsContext& gc) override
    {
        gc.SetPenColour(200, 40, 40, 1, 255);
        gc.DrawFilledRect(0, 0, width - 1, height - 1);
    }
    void LButtonDown(long, long) override
    {
        if (!counts.nestOnPress) return;
        gfx::RunLoop::RunUntil([] { return false; });
        ++counts.nestedReturns;
        counts.destroyedWhenNestedReturned = counts.destroyed;
    }
};

class LoaderSynth : public VstInstrumentBase
{
public:
    LoaderSynth()
        : VstInstrumentBase(nullptr, 1, 0, 1, FourCharCode("LdT1"), "LoaderSynth", "Torvane Tests",
                            "LoaderSynth", nullptr)
    {
        gain.Create("Gain", this, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
        AddAutomatableParameter(&gain);
        SetNumParameters(1);
    }
    ~LoaderSynth() override { closeEditor(); }
    void Render(float* outL, float* outR, long frames, int) override
    {
        for (long i = 0; i < frames; ++i)
            outL[i] = outR[i] = 0.0f;
    }
    Parameter gain;
};

// Host windows are numbers with a size; the back end is the test's headless one.
class FakeWindowSystem : public EditorWindowSystem
{
public:
    explicit FakeWindowSystem(gfx::HeadlessBackend& b) : backend(b) {}
    gfx::Backend* Acquire() override
    {
        if (noDisplay) return nullptr;
        ++users;
        return &backend;
    }
    void Release() override { --users; }
    bool HostWindowSize(void* window, int& w, int& h) override
    {
        auto it = windows.find(window);
        if (it == windows.end()) return false;
        w = it->second.first;
        h = it->second.second;
        return true;
    }
    gfx::HeadlessBackend& backend;
    std::map<void*, std::pair<int, int>> windows;
    int users = 0;
    bool noDisplay = false;
};

void* HostWindow(std::uintptr_t id)
{
    return reinterpret_cast<void*>(id);
}

class LoaderTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        counts = Counts{};
        gfx::RunLoop::SetBackend(&backend);
        MacWindowManager::InstallTimers();
        gfx::Dispatcher::Reset();
        backend.onFailure = [](std::string const& why) { ADD_FAILURE() << "starved: " << why; };
        previous = SetEditorWindowSystem(&system);
        system.windows[HostWindow(11)] = {100, 200};
        system.windows[HostWindow(12)] = {100, 30};
        system.windows[HostWindow(13)] = {100, 60};
        synth = new LoaderSynth;
        AttachEditorLoader<ProbeEditor>(synth);
    }
    void TearDown() override
    {
        if (synth) Dispatch(effClose);
        gfx::RunLoop::Turn(false);
        SetEditorWindowSystem(previous);
        gfx::RunLoop::ResumeNested();
        gfx::RunLoop::SetBackend(nullptr);
        EXPECT_EQ(system.users, 0);
        EXPECT_FALSE(gfx::RunLoop::IsBound());
    }

    VstIntPtr Dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr)
    {
        AEffect* e = synth->getAeffect();
        VstIntPtr result = e->dispatcher(e, opcode, index, value, ptr, 0.0f);
        if (opcode == effClose) synth = nullptr;
        return result;
    }
    VstGUILoader& Loader() { return *static_cast<VstGUILoader*>(synth->getEditor()); }
    gfx::Surface* Surface() { return Loader().GetSurface(); }

    gfx::HeadlessBackend backend;
    FakeWindowSystem system{backend};
    EditorWindowSystem* previous = nullptr;
    LoaderSynth* synth = nullptr;
};

TEST_F(LoaderTest, RectangleBeforeAnyOpenAndTheRootBuiltAtOnce)
{
    ERect* rect = nullptr;
    ASSERT_EQ(Dispatch(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 60);
    EXPECT_EQ(rect->right, 100);
    EXPECT_EQ(counts.built, 1);
    EXPECT_EQ(counts.contents, 0);
    EXPECT_EQ(synth->getAeffect()->flags & effFlagsHasEditor, effFlagsHasEditor);
    EXPECT_FALSE(synth->HasGUI());
    EXPECT_EQ(system.users, 0);
}

TEST_F(LoaderTest, EditorSitsOnTheBottomOfTheHostWindowOrAtTheTop)
{
    struct Case
    {
        std::uintptr_t window;
        int y;
    } const cases[] = {{11, 140}, {12, 0}, {13, 0}};
    for (Case const& c : cases)
    {
        ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(c.window)), 1);
        ASSERT_NE(Surface(), nullptr);
        EXPECT_EQ(Surface()->HostHandle(), HostWindow(c.window));
        EXPECT_EQ(Surface()->ScreenOrigin().y, c.y) << c.window;
        EXPECT_EQ(Surface()->ScreenOrigin().x, 0);
        EXPECT_EQ(Surface()->Width(), 100);
        EXPECT_EQ(Surface()->Height(), 60);
        Dispatch(effEditIdle);
        gfx::Pixel p = backend.Probe(*Surface(), 50, 30);
        EXPECT_EQ(p.r, 200);
        EXPECT_EQ(p.g, 40);
        Dispatch(effEditClose);
        EXPECT_EQ(Surface(), nullptr);
    }
}

TEST_F(LoaderTest, OpenCloseOpenBuildsAFreshRootAttachedToThePlugin)
{
    ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 1);
    EffectGUIBase* first = Loader().GetEditor();
    EXPECT_EQ(synth->GetGUI(), static_cast<PluginEditor*>(first));
    EXPECT_EQ(counts.contents, 1);
    Dispatch(effEditClose);
    EXPECT_EQ(counts.destroyed, 1);
    EXPECT_FALSE(synth->HasGUI());
    EXPECT_EQ(Loader().GetEditor(), nullptr);
    EXPECT_EQ(system.users, 0);
    EXPECT_TRUE(gfx::Surface::All().empty());
    Dispatch(effEditClose); // a second close does nothing
    EXPECT_EQ(counts.destroyed, 1);

    ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 1);
    EXPECT_EQ(counts.built, 2);
    EXPECT_EQ(synth->GetGUI(), static_cast<PluginEditor*>(Loader().GetEditor()));
    // A second open while open closes the first.
    ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(12)), 1);
    EXPECT_EQ(counts.destroyed, 2);
    EXPECT_EQ(counts.built, 3);
    EXPECT_EQ(gfx::Surface::All().size(), 1u);
    EXPECT_EQ(system.users, 1);
}

TEST_F(LoaderTest, FailedOpensLeaveNothingBuiltOrAttached)
{
    EXPECT_EQ(Dispatch(effEditOpen, 0, 0, nullptr), 0);
    EXPECT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(99)), 0); // no such window
    system.noDisplay = true;
    EXPECT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 0);
    system.noDisplay = false;
    EXPECT_EQ(counts.contents, 0);
    EXPECT_EQ(system.users, 0);
    EXPECT_FALSE(gfx::RunLoop::IsBound());

    counts.failContent = true;
    EXPECT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 0);
    EXPECT_EQ(counts.destroyed, 1); // the root that failed is gone
    EXPECT_FALSE(synth->HasGUI());
    EXPECT_TRUE(gfx::Surface::All().empty());
    EXPECT_EQ(system.users, 0);
    EXPECT_FALSE(gfx::RunLoop::IsBound());

    // The building waits, so the open returns; it fails in a later idle.
    counts.failContent = false;
    counts.waitThenFail = true;
    ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 1);
    backend.Advance(std::chrono::milliseconds(200));
    Dispatch(effEditIdle);
    EXPECT_EQ(counts.destroyed, 2);
    EXPECT_FALSE(Loader().IsEditorOpen());
    EXPECT_FALSE(synth->HasGUI());
    EXPECT_TRUE(gfx::Surface::All().empty());
    EXPECT_EQ(system.users, 0);
    EXPECT_FALSE(gfx::RunLoop::IsBound());

    counts.waitThenFail = false;
    ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 1);
    EXPECT_EQ(counts.built, 3);
    EXPECT_TRUE(synth->HasGUI());
}

TEST_F(LoaderTest, InstanceClosedWithItsEditorOpen)
{
    ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 1);
    Dispatch(effEditIdle);
    Dispatch(effClose);
    EXPECT_EQ(counts.destroyed, 1);
    EXPECT_TRUE(gfx::Surface::All().empty());
    EXPECT_EQ(system.users, 0);
}

TEST_F(LoaderTest, RootBuiltButNeverOpenedGoesWithTheInstance)
{
    Dispatch(effClose);
    EXPECT_EQ(counts.built, 1);
    EXPECT_EQ(counts.destroyed, 1);
}

TEST_F(LoaderTest, CloseDuringANestedLoopEndsItAndDeletesAfterTheHandler)
{
    counts.nestOnPress = true;
    ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 1);
    gfx::Surface* surface = Surface();
    backend.Press(*surface, 10, 10);
    backend.Then([this] { Dispatch(effEditClose); });
    for (int i = 0; i < 20 && counts.nestedReturns == 0; ++i)
        gfx::RunLoop::Turn(true);
    EXPECT_EQ(counts.nestedReturns, 1);
    EXPECT_EQ(counts.destroyedWhenNestedReturned, 0); // still alive under its own handler
    EXPECT_EQ(counts.destroyed, 1);
    EXPECT_FALSE(synth->HasGUI());
    EXPECT_TRUE(gfx::Surface::All().empty());
    EXPECT_EQ(system.users, 0);
}

TEST_F(LoaderTest, CloseFromAnotherThreadWhileTheEditorsThreadIdles)
{
    ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 1);
    std::atomic<bool> closed{false};
    std::thread closer(
        [&]
        {
            Dispatch(effEditClose);
            closed = true;
        });
    // The host's editor thread keeps idling meanwhile.
    for (int i = 0; i < 2000 && !closed; ++i)
    {
        Dispatch(effEditIdle);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    closer.join();
    EXPECT_EQ(counts.destroyed, 1);
    EXPECT_FALSE(synth->HasGUI());
    EXPECT_TRUE(gfx::Surface::All().empty());
}

TEST_F(LoaderTest, ConcurrentOpensOfOneInstanceLeaveOneEditorOpen)
{
    // The first open holds on the root's size, the second comes meanwhile from another thread.
    holdSize = true;
    sizeHeld = false;
    letSizeGo = false;
    VstIntPtr first = -1;
    VstIntPtr second = -1;
    std::thread opener([&] { first = Dispatch(effEditOpen, 0, 0, HostWindow(11)); });
    ASSERT_TRUE(WaitFor(sizeHeld));
    std::thread(
        [&]
        {
            second = Dispatch(effEditOpen, 0, 0, HostWindow(12));
            letSizeGo = true;
        })
        .join();
    opener.join();
    EXPECT_EQ(second, 0) << "the second open is refused";
    EXPECT_EQ(first, 1);
    EXPECT_EQ(counts.built, 1);
    EXPECT_EQ(counts.contents, 1);
    EXPECT_EQ(gfx::Surface::All().size(), 1u);
    ASSERT_NE(Surface(), nullptr);
    EXPECT_EQ(Surface()->HostHandle(), HostWindow(11));
    EXPECT_EQ(system.users, 1);
    Dispatch(effEditClose);
    EXPECT_EQ(counts.destroyed, 1);
    // The next open works.
    ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(12)), 1);
    Dispatch(effClose);
    EXPECT_EQ(counts.built, 2);
    EXPECT_EQ(counts.destroyed, 2) << "nothing left over";
}

TEST_F(LoaderTest, RootOfARefusedOpenGoesOnTheThreadInsideWhileAnotherThreadOpensAnEditor)
{
    EXPECT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(99)), 0); // refused: the root is kept
    long const strays = TimerService::StrayTouches();
    auto* other = new LoaderSynth;
    AttachEditorLoader<ProbeEditor>(other);
    AEffect* e = other->getAeffect();
    holdContent = true;
    contentHeld = false;
    letContentGo = false;
    std::thread::id openerId;
    std::thread opener(
        [&]
        {
            openerId = std::this_thread::get_id();
            EXPECT_EQ(e->dispatcher(e, effEditOpen, 0, 0, HostWindow(11), 0.0f), 1);
        });
    ASSERT_TRUE(WaitFor(contentHeld));
    // The host closes the first instance while the other's editor is being built.
    Dispatch(effClose);
    EXPECT_EQ(counts.destroyed, 0) << "the kept root waits for the thread inside";
    letContentGo = true;
    opener.join();
    EXPECT_EQ(counts.destroyed, 1);
    EXPECT_EQ(counts.destroyedOn, openerId);
    EXPECT_EQ(TimerService::StrayTouches(), strays) << "the timer table touched off the loop's thread";
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(counts.destroyed, 2);
    EXPECT_EQ(TimerService::StrayTouches(), strays);
}

TEST_F(LoaderTest, NoteFromAHostThreadOutsideEveryEditorCallShowsAtTheNextIdle)
{
    std::size_t surfaces = 0;
    std::thread(
        [&]
        {
            ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 1);
            surfaces = gfx::Surface::All().size();
            // A host call that is no editor's (a damaged chunk's note), on the thread the loop
            // is still bound to: another thread may be let in at any time.
            MessagePopup("The chunk is damaged", "Note");
            EXPECT_EQ(gfx::Surface::All().size(), surfaces) << "shown outside every editor call";
            EXPECT_FALSE(gfx::RunLoop::StrandWaiting(Surface()));
        })
        .join();
    // The host's other thread idles the editor: the note shows there, on the editor's strand.
    Dispatch(effEditIdle);
    EXPECT_EQ(gfx::Surface::All().size(), surfaces + 1);
    EXPECT_EQ(gfx::RunLoop::StrandThread(Surface()), std::this_thread::get_id());
    Dispatch(effEditClose);
    EXPECT_TRUE(gfx::Surface::All().empty());
    EXPECT_EQ(counts.destroyed, 1);
}

TEST_F(LoaderTest, EditorClosedFromAnotherThreadThanItsMenusThenReopenedGoesWithTheInstance)
{
    // An editor thread starts a nested loop (a menu) on the editor's strand, then ends.
    counts.nestOnPress = true;
    std::thread(
        [&]
        {
            ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(11)), 1);
            backend.Press(*Surface(), 10, 10);
            for (int i = 0; i < 20 && !gfx::RunLoop::StrandWaiting(Surface()); ++i)
                gfx::RunLoop::Turn(true);
            EXPECT_TRUE(gfx::RunLoop::StrandWaiting(Surface()));
        })
        .join();
    // Another thread closes the editor (left for its strand while the instance stays), and the
    // same loader opens a new one.
    Dispatch(effEditClose);
    EXPECT_EQ(counts.destroyed, 0);
    ASSERT_EQ(Dispatch(effEditOpen, 0, 0, HostWindow(12)), 1);
    Dispatch(effEditIdle);
    // The instance goes: both editors with it, and the loop lets go of the back end.
    Dispatch(effClose);
    EXPECT_EQ(counts.destroyed, 2);
    EXPECT_EQ(system.users, 0);
    EXPECT_FALSE(gfx::RunLoop::IsBound());
}

// No display: building instances, asking the rectangle and a failed open make no connection.
TEST(LoaderWithoutDisplay, ConstructionAndRectangleOpenNoConnection)
{
    char const* display = std::getenv("DISPLAY");
    std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    counts = Counts{};
    auto* synth = new LoaderSynth;
    AttachEditorLoader<ProbeEditor>(synth);
    AEffect* e = synth->getAeffect();
    ERect* rect = nullptr;
    EXPECT_EQ(e->dispatcher(e, effEditGetRect, 0, 0, &rect, 0.0f), 1);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr);
    EXPECT_EQ(e->dispatcher(e, effEditOpen, 0, 0, HostWindow(5), 0.0f), 0);
    EXPECT_EQ(gfx::XcbBackend::Current(), nullptr);
    EXPECT_EQ(counts.contents, 0);
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(counts.destroyed, 1);
    if (!saved.empty()) setenv("DISPLAY", saved.c_str(), 1);
}
} // namespace

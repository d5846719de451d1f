#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/PluginBase.h"
#include "support/RecordingEditor.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/ToolkitTestSupport.h"

namespace
{
class CountingPlugin : public PluginBase
{
public:
    CountingPlugin() : PluginBase(0, nullptr, nullptr) {}
    void Render(float*, float*, float*, float*, long, int) override {}
    void GUIOpened() override
    {
        ++opened;
        openedUnderMutex = GetMutex().HeldByCurrentThread();
        if (throwOnOpen) throw std::runtime_error("open failed");
    }
    void GUIClosed() override
    {
        ++closed;
        closedUnderMutex = GetMutex().HeldByCurrentThread();
    }

    int opened = 0;
    int closed = 0;
    bool openedUnderMutex = false;
    bool closedUnderMutex = false;
    bool throwOnOpen = false;
};

// The handles of these tests are the plug-ins themselves; the instrument is a marker.
int instrumentMarker = 0;
std::vector<CountingPlugin*> livePlugins;

EditedPlugin LookUpTestPlugin(void* handle)
{
    for (CountingPlugin* p : livePlugins)
        if (p == handle) return EditedPlugin{p, &instrumentMarker};
    return EditedPlugin{};
}

class TestRoot : public EffectGUIBase
{
public:
    // Handed the plug-in behind its handle, as a deliverable hands it.
    explicit TestRoot(void* handle) : EffectGUIBase(handle, LookUpTestPlugin(handle)) {}
    void GetDimensions(long& w, long& h) override
    {
        w = 120;
        h = 80;
    }
    void CreateContent() override
    {
        ++contentBuilt;
        if (failContent) throw std::runtime_error("no content");
        child.CreateChildWindow(this, 10, 10, 5, 5);
    }
    void UpdateAll() override { Note("UpdateAll"); }
    void UpdateSpecific(int id, std::shared_ptr<void> data) override
    {
        Note("UpdateSpecific " + std::to_string(id));
        lastData = std::move(data);
    }
    void NotificationQueueChanged() override { ++queueChanged; }

    void Note(std::string call)
    {
        calls.push_back(std::move(call));
        threads.push_back(std::this_thread::get_id());
    }

    Window child;
    int contentBuilt = 0;
    bool failContent = false;
    int queueChanged = 0;
    std::vector<std::string> calls;
    std::vector<std::thread::id> threads;
    std::shared_ptr<void> lastData;
};

class EffectGUIBaseTest : public ToolkitTest
{
public:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        livePlugins.push_back(&plugin);
    }
    void TearDown() override
    {
        livePlugins.clear();
        ToolkitTest::TearDown();
    }

    CountingPlugin plugin;
};
} // namespace

TEST_F(EffectGUIBaseTest, CreateUIPlacesBuildsAndAttachesToTheInstrument)
{
    plugin.UpdateGUISpecific(9, std::make_shared<int>(1)); // not attached: dropped
    plugin.GetGUINotificationQueue().Push(PluginBase::GUINotification{1, 3, nullptr});
    TestRoot root(&plugin);
    EXPECT_EQ(root.GetInstrument(), nullptr);
    EXPECT_EQ(root.GetPlugin(), nullptr);

    root.CreateUI(surface.get(), 30, 40);
    EXPECT_EQ(root.contentBuilt, 1);
    EXPECT_EQ(root.GetWindowWidth(), 120);
    EXPECT_EQ(root.GetWindowHeight(), 80);
    EXPECT_EQ(root.GetWindowX(), 30);
    EXPECT_EQ(root.GetWindowY(), 40);
    EXPECT_EQ(root.GetParentWindow(), nullptr);
    EXPECT_TRUE(root.IsAttached());
    EXPECT_EQ(plugin.GetGUI(), &root);
    EXPECT_EQ(plugin.GetGUINotificationQueue().Size(), 0u);
    EXPECT_EQ(plugin.opened, 1);
    EXPECT_TRUE(plugin.openedUnderMutex);
    EXPECT_EQ(plugin.closed, 0);
    EXPECT_EQ(root.GetInstrument(), &instrumentMarker);
    EXPECT_EQ(root.GetPlugin(), &plugin);

    // The editor's requests drain on this thread, outside the plug-in mutex.
    root.ProcessNotificationQueue();
    EXPECT_TRUE(root.calls.empty());
}

TEST_F(EffectGUIBaseTest, NotificationsArriveInQueueOrderWithTheirData)
{
    TestRoot root(&plugin);
    root.CreateUI(surface.get(), 0, 0);
    auto data = std::make_shared<int>(42);
    plugin.GetGUINotificationQueue().Push(PluginBase::GUINotification{0, 0, nullptr});
    plugin.UpdateGUISpecific(5, data);
    root.ProcessNotificationQueue();
    EXPECT_EQ(root.calls, (std::vector<std::string>{"UpdateAll", "UpdateSpecific 5"}));
    EXPECT_EQ(root.lastData, data);
    EXPECT_EQ(root.queueChanged, 1);
    EXPECT_EQ(plugin.GetGUINotificationQueue().Size(), 0u);
}

TEST_F(EffectGUIBaseTest, DetachBeforeTheContentGoesAndTheDestructorRepeatsHarmlessly)
{
    {
        TestRoot root(&plugin);
        root.CreateUI(surface.get(), 0, 0);
        plugin.UpdateGUISpecific(1, std::make_shared<int>(1));
        root.Detach();
        EXPECT_FALSE(root.IsAttached());
        EXPECT_EQ(plugin.GetGUI(), nullptr);
        EXPECT_FALSE(plugin.HasGUI());
        EXPECT_EQ(plugin.GetGUINotificationQueue().Size(), 0u);
        EXPECT_EQ(plugin.closed, 1);
        EXPECT_TRUE(plugin.closedUnderMutex);
        // Detached: the plug-in's requests reach it no more.
        plugin.UpdateGUIAll();
        root.ProcessNotificationQueue();
        EXPECT_TRUE(root.calls.empty());
        EXPECT_EQ(root.GetPlugin(), &plugin); // controls still unbind under its mutex
    }
    EXPECT_EQ(plugin.closed, 1);

    // Without an explicit Detach the destructor detaches (after the derived part is gone).
    {
        TestRoot root(&plugin);
        root.CreateUI(surface.get(), 0, 0);
    }
    EXPECT_EQ(plugin.GetGUI(), nullptr);
    EXPECT_EQ(plugin.closed, 2);
    EXPECT_EQ(plugin.opened, 2);
}

TEST_F(EffectGUIBaseTest, FailuresLeaveNothingAttached)
{
    {
        TestRoot root(&plugin);
        root.failContent = true;
        EXPECT_THROW(root.CreateUI(surface.get(), 0, 0), std::runtime_error);
        EXPECT_FALSE(root.IsAttached());
        EXPECT_EQ(plugin.GetGUI(), nullptr);
        EXPECT_EQ(plugin.opened, 0);
    }
    EXPECT_EQ(plugin.closed, 0);

    // GUIOpened failing: the mutex is released and the editor detached again.
    plugin.throwOnOpen = true;
    {
        TestRoot root(&plugin);
        EXPECT_THROW(root.CreateUI(surface.get(), 0, 0), std::runtime_error);
        EXPECT_FALSE(root.IsAttached());
        EXPECT_EQ(plugin.GetGUI(), nullptr);
        EXPECT_FALSE(plugin.GetMutex().HeldByCurrentThread());
    }
    EXPECT_EQ(plugin.closed, 1);
    plugin.throwOnOpen = false;

    // A handle that names no plug-in: content built, nothing attached, no instrument.
    int stranger = 0;
    TestRoot lost(&stranger);
    lost.CreateUI(surface.get(), 0, 0);
    EXPECT_EQ(lost.contentBuilt, 1);
    EXPECT_FALSE(lost.IsAttached());
    EXPECT_EQ(lost.GetInstrument(), nullptr);
    EXPECT_EQ(lost.GetPlugin(), nullptr);
    lost.ProcessNotificationQueue();

    // Without a parent: a root of its own, attached all the same.
    TestRoot alone(&plugin);
    alone.CreateUI(nullptr, 0, 0);
    EXPECT_NE(alone.GetView(), nullptr);
    EXPECT_TRUE(alone.IsAttached());
    alone.Detach();
}

TEST_F(EffectGUIBaseTest, TheLoopsTimersDrainTheMailbox)
{
    std::size_t const timers = TimerService::NumTimers();
    TestRoot root(&plugin);
    root.CreateUI(surface.get(), 0, 0);
    EXPECT_EQ(TimerService::NumTimers(), timers + 1);
    plugin.UpdateGUIAll();
    backend.Advance(std::chrono::milliseconds(EffectGUIBase::kDrainPeriodMs));
    gfx::RunLoop::Turn(false);
    EXPECT_EQ(root.calls, (std::vector<std::string>{"UpdateAll"}));
    root.Detach();
    EXPECT_EQ(TimerService::NumTimers(), timers);
}

TEST_F(EffectGUIBaseTest, NotificationQueuedOnAnotherThreadIsDeliveredOnTheEditorsThread)
{
    TestRoot root(&plugin);
    root.CreateUI(surface.get(), 0, 0);
    std::thread poster(
        [this]
        {
            plugin.UpdateGUISpecific(7, std::make_shared<int>(7));
            plugin.UpdateGUIAll();
        });
    poster.join();
    EXPECT_TRUE(root.calls.empty());
    backend.Advance(std::chrono::milliseconds(EffectGUIBase::kDrainPeriodMs));
    gfx::RunLoop::Turn(false);
    EXPECT_EQ(root.calls, (std::vector<std::string>{"UpdateAll", "UpdateSpecific 7"}));
    for (std::thread::id const& t : root.threads)
        EXPECT_EQ(t, std::this_thread::get_id());
}

TEST_F(EffectGUIBaseTest, ControlsFindTheMutexOfThePluginTheirRootEdits)
{
    TestRoot root(&plugin);
    EXPECT_EQ(FindEditedPlugin(&root.child), nullptr); // not yet inside the root
    root.CreateUI(surface.get(), 0, 0);
    Window grandchild;
    grandchild.CreateChildWindow(&root.child, 2, 2, 0, 0);
    EXPECT_EQ(FindEditedPlugin(&grandchild), &plugin);
    EXPECT_EQ(FindEditedPlugin(&root), &plugin);
    {
        EditedPluginLock lock(&grandchild);
        EXPECT_EQ(lock.Plugin(), &plugin);
        EXPECT_TRUE(plugin.GetMutex().HeldByCurrentThread());
    }
    EXPECT_FALSE(plugin.GetMutex().HeldByCurrentThread());

    Window outside;
    outside.CreateChildWindow(surface.get(), 2, 2, 0, 0);
    EXPECT_EQ(FindEditedPlugin(&outside), nullptr);
    EditedPluginLock none(&outside);
    EXPECT_EQ(none.Plugin(), nullptr);
}

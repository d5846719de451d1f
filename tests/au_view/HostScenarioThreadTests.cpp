// The table of host scenarios through the Audio Unit view: the view component's create, idle
// and close selectors and the unit's close, called from the threads each row names.

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "au/AUComponentEntry.h"
#include "au/AUPluginLists.h"
#include "au/view/AUEditorView.h"
#include "au_view/AUViewSupport.h"
#include "editor/EditorPlugin.h"
#include "engine/InstrumentBase.h"
#include "engine/Torvane.h"
#include "support/gfx/EditorHostScenarios.h"

namespace
{
std::atomic<int> alive{0};

class ScenarioTorvane : public Torvane
{
public:
    explicit ScenarioTorvane(ComponentInstance instance) : Torvane(instance) { ++alive; }
    ~ScenarioTorvane() override
    {
        ClosePlatformEditor(this);
        --alive;
    }
};

OSStatus UnitEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<ScenarioTorvane>(params, storage);
}

OSStatus ViewEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<AUEditorViewOf<scenarios::ScenarioRoot>>(params, storage);
}

ComponentDescription UnitDescription()
{
    ComponentDescription d;
    d.componentType = ComponentCode("aumu");
    d.componentSubType = ComponentCode("Trv1");
    d.componentManufacturer = ComponentCode("CvlA");
    return d;
}

class AUDriver : public scenarios::Driver
{
public:
    explicit AUDriver(scenarios::FakeWindows& w) : windows(w) {}
    int Make() override
    {
        auto slot = std::make_shared<Slot>();
        EXPECT_TRUE(slot->host.Open(&UnitEntry, UnitDescription())) << slot->host.GetError();
        slot->plugin = FindInstrument(slot->host.GetUnit());
        std::lock_guard<std::mutex> lock(mutex);
        int const i = static_cast<int>(slots.size());
        slots.push_back(slot);
        windows.Add(&slot->window.record, 300, 200);
        return i;
    }
    bool Open(int i) override
    {
        auto s = Get(i);
        // A view component is created once: each opening is a new one.
        s->view = std::make_unique<TestViewComponent>(&ViewEntry);
        return s->view->Open() == noErr && s->view->Create(s->host.GetUnit(), s->window) == noErr &&
               s->view->GetPane() != nullptr;
    }
    void Idle(int i) override
    {
        auto s = Get(i);
        if (s->view) s->view->Idle();
    }
    void CloseEditor(int i) override
    {
        auto s = Get(i);
        if (s->view) s->view->Close();
    }
    // The unit's close closes the editor of a view that is open on it; the view component
    // itself stays until its host closes it.
    void CloseInstance(int i) override { Get(i)->host.Close(); }
    bool ClosesEditorFromAnyThread() override { return false; }
    void* Window(int i) override { return &Get(i)->window.record; }
    PluginBase* Plugin(int i) override { return Get(i)->plugin; }
    gfx::Surface* Surface(int i) override
    {
        auto s = Get(i);
        return s->view ? s->view->Get<AUEditorView>()->GetSurface() : nullptr;
    }
    int Alive() override { return alive.load(); }

private:
    struct Slot
    {
        AUHost host;
        TestHostWindow window{300, 200, 0};
        std::unique_ptr<TestViewComponent> view;
        PluginBase* plugin = nullptr;
    };
    std::shared_ptr<Slot> Get(int i)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return slots[static_cast<std::size_t>(i)];
    }

    scenarios::FakeWindows& windows;
    std::mutex mutex;
    std::vector<std::shared_ptr<Slot>> slots;
};

class AUViewThreadScenarios : public ::testing::Test
{
protected:
    scenarios::Stage stage;
    AUDriver driver{stage.windows};
};
} // namespace

scenarios::Binding scenarios::Bind(void* handle)
{
    EditedPlugin const edited = EditedPluginOf(handle);
    auto* instrument = static_cast<InstrumentBase*>(edited.instrument);
    return Binding{edited, instrument != nullptr ? instrument->GetAutomatableParameter(0) : nullptr};
}

TEST_F(AUViewThreadScenarios, OpenIdleAndCloseFromTheHostsThreads)
{
    scenarios::RunThreadRows(stage, driver);
}

TEST_F(AUViewThreadScenarios, UnitClosedFromAnotherThreadWhateverRunsOnTheEditorsThread)
{
    scenarios::RunCloseRows(stage, driver, scenarios::First::Nothing);
}

TEST_F(AUViewThreadScenarios, UnitClosedFromAnotherThreadWhileTheEditorsThreadIsBlockedOutsideIt)
{
    scenarios::RunClose(stage, driver, scenarios::Nest::Blocked, scenarios::First::Nothing);
}

TEST_F(AUViewThreadScenarios, HostWindowDestroyedThenUnitClosedFromAnotherThread)
{
    scenarios::RunCloseRows(stage, driver, scenarios::First::WindowGone);
}

TEST_F(AUViewThreadScenarios, ConnectionLostThenUnitClosedFromAnotherThread)
{
    scenarios::RunCloseRows(stage, driver, scenarios::First::ConnectionLost);
}

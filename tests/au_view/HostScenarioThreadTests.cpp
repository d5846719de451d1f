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
#include "support/InstanceOverlap.h"
#include "support/gfx/EditorHostScenarios.h"

namespace
{
std::atomic<int> alive{0};
std::atomic<int> deletedUnits{0};

class ScenarioTorvane : public Torvane
{
public:
    explicit ScenarioTorvane(ComponentInstance instance) : Torvane(instance) { ++alive; }
    ~ScenarioTorvane() override
    {
        ClosePlatformEditor(this);
        --alive;
        ++deletedUnits;
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

TEST_F(AUViewThreadScenarios, UnitClosedFromAnotherThreadWhileAnotherEditorsDialogRuns)
{
    scenarios::RunCloseBesideAnotherEditorsDialog(stage, driver);
}

TEST_F(AUViewThreadScenarios, TwoInstancesOnOneHostThreadOneDialogOneMenuOpen)
{
    scenarios::RunTwoInstancesOnOneThread(stage, driver);
}

TEST_F(AUViewThreadScenarios, SplitHostThreadsDialogLeftOpenByAThreadThatExited)
{
    scenarios::RunSplitHostWithADialogOpen(stage, driver);
}

namespace
{
// A unit as light as an instrument gets, for rows that open and close thousands of them.
class LightUnit : public InstrumentBase
{
public:
    explicit LightUnit(ComponentInstance instance)
        : InstrumentBase(instance, 1, this, "LightUnit", nullptr, 0, "LightUnit", "Torvane Tests")
    {
        gain.Create("Gain", this, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
        AddAutomatableParameter(&gain);
        ++alive;
    }
    ~LightUnit() override
    {
        ClosePlatformEditor(this);
        --alive;
        ++deletedUnits;
    }
    std::uint32_t GetVersion() override { return 0x00010000; }
    std::uint32_t GetSubType() override { return ComponentCode("Lgt1"); }
    std::uint32_t GetManufacturer() override { return ComponentCode("Test"); }
    Parameter gain;
};

OSStatus LightUnitEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<LightUnit>(params, storage);
}

// The unit's close overlapping a view call that is already counted in.
enum class ViewRace
{
    CreateThenUnitClose,    // the view's create in flight, the unit closed
    ViewCloseThenUnitClose, // the view component's close in flight, the unit closed
    UnitCloseThenViewClose  // the unit's close in flight, the view component closed
};

struct ViewRaceRow
{
    ViewRace race;
    char const* name;
};

constexpr ViewRaceRow kViewRaces[] = {
    {ViewRace::CreateThenUnitClose, "the view's create, then the unit's close"},
    {ViewRace::ViewCloseThenUnitClose, "the view's close, then the unit's close"},
    {ViewRace::UnitCloseThenViewClose, "the unit's close, then the view's close"},
};
} // namespace

TEST_F(AUViewThreadScenarios, TheUnitsCloseOverlappingAViewCallNeverFreesUnderIt)
{
    overlap::HookScope hook;
    TestHostWindow window(300, 200, 0);
    stage.windows.Add(&window.record, 300, 200);
    int const rounds = overlap::Rounds();
    for (ViewRaceRow const& row : kViewRaces)
    {
        SCOPED_TRACE(row.name);
        int const deletedBefore = deletedUnits.load();
        int created = 0;
        for (int round = 0; round < rounds; ++round)
        {
            overlap::Offset const offset = overlap::kOffsets[round % std::size(overlap::kOffsets)];
            gfx::HeadlessBackend::Poster poster(stage.backend);
            AUHost host;
            ASSERT_TRUE(host.Open(&LightUnitEntry, UnitDescription())) << host.GetError();
            auto view = std::make_unique<TestViewComponent>(&ViewEntry);
            ASSERT_EQ(view->Open(), noErr);
            if (row.race != ViewRace::CreateThenUnitClose)
            {
                ASSERT_EQ(view->Create(host.GetUnit(), window), noErr);
            }
            switch (row.race)
            {
            case ViewRace::CreateThenUnitClose:
                overlap::Race(
                    offset, [&] { created += view->Create(host.GetUnit(), window) == noErr ? 1 : 0; },
                    [&] { host.Close(); });
                view->Close();
                break;
            case ViewRace::ViewCloseThenUnitClose:
                overlap::Race(
                    offset, [&] { view->Close(); }, [&] { host.Close(); });
                break;
            case ViewRace::UnitCloseThenViewClose:
                overlap::Race(
                    offset, [&] { host.Close(); }, [&] { view->Close(); });
                break;
            }
            bool const gone = alive.load() == 0 && gfx::Surface::All().empty() && !gfx::RunLoop::IsBound() &&
                              stage.windows.Users() == 0;
            if (!gone)
            {
                ADD_FAILURE() << "round " << round << ": alive " << alive.load() << ", surfaces "
                              << gfx::Surface::All().size() << ", bound " << gfx::RunLoop::IsBound();
                break;
            }
        }
        EXPECT_EQ(deletedUnits.load() - deletedBefore, rounds) << "each unit deleted once";
        if (row.race == ViewRace::CreateThenUnitClose) RecordProperty("created", created);
    }
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <mutex>
#include <set>

#include "EditorRootSupport.h"
#include "toolkit/ParameterControls.h"

namespace
{
// Controls that know whether they are alive when a parameter change reaches them.
std::mutex liveMutex;
std::set<void const*> liveControls;
std::atomic<int> deadReached{0};
std::atomic<int> updates{0};

void NoteReached(void const* control)
{
    updates.fetch_add(1);
    std::lock_guard<std::mutex> lock(liveMutex);
    if (liveControls.count(control) == 0) deadReached.fetch_add(1);
}

template <class Control> class Watched : public Control
{
public:
    Watched()
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        liveControls.insert(this);
    }
    ~Watched() override
    {
        this->UnbindAllParameters();
        std::lock_guard<std::mutex> lock(liveMutex);
        liveControls.erase(this);
    }
    void ParameterUpdated(float v, Parameter* p) override
    {
        NoteReached(this);
        Control::ParameterUpdated(v, p);
    }
};
} // namespace

TEST_F(EditorRootTest, AttachesToTheInstrumentAndDetachesCleanly)
{
    Torvane& synth = host.Instrument();
    auto root = std::make_unique<InstrumentRoot>(EditorHandleOf(&synth));
    EXPECT_EQ(root->GetInstrument(), nullptr);
    synth.PostEditorRequests(Torvane::kEditorPatchLoaded); // before attaching: dropped
    root->CreateUI(surface.get(), 0, 0);
    EXPECT_EQ(root->built, 1);
    EXPECT_TRUE(root->IsAttached());
    EXPECT_EQ(EditedInstrument(*root), static_cast<InstrumentBase*>(&synth));
    EXPECT_EQ(synth.GetGUI(), static_cast<PluginEditor*>(root.get()));
    EXPECT_FALSE(synth.EditorRequestsPending());

    // The instrument's requests arrive through the root's drain, in the instrument's order.
    synth.PostEditorRequests(Torvane::kEditorPatchLoaded | PluginBase::kEditorUpdateAll);
    root->ProcessNotificationQueue();
    EXPECT_EQ(root->calls, (std::vector<std::string>{"PatchLoaded", "UpdateAll"}));

    // Queued notifications: everything, then item 5 with its data, in that order.
    root->calls.clear();
    auto data = std::make_shared<int>(5);
    synth.GetGUINotificationQueue().Push(PluginBase::GUINotification{0, 0, nullptr});
    synth.UpdateGUISpecific(5, data);
    root->ProcessNotificationQueue();
    EXPECT_EQ(root->calls, (std::vector<std::string>{"UpdateAll", "UpdateSpecific 5"}));
    EXPECT_EQ(synth.GetGUINotificationQueue().Size(), 0u);

    root->Detach();
    EXPECT_EQ(synth.GetGUI(), nullptr);
    EXPECT_FALSE(synth.HasGUI());
    EXPECT_EQ(synth.GetGUINotificationQueue().Size(), 0u);
    synth.PostEditorRequests(Torvane::kEditorPatchLoaded);
    EXPECT_FALSE(synth.EditorRequestsPending());
    root.reset();
    EXPECT_EQ(synth.GetGUI(), nullptr);
}

// The host automates on its own thread while this thread builds, draws and destroys bound
// controls in editor roots that attach and detach; no change reaches a control being destroyed.
TEST_F(EditorRootTest, ControlsComeAndGoWhileTheHostAutomatesOnAnotherThread)
{
    Torvane& synth = host.Instrument();
    constexpr int kAutomated = 8;
    HostAutomationThread automation(host, kAutomated);
    deadReached = 0;
    updates = 0;
    // On a loaded machine the host thread may start late: the rounds go on until it has been
    // heard from while controls were bound.
    for (int round = 0; round < 40 || updates.load() == 0; ++round)
    {
        std::vector<std::unique_ptr<Window>> controls;
        InstrumentRoot root(EditorHandleOf(&synth));
        root.content = [&](InstrumentRoot& r)
        {
            for (int i = 0; i < kAutomated; ++i)
            {
                Parameter* p = synth.GetAutomatableParameter(i);
                auto slider = std::make_unique<Watched<Slider>>();
                slider->Create(&r, 10 + 60 * i, 20, false, 40, p, nullptr);
                auto box = std::make_unique<Watched<SimpleToggleBox>>();
                box->Create(&r, p, 10 + 60 * i, 60, "on", "off");
                auto display = std::make_unique<Watched<NumericDisplay>>();
                display->Create(&r, GRectangle(10 + 60 * i, 100, 50, 14), p, NumericDisplay::kByType);
                controls.push_back(std::move(slider));
                controls.push_back(std::move(box));
                controls.push_back(std::move(display));
            }
        };
        root.CreateUI(surface.get(), 0, 0);
        ASSERT_TRUE(root.IsAttached());
        for (int turn = 0; turn < 3; ++turn)
        {
            gfx::RunLoop::Turn(false); // draws what the host changed
            root.ProcessNotificationQueue();
        }
        // The loader's order: detach, then the content goes, then the root.
        root.Detach();
        if (round % 2 == 0) std::reverse(controls.begin(), controls.end());
        controls.clear();
    }
    automation.Stop();
    EXPECT_GT(automation.Rounds(), 0);
    EXPECT_GT(updates.load(), 0);
    EXPECT_EQ(deadReached.load(), 0);
    EXPECT_EQ(synth.GetGUI(), nullptr);
}

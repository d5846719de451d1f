// The table of host scenarios through the VST editor loader: the dispatcher's editor opcodes and
// effClose, called from the threads each row names.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include <gtest/gtest.h>

#include "support/gfx/EditorHostScenarios.h"
#include "vst/VstInstrumentBase.h"
#include "vst/editor/VstGUILoader.h"

namespace
{
std::atomic<int> alive{0};

class ScenarioSynth : public VstInstrumentBase
{
public:
    ScenarioSynth()
        : VstInstrumentBase(nullptr, 1, 0, 1, FourCharCode("HsT1"), "ScenarioSynth", "Torvane Tests",
                            "ScenarioSynth", nullptr)
    {
        gain.Create("Gain", this, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
        AddAutomatableParameter(&gain);
        SetNumParameters(1);
        ++alive;
    }
    ~ScenarioSynth() override
    {
        closeEditor();
        --alive;
    }
    void Render(float* outL, float* outR, long frames, int) override
    {
        for (long i = 0; i < frames; ++i)
            outL[i] = outR[i] = 0.0f;
    }
    Parameter gain;
};

class VstDriver : public scenarios::Driver
{
public:
    explicit VstDriver(scenarios::FakeWindows& w) : windows(w) {}
    int Make() override
    {
        auto* synth = new ScenarioSynth;
        AttachEditorLoader<scenarios::ScenarioRoot>(synth);
        std::lock_guard<std::mutex> lock(mutex);
        int const i = static_cast<int>(instances.size());
        instances.push_back(Instance{synth->getAeffect(), synth});
        windows.Add(Window(i), 300, 200);
        return i;
    }
    bool Open(int i) override { return Dispatch(i, effEditOpen, Window(i)) == 1; }
    void Idle(int i) override { Dispatch(i, effEditIdle); }
    void CloseEditor(int i) override { Dispatch(i, effEditClose); }
    void CloseInstance(int i) override
    {
        AEffect* e = Get(i).effect;
        {
            std::lock_guard<std::mutex> lock(mutex);
            instances[static_cast<std::size_t>(i)].effect = nullptr;
        }
        if (e != nullptr) e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    }
    bool ClosesEditorFromAnyThread() override { return true; }
    void* Window(int i) override { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(100 + i)); }
    PluginBase* Plugin(int i) override { return Get(i).synth; }
    gfx::Surface* Surface(int i) override
    {
        AEffect* e = Get(i).effect;
        if (e == nullptr) return nullptr;
        auto* synth = static_cast<ScenarioSynth*>(static_cast<AudioEffect*>(e->object));
        return static_cast<VstGUILoader*>(synth->getEditor())->GetSurface();
    }
    int Alive() override { return alive.load(); }

private:
    struct Instance
    {
        AEffect* effect;
        ScenarioSynth* synth;
    };
    Instance Get(int i)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return instances[static_cast<std::size_t>(i)];
    }
    VstIntPtr Dispatch(int i, VstInt32 opcode, void* ptr = nullptr)
    {
        AEffect* e = Get(i).effect;
        return e != nullptr ? e->dispatcher(e, opcode, 0, 0, ptr, 0.0f) : 0;
    }

    scenarios::FakeWindows& windows;
    std::mutex mutex;
    std::vector<Instance> instances;
};

class VstEditorThreadScenarios : public ::testing::Test
{
protected:
    scenarios::Stage stage;
    VstDriver driver{stage.windows};
};
} // namespace

scenarios::Binding scenarios::Bind(void* handle)
{
    EditedPlugin const edited = EditedVstPlugin(handle);
    auto* synth = static_cast<ScenarioSynth*>(static_cast<VstBase*>(edited.plugin));
    return Binding{edited, synth != nullptr ? &synth->gain : nullptr};
}

TEST_F(VstEditorThreadScenarios, OpenIdleAndCloseFromTheHostsThreads)
{
    scenarios::RunThreadRows(stage, driver);
}

TEST_F(VstEditorThreadScenarios, InstanceClosedFromAnotherThreadWhateverRunsOnTheEditorsThread)
{
    scenarios::RunCloseRows(stage, driver, scenarios::First::Nothing);
}

TEST_F(VstEditorThreadScenarios, InstanceClosedFromAnotherThreadWhileTheEditorsThreadIsBlockedOutsideIt)
{
    scenarios::RunClose(stage, driver, scenarios::Nest::Blocked, scenarios::First::Nothing);
}

TEST_F(VstEditorThreadScenarios, HostWindowDestroyedThenInstanceClosedFromAnotherThread)
{
    scenarios::RunCloseRows(stage, driver, scenarios::First::WindowGone);
}

TEST_F(VstEditorThreadScenarios, ConnectionLostThenInstanceClosedFromAnotherThread)
{
    scenarios::RunCloseRows(stage, driver, scenarios::First::ConnectionLost);
}

#pragma once

// The scenario table's instance for the VST adapter: a one-parameter synth with the scenario
// editor root, and the host side that drives it through its record.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "support/gfx/EditorHostScenarios.h"
#include "vst/VstInstrumentBase.h"
#include "vst/editor/VstGUILoader.h"

namespace vstscenarios
{
// Instances made and deleted, for every test of the binary.
inline std::atomic<int> made{0};
inline std::atomic<int> deleted{0};
inline int Alive()
{
    return made.load() - deleted.load();
}

class ScenarioSynth : public VstInstrumentBase
{
public:
    explicit ScenarioSynth(audioMasterCallback host = nullptr)
        : VstInstrumentBase(host, 1, 0, 1, FourCharCode("HsT1"), "ScenarioSynth", "Torvane Tests",
                            "ScenarioSynth", nullptr)
    {
        gain.Create("Gain", this, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
        AddAutomatableParameter(&gain);
        SetNumParameters(1);
        ++made;
    }
    ~ScenarioSynth() override
    {
        closeEditor();
        ++deleted;
    }
    void Render(float* outL, float* outR, long frames, int) override
    {
        for (long i = 0; i < frames; ++i)
            outL[i] = outR[i] = 0.0f;
    }
    Parameter gain;
};

// A new instance with its editor loader, as the library's factory builds it.
inline ScenarioSynth* MakeSynth(audioMasterCallback host = nullptr)
{
    auto* synth = new ScenarioSynth(host);
    AttachEditorLoader<scenarios::ScenarioRoot>(synth);
    if (host != nullptr) synth->markHostConnected();
    return synth;
}

class VstDriver : public scenarios::Driver
{
public:
    explicit VstDriver(scenarios::FakeWindows& w) : windows(w) {}
    int Make() override
    {
        ScenarioSynth* synth = MakeSynth();
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
    int Alive() override { return vstscenarios::Alive(); }

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
} // namespace vstscenarios

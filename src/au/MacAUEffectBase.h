#pragma once

#include <cstdint>

#include "framework/AutomatableParameterServer.h"
#include "framework/Notifications.h"
#include "framework/PluginBase.h"
#include "framework/SoundBuffer.h"
#include "platform/au/AUBase.h"

// The per-channel kernel of the effect base: it never processes, ProcessBufferLists does.
class AUBaseKernel : public AUKernelBase
{
public:
    using AUKernelBase::AUKernelBase;
    void Process(Float32 const*, Float32*, UInt32, UInt32, bool&) override {}
    void Reset() override {}
};

// The Audio Unit base of an audio effect: renders the host's two input buffers into its two
// output buffers through the plug-in's stereo render, after the same parameter, rate, tempo and
// next-buffer steps as the instrument's base. It carries the framework's plug-in base itself, so
// an effect class on it needs no second one.
class MacAUEffectBase : public AUEffectBase,
                        public PluginBase,
                        public SampleRateListener,
                        public SampleRateSource,
                        public TempoSource,
                        public AutomatableParameterServer,
                        public NextBufferListener,
                        public PluginState
{
public:
    MacAUEffectBase(ComponentInstance instance, long numParams, char const* identity = "",
                    char const* rootPath = "");
    // The form the effect layer builds: pairs, unique id and names are not used.
    MacAUEffectBase(ComponentInstance instance, long numParams, long inputPairs, long outputPairs,
                    int uniqueID, char const* product, char const* vendor, char const* identity,
                    char const* rootPath);
    // Leaves the effect list.
    ~MacAUEffectBase() override;

    // The close: every view on this unit closes its editor (at once, or on the editor's thread,
    // which holds the unit until then).
    void PreDestructor() override;

    OSStatus Version() override { return static_cast<OSStatus>(GetVersion()); }
    OSStatus GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id,
                              AudioUnitParameterInfo& info) override;
    OSStatus SaveState(CFPropertyListRef* data) override;
    OSStatus RestoreState(CFPropertyListRef data) override;
    // One view component (GetUIComponentDescs).
    int GetNumCustomUIComponents() override { return 1; }
    void GetUIComponentDescs(ComponentDescription* description) override;
    bool SupportsTail() override { return false; }
    AUKernelBase* NewKernel() override { return new AUBaseKernel(this); }
    // Renders only when the input holds exactly two buffers (otherwise the output is cleared)
    // and the output two buffers of `frames` floats (otherwise nothing is written); the
    // notifications go out either way.
    OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& flags, AudioBufferList const& input,
                                AudioBufferList& output, UInt32 frames) override;

    virtual std::uint32_t GetVersion() = 0;
    virtual std::uint32_t GetSubType() = 0;
    virtual std::uint32_t GetManufacturer() = 0;

    void AutomatableParameterChangeNotify(int index, float value) override;
    void NextBuffer() override {}

private:
    // Input copied here when it shares memory with the output.
    SoundBuffer inputScratch;
};

#pragma once

// Our own Audio Unit class library: the component base, elements and scopes with their
// parameters and buffers, the unit base that answers properties, parameters, render calls
// and class info, the MIDI dispatcher, the music device and the effect base with its
// per-channel kernels. Calls from the host arrive through ComponentEntryDispatch of the
// most derived base; failures are answered as status codes or thrown as OSStatus values.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/InstanceLife.h"
#include "platform/au/AUSelectors.h"
#include "platform/au/AudioTypes.h"
#include "platform/au/ComponentManager.h"
#include "platform/au/CoreFoundation.h"

class ComponentBase
{
public:
    // How long a close waits for the instance's calls to the host in flight on other threads.
    static constexpr int kCloseCallbackWaitMs = 2000;

    explicit ComponentBase(ComponentInstance instance) : instance(instance) {}
    ComponentBase(ComponentBase const&) = delete;
    ComponentBase& operator=(ComponentBase const&) = delete;
    virtual ~ComponentBase() = default;

    // Right after construction, before the object becomes the instance's storage.
    virtual void PostConstructor() {}
    // The close selector's own part, inside its counted call; the object goes with the last
    // counted call to leave it.
    virtual void PreDestructor() {}
    virtual OSStatus Version() { return 0; }

    ComponentInstance GetComponentInstance() const { return instance; }
    // The host's calls into this instance, counted by the component entry
    // (platform/InstanceLife.h); the last one out after the close deletes the object.
    InstanceLife& Life() { return life; }

    // Close (the closing bit, PreDestructor, storage cleared; the object is deleted by the last
    // call out) and version; anything else is a bad selector.
    static OSStatus ComponentEntryDispatch(ComponentParameters* params, ComponentBase* object);

private:
    static void FinishClose(void* object) { delete static_cast<ComponentBase*>(object); }

    ComponentInstance instance;
    InstanceLife life{&ComponentBase::FinishClose, this};
};

// One element of a scope: its stream format, its indexed parameters and, for outputs, the
// buffers it renders into.
class AUElement
{
public:
    explicit AUElement(AudioStreamBasicDescription const& format) : format(format) {}

    AudioStreamBasicDescription const& GetStreamFormat() const { return format; }
    void SetStreamFormat(AudioStreamBasicDescription const& f) { format = f; }

    // `count` parameters, all 0. Not while the unit renders.
    void UseIndexedParameters(int count);
    int GetNumberOfParameters() const { return numParameters; }
    bool HasParameter(AudioUnitParameterID id) const { return id < static_cast<UInt32>(numParameters); }
    // 0 for an unknown id.
    float GetParameter(AudioUnitParameterID id) const;
    // A host's set also marks the value as new for the next render; a set from inside the
    // unit does not, and clears no mark.
    void SetParameter(AudioUnitParameterID id, float value, bool fromHost = false);
    // True, with the value, when the host set the parameter since the last call; clears the mark.
    bool TakeHostChange(AudioUnitParameterID id, float& value);
    // Stores `value` unless the parameter no longer holds `expected` (someone set it since).
    void ReplaceParameter(AudioUnitParameterID id, float expected, float value);

    // Own buffers for `frames` frames of each channel of the format (off the audio thread).
    void AllocateBuffers(UInt32 frames);
    void FreeBuffers();
    // The list the element renders into this call: the host's, with the own buffers put in
    // where the host gave none.
    void SetBufferList(AudioBufferList* list) { current = list; }
    AudioBufferList* GetBufferList() const { return current; }
    float* GetOwnBuffer(UInt32 channel);
    UInt32 GetOwnBufferFrames() const { return ownFrames; }

private:
    struct Slot
    {
        std::atomic<float> value{0.0f};
        std::atomic<bool> hostSet{false};
    };

    AudioStreamBasicDescription format;
    std::unique_ptr<Slot[]> parameters;
    int numParameters = 0;
    std::vector<std::vector<float>> own;
    UInt32 ownFrames = 0;
    AudioBufferList* current = nullptr;
};

class AUScope
{
public:
    void SetNumberOfElements(UInt32 count, AudioStreamBasicDescription const& format);
    UInt32 GetNumberOfElements() const { return static_cast<UInt32>(elements.size()); }
    // Null for an element that does not exist.
    AUElement* GetElement(UInt32 index) const
    {
        return index < elements.size() ? elements[index].get() : nullptr;
    }

private:
    std::vector<std::unique_ptr<AUElement>> elements;
};

class AUBase : public ComponentBase
{
public:
    static constexpr UInt32 kDefaultMaxFramesPerSlice = 1156;
    // The most frames a host may ask for in one render call.
    static constexpr UInt32 kLargestMaxFramesPerSlice = 1u << 20;
    static constexpr Float64 kDefaultSampleRate = 44100.0;
    // Class-info format version.
    static constexpr SInt32 kClassInfoVersion = 0;

    AUBase(ComponentInstance instance, UInt32 numInputs, UInt32 numOutputs, UInt32 numGroups = 0);

    // Host calls.
    OSStatus DoInitialize();
    void DoUninitialize();
    bool IsInitialized() const { return initialized.load(std::memory_order_acquire); }
    OSStatus DispatchGetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                     UInt32* size, Boolean* writable);
    OSStatus DispatchGetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                 void* data, UInt32* size);
    OSStatus DispatchSetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                 void const* data, UInt32 size);
    OSStatus GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                          Float32& value);
    // Non-finite values: -10878; others are clamped to 0..1.
    virtual OSStatus SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                                  Float32 value, UInt32 bufferOffset);
    // Checks state, size and buffer list, then Render into the output element.
    OSStatus DoRender(AudioUnitRenderActionFlags& flags, AudioTimeStamp const& time, UInt32 bus,
                      UInt32 frames, AudioBufferList* ioData);

    // Overridable behaviour.
    virtual OSStatus Initialize() { return noErr; }
    virtual void Cleanup() {}
    virtual OSStatus Reset(AudioUnitScope, AudioUnitElement) { return noErr; }
    // Writes the output element's buffer list; the base leaves it as it is.
    virtual OSStatus Render(AudioUnitRenderActionFlags& flags, AudioTimeStamp const& time, UInt32 frames);
    virtual OSStatus GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id,
                                      AudioUnitParameterInfo& info);
    // A new dictionary of the format version and the unit's type, subtype and manufacturer.
    virtual OSStatus SaveState(CFPropertyListRef* data);
    // Checks those four against this unit; -10851 when they differ or are missing.
    virtual OSStatus RestoreState(CFPropertyListRef data);
    virtual int GetNumCustomUIComponents() { return 0; }
    virtual void GetUIComponentDescs(ComponentDescription*) {}
    virtual bool StreamFormatWritable(AudioUnitScope, AudioUnitElement) { return !IsInitialized(); }

    AUScope& Globals() { return globals; }
    AUScope& Inputs() { return inputs; }
    AUScope& Outputs() { return outputs; }
    AUElement* GetOutput(UInt32 index) const { return outputs.GetElement(index); }
    AUElement* GetInput(UInt32 index) const { return inputs.GetElement(index); }
    AUElement* GlobalElement() const { return globals.GetElement(0); }
    UInt32 GetMaxFramesPerSlice() const { return maxFrames; }

    bool HasBeatAndTempoCallback() const { return beatAndTempo.load(std::memory_order_acquire) != nullptr; }
    // The host's beat-and-tempo callback; -10879 when the host gave none.
    OSStatus CallHostBeatAndTempo(Float64* currentBeat, Float64* currentTempo);

    static OSStatus ComponentEntryDispatch(ComponentParameters* params, AUBase* unit);

protected:
    // The scope of a property or parameter call, or null.
    AUScope* GetScope(AudioUnitScope scope);

private:
    static bool FormatSupported(AudioStreamBasicDescription const& format);

    AUScope globals;
    AUScope inputs;
    AUScope outputs;
    std::atomic<bool> initialized{false};
    UInt32 maxFrames = kDefaultMaxFramesPerSlice;
    std::atomic<void*> hostUserData{nullptr};
    std::atomic<HostCallback_GetBeatAndTempo> beatAndTempo{nullptr};
};

// Turns raw MIDI messages into calls: note on (velocity above 0) and note off, control change
// with the channel-mode controllers 120, 121 and 123 apart, pitch wheel, program change,
// pressures and system exclusive. Data bytes are masked to 7 bits. Every handler but the
// ones a subclass overrides drops the message.
class AUMIDIBase
{
public:
    AUMIDIBase() = default;
    virtual ~AUMIDIBase() = default;

    OSStatus MIDIEvent(UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset);
    OSStatus SysEx(UInt8 const* data, UInt32 length);

protected:
    virtual OSStatus HandleNoteOn(UInt8, UInt8, UInt8, UInt32) { return noErr; }
    virtual OSStatus HandleNoteOff(UInt8, UInt8, UInt8, UInt32) { return noErr; }
    virtual OSStatus HandleControlChange(UInt8, UInt8, UInt8, UInt32) { return noErr; }
    virtual OSStatus HandlePitchWheel(UInt8, UInt8, UInt8, UInt32) { return noErr; }
    virtual OSStatus HandleAllNotesOff(UInt8) { return noErr; }
    virtual OSStatus HandleAllSoundOff(UInt8) { return noErr; }
    virtual OSStatus HandleResetAllControllers(UInt8) { return noErr; }
    virtual OSStatus HandleProgramChange(UInt8, UInt8) { return noErr; }
    virtual OSStatus HandlePolyPressure(UInt8, UInt8, UInt8, UInt32) { return noErr; }
    virtual OSStatus HandleChannelPressure(UInt8, UInt8, UInt32) { return noErr; }
    virtual OSStatus HandleSysEx(UInt8 const*, UInt32) { return noErr; }
};

class MusicDeviceBase : public AUBase, public AUMIDIBase
{
public:
    MusicDeviceBase(ComponentInstance instance, UInt32 numInputs, UInt32 numOutputs, UInt32 numGroups = 0,
                    UInt32 numParts = 0);

    virtual OSStatus StartNote(MusicDeviceInstrumentID instrument, MusicDeviceGroupID group,
                               NoteInstanceID* noteInstanceID, UInt32 offsetSampleFrame,
                               MusicDeviceNoteParams const& params);
    virtual OSStatus StopNote(MusicDeviceGroupID group, NoteInstanceID noteInstanceID,
                              UInt32 offsetSampleFrame);

    // MIDI, system exclusive and note selectors; the rest goes to the unit base.
    static OSStatus ComponentEntryDispatch(ComponentParameters* params, MusicDeviceBase* device);

protected:
    // Note on becomes StartNote with the note as pitch; note off StopNote with the note number.
    OSStatus HandleNoteOn(UInt8 channel, UInt8 note, UInt8 velocity, UInt32 offset) override;
    OSStatus HandleNoteOff(UInt8 channel, UInt8 note, UInt8 velocity, UInt32 offset) override;
};

class AUEffectBase;

// One channel's processing of an effect.
class AUKernelBase
{
public:
    explicit AUKernelBase(AUEffectBase* unit) : unit(unit) {}
    virtual ~AUKernelBase() = default;
    virtual void Process(Float32 const* source, Float32* destination, UInt32 frames, UInt32 channels,
                         bool& silence) = 0;
    virtual void Reset() {}
    AUEffectBase* GetUnit() const { return unit; }

private:
    AUEffectBase* unit;
};

// One input and one output element; renders in place: the host's buffer list carries the
// input and receives the output.
class AUEffectBase : public AUBase
{
public:
    AUEffectBase(ComponentInstance instance, bool processesInPlace = true);

    OSStatus Initialize() override;
    void Cleanup() override;
    OSStatus Reset(AudioUnitScope scope, AudioUnitElement element) override;
    OSStatus Render(AudioUnitRenderActionFlags& flags, AudioTimeStamp const& time, UInt32 frames) override;
    // Null: the channel is copied through.
    virtual AUKernelBase* NewKernel() { return nullptr; }
    virtual bool SupportsTail() { return false; }
    // Each kernel processes its channel.
    virtual OSStatus ProcessBufferLists(AudioUnitRenderActionFlags& flags, AudioBufferList const& input,
                                        AudioBufferList& output, UInt32 frames);
    bool ProcessesInPlace() const { return inPlace; }

private:
    bool inPlace;
    std::vector<std::unique_ptr<AUKernelBase>> kernels;
};

#pragma once

#include <cstdint>

#include "framework/AutomatableParameterServer.h"
#include "framework/HeldMidiEvents.h"
#include "framework/MidiEventListener.h"
#include "framework/Notifications.h"
#include "framework/PluginBase.h"
#include "platform/au/AUBase.h"

// The Audio Unit base of an instrument: a music device that is at the same time the framework's
// plug-in. Each render call polls the host's parameter changes, pushes the sample rate and
// tempo, and renders the output in pieces of at most kMaxRenderFrames, each a complete
// next-buffer / render / post-render round. Notes and MIDI go to the framework's decoder under
// the plug-in mutex (events for later pieces of a long block are held, HeldMidiEvents); the
// host-automatable parameters are described to the host, their inside changes announced to
// its parameter listener; the plug-in state travels in the class info under "Torvane_State".
class MacAUInstrumentBase : public MusicDeviceBase,
                            public PluginBase,
                            public SampleRateListener,
                            public SampleRateSource,
                            public TempoSource,
                            public MidiEventListener,
                            public AutomatableParameterServer,
                            public NextBufferListener,
                            public PluginState
{
public:
    MacAUInstrumentBase(ComponentInstance instance, int numParams, char const* identity,
                        char const* rootPath);
    // The form the instrument layer builds: the input and output pairs, unique id and names are
    // not used (the unit's identity comes from GetVersion, GetSubType and GetManufacturer).
    MacAUInstrumentBase(ComponentInstance instance, long numParams, long inputPairs, long outputPairs,
                        int uniqueID, char const* product, char const* vendor, char const* identity,
                        char const* rootPath);
    // Leaves the instrument list.
    ~MacAUInstrumentBase() override;

    // The close: every view on this unit closes its editor (at once, or on the editor's thread,
    // which holds the unit until then).
    void PreDestructor() override;

    OSStatus Version() override { return static_cast<OSStatus>(GetVersion()); }
    OSStatus Render(AudioUnitRenderActionFlags& flags, AudioTimeStamp const& time, UInt32 frames) override;
    // Global scope only; default = the current normalised value; the CF name is the host's to
    // release.
    OSStatus GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id,
                              AudioUnitParameterInfo& info) override;
    // -1 (nothing made) when the plug-in has no state to give.
    OSStatus SaveState(CFPropertyListRef* data) override;
    // -10851 when the class info has no state block or the plug-in refuses it (its state then
    // stays); an empty block restores nothing and answers 0.
    OSStatus RestoreState(CFPropertyListRef data) override;
    // One view component (GetUIComponentDescs).
    int GetNumCustomUIComponents() override { return 1; }
    void GetUIComponentDescs(ComponentDescription* description) override;
    bool StreamFormatWritable(AudioUnitScope, AudioUnitElement) override { return !IsInitialized(); }
    // Pitch and velocity truncated, each a finite value in 0..127, else -10878 and nothing is
    // sent. The note id is not written back: a note is stopped by its note number.
    OSStatus StartNote(MusicDeviceInstrumentID instrument, MusicDeviceGroupID group, NoteInstanceID* noteID,
                       UInt32 offset, MusicDeviceNoteParams const& params) override;
    // A note id beyond 127: -10878.
    OSStatus StopNote(MusicDeviceGroupID group, NoteInstanceID noteID, UInt32 offset) override;

    virtual std::uint32_t GetVersion() = 0;
    virtual std::uint32_t GetSubType() = 0;
    virtual std::uint32_t GetManufacturer() = 0;

    // Stores the value in the global element and tells the host's parameter listener.
    void AutomatableParameterChangeNotify(int index, float value) override;
    void Render(float* inL, float* inR, float* outL, float* outR, long frames, int output) override;
    // Adds this piece's output into outL and outR, which hold zeros on entry.
    virtual void Render(float* outL, float* outR, long frames, int output) = 0;
    void NextBuffer() override {}

protected:
    // Control changes arrive on channel 0 whatever their channel; pitch wheels keep theirs.
    OSStatus HandleControlChange(UInt8 channel, UInt8 controller, UInt8 value, UInt32 offset) override;
    OSStatus HandlePitchWheel(UInt8 channel, UInt8 lsb, UInt8 msb, UInt32 offset) override;
    OSStatus HandleAllNotesOff(UInt8 channel) override;

private:
    // One raw message to the decoder under the plug-in mutex, or held for a later piece.
    void SendMidi(int channel, int status, int data1, int data2, long offset);

    HeldMidiEvents held;
};

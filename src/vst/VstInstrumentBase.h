#pragma once

#include "framework/HeldMidiEvents.h"
#include "framework/MidiEventListener.h"
#include "vst/VstBase.h"

// The VST base of an instrument: no inputs, MIDI in. The host's MIDI events go to the
// framework's decoder under the plug-in mutex, each before the block it belongs to; the
// render call narrows to the output-only form that instruments implement.
//
// An event at or beyond kMaxRenderFrames belongs to a later piece of a long host block: it is
// held and delivered just before that piece (HeldMidiEvents).
class VstInstrumentBase : public VstBase, public MidiEventListener
{
public:
    static constexpr int kMaxHeldEvents = HeldMidiEvents::kMaxHeldEvents;

    VstInstrumentBase(audioMasterCallback audioMaster, long numParams, long inputPairs, long outputPairs,
                      int uniqueID, char const* product, char const* vendor, char const* identity,
                      char const* rootPath);
    ~VstInstrumentBase() override;

    // MIDI events to the decoder; system exclusive and every other type are skipped.
    // Always 1.
    VstInt32 processEvents(VstEvents* events) override;
    // 1 for "receiveVstEvents" and "receiveVstMidiEvent", -1 for anything else.
    VstInt32 canDo(char* text) override;
    void Render(float* inL, float* inR, float* outL, float* outR, long frames, int outputPair) override;
    // Adds this block's output into outL and outR, which hold zeros on entry.
    virtual void Render(float* outL, float* outR, long frames, int outputPair) = 0;

protected:
    void BeginRenderPiece(long offset, long frames, bool lastPiece) override;

private:
    HeldMidiEvents held;
};

#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/Torvane.h"
#include "vst/VstAbi.h"

namespace fuzz
{

// Puts every feature a patch can switch on to work: all four layers with unison, filters,
// LFOs and modulation rows, sends to the three effects (all enabled), the global filters,
// and a polyphony low enough that played chords steal notes; with customWave, a custom wave
// in slot 3 of layer 0 (loading such a patch costs a wave-table build).
void MakeBusyPatch(Torvane& t, bool customWave);

// The one instrument of a fuzz process, driven through the plug-in's VST calls as a host
// drives it (no host callback: no time information, no automation reports).
class InstrumentHarness
{
public:
    static constexpr int kMaxEvents = 256;

    // Built on first use, at 44100 Hz, with the busy patch; messages silenced.
    static InstrumentHarness& Get();

    Torvane& Instrument() { return *instrument; }
    AEffect* Effect() { return instrument->getAeffect(); }

    // The host-state block (getChunk).
    std::vector<uint8_t> State();
    // The host state restore (setChunk); the plug-in's result.
    intptr_t SetState(uint8_t const* data, size_t size);
    // Back to the patch each input starts from (aborts if the instrument refuses it), no note
    // sounding.
    void Reset();

    // MIDI for the next block (up to kMaxEvents; later ones are dropped).
    void Midi(int status, int data1, int data2, long offset);
    // Delivers the queued MIDI and renders one block; aborts unless every sample is finite
    // and not subnormal.
    void Render(long frames, char const* when);
    // A chord played, held, released and left to ring, in blocks of several sizes.
    void PlayAndCheck(char const* when);

private:
    InstrumentHarness();

    struct EventBlock
    {
        VstInt32 numEvents = 0;
        VstIntPtr reserved = 0;
        VstEvent* events[kMaxEvents] = {};
    };

    std::unique_ptr<Torvane> instrument;
    std::vector<uint8_t> baseline;
    std::vector<VstMidiEvent> queued;
    EventBlock block;
    std::vector<float> left;
    std::vector<float> right;
};

} // namespace fuzz

#pragma once

#include "engine/TMod.h"
#include "framework/MidiEventListener.h"

// One kind of MIDI message as a modulation source with one output: the last value received,
// -1.0 (data 0) .. 0.0 (data 64) .. 0.984375 (data 127), ramped over one block from the value
// at the end of the previous block. Messages are passed on unchanged to its own listeners.
class TMidiEventModSource : public TModSource, public MidiEventListener
{
public:
    static constexpr int kChannelPressure = 0xD0;
    static constexpr int kControlChange = 0xB0;
    static constexpr int kPitchBend = 0xE0;

    // channel -1 takes every channel; controller -1 takes the message's own data (data2 for
    // pitch bend, data1 otherwise), a controller number only that controller's value.
    TMidiEventModSource(MidiEventSource* source, int channel, int status, int controller, float start);
    ~TMidiEventModSource() override;

    void HandleMidiEvent(int channel, int status, int data1, int data2, long offset) override;
    // Points (0, previous) and (length, current).
    void CreateModEnvelope(Envelope* out, long length, int output) override;
    // previous := current; once per block, after the render.
    void NextBuffer() { previous = current; }

    float GetPrevious() const { return previous; }
    float GetCurrent() const { return current; }

private:
    MidiEventSource* source;
    float previous;
    float current;
    int channel;
    int status;
    int controller;
};

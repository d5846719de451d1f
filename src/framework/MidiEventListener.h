#pragma once

#include <vector>

class MidiEventListener;

// A list of MIDI listeners and the way to send a message into them. Messages
// use the adapter's form: channel 0-15, status with the channel bits cleared
// (0x80 .. 0xF0), two 7-bit data bytes and the frame offset inside the block.
class MidiEventSource
{
public:
    void AddMidiEventListener(MidiEventListener* listener);
    void RemoveMidiEventListener(MidiEventListener* listener);

    // Calls HandleMidiEvent on every listener in the order added.
    void SendMidiMessageToListeners(int channel, int status, int data1, int data2, long deltaFrames);

private:
    std::vector<MidiEventListener*> listeners;
};

// Decodes one channel message into a typed call and then forwards the raw
// message, unchanged, to the listeners of its own source part. That list must
// not change while events flow (owners fill it during construction).
class MidiEventListener : public MidiEventSource
{
public:
    MidiEventListener() = default;
    MidiEventListener(MidiEventListener const&) = delete;
    MidiEventListener& operator=(MidiEventListener const&) = delete;
    virtual ~MidiEventListener() = default;

    virtual void HandleMidiEvent(int channel, int status, int data1, int data2, long deltaFrames);
    virtual void UnhandledMidiEvent(int channel, int status, int data1, int data2, long deltaFrames);
    virtual void NoteOnMidiEvent(int channel, int note, int velocity, long deltaFrames);
    virtual void NoteOffMidiEvent(int channel, int note, long deltaFrames);
    virtual void AllNotesOffMidiEvent(int channel);
    virtual void ControlChangeMidiEvent(int channel, int controller, int value, long deltaFrames);
    virtual void PitchBendMidiEvent(int channel, float bend, long deltaFrames);
    virtual void SustainOnMidiEvent(int channel, long deltaFrames);
    virtual void SustainOffMidiEvent(int channel, long deltaFrames);
};

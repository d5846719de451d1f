#include "framework/MidiEventListener.h"

#include <algorithm>

void MidiEventSource::AddMidiEventListener(MidiEventListener* listener)
{
    listeners.push_back(listener);
}

void MidiEventSource::RemoveMidiEventListener(MidiEventListener* listener)
{
    auto it = std::find(listeners.begin(), listeners.end(), listener);
    if (it != listeners.end()) listeners.erase(it);
}

void MidiEventSource::SendMidiMessageToListeners(int channel, int status, int data1, int data2,
                                                 long deltaFrames)
{
    for (MidiEventListener* listener : listeners)
        listener->HandleMidiEvent(channel, status, data1, data2, deltaFrames);
}

void MidiEventListener::HandleMidiEvent(int channel, int status, int data1, int data2, long deltaFrames)
{
    // The adapter already masks the data bytes; masking again keeps a stray
    // value from a sender of our own inside the 7-bit range when decoding.
    int const d1 = data1 & 0x7F;
    int const d2 = data2 & 0x7F;

    switch (status)
    {
    case 0x80:
        NoteOffMidiEvent(channel, d1, deltaFrames);
        break;
    case 0x90:
        // A note-on with velocity 0 is a note-off.
        if (d2 != 0)
            NoteOnMidiEvent(channel, d1, d2, deltaFrames);
        else
            NoteOffMidiEvent(channel, d1, deltaFrames);
        break;
    case 0xB0:
        if (d1 == 123)
            AllNotesOffMidiEvent(channel);
        else if (d1 == 64)
        {
            if (d2 >= 64)
                SustainOnMidiEvent(channel, deltaFrames);
            else
                SustainOffMidiEvent(channel, deltaFrames);
        }
        else
            ControlChangeMidiEvent(channel, d1, d2, deltaFrames);
        break;
    case 0xE0:
        // Only the most significant byte counts: -1 at 0, 0 at 64, 63/64 at 127.
        PitchBendMidiEvent(channel, static_cast<float>(d2 - 64) * 0.015625f, deltaFrames);
        break;
    default:
        UnhandledMidiEvent(channel, status, data1, data2, deltaFrames);
        break;
    }

    // Every message is forwarded as received, decoded or not.
    SendMidiMessageToListeners(channel, status, data1, data2, deltaFrames);
}

void MidiEventListener::UnhandledMidiEvent(int, int, int, int, long) {}
void MidiEventListener::NoteOnMidiEvent(int, int, int, long) {}
void MidiEventListener::NoteOffMidiEvent(int, int, long) {}
void MidiEventListener::AllNotesOffMidiEvent(int) {}
void MidiEventListener::ControlChangeMidiEvent(int, int, int, long) {}
void MidiEventListener::PitchBendMidiEvent(int, float, long) {}
void MidiEventListener::SustainOnMidiEvent(int, long) {}
void MidiEventListener::SustainOffMidiEvent(int, long) {}

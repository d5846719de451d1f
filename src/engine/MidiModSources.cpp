#include "engine/MidiModSources.h"

namespace
{
// 0 -> -1.0, 64 -> 0.0, 127 -> 0.984375.
float Value(int data)
{
    return static_cast<float>(data) / 64.0f - 1.0f;
}

bool IsDataByte(int data)
{
    return data >= 0 && data <= 127;
}
} // namespace

TMidiEventModSource::TMidiEventModSource(MidiEventSource* s, int ch, int st, int ctrl, float start)
    : TModSource(1, 2), source(s), previous(start), current(start), channel(ch), status(st), controller(ctrl)
{
    if (source) source->AddMidiEventListener(this);
}

TMidiEventModSource::~TMidiEventModSource()
{
    if (source) source->RemoveMidiEventListener(this);
}

void TMidiEventModSource::HandleMidiEvent(int ch, int st, int data1, int data2, long offset)
{
    // Data outside 0..127 is not MIDI: the value stays as it was.
    if (st == status && (channel == -1 || ch == channel))
    {
        if (controller == -1)
        {
            const int data = st == kPitchBend ? data2 : data1;
            if (IsDataByte(data)) current = Value(data);
        }
        else if (data1 == controller && IsDataByte(data2))
            current = Value(data2);
    }
    SendMidiMessageToListeners(ch, st, data1, data2, offset);
}

void TMidiEventModSource::CreateModEnvelope(Envelope* out, long length, int)
{
    out->AddBreakpoint(0.0f, previous);
    out->AddBreakpoint(static_cast<float>(length), current);
}

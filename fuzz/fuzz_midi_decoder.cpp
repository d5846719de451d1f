// Raw MIDI byte streams (running status, system messages, stray data bytes) through the
// decoder, with a MIDI-learn manager and a sustain pedal emulator listening behind it.

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "framework/MidiEventListener.h"
#include "framework/MidiLearn.h"
#include "framework/Parameter.h"
#include "framework/ParameterHost.h"
#include "framework/SustainPedalEmulator.h"

namespace
{

// Checks every decoded call against the message it came from.
class CheckingDecoder : public MidiEventListener
{
public:
    void HandleMidiEvent(int channel, int status, int data1, int data2, long deltaFrames) override
    {
        lastStatus = status;
        lastData1 = data1;
        lastData2 = data2;
        calls = 0;
        MidiEventListener::HandleMidiEvent(channel, status, data1, data2, deltaFrames);
        fuzz::Check(calls == 1, "a message did not reach exactly one typed call");
    }
    void UnhandledMidiEvent(int channel, int status, int, int, long) override
    {
        ++calls;
        Channel(channel);
        fuzz::Check(status != 0x80 && status != 0x90 && status != 0xB0 && status != 0xE0,
                    "a handled status reached UnhandledMidiEvent");
    }
    void NoteOnMidiEvent(int channel, int note, int velocity, long) override
    {
        ++calls;
        Channel(channel);
        fuzz::Check(lastStatus == 0x90 && velocity > 0 && velocity < 128 && note == lastData1, "note on");
    }
    void NoteOffMidiEvent(int channel, int note, long) override
    {
        ++calls;
        Channel(channel);
        fuzz::Check((lastStatus == 0x80 || (lastStatus == 0x90 && lastData2 == 0)) && note == lastData1,
                    "note off");
    }
    void AllNotesOffMidiEvent(int channel) override
    {
        ++calls;
        Channel(channel);
        fuzz::Check(lastStatus == 0xB0 && lastData1 == 123, "all notes off");
    }
    void ControlChangeMidiEvent(int channel, int controller, int value, long) override
    {
        ++calls;
        Channel(channel);
        fuzz::Check(lastStatus == 0xB0 && controller != 64 && controller != 123 && value == lastData2,
                    "control");
    }
    void PitchBendMidiEvent(int channel, float bend, long) override
    {
        ++calls;
        Channel(channel);
        fuzz::Check(lastStatus == 0xE0 && bend >= -1.0f && bend <= 0.984375f, "pitch bend");
    }
    void SustainOnMidiEvent(int channel, long) override
    {
        ++calls;
        Channel(channel);
        fuzz::Check(lastStatus == 0xB0 && lastData1 == 64 && lastData2 >= 64, "sustain on");
    }
    void SustainOffMidiEvent(int channel, long) override
    {
        ++calls;
        Channel(channel);
        fuzz::Check(lastStatus == 0xB0 && lastData1 == 64 && lastData2 < 64, "sustain off");
    }

private:
    static void Channel(int channel) { fuzz::Check(channel >= 0 && channel < 16, "channel out of range"); }

    int lastStatus = 0;
    int lastData1 = 0;
    int lastData2 = 0;
    int calls = 0;
};

class Host : public ParameterHost
{
};

struct Rig
{
    Rig()
    {
        char const* names[kParams] = {"Cutoff", "Steps", "Switch", "Level"};
        for (int i = 0; i < kParams; ++i)
        {
            if (i == 2)
                params[i].CreateBool(names[i], &host, Parameter::Internal);
            else
                params[i].Create(names[i], &host, Parameter::Internal, i == 1 ? -3.0f : 0.0f,
                                 i == 1 ? 12.0f : 1.0f, i == 1 ? Parameter::Discrete : Parameter::Continuous);
            params[i].SetMidiLearnManager(&learn);
            learn.RegisterGlobalParameter(&params[i]);
        }
        pedal.Init(&decoder);
        decoder.AddMidiEventListener(&learn);
    }

    static constexpr int kParams = 4;
    Host host;
    Parameter params[kParams];
    MidiLearnManager learn;
    CheckingDecoder decoder;
    SustainPedalEmulator pedal;
};

// Data bytes a status byte takes: channel messages by kind, system common by number.
int DataBytes(int status)
{
    switch (status & 0xF0)
    {
    case 0xC0:
    case 0xD0:
        return 1;
    case 0xF0:
        return status == 0xF1 || status == 0xF3 ? 1 : status == 0xF2 ? 2 : 0;
    default:
        return 2;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static Rig rig;
    rig.learn.CancelListen(nullptr);
    for (Parameter& p : rig.params)
        rig.learn.UnmapParameter(&p);

    int running = 0; // running status, 0 when none
    int need = 0;
    int have = 0;
    int bytes[2] = {};
    bool sysex = false;
    long offset = 0;
    int messages = 0;
    for (size_t i = 0; i < size; ++i)
    {
        int const b = data[i];
        if (b >= 0xF8)
        {
            // Real-time bytes may come anywhere. Here: 0xF9 starts learning the next parameter,
            // 0xFD ends the block, the pedal emulator's switch follows 0xFA/0xFC.
            if (b == 0xF9)
                rig.learn.StartListen(&rig.params[messages % Rig::kParams]);
            else if (b == 0xFD)
            {
                rig.learn.NextBuffer();
                offset = 0;
            }
            else if (b == 0xFA || b == 0xFC)
                rig.pedal.GetSustainParameter().SetBool(b == 0xFA);
            continue;
        }
        if (b >= 0x80)
        {
            sysex = b == 0xF0;
            if (b >= 0xF0)
            {
                running = 0; // system common messages cancel running status
                if (b == 0xF7 || sysex) continue;
            }
            running = b < 0xF0 ? b : 0;
            need = DataBytes(b);
            have = 0;
            if (need == 0) continue;
            if (b >= 0xF0) running = b;
            continue;
        }
        if (sysex || running == 0) continue; // data without a status is dropped
        bytes[have++] = b;
        if (have < need) continue;
        have = 0;
        int const status = running & 0xF0;
        rig.decoder.HandleMidiEvent(running & 0x0F, status, bytes[0], need > 1 ? bytes[1] : 0, offset);
        ++messages;
        offset += bytes[0] & 7;
        if (running >= 0xF0) running = 0;
    }
    rig.learn.NextBuffer();
    for (Parameter& p : rig.params)
    {
        float const v = p;
        fuzz::Check(std::isfinite(v) && v >= p.GetMinValue() && v <= p.GetMaxValue(),
                    "a learned value left its range");
    }
    return 0;
}

#pragma once

#include "framework/MidiEventListener.h"
#include "framework/Parameter.h"

// Turns the editor's sustain button (the bool parameter "Sustain") into the
// messages of a sustain pedal: controller 64 on channel 0, value 127 when on
// and 0 when off, sent into its MIDI listeners on the thread that set it.
class SustainPedalEmulator : public ParamUpdateListener, public MidiEventSource
{
public:
    SustainPedalEmulator();
    SustainPedalEmulator(SustainPedalEmulator const&) = delete;
    SustainPedalEmulator& operator=(SustainPedalEmulator const&) = delete;
    ~SustainPedalEmulator() override;

    // The instrument passes its own MIDI listener part.
    void Init(MidiEventListener* l);
    void ParameterUpdated(float value, Parameter* p) override;

    Parameter& GetSustainParameter() { return sustain; }

private:
    Parameter sustain;
};

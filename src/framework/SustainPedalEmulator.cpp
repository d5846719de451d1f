#include "framework/SustainPedalEmulator.h"

SustainPedalEmulator::SustainPedalEmulator()
{
    sustain.CreateBool("Sustain", nullptr, Parameter::Internal);
    // Played, not kept.
    sustain.SetTransient(true);
    sustain.AddUpdateListener(this);
    sustain.SetBool(false);
}

SustainPedalEmulator::~SustainPedalEmulator()
{
    sustain.RemoveUpdateListener(this);
}

void SustainPedalEmulator::Init(MidiEventListener* l)
{
    AddMidiEventListener(l);
}

void SustainPedalEmulator::ParameterUpdated(float, Parameter* p)
{
    SendMidiMessageToListeners(0, 0xB0, 64, p->GetBool() ? 127 : 0, 0);
}

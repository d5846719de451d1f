#pragma once

#include "dsp/DSPComponent.h"
#include "dsp/Envelope.h"

class OscWaveDef;

// Adds one oscillator reading `table` (no interpolation, whole table steps) into outL/outR.
// Gain, pitch and pan come from value `index` of the three envelopes' breakpoints, whose times
// are samples from the start of the block; pitch values are note numbers when `pitchIsNote`,
// else Hz. The amplitude envelope decides the span rendered, never more than n frames; a pitch
// or pan envelope that ends early holds its last point; an empty envelope, a missing table or a
// sample rate of 0 renders nothing. `phase` is the table index, read and stored back.
// StdOsc plays one such oscillator, AdditiveOsc one per partial.
void RenderTableOscillator(const Envelope& amplitude, const Envelope& pitch, const Envelope& pan, long index,
                           bool pitchIsNote, const OscWaveDef* table, float sampleRate, int& phase,
                           float* outL, float* outR, long n);

// One table cycle played as a stereo voice: amplitude (linear gain), pitch (note number) and pan
// (-1 left .. +1 right) follow three one-value envelopes that the owner writes before each block.
class StdOsc : public DSPComponent
{
public:
    StdOsc();

    // Stores def (not owned), restarts at table index 0 and returns the previous table.
    OscWaveDef* SetOscWaveDef(OscWaveDef* def);

    // Adds the oscillator into outL/outR; the inputs are not read. Renders the span of the
    // amplitude envelope, at most n frames.
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;

    int GetPhase() const { return phase; }

    Envelope amplitudeEnvelope;
    Envelope pitchEnvelope;
    Envelope panEnvelope;

private:
    int phase = 0;
    OscWaveDef* waveDef = nullptr;
};

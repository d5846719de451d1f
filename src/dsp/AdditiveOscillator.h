#pragma once

#include "dsp/DSPComponent.h"
#include "dsp/Envelope.h"
#include "dsp/WaveTables.h"

#include <memory>

// A table oscillator per partial: partial p takes value p of each breakpoint of the three
// envelopes as its gain, frequency (Hz) and pan (-1 .. +1). Plays its own 44100-sample sine
// unless given another table.
class AdditiveOsc : public DSPComponent
{
public:
    AdditiveOsc();

    // n partials (0 for a negative n), every phase 0, and n values per point in each envelope.
    // Allocates: not for the audio thread.
    void Init(int n);
    // Restarts every partial at table index 0.
    void ResetOscs();
    // Stores def (not owned) as the table, restarts every partial and returns the previous one.
    OscWaveDef* SetOscWaveDef(OscWaveDef* def);

    // Adds every partial into outL/outR in order; the inputs are not read.
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;
    // Adds partial p (nothing for a p out of range).
    void RenderPartial(float* outL, float* outR, long n, int p);

    int GetNumPartials() const { return numPartials; }
    int GetPartialPhase(int p) const { return p >= 0 && p < numPartials ? partialPhases[p] : 0; }

    Envelope amplitudeEnvelope;
    Envelope pitchEnvelope;
    Envelope panEnvelope;

private:
    std::unique_ptr<int[]> partialPhases;
    OscWaveDef sine;
    OscWaveDef* waveDef;
    int numPartials = 0;
};

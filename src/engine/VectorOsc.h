#pragma once

#include "dsp/DSPComponent.h"
#include "dsp/Envelope.h"
#include "framework/Random.h"

#include <cstdint>

class VectorMipOscWaveDef;

// One oscillator blending the four band-limited waves of a VectorMipOscWaveDef by four weights,
// added panned into a stereo pair. Its owner fills the four envelopes for each block with times
// 0 .. block length in samples; weights, frequency and pan move at wave-cycle boundaries,
// amplitude every sample.
class VectorOsc : public DSPComponent
{
public:
    VectorOsc();

    // Stores def (not owned), starts at a random phase and returns the previous definition.
    VectorMipOscWaveDef* SetMipOscWaveDef(VectorMipOscWaveDef* def);
    // Phase 0, or a random phase when `randomPhase` and a definition is set.
    void Reset(bool randomPhase);
    // The generator of the random start phases.
    void SeedRandom(std::uint32_t seed) { random.Seed(seed); }

    // Adds the oscillator into outL/outR (the inputs are not read): the amplitude envelope's
    // span, at most n frames. An envelope that ends before the amplitude holds its last point;
    // an empty envelope, a definition without tables or a sample rate of 0 renders nothing.
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;

    // In table samples, 0 <= phase < table size.
    float GetPhase() const { return phase; }

    // Curves the owner keeps elsewhere, read by the following renders in place of the
    // oscillator's own envelopes (null: the own one). They must live as long as they are used;
    // a voice hands the same amplitude and weights to every unison slot without copying them.
    void UseAmplitude(Envelope const* curve) { amplitudeCurve = curve; }
    void UseWeights(Envelope const* curve) { weightsCurve = curve; }
    void UseFrequency(Envelope const* curve) { frequencyCurve = curve; }
    void UsePan(Envelope const* curve) { panCurve = curve; }
    // The curves the oscillator renders with.
    Envelope const& Amplitude() const { return amplitudeCurve ? *amplitudeCurve : amplitude; }
    Envelope const& Weights() const { return weightsCurve ? *weightsCurve : weights; }
    Envelope const& Frequency() const { return frequencyCurve ? *frequencyCurve : frequency; }
    Envelope const& Pan() const { return panCurve ? *panCurve : pan; }

    Envelope weights;   // four values per point: the weights of waves 0-3
    Envelope amplitude; // linear gain
    Envelope frequency; // Hz
    Envelope pan;       // -1 left .. +1 right

private:
    Envelope const* amplitudeCurve = nullptr;
    Envelope const* weightsCurve = nullptr;
    Envelope const* frequencyCurve = nullptr;
    Envelope const* panCurve = nullptr;
    float phase = 0.0f;
    VectorMipOscWaveDef* waveDef = nullptr;
    Random random;
};

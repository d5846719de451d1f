#pragma once

#include "dsp/DSPComponent.h"
#include "dsp/Envelope.h"

#include <cstdint>

// White noise for a voice layer, read from one table of random values shared by every instance.
// The first instance builds the table (always the same values), the last one to go frees it;
// construction and destruction may run on any thread.
class TNoiseOsc : public DSPComponent
{
public:
    static constexpr std::int32_t waveLength = 0x20000;

    TNoiseOsc();
    ~TNoiseOsc() override;

    // Adds noise into outL/outR (the inputs are not read) over the amplitude envelope's span, at
    // most n frames. Amplitude and pan keep their segment's start value and move only when the
    // read index wraps. A pan envelope that ends early holds its last point; an empty envelope
    // or a sample rate of 0 renders nothing.
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;

    std::int32_t GetIndex() const { return index; }
    const float* GetNoiseWave() const { return noiseWave; }
    static int GetInstanceCount();

    // An amplitude curve the owner keeps elsewhere, read by the following renders in place of
    // the own envelope (null: the own one); it must live as long as it is used.
    void UseAmplitude(Envelope const* curve) { amplitudeCurve = curve; }
    void UsePan(Envelope const* curve) { panCurve = curve; }
    Envelope const& Amplitude() const { return amplitudeCurve ? *amplitudeCurve : amplitude; }
    Envelope const& Pan() const { return panCurve ? *panCurve : pan; }

    Envelope amplitude; // linear gain
    Envelope pan;       // -1 left .. +1 right

private:
    Envelope const* amplitudeCurve = nullptr;
    Envelope const* panCurve = nullptr;
    std::int32_t index = 0;
    const float* noiseWave;
};

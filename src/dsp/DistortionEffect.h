#pragma once

#include <atomic>
#include <cfloat>
#include <cmath>

#include "framework/RenderLimits.h"

#include "dsp/DSPComponent.h"
#include "dsp/SampleRateConverter.h"
#include "framework/SoundBuffer.h"
#include "framework/StandardMaths.h"

// The instrument's send distortion: the send is oversampled six times (44100 -> 264600, fixed
// rates whatever the host's), shaped by a rational curve with separate halves for the two
// polarities, and converted back into the output (written, not added to).
class TDistortionEffect : public DSPComponent
{
public:
    static constexpr long kOverSampling = 6;

    TDistortionEffect();

    void ParameterUpdated(float value, Parameter* changed) override;
    // Blocks longer than 8192 frames are processed in pieces.
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;

    // Enabled off, drive 1, crunch 0.5, output 1, high cut 1.
    void Reset();
    // Sets both converters up for the current HIGHCUT.
    void InitOverSampling();

    // The shaper's settings for a crunch, drive and output level; Shape applies them to one
    // (oversampled) sample.
    struct Shaper
    {
        Shaper(float crunch, float drive, float output);
        float Shape(float s) const
        {
            // The positive curve's c is 1 + a, the negative one's b; 1e-17 keeps denormals out.
            const float y = BentCurve(s * d + 1e-17f, 1.0f + a, b, negativeLimit) * g;
            return std::fabs(y) <= FLT_MAX ? y : 0.0f; // NaN (from a NaN input) or an overflow
        }

        float q;
        float a;
        float b;
        float d;
        float g;
        // Negative inputs are held below the pole of the negative curve (low crunch has one).
        float negativeLimit;
    };

    SampleRateConverter const& GetUpConverter() const { return upConverter; }
    SampleRateConverter const& GetDownConverter() const { return downConverter; }

    Parameter enabled;
    Parameter drive;
    Parameter crunch;
    Parameter output;
    Parameter highCut;

private:
    SampleRateConverter upConverter;
    SampleRateConverter downConverter;
    SoundBuffer work;
    std::atomic<bool> convertersDirty{true};
};

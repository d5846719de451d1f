#pragma once

#include <atomic>

#include "dsp/DSPComponent.h"
#include "dsp/DelayEffect.h"
#include "dsp/SampleRateConverter.h"
#include "framework/SoundBuffer.h"

// The library's stereo insert effects. Each is switched on by its enable parameter (>= 0.5);
// switched off, RenderStereo copies the inputs to the outputs (nothing when they are the same
// buffers). All parameters are internal. Rendering runs on the audio thread, allocates nothing
// and takes no lock; parameters are read once per block.

// out = GAIN x in.
class GainEffect : public DSPComponent
{
public:
    GainEffect();

    // Off, gain 1.
    void Reset();
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;

    Parameter enabled; // "GAIN_ENABLED"
    Parameter gain;    // "GAIN_GAIN", 0 .. 5
};

// Peak compressor with linear attack and release ramps of the gain; the output is scaled by the
// square of the gain and by the make-up gain 1 + 16 MAKEUPGAIN^2. The threshold is compared
// with the peak of both channels as THRESHOLD^2.
//
// The hold time is stored and saved but does not act: nothing arms the hold counter.
class CompEffect : public DSPComponent
{
public:
    CompEffect();

    // Parameters to their defaults; gain and target 1, the rest of the state 0.
    void Reset();
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;

    // The largest gain reduction (1 - gain^2, 0 .. 1) seen since the last Reset.
    float GetGainReduction() const { return gainReduction; }
    float GetGain() const { return gain; }

    // Member order; the parameters are registered (and saved) in the order enabled, ratio,
    // attack, release, hold, make-up, threshold.
    Parameter enabled;     // "COMPRESSOR_ENABLED"
    Parameter ratio;       // "COMPRESSOR_RATIO", 0.1 .. 100
    Parameter threshold;   // "COMPRESSOR_THRESHOLD", 0 .. 1
    Parameter makeupGain;  // "COMPRESSOR_MAKEUPGAIN", 0 .. 3
    Parameter attackTime;  // "COMPRESSOR_ATTACKTIME", 0.001 .. 0.15 s
    Parameter releaseTime; // "COMPRESSOR_RELEASETIME", 0.001 .. 0.5 s
    Parameter holdTime;    // "COMPRESSOR_HOLDTIME", 0 .. 0.05 s

private:
    float gain = 1.0f;
    float targetGain = 1.0f;
    float gainStep = 0.0f;
    float heldPeak = 0.0f;
    int holdCounter = 0;
    float gainReduction = 0.0f;
};

// Wave shaper run at four times the rate: the block is converted up (44100 -> 176400, which
// leaves a quarter of the level), shaped by a curve bent separately for the two signs, and
// converted back down. Blocks longer than kMaxPieceFrames are processed in pieces.
class DistortionEffect : public DSPComponent
{
public:
    static constexpr long kOverSampling = 4;
    static constexpr long kBufferFrames = 32768;
    static constexpr long kMaxPieceFrames = kBufferFrames / kOverSampling;

    DistortionEffect();

    // Off, drive 1, crunch 0.5, output 1, high cut 1.
    void Reset();
    // Sets both converters up for the current high cut.
    void InitOverSampling();
    void ParameterUpdated(float value, Parameter* changed) override;
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;

    Parameter enabled; // "DISTORTION_ENABLED"
    Parameter drive;   // "DISTORTION_DRIVE", 0.1 .. 3
    Parameter crunch;  // "DISTORTION_CRUNCH", 0 .. 1
    Parameter output;  // "DISTORTION_OUTPUT", 0.1 .. 1
    Parameter highCut; // "DISTORTION_HIGHCUT", 0.05 .. 1, cube law

private:
    void RenderPiece(float* inL, float* inR, float* outL, float* outR, long n, float cPos, float cNeg,
                     float limitNeg, float driveValue, float outGain);

    SampleRateConverter up;
    SampleRateConverter down;
    SoundBuffer buffer;
    // Set by a high-cut change on any thread; the next block sets the converters up again.
    std::atomic<bool> convertersDirty{true};
};

// Two modulated delay taps (one per channel) on lines of 5000 samples, mixed into the dry
// signal. The taps swing DEPTH x 100 samples around a base 2000 samples behind the writes,
// driven by a cosine LFO of RATE x 0.05 degrees per sample; the right tap's LFO is ahead by
// the stereo offset x 90 degrees.
//
// The stereo offset is registered under the key "CHORUS_MIX" as well, so a search by key finds
// the mix only.
class ChorusEffect : public DSPComponent
{
public:
    static constexpr unsigned kLineLength = 5000;
    static constexpr unsigned kBaseDelay = 2000;

    ChorusEffect();

    // Off, rate 0.2, depth 0.2, mix 0.2, stereo offset 0.
    void Reset();
    // Zeroes both lines.
    void FlushBuffers();
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;

    // The taps' read positions and the LFO phase in degrees, for inspection.
    float GetLeftTapPosition() const { return posL; }
    float GetRightTapPosition() const { return posR; }
    float GetBasePosition() const { return base; }
    unsigned GetWritePosition() const { return lineL.write; }
    float GetPhase() const { return phase; }

    Parameter enabled;      // "CHORUS_ENABLED"
    Parameter rate;         // "CHORUS_RATE", 0 .. 1
    Parameter depth;        // "CHORUS_DEPTH", 0 .. 1
    Parameter mix;          // "CHORUS_MIX", 0 .. 1
    Parameter stereoOffset; // "CHORUS_MIX" as well, 0 .. 1

private:
    DelayLine lineL;
    DelayLine lineR;
    float phase = 0.0f;
    float posL = static_cast<float>(kLineLength - kBaseDelay);
    float posR = static_cast<float>(kLineLength - kBaseDelay);
    float base = static_cast<float>(kLineLength - kBaseDelay);
};

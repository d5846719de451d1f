#include "dsp/InsertEffects.h"

#include "framework/StandardMaths.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

// ---------------------------------------------------------------------------
// GainEffect

GainEffect::GainEffect() : DSPComponent(0, "")
{
    enabled.CreateBool("GAIN_ENABLED", this, Parameter::Internal);
    gain.Create("GAIN_GAIN", this, Parameter::Internal, 0.0f, 5.0f, Parameter::Continuous);
    Reset();
}

void GainEffect::Reset()
{
    enabled = 0.0f;
    gain = 1.0f;
}

void GainEffect::RenderStereo(float* inL, float* inR, float* outL, float* outR, long n)
{
    if (!enabled.GetBool())
    {
        Bypass(inL, inR, outL, outR, n);
        return;
    }
    float const g = gain;
    for (long i = 0; i < n; ++i)
    {
        outL[i] = g * inL[i];
        outR[i] = g * inR[i];
    }
}

// ---------------------------------------------------------------------------
// CompEffect

CompEffect::CompEffect() : DSPComponent(0, "")
{
    enabled.CreateBool("COMPRESSOR_ENABLED", this, Parameter::Internal);
    ratio.Create("COMPRESSOR_RATIO", this, Parameter::Internal, 0.1f, 100.0f, Parameter::Continuous);
    attackTime.Create("COMPRESSOR_ATTACKTIME", this, Parameter::Internal, 0.001f, 0.15f,
                      Parameter::Continuous);
    releaseTime.Create("COMPRESSOR_RELEASETIME", this, Parameter::Internal, 0.001f, 0.5f,
                       Parameter::Continuous);
    holdTime.Create("COMPRESSOR_HOLDTIME", this, Parameter::Internal, 0.0f, 0.05f, Parameter::Continuous);
    makeupGain.Create("COMPRESSOR_MAKEUPGAIN", this, Parameter::Internal, 0.0f, 3.0f, Parameter::Continuous);
    threshold.Create("COMPRESSOR_THRESHOLD", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    Reset();
}

void CompEffect::Reset()
{
    enabled = 0.0f;
    ratio = 4.0f;
    threshold = 0.8f;
    makeupGain = 0.2f;
    attackTime = 0.005f;
    releaseTime = 0.2f;
    holdTime = 0.01f;
    gain = 1.0f;
    targetGain = 1.0f;
    gainStep = 0.0f;
    heldPeak = 0.0f;
    holdCounter = 0;
    gainReduction = 0.0f;
}

void CompEffect::RenderStereo(float* inL, float* inR, float* outL, float* outR, long n)
{
    if (!enabled.GetBool())
    {
        Bypass(inL, inR, outL, outR, n);
        return;
    }
    float const t = threshold;
    float const thr = t * t;
    float const sr = GetSampleRate();
    // Ramps of at least one sample: a zero length would divide by zero at very low rates.
    float const attack = std::max(1.0f, std::trunc(static_cast<float>(attackTime) * sr));
    float const release = std::max(1.0f, std::trunc(static_cast<float>(releaseTime) * sr));
    float const invRatio = 1.0f / static_cast<float>(ratio);
    float const m = makeupGain;
    float const makeup = 1.0f + 16.0f * m * m;

    for (long i = 0; i < n; ++i)
    {
        float const l = inL[i];
        float const r = inR[i];
        float const p = std::max(std::fabs(l), std::fabs(r));
        if (p > heldPeak)
        {
            heldPeak = p;
            if (p > thr)
            {
                targetGain = ((p - thr) * invRatio + thr) / p;
                gainStep = (targetGain - gain) / (targetGain < gain ? attack : release);
            }
        }
        else if (p <= thr && holdCounter == 0)
        {
            targetGain = 1.0f;
            gainStep = (1.0f - gain) / release;
            heldPeak = 0.0f;
        }

        gain += gainStep;
        if ((gainStep < 0.0f && gain <= targetGain) || (gainStep > 0.0f && gain >= targetGain))
        {
            gain = targetGain;
            gainStep = 0.0f;
        }

        if (holdCounter != 0) --holdCounter;

        if (gain < 1.0f)
        {
            float const reduction = heldPeak == 0.0f ? 0.0f : std::clamp(1.0f - gain * gain, 0.0f, 1.0f);
            gainReduction = std::max(gainReduction, reduction);
        }
        if (gainReduction < 0.0f) gainReduction = 0.0f;

        float const g = gain * gain;
        outL[i] = g * l * makeup;
        outR[i] = g * r * makeup;
    }
}

// ---------------------------------------------------------------------------
// DistortionEffect

DistortionEffect::DistortionEffect() : DSPComponent(0, "")
{
    enabled.CreateBool("DISTORTION_ENABLED", this, Parameter::Internal);
    drive.Create("DISTORTION_DRIVE", this, Parameter::Internal, 0.1f, 3.0f, Parameter::Continuous);
    crunch.Create("DISTORTION_CRUNCH", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    output.Create("DISTORTION_OUTPUT", this, Parameter::Internal, 0.1f, 1.0f, Parameter::Continuous);
    highCut.Create("DISTORTION_HIGHCUT", this, Parameter::Internal, 0.05f, 1.0f, Parameter::Continuous);
    highCut.SetCurveType(Parameter::CubeLaw);
    buffer.Init(kBufferFrames);
    Reset();
}

void DistortionEffect::Reset()
{
    enabled = 0.0f;
    drive = 1.0f;
    crunch = 0.5f;
    output = 1.0f;
    highCut = 1.0f;
}

void DistortionEffect::InitOverSampling()
{
    float const hc = 0.45f * static_cast<float>(highCut);
    up.InitConversion(44100, 44100 * kOverSampling, 0.45f, hc);
    down.InitConversion(44100 * kOverSampling, 44100, 0.45f, hc);
}

void DistortionEffect::ParameterUpdated(float, Parameter* changed)
{
    if (changed == &highCut) convertersDirty.store(true, std::memory_order_release);
}

void DistortionEffect::RenderStereo(float* inL, float* inR, float* outL, float* outR, long n)
{
    if (!enabled.GetBool())
    {
        Bypass(inL, inR, outL, outR, n);
        return;
    }
    if (convertersDirty.exchange(false, std::memory_order_acq_rel)) InitOverSampling();

    float const k = 1.0f - 0.8f * static_cast<float>(crunch);
    float const h = 1.0f - std::pow(k, 8.0f);
    float const bend = 0.5f * h + 0.5f;
    float const cPos = 1.0f - 1.0f / bend;
    float const cNeg = 1.0f - 1.0f / (0.95f * bend);
    float const outGain = static_cast<float>(output) * (1.05f - h) * 15.0f;
    // With almost no crunch the negative curve has a pole at |x| = cNeg / (1 + cNeg); louder
    // samples are held just below it so that the shaper never divides by zero.
    float const limitNeg = 1.0f + cNeg < 0.0f ? 0.99f * (cNeg / (1.0f + cNeg)) : FLT_MAX;
    float const driveValue = drive;

    for (long offset = 0; offset < n; offset += kMaxPieceFrames)
    {
        long const piece = std::min(n - offset, kMaxPieceFrames);
        RenderPiece(inL + offset, inR + offset, outL + offset, outR + offset, piece, cPos, cNeg, limitNeg,
                    driveValue, outGain);
    }
}

void DistortionEffect::RenderPiece(float* inL, float* inR, float* outL, float* outR, long n, float cPos,
                                   float cNeg, float limitNeg, float driveValue, float outGain)
{
    long const m = up.Convert(inL, inR, buffer.left, buffer.right, n);
    float* channels[2] = {buffer.left, buffer.right};
    for (float* s : channels)
    {
        for (long i = 0; i < m; ++i)
            s[i] = BentCurve(driveValue * s[i] + 1e-17f, cPos, cNeg, limitNeg) * outGain;
    }
    down.Convert(buffer.left, buffer.right, outL, outR, m);
}

// ---------------------------------------------------------------------------
// ChorusEffect

namespace
{
// The line read at a fractional position: linear between the samples at ceil(p) - 1 and
// ceil(p), weight frac(p), a fraction of 0 counting as 1. Both indices wrap into the line.
inline float ReadTap(DelayLine const& line, float p)
{
    unsigned const length = line.length;
    float const c = std::ceil(p);
    float w = p - std::floor(p);
    if (w == 0.0f) w = 1.0f;
    long hi = static_cast<long>(c);
    long lo = hi - 1;
    if (hi >= static_cast<long>(length)) hi -= length;
    if (lo < 0) lo += length;
    float const* b = line.buffer.get();
    return b[lo] * (1.0f - w) + b[hi] * w;
}

// Brings a position back into 0 .. length by one whole length.
inline float WrapPosition(float p, float length)
{
    if (p >= length) return p - length;
    if (p < 0.0f) return p + length;
    return p;
}
} // namespace

ChorusEffect::ChorusEffect() : DSPComponent(0, "")
{
    enabled.CreateBool("CHORUS_ENABLED", this, Parameter::Internal);
    rate.Create("CHORUS_RATE", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    depth.Create("CHORUS_DEPTH", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    mix.Create("CHORUS_MIX", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    // Stored files carry the offset under this key, after the mix.
    stereoOffset.Create("CHORUS_MIX", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    lineL.Init(kLineLength, kLineLength);
    lineR.Init(kLineLength, kLineLength);
    Reset();
}

void ChorusEffect::Reset()
{
    enabled = 0.0f;
    rate = 0.2f;
    depth = 0.2f;
    mix = 0.2f;
    stereoOffset = 0.0f;
}

void ChorusEffect::FlushBuffers()
{
    lineL.Clear();
    lineR.Clear();
}

void ChorusEffect::RenderStereo(float* inL, float* inR, float* outL, float* outR, long n)
{
    if (!enabled.GetBool())
    {
        Bypass(inL, inR, outL, outR, n);
        return;
    }
    constexpr float kDegreesToRadians = 3.14159265358979f / 180.0f;
    float const wet = mix;
    float const swing = static_cast<float>(depth) * 100.0f;
    float const phaseStep = static_cast<float>(rate) * 0.05f;
    float const offset = static_cast<float>(stereoOffset) * 1.5707963f;
    float const length = static_cast<float>(kLineLength);
    float* bufL = lineL.buffer.get();
    float* bufR = lineR.buffer.get();

    for (long i = 0; i < n; ++i)
    {
        float const l = inL[i];
        float const r = inR[i];
        float const tapL = ReadTap(lineL, posL);
        float const tapR = ReadTap(lineR, posR);

        bufL[lineL.write] = l * 0.5f;
        bufR[lineR.write] = r * 0.5f;
        if (++lineL.write >= lineL.length) lineL.write = 0;
        if (++lineR.write >= lineR.length) lineR.write = 0;

        outL[i] = l + tapL * wet;
        outR[i] = r + tapR * wet;

        base = WrapPosition(base + 1.0f, length);
        float const angle = phase * kDegreesToRadians;
        posL = WrapPosition(std::cos(angle) * swing + base, length);
        posR = WrapPosition(std::cos(angle + offset) * swing + base, length);
        phase += phaseStep;
        if (phase >= 360.0f) phase -= 360.0f;
    }
}

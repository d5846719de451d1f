#include "dsp/DistortionEffect.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace
{
constexpr int kBaseRate = 44100;
constexpr int kOverRate = 44100 * static_cast<int>(TDistortionEffect::kOverSampling);
// Fraction of the pole's distance at which negative inputs are held.
constexpr float kPoleMargin = 0.5f;
} // namespace

TDistortionEffect::Shaper::Shaper(float c, float drv, float out)
{
    const float t = 1.0f - 0.8f * c;
    const float t2 = t * t;
    const float t4 = t2 * t2;
    q = 1.0f - t4 * t4;
    const float h = 0.5f + 0.5f * q;
    a = -1.0f / h;
    b = 1.0f + 1.0f / (-0.95f * h);
    d = drv;
    g = 3.75f * out * (1.05f - q);
    // The negative curve X / ((X - 1) b + X) has its pole at X = b / (1 + b) when 1 + b < 0,
    // that is for crunch below about 0.0084.
    negativeLimit = (1.0f + b < 0.0f) ? kPoleMargin * (b / (1.0f + b)) : FLT_MAX;
}

TDistortionEffect::TDistortionEffect() : DSPComponent(0, "")
{
    enabled.CreateBool("DISTORTION_ENABLED", this, Parameter::Internal);
    drive.Create("DISTORTION_DRIVE", this, Parameter::Internal, 0.1f, 3.0f, Parameter::Continuous);
    crunch.Create("DISTORTION_CRUNCH", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    output.Create("DISTORTION_OUTPUT", this, Parameter::Internal, 0.1f, 1.0f, Parameter::Continuous);
    highCut.Create("DISTORTION_HIGHCUT", this, Parameter::Internal, 0.05f, 1.0f, Parameter::Continuous);
    highCut.SetCurveType(Parameter::CubeLaw);
    work.Init(kMaxRenderFrames * kOverSampling);
    convertersDirty.store(true, std::memory_order_relaxed);
    Reset();
}

void TDistortionEffect::Reset()
{
    enabled.SetBool(false);
    drive = 1.0f;
    crunch = 0.5f;
    output = 1.0f;
    highCut = 1.0f;
}

void TDistortionEffect::ParameterUpdated(float, Parameter* changed)
{
    if (changed == &highCut) convertersDirty.store(true, std::memory_order_release);
}

void TDistortionEffect::InitOverSampling()
{
    const float h = highCut;
    upConverter.InitConversion(kBaseRate, kOverRate, 0.45f, 0.45f * h);
    downConverter.InitConversion(kOverRate, kBaseRate, 0.45f, 0.45f * h);
}

void TDistortionEffect::RenderStereo(float* inL, float* inR, float* outL, float* outR, long n)
{
    if (!enabled.GetBool())
    {
        Bypass(inL, inR, outL, outR, n);
        return;
    }
    if (convertersDirty.exchange(false, std::memory_order_acquire)) InitOverSampling();

    const Shaper shaper(crunch, drive, output);
    for (long pos = 0; pos < n; pos += kMaxRenderFrames)
    {
        const long len = std::min(kMaxRenderFrames, n - pos);
        const long m = upConverter.Convert(inL + pos, inR + pos, work.left, work.right, len);
        for (long i = 0; i < m; ++i)
        {
            work.left[i] = shaper.Shape(work.left[i]);
            work.right[i] = shaper.Shape(work.right[i]);
        }
        downConverter.Convert(work.left, work.right, outL + pos, outR + pos, m);
        // The positive curve is linear at low crunch: absurdly loud input could still overflow
        // the filters.
        for (long i = pos; i < pos + len; ++i)
        {
            if (!(std::fabs(outL[i]) <= FLT_MAX)) outL[i] = 0.0f;
            if (!(std::fabs(outR[i]) <= FLT_MAX)) outR[i] = 0.0f;
        }
    }
}

#include "dsp/LibraryLFO.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr float kTwoPi = 6.28318530717959f;
constexpr float kPi = 3.14159265358979f;
constexpr float kMinRate = 1.0f;
constexpr float kMaxRate = 99.0f;

// The factor a modulation value u gives: u + 1 upwards, 1 / (|u| + 1) downwards.
inline float ModFactor(float u)
{
    return u >= 0.0f ? u + 1.0f : 1.0f / (std::fabs(u) + 1.0f);
}
} // namespace

LFO::LFO() : ModulationSource(1)
{
    enabled.CreateBool("LFO_ENABLED", this, Parameter::Internal);
    rateParam.Create("LFO_RATE", this, Parameter::Internal, 1.0f, 99.0f, Parameter::Continuous);
    rateParam.SetModulationBypass(true);
    depthParam.Create("LFO_DEPTH", this, Parameter::Internal, 0.0f, 100.0f, Parameter::Continuous);
    depthParam.SetModulationBypass(true);
    sync.CreateBool("LFO_SYNC", this, Parameter::Internal);
    looseness.Create("LFO_LOOSENESS", this, Parameter::Internal, 0.0f, 100.0f, Parameter::Continuous);
    delay.Create("LFO_DELAY", this, Parameter::Internal, 0.0f, 100.0f, Parameter::Continuous);
    type.Create("LFO_TYPE", this, Parameter::Internal, 0.0f, 3.0f, Parameter::Discrete);
    Reset();
    phase = 0.0f;
    depth = 1.0f;
    randomLevel = 0.0f;
    fadeGain = 1.0f;
    fadeIncrement = 0.0f;
    Init();
}

void LFO::Reset()
{
    enabled = 0.0f;
    rateParam = 50.0f;
    type = 0.0f;
    sync = 0.0f;
    looseness = 0.0f;
    delay = 0.0f;
    depthParam = 100.0f;
}

void LFO::Reset(int)
{
    phase = 0.0f;
}

float LFO::IncrementFor(float rateValue)
{
    float const n = static_cast<float>(GetChunkSize());
    float const sr = GetSampleRate();
    float inc;
    if (!sync.GetBool())
    {
        // Rates up to 120 would make the cycle length 0 (or grow again beyond it).
        float const r = std::clamp(rateValue, kMinRate, kMaxRate);
        float const d = std::log(120.0f) - std::log(r);
        inc = kTwoPi * n / (d * d * sr * 0.5f);
    }
    else
    {
        float const b = 0.08f * rate;
        float m;
        if (b < 0.5f)
            m = 0.125f;
        else if (b < 1.5f)
            m = 0.25f;
        else if (b < 2.5f)
            m = 0.5f;
        else if (b < 3.5f)
            m = 1.0f;
        else if (b < 4.5f)
            m = 2.0f;
        else if (b < 5.5f)
            m = 4.0f;
        else if (b < 6.5f)
            m = 8.0f;
        else if (b < 7.5f)
            m = 16.0f;
        else
            m = 32.0f;
        inc = n * kTwoPi / (sr / (GetTempo() / 60.0f * m));
    }
    // A sample rate or tempo of 0 stops the LFO rather than feeding it inf or NaN.
    return std::isfinite(inc) ? inc : 0.0f;
}

void LFO::Init()
{
    baseIncrement = IncrementFor(rate);
    increment = baseIncrement;
}

void LFO::TempoChanged(float)
{
    Init();
}

void LFO::SampleRateChanged(float)
{
    Init();
}

void LFO::ParameterUpdated(float value, Parameter* changed)
{
    if (changed == &rateParam)
    {
        rate = value;
        Init();
    }
    else if (changed == &depthParam)
    {
        depth = value / 100.0f;
    }
    else if (changed == &delay || changed == &type || changed == &sync)
    {
        Init();
    }
    else if (changed == &enabled)
    {
        SetOutputEnabled(0, value >= 0.5f);
    }
}

void LFO::Retrigger(long offset)
{
    float const d = delay;
    if (d == 0.0f)
    {
        fadeGain = 1.0f;
        fadeIncrement = 0.0f;
        return;
    }
    float const n = static_cast<float>(GetChunkSize());
    float const sr = GetSampleRate();
    fadeGain = 0.0f;
    if (!sync.GetBool())
    {
        float const l = std::log(d);
        fadeIncrement = n / (sr * l * l * 0.5f);
    }
    else
    {
        float const b = 0.08f * rate;
        float divisor;
        if (b == 0.0f)
            divisor = 1.0f;
        else if (b == 1.0f)
            divisor = 2.0f;
        else if (b == 2.0f)
            divisor = 4.0f;
        else if (b == 3.0f)
            divisor = 8.0f;
        else if (b == 4.0f)
            divisor = 16.0f;
        else
            divisor = 2.0f * b;
        fadeIncrement = n / (sr / divisor);
        // Start the cycle offset samples later.
        phase = -(static_cast<float>(offset) / n * baseIncrement);
        phase = std::fmod(phase, kTwoPi);
        if (phase < 0.0f) phase += kTwoPi;
        if (phase >= kTwoPi) phase = 0.0f;
    }
    // A fade shorter than one chunk (a delay of 1 gives an infinite step) completes at once.
    if (!(fadeIncrement < 1.0f))
    {
        fadeGain = 1.0f;
        fadeIncrement = 0.0f;
    }
}

void LFO::Wrap(int shape, float loose)
{
    if (!(phase > kTwoPi)) return;
    phase = std::fmod(phase, kTwoPi);
    if (shape != Sine && shape != Square && shape != Saw) randomLevel = random.NextSignedFloat();
    if (!sync.GetBool())
    {
        // The next cycle runs at a rate drawn from rate / L .. rate x L.
        float const r = random.NextFloat();
        float const cycleRate = (r * (loose - 1.0f / loose) + 1.0f / loose) * rate;
        baseIncrement = IncrementFor(cycleRate);
        increment = baseIncrement;
    }
}

void LFO::AdvanceFade()
{
    fadeGain += fadeIncrement;
    if (fadeGain >= 1.0f)
    {
        fadeGain = 1.0f;
        fadeIncrement = 0.0f;
    }
}

float LFO::ShapeValue(int shape) const
{
    switch (shape)
    {
    case Sine:
        return std::sin(phase);
    case Square:
        return phase < kPi ? 1.0f : -1.0f;
    case Saw:
        return 1.0f - phase / kPi;
    default:
        return randomLevel;
    }
}

ModulationValues* LFO::CalculateModulation(unsigned int, int chunks, int)
{
    ModulationValues* out = GetOutput(0);
    long const count = std::clamp<long>(chunks, 0, out->maxValues);
    out->count = count;
    if (count == 0) return out;

    float const loose = 1.0f + static_cast<float>(looseness) / 100.0f;
    float const depthBase = static_cast<float>(depthParam) / 100.0f;
    int const shape = static_cast<int>(type);
    bool const randomShape = shape != Sine && shape != Square && shape != Saw;
    ModulationValues const* rateMod = rateParam.GetModValues(0);
    ModulationValues const* depthMod = depthParam.GetModValues(0);

    out->values[0] = ShapeValue(shape) * fadeGain * depth;
    for (long c = 1; c < count; ++c)
    {
        // Modulation values that are not finite are passed over.
        if (rateMod->active)
        {
            float const modulated = ModFactor(2.0f * rateMod->values[c]) * baseIncrement;
            if (std::isfinite(modulated)) increment = modulated;
        }
        if (depthMod->active)
        {
            float const u = randomShape ? depthMod->values[c] : 2.0f * depthMod->values[c];
            float const modulated = ModFactor(u) * depthBase;
            if (!std::isnan(modulated)) depth = std::clamp(modulated, 0.0f, 1.0f);
        }
        if (!randomShape)
        {
            phase += increment;
            Wrap(shape, loose);
            AdvanceFade();
            out->values[c] = ShapeValue(shape) * fadeGain * depth;
        }
        else
        {
            Wrap(shape, loose);
            AdvanceFade();
            out->values[c] = ShapeValue(shape) * fadeGain * depth;
            phase += increment;
        }
    }
    if (phase < 0.0f) phase += kTwoPi;
    return out;
}

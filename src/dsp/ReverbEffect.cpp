#include "dsp/ReverbEffect.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace
{
constexpr float kDenormalGuard = 1e-17f;
constexpr unsigned kLineOffsets[ReverbEffect::kLineCount] = {1120, 1124, 1468, 1934, 1234, 1534, 1584, 1834};
constexpr float kPans[ReverbEffect::kLineCount] = {0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 0.0f};

float Unit(float v)
{
    return v >= 0.0f ? std::min(v, 1.0f) : 0.0f; // NaN gives 0
}
} // namespace

ReverbEffect::ReverbEffect() : DSPComponent(0, "")
{
    enabled.CreateBool("REVERB_ENABLED", this, Parameter::Internal);
    timeParam.Create("REVERB_TIME", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    sizeParam.Create("REVERB_SIZE", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    mixParam.Create("REVERB_MIX", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);

    for (int j = 0; j < kLineCount; ++j)
    {
        lines[j].buffer = std::make_unique<float[]>(kCapacity);
        lines[j].pan = kPans[j];
    }

    enabled.SetBool(false);
    timeParam = 0.5f;
    sizeParam = 0.5f;
    mixParam = 0.5f;
    Update();
}

void ReverbEffect::Update()
{
    feedback.store(GetTime() * 0.3f + 0.68f, std::memory_order_relaxed);
    const float t = GetSize() * 3000.0f;
    SetDelays(t > 0.0f ? static_cast<unsigned>(t) : 0u);
    SetWetDry();
}

void ReverbEffect::SetWetDry()
{
    const float w = mixParam;
    wet.store(w, std::memory_order_relaxed);
    dry.store(1.0f - w, std::memory_order_relaxed);
}

void ReverbEffect::SetTime(float t)
{
    time.store(Unit(t), std::memory_order_relaxed);
    Update();
}

void ReverbEffect::SetSize(float s)
{
    size.store(Unit(s), std::memory_order_relaxed);
    Update();
}

void ReverbEffect::SetDelays(unsigned t)
{
    requestedDelays.store(std::min(t, kCapacity), std::memory_order_release);
}

unsigned ReverbEffect::GetLineLength(int line) const
{
    if (line < 0 || line >= kLineCount) return 0;
    return std::min(requestedDelays.load(std::memory_order_relaxed) + kLineOffsets[line], kCapacity);
}

void ReverbEffect::ApplyDelays(unsigned t)
{
    for (int j = 0; j < kLineCount; ++j)
    {
        CombLine& line = lines[j];
        line.length = std::min(t + kLineOffsets[j], kCapacity);
        if (line.position >= line.length) line.position %= line.length;
    }
    appliedDelays = t;
}

void ReverbEffect::ParameterUpdated(float value, Parameter* changed)
{
    if (changed == &timeParam)
        SetTime(value);
    else if (changed == &sizeParam)
        SetSize(value);
    else if (changed == &mixParam)
        SetWetDry();
}

void ReverbEffect::Reset()
{
    enabled.SetBool(false);
    timeParam = 0.5f;
    sizeParam = 0.5f;
    mixParam = 0.5f;
}

void ReverbEffect::FlushBuffers()
{
    for (CombLine& line : lines)
        std::fill(line.buffer.get(), line.buffer.get() + kCapacity, 0.0f);
}

void ReverbEffect::RenderStereo(float* inL, float* inR, float* outL, float* outR, long n)
{
    const unsigned t = requestedDelays.load(std::memory_order_acquire);
    if (t != appliedDelays) ApplyDelays(t);

    if (!enabled.GetBool())
    {
        Bypass(inL, inR, outL, outR, n);
        return;
    }

    const float g = feedback.load(std::memory_order_relaxed);
    const float w = wet.load(std::memory_order_relaxed);
    const float d = dry.load(std::memory_order_relaxed);
    constexpr float kInputScale = 2.0f * kLineCount;
    for (long i = 0; i < n; ++i)
    {
        const float l = inL[i];
        const float r = inR[i];
        float y[kLineCount];
        float sumL = 0.0f;
        float sumR = 0.0f;
        for (int j = 0; j < kLineCount; ++j)
        {
            y[j] = lines[j].buffer[lines[j].position];
            sumL += y[j] * lines[j].pan;
            sumR += y[j] * (1.0f - lines[j].pan);
        }
        float x = (sumL + sumR + l + r) / kInputScale + kDenormalGuard;
        // A NaN or infinity from the send must not ring in the lines for ever.
        if (!(std::fabs(x) <= FLT_MAX)) x = 0.0f;
        for (int j = 0; j < kLineCount; ++j)
        {
            CombLine& line = lines[j];
            line.buffer[line.position] = x - g * y[j];
            if (++line.position >= line.length) line.position = 0;
        }
        outL[i] = l * d + sumL * w;
        outR[i] = r * d + sumR * w;
    }
}

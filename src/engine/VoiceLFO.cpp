#include "engine/VoiceLFO.h"

#include "framework/StandardMaths.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 2.0f * kPi;

// Cycles per beat of the synced rates 0-5; a negative entry leaves the phase still.
float SyncedCyclesPerBeat(float rate)
{
    static constexpr float speeds[] = {0.25f, 1.0f, 2.0f, 4.0f, 8.0f, 16.0f};
    const float index = Round(rate);
    if (!(index >= 0.0f && index <= 5.0f)) return -1.0f;
    return speeds[static_cast<int>(index)];
}

// The value `index` of `e` at t, 0 without such a value.
float Read(Envelope const* e, float t, long index, EnvelopeContext* ctx)
{
    if (!e || index < 0 || index >= e->numValues) return 0.0f;
    return e->ValueAtTime(t, index, ctx, false);
}
} // namespace

TLFO::TLFO() : TModTarget(kNumLFOModInputs), TModSource(1), randomValue(random.NextSignedFloat()) {}

void TLFO::SetPhase(float p)
{
    phase = p;
    WrapPhase();
}

void TLFO::SetParamEnvelope(Envelope* newLine, int first)
{
    line = newLine;
    firstValueIndex = first;
}

void TLFO::WrapPhase()
{
    if (!std::isfinite(phase))
    {
        phase = 0.0f;
        return;
    }
    if (phase >= 0.0f && phase < kTwoPi) return;
    phase = std::fmod(phase, kTwoPi);
    if (phase < 0.0f) phase += kTwoPi;
    if (!(phase < kTwoPi)) // a tiny negative remainder rounds up to 2 pi
        phase = 0.0f;
    randomValue = random.NextSignedFloat();
}

void TLFO::CreateModEnvelope(Envelope* out, long length, int)
{
    length = std::max(length, 0L);
    const float w = GetTempo() * kTwoPi / (60.0f * GetSampleRate());
    TModValues* depthInput = GetInput(kLFOInputDepth);
    TModValues* rateInput = GetInput(kLFOInputRate);
    const bool depthModulated = depthInput->valid;
    const bool rateModulated = rateInput->valid;

    EnvelopeContext ctx;
    EnvelopeContext depthCtx;
    EnvelopeContext rateCtx;
    long t = 0;
    long step = kModPointSpacing;
    while (t <= length && step > 0)
    {
        const float time = static_cast<float>(t);
        const float depth = Read(line, time, firstValueIndex, &ctx);
        float rate = Read(line, time, firstValueIndex + 1, &ctx);
        const float shape = Round(Read(line, time, firstValueIndex + 2, &ctx));

        // Rounded shapes below 0 play the sine, above 3 the random value.
        float y;
        if (shape >= 3.0f)
            y = randomValue;
        else if (shape >= 2.0f)
            y = 1.0f - phase * 0.31830987f;
        else if (shape >= 1.0f)
            y = phase <= kPi ? 1.0f : -1.0f;
        else
            y = std::sin(phase);
        y *= depth;
        if (depthModulated)
        {
            const float m = depthInput->ValueAtTime(time, 0, &depthCtx, false);
            y = std::clamp(y * (0.5f + 0.5f * m), -1.0f, 1.0f);
        }
        if (positiveOnly && y < 0.0f) y = 0.0f;
        out->AddBreakpoint(time, y);

        if (t >= length)
            step = 0;
        else
        {
            step = std::min(step, length - t);
            t += step;
        }

        if (rateModulated)
        {
            const float q = 4.0f * rateInput->ValueAtTime(static_cast<float>(t), 0, &rateCtx, false);
            const float factor = q >= 0.0f ? 1.0f + q : 1.0f / (std::fabs(q) + 1.0f);
            rate *= std::clamp(factor, 0.0f, 2.0f);
        }
        const float s = static_cast<float>(step);
        if (sync)
        {
            const float cycles = SyncedCyclesPerBeat(rate);
            if (cycles > 0.0f) phase += cycles * s * w;
        }
        else
            phase += 0.0005f * s * rate;
        WrapPhase();
    }
}

#include "dsp/SampleRateConverter.h"

namespace
{
// The whole ratio a / b, at least 1 (the converter may be used before InitConversion).
long Ratio(int a, int b)
{
    if (a <= 0 || b <= 0 || a < b) return 1;
    return a / b;
}
} // namespace

SampleRateConverter::SampleRateConverter()
{
    enabled.SetBool(true);
    type = 0.0f;
    resonance = 8.0f;
}

void SampleRateConverter::InitConversion(int from, int to, float upFactor, float downFactor)
{
    fromRate = from;
    toRate = to;
    if (from <= 0 || to <= 0 || from == to)
    {
        mode = Copy;
        return;
    }
    if (from < to)
    {
        SetSampleRate(static_cast<float>(to));
        cutoff = static_cast<float>(from) * upFactor;
        mode = Up;
    }
    else
    {
        SetSampleRate(static_cast<float>(from));
        cutoff = static_cast<float>(to) * downFactor;
        mode = Down;
    }
}

long SampleRateConverter::UpSample(float* inL, float* inR, float* outL, float* outR, long n)
{
    if (n <= 0) return 0;
    const long factor = Ratio(toRate, fromRate);
    const long m = n * factor;
    for (long i = 0; i < m; ++i)
    {
        outL[i] = 0.0f;
        outR[i] = 0.0f;
    }
    for (long i = 0; i < n; ++i)
    {
        outL[i * factor] = inL[i];
        outR[i * factor] = inR[i];
    }
    RenderStereo(outL, outR, outL, outR, m);
    return m;
}

long SampleRateConverter::DownSample(float* inL, float* inR, float* outL, float* outR, long n)
{
    if (n <= 0) return 0;
    const long factor = Ratio(fromRate, toRate);
    RenderStereo(inL, inR, inL, inR, n);
    const long m = n / factor;
    for (long j = 0; j < m; ++j)
    {
        outL[j] = inL[j * factor];
        outR[j] = inR[j * factor];
    }
    return m;
}

long SampleRateConverter::Convert(float* inL, float* inR, float* outL, float* outR, long n)
{
    switch (mode)
    {
    case Up:
        return UpSample(inL, inR, outL, outR, n);
    case Down:
        return DownSample(inL, inR, outL, outR, n);
    default:
        if (n <= 0) return 0;
        Bypass(inL, inR, outL, outR, n);
        return n;
    }
}

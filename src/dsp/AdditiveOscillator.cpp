#include "dsp/AdditiveOscillator.h"

#include "dsp/TableOscillator.h"

#include <cmath>

namespace
{
constexpr long kSineLength = 44100;
}

AdditiveOsc::AdditiveOsc() : DSPComponent(0, ""), waveDef(&sine)
{
    sine.InitArray(kSineLength);
    for (long i = 0; i < kSineLength; ++i)
        sine.table[i] = static_cast<float>(
            std::sin(static_cast<double>(i) * 6.2831854 / static_cast<double>(kSineLength)));
}

void AdditiveOsc::Init(int n)
{
    numPartials = n > 0 ? n : 0;
    partialPhases = std::make_unique<int[]>(static_cast<size_t>(numPartials));
    amplitudeEnvelope.Init(numPartials);
    pitchEnvelope.Init(numPartials);
    panEnvelope.Init(numPartials);
}

void AdditiveOsc::ResetOscs()
{
    for (int p = 0; p < numPartials; ++p)
        partialPhases[p] = 0;
}

OscWaveDef* AdditiveOsc::SetOscWaveDef(OscWaveDef* def)
{
    OscWaveDef* previous = waveDef;
    waveDef = def;
    ResetOscs();
    return previous;
}

void AdditiveOsc::RenderStereo(float*, float*, float* outL, float* outR, long n)
{
    for (int p = 0; p < numPartials; ++p)
        RenderPartial(outL, outR, n, p);
}

void AdditiveOsc::RenderPartial(float* outL, float* outR, long n, int p)
{
    if (p < 0 || p >= numPartials) return;
    RenderTableOscillator(amplitudeEnvelope, pitchEnvelope, panEnvelope, p, false, waveDef, GetSampleRate(),
                          partialPhases[p], outL, outR, n);
}

#include "dsp/StepSequencer.h"

#include <algorithm>
#include <cmath>

StepSeq::StepSeq() : ModulationSource(1), steps(std::make_unique<float[]>(kNumSteps))
{
    enabled.CreateBool("STEPSEQ_ENABLED", this, Parameter::Internal);
    rate.Create("STEPSEQ_RATE", this, Parameter::Internal, 0.0f, 7.0f, Parameter::Discrete);
    smoothTransition.CreateBool("STEPSEQ_SMOOTHTRANSITION", this, Parameter::Internal);
    numActiveSteps.Create("STEPSEQ_NUMACTIVESTEPS", this, Parameter::Internal, 1.0f, 16.0f,
                          Parameter::Discrete);
    Reset();
    numActiveSteps = 16.0f;
    rate = 1.0f;
    smoothTransition = 0.0f;
}

void StepSeq::SetRate(float v)
{
    if (v < 1.0f)
        rateMultiplier = 0.5f;
    else if (v < 2.0f)
        rateMultiplier = 1.0f;
    else if (v < 3.0f)
        rateMultiplier = 2.0f;
    else if (v < 4.0f)
        rateMultiplier = 4.0f;
    else if (v < 5.0f)
        rateMultiplier = 8.0f;
    else if (v < 6.0f)
        rateMultiplier = 16.0f;
    else
        rateMultiplier = 32.0f;
}

void StepSeq::Reset()
{
    std::fill(steps.get(), steps.get() + numSteps, 1.0f);
}

void StepSeq::SetStep(long index, float level)
{
    if (index < 0 || index >= numSteps || !std::isfinite(level)) return;
    steps[index] = std::clamp(level, 0.0f, 1.0f);
}

float StepSeq::GetStep(long index) const
{
    return index >= 0 && index < numSteps ? steps[index] : 0.0f;
}

double StepSeq::SamplesPerStep() const
{
    // The tempo is a fixed 120 beats per minute.
    double const sps = 60.0 * GetSampleRate() / 120.0 / rateMultiplier;
    // A sample rate of 0 (or below) would stall the pattern.
    return sps >= 1.0 ? sps : 1.0;
}

void StepSeq::ParameterUpdated(float value, Parameter* changed)
{
    if (changed == &rate)
    {
        SetRate(value);
    }
    else if (changed == &numActiveSteps)
    {
        // The shorter pattern restarts from its first step.
        if (currentStep >= static_cast<long>(value))
        {
            currentStep = 0;
            position = 0;
        }
    }
}

void StepSeq::SetBeatSyncCountdown(long samples)
{
    double const sps = SamplesPerStep();
    double const patternLength = static_cast<double>(numActiveSteps.GetInt()) * sps;
    position = -samples;
    if (position < 0)
    {
        // Whole patterns before the start: the position that many samples before it.
        double p = std::fmod(static_cast<double>(position), patternLength);
        if (p < 0.0) p += patternLength;
        position = static_cast<long>(p);
    }
    currentStep = static_cast<long>(static_cast<double>(position) / sps);
}

ModulationValues* StepSeq::CalculateModulation(unsigned int samples, int chunks, int)
{
    ModulationValues* out = GetOutput(0);
    long const count = std::clamp<long>(chunks, 0, out->maxValues);
    out->count = count;
    long const active = std::clamp<long>(numActiveSteps.GetInt(), 1, numSteps);
    bool const smooth = smoothTransition.GetBool();
    double const sps = SamplesPerStep();
    long const chunk = GetChunkSize();
    long remaining = samples;

    for (long c = 0; c < count;)
    {
        if (currentStep >= active)
        {
            // The pattern has run out: back by whole patterns.
            double const patternLength = static_cast<double>(active) * sps;
            double p = std::fmod(static_cast<double>(position), patternLength);
            position = static_cast<long>(p);
            currentStep = static_cast<long>(static_cast<double>(position) / sps);
            continue;
        }

        float value;
        double const x = static_cast<double>(position) / sps;
        double const whole = std::floor(x);
        if (!smooth || x == whole)
        {
            value = 2.0f * steps[currentStep] - 1.0f;
        }
        else
        {
            long next = static_cast<long>(std::ceil(x));
            while (next >= active)
                next -= active;
            float const f = static_cast<float>(x - whole);
            float const a = 2.0f * steps[currentStep] - 1.0f;
            float const b = 2.0f * steps[next] - 1.0f;
            value = a + std::pow(f, 50.0f) * (b - a);
        }
        out->values[c] = value;

        if (remaining <= chunk)
        {
            position += remaining;
            remaining = 0;
        }
        else
        {
            position += chunk;
            remaining -= chunk;
        }
        currentStep = static_cast<long>(static_cast<double>(position) / sps);
        ++c;
    }
    return out;
}

#pragma once

#include <memory>

#include "framework/ModulationMatrix.h"
#include "framework/Notifications.h"
#include "framework/Parameter.h"
#include "framework/ParameterHost.h"

// Step-sequencer modulation source with one output: walks through up to 16 step levels (0..1,
// given out as -1..1), one value per chunk of 64 samples, at 0.5 .. 32 steps per beat of a fixed
// 120 beats per minute. With the smooth transition on, each step glides into the next at its
// very end. "STEPSEQ_ENABLED" does not affect the output.
class StepSeq : public ModulationSource, public ParameterHost, public SampleRateListener
{
public:
    static constexpr long kNumSteps = 16;

    StepSeq();

    // Sets the steps per beat from a "STEPSEQ_RATE" value: 0 -> 0.5, 1 -> 1, 2 -> 2, 3 -> 4,
    // 4 -> 8, 5 -> 16, 6 and above -> 32.
    void SetRate(float v);
    // Every step level to 1.0; the position is kept.
    void Reset();
    using ModulationSource::Reset;
    // Places the pattern so that it starts again after that many samples.
    void SetBeatSyncCountdown(long samples);
    // Step levels, clamped to 0..1; indices out of range are ignored (read as 0).
    void SetStep(long index, float level);
    float GetStep(long index) const;

    ModulationValues* CalculateModulation(unsigned int samples, int chunks, int output) override;
    void ParameterUpdated(float value, Parameter* changed) override;

    // Samples per step at the current sample rate (at least 1).
    double SamplesPerStep() const;
    long GetCurrentStep() const { return currentStep; }
    long GetPosition() const { return position; }
    float GetRateMultiplier() const { return rateMultiplier; }

    Parameter enabled;          // "STEPSEQ_ENABLED"
    Parameter rate;             // "STEPSEQ_RATE", 0 .. 7
    Parameter smoothTransition; // "STEPSEQ_SMOOTHTRANSITION"
    Parameter numActiveSteps;   // "STEPSEQ_NUMACTIVESTEPS", 1 .. 16

private:
    long numSteps = kNumSteps;
    float rateMultiplier = 1.0f;
    std::unique_ptr<float[]> steps;
    long currentStep = 0;
    long position = 0;
};

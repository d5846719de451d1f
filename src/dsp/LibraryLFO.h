#pragma once

#include "framework/ModulationMatrix.h"
#include "framework/Notifications.h"
#include "framework/Parameter.h"
#include "framework/ParameterHost.h"
#include "framework/Random.h"

// Low-frequency modulation source with one output, one value per chunk of 64 samples: sine,
// square, saw or random steps, free-running or locked to the host tempo, with a fade-in after
// Retrigger, a per-cycle random rate variation (looseness) and modulation inputs on rate and
// depth (input 0 of "LFO_RATE" and "LFO_DEPTH", read here rather than by the parameters).
//
// Free running, one cycle lasts 0.5 x ln(120 / rate)^2 seconds; synchronised, the rate picks
// 1/8 .. 32 cycles per beat. Runs on the audio thread; no locks.
class LFO : public ModulationSource, public ParameterHost, public SampleRateListener, public TempoListener
{
public:
    enum Shape : int
    {
        Sine = 0,
        Square = 1,
        Saw = 2,
        RandomSteps = 3
    };

    LFO();

    // The parameters to their construction values, listeners told.
    void Reset();
    void Reset(int output) override;
    // Recomputes the phase step per chunk from the rate, the sync switch, the tempo and the
    // sample rate.
    void Init();
    // Starts the fade-in ("LFO_DELAY"); synchronised, the cycle starts offset samples later.
    void Retrigger(long offset);

    ModulationValues* CalculateModulation(unsigned int samples, int chunks, int output) override;
    void ParameterUpdated(float value, Parameter* changed) override;
    void TempoChanged(float bpm) override;
    void SampleRateChanged(float rate) override;

    float GetPhase() const { return phase; }
    float GetBaseIncrement() const { return baseIncrement; }
    float GetIncrement() const { return increment; }
    float GetFadeGain() const { return fadeGain; }
    float GetFadeIncrement() const { return fadeIncrement; }
    float GetDepth() const { return depth; }

    Parameter enabled;    // "LFO_ENABLED"
    Parameter rateParam;  // "LFO_RATE", 1 .. 99
    Parameter depthParam; // "LFO_DEPTH", 0 .. 100 (percent)
    Parameter sync;       // "LFO_SYNC"
    Parameter looseness;  // "LFO_LOOSENESS", 0 .. 100 (percent)
    Parameter delay;      // "LFO_DELAY", 0 .. 100
    Parameter type;       // "LFO_TYPE", 0 .. 3

private:
    // The phase step per chunk for a rate.
    float IncrementFor(float rateValue);
    // Brings the phase back below 2 pi; at a wrap, a new random level and (free running) a
    // new rate for the next cycle.
    void Wrap(int shape, float loose);
    void AdvanceFade();
    float ShapeValue(int shape) const;

    float rate = 50.0f;
    float phase = 0.0f;
    float baseIncrement = 0.0f;
    float increment = 0.0f;
    float depth = 1.0f;
    float randomLevel = 0.0f;
    float fadeGain = 1.0f;
    float fadeIncrement = 0.0f;
    Random random;
};

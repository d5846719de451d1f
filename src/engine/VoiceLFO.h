#pragma once

#include "engine/TMod.h"
#include "framework/Notifications.h"
#include "framework/ParameterHost.h"
#include "framework/Random.h"

// The low-frequency oscillator of a voice layer. Each block the voice points it at its
// modulation line (cut to the block, times in samples), from which it reads depth, rate and
// shape; its one output is a curve with a point every 32 samples and at the block end. Inputs:
// 0 depth, 1 rate, 2 not read. The phase carries from block to block.
class TLFO : public ParameterHost,
             public TModTarget,
             public TModSource,
             public SampleRateListener,
             public TempoListener
{
public:
    TLFO();

    void ParameterUpdated(float, Parameter*) override {}
    void CreateModEnvelope(Envelope* out, long length, int output) override;

    void Reset() { phase = 0.0f; }
    float GetPhase() const { return phase; }
    // Wrapped into [0, 2 pi); a value that is not finite gives 0.
    void SetPhase(float p);

    // The line (not owned) and where this LFO's depth, rate and shape start in it.
    void SetParamEnvelope(Envelope* line, int firstValueIndex);
    void SetSync(bool on) { sync = on; }
    void SetPositiveOnly(bool on) { positiveOnly = on; }

    float GetRandomValue() const { return randomValue; }

private:
    // Wraps the phase into [0, 2 pi); a new random value once it wrapped.
    void WrapPhase();

    Random random;
    float phase = 0.0f;
    Envelope* line = nullptr;
    float randomValue;
    int firstValueIndex = 0;
    bool sync = false;
    bool positiveOnly = false;
};

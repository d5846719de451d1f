#pragma once

#include <atomic>
#include <memory>

#include "dsp/DSPComponent.h"

class Writer;
class Reader;

// A ring buffer of floats with an active length at most its capacity.
class DelayLine
{
public:
    DelayLine() = default;
    DelayLine(DelayLine const&) = delete;
    DelayLine& operator=(DelayLine const&) = delete;

    // Allocates capacity zeroed floats; a length beyond the capacity (such as -1) means the whole
    // capacity, a length of 0 means 1. Positions start at 0.
    void Init(unsigned capacity, unsigned length);
    void Clear();

    std::unique_ptr<float[]> buffer;
    unsigned capacity = 0;
    unsigned length = 0;
    unsigned read = 0;
    unsigned write = 0;
};

// The instrument's global stereo delay, a send effect: RenderStereo adds the delayed send into
// the main output. Each output is fed from the opposite input channel. The time is free
// (sampleRate / (3 v + 0.5) samples) or, synced to the host, a note value of the tempo: 0 two
// beats, 1 one beat, 2 an eighth, 3 a sixteenth, 4 a thirty-second note. Lengths are clamped
// to 1 .. 441000 samples.
//
// Time, stereo, sync, tempo and sample-rate changes may come from any thread: the new length is
// handed over atomically and the lines are repositioned at the start of the next block.
class DelayEffect : public DSPComponent
{
public:
    static constexpr unsigned kCapacity = 441000;

    DelayEffect();

    void ParameterUpdated(float value, Parameter* changed) override;
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;
    void TempoChanged(float bpm) override;
    void SampleRateChanged(float rate) override;
    // int32 version 1, then BYPASS and the seven parameters as f32.
    void Save(Writer& w) override;
    // The version is read and ignored.
    void Load(Reader& r) override;

    // Recomputes the length from v (the third argument is not used).
    void SetTime(float v, bool store, bool);
    float GetTime() const { return storedTime.load(std::memory_order_relaxed); }
    // Enabled off, time 0, mix 0.5, feedback 0.5, amplitude 1, stereo on, synced to the host.
    void Reset();
    void FlushBuffers();
    // The length in samples that the next block uses.
    unsigned GetLength() const { return requestedGeometry.load(std::memory_order_relaxed) >> 1; }

    Parameter enabled;
    Parameter time;
    Parameter feedback;
    Parameter mix;
    Parameter amplitude;
    Parameter stereo;
    Parameter syncToHost;

private:
    // Sets both lengths and places the write positions relative to the shared read position.
    void ApplyGeometry(unsigned geometry);

    float wetGain = 1.0f;
    std::atomic<float> storedTime{0.0f};
    DelayLine leftLine;
    DelayLine rightLine;
    // 2 x length + stereo flag, written by SetTime on any thread; the audio thread applies it.
    std::atomic<unsigned> requestedGeometry{0};
    unsigned appliedGeometry = 0;
};

#pragma once

#include <atomic>
#include <memory>

#include "dsp/DSPComponent.h"

// The instrument's global reverb, a send effect: eight feedback comb lines share one input
// (the send plus their own outputs); lines 1, 3 and 5 feed the left output, the others the
// right. The outputs are written, not added to.
//
// Parameter changes may come from any thread: line lengths are handed over atomically and
// take effect at the start of the next block.
class ReverbEffect : public DSPComponent
{
public:
    static constexpr int kLineCount = 8;
    static constexpr unsigned kCapacity = 5000;

    ReverbEffect();

    void ParameterUpdated(float value, Parameter* changed) override;
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;

    // feedback = time x 0.3 + 0.68; base length t = size x 3000; wet = mix, dry = 1 - mix.
    void Update();
    // Time and size are kept within 0 .. 1.
    void SetTime(float t);
    void SetSize(float s);
    float GetTime() const { return time.load(std::memory_order_relaxed); }
    float GetSize() const { return size.load(std::memory_order_relaxed); }
    // Line lengths t + 1120, 1124, 1468, 1934, 1234, 1534, 1584, 1834, each at most the capacity.
    void SetDelays(unsigned t);
    unsigned GetLineLength(int line) const;
    float GetFeedback() const { return feedback.load(std::memory_order_relaxed); }
    // Enabled off, time, size and mix 0.5.
    void Reset();
    void FlushBuffers();

    Parameter enabled;
    Parameter timeParam;
    Parameter sizeParam;
    Parameter mixParam;

private:
    struct CombLine
    {
        std::unique_ptr<float[]> buffer;
        unsigned length = 0;
        // Read and write share one position: each frame reads a sample, then overwrites it.
        unsigned position = 0;
        float pan = 0.0f;
    };

    void SetWetDry();
    void ApplyDelays(unsigned t);

    CombLine lines[kLineCount];
    std::atomic<float> time{0.5f};
    std::atomic<float> size{0.5f};
    std::atomic<float> feedback{0.83f};
    std::atomic<float> dry{0.5f};
    std::atomic<float> wet{0.5f};
    // Base length written by SetDelays on any thread; the audio thread applies it.
    std::atomic<unsigned> requestedDelays{0};
    unsigned appliedDelays = ~0u;
};

#pragma once

#include <memory>

// Stereo scratch buffer of the audio path: two float channels of one length, into which a stage
// renders before its result is mixed, with or without a gain ramp, into a block's output.
// Callers keep offset + n within frames; only Init allocates.
class SoundBuffer
{
public:
    SoundBuffer() = default;
    ~SoundBuffer() = default;
    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;

    // Replaces both channels by frames zeroed samples; content is not kept. The new channels are
    // allocated before the old ones are freed, so a failed allocation leaves the buffer as it
    // was. A negative length is ignored. The bool is not used.
    void Init(long frames, bool = false);

    // Sets the first n samples of both channels to v.
    void ClearStereo(long n, float v = 0.0f);
    // outL[i] += left[offset + i], outR[i] += right[offset + i] for i in 0 .. n-1.
    void MixToStereo(float* outL, float* outR, long n, long offset) const;
    // As MixToStereo, each sample times a gain that starts at g0 and grows by (g1 - g0) / n per
    // sample: g1 itself would be the first gain of the next block.
    void MixToStereoGradient(float* outL, float* outR, long n, long offset, float g0, float g1) const;
    // Multiplies n samples of both channels from offset on, in place, by the same ramp.
    void AmplitudeGradient(float g0, float g1, long offset, long n);

    // The two channels (owned below), frames samples each.
    float* left = nullptr;
    float* right = nullptr;
    long frames = 0;

private:
    std::unique_ptr<float[]> leftChannel;
    std::unique_ptr<float[]> rightChannel;
};

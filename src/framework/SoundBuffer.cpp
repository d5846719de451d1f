#include "framework/SoundBuffer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

void SoundBuffer::Init(long n, bool)
{
    if (n < 0) return;
    auto newLeft = std::make_unique<float[]>(static_cast<std::size_t>(n));
    auto newRight = std::make_unique<float[]>(static_cast<std::size_t>(n));
    leftChannel = std::move(newLeft);
    rightChannel = std::move(newRight);
    left = leftChannel.get();
    right = rightChannel.get();
    frames = n;
}

void SoundBuffer::ClearStereo(long n, float v)
{
    if (n <= 0) return;
    // Zero, the usual value, is all bits clear: memset is far quicker than a loop of floats.
    if (std::bit_cast<std::uint32_t>(v) == 0)
    {
        std::memset(left, 0, static_cast<std::size_t>(n) * sizeof(float));
        std::memset(right, 0, static_cast<std::size_t>(n) * sizeof(float));
        return;
    }
    std::fill(left, left + n, v);
    std::fill(right, right + n, v);
}

void SoundBuffer::MixToStereo(float* outL, float* outR, long n, long offset) const
{
    const float* l = left + offset;
    const float* r = right + offset;
    for (long i = 0; i < n; ++i)
    {
        outL[i] += l[i];
        outR[i] += r[i];
    }
}

void SoundBuffer::MixToStereoGradient(float* outL, float* outR, long n, long offset, float g0, float g1) const
{
    if (n <= 0) return;
    const float* l = left + offset;
    const float* r = right + offset;
    const float step = (g1 - g0) / static_cast<float>(n);
    float g = g0;
    for (long i = 0; i < n; ++i)
    {
        outL[i] += l[i] * g;
        outR[i] += r[i] * g;
        g += step;
    }
}

void SoundBuffer::AmplitudeGradient(float g0, float g1, long offset, long n)
{
    if (n <= 0) return;
    float* l = left + offset;
    float* r = right + offset;
    const float step = (g1 - g0) / static_cast<float>(n);
    float g = g0;
    for (long i = 0; i < n; ++i)
    {
        l[i] *= g;
        r[i] *= g;
        g += step;
    }
}

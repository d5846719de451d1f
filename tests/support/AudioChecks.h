#pragma once

// The audio checks the tests share: peak, finiteness, the amplitude of one tone (Goertzel) and
// a plain discrete Fourier transform, all in double precision where they sum.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace audio
{

inline float Peak(float const* x, std::size_t n)
{
    float peak = 0.0f;
    for (std::size_t i = 0; i < n; ++i)
        peak = std::max(peak, std::fabs(x[i]));
    return peak;
}
inline float Peak(std::vector<float> const& x)
{
    return Peak(x.data(), x.size());
}

inline bool AllFinite(float const* x, std::size_t n)
{
    return std::all_of(x, x + n, [](float v) { return std::isfinite(v); });
}
inline bool AllFinite(std::vector<float> const& x)
{
    return AllFinite(x.data(), x.size());
}

// Amplitude of the component at `freq` Hz in x[0 .. n) (Goertzel).
inline double ToneAmplitude(float const* x, std::size_t n, double freq, double rate)
{
    double const w = 2.0 * M_PI * freq / rate;
    double const c = 2.0 * std::cos(w);
    double s1 = 0.0;
    double s2 = 0.0;
    for (std::size_t i = 0; i < n; ++i)
    {
        double const s0 = static_cast<double>(x[i]) + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double const re = s1 - s2 * std::cos(w);
    double const im = s2 * std::sin(w);
    return 2.0 * std::sqrt(re * re + im * im) / static_cast<double>(n);
}

// One bin of a plain DFT: re = sum x[i] cos(2 pi h i / n), im = sum x[i] sin(2 pi h i / n).
struct DftBin
{
    double re = 0.0;
    double im = 0.0;
};

// The bins asked for of the n samples x[0], x[stride], x[2 stride] ... The angles come from one
// table of n entries, so every bin uses exactly the same cosines and sines.
inline std::vector<DftBin> NaiveDft(float const* x, std::size_t n, std::vector<long> const& bins,
                                    std::size_t stride = 1)
{
    std::vector<double> cosines(n), sines(n);
    for (std::size_t i = 0; i < n; ++i)
    {
        double const a = 2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n);
        cosines[i] = std::cos(a);
        sines[i] = std::sin(a);
    }
    std::vector<DftBin> out;
    out.reserve(bins.size());
    for (long h : bins)
    {
        DftBin bin;
        std::size_t const step = static_cast<std::size_t>(h) % n;
        std::size_t angle = 0;
        for (std::size_t i = 0; i < n; ++i)
        {
            double const v = x[i * stride];
            bin.re += v * cosines[angle];
            bin.im += v * sines[angle];
            angle += step;
            if (angle >= n) angle -= n;
        }
        out.push_back(bin);
    }
    return out;
}

} // namespace audio

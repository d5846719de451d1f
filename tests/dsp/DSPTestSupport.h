#pragma once

// Helpers shared by the DSP unit tests: signals, measurement in double precision and the
// analytic responses the filters are checked against.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <string>
#include <vector>

#include "framework/Streams.h"
#include "framework/String.h"
#include "support/AudioChecks.h"

namespace dsptest
{

constexpr double kPi = 3.14159265358979323846;

// The bytes a unit's Save writes to memory.
template <class Unit> std::string Saved(Unit& unit)
{
    String block;
    StringWriter w;
    w.Open(&block);
    unit.Save(w);
    w.Close();
    return std::string(static_cast<char const*>(block), static_cast<size_t>(block.GetLength()));
}

// Float i of a saved block (no bounds: callers check the size first).
inline float FloatAt(std::string const& bytes, size_t i)
{
    float v;
    std::memcpy(&v, bytes.data() + 4 * i, 4);
    return v;
}

// Loads the first `size` bytes of a saved block into a unit.
template <class Unit> void LoadFrom(Unit& unit, std::string const& bytes, size_t size)
{
    StringReader r;
    r.Open(bytes.data(), size);
    unit.Load(r);
}

inline std::vector<float> Sine(long n, double freq, double rate, double amp = 1.0, double phase = 0.0)
{
    std::vector<float> x(static_cast<size_t>(n));
    for (long i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] =
            static_cast<float>(amp * std::sin(2.0 * kPi * freq * static_cast<double>(i) / rate + phase));
    return x;
}

// Amplitude of the component at freq in x[0..n), by a least-squares fit of DC, cosine and sine
// (exact for a steady sine whatever the number of periods).
inline double Amplitude(const float* x, long n, double freq, double rate)
{
    double m[3][4] = {};
    for (long i = 0; i < n; ++i)
    {
        const double a = 2.0 * kPi * freq * static_cast<double>(i) / rate;
        const double basis[3] = {1.0, std::cos(a), std::sin(a)};
        for (int r = 0; r < 3; ++r)
        {
            for (int c = 0; c < 3; ++c)
                m[r][c] += basis[r] * basis[c];
            m[r][3] += basis[r] * static_cast<double>(x[i]);
        }
    }
    // Gaussian elimination; the system is well conditioned for more than a few samples.
    for (int p = 0; p < 3; ++p)
    {
        for (int r = p + 1; r < 3; ++r)
        {
            const double k = m[r][p] / m[p][p];
            for (int c = p; c < 4; ++c)
                m[r][c] -= k * m[p][c];
        }
    }
    double sol[3];
    for (int r = 2; r >= 0; --r)
    {
        double s = m[r][3];
        for (int c = r + 1; c < 3; ++c)
            s -= m[r][c] * sol[c];
        sol[r] = s / m[r][r];
    }
    return std::hypot(sol[1], sol[2]);
}

// |H(e^jw)| of a normalised biquad (a0 = 1), in double.
inline double BiquadMagnitude(double b0, double b1, double b2, double a1, double a2, double freq, double rate)
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * freq / rate);
    const std::complex<double> z2 = z1 * z1;
    return std::abs((b0 + b1 * z1 + b2 * z2) / (1.0 + a1 * z1 + a2 * z2));
}

// The cookbook responses are the analog prototypes below taken through the bilinear transform
// with the cutoff pre-warped: s = j tan(w / 2) / tan(w0 / 2).
inline std::complex<double> AnalyticResponse(int type, double f0, double rate, double q, double gainDB,
                                             double freq)
{
    const double omega = std::tan(kPi * freq / rate) / std::tan(kPi * f0 / rate);
    const std::complex<double> s(0.0, omega);
    const std::complex<double> s2 = s * s;
    const double A = std::pow(10.0, gainDB / 40.0);
    const double rootA = std::sqrt(A);
    const std::complex<double> den = s2 + s / q + 1.0;
    std::complex<double> h;
    switch (type)
    {
    case 0:
        h = 1.0 / den;
        break;
    case 1:
        h = s2 / den;
        break;
    case 2:
        h = s / den;
        break;
    case 3:
        h = (s / q) / den;
        break;
    case 4:
        h = (s2 + 1.0) / den;
        break;
    case 5:
        h = (s2 - s / q + 1.0) / den;
        break;
    case 6:
        h = (s2 + s * (A / q) + 1.0) / (s2 + s / (A * q) + 1.0);
        break;
    case 7:
        h = A * (s2 + (rootA / q) * s + A) / (A * s2 + (rootA / q) * s + 1.0);
        break;
    case 8:
        h = A * (A * s2 + (rootA / q) * s + 1.0) / (s2 + (rootA / q) * s + A);
        break;
    default:
        h = 1.0;
        break;
    }
    return h;
}

inline double AnalyticMagnitude(int type, double f0, double rate, double q, double gainDB, double freq)
{
    return std::abs(AnalyticResponse(type, f0, rate, q, gainDB, freq));
}

inline bool IsSubnormal(float v)
{
    return std::fpclassify(v) == FP_SUBNORMAL;
}

inline bool AllFinite(const float* x, long n)
{
    return audio::AllFinite(x, static_cast<std::size_t>(n));
}

inline float PeakAbs(const float* x, long n)
{
    return audio::Peak(x, static_cast<std::size_t>(n));
}

} // namespace dsptest

#include "framework/StandardMaths.h"

#include <climits>
#include <cmath>

namespace
{
// Level floor used in place of inputs of 0 or below: 1e-10 as a single-precision constant.
constexpr double levelFloor = static_cast<double>(1e-10f);
// log10 of the bottom of the positive dB scale (-140 dB).
const double log10Bottom = std::log10(1e-7);
} // namespace

float NoteToFreq(float note)
{
    return 13.75f * powf(2.0f, (note - 9.0f) / 12.0f);
}

float FreqToFNote(float freq)
{
    return static_cast<float>(12.0 * std::log(static_cast<double>(freq) / 220.0) / std::log(2.0) + 57.01);
}

int FreqToNote(float freq)
{
    const float r = Round(FreqToFNote(freq));
    if (!(r >= -2147483648.0f)) // below the range, or NaN
        return INT_MIN;
    if (r >= 2147483648.0f) return INT_MAX;
    return static_cast<int>(r);
}

double linearTodB(double v)
{
    return 20.0 * std::log10(v > 0 ? v : levelFloor);
}

double dBToLinear(double d)
{
    return std::pow(10.0, 0.05 * d);
}

double linearToPositivedB(double v)
{
    return 20.0 * std::log10(v > 0 ? v : levelFloor) / (-20.0 * log10Bottom) + 1.0;
}

double positivedBToLinear(double p)
{
    return std::pow(10.0, (1.0 - p) * 20.0 * log10Bottom * 0.05);
}

double linearToPositivedB(double v, double offset)
{
    const double d = 20.0 * std::log10(v > 0 ? v : levelFloor) + offset;
    return d > 0.0 ? d : 0.0;
}

double positivedBToLinear(double p, double offset)
{
    return std::pow(10.0, (p - offset) * 0.05);
}

void Interpolator::Init(float x0_, float y0_, float x1, float y1)
{
    x0 = x0_;
    y0 = y0_;
    dx = x1 - x0_;
    dy = y1 - y0_;
    slope = dx != 0.0f ? dy / dx : 0.0f;
    current = y0_;
}

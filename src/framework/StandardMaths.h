#pragma once

// Note, frequency and level conversions and rounding, plus the voice's small ramp and curve helpers.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

// 13.75 * 2^((note - 9) / 12): note 69 is 440 Hz.
float NoteToFreq(float note);
// 12 * log2(freq / 220) + 57.01, unrounded. The 0.01 lets a frequency a hair below a note still
// round to that note.
float FreqToFNote(float freq);
// FreqToFNote passed through Round. Saturates at the int range; a frequency of 0 or below (or NaN)
// gives the lowest int.
int FreqToNote(float freq);

// Truncates toward zero, then adds 1 when the fraction is 0.5 or more. Negative fractions never
// reach 0.5, so negative values are only truncated (-2.7 gives -2, -2.5 gives -2, 2.5 gives 3).
// Inline: the voices' LFOs round at every point they make.
inline float Round(float x)
{
    // From 2^23 on every float is whole (and the truncation below would overflow for the largest).
    if (!(std::fabs(x) < 8388608.0f)) return x;
    const std::int32_t t = static_cast<std::int32_t>(x);
    const float fraction = x - static_cast<float>(t);
    if (fraction == 0.0f) return x;
    if (fraction >= 0.5f) return static_cast<float>(t + 1);
    return static_cast<float>(t);
}

// Levels. Inputs of 0 or below count as 1e-10 (as a float constant).
double linearTodB(double v);
double dBToLinear(double d);
// Maps -140 dB .. 0 dB onto 0 .. 1 (not clamped).
double linearToPositivedB(double v);
double positivedBToLinear(double p);
// max(0, dB + offset) and its inverse.
double linearToPositivedB(double v, double offset);
double positivedBToLinear(double p, double offset);

// A linear ramp from (x0, y0) to (x1, y1), advanced step by step.
class Interpolator
{
public:
    void Init(float x0, float y0, float x1, float y1);
    float Step(float dx)
    {
        current += slope * dx;
        return current;
    }
    float GetValue() const { return current; }

private:
    float x0 = 0.0f;
    float y0 = 0.0f;
    float dx = 0.0f;
    float dy = 0.0f;
    float slope = 0.0f;
    float current = 0.0f;
};

// The odd curve x / ((x - 1) c + x) through -1, 0 and 1, with cPos for x >= 0 and cNeg for the
// mirrored negative half, whose |x| is first held at limitNeg (a cNeg below -1 puts a pole at
// |x| = cNeg / (1 + cNeg)). A c of -1 makes its half the diagonal.
inline float BentCurve(float x, float cPos, float cNeg, float limitNeg)
{
    if (x >= 0.0f) return x / ((x - 1.0f) * cPos + x);
    const float a = std::min(-x, limitNeg);
    return -(a / ((a - 1.0f) * cNeg + a));
}

// BentCurve with c = 1 - 1/b on both halves and no limit: b = 0.5 is the identity; 0.5 < b < 1
// bends it above the diagonal on the positive side, b < 0.5 below.
class CurveGenerator
{
public:
    void Init(float b) { c = 1.0f - 1.0f / b; }
    float CalcPoint(float x) const { return BentCurve(x, c, c, std::numeric_limits<float>::infinity()); }

private:
    float c = -1.0f;
};

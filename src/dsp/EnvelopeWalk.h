#pragma once

#include "dsp/Envelope.h"

#include <climits>
#include <cmath>

// The oscillators' walk through the segments of their envelopes over one block, whose
// breakpoint times are samples from the block's start.
namespace EnvelopeWalk
{

// The sample count of an envelope that has run out: it holds its last point for the rest of the
// block.
constexpr long kHeld = LONG_MAX;

// Value k of a point; 0 when the point has fewer values or the value is not finite.
inline float ValueOf(const Breakpoint& b, long k)
{
    const float v = k < b.numValues ? b.values[k] : 0.0f;
    return std::isfinite(v) ? v : 0.0f;
}

// Samples a segment of duration d lasts: trunc(d), none for a negative (or NaN) duration, and at
// most `cap` (the frames left in the block).
inline long SegmentCount(float d, long cap)
{
    if (!(d >= 1.0f)) return 0;
    return d < static_cast<float>(cap) ? static_cast<long>(d) : cap;
}

// The running segment of an envelope over N of its values: values, per-sample slopes, samples
// left.
template <int N> struct Ramp
{
    float value[N] = {};
    float slope[N] = {};
    long count = 0;
    long segment = -1; // index of the segment's first point
};

// When r has no samples left, moves it to the next segment of env that has, over the points'
// values first .. first + N - 1, each mapped through map; true when it entered one. When none is
// left, r holds the last point's values for the rest of the block (count kHeld). Segments shorter
// than one sample play no sample.
template <int N, class Map> bool NextSegment(const Envelope& env, long first, long cap, Ramp<N>& r, Map map)
{
    while (r.count == 0)
    {
        if (r.segment + 2 >= env.Size())
        {
            const Breakpoint& last = env[env.Size() - 1];
            for (int k = 0; k < N; ++k)
            {
                r.value[k] = map(ValueOf(last, first + k));
                r.slope[k] = 0.0f;
            }
            r.count = kHeld;
            return false;
        }
        ++r.segment;
        const Breakpoint& p0 = env[r.segment];
        const Breakpoint& p1 = env[r.segment + 1];
        const float d = p1.time - p0.time;
        r.count = SegmentCount(d, cap);
        if (r.count > 0)
        {
            for (int k = 0; k < N; ++k)
            {
                r.value[k] = map(ValueOf(p0, first + k));
                r.slope[k] = (map(ValueOf(p1, first + k)) - r.value[k]) / d;
            }
            return true;
        }
    }
    return false;
}

// NextSegment for a gain envelope (value 0): a segment that starts below 0 is silent.
inline void NextGainSegment(const Envelope& env, long cap, Ramp<1>& r)
{
    if (NextSegment(env, 0, cap, r, [](float v) { return v; }) && r.value[0] < 0.0f)
        r.value[0] = r.slope[0] = 0.0f;
}

} // namespace EnvelopeWalk

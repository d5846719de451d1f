#pragma once

// Helpers shared by the envelope tests: random curves and an independent evaluation.

#include "dsp/Envelope.h"
#include "framework/Random.h"

#include <vector>

namespace envtest
{

struct RefPoint
{
    double time;
    std::vector<double> values;
};

// A plain copy of an envelope's points, kept apart from the code under test.
inline std::vector<RefPoint> Snapshot(const Envelope& e)
{
    std::vector<RefPoint> out;
    for (long i = 0; i < e.Size(); ++i)
    {
        RefPoint p{e[i].time, {}};
        for (long k = 0; k < e.numValues; ++k)
            p.values.push_back(e[i].values[k]);
        out.push_back(p);
    }
    return out;
}

// Linear interpolation over time-sorted points, in double. Exactly at a point's time the first
// point of that time counts; before the first point and after the last the last point's value
// counts (the behaviour of a forward-only search).
inline double Reference(const std::vector<RefPoint>& pts, double t, long k)
{
    if (pts.empty()) return 0.0;
    for (const RefPoint& p : pts)
        if (p.time == t) return p.values[k];
    if (t < pts.front().time || t > pts.back().time) return pts.back().values[k];
    size_t hi = 0;
    while (pts[hi].time < t)
        ++hi;
    const RefPoint& a = pts[hi - 1];
    const RefPoint& b = pts[hi];
    return a.values[k] + (b.values[k] - a.values[k]) * (t - a.time) / (b.time - a.time);
}

// Like Reference, but an envelope holds its first values before its first point (the rule of
// the arithmetic on differing spans).
inline double Held(const std::vector<RefPoint>& pts, double t, long k)
{
    if (pts.empty()) return 0.0;
    if (t < pts.front().time) return pts.front().values[k];
    return Reference(pts, t, k);
}

// n points at whole-number times from start, spaced 0..maxGap apart (a gap of 0 makes a jump),
// with values in [-1, 1).
inline void RandomEnvelope(Envelope& e, Random& rng, long n, float start, int maxGap, bool allowJumps = true)
{
    e.Clear();
    float t = start;
    for (long i = 0; i < n; ++i)
    {
        Breakpoint* p = e.AddBreakpoint();
        p->time = t;
        for (long k = 0; k < e.numValues; ++k)
            p->values[k] = rng.NextSignedFloat();
        const int lowest = allowJumps ? 0 : 1;
        t += static_cast<float>(
            lowest + static_cast<int>(rng.NextUInt32() % static_cast<unsigned>(maxGap + 1 - lowest)));
    }
}

} // namespace envtest

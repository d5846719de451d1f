#include "dsp/Envelope.h"
#include "framework/StandardMaths.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace
{
// Appends a point at outTime holding the values of env at srcTime.
void AppendValuesAt(const Envelope& env, Envelope* dst, float srcTime, float outTime, EnvelopeContext* ctx)
{
    Breakpoint* q = dst->points.Add();
    q->Init(env.numValues);
    q->time = outTime;
    env.ValuesAtTime(srcTime, q->values, ctx, false);
}

// Appends a point at outTime holding src's values, or zeros when src is null.
void AppendHeld(const Envelope& env, Envelope* dst, float outTime, const Breakpoint* src)
{
    Breakpoint* q = dst->points.Add();
    if (src)
        *q = *src;
    else
    {
        q->Init(env.numValues);
        q->SetYs(0.0f);
    }
    q->time = outTime;
}
} // namespace

void Envelope::ExtractTimePeriod(Envelope* dst, float from, float to, EnvelopeContext* ctx, bool zeroOutside,
                                 LoopInfo* loop, float offset) const
{
    if (loop && loop->looping && from <= loop->end && loop->end <= to)
    {
        ExtractLooped(dst, from, to, ctx, loop, offset);
        return;
    }
    if (loop) loop->position = to;
    ExtractPlain(dst, from, to, ctx, zeroOutside, offset);
}

void Envelope::ExtractPlain(Envelope* dst, float from, float to, EnvelopeContext* ctx, bool zeroOutside,
                            float offset) const
{
    const long n = points.Size();
    if (n == 0)
    {
        AppendHeld(*this, dst, from + offset, nullptr);
        AppendHeld(*this, dst, to + offset, nullptr);
        if (ctx) ctx->segment = 0;
        return;
    }
    const Breakpoint* last = &points[n - 1];
    const Breakpoint* held = zeroOutside ? nullptr : last;
    if (from > last->time)
    {
        AppendHeld(*this, dst, from + offset, held);
        AppendHeld(*this, dst, to + offset, held);
        return;
    }

    // Without a context of the caller's, a local one keeps the walk forward-only.
    EnvelopeContext local;
    EnvelopeContext* c = ctx ? ctx : &local;
    AppendValuesAt(*this, dst, from, from + offset, c);
    // The first point at from gave the values above; further points at from (a jump) are
    // copied, so the piece leaves from with the same values as the whole curve.
    bool firstAtFrom = true;
    for (long i = std::clamp(c->segment, 0L, n - 1); i < n; ++i)
    {
        const Breakpoint& p = points[i];
        if (p.time < from) continue;
        if (p.time == from && p.time != to && std::exchange(firstAtFrom, false)) continue;
        if (p.time < to)
        {
            dst->points.Add(p)->time = p.time + offset;
            c->segment = i;
            continue;
        }
        if (p.time == to)
        {
            dst->points.Add(p)->time = p.time + offset;
            c->segment = i;
            return;
        }
        AppendValuesAt(*this, dst, to, to + offset, c);
        return;
    }
    AppendHeld(*this, dst, to + offset, held);
    c->segment = n - 1;
}

void Envelope::ExtractLooped(Envelope* dst, float from, float to, EnvelopeContext* ctx, LoopInfo* loop,
                             float offset) const
{
    EnvelopeContext local;
    EnvelopeContext* c = ctx ? ctx : &local;
    const float end = loop->end;
    const float len = end - loop->start;
    float remaining = to - from;
    if (!(remaining > 0.0f))
    {
        loop->position = from;
        return;
    }
    // A loop no longer than minLength is played once and then holds its end value; so is one
    // shorter than a single time unit, which could not make progress through the period.
    const bool repeats = len > loop->minLength && len >= 1.0f;

    float cur = from; // source time
    float out = from; // output time
    for (;;)
    {
        if (end - cur == 0.0f && !repeats)
        {
            AppendValuesAt(*this, dst, end, from + offset, c);
            AppendValuesAt(*this, dst, end, to + offset, c);
            loop->position = end;
            return;
        }
        const float step = std::min(remaining, end - cur);
        ExtractPlain(dst, cur, cur + step, c, false, (out - cur) + offset);
        const float left = remaining - step;
        cur += step;
        if (cur >= end)
        {
            if (!repeats)
            {
                if (left > 0.0f) AppendValuesAt(*this, dst, end, to + offset, c);
                loop->position = end;
                return;
            }
            cur = loop->start;
            c->segment = 0;
        }
        // The second test stops a period so long that a step no longer shortens it.
        if (left <= 0.0f || (step > 0.0f && !(left < remaining)))
        {
            loop->position = cur;
            return;
        }
        remaining = left;
        out += step;
    }
}

void Envelope::ExtractYRange(Envelope* dst, long first, long last) const
{
    const long n = points.Size();
    for (long i = 0; i < n; ++i)
    {
        const Breakpoint& p = points[i];
        Breakpoint* q = dst->points.Add();
        q->time = p.time;
        long k = 0;
        if (first >= 0) k = std::max(0L, std::min({last - first + 1, q->numValues, p.numValues - first}));
        std::copy(p.values + (k > 0 ? first : 0), p.values + (k > 0 ? first : 0) + k, q->values);
        std::fill(q->values + k, q->values + q->numValues, 0.0f);
    }
}

namespace
{
// Value k of the line through p0 and p1 at time t.
inline float Interpolate(const Breakpoint& p0, const Breakpoint& p1, float t, long k)
{
    const float dt = p1.time - p0.time;
    if (!(dt > 0.0f)) return p1.values[k];
    return (t - p0.time) * ((p1.values[k] - p0.values[k]) / dt) + p0.values[k];
}

// The merge of both time grids. Outside its own span an envelope holds its first or last
// values; an empty envelope counts as zero everywhere.
template <typename Op> void Combine(const Envelope& a, const Envelope& b, Envelope& out, Op op)
{
    out.Clear();
    const long na = a.Size();
    const long nb = b.Size();
    const long n = std::min({a.numValues, b.numValues, out.numValues});
    auto emit = [&](float time)
    {
        Breakpoint* p = out.points.Add();
        p->time = time;
        std::fill(p->values + n, p->values + p->numValues, 0.0f);
        return p->values;
    };
    if (na == 0 || nb == 0)
    {
        const Envelope& e = na == 0 ? b : a;
        for (long i = 0; i < e.Size(); ++i)
        {
            float* v = emit(e[i].time);
            for (long k = 0; k < n; ++k)
                v[k] = na == 0 ? op(0.0f, e[i].values[k]) : op(e[i].values[k], 0.0f);
        }
        return;
    }
    long i = 0;
    long j = 0;
    while (i < na || j < nb)
    {
        if (j >= nb)
        {
            const Breakpoint& pa = a[i++];
            const Breakpoint& pb = b[nb - 1];
            float* v = emit(pa.time);
            for (long k = 0; k < n; ++k)
                v[k] = op(pa.values[k], pb.values[k]);
        }
        else if (i >= na)
        {
            const Breakpoint& pa = a[na - 1];
            const Breakpoint& pb = b[j++];
            float* v = emit(pb.time);
            for (long k = 0; k < n; ++k)
                v[k] = op(pa.values[k], pb.values[k]);
        }
        else if (a[i].time == b[j].time)
        {
            const Breakpoint& pa = a[i++];
            const Breakpoint& pb = b[j++];
            float* v = emit(pa.time);
            for (long k = 0; k < n; ++k)
                v[k] = op(pa.values[k], pb.values[k]);
        }
        else if (b[j].time > a[i].time)
        {
            const Breakpoint& pa = a[i++];
            float* v = emit(pa.time);
            for (long k = 0; k < n; ++k)
                v[k] = op(pa.values[k], j > 0 ? Interpolate(b[j - 1], b[j], pa.time, k) : b[0].values[k]);
        }
        else
        {
            const Breakpoint& pb = b[j++];
            float* v = emit(pb.time);
            for (long k = 0; k < n; ++k)
                v[k] = op(pb.values[k], i > 0 ? Interpolate(a[i - 1], a[i], pb.time, k) : a[0].values[k]);
        }
    }
}
} // namespace

void Envelope::Multiply(const Envelope& a, const Envelope& b, Envelope& out)
{
    Combine(a, b, out, [](float x, float y) { return x * y; });
}

void Envelope::Add(const Envelope& a, const Envelope& b, Envelope& out)
{
    Combine(a, b, out, [](float x, float y) { return x + y; });
}

Envelope& Envelope::operator*=(const Envelope& other)
{
    if (scratch)
    {
        Multiply(*this, other, *scratch);
        *this = *scratch;
    }
    return *this;
}

Envelope& Envelope::operator+=(const Envelope& other)
{
    if (scratch)
    {
        Add(*this, other, *scratch);
        *this = *scratch;
    }
    return *this;
}

void Envelope::ShiftTime(float dt)
{
    for (long i = 0; i < points.Size(); ++i)
        points[i].time += dt;
}

void Envelope::ScaleTimes(float f)
{
    for (long i = 0; i < points.Size(); ++i)
        points[i].time = std::trunc(f * points[i].time);
}

void Envelope::ScaleToDuration(float d)
{
    const float duration = GetDuration();
    if (duration == 0.0f) return;
    ScaleTimes(d / duration);
}

void Envelope::ClipValues(float lo, float hi)
{
    for (long i = 0; i < points.Size(); ++i)
    {
        float* v = points[i].values;
        for (long k = 0; k < numValues; ++k)
        {
            if (v[k] < lo)
                v[k] = lo;
            else if (v[k] > hi)
                v[k] = hi;
        }
    }
}

void Envelope::ScaleY(long index, float f)
{
    for (long i = 0; i < points.Size(); ++i)
        points[i].values[index] *= f;
}

void Envelope::ScaleYs(float f)
{
    for (long i = 0; i < points.Size(); ++i)
    {
        float* v = points[i].values;
        for (long k = 0; k < numValues; ++k)
            v[k] *= f;
    }
}

float Envelope::GetPeakY(long index, long* at) const
{
    float peak = 0.0f;
    long where = 0;
    for (long i = 0; i < points.Size(); ++i)
    {
        const float v = points[i].values[index];
        if (std::fabs(v) > std::fabs(peak))
        {
            peak = v;
            where = i;
        }
    }
    if (at) *at = where;
    return peak;
}

void Envelope::SetPeakY(long index, float peak)
{
    const float current = GetPeakY(index, nullptr);
    if (current != 0.0f)
        ScaleY(index, peak / current);
    else
        for (long i = 0; i < points.Size(); ++i)
            points[i].values[index] = peak;
}

void Envelope::CreateEnvelope(float startValue, float endValue, float startTime, float endTime, float curve)
{
    const float dur = endTime - startTime;
    const float span = std::fabs(endValue - startValue);
    AddBreakpoint(startTime, startValue);
    // A curve of 0 is a straight line: the two ends say it all.
    if (curve != 0.0f && std::isfinite(curve))
    {
        const float raw = 1000.0f / std::fabs(curve);
        // Floats from 2^23 up are whole numbers already. A curve steeper than 2000 would round
        // the spacing to 0; one time unit is the finest.
        const float spacing = std::max(raw < 8388608.0f ? Round(raw) : raw, 1.0f);
        const bool rising = endValue >= startValue;
        for (long k = 1;; ++k)
        {
            // k times the whole-number spacing: the running sum, without its stall past 2^24.
            const float x = static_cast<float>(static_cast<double>(spacing) * static_cast<double>(k));
            if (!(x < dur)) break;
            const double shaped =
                rising ? std::pow(static_cast<double>(x / dur), static_cast<double>(curve))
                       : std::pow(static_cast<double>(1.0f - x / dur), static_cast<double>(curve));
            const double base = rising ? startValue : endValue;
            AddBreakpoint(startTime + x, static_cast<float>(shaped * span + base));
        }
    }
    AddBreakpoint(startTime + dur, endValue);
}

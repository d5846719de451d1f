#include "dsp/Envelope.h"
#include "framework/Streams.h"

#include <algorithm>
#include <cmath>
#include <utility>

// ---------------------------------------------------------------------------------------------
// Breakpoint

Breakpoint::~Breakpoint()
{
    Release();
}

void Breakpoint::Reallocate(long n)
{
    if (n <= 0)
    {
        Release();
        values = nullptr;
        numValues = 0;
        return;
    }
    float* fresh = n <= kLocalValues ? local : new float[static_cast<size_t>(n)];
    Release();
    values = fresh;
    numValues = n;
}

Breakpoint& Breakpoint::operator=(const Breakpoint& other)
{
    if (this != &other)
    {
        Init(other.numValues);
        std::copy(other.values, other.values + other.numValues, values);
        time = other.time;
    }
    return *this;
}

// ---------------------------------------------------------------------------------------------
// BreakpointList

namespace
{
constexpr long kInitialCapacity = 8;
constexpr long kGrowStep = 256;
} // namespace

BreakpointList::BreakpointList() : items(kInitialCapacity), capacity(kInitialCapacity) {}

Breakpoint* BreakpointList::MakeBlock(long k)
{
    std::unique_ptr<Breakpoint[]> block(new Breakpoint[static_cast<size_t>(k)]);
    blocks.reserve(blocks.size() + 1);
    blocks.push_back(std::move(block));
    return blocks.back().get();
}

void BreakpointList::Init(long n)
{
    valuesPerPoint = n;
    const long empty = static_cast<long>(std::count(items.begin(), items.end(), nullptr));
    if (empty > 0)
    {
        Breakpoint* fresh = MakeBlock(empty);
        for (auto& slot : items)
            if (!slot) slot = fresh++;
    }
    for (Breakpoint* p : items)
        p->Init(n);
}

void BreakpointList::Grow()
{
    // The new points are made first, so a failed allocation leaves the list as it was.
    items.reserve(items.size() + static_cast<size_t>(kGrowStep));
    blocks.reserve(blocks.size() + 1);
    std::unique_ptr<Breakpoint[]> block(new Breakpoint[static_cast<size_t>(kGrowStep)]);
    for (long k = 0; k < kGrowStep; ++k)
        block[static_cast<size_t>(k)].Init(valuesPerPoint);
    for (long k = 0; k < kGrowStep; ++k)
        items.push_back(&block[static_cast<size_t>(k)]);
    blocks.push_back(std::move(block));
    capacity += kGrowStep;
}

void BreakpointList::Reserve(long n)
{
    while (capacity < n)
        Grow();
}

Breakpoint* BreakpointList::MakeSpare()
{
    if (count == capacity) Grow();
    Breakpoint*& slot = items[static_cast<size_t>(count)];
    if (!slot)
    {
        slot = MakeBlock(1);
        slot->Init(valuesPerPoint);
    }
    return slot;
}

Breakpoint* BreakpointList::Add(float t, const float* src)
{
    Breakpoint* p = Add();
    p->time = t;
    p->SetYs(src);
    return p;
}

Breakpoint* BreakpointList::Add(float t, float v)
{
    Breakpoint* p = Add();
    p->time = t;
    p->SetYs(v);
    return p;
}

Breakpoint* BreakpointList::Add(const Breakpoint& p)
{
    // p may be a spare point of this very pool (the one Add hands out): copy through a safe path.
    Breakpoint* q = TakeSpare();
    if (q != &p) *q = p;
    ++count;
    return q;
}

Breakpoint* BreakpointList::Insert(long i)
{
    TakeSpare();
    i = std::clamp(i, 0L, count);
    auto first = items.begin() + i;
    auto last = items.begin() + count + 1;
    std::rotate(first, last - 1, last);
    ++count;
    return items[static_cast<size_t>(i)];
}

Breakpoint* BreakpointList::Insert(long i, const Breakpoint& p)
{
    Breakpoint* q = Insert(i);
    if (q != &p) *q = p;
    return q;
}

void BreakpointList::Remove(long i)
{
    if (i < 0 || i >= count) return;
    // The removed point goes back to the pool in the slot past the last point in use.
    auto first = items.begin() + i;
    auto last = items.begin() + count;
    std::rotate(first, first + 1, last);
    --count;
    items[static_cast<size_t>(count)]->Init(valuesPerPoint);
}

void BreakpointList::RemoveDuplicates()
{
    if (count < 2) return;
    auto same = [this](const Breakpoint& a, const Breakpoint& b)
    {
        if (!(a.time == b.time)) return false;
        const long n = std::min({valuesPerPoint, a.numValues, b.numValues});
        for (long k = 0; k < n; ++k)
            if (!(a.values[k] == b.values[k])) return false;
        return true;
    };
    // Each point is compared with the last one kept; the dropped ones move behind the kept ones.
    long kept = 0;
    for (long r = 1; r < count; ++r)
    {
        if (same(*items[static_cast<size_t>(kept)], *items[static_cast<size_t>(r)])) continue;
        ++kept;
        if (kept != r) std::swap(items[static_cast<size_t>(kept)], items[static_cast<size_t>(r)]);
    }
    for (long k = kept + 1; k < count; ++k)
        items[static_cast<size_t>(k)]->Init(valuesPerPoint);
    count = kept + 1;
}

// ---------------------------------------------------------------------------------------------
// Envelope

Envelope::Envelope() : scratch(new Envelope(true)) {}

Envelope::Envelope(bool) {}

Envelope::Envelope(int n) : Envelope()
{
    Init(n);
}

Envelope::Envelope(const Envelope& src)
{
    if (src.scratch) scratch = new Envelope(true);
    Init(src.numValues);
    Reserve(src.Size());
    *this = src;
}

Envelope::~Envelope()
{
    delete scratch;
}

void Envelope::Init(long n)
{
    n = std::max(n, 0L);
    numValues = n;
    points.Init(n);
    if (scratch) scratch->Init(n);
}

void Envelope::Reserve(long n)
{
    points.Reserve(n);
    if (scratch) scratch->Reserve(n);
}

float Envelope::GetDuration() const
{
    const long n = points.Size();
    if (n == 0) return 0.0f;
    return points[n - 1].time - points[0].time;
}

namespace
{
// The segment search shared by both evaluations: the index of the point whose values are the
// result, or -1 with *seg the start of the segment to interpolate in.
long FindSegment(const BreakpointList& points, float t, long* seg)
{
    const long n = points.Size();
    long s = std::max(*seg, 0L);
    while (s < n - 1)
    {
        const Breakpoint& a = points[s];
        const Breakpoint& b = points[s + 1];
        if (a.time == t)
        {
            *seg = s;
            return s;
        }
        if (b.time == t)
        {
            *seg = s;
            return s + 1;
        }
        if (a.time < t && t < b.time)
        {
            *seg = s;
            return -1;
        }
        ++s;
    }
    *seg = n - 1;
    return n - 1;
}
} // namespace

float Envelope::ValueAtTime(float t, long index, EnvelopeContext* ctx, bool zeroOutside) const
{
    const long n = points.Size();
    if (n == 0) return 0.0f;
    if (n == 1)
    {
        const Breakpoint& p = points[0];
        if (p.time == t || !zeroOutside) return p.values[index];
        return 0.0f;
    }
    long seg = ctx ? ctx->segment : 0;
    const long at = FindSegment(points, t, &seg);
    if (ctx) ctx->segment = seg;
    if (at >= 0) return points[at].values[index];
    const Breakpoint& a = points[seg];
    const Breakpoint& b = points[seg + 1];
    const float av = a.values[index];
    return (t - a.time) * ((b.values[index] - av) / (b.time - a.time)) + av;
}

void Envelope::ValuesAtTime(float t, float* out, EnvelopeContext* ctx, bool zeroOutside) const
{
    const long n = points.Size();
    if (n == 0)
    {
        std::fill(out, out + numValues, 0.0f);
        return;
    }
    if (n == 1)
    {
        const Breakpoint& p = points[0];
        if (p.time == t || !zeroOutside)
            std::copy(p.values, p.values + numValues, out);
        else
            std::fill(out, out + numValues, 0.0f);
        return;
    }
    long seg = ctx ? ctx->segment : 0;
    const long at = FindSegment(points, t, &seg);
    if (ctx) ctx->segment = seg;
    if (at >= 0)
    {
        std::copy(points[at].values, points[at].values + numValues, out);
        return;
    }
    const Breakpoint& a = points[seg];
    const Breakpoint& b = points[seg + 1];
    const float dt = b.time - a.time;
    const float x = t - a.time;
    for (long k = 0; k < numValues; ++k)
        out[k] = a.values[k] + (b.values[k] - a.values[k]) / dt * x;
}

Breakpoint* Envelope::InsertBreakpoint(float t, bool setValues, EnvelopeContext* ctx)
{
    const long n = points.Size();
    if (n == 0)
    {
        Breakpoint* p = points.Add();
        p->time = t;
        if (setValues) p->SetYs(0.0f);
        return p;
    }
    const long s = ctx ? std::max(ctx->segment, 0L) : 0;
    for (long j = s; j < n; ++j)
    {
        const float tj = points[j].time;
        if (tj == t)
        {
            long m = j;
            while (m + 1 < n && points[m + 1].time == t)
                ++m;
            Breakpoint* p = points.Insert(m + 1);
            p->time = t;
            if (setValues) p->SetYs(points[m].values);
            if (ctx) ctx->segment = m;
            return p;
        }
        if (tj > t)
        {
            Breakpoint* p = points.Insert(j);
            p->time = t;
            if (ctx) ctx->segment = j;
            if (setValues)
            {
                if (j > 0)
                {
                    const Breakpoint& prev = points[j - 1];
                    const Breakpoint& next = points[j + 1];
                    const float dt = next.time - prev.time;
                    for (long k = 0; k < numValues; ++k)
                        p->values[k] = dt != 0.0f ? prev.values[k] + (next.values[k] - prev.values[k]) / dt *
                                                                         (t - prev.time)
                                                  : prev.values[k];
                }
                else if (n >= 2)
                    p->SetYs(points[1].values);
                else
                    p->SetYs(0.0f); // a single point is not copied
            }
            return p;
        }
    }
    Breakpoint* p = points.Add();
    p->time = t;
    if (ctx) ctx->segment = n;
    if (setValues) p->SetYs(points[n - 1].values);
    return p;
}

Breakpoint* Envelope::FindBreakpointAtTime(float t)
{
    for (long i = 0; i < points.Size(); ++i)
        if (points[i].time == t) return &points[i];
    return nullptr;
}

Envelope& Envelope::operator=(const Envelope& src)
{
    if (this == &src) return *this;
    Clear();
    const long n = src.points.Size();
    const long common = std::min(numValues, src.numValues);
    for (long i = 0; i < n; ++i)
    {
        const Breakpoint& s = src.points[i];
        Breakpoint* p = points.Add();
        p->Init(numValues);
        p->time = s.time;
        const long k = std::min(common, s.numValues);
        std::copy(s.values, s.values + k, p->values);
        std::fill(p->values + k, p->values + numValues, 0.0f);
    }
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Envelope chunk: f32 version 1.0, long point count, long values per point, then per point its
// time and its values.

namespace
{
constexpr long kMaxStoredValues = 64;
}

bool Envelope::Save(Writer& w) const
{
    const long n = points.Size();
    w.Write(1.0f);
    w.Write(n);
    w.Write(numValues);
    for (long i = 0; i < n; ++i)
    {
        const Breakpoint& p = points[i];
        w.Write(p.time);
        for (long k = 0; k < numValues; ++k)
            w.Write(k < p.numValues ? p.values[k] : 0.0f);
    }
    return !w.Failed();
}

bool Envelope::Load(Reader& r)
{
    float version = 0.0f;
    long count = 0;
    long stored = 0;
    if (!r.Read(&version) || !r.Read(&count) || !r.Read(&stored)) return false;
    if (stored < 1 || stored > kMaxStoredValues) return false;
    const long n = std::max(count, 0L);
    const size_t perPoint = sizeof(float) * static_cast<size_t>(1 + stored);
    if (static_cast<size_t>(n) > r.Remaining() / perPoint) return false;

    // Everything is read and checked before the envelope changes.
    std::vector<float> data(static_cast<size_t>(n) * static_cast<size_t>(1 + stored));
    for (float& f : data)
        if (!r.Read(&f) || !std::isfinite(f)) return false;

    if (stored != numValues) Init(stored);
    Clear();
    points.Reserve(n);
    const float* src = data.data();
    for (long i = 0; i < n; ++i, src += 1 + stored)
    {
        Breakpoint* p = points.Add();
        p->Init(stored);
        p->time = src[0];
        p->SetYs(src + 1);
    }
    return true;
}

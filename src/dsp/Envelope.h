#pragma once

#include "framework/Locks.h" // LoopInfo

#include <algorithm>
#include <memory>
#include <vector>

class Writer;
class Reader;

// One breakpoint: a time and numValues values.
class Breakpoint
{
public:
    Breakpoint() = default;
    Breakpoint(const Breakpoint&) = delete;
    virtual ~Breakpoint();

    // Keeps the array when it already holds n values; otherwise makes a new one (contents unset).
    void Init(long n)
    {
        if (!values || numValues != n) Reallocate(n);
    }
    void SetYs(float v) { std::fill(values, values + numValues, v); }
    void SetYs(const float* src) { std::copy(src, src + numValues, values); } // copies numValues floats
    // Takes other's value count, values and time.
    Breakpoint& operator=(const Breakpoint& other);

    float time = 0.0f;
    float* values = nullptr;
    long numValues = 0;

private:
    void Reallocate(long n);
    void Release()
    {
        if (values != local) delete[] values;
    }

    // The values of a point with at most four live in the point itself: one allocation less,
    // and they share the point's cache line.
    static constexpr long kLocalValues = 4;
    float local[kLocalValues];
};

// A pool of breakpoints. Points never move in memory: a pointer to a point stays valid while
// the point is in the list and across growth. Spare points past Size() keep their last time and
// values; whoever takes one from the pool sets them.
class BreakpointList
{
public:
    BreakpointList();
    BreakpointList(const BreakpointList&) = delete;
    BreakpointList& operator=(const BreakpointList&) = delete;
    ~BreakpointList() = default;

    // Every pooled point gets n values (empty slots get new points).
    void Init(long n);
    // Grows the pool (in the usual steps of 256) until it holds at least n points, so that
    // the next operations up to n points allocate nothing.
    void Reserve(long n);

    // Stale time and values.
    Breakpoint* Add()
    {
        Breakpoint* p = TakeSpare();
        ++count;
        return p;
    }
    Breakpoint* Add(float t, const float* src);
    Breakpoint* Add(float t, float v);
    Breakpoint* Add(const Breakpoint& p); // becomes a copy of p
    Breakpoint* Insert(long i);           // stale time and values
    Breakpoint* Insert(long i, const Breakpoint& p);
    void Remove(long i);
    void Clear() { count = 0; }
    // Removes every point that repeats its predecessor's time and values.
    void RemoveDuplicates();

    long Size() const { return count; }
    long Capacity() const { return capacity; }
    long ValuesPerPoint() const { return valuesPerPoint; }
    Breakpoint& operator[](long i) { return *items[i]; }
    const Breakpoint& operator[](long i) const { return *items[i]; }

private:
    void Grow();
    // The point in slot count, made when the slot is empty. Inline: envelopes are rebuilt point
    // by point for every voice in every block.
    Breakpoint* TakeSpare()
    {
        if (count < capacity)
            if (Breakpoint* p = items[static_cast<size_t>(count)]) return p;
        return MakeSpare();
    }
    // TakeSpare when the pool is full or the slot empty.
    Breakpoint* MakeSpare();

    // k new points owned by the list, made in one run so that neighbours lie together in memory.
    Breakpoint* MakeBlock(long k);

    std::vector<std::unique_ptr<Breakpoint[]>> blocks; // own the points
    std::vector<Breakpoint*> items;                    // capacity slots
    long count = 0;
    long capacity = 8;
    long valuesPerPoint = 0;
};

// The cached segment of one reader walking forward through one envelope.
struct EnvelopeContext
{
    void Reset() { segment = 0; }
    long segment = 0;
};

// A time-ordered curve of breakpoints with numValues values each.
class Envelope
{
public:
    Envelope();                        // with a scratch envelope; Init before adding points
    explicit Envelope(bool noScratch); // the argument is not read: no scratch
    explicit Envelope(int n);          // with a scratch, Init(n)
    Envelope(const Envelope& src);     // same value count, scratch when src has one, same points
    virtual ~Envelope();

    void Init(long n);
    // Pre-grows the pools of this envelope and its scratch to n points.
    void Reserve(long n);

    long Size() const { return points.Size(); }
    Breakpoint& operator[](long i) { return points[i]; }
    const Breakpoint& operator[](long i) const { return points[i]; }
    BreakpointList& GetBreakpoints() { return points; }
    const BreakpointList& GetBreakpoints() const { return points; }
    void Clear() { points.Clear(); }

    Breakpoint* AddBreakpoint() { return points.Add(); }
    Breakpoint* AddBreakpoint(float t, float v) { return points.Add(t, v); }

    float GetDuration() const;

    float ValueAtTime(float t, long index, EnvelopeContext* ctx, bool zeroOutside) const;
    void ValuesAtTime(float t, float* out, EnvelopeContext* ctx, bool zeroOutside) const;

    Breakpoint* InsertBreakpoint(float t, bool setValues, EnvelopeContext* ctx);
    void DeleteBreakpoint(long i) { points.Remove(i); }
    Breakpoint* FindBreakpointAtTime(float t);

    // Copies the points; the value count stays this envelope's own.
    Envelope& operator=(const Envelope& src);

    bool Save(Writer& w) const;
    // False, with the envelope unchanged, when the chunk is truncated, holds a value count
    // outside 1..64 or a number that is not finite.
    bool Load(Reader& r);

    // Cutting, combining and shaping.
    void ExtractTimePeriod(Envelope* dst, float from, float to, EnvelopeContext* ctx, bool zeroOutside,
                           LoopInfo* loop, float offset) const;
    void ExtractYRange(Envelope* dst, long first, long last) const;
    static void Multiply(const Envelope& a, const Envelope& b, Envelope& out);
    static void Add(const Envelope& a, const Envelope& b, Envelope& out);
    // In place through the scratch envelope; an envelope without a scratch is left unchanged.
    Envelope& operator*=(const Envelope& other);
    Envelope& operator+=(const Envelope& other);
    void ShiftTime(float dt);
    void ScaleTimes(float f);
    void ScaleToDuration(float d);
    void ClipValues(float lo, float hi);
    void ScaleY(long index, float f);
    void ScaleYs(float f);
    float GetPeakY(long index, long* at) const;
    void SetPeakY(long index, float peak);
    void CreateEnvelope(float startValue, float endValue, float startTime, float endTime, float curve);
    void RemoveDuplicates() { points.RemoveDuplicates(); }

    BreakpointList points;
    long numValues = 0;
    Envelope* scratch = nullptr; // owned; holds the intermediate result of *= and +=

private:
    void ExtractPlain(Envelope* dst, float from, float to, EnvelopeContext* ctx, bool zeroOutside,
                      float offset) const;
    void ExtractLooped(Envelope* dst, float from, float to, EnvelopeContext* ctx, LoopInfo* loop,
                       float offset) const;
};

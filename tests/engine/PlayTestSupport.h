#pragma once

// Helpers of the tests that play the instrument: finding notes, rendering, measuring tones.

#include "engine/TNote.h"
#include "engine/Torvane.h"
#include "support/engine/HeadlessHost.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace play
{

// The first note of the pool sounding `key` (any state but free), or null.
inline TNote* NoteFor(Torvane& t, int key)
{
    for (int i = 0; i < t.GetPoolSize(); ++i)
    {
        TNote* n = t.GetTNote(i);
        if (n->GetState() != TNote::kFree && n->GetPitch() == key) return n;
    }
    return nullptr;
}

inline int BusyNotes(Torvane& t)
{
    int busy = 0;
    for (int i = 0; i < t.GetPoolSize(); ++i)
        if (t.GetTNote(i)->GetState() != TNote::kFree) ++busy;
    return busy;
}

// Renders `frames` through the host in blocks of `block`; returns both channels.
struct Stereo
{
    std::vector<float> left;
    std::vector<float> right;
};

inline Stereo RenderHost(HeadlessHost& host, long frames, long block = 512)
{
    Stereo out;
    for (long done = 0; done < frames; done += block)
    {
        host.Render(std::min(block, frames - done));
        out.left.insert(out.left.end(), host.Left().begin(), host.Left().end());
        out.right.insert(out.right.end(), host.Right().begin(), host.Right().end());
    }
    return out;
}

// Renders straight through the instrument (no adapter): zeroed buffers, one call.
inline Stereo RenderDirect(Torvane& t, long frames)
{
    Stereo out;
    out.left.assign(static_cast<size_t>(frames), 0.0f);
    out.right.assign(static_cast<size_t>(frames), 0.0f);
    t.Render(out.left.data(), out.right.data(), frames, 0);
    return out;
}

// Amplitude of the component at `freq` Hz (Goertzel, in double).
inline double ToneAmplitude(std::vector<float> const& x, size_t from, size_t count, double freq, double rate)
{
    const double w = 2.0 * M_PI * freq / rate;
    const double c = 2.0 * std::cos(w);
    double s1 = 0.0;
    double s2 = 0.0;
    for (size_t i = from; i < from + count; ++i)
    {
        const double s0 = static_cast<double>(x[i]) + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double re = s1 - s2 * std::cos(w);
    const double im = s2 * std::sin(w);
    return 2.0 * std::sqrt(re * re + im * im) / static_cast<double>(count);
}

inline float Peak(Stereo const& s)
{
    float p = 0.0f;
    for (float v : s.left)
        p = std::max(p, std::fabs(v));
    for (float v : s.right)
        p = std::max(p, std::fabs(v));
    return p;
}

// One breakpoint at time 0 holding `values` (the line is cleared first).
inline void SetFlatLine(Envelope& line, std::vector<float> const& values)
{
    line.Clear();
    Breakpoint* b = line.AddBreakpoint();
    b->time = 0.0f;
    for (long i = 0; i < line.numValues; ++i)
        b->values[i] = values[static_cast<size_t>(i)];
}

} // namespace play

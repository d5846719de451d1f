#pragma once

// Helpers of the tests that play the instrument: finding notes, rendering, measuring tones.

#include "engine/TNote.h"
#include "engine/Torvane.h"
#include "support/AudioChecks.h"
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
    return audio::ToneAmplitude(x.data() + from, count, freq, rate);
}

inline float Peak(Stereo const& s)
{
    return std::max(audio::Peak(s.left), audio::Peak(s.right));
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

// The editor's operations on the layer definitions that the voices read every block: copies of
// the lines and the loop region for drawing, and changes made under the plug-in mutex.

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/Torvane.h"

namespace
{

bool ValidLine(int line)
{
    return line >= 0 && line < VoiceDef::kNumLines;
}

// A time as the timeline keeps it: whole units, never below 0.
float TimelineTime(float time)
{
    return std::max(0.0f, std::trunc(time));
}

// Whether a snapshot's lines can take the layer's lines as they are.
bool Shaped(Torvane::TimelineSnapshot const& s)
{
    if (s.lines.size() != static_cast<std::size_t>(VoiceDef::kNumLines)) return false;
    for (int i = 0; i < VoiceDef::kNumLines; ++i)
    {
        if (s.lines[static_cast<std::size_t>(i)].numValues != NUM_EVENTS_IN_EVENTTYPE[i]) return false;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Lines and loop region

Torvane::TimelineSnapshot::TimelineSnapshot()
{
    lines.reserve(VoiceDef::kNumLines);
    for (int i = 0; i < VoiceDef::kNumLines; ++i)
    {
        // No scratch: the copy is only read.
        lines.emplace_back(true);
        lines.back().Init(NUM_EVENTS_IN_EVENTTYPE[i]);
    }
}

bool Torvane::CopyTimeline(int voice, TimelineSnapshot& out)
{
    if (voice < -1 || voice >= kNumLayers) return false;
    if (!Shaped(out)) out = TimelineSnapshot();
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    VoiceDef const& def = voiceDefs[layer];
    for (int i = 0; i < VoiceDef::kNumLines; ++i)
        out.lines[static_cast<std::size_t>(i)] = def.lines[i];
    out.layer = layer;
    out.looping = def.loop.looping;
    out.loopStart = def.loop.start;
    out.loopEnd = def.loop.end;
    return true;
}

bool Torvane::GetLoopFlag(int voice)
{
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return false;
    return voiceDefs[layer].loop.looping;
}

void Torvane::SetLoopFlag(int voice, bool looping)
{
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return;
    voiceDefs[layer].loop.looping = looping;
}

float Torvane::SetLoopStart(int voice, float time)
{
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return 0.0f;
    LoopInfo& loop = voiceDefs[layer].loop;
    if (std::isfinite(time)) loop.start = std::max(0.0f, std::min(TimelineTime(time), loop.end));
    return loop.start;
}

float Torvane::SetLoopEnd(int voice, float time)
{
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return 0.0f;
    LoopInfo& loop = voiceDefs[layer].loop;
    if (std::isfinite(time)) loop.end = std::max(TimelineTime(time), loop.start);
    return loop.end;
}

bool Torvane::SetLoopRegion(int voice, float start, float end)
{
    if (!std::isfinite(start) || !std::isfinite(end)) return false;
    start = TimelineTime(start);
    end = TimelineTime(end);
    if (end < start) return false;
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    if (layer < 0) return false;
    voiceDefs[layer].loop.start = start;
    voiceDefs[layer].loop.end = end;
    return true;
}

long Torvane::CreateBreakpoint(int voice, int line, float time, std::optional<float> firstValue)
{
    if (!ValidLine(line) || !std::isfinite(time) || (firstValue && !std::isfinite(*firstValue))) return -1;
    float const t = TimelineTime(time);
    AudioAPI::Lock hold(GetMutex());
    int const layer = ResolveLayer(voice);
    Breakpoint* p = CreateEventBreakpoint(t, layer, line, nullptr, false);
    if (p == nullptr) return -1;
    if (firstValue) p->values[0] = *firstValue;
    EventEnvelope const& points = voiceDefs[layer].lines[line];
    for (long i = 0; i < points.Size(); ++i)
    {
        if (&points[i] == p) return i;
    }
    return -1;
}

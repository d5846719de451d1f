// The timeline editor's changes to single breakpoints and to a selection of many.
//
// Every operation checks its layer, line and breakpoint indices and ignores a call that names
// something that isn't there. Lines are changed under the plug-in mutex (the notes read them
// every block); the editor is told afterwards, with the mutex free.

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <unordered_set>

#include "engine/Torvane.h"
#include "framework/StandardMaths.h"

namespace
{

bool ValidLine(int line)
{
    return line >= 0 && line < VoiceDef::kNumLines;
}

// The line's position of a breakpoint, or -1.
long IndexOf(Envelope const& line, Breakpoint const* p)
{
    for (long i = 0; i < line.Size(); ++i)
    {
        if (&line[i] == p) return i;
    }
    return -1;
}

// Puts the line back in time order by swapping the contents of neighbours; points with equal
// times keep their order.
void SortByTime(Envelope& line)
{
    long const n = line.Size();
    if (n < 2) return;
    Breakpoint temp;
    bool swapped = true;
    while (swapped)
    {
        swapped = false;
        for (long i = 0; i + 1 < n; ++i)
        {
            if (line[i].time > line[i + 1].time)
            {
                temp = line[i];
                line[i] = line[i + 1];
                line[i + 1] = temp;
                swapped = true;
            }
        }
    }
}

// Each record with one breakpoint of its own: the first matching point that no earlier record
// has taken, or null. Two records of equal points so get one point each.
std::vector<Breakpoint*> PairRecords(Torvane& instrument, std::vector<MultipleSelectionBreakpoint>& sel)
{
    std::vector<Breakpoint*> pairs;
    pairs.reserve(sel.size());
    std::unordered_set<Breakpoint*> taken;
    for (MultipleSelectionBreakpoint& record : sel)
    {
        Breakpoint* chosen = nullptr;
        for (Breakpoint* p : instrument.FindEventBreakpoints(&record))
        {
            if (taken.insert(p).second)
            {
                chosen = p;
                break;
            }
        }
        pairs.push_back(chosen);
    }
    return pairs;
}

} // namespace

void Torvane::RefreshEditingParameters()
{
    if (HasGUI()) PostEditorRequests(kEditorRefreshParameters);
}

void Torvane::GUIClosed()
{
    {
        AudioAPI::Lock hold(GetMutex());
        SetMultipleSelection(nullptr);
        followedNote = nullptr;
    }
    InstrumentBase::GUIClosed();
}

// ---------------------------------------------------------------------------------------------
// Single breakpoints

float Torvane::SetEventTime(int voice, int line, int index, float time)
{
    if (voice < 0 || voice >= kNumLayers || !ValidLine(line) || index < 0 || !std::isfinite(time))
        return 0.0f;
    // Whole samples; the first point stays at 0.
    float t = Round(time);
    if (index == 0 || t < 0.0f) t = 0.0f;

    AudioAPI::Lock hold(GetMutex());
    EventEnvelope& points = voiceDefs[voice].lines[line];
    if (index >= points.Size()) return 0.0f;
    // A point never passes its neighbours.
    if (index > 0 && points[index - 1].time > t) t = points[index - 1].time;
    if (index + 1 < points.Size() && t > points[index + 1].time) t = points[index + 1].time;
    points[index].time = t;
    MarkEditedByEditor();
    return t;
}

void Torvane::DeleteEvent(int voice, int line, long index)
{
    if (voice < 0 || voice >= kNumLayers || !ValidLine(line) || index <= 0) return;
    {
        AudioAPI::Lock hold(GetMutex());
        EventEnvelope& points = voiceDefs[voice].lines[line];
        if (index >= points.Size()) return;
        points.DeleteBreakpoint(index);
        MarkEditedByEditor();
    }
    PostEditorRequests(kEditorUpdateAll | kEditorRefreshParameters);
}

void Torvane::NextBreakpoint(int line)
{
    if (!ValidLine(line)) return;
    float target = 0.0f;
    {
        AudioAPI::Lock hold(GetMutex());
        EventEnvelope const& points = voiceDefs[currentVoice].lines[line];
        if (points.Size() < 2 || editTime >= points.GetDuration()) return;
        long i = 0;
        while (i < points.Size() && points[i].time <= editTime)
            ++i;
        if (i == points.Size()) return;
        target = points[i].time;
    }
    SetEditTime(target);
}

void Torvane::PrevBreakpoint(int line)
{
    if (!ValidLine(line)) return;
    float target = 0.0f;
    {
        AudioAPI::Lock hold(GetMutex());
        EventEnvelope const& points = voiceDefs[currentVoice].lines[line];
        long const n = points.Size();
        if (n == 0 || (n > 1 && editTime == 0.0f)) return;
        if (n > 1)
        {
            float const duration = points.GetDuration();
            if (editTime > duration)
                target = duration;
            else
            {
                long i = 0;
                while (i < n && points[i].time < editTime)
                    ++i;
                // Nothing before the first point: the start of the line.
                target = i > 0 ? points[i - 1].time : 0.0f;
            }
        }
    }
    SetEditTime(target);
}

void Torvane::CopyAll(int voice)
{
    int const layer = ResolveLayer(voice);
    if (layer < 0) return;
    AudioAPI::Lock hold(GetMutex());
    // The Amplitude line is not copied.
    for (int line = 1; line < VoiceDef::kNumLines; ++line)
    {
        EventEnvelope const& points = voiceDefs[layer].lines[line];
        Breakpoint& slot = copyBuffer[line];
        if (points.numValues == slot.numValues) points.ValuesAtTime(editTime, slot.values, nullptr, false);
    }
    copyBufferFull = true;
}

void Torvane::Paste(int voice, int line)
{
    // Lines 1-5 only: nothing was copied for the Amplitude line.
    int const layer = ResolveLayer(voice);
    if (layer < 0 || line < 1 || line >= VoiceDef::kNumLines) return;
    {
        AudioAPI::Lock hold(GetMutex());
        if (!copyBufferFull) return;
        Breakpoint* p = CreateEventBreakpoint(editTime, layer, line, nullptr, false);
        if (p == nullptr) return;
        Breakpoint const& copied = copyBuffer[line];
        if (p->numValues == copied.numValues) p->SetYs(copied.values);
        p->time = editTime;
        MarkEditedByEditor();
    }
    RefreshEditingParameters();
}

void Torvane::PasteAll(int voice)
{
    if (!copyBufferFull) return;
    for (int line = 1; line < VoiceDef::kNumLines; ++line)
        Paste(voice, line);
}

// ---------------------------------------------------------------------------------------------
// Multiple selection

float Torvane::MultipleSelectionStartTime(std::vector<MultipleSelectionBreakpoint> const& sel)
{
    if (sel.empty()) return 0.0f;
    float start = FLT_MAX;
    for (MultipleSelectionBreakpoint const& record : sel)
        start = std::fmin(start, record.time);
    return start;
}

float Torvane::MultipleSelectionStartAtZero(std::vector<MultipleSelectionBreakpoint>& sel)
{
    float const shift = -MultipleSelectionStartTime(sel);
    if (shift == 0.0f) return 0.0f;
    for (MultipleSelectionBreakpoint& record : sel)
        record.time += shift;
    return shift;
}

void Torvane::DragSelection(std::vector<MultipleSelectionBreakpoint>& sel, float dt)
{
    if (!std::isfinite(dt)) return;
    AudioAPI::Lock hold(GetMutex());
    MarkEditedByEditor();
    std::vector<Breakpoint*> const pairs = PairRecords(*this, sel);

    // No point moves below 0: a selected point at 0 stops any drag to the left.
    if (dt < 0.0f)
    {
        for (MultipleSelectionBreakpoint const& record : sel)
        {
            if (record.time >= 0.0f && record.time < -dt) dt = -record.time;
        }
    }
    for (std::size_t i = 0; i < sel.size(); ++i)
    {
        Breakpoint* p = pairs[i];
        // A point at 0 (the start of its line) never moves.
        if (p == nullptr || !(p->time > 0.0f)) continue;
        p->time = std::max(0.0f, p->time + dt);
        sel[i].time = p->time;
    }
    for (EventEnvelope& line : voiceDefs[currentVoice].lines)
        SortByTime(line);
}

void Torvane::TimeStretchSelection(std::vector<MultipleSelectionBreakpoint>& sel, float factor)
{
    if (!std::isfinite(factor)) return;
    float const start = MultipleSelectionStartTime(sel);
    AudioAPI::Lock hold(GetMutex());
    MarkEditedByEditor();
    std::vector<Breakpoint*> const pairs = PairRecords(*this, sel);
    for (std::size_t i = 0; i < sel.size(); ++i)
    {
        Breakpoint* p = pairs[i];
        // As in a drag, the start of a line (a point at 0) stays.
        if (p == nullptr || !(p->time > 0.0f)) continue;
        float const t = std::trunc((sel[i].time - start) * factor + start);
        if (!std::isfinite(t)) continue;
        sel[i].time = std::max(0.0f, t);
        p->time = sel[i].time;
    }
    for (EventEnvelope& line : voiceDefs[currentVoice].lines)
        SortByTime(line);
}

void Torvane::ChangeAmplitudeOfSelection(std::vector<MultipleSelectionBreakpoint>& sel, float delta)
{
    if (!std::isfinite(delta)) return;
    AudioAPI::Lock hold(GetMutex());
    MarkEditedByEditor();
    multipleSelection = &sel;
    std::vector<Breakpoint*> const pairs = PairRecords(*this, sel);
    auto const amplitude = [&](std::size_t i)
    { return sel[i].line == VoiceDef::kAmplitudeLine && !sel[i].values.empty() ? pairs[i] : nullptr; };

    // One change that keeps every selected amplitude within 0..1.
    for (std::size_t i = 0; i < sel.size(); ++i)
    {
        if (Breakpoint* p = amplitude(i))
        {
            float const v = p->values[0];
            if (v + delta > 1.0f)
                delta = 1.0f - v;
            else if (v + delta < 0.0f)
                delta = -v;
        }
    }
    for (std::size_t i = 0; i < sel.size(); ++i)
    {
        if (Breakpoint* p = amplitude(i))
        {
            p->values[0] += delta;
            sel[i].values[0] = p->values[0];
        }
    }
}

void Torvane::DeleteSelection(std::vector<MultipleSelectionBreakpoint>& sel)
{
    {
        AudioAPI::Lock hold(GetMutex());
        std::size_t i = 0;
        while (i < sel.size())
        {
            MultipleSelectionBreakpoint& record = sel[i];
            // The start of a line (time 0) stays, and so does its record.
            if (record.time != 0.0f)
            {
                std::vector<Breakpoint*> const matches = FindEventBreakpoints(&record);
                if (!matches.empty())
                {
                    EventEnvelope& points = voiceDefs[currentVoice].lines[record.line];
                    long const index = IndexOf(points, matches.front());
                    if (index > 0)
                    {
                        points.DeleteBreakpoint(index);
                        MarkEditedByEditor();
                        sel.erase(sel.begin() + static_cast<std::ptrdiff_t>(i));
                        continue;
                    }
                }
            }
            ++i;
        }
    }
    RefreshEditingParameters();
}

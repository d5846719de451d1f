// The editor's side of the timeline: the edit time, the layer switch, single-value reads and
// writes at the edit time, and the selection state that the editing parameters consult.

#include <cmath>
#include <utility>

#include "engine/Torvane.h"

// ---------------------------------------------------------------------------------------------
// Edit time and current layer

namespace
{
float ValidEditTime(float t)
{
    t = std::trunc(t);
    if (!std::isfinite(t) || t < 0.0f) t = 0.0f;
    return t > Torvane::kMaxEditTime ? Torvane::kMaxEditTime : t;
}
} // namespace

void Torvane::SetEditTime(float t)
{
    t = ValidEditTime(t);
    float d = 0.0f;
    {
        // A note starting on the audio thread reads the edit time under this mutex.
        AudioAPI::Lock hold(GetMutex());
        editTime = t;
        editTimeFollowed = false;
        d = voiceDefs[currentVoice].GetDuration();
    }
    {
        RefreshGuard guard(*this);
        freezePosition = d != 0.0f ? t / d : 0.0f;
    }
    PostEditorRequests(kEditorEditTime | kEditorRefreshParameters);
}

void Torvane::FollowEditTime(float t)
{
    t = ValidEditTime(t);
    {
        AudioAPI::Lock hold(GetMutex());
        editTime = t;
        editTimeFollowed = true;
    }
    PostEditorRequests(kEditorEditTime | kEditorRefreshParameters);
}

void Torvane::SetCurrentVoice(int layer)
{
    if (layer < 0 || layer >= kNumLayers) return;
    AudioAPI::Lock hold(GetMutex());
    currentVoice = layer;

    Parameter* const p = voiceDefs[layer].parameters;
    std::pair<BridgeParameter*, int> const bindings[] = {
        {&layerOnBridge, VoiceDef::kLayerOn},
        {&unisonBridge, VoiceDef::kUnisonCount},
        {&filterOnBridge, VoiceDef::kFilterOn},
        {&keyFollowBridge, VoiceDef::kCutoffFollowsNote},
        {&lfo1SyncBridge, VoiceDef::kLFO1Sync},
        {&lfo2SyncBridge, VoiceDef::kLFO2Sync},
        {&lfo1PositiveOnlyBridge, VoiceDef::kLFO1PositiveOnly},
        {&lfo2PositiveOnlyBridge, VoiceDef::kLFO2PositiveOnly},
        {&lfo1FreeRunningBridge, VoiceDef::kLFO1FreeRunning},
        {&lfo2FreeRunningBridge, VoiceDef::kLFO2FreeRunning},
        {&releaseBridge, VoiceDef::kReleaseTime},
        {&loopAfterReleaseBridge, VoiceDef::kLoopAfterRelease},
        {&tempoBridge, VoiceDef::kTimelineInTempo},
    };
    for (auto const& [bridge, index] : bindings)
        bridge->SetBridgeParameter(&p[index]);

    if (HasGUI())
    {
        PostEditorRequests(kEditorUpdateAll | kEditorRefreshParameters | kEditorDeselectBreakpoints);
        SetMultipleSelection(nullptr);
    }
}

void Torvane::ResetVoice(int layer)
{
    int const l = ResolveLayer(layer);
    if (l < 0) return;
    // Every sounding voice of the layer reads the definition each block: the default waves are
    // built outside the mutex and swapped in under it with the lines and settings.
    ResetLayers(l, l,
                [this, l](DefaultWaves& staged)
                {
                    InstallDefaultWaves(staged, l);
                    voiceDefs[l].CreateDefaultSettings();
                    MarkEditedByEditor();
                });
    PostEditorRequests(kEditorUpdateAll | kEditorRefreshParameters);
}

// ---------------------------------------------------------------------------------------------
// Single values at the edit time

namespace
{
bool ValidLine(int line)
{
    return line >= 0 && line < VoiceDef::kNumLines;
}
} // namespace

float Torvane::GetEvent(int voice, int line, int valueIndex)
{
    if (voice < 0 || voice >= kNumLayers || !ValidLine(line) || valueIndex < 0 ||
        valueIndex >= NUM_EVENTS_IN_EVENTTYPE[line])
        return 0.0f;
    AudioAPI::Lock hold(GetMutex());
    return voiceDefs[voice].lines[line].ValueAtTime(editTime, valueIndex, nullptr, false);
}

bool Torvane::SetEvent(int voice, int line, int valueIndex, float value)
{
    if (voice < 0 || voice >= kNumLayers || !ValidLine(line) || valueIndex < 0 ||
        valueIndex >= NUM_EVENTS_IN_EVENTTYPE[line])
        return false;
    AudioAPI::Lock hold(GetMutex());
    // While the editor follows a playing note the cursor moves by itself.
    if (followedNote != nullptr && animationEnabled.GetBool() && !timeFreeze.GetBool() && HasGUI())
        return false;
    bool created = false;
    Breakpoint* p = CreateEventBreakpoint(editTime, voice, line, &created, false);
    if (p == nullptr) return false;
    p->values[valueIndex] = value;
    MarkEditedByEditor();
    return created;
}

int Torvane::SetEvent(int voice, int line, int valueIndex, int index, float value)
{
    if (voice < 0 || voice >= kNumLayers || !ValidLine(line) || valueIndex < 0 ||
        valueIndex >= NUM_EVENTS_IN_EVENTTYPE[line])
        return 0;
    AudioAPI::Lock hold(GetMutex());
    // As the form above: under Time Freeze the cursor stays where the editor put it.
    if (followedNote != nullptr && animationEnabled.GetBool() && !timeFreeze.GetBool() && HasGUI()) return 0;
    EventEnvelope& points = voiceDefs[voice].lines[line];
    if (index >= 0 && index < points.Size())
    {
        points[index].values[valueIndex] = value;
        MarkEditedByEditor();
    }
    return 0;
}

Breakpoint* Torvane::CreateEventBreakpoint(float time, int voice, int line, bool* created, bool force)
{
    if (voice < 0 || voice >= kNumLayers || !ValidLine(line)) return nullptr;
    EventEnvelope& points = voiceDefs[voice].lines[line];
    for (long i = 0; i < points.Size(); ++i)
    {
        float const t = points[i].time;
        if (t == time && !force)
        {
            if (created != nullptr) *created = false;
            return &points[i];
        }
        if (t >= time) break;
    }
    if (created != nullptr) *created = true;
    return points.InsertBreakpoint(time, true, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Selection state consulted by the editing parameters

void Torvane::SetMultipleSelection(std::vector<MultipleSelectionBreakpoint>* sel)
{
    multipleSelection = sel;
    // The references are made once and cleared where they are from then on: a reset clears the
    // selection under the plug-in mutex, where nothing may be allocated.
    if (selectionReference.size() != static_cast<std::size_t>(VoiceDef::kNumLines))
    {
        selectionReference.clear();
        for (int line = 0; line < VoiceDef::kNumLines; ++line)
            selectionReference.push_back(std::make_shared<Breakpoint>());
    }
    for (int line = 0; line < VoiceDef::kNumLines; ++line)
    {
        Breakpoint& reference = *selectionReference[static_cast<std::size_t>(line)];
        reference.Init(NUM_EVENTS_IN_EVENTTYPE[line]);
        reference.time = 0.0f;
        reference.SetYs(0.0f);
    }
}

float Torvane::MultipleSelectionGetRelativeChange(int line, int valueIndex)
{
    if (!ValidLine(line) || static_cast<std::size_t>(line) >= selectionReference.size()) return 0.0f;
    Breakpoint const& reference = *selectionReference[static_cast<std::size_t>(line)];
    if (valueIndex < 0 || valueIndex >= reference.numValues) return 0.0f;
    return reference.values[valueIndex];
}

std::vector<Breakpoint*> Torvane::FindEventBreakpoints(MultipleSelectionBreakpoint* record)
{
    std::vector<Breakpoint*> found;
    if (record == nullptr || !ValidLine(record->line)) return found;
    EventEnvelope& points = voiceDefs[currentVoice].lines[record->line];
    for (long i = 0; i < points.Size(); ++i)
    {
        Breakpoint& p = points[i];
        if (p.time != record->time || static_cast<long>(record->values.size()) > p.numValues) continue;
        bool same = true;
        for (std::size_t k = 0; k < record->values.size() && same; ++k)
            same = p.values[k] == record->values[k];
        if (same) found.push_back(&p);
    }
    return found;
}

void Torvane::MultipleSelectionParameterChange(int line, int valueIndex, float value, Parameter* control)
{
    int const mode = multipleSelectionMode.GetInt();
    std::vector<MultipleSelectionBreakpoint>* const selected = multipleSelection.load();
    if (selected == nullptr || control == nullptr || !ValidLine(line) || valueIndex < 0 ||
        valueIndex >= NUM_EVENTS_IN_EVENTTYPE[line] || (mode != 1 && mode != 2))
        return;

    AudioAPI::Lock hold(GetMutex());
    MarkEditedByEditor();
    // The matches are found before anything changes: changing a value ends its match.
    std::vector<std::pair<MultipleSelectionBreakpoint*, std::vector<Breakpoint*>>> targets;
    for (MultipleSelectionBreakpoint& record : *selected)
    {
        if (record.line == line && valueIndex < static_cast<int>(record.values.size()))
            targets.emplace_back(&record, FindEventBreakpoints(&record));
    }

    if (mode == 2)
    {
        for (auto& [record, matches] : targets)
        {
            for (Breakpoint* p : matches)
                p->values[valueIndex] = value;
            if (!matches.empty()) record->values[static_cast<std::size_t>(valueIndex)] = value;
        }
        return;
    }

    float const range = control->GetRange();
    float& reference = selectionReference[static_cast<std::size_t>(line)]->values[valueIndex];
    float const before = reference;
    float const x = control->Normalise(value) - 0.5f;
    float delta = (x - before) * range;
    float const lo = control->GetMinValue();
    float const hi = control->GetMaxValue();
    for (auto& [record, matches] : targets)
    {
        for (Breakpoint* p : matches)
        {
            float const v = p->values[valueIndex];
            if (v + delta > hi)
                delta = hi - v;
            else if (v + delta < lo)
                delta = lo - v;
        }
    }
    for (auto& [record, matches] : targets)
    {
        for (Breakpoint* p : matches)
        {
            p->values[valueIndex] += delta;
            record->values[static_cast<std::size_t>(valueIndex)] = p->values[valueIndex];
            reference = before + delta / range;
        }
    }
}

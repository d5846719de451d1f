// Note handling: the note stack, the three key modes, note choice and stealing, glides,
// sustain and the free-running LFO state. Runs on the thread that delivers MIDI, between
// blocks and under the plug-in mutex (the adapter holds it while it hands events over).

#include "engine/TNote.h"
#include "engine/Torvane.h"

#include <cstdlib>

// ---- note stack ------------------------------------------------------------------------------

Torvane::NoteStack::NoteStack()
{
    entries.reserve(kNoteStackCapacity);
}

void Torvane::NoteStack::Push(int key, int velocity, TNote* note)
{
    // The stack never grows on the audio thread: a full stack forgets its oldest key.
    if (entries.size() >= static_cast<size_t>(kNoteStackCapacity)) entries.erase(entries.begin());
    entries.push_back(NoteInfo{key, velocity, note});
}

Torvane::NoteStack::NoteInfo Torvane::NoteStack::Pop()
{
    if (entries.empty()) return NoteInfo{};
    NoteInfo e = entries.back();
    entries.pop_back();
    lastReleased = e.note;
    return e;
}

Torvane::NoteStack::NoteInfo Torvane::NoteStack::Remove(int key)
{
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    {
        if (it->key == key)
        {
            NoteInfo e = *it;
            entries.erase(std::next(it).base());
            return e;
        }
    }
    return NoteInfo{};
}

Torvane::NoteStack::NoteInfo* Torvane::NoteStack::PeekLast()
{
    return entries.empty() ? nullptr : &entries.back();
}

int Torvane::NoteStack::Size() const
{
    return static_cast<int>(entries.size());
}

void Torvane::NoteStack::Clear()
{
    entries.clear();
}

int Torvane::NoteStack::NearestPitch(int key)
{
    int best = 500;
    int nearest = key;
    for (NoteInfo const& e : entries)
    {
        const int d = std::abs(key - e.key);
        if (d > 0 && d < best)
        {
            best = d;
            nearest = e.key;
        }
    }
    return nearest;
}

float Torvane::NoteStack::GetCurrentPortamentoPitch()
{
    if (!entries.empty() && entries.back().note) return entries.back().note->GetCurrentPortamentoPitch();
    if (entries.empty() && lastReleased) return lastReleased->GetCurrentPortamentoPitch();
    return -1.0f;
}

// ---- pool queries ----------------------------------------------------------------------------

TNote* Torvane::GetTNote(int i) const
{
    return static_cast<TNote*>(GetNote(i));
}

namespace
{

// The index of the oldest note that `consider` accepts (the lowest index among equal ages), or -1.
template <class Pred> int Oldest(Torvane const& t, Pred consider)
{
    int found = -1;
    float best = -1.0f;
    for (int i = 0; i < t.GetPoolSize(); ++i)
    {
        TNote* n = t.GetTNote(i);
        if (n && consider(*n) && n->GetLifeTime() > best)
        {
            best = n->GetLifeTime();
            found = i;
        }
    }
    return found;
}

} // namespace

int Torvane::GetOldestNote()
{
    return Oldest(*this, [](TNote& n) { return !n.IsAvailable(); });
}

int Torvane::GetOldestReleasingNote()
{
    return Oldest(*this, [](TNote& n) { return n.GetState() == TNote::kReleased; });
}

int Torvane::GetOldestNoteExcludeQuickReleasing()
{
    return Oldest(*this, [](TNote& n) { return !n.IsAvailable() && n.GetState() != TNote::kQuickRelease; });
}

int Torvane::FindFreeNote()
{
    int busy = 0;
    for (int i = 0; i < poolSize; ++i)
        if (!GetTNote(i)->IsAvailable()) ++busy;
    if (busy >= activeNoteCount)
    {
        int victim = GetOldestReleasingNote();
        if (victim == -1) victim = GetOldestNote();
        if (victim != -1) GetTNote(victim)->Kill();
    }
    for (int i = 0; i < poolSize; ++i)
        if (GetTNote(i)->IsAvailable()) return i;
    return -1;
}

TNote* Torvane::FindMatchingNote(int key)
{
    for (int i = 0; i < poolSize; ++i)
    {
        TNote* n = GetTNote(i);
        if (n->GetState() == TNote::kOn && n->GetPitch() == key) return n;
    }
    return nullptr;
}

// ---- note on ---------------------------------------------------------------------------------

void Torvane::GlideFrom(TNote* note, float p, long offset, int key)
{
    const float time = static_cast<float>(portamentoTime);
    if (time > 0.0f && p != -1.0f) note->Portamento(p, time, offset, key);
}

void Torvane::ClearForSingleVoice(long offset)
{
    int sounding = 0;
    for (int i = 0; i < poolSize; ++i)
    {
        TNote* n = GetTNote(i);
        const int state = n->GetState();
        if (state == TNote::kFree) continue;
        if ((state == TNote::kOn || state == TNote::kReleased) && sounding < 2)
        {
            n->QuickRelease(offset);
            ++sounding;
        }
        else if (state == TNote::kQuickRelease && sounding < 2)
        {
            ++sounding;
        }
        else
        {
            n->Kill();
        }
    }
}

void Torvane::NoteOnPolyphonic(int channel, int key, int velocity, long offset)
{
    const int i = FindFreeNote();
    if (i < 0) return;
    const float time = static_cast<float>(portamentoTime);
    const float p = time > 0.0f ? noteStack.GetCurrentPortamentoPitch() : -1.0f;
    TNote* n = GetTNote(i);
    n->NoteOn(channel, key, velocity, offset);
    if (time > 0.0f)
    {
        if (noteStack.Size() > 0)
            GlideFrom(n, static_cast<float>(noteStack.NearestPitch(key)), offset, key);
        else
            GlideFrom(n, p, offset, key);
    }
    noteStack.Push(key, velocity, n);
}

void Torvane::NoteOnSingle(int channel, int key, int velocity, long offset)
{
    ClearForSingleVoice(offset);
    TNote* n = nullptr;
    for (int i = 0; i < poolSize && !n; ++i)
        if (GetTNote(i)->GetState() == TNote::kFree) n = GetTNote(i);
    if (!n) return;
    const float p = static_cast<float>(portamentoTime) > 0.0f ? noteStack.GetCurrentPortamentoPitch() : -1.0f;
    n->NoteOn(channel, key, velocity, offset);
    GlideFrom(n, p, offset, key);
    noteStack.Push(key, velocity, n);
}

void Torvane::NoteOnLegato(int channel, int key, int velocity, long offset)
{
    for (int i = 0; i < poolSize; ++i)
    {
        TNote* n = GetTNote(i);
        if (n->GetState() == TNote::kOn)
        {
            // The sounding note glides to the new key without restarting.
            n->Portamento(n->GetCurrentPortamentoPitch(), static_cast<float>(portamentoTime), offset, key);
            noteStack.Push(key, velocity, n);
            return;
        }
    }
    ClearForSingleVoice(offset);
    const int i = FindFreeNote();
    if (i < 0) return;
    const float p = static_cast<float>(portamentoTime) > 0.0f ? noteStack.GetCurrentPortamentoPitch() : -1.0f;
    TNote* n = GetTNote(i);
    n->NoteOn(channel, key, velocity, offset);
    GlideFrom(n, p, offset, key);
    noteStack.Push(key, velocity, n);
}

void Torvane::NoteOnMidiEvent(int channel, int key, int velocity, long offset)
{
    // While the engine is off (a patch being loaded, or switched off) no note starts.
    if (!enabled.GetBool()) return;
    switch (keyMode.GetInt())
    {
    case 0:
        NoteOnPolyphonic(channel, key, velocity, offset);
        break;
    case 1:
        NoteOnSingle(channel, key, velocity, offset);
        break;
    case 2:
        NoteOnLegato(channel, key, velocity, offset);
        break;
    default:
        break;
    }
}

// ---- note off --------------------------------------------------------------------------------

void Torvane::SaveLFOStateIfLastKey()
{
    if (noteStack.Size() == 1 && noteStack.PeekLast()->note)
        FreeRunningLFOSaveState(noteStack.PeekLast()->note);
}

void Torvane::NoteOffMidiEvent(int channel, int key, long offset)
{
    const int mode = keyMode.GetInt();
    if (mode == 0)
    {
        TNote* n = FindMatchingNote(key);
        if (!n)
        {
            // The key's note was stolen (or never started): the key still leaves the stack.
            noteStack.Remove(key);
            return;
        }
        SaveLFOStateIfLastKey();
        n->NoteOff(channel, key, offset);
        noteStack.Remove(key);
        return;
    }
    if (mode != 1 && mode != 2) return;
    if (noteStack.Size() == 0) return;
    const bool top = noteStack.Size() > 1 && noteStack.PeekLast()->key == key;
    SaveLFOStateIfLastKey();
    TNote* n = FindMatchingNote(key);

    if (mode == 1)
    {
        if (n && !top) n->NoteOff(channel, key, offset);
        noteStack.Remove(key);
        if (top)
        {
            // The key held before sounds again.
            const NoteStack::NoteInfo e = noteStack.Pop();
            NoteOnMidiEvent(channel, e.key, e.velocity, offset);
        }
        return;
    }

    if (!n)
    {
        noteStack.Remove(key);
        return;
    }
    if (top)
    {
        // The note glides back to the key held before and keeps sounding.
        noteStack.Pop();
        const int previous = noteStack.PeekLast()->key;
        n->Portamento(n->GetCurrentPortamentoPitch(), static_cast<float>(portamentoTime), offset, previous);
        noteStack.Push(key, n->GetVelocity(), n);
        noteStack.Remove(key);
    }
    else
    {
        n->NoteOff(channel, key, offset);
        noteStack.Pop();
        noteStack.Remove(key);
    }
}

void Torvane::AllNotesOffMidiEvent(int)
{
    for (int k = noteStack.Size(); k > 0; --k)
    {
        const NoteStack::NoteInfo e = noteStack.Pop();
        if (e.note) e.note->NoteOff(0, e.key, 0);
    }
}

void Torvane::ControlChangeMidiEvent(int, int, int, long) {}

void Torvane::SustainOnMidiEvent(int, long)
{
    sustain = true;
}

void Torvane::SustainOffMidiEvent(int, long)
{
    sustain = false;
}

// ---- free-running LFO state ------------------------------------------------------------------

void Torvane::FreeRunningLFOSaveState(TNote* note)
{
    for (int layer = 0; layer < kNumLayers; ++layer)
        freeRunningLFOState[layer] = note->GetVoice(layer)->GetLFO1()->GetPhase();
    for (int layer = 0; layer < kNumLayers; ++layer)
        freeRunningLFOState[kNumLayers + layer] = note->GetVoice(layer)->GetLFO2()->GetPhase();
}

bool Torvane::HaveLFO1FreeRunningPhase()
{
    return freeRunningLFOState[0] != kNoPhase;
}

bool Torvane::HaveLFO2FreeRunningPhase()
{
    return freeRunningLFOState[kNumLayers] != kNoPhase;
}

float Torvane::GetLFO1FreeRunningPhase(int layer)
{
    if (layer < 0 || layer >= kNumLayers) return 0.0f;
    if (NoteStack::NoteInfo* e = noteStack.PeekLast(); e && e->note)
        return e->note->GetVoice(layer)->GetLFO1()->GetPhase();
    if (HaveLFO1FreeRunningPhase()) return freeRunningLFOState[layer];
    return 0.0f;
}

float Torvane::GetLFO2FreeRunningPhase(int layer)
{
    if (layer < 0 || layer >= kNumLayers) return 0.0f;
    if (NoteStack::NoteInfo* e = noteStack.PeekLast(); e && e->note)
        return e->note->GetVoice(layer)->GetLFO2()->GetPhase();
    if (HaveLFO2FreeRunningPhase()) return freeRunningLFOState[kNumLayers + layer];
    return 0.0f;
}

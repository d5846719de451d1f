#pragma once

// One instrument shared by the timeline-editing, selection, clipboard and file tests (building
// one costs its wave tables), and the small helpers those tests use.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/TNote.h"
#include "engine/Torvane.h"
#include "support/RecordingMessageSink.h"
#include "support/engine/HeadlessHost.h"
#include "support/engine/RecordingInstrumentEditor.h"

namespace editing
{

// The shared headless host; built on first use and kept for the whole test binary. Its folders
// lie in the process's temporary data home.
inline HeadlessHost& SharedHost()
{
    static HeadlessHost host(false);
    return host;
}

// Puts the shared instrument back into a known editing state: no editor, no notes, layer 0,
// edit time 0, no selection, relative mode off, every line of every layer at its defaults.
// The whole file's bytes ("" when it can't be read).
inline std::string ReadFile(std::filesystem::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Torvane& FreshInstrument()
{
    Torvane& t = SharedHost().Instrument();
    t.SetGUI(nullptr);
    t.KillAllNotes();
    t.timeFreeze.SetBool(false);
    t.multipleSelectionMode = 0.0f;
    t.SetCurrentVoice(0);
    for (int layer = 0; layer < Torvane::kNumLayers; ++layer)
    {
        for (int line = 0; line < VoiceDef::kNumLines; ++line)
            t.GetVoiceDef(layer)->ClearLine(line);
    }
    t.SetEditTime(0.0f);
    t.SetMultipleSelection(nullptr);
    t.AnimationEnded();
    return t;
}

// Replaces a line of a layer by points at the given times; every value of point i is i + 0.5
// (amplitude: (i + 1) / 10).
inline void SetPoints(Torvane& t, int layer, int line, std::initializer_list<float> times)
{
    EventEnvelope& e = *t.GetVoiceDef(layer)->GetLine(line);
    e.Clear();
    int i = 0;
    for (float time : times)
    {
        Breakpoint* p = e.AddBreakpoint();
        p->Init(NUM_EVENTS_IN_EVENTTYPE[line]);
        p->time = time;
        p->SetYs(line == 0 ? static_cast<float>(i + 1) / 10.0f : static_cast<float>(i) + 0.5f);
        ++i;
    }
}

inline std::vector<float> Times(Torvane& t, int layer, int line)
{
    std::vector<float> times;
    EventEnvelope& e = *t.GetVoiceDef(layer)->GetLine(line);
    for (long i = 0; i < e.Size(); ++i)
        times.push_back(e[i].time);
    return times;
}

inline std::vector<float> Values(Breakpoint const& p)
{
    return std::vector<float>(p.values, p.values + p.numValues);
}

// A selection record that is a copy of point `index` of a line of the current layer.
inline MultipleSelectionBreakpoint Record(Torvane& t, int line, long index)
{
    Breakpoint& p = (*t.GetVoiceDef(-1)->GetLine(line))[index];
    MultipleSelectionBreakpoint r;
    r.line = line;
    r.time = p.time;
    r.values = Values(p);
    return r;
}

// How many notes of the pool are on (state 1).
inline int NotesOn(Torvane& t)
{
    int n = 0;
    for (int i = 0; i < t.GetPoolSize(); ++i)
        n += t.GetTNote(i)->GetState() == TNote::kOn ? 1 : 0;
    return n;
}

// How many notes of the pool are not free.
inline int NotesBusy(Torvane& t)
{
    int n = 0;
    for (int i = 0; i < t.GetPoolSize(); ++i)
        n += t.GetTNote(i)->GetState() != TNote::kFree ? 1 : 0;
    return n;
}

// Attaches a recording editor for the scope, on the calling thread.
class AttachedEditor
{
public:
    explicit AttachedEditor(Torvane& t) : instrument(t)
    {
        gui.Watch(&instrument.GetMutex());
        instrument.SetGUI(&gui);
    }
    ~AttachedEditor() { instrument.SetGUI(nullptr); }
    // The editor's idle: applies what the instrument asked for since the last drain.
    void Drain() { instrument.ProcessGUINotifications(); }
    AttachedEditor(AttachedEditor const&) = delete;
    AttachedEditor& operator=(AttachedEditor const&) = delete;

    RecordingInstrumentEditor gui;

private:
    Torvane& instrument;
};

} // namespace editing

// The editor's operations on one thread while the host renders on another: every change the
// render reads goes through the plug-in mutex (run under ThreadSanitizer to see it).

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "EditingTestSupport.h"
#include "engine/TClipboard.h"
#include "framework/Streams.h"

using namespace editing;

TEST(EditWhileRendering, TimelineEditsDoNotDisturbTheAudioThread)
{
    Torvane& t = FreshInstrument();
    HeadlessHost& host = SharedHost();
    t.GetVoiceDef(1)->parameters[VoiceDef::kLayerOn].SetBool(true);

    // A timeline preset of layer 0's Voice and Filter lines to load again and again.
    String preset;
    StringWriter w;
    w.Open(&preset);
    t.SaveTimelinePreset({false, true, false, true, false, false}, w);
    w.Close();

    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::atomic<bool> finite{true};
    std::thread audio(
        [&]
        {
            int key = 48;
            while (!stop.load())
            {
                // A note starts and one ends every few blocks.
                if (blocks.load() % 4 == 0)
                {
                    host.NoteOff(key);
                    key = 48 + (key - 47) % 24;
                    host.NoteOn(key, 100);
                }
                host.Render(256);
                if (!host.AllFinite()) finite.store(false);
                blocks.fetch_add(1);
            }
            host.NoteOff(key);
            host.Render(64);
        });

    // The editor's selection: the instrument remembers it (ChangeAmplitudeOfSelection).
    std::vector<MultipleSelectionBreakpoint> sel;
    for (int i = 0; i < 150; ++i)
    {
        int const line = 1 + i % 5;
        t.SetEditTime(static_cast<float>((i * 1237) % 20000));
        t.SetEvent(0, line, i % NUM_EVENTS_IN_EVENTTYPE[line], 0.25f);
        t.pitchParam = static_cast<float>(i % 13 - 6);
        t.GetEvent(0, VoiceDef::kFilterLine, 0);
        t.SetEventTime(0, line, 1, static_cast<float>((i * 311) % 30000));
        if (i % 3 == 0) t.DeleteEvent(0, line, 1);
        t.CopyAll(1);
        t.PasteAll(0);
        t.NextBreakpoint(line);
        t.PrevBreakpoint(line);

        // This thread is the only writer of the lines: it may read them without the mutex.
        sel.clear();
        EventEnvelope const& e = *t.GetVoiceDef(-1)->GetLine(line);
        for (long k = 0; k < 3 && k < e.Size(); ++k)
            sel.push_back(Record(t, line, k));
        t.DragSelection(sel, 100.0f);
        t.TimeStretchSelection(sel, 0.9f);
        t.ChangeAmplitudeOfSelection(sel, -0.05f);
        t.CopySelectionToClipboard(sel);
        t.PasteSelectionFromClipboard();
        t.DeleteSelection(sel);
        t.GetAnimationTime();

        if (i % 25 == 0)
        {
            StringReader r;
            r.Open(preset, static_cast<std::size_t>(preset.GetLength()));
            t.LoadTimelinePreset({true, true, true, true, true, true}, r);
            t.SetCurrentVoice(i % 50 == 0 ? 1 : 0);
        }
        if (i % 75 == 0) t.LoadStandardWaveform(0, 1, (i / 75) % 4);
    }
    // Let the audio thread render a little more after the last edit.
    int const seen = blocks.load();
    while (blocks.load() < seen + 4)
        std::this_thread::yield();
    stop.store(true);
    audio.join();

    t.SetMultipleSelection(nullptr);
    EXPECT_TRUE(finite.load());
    EXPECT_GT(blocks.load(), 4);
    t.GetVoiceDef(1)->parameters[VoiceDef::kLayerOn].SetBool(false);
    t.LoadStandardWaveform(0, 1, 3);
    t.KillAllNotes();
    Torvane::clipboard.SetData(TClipboard::BREAKPOINT_SELECTION, nullptr);
}

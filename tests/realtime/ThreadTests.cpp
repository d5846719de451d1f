// The host's and the editor's threads against the audio thread, on the whole instrument: host
// automation and state saving, patch loads, voice switches, wave and timeline loads, MIDI learn
// and editor controls while another thread renders with notes playing. Run under
// ThreadSanitizer (tools/tsan.sh) these show every access the locking does not order; in a
// plain build they check that nothing breaks and the output stays clean.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "dsp/WaveTables.h"
#include "engine/PerformMod.h"
#include "framework/MidiLearn.h"
#include "framework/Random.h"
#include "framework/Streams.h"
#include "framework/String.h"
#include "support/RecordingMessageSink.h"
#include "support/engine/BusyPatch.h"
#include "support/engine/HeadlessHost.h"
#include "support/engine/RecordingInstrumentEditor.h"

namespace
{

// Renders on its own thread, starting and ending notes and moving controllers, until stopped.
// All MIDI goes in on this thread (the host's audio thread delivers it).
class AudioThread
{
public:
    explicit AudioThread(HeadlessHost& host) : host(host)
    {
        worker = std::thread([this] { Run(); });
    }
    ~AudioThread() { Stop(); }

    // Waits until at least n blocks were rendered (so the other thread overlaps with rendering).
    void WaitForBlocks(int n)
    {
        while (blocks.load() < n)
            std::this_thread::yield();
    }
    void Stop()
    {
        stop.store(true);
        if (worker.joinable()) worker.join();
    }
    bool AllFinite() const { return finite.load(); }
    int Blocks() const { return blocks.load(); }

private:
    void Run()
    {
        int step = 0;
        while (!stop.load())
        {
            int const key = 40 + (step * 5) % 36;
            host.NoteOn(key, 90, step % 64);
            if (step >= 3) host.NoteOff(40 + ((step - 3) * 5) % 36, 10);
            host.ControlChange(step % 2 == 0 ? 1 : 74, (step * 11) % 128, 20);
            if (step % 16 == 5) host.ControlChange(64, step % 32 < 16 ? 127 : 0);
            host.QueueMidi(0xE0, 0, (step * 3) % 128, 30);
            host.Render(step % 3 == 0 ? 64 : 300);
            if (!host.AllFinite()) finite.store(false);
            blocks.fetch_add(1);
            ++step;
        }
        host.ControlChange(123, 0);
        host.Render(64);
    }

    HeadlessHost& host;
    std::thread worker;
    std::atomic<bool> stop{false};
    std::atomic<bool> finite{true};
    std::atomic<int> blocks{0};
};

std::vector<unsigned char> BusyState(HeadlessHost& host)
{
    MakeBusyPatch(host.Instrument());
    return host.GetState();
}

} // namespace

TEST(InstrumentThreads, HostAutomationWhileRendering)
{
    HeadlessHost host(true, 44100.0f);
    MakeBusyPatch(host.Instrument());
    AEffect* effect = host.Effect();
    AudioThread audio(host);
    audio.WaitForBlocks(2);
    char text[64];
    for (int round = 0; round < 60; ++round)
    {
        for (int i = 0; i < Torvane::kNumHostParameters; ++i)
        {
            host.SetParameter(i, static_cast<float>((i * 13 + round * 7) % 101) / 100.0f);
            host.GetParameter(i);
            effect->dispatcher(effect, effGetParamName, i, 0, text, 0.0f);
            effect->dispatcher(effect, effGetParamDisplay, i, 0, text, 0.0f);
            effect->dispatcher(effect, effGetParamLabel, i, 0, text, 0.0f);
        }
        host.TakeAutomations();
    }
    audio.Stop();
    EXPECT_TRUE(audio.AllFinite());
}

TEST(InstrumentThreads, StateSavedAndRestoredWhileRendering)
{
    RecordingMessageSink messages;
    HeadlessHost host(false, 48000.0f);
    std::vector<unsigned char> const defaultState = host.GetState();
    std::vector<unsigned char> const busy = BusyState(host);
    AudioThread audio(host);
    audio.WaitForBlocks(2);
    for (int round = 0; round < 16; ++round)
    {
        host.SetState(round % 2 == 0 ? defaultState : busy);
        EXPECT_FALSE(host.GetState().empty());
        // A broken block is refused and rolled back while the audio thread waits.
        std::vector<unsigned char> broken(busy.begin(), busy.begin() + static_cast<long>(busy.size() / 2));
        host.SetState(broken);
    }
    audio.Stop();
    EXPECT_TRUE(audio.AllFinite());
    EXPECT_GT(audio.Blocks(), 2);
    EXPECT_EQ(messages.Messages().size(), 16u) << "each broken block is reported";
}

TEST(InstrumentThreads, EditorOperationsWhileRendering)
{
    HeadlessHost host(false, 44100.0f);
    Torvane& t = host.Instrument();
    MakeBusyPatch(t);

    // A timeline preset of the current layer and a custom wave, to load again and again.
    String preset;
    StringWriter w;
    w.Open(&preset);
    ASSERT_TRUE(t.SaveTimelinePreset({true, true, false, true, true, false}, w));
    w.Close();
    MipOscWaveDef custom;
    ASSERT_TRUE(custom.InitArray(512, 16));
    float amps[20];
    for (int h = 0; h < 20; ++h)
        amps[h] = 1.0f / static_cast<float>(h + 1);
    ASSERT_TRUE(custom.CreateWithIFFT(20, amps, nullptr));
    String wave;
    w.Open(&wave);
    custom.Save(w, 1.0f);
    w.Close();

    AudioThread audio(host);
    audio.WaitForBlocks(2);
    for (int round = 0; round < 40; ++round)
    {
        int const layer = round % 4;
        t.SetCurrentVoice(layer);
        t.SetEditTime(static_cast<float>((round * 977) % 8000));
        t.SetEvent(layer, VoiceDef::kWaveLine, 0, 0.1f * static_cast<float>(round % 10) - 0.5f);
        t.SetEvent(layer, VoiceDef::kFilterLine, 0, 0.5f);
        t.DeleteEvent(layer, VoiceDef::kVoiceLine, 1);
        t.SetModulationAmount(round % 5, 0.2f, layer);
        t.SetModulationTarget(round % 5, round % 7, layer);

        StringReader lines;
        lines.Open(preset, static_cast<std::size_t>(preset.GetLength()));
        t.LoadTimelinePreset({true, false, false, true, true, true}, lines);
        StringReader slot;
        slot.Open(wave, static_cast<std::size_t>(wave.GetLength()));
        t.LoadWaveform(layer, round % 4, slot);
        if (round % 8 == 3) t.LoadStandardWaveform(layer, (round + 1) % 4, round % 4);
        if (round % 10 == 9) t.ResetVoice(layer);
    }
    t.SetCurrentVoice(0);
    audio.Stop();
    EXPECT_TRUE(audio.AllFinite());
}

// Editor controls write parameters without a lock while the audio thread reads them.
TEST(InstrumentThreads, ControlsMovedWhileRendering)
{
    HeadlessHost host(false, 44100.0f);
    Torvane& t = host.Instrument();
    MakeBusyPatch(t);
    AudioThread audio(host);
    audio.WaitForBlocks(2);
    for (int round = 0; round < 200; ++round)
    {
        float const x = static_cast<float>(round % 21) / 20.0f; // 0..1
        t.layerOnBridge.SetBool(round % 7 != 0);
        t.unisonBridge = 1.0f + static_cast<float>(round % 4);
        t.filterOnBridge.SetBool(round % 3 != 0);
        t.pitchParam = static_cast<float>(round % 25 - 12);
        t.filterCutoffParam = x;
        t.vectorXParam = 2.0f * x - 1.0f;
        t.delaySendParam = x;
        t.masterVolume = 0.5f + 0.5f * x;
        t.pitchBendRange = static_cast<float>(1 + round % 12);
        t.portamentoTime = x * 0.2f;
        t.polyphony = static_cast<float>(2 + round % 15);
        if (round % 50 == 49) t.keyMode = static_cast<float>((round / 50) % 3);
        t.GetPerformMods()->GetSource(round % 6)->X = 2.0f * x - 1.0f;
        t.GetPerformMods()->GetSource(round % 6)->Y = 1.0f - 2.0f * x;
        t.GetDelayEffect()->time = x;
        t.GetDelayEffect()->feedback = 0.9f * x;
        t.GetReverbEffect()->sizeParam = x;
        t.GetReverbEffect()->timeParam = x;
        t.GetDistortionEffect()->drive = x;
        t.GetGlobalLowFilter()->cutoff = 20.0f + 400.0f * x;
        t.GetGlobalHighFilter()->resonance = 1.0f + x;
        if (round % 40 == 20) t.timeFreeze.SetBool(!t.timeFreeze.GetBool());
        t.freezePosition = x;
    }
    audio.Stop();
    EXPECT_TRUE(audio.AllFinite());
}

// The editor learns, cancels and removes mappings while the audio thread sends controllers
// and applies the mapped values every block.
TEST(InstrumentThreads, MidiLearnWhileRendering)
{
    HeadlessHost host(false, 44100.0f);
    Torvane& t = host.Instrument();
    MidiLearnManager& learn = *t.GetMidiLearnManager();
    Parameter* params[3] = {&t.GetPerformMods()->GetSource(0)->X, &t.GetPerformMods()->GetSource(2)->Y,
                            &t.freezePosition};
    AudioThread audio(host);
    audio.WaitForBlocks(2);
    for (int round = 0; round < 300; ++round)
    {
        Parameter* p = params[round % 3];
        switch (round % 5)
        {
        case 0:
            learn.StartListen(p);
            break;
        case 1:
            learn.IsListeningTo(p);
            break;
        case 2:
            learn.CancelListen(round % 2 == 0 ? p : nullptr);
            break;
        case 3:
            learn.IsMapped(p);
            break;
        default:
            learn.UnmapParameter(p);
            break;
        }
        learn.DoPendingAutoSave();
        std::this_thread::yield();
    }
    audio.Stop();
    EXPECT_TRUE(audio.AllFinite());
}

// The instrument's requests to its editor while a host thread automates "Freeze Position" and
// restores states and the audio thread applies learned controller values to it: the editor
// hears every request on its own thread, never under the plug-in mutex, at its next drain; an
// editor that detached hears nothing more.
TEST(InstrumentThreads, EditorRequestsReachOnlyTheEditorThread)
{
    RecordingMessageSink messages;
    HeadlessHost host(true, 44100.0f);
    Torvane& t = host.Instrument();
    std::vector<unsigned char> const busy = BusyState(host);
    int freezeIndex = -1;
    for (int i = 0; i < t.GetNumAutomatableParameters(); ++i)
        if (t.GetAutomatableParameter(i) == &t.freezePosition) freezeIndex = i;
    ASSERT_GE(freezeIndex, 0);
    t.timeFreeze.SetBool(true);

    RecordingInstrumentEditor first;
    first.Watch(&t.GetMutex());
    t.SetGUI(&first);
    // The next controller the audio thread sends (1 or 74) moves the freeze position.
    t.GetMidiLearnManager()->StartListen(&t.freezePosition);

    AudioThread audio(host);
    audio.WaitForBlocks(2);
    std::atomic<bool> hostDone{false};
    std::thread hostThread(
        [&]
        {
            for (int round = 0; round < 200; ++round)
            {
                host.SetParameter(freezeIndex, static_cast<float>((round * 37) % 101) / 100.0f);
                if (round % 50 == 25)
                {
                    host.SetState(busy);
                    t.timeFreeze.SetBool(true);
                }
                host.TakeAutomations();
                std::this_thread::yield();
            }
            hostDone.store(true);
        });

    // The editor's idle, until the host is done; halfway the editor is replaced.
    RecordingInstrumentEditor second;
    second.Watch(&t.GetMutex());
    int drains = 0;
    int firstCallsAtDetach = -1;
    while (!hostDone.load())
    {
        t.ProcessGUINotifications();
        if (++drains == 100)
        {
            t.SetGUI(&second);
            firstCallsAtDetach = static_cast<int>(first.Calls().size());
        }
        std::this_thread::yield();
    }
    hostThread.join();
    audio.Stop();
    if (firstCallsAtDetach < 0)
    {
        t.SetGUI(&second);
        firstCallsAtDetach = static_cast<int>(first.Calls().size());
    }

    // Whatever is still posted arrives at the next drain, all of it.
    t.SetEditTime(1000.0f);
    t.SetPatchName("After");
    t.ProcessGUINotifications();
    EXPECT_FALSE(t.EditorRequestsPending());
    std::vector<std::string> const calls = second.Calls();
    for (char const* expected : {"UpdatedEditTime", "UpdatePatchName"})
        EXPECT_NE(std::find(calls.begin(), calls.end(), expected), calls.end()) << expected;

    t.SetGUI(nullptr);
    EXPECT_EQ(static_cast<int>(first.Calls().size()), firstCallsAtDetach);
    EXPECT_EQ(first.violations.load(), 0);
    EXPECT_EQ(second.violations.load(), 0);
    EXPECT_GT(first.updatedEditTime.load() + second.updatedEditTime.load(), 0);
    EXPECT_TRUE(t.GetMidiLearnManager()->IsMapped(&t.freezePosition));
    EXPECT_TRUE(audio.AllFinite());
    t.GetMidiLearnManager()->UnmapParameter(&t.freezePosition);
}

namespace
{

// Renders a fixed script of notes on `host` and returns every sample of both channels.
std::vector<float> ScriptedRender(HeadlessHost& host, int blocks)
{
    std::vector<float> out;
    for (int b = 0; b < blocks; ++b)
    {
        if (b % 8 == 0) host.NoteOn(36 + (b / 8) * 7 % 40, 100, b % 64);
        if (b % 8 == 6) host.NoteOff(36 + (b / 8) * 7 % 40, 3);
        host.Render(256);
        out.insert(out.end(), host.Left().begin(), host.Left().end());
        out.insert(out.end(), host.Right().begin(), host.Right().end());
    }
    return out;
}

} // namespace

// Two instruments share their tables (the same waves); each renders on its own thread while a
// third thread loads patches and waves into one of them. The other one's sound is exactly the
// sound it makes alone, and no table is freed under it (AddressSanitizer, ThreadSanitizer).
TEST(InstrumentThreads, SharedTablesLoadedIntoOneInstanceWhileRendering)
{
    MipOscWaveDef custom;
    ASSERT_TRUE(custom.InitArray(4096, 128));
    float amps[30];
    for (int h = 0; h < 30; ++h)
        amps[h] = (h % 3 == 0 ? 1.0f : 0.3f) / static_cast<float>(h + 1);
    ASSERT_TRUE(custom.CreateWithIFFT(30, amps, nullptr));
    String wave;
    StringWriter w;
    w.Open(&wave);
    custom.Save(w, 1.0f);
    w.Close();

    constexpr int kBlocks = 120;
    std::vector<float> alone;
    {
        Random::RestartDefaultSeeds();
        HeadlessHost listener(false, 44100.0f);
        MakeBusyPatch(listener.Instrument());
        alone = ScriptedRender(listener, kBlocks);
    }

    Random::RestartDefaultSeeds();
    HeadlessHost listener(false, 44100.0f);
    MakeBusyPatch(listener.Instrument());
    HeadlessHost loaded(false, 44100.0f);
    std::vector<unsigned char> const defaultState = loaded.GetState();
    std::vector<unsigned char> const busy = BusyState(loaded);
    ASSERT_EQ(loaded.Instrument().GetVoiceDef(0)->waveDef.levels[0],
              listener.Instrument().GetVoiceDef(0)->waveDef.levels[0]);

    std::vector<float> shared;
    std::thread listenerThread([&] { shared = ScriptedRender(listener, kBlocks); });
    AudioThread audio(loaded);
    audio.WaitForBlocks(2);
    for (int round = 0; round < 12; ++round)
    {
        loaded.SetState(round % 2 == 0 ? defaultState : busy);
        StringReader slot;
        slot.Open(wave, static_cast<std::size_t>(wave.GetLength()));
        loaded.Instrument().LoadWaveform(round % 4, round % 3, slot);
        if (round % 3 == 1) loaded.Instrument().LoadStandardWaveform(round % 4, 3, round % 4);
    }
    listenerThread.join();
    audio.Stop();
    EXPECT_TRUE(audio.AllFinite());
    ASSERT_EQ(shared.size(), alone.size());
    EXPECT_TRUE(shared == alone) << "the listener's sound changed while the other instrument loaded";
}

namespace
{

// An editor that reads, at every request the instrument makes of it, everything the editor's
// pages read of the instrument without holding the plug-in mutex, as they do when redrawn.
class ReadingEditor : public RecordingInstrumentEditor
{
public:
    explicit ReadingEditor(Torvane& t) : t(t) {}

    void ReadAll()
    {
        float sum = t.GetEditTime();
        int const voice = t.GetCurrentVoice();
        sum += static_cast<float>(voice);
        sum += t.GetMultipleSelection() != nullptr ? 1.0f : 0.0f;
        sum += static_cast<float>(t.GetPatchName().GetLength() + t.GetPatchCategory().GetLength());
        sum += t.GetLoopFlag(-1) ? 1.0f : 0.0f;
        sum += t.CopyTimeline(-1, snapshot) ? snapshot.loopEnd : 0.0f;
        for (int slot = 0; slot < 4; ++slot)
            sum += static_cast<float>(t.CopyWaveCycle(-1, slot, cycle));
        for (int row = 0; row < 5; ++row)
        {
            sum += t.GetModulationEnabled(row, -1) ? 1.0f : 0.0f;
            sum += static_cast<float>(t.GetModulationSource(row, -1) + t.GetModulationTarget(row, -1));
            sum += t.GetModulationAmount(row, -1);
        }
        for (int line = 0; line < VoiceDef::kNumLines; ++line)
            sum += t.GetEvent(voice, line, 0);
        sum += t.GetAnimationTime();
        for (BridgeParameter* b :
             {&t.layerOnBridge, &t.unisonBridge, &t.filterOnBridge, &t.keyFollowBridge, &t.lfo1SyncBridge,
              &t.lfo2SyncBridge, &t.lfo1FreeRunningBridge, &t.lfo2FreeRunningBridge,
              &t.lfo1PositiveOnlyBridge, &t.lfo2PositiveOnlyBridge, &t.releaseBridge,
              &t.loopAfterReleaseBridge, &t.tempoBridge})
            sum += static_cast<float>(*b);
        sum += t.timeFreeze.GetBool() ? 1.0f : 0.0f;
        sum += static_cast<float>(t.freezePosition) + static_cast<float>(t.multipleSelectionMode);
        for (int layer = 0; layer < Torvane::kNumLayers; ++layer)
            sum += t.GetVoiceDef(layer)->parameters[VoiceDef::kLayerOn].GetBool() ? 1.0f : 0.0f;
        for (int i = 0; i < t.GetNumAutomatableParameters(); ++i)
            sum += static_cast<float>(*t.GetAutomatableParameter(i));
        for (int pad = 0; pad < PerformMods::kNumPads; ++pad)
        {
            PerformModSource const& source = *t.GetPerformMods()->GetSource(pad);
            for (int axis = 0; axis < 2; ++axis)
            {
                PerformModSource::Mapping const m = source.GetMapping(axis);
                sum += static_cast<float>(m.voice + m.target) + (m.enabled ? 1.0f : 0.0f);
            }
            sum += static_cast<float>(source.X) + static_cast<float>(source.Y);
        }
        reads.fetch_add(1);
        if (!std::isfinite(sum)) nonFinite.fetch_add(1);
    }

    void PatchLoaded() override
    {
        RecordingInstrumentEditor::PatchLoaded();
        ReadAll();
    }
    void UpdateEventLines() override
    {
        RecordingInstrumentEditor::UpdateEventLines();
        ReadAll();
    }
    void UpdatedEditTime() override
    {
        RecordingInstrumentEditor::UpdatedEditTime();
        ReadAll();
    }
    void DeselectBreakpoints() override
    {
        RecordingInstrumentEditor::DeselectBreakpoints();
        ReadAll();
    }

    std::atomic<int> reads{0};
    std::atomic<int> nonFinite{0};

private:
    Torvane& t;
    Torvane::TimelineSnapshot snapshot;
    std::vector<float> cycle;
};

} // namespace

// Time Freeze on: the host automates every parameter ("Freeze Position" moves the edit time on
// the host's thread) and restores states, the audio thread renders notes and applies a learned
// controller, and the editor's thread reads all it reads of the instrument without the mutex.
TEST(InstrumentThreads, EditorReadsWhileTheHostAutomatesEveryParameterWhileRendering)
{
    RecordingMessageSink messages;
    HeadlessHost host(true, 44100.0f);
    Torvane& t = host.Instrument();
    std::vector<unsigned char> const busy = BusyState(host);
    t.timeFreeze.SetBool(true);
    ReadingEditor editor(t);
    editor.Watch(&t.GetMutex());
    t.SetGUI(&editor);
    t.GetMidiLearnManager()->StartListen(&t.freezePosition);

    AudioThread audio(host);
    audio.WaitForBlocks(2);
    std::atomic<bool> hostDone{false};
    std::thread hostThread(
        [&]
        {
            for (int round = 0; round < 40; ++round)
            {
                for (int i = 0; i < Torvane::kNumHostParameters; ++i)
                    host.SetParameter(i, static_cast<float>((i * 17 + round * 29) % 101) / 100.0f);
                if (round % 20 == 10)
                {
                    host.SetState(busy);
                    t.timeFreeze.SetBool(true);
                }
                host.TakeAutomations();
                std::this_thread::yield();
            }
            hostDone.store(true);
        });

    while (!hostDone.load())
    {
        t.ProcessGUINotifications();
        editor.ReadAll();
        std::this_thread::yield();
    }
    hostThread.join();
    audio.Stop();
    t.ProcessGUINotifications();
    t.SetGUI(nullptr);

    EXPECT_GT(editor.updatedEditTime.load(), 0);
    EXPECT_GT(editor.reads.load(), editor.updatedEditTime.load());
    EXPECT_EQ(editor.nonFinite.load(), 0);
    EXPECT_EQ(editor.violations.load(), 0);
    EXPECT_TRUE(audio.AllFinite());
    t.GetMidiLearnManager()->UnmapParameter(&t.freezePosition);
}

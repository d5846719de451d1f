// Loading and restoring while the host renders: the stream is read, checked and built without the
// plug-in mutex, which is held only to swap the prepared patch in; automation reports raised by a
// load reach the host once the mutex is free; every wave the instrument holds survives a round trip.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/Torvane.h"
#include "support/RecordingMessageSink.h"
#include "support/TemporaryDataHome.h"
#include "support/engine/HeadlessHost.h"
#include "vst/VstAbi.h"

namespace
{

using Block = std::vector<unsigned char>;

// `count` custom waves, layer by layer (four a layer), each its own spectrum; their layers on.
void GiveCustomWaves(Torvane& t, int count)
{
    for (int i = 0; i < count; ++i)
    {
        VoiceDef* def = t.GetVoiceDef(i / 4);
        def->parameters[VoiceDef::kLayerOn].SetBool(true);
        std::vector<float> amps(96);
        for (std::size_t h = 0; h < amps.size(); ++h)
            amps[h] = (1.0f + 0.25f * static_cast<float>((h + static_cast<std::size_t>(i)) % 5)) /
                      static_cast<float>(h + 1);
        ASSERT_TRUE(def->waveDef.CreateWithIFFT(i % 4, static_cast<long>(amps.size()), amps.data(), nullptr));
    }
}

// Parks the audio thread between two of its blocks on request, so that a load step can look at
// the plug-in mutex while nothing renders: what it sees then does not depend on when any thread
// gets the CPU.
class AudioPause
{
public:
    // The audio thread, before and after its blocks.
    void Start()
    {
        std::lock_guard<std::mutex> hold(mutex);
        running = true;
    }
    void Stop()
    {
        std::lock_guard<std::mutex> hold(mutex);
        running = false;
        changed.notify_all();
    }
    // The audio thread between two blocks: waits there while a pause is wanted.
    void Checkpoint()
    {
        std::unique_lock<std::mutex> hold(mutex);
        if (!wanted) return;
        parked = true;
        changed.notify_all();
        changed.wait(hold, [this] { return !wanted; });
        parked = false;
    }

    // A load step: true once the audio thread is parked (or not running). False when it does not
    // come to its checkpoint within a bound thousands of times one block's time: it is then
    // waiting for the mutex inside a block.
    bool Park()
    {
        std::unique_lock<std::mutex> hold(mutex);
        wanted = true;
        return changed.wait_for(hold, std::chrono::seconds(10), [this] { return parked || !running; });
    }
    void Resume()
    {
        std::lock_guard<std::mutex> hold(mutex);
        wanted = false;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool running = false;
    bool wanted = false;
    bool parked = false;
};

// Records each load step and whether another thread could claim the plug-in mutex there.
class TracedTorvane : public Torvane
{
public:
    explicit TracedTorvane(audioMasterCallback host) : Torvane(host) {}

    void LoadStepReached(LoadStep step) override
    {
        // The loader holds no claim, and with the audio thread parked between its blocks another
        // thread gets the mutex at the first try.
        bool free = !GetPluginMutex().HeldByCurrentThread() && audio.Park();
        if (free)
        {
            std::thread probe(
                [&]
                {
                    free = GetMutex().TryClaim();
                    if (free) GetMutex().Release();
                });
            probe.join();
        }
        audio.Resume();
        ++steps;
        if (free) ++stepsWithMutexFree;
        if (step == LoadStep::Swapped) ++swaps;
    }

    AudioPause audio;
    int steps = 0;
    int stepsWithMutexFree = 0;
    int swaps = 0;
};

// The host's side of one instance driven through its record on an audio thread.
struct RecordDriver
{
    explicit RecordDriver(Torvane& t) : effect(t.getAeffect())
    {
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 44100.0f);
        effect->dispatcher(effect, effSetBlockSize, 0, 256, nullptr, 0.0f);
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    }

    void Midi(int status, int data1, int data2)
    {
        VstMidiEvent e{};
        e.type = kVstMidiType;
        e.byteSize = static_cast<VstInt32>(sizeof e);
        e.midiData[0] = static_cast<char>(status);
        e.midiData[1] = static_cast<char>(data1);
        e.midiData[2] = static_cast<char>(data2);
        VstEvents events{};
        events.numEvents = 1;
        events.events[0] = reinterpret_cast<VstEvent*>(&e);
        effect->dispatcher(effect, effProcessEvents, 0, 0, &events, 0.0f);
    }

    // One 256-frame block; false when a sample is not finite.
    bool Render()
    {
        float* outputs[2] = {left.data(), right.data()};
        effect->processReplacing(effect, nullptr, outputs, 256);
        for (std::size_t i = 0; i < left.size(); ++i)
            if (!std::isfinite(left[i]) || !std::isfinite(right[i])) return false;
        return true;
    }

    AEffect* effect;
    std::vector<float> left = std::vector<float>(256);
    std::vector<float> right = std::vector<float>(256);
};

} // namespace

TEST(LoadWhileRendering, RestoresAndPatchLoadsHoldTheMutexOnlyToSwap)
{
    TemporaryDataHome home;
    Block defaultState;
    Block heavy;
    {
        Torvane source(nullptr);
        defaultState = SavedState(source);
        GiveCustomWaves(source, 16);
        heavy = SavedState(source);
    }
    ASSERT_GT(heavy.size(), 260000u);

    TracedTorvane t(nullptr);
    ASSERT_TRUE(RestoreSavedState(t, heavy));
    ASSERT_EQ(t.SavePatch("Heavy", "Sixteen"), 1);
    ASSERT_EQ(t.swaps, 1);

    RecordDriver host(t);
    std::atomic<bool> stop{false};
    std::atomic<bool> loading{false};
    std::atomic<int> blocksWhileLoading{0};
    std::atomic<bool> finite{true};
    t.audio.Start();
    std::thread audio(
        [&]
        {
            for (int block = 0; !stop.load(); ++block)
            {
                t.audio.Checkpoint();
                // A load kills the held note: it is struck again now and then.
                if (block % 16 == 0) host.Midi(0x90, 60, 100);
                bool const duringLoad = loading.load();
                if (!host.Render()) finite.store(false);
                if (duringLoad && loading.load()) blocksWhileLoading.fetch_add(1);
            }
            host.Midi(0x80, 60, 0);
            t.audio.Stop();
        });

    RecordingMessageSink messages;
    int loads = 0;
    for (int round = 0; round < 3; ++round)
    {
        loading.store(true);
        EXPECT_TRUE(RestoreSavedState(t, heavy)); // over itself
        EXPECT_TRUE(RestoreSavedState(t, defaultState));
        EXPECT_TRUE(RestoreSavedState(t, heavy)); // over the default state
        EXPECT_EQ(t.LoadPatch("Heavy", "Sixteen(User)"), 1);
        loading.store(false);
        loads += 4;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop.store(true);
    audio.join();

    // Every load reached its two steps, each with the mutex free for another thread.
    EXPECT_EQ(t.swaps, 1 + loads);
    EXPECT_EQ(t.steps, 2 * (1 + loads));
    EXPECT_EQ(t.stepsWithMutexFree, t.steps);
    EXPECT_GT(blocksWhileLoading.load(), 0);
    EXPECT_TRUE(finite.load());
    EXPECT_TRUE(messages.Messages().empty());
    // The last patch file holds the heavy state under its own name.
    ASSERT_TRUE(RestoreSavedState(t, heavy));
    EXPECT_EQ(SavedState(t), heavy);
}

// ---------------------------------------------------------------------------------------------
// Automation reports with the plug-in mutex free

namespace
{

// Set by the test: the instance whose mutex the host callback probes.
std::atomic<Torvane*> probed{nullptr};
int reports = 0;
int reportsWithMutexFree = 0;

VstIntPtr ProbingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    if (opcode == audioMasterVersion) return 2400;
    Torvane* t = probed.load();
    if (opcode != audioMasterAutomate || t == nullptr) return 0;
    ++reports;
    bool free = false;
    std::thread probe(
        [&]
        {
            free = t->GetMutex().TryClaim();
            if (free) t->GetMutex().Release();
        });
    probe.join();
    if (free) ++reportsWithMutexFree;
    return 0;
}

} // namespace

namespace
{

// A host whose automation handler waits for its own audio thread to finish a block; a wait gives
// up after a time no busy machine reaches (a deadlock), and once one did the others don't wait.
std::atomic<int> audioBlocks{0};
std::atomic<bool> waiting{false};
std::atomic<int> waits{0};
std::atomic<int> timeouts{0};

VstIntPtr WaitingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    if (opcode == audioMasterVersion) return 2400;
    if (opcode != audioMasterAutomate || !waiting.load()) return 0;
    ++waits;
    if (timeouts.load() > 0) return 0;
    int const seen = audioBlocks.load();
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (audioBlocks.load() < seen + 2)
    {
        if (std::chrono::steady_clock::now() > until)
        {
            ++timeouts;
            break;
        }
        std::this_thread::yield();
    }
    return 0;
}

} // namespace

TEST(LoadWhileRendering, AHostWaitingForItsAudioThreadInsideItsAutomationHandlerGoesOn)
{
    TemporaryDataHome home;
    {
        Torvane source(nullptr);
        source.masterVolume = 0.2f;
        source.polyphony = 3.0f;
        GiveCustomWaves(source, 4);
        ASSERT_EQ(source.SavePatch("Loads", "Changed"), 1);
    }
    Torvane t(&WaitingHost);
    t.markHostConnected();
    RecordDriver host(t);
    std::atomic<bool> stop{false};
    std::thread audio(
        [&]
        {
            for (int block = 0; !stop.load(); ++block)
            {
                if (block % 16 == 0) host.Midi(0x90, 64, 90);
                host.Render();
                audioBlocks.fetch_add(1);
            }
        });
    waits = 0;
    timeouts = 0;
    waiting.store(true);
    {
        // A patch the user loads in the editor, while the host plays.
        EditorInput::Scope user(&t);
        EXPECT_EQ(t.LoadPatch("Loads", "Changed(User)"), 1);
    }
    waiting.store(false);
    stop.store(true);
    audio.join();
    EXPECT_GT(waits.load(), 0);
    EXPECT_EQ(timeouts.load(), 0);
}

TEST(HostReports, MidiLearnValuesAppliedInsideABlockReachTheHostWithTheMutexFree)
{
    TemporaryDataHome home;
    Torvane t(&ProbingHost);
    t.markHostConnected();
    RecordDriver host(t);
    t.GetMidiLearnManager()->StartListen(&t.masterVolume);
    host.Midi(0xB0, 20, 64);
    host.Render();
    ASSERT_TRUE(t.GetMidiLearnManager()->IsMapped(&t.masterVolume));

    probed.store(&t);
    reports = 0;
    reportsWithMutexFree = 0;
    for (int value : {10, 90, 30})
    {
        host.Midi(0xB0, 20, value);
        host.Render();
    }
    probed.store(nullptr);
    EXPECT_GE(reports, 3);
    EXPECT_EQ(reportsWithMutexFree, reports);
}

TEST(HostReports, AnEmptyChunkIsTakenSilentlyAndChangesNothing)
{
    Torvane t(nullptr);
    t.masterVolume = 0.4f;
    Block const before = SavedState(t);
    RecordingMessageSink messages;
    AEffect* e = t.getAeffect();
    unsigned char byte = 0;
    EXPECT_EQ(e->dispatcher(e, effSetChunk, 0, 0, &byte, 0.0f), 1);
    EXPECT_EQ(e->dispatcher(e, effSetChunk, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(e->dispatcher(e, effSetChunk, 1, 0, &byte, 0.0f), 1);
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(SavedState(t), before);
    EXPECT_TRUE(t.enabled.GetBool());
}

// ---------------------------------------------------------------------------------------------
// Custom waves at the edges of what the wave table takes

TEST(CustomWaveRoundTrip, EveryWaveTheInstrumentHoldsRestoresToTheSameBytes)
{
    Torvane source(nullptr);
    VectorMipOscWaveDef& waves = source.GetVoiceDef(0)->waveDef;
    long const n = waves.length;
    // Samples at the bound, both signs: the level-0 transform overshoots them.
    std::vector<float> square(static_cast<std::size_t>(n));
    for (long i = 0; i < n; ++i)
        square[static_cast<std::size_t>(i)] =
            i < n / 2 ? MipWaveTable::kMaxStoredSample : -MipWaveTable::kMaxStoredSample;
    ASSERT_TRUE(waves.CreateWithSamples(0, square.data(), -1));
    // A spectrum far too loud, and one that is not finite.
    std::vector<float> loud(200, 1.0e6f);
    ASSERT_TRUE(waves.CreateWithIFFT(1, 200, loud.data(), nullptr));
    std::vector<float> broken(20, 1.0f);
    broken[3] = std::numeric_limits<float>::infinity();
    ASSERT_TRUE(waves.CreateWithIFFT(2, 20, broken.data(), nullptr));
    // Tiny samples, normalised far up.
    std::vector<float> quiet(10, 1.0e-30f);
    ASSERT_TRUE(waves.CreateWithIFFT(3, 10, quiet.data(), nullptr));
    waves.NormalisePeak(3, 1.0e9f);
    for (int slot = 0; slot < 4; ++slot)
        for (long i = 0; i < n; ++i)
            ASSERT_TRUE(MipWaveTable::IsStorableSample(waves.levels[0][4 * i + slot])) << slot << " " << i;

    Block const saved = SavedState(source);
    Torvane target(nullptr);
    ASSERT_TRUE(RestoreSavedState(target, saved));
    EXPECT_EQ(SavedState(target), saved);
    ASSERT_TRUE(RestoreSavedState(target, saved));
    EXPECT_EQ(SavedState(target), saved);
}

TEST(CustomWaveRoundTrip, RestoresOverEachOtherKeepOnlyWhatWasStored)
{
    // Two states with custom waves in the same slots, one with a standard wave where the other
    // has a custom one, and one differing in a single sample.
    Torvane source(nullptr);
    GiveCustomWaves(source, 6);
    Block const a = SavedState(source);
    source.GetVoiceDef(1)->waveDef.CreateSquare(0, source.GetVoiceDef(1)->waveDef.length);
    Block const b = SavedState(source);
    float* first = &source.GetVoiceDef(0)->waveDef.levels[0][2];
    *first = *first * 0.5f + 0.125f;
    Block const c = SavedState(source);
    ASSERT_NE(a, b);
    ASSERT_NE(b, c);

    Torvane t(nullptr);
    for (Block const* block : {&a, &b, &c, &a, &a, &c, &b})
    {
        ASSERT_TRUE(RestoreSavedState(t, *block));
        EXPECT_EQ(SavedState(t), *block);
    }
}

TEST(CustomWaveRoundTrip, AStoredWaveTheTableRefusesRefusesTheWholeState)
{
    Torvane source(nullptr);
    GiveCustomWaves(source, 1);
    Block const good = SavedState(source);

    // The first sample of the one custom wave: after its 16-byte slot header.
    long const n = source.GetVoiceDef(0)->waveDef.length;
    float first = source.GetVoiceDef(0)->waveDef.levels[0][0];
    std::size_t at = 0;
    for (std::size_t i = 16; i + 4 <= good.size(); ++i)
    {
        if (std::memcmp(&good[i], &first, 4) == 0 && good[i - 4] == 5)
        {
            at = i;
            break;
        }
    }
    ASSERT_NE(at, 0u);
    ASSERT_GT(n, 0);

    Torvane target(nullptr);
    target.masterVolume = 0.6f;
    Block const before = SavedState(target);
    RecordingMessageSink messages;
    for (float bad : {MipWaveTable::kMaxStoredSample * 1.001f, -2.0e4f,
                      std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()})
    {
        Block hostile = good;
        std::memcpy(&hostile[at], &bad, 4);
        EXPECT_FALSE(RestoreSavedState(target, hostile)) << bad;
        EXPECT_EQ(SavedState(target), before) << bad;
        EXPECT_TRUE(target.enabled.GetBool());
    }
    EXPECT_EQ(messages.Messages().size(), 4u);
    // The same place at the bound is taken.
    Block edge = good;
    float const bound = -MipWaveTable::kMaxStoredSample;
    std::memcpy(&edge[at], &bound, 4);
    EXPECT_TRUE(RestoreSavedState(target, edge));
    EXPECT_EQ(SavedState(target), edge);
}

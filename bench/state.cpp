// Host state of light and heavy patches: the default patch (about 3 KB), and patches with 8 and 16
// custom waves (about 134 KB and 265 KB).
//   BM_Snapshot             the patch written into a fresh memory block (the rollback snapshot)
//   BM_SavePluginState      getChunk's state block
//   BM_Restore              setChunk of the state, nothing rendering (over itself, over another
//                           state with other waves, or alternating with the default state)
//   BM_RestoreWhileRendering setChunk of a 16-wave state over another while an audio thread
//                           sends a held note and renders 256-frame blocks through the record;
//                           "worst_block_ms" is the longest processEvents + processReplacing call
//                           seen while restores ran, "setchunk_ms" the mean restore time,
//                           "worst_idle_block_ms" the longest call over a second with no restore.
//   BM_RestoreSilenceAndHold setChunk of the test kit's busy patch holding 0, 8 or 16 custom
//                           waves (range(0)): over itself (range(1) 0), alternating with another
//                           state of the same size with other waves (1), or a copy cut short by
//                           one byte, which is refused (2). "silence_ms": the time per restore the
//                           engine is switched off (every block then passes silent), from the
//                           switch's own listener calls on "TORVANE_ENABLED"; "hold_ms": the longest gap
//                           between two steps of the load after staging, which holds the longest hold of the
//                           plug-in mutex. Medians over the restores, and the largest.

#include "engine/Torvane.h"
#include "framework/Streams.h"
#include "support/RecordingMessageSink.h"
#include "support/engine/BusyPatch.h"
#include "vst/VstAbi.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

void UseScratchDataHome()
{
    static bool done = false;
    if (done) return;
    done = true;
    char pattern[] = "/tmp/torvane-bench-XXXXXX";
    if (char* dir = mkdtemp(pattern)) setenv("XDG_DATA_HOME", dir, 1);
}

// `count` custom waves, four a layer, each its own spectrum.
std::unique_ptr<Torvane> Instrument(int customWaves, int seed = 0)
{
    UseScratchDataHome();
    auto t = std::make_unique<Torvane>(nullptr);
    for (int i = 0; i < customWaves; ++i)
    {
        VoiceDef* def = t->GetVoiceDef(i / 4);
        def->parameters[VoiceDef::kLayerOn].SetBool(true);
        std::vector<float> amps(96);
        for (std::size_t h = 0; h < amps.size(); ++h)
            amps[h] = (1.0f + 0.25f * static_cast<float>((h + static_cast<std::size_t>(i + seed)) % 5)) /
                      static_cast<float>(h + 1);
        def->waveDef.CreateWithIFFT(i % 4, static_cast<long>(amps.size()), amps.data(), nullptr);
    }
    return t;
}

std::vector<char> State(Torvane& t)
{
    int size = 0;
    char const* data = static_cast<char const*>(t.SavePluginState(size));
    return std::vector<char>(data, data + size);
}

void BM_Snapshot(benchmark::State& state)
{
    auto t = Instrument(static_cast<int>(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state)
    {
        String snapshot;
        StringWriter w;
        w.Open(&snapshot);
        t->SavePreset(w, Torvane::kPatchVersion);
        bytes = static_cast<std::size_t>(snapshot.GetLength());
        benchmark::DoNotOptimize(snapshot.Lock());
    }
    state.counters["state_kb"] = static_cast<double>(bytes) / 1024.0;
}

void BM_SavePluginState(benchmark::State& state)
{
    auto t = Instrument(static_cast<int>(state.range(0)));
    int size = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(t->SavePluginState(size));
    state.counters["state_kb"] = static_cast<double>(size) / 1024.0;
}

// Restores alternate between two blocks: range(1) 0 the same block twice (over itself), 1 another
// patch with as many custom waves (all rebuilt), 2 the default patch (the heavy and the light one
// in turn).
void BM_Restore(benchmark::State& state)
{
    int const waves = static_cast<int>(state.range(0));
    int const other = static_cast<int>(state.range(1));
    auto t = Instrument(waves);
    std::vector<char> const a = State(*t);
    std::vector<char> const b = other == 0 ? a : State(*Instrument(other == 1 ? waves : 0, 1));
    bool first = true;
    for (auto _ : state)
    {
        std::vector<char> const& block = first ? a : b;
        first = !first;
        benchmark::DoNotOptimize(
            t->RestorePluginState(const_cast<char*>(block.data()), static_cast<int>(block.size())));
    }
    state.counters["state_kb"] = static_cast<double>(a.size()) / 1024.0;
}

void BM_RestoreWhileRendering(benchmark::State& state)
{
    auto t = Instrument(16);
    std::vector<char> const blocks[2] = {State(*t), State(*Instrument(16, 1))};
    std::vector<char> const& block = blocks[0];
    AEffect* e = t->getAeffect();
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 44100.0f);
    e->dispatcher(e, effSetBlockSize, 0, 256, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);

    std::atomic<bool> stop{false};
    std::atomic<bool> measuring{false};
    std::atomic<long long> worstNs{0};
    std::thread audio(
        [&]
        {
            std::vector<float> left(256), right(256);
            float* outputs[2] = {left.data(), right.data()};
            VstMidiEvent note{};
            note.type = kVstMidiType;
            note.byteSize = static_cast<VstInt32>(sizeof note);
            note.midiData[0] = static_cast<char>(0x90);
            note.midiData[1] = 60;
            note.midiData[2] = 100;
            VstEvents events{};
            events.numEvents = 1;
            events.events[0] = reinterpret_cast<VstEvent*>(&note);
            for (int n = 0; !stop.load(); ++n)
            {
                bool const counted = measuring.load();
                Clock::time_point const start = Clock::now();
                // The load kills the note: it is struck again every few blocks.
                if (n % 8 == 0) e->dispatcher(e, effProcessEvents, 0, 0, &events, 0.0f);
                e->processReplacing(e, nullptr, outputs, 256);
                long long const ns =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
                if (counted) worstNs.store(std::max(worstNs.load(), ns));
                // A host's audio thread waits for the device between blocks.
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });

    // The same audio thread with nothing loading, for comparison (scheduling on a busy machine).
    measuring.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    measuring.store(false);
    long long const idleWorstNs = worstNs.exchange(0);

    double totalMs = 0.0;
    long restores = 0;
    measuring.store(true);
    for (auto _ : state)
    {
        Clock::time_point const start = Clock::now();
        // Another 265 KB state over the one in place: every wave is built.
        std::vector<char> const& next = blocks[(restores + 1) % 2];
        e->dispatcher(e, effSetChunk, 0, static_cast<VstIntPtr>(next.size()), const_cast<char*>(next.data()),
                      0.0f);
        totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ++restores;
    }
    measuring.store(false);
    stop.store(true);
    audio.join();
    state.counters["state_kb"] = static_cast<double>(block.size()) / 1024.0;
    state.counters["setchunk_ms"] = restores > 0 ? totalMs / static_cast<double>(restores) : 0.0;
    state.counters["worst_block_ms"] = static_cast<double>(worstNs.load()) / 1.0e6;
    state.counters["worst_idle_block_ms"] = static_cast<double>(idleWorstNs) / 1.0e6;
}

// The test kit's busy patch with `customWaves` custom waves in its layers, four a layer.
void MakeBusy(Torvane& t, int customWaves, int seed)
{
    MakeBusyPatch(t);
    for (int i = 0; i < customWaves; ++i)
    {
        VoiceDef* def = t.GetVoiceDef(i / 4);
        std::vector<float> amps(96);
        for (std::size_t h = 0; h < amps.size(); ++h)
            amps[h] = (1.0f + 0.25f * static_cast<float>((h + static_cast<std::size_t>(i + seed)) % 5)) /
                      static_cast<float>(h + 1);
        def->waveDef.CreateWithIFFT(i % 4, static_cast<long>(amps.size()), amps.data(), nullptr);
    }
}

// Notes when a load reaches each of its steps. The steps are reached with the mutex free, and
// each hold of the mutex after staging lies between two of them: the longest gap between steps
// bounds the longest hold from above (it adds the switch-off and the snapshot's memory).
class SteppedTorvane : public Torvane
{
public:
    SteppedTorvane() : Torvane(nullptr) {}
    void LoadStepReached(LoadStep) override { steps.push_back(Clock::now()); }
    std::vector<Clock::time_point> steps;
};

double Median(std::vector<double> v)
{
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

double Longest(std::vector<double> const& v)
{
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

void BM_RestoreSilenceAndHold(benchmark::State& state)
{
    UseScratchDataHome();
    int const waves = static_cast<int>(state.range(0));
    int const mode = static_cast<int>(state.range(1));
    SteppedTorvane t;
    MakeBusy(t, waves, 0);
    std::vector<char> const a = State(t);
    std::vector<char> b = a;
    if (mode == 1)
    {
        Torvane other(nullptr);
        MakeBusy(other, waves, 1);
        b = State(other);
    }
    if (mode == 2) b.pop_back();
    RecordingMessageSink quiet;

    // The engine's switch tells its listeners on the loading thread, as it goes off and on.
    struct OffTimer : ParamUpdateListener
    {
        void ParameterUpdated(float value, Parameter*) override
        {
            Clock::time_point const now = Clock::now();
            if (value < 0.5f && !off) since = now;
            if (value >= 0.5f && off) offMs += std::chrono::duration<double, std::milli>(now - since).count();
            off = value < 0.5f;
        }
        bool off = false;
        Clock::time_point since;
        double offMs = 0.0;
    } offTimer;
    t.enabled.AddUpdateListener(&offTimer);

    std::vector<double> silences;
    std::vector<double> holds;
    double totalMs = 0.0;
    for (auto _ : state)
    {
        std::vector<char> const& block = mode == 2 || holds.size() % 2 == 0 ? b : a;
        t.steps.clear();
        Clock::time_point const start = Clock::now();
        benchmark::DoNotOptimize(
            t.RestorePluginState(const_cast<char*>(block.data()), static_cast<int>(block.size())));
        totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        silences.push_back(offTimer.offMs);
        offTimer.offMs = 0.0;
        double hold = 0.0;
        for (std::size_t i = 1; i < t.steps.size(); ++i)
            hold = std::max(hold,
                            std::chrono::duration<double, std::milli>(t.steps[i] - t.steps[i - 1]).count());
        holds.push_back(hold);
    }
    t.enabled.RemoveUpdateListener(&offTimer);
    state.counters["state_kb"] = static_cast<double>(a.size()) / 1024.0;
    state.counters["restore_ms"] = holds.empty() ? 0.0 : totalMs / static_cast<double>(holds.size());
    state.counters["silence_ms"] = Median(silences);
    state.counters["longest_silence_ms"] = Longest(silences);
    state.counters["hold_ms"] = Median(holds);
    state.counters["longest_hold_ms"] = Longest(holds);
}

} // namespace

BENCHMARK(BM_Snapshot)->Arg(0)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavePluginState)->Arg(0)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Restore)
    ->Args({0, 0})
    ->Args({8, 0})
    ->Args({16, 0})
    ->Args({8, 1})
    ->Args({16, 1})
    ->Args({16, 2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreSilenceAndHold)
    ->ArgsProduct({{0, 8, 16}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60)
    ->UseRealTime();
BENCHMARK(BM_RestoreWhileRendering)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

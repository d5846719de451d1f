// The editor's commands beside a real-time audio thread: a host renders 48 kHz in blocks of 256
// frames (one period is 5.33 ms) on a SCHED_FIFO thread, paced by the clock as a sound card
// would, while this thread runs one command the way the editor runs it. Each run builds a fresh
// instance; "longest_ms" is the longest processReplacing call that overlapped the command (or
// the first to start after it began); "held_ms" the longest time the command's thread held the
// plug-in mutex at a stretch. Five runs per row; the median row is the figure to read.
// Where the system refuses SCHED_FIFO the audio thread runs at normal priority and the program
// says so once.
//
// Run it once on a quiet machine and once beside a busy loop per core.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include "editor/SineWav.h"
#include "engine/Torvane.h"
#include "framework/Streams.h"
#include "support/TemporaryDataHome.h"
#include "support/engine/BusyPatch.h"
#include "support/engine/HeadlessHost.h"
#include "support/engine/OwnHolds.h"

namespace
{

constexpr float kRate = 48000.0f;
constexpr long kFrames = 256;
constexpr std::int64_t kPeriodNs = 1000000000LL * kFrames / 48000;

TemporaryDataHome& ScratchHome()
{
    static TemporaryDataHome home("torvane-bench-commands-");
    return home;
}

std::int64_t Now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// A host's audio thread: one block per period, each call's start and length kept in storage
// reserved beforehand.
class AudioThread
{
public:
    explicit AudioThread(HeadlessHost& h) : host(h)
    {
        calls.resize(1 << 16);
        thread = std::thread([this] { Run(); });
        while (!started.load())
            std::this_thread::yield();
    }
    ~AudioThread()
    {
        stop.store(true);
        thread.join();
    }
    AudioThread(AudioThread const&) = delete;
    AudioThread& operator=(AudioThread const&) = delete;

    // Waits until `blocks` more blocks were rendered.
    void WaitBlocks(std::size_t blocks)
    {
        std::size_t const target = count.load() + blocks;
        while (count.load() < target)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The longest call that overlapped [from, to] or was the first to start after `from`, in ms.
    double LongestBetween(std::int64_t from, std::int64_t to) const
    {
        std::size_t const n = std::min(count.load(), calls.size());
        std::int64_t longest = 0;
        bool next = true;
        for (std::size_t i = 0; i < n; ++i)
        {
            Call const& c = calls[i];
            bool const overlaps = c.start <= to && c.start + c.length >= from;
            bool const first = next && c.start >= from;
            if (c.start >= from) next = false;
            if (overlaps || first) longest = std::max(longest, c.length);
        }
        return double(longest) / 1e6;
    }

private:
    struct Call
    {
        std::int64_t start;
        std::int64_t length;
    };

    void Run()
    {
        sched_param param{};
        param.sched_priority = std::min(80, sched_get_priority_max(SCHED_FIFO));
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0)
        {
            static std::atomic<bool> said{false};
            if (!said.exchange(true))
                std::fprintf(
                    stderr, "bench_commands: SCHED_FIFO refused; the audio thread runs at normal priority\n");
        }
        started.store(true);
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        while (!stop.load())
        {
            next.tv_nsec += kPeriodNs;
            while (next.tv_nsec >= 1000000000L)
            {
                next.tv_nsec -= 1000000000L;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            std::int64_t const start = Now();
            host.Render(kFrames);
            std::size_t const i = count.load();
            if (i < calls.size()) calls[i] = Call{start, Now() - start};
            count.store(i + 1);
        }
    }

    HeadlessHost& host;
    std::vector<Call> calls;
    std::atomic<std::size_t> count{0};
    std::atomic<bool> started{false};
    std::atomic<bool> stop{false};
    std::thread thread;
};

// A 440 Hz sine, 16-bit mono, one second: the WAV import's file.
std::string WavFile()
{
    static std::string const path = []
    {
        std::string const p = (std::filesystem::path(ScratchHome().Path()) / "a440.wav").string();
        WriteSineWav(p, 440.0f, 44100);
        return p;
    }();
    return path;
}

std::vector<char> Bytes(String const& s)
{
    return std::vector<char>(static_cast<char const*>(s), static_cast<char const*>(s) + s.GetLength());
}

// A saved busy patch, as the preset page and a host's setChunk would give it.
std::vector<char> const& BusyPatchStream()
{
    static std::vector<char> const bytes = []
    {
        HeadlessHost source(false, kRate);
        MakeBusyPatch(source.Instrument(), BusyPatch::kHeld);
        String s;
        StringWriter w;
        w.Open(&s);
        source.Instrument().SavePreset(w, Torvane::kPatchVersion);
        w.Close();
        return Bytes(s);
    }();
    return bytes;
}

std::vector<char> TimelinePreset(Torvane& t)
{
    String s;
    StringWriter w;
    w.Open(&s);
    t.SaveTimelinePreset(std::vector<bool>(6, true), w);
    w.Close();
    return Bytes(s);
}

using Command = std::function<void(Torvane&)>;
// Runs once before the audio thread starts: what the command's own inputs need.
using Prepare = std::function<Command(Torvane&)>;

void RunCommand(benchmark::State& state, Prepare const& prepare)
{
    ScratchHome();
    for (auto _ : state)
    {
        HeadlessHost host(false, kRate);
        Torvane& t = host.Instrument();
        Command const command = prepare(t);
        for (int key : {48, 55, 60, 64})
            host.NoteOn(key, 100);
        double longest = 0.0;
        double held = 0.0;
        {
            AudioThread audio(host);
            audio.WaitBlocks(20);
            std::int64_t const from = Now();
            {
                // The longest time the command's thread held the plug-in mutex at a stretch.
                std::int64_t since = 0;
                std::int64_t longestHold = 0;
                OwnHolds timer(t.GetMutex(),
                               [&](bool isHeld)
                               {
                                   if (isHeld)
                                       since = Now();
                                   else
                                       longestHold = std::max(longestHold, Now() - since);
                               });
                command(t);
                held = double(longestHold) / 1e6;
            }
            std::int64_t const to = Now();
            // A call the command held up ends after it: let it finish.
            audio.WaitBlocks(3);
            longest = audio.LongestBetween(from, to);
        }
        state.counters["longest_ms"] = longest;
        state.counters["held_ms"] = held;
    }
}

void BM_ResetPatch(benchmark::State& s)
{
    RunCommand(s, [](Torvane&) { return Command([](Torvane& t) { t.DefaultPatch(); }); });
}

// Reset Patch from a loaded patch whose layers hold waves of their own: the default waves are built.
void BM_ResetPatchAfterLoad(benchmark::State& s)
{
    BusyPatchStream();
    RunCommand(s,
               [](Torvane& t)
               {
                   StringReader r;
                   r.Open(BusyPatchStream().data(), BusyPatchStream().size());
                   t.LoadPreset(r, Torvane::kPatchVersion);
                   return Command([](Torvane& tt) { tt.DefaultPatch(); });
               });
}

void BM_StandardShape(benchmark::State& s)
{
    RunCommand(s, [](Torvane&) { return Command([](Torvane& t) { t.LoadStandardWaveform(-1, 1, 2); }); });
}

void BM_WaveEditorApply(benchmark::State& s)
{
    RunCommand(s,
               [](Torvane&)
               {
                   return Command(
                       [](Torvane& t)
                       {
                           std::vector<float> amps(256, 0.0f), phases(256, 0.0f);
                           for (std::size_t h = 0; h < amps.size(); h += 2)
                               amps[h] = 1.0f / float(h + 1);
                           t.SetWaveFromPartials(-1, 0, 256, amps.data(), phases.data());
                       });
               });
}

void BM_WavImport(benchmark::State& s)
{
    WavFile();
    RunCommand(s,
               [](Torvane&) { return Command([](Torvane& t) { t.ImportWave(-1, 3, WavFile().c_str()); }); });
}

void BM_TimelinePresetLoad(benchmark::State& s)
{
    RunCommand(s,
               [](Torvane& t)
               {
                   auto bytes = std::make_shared<std::vector<char>>(TimelinePreset(t));
                   return Command(
                       [bytes](Torvane& tt)
                       {
                           StringReader r;
                           r.Open(bytes->data(), bytes->size());
                           tt.LoadTimelinePreset(std::vector<bool>(6, true), r);
                       });
               });
}

void BM_PasteAll(benchmark::State& s)
{
    RunCommand(s,
               [](Torvane& t)
               {
                   t.CopyAll(-1);
                   return Command([](Torvane& tt) { tt.PasteAll(-1); });
               });
}

void BM_PatchLoad(benchmark::State& s)
{
    BusyPatchStream();
    RunCommand(s,
               [](Torvane&)
               {
                   return Command(
                       [](Torvane& t)
                       {
                           StringReader r;
                           r.Open(BusyPatchStream().data(), BusyPatchStream().size());
                           t.LoadPreset(r, Torvane::kPatchVersion);
                       });
               });
}

void BM_KnobDrag(benchmark::State& s)
{
    RunCommand(s,
               [](Torvane&)
               {
                   return Command(
                       [](Torvane& t)
                       {
                           // A drag: 100 steps of one knob, a few milliseconds apart.
                           for (int i = 0; i <= 100; ++i)
                           {
                               t.setParameterAutomated(0, float(i) / 100.0f);
                               std::this_thread::sleep_for(std::chrono::milliseconds(2));
                           }
                       });
               });
}

void BM_SetChunk(benchmark::State& s)
{
    BusyPatchStream();
    RunCommand(s,
               [](Torvane&)
               {
                   return Command(
                       [](Torvane& t)
                       {
                           std::vector<char> block = BusyPatchStream();
                           AEffect* e = t.getAeffect();
                           e->dispatcher(e, effSetChunk, 0, static_cast<VstIntPtr>(block.size()),
                                         block.data(), 0.0f);
                       });
               });
}

void Rows(benchmark::internal::Benchmark* b)
{
    b->Iterations(1)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

BENCHMARK(BM_ResetPatch)->Apply(Rows);
BENCHMARK(BM_ResetPatchAfterLoad)->Apply(Rows);
BENCHMARK(BM_StandardShape)->Apply(Rows);
BENCHMARK(BM_WaveEditorApply)->Apply(Rows);
BENCHMARK(BM_WavImport)->Apply(Rows);
BENCHMARK(BM_TimelinePresetLoad)->Apply(Rows);
BENCHMARK(BM_PasteAll)->Apply(Rows);
BENCHMARK(BM_PatchLoad)->Apply(Rows);
BENCHMARK(BM_KnobDrag)->Apply(Rows);
BENCHMARK(BM_SetChunk)->Apply(Rows);

} // namespace

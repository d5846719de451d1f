// The whole engine under load: held notes on a heavy patch (four layers, four unison slots of
// four audible waves plus noise, filters, LFOs on pitch and cutoff, every send and effect),
// rendered in host-sized blocks. "audio_s_per_cpu_s" is how many seconds of audio one CPU
// second renders (1 = real time).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dsp/Simd.h"
#include "engine/Torvane.h"
#include "support/TemporaryDataHome.h"
#include "support/engine/BusyPatch.h"

namespace
{

// The instrument keeps its folders below $XDG_DATA_HOME: point that at a scratch folder once,
// removed at exit.
void UseScratchDataHome()
{
    static TemporaryDataHome home("torvane-bench-");
}

// Arguments: notes held, block frames, sample rate.
void BM_Engine(benchmark::State& state)
{
    UseScratchDataHome();
    const int notes = static_cast<int>(state.range(0));
    const long frames = static_cast<long>(state.range(1));
    const float rate = static_cast<float>(state.range(2));

    auto t = std::make_unique<Torvane>(nullptr);
    t->setSampleRate(rate);
    MakeBusyPatch(*t, BusyPatch::kHeld);
    for (int i = 0; i < notes; ++i)
        t->NoteOnMidiEvent(0, 36 + 3 * i, 100, 0);

    std::vector<float> left(static_cast<size_t>(frames));
    std::vector<float> right(static_cast<size_t>(frames));
    // Past the start, so every curve pool has its working size.
    for (int i = 0; i < 50; ++i)
        t->Render(left.data(), right.data(), frames, 0);

    for (auto _ : state)
    {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        t->Render(left.data(), right.data(), frames, 0);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
        benchmark::ClobberMemory();
    }
    const double seconds = static_cast<double>(state.iterations()) * static_cast<double>(frames) / rate;
    state.counters["audio_s_per_cpu_s"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(state.iterations() * frames);
}

void EngineArguments(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"notes", "frames", "rate"});
    for (int notes : {16, 1})
        for (int rate : {44100, 48000})
            for (int frames : {64, 256, 512})
                b->Args({notes, frames, rate});
}

// The 512-frame case with the vector kernels held on SSE2 (machines without AVX2).
void BM_EngineSSE2(benchmark::State& state)
{
    Simd::Force(Simd::Path::SSE2);
    BM_Engine(state);
    Simd::Unforce();
}

} // namespace

BENCHMARK(BM_Engine)->Apply(EngineArguments)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineSSE2)
    ->ArgNames({"notes", "frames", "rate"})
    ->Args({16, 512, 44100})
    ->Args({1, 512, 44100})
    ->Unit(benchmark::kMicrosecond);

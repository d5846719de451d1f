#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "dsp/WaveTables.h"

// Building one slot of the instrument's table: 128 levels of 4096 samples.
static void BM_CreateSaw(benchmark::State& state)
{
    VectorMipOscWaveDef def;
    def.CreateSaw(0, 4096);
    for (auto _ : state)
    {
        def.CreateSaw(0, 4096);
        benchmark::DoNotOptimize(def.levels[127][0]);
    }
}
BENCHMARK(BM_CreateSaw)->Unit(benchmark::kMillisecond);

// A custom cycle, as a patch load rebuilds it.
static void BM_CreateWithSamples(benchmark::State& state)
{
    VectorMipOscWaveDef def;
    def.CreateSilence(0, 4096);
    std::vector<float> cycle(4096);
    for (size_t i = 0; i < cycle.size(); ++i)
        cycle[i] = float(std::tanh(3.0 * std::sin(6.283185307179586 * double(i) / 4096.0)));
    for (auto _ : state)
    {
        def.CreateWithSamples(1, cycle.data(), -1);
        benchmark::DoNotOptimize(def.levels[127][1]);
    }
}
BENCHMARK(BM_CreateWithSamples)->Unit(benchmark::kMillisecond);

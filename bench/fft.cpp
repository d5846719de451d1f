#include "dsp/FFT.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
std::vector<float> Saw(long n)
{
    std::vector<float> x(static_cast<size_t>(n));
    for (long i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] = 2.0f * static_cast<float>(i) / static_cast<float>(n) - 1.0f;
    return x;
}

// One forward and one inverse transform of the raw real FFT.
void BM_FFTRealForwardInverse(benchmark::State& state)
{
    const long n = state.range(0);
    FFTReal fft(n);
    const std::vector<float> x = Saw(n);
    std::vector<float> f(static_cast<size_t>(n)), y(static_cast<size_t>(n));
    for (auto _ : state)
    {
        fft.do_fft(f.data(), x.data());
        fft.do_ifft(f.data(), y.data());
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_FFTRealForwardInverse)->Arg(4096)->Arg(32768);

// The wave-table path: samples to amplitudes and phases and back.
void BM_FFTAmplitudesAndPhases(benchmark::State& state)
{
    const long n = state.range(0);
    FFT fft;
    fft.Init(n);
    const std::vector<float> x = Saw(n);
    for (auto _ : state)
    {
        std::copy(x.begin(), x.end(), fft.GetSamples());
        fft.ForwardFFT(true);
        fft.InverseFFT();
        benchmark::DoNotOptimize(fft.GetSamples());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_FFTAmplitudesAndPhases)->Arg(4096)->Arg(32768);
} // namespace

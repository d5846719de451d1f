#include "dsp/TableOscillator.h"
#include "dsp/WaveTables.h"
#include "engine/TNoiseOsc.h"
#include "engine/VectorOsc.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace
{

constexpr long kFrames = 512;

void Line(Envelope& e, float v0, float v1)
{
    e.Clear();
    e.AddBreakpoint(0.0f, v0);
    e.AddBreakpoint(static_cast<float>(kFrames), v1);
}

// The voice's four waves: saw, sine, square, a custom wave.
const VectorMipOscWaveDef& Waves()
{
    static const std::unique_ptr<VectorMipOscWaveDef> waves = []
    {
        auto w = std::make_unique<VectorMipOscWaveDef>();
        w->CreateSaw(0, 4096);
        w->CreateSine(1, 4096);
        w->CreateSquare(2, 4096);
        std::vector<float> amps(64);
        for (size_t h = 0; h < amps.size(); ++h)
            amps[h] = 1.0f / static_cast<float>((h + 1) * (h + 1));
        w->CreateWithIFFT(3, static_cast<long>(amps.size()), amps.data(), nullptr);
        return w;
    }();
    return *waves;
}

// One block's envelopes: all four waves above the threshold, a gain ramp, a slight glide.
void Fill(VectorOsc& osc, float hz)
{
    const float w0[4] = {0.4f, 0.3f, 0.2f, 0.1f};
    const float w1[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    osc.weights.Clear();
    osc.weights.GetBreakpoints().Add(0.0f, w0);
    osc.weights.GetBreakpoints().Add(static_cast<float>(kFrames), w1);
    Line(osc.amplitude, 0.5f, 0.6f);
    Line(osc.frequency, hz, hz * 1.001f);
    Line(osc.pan, -0.3f, 0.3f);
}

void BM_VectorOsc(benchmark::State& state)
{
    VectorOsc osc;
    osc.SetMipOscWaveDef(const_cast<VectorMipOscWaveDef*>(&Waves()));
    std::vector<float> left(kFrames), right(kFrames);
    const float hz = static_cast<float>(state.range(0));
    for (auto _ : state)
    {
        Fill(osc, hz);
        osc.RenderStereo(nullptr, nullptr, left.data(), right.data(), kFrames);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_VectorOsc)->Arg(55)->Arg(440)->Arg(3520);

// 16 oscillators (four notes of four unison slots) into one buffer.
void BM_VectorOsc16(benchmark::State& state)
{
    std::vector<std::unique_ptr<VectorOsc>> oscs;
    for (int i = 0; i < 16; ++i)
    {
        oscs.push_back(std::make_unique<VectorOsc>());
        oscs.back()->SetMipOscWaveDef(const_cast<VectorMipOscWaveDef*>(&Waves()));
    }
    std::vector<float> left(kFrames), right(kFrames);
    for (auto _ : state)
    {
        for (int i = 0; i < 16; ++i)
        {
            Fill(*oscs[static_cast<size_t>(i)],
                 110.0f * static_cast<float>(1 + i / 4) * (1.0f + 0.003f * static_cast<float>(i % 4)));
            oscs[static_cast<size_t>(i)]->RenderStereo(nullptr, nullptr, left.data(), right.data(), kFrames);
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kFrames * 16);
}
BENCHMARK(BM_VectorOsc16);

void BM_NoiseOsc(benchmark::State& state)
{
    TNoiseOsc osc;
    std::vector<float> left(kFrames), right(kFrames);
    for (auto _ : state)
    {
        Line(osc.amplitude, 0.5f, 0.6f);
        Line(osc.pan, -0.3f, 0.3f);
        osc.RenderStereo(nullptr, nullptr, left.data(), right.data(), kFrames);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_NoiseOsc);

// The default note's oscillator: a 44100-sample saw, steady pitch or a glide.
void BM_StdOsc(benchmark::State& state)
{
    OscWaveDef saw;
    saw.CreateSaw(44100);
    StdOsc osc;
    osc.SetOscWaveDef(&saw);
    std::vector<float> left(kFrames), right(kFrames);
    const float glide = static_cast<float>(state.range(0));
    for (auto _ : state)
    {
        Line(osc.amplitudeEnvelope, 0.5f, 0.6f);
        Line(osc.pitchEnvelope, 60.0f, 60.0f + glide);
        Line(osc.panEnvelope, -0.3f, 0.3f);
        osc.RenderStereo(nullptr, nullptr, left.data(), right.data(), kFrames);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_StdOsc)->Arg(0)->Arg(2);

} // namespace

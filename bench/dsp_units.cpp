// Cost of each DSP unit per 512-frame block.

#include <benchmark/benchmark.h>

#include <vector>

#include "dsp/DelayEffect.h"
#include "dsp/DistortionEffect.h"
#include "dsp/MoogFilter.h"
#include "dsp/ReverbEffect.h"
#include "dsp/SampleRateConverter.h"
#include "dsp/StereoFilter.h"
#include "framework/Random.h"

namespace
{
constexpr long kBlock = 512;

struct Buffers
{
    Buffers() : inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock)
    {
        Random rng(1);
        for (long i = 0; i < kBlock; ++i)
        {
            inL[static_cast<size_t>(i)] = 0.5f * rng.NextSignedFloat();
            inR[static_cast<size_t>(i)] = 0.5f * rng.NextSignedFloat();
        }
    }
    std::vector<float> inL, inR, outL, outR;
};

void BM_FlexiFilter(benchmark::State& state)
{
    Buffers b;
    FlexiFilter f;
    f.InitFilter(FlexiFilter::LowPass, 1000.0, 44100.0, 2.0, 1.0, false);
    for (auto _ : state)
    {
        f.DoFiltering(b.inL.data(), b.outL.data(), static_cast<int>(kBlock));
        benchmark::DoNotOptimize(b.outL.data());
    }
}
BENCHMARK(BM_FlexiFilter);

void BM_StereoFilterSteady(benchmark::State& state)
{
    Buffers b;
    StereoFilter f;
    f.enabled.SetBool(true);
    f.cutoff = 2000.0f;
    for (auto _ : state)
    {
        f.RenderStereo(b.inL.data(), b.inR.data(), b.outL.data(), b.outR.data(), kBlock);
        benchmark::DoNotOptimize(b.outL.data());
    }
}
BENCHMARK(BM_StereoFilterSteady);

// A new cutoff every block: 16 coefficient sets per block.
void BM_StereoFilterRamp(benchmark::State& state)
{
    Buffers b;
    StereoFilter f;
    f.enabled.SetBool(true);
    float cutoff = 500.0f;
    for (auto _ : state)
    {
        cutoff = cutoff > 8000.0f ? 500.0f : cutoff * 1.5f;
        f.cutoff = cutoff;
        f.RenderStereo(b.inL.data(), b.inR.data(), b.outL.data(), b.outR.data(), kBlock);
        benchmark::DoNotOptimize(b.outL.data());
    }
}
BENCHMARK(BM_StereoFilterRamp);

// As the voice drives it: cutoff and resonance written, then 32 frames in place.
void BM_StereoFilterVoiceChunks(benchmark::State& state)
{
    Buffers b;
    StereoFilter f;
    f.enabled.SetBool(true);
    for (auto _ : state)
    {
        for (long pos = 0; pos < kBlock; pos += 32)
        {
            f.cutoff = 800.0f + static_cast<float>(pos);
            f.resonance = 10.0f;
            f.RenderStereo(b.outL.data() + pos, b.outR.data() + pos, b.outL.data() + pos, b.outR.data() + pos,
                           32);
        }
        benchmark::DoNotOptimize(b.outL.data());
    }
}
BENCHMARK(BM_StereoFilterVoiceChunks);

void BM_SampleRateConverterUpDown(benchmark::State& state)
{
    Buffers b;
    SampleRateConverter up, down;
    up.InitConversion(44100, 264600, 0.45f, 0.45f);
    down.InitConversion(264600, 44100, 0.45f, 0.45f);
    std::vector<float> wideL(kBlock * 6), wideR(kBlock * 6);
    for (auto _ : state)
    {
        const long m = up.Convert(b.inL.data(), b.inR.data(), wideL.data(), wideR.data(), kBlock);
        down.Convert(wideL.data(), wideR.data(), b.outL.data(), b.outR.data(), m);
        benchmark::DoNotOptimize(b.outL.data());
    }
}
BENCHMARK(BM_SampleRateConverterUpDown);

void BM_DelayEffect(benchmark::State& state)
{
    Buffers b;
    DelayEffect d;
    d.enabled.SetBool(true);
    for (auto _ : state)
    {
        d.RenderStereo(b.inL.data(), b.inR.data(), b.outL.data(), b.outR.data(), kBlock);
        benchmark::DoNotOptimize(b.outL.data());
    }
}
BENCHMARK(BM_DelayEffect);

void BM_ReverbEffect(benchmark::State& state)
{
    Buffers b;
    ReverbEffect r;
    r.enabled.SetBool(true);
    for (auto _ : state)
    {
        r.RenderStereo(b.inL.data(), b.inR.data(), b.outL.data(), b.outR.data(), kBlock);
        benchmark::DoNotOptimize(b.outL.data());
    }
}
BENCHMARK(BM_ReverbEffect);

void BM_DistortionEffect(benchmark::State& state)
{
    Buffers b;
    TDistortionEffect e;
    e.enabled.SetBool(true);
    for (auto _ : state)
    {
        e.RenderStereo(b.inL.data(), b.inR.data(), b.outL.data(), b.outR.data(), kBlock);
        benchmark::DoNotOptimize(b.outL.data());
    }
}
BENCHMARK(BM_DistortionEffect);

void BM_MoogLP(benchmark::State& state)
{
    Buffers b;
    MoogLP m;
    m.InitFilter(0, 1000.0, 44100.0, 20.0, 1.0, false);
    for (auto _ : state)
    {
        m.DoFilteringWithSoftClip(b.inL.data(), b.outL.data(), static_cast<int>(kBlock), 0.0f);
        benchmark::DoNotOptimize(b.outL.data());
    }
}
BENCHMARK(BM_MoogLP);
} // namespace

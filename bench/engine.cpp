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

#include "engine/Torvane.h"
#include "support/TemporaryDataHome.h"

namespace
{

// The instrument keeps its folders below $XDG_DATA_HOME: point that at a scratch folder once,
// removed at exit.
void UseScratchDataHome()
{
    static TemporaryDataHome home("torvane-bench-");
}

// A flat line long enough that every note keeps sounding for the whole run: a note's voice
// ends when its timeline passes the last point of its lines.
void SetLine(Envelope& line, std::vector<float> const& values)
{
    line.Clear();
    for (float time : {0.0f, 44100.0f * 3600.0f})
    {
        Breakpoint* b = line.AddBreakpoint();
        b->time = time;
        for (long i = 0; i < line.numValues; ++i)
            b->values[i] = values[static_cast<size_t>(i)];
    }
}

void HeavyPatch(Torvane& t)
{
    // A triangle (odd harmonics falling with their square) as the fourth, custom wave.
    std::vector<float> amps(64, 0.0f);
    for (size_t h = 0; h < amps.size(); h += 2)
        amps[h] = 1.0f / static_cast<float>((h + 1) * (h + 1));

    for (int layer = 0; layer < Torvane::kNumLayers; ++layer)
    {
        VoiceDef* def = t.GetVoiceDef(layer);
        def->parameters[VoiceDef::kLayerOn] = 1.0f;
        def->parameters[VoiceDef::kUnisonCount] = 4.0f;
        def->parameters[VoiceDef::kFilterOn] = 1.0f;
        def->parameters[VoiceDef::kLevel] = 0.5f;
        def->waveDef.CreateSaw(0, 4096);
        def->waveDef.CreateSquare(1, 4096);
        def->waveDef.CreateSine(2, 4096);
        def->waveDef.CreateWithIFFT(3, static_cast<long>(amps.size()), amps.data(), nullptr);
        def->loop.looping = true;
        def->loop.start = 0.0f;
        def->loop.end = 88200.0f;
        SetLine(def->lines[VoiceDef::kAmplitudeLine], {0.8f});
        // Detune and spread for the unison slots.
        SetLine(def->lines[VoiceDef::kVoiceLine], {0.0f, 0.0f, 0.0f, 0.2f, 0.8f});
        // Position (0.2, 0.1): all four weights well above the threshold; 80 % oscillators,
        // 20 % noise.
        SetLine(def->lines[VoiceDef::kWaveLine], {0.2f, 0.1f, 0.8f});
        SetLine(def->lines[VoiceDef::kFilterLine], {0.5f, 0.0f, 8.0f});
        std::vector<float> mod(23, 0.5f);
        mod[1] = 1.5f; // LFO 1 rate
        mod[2] = 0.0f; // sine
        mod[4] = 0.7f; // LFO 2 rate
        mod[5] = 2.0f; // saw
        SetLine(def->lines[VoiceDef::kModulationLine], mod);
        SetLine(def->lines[VoiceDef::kEffectsLine], {0.0f, 0.3f, 0.3f, 0.2f});
        t.SetModulationSource(0, kModSourceLFO1, layer);
        t.SetModulationTarget(0, kModTargetPitch, layer);
        t.SetModulationEnabled(0, true, layer);
        t.SetModulationSource(1, kModSourceLFO2, layer);
        t.SetModulationTarget(1, kModTargetFilterFreq, layer);
        t.SetModulationEnabled(1, true, layer);
    }
    t.GetDelayEffect()->enabled = 1.0f;
    t.GetReverbEffect()->enabled = 1.0f;
    t.GetDistortionEffect()->enabled = 1.0f;
    t.GetGlobalLowFilter()->enabled = 1.0f;
    t.GetGlobalLowFilter()->cutoff = 40.0f;
    t.GetGlobalHighFilter()->enabled = 1.0f;
    t.GetGlobalHighFilter()->cutoff = 16000.0f;
    t.polyphony = 16.0f;
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
    HeavyPatch(*t);
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

} // namespace

BENCHMARK(BM_Engine)->Apply(EngineArguments)->Unit(benchmark::kMicrosecond);

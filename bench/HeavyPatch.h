#pragma once

// The benchmarks' heavy patch and their scratch data folder.

#include "engine/Torvane.h"

#include <cstdlib>
#include <vector>

namespace
{

// The instrument keeps its folders below $XDG_DATA_HOME: point that at a scratch folder once.
void UseScratchDataHome()
{
    static bool done = false;
    if (done) return;
    done = true;
    char pattern[] = "/tmp/torvane-bench-XXXXXX";
    if (char* dir = mkdtemp(pattern)) setenv("XDG_DATA_HOME", dir, 1);
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

} // namespace

#pragma once

#include <cstddef>
#include <vector>

#include "engine/TModConstants.h"
#include "engine/Torvane.h"

// The one builder of busy patches for tests, benchmarks and fuzz targets: MakeBusyPatch(t, kind).
//   kEdited   every feature at work, set through the editing parameters as a user would; the
//             real-time and thread tests play it and the fuzz seeds hold it;
//   kHeavy    written straight into the layers: four audible waves in each of four unison
//             slots, resonant filters, LFOs on pitch and cutoff, every send and effect, looped;
//   kExtreme  kHeavy at its limits (wide detune, resonance 50, fast LFOs, full delay feedback,
//             long reverb, strong drive): the render soak's load;
//   kHeld     the engine benchmark's load: every note held for the whole run.
enum class BusyPatch
{
    kEdited,
    kHeavy,
    kExtreme,
    kHeld,
};

namespace busy_patch
{

// One breakpoint at time 0 holding `values` (the line is cleared first).
// Matrix rows 0 and 1 of a layer: LFO 1 -> pitch, LFO 2 -> cutoff.
inline void RouteLfosToPitchAndCutoff(Torvane& t, int layer)
{
    t.SetModulationSource(0, kModSourceLFO1, layer);
    t.SetModulationTarget(0, kModTargetPitch, layer);
    t.SetModulationEnabled(0, true, layer);
    t.SetModulationSource(1, kModSourceLFO2, layer);
    t.SetModulationTarget(1, kModTargetFilterFreq, layer);
    t.SetModulationEnabled(1, true, layer);
}

inline void FlatLine(Envelope& line, std::vector<float> const& values)
{
    line.Clear();
    Breakpoint* b = line.AddBreakpoint();
    b->time = 0.0f;
    for (long i = 0; i < line.numValues; ++i)
        b->values[i] = values[static_cast<std::size_t>(i)];
}

// A patch that makes the engine work hard: four layers, four unison slots each with four
// audible waves, noise, resonant filters, LFOs on pitch and cutoff, every send and effect.
inline void HeavyLayers(Torvane& t, bool extreme)
{
    for (int layer = 0; layer < Torvane::kNumLayers; ++layer)
    {
        VoiceDef* def = t.GetVoiceDef(layer);
        def->parameters[VoiceDef::kLayerOn] = 1.0f;
        def->parameters[VoiceDef::kUnisonCount] = 4.0f;
        def->parameters[VoiceDef::kFilterOn] = 1.0f;
        def->parameters[VoiceDef::kCutoffFollowsNote] = 1.0f;
        def->parameters[VoiceDef::kLevel] = 1.0f;
        def->waveDef.CreateSaw(0, 4096);
        def->waveDef.CreateSquare(1, 4096);
        def->waveDef.CreateSine(2, 4096);
        def->waveDef.CreateSaw(3, 4096);
        // A long sustain, looped so held notes keep sounding.
        def->loop.looping = true;
        def->loop.start = 0.0f;
        def->loop.end = 44100.0f;
        FlatLine(def->lines[VoiceDef::kAmplitudeLine], {1.0f});
        FlatLine(def->lines[VoiceDef::kVoiceLine], {0.0f, 0.1f, 0.0f, extreme ? 2.0f : 0.2f, 1.0f});
        FlatLine(def->lines[VoiceDef::kWaveLine], {0.2f, 0.1f, 0.7f});
        FlatLine(def->lines[VoiceDef::kFilterLine], {extreme ? 0.9f : 0.5f, 0.0f, extreme ? 50.0f : 8.0f});
        std::vector<float> mod(23, 1.0f);
        mod[1] = extreme ? 5.0f : 1.0f; // LFO 1 rate
        mod[4] = extreme ? 5.0f : 0.5f; // LFO 2 rate
        mod[5] = 3.0f;                  // LFO 2 random
        FlatLine(def->lines[VoiceDef::kModulationLine], mod);
        FlatLine(def->lines[VoiceDef::kEffectsLine], {0.0f, 0.3f, 0.3f, 0.3f});
        // LFO 1 -> pitch, LFO 2 -> cutoff, mod wheel -> resonance.
        RouteLfosToPitchAndCutoff(t, layer);
        t.SetModulationSource(2, kModSourceModWheel, layer);
        t.SetModulationTarget(2, kModTargetFilterRes, layer);
        t.SetModulationEnabled(2, true, layer);
    }
    t.GetDelayEffect()->enabled = 1.0f;
    t.GetDelayEffect()->feedback = extreme ? 1.0f : 0.5f;
    t.GetReverbEffect()->enabled = 1.0f;
    t.GetReverbEffect()->timeParam = extreme ? 1.0f : 0.5f;
    t.GetDistortionEffect()->enabled = 1.0f;
    t.GetDistortionEffect()->drive = extreme ? 3.0f : 1.0f;
    t.GetGlobalLowFilter()->enabled = 1.0f;
    t.GetGlobalHighFilter()->enabled = 1.0f;
    t.polyphony = 16.0f;
}

// A flat line long enough that every note keeps sounding for the whole run: a note's voice
// ends when its timeline passes the last point of its lines.
inline void HourLongLine(Envelope& line, std::vector<float> const& values)
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

inline void HeldLayers(Torvane& t)
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
        HourLongLine(def->lines[VoiceDef::kAmplitudeLine], {0.8f});
        // Detune and spread for the unison slots.
        HourLongLine(def->lines[VoiceDef::kVoiceLine], {0.0f, 0.0f, 0.0f, 0.2f, 0.8f});
        // Position (0.2, 0.1): all four weights well above the threshold; 80 % oscillators,
        // 20 % noise.
        HourLongLine(def->lines[VoiceDef::kWaveLine], {0.2f, 0.1f, 0.8f});
        HourLongLine(def->lines[VoiceDef::kFilterLine], {0.5f, 0.0f, 8.0f});
        std::vector<float> mod(23, 0.5f);
        mod[1] = 1.5f; // LFO 1 rate
        mod[2] = 0.0f; // sine
        mod[4] = 0.7f; // LFO 2 rate
        mod[5] = 2.0f; // saw
        HourLongLine(def->lines[VoiceDef::kModulationLine], mod);
        HourLongLine(def->lines[VoiceDef::kEffectsLine], {0.0f, 0.3f, 0.3f, 0.2f});
        RouteLfosToPitchAndCutoff(t, layer);
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

// kEdited: every feature a patch can switch on at work: four layers with four unison copies, filters,
// noise, LFOs and modulation rows, sends to the three effects (all enabled), both global
// filters, a quick release, and a polyphony low enough that chords steal notes.
inline void MakeEditedBusyPatch(Torvane& t)
{
    for (int layer = 0; layer < Torvane::kNumLayers; ++layer)
    {
        VoiceDef* def = t.GetVoiceDef(layer);
        def->parameters[VoiceDef::kLayerOn].SetBool(true);
        def->parameters[VoiceDef::kUnisonCount] = 4.0f;
        def->parameters[VoiceDef::kFilterOn].SetBool(true);
        def->parameters[VoiceDef::kCutoffFollowsNote].SetBool(layer % 2 == 1);
        def->parameters[VoiceDef::kLFO2FreeRunning].SetBool(layer == 3);
        def->parameters[VoiceDef::kReleaseTime] = 4410.0f;

        t.SetCurrentVoice(layer);
        t.SetEditTime(0.0f);
        t.unisonDetuneParam = 0.3f;
        t.unisonSpreadParam = 0.8f;
        t.vectorXParam = 0.25f * static_cast<float>(layer) - 0.4f;
        t.vectorYParam = 0.3f;
        t.oscNoiseBalanceParam = 0.3f;
        t.filterCutoffParam = 0.6f;
        t.filterResonanceParam = 6.0f;
        t.filterTypeParam = static_cast<float>(layer % 3);
        t.reverbSendParam = 0.5f;
        t.delaySendParam = 0.5f;
        t.distortionSendParam = 0.4f;
        t.lfo1DepthParam = 0.5f;
        t.lfo1RateParam = 3.0f;
        t.lfo2DepthParam = 0.4f;
        t.lfo2RateParam = 0.7f;

        int const sources[3] = {kModSourceLFO1, kModSourceModWheel, kModSourcePadX};
        int const targets[3] = {kModTargetPitch, kModTargetFilterFreq, kModTargetVectorX};
        for (int row = 0; row < 3; ++row)
        {
            t.SetModulationSource(row, sources[row], layer);
            t.SetModulationTarget(row, targets[row], layer);
            t.SetModulationEnabled(row, true, layer);
            t.SetModulationAmount(row, 0.3f, layer);
        }

        // A second breakpoint, so the lines move while notes play.
        t.SetEditTime(3000.0f);
        t.vectorXParam = 0.6f;
        t.filterCutoffParam = 0.3f;
        t.panParam = layer % 2 == 0 ? -0.5f : 0.5f;
    }
    t.SetEditTime(0.0f);
    t.SetCurrentVoice(0);

    t.GetDelayEffect()->enabled.SetBool(true);
    t.GetReverbEffect()->enabled.SetBool(true);
    t.GetDistortionEffect()->enabled.SetBool(true);
    t.GetGlobalLowFilter()->enabled.SetBool(true);
    t.GetGlobalLowFilter()->cutoff = 60.0f;
    t.GetGlobalHighFilter()->enabled.SetBool(true);
    t.GetGlobalHighFilter()->cutoff = 9000.0f;
    t.keyMode = 0.0f;
    t.polyphony = 4.0f;
    t.portamentoTime = 0.1f;
}

} // namespace busy_patch

inline void MakeBusyPatch(Torvane& t, BusyPatch kind = BusyPatch::kEdited)
{
    switch (kind)
    {
    case BusyPatch::kEdited:
        busy_patch::MakeEditedBusyPatch(t);
        break;
    case BusyPatch::kHeavy:
        busy_patch::HeavyLayers(t, false);
        break;
    case BusyPatch::kExtreme:
        busy_patch::HeavyLayers(t, true);
        break;
    case BusyPatch::kHeld:
        busy_patch::HeldLayers(t);
        break;
    }
}

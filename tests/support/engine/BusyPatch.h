#pragma once

#include "engine/TModConstants.h"
#include "engine/Torvane.h"

// Every feature a patch can switch on at work: four layers with four unison copies, filters,
// noise, LFOs and modulation rows, sends to the three effects (all enabled), both global
// filters, a quick release, and a polyphony low enough that chords steal notes.
inline void MakeBusyPatch(Torvane& t)
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

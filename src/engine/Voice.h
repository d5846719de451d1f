#pragma once

#include <atomic>

#include "dsp/DSPComponent.h"
#include "dsp/Envelope.h"
#include "dsp/StereoFilter.h"
#include "engine/TMod.h"
#include "engine/TNoiseOsc.h"
#include "engine/VectorOsc.h"
#include "engine/VoiceDef.h"
#include "engine/VoiceLFO.h"
#include "framework/Locks.h"
#include "framework/SoundBuffer.h"
#include "framework/StandardMaths.h"

class TNote;
class Torvane;

// The effect sends of one block: which of the instrument's send effects run. The instrument
// reads its three enable switches once per block and hands them to every voice, so a switch
// flipped during the block never sends into a buffer that was not cleared.
struct VoiceSends
{
    bool delay = false;
    bool reverb = false;
    bool distortion = false;
};

// The curves and the scratch buffer one voice needs while it renders a block. They carry
// nothing from one block to the next, and the voices of an instrument render one after the
// other under the plug-in mutex, so the instrument keeps one set for all its voices.
struct VoiceWorkspace
{
    VoiceWorkspace();
    VoiceWorkspace(VoiceWorkspace const&) = delete;
    VoiceWorkspace& operator=(VoiceWorkspace const&) = delete;

    // The block's pieces of the six lines (times in output samples, 0 .. n).
    Envelope amplitudePiece{true};
    Envelope voicePiece{true};
    Envelope wavePiece{true};
    Envelope modulationPiece{true};
    Envelope effectsPiece{true};
    // Derived curves.
    Envelope weights{true}; // four values: the vector weights
    Envelope xCurve{true};  // vector X, then Y, when modulated
    Envelope yCurve{true};
    Envelope amplitude{true}; // the layer's amplitude (line, modulation, velocity, gain)
    Envelope balance{true};   // oscillator share (Wave value 2), later the noise share
    Envelope oscAmplitude{true};
    Envelope noiseAmplitude{true};
    Envelope pitch{true}; // semitones, then Hz
    Envelope pan{true};
    Envelope glidePiece{true};
    Envelope work{true}; // one-value intermediate results
    Envelope work2{true};
    // The unison slots' own curves, built for one voice at a time and read in place by its
    // oscillators and noise sources: one small set for all voices stays in the caches.
    Envelope slotFrequency[VoiceDef::maxUnisonNum]; // Hz
    Envelope slotPan[VoiceDef::maxUnisonNum];       // oscillators
    Envelope noisePan[VoiceDef::maxUnisonNum];      // noise sources
    // Per layer: the layers of one note render up to their filters one after the other, then
    // filter side by side.
    static constexpr int kLayers = 4;
    Envelope filterPiece[kLayers];
    SoundBuffer scratch[kLayers]; // kMaxRenderFrames stereo frames each
};

// One layer of one sounding note: cuts the block's pieces out of the layer's timeline lines,
// runs the layer's modulation, drives up to four unison vector oscillators and noise sources,
// filters, applies the release ramp, feeds the instrument's send buffers and adds the result
// into the note's output. A modulation source (0 velocity, 1 note number) and a target with
// seven inputs (VoiceModInput).
class Voice : public DSPComponent, public TModSource, public TModTarget
{
public:
    // Pan and pitch of the unison slots: slot i is detuned by d3 x i x detuneStretch[i] / u.
    static constexpr float detuneStretch[VoiceDef::maxUnisonNum] = {1.0f, 1.1f, 0.9f, 1.05f};
    // Points every growable curve of a voice holds without growing: an LFO's curve over the
    // largest block plus some breakpoints of the lines.
    static constexpr long kReservePoints = kModBlockPoints + 7;

    Voice();
    ~Voice() override;

    // Binds the voice to its note and layer (once, after the note knows its instrument):
    // joins the instrument's sample-rate and tempo sources, takes the layer's waves, binds the
    // pitch-bend row and listens to "PitchBendRange".
    void Init(TNote* note, int layer);

    // "PitchBendRange" changed.
    void ParameterUpdated(float value, Parameter* changed) override;
    void SetPitchBendRange(float semitones);
    // The amount the pitch-bend row takes at the start of the next block.
    float GetPitchBendAmount() const { return pitchBendAmount.load(std::memory_order_relaxed); }

    // Note on (the offset is not used).
    void Trigger(long offset);
    void Release(long offset);
    void QuickRelease(long offset);
    void Kill();
    // Glides from `semitones` above the key down to the key over `duration` samples from
    // `offset` on.
    void Portamento(float semitones, float duration, long offset);
    float GetCurrentPortamentoPitch();

    // Adds the layer into outL/outR (inputs not read); n <= kMaxRenderFrames.
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;

    // RenderStereo in steps, so that the layers of a note can run their filters side by side.
    // BeginRender renders the layer up to its filter into the layer's own scratch buffer:
    // kSkipped (nothing to do, not even FinishRender), kUnfiltered, or kFiltered, when the
    // filter's chunks follow: NextFilterChunk sets the filter up for the next one (false after
    // the last; `ready` false: the chunk is a bypass through GetFilter().RenderStereo), the
    // chunk is filtered (StereoFilter::FilterTogether, then EndChunk), and EndFilter closes the
    // filter's block. FinishRender does the rest: release, sends, the mix into outL/outR.
    enum BeginResult
    {
        kSkipped,
        kUnfiltered,
        kFiltered
    };
    BeginResult BeginRender(long n);
    bool NextFilterChunk(long& pos, long& len, bool& ready);
    void EndFilter();
    void FinishRender(float* outL, float* outR);
    SoundBuffer& Scratch() { return workspace->scratch[layer]; }
    void CreateModEnvelope(Envelope* out, long length, int output) override;

    // Modulation rows (ids of TModConstants.h); rows out of range are ignored.
    void SetModulationSource(int row, int id);
    void SetModulationTarget(int row, int id);
    void SetModulationEnabled(int row, bool enabled);
    void SetModulationAmount(int row, float amount);
    void EnableModulationMatrix(bool) {}

    TLFO* GetLFO1() { return &lfo1; }
    TLFO* GetLFO2() { return &lfo2; }
    // Play time in timeline units.
    float GetTime() const { return time; }
    TModMatrix& GetModMatrix() { return modMatrix; }
    StereoFilter& GetFilter() { return filter; }
    VectorOsc& GetOscillator(int slot) { return oscillators[slot]; }
    TNoiseOsc& GetNoise(int slot) { return noises[slot]; }
    bool IsReleasing() const { return releaseRunning; }
    bool IsGliding() const { return glideActive; }
    // Release ramp level at the current release time (1 before any release).
    float GetReleaseLevel() const;
    float GetReleaseTime() const { return releaseTime; }
    float GetReleaseEnd() const { return releaseRamp.End(); }
    float GetFreezePosition1() const { return freeze1; }
    float GetFreezePosition2() const { return freeze2; }

private:
    // The release ramp: level until `start`, then down to exactly 0 at start + length; either
    // the release curve (points every 512 samples on 1 - CalcPoint(x / length), curvature 0.8)
    // or the straight fall of a quick release.
    struct Ramp
    {
        float level = 1.0f;
        float start = 0.0f;
        float length = 0.0f;
        bool curved = false;

        float End() const { return start + length; }
        float ValueAt(float t) const;
        // The next point of the ramp after t (End() when none).
        float NextPointAfter(float t) const;
    };

    // The glide: `semitones` until `start`, down to 0 at `end`.
    struct Glide
    {
        float semitones = 0.0f;
        float start = 0.0f;
        float end = 0.0f;

        float ValueAt(float t) const;
    };

    void CutLine(int line, Envelope* dst, bool zeroOutside, float t0, float t1, float r);
    void BuildWeights(VoiceWorkspace& ws, TModValues* inX, TModValues* inY);
    void BuildPan(VoiceWorkspace& ws, int slot, int unison, TModValues* inPan, Envelope& dst);
    void BuildGlidePiece(Envelope& dst, long n);
    void RenderOscillators(VoiceWorkspace& ws, int unison, bool oscillatorsOnly, long n);
    void RenderNoise(VoiceWorkspace& ws, int unison, bool noiseOnly, long n);
    void StartFilter();
    void RunFilterChunk(long pos, long len, bool ready);
    void ApplyRelease(VoiceWorkspace& ws, long n);
    void RenderSends(VoiceWorkspace& ws, VoiceSends const& sends, long n);

    TNote* note = nullptr;
    Torvane* instrument = nullptr;
    int layer = 0;
    VoiceDef* def = nullptr;
    EventEnvelope* lines = nullptr;
    VoiceWorkspace* workspace = nullptr;
    Parameter* pitchBendRange = nullptr;
    // The pitch-bend row's amount as last set from "PitchBendRange", which may change on any
    // thread; the row takes it at the start of each block.
    std::atomic<float> pitchBendAmount{0.0f};

    VectorOsc oscillators[VoiceDef::maxUnisonNum];
    TNoiseOsc noises[VoiceDef::maxUnisonNum];
    StereoFilter filter;
    TLFO lfo1;
    TLFO lfo2;
    TModMatrix modMatrix;

    float time = 0.0f;
    float freeze1 = 0.0f;
    float freeze2 = 0.0f;
    EnvelopeContext contexts[VoiceDef::kNumLines];
    LoopInfo loop;

    Ramp releaseRamp;
    float releaseTime = 0.0f;
    bool releaseRunning = false;

    Glide glide;
    bool glideHasPoints = false;
    float glideTime = 0.0f;
    bool glideActive = false;

    // The block between BeginRender and FinishRender.
    long blockFrames = 0;
    float blockRate = 1.0f;
    bool blockQuiet = false;
    // The filter's walk through the block's piece of the Filter line.
    long walkSegment = 0;
    long walkPos = 0;
    long walkEnd = 0;
    bool walkInSegment = false;
    float walkKeyFrequency = 0.0f;
    EnvelopeContext cutoffContext;
    EnvelopeContext resonanceContext;

    Interpolator cutoffRamp;
    Interpolator resonanceRamp;
    // The filter settings last asked for (an unchanged setting costs no coefficient update).
    float requestedType = -1.0f;
    float requestedCutoff = -1.0f;
    float requestedResonance = -1.0f;
    // Where each line's last piece ended: a piece that starts before it walks from the start.
    float lineEnd[VoiceDef::kNumLines] = {};
};

#include "engine/Voice.h"

#include "engine/TNote.h"
#include "engine/Torvane.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace
{

// Spacing of the release curve's points, in samples.
constexpr float kReleaseStep = 512.0f;
// Curvature of the release curve.
constexpr float kReleaseCurvature = 0.8f;
// Length of a quick release, in samples.
constexpr float kQuickReleaseLength = 400.0f;
// Filter cutoff and resonance move in chunks of this many samples.
constexpr long kFilterChunk = 32;
// Filter history below this is inaudible: a silent layer's filter may rest.
constexpr float kFilterRest = 1e-9f;

// One point of each of the four waves' positions on the vector plane.
constexpr float kWaveX[4] = {-1.0f, 0.0f, 1.0f, 0.0f};
constexpr float kWaveY[4] = {0.0f, -1.0f, 0.0f, 1.0f};

// The weights of the four waves at (x, y): inverse squared distances, normalised.
void VectorWeights(float x, float y, float e, float* w)
{
    float q[4];
    float sum = 0.0f;
    for (int i = 0; i < 4; ++i)
    {
        const float dx = x - kWaveX[i];
        const float dy = y - kWaveY[i];
        q[i] = 1.0f / (dx * dx + dy * dy + e);
        sum += q[i];
    }
    for (int i = 0; i < 4; ++i)
        w[i] = q[i] / sum;
}

// A modulation value as a factor: 1 + v upwards, 1 / (1 + |v|) downwards.
float Multiplier(float v)
{
    if (!std::isfinite(v)) return 1.0f;
    return v >= 0.0f ? 1.0f + v : 1.0f / (-v + 1.0f);
}

// Turns a modulation input into factors within [0, 2].
void MakeModulator(Envelope& env)
{
    for (long i = 0; i < env.Size(); ++i)
    {
        float& v = env[i].values[0];
        v = std::clamp(Multiplier(v), 0.0f, 2.0f);
    }
}

bool AllZero(Envelope const& env)
{
    for (long i = 0; i < env.Size(); ++i)
        if (env[i].values[0] != 0.0f) return false;
    return true;
}

Breakpoint* AddPoint(Envelope& env, float t, float v)
{
    return env.AddBreakpoint(t, v);
}

bool FilterResting(StereoFilter const& f)
{
    auto quiet = [](FlexiFilter const& c)
    {
        return std::fabs(c.x1) < kFilterRest && std::fabs(c.x2) < kFilterRest &&
               std::fabs(c.y1) < kFilterRest && std::fabs(c.y2) < kFilterRest;
    };
    return quiet(f.GetLeft()) && quiet(f.GetRight());
}

bool FilterFinite(StereoFilter const& f)
{
    auto finite = [](FlexiFilter const& c)
    { return std::isfinite(c.x1) && std::isfinite(c.x2) && std::isfinite(c.y1) && std::isfinite(c.y2); };
    return finite(f.GetLeft()) && finite(f.GetRight());
}

// Sets a parameter only when the wanted value differs from the one last asked for, so an
// unchanged setting costs no coefficient update.
void SetIfChanged(Parameter& p, float& last, float v)
{
    if (v != last)
    {
        last = v;
        p = v;
    }
}

// The sends of one segment of the Effects line in one pass over the voice's samples: each send
// adds the samples times its gain ramp into its buffer, in the order delay, reverb, distortion;
// with the distortion send the samples are then scaled by the complementary ramp. Every ramp
// moves as a gradient over the segment does, start value plus the step once per sample, so every
// sample gets the gain, and every buffer the float, that a pass per send would give.
class SendRamps
{
public:
    void Add(float* left, float* right, float g0, float g1)
    {
        Ramp& r = ramps[count++];
        r.left = left;
        r.right = right;
        r.g0 = g0;
        r.g1 = g1;
    }

    void Run(float* left, float* right, long n, bool scale, float s0, float s1)
    {
        if (count == 0 && !scale) return;
        // One lane per ramp (delay, reverb, distortion in the order added, then the scale).
        float g0[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        float g1[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        for (int k = 0; k < count; ++k)
        {
            g0[k] = ramps[k].g0;
            g1[k] = ramps[k].g1;
        }
        g0[3] = s0;
        g1[3] = s1;
        __m128 gain = _mm_loadu_ps(g0);
        const __m128 step =
            _mm_div_ps(_mm_sub_ps(_mm_loadu_ps(g1), gain), _mm_set1_ps(static_cast<float>(n)));
        alignas(16) float g[4][kRun];
        for (long start = 0; start < n; start += kRun)
        {
            const long m = std::min(kRun, n - start);
            // The ramps' values for this run, four samples at a time turned into one row per ramp.
            for (long i = 0; i < m; i += 4)
            {
                __m128 v0 = gain;
                __m128 v1 = _mm_add_ps(v0, step);
                __m128 v2 = _mm_add_ps(v1, step);
                __m128 v3 = _mm_add_ps(v2, step);
                gain = _mm_add_ps(v3, step);
                _MM_TRANSPOSE4_PS(v0, v1, v2, v3);
                _mm_store_ps(g[0] + i, v0);
                _mm_store_ps(g[1] + i, v1);
                _mm_store_ps(g[2] + i, v2);
                _mm_store_ps(g[3] + i, v3);
            }
            float const* l = left + start;
            float const* r = right + start;
            for (int k = 0; k < count; ++k)
                MixScaled(ramps[k].left + start, ramps[k].right + start, l, r, g[k], m);
            if (scale) Scale(left + start, right + start, g[3], m);
        }
    }

private:
    static constexpr int kMaxRamps = 3;
    static constexpr long kRun = 64; // a multiple of 4

    // out += in * g, per sample.
    static void MixScaled(float* outL, float* outR, float const* l, float const* r, float const* g, long m)
    {
        long i = 0;
        for (; i + 4 <= m; i += 4)
        {
            const __m128 gi = _mm_load_ps(g + i);
            _mm_storeu_ps(outL + i, _mm_add_ps(_mm_loadu_ps(outL + i), _mm_mul_ps(_mm_loadu_ps(l + i), gi)));
            _mm_storeu_ps(outR + i, _mm_add_ps(_mm_loadu_ps(outR + i), _mm_mul_ps(_mm_loadu_ps(r + i), gi)));
        }
        for (; i < m; ++i)
        {
            outL[i] += l[i] * g[i];
            outR[i] += r[i] * g[i];
        }
    }

    static void Scale(float* l, float* r, float const* g, long m)
    {
        long i = 0;
        for (; i + 4 <= m; i += 4)
        {
            const __m128 gi = _mm_load_ps(g + i);
            _mm_storeu_ps(l + i, _mm_mul_ps(_mm_loadu_ps(l + i), gi));
            _mm_storeu_ps(r + i, _mm_mul_ps(_mm_loadu_ps(r + i), gi));
        }
        for (; i < m; ++i)
        {
            l[i] *= g[i];
            r[i] *= g[i];
        }
    }
    struct Ramp
    {
        float* left;
        float* right;
        float g0;
        float g1;
    };
    Ramp ramps[kMaxRamps];
    int count = 0;
};

} // namespace

// ---- workspace ---------------------------------------------------------------------------------

static_assert(VoiceWorkspace::kLayers == Torvane::kNumLayers);

VoiceWorkspace::VoiceWorkspace()
{
    struct Curve
    {
        Envelope* env;
        long values;
    };
    Curve const curves[] = {
        {&amplitudePiece, NUM_EVENTS_IN_EVENTTYPE[VoiceDef::kAmplitudeLine]},
        {&voicePiece, NUM_EVENTS_IN_EVENTTYPE[VoiceDef::kVoiceLine]},
        {&wavePiece, NUM_EVENTS_IN_EVENTTYPE[VoiceDef::kWaveLine]},
        {&modulationPiece, NUM_EVENTS_IN_EVENTTYPE[VoiceDef::kModulationLine]},
        {&effectsPiece, NUM_EVENTS_IN_EVENTTYPE[VoiceDef::kEffectsLine]},
        {&weights, 4},
        {&xCurve, 1},
        {&yCurve, 1},
        {&amplitude, 1},
        {&balance, 1},
        {&oscAmplitude, 1},
        {&noiseAmplitude, 1},
        {&pitch, 1},
        {&pan, 1},
        {&glidePiece, 1},
        {&work, 1},
        {&work2, 1},
    };
    for (Curve const& c : curves)
    {
        c.env->Init(c.values);
        c.env->Reserve(Voice::kReservePoints);
    }
    for (int i = 0; i < VoiceDef::maxUnisonNum; ++i)
        for (Envelope* env : {&slotFrequency[i], &slotPan[i], &noisePan[i]})
        {
            env->Init(1);
            env->GetBreakpoints().Reserve(Voice::kReservePoints);
        }
    for (int i = 0; i < kLayers; ++i)
    {
        filterPiece[i].Init(NUM_EVENTS_IN_EVENTTYPE[VoiceDef::kFilterLine]);
        filterPiece[i].GetBreakpoints().Reserve(Voice::kReservePoints);
        scratch[i].Init(kMaxRenderFrames, true);
    }
}

// ---- ramps ------------------------------------------------------------------------------------

float Voice::Ramp::ValueAt(float t) const
{
    if (t <= start) return level;
    if (t >= End()) return 0.0f;
    const float u = t - start;
    if (!curved) return level - level * (u / length);
    CurveGenerator curve;
    curve.Init(kReleaseCurvature);
    const float xa = std::floor(u / kReleaseStep) * kReleaseStep;
    const float xb = std::min(xa + kReleaseStep, length);
    const float va = xa == 0.0f ? 1.0f : 1.0f - curve.CalcPoint(xa / length);
    // The last point is exactly 0, whatever the length.
    const float vb = xb >= length ? 0.0f : 1.0f - curve.CalcPoint(xb / length);
    return va + (vb - va) * ((u - xa) / (xb - xa));
}

float Voice::Ramp::NextPointAfter(float t) const
{
    if (t < start) return start;
    if (t >= End()) return std::numeric_limits<float>::infinity();
    if (!curved) return End();
    const float x = (std::floor((t - start) / kReleaseStep) + 1.0f) * kReleaseStep;
    return x < length ? start + x : End();
}

float Voice::Glide::ValueAt(float t) const
{
    if (t <= start) return semitones;
    if (t >= end) return 0.0f;
    return semitones - semitones * ((t - start) / (end - start));
}

// ---- construction ----------------------------------------------------------------------------

Voice::Voice()
    : DSPComponent(0, "TORVANE_VOICE"), TModSource(kNumVoiceModOutputs, 2), TModTarget(kNumVoiceModInputs)
{
    filter.enabled = 1.0f;
    filter.cutoff = 80.0f;
    filter.resonance = 10.0f;
    filter.type = 0.0f;

    modMatrix.Init(kVoiceModRows);
    for (int row = kFirstPerformModRow; row < kVoiceModRows; ++row)
    {
        TModMap* map = modMatrix.GetMap(row);
        map->amountFromLine = false;
        map->amount = 1.0f;
    }
}

Voice::~Voice()
{
    if (pitchBendRange) pitchBendRange->RemoveUpdateListener(this);
}

void Voice::Init(TNote* owner, int layerIndex)
{
    note = owner;
    instrument = owner->GetTorvane();
    layer = layerIndex;
    def = instrument->GetVoiceDef(layer);
    lines = def->lines;
    workspace = instrument->GetVoiceWorkspace();

    const float rate = instrument->GetSourceSampleRate();
    const float tempo = instrument->GetSourceTempo();
    SampleRateListener* rateListeners[] = {
        this, &oscillators[0], &oscillators[1], &oscillators[2], &oscillators[3], &filter, &lfo1, &lfo2};
    for (SampleRateListener* l : rateListeners)
    {
        instrument->AddSampleRateListener(l);
        l->SetSampleRate(rate);
    }
    TempoListener* tempoListeners[] = {this, &lfo1, &lfo2};
    for (TempoListener* l : tempoListeners)
    {
        instrument->AddTempoListener(l);
        l->_SetTempo(tempo);
    }

    for (VectorOsc& osc : oscillators)
        osc.SetMipOscWaveDef(&def->waveDef);

    TModMap* bend = modMatrix.GetMap(kPitchBendModRow);
    bend->SetSource(instrument->GetPitchBendSource(), 0);
    bend->SetTarget(this, kVoiceInputPitch, true);
    bend->enabled = true;

    pitchBendRange = instrument->GetPitchBendRangeParam();
    SetPitchBendRange(static_cast<float>(*pitchBendRange));
    pitchBendRange->AddUpdateListener(this);
}

void Voice::ParameterUpdated(float value, Parameter* changed)
{
    if (changed && changed == pitchBendRange)
        SetPitchBendRange(value);
    else
        DSPComponent::ParameterUpdated(value, changed);
}

void Voice::SetPitchBendRange(float semitones)
{
    pitchBendAmount.store(std::pow(2.0f, semitones / 12.0f) - 1.0f, std::memory_order_relaxed);
}

// ---- note events -----------------------------------------------------------------------------

void Voice::Trigger(long)
{
    freeze1 = freeze2 = instrument->GetEditTime();
    for (EnvelopeContext& c : contexts)
        c.Reset();
    for (float& end : lineEnd)
        end = 0.0f;
    time = 0.0f;
    for (int i = 0; i < VoiceDef::maxUnisonNum; ++i)
        oscillators[i].Reset(i != 0);
    if (def->parameters[VoiceDef::kLFO1FreeRunning].GetBool())
        lfo1.SetPhase(instrument->GetLFO1FreeRunningPhase(layer));
    else
        lfo1.Reset();
    if (def->parameters[VoiceDef::kLFO2FreeRunning].GetBool())
        lfo2.SetPhase(instrument->GetLFO2FreeRunningPhase(layer));
    else
        lfo2.Reset();
    releaseRunning = false;
    releaseTime = 0.0f;
    glideActive = false;
    glideHasPoints = false;
    glideTime = 0.0f;
    filter.Flush();
}

void Voice::Release(long offset)
{
    releaseRamp.level = 1.0f;
    releaseRamp.start = static_cast<float>(std::max(offset, 0L));
    releaseRamp.length = std::max(Round(static_cast<float>(def->parameters[VoiceDef::kReleaseTime])), 1.0f);
    releaseRamp.curved = true;
    releaseTime = 0.0f;
    releaseRunning = true;
}

void Voice::QuickRelease(long offset)
{
    const float level = note->GetState() == TNote::kReleased ? GetReleaseLevel() : 1.0f;
    releaseRamp.level = level;
    releaseRamp.start = static_cast<float>(std::max(offset, 0L));
    releaseRamp.length = kQuickReleaseLength;
    releaseRamp.curved = false;
    releaseTime = 0.0f;
    releaseRunning = true;
}

void Voice::Kill()
{
    releaseRunning = false;
}

float Voice::GetReleaseLevel() const
{
    return releaseRunning ? releaseRamp.ValueAt(releaseTime) : 1.0f;
}

void Voice::Portamento(float semitones, float duration, long offset)
{
    glide.semitones = semitones;
    glide.start = static_cast<float>(std::max(offset, 0L));
    glide.end = glide.start + (std::isfinite(duration) && duration > 0.0f ? std::trunc(duration) : 0.0f);
    glideHasPoints = true;
    glideTime = 0.0f;
    glideActive = true;
}

float Voice::GetCurrentPortamentoPitch()
{
    const float key = static_cast<float>(note->GetPitch());
    if (!glideHasPoints) return key;
    return static_cast<float>(FreqToNote(NoteToFreq(key + glide.ValueAt(glideTime))));
}

void Voice::CreateModEnvelope(Envelope* out, long length, int output)
{
    float v;
    if (output == kVoiceOutputVelocity)
        v = static_cast<float>(note->GetVelocity()) / 64.0f - 1.0f;
    else if (output == kVoiceOutputNoteNumber)
        v = static_cast<float>(note->GetPitch()) / 64.0f - 1.0f;
    else
        return;
    out->AddBreakpoint(0.0f, v);
    out->AddBreakpoint(static_cast<float>(length), v);
}

// ---- modulation rows -------------------------------------------------------------------------

void Voice::SetModulationSource(int row, int id)
{
    if (row < 0 || row >= kPitchBendModRow) return;
    TModSourceTable table;
    table.lfo[0] = &lfo1;
    table.lfo[1] = &lfo2;
    for (int pad = 0; pad < kNumRoutedPerformPads; ++pad)
        table.pads[pad] = instrument->GetPerformMods()->GetSource(pad);
    table.modWheel = instrument->GetModWheelSource();
    table.channelPressure = instrument->GetChannelPressureSource();
    table.voice = this;
    modMatrix.SetSourceById(row, id, table);
}

void Voice::SetModulationTarget(int row, int id)
{
    if (row < 0 || row >= kPitchBendModRow) return;
    TModTargetTable table;
    table.voice = this;
    table.lfo[0] = &lfo1;
    table.lfo[1] = &lfo2;
    modMatrix.SetTargetById(row, id, table);
}

void Voice::SetModulationEnabled(int row, bool on)
{
    if (row < 0 || row >= kPitchBendModRow) return;
    modMatrix.GetMap(row)->enabled = on;
}

void Voice::SetModulationAmount(int row, float amount)
{
    if (row < 0 || row >= kPitchBendModRow) return;
    modMatrix.GetMap(row)->amount = amount;
}

// ---- render ----------------------------------------------------------------------------------

void Voice::CutLine(int line, Envelope* dst, bool zeroOutside, float t0, float t1, float r)
{
    dst->Clear();
    EventEnvelope const& src = lines[line];
    if (instrument->timeFreeze.GetBool())
    {
        Breakpoint* a = dst->AddBreakpoint();
        a->time = t0;
        src.ValuesAtTime(freeze1, a->values, nullptr, zeroOutside);
        Breakpoint* b = dst->AddBreakpoint();
        b->time = t1;
        src.ValuesAtTime(freeze2, b->values, nullptr, zeroOutside);
    }
    else
    {
        if (t0 < lineEnd[line]) contexts[line].Reset();
        src.ExtractTimePeriod(dst, t0, t1, &contexts[line], zeroOutside, &loop, 0.0f);
        lineEnd[line] = t1;
    }

    // Into output samples 0 .. n: every time but the last truncated, the last the block end.
    const long count = dst->Size();
    const float factor = 1.0f / r;
    for (long i = 0; i < count; ++i)
    {
        float t = (*dst)[i].time - t0;
        if (factor != 1.0f) t = i + 1 < count ? std::trunc(t * factor) : Round(t * factor);
        (*dst)[i].time = t;
    }
}

void Voice::BuildWeights(VoiceWorkspace& ws, TModValues* inX, TModValues* inY)
{
    Envelope const& wave = ws.wavePiece;
    ws.weights.Clear();
    float w[4];
    if (!inX->valid && !inY->valid)
    {
        for (long i = 0; i < wave.Size(); ++i)
        {
            VectorWeights(wave[i].values[0], wave[i].values[1], 0.00001f, w);
            ws.weights.GetBreakpoints().Add(wave[i].time, w);
        }
        return;
    }

    // Position curves: the line's value plus the modulation, kept on the plane.
    auto position = [&](TModValues* in, long valueIndex, Envelope& dst)
    {
        dst.Clear();
        if (in->valid)
        {
            ws.work.Clear();
            wave.ExtractYRange(&ws.work, valueIndex, valueIndex);
            Envelope::Add(*in, ws.work, dst);
            dst.ClipValues(-1.0f, 1.0f);
        }
        else
        {
            wave.ExtractYRange(&dst, valueIndex, valueIndex);
        }
    };
    position(inX, 0, ws.xCurve);
    position(inY, 1, ws.yCurve);

    Envelope const& xs = ws.xCurve;
    Envelope const& ys = ws.yCurve;
    EnvelopeContext cx;
    EnvelopeContext cy;
    long i = 0;
    long j = 0;
    while (i < xs.Size())
    {
        const float tx = xs[i].time;
        const float ty = j < ys.Size() ? ys[j].time : std::numeric_limits<float>::infinity();
        float t;
        float x;
        float y;
        if (tx == ty)
        {
            t = tx;
            x = xs[i++].values[0];
            y = ys[j++].values[0];
        }
        else if (ty < tx)
        {
            t = ty;
            y = ys[j++].values[0];
            x = xs.ValueAtTime(t, 0, &cx, false);
        }
        else
        {
            t = tx;
            x = xs[i++].values[0];
            y = ys.ValueAtTime(t, 0, &cy, false);
        }
        VectorWeights(x, y, 0.01f, w);
        ws.weights.GetBreakpoints().Add(t, w);
    }
}

void Voice::BuildPan(VoiceWorkspace& ws, int slot, int unison, TModValues* inPan, Envelope& dst)
{
    Envelope const& voice = ws.voicePiece;
    Envelope& pan = inPan->valid ? ws.pan : dst;
    pan.Clear();
    for (long k = 0; k < voice.Size(); ++k)
    {
        float const* d = voice[k].values;
        float p = d[2];
        if (unison > 1)
        {
            const float s = 2.0f * d[4];
            p = std::clamp(static_cast<float>(slot) * s / static_cast<float>(unison - 1) + d[2] - s / 2.0f,
                           -1.0f, 1.0f);
        }
        AddPoint(pan, voice[k].time, p);
    }
    if (inPan->valid)
    {
        dst.Clear();
        Envelope::Add(pan, *inPan, dst);
        dst.ClipValues(-1.0f, 1.0f);
    }
}

void Voice::BuildGlidePiece(Envelope& dst, long n)
{
    dst.Clear();
    const float from = glideTime;
    const float to = glideTime + static_cast<float>(n);
    if (from > glide.end)
    {
        AddPoint(dst, 0.0f, 0.0f);
        AddPoint(dst, static_cast<float>(n), 0.0f);
        return;
    }
    AddPoint(dst, 0.0f, glide.ValueAt(from));
    if (glide.start > 0.0f && glide.start > from && glide.start < to)
        AddPoint(dst, glide.start - from, glide.semitones);
    if (glide.end > from && glide.end < to) AddPoint(dst, glide.end - from, 0.0f);
    AddPoint(dst, static_cast<float>(n), glide.ValueAt(to));
}

void Voice::RenderOscillators(VoiceWorkspace& ws, int unison, bool oscillatorsOnly, long n)
{
    Envelope* amp = &ws.amplitude;
    if (!oscillatorsOnly)
    {
        ws.oscAmplitude.Clear();
        Envelope::Multiply(*amp, ws.balance, ws.oscAmplitude);
        amp = &ws.oscAmplitude;
    }
    if (glideActive) BuildGlidePiece(ws.glidePiece, n);

    TModValues* inPitch = GetInput(kVoiceInputPitch);
    TModValues* inPan = GetInput(kVoiceInputPan);
    const float key = static_cast<float>(note->GetPitch());
    const bool silent = AllZero(*amp);
    for (int i = 0; i < unison && !silent; ++i)
    {
        VectorOsc& osc = oscillators[i];
        osc.UseAmplitude(amp);

        // The slot's pitch is built where the oscillator reads it unless glide or modulation
        // still combine it with another curve.
        Envelope const& voice = ws.voicePiece;
        Envelope& frequency = ws.slotFrequency[i];
        Envelope& base = glideActive || inPitch->valid ? ws.pitch : frequency;
        base.Clear();
        const float detune = static_cast<float>(i) * detuneStretch[i] / static_cast<float>(unison);
        for (long k = 0; k < voice.Size(); ++k)
        {
            float const* d = voice[k].values;
            AddPoint(base, voice[k].time, std::max(d[1] + d[0] + key - d[3] * detune, 0.0f));
        }
        Envelope* pitch = &base;
        if (glideActive)
        {
            Envelope& sum = inPitch->valid ? ws.work : frequency;
            sum.Clear();
            Envelope::Add(ws.pitch, ws.glidePiece, sum);
            pitch = &sum;
        }
        for (long k = 0; k < pitch->Size(); ++k)
        {
            float& v = (*pitch)[k].values[0];
            v = NoteToFreq(v);
        }
        if (inPitch->valid)
        {
            frequency.Clear();
            Envelope::Multiply(*pitch, *inPitch, frequency);
        }
        osc.UseFrequency(&frequency);

        BuildPan(ws, i, unison, inPan, ws.slotPan[i]);
        osc.UsePan(&ws.slotPan[i]);
        osc.UseWeights(&ws.weights);
        osc.RenderStereo(nullptr, nullptr, ws.scratch[layer].left, ws.scratch[layer].right, n);
    }

    if (glideActive)
    {
        glideTime += static_cast<float>(n);
        if (glideTime > glide.end) glideActive = false;
    }
}

void Voice::RenderNoise(VoiceWorkspace& ws, int unison, bool noiseOnly, long n)
{
    Envelope* amp = &ws.amplitude;
    if (!noiseOnly)
    {
        for (long k = 0; k < ws.balance.Size(); ++k)
        {
            float& b = ws.balance[k].values[0];
            b = 1.0f - b;
        }
        ws.noiseAmplitude.Clear();
        Envelope::Multiply(*amp, ws.balance, ws.noiseAmplitude);
        amp = &ws.noiseAmplitude;
    }
    if (AllZero(*amp)) return;
    TModValues* inPan = GetInput(kVoiceInputPan);
    for (int i = 0; i < unison; ++i)
    {
        TNoiseOsc& noise = noises[i];
        noise.UseAmplitude(amp);
        BuildPan(ws, i, unison, inPan, ws.noisePan[i]);
        noise.UsePan(&ws.noisePan[i]);
        noise.RenderStereo(nullptr, nullptr, ws.scratch[layer].left, ws.scratch[layer].right, n);
    }
}

void Voice::StartFilter()
{
    walkKeyFrequency = def->parameters[VoiceDef::kCutoffFollowsNote].GetBool()
                           ? NoteToFreq(static_cast<float>(note->GetPitch()))
                           : 0.0f;
    walkSegment = 0;
    walkInSegment = false;
    cutoffContext.Reset();
    resonanceContext.Reset();
}

bool Voice::NextFilterChunk(long& pos, long& len, bool& ready)
{
    Envelope const& piece = workspace->filterPiece[layer];
    for (;;)
    {
        if (!walkInSegment)
        {
            if (walkSegment + 1 >= piece.Size()) return false;
            Breakpoint const& a = piece[walkSegment];
            Breakpoint const& b = piece[walkSegment + 1];
            const long ta = std::max(static_cast<long>(a.time), 0L);
            const long tb = std::min(static_cast<long>(b.time), blockFrames);
            if (tb <= ta)
            {
                ++walkSegment;
                continue;
            }
            SetIfChanged(filter.type, requestedType, a.values[1]);
            cutoffRamp.Init(static_cast<float>(ta), a.values[0], static_cast<float>(tb), b.values[0]);
            resonanceRamp.Init(static_cast<float>(ta), a.values[2], static_cast<float>(tb), b.values[2]);
            walkPos = ta;
            walkEnd = tb;
            walkInSegment = true;
        }
        if (walkPos >= walkEnd)
        {
            walkInSegment = false;
            ++walkSegment;
            continue;
        }
        pos = walkPos;
        len = std::min(kFilterChunk, walkEnd - walkPos);
        // Cutoff and resonance move in chunks.
        TModValues* inCutoff = GetInput(kVoiceInputFilterFreq);
        TModValues* inResonance = GetInput(kVoiceInputFilterRes);
        float c = cutoffRamp.GetValue();
        if (inCutoff->valid)
            c *= Multiplier(inCutoff->ValueAtTime(static_cast<float>(pos), 0, &cutoffContext, false));
        SetIfChanged(filter.cutoff, requestedCutoff, 22000.0f * c * c * c + walkKeyFrequency);
        cutoffRamp.Step(static_cast<float>(len));
        float q = resonanceRamp.GetValue();
        if (inResonance->valid)
            q *= Multiplier(inResonance->ValueAtTime(static_cast<float>(pos), 0, &resonanceContext, false));
        SetIfChanged(filter.resonance, requestedResonance, q);
        resonanceRamp.Step(static_cast<float>(len));
        walkPos += kFilterChunk;
        ready = filter.BeginChunk(len);
        return true;
    }
}

void Voice::RunFilterChunk(long pos, long len, bool ready)
{
    SoundBuffer& scratch = Scratch();
    float* left = scratch.left + pos;
    float* right = scratch.right + pos;
    if (!ready)
    {
        filter.RenderStereo(left, right, left, right, len);
        return;
    }
    StereoFilter* f = &filter;
    StereoFilter::FilterTogether(&f, 1, &left, &right, len);
    filter.EndChunk();
}

void Voice::EndFilter()
{
    if (!FilterFinite(filter))
    {
        filter.Flush();
        Scratch().ClearStereo(blockFrames);
    }
}

void Voice::ApplyRelease(VoiceWorkspace& ws, long n)
{
    float* left = ws.scratch[layer].left;
    float* right = ws.scratch[layer].right;
    long j = 0;
    while (j < n)
    {
        const float t = releaseTime + static_cast<float>(j);
        const float next = releaseRamp.NextPointAfter(t);
        long end = n;
        if (std::isfinite(next)) end = std::clamp(static_cast<long>(std::ceil(next - releaseTime)), j + 1, n);
        const float g0 = releaseRamp.ValueAt(t);
        const float g1 = releaseRamp.ValueAt(releaseTime + static_cast<float>(end));
        if (g0 == 0.0f && g1 == 0.0f)
        {
            std::fill(left + j, left + end, 0.0f);
            std::fill(right + j, right + end, 0.0f);
        }
        else if (!(g0 == 1.0f && g1 == 1.0f))
        {
            const float slope = (g1 - g0) / static_cast<float>(end - j);
            for (long k = j; k < end; ++k)
            {
                const float g = g0 + slope * static_cast<float>(k - j);
                left[k] *= g;
                right[k] *= g;
            }
        }
        j = end;
    }
}

void Voice::RenderSends(VoiceWorkspace& ws, VoiceSends const& sends, long n)
{
    Envelope const& piece = ws.effectsPiece;
    SoundBuffer* delay = instrument->GetDelayBuffer();
    SoundBuffer* reverb = instrument->GetReverbBuffer();
    SoundBuffer* distortion = instrument->GetDistortionBuffer();
    for (long s = 0; s + 1 < piece.Size(); ++s)
    {
        float const* a = piece[s].values;
        float const* b = piece[s + 1].values;
        const long ta = std::max(static_cast<long>(piece[s].time), 0L);
        const long tb = std::min(static_cast<long>(piece[s + 1].time), n);
        const long len = tb - ta;
        if (len <= 0) continue;
        SendRamps ramps;
        if (sends.delay && a[2] > 0.0f && b[2] > 0.0f)
            ramps.Add(delay->left + ta, delay->right + ta, a[2], b[2]);
        if (sends.reverb && a[1] > 0.0f && b[1] > 0.0f)
            ramps.Add(reverb->left + ta, reverb->right + ta, a[1], b[1]);
        bool const toDistortion = sends.distortion && a[3] > 0.0f && b[3] > 0.0f;
        if (toDistortion) ramps.Add(distortion->left + ta, distortion->right + ta, a[3], b[3]);
        ramps.Run(ws.scratch[layer].left + ta, ws.scratch[layer].right + ta, len, toDistortion, 1.0f - a[3],
                  1.0f - b[3]);
    }
}

Voice::BeginResult Voice::BeginRender(long n)
{
    if (!bypass.GetBool() || !def || n <= 0) return kSkipped;
    n = std::min(n, kMaxRenderFrames);
    modMatrix.GetMap(kPitchBendModRow)->amount = pitchBendAmount.load(std::memory_order_relaxed);
    VoiceWorkspace& ws = *workspace;
    Parameter* params = def->parameters;

    // Gain and the timeline speed (timeline units per output sample).
    const float gain =
        static_cast<float>(params[VoiceDef::kLevel]) * static_cast<float>(instrument->masterVolume);
    const float rate = GetSampleRate() > 0.0f ? GetSampleRate() : 44100.0f;
    float r = 44100.0f / rate;
    const bool inTempo = params[VoiceDef::kTimelineInTempo].GetBool();
    if (inTempo)
    {
        const float bar = Tempo::NumSamplesPer44Bar(44100.0f, GetTempo());
        const float scaled = r * (44100.0f / bar);
        if (std::isfinite(scaled) && scaled > 0.0f) r = scaled;
    }
    else
    {
        time = Round(time);
    }
    const float t0 = time;
    const float t1 = t0 + static_cast<float>(n) * r;

    if (instrument->timeFreeze.GetBool())
    {
        freeze1 = freeze2;
        freeze2 = std::trunc(freeze1 + 0.1f * (instrument->GetEditTime() - freeze1));
    }

    const int unison = std::clamp(static_cast<int>(static_cast<float>(params[VoiceDef::kUnisonCount])), 0,
                                  VoiceDef::maxUnisonNum);
    loop = def->loop;
    loop.position = t1;
    if (releaseRunning && !params[VoiceDef::kLoopAfterRelease].GetBool()) loop.looping = false;

    // Modulation.
    CutLine(VoiceDef::kModulationLine, &ws.modulationPiece, false, t0, t1, r);
    lfo1.SetParamEnvelope(&ws.modulationPiece, 0);
    lfo2.SetParamEnvelope(&ws.modulationPiece, 3);
    lfo1.SetSync(params[VoiceDef::kLFO1Sync].GetBool());
    lfo2.SetSync(params[VoiceDef::kLFO2Sync].GetBool());
    lfo1.SetPositiveOnly(params[VoiceDef::kLFO1PositiveOnly].GetBool());
    lfo2.SetPositiveOnly(params[VoiceDef::kLFO2PositiveOnly].GetBool());
    modMatrix.DoModulation(n, &ws.modulationPiece, VoiceDef::kFirstRowDepthValue);

    CutLine(VoiceDef::kVoiceLine, &ws.voicePiece, false, t0, t1, r);
    CutLine(VoiceDef::kWaveLine, &ws.wavePiece, false, t0, t1, r);
    BuildWeights(ws, GetInput(kVoiceInputVectorX), GetInput(kVoiceInputVectorY));

    ws.scratch[layer].ClearStereo(n);
    TModValues* inAmp = GetInput(kVoiceInputAmplitude);
    TModValues* inPitch = GetInput(kVoiceInputPitch);
    if (inAmp->valid) MakeModulator(*inAmp);
    if (inPitch->valid) MakeModulator(*inPitch);

    // Amplitude: the line, times its modulation, times velocity and gain.
    CutLine(VoiceDef::kAmplitudeLine, &ws.amplitudePiece, true, t0, t1, r);
    ws.amplitude.Clear();
    if (inAmp->valid)
    {
        Envelope::Multiply(ws.amplitudePiece, *inAmp, ws.amplitude);
        ws.amplitude.ClipValues(0.0f, 1.0f);
    }
    else
    {
        ws.amplitude = ws.amplitudePiece;
    }
    ws.amplitude.ScaleYs(static_cast<float>(note->GetVelocity()) / 127.0f * gain);

    // Oscillators, noise or both, by the balance over the whole Wave line.
    bool noiseOnly = true;
    bool oscillatorsOnly = true;
    EventEnvelope const& waveLine = lines[VoiceDef::kWaveLine];
    for (long k = 0; k < waveLine.Size(); ++k)
    {
        const float b = waveLine[k].values[2];
        if (b != 0.0f) noiseOnly = false;
        if (b != 1.0f) oscillatorsOnly = false;
    }
    ws.balance.Clear();
    ws.wavePiece.ExtractYRange(&ws.balance, 2, 2);

    const bool silent = AllZero(ws.amplitude);
    if (!noiseOnly) RenderOscillators(ws, unison, oscillatorsOnly, n);
    if (!oscillatorsOnly && !silent) RenderNoise(ws, unison, noiseOnly, n);

    // A silent layer leaves the scratch buffer empty; its filter rests once its tail has died.
    blockFrames = n;
    blockRate = r;
    blockQuiet = silent;
    if (params[VoiceDef::kFilterOn].GetBool() && !(silent && FilterResting(filter)))
    {
        CutLine(VoiceDef::kFilterLine, &ws.filterPiece[layer], false, t0, t1, r);
        StartFilter();
        blockQuiet = false;
        return kFiltered;
    }
    return kUnfiltered;
}

void Voice::FinishRender(float* outL, float* outR)
{
    VoiceWorkspace& ws = *workspace;
    const long n = blockFrames;
    const bool quiet = blockQuiet;
    if (releaseRunning)
    {
        if (!quiet) ApplyRelease(ws, n);
        releaseTime += static_cast<float>(n);
        if (releaseTime > releaseRamp.End()) note->VoiceFinished(layer);
    }

    const VoiceSends& sends = instrument->GetBlockSends();
    if (!quiet && (sends.delay || sends.reverb || sends.distortion))
    {
        const float t0 = time;
        CutLine(VoiceDef::kEffectsLine, &ws.effectsPiece, false, t0, t0 + static_cast<float>(n) * blockRate,
                blockRate);
        RenderSends(ws, sends, n);
    }
    if (!quiet) ws.scratch[layer].MixToStereo(outL, outR, n, 0);

    if (!loop.looping)
    {
        time += static_cast<float>(n) * blockRate;
    }
    else
    {
        time = loop.position;
        def->loop.position = loop.position;
    }
}

void Voice::RenderStereo(float*, float*, float* outL, float* outR, long n)
{
    const BeginResult begun = BeginRender(n);
    if (begun == kSkipped) return;
    if (begun == kFiltered)
    {
        long pos = 0;
        long len = 0;
        bool ready = false;
        while (NextFilterChunk(pos, len, ready))
            RunFilterChunk(pos, len, ready);
        EndFilter();
    }
    FinishRender(outL, outR);
}

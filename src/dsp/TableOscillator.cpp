#include "dsp/TableOscillator.h"

#include "dsp/EnvelopeWalk.h"
#include "dsp/WaveTables.h"
#include "framework/StandardMaths.h"

#include <algorithm>
#include <climits>
#include <cmath>

using namespace EnvelopeWalk;

namespace
{

// Whole table steps for an increment: its integer part, reduced modulo the table length (a
// negative increment does not move the phase).
long WholeSteps(float increment, long length)
{
    if (!(increment > 0.0f)) return 0;
    if (increment < static_cast<float>(length)) return static_cast<long>(increment);
    if (!std::isfinite(increment)) return 0;
    return static_cast<long>(std::fmod(static_cast<double>(increment), static_cast<double>(length)));
}

} // namespace

void RenderTableOscillator(const Envelope& amplitude, const Envelope& pitch, const Envelope& pan, long index,
                           bool pitchIsNote, const OscWaveDef* table, float sampleRate, int& phase,
                           float* outL, float* outR, long n)
{
    if (!table || !table->table || table->length <= 0 || table->length > INT_MAX || !(sampleRate > 0.0f) ||
        n <= 0)
        return;
    if (amplitude.Size() < 2 || pitch.Size() == 0 || pan.Size() == 0) return;

    const float* wave = table->table.get();
    const long length = table->length;
    const float stepsPerHz = static_cast<float>(length) / sampleRate;
    const float nyquist = sampleRate * 0.5f;
    auto toIncrement = [&](float v) { return (pitchIsNote ? NoteToFreq(v) : v) * stepsPerHz; };
    auto toPan = [](float v) { return v * 0.5f + 0.5f; };

    long ph = phase >= 0 && phase < length ? phase : 0;
    Ramp<1> inc;
    Ramp<1> q;
    long done = 0;
    for (long i = 0; i + 1 < amplitude.Size() && done < n; ++i)
    {
        const Breakpoint& p0 = amplitude[i];
        const Breakpoint& p1 = amplitude[i + 1];
        const float a0 = ValueOf(p0, index);
        const float a1 = ValueOf(p1, index);
        const float d = p1.time - p0.time;
        long count = SegmentCount(d, n - done);
        if (count == 0) continue;
        // A segment starting below 0 plays at gain 0.
        float g = a0 < 0.0f ? 0.0f : a0;
        const float gSlope = a0 < 0.0f ? 0.0f : (a1 - a0) / d;
        const bool quiet = a0 <= 0.0005f && a1 <= 0.0005f;

        while (count > 0)
        {
            NextSegment(pitch, index, n - done, inc, toIncrement);
            NextSegment(pan, index, n - done, q, toPan);
            const long run = std::min({count, inc.count, q.count});

            // Silent runs keep the phase and the gain; pitch and pan move on.
            if (quiet || inc.value[0] > nyquist)
            {
                inc.value[0] += inc.slope[0] * static_cast<float>(run);
                q.value[0] += q.slope[0] * static_cast<float>(run);
            }
            else if (inc.slope[0] == 0.0f)
            {
                const long w = WholeSteps(inc.value[0], length);
                float right = q.value[0];
                for (long k = 0; k < run; ++k)
                {
                    const float x = wave[ph];
                    outL[k] += (1.0f - right) * g * x;
                    outR[k] += right * g * x;
                    ph += w;
                    if (ph >= length) ph -= length;
                    g += gSlope;
                    right += q.slope[0];
                }
                q.value[0] = right;
            }
            else
            {
                float right = q.value[0];
                float step = inc.value[0];
                for (long k = 0; k < run; ++k)
                {
                    const float x = wave[ph];
                    outL[k] += (1.0f - right) * g * x;
                    outR[k] += right * g * x;
                    ph += WholeSteps(step, length);
                    if (ph >= length) ph -= length;
                    g += gSlope;
                    right += q.slope[0];
                    step += inc.slope[0];
                }
                q.value[0] = right;
                inc.value[0] = step;
            }

            count -= run;
            inc.count -= run;
            q.count -= run;
            outL += run;
            outR += run;
            done += run;
        }
    }
    phase = static_cast<int>(ph);
}

StdOsc::StdOsc() : DSPComponent(0, "")
{
    amplitudeEnvelope.Init(1);
    pitchEnvelope.Init(1);
    panEnvelope.Init(1);
}

OscWaveDef* StdOsc::SetOscWaveDef(OscWaveDef* def)
{
    OscWaveDef* previous = waveDef;
    waveDef = def;
    phase = 0;
    return previous;
}

void StdOsc::RenderStereo(float*, float*, float* outL, float* outR, long n)
{
    RenderTableOscillator(amplitudeEnvelope, pitchEnvelope, panEnvelope, 0, true, waveDef, GetSampleRate(),
                          phase, outL, outR, n);
}

#include "dsp/TableOscillator.h"

#include "dsp/WaveTables.h"
#include "framework/StandardMaths.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace
{

// The sample count of a pitch or pan envelope that has run out: it holds its last point for the
// rest of the block.
constexpr long kHeld = LONG_MAX;

// Value k of a point; 0 when the point has fewer values or the value is not finite.
float ValueOf(const Breakpoint& b, long k)
{
    const float v = k < b.numValues ? b.values[k] : 0.0f;
    return std::isfinite(v) ? v : 0.0f;
}

// Samples a segment of duration d lasts: trunc(d), none for a negative (or NaN) duration, and at
// most `cap` (the frames left in the block).
long SegmentCount(float d, long cap)
{
    if (!(d >= 1.0f))
        return 0;
    return d < static_cast<float>(cap) ? static_cast<long>(d) : cap;
}

// Whole table steps for an increment: its integer part, reduced modulo the table length (a
// negative increment does not move the phase).
long WholeSteps(float increment, long length)
{
    if (!(increment > 0.0f))
        return 0;
    if (increment < static_cast<float>(length))
        return static_cast<long>(increment);
    if (!std::isfinite(increment))
        return 0;
    return static_cast<long>(std::fmod(static_cast<double>(increment), static_cast<double>(length)));
}

// The running segment of a pitch or pan envelope: value, per-sample slope, samples left.
struct Ramp
{
    float value = 0.0f;
    float slope = 0.0f;
    long count = 0;
    long segment = -1; // index of the segment's first point
};

// Moves r to the next segment of env that has samples left (mapping each point's value through
// map); when none is left, r holds the last point's value for the rest of the block. Segments
// shorter than one sample play no sample.
template <class Map> void NextSegment(const Envelope& env, long index, long cap, Ramp& r, Map map)
{
    while (r.count == 0)
    {
        if (r.segment + 2 >= env.Size())
        {
            r.value = map(ValueOf(env[env.Size() - 1], index));
            r.slope = 0.0f;
            r.count = kHeld;
            return;
        }
        ++r.segment;
        const Breakpoint& p0 = env[r.segment];
        const Breakpoint& p1 = env[r.segment + 1];
        const float d = p1.time - p0.time;
        r.count = SegmentCount(d, cap);
        if (r.count > 0)
        {
            r.value = map(ValueOf(p0, index));
            r.slope = (map(ValueOf(p1, index)) - r.value) / d;
        }
    }
}

} // namespace

void RenderTableOscillator(const Envelope& amplitude, const Envelope& pitch, const Envelope& pan, long index,
                           bool pitchIsNote, const OscWaveDef* table, float sampleRate, int& phase, float* outL,
                           float* outR, long n)
{
    if (!table || !table->table || table->length <= 0 || table->length > INT_MAX || !(sampleRate > 0.0f) || n <= 0)
        return;
    if (amplitude.Size() < 2 || pitch.Size() == 0 || pan.Size() == 0)
        return;

    const float* wave = table->table.get();
    const long length = table->length;
    const float stepsPerHz = static_cast<float>(length) / sampleRate;
    const float nyquist = sampleRate * 0.5f;
    auto toIncrement = [&](float v) { return (pitchIsNote ? NoteToFreq(v) : v) * stepsPerHz; };
    auto toPan = [](float v) { return v * 0.5f + 0.5f; };

    long ph = phase >= 0 && phase < length ? phase : 0;
    Ramp inc;
    Ramp q;
    long done = 0;
    for (long i = 0; i + 1 < amplitude.Size() && done < n; ++i)
    {
        const Breakpoint& p0 = amplitude[i];
        const Breakpoint& p1 = amplitude[i + 1];
        const float a0 = ValueOf(p0, index);
        const float a1 = ValueOf(p1, index);
        const float d = p1.time - p0.time;
        long count = SegmentCount(d, n - done);
        if (count == 0)
            continue;
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
            if (quiet || inc.value > nyquist)
            {
                inc.value += inc.slope * static_cast<float>(run);
                q.value += q.slope * static_cast<float>(run);
            }
            else if (inc.slope == 0.0f)
            {
                const long w = WholeSteps(inc.value, length);
                float right = q.value;
                for (long k = 0; k < run; ++k)
                {
                    const float x = wave[ph];
                    outL[k] += (1.0f - right) * g * x;
                    outR[k] += right * g * x;
                    ph += w;
                    if (ph >= length)
                        ph -= length;
                    g += gSlope;
                    right += q.slope;
                }
                q.value = right;
            }
            else
            {
                float right = q.value;
                float step = inc.value;
                for (long k = 0; k < run; ++k)
                {
                    const float x = wave[ph];
                    outL[k] += (1.0f - right) * g * x;
                    outR[k] += right * g * x;
                    ph += WholeSteps(step, length);
                    if (ph >= length)
                        ph -= length;
                    g += gSlope;
                    right += q.slope;
                    step += inc.slope;
                }
                q.value = right;
                inc.value = step;
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
    RenderTableOscillator(amplitudeEnvelope, pitchEnvelope, panEnvelope, 0, true, waveDef, GetSampleRate(), phase,
                          outL, outR, n);
}

#include "engine/VectorOsc.h"

#include "dsp/EnvelopeWalk.h"
#include "dsp/WaveTables.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cstdint>

using namespace EnvelopeWalk;

namespace
{

// Waves weighted this much or less are left out.
constexpr float kWeightThreshold = 0.005f;
// The phase and its increment are 16.16 fixed point.
constexpr float kFixedOne = 65536.0f;
constexpr float kFixedScale = 1.0f / 65536.0f;
// How far ahead, in output samples, the table is prefetched.
constexpr std::uint32_t kPrefetchSamples = 16;

// An increment in table samples per output sample, clamped to 0 .. the table size, as 16.16.
std::uint32_t FixedIncrement(float increment, float tableSize)
{
    if (!(increment > 0.0f)) return 0;
    return static_cast<std::uint32_t>(std::min(increment, tableSize) * kFixedOne);
}

float ClampedIncrement(float increment, float tableSize)
{
    return increment > 0.0f ? std::min(increment, tableSize) : 0.0f;
}

// The weights of the waves that play; the others count 0.
__m128 AudibleWeights(__m128 w)
{
    return _mm_and_ps(w, _mm_cmpgt_ps(w, _mm_set1_ps(kWeightThreshold)));
}

} // namespace

VectorOsc::VectorOsc() : DSPComponent(0, "")
{
    weights.Init(4);
    amplitude.Init(1);
    frequency.Init(1);
    pan.Init(1);
}

VectorMipOscWaveDef* VectorOsc::SetMipOscWaveDef(VectorMipOscWaveDef* def)
{
    VectorMipOscWaveDef* previous = waveDef;
    waveDef = def;
    Reset(true);
    return previous;
}

void VectorOsc::Reset(bool randomPhase)
{
    phase = 0.0f;
    if (randomPhase && waveDef && waveDef->length > 0)
    {
        phase = random.NextFloat() * static_cast<float>(waveDef->length);
        if (phase >= static_cast<float>(waveDef->length)) phase = 0.0f;
    }
}

void VectorOsc::RenderStereo(float*, float*, float* outL, float* outR, long n)
{
    const VectorMipOscWaveDef* def = waveDef;
    const float sampleRate = GetSampleRate();
    if (!def || !def->levels || def->NumWaves() != 4 ||
        !MipWaveTable::IsSupportedShape(def->length, def->numLevels) || !(sampleRate > 0.0f) || n <= 0)
        return;
    Envelope const& amplitude = Amplitude();
    Envelope const& weights = Weights();
    Envelope const& frequency = Frequency();
    Envelope const& pan = Pan();
    if (amplitude.Size() < 2 || frequency.Size() == 0 || pan.Size() == 0 || weights.Size() == 0) return;

    const long length = def->length;
    const float tableSize = static_cast<float>(length);
    const float stepsPerHz = tableSize / sampleRate;
    // The table size is at most 2^14 and the increment at most the table size, so the phase
    // before its wrap stays below 2^31 in 16.16.
    const std::uint32_t tableFixed = static_cast<std::uint32_t>(length) << 16;
    const std::uint32_t phaseMask = tableFixed - 1;
    const std::uint32_t indexMask = static_cast<std::uint32_t>(length) - 1;
    auto toIncrement = [stepsPerHz](float hz) { return hz * stepsPerHz; };
    auto toRight = [](float v) { return 0.5f + v / 2.0f; };
    auto same = [](float v) { return v; };

    // The amplitude envelope is the one that ends the render: without a segment left, it stops.
    Ramp<1> amp;
    Ramp<1> inc;
    Ramp<1> right;
    Ramp<4> w;
    // The phase stays in 16.16 fixed point for the whole block.
    std::uint32_t ph = static_cast<std::uint32_t>(phase * kFixedOne);
    long done = 0;
    while (done < n)
    {
        NextGainSegment(amplitude, n - done, amp);
        if (amp.count == kHeld) break;
        NextSegment(frequency, 0, n - done, inc, toIncrement);
        NextSegment(pan, 0, n - done, right, toRight);
        NextSegment(weights, 0, n - done, w, same);
        const long run = std::min({amp.count, inc.count, right.count, w.count});

        if (amp.value[0] != 0.0f || amp.slope[0] != 0.0f)
        {
            float gain = amp.value[0];
            const float gainSlope = amp.slope[0];
            // Pitch, pan and weights move only when the phase wraps, by their slopes times the
            // samples since the last wrap (or the start of this run).
            float increment = inc.value[0];
            std::uint32_t step = FixedIncrement(increment, tableSize);
            const float* table = def->levels[def->LevelForIncrement(ClampedIncrement(increment, tableSize))];
            float r = right.value[0];
            float gainL = 1.0f - r;
            float gainR = r;
            __m128 weight = _mm_loadu_ps(w.value);
            const __m128 weightSlope = _mm_loadu_ps(w.slope);
            __m128 audible = AudibleWeights(weight);
            long c = 0;
            for (long k = 0; k < run;)
            {
                if (ph >= tableFixed)
                {
                    ph &= phaseMask;
                    const float cf = static_cast<float>(c);
                    increment += inc.slope[0] * cf;
                    r += right.slope[0] * cf;
                    weight = _mm_add_ps(weight, _mm_mul_ps(weightSlope, _mm_set1_ps(cf)));
                    c = 0;
                    step = FixedIncrement(increment, tableSize);
                    table = def->levels[def->LevelForIncrement(ClampedIncrement(increment, tableSize))];
                    gainL = 1.0f - r;
                    gainR = r;
                    audible = AudibleWeights(weight);
                }
                // The samples up to the next wrap run without a check.
                long m = run - k;
                if (step > 0) m = std::min(m, static_cast<long>((tableFixed - ph + step - 1) / step));
                c += m;
                // One sample: its weighted row of four waves, the gain ramp moved on by a step.
                auto row = [&](float& g)
                {
                    // The voices' oscillators together read far more table than the caches
                    // hold: ask for the row a few samples ahead before it is needed.
                    const std::uint32_t ahead = ((ph + kPrefetchSamples * step) >> 16) & indexMask;
                    _mm_prefetch(reinterpret_cast<const char*>(table + 4 * ahead), _MM_HINT_T0);
                    const std::uint32_t i0 = ph >> 16;
                    const std::uint32_t i1 = (i0 + 1) & indexMask;
                    const __m128 frac = _mm_set1_ps(static_cast<float>(ph & 0xFFFFu) * kFixedScale);
                    ph += step;

                    // The four waves of one index lie together: lerp and weight them at once.
                    const __m128 a = _mm_load_ps(table + 4 * i0);
                    const __m128 b = _mm_load_ps(table + 4 * i1);
                    gain += gainSlope;
                    g = gain;
                    return _mm_mul_ps(_mm_sub_ps(_mm_add_ps(a, _mm_mul_ps(frac, b)), _mm_mul_ps(frac, a)),
                                      audible);
                };
                const long end = k + m;
                // Four samples at a time: turned on their side, the rows add up as columns,
                // s0 + s1 + s2 + s3 in that order for each sample.
                const __m128 panL = _mm_set1_ps(gainL);
                const __m128 panR = _mm_set1_ps(gainR);
                for (; end - k >= 4; k += 4)
                {
                    float g0, g1, g2, g3;
                    __m128 s0 = row(g0);
                    __m128 s1 = row(g1);
                    __m128 s2 = row(g2);
                    __m128 s3 = row(g3);
                    _MM_TRANSPOSE4_PS(s0, s1, s2, s3);
                    const __m128 out = _mm_mul_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(s0, s1), s2), s3),
                                                  _mm_set_ps(g3, g2, g1, g0));
                    _mm_storeu_ps(outL + k, _mm_add_ps(_mm_loadu_ps(outL + k), _mm_mul_ps(panL, out)));
                    _mm_storeu_ps(outR + k, _mm_add_ps(_mm_loadu_ps(outR + k), _mm_mul_ps(panR, out)));
                }
                for (; k < end; ++k)
                {
                    float g;
                    const __m128 s = row(g);
                    // s0 + s1 + s2 + s3, in that order.
                    __m128 sum = _mm_add_ss(s, _mm_shuffle_ps(s, s, _MM_SHUFFLE(1, 1, 1, 1)));
                    sum = _mm_add_ss(sum, _mm_movehl_ps(s, s));
                    sum = _mm_add_ss(sum, _mm_shuffle_ps(s, s, _MM_SHUFFLE(3, 3, 3, 3)));
                    const float out = _mm_cvtss_f32(sum) * g;
                    outL[k] += gainL * out;
                    outR[k] += gainR * out;
                }
            }
            amp.value[0] = gain;
            inc.value[0] = increment;
            right.value[0] = r;
            _mm_storeu_ps(w.value, weight);
        }

        amp.count -= run;
        inc.count -= run;
        right.count -= run;
        w.count -= run;
        outL += run;
        outR += run;
        done += run;
    }
    phase = static_cast<float>(ph & phaseMask) * kFixedScale;
    if (phase >= tableSize) // rounded up to a whole cycle
        phase = 0.0f;
}

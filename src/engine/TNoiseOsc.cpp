#include "engine/TNoiseOsc.h"

#include "framework/Random.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <mutex>

namespace
{

// The shared table, built by the first instance and freed by the last; instances are counted
// under the mutex, so they may come and go on any thread. Made on first use, so that it outlives
// every instance, static ones included.
struct SharedTable
{
    std::mutex mutex;
    int instances = 0;
    std::unique_ptr<float[]> wave;
};

SharedTable& Shared()
{
    static SharedTable table;
    return table;
}

// Every table holds the same values, so the noise is the same from run to run.
constexpr std::uint32_t kNoiseSeed = 0x4E4F4953u;

// The sample count of an envelope that has run out: it holds its last point.
constexpr long kHeld = LONG_MAX;

// Value 0 of a point; 0 when the point has none or it is not finite.
float ValueOf(const Breakpoint& b)
{
    const float v = b.numValues > 0 ? b.values[0] : 0.0f;
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

// The running segment of an envelope: value, per-sample slope, samples left.
struct Ramp
{
    float value = 0.0f;
    float slope = 0.0f;
    long count = 0;
    long segment = -1;
};

// Moves r to the next segment of env with samples left, mapping the points' values through map;
// when none is left, r holds the last point's value for the rest of the block. A segment that
// starts below 0 is silent when `silentBelowZero`.
template <class Map> void NextSegment(const Envelope& env, long cap, Ramp& r, Map map, bool silentBelowZero)
{
    while (r.count == 0)
    {
        if (r.segment + 2 >= env.Size())
        {
            r.value = map(ValueOf(env[env.Size() - 1]));
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
            r.value = map(ValueOf(p0));
            r.slope = (map(ValueOf(p1)) - r.value) / d;
            if (silentBelowZero && r.value < 0.0f)
                r.value = r.slope = 0.0f;
        }
    }
}

} // namespace

TNoiseOsc::TNoiseOsc() : DSPComponent(0, "")
{
    amplitude.Init(1);
    pan.Init(1);
    SharedTable& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.instances == 0)
    {
        shared.wave = std::make_unique<float[]>(waveLength);
        Random random(kNoiseSeed);
        for (std::int32_t i = 0; i < waveLength; ++i)
            shared.wave[i] = random.NextSignedFloat();
    }
    ++shared.instances;
    noiseWave = shared.wave.get();
}

TNoiseOsc::~TNoiseOsc()
{
    SharedTable& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (--shared.instances == 0)
        shared.wave.reset();
}

int TNoiseOsc::GetInstanceCount()
{
    SharedTable& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    return shared.instances;
}

void TNoiseOsc::RenderStereo(float*, float*, float* outL, float* outR, long n)
{
    if (!(GetSampleRate() > 0.0f) || n <= 0 || amplitude.Size() < 2 || pan.Size() == 0)
        return;
    auto same = [](float v) { return v; };
    auto toRight = [](float v) { return 0.5f + v / 2.0f; };

    // The amplitude envelope is the one that ends the render: without a segment left, it stops.
    Ramp amp;
    Ramp right;
    std::int32_t i = index >= 0 && index < waveLength ? index : 0;
    long done = 0;
    while (done < n)
    {
        NextSegment(amplitude, n - done, amp, same, true);
        if (amp.count == kHeld)
            break;
        NextSegment(pan, n - done, right, toRight, false);
        long run = std::min(amp.count, right.count);
        amp.count -= run;
        right.count -= run;
        done += run;

        // Amplitude and pan move by their slopes times the samples since the last wrap of the
        // index (or the start of this run) when the index wraps.
        float gainL = 1.0f - right.value;
        float gainR = right.value;
        long c = 0;
        if (amp.value == 0.0f && amp.slope == 0.0f)
        {
            // Silent: only the index and the pan move.
            while (run > 0)
            {
                const long m = std::min(run, static_cast<long>(waveLength - i));
                run -= m;
                outL += m;
                outR += m;
                if (i + m == waveLength)
                {
                    right.value += right.slope * static_cast<float>(c + m - 1);
                    c = 1;
                    i = 0;
                }
                else
                {
                    i += static_cast<std::int32_t>(m);
                    c += m;
                }
            }
            continue;
        }
        for (long k = 0; k < run; ++k)
        {
            const float s = noiseWave[i];
            if (++i == waveLength)
            {
                const float cf = static_cast<float>(c);
                amp.value += amp.slope * cf;
                right.value += right.slope * cf;
                gainL = 1.0f - right.value;
                gainR = right.value;
                c = 0;
                i = 0;
            }
            outL[k] += gainL * s * amp.value;
            outR[k] += gainR * s * amp.value;
            ++c;
        }
        outL += run;
        outR += run;
    }
    index = i;
}

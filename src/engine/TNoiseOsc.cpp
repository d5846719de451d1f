#include "engine/TNoiseOsc.h"

#include "dsp/EnvelopeWalk.h"
#include "framework/Random.h"

#include <algorithm>
#include <memory>
#include <mutex>

using namespace EnvelopeWalk;

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
    static auto* table = new SharedTable;
    return *table;
}

// Every table holds the same values, so the noise is the same from run to run.
constexpr std::uint32_t kNoiseSeed = 0x4E4F4953u;

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
    if (--shared.instances == 0) shared.wave.reset();
}

int TNoiseOsc::GetInstanceCount()
{
    SharedTable& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    return shared.instances;
}

void TNoiseOsc::RenderStereo(float*, float*, float* outL, float* outR, long n)
{
    Envelope const& amplitude = Amplitude();
    Envelope const& pan = Pan();
    if (!(GetSampleRate() > 0.0f) || n <= 0 || amplitude.Size() < 2 || pan.Size() == 0) return;
    auto toRight = [](float v) { return 0.5f + v / 2.0f; };

    // The amplitude envelope is the one that ends the render: without a segment left, it stops.
    Ramp<1> amp;
    Ramp<1> right;
    std::int32_t i = index >= 0 && index < waveLength ? index : 0;
    long done = 0;
    while (done < n)
    {
        NextGainSegment(amplitude, n - done, amp);
        if (amp.count == kHeld) break;
        NextSegment(pan, 0, n - done, right, toRight);
        long run = std::min(amp.count, right.count);
        amp.count -= run;
        right.count -= run;
        done += run;

        // Amplitude and pan move by their slopes times the samples since the last wrap of the
        // index (or the start of this run) when the index wraps.
        float gainL = 1.0f - right.value[0];
        float gainR = right.value[0];
        long c = 0;
        if (amp.value[0] == 0.0f && amp.slope[0] == 0.0f)
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
                    right.value[0] += right.slope[0] * static_cast<float>(c + m - 1);
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
        for (long k = 0; k < run;)
        {
            // The samples before the wave's last one keep the gains: a plain, vectorisable run.
            const long m = std::min(run - k, static_cast<long>(waveLength - 1 - i));
            const float a = amp.value[0];
            const float* wave = noiseWave + i;
            float* l = outL + k;
            float* r = outR + k;
            for (long j = 0; j < m; ++j)
            {
                l[j] += gainL * wave[j] * a;
                r[j] += gainR * wave[j] * a;
            }
            k += m;
            i += static_cast<std::int32_t>(m);
            c += m;
            if (k == run) break;
            // The wave's last sample: the index wraps and the gains move before it plays.
            const float s = noiseWave[i];
            const float cf = static_cast<float>(c);
            amp.value[0] += amp.slope[0] * cf;
            right.value[0] += right.slope[0] * cf;
            gainL = 1.0f - right.value[0];
            gainR = right.value[0];
            i = 0;
            outL[k] += gainL * s * amp.value[0];
            outR[k] += gainR * s * amp.value[0];
            c = 1;
            ++k;
        }
        outL += run;
        outR += run;
    }
    index = i;
}

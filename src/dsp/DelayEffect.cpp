#include "dsp/DelayEffect.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "framework/Streams.h"

namespace
{
constexpr float kDenormalGuard = 1e-17f;
constexpr unsigned kInitialLength = 20000;

// Saturating conversion; NaN counts as 0.
unsigned ToUnsigned(double v)
{
    if (!(v > 0.0)) return 0;
    if (v >= 4294967295.0) return 4294967295u;
    return static_cast<unsigned>(v);
}

// Anything that is not a finite float (a NaN from the input) leaves the line as silence.
float Sane(float v)
{
    return std::fabs(v) <= FLT_MAX ? v : 0.0f;
}
} // namespace

// DelayLine

void DelayLine::Init(unsigned newCapacity, unsigned newLength)
{
    buffer = std::make_unique<float[]>(newCapacity);
    capacity = newCapacity;
    length = std::clamp(newLength, 1u, std::max(newCapacity, 1u));
    read = 0;
    write = 0;
}

void DelayLine::Clear()
{
    std::fill(buffer.get(), buffer.get() + capacity, 0.0f);
}

// DelayEffect

DelayEffect::DelayEffect() : DSPComponent(0, "")
{
    enabled.CreateBool("DELAY_ENABLED", this, Parameter::Internal);
    time.Create("DELAY_TIME", this, Parameter::Internal, 0.0f, 4.0f, Parameter::Discrete);
    time.SetModulationBypass(true);
    feedback.Create("DELAY_FEEDBACK", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    mix.Create("DELAY_MIX", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    amplitude.Create("DELAY_AMPLITUDE", this, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    amplitude.SetModulationBypass(true);
    stereo.CreateBool("DELAY_STEREO", this, Parameter::Internal);
    syncToHost.CreateBool("SYNC_TO_HOST", this, Parameter::Internal);

    leftLine.Init(kCapacity, kInitialLength);
    rightLine.Init(kCapacity, kInitialLength);
    // Nothing applied yet: the first block places the lines.
    requestedGeometry.store(kInitialLength * 2, std::memory_order_relaxed);

    Reset();
}

void DelayEffect::Reset()
{
    enabled.SetBool(false);
    time = 0.0f;
    mix = 0.5f;
    feedback = 0.5f;
    amplitude = 1.0f;
    stereo.SetBool(true);
    syncToHost.SetBool(true);
}

void DelayEffect::SetTime(float v, bool store, bool)
{
    if (store) storedTime.store(v, std::memory_order_relaxed);
    const double rate = GetSampleRate();
    unsigned length;
    if (syncToHost.GetBool())
    {
        double m = v;
        if (v == 0.0f)
            m = 0.5;
        else if (v == 1.0f)
            m = 1.0;
        else if (v == 2.0f)
            m = 2.0;
        else if (v == 3.0f)
            m = 4.0;
        else if (v == 4.0f)
            m = 8.0;
        length = ToUnsigned(rate / ((static_cast<double>(GetTempo()) / 60.0) * m));
    }
    else
    {
        length = ToUnsigned(static_cast<float>(rate) / (3.0f * v + 0.5f));
    }
    // Slow tempos and high rates would overrun the lines; a length of 0 has no position.
    length = std::clamp(length, 1u, kCapacity);
    requestedGeometry.store(length * 2 + (stereo.GetBool() ? 1u : 0u), std::memory_order_release);
}

void DelayEffect::ApplyGeometry(unsigned geometry)
{
    const unsigned n = geometry >> 1;
    const bool spread = (geometry & 1u) != 0;
    leftLine.length = n;
    rightLine.length = n;
    const unsigned r = rightLine.read;
    rightLine.write = r - 1 + n;
    leftLine.write = spread ? r + n / 2 : r - 1 + n;
    for (unsigned* p : {&leftLine.read, &leftLine.write, &rightLine.read, &rightLine.write})
    {
        if (*p >= n) *p %= n;
    }
    appliedGeometry = geometry;
}

void DelayEffect::RenderStereo(float* inL, float* inR, float* outL, float* outR, long n)
{
    const unsigned geometry = requestedGeometry.load(std::memory_order_acquire);
    if (geometry != appliedGeometry) ApplyGeometry(geometry);

    if (!enabled.GetBool())
    {
        Bypass(inL, inR, outL, outR, n);
        return;
    }

    const float fb = feedback;
    wetGain = mix;
    const float wet = wetGain;
    const unsigned len = leftLine.length;
    float* lb = leftLine.buffer.get();
    float* rb = rightLine.buffer.get();
    unsigned lw = leftLine.write, lr = leftLine.read, rw = rightLine.write, rr = rightLine.read;
    for (long i = 0; i < n; ++i)
    {
        const float l = inL[i];
        const float r = inR[i];
        lb[lw] = Sane(fb * lb[lw] + r + kDenormalGuard);
        if (++lw >= len) lw = 0;
        rb[rw] = Sane(fb * rb[rw] + l + kDenormalGuard);
        if (++rw >= len) rw = 0;
        outL[i] += lb[lr] * wet;
        if (++lr >= len) lr = 0;
        outR[i] += rb[rr] * wet;
        if (++rr >= len) rr = 0;
    }
    leftLine.write = lw;
    leftLine.read = lr;
    rightLine.write = rw;
    rightLine.read = rr;
}

void DelayEffect::ParameterUpdated(float, Parameter* changed)
{
    if (changed == &time || changed == &stereo)
    {
        SetTime(time, true, false);
    }
    else if (changed == &syncToHost)
    {
        time.SetType(syncToHost.GetBool() ? Parameter::Discrete : Parameter::Continuous, true);
        SetTime(time, true, false);
    }
}

void DelayEffect::TempoChanged(float)
{
    SetTime(time, true, true);
}

void DelayEffect::SampleRateChanged(float)
{
    SetTime(time, true, true);
}

void DelayEffect::FlushBuffers()
{
    leftLine.Clear();
    rightLine.Clear();
}

void DelayEffect::Save(Writer& w)
{
    w.Write(1);
    bypass.Save(w);
    enabled.Save(w);
    time.Save(w);
    feedback.Save(w);
    mix.Save(w);
    amplitude.Save(w);
    stereo.Save(w);
    syncToHost.Save(w);
}

void DelayEffect::Load(Reader& r)
{
    int version = 0;
    r.Read(&version);
    bypass.Load(r);
    enabled.Load(r);
    // The time comes before the sync setting that decides its type: loaded while the delay is
    // still synced from before (a new instrument's is), a free fractional time would be rounded.
    // It is restored as stored; the type then follows the sync setting again.
    time.SetType(Parameter::Continuous, false);
    time.Load(r);
    time.SetType(syncToHost.GetBool() ? Parameter::Discrete : Parameter::Continuous, false);
    feedback.Load(r);
    mix.Load(r);
    amplitude.Load(r);
    stereo.Load(r);
    syncToHost.Load(r);
}

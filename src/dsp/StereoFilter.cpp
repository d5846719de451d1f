#include "dsp/StereoFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace
{
// A ramp that is this close to its target (relative) lands on it.
constexpr float kCutoffSnap = 1e-4f;
constexpr float kDenormalGuard = 1e-17f;

bool Finite(double v)
{
    return std::isfinite(v);
}

// A filter's coefficients and history held in locals over a run of samples.
struct Running
{
    explicit Running(FlexiFilter const& f)
        : c0(f.b0), c1(f.b1), c2(f.b2), d1(f.a1), d2(f.a2), hx1(f.x1), hx2(f.x2), hy1(f.y1), hy2(f.y2)
    {
    }

    float Step(float in)
    {
        const float x = in + kDenormalGuard;
        const float y = c0 * x + c1 * hx1 + (c2 * hx2 - d1 * hy1) - d2 * hy2;
        hx2 = hx1;
        hx1 = x;
        hy2 = hy1;
        hy1 = y + kDenormalGuard;
        return y;
    }

    void StoreHistory(FlexiFilter& f) const
    {
        f.x1 = hx1;
        f.x2 = hx2;
        f.y1 = hy1;
        f.y2 = hy2;
    }

    float c0, c1, c2, d1, d2;
    float hx1, hx2, hy1, hy2;
};
} // namespace

// FlexiFilter

void FlexiFilter::InitFilter(int type, double freq, double sampleRate, double q, double gainDB,
                             bool bandwidth)
{
    if (adjustResonanceAtLowCutoffs && freq <= 80.0)
    {
        const float s = static_cast<float>(freq / 80.0);
        const float s2 = s * s;
        q = std::max(static_cast<double>(0.1f), q * static_cast<double>(s2));
    }
    const double w0 = 2.0 * std::numbers::pi * freq / sampleRate;
    const double sn = std::sin(w0);
    const double cs = std::cos(w0);
    double alpha;
    if (bandwidth)
        alpha = std::sinh(std::numbers::ln2 / 2.0 * q * w0 / sn) * sn;
    else
        alpha = sn / (2.0 * q);

    double nb0 = 1.0, nb1 = 0.0, nb2 = 0.0, na0 = 1.0, na1 = 0.0, na2 = 0.0;
    switch (type)
    {
    case LowPass:
        nb0 = (1.0 - cs) / 2.0;
        nb1 = 1.0 - cs;
        nb2 = (1.0 - cs) / 2.0;
        break;
    case HighPass:
        nb0 = (1.0 + cs) / 2.0;
        nb1 = -(1.0 + cs);
        nb2 = (1.0 + cs) / 2.0;
        break;
    case BandPass:
        nb0 = sn / 2.0;
        nb1 = 0.0;
        nb2 = -sn / 2.0;
        break;
    case BandPass0dB:
        nb0 = alpha;
        nb1 = 0.0;
        nb2 = -alpha;
        break;
    case Notch:
        nb0 = 1.0;
        nb1 = -2.0 * cs;
        nb2 = 1.0;
        break;
    case AllPass:
        nb0 = 1.0 - alpha;
        nb1 = -2.0 * cs;
        nb2 = 1.0 + alpha;
        break;
    default:
        break;
    }
    if (type >= LowPass && type <= AllPass)
    {
        na0 = 1.0 + alpha;
        na1 = -2.0 * cs;
        na2 = 1.0 - alpha;
    }
    else if (type >= Peaking && type <= HighShelf)
    {
        const double A = std::pow(10.0, gainDB / 40.0);
        const double beta = sn * std::sqrt(A) / q;
        if (type == Peaking)
        {
            nb0 = 1.0 + alpha * A;
            nb1 = -2.0 * cs;
            nb2 = 1.0 - alpha * A;
            na0 = 1.0 + alpha / A;
            na1 = -2.0 * cs;
            na2 = 1.0 - alpha / A;
        }
        else if (type == LowShelf)
        {
            nb0 = A * ((A + 1.0) - (A - 1.0) * cs + beta);
            nb1 = 2.0 * A * ((A - 1.0) - (A + 1.0) * cs);
            nb2 = A * ((A + 1.0) - (A - 1.0) * cs - beta);
            na0 = (A + 1.0) + (A - 1.0) * cs + beta;
            na1 = -2.0 * ((A - 1.0) + (A + 1.0) * cs);
            na2 = (A + 1.0) + (A - 1.0) * cs - beta;
        }
        else
        {
            nb0 = A * ((A + 1.0) + (A - 1.0) * cs + beta);
            nb1 = -2.0 * A * ((A - 1.0) + (A + 1.0) * cs);
            nb2 = A * ((A + 1.0) + (A - 1.0) * cs - beta);
            na0 = (A + 1.0) - (A - 1.0) * cs + beta;
            na1 = 2.0 * ((A - 1.0) - (A + 1.0) * cs);
            na2 = (A + 1.0) - (A - 1.0) * cs - beta;
        }
        // These types work from coefficients rounded to float.
        nb0 = static_cast<float>(nb0);
        nb1 = static_cast<float>(nb1);
        nb2 = static_cast<float>(nb2);
        na0 = static_cast<float>(na0);
        na1 = static_cast<float>(na1);
        na2 = static_cast<float>(na2);
    }

    const double c0 = nb0 / na0, c1 = nb1 / na0, c2 = nb2 / na0, c3 = na1 / na0, c4 = na2 / na0;
    // A nonsense rate or frequency must not poison the filter: keep the coefficients it had.
    if (!Finite(c0) || !Finite(c1) || !Finite(c2) || !Finite(c3) || !Finite(c4)) return;
    b0 = static_cast<float>(c0);
    b1 = static_cast<float>(c1);
    b2 = static_cast<float>(c2);
    a1 = static_cast<float>(c3);
    a2 = static_cast<float>(c4);
}

void FlexiFilter::DoFiltering(float* in, float* out, int n)
{
    Running f(*this);
    for (int i = 0; i < n; ++i)
        out[i] = f.Step(in[i]);
    f.StoreHistory(*this);
}

float FlexiFilter::FilterSample(float x)
{
    const float y = b0 * x + b1 * x1 + (b2 * x2 - a1 * y1) - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
}

void FlexiFilter::CopyCoefficients(FlexiFilter const& other)
{
    b0 = other.b0;
    b1 = other.b1;
    b2 = other.b2;
    a1 = other.a1;
    a2 = other.a2;
}

void FlexiFilter::Flush()
{
    x1 = x2 = y1 = y2 = 0.0f;
}

bool FlexiFilter::FlushIfNotFinite()
{
    if (std::isfinite(x1) && std::isfinite(x2) && std::isfinite(y1) && std::isfinite(y2)) return true;
    Flush();
    return false;
}

// StereoFilter

StereoFilter::StereoFilter()
    : DSPComponent(3, ""), currentCutoff(30.0f), previousCutoff(30.0f), targetCutoff(30.0f)
{
    enabled.CreateBool("STEREOFILTER_ENABLED", this, Parameter::Global);
    cutoff.Create("STEREOFILTER_CUTOFF", this, Parameter::Global, 20.0f, 22000.0f, Parameter::Continuous);
    cutoff.SetCurveType(Parameter::CubeLaw);
    cutoff.SetModulationBypass(true);
    resonance.Create("STEREOFILTER_RESONANCE", this, Parameter::Global, 0.01f, 70.0f, Parameter::Continuous);
    type.Create("STEREOFILTER_TYPE", this, Parameter::Global, 0.0f, 2.0f, Parameter::Discrete);

    enabled = 0.0f;
    cutoff = 30.0f;
    resonance = 20.0f;
    type = 0.0f;

    currentCutoff = previousCutoff = 30.0f;
    targetCutoff.store(30.0f, std::memory_order_relaxed);
    InitFilters();
    coefficientsDirty.store(false, std::memory_order_relaxed);
}

float StereoFilter::ResonanceToQ(float r)
{
    const double scaled = 1.5 * static_cast<double>(r);
    return static_cast<float>(scaled * scaled * static_cast<double>(1.0f / 150.0f));
}

int StereoFilter::MapType(float typeValue)
{
    const int t = static_cast<int>(typeValue);
    if (t == 0) return FlexiFilter::LowPass;
    if (t == 1) return FlexiFilter::BandPass;
    return FlexiFilter::HighPass;
}

void StereoFilter::InitFilters()
{
    const int t = typeOverride >= 0 ? typeOverride : MapType(static_cast<float>(type));
    left.InitFilter(t, currentCutoff, GetSampleRate(), ResonanceToQ(static_cast<float>(resonance)), 1.0,
                    false);
    right.CopyCoefficients(left);
}

void StereoFilter::ParameterUpdated(float value, Parameter* changed)
{
    ParameterHost::ParameterUpdated(value, changed);
    targetCutoff.store(static_cast<float>(cutoff), std::memory_order_relaxed);
    coefficientsDirty.store(true, std::memory_order_release);
}

void StereoFilter::FilterBoth(float* inL, float* inR, float* outL, float* outR, long n)
{
    // One pass over both channels: the two recursions are independent, so the processor runs them
    // side by side. Each frame filters the left sample before it reads the right one, the order of
    // a left pass followed by a right pass, so buffers shared between the channels give the same.
    Running l(left);
    Running r(right);
    for (long i = 0; i < n; ++i)
    {
        outL[i] = l.Step(inL[i]);
        outR[i] = r.Step(inR[i]);
    }
    l.StoreHistory(left);
    r.StoreHistory(right);
}

void StereoFilter::RenderStereo(float* inL, float* inR, float* outL, float* outR, long n)
{
    if (!enabled.GetBool())
    {
        Bypass(inL, inR, outL, outR, n);
        return;
    }
    if (n <= 0) return;

    const float target = targetCutoff.load(std::memory_order_relaxed);
    bool recompute = coefficientsDirty.exchange(false, std::memory_order_acquire);

    if (n > kChunk && std::fabs(target - previousCutoff) > kCutoffSnap * target)
    {
        // Glide in chunks of 32 frames, one coefficient set per chunk. The last chunk sits one
        // step short of the target; the next block carries on from there.
        const float step = (target - previousCutoff) / (static_cast<float>(n) * 0.03125f);
        float ramp = previousCutoff;
        for (long pos = 0; pos < n; pos += kChunk)
        {
            currentCutoff = ramp;
            InitFilters();
            FilterBoth(inL + pos, inR + pos, outL + pos, outR + pos, std::min(kChunk, n - pos));
            ramp += step;
        }
        previousCutoff = currentCutoff;
    }
    else
    {
        if (currentCutoff != target)
        {
            currentCutoff = target;
            recompute = true;
        }
        if (recompute) InitFilters();
        FilterBoth(inL, inR, outL, outR, n);
        previousCutoff = currentCutoff;
    }

    // Non-finite input (or an overflow) must not silence the filter for ever.
    left.FlushIfNotFinite();
    right.FlushIfNotFinite();
}

void StereoFilter::SampleRateChanged(float rate)
{
    const float keep = static_cast<float>(cutoff);
    cutoff.SetMinMax(20.0f, rate * 0.5f - 50.0f, false);
    cutoff = keep;
    currentCutoff = targetCutoff.load(std::memory_order_relaxed);
    InitFilters();
}

void StereoFilter::FilterSample(float& l, float& r)
{
    l = left.FilterSample(l);
    r = right.FilterSample(r);
}

void StereoFilter::Reset()
{
    enabled.SetBool(false);
    cutoff = 30.0f;
    resonance = 20.0f;
    type = 0.0f;
}

void StereoFilter::Flush()
{
    left.Flush();
    right.Flush();
}

void StereoFilter::SetAdjustResonanceAtLowCutoffs(bool on)
{
    left.adjustResonanceAtLowCutoffs = on;
    right.adjustResonanceAtLowCutoffs = on;
    coefficientsDirty.store(true, std::memory_order_release);
}

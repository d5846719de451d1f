#include "dsp/StereoFilter.h"

#include "dsp/Simd.h"

#include <immintrin.h>

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

bool StereoFilter::BeginChunk(long n)
{
    if (!enabled.GetBool() || n <= 0 || n > kChunk) return false;
    // RenderStereo's way for a block of at most one chunk: no glide.
    const float target = targetCutoff.load(std::memory_order_relaxed);
    bool recompute = coefficientsDirty.exchange(false, std::memory_order_acquire);
    if (currentCutoff != target)
    {
        currentCutoff = target;
        recompute = true;
    }
    if (recompute) InitFilters();
    previousCutoff = currentCutoff;
    return true;
}

void StereoFilter::EndChunk()
{
    left.FlushIfNotFinite();
    right.FlushIfNotFinite();
}

void StereoFilter::FilterTogether(StereoFilter* const* filters, int count, float* const* left,
                                  float* const* right, long n)
{
    if (count <= 0 || n <= 0) return;
    if (count == 1)
    {
        filters[0]->FilterBoth(left[0], right[0], left[0], right[0], n);
        return;
    }
    for (int first = 0; first < count; first += 4)
    {
        const int lanes = std::min(4, count - first);
        for (long pos = 0; pos < n; pos += kChunk)
        {
            float* l[4];
            float* r[4];
            for (int k = 0; k < lanes; ++k)
            {
                l[k] = left[first + k] + pos;
                r[k] = right[first + k] + pos;
            }
            FilterFour(filters + first, lanes, l, r, std::min(kChunk, n - pos));
        }
    }
}

namespace
{

// Four filters' coefficients (the same for both channels) and history, lane k for filter k, and
// their samples: io[channel][lane].
struct FourFilters
{
    alignas(16) float c[5][4];    // b0, b1, b2, a1, a2
    alignas(16) float h[2][4][4]; // channel, (x1, x2, y1, y2), lane
    float* io[2][4];
};

// One sample of four lanes of one channel: the arithmetic of Running::Step, lane by lane.
struct Chain
{
    __m128 hx1, hx2, hy1, hy2;

    __m128 Step(__m128 input, __m128 const* c, __m128 guard)
    {
        const __m128 x = _mm_add_ps(input, guard);
        const __m128 y = _mm_sub_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(c[0], x), _mm_mul_ps(c[1], hx1)),
                                               _mm_sub_ps(_mm_mul_ps(c[2], hx2), _mm_mul_ps(c[3], hy1))),
                                    _mm_mul_ps(c[4], hy2));
        hx2 = hx1;
        hx1 = x;
        hy2 = hy1;
        hy1 = _mm_add_ps(y, guard);
        return y;
    }
};

// SSE2: the left and the right channel as two chains side by side.
void RunFourSse2(FourFilters& f, long n)
{
    __m128 c[5];
    for (int q = 0; q < 5; ++q)
        c[q] = _mm_load_ps(f.c[q]);
    const __m128 guard = _mm_set1_ps(kDenormalGuard);
    Chain ch[2];
    for (int j = 0; j < 2; ++j)
        ch[j] = {_mm_load_ps(f.h[j][0]), _mm_load_ps(f.h[j][1]), _mm_load_ps(f.h[j][2]),
                 _mm_load_ps(f.h[j][3])};
    long i = 0;
    for (; i + 4 <= n; i += 4)
    {
        // Four samples of four lanes, turned so that each register holds one sample.
        __m128 s[2][4];
        for (int j = 0; j < 2; ++j)
        {
            for (int k = 0; k < 4; ++k)
                s[j][k] = _mm_loadu_ps(f.io[j][k] + i);
            _MM_TRANSPOSE4_PS(s[j][0], s[j][1], s[j][2], s[j][3]);
        }
        for (int t = 0; t < 4; ++t)
        {
            s[0][t] = ch[0].Step(s[0][t], c, guard);
            s[1][t] = ch[1].Step(s[1][t], c, guard);
        }
        for (int j = 0; j < 2; ++j)
        {
            _MM_TRANSPOSE4_PS(s[j][0], s[j][1], s[j][2], s[j][3]);
            for (int k = 0; k < 4; ++k)
                _mm_storeu_ps(f.io[j][k] + i, s[j][k]);
        }
    }
    for (; i < n; ++i)
        for (int j = 0; j < 2; ++j)
        {
            alignas(16) float v[4] = {f.io[j][0][i], f.io[j][1][i], f.io[j][2][i], f.io[j][3][i]};
            _mm_store_ps(v, ch[j].Step(_mm_load_ps(v), c, guard));
            for (int k = 0; k < 4; ++k)
                f.io[j][k][i] = v[k];
        }
    for (int j = 0; j < 2; ++j)
    {
        _mm_store_ps(f.h[j][0], ch[j].hx1);
        _mm_store_ps(f.h[j][1], ch[j].hx2);
        _mm_store_ps(f.h[j][2], ch[j].hy1);
        _mm_store_ps(f.h[j][3], ch[j].hy2);
    }
}

// AVX2: one chain of eight lanes, the left channels low, the right channels high.
#define TORVANE_AVX2 __attribute__((target("avx2")))

TORVANE_AVX2 __m256 Both(float const* v)
{
    const __m128 x = _mm_load_ps(v);
    return _mm256_set_m128(x, x);
}

TORVANE_AVX2 __m256 Pair(float const* left, float const* right)
{
    return _mm256_set_m128(_mm_load_ps(right), _mm_load_ps(left));
}

TORVANE_AVX2 void Split(__m256 v, float* left, float* right)
{
    _mm_store_ps(left, _mm256_castps256_ps128(v));
    _mm_store_ps(right, _mm256_extractf128_ps(v, 1));
}

struct Chain8
{
    __m256 c0, c1, c2, d1, d2, guard;
    __m256 hx1, hx2, hy1, hy2;

    TORVANE_AVX2 __m256 Step(__m256 input)
    {
        const __m256 x = _mm256_add_ps(input, guard);
        const __m256 y =
            _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(c0, x), _mm256_mul_ps(c1, hx1)),
                                        _mm256_sub_ps(_mm256_mul_ps(c2, hx2), _mm256_mul_ps(d1, hy1))),
                          _mm256_mul_ps(d2, hy2));
        hx2 = hx1;
        hx1 = x;
        hy2 = hy1;
        hy1 = _mm256_add_ps(y, guard);
        return y;
    }
};

TORVANE_AVX2 void RunFourAvx2(FourFilters& f, long n)
{
    Chain8 ch;
    ch.c0 = Both(f.c[0]);
    ch.c1 = Both(f.c[1]);
    ch.c2 = Both(f.c[2]);
    ch.d1 = Both(f.c[3]);
    ch.d2 = Both(f.c[4]);
    ch.guard = _mm256_set1_ps(kDenormalGuard);
    ch.hx1 = Pair(f.h[0][0], f.h[1][0]);
    ch.hx2 = Pair(f.h[0][1], f.h[1][1]);
    ch.hy1 = Pair(f.h[0][2], f.h[1][2]);
    ch.hy2 = Pair(f.h[0][3], f.h[1][3]);
    long i = 0;
    for (; i + 4 <= n; i += 4)
    {
        __m128 s[2][4];
        for (int j = 0; j < 2; ++j)
        {
            for (int k = 0; k < 4; ++k)
                s[j][k] = _mm_loadu_ps(f.io[j][k] + i);
            _MM_TRANSPOSE4_PS(s[j][0], s[j][1], s[j][2], s[j][3]);
        }
        for (int t = 0; t < 4; ++t)
        {
            const __m256 y = ch.Step(_mm256_set_m128(s[1][t], s[0][t]));
            s[0][t] = _mm256_castps256_ps128(y);
            s[1][t] = _mm256_extractf128_ps(y, 1);
        }
        for (int j = 0; j < 2; ++j)
        {
            _MM_TRANSPOSE4_PS(s[j][0], s[j][1], s[j][2], s[j][3]);
            for (int k = 0; k < 4; ++k)
                _mm_storeu_ps(f.io[j][k] + i, s[j][k]);
        }
    }
    for (; i < n; ++i)
    {
        alignas(32) float v[8];
        for (int j = 0; j < 2; ++j)
            for (int k = 0; k < 4; ++k)
                v[4 * j + k] = f.io[j][k][i];
        _mm256_store_ps(v, ch.Step(_mm256_load_ps(v)));
        for (int j = 0; j < 2; ++j)
            for (int k = 0; k < 4; ++k)
                f.io[j][k][i] = v[4 * j + k];
    }
    Split(ch.hx1, f.h[0][0], f.h[1][0]);
    Split(ch.hx2, f.h[0][1], f.h[1][1]);
    Split(ch.hy1, f.h[0][2], f.h[1][2]);
    Split(ch.hy2, f.h[0][3], f.h[1][3]);
}

#undef TORVANE_AVX2

} // namespace

void StereoFilter::FilterFour(StereoFilter* const* filters, int lanes, float* const* left,
                              float* const* right, long n)
{
    // Lane k holds filter k; unused lanes run on zeros in a spare row.
    FourFilters f = {};
    alignas(16) float spare[2][4][kChunk] = {};
    for (int k = 0; k < 4; ++k)
    {
        f.io[0][k] = k < lanes ? left[k] : spare[0][k];
        f.io[1][k] = k < lanes ? right[k] : spare[1][k];
        if (k >= lanes) continue;
        FlexiFilter const* ch[2] = {&filters[k]->left, &filters[k]->right};
        // Both channels have the same coefficients (InitFilters copies them).
        f.c[0][k] = ch[0]->b0;
        f.c[1][k] = ch[0]->b1;
        f.c[2][k] = ch[0]->b2;
        f.c[3][k] = ch[0]->a1;
        f.c[4][k] = ch[0]->a2;
        for (int j = 0; j < 2; ++j)
        {
            f.h[j][0][k] = ch[j]->x1;
            f.h[j][1][k] = ch[j]->x2;
            f.h[j][2][k] = ch[j]->y1;
            f.h[j][3][k] = ch[j]->y2;
        }
    }
    if (Simd::Active() == Simd::Path::AVX2)
        RunFourAvx2(f, n);
    else
        RunFourSse2(f, n);
    for (int k = 0; k < lanes; ++k)
    {
        FlexiFilter* ch[2] = {&filters[k]->left, &filters[k]->right};
        for (int j = 0; j < 2; ++j)
        {
            ch[j]->x1 = f.h[j][0][k];
            ch[j]->x2 = f.h[j][1][k];
            ch[j]->y1 = f.h[j][2][k];
            ch[j]->y2 = f.h[j][3][k];
        }
    }
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

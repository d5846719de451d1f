#include "dsp/FFT.h"

#include <utility>

#include "framework/StandardMaths.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <stdexcept>

// ---------------------------------------------------------------------------
// Tables

FFTReal::BitReversedLUT::BitReversedLUT(int nbr_bits) : _table(size_t{1} << nbr_bits)
{
    for (size_t i = 0; i < _table.size(); ++i)
    {
        int reversed = 0;
        for (int b = 0; b < nbr_bits; ++b)
            reversed |= static_cast<int>((i >> b) & 1u) << (nbr_bits - 1 - b);
        _table[i] = reversed;
    }
}

FFTReal::TrigoLUT::TrigoLUT(int nbr_bits)
{
    if (nbr_bits < 4) return;
    _table.resize((size_t{1} << (nbr_bits - 1)) - 4);
    for (int level = 3; level < nbr_bits; ++level)
    {
        const size_t start = (size_t{1} << (level - 1)) - 4;
        const size_t count = size_t{1} << (level - 1);
        const double step = M_PI / static_cast<double>(size_t{1} << level);
        for (size_t i = 0; i < count; ++i)
            _table[start + i] = static_cast<float>(std::cos(static_cast<double>(i) * step));
    }
}

const float* FFTReal::TrigoLUT::get_ptr(int level) const
{
    if (_table.empty()) return nullptr;
    return _table.data() + ((size_t{1} << (level - 1)) - 4);
}

// ---------------------------------------------------------------------------
// FFTReal

namespace
{
int BitsOf(long length)
{
    if (length <= 0 || length > (1L << 30) || (length & (length - 1)) != 0)
        throw std::invalid_argument("FFTReal: the length must be a power of two from 1 to 2^30");
    int bits = 0;
    while ((1L << bits) < length)
        ++bits;
    return bits;
}
} // namespace

FFTReal::FFTReal(long length)
    : _bit_rev_lut(BitsOf(length)), _trigo_lut(BitsOf(length)),
      _sqrt2_2(static_cast<float>(std::sqrt(2.0) / 2.0)), _length(length), _nbr_bits(BitsOf(length))
{
    if (_nbr_bits > 2) _buffer.resize(static_cast<size_t>(_length));
}

// The transform works on blocks that each hold, in the layout above, the spectrum of
// one subsequence of the input. The input is read in bit-reversed order, so that
// each block of size M is made of the spectra of its even (first half) and odd
// (second half) samples, which one pass combines into the spectrum of size M:
//   X(h) = E(h) + w^h O(h),  X(M/2 - h) = conj(E(h) - w^h O(h)),  w = exp(2 pi i / M).

void FFTReal::forward_pass_4(float* dst, const float* x) const
{
    const int* br = _bit_rev_lut.get_ptr();
    for (long b = 0; b < _length; b += 4)
    {
        // Bit-reversed order: y0 = s0, y1 = s2, y2 = s1, y3 = s3.
        const float y0 = x[br[b]];
        const float y1 = x[br[b + 1]];
        const float y2 = x[br[b + 2]];
        const float y3 = x[br[b + 3]];
        dst[b] = (y0 + y1) + (y2 + y3);
        dst[b + 1] = y0 - y1;
        dst[b + 2] = (y0 + y1) - (y2 + y3);
        dst[b + 3] = y2 - y3;
    }
}

void FFTReal::forward_pass_8(float* dst, const float* src) const
{
    const float c = _sqrt2_2;
    for (long b = 0; b < _length; b += 8)
    {
        const float* s = src + b;
        float* d = dst + b;
        const float tr = c * (s[5] - s[7]);
        const float ti = c * (s[5] + s[7]);
        d[0] = s[0] + s[4];
        d[4] = s[0] - s[4];
        d[2] = s[2];
        d[6] = s[6];
        d[1] = s[1] + tr;
        d[3] = s[1] - tr;
        d[5] = s[3] + ti;
        d[7] = ti - s[3];
    }
}

void FFTReal::forward_pass(float* dst, const float* src, int level) const
{
    const long size = 2L << level; // M
    const long half = size / 2;
    const long quarter = size / 4;
    const float* cosines = _trigo_lut.get_ptr(level);
    for (long b = 0; b < _length; b += size)
    {
        const float* s = src + b;
        float* d = dst + b;
        d[0] = s[0] + s[half];
        d[half] = s[0] - s[half];
        d[quarter] = s[quarter];
        d[half + quarter] = s[half + quarter];
        for (long h = 1; h < quarter; ++h)
        {
            const float c = cosines[h];
            const float sn = cosines[quarter - h];
            const float er = s[h];
            const float ei = s[quarter + h];
            const float orr = s[half + h];
            const float oi = s[half + quarter + h];
            const float tr = c * orr - sn * oi;
            const float ti = sn * orr + c * oi;
            d[h] = er + tr;
            d[half - h] = er - tr;
            d[half + h] = ei + ti;
            d[size - h] = ti - ei;
        }
    }
}

// The inverse passes undo the forward ones, each doubling the values.

void FFTReal::inverse_pass(float* dst, const float* src, int level) const
{
    const long size = 2L << level;
    const long half = size / 2;
    const long quarter = size / 4;
    const float* cosines = _trigo_lut.get_ptr(level);
    for (long b = 0; b < _length; b += size)
    {
        const float* s = src + b;
        float* d = dst + b;
        d[0] = s[0] + s[half];
        d[half] = s[0] - s[half];
        d[quarter] = 2.0f * s[quarter];
        d[half + quarter] = 2.0f * s[half + quarter];
        for (long h = 1; h < quarter; ++h)
        {
            const float c = cosines[h];
            const float sn = cosines[quarter - h];
            const float tr = s[h] - s[half - h];
            const float ti = s[half + h] + s[size - h];
            d[h] = s[h] + s[half - h];
            d[quarter + h] = s[half + h] - s[size - h];
            d[half + h] = c * tr + sn * ti;
            d[half + quarter + h] = c * ti - sn * tr;
        }
    }
}

void FFTReal::inverse_pass_8(float* dst, const float* src) const
{
    const float c = _sqrt2_2;
    for (long b = 0; b < _length; b += 8)
    {
        const float* s = src + b;
        float* d = dst + b;
        const float tr = s[1] - s[3];
        const float ti = s[5] + s[7];
        d[0] = s[0] + s[4];
        d[4] = s[0] - s[4];
        d[2] = 2.0f * s[2];
        d[6] = 2.0f * s[6];
        d[1] = s[1] + s[3];
        d[3] = s[5] - s[7];
        d[5] = c * (tr + ti);
        d[7] = c * (ti - tr);
    }
}

void FFTReal::inverse_pass_4(float* x, const float* src) const
{
    const int* br = _bit_rev_lut.get_ptr();
    for (long b = 0; b < _length; b += 4)
    {
        const float sum = src[b] + src[b + 2];
        const float diff = src[b] - src[b + 2];
        const float re1 = 2.0f * src[b + 1];
        const float im1 = 2.0f * src[b + 3];
        // s0, s2, s1, s3 go back through the bit-reversed table.
        x[br[b]] = sum + re1;
        x[br[b + 1]] = sum - re1;
        x[br[b + 2]] = diff + im1;
        x[br[b + 3]] = diff - im1;
    }
}

void FFTReal::do_fft(float* f, const float* x) const
{
    switch (_nbr_bits)
    {
    case 0:
        f[0] = x[0];
        return;
    case 1:
        f[0] = x[0] + x[1];
        f[1] = x[0] - x[1];
        return;
    case 2:
        f[0] = (x[0] + x[2]) + (x[1] + x[3]);
        f[1] = x[0] - x[2];
        f[2] = (x[0] + x[2]) - (x[1] + x[3]);
        f[3] = x[1] - x[3];
        return;
    default:
        break;
    }
    // nbr_bits - 1 passes alternate between f and the scratch buffer, ending in f.
    float* scratch = _buffer.data();
    float* dst = (_nbr_bits & 1) ? scratch : f;
    float* other = (dst == f) ? scratch : f;
    forward_pass_4(dst, x);
    std::swap(dst, other);
    forward_pass_8(dst, other);
    for (int level = 3; level < _nbr_bits; ++level)
    {
        std::swap(dst, other);
        forward_pass(dst, other, level);
    }
}

void FFTReal::do_ifft(const float* f, float* x) const
{
    switch (_nbr_bits)
    {
    case 0:
        x[0] = f[0];
        return;
    case 1:
        x[0] = f[0] + f[1];
        x[1] = f[0] - f[1];
        return;
    case 2:
    {
        const float sum = f[0] + f[2];
        const float diff = f[0] - f[2];
        x[0] = sum + 2.0f * f[1];
        x[1] = diff + 2.0f * f[3];
        x[2] = sum - 2.0f * f[1];
        x[3] = diff - 2.0f * f[3];
        return;
    }
    default:
        break;
    }
    // nbr_bits - 2 passes alternate between x and the scratch buffer, ending in the
    // scratch buffer, from which the last pass writes x in natural order.
    float* scratch = _buffer.data();
    float* dst = (_nbr_bits & 1) ? scratch : x;
    float* other = (dst == x) ? scratch : x;
    const float* src = f;
    for (int level = _nbr_bits - 1; level >= 3; --level)
    {
        inverse_pass(dst, src, level);
        src = dst;
        std::swap(dst, other);
    }
    inverse_pass_8(dst, src);
    inverse_pass_4(x, dst);
}

void FFTReal::rescale(float* x) const
{
    const float factor = static_cast<float>(1.0 / static_cast<double>(_length));
    for (long i = 0; i < _length; ++i)
        x[i] *= factor;
}

// ---------------------------------------------------------------------------
// FFT

namespace
{
constexpr float kPi = 3.1415927f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kThreeHalfPi = 4.712389f;
constexpr float kTwoPi = 6.2831855f;

// Bin j - 1 is a peak when the gated amplitude rose or stayed level into it and
// falls after it; calls found(bin) for each peak until it returns false.
template <typename Found> void WalkPeaks(const float* amps, long bins, float threshold, Found found)
{
    const auto gate = [threshold](float v) { return v > threshold ? v : 0.0f; };
    float previous = -1.0f;
    for (long j = 1; j < bins; ++j)
    {
        const float d = gate(amps[j]) - gate(amps[j - 1]);
        if (previous >= 0.0f && d < 0.0f && !found(j - 1)) return;
        previous = d;
    }
}
} // namespace

void FFT::Swap(FFT& o) noexcept
{
    std::swap(bins, o.bins);
    std::swap(N, o.N);
    samples.swap(o.samples);
    spectrum.swap(o.spectrum);
    amps.swap(o.amps);
    phases.swap(o.phases);
    transform.swap(o.transform);
}

void FFT::Init(long length)
{
    auto newTransform = std::make_unique<FFTReal>(length);
    std::vector<float> newSamples(static_cast<size_t>(length));
    std::vector<float> newSpectrum(static_cast<size_t>(length));
    std::vector<float> newAmps(static_cast<size_t>(length / 2));
    std::vector<float> newPhases(static_cast<size_t>(length / 2));
    transform = std::move(newTransform);
    samples.swap(newSamples);
    spectrum.swap(newSpectrum);
    amps.swap(newAmps);
    phases.swap(newPhases);
    N = length;
    bins = length / 2;
}

void FFT::ForwardFFT(bool withPhases)
{
    if (!transform) return;
    transform->do_fft(spectrum.data(), samples.data());
    const float scale = 2.0f / static_cast<float>(N);
    for (long h = 0; h < bins; ++h)
    {
        const float r = scale * spectrum[h];
        const float i = scale * spectrum[bins + h];
        amps[h] = std::sqrt(r * r + i * i);
        if (!withPhases) continue;
        float phase;
        if (i == 0.0f)
            phase = r == 0.0f ? 0.0f : (r > 0.0f ? kHalfPi : kThreeHalfPi);
        else if (i < 0.0f)
            phase = std::atan(r / i) + kPi;
        else if (r >= 0.0f)
            phase = std::atan(r / i);
        else
            phase = std::atan(r / i) + kTwoPi;
        phases[h] = phase;
    }
}

void FFT::InverseFFT()
{
    if (!transform) return;
    for (long h = 0; h < bins; ++h)
    {
        spectrum[h] = 0.5f * amps[h] * std::sin(phases[h]);
        spectrum[bins + h] = 0.5f * amps[h] * std::cos(phases[h]);
    }
    transform->do_ifft(spectrum.data(), samples.data());
}

void FFT::HammingWindow()
{
    ::HammingWindow(samples.data(), static_cast<unsigned int>(N));
}

void FFT::ZeroAmps()
{
    std::fill(amps.begin(), amps.end(), 0.0f);
}

void FFT::ZeroPhases()
{
    std::fill(phases.begin(), phases.end(), 0.0f);
}

float FFT::LargestAmp() const
{
    float m = FLT_MIN;
    for (float a : amps)
        if (a > m) m = a;
    return m;
}

void FFT::Normalise(float peak)
{
    const float factor = peak / LargestAmp();
    for (float& a : amps)
        a *= factor;
}

float FFT::PeakAmp(long* index)
{
    float m = FLT_MIN;
    long at = 0;
    for (long h = 0; h < bins; ++h)
        if (amps[h] > m)
        {
            m = amps[h];
            at = h;
        }
    if (index != nullptr) *index = at;
    return m;
}

void FFT::NoiseGate(float threshold)
{
    for (float& a : amps)
        if (a <= threshold) a = 0.0f;
}

void FFT::MakeDB(bool offsetAndClamp, float offset)
{
    Normalise(1.0f);
    for (float& a : amps)
    {
        a = static_cast<float>(linearTodB(a));
        if (offsetAndClamp)
        {
            a += offset;
            if (a < 0.0f) a = 0.0f;
        }
    }
}

void FFT::FindPeaks(std::vector<long>& peaks, float threshold)
{
    WalkPeaks(amps.data(), bins, threshold,
              [&peaks](long bin)
              {
                  peaks.push_back(bin);
                  return true;
              });
}

long FFT::EstimateFundamental()
{
    long fundamental = 1;
    WalkPeaks(amps.data(), bins, 0.1f * LargestAmp(),
              [&fundamental](long bin)
              {
                  fundamental = bin;
                  return false;
              });
    return fundamental;
}

float FFT::EstimateFundamental(const float* samples, long sampleRate, long N)
{
    if (samples == nullptr || N < 2 || N > (1L << 30) || (N & (N - 1)) != 0) return 0.0f;
    FFT fft;
    fft.Init(N);
    std::copy(samples, samples + N, fft.GetSamples());
    fft.HammingWindow();
    fft.ForwardFFT(true);
    const float bin = static_cast<float>(fft.EstimateFundamental());
    const float rate = static_cast<float>(sampleRate);
    const float bins = static_cast<float>(N / 2);
    return rate / (4.0f * bins) + bin * rate / (2.0f * bins);
}

// ---------------------------------------------------------------------------

void HammingWindow(float* x, unsigned int n)
{
    if (x == nullptr || n < 2) return;
    const double a = 0.54f;
    const double b = 0.46f;
    const double twoPi = 6.2831854f;
    const double last = static_cast<double>(n - 1);
    for (unsigned int i = 0; i < n; ++i)
    {
        const double w = a - b * std::cos(twoPi * static_cast<double>(i) / last);
        x[i] = static_cast<float>(static_cast<double>(x[i]) * w);
    }
}

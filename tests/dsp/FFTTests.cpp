#include "dsp/FFT.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

#include "support/AudioChecks.h"

namespace
{
constexpr double kPi = 3.14159265358979323846;

std::vector<float> RandomSignal(long n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(static_cast<size_t>(n));
    for (float& v : x)
        v = dist(gen);
    return x;
}

// Plain DFT in double precision of the bins asked for: re = sum x cos(a), im = sum x sin(a).
struct Dft
{
    std::vector<double> re, im;
};

Dft NaiveDft(const std::vector<float>& x, const std::vector<long>& binsWanted)
{
    Dft out;
    for (audio::DftBin const& bin : audio::NaiveDft(x.data(), x.size(), binsWanted))
    {
        out.re.push_back(bin.re);
        out.im.push_back(bin.im);
    }
    return out;
}

std::vector<long> BinsToCheck(long n)
{
    std::vector<long> bins;
    if (n <= 4096)
    {
        for (long h = 0; h <= n / 2; ++h)
            bins.push_back(h);
        return bins;
    }
    // Long transforms: the edges, the bins next to every power of two, and a random spread.
    for (long h : {0L, 1L, 2L, 3L, n / 4 - 1, n / 4, n / 4 + 1, n / 2 - 2, n / 2 - 1, n / 2})
        bins.push_back(h);
    for (long p = 8; p < n / 2; p *= 2)
        bins.push_back(p + 1);
    std::mt19937 gen(7);
    std::uniform_int_distribution<long> dist(1, n / 2 - 1);
    for (int i = 0; i < 64; ++i)
        bins.push_back(dist(gen));
    return bins;
}

// Float rounding over log2(n) passes on values of size about sqrt(n).
double Tolerance(long n)
{
    return 2e-7 * std::sqrt(static_cast<double>(n)) * (std::log2(static_cast<double>(n)) + 1.0);
}

class FFTLengths : public ::testing::TestWithParam<long>
{
};

TEST_P(FFTLengths, ForwardMatchesNaiveDftInLayout)
{
    const long n = GetParam();
    const std::vector<float> x = RandomSignal(n, static_cast<unsigned>(n));
    FFTReal fft(n);
    std::vector<float> f(static_cast<size_t>(n), NAN);
    fft.do_fft(f.data(), x.data());

    const std::vector<long> bins = BinsToCheck(n);
    const Dft ref = NaiveDft(x, bins);
    const double tol = Tolerance(n);
    for (size_t k = 0; k < bins.size(); ++k)
    {
        const long h = bins[k];
        EXPECT_NEAR(f[static_cast<size_t>(h)], ref.re[k], tol) << "re(" << h << ") N=" << n;
        if (h > 0 && h < n / 2)
        {
            EXPECT_NEAR(f[static_cast<size_t>(n / 2 + h)], ref.im[k], tol) << "im(" << h << ") N=" << n;
        }
    }
}

TEST_P(FFTLengths, InverseOfForwardGivesNTimesInput)
{
    const long n = GetParam();
    const std::vector<float> x = RandomSignal(n, static_cast<unsigned>(n) + 1);
    FFTReal fft(n);
    std::vector<float> f(static_cast<size_t>(n)), y(static_cast<size_t>(n), NAN);
    fft.do_fft(f.data(), x.data());
    fft.do_ifft(f.data(), y.data());
    const double tol = Tolerance(n) * std::sqrt(static_cast<double>(n));
    for (long i = 0; i < n; ++i)
        ASSERT_NEAR(y[static_cast<size_t>(i)], static_cast<double>(n) * x[static_cast<size_t>(i)], tol) << i;

    fft.rescale(y.data());
    for (long i = 0; i < n; ++i)
        ASSERT_NEAR(y[static_cast<size_t>(i)], x[static_cast<size_t>(i)], tol / static_cast<double>(n)) << i;
}

TEST_P(FFTLengths, InverseMatchesSumOfCosinesAndSines)
{
    // x(n) = re(0) + re(N/2) (-1)^n + 2 sum (re(h) cos(a) + im(h) sin(a)), for a spectrum
    // that did not come from the forward transform.
    const long n = GetParam();
    const std::vector<float> f = RandomSignal(n, static_cast<unsigned>(n) + 2);
    FFTReal fft(n);
    std::vector<float> x(static_cast<size_t>(n));
    fft.do_ifft(f.data(), x.data());
    const long step = n > 4096 ? 997 : 1;
    for (long k = 0; k < n; k += step)
    {
        double v = f[0];
        if (n > 1) v += f[static_cast<size_t>(n / 2)] * ((k % 2) ? -1.0 : 1.0);
        for (long h = 1; h < n / 2; ++h)
        {
            const double a = 2.0 * kPi * static_cast<double>((h * k) % n) / static_cast<double>(n);
            v += 2.0 *
                 (f[static_cast<size_t>(h)] * std::cos(a) + f[static_cast<size_t>(n / 2 + h)] * std::sin(a));
        }
        ASSERT_NEAR(x[static_cast<size_t>(k)], v, Tolerance(n) * 2.0) << "sample " << k;
    }
}

TEST_P(FFTLengths, SineAmplitudeAndPhaseReadBack)
{
    const long n = GetParam();
    if (n < 4) GTEST_SKIP() << "no bin between DC and Nyquist";
    FFT fft;
    fft.Init(n);
    ASSERT_EQ(fft.GetNumBins(), n / 2);
    ASSERT_EQ(fft.GetNumSamples(), n);
    const long h = n / 4 - 1 > 0 ? n / 4 - 1 : 1;
    const float amp = 0.75f;
    const float phase = 2.5f;
    for (long k = 0; k < n; ++k)
        fft.GetSamples()[k] = static_cast<float>(
            amp * std::sin(2.0 * kPi * static_cast<double>(h * k) / static_cast<double>(n) + phase));
    fft.ForwardFFT(true);
    EXPECT_NEAR(fft.GetAmps()[h], amp, 1e-5);
    EXPECT_NEAR(fft.GetPhases()[h], phase, 1e-4);
    for (long b = 1; b < n / 2; ++b)
    {
        if (b != h)
        {
            ASSERT_NEAR(fft.GetAmps()[b], 0.0f, 1e-5) << b;
        }
    }
}

TEST_P(FFTLengths, ForwardThenInverseGivesSamplesBack)
{
    const long n = GetParam();
    const std::vector<float> x = RandomSignal(n, static_cast<unsigned>(n) + 3);
    FFT fft;
    fft.Init(n);
    std::copy(x.begin(), x.end(), fft.GetSamples());
    fft.ForwardFFT(true);
    std::fill(fft.GetSamples(), fft.GetSamples() + n, NAN);
    fft.InverseFFT();
    for (long k = 0; k < n; ++k)
        ASSERT_NEAR(fft.GetSamples()[k], x[static_cast<size_t>(k)], 2e-5) << k;
}

INSTANTIATE_TEST_SUITE_P(FFT, FFTLengths, ::testing::Values(1L, 2L, 4L, 8L, 16L, 32L, 64L, 4096L, 32768L));

TEST(FFTReal, SignConventionIsPlusSine)
{
    const long n = 16;
    std::vector<float> x(n), f(n);
    for (long k = 0; k < n; ++k)
        x[static_cast<size_t>(k)] =
            static_cast<float>(std::sin(2.0 * kPi * 3.0 * static_cast<double>(k) / n));
    FFTReal fft(n);
    fft.do_fft(f.data(), x.data());
    EXPECT_NEAR(f[3], 0.0f, 1e-5);
    EXPECT_NEAR(f[n / 2 + 3], n / 2.0f, 1e-5);

    for (long k = 0; k < n; ++k)
        x[static_cast<size_t>(k)] =
            static_cast<float>(std::cos(2.0 * kPi * 5.0 * static_cast<double>(k) / n));
    fft.do_fft(f.data(), x.data());
    EXPECT_NEAR(f[5], n / 2.0f, 1e-5);
    EXPECT_NEAR(f[n / 2 + 5], 0.0f, 1e-5);
}

TEST(FFTReal, ShortLengthsExact)
{
    FFTReal two(2);
    float x2[2] = {3.0f, 5.0f}, f2[2], y2[2];
    two.do_fft(f2, x2);
    EXPECT_EQ(f2[0], 8.0f);
    EXPECT_EQ(f2[1], -2.0f);
    two.do_ifft(f2, y2);
    EXPECT_EQ(y2[0], 6.0f);
    EXPECT_EQ(y2[1], 10.0f);

    FFTReal four(4);
    float x4[4] = {1.0f, 2.0f, 4.0f, 8.0f}, f4[4], y4[4];
    four.do_fft(f4, x4);
    EXPECT_EQ(f4[0], 15.0f);
    EXPECT_EQ(f4[1], -3.0f);
    EXPECT_EQ(f4[2], -5.0f);
    EXPECT_EQ(f4[3], -6.0f);
    four.do_ifft(f4, y4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(y4[i], 4.0f * x4[i]);

    FFTReal one(1);
    float x1 = 7.0f, f1 = 0.0f, y1 = 0.0f;
    one.do_fft(&f1, &x1);
    one.do_ifft(&f1, &y1);
    EXPECT_EQ(f1, 7.0f);
    EXPECT_EQ(y1, 7.0f);
}

TEST(FFTReal, TablesAndBuffers)
{
    FFTReal::BitReversedLUT bits3(3);
    const int expected[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(bits3.get_ptr()[i], expected[i]);
    FFTReal::BitReversedLUT bits0(0);
    EXPECT_EQ(bits0.get_ptr()[0], 0);

    FFTReal::TrigoLUT trig(5);
    ASSERT_EQ(trig.size(), (1 << 4) - 4);
    for (int level = 3; level < 5; ++level)
    {
        const float* block = trig.get_ptr(level);
        ASSERT_EQ(block - trig.get_ptr(3), (1 << (level - 1)) - 4);
        for (int i = 0; i < (1 << (level - 1)); ++i)
            EXPECT_EQ(block[i], static_cast<float>(std::cos(i * kPi / (1 << level)))) << level << " " << i;
    }
    EXPECT_EQ(FFTReal::TrigoLUT(3).size(), 0);
    EXPECT_EQ(FFTReal::TrigoLUT(3).get_ptr(3), nullptr);

    FFTReal eight(8);
    EXPECT_EQ(eight.get_nbr_bits(), 3);
    EXPECT_FALSE(eight.has_trigo_table());
    EXPECT_TRUE(eight.has_scratch_buffer());
    FFTReal four(4);
    EXPECT_FALSE(four.has_trigo_table());
    EXPECT_FALSE(four.has_scratch_buffer());
    FFTReal sixteen(16);
    EXPECT_TRUE(sixteen.has_trigo_table());
    EXPECT_EQ(sixteen.get_length(), 16);
}

TEST(FFTReal, RejectsLengthsThatAreNotPowersOfTwo)
{
    for (long n : {0L, -4L, 3L, 6L, 12L, 4097L, (1L << 31)})
        EXPECT_THROW(FFTReal{n}, std::invalid_argument) << n;

    FFT fft;
    fft.Init(8);
    EXPECT_THROW(fft.Init(10), std::invalid_argument);
    EXPECT_EQ(fft.GetNumSamples(), 8);
    EXPECT_EQ(fft.GetNumBins(), 4);
}

TEST(FFT, ConstantCarriesTheTwoOverNFactor)
{
    for (float c : {0.25f, -0.5f})
    {
        FFT fft;
        fft.Init(64);
        std::fill(fft.GetSamples(), fft.GetSamples() + 64, c);
        fft.ForwardFFT(true);
        EXPECT_NEAR(fft.GetAmps()[0], 2.0f * std::fabs(c), 1e-6);
        EXPECT_FLOAT_EQ(fft.GetPhases()[0], c > 0 ? 1.5707964f : 4.712389f);
        std::fill(fft.GetSamples(), fft.GetSamples() + 64, 0.0f);
        fft.InverseFFT();
        for (int k = 0; k < 64; ++k)
            ASSERT_NEAR(fft.GetSamples()[k], c, 1e-6);
    }
}

TEST(FFT, PhaseQuadrantsAndZeroBin)
{
    FFT fft;
    fft.Init(16);
    std::fill(fft.GetSamples(), fft.GetSamples() + 16, 0.0f);
    fft.ForwardFFT(true);
    for (int b = 0; b < 8; ++b)
    {
        EXPECT_EQ(fft.GetAmps()[b], 0.0f);
        EXPECT_EQ(fft.GetPhases()[b], 0.0f);
    }
    // One phase per quadrant, from the sine convention.
    for (float phase : {0.3f, 1.9f, 3.5f, 5.6f})
    {
        for (int k = 0; k < 16; ++k)
            fft.GetSamples()[k] = static_cast<float>(std::sin(2.0 * kPi * 2.0 * k / 16.0 + phase));
        fft.ForwardFFT(true);
        EXPECT_NEAR(fft.GetPhases()[2], phase, 1e-5);
    }
    // Without phases they stay as they were.
    fft.GetPhases()[2] = 42.0f;
    fft.ForwardFFT(false);
    EXPECT_EQ(fft.GetPhases()[2], 42.0f);
}

TEST(FFT, InverseOfAmplitudeWithPhaseZeroIsASine)
{
    FFT fft;
    fft.Init(256);
    fft.ZeroAmps();
    fft.ZeroPhases();
    fft.GetAmps()[5] = 0.5f;
    fft.InverseFFT();
    for (int k = 0; k < 256; ++k)
        ASSERT_NEAR(fft.GetSamples()[k], 0.5 * std::sin(2.0 * kPi * 5.0 * k / 256.0), 1e-6) << k;
}

TEST(FFT, UninitialisedIsHarmless)
{
    FFT fft;
    fft.ForwardFFT(true);
    fft.InverseFFT();
    fft.HammingWindow();
    fft.Normalise(1.0f);
    long index = 9;
    EXPECT_EQ(fft.PeakAmp(&index), FLT_MIN);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(fft.EstimateFundamental(), 1);
    std::vector<long> peaks;
    fft.FindPeaks(peaks, 0.0f);
    EXPECT_TRUE(peaks.empty());
}

void SetAmps(FFT& fft, const std::vector<float>& amps)
{
    fft.Init(static_cast<long>(amps.size()) * 2);
    std::copy(amps.begin(), amps.end(), fft.GetAmps());
}

TEST(FFTPeaks, PeakRule)
{
    FFT fft;
    std::vector<long> peaks{99};
    SetAmps(fft, {0, 5, 5, 1});
    fft.FindPeaks(peaks, 0.0f);
    EXPECT_EQ(peaks, (std::vector<long>{99, 2}));

    // Bin 0 and the last bin are never peaks; the gate hides small bumps.
    peaks.clear();
    SetAmps(fft, {9, 1, 3, 1, 0.5f, 0.6f, 0.2f, 8});
    fft.FindPeaks(peaks, 0.0f);
    EXPECT_EQ(peaks, (std::vector<long>{2, 5}));
    peaks.clear();
    fft.FindPeaks(peaks, 1.0f);
    EXPECT_EQ(peaks, (std::vector<long>{2}));

    // Fewer than 2 bins: nothing.
    peaks.clear();
    SetAmps(fft, {3});
    fft.FindPeaks(peaks, 0.0f);
    EXPECT_TRUE(peaks.empty());
}

TEST(FFTPeaks, EstimateFundamentalFromAmplitudes)
{
    FFT fft;
    SetAmps(fft, {0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(fft.EstimateFundamental(), 1);
    SetAmps(fft, {0, 4, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(fft.EstimateFundamental(), 1);
    // A bump below a tenth of the largest is ignored.
    SetAmps(fft, {0, 0.5f, 0, 10, 0, 6, 0, 0});
    EXPECT_EQ(fft.EstimateFundamental(), 3);
    SetAmps(fft, {0, 2, 0, 10, 0, 6, 0, 0});
    EXPECT_EQ(fft.EstimateFundamental(), 1);
}

TEST(FFTPeaks, EstimateFundamentalOfSignal)
{
    const long n = 1024;
    const long rate = 44100;
    std::vector<float> x(n);
    // A harmonic tone whose fundamental sits on bin 12.
    for (long k = 0; k < n; ++k)
    {
        double v = 0.0;
        for (int harmonic = 1; harmonic <= 5; ++harmonic)
            v += std::sin(2.0 * kPi * 12.0 * harmonic * static_cast<double>(k) / n) / harmonic;
        x[static_cast<size_t>(k)] = static_cast<float>(v);
    }
    EXPECT_FLOAT_EQ(FFT::EstimateFundamental(x.data(), rate, n), 12.5f * rate / n);
    EXPECT_EQ(FFT::EstimateFundamental(x.data(), rate, 1000), 0.0f);
    EXPECT_EQ(FFT::EstimateFundamental(x.data(), rate, 1), 0.0f);
}

TEST(FFTAmplitudes, NormalisePeakGateAndDecibels)
{
    FFT fft;
    SetAmps(fft, {1, 4, 2, 4});
    long index = -1;
    EXPECT_EQ(fft.PeakAmp(&index), 4.0f);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(fft.PeakAmp(nullptr), 4.0f);

    fft.Normalise(2.0f);
    EXPECT_EQ(fft.GetAmps()[0], 0.5f);
    EXPECT_EQ(fft.GetAmps()[1], 2.0f);

    fft.NoiseGate(1.0f);
    EXPECT_EQ(fft.GetAmps()[0], 0.0f);
    EXPECT_EQ(fft.GetAmps()[2], 0.0f); // at the threshold
    EXPECT_EQ(fft.GetAmps()[3], 2.0f);

    // All zero: nothing divides by zero.
    SetAmps(fft, {0, 0});
    fft.Normalise(1.0f);
    EXPECT_EQ(fft.GetAmps()[0], 0.0f);
    EXPECT_EQ(fft.PeakAmp(&index), FLT_MIN);
    EXPECT_EQ(index, 0);

    SetAmps(fft, {0.5f, 0.05f, 0.0f, 0.25f});
    fft.MakeDB(false, 0.0f);
    EXPECT_NEAR(fft.GetAmps()[0], 0.0, 1e-6);
    EXPECT_NEAR(fft.GetAmps()[1], -20.0, 1e-4);
    EXPECT_NEAR(fft.GetAmps()[2], 20.0 * std::log10(static_cast<double>(1e-10f)), 1e-3);
    EXPECT_NEAR(fft.GetAmps()[3], -6.0206, 1e-3);

    SetAmps(fft, {0.5f, 0.05f, 0.0f, 0.25f});
    fft.MakeDB(true, 10.0f);
    EXPECT_NEAR(fft.GetAmps()[0], 10.0, 1e-6);
    EXPECT_EQ(fft.GetAmps()[1], 0.0f);
    EXPECT_EQ(fft.GetAmps()[2], 0.0f);
    EXPECT_NEAR(fft.GetAmps()[3], 3.9794, 1e-3);
}

TEST(HammingWindow, Values)
{
    std::vector<float> x(9, 2.0f);
    HammingWindow(x.data(), 9);
    for (int i = 0; i < 9; ++i)
    {
        const double w =
            static_cast<double>(0.54f) - static_cast<double>(0.46f) * std::cos(2.0 * kPi * i / 8.0);
        EXPECT_NEAR(x[static_cast<size_t>(i)], 2.0 * w, 1e-6) << i;
        EXPECT_NEAR(x[static_cast<size_t>(i)], x[static_cast<size_t>(8 - i)], 1e-6) << i;
    }
    EXPECT_NEAR(x[4], 2.0f, 1e-6);
    EXPECT_NEAR(x[0], 0.16f, 1e-6);

    float two[2] = {1.0f, 1.0f};
    HammingWindow(two, 2);
    EXPECT_NEAR(two[0], 0.08f, 1e-6);
    EXPECT_NEAR(two[1], 0.08f, 1e-6);

    // Fewer than two points are left alone.
    float one = 3.0f;
    HammingWindow(&one, 1);
    EXPECT_EQ(one, 3.0f);
    HammingWindow(&one, 0);
    HammingWindow(nullptr, 0);
    EXPECT_EQ(one, 3.0f);

    FFT fft;
    fft.Init(1);
    fft.GetSamples()[0] = 3.0f;
    fft.HammingWindow();
    EXPECT_EQ(fft.GetSamples()[0], 3.0f);
}
} // namespace

#pragma once

#include <memory>
#include <vector>

// Real fast Fourier transform of a fixed power-of-two length.
//
// Spectrum layout for a length N and input x(0..N-1), with a = 2 pi h n / N:
//   entry h,       h = 0 .. N/2:     re(h) = sum x(n) cos(a)
//   entry N/2 + h, h = 1 .. N/2 - 1: im(h) = sum x(n) sin(a)   (plus sine)
// Neither direction scales: do_ifft(do_fft(x)) gives N times x.
class FFTReal
{
public:
    // Entry i is i with its nbr_bits low bits in reverse order.
    class BitReversedLUT
    {
    public:
        explicit BitReversedLUT(int nbr_bits);
        const int* get_ptr() const { return _table.data(); }

    private:
        std::vector<int> _table;
    };

    // One block per pass level L = 3 .. nbr_bits - 1: block L starts at entry
    // 2^(L-1) - 4 and holds cos(i pi / 2^L), i = 0 .. 2^(L-1) - 1. Empty below 4 bits.
    class TrigoLUT
    {
    public:
        explicit TrigoLUT(int nbr_bits);
        // Block of pass level L, or null when there is no table.
        const float* get_ptr(int level) const;
        long size() const { return static_cast<long>(_table.size()); }

    private:
        std::vector<float> _table;
    };

    // length must be a power of two from 1 to 2^30; anything else throws
    // std::invalid_argument.
    explicit FFTReal(long length);

    // Forward transform of the `length` values of x into f. f and x must not overlap.
    void do_fft(float* f, const float* x) const;
    // Inverse transform of f into x, without division. f and x must not overlap.
    void do_ifft(const float* f, float* x) const;
    // Multiplies each of the `length` values by 1 / length.
    void rescale(float* x) const;

    long get_length() const { return _length; }
    int get_nbr_bits() const { return _nbr_bits; }
    bool has_trigo_table() const { return _trigo_lut.size() > 0; }
    bool has_scratch_buffer() const { return !_buffer.empty(); }

private:
    void forward_pass_4(float* dst, const float* x) const;
    void forward_pass_8(float* dst, const float* src) const;
    void forward_pass(float* dst, const float* src, int level) const;
    void inverse_pass(float* dst, const float* src, int level) const;
    void inverse_pass_8(float* dst, const float* src) const;
    void inverse_pass_4(float* x, const float* src) const;

    BitReversedLUT _bit_rev_lut;
    TrigoLUT _trigo_lut;
    float _sqrt2_2;
    long _length;
    int _nbr_bits;
    mutable std::vector<float> _buffer;
};

// A transform with its own sample, spectrum, amplitude and phase arrays.
// A bin of amplitude A and phase P stands for A sin(2 pi h n / N + P); phases
// lie in [0, 2 pi). Bin 0 holds the DC term (amplitude) and the Nyquist term (phase
// pair), both carrying the 2 / N factor like every bin.
class FFT
{
public:
    FFT() = default;
    FFT(const FFT&) = delete;
    FFT& operator=(const FFT&) = delete;

    // Exchanges everything with o (no allocation).
    void Swap(FFT& o) noexcept;

    // Allocates the arrays for a power-of-two length N (contents undefined).
    // Another length throws std::invalid_argument and leaves the object as it was.
    void Init(long N);

    // samples -> spectrum -> amplitudes (and phases when withPhases).
    void ForwardFFT(bool withPhases);
    // amplitudes and phases -> spectrum -> samples; a forward pass followed by an
    // inverse pass gives the samples back.
    void InverseFFT();
    void HammingWindow();

    void ZeroAmps();
    void ZeroPhases();

    long GetNumBins() const { return bins; }
    long GetNumSamples() const { return N; }
    float* GetSamples() { return samples.data(); }
    float* GetAmps() { return amps.data(); }
    float* GetPhases() { return phases.data(); }

    // Scales the amplitudes so that the largest is `peak`.
    void Normalise(float peak);
    // The largest amplitude (at least the smallest normal float) and the first bin
    // holding it (0 when no bin exceeds that).
    float PeakAmp(long* index);
    // Amplitudes at or below threshold become 0.
    void NoiseGate(float threshold);
    // Amplitudes relative to the largest, in decibels; with offsetAndClamp,
    // offset is added and results below 0 become 0.
    void MakeDB(bool offsetAndClamp, float offset);
    // Appends the peak bins above threshold in ascending order.
    void FindPeaks(std::vector<long>& peaks, float threshold);
    // The bin of the first peak above a tenth of the largest amplitude; 1 when none.
    long EstimateFundamental();
    // The fundamental in Hz of N samples (N a power of two, at least 2), from a
    // Hamming-windowed transform: (bin + 0.5) * sampleRate / N. 0 for another N.
    static float EstimateFundamental(const float* samples, long sampleRate, long N);

private:
    float LargestAmp() const;

    long bins = 0;
    long N = 0;
    std::vector<float> samples;
    std::vector<float> spectrum;
    std::vector<float> amps;
    std::vector<float> phases;
    std::unique_ptr<FFTReal> transform;
};

// Multiplies x[i] by 0.54 - 0.46 cos(2 pi i / (n - 1)). Fewer than 2 points are
// left unchanged.
void HammingWindow(float* x, unsigned int n);

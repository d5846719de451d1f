#pragma once

#include <atomic>

#include "dsp/DSPComponent.h"

// One channel of the multimode filter: a direct-form-I biquad whose coefficients come from the
// audio-EQ-cookbook formulas.
class FlexiFilter
{
public:
    enum Type : int
    {
        LowPass = 0,
        HighPass = 1,
        BandPass = 2,    // peak gain Q
        BandPass0dB = 3, // 0 dB peak
        Notch = 4,
        AllPass = 5,
        Peaking = 6,
        LowShelf = 7,
        HighShelf = 8
    };

    // With bandwidth true, q is a bandwidth in octaves (the shelves always read it as Q).
    // gainDB is used by the peaking and shelving types only. Below 80 Hz the adjust flag lowers
    // q with the square of freq / 80 (never below 0.1). Unknown types give a pass-through.
    // Settings that give coefficients that are not finite are ignored. History is not touched.
    void InitFilter(int type, double freq, double sampleRate, double q, double gainDB, bool bandwidth);
    // in and out may be the same buffer; n <= 0 does nothing.
    void DoFiltering(float* in, float* out, int n);
    // One sample in place, without the denormal guards.
    float FilterSample(float x);
    void CopyCoefficients(FlexiFilter const& other);
    void Flush();
    // Zeroes the history when any of it is not finite; true when it was finite.
    bool FlushIfNotFinite();

    float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;
    float y1 = 0.0f, y2 = 0.0f, x1 = 0.0f, x2 = 0.0f;
    bool adjustResonanceAtLowCutoffs = true;
};

// The multimode stereo filter of the voices and of the instrument's output, and the anti-alias
// filter of the sample-rate converter.
//
// Cutoff changes glide: a block longer than 32 frames moves the coefficients from the cutoff of
// the last block toward the cutoff parameter in 32-frame chunks, and later blocks carry on until
// the cutoff parameter is reached. Parameters may be set from any thread; the filter picks the
// change up at its next block.
class StereoFilter : public DSPComponent
{
public:
    static constexpr long kChunk = 32;

    StereoFilter();

    void ParameterUpdated(float value, Parameter* changed) override;
    void RenderStereo(float* inL, float* inR, float* outL, float* outR, long n) override;
    // Moves the cutoff range to 20 .. rate / 2 - 50; the cutoff keeps its value, clamped to the
    // new range.
    void SampleRateChanged(float rate) override;

    void FilterSample(float& l, float& r);
    // Enabled off, cutoff 30, resonance 20, type 0.
    void Reset();
    // Clears the history of both channels; the coefficients stay.
    void Flush();
    void SetAdjustResonanceAtLowCutoffs(bool on);

    // A block of at most kChunk frames in three steps, so that several filters can run their
    // blocks side by side: BeginChunk sets the coefficients up as RenderStereo does (false, with
    // nothing changed, when the filter is off or n <= 0: then RenderStereo must run the block);
    // FilterTogether runs the blocks; EndChunk clears a history that is no longer finite.
    bool BeginChunk(long n);
    void EndChunk();
    // Filters n frames of each of `count` filters in place (left[k], right[k] of filter k), every
    // filter with its own coefficients and history, giving every sample the float that its own
    // block would. Up to four filters run in the lanes of one register.
    static void FilterTogether(StereoFilter* const* filters, int count, float* const* left,
                               float* const* right, long n);

    // (1.5 r)^2 / 150, with 1/150 rounded to float: resonance 20 gives Q 6.
    static float ResonanceToQ(float resonance);
    // The FlexiFilter type of a type parameter value: 0 low-pass, 1 band-pass, else high-pass.
    static int MapType(float typeValue);

    float GetCurrentCutoff() const { return currentCutoff; }
    float GetPreviousCutoff() const { return previousCutoff; }
    float GetTargetCutoff() const { return targetCutoff.load(std::memory_order_relaxed); }
    FlexiFilter const& GetLeft() const { return left; }
    FlexiFilter const& GetRight() const { return right; }

    Parameter enabled;
    Parameter cutoff;
    Parameter resonance;
    Parameter type;

protected:
    // Coefficients for currentCutoff, the resonance and the type, computed on the left channel
    // and copied to the right.
    void InitFilters();
    void FilterBoth(float* inL, float* inR, float* outL, float* outR, long n);
    // FilterTogether for one to four filters and at most kChunk frames.
    static void FilterFour(StereoFilter* const* filters, int lanes, float* const* left, float* const* right,
                           long n);

    float currentCutoff;
    float previousCutoff;
    int typeOverride = -1;
    FlexiFilter left;
    FlexiFilter right;
    // Written by ParameterUpdated on any thread, read by the next block.
    std::atomic<float> targetCutoff;
    std::atomic<bool> coefficientsDirty{false};
};

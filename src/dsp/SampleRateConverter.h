#pragma once

#include "dsp/StereoFilter.h"

// Changes the sample rate of a stereo block by a whole factor: up by zero-stuffing followed by
// the low-pass, down by the low-pass followed by decimation. No gain is applied: after
// up-sampling the level is 1/factor of the input's.
//
// The filter is forced on, low-pass, resonance 8 (Q 0.96). InitConversion sets the rates; until
// then Convert copies.
class SampleRateConverter : public StereoFilter
{
public:
    enum Mode : int
    {
        Copy = 0,
        Up = 1,
        Down = 2
    };

    SampleRateConverter();

    // Rates whose ratio is not whole use the truncated ratio; rates of 0 or below give Copy.
    // Up: the filter runs at `to`, cutoff from x upFactor. Down: the filter runs at `from`,
    // cutoff to x downFactor.
    void InitConversion(int from, int to, float upFactor, float downFactor);

    // Returns n x factor; the outputs must hold that many frames and must not overlap the inputs.
    long UpSample(float* inL, float* inR, float* outL, float* outR, long n);
    // Filters the INPUT in place (n frames), then takes every factor-th frame: returns n / factor.
    // The outputs may be the inputs.
    long DownSample(float* inL, float* inR, float* outL, float* outR, long n);
    // By mode: copy (returns n), UpSample or DownSample.
    long Convert(float* inL, float* inR, float* outL, float* outR, long n);

    int GetFromRate() const { return fromRate; }
    int GetToRate() const { return toRate; }
    Mode GetMode() const { return mode; }

private:
    int fromRate = 0;
    int toRate = 0;
    Mode mode = Copy;
};

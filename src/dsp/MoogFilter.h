#pragma once

// A four-stage low-pass in double precision with resonance feedback from the last stage, set
// up like FlexiFilter.
class MoogLP
{
public:
    // Only freq, sampleRate and resonance are used: f = freq / (sampleRate / 3) x 1.16,
    // feedback = (1 - 0.15 f^2) x resonance / 50.
    void InitFilter(int type, double freq, double sampleRate, double resonance, double gain, bool bandwidth);
    // in and out may be the same buffer; n <= 0 does nothing. The last argument is not used.
    void DoFilteringWithSoftClip(float* in, float* out, int n, float);

    double GetCutoffFactor() const { return f; }
    double GetFeedback() const { return fb; }

private:
    double f = 0.0;
    double fb = 0.0;
    double in1 = 0.0, in2 = 0.0, in3 = 0.0, in4 = 0.0;
    double out1 = 0.0, out2 = 0.0, out3 = 0.0, out4 = 0.0;
};

#include "dsp/MoogFilter.h"

namespace
{
// Keeps the decaying stages out of the denormal range in silence.
constexpr double kDenormalGuard = 1e-17;
} // namespace

void MoogLP::InitFilter(int, double freq, double sampleRate, double resonance, double, bool)
{
    f = static_cast<float>(freq / (sampleRate / 3.0)) * 1.16;
    fb = (1.0 - 0.15 * f * f) * (resonance / 50.0);
}

void MoogLP::DoFilteringWithSoftClip(float* in, float* out, int n, float)
{
    const double f4 = f * f * f * f;
    const double decay = 1.0 - f;
    for (int i = 0; i < n; ++i)
    {
        double x = static_cast<float>(in[i] - out4 * fb + kDenormalGuard);
        x = static_cast<float>(x * 0.35013 * f4);
        out1 = x + 0.3 * in1 + decay * out1;
        in1 = x;
        out2 = out1 + 0.3 * in2 + decay * out2;
        in2 = out1;
        out3 = out2 + 0.3 * in3 + decay * out3;
        in3 = out2;
        out4 = out3 + 0.3 * in4 + decay * out4;
        in4 = out3;
        out[i] = static_cast<float>(out4);
    }
}

#pragma once

#include "dsp/WaveTables.h"
#include "framework/Streams.h"
#include "framework/String.h"

// A custom one-wave slot in its stream form, as a waveform file holds it: 24 partials falling
// as 1/h^2, `length` samples a cycle over `levels` levels.
inline String CustomWaveText(long length = 4096, int levels = 128)
{
    MipOscWaveDef custom;
    custom.InitArray(length, levels);
    float amps[24];
    for (int h = 0; h < 24; ++h)
        amps[h] = 1.0f / static_cast<float>((h + 1) * (h + 1));
    custom.CreateWithIFFT(24, amps, nullptr);
    String text;
    StringWriter w;
    w.Open(&text);
    custom.Save(w, 1.0f);
    w.Close();
    return text;
}

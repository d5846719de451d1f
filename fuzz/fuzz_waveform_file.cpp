// Waveform files through the instrument's waveform loader into one wave slot of a layer. A
// refused file leaves the patch exactly as it was; the instrument plays clean audio after any.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "InstrumentHarness.h"
#include "dsp/WaveTables.h"
#include "framework/ParameterFile.h"
#include "framework/String.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    fuzz::InstrumentHarness& h = fuzz::InstrumentHarness::Get();
    Torvane& t = h.Instrument();
    h.Reset();
    std::vector<uint8_t> const before = h.State();

    PresetManager& waveforms = *t.GetWaveformPresetManager();
    String const path = waveforms.MakePresetPath("Fuzz", "Input");
    fuzz::WriteFile(static_cast<char const*>(path), data, size);

    int const layer = static_cast<int>(size % 5) - 1; // -1: the current layer
    int const slot = static_cast<int>((size / 5) % 4);
    ParameterFileReader reader;
    if (!waveforms.LoadStart("Fuzz", "Input", reader))
    {
        fuzz::Check(h.State() == before, "a refused waveform file changed the patch");
        h.PlayAndCheck("after a refused waveform file");
        return 0;
    }
    // Whether the stream is good: a one-wave table reads it on its own.
    ParameterFileReader probeReader;
    fuzz::Check(waveforms.LoadStart("Fuzz", "Input", probeReader), "a waveform file opens only once");
    MipOscWaveDef probe;
    bool const good = probe.Load(probeReader);

    VectorMipOscWaveDef* waves = t.LoadWaveform(layer, slot, reader);
    fuzz::Check(waves == &t.GetVoiceDef(layer)->waveDef, "LoadWaveform answers with other waves");
    if (!good)
        fuzz::Check(h.State() == before, "a refused waveform changed the patch");
    else
        fuzz::Check(waves->GetKind(slot) == probe.GetKind(), "the slot does not hold the loaded wave");
    h.PlayAndCheck("after a waveform file");
    return 0;
}

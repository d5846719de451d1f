// The MIDI-learn mappings file as the instrument reads it at start-up, then every controller
// moved while the instrument plays: loaded mappings must only ever set their parameters to
// values in range, and the audio must stay clean.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "InstrumentHarness.h"
#include "framework/Paths.h"
#include "framework/Streams.h"
#include "framework/String.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    fuzz::InstrumentHarness& h = fuzz::InstrumentHarness::Get();
    h.Reset();
    MidiLearnManager& learn = *h.Instrument().GetMidiLearnManager();

    std::string const path = std::string(GetDataPath()) + "/MidiLearnMappings.dat";
    fuzz::WriteFile(path, data, size);
    learn.DoAutoLoad();
    int const mapped = learn.NumMappings();

    // What was loaded saves and loads back to the same mappings.
    String saved;
    StringWriter w;
    w.Open(&saved);
    learn.Save(w);
    w.Close();
    StringReader r;
    r.Open(saved, static_cast<size_t>(saved.GetLength()));
    fuzz::Check(learn.Load(r), "saved mappings do not load");
    fuzz::Check(learn.NumMappings() == mapped, "saved mappings load to another count");

    // Every controller, at both ends and in the middle, while notes play.
    h.Midi(0x90, 60, 100, 0);
    h.Midi(0x90, 64, 100, 0);
    for (int value : {0, 127, 64})
    {
        for (int controller = 0; controller < 128; ++controller)
        {
            if (controller != 123) h.Midi(0xB0, controller, value, controller);
        }
        h.Render(256, "after mapped controllers");
    }
    h.Midi(0xB0, 123, 0, 0);
    h.Render(128, "after the mappings were played");

    // The next input starts without mappings.
    StringReader none;
    static char const kEmpty[8] = {0, 0, static_cast<char>(0x80), 0x3F, 0, 0, 0, 0};
    none.Open(kEmpty, sizeof kEmpty);
    learn.Load(none);
    return 0;
}

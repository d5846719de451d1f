// MIDI and host automation through the plug-in's VST calls while it renders: note handling,
// key modes, stealing, sustain, pitch bend and controllers, in blocks of many sizes.
//
// The input is a list of 4-byte events: status, data 1, data 2, control. The control byte's
// low nibble sets the event's frame offset (x 37, so some land beyond short blocks); its top
// bit renders a block after the event, of a size chosen by bits 4-6. Status 0xF9 is host
// automation instead: parameter data1 % 40 := data2 / 127.

#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "InstrumentHarness.h"

namespace
{
constexpr long kBlockSizes[8] = {1, 17, 64, 128, 333, 512, 1024, 8193};
constexpr long kMaxFramesPerInput = 12000;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    fuzz::InstrumentHarness& h = fuzz::InstrumentHarness::Get();
    h.Reset();
    AEffect* effect = h.Effect();
    long rendered = 0;
    for (size_t i = 0; i + 4 <= size && rendered < kMaxFramesPerInput; i += 4)
    {
        int const status = data[i];
        int const control = data[i + 3];
        if (status == 0xF9)
            effect->setParameter(effect, data[i + 1] % Torvane::kNumHostParameters,
                                 static_cast<float>(data[i + 2] & 0x7F) / 127.0f);
        else
            h.Midi(status, data[i + 1], data[i + 2], (control & 0x0F) * 37);
        if (control & 0x80)
        {
            long const frames = kBlockSizes[(control >> 4) & 7];
            h.Render(frames, "while playing MIDI");
            rendered += frames;
        }
    }
    h.Render(256, "after the MIDI");
    // Everything off: the notes must end and the output must stay clean.
    h.Midi(0xB0, 64, 0, 0);
    h.Midi(0xB0, 123, 0, 0);
    h.Render(1024, "after all notes off");
    return 0;
}

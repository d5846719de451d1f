#include "InstrumentHarness.h"

#include <cmath>
#include <string>

#include "FuzzSupport.h"
#include "support/engine/BusyPatch.h"

namespace fuzz
{

void MakeBusyPatch(Torvane& t, bool customWave)
{
    ::MakeBusyPatch(t);
    t.SetPatchName("Busy");
    t.SetPatchCategory("Fuzz");
    if (customWave)
    {
        float amps[32];
        for (int h = 0; h < 32; ++h)
            amps[h] = 1.0f / static_cast<float>((h + 1) * (h + 1));
        VoiceDef* def = t.GetVoiceDef(0);
        AudioAPI::Lock hold(t.GetMutex());
        def->waveDef.CreateWithIFFT(3, 32, amps, nullptr);
    }
}

InstrumentHarness& InstrumentHarness::Get()
{
    static InstrumentHarness harness;
    return harness;
}

InstrumentHarness::InstrumentHarness()
{
    ScratchFolder(); // $XDG_DATA_HOME first: the instrument makes its folders on construction
    SilenceMessages();
    instrument = std::make_unique<Torvane>(nullptr);
    Effect()->dispatcher(Effect(), effSetSampleRate, 0, 0, nullptr, 44100.0f);
    Effect()->dispatcher(Effect(), effMainsChanged, 0, 1, nullptr, 0.0f);
    MakeBusyPatch(*instrument, false);
    baseline = State();
    Check(!baseline.empty(), "the instrument gives no state");
    queued.reserve(kMaxEvents);
}

std::vector<uint8_t> InstrumentHarness::State()
{
    void* data = nullptr;
    intptr_t const size = Effect()->dispatcher(Effect(), effGetChunk, 0, 0, &data, 0.0f);
    if (data == nullptr || size <= 0) return {};
    auto const* bytes = static_cast<uint8_t const*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

intptr_t InstrumentHarness::SetState(uint8_t const* data, size_t size)
{
    // The host keeps its buffer; the plug-in gets a pointer to a copy it may not keep.
    std::vector<uint8_t> copy(data, data + size);
    return Effect()->dispatcher(Effect(), effSetChunk, 0, static_cast<intptr_t>(copy.size()),
                                copy.empty() ? nullptr : copy.data(), 0.0f);
}

void InstrumentHarness::Reset()
{
    queued.clear();
    if (State() != baseline)
    {
        Check(instrument->RestorePatchState(baseline.data(), static_cast<int>(baseline.size())),
              "the instrument refuses its own state");
    }
    AudioAPI::Lock hold(instrument->GetMutex());
    instrument->KillAllNotes();
}

void InstrumentHarness::Midi(int status, int data1, int data2, long offset)
{
    if (queued.size() >= kMaxEvents) return;
    VstMidiEvent e{};
    e.type = kVstMidiType;
    e.byteSize = static_cast<VstInt32>(sizeof e);
    e.deltaFrames = static_cast<VstInt32>(offset);
    e.midiData[0] = static_cast<char>(status);
    e.midiData[1] = static_cast<char>(data1);
    e.midiData[2] = static_cast<char>(data2);
    queued.push_back(e);
}

void InstrumentHarness::Render(long frames, char const* when)
{
    if (!queued.empty())
    {
        block.numEvents = static_cast<VstInt32>(queued.size());
        for (size_t i = 0; i < queued.size(); ++i)
            block.events[i] = reinterpret_cast<VstEvent*>(&queued[i]);
        Effect()->dispatcher(Effect(), effProcessEvents, 0, 0, reinterpret_cast<VstEvents*>(&block), 0.0f);
        queued.clear();
    }
    left.assign(static_cast<size_t>(frames), 0.0f);
    right.assign(static_cast<size_t>(frames), 0.0f);
    float* outputs[2] = {left.data(), right.data()};
    Effect()->processReplacing(Effect(), nullptr, outputs, static_cast<VstInt32>(frames));
    for (long i = 0; i < frames; ++i)
    {
        for (float v : {left[static_cast<size_t>(i)], right[static_cast<size_t>(i)]})
        {
            int const kind = std::fpclassify(v);
            if (kind == FP_NAN || kind == FP_INFINITE || kind == FP_SUBNORMAL)
            {
                std::string const text = std::string("output sample not finite or subnormal ") + when;
                Fail(text.c_str());
            }
        }
    }
}

void InstrumentHarness::PlayAndCheck(char const* when)
{
    Midi(0x90, 48, 100, 0);
    Midi(0x90, 55, 90, 7);
    Midi(0x90, 64, 80, 20);
    Midi(0xB0, 1, 90, 30);
    Render(128, when);
    Midi(0x90, 67, 110, 0);
    Midi(0x90, 71, 70, 1);
    Midi(0xE0, 0, 100, 5);
    Render(256, when);
    Midi(0x80, 48, 0, 0);
    Midi(0x80, 55, 0, 0);
    Midi(0x80, 64, 0, 3);
    Midi(0x80, 67, 0, 3);
    Midi(0x80, 71, 0, 3);
    Render(64, when);
    Render(512, when);
}

} // namespace fuzz

#include "vst/VstInstrumentBase.h"

#include <algorithm>
#include <cstring>

#include "vst/VstPluginLists.h"

VstInstrumentBase::VstInstrumentBase(audioMasterCallback audioMaster, long numParams, long inputPairs,
                                     long outputPairs, int uniqueID, char const* product, char const* vendor,
                                     char const* identity, char const* rootPath)
    : VstBase(audioMaster, numParams, inputPairs, outputPairs, true, uniqueID, product, vendor, identity,
              rootPath)
{
}

VstInstrumentBase::~VstInstrumentBase()
{
    RemoveVstInstrumentFromList(this);
}

VstInt32 VstInstrumentBase::processEvents(VstEvents* events)
{
    if (events == nullptr || events->numEvents <= 0) return 1;
    // The main thread may be loading a patch.
    AudioAPI::Lock hold(GetMutex());
    // The record declares two entries; the host's block holds numEvents of them.
    VstEvent* const* const list = events->events;
    for (VstInt32 i = 0; i < events->numEvents; ++i)
    {
        VstEvent const* event = list[i];
        if (event == nullptr || event->type != kVstMidiType) continue;
        auto const* midi = reinterpret_cast<VstMidiEvent const*>(event);
        int const status = static_cast<unsigned char>(midi->midiData[0]);
        int const channel = status & 0x0F;
        int const kind = status & 0xF0;
        int const data1 = midi->midiData[1] & 0x7F;
        int const data2 = midi->midiData[2] & 0x7F;
        long const offset = std::max<long>(0, midi->deltaFrames);
        int const count = numHeld.load(std::memory_order_relaxed);
        if (offset >= kMaxRenderFrames && count < kMaxHeldEvents)
        {
            held[count] = HeldEvent{channel, kind, data1, data2, offset};
            numHeld.store(count + 1, std::memory_order_release);
            continue;
        }
        // Nowhere left to hold it: it comes now, within the first piece.
        HandleMidiEvent(channel, kind, data1, data2, std::min<long>(offset, kMaxRenderFrames - 1));
    }
    return 1;
}

void VstInstrumentBase::BeginRenderPiece(long offset, long frames, bool lastPiece)
{
    if (numHeld.load(std::memory_order_acquire) == 0) return;
    AudioAPI::Lock hold(GetMutex());
    // The last piece of the block takes whatever is still held.
    int const count = numHeld.load(std::memory_order_relaxed);
    int kept = 0;
    for (int i = 0; i < count; ++i)
    {
        HeldEvent const e = held[i];
        if (!lastPiece && e.offset >= offset + frames)
        {
            held[kept++] = e;
            continue;
        }
        long const pieceOffset = std::clamp<long>(e.offset - offset, 0, std::max<long>(0, frames - 1));
        HandleMidiEvent(e.channel, e.status, e.data1, e.data2, pieceOffset);
    }
    numHeld.store(kept, std::memory_order_release);
}

VstInt32 VstInstrumentBase::canDo(char* text)
{
    if (text == nullptr) return -1;
    if (std::strcmp(text, "receiveVstEvents") == 0 || std::strcmp(text, "receiveVstMidiEvent") == 0) return 1;
    return -1;
}

void VstInstrumentBase::Render(float*, float*, float* outL, float* outR, long frames, int outputPair)
{
    Render(outL, outR, frames, outputPair);
}

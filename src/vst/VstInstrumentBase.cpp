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
        held.Take(*this, channel, kind, data1, data2, midi->deltaFrames);
    }
    return 1;
}

void VstInstrumentBase::BeginRenderPiece(long offset, long frames, bool lastPiece)
{
    held.DeliverForPiece(*this, GetMutex(), offset, frames, lastPiece);
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

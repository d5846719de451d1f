#include "au/MacAUInstrumentBase.h"

#include <algorithm>
#include <cmath>

#include "au/AUPluginLists.h"
#include "au/AUPluginSteps.h"

namespace
{

// A note number or velocity: the value truncated, when it is finite and lands in 0..127.
bool MidiByte(float value, int& out)
{
    if (!std::isfinite(value)) return false;
    float const whole = std::trunc(value);
    if (whole < 0.0f || whole > 127.0f) return false;
    out = static_cast<int>(whole);
    return true;
}

} // namespace

MacAUInstrumentBase::MacAUInstrumentBase(ComponentInstance instance, int numParams, char const* identity,
                                         char const* rootPath)
    : MusicDeviceBase(instance, 0, 1, 0, 0), PluginBase(numParams, identity, rootPath)
{
    BindInstanceLife(&Life());
    GlobalElement()->UseIndexedParameters(numParams);
    AddSampleRateListener(this);
}

MacAUInstrumentBase::MacAUInstrumentBase(ComponentInstance instance, long numParams, long, long, int,
                                         char const*, char const*, char const* identity, char const* rootPath)
    : MacAUInstrumentBase(instance, static_cast<int>(numParams), identity, rootPath)
{
}

MacAUInstrumentBase::~MacAUInstrumentBase()
{
    RemoveInstrumentFromList(this);
}

OSStatus MacAUInstrumentBase::Render(AudioUnitRenderActionFlags&, AudioTimeStamp const&, UInt32 frames)
{
    PollHostParameters(*GlobalElement(), *this, GetMutex());
    PushRateAndTempo(*this, *GetOutput(0), *this, *this);

    long const total = static_cast<long>(frames);
    long offset = 0;
    do
    {
        long const n = std::min<long>(total - offset, kMaxRenderFrames);
        held.DeliverForPiece(*this, GetMutex(), offset, n, offset + n >= total);
        _HandleNextBufferNotification();
        for (UInt32 e = 0; e < Outputs().GetNumberOfElements(); ++e)
        {
            AudioBufferList* list = GetOutput(e)->GetBufferList();
            if (list == nullptr || list->mNumberBuffers < 2) continue;
            auto* left = static_cast<float*>(list->mBuffers[0].mData) + offset;
            auto* right = static_cast<float*>(list->mBuffers[1].mData) + offset;
            std::fill_n(left, n, 0.0f);
            std::fill_n(right, n, 0.0f);
            CallGenericRender(nullptr, nullptr, left, right, n, static_cast<int>(e));
        }
        _HandlePostRenderNotification();
        offset += n;
    } while (offset < total);
    return noErr;
}

void MacAUInstrumentBase::Render(float*, float*, float* outL, float* outR, long frames, int output)
{
    Render(outL, outR, frames, output);
}

OSStatus MacAUInstrumentBase::GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id,
                                               AudioUnitParameterInfo& info)
{
    return DescribeParameter(*this, scope, id, info);
}

OSStatus MacAUInstrumentBase::SaveState(CFPropertyListRef* data)
{
    OSStatus const status = MusicDeviceBase::SaveState(data);
    if (status != noErr) return status;
    return AddPluginState(*this, kClassInfoStateKey, data);
}

OSStatus MacAUInstrumentBase::RestoreState(CFPropertyListRef data)
{
    OSStatus const status = MusicDeviceBase::RestoreState(data);
    if (status != noErr) return status;
    return RestorePluginStateFrom(*this, kClassInfoStateKey, data);
}

void MacAUInstrumentBase::GetUIComponentDescs(ComponentDescription* description)
{
    DescribeView(description, GetSubType(), GetManufacturer());
}

void MacAUInstrumentBase::SendMidi(int channel, int status, int data1, int data2, long offset)
{
    // The main thread may be loading a patch.
    AudioAPI::Lock hold(GetMutex());
    held.Take(*this, channel, status, data1, data2, offset);
}

OSStatus MacAUInstrumentBase::StartNote(MusicDeviceInstrumentID, MusicDeviceGroupID, NoteInstanceID*,
                                        UInt32 offset, MusicDeviceNoteParams const& params)
{
    int pitch = 0;
    int velocity = 0;
    if (!MidiByte(params.mPitch, pitch) || !MidiByte(params.mVelocity, velocity))
        return kAudioUnitErr_InvalidParameter;
    SendMidi(0, 0x90, pitch, velocity, static_cast<long>(offset));
    return noErr;
}

OSStatus MacAUInstrumentBase::StopNote(MusicDeviceGroupID, NoteInstanceID noteID, UInt32 offset)
{
    if (noteID > 127) return kAudioUnitErr_InvalidParameter;
    SendMidi(0, 0x80, static_cast<int>(noteID), 0, static_cast<long>(offset));
    return noErr;
}

OSStatus MacAUInstrumentBase::HandleControlChange(UInt8, UInt8 controller, UInt8 value, UInt32 offset)
{
    SendMidi(0, 0xB0, controller & 0x7F, value & 0x7F, static_cast<long>(offset));
    return noErr;
}

OSStatus MacAUInstrumentBase::HandlePitchWheel(UInt8 channel, UInt8 lsb, UInt8 msb, UInt32 offset)
{
    SendMidi(channel & 0x0F, 0xE0, lsb & 0x7F, msb & 0x7F, static_cast<long>(offset));
    return noErr;
}

OSStatus MacAUInstrumentBase::HandleAllNotesOff(UInt8 channel)
{
    SendMidi(channel & 0x0F, 0xB0, 123, 0, 0);
    return noErr;
}

void MacAUInstrumentBase::AutomatableParameterChangeNotify(int index, float value)
{
    AnnounceParameterChange(*this, index, value);
}

void MacAUInstrumentBase::PreDestructor()
{
    NotifyUnitClosing(GetComponentInstance());
}

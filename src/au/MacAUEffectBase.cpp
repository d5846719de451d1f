#include "au/MacAUEffectBase.h"

#include <algorithm>
#include <cstring>

#include "au/AUPluginLists.h"
#include "au/AUPluginSteps.h"

MacAUEffectBase::MacAUEffectBase(ComponentInstance instance, long numParams, char const* identity,
                                 char const* rootPath)
    : AUEffectBase(instance, true), PluginBase(static_cast<int>(numParams), identity, rootPath)
{
    BindInstanceLife(&Life());
    GlobalElement()->UseIndexedParameters(static_cast<int>(numParams));
    AddSampleRateListener(this);
    inputScratch.Init(kMaxRenderFrames);
}

MacAUEffectBase::MacAUEffectBase(ComponentInstance instance, long numParams, long, long, int, char const*,
                                 char const*, char const* identity, char const* rootPath)
    : MacAUEffectBase(instance, numParams, identity, rootPath)
{
}

MacAUEffectBase::~MacAUEffectBase()
{
    RemoveAudioUnitFromList(this);
}

OSStatus MacAUEffectBase::GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id,
                                           AudioUnitParameterInfo& info)
{
    return DescribeParameter(*this, scope, id, info);
}

OSStatus MacAUEffectBase::SaveState(CFPropertyListRef* data)
{
    OSStatus const status = AUEffectBase::SaveState(data);
    if (status != noErr) return status;
    return AddPluginState(*this, kClassInfoStateKey, data);
}

OSStatus MacAUEffectBase::RestoreState(CFPropertyListRef data)
{
    OSStatus const status = AUEffectBase::RestoreState(data);
    if (status != noErr) return status;
    return RestorePluginStateFrom(*this, kClassInfoStateKey, data);
}

void MacAUEffectBase::GetUIComponentDescs(ComponentDescription* description)
{
    DescribeView(description, GetSubType(), GetManufacturer());
}

void MacAUEffectBase::AutomatableParameterChangeNotify(int index, float value)
{
    AnnounceParameterChange(*this, index, value);
}

namespace
{
// Two buffers, each with room for `frames` floats.
bool StereoList(AudioBufferList const& list, UInt32 frames)
{
    if (list.mNumberBuffers != 2) return false;
    for (UInt32 c = 0; c < 2; ++c)
    {
        if (list.mBuffers[c].mData == nullptr || list.mBuffers[c].mDataByteSize < frames * sizeof(float))
            return false;
    }
    return true;
}
} // namespace

OSStatus MacAUEffectBase::ProcessBufferLists(AudioUnitRenderActionFlags&, AudioBufferList const& input,
                                             AudioBufferList& output, UInt32 frames)
{
    PollHostParameters(*GlobalElement(), *this, GetMutex());
    PushRateAndTempo(*this, *GetOutput(0), *this, *this);

    bool const writable = StereoList(output, frames);
    bool const stereoInput = StereoList(input, frames);
    long const total = static_cast<long>(frames);
    long offset = 0;
    do
    {
        long const n = std::min<long>(total - offset, kMaxRenderFrames);
        _HandleNextBufferNotification();
        if (writable)
        {
            auto* outL = static_cast<float*>(output.mBuffers[0].mData) + offset;
            auto* outR = static_cast<float*>(output.mBuffers[1].mData) + offset;
            if (stereoInput)
            {
                auto const* inL = static_cast<float const*>(input.mBuffers[0].mData) + offset;
                auto const* inR = static_cast<float const*>(input.mBuffers[1].mData) + offset;
                // The render adds into cleared outputs: in place, it reads a copy of the input.
                std::memcpy(inputScratch.left, inL, sizeof(float) * static_cast<std::size_t>(n));
                std::memcpy(inputScratch.right, inR, sizeof(float) * static_cast<std::size_t>(n));
                std::fill_n(outL, n, 0.0f);
                std::fill_n(outR, n, 0.0f);
                CallGenericRender(inputScratch.left, inputScratch.right, outL, outR, n, 0);
            }
            else
            {
                std::fill_n(outL, n, 0.0f);
                std::fill_n(outR, n, 0.0f);
            }
        }
        _HandlePostRenderNotification();
        offset += n;
    } while (offset < total);
    return noErr;
}

void MacAUEffectBase::PreDestructor()
{
    NotifyUnitClosing(GetComponentInstance());
}

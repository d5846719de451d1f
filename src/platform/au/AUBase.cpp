#include "platform/au/AUBase.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace
{

// Argument word `i` of a call as the type the selector defines for it.
template <class T> T Arg(ComponentParameters const* params, int i)
{
    std::intptr_t const word = params->params[i];
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<T>(word);
    else if constexpr (std::is_same_v<T, Float32>)
        return std::bit_cast<Float32>(static_cast<std::uint32_t>(word));
    else
        return static_cast<T>(word);
}

// Copies a property value of type T out to the caller's buffer.
template <class T> OSStatus PutValue(T const& value, void* data, UInt32* size)
{
    if (size == nullptr) return kAudioUnitErr_InvalidParameter;
    if (data == nullptr || *size < sizeof(T))
    {
        if (data != nullptr) return kAudioUnitErr_InvalidPropertyValue;
        *size = sizeof(T);
        return noErr;
    }
    std::memcpy(data, &value, sizeof(T));
    *size = sizeof(T);
    return noErr;
}

template <class T> bool GetValue(void const* data, UInt32 size, T& value)
{
    if (data == nullptr || size < sizeof(T)) return false;
    std::memcpy(&value, data, sizeof(T));
    return true;
}

CFNumberRef NewInt(SInt32 value)
{
    return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value);
}

void SetInt(CFMutableDictionaryRef dictionary, char const* key, SInt32 value)
{
    CFNumberRef const number = NewInt(value);
    CFDictionarySetValue(dictionary, CFStringMakeConstant(key), number);
    CFRelease(number);
}

bool HasInt(CFDictionaryRef dictionary, char const* key, SInt32 expected)
{
    auto const value = static_cast<CFTypeRef>(CFDictionaryGetValue(dictionary, CFStringMakeConstant(key)));
    if (value == nullptr || CFGetTypeID(value) != CFNumberGetTypeID()) return false;
    SInt32 n = 0;
    return CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &n) && n == expected;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// ComponentBase

OSStatus ComponentBase::ComponentEntryDispatch(ComponentParameters* params, ComponentBase* object)
{
    if (params == nullptr) return kAudioUnitErr_InvalidParameter;
    if (object == nullptr) return badComponentInstance;
    switch (params->what)
    {
    case kComponentCloseSelect:
    {
        // Counted here as well, for a close that did not come through a counting entry: the
        // last call out deletes the object, this one when it is the only one.
        InstanceLife::Call call(object->Life());
        if (!call || !object->Life().BeginClose()) return noErr;
        ComponentInstance const instance = object->GetComponentInstance();
        object->PreDestructor();
        SetComponentInstanceStorage(instance, nullptr);
        // Calls to the host in flight on other threads end before the host hears the close
        // returned; a close made from inside one of them does not wait for it.
        if (!object->Life().WaitForCallbacks(std::chrono::milliseconds(kCloseCallbackWaitMs)))
        {
            static std::atomic<bool> logged{false};
            if (!logged.exchange(true))
                std::fprintf(stderr,
                             "Torvane: a call to the host was still in flight when the host closed the "
                             "unit; the unit goes once it returns\n");
        }
        return noErr;
    }
    case kComponentVersionSelect:
        return object->Version();
    default:
        return badComponentSelector;
    }
}

// ---------------------------------------------------------------------------------------------
// AUElement and AUScope

void AUElement::UseIndexedParameters(int count)
{
    count = std::max(count, 0);
    parameters = std::make_unique<Slot[]>(static_cast<std::size_t>(count));
    numParameters = count;
}

float AUElement::GetParameter(AudioUnitParameterID id) const
{
    return HasParameter(id) ? parameters[id].value.load(std::memory_order_acquire) : 0.0f;
}

void AUElement::SetParameter(AudioUnitParameterID id, float value, bool fromHost)
{
    if (!HasParameter(id)) return;
    parameters[id].value.store(value, std::memory_order_release);
    if (fromHost) parameters[id].hostSet.store(true, std::memory_order_release);
}

bool AUElement::TakeHostChange(AudioUnitParameterID id, float& value)
{
    if (!HasParameter(id) || !parameters[id].hostSet.exchange(false, std::memory_order_acq_rel)) return false;
    value = parameters[id].value.load(std::memory_order_acquire);
    return true;
}

void AUElement::ReplaceParameter(AudioUnitParameterID id, float expected, float value)
{
    if (!HasParameter(id)) return;
    parameters[id].value.compare_exchange_strong(expected, value, std::memory_order_acq_rel);
}

void AUElement::AllocateBuffers(UInt32 frames)
{
    UInt32 const channels = std::max<UInt32>(format.mChannelsPerFrame, 1);
    own.assign(channels, std::vector<float>(frames, 0.0f));
    ownFrames = frames;
}

void AUElement::FreeBuffers()
{
    own.clear();
    ownFrames = 0;
}

float* AUElement::GetOwnBuffer(UInt32 channel)
{
    return channel < own.size() ? own[channel].data() : nullptr;
}

void AUScope::SetNumberOfElements(UInt32 count, AudioStreamBasicDescription const& format)
{
    while (elements.size() > count)
        elements.pop_back();
    while (elements.size() < count)
        elements.push_back(std::make_unique<AUElement>(format));
}

// ---------------------------------------------------------------------------------------------
// AUBase

AUBase::AUBase(ComponentInstance instance, UInt32 numInputs, UInt32 numOutputs, UInt32)
    : ComponentBase(instance)
{
    AudioStreamBasicDescription const format = CanonicalStereoFormat(kDefaultSampleRate);
    globals.SetNumberOfElements(1, format);
    inputs.SetNumberOfElements(numInputs, format);
    outputs.SetNumberOfElements(numOutputs, format);
}

AUScope* AUBase::GetScope(AudioUnitScope scope)
{
    switch (scope)
    {
    case kAudioUnitScope_Global:
        return &globals;
    case kAudioUnitScope_Input:
        return &inputs;
    case kAudioUnitScope_Output:
        return &outputs;
    default:
        return nullptr;
    }
}

OSStatus AUBase::DoInitialize()
{
    if (IsInitialized()) return noErr;
    for (UInt32 i = 0; i < outputs.GetNumberOfElements(); ++i)
        outputs.GetElement(i)->AllocateBuffers(maxFrames);
    OSStatus const status = Initialize();
    if (status != noErr)
    {
        for (UInt32 i = 0; i < outputs.GetNumberOfElements(); ++i)
            outputs.GetElement(i)->FreeBuffers();
        return status;
    }
    initialized.store(true, std::memory_order_release);
    return noErr;
}

void AUBase::DoUninitialize()
{
    if (!IsInitialized()) return;
    initialized.store(false, std::memory_order_release);
    Cleanup();
    for (UInt32 i = 0; i < outputs.GetNumberOfElements(); ++i)
        outputs.GetElement(i)->FreeBuffers();
}

bool AUBase::FormatSupported(AudioStreamBasicDescription const& f)
{
    AudioStreamBasicDescription const want = CanonicalStereoFormat(f.mSampleRate);
    return std::isfinite(f.mSampleRate) && f.mSampleRate >= 1.0 && f.mFormatID == want.mFormatID &&
           f.mFormatFlags == want.mFormatFlags && f.mBytesPerPacket == want.mBytesPerPacket &&
           f.mFramesPerPacket == want.mFramesPerPacket && f.mBytesPerFrame == want.mBytesPerFrame &&
           f.mChannelsPerFrame == want.mChannelsPerFrame && f.mBitsPerChannel == want.mBitsPerChannel;
}

OSStatus AUBase::DispatchGetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope,
                                         AudioUnitElement element, UInt32* size, Boolean* writable)
{
    UInt32 needed = 0;
    OSStatus const status = DispatchGetProperty(id, scope, element, nullptr, &needed);
    if (status != noErr) return status;
    if (size != nullptr) *size = needed;
    if (writable != nullptr)
    {
        switch (id)
        {
        case kAudioUnitProperty_ClassInfo:
        case kAudioUnitProperty_MaximumFramesPerSlice:
        case kAudioUnitProperty_HostCallbacks:
            *writable = true;
            break;
        case kAudioUnitProperty_SampleRate:
        case kAudioUnitProperty_StreamFormat:
            *writable = StreamFormatWritable(scope, element);
            break;
        default:
            *writable = false;
        }
    }
    return noErr;
}

OSStatus AUBase::DispatchGetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                     void* data, UInt32* size)
{
    if (size == nullptr) return kAudioUnitErr_InvalidParameter;
    switch (id)
    {
    case kAudioUnitProperty_ClassInfo:
    {
        if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        if (data == nullptr) return PutValue<CFPropertyListRef>(nullptr, nullptr, size);
        if (*size < sizeof(CFPropertyListRef)) return kAudioUnitErr_InvalidPropertyValue;
        CFPropertyListRef state = nullptr;
        OSStatus const status = SaveState(&state);
        if (status != noErr) return status;
        return PutValue(state, data, size);
    }
    case kAudioUnitProperty_SampleRate:
    case kAudioUnitProperty_StreamFormat:
    {
        AUScope* s = GetScope(scope);
        if (s == nullptr || scope == kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        AUElement* e = s->GetElement(element);
        if (e == nullptr) return kAudioUnitErr_InvalidElement;
        if (id == kAudioUnitProperty_SampleRate)
            return PutValue(e->GetStreamFormat().mSampleRate, data, size);
        return PutValue(e->GetStreamFormat(), data, size);
    }
    case kAudioUnitProperty_ParameterList:
    {
        AUScope* s = GetScope(scope);
        if (s == nullptr) return kAudioUnitErr_InvalidScope;
        UInt32 const count = scope == kAudioUnitScope_Global
                                 ? static_cast<UInt32>(GlobalElement()->GetNumberOfParameters())
                                 : 0;
        UInt32 const needed = count * static_cast<UInt32>(sizeof(AudioUnitParameterID));
        if (data == nullptr)
        {
            *size = needed;
            return noErr;
        }
        if (*size < needed) return kAudioUnitErr_InvalidPropertyValue;
        auto* ids = static_cast<AudioUnitParameterID*>(data);
        for (UInt32 i = 0; i < count; ++i)
            ids[i] = i;
        *size = needed;
        return noErr;
    }
    case kAudioUnitProperty_ParameterInfo:
    {
        if (data == nullptr) return PutValue(AudioUnitParameterInfo{}, nullptr, size);
        if (*size < sizeof(AudioUnitParameterInfo)) return kAudioUnitErr_InvalidPropertyValue;
        AudioUnitParameterInfo info;
        OSStatus const status = GetParameterInfo(scope, element, info);
        if (status != noErr) return status;
        return PutValue(info, data, size);
    }
    case kAudioUnitProperty_ElementCount:
    {
        AUScope* s = GetScope(scope);
        if (s == nullptr) return kAudioUnitErr_InvalidScope;
        return PutValue(s->GetNumberOfElements(), data, size);
    }
    case kAudioUnitProperty_MaximumFramesPerSlice:
        if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        return PutValue(maxFrames, data, size);
    case kAudioUnitProperty_GetUIComponentList:
    {
        int const count = GetNumCustomUIComponents();
        if (count <= 0) return kAudioUnitErr_InvalidProperty;
        UInt32 const needed = static_cast<UInt32>(count) * static_cast<UInt32>(sizeof(ComponentDescription));
        if (data == nullptr)
        {
            *size = needed;
            return noErr;
        }
        if (*size < needed) return kAudioUnitErr_InvalidPropertyValue;
        GetUIComponentDescs(static_cast<ComponentDescription*>(data));
        *size = needed;
        return noErr;
    }
    case kAudioUnitProperty_HostCallbacks:
    {
        if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        HostCallbackInfo info;
        info.hostUserData = hostUserData.load(std::memory_order_acquire);
        info.beatAndTempoProc = beatAndTempo.load(std::memory_order_acquire);
        return PutValue(info, data, size);
    }
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus AUBase::DispatchSetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                                     void const* data, UInt32 size)
{
    switch (id)
    {
    case kAudioUnitProperty_ClassInfo:
    {
        if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        CFPropertyListRef state = nullptr;
        if (!GetValue(data, size, state)) return kAudioUnitErr_InvalidPropertyValue;
        return RestoreState(state);
    }
    case kAudioUnitProperty_SampleRate:
    case kAudioUnitProperty_StreamFormat:
    {
        AUScope* s = GetScope(scope);
        if (s == nullptr || scope == kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        AUElement* e = s->GetElement(element);
        if (e == nullptr) return kAudioUnitErr_InvalidElement;
        if (!StreamFormatWritable(scope, element)) return kAudioUnitErr_PropertyNotWritable;
        AudioStreamBasicDescription format = e->GetStreamFormat();
        if (id == kAudioUnitProperty_SampleRate)
        {
            if (!GetValue(data, size, format.mSampleRate)) return kAudioUnitErr_InvalidPropertyValue;
        }
        else if (!GetValue(data, size, format))
            return kAudioUnitErr_InvalidPropertyValue;
        if (!FormatSupported(format)) return kAudioUnitErr_FormatNotSupported;
        e->SetStreamFormat(format);
        return noErr;
    }
    case kAudioUnitProperty_MaximumFramesPerSlice:
    {
        if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        UInt32 frames = 0;
        if (!GetValue(data, size, frames) || frames == 0 || frames > kLargestMaxFramesPerSlice)
            return kAudioUnitErr_InvalidPropertyValue;
        if (IsInitialized()) return kAudioUnitErr_Initialized;
        maxFrames = frames;
        return noErr;
    }
    case kAudioUnitProperty_HostCallbacks:
    {
        if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
        HostCallbackInfo info;
        // Shorter records from older hosts end before the callbacks they lack.
        if (data == nullptr || size < sizeof(void*)) return kAudioUnitErr_InvalidPropertyValue;
        std::memcpy(&info, data, std::min<std::size_t>(size, sizeof info));
        hostUserData.store(info.hostUserData, std::memory_order_release);
        beatAndTempo.store(info.beatAndTempoProc, std::memory_order_release);
        return noErr;
    }
    case kAudioUnitProperty_ParameterList:
    case kAudioUnitProperty_ParameterInfo:
    case kAudioUnitProperty_ElementCount:
    case kAudioUnitProperty_GetUIComponentList:
        return kAudioUnitErr_PropertyNotWritable;
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus AUBase::GetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                              Float32& value)
{
    AUScope* s = GetScope(scope);
    if (s == nullptr) return kAudioUnitErr_InvalidScope;
    AUElement* e = s->GetElement(element);
    if (e == nullptr) return kAudioUnitErr_InvalidElement;
    if (!e->HasParameter(id)) return kAudioUnitErr_InvalidParameter;
    value = e->GetParameter(id);
    return noErr;
}

OSStatus AUBase::SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                              Float32 value, UInt32)
{
    AUScope* s = GetScope(scope);
    if (s == nullptr) return kAudioUnitErr_InvalidScope;
    AUElement* e = s->GetElement(element);
    if (e == nullptr) return kAudioUnitErr_InvalidElement;
    if (!e->HasParameter(id) || !std::isfinite(value)) return kAudioUnitErr_InvalidParameter;
    e->SetParameter(id, std::clamp(value, 0.0f, 1.0f), true);
    return noErr;
}

OSStatus AUBase::DoRender(AudioUnitRenderActionFlags& flags, AudioTimeStamp const& time, UInt32 bus,
                          UInt32 frames, AudioBufferList* ioData)
{
    if (!IsInitialized()) return kAudioUnitErr_Uninitialized;
    if (frames > maxFrames) return kAudioUnitErr_TooManyFramesToProcess;
    AUElement* output = GetOutput(bus);
    if (output == nullptr) return kAudioUnitErr_InvalidElement;
    if (ioData == nullptr) return kAudioUnitErr_InvalidParameter;

    // The list must match the format before anything is written.
    UInt32 const channels = output->GetStreamFormat().mChannelsPerFrame;
    UInt32 const bytes = frames * static_cast<UInt32>(sizeof(float));
    if (ioData->mNumberBuffers != channels || channels > AudioBufferList::kMaxBuffers)
        return kAudioUnitErr_FormatNotSupported;
    for (UInt32 c = 0; c < channels; ++c)
    {
        AudioBuffer const& b = ioData->mBuffers[c];
        if (b.mNumberChannels != 1) return kAudioUnitErr_FormatNotSupported;
        if (b.mData != nullptr && b.mDataByteSize < bytes) return kAudioUnitErr_FormatNotSupported;
        if (b.mData == nullptr && output->GetOwnBuffer(c) == nullptr) return kAudioUnitErr_Uninitialized;
    }
    // Buffers the host left empty are the unit's own.
    for (UInt32 c = 0; c < channels; ++c)
    {
        AudioBuffer& b = ioData->mBuffers[c];
        if (b.mData == nullptr) b.mData = output->GetOwnBuffer(c);
        b.mDataByteSize = bytes;
    }
    if (frames == 0) return noErr;

    output->SetBufferList(ioData);
    OSStatus const status = Render(flags, time, frames);
    output->SetBufferList(nullptr);
    return status;
}

OSStatus AUBase::Render(AudioUnitRenderActionFlags&, AudioTimeStamp const&, UInt32)
{
    return noErr;
}

OSStatus AUBase::GetParameterInfo(AudioUnitScope, AudioUnitParameterID, AudioUnitParameterInfo&)
{
    return kAudioUnitErr_InvalidParameter;
}

OSStatus AUBase::SaveState(CFPropertyListRef* data)
{
    if (data == nullptr) return kAudioUnitErr_InvalidParameter;
    ComponentDescription description;
    if (GetComponentInstance() != nullptr) description = GetComponentInstance()->description;
    CFMutableDictionaryRef dictionary = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    SetInt(dictionary, "version", kClassInfoVersion);
    SetInt(dictionary, "type", static_cast<SInt32>(description.componentType));
    SetInt(dictionary, "subtype", static_cast<SInt32>(description.componentSubType));
    SetInt(dictionary, "manufacturer", static_cast<SInt32>(description.componentManufacturer));
    *data = dictionary;
    return noErr;
}

OSStatus AUBase::RestoreState(CFPropertyListRef data)
{
    if (data == nullptr || CFGetTypeID(data) != CFDictionaryGetTypeID())
        return kAudioUnitErr_InvalidPropertyValue;
    auto const dictionary = static_cast<CFDictionaryRef>(data);
    ComponentDescription description;
    if (GetComponentInstance() != nullptr) description = GetComponentInstance()->description;
    if (!HasInt(dictionary, "version", kClassInfoVersion) ||
        !HasInt(dictionary, "type", static_cast<SInt32>(description.componentType)) ||
        !HasInt(dictionary, "subtype", static_cast<SInt32>(description.componentSubType)) ||
        !HasInt(dictionary, "manufacturer", static_cast<SInt32>(description.componentManufacturer)))
        return kAudioUnitErr_InvalidPropertyValue;
    return noErr;
}

OSStatus AUBase::CallHostBeatAndTempo(Float64* currentBeat, Float64* currentTempo)
{
    HostCallback_GetBeatAndTempo const proc = beatAndTempo.load(std::memory_order_acquire);
    if (proc == nullptr) return kAudioUnitErr_InvalidProperty;
    return proc(hostUserData.load(std::memory_order_acquire), currentBeat, currentTempo);
}

OSStatus AUBase::ComponentEntryDispatch(ComponentParameters* params, AUBase* unit)
{
    if (params == nullptr) return kAudioUnitErr_InvalidParameter;
    if (unit == nullptr) return badComponentInstance;
    switch (params->what)
    {
    case kAudioUnitInitializeSelect:
        return unit->DoInitialize();
    case kAudioUnitUninitializeSelect:
        unit->DoUninitialize();
        return noErr;
    case kAudioUnitGetPropertyInfoSelect:
        return unit->DispatchGetPropertyInfo(Arg<UInt32>(params, 0), Arg<UInt32>(params, 1),
                                             Arg<UInt32>(params, 2), Arg<UInt32*>(params, 3),
                                             Arg<Boolean*>(params, 4));
    case kAudioUnitGetPropertySelect:
        return unit->DispatchGetProperty(Arg<UInt32>(params, 0), Arg<UInt32>(params, 1),
                                         Arg<UInt32>(params, 2), Arg<void*>(params, 3),
                                         Arg<UInt32*>(params, 4));
    case kAudioUnitSetPropertySelect:
        return unit->DispatchSetProperty(Arg<UInt32>(params, 0), Arg<UInt32>(params, 1),
                                         Arg<UInt32>(params, 2), Arg<void const*>(params, 3),
                                         Arg<UInt32>(params, 4));
    case kAudioUnitGetParameterSelect:
    {
        auto* value = Arg<Float32*>(params, 3);
        if (value == nullptr) return kAudioUnitErr_InvalidParameter;
        return unit->GetParameter(Arg<UInt32>(params, 0), Arg<UInt32>(params, 1), Arg<UInt32>(params, 2),
                                  *value);
    }
    case kAudioUnitSetParameterSelect:
        return unit->SetParameter(Arg<UInt32>(params, 0), Arg<UInt32>(params, 1), Arg<UInt32>(params, 2),
                                  Arg<Float32>(params, 3), Arg<UInt32>(params, 4));
    case kAudioUnitResetSelect:
        return unit->Reset(Arg<UInt32>(params, 0), Arg<UInt32>(params, 1));
    case kAudioUnitRenderSelect:
    {
        auto* flags = Arg<AudioUnitRenderActionFlags*>(params, 0);
        auto const* time = Arg<AudioTimeStamp const*>(params, 1);
        if (flags == nullptr || time == nullptr) return kAudioUnitErr_InvalidParameter;
        return unit->DoRender(*flags, *time, Arg<UInt32>(params, 2), Arg<UInt32>(params, 3),
                              Arg<AudioBufferList*>(params, 4));
    }
    default:
        return ComponentBase::ComponentEntryDispatch(params, unit);
    }
}

// ---------------------------------------------------------------------------------------------
// AUMIDIBase

OSStatus AUMIDIBase::MIDIEvent(UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset)
{
    UInt8 const s = static_cast<UInt8>(status & 0xFF);
    // Data bytes alone (running status) are not messages here.
    if (s < 0x80) return noErr;
    UInt8 const channel = s & 0x0F;
    UInt8 const d1 = static_cast<UInt8>(data1 & 0x7F);
    UInt8 const d2 = static_cast<UInt8>(data2 & 0x7F);
    switch (s & 0xF0)
    {
    case 0x90:
        if (d2 > 0) return HandleNoteOn(channel, d1, d2, offset);
        return HandleNoteOff(channel, d1, 0, offset);
    case 0x80:
        return HandleNoteOff(channel, d1, d2, offset);
    case 0xA0:
        return HandlePolyPressure(channel, d1, d2, offset);
    case 0xB0:
        switch (d1)
        {
        case 120:
            return HandleAllSoundOff(channel);
        case 121:
            return HandleResetAllControllers(channel);
        case 123:
            return HandleAllNotesOff(channel);
        default:
            return HandleControlChange(channel, d1, d2, offset);
        }
    case 0xC0:
        return HandleProgramChange(channel, d1);
    case 0xD0:
        return HandleChannelPressure(channel, d1, offset);
    case 0xE0:
        return HandlePitchWheel(channel, d1, d2, offset);
    default:
        return noErr;
    }
}

OSStatus AUMIDIBase::SysEx(UInt8 const* data, UInt32 length)
{
    if (data == nullptr && length > 0) return kAudioUnitErr_InvalidParameter;
    return HandleSysEx(data, length);
}

// ---------------------------------------------------------------------------------------------
// MusicDeviceBase

MusicDeviceBase::MusicDeviceBase(ComponentInstance instance, UInt32 numInputs, UInt32 numOutputs,
                                 UInt32 numGroups, UInt32)
    : AUBase(instance, numInputs, numOutputs, numGroups)
{
}

OSStatus MusicDeviceBase::StartNote(MusicDeviceInstrumentID, MusicDeviceGroupID, NoteInstanceID*, UInt32,
                                    MusicDeviceNoteParams const&)
{
    return noErr;
}

OSStatus MusicDeviceBase::StopNote(MusicDeviceGroupID, NoteInstanceID, UInt32)
{
    return noErr;
}

OSStatus MusicDeviceBase::HandleNoteOn(UInt8 channel, UInt8 note, UInt8 velocity, UInt32 offset)
{
    MusicDeviceNoteParams params;
    params.argCount = 2;
    params.mPitch = note;
    params.mVelocity = velocity;
    NoteInstanceID id = 0;
    return StartNote(0xFFFFFFFFu, channel, &id, offset, params);
}

OSStatus MusicDeviceBase::HandleNoteOff(UInt8 channel, UInt8 note, UInt8, UInt32 offset)
{
    return StopNote(channel, note, offset);
}

OSStatus MusicDeviceBase::ComponentEntryDispatch(ComponentParameters* params, MusicDeviceBase* device)
{
    if (params == nullptr) return kAudioUnitErr_InvalidParameter;
    if (device == nullptr) return badComponentInstance;
    switch (params->what)
    {
    case kMusicDeviceMIDIEventSelect:
        return device->MIDIEvent(Arg<UInt32>(params, 0), Arg<UInt32>(params, 1), Arg<UInt32>(params, 2),
                                 Arg<UInt32>(params, 3));
    case kMusicDeviceSysExSelect:
        return device->SysEx(Arg<UInt8 const*>(params, 0), Arg<UInt32>(params, 1));
    case kMusicDeviceStartNoteSelect:
    {
        auto const* note = Arg<MusicDeviceNoteParams const*>(params, 4);
        if (note == nullptr) return kAudioUnitErr_InvalidParameter;
        return device->StartNote(Arg<UInt32>(params, 0), Arg<UInt32>(params, 1),
                                 Arg<NoteInstanceID*>(params, 2), Arg<UInt32>(params, 3), *note);
    }
    case kMusicDeviceStopNoteSelect:
        return device->StopNote(Arg<UInt32>(params, 0), Arg<UInt32>(params, 1), Arg<UInt32>(params, 2));
    default:
        return AUBase::ComponentEntryDispatch(params, device);
    }
}

// ---------------------------------------------------------------------------------------------
// AUEffectBase

AUEffectBase::AUEffectBase(ComponentInstance instance, bool processesInPlace)
    : AUBase(instance, 1, 1), inPlace(processesInPlace)
{
}

OSStatus AUEffectBase::Initialize()
{
    kernels.clear();
    UInt32 const channels = GetOutput(0)->GetStreamFormat().mChannelsPerFrame;
    for (UInt32 c = 0; c < channels; ++c)
        kernels.emplace_back(NewKernel());
    return noErr;
}

void AUEffectBase::Cleanup()
{
    kernels.clear();
}

OSStatus AUEffectBase::Reset(AudioUnitScope, AudioUnitElement)
{
    for (auto& kernel : kernels)
    {
        if (kernel) kernel->Reset();
    }
    return noErr;
}

OSStatus AUEffectBase::Render(AudioUnitRenderActionFlags& flags, AudioTimeStamp const&, UInt32 frames)
{
    AudioBufferList* list = GetOutput(0)->GetBufferList();
    if (list == nullptr) return kAudioUnitErr_InvalidParameter;
    return ProcessBufferLists(flags, *list, *list, frames);
}

OSStatus AUEffectBase::ProcessBufferLists(AudioUnitRenderActionFlags&, AudioBufferList const& input,
                                          AudioBufferList& output, UInt32 frames)
{
    UInt32 const channels =
        std::min({input.mNumberBuffers, output.mNumberBuffers, AudioBufferList::kMaxBuffers});
    for (UInt32 c = 0; c < channels; ++c)
    {
        auto const* source = static_cast<Float32 const*>(input.mBuffers[c].mData);
        auto* destination = static_cast<Float32*>(output.mBuffers[c].mData);
        if (source == nullptr || destination == nullptr) continue;
        AUKernelBase* kernel = c < kernels.size() ? kernels[c].get() : nullptr;
        bool silence = false;
        if (kernel != nullptr)
            kernel->Process(source, destination, frames, 1, silence);
        else if (source != destination)
            std::memmove(destination, source, frames * sizeof(Float32));
    }
    return noErr;
}

#include "au/AUPluginSteps.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <optional>

#include "framework/String.h"

void PollHostParameters(AUElement& element, AutomatableParameterServer& server, AudioAPI::Mutex& mutex)
{
    std::optional<AudioAPI::Lock> hold;
    int const count = std::min(server.GetNumAutomatableParameters(), element.GetNumberOfParameters());
    for (int i = 0; i < count; ++i)
    {
        auto const id = static_cast<AudioUnitParameterID>(i);
        float value = 0.0f;
        if (!element.TakeHostChange(id, value)) continue;
        if (!hold) hold.emplace(mutex);
        if (value != server.GetAutomatableParameterValue(i)) server.SetAutomatableParameterValue(i, value);
        element.ReplaceParameter(id, value, server.GetAutomatableParameterValue(i));
    }
}

void PushRateAndTempo(AUBase& unit, AUElement const& output, SampleRateSource& rates, TempoSource& tempos)
{
    double const rate = output.GetStreamFormat().mSampleRate;
    if (std::isfinite(rate) && rate >= 1.0)
        rates.SetSourceSampleRate(static_cast<float>(static_cast<long>(rate)));

    if (!unit.HasBeatAndTempoCallback()) return;
    Float64 tempo = 0.0;
    if (unit.CallHostBeatAndTempo(nullptr, &tempo) != noErr) return;
    if (std::isfinite(tempo) && tempo > 0.0) tempos.SetSourceTempo(static_cast<float>(tempo));
}

namespace
{

// Copies UTF-8 text into a field of `size` bytes, cut at a character boundary and terminated.
void CopyCutUTF8(char const* text, char* field, std::size_t size)
{
    std::size_t const length = std::strlen(text);
    std::size_t n = std::min(length, size - 1);
    while (n > 0 && n < length && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(field, text, n);
    field[n] = '\0';
}

} // namespace

OSStatus DescribeParameter(AutomatableParameterServer& server, AudioUnitScope scope, AudioUnitParameterID id,
                           AudioUnitParameterInfo& info)
{
    if (scope != kAudioUnitScope_Global || id >= static_cast<UInt32>(server.GetNumAutomatableParameters()))
        return kAudioUnitErr_InvalidParameter;
    int const index = static_cast<int>(id);
    info = AudioUnitParameterInfo{};
    String name = server.GetAutomatableParameterName(index);
    info.cfNameString = name.GetCFStringRef();
    info.flags = kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable;
    if (info.cfNameString != nullptr)
    {
        info.flags |= kAudioUnitParameterFlag_HasCFNameString | kAudioUnitParameterFlag_CFNameRelease;
        CopyCutUTF8(CFStringGetUTF8Text(info.cfNameString), info.name, sizeof info.name);
    }
    else
        CopyCutUTF8(name, info.name, sizeof info.name);
    info.unit = kAudioUnitParameterUnit_LinearGain;
    info.minValue = 0.0f;
    info.maxValue = 1.0f;
    info.defaultValue = server.GetAutomatableParameterValue(index);
    return noErr;
}

void AnnounceParameterChange(AUBase& unit, int index, float value)
{
    if (index < 0) return;
    unit.GlobalElement()->SetParameter(static_cast<AudioUnitParameterID>(index), value);
    AudioUnitParameter parameter;
    parameter.mAudioUnit = unit.GetComponentInstance();
    parameter.mParameterID = static_cast<AudioUnitParameterID>(index);
    parameter.mScope = kAudioUnitScope_Global;
    parameter.mElement = 0;
    // A call to the host: none starts once the unit is closing.
    InstanceLife::Callback callback(unit.Life());
    if (callback) AUParameterListenerNotify(nullptr, nullptr, &parameter);
}

OSStatus AddPluginState(PluginState& plugin, char const* key, CFPropertyListRef* data)
{
    int size = 0;
    void const* bytes = plugin.SavePluginState(size);
    if (bytes == nullptr || size <= 0)
    {
        CFRelease(*data);
        *data = nullptr;
        return -1;
    }
    CFDataRef block = CFDataCreate(kCFAllocatorDefault, static_cast<std::uint8_t const*>(bytes), size);
    CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(static_cast<CFDictionaryRef>(*data)),
                         CFStringMakeConstant(key), block);
    CFRelease(block);
    return noErr;
}

OSStatus RestorePluginStateFrom(PluginState& plugin, char const* key, CFPropertyListRef data)
{
    auto const block = CFDictionaryGetValue(static_cast<CFDictionaryRef>(data), CFStringMakeConstant(key));
    if (block == nullptr || CFGetTypeID(block) != CFDataGetTypeID())
        return kAudioUnitErr_InvalidPropertyValue;
    auto const bytes = static_cast<CFDataRef>(block);
    CFIndex const length = CFDataGetLength(bytes);
    if (length == 0) return noErr;
    if (length > INT_MAX) return kAudioUnitErr_InvalidPropertyValue;
    void* state = const_cast<std::uint8_t*>(CFDataGetBytePtr(bytes));
    if (!plugin.RestorePluginState(state, static_cast<int>(length)))
        return kAudioUnitErr_InvalidPropertyValue;
    return noErr;
}

void DescribeView(ComponentDescription* description, std::uint32_t subType, std::uint32_t manufacturer)
{
    if (description == nullptr) return;
    description->componentType = ComponentCode("auvw");
    description->componentSubType = subType;
    description->componentManufacturer = manufacturer;
    description->componentFlags = 0;
    description->componentFlagsMask = 0;
}

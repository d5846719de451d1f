#pragma once

// Our own Component Manager layer, 64-bit. A host loads a component library, makes one
// ComponentInstanceRecord per instance it opens and calls the component's entry with a
// ComponentParameters record for every call: `what` is the selector (AUSelectors.h) and the
// arguments follow in `params`, one pointer-sized word each, in the order of the call's
// signature (floats are passed as their 32-bit pattern). The component keeps its object in the
// record's storage.

#include <cstdint>

#include "platform/au/AudioTypes.h"

using OSStatus = std::int32_t;
using ComponentResult = OSStatus;

// Status codes.
inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus kAudioUnitErr_InvalidParameter = -10878;
inline constexpr OSStatus kAudioUnitErr_InvalidPropertyValue = -10851;
inline constexpr OSStatus memFullErr = -108;
inline constexpr OSStatus kAudioUnitErr_Uninitialized = -10867;
inline constexpr OSStatus kAudioUnitErr_FormatNotSupported = -10868;
inline constexpr OSStatus kAudioUnitErr_TooManyFramesToProcess = -10874;
inline constexpr OSStatus kAudioUnitErr_InvalidProperty = -10879;
inline constexpr OSStatus kAudioUnitErr_InvalidScope = -10866;
inline constexpr OSStatus kAudioUnitErr_InvalidElement = -10877;
inline constexpr OSStatus kAudioUnitErr_PropertyNotWritable = -10865;
inline constexpr OSStatus kAudioUnitErr_Initialized = -10849;
inline constexpr OSStatus badComponentInstance = static_cast<OSStatus>(0x80008001u);
inline constexpr OSStatus badComponentSelector = static_cast<OSStatus>(0x80008002u);

struct ComponentDescription
{
    std::uint32_t componentType = 0;
    std::uint32_t componentSubType = 0;
    std::uint32_t componentManufacturer = 0;
    std::uint32_t componentFlags = 0;
    std::uint32_t componentFlagsMask = 0;
};

// A four-character code, first character in the most significant byte.
constexpr std::uint32_t ComponentCode(char const (&code)[5])
{
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

struct ComponentParameters
{
    static constexpr int kMaxWords = 8;
    std::uint8_t flags = 0;
    std::uint8_t paramSize = 0; // bytes of arguments in params
    std::int16_t what = 0;
    std::intptr_t params[kMaxWords] = {};
};

struct ComponentInstanceRecord;
using ComponentInstance = ComponentInstanceRecord*;
using AudioUnit = ComponentInstance;

// One parameter of one instance, as parameter listeners are told of it.
struct AudioUnitParameter
{
    AudioUnit mAudioUnit = nullptr;
    AudioUnitParameterID mParameterID = 0;
    AudioUnitScope mScope = 0;
    AudioUnitElement mElement = 0;
};

using ComponentEntryPoint = OSStatus (*)(ComponentParameters* params, void* storage);
// Called for every parameter change a unit announces; `context` is the record's listener
// context.
using ParameterListenerHook = void (*)(void* context, AudioUnitParameter const& parameter);

// Made and owned by the host, one per open instance.
struct ComponentInstanceRecord
{
    ComponentEntryPoint entry = nullptr;
    ComponentDescription description; // as registered
    void* storage = nullptr;          // the component's object
    ParameterListenerHook parameterListener = nullptr;
    void* listenerContext = nullptr;
};

inline void SetComponentInstanceStorage(ComponentInstance instance, void* storage)
{
    if (instance != nullptr) instance->storage = storage;
}

inline void* GetComponentInstanceStorage(ComponentInstance instance)
{
    return instance != nullptr ? instance->storage : nullptr;
}

// Tells the instance's parameter listener (if the host installed one) of a change. The
// sending listener and the object are not used. Always 0.
OSStatus AUParameterListenerNotify(void* sendingListener, void* object, AudioUnitParameter const* parameter);

#pragma once

// The host side of component calls: each function packs its arguments into a
// ComponentParameters record, in the order AUSelectors.h gives, and calls the instance's entry
// with the instance's storage.

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "platform/au/AUSelectors.h"
#include "platform/au/AudioTypes.h"
#include "platform/au/CarbonView.h"
#include "platform/au/ComponentManager.h"

namespace aucall
{

template <class T> std::intptr_t Word(T value)
{
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<std::intptr_t>(value);
    else if constexpr (std::is_same_v<T, float>)
        return static_cast<std::intptr_t>(std::bit_cast<std::uint32_t>(value));
    else
        return static_cast<std::intptr_t>(value);
}

inline OSStatus Call(ComponentInstance instance, std::int16_t what,
                     std::initializer_list<std::intptr_t> words)
{
    if (instance == nullptr || instance->entry == nullptr) return badComponentInstance;
    ComponentParameters params;
    params.what = what;
    int i = 0;
    for (std::intptr_t w : words)
        params.params[i++] = w;
    params.paramSize = static_cast<std::uint8_t>(i * static_cast<int>(sizeof(std::intptr_t)));
    return instance->entry(&params, instance->storage);
}

} // namespace aucall

// Opens the instance: the entry receives the record itself as its one argument.
inline OSStatus OpenAComponent(ComponentInstance instance)
{
    return aucall::Call(instance, kComponentOpenSelect, {aucall::Word(instance)});
}
inline OSStatus CloseComponent(ComponentInstance instance)
{
    return aucall::Call(instance, kComponentCloseSelect, {});
}
inline OSStatus GetComponentVersion(ComponentInstance instance)
{
    return aucall::Call(instance, kComponentVersionSelect, {});
}
inline OSStatus AudioUnitInitialize(AudioUnit unit)
{
    return aucall::Call(unit, kAudioUnitInitializeSelect, {});
}
inline OSStatus AudioUnitUninitialize(AudioUnit unit)
{
    return aucall::Call(unit, kAudioUnitUninitializeSelect, {});
}
inline OSStatus AudioUnitGetPropertyInfo(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                                         AudioUnitElement element, UInt32* size, Boolean* writable)
{
    using aucall::Word;
    return aucall::Call(unit, kAudioUnitGetPropertyInfoSelect,
                        {Word(id), Word(scope), Word(element), Word(size), Word(writable)});
}
inline OSStatus AudioUnitGetProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                                     AudioUnitElement element, void* data, UInt32* size)
{
    using aucall::Word;
    return aucall::Call(unit, kAudioUnitGetPropertySelect,
                        {Word(id), Word(scope), Word(element), Word(data), Word(size)});
}
inline OSStatus AudioUnitSetProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                                     AudioUnitElement element, void const* data, UInt32 size)
{
    using aucall::Word;
    return aucall::Call(unit, kAudioUnitSetPropertySelect,
                        {Word(id), Word(scope), Word(element), Word(data), Word(size)});
}
inline OSStatus AudioUnitGetParameter(AudioUnit unit, AudioUnitParameterID id, AudioUnitScope scope,
                                      AudioUnitElement element, Float32* value)
{
    using aucall::Word;
    return aucall::Call(unit, kAudioUnitGetParameterSelect,
                        {Word(id), Word(scope), Word(element), Word(value)});
}
inline OSStatus AudioUnitSetParameter(AudioUnit unit, AudioUnitParameterID id, AudioUnitScope scope,
                                      AudioUnitElement element, Float32 value, UInt32 bufferOffset)
{
    using aucall::Word;
    return aucall::Call(unit, kAudioUnitSetParameterSelect,
                        {Word(id), Word(scope), Word(element), Word(value), Word(bufferOffset)});
}
inline OSStatus AudioUnitReset(AudioUnit unit, AudioUnitScope scope, AudioUnitElement element)
{
    using aucall::Word;
    return aucall::Call(unit, kAudioUnitResetSelect, {Word(scope), Word(element)});
}
inline OSStatus AudioUnitRender(AudioUnit unit, AudioUnitRenderActionFlags* flags, AudioTimeStamp const* time,
                                UInt32 bus, UInt32 frames, AudioBufferList* data)
{
    using aucall::Word;
    return aucall::Call(unit, kAudioUnitRenderSelect,
                        {Word(flags), Word(time), Word(bus), Word(frames), Word(data)});
}
inline OSStatus MusicDeviceMIDIEvent(AudioUnit unit, UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset)
{
    using aucall::Word;
    return aucall::Call(unit, kMusicDeviceMIDIEventSelect,
                        {Word(status), Word(data1), Word(data2), Word(offset)});
}
inline OSStatus MusicDeviceSysEx(AudioUnit unit, UInt8 const* data, UInt32 length)
{
    using aucall::Word;
    return aucall::Call(unit, kMusicDeviceSysExSelect, {Word(data), Word(length)});
}
inline OSStatus MusicDeviceStartNote(AudioUnit unit, MusicDeviceInstrumentID instrument,
                                     MusicDeviceGroupID group, NoteInstanceID* id, UInt32 offset,
                                     MusicDeviceNoteParams const* params)
{
    using aucall::Word;
    return aucall::Call(unit, kMusicDeviceStartNoteSelect,
                        {Word(instrument), Word(group), Word(id), Word(offset), Word(params)});
}
inline OSStatus MusicDeviceStopNote(AudioUnit unit, MusicDeviceGroupID group, NoteInstanceID id,
                                    UInt32 offset)
{
    using aucall::Word;
    return aucall::Call(unit, kMusicDeviceStopNoteSelect, {Word(group), Word(id), Word(offset)});
}

// The view component's calls (platform/au/CarbonView.h).
inline OSStatus AudioUnitCarbonViewCreate(ComponentInstance view, AudioUnit unit, HostWindowRef window,
                                          PaneRef parent, Float32Point const* location,
                                          Float32Point const* size, PaneRef* outPane)
{
    using aucall::Word;
    return aucall::Call(view, kAudioUnitCarbonViewCreateSelect,
                        {Word(unit), Word(window), Word(parent), Word(location), Word(size), Word(outPane)});
}
inline OSStatus AudioUnitCarbonViewIdle(ComponentInstance view)
{
    return aucall::Call(view, kAudioUnitCarbonViewIdleSelect, {});
}

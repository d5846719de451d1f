#pragma once

// The selectors of component calls (ComponentParameters::what) and the argument words each
// takes, in order.
#include <cstdint>

enum : std::int16_t
{
    // [0] ComponentInstance
    kComponentOpenSelect = -1,
    // none
    kComponentCloseSelect = -2,
    // none; answers the version
    kComponentVersionSelect = -4,

    // none
    kAudioUnitInitializeSelect = 1,
    kAudioUnitUninitializeSelect = 2,
    // [0] property id, [1] scope, [2] element, [3] UInt32* size, [4] Boolean* writable
    kAudioUnitGetPropertyInfoSelect = 3,
    // [0] property id, [1] scope, [2] element, [3] void* data, [4] UInt32* size (in: room)
    kAudioUnitGetPropertySelect = 4,
    // [0] property id, [1] scope, [2] element, [3] void const* data, [4] UInt32 size
    kAudioUnitSetPropertySelect = 5,
    // [0] parameter id, [1] scope, [2] element, [3] Float32* value
    kAudioUnitGetParameterSelect = 6,
    // [0] parameter id, [1] scope, [2] element, [3] Float32 bits, [4] UInt32 buffer offset
    kAudioUnitSetParameterSelect = 7,
    // [0] scope, [1] element
    kAudioUnitResetSelect = 9,
    // [0] AudioUnitRenderActionFlags*, [1] AudioTimeStamp const*, [2] bus, [3] frames,
    // [4] AudioBufferList*
    kAudioUnitRenderSelect = 14,

    // [0] status, [1] data1, [2] data2, [3] offset
    kMusicDeviceMIDIEventSelect = 0x0101,
    // [0] UInt8 const* data, [1] UInt32 length
    kMusicDeviceSysExSelect = 0x0102,
    // [0] instrument, [1] group, [2] NoteInstanceID*, [3] offset, [4] MusicDeviceNoteParams const*
    kMusicDeviceStartNoteSelect = 0x0105,
    // [0] group, [1] note instance id, [2] offset
    kMusicDeviceStopNoteSelect = 0x0106,
};

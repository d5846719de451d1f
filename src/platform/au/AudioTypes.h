#pragma once

// The Audio Unit value types: stream formats, buffer lists, time stamps, parameter
// information, note parameters and the property identifiers this layer knows.

#include <cstdint>

#include "platform/au/CoreFoundation.h"

using UInt8 = std::uint8_t;
using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using UInt64 = std::uint64_t;
using Float32 = float;
using Float64 = double;

using AudioUnitPropertyID = UInt32;
using AudioUnitScope = UInt32;
using AudioUnitElement = UInt32;
using AudioUnitParameterID = UInt32;
using AudioUnitParameterValue = Float32;
using AudioUnitRenderActionFlags = UInt32;
using MusicDeviceInstrumentID = UInt32;
using MusicDeviceGroupID = UInt32;
using NoteInstanceID = UInt32;

enum : AudioUnitScope
{
    kAudioUnitScope_Global = 0,
    kAudioUnitScope_Input = 1,
    kAudioUnitScope_Output = 2,
};

enum : AudioUnitPropertyID
{
    kAudioUnitProperty_ClassInfo = 0,
    kAudioUnitProperty_SampleRate = 2,
    kAudioUnitProperty_ParameterList = 3,
    kAudioUnitProperty_ParameterInfo = 4,
    kAudioUnitProperty_StreamFormat = 8,
    kAudioUnitProperty_ElementCount = 11,
    kAudioUnitProperty_MaximumFramesPerSlice = 14,
    kAudioUnitProperty_GetUIComponentList = 18,
    kAudioUnitProperty_HostCallbacks = 27,
};

// Linear PCM.
inline constexpr UInt32 kAudioFormatLinearPCM = 0x6C70636D; // 'lpcm'
enum : UInt32
{
    kAudioFormatFlagIsFloat = 1u << 0,
    kAudioFormatFlagIsPacked = 1u << 3,
    kAudioFormatFlagIsNonInterleaved = 1u << 5,
};

struct AudioStreamBasicDescription
{
    Float64 mSampleRate = 0.0;
    UInt32 mFormatID = 0;
    UInt32 mFormatFlags = 0;
    UInt32 mBytesPerPacket = 0;
    UInt32 mFramesPerPacket = 0;
    UInt32 mBytesPerFrame = 0;
    UInt32 mChannelsPerFrame = 0;
    UInt32 mBitsPerChannel = 0;
    UInt32 mReserved = 0;
};

// The one format this layer renders: two channels of non-interleaved 32-bit floats.
inline AudioStreamBasicDescription CanonicalStereoFormat(Float64 sampleRate)
{
    AudioStreamBasicDescription f;
    f.mSampleRate = sampleRate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    f.mBytesPerPacket = 4;
    f.mFramesPerPacket = 1;
    f.mBytesPerFrame = 4;
    f.mChannelsPerFrame = 2;
    f.mBitsPerChannel = 32;
    return f;
}

struct AudioBuffer
{
    UInt32 mNumberChannels = 0;
    UInt32 mDataByteSize = 0;
    void* mData = nullptr;
};

// Up to kMaxBuffers buffers; mNumberBuffers says how many are in use.
struct AudioBufferList
{
    static constexpr UInt32 kMaxBuffers = 8;
    UInt32 mNumberBuffers = 0;
    AudioBuffer mBuffers[kMaxBuffers];
};

struct AudioTimeStamp
{
    Float64 mSampleTime = 0.0;
    UInt64 mHostTime = 0;
    Float64 mRateScalar = 0.0;
    UInt64 mWordClockTime = 0;
    UInt32 mFlags = 0;
    UInt32 mReserved = 0;
};

enum : UInt32
{
    kAudioUnitParameterUnit_Generic = 0,
    kAudioUnitParameterUnit_LinearGain = 14,
};

enum : UInt32
{
    kAudioUnitParameterFlag_CFNameRelease = 1u << 4,
    kAudioUnitParameterFlag_HasCFNameString = 1u << 27,
    kAudioUnitParameterFlag_IsReadable = 1u << 30,
    kAudioUnitParameterFlag_IsWritable = 1u << 31,
};

struct AudioUnitParameterInfo
{
    char name[52] = {};
    CFStringRef unitName = nullptr;
    UInt32 clumpID = 0;
    CFStringRef cfNameString = nullptr; // released by the host when the name-release flag is set
    UInt32 unit = 0;
    AudioUnitParameterValue minValue = 0.0f;
    AudioUnitParameterValue maxValue = 0.0f;
    AudioUnitParameterValue defaultValue = 0.0f;
    UInt32 flags = 0;
};

struct MusicDeviceNoteParams
{
    UInt32 argCount = 2;
    Float32 mPitch = 0.0f;
    Float32 mVelocity = 0.0f;
};

// The host's beat-and-tempo callback: either pointer may be null.
using HostCallback_GetBeatAndTempo = SInt32 (*)(void* userData, Float64* currentBeat, Float64* currentTempo);

struct HostCallbackInfo
{
    void* hostUserData = nullptr;
    HostCallback_GetBeatAndTempo beatAndTempoProc = nullptr;
};

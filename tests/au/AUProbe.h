#pragma once

// A probe instrument on the Audio Unit instrument base, built into the test binary: four
// parameters, a render that writes a constant, and records of the MIDI, notifications and
// state calls it receives. Tests open it through its own component entry with the headless host.

#include <atomic>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "au/AUComponentEntry.h"
#include "au/MacAUInstrumentBase.h"
#include "authost/AUHost.h"
#include "framework/Parameter.h"

struct ProbeMidi
{
    int channel;
    int status;
    int data1;
    int data2;
    long offset;
    bool operator==(ProbeMidi const&) const = default;
};

enum class ProbeFailure
{
    None,
    BadAlloc,
    Status,
    Text,
};

class ProbeInstrument : public MacAUInstrumentBase
{
public:
    static constexpr int kNumParams = 4;
    static constexpr float kLevel = 0.25f;
    // Where the next instance fails (set by a test before opening, reset after).
    static inline ProbeFailure failInConstructor = ProbeFailure::None;
    static inline ProbeFailure failInPostConstructor = ProbeFailure::None;
    static inline std::atomic<int> live{0};

    explicit ProbeInstrument(ComponentInstance instance)
        : MacAUInstrumentBase(instance, kNumParams, "Probe", "")
    {
        Fail(failInConstructor);
        gain.Create("Gain", this, Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
        gain = 0.8f;
        mode.Create("Mode", this, Parameter::Global, 0.0f, 3.0f, Parameter::Discrete);
        mode = 0.0f;
        tune.Create("Tune", this, Parameter::Global, -12.0f, 12.0f, Parameter::Continuous);
        tune = 0.0f;
        longName.Create("A parameter whose name is longer than the C name field of a host", this,
                        Parameter::Global, 0.0f, 1.0f, Parameter::Continuous);
        longName = 0.5f;
        for (Parameter* p : {&gain, &mode, &tune, &longName})
            AddAutomatableParameter(p);
        SetNumParameters(kNumParams);
        midi.reserve(4096);
        ++live;
    }
    ~ProbeInstrument() override { --live; }

    void PostConstructor() override { Fail(failInPostConstructor); }

    std::uint32_t GetVersion() override { return 0x00020003; }
    std::uint32_t GetSubType() override { return ComponentCode("Prb1"); }
    std::uint32_t GetManufacturer() override { return ComponentCode("Test"); }

    void HandleMidiEvent(int channel, int status, int data1, int data2, long offset) override
    {
        midi.push_back(ProbeMidi{channel, status, data1, data2, offset});
    }
    void NextBuffer() override { ++nextBuffers; }
    void PostRender() override { ++postRenders; }
    void Render(float* outL, float* outR, long frames, int) override
    {
        renderFrames.push_back(frames);
        for (long i = 0; i < frames; ++i)
        {
            outL[i] += kLevel;
            outR[i] -= kLevel;
        }
    }

    void* SavePluginState(int& size) override
    {
        if (!haveState)
        {
            size = 0;
            return nullptr;
        }
        state = {'P', 'R', 'B', static_cast<char>(stateByte)};
        size = static_cast<int>(state.size());
        return state.data();
    }
    bool RestorePluginState(void* data, int size) override
    {
        ++restores;
        auto const* bytes = static_cast<char const*>(data);
        if (size != 4 || std::memcmp(bytes, "PRB", 3) != 0) return false;
        stateByte = static_cast<unsigned char>(bytes[3]);
        return true;
    }

    Parameter gain;
    Parameter mode;
    Parameter tune;
    Parameter longName;
    std::vector<ProbeMidi> midi;
    std::vector<long> renderFrames;
    int nextBuffers = 0;
    int postRenders = 0;
    int restores = 0;
    bool haveState = true;
    unsigned char stateByte = 7;

private:
    static void Fail(ProbeFailure failure)
    {
        switch (failure)
        {
        case ProbeFailure::None:
            return;
        case ProbeFailure::BadAlloc:
            throw std::bad_alloc();
        case ProbeFailure::Status:
            throw static_cast<OSStatus>(-12345);
        case ProbeFailure::Text:
            throw std::runtime_error("probe refused");
        }
    }

    std::vector<char> state;
};

inline ComponentDescription ProbeDescription()
{
    ComponentDescription d;
    d.componentType = ComponentCode("aumu");
    d.componentSubType = ComponentCode("Prb1");
    d.componentManufacturer = ComponentCode("Test");
    return d;
}

inline OSStatus ProbeEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<ProbeInstrument>(params, storage);
}

inline ProbeInstrument& ProbeOf(AUHost& host)
{
    return *static_cast<ProbeInstrument*>(host.GetUnit()->storage);
}

// Opens a probe; fails the test when it cannot.
inline void OpenProbe(AUHost& host, bool initialize = true)
{
    ASSERT_TRUE(host.Open(&ProbeEntry, ProbeDescription(), initialize)) << host.GetError();
}

// A list of `count` buffers of `frames` floats each, filled with a canary, with room to spare.
struct CanaryList
{
    static constexpr float kCanary = 123.0f;
    CanaryList(UInt32 count, UInt32 frames, UInt32 room)
        : storage(AudioBufferList::kMaxBuffers, std::vector<float>(room, kCanary))
    {
        list.mNumberBuffers = count;
        for (UInt32 c = 0; c < count; ++c)
        {
            list.mBuffers[c].mNumberChannels = 1;
            list.mBuffers[c].mDataByteSize = frames * static_cast<UInt32>(sizeof(float));
            list.mBuffers[c].mData = storage[c].data();
        }
    }
    bool Untouched() const
    {
        for (auto const& channel : storage)
        {
            for (float s : channel)
            {
                if (s != kCanary) return false;
            }
        }
        return true;
    }
    AudioBufferList list;
    std::vector<std::vector<float>> storage;
};

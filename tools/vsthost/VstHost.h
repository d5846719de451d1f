#pragma once

// A headless VST 2.4 host for one plug-in instance: loads the plug-in library, opens an
// instance through its entry with this host's callback, feeds it MIDI and time information
// and pulls audio, on the calling thread. The command-line host and the end-to-end tests
// drive plug-ins through it.
//
// The callback answers as a VST 2.4 host (version 2400), hands out time information with
// the tempo and transport state set here, and records every automation report.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "vst/VstAbi.h"

// A loaded plug-in library (dlopen). Instances keep their library loaded.
class VstLibrary
{
public:
    using Entry = AEffect* (*)(audioMasterCallback);

    // Null with the reason in `error` when the file cannot be loaded or exports no entry.
    static std::shared_ptr<VstLibrary> Load(std::string const& path, std::string& error);
    ~VstLibrary();
    VstLibrary(VstLibrary const&) = delete;
    VstLibrary& operator=(VstLibrary const&) = delete;

    Entry GetEntry() const { return entry; }
    // The entry under the name "main", or null.
    Entry GetOldEntry() const { return oldEntry; }

private:
    VstLibrary() = default;
    void* handle = nullptr;
    Entry entry = nullptr;
    Entry oldEntry = nullptr;
};

// One MIDI message (or a system-exclusive dump) at a frame of the whole rendering.
struct TimedMidi
{
    long frame = 0;
    std::uint8_t data[3] = {0, 0, 0};
    std::vector<std::uint8_t> sysex; // when not empty, a system-exclusive event
};

class VstHost
{
public:
    static constexpr VstInt32 kHostVersion = 2400;

    struct Automation
    {
        int index;
        float value;
    };

    VstHost(double sampleRate = 44100.0, int blockSize = 512);
    // Closes the instance when it is still open.
    ~VstHost();
    VstHost(VstHost const&) = delete;
    VstHost& operator=(VstHost const&) = delete;

    // Loads the library and opens an instance: entry, effOpen, sample rate, block size,
    // resume, start of processing. False with the reason in GetError().
    bool Open(std::string const& path);
    // The same with a library already loaded.
    bool Open(std::shared_ptr<VstLibrary> library);
    // Suspends and closes the instance (effClose deletes it in the plug-in).
    void Close();
    bool IsOpen() const { return effect != nullptr; }
    std::string const& GetError() const { return error; }

    AEffect* GetEffect() const { return effect; }
    VstIntPtr Dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);

    // Plug-in facts through the dispatcher.
    std::string GetEffectName();
    std::string GetVendorString();
    std::string GetProductString();
    std::string GetParameterName(int index);
    VstIntPtr CanDo(char const* text);
    void SetParameter(int index, float value);
    float GetParameter(int index);
    std::vector<std::uint8_t> GetChunk();
    // The plug-in's answer to effSetChunk.
    VstIntPtr SetChunk(std::vector<std::uint8_t> const& chunk);

    // Answers of the callback.
    void SetTempo(double bpm) { timeInfo.tempo = bpm; }
    // Starts or stops the transport; the next time information says it changed.
    void SetPlaying(bool playing);
    // Without time information the callback answers null to audioMasterGetTime.
    void SetTimeInfoAvailable(bool available) { timeInfoAvailable = available; }
    // Texts the callback answers 1 to for audioMasterCanDo (besides the usual ones).
    void AddHostCanDo(std::string const& text) { extraCanDo.insert(text); }
    void SetSampleRate(double rate);

    // Reports received so far, in order; Clear empties the log.
    std::vector<Automation> GetAutomation();
    void ClearAutomation();
    int GetTimeRequests() const { return timeRequests; }
    VstIntPtr GetLastTimeMask() const { return lastTimeMask; }
    int GetWantMidiCalls() const { return wantMidiCalls; }

    // Events for the next block, at frames inside it.
    void QueueMidi(int offset, std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    void QueueSysex(int offset, std::vector<std::uint8_t> const& bytes);
    // Sends the queued events (effProcessEvents), then processReplacing with these channels.
    // Null inputs pass a null input array.
    void ProcessBlock(float** inputs, float** outputs, int frames);
    // Renders totalFrames frames in blocks of the host's block size, sending each event in
    // the block of its frame; appends to left and right.
    void Render(std::vector<TimedMidi> const& events, long totalFrames, std::vector<float>& left,
                std::vector<float>& right);
    // The same, handing each block to `sink` (left, right, frames) instead of keeping it: memory
    // stays bounded whatever the length. Stops, returning false, when the sink returns false.
    bool Render(std::vector<TimedMidi> const& events, long totalFrames,
                std::function<bool(float const*, float const*, int)> const& sink);

private:
    static VstIntPtr Callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                              float opt);
    VstIntPtr Answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);
    std::string GetString(VstInt32 opcode, int index = 0);

    std::shared_ptr<VstLibrary> library;
    AEffect* effect = nullptr;
    std::string error;
    double sampleRate;
    int blockSize;

    VstTimeInfo timeInfo{};
    bool timeInfoAvailable = true;
    bool transportChanged = false;
    int timeRequests = 0;
    VstIntPtr lastTimeMask = 0;
    int wantMidiCalls = 0;
    std::set<std::string> extraCanDo;

    std::mutex automationMutex;
    std::vector<Automation> automation;

    // Events of the next block: the MIDI records, the sysex records with their bytes, and the
    // queue order (an index into one of the two; kQueuedSysex marks the sysex ones), kept small
    // so that millions of events at one time fit; then the VstEvents block handed to the plug-in.
    struct QueuedSysex
    {
        VstMidiSysexEvent event;
        std::vector<char> dump;
    };
    static constexpr std::uint32_t kQueuedSysex = 0x80000000u;
    std::vector<VstMidiEvent> queuedMidi;
    std::vector<QueuedSysex> queuedSysex;
    std::vector<std::uint32_t> queueOrder;
    std::vector<VstIntPtr> eventBlock;
};

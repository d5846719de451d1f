#pragma once

// A headless Audio Unit host for one instance of a component library: reads the library's
// registration file (<library>.auinfo beside <library>.so), loads the library, makes the
// instance record, opens the instance through the registered entry and drives it with
// component calls on the calling thread: properties, parameters, notes, MIDI, class info and
// render calls with buffer lists. The command-line host and the adapter's tests use it.
//
// The record's parameter listener records every announcement; the beat-and-tempo callback, when
// installed, reports the tempo set here.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/au/AUHostCalls.h"
#include "vsthost/VstHost.h" // TimedMidi

// What a registration file says of a component.
struct AURegistration
{
    ComponentDescription description;
    std::string name;
    std::uint32_t version = 0;
    std::string entry;
    // The view component, when the library has one (viewEntry empty otherwise).
    ComponentDescription viewDescription;
    std::string viewEntry;
};

// "key value" lines: type, subtype and manufacturer (four characters each), name (the rest of
// the line), version (a decimal integer) and entry; all six must be there. False with the
// reason in `error` otherwise. A view component adds view_type, view_subtype,
// view_manufacturer and view_entry, all four.
bool ParseRegistration(std::string const& text, AURegistration& registration, std::string& error);
bool ReadRegistration(std::string const& path, AURegistration& registration, std::string& error);

// A loaded component library (dlopen). Instances keep their library loaded.
class AULibrary
{
public:
    // The library at `path` (a .so) with its registration file; null with the reason in
    // `error` when either cannot be read or the entry is missing.
    static std::shared_ptr<AULibrary> Load(std::string const& path, std::string& error);
    ~AULibrary();
    AULibrary(AULibrary const&) = delete;
    AULibrary& operator=(AULibrary const&) = delete;

    ComponentEntryPoint GetEntry() const { return entry; }
    // The view component's entry; null when the library registers no view.
    ComponentEntryPoint GetViewEntry() const { return viewEntry; }
    AURegistration const& GetRegistration() const { return registration; }

private:
    AULibrary() = default;
    void* handle = nullptr;
    ComponentEntryPoint entry = nullptr;
    ComponentEntryPoint viewEntry = nullptr;
    AURegistration registration;
};

// A parameter's description as the host reads it; the CF name is released here as its flag asks.
struct AUParameterFacts
{
    OSStatus status = 0;
    std::string name;   // the C name
    std::string cfName; // the CF name's text, when there is one
    std::uint32_t flags = 0;
    std::uint32_t unit = 0;
    float minValue = 0.0f;
    float maxValue = 0.0f;
    float defaultValue = 0.0f;
};

class AUHost
{
public:
    explicit AUHost(double sampleRate = 44100.0, UInt32 blockSize = 512);
    // Closes the instance when it is still open.
    ~AUHost();
    AUHost(AUHost const&) = delete;
    AUHost& operator=(AUHost const&) = delete;

    // Loads the library and opens an instance: open, stream format, maximum frames (the block
    // size), host callbacks, and with `initialize` the initialise call. False with the reason
    // in GetError().
    bool Open(std::string const& path, bool initialize = true);
    bool Open(std::shared_ptr<AULibrary> library, bool initialize = true);
    // The same with an entry of this process (a component built into a test).
    bool Open(ComponentEntryPoint entry, ComponentDescription const& description, bool initialize = true);
    // Uninitialises and closes the instance.
    void Close();
    bool IsOpen() const { return open; }
    std::string const& GetError() const { return error; }
    // The entry's answer to the last open selector.
    OSStatus GetOpenStatus() const { return openStatus; }
    AudioUnit GetUnit() { return &record; }
    std::shared_ptr<AULibrary> GetLibrary() const { return library; }

    OSStatus Initialize() { return AudioUnitInitialize(&record); }
    OSStatus SetMaximumFrames(UInt32 frames);
    OSStatus SetStreamRate(double rate);

    // The beat-and-tempo callback: installed or not, and the tempo it reports.
    OSStatus SetTempoCallback(bool installed);
    void SetTempo(double bpm) { tempo = bpm; }
    int GetTempoRequests() const { return tempoRequests; }

    OSStatus SetParameter(UInt32 id, float value, AudioUnitScope scope = kAudioUnitScope_Global);
    // NaN when the unit answers an error.
    float GetParameter(UInt32 id, AudioUnitScope scope = kAudioUnitScope_Global);
    AUParameterFacts DescribeParameter(UInt32 id, AudioUnitScope scope = kAudioUnitScope_Global);
    // The ids of the parameter list of the global scope.
    std::vector<UInt32> GetParameterList();
    // Announcements the unit made so far, in order.
    std::vector<AudioUnitParameter> GetNotifications();
    void ClearNotifications();

    // The class info (the caller releases it) and its state block.
    OSStatus SaveClassInfo(CFPropertyListRef& classInfo);
    OSStatus RestoreClassInfo(CFPropertyListRef classInfo);
    // The bytes under "Torvane_State"; empty when there are none.
    std::vector<std::uint8_t> GetState();
    // Restores class info made of this unit's identity and the bytes.
    OSStatus SetState(std::vector<std::uint8_t> const& bytes);

    OSStatus MIDIEvent(UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset = 0);
    OSStatus SysEx(std::vector<std::uint8_t> const& bytes);
    OSStatus StartNote(float pitch, float velocity, UInt32 offset = 0, NoteInstanceID* id = nullptr);
    OSStatus StopNote(NoteInstanceID note, UInt32 offset = 0);

    // One render call into the host's list.
    OSStatus RenderList(UInt32 frames, AudioBufferList* list);
    // One render call into two channels of `frames` floats.
    OSStatus RenderBlock(UInt32 frames, float* left, float* right);
    // Renders totalFrames frames in blocks of the block size, sending each event before the
    // block of its frame with its offset inside it; appends to left and right. Stops at the
    // first render call that fails and answers its status.
    OSStatus Render(std::vector<TimedMidi> const& events, long totalFrames, std::vector<float>& left,
                    std::vector<float>& right);
    // The same, handing each block to `sink` (left, right, frames) instead of keeping it: memory
    // stays bounded whatever the length. Stops when the sink returns false (answering noErr).
    OSStatus Render(std::vector<TimedMidi> const& events, long totalFrames,
                    std::function<bool(float const*, float const*, int)> const& sink);

private:
    static void ParameterListener(void* context, AudioUnitParameter const& parameter);
    static SInt32 BeatAndTempo(void* userData, Float64* beat, Float64* currentTempo);

    std::shared_ptr<AULibrary> library;
    ComponentInstanceRecord record;
    bool open = false;
    OSStatus openStatus = noErr;
    std::string error;
    double sampleRate;
    UInt32 blockSize;
    double tempo = 120.0;
    int tempoRequests = 0;
    double sampleTime = 0.0;

    std::mutex notificationMutex;
    std::vector<AudioUnitParameter> notifications;
};

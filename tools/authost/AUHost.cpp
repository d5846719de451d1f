#include "authost/AUHost.h"

#include "hostcli/HostCli.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace
{

bool ParseCode(std::string const& text, std::uint32_t& code)
{
    if (text.size() != 4) return false;
    char const chars[5] = {text[0], text[1], text[2], text[3], '\0'};
    code = ComponentCode(chars);
    return true;
}

std::string Trim(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && (s[start] == ' ' || s[start] == '\t'))
        ++start;
    return s.substr(start);
}

std::string RegistrationPath(std::string const& library)
{
    std::string const suffix = ".so";
    if (library.size() > suffix.size() &&
        library.compare(library.size() - suffix.size(), suffix.size(), suffix) == 0)
        return library.substr(0, library.size() - suffix.size()) + ".auinfo";
    return library + ".auinfo";
}

} // namespace

bool ParseRegistration(std::string const& text, AURegistration& registration, std::string& error)
{
    AURegistration r;
    int seen = 0;
    int view = 0;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
    {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        std::size_t const space = line.find_first_of(" \t");
        std::string const key = line.substr(0, space);
        std::string const value = space == std::string::npos ? "" : Trim(line.substr(space));
        bool ok = true;
        if (key == "type")
            ok = ParseCode(value, r.description.componentType), seen |= 1;
        else if (key == "subtype")
            ok = ParseCode(value, r.description.componentSubType), seen |= 2;
        else if (key == "manufacturer")
            ok = ParseCode(value, r.description.componentManufacturer), seen |= 4;
        else if (key == "name")
            ok = !value.empty(), r.name = value, seen |= 8;
        else if (key == "version")
        {
            char* end = nullptr;
            unsigned long long const v = std::strtoull(value.c_str(), &end, 10);
            ok = !value.empty() && *end == '\0' && v <= std::numeric_limits<std::uint32_t>::max();
            r.version = static_cast<std::uint32_t>(v);
            seen |= 16;
        }
        else if (key == "entry")
            ok = !value.empty(), r.entry = value, seen |= 32;
        else if (key == "view_type")
            ok = ParseCode(value, r.viewDescription.componentType), view |= 1;
        else if (key == "view_subtype")
            ok = ParseCode(value, r.viewDescription.componentSubType), view |= 2;
        else if (key == "view_manufacturer")
            ok = ParseCode(value, r.viewDescription.componentManufacturer), view |= 4;
        else if (key == "view_entry")
            ok = !value.empty(), r.viewEntry = value, view |= 8;
        else
            ok = false;
        if (!ok)
        {
            error = "bad registration line '" + line + "'";
            return false;
        }
    }
    if (seen != 63)
    {
        error = "the registration lacks type, subtype, manufacturer, name, version or entry";
        return false;
    }
    if (view != 0 && view != 15)
    {
        error = "the registration's view lacks its type, subtype, manufacturer or entry";
        return false;
    }
    registration = r;
    return true;
}

bool ReadRegistration(std::string const& path, AURegistration& registration, std::string& error)
{
    // A registration is a few lines; a FIFO or folder in its place is refused without waiting.
    constexpr std::uintmax_t kMaxRegistrationBytes = 64 * 1024;
    std::vector<std::uint8_t> bytes;
    if (!ReadRegularFile(path, "registration file", kMaxRegistrationBytes, bytes, error)) return false;
    if (!ParseRegistration(std::string(bytes.begin(), bytes.end()), registration, error))
    {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::shared_ptr<AULibrary> AULibrary::Load(std::string const& path, std::string& error)
{
    std::shared_ptr<AULibrary> library(new AULibrary);
    if (!ReadRegistration(RegistrationPath(path), library->registration, error)) return nullptr;
    library->handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->handle == nullptr)
    {
        char const* reason = dlerror();
        error = "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown reason");
        return nullptr;
    }
    void* symbol = dlsym(library->handle, library->registration.entry.c_str());
    if (symbol == nullptr)
    {
        error = path + " has no entry " + library->registration.entry;
        return nullptr;
    }
    library->entry = reinterpret_cast<ComponentEntryPoint>(symbol);
    if (!library->registration.viewEntry.empty())
    {
        void* view = dlsym(library->handle, library->registration.viewEntry.c_str());
        if (view == nullptr)
        {
            error = path + " has no view entry " + library->registration.viewEntry;
            return nullptr;
        }
        library->viewEntry = reinterpret_cast<ComponentEntryPoint>(view);
    }
    return library;
}

AULibrary::~AULibrary()
{
    if (handle != nullptr) dlclose(handle);
}

AUHost::AUHost(double sampleRate, UInt32 blockSize)
    : sampleRate(sampleRate), blockSize(std::max<UInt32>(blockSize, 1))
{
}

AUHost::~AUHost()
{
    Close();
}

bool AUHost::Open(std::string const& path, bool initialize)
{
    std::shared_ptr<AULibrary> loaded = AULibrary::Load(path, error);
    if (!loaded) return false;
    return Open(loaded, initialize);
}

bool AUHost::Open(std::shared_ptr<AULibrary> lib, bool initialize)
{
    Close();
    if (!lib)
    {
        error = "no library";
        return false;
    }
    ComponentEntryPoint const entry = lib->GetEntry();
    ComponentDescription const description = lib->GetRegistration().description;
    library = std::move(lib);
    return Open(entry, description, initialize);
}

bool AUHost::Open(ComponentEntryPoint entry, ComponentDescription const& description, bool initialize)
{
    if (open) Close();
    record = ComponentInstanceRecord{};
    record.entry = entry;
    record.description = description;
    record.parameterListener = &AUHost::ParameterListener;
    record.listenerContext = this;
    OSStatus status = OpenAComponent(&record);
    openStatus = status;
    if (status != noErr || record.storage == nullptr)
    {
        error = "the component refused to open (status " + std::to_string(status) + ")";
        return false;
    }
    open = true;
    sampleTime = 0.0;
    if ((status = SetStreamRate(sampleRate)) != noErr || (status = SetMaximumFrames(blockSize)) != noErr ||
        (status = SetTempoCallback(true)) != noErr)
    {
        error = "the component refused its set-up (status " + std::to_string(status) + ")";
        Close();
        return false;
    }
    if (initialize && (status = Initialize()) != noErr)
    {
        error = "the component did not initialise (status " + std::to_string(status) + ")";
        Close();
        return false;
    }
    return true;
}

void AUHost::Close()
{
    if (!open) return;
    AudioUnitUninitialize(&record);
    CloseComponent(&record);
    record.storage = nullptr;
    open = false;
}

OSStatus AUHost::SetMaximumFrames(UInt32 frames)
{
    return AudioUnitSetProperty(&record, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
                                &frames, sizeof frames);
}

OSStatus AUHost::SetStreamRate(double rate)
{
    AudioStreamBasicDescription const format = CanonicalStereoFormat(rate);
    return AudioUnitSetProperty(&record, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &format,
                                sizeof format);
}

OSStatus AUHost::SetTempoCallback(bool installed)
{
    HostCallbackInfo info;
    info.hostUserData = this;
    info.beatAndTempoProc = installed ? &AUHost::BeatAndTempo : nullptr;
    return AudioUnitSetProperty(&record, kAudioUnitProperty_HostCallbacks, kAudioUnitScope_Global, 0, &info,
                                sizeof info);
}

SInt32 AUHost::BeatAndTempo(void* userData, Float64* beat, Float64* currentTempo)
{
    auto* host = static_cast<AUHost*>(userData);
    ++host->tempoRequests;
    if (beat != nullptr) *beat = host->sampleTime / host->sampleRate * host->tempo / 60.0;
    if (currentTempo != nullptr) *currentTempo = host->tempo;
    return noErr;
}

void AUHost::ParameterListener(void* context, AudioUnitParameter const& parameter)
{
    auto* host = static_cast<AUHost*>(context);
    std::lock_guard<std::mutex> hold(host->notificationMutex);
    host->notifications.push_back(parameter);
}

std::vector<AudioUnitParameter> AUHost::GetNotifications()
{
    std::lock_guard<std::mutex> hold(notificationMutex);
    return notifications;
}

void AUHost::ClearNotifications()
{
    std::lock_guard<std::mutex> hold(notificationMutex);
    notifications.clear();
}

OSStatus AUHost::SetParameter(UInt32 id, float value, AudioUnitScope scope)
{
    return AudioUnitSetParameter(&record, id, scope, 0, value, 0);
}

float AUHost::GetParameter(UInt32 id, AudioUnitScope scope)
{
    Float32 value = 0.0f;
    if (AudioUnitGetParameter(&record, id, scope, 0, &value) != noErr) return std::nanf("");
    return value;
}

AUParameterFacts AUHost::DescribeParameter(UInt32 id, AudioUnitScope scope)
{
    AUParameterFacts facts;
    AudioUnitParameterInfo info;
    UInt32 size = sizeof info;
    facts.status = AudioUnitGetProperty(&record, kAudioUnitProperty_ParameterInfo, scope, id, &info, &size);
    if (facts.status != noErr) return facts;
    facts.name.assign(info.name, strnlen(info.name, sizeof info.name));
    if ((info.flags & kAudioUnitParameterFlag_HasCFNameString) != 0 && info.cfNameString != nullptr)
    {
        facts.cfName = CFStringGetUTF8Text(info.cfNameString);
        if ((info.flags & kAudioUnitParameterFlag_CFNameRelease) != 0) CFRelease(info.cfNameString);
    }
    facts.flags = info.flags;
    facts.unit = info.unit;
    facts.minValue = info.minValue;
    facts.maxValue = info.maxValue;
    facts.defaultValue = info.defaultValue;
    return facts;
}

std::vector<UInt32> AUHost::GetParameterList()
{
    UInt32 size = 0;
    if (AudioUnitGetProperty(&record, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, nullptr,
                             &size) != noErr)
        return {};
    std::vector<UInt32> ids(size / sizeof(UInt32));
    if (ids.empty()) return ids;
    if (AudioUnitGetProperty(&record, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids.data(),
                             &size) != noErr)
        return {};
    return ids;
}

OSStatus AUHost::SaveClassInfo(CFPropertyListRef& classInfo)
{
    classInfo = nullptr;
    UInt32 size = sizeof classInfo;
    return AudioUnitGetProperty(&record, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &classInfo,
                                &size);
}

OSStatus AUHost::RestoreClassInfo(CFPropertyListRef classInfo)
{
    return AudioUnitSetProperty(&record, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &classInfo,
                                sizeof classInfo);
}

std::vector<std::uint8_t> AUHost::GetState()
{
    CFPropertyListRef classInfo = nullptr;
    std::vector<std::uint8_t> bytes;
    if (SaveClassInfo(classInfo) != noErr || classInfo == nullptr) return bytes;
    if (CFGetTypeID(classInfo) == CFDictionaryGetTypeID())
    {
        auto const block =
            CFDictionaryGetValue(static_cast<CFDictionaryRef>(classInfo), CFSTR("Torvane_State"));
        if (block != nullptr && CFGetTypeID(block) == CFDataGetTypeID())
        {
            auto const data = static_cast<CFDataRef>(block);
            bytes.assign(CFDataGetBytePtr(data), CFDataGetBytePtr(data) + CFDataGetLength(data));
        }
    }
    CFRelease(classInfo);
    return bytes;
}

OSStatus AUHost::SetState(std::vector<std::uint8_t> const& bytes)
{
    CFMutableDictionaryRef classInfo = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    auto put = [classInfo](char const* key, std::uint32_t value)
    {
        auto const n = static_cast<SInt32>(value);
        CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &n);
        CFDictionarySetValue(classInfo, CFStringMakeConstant(key), number);
        CFRelease(number);
    };
    put("version", 0);
    put("type", record.description.componentType);
    put("subtype", record.description.componentSubType);
    put("manufacturer", record.description.componentManufacturer);
    CFDataRef data = CFDataCreate(kCFAllocatorDefault, bytes.data(), static_cast<CFIndex>(bytes.size()));
    CFDictionarySetValue(classInfo, CFSTR("Torvane_State"), data);
    CFRelease(data);
    OSStatus const status = RestoreClassInfo(classInfo);
    CFRelease(classInfo);
    return status;
}

OSStatus AUHost::MIDIEvent(UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset)
{
    return MusicDeviceMIDIEvent(&record, status, data1, data2, offset);
}

OSStatus AUHost::SysEx(std::vector<std::uint8_t> const& bytes)
{
    return MusicDeviceSysEx(&record, bytes.data(), static_cast<UInt32>(bytes.size()));
}

OSStatus AUHost::StartNote(float pitch, float velocity, UInt32 offset, NoteInstanceID* id)
{
    MusicDeviceNoteParams params;
    params.argCount = 2;
    params.mPitch = pitch;
    params.mVelocity = velocity;
    NoteInstanceID ignored = 0;
    return MusicDeviceStartNote(&record, 0xFFFFFFFFu, 0, id != nullptr ? id : &ignored, offset, &params);
}

OSStatus AUHost::StopNote(NoteInstanceID note, UInt32 offset)
{
    return MusicDeviceStopNote(&record, 0, note, offset);
}

OSStatus AUHost::RenderList(UInt32 frames, AudioBufferList* list)
{
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp time;
    time.mSampleTime = sampleTime;
    time.mFlags = 1;
    OSStatus const status = AudioUnitRender(&record, &flags, &time, 0, frames, list);
    if (status == noErr) sampleTime += frames;
    return status;
}

OSStatus AUHost::RenderBlock(UInt32 frames, float* left, float* right)
{
    AudioBufferList list;
    list.mNumberBuffers = 2;
    float* channels[2] = {left, right};
    for (int c = 0; c < 2; ++c)
    {
        list.mBuffers[c].mNumberChannels = 1;
        list.mBuffers[c].mDataByteSize = frames * static_cast<UInt32>(sizeof(float));
        list.mBuffers[c].mData = channels[c];
    }
    return RenderList(frames, &list);
}

OSStatus AUHost::Render(std::vector<TimedMidi> const& events, long totalFrames, std::vector<float>& left,
                        std::vector<float>& right)
{
    return Render(events, totalFrames,
                  [&](float const* l, float const* r, int n)
                  {
                      left.insert(left.end(), l, l + n);
                      right.insert(right.end(), r, r + n);
                      return true;
                  });
}

OSStatus AUHost::Render(std::vector<TimedMidi> const& events, long totalFrames,
                        std::function<bool(float const*, float const*, int)> const& sink)
{
    std::size_t next = 0;
    std::vector<float> blockLeft(blockSize);
    std::vector<float> blockRight(blockSize);
    for (long start = 0; start < totalFrames; start += static_cast<long>(blockSize))
    {
        long const frames = std::min<long>(static_cast<long>(blockSize), totalFrames - start);
        while (next < events.size() && events[next].frame < start + frames)
        {
            TimedMidi const& e = events[next++];
            auto const offset = static_cast<UInt32>(std::max<long>(0, e.frame - start));
            if (!e.sysex.empty())
                SysEx(e.sysex);
            else
                MIDIEvent(e.data[0], e.data[1], e.data[2], offset);
        }
        OSStatus const status = RenderBlock(static_cast<UInt32>(frames), blockLeft.data(), blockRight.data());
        if (status != noErr) return status;
        if (!sink(blockLeft.data(), blockRight.data(), static_cast<int>(frames))) return noErr;
    }
    return noErr;
}

#include "vsthost/VstHost.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace
{

// The host whose entry call is running on this thread: the plug-in may call back before
// its record reaches the host.
thread_local VstHost* opening = nullptr;

void CopyText(void* ptr, char const* text, std::size_t size)
{
    if (ptr == nullptr) return;
    auto* out = static_cast<char*>(ptr);
    std::size_t const n = std::min(std::strlen(text), size - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

} // namespace

std::shared_ptr<VstLibrary> VstLibrary::Load(std::string const& path, std::string& error)
{
    // A bare file name means the file here, not a search of the library path.
    std::string const file = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
    {
        char const* reason = dlerror();
        error = "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown error");
        return nullptr;
    }
    std::shared_ptr<VstLibrary> library(new VstLibrary);
    library->handle = handle;
    library->entry = reinterpret_cast<Entry>(dlsym(handle, "VSTPluginMain"));
    library->oldEntry = reinterpret_cast<Entry>(dlsym(handle, "main"));
    if (library->entry == nullptr && library->oldEntry == nullptr)
    {
        error = path + " exports neither VSTPluginMain nor main";
        return nullptr;
    }
    return library;
}

VstLibrary::~VstLibrary()
{
    if (handle != nullptr) dlclose(handle);
}

VstHost::VstHost(double sampleRate, int blockSize) : sampleRate(sampleRate), blockSize(blockSize)
{
    timeInfo.sampleRate = sampleRate;
    timeInfo.tempo = 120.0;
    timeInfo.timeSigNumerator = 4;
    timeInfo.timeSigDenominator = 4;
}

VstHost::~VstHost()
{
    Close();
}

bool VstHost::Open(std::string const& path)
{
    std::shared_ptr<VstLibrary> loaded = VstLibrary::Load(path, error);
    return loaded != nullptr && Open(std::move(loaded));
}

bool VstHost::Open(std::shared_ptr<VstLibrary> loaded)
{
    Close();
    library = std::move(loaded);
    VstLibrary::Entry entry = library->GetEntry() != nullptr ? library->GetEntry() : library->GetOldEntry();
    opening = this;
    AEffect* opened = entry(Callback);
    opening = nullptr;
    if (opened == nullptr)
    {
        error = "the plug-in's entry gave no instance";
        return false;
    }
    if (opened->magic != kEffectMagic)
    {
        error = "the plug-in's entry gave a record without the VST magic";
        return false;
    }
    effect = opened;
    effect->resvd1 = reinterpret_cast<VstIntPtr>(this);
    Dispatch(effOpen);
    Dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    Dispatch(effSetBlockSize, 0, blockSize);
    Dispatch(effMainsChanged, 0, 1);
    Dispatch(effStartProcess);
    return true;
}

void VstHost::Close()
{
    if (effect == nullptr) return;
    Dispatch(effStopProcess);
    Dispatch(effMainsChanged, 0, 0);
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    effect = nullptr;
}

VstIntPtr VstHost::Dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    if (effect == nullptr) return 0;
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

std::string VstHost::GetString(VstInt32 opcode, int index)
{
    // More room than any text the interface allows.
    char text[256] = {};
    Dispatch(opcode, index, 0, text);
    text[sizeof text - 1] = '\0';
    return text;
}

std::string VstHost::GetEffectName()
{
    return GetString(effGetEffectName);
}

std::string VstHost::GetVendorString()
{
    return GetString(effGetVendorString);
}

std::string VstHost::GetProductString()
{
    return GetString(effGetProductString);
}

std::string VstHost::GetParameterName(int index)
{
    return GetString(effGetParamName, index);
}

VstIntPtr VstHost::CanDo(char const* text)
{
    std::string copy(text);
    return Dispatch(effCanDo, 0, 0, copy.data());
}

void VstHost::SetParameter(int index, float value)
{
    if (effect != nullptr) effect->setParameter(effect, index, value);
}

float VstHost::GetParameter(int index)
{
    return effect != nullptr ? effect->getParameter(effect, index) : 0.0f;
}

std::vector<std::uint8_t> VstHost::GetChunk()
{
    void* data = nullptr;
    VstIntPtr const size = Dispatch(effGetChunk, 0, 0, &data);
    if (data == nullptr || size <= 0) return {};
    auto const* bytes = static_cast<std::uint8_t const*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

VstIntPtr VstHost::SetChunk(std::vector<std::uint8_t> const& chunk)
{
    std::vector<std::uint8_t> copy(chunk);
    return Dispatch(effSetChunk, 0, static_cast<VstIntPtr>(copy.size()), copy.data());
}

void VstHost::SetPlaying(bool playing)
{
    bool const wasPlaying = (timeInfo.flags & kVstTransportPlaying) != 0;
    if (playing == wasPlaying) return;
    timeInfo.flags ^= kVstTransportPlaying;
    transportChanged = true;
}

void VstHost::SetSampleRate(double rate)
{
    sampleRate = rate;
    timeInfo.sampleRate = rate;
    Dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
}

std::vector<VstHost::Automation> VstHost::GetAutomation()
{
    std::lock_guard<std::mutex> hold(automationMutex);
    return automation;
}

void VstHost::ClearAutomation()
{
    std::lock_guard<std::mutex> hold(automationMutex);
    automation.clear();
}

void VstHost::QueueMidi(int offset, std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    VstMidiEvent e{};
    e.type = kVstMidiType;
    e.byteSize = sizeof(VstMidiEvent);
    e.deltaFrames = offset;
    e.midiData[0] = static_cast<char>(status);
    e.midiData[1] = static_cast<char>(data1);
    e.midiData[2] = static_cast<char>(data2);
    queueOrder.push_back(static_cast<std::uint32_t>(queuedMidi.size()));
    queuedMidi.push_back(e);
}

void VstHost::QueueSysex(int offset, std::vector<std::uint8_t> const& bytes)
{
    QueuedSysex e{};
    e.event.type = kVstSysExMidiType;
    e.event.byteSize = sizeof(VstMidiSysexEvent);
    e.event.deltaFrames = offset;
    e.event.dumpBytes = static_cast<VstInt32>(bytes.size());
    e.dump.assign(bytes.begin(), bytes.end());
    queueOrder.push_back(static_cast<std::uint32_t>(queuedSysex.size()) | kQueuedSysex);
    queuedSysex.push_back(std::move(e));
}

void VstHost::ProcessBlock(float** inputs, float** outputs, int frames)
{
    if (effect == nullptr) return;
    if (!queueOrder.empty())
    {
        // The header, then one pointer an event (the record declares two).
        std::size_t const words =
            offsetof(VstEvents, events) / sizeof(VstIntPtr) + std::max<std::size_t>(queueOrder.size(), 2);
        eventBlock.assign(words, 0);
        auto* events = reinterpret_cast<VstEvents*>(eventBlock.data());
        events->numEvents = static_cast<VstInt32>(queueOrder.size());
        VstEvent** list = events->events;
        for (std::size_t i = 0; i < queueOrder.size(); ++i)
        {
            std::uint32_t const at = queueOrder[i] & ~kQueuedSysex;
            if ((queueOrder[i] & kQueuedSysex) != 0)
            {
                QueuedSysex& e = queuedSysex[at];
                e.event.sysexDump = e.dump.data();
                list[i] = reinterpret_cast<VstEvent*>(&e.event);
            }
            else
                list[i] = reinterpret_cast<VstEvent*>(&queuedMidi[at]);
        }
        Dispatch(effProcessEvents, 0, 0, events);
        queueOrder.clear();
        queuedMidi.clear();
        queuedSysex.clear();
    }
    effect->processReplacing(effect, inputs, outputs, frames);
    transportChanged = false;
    if ((timeInfo.flags & kVstTransportPlaying) != 0 && frames > 0) timeInfo.samplePos += frames;
}

void VstHost::Render(std::vector<TimedMidi> const& events, long totalFrames, std::vector<float>& left,
                     std::vector<float>& right)
{
    Render(events, totalFrames,
           [&](float const* l, float const* r, int n)
           {
               left.insert(left.end(), l, l + n);
               right.insert(right.end(), r, r + n);
               return true;
           });
}

bool VstHost::Render(std::vector<TimedMidi> const& events, long totalFrames,
                     std::function<bool(float const*, float const*, int)> const& sink)
{
    // Events in time order are played as given (a MIDI file's are); others from a sorted copy.
    auto const earlier = [](TimedMidi const& a, TimedMidi const& b) { return a.frame < b.frame; };
    std::vector<TimedMidi> copy;
    if (!std::is_sorted(events.begin(), events.end(), earlier))
    {
        copy = events;
        std::stable_sort(copy.begin(), copy.end(), earlier);
    }
    std::vector<TimedMidi> const& sorted = copy.empty() ? events : copy;
    std::vector<float> blockL(static_cast<std::size_t>(blockSize));
    std::vector<float> blockR(static_cast<std::size_t>(blockSize));
    std::size_t next = 0;
    for (long start = 0; start < totalFrames; start += blockSize)
    {
        int const n = static_cast<int>(std::min<long>(blockSize, totalFrames - start));
        for (; next < sorted.size() && sorted[next].frame < start + n; ++next)
        {
            TimedMidi const& e = sorted[next];
            int const offset = static_cast<int>(std::max<long>(0, e.frame - start));
            if (!e.sysex.empty())
                QueueSysex(offset, e.sysex);
            else
                QueueMidi(offset, e.data[0], e.data[1], e.data[2]);
        }
        float* outputs[2] = {blockL.data(), blockR.data()};
        ProcessBlock(nullptr, outputs, n);
        if (!sink(blockL.data(), blockR.data(), n)) return false;
    }
    return true;
}

VstIntPtr VstHost::Callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                            float opt)
{
    VstHost* host =
        effect != nullptr && effect->resvd1 != 0 ? reinterpret_cast<VstHost*>(effect->resvd1) : opening;
    if (host == nullptr) return opcode == audioMasterVersion ? kHostVersion : 0;
    return host->Answer(opcode, index, value, ptr, opt);
}

VstIntPtr VstHost::Answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    switch (opcode)
    {
    case audioMasterAutomate:
    {
        std::lock_guard<std::mutex> hold(automationMutex);
        automation.push_back(Automation{index, opt});
        return 0;
    }
    case audioMasterVersion:
        return kHostVersion;
    case audioMasterWantMidi:
        ++wantMidiCalls;
        return 1;
    case audioMasterGetTime:
    {
        ++timeRequests;
        lastTimeMask = value;
        if (!timeInfoAvailable) return 0;
        timeInfo.ppqPos = timeInfo.samplePos / sampleRate * timeInfo.tempo / 60.0;
        timeInfo.barStartPos = static_cast<double>(static_cast<long>(timeInfo.ppqPos / 4.0)) * 4.0;
        timeInfo.flags &= kVstTransportPlaying;
        timeInfo.flags |= kVstTempoValid | kVstPpqPosValid | kVstBarsValid | kVstTimeSigValid;
        if (transportChanged) timeInfo.flags |= kVstTransportChanged;
        return reinterpret_cast<VstIntPtr>(&timeInfo);
    }
    case audioMasterGetSampleRate:
        return static_cast<VstIntPtr>(sampleRate);
    case audioMasterGetBlockSize:
        return blockSize;
    case audioMasterGetCurrentProcessLevel:
        return 4; // offline: this host renders to files
    case audioMasterGetAutomationState:
        return 1; // off
    case audioMasterGetVendorString:
        CopyText(ptr, "Torvane", kVstMaxVendorStrLen);
        return 1;
    case audioMasterGetProductString:
        CopyText(ptr, "vsthost", kVstMaxProductStrLen);
        return 1;
    case audioMasterGetVendorVersion:
        return 1;
    case audioMasterCanDo:
    {
        if (ptr == nullptr) return 0;
        std::string const text(static_cast<char const*>(ptr));
        bool const yes = text == "sendVstEvents" || text == "sendVstMidiEvent" || text == "sendVstTimeInfo" ||
                         extraCanDo.count(text) != 0;
        return yes ? 1 : 0;
    }
    case audioMasterGetLanguage:
        return 1; // English
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
        return 1;
    default:
        return 0;
    }
}

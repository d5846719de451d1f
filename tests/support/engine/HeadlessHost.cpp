#include "support/engine/HeadlessHost.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "support/AudioChecks.h"

namespace fs = std::filesystem;

namespace
{

constexpr VstIntPtr kHostVersion = 2400;

std::atomic<int> earlyAutomations{0};

// The process's own data home, for hosts built while no TemporaryDataHome lives.
struct ProcessDataHome
{
    ProcessDataHome() : path(MakeTemporaryFolder("torvane-engine-")) {}
    ~ProcessDataHome()
    {
        std::error_code error;
        fs::remove_all(path, error);
    }
    std::string path;
};

void UseProcessDataHome()
{
    static ProcessDataHome home;
    if (!TemporaryDataHome::AnyAlive()) setenv("XDG_DATA_HOME", home.path.c_str(), 1);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// HeadlessHost

HeadlessHost::HeadlessHost(bool connectHost, float sampleRate)
{
    Begin(sampleRate);
    instrument = std::make_unique<Torvane>(connectHost ? &HeadlessHost::Callback : nullptr);
    if (connectHost) Connect();
    SetSampleRate(sampleRate);
}

HeadlessHost::HeadlessHost(Maker const& make, float sampleRate)
{
    Begin(sampleRate);
    instrument = make(&HeadlessHost::Callback);
    Connect();
    SetSampleRate(sampleRate);
}

void HeadlessHost::Begin(float sampleRate)
{
    UseProcessDataHome();
    timeInfo.sampleRate = sampleRate;
    timeInfo.tempo = 120.0;
    timeInfo.timeSigNumerator = 4;
    timeInfo.timeSigDenominator = 4;
    timeInfo.flags = kVstTempoValid;
}

void HeadlessHost::Connect()
{
    // As the entry does: the host gets the record, then the plug-in may call it.
    Effect()->resvd1 = reinterpret_cast<VstIntPtr>(this);
    instrument->markHostConnected();
}

// The instrument goes first, while its record still leads to this host.
HeadlessHost::~HeadlessHost()
{
    instrument.reset();
}

VstIntPtr HeadlessHost::Callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr, void*,
                                 float opt)
{
    // Calls made while the instrument is being built come before the host knows the record.
    auto* host = effect != nullptr ? reinterpret_cast<HeadlessHost*>(effect->resvd1) : nullptr;
    if (host == nullptr)
    {
        if (opcode == audioMasterAutomate) ++earlyAutomations;
        return opcode == audioMasterVersion ? kHostVersion : 0;
    }
    ++host->hostCalls;
    return host->Answer(opcode, index, opt);
}

VstIntPtr HeadlessHost::Answer(VstInt32 opcode, VstInt32 index, float opt)
{
    switch (opcode)
    {
    case audioMasterVersion:
        return kHostVersion;
    case audioMasterAutomate:
    {
        std::lock_guard<std::mutex> hold(automationMutex);
        automations.push_back({index, opt});
        automationCalls.push_back({opcode, index, opt});
        return 0;
    }
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
    {
        std::lock_guard<std::mutex> hold(automationMutex);
        automationCalls.push_back({opcode, index, 0.0f});
        return 1;
    }
    case audioMasterGetTime:
        return reinterpret_cast<VstIntPtr>(&timeInfo);
    case audioMasterUpdateDisplay:
        ++displayUpdates;
        if (onDisplayUpdate) onDisplayUpdate();
        return 1;
    default:
        return 0;
    }
}

VstIntPtr HeadlessHost::CloseInstance()
{
    AEffect* const e = Effect();
    // effClose deletes the instance.
    (void)instrument.release();
    return e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}

void HeadlessHost::SetSampleRate(float rate)
{
    timeInfo.sampleRate = rate;
    Effect()->dispatcher(Effect(), effSetSampleRate, 0, 0, nullptr, rate);
}

void HeadlessHost::SetTempo(double bpm)
{
    timeInfo.tempo = bpm;
}

void HeadlessHost::SetPlaying(bool playing)
{
    VstInt32 const was = timeInfo.flags & kVstTransportPlaying;
    timeInfo.flags = kVstTempoValid | (playing ? kVstTransportPlaying : 0);
    if (was != (timeInfo.flags & kVstTransportPlaying)) timeInfo.flags |= kVstTransportChanged;
}

void HeadlessHost::QueueMidi(int status, int data1, int data2, long offset)
{
    VstMidiEvent e{};
    e.type = kVstMidiType;
    e.byteSize = static_cast<VstInt32>(sizeof e);
    e.deltaFrames = static_cast<VstInt32>(offset);
    e.midiData[0] = static_cast<char>(status);
    e.midiData[1] = static_cast<char>(data1);
    e.midiData[2] = static_cast<char>(data2);
    queued.push_back(e);
}

void HeadlessHost::NoteOn(int key, int velocity, long offset, int channel)
{
    QueueMidi(0x90 | (channel & 0x0F), key, velocity, offset);
}

void HeadlessHost::NoteOff(int key, long offset, int channel)
{
    QueueMidi(0x80 | (channel & 0x0F), key, 0, offset);
}

void HeadlessHost::ControlChange(int controller, int value, long offset, int channel)
{
    QueueMidi(0xB0 | (channel & 0x0F), controller, value, offset);
}

void HeadlessHost::Render(long frames)
{
    if (!queued.empty())
    {
        // A VstEvents header followed by room for every pointer, as hosts allocate it.
        std::size_t const bytes = sizeof(VstEvents) + queued.size() * sizeof(VstEvent*);
        std::vector<unsigned char> block(bytes);
        auto* events = reinterpret_cast<VstEvents*>(block.data());
        events->numEvents = static_cast<VstInt32>(queued.size());
        // The record declares two entries; the block holds them all.
        VstEvent** list = events->events;
        for (std::size_t i = 0; i < queued.size(); ++i)
            list[i] = reinterpret_cast<VstEvent*>(&queued[i]);
        Effect()->dispatcher(Effect(), effProcessEvents, 0, 0, events, 0.0f);
        queued.clear();
    }

    left.assign(static_cast<std::size_t>(std::max<long>(frames, 0)), 0.0f);
    right.assign(left.size(), 0.0f);
    float* outputs[2] = {left.data(), right.data()};
    Effect()->processReplacing(Effect(), nullptr, outputs, static_cast<VstInt32>(frames));
    timeInfo.flags &= ~kVstTransportChanged;
}

float HeadlessHost::Peak() const
{
    float peak = 0.0f;
    for (std::size_t i = 0; i < left.size(); ++i)
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    return peak;
}

bool HeadlessHost::AllFinite() const
{
    return audio::AllFinite(left) && audio::AllFinite(right);
}

std::vector<unsigned char> HeadlessHost::GetState()
{
    void* data = nullptr;
    auto const size = Effect()->dispatcher(Effect(), effGetChunk, 0, 0, &data, 0.0f);
    if (data == nullptr || size <= 0) return {};
    auto const* bytes = static_cast<unsigned char const*>(data);
    return std::vector<unsigned char>(bytes, bytes + size);
}

void HeadlessHost::SetState(std::vector<unsigned char> const& block)
{
    // The plug-in gets its own copy, as a host hands over a buffer it keeps.
    std::vector<unsigned char> copy(block);
    Effect()->dispatcher(Effect(), effSetChunk, 0, static_cast<VstIntPtr>(copy.size()),
                         copy.empty() ? nullptr : copy.data(), 0.0f);
}

void HeadlessHost::SetParameter(int index, float value)
{
    Effect()->setParameter(Effect(), index, value);
}

float HeadlessHost::GetParameter(int index)
{
    return Effect()->getParameter(Effect(), index);
}

std::string HeadlessHost::GetParameterName(int index)
{
    char text[64] = {};
    Effect()->dispatcher(Effect(), effGetParamName, index, 0, text, 0.0f);
    return text;
}

std::vector<HeadlessHost::Automation> HeadlessHost::TakeAutomations()
{
    std::lock_guard<std::mutex> hold(automationMutex);
    std::vector<Automation> taken;
    taken.swap(automations);
    return taken;
}

int HeadlessHost::EarlyAutomationCalls()
{
    return earlyAutomations.load();
}

std::vector<HeadlessHost::AutomationCall> HeadlessHost::TakeAutomationCalls()
{
    std::lock_guard<std::mutex> hold(automationMutex);
    std::vector<AutomationCall> taken;
    taken.swap(automationCalls);
    return taken;
}

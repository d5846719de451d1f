#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/Torvane.h"
#include "support/TemporaryDataHome.h"
#include "vst/VstAbi.h"

// A host without a window or an audio device, for tests and benchmarks. It builds the
// instrument the way the VST entry does (with a host callback of its own, then hands out the
// record) or with no host at all, and drives it through the VST calls a host makes:
// processEvents with the block's MIDI, then processReplacing; getChunk / setChunk for the state;
// setParameter / getParameter for automation.
//
// Unless a TemporaryDataHome is alive, the first host of the process points $XDG_DATA_HOME at a
// temporary folder of its own (removed at exit), so no test touches the user's folders.
class HeadlessHost
{
public:
    struct Automation
    {
        int index;
        float value;
    };
    // One of audioMasterAutomate, audioMasterBeginEdit, audioMasterEndEdit.
    struct AutomationCall
    {
        VstInt32 opcode;
        int index;
        float value; // the automate's
    };

    // connectHost false: the instrument gets a null host callback (no time information, no
    // automation reports). connectHost true: this host answers the instrument's calls and
    // records automation once the record has been handed out.
    explicit HeadlessHost(bool connectHost = true, float sampleRate = 44100.0f);
    // A connected host whose instrument `make` builds with the callback it is given (a derived
    // instrument that a test watches, say).
    using Maker = std::function<std::unique_ptr<Torvane>(audioMasterCallback)>;
    explicit HeadlessHost(Maker const& make, float sampleRate = 44100.0f);
    ~HeadlessHost();
    HeadlessHost(HeadlessHost const&) = delete;
    HeadlessHost& operator=(HeadlessHost const&) = delete;

    Torvane& Instrument() { return *instrument; }
    AEffect* Effect() { return instrument->getAeffect(); }
    // The host closes the instance through its record (effClose), which deletes it; nothing of
    // it is reached afterwards. Returns what effClose returned.
    VstIntPtr CloseInstance();

    void SetSampleRate(float rate);
    // The tempo and transport reported with every block (connected hosts only).
    void SetTempo(double bpm);
    void SetPlaying(bool playing);

    // Raw MIDI for the next block: status byte (channel included), two data bytes, offset.
    void QueueMidi(int status, int data1, int data2, long offset);
    void NoteOn(int key, int velocity, long offset = 0, int channel = 0);
    void NoteOff(int key, long offset = 0, int channel = 0);
    void ControlChange(int controller, int value, long offset = 0, int channel = 0);

    // Delivers the queued MIDI, then renders frames into Left()/Right() (processReplacing).
    void Render(long frames);
    std::vector<float> const& Left() const { return left; }
    std::vector<float> const& Right() const { return right; }
    // The largest |sample| of the last block, both channels.
    float Peak() const;
    // Every sample of the last block is finite.
    bool AllFinite() const;

    // The host state (getChunk) and its restore (setChunk).
    std::vector<unsigned char> GetState();
    void SetState(std::vector<unsigned char> const& block);

    // Host automation through the record.
    void SetParameter(int index, float value);
    float GetParameter(int index);
    std::string GetParameterName(int index);

    // Display updates (audioMasterUpdateDisplay) received so far (connected hosts only), and
    // what the host does inside each one (an older host idles the editor there).
    int DisplayUpdates() const { return displayUpdates.load(); }
    std::function<void()> onDisplayUpdate;
    // Automation reports received since the last call (connected hosts only).
    std::vector<Automation> TakeAutomations();
    // Automation reports and the begin and end of edits, in the order they came, since the last
    // call (connected hosts only).
    std::vector<AutomationCall> TakeAutomationCalls();
    // Every call the instance made to this host so far, whatever it asked (connected hosts only).
    int HostCalls() const { return hostCalls.load(); }
    // Automation reports that reached a host callback before any host had the record
    // (process-wide count; a plug-in must never make them).
    static int EarlyAutomationCalls();

private:
    static VstIntPtr Callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                              float opt);
    VstIntPtr Answer(VstInt32 opcode, VstInt32 index, float opt);
    void Begin(float sampleRate);
    void Connect();

    std::unique_ptr<Torvane> instrument;
    std::vector<VstMidiEvent> queued;
    std::vector<float> left;
    std::vector<float> right;
    VstTimeInfo timeInfo{};
    std::mutex automationMutex;
    std::vector<Automation> automations;
    std::vector<AutomationCall> automationCalls;
    std::atomic<int> hostCalls{0};
    std::atomic<int> displayUpdates{0};
};

// An instrument's state saved and restored directly, without a host record (instruments built
// with no host, or a load raced from another thread).
inline std::vector<unsigned char> SavedState(Torvane& t)
{
    int size = 0;
    auto const* data = static_cast<unsigned char const*>(t.SavePluginState(size));
    return data != nullptr ? std::vector<unsigned char>(data, data + size) : std::vector<unsigned char>();
}

inline bool RestoreSavedState(Torvane& t, std::vector<unsigned char> const& block)
{
    return t.RestorePluginState(const_cast<unsigned char*>(block.data()), static_cast<int>(block.size()));
}

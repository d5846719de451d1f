#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "framework/MidiEventListener.h"

class Parameter;
class Writer;
class Reader;

// Binds MIDI controllers to parameters. A parameter's popup starts learning;
// the next control-change message binds its controller number to that
// parameter; from then on each value of that controller sets the parameter
// once per audio block (NextBuffer). The mappings are kept in a file.
//
// Threads: MIDI messages and NextBuffer come from the audio thread, the
// learning commands from the editor's thread. The mappings are guarded by a
// small mutex of their own; the audio side only ever try-locks it. A message
// that finds the mutex busy is kept (latest value per controller) and taken in
// at the next block; pending values not applied stay for the next block. The
// audio side opens no file: a learn marks the mappings as unsaved, and
// DoPendingAutoSave (called from the editor's side, and at destruction)
// writes them.
class MidiLearnManager : public MidiEventListener
{
public:
    MidiLearnManager();
    ~MidiLearnManager() override;

    void StartListen(Parameter* p);
    // Null stops listening; otherwise only when p is the parameter listened to.
    void CancelListen(Parameter* p);
    bool IsListeningTo(Parameter* p);

    bool IsMapped(Parameter* p);
    // Removes every mapping of p and saves the mappings (when auto-saving).
    void UnmapParameter(Parameter* p);

    // Makes p findable by (name, instance name) for mappings read from a file.
    void RegisterGlobalParameter(Parameter* p);
    Parameter* FindGlobalParameter(char const* name, char const* instance);

    void ControlChangeMidiEvent(int channel, int controller, int value, long deltaFrames) override;
    // Once per audio block: applies the pending controller values.
    void NextBuffer();

    // Version 1.0, count, then per mapping: name, instance name, controller.
    void Save(Writer& w);
    // Replaces the mappings by those read. Records naming no registered
    // parameter are dropped; a truncated or corrupt record ends the reading and
    // the records before it are kept. Returns false when the data ended early
    // or held a bad record.
    bool Load(Reader& r);

    // Stores the path, turns auto-saving on and loads the file.
    void AutoLoadAndSave(char const* path);
    // Writes the file (creating missing folders); false when auto-saving is off
    // or the file cannot be written.
    bool DoAutoSave();
    // Loads the file; a missing file leaves the mappings as they are.
    bool DoAutoLoad();
    // Writes the file when a learn has changed the mappings since the last save.
    bool DoPendingAutoSave();
    // What the user is to be told of the saves since the last call, once: that saving failed
    // and why (told once until a save succeeds), or that the file was saved but its folder
    // could not be synced. Empty when there is nothing to tell.
    std::string TakeSaveReport();

    int NumMappings();

private:
    struct Mapping
    {
        Parameter* parameter;
        int controller;
        int pending; // 0-127, -1 when none
    };
    struct RegistryEntry
    {
        std::string name;
        std::string instance;
        Parameter* parameter;
    };
    struct Application
    {
        Parameter* parameter;
        float normalised;
    };

    // Both run with the mutex held.
    void TakeControlChange(int controller, int value);
    void TakeDeferredMessages();
    Parameter* FindRegistered(char const* name, char const* instance);
    // Grows the audio side's storage so that its next learn allocates nothing.
    void ReserveForLearn();

    std::mutex mutex;
    Parameter* listened = nullptr;
    std::vector<Mapping> mappings;
    std::vector<RegistryEntry> registry;
    // NextBuffer's scratch, the audio side's alone: it applies the values after releasing the
    // mutex, so nothing else may touch (or grow) it. Values beyond it wait for the next block.
    static constexpr int kMaxAppliedPerBlock = 256;
    Application toApply[kMaxAppliedPerBlock] = {};
    int numToApply = 0;
    // Messages that found the mutex busy: value per controller, -1 when none.
    std::atomic<int> deferred[128];
    std::atomic<bool> unsaved{false};
    // Guarded by the mutex: the message not yet taken, and whether the saves are failing.
    std::string saveReport;
    bool saveFailing = false;
    bool autoSave = false;
    std::string filePath;
};

#include "framework/MidiLearn.h"

#include <algorithm>
#include <cstring>

#include "framework/Parameter.h"
#include "framework/Paths.h"
#include "framework/PluginBase.h"
#include "framework/SaveReport.h"
#include "framework/Streams.h"
#include "framework/String.h"

namespace
{

constexpr int kNumControllers = 128;
// Names are at most 255 characters (Parameter::kMaxNameLength).
constexpr std::size_t kNameCapacity = 256;

} // namespace

MidiLearnManager::MidiLearnManager()
{
    for (std::atomic<int>& d : deferred)
        d.store(-1, std::memory_order_relaxed);
}

MidiLearnManager::~MidiLearnManager()
{
    DoPendingAutoSave();
}

void MidiLearnManager::ReserveForLearn()
{
    mappings.reserve(mappings.size() + 1);
}

void MidiLearnManager::StartListen(Parameter* p)
{
    DoPendingAutoSave();
    {
        std::lock_guard<std::mutex> hold(mutex);
        ReserveForLearn();
        listened = p;
    }
    // The mapping itself is made by the next controller message (on the audio thread); the
    // user's edit is starting the learn.
    EditorInput::MarkEdited();
}

void MidiLearnManager::CancelListen(Parameter* p)
{
    std::lock_guard<std::mutex> hold(mutex);
    if (p == nullptr || p == listened) listened = nullptr;
}

bool MidiLearnManager::IsListeningTo(Parameter* p)
{
    std::lock_guard<std::mutex> hold(mutex);
    return listened == p;
}

bool MidiLearnManager::IsMapped(Parameter* p)
{
    std::lock_guard<std::mutex> hold(mutex);
    return std::any_of(mappings.begin(), mappings.end(), [p](Mapping const& m) { return m.parameter == p; });
}

void MidiLearnManager::UnmapParameter(Parameter* p)
{
    {
        std::lock_guard<std::mutex> hold(mutex);
        std::erase_if(mappings, [p](Mapping const& m) { return m.parameter == p; });
    }
    EditorInput::MarkEdited();
    // A removed mapping must not come back at the next start.
    DoAutoSave();
}

int MidiLearnManager::NumMappings()
{
    std::lock_guard<std::mutex> hold(mutex);
    return static_cast<int>(mappings.size());
}

void MidiLearnManager::RegisterGlobalParameter(Parameter* p)
{
    std::lock_guard<std::mutex> hold(mutex);
    registry.push_back({p->GetName(), p->GetInstanceName(), p});
}

Parameter* MidiLearnManager::FindGlobalParameter(char const* name, char const* instance)
{
    std::lock_guard<std::mutex> hold(mutex);
    return FindRegistered(name, instance);
}

Parameter* MidiLearnManager::FindRegistered(char const* name, char const* instance)
{
    for (RegistryEntry const& e : registry)
        if (e.name == name && e.instance == instance) return e.parameter;
    return nullptr;
}

void MidiLearnManager::ControlChangeMidiEvent(int, int controller, int value, long)
{
    if (controller < 0 || controller >= kNumControllers) return;
    if (!mutex.try_lock())
    {
        // The editor's side holds the mappings: keep the value for the next block.
        deferred[controller].store(value & 0x7F, std::memory_order_release);
        return;
    }
    // Earlier messages that were kept come first, so a newer value wins.
    TakeDeferredMessages();
    TakeControlChange(controller, value & 0x7F);
    mutex.unlock();
}

void MidiLearnManager::TakeDeferredMessages()
{
    for (int c = 0; c < kNumControllers; ++c)
    {
        int const v = deferred[c].exchange(-1, std::memory_order_acq_rel);
        if (v >= 0) TakeControlChange(c, v);
    }
}

void MidiLearnManager::TakeControlChange(int controller, int value)
{
    if (listened != nullptr)
    {
        // The learning message's own value is not applied. StartListen made
        // room, so this allocates nothing.
        mappings.push_back({listened, controller, -1});
        listened = nullptr;
        unsaved.store(true, std::memory_order_release);
        return;
    }
    for (Mapping& m : mappings)
        if (m.controller == controller) m.pending = value;
}

void MidiLearnManager::NextBuffer()
{
    if (!mutex.try_lock()) return; // pending values wait for the next block

    TakeDeferredMessages();
    numToApply = 0;
    for (Mapping& m : mappings)
    {
        if (m.pending == -1) continue;
        if (numToApply == kMaxAppliedPerBlock) break; // the rest stays pending
        toApply[numToApply++] = {m.parameter, static_cast<float>(m.pending) / 127.0f};
        m.pending = -1;
    }
    mutex.unlock();

    // Listeners run without the mutex held, so they may ask the manager again.
    for (int i = 0; i < numToApply; ++i)
        *toApply[i].parameter = toApply[i].parameter->UnNormalise(toApply[i].normalised);
}

void MidiLearnManager::Save(Writer& w)
{
    struct Record
    {
        std::string name, instance;
        int controller;
    };
    std::vector<Record> records;
    {
        std::lock_guard<std::mutex> hold(mutex);
        records.reserve(mappings.size());
        for (Mapping const& m : mappings)
            records.push_back({m.parameter->GetName(), m.parameter->GetInstanceName(), m.controller});
    }

    w.Write(1.0f);
    w.Write(static_cast<int>(records.size()));
    for (Record const& r : records)
    {
        w.Write(r.name.c_str());
        w.Write(r.instance.c_str());
        w.Write(r.controller);
    }
}

bool MidiLearnManager::Load(Reader& r)
{
    float version = 0.0f; // not checked
    int count = 0;
    if (!r.Read(&version) || !r.Read(&count) || count < 0) return false;

    std::vector<Mapping> loaded;
    bool complete = true;
    char name[kNameCapacity];
    char instance[kNameCapacity];
    for (int i = 0; i < count; ++i)
    {
        int controller = -1;
        if (!r.Read(name, sizeof name) || !r.Read(instance, sizeof instance) || !r.Read(&controller) ||
            controller < 0 || controller >= kNumControllers)
        {
            complete = false;
            break;
        }
        if (Parameter* p = FindGlobalParameter(name, instance)) loaded.push_back({p, controller, -1});
    }

    std::lock_guard<std::mutex> hold(mutex);
    mappings.swap(loaded);
    // Room for a learn that may be under way (StartListen made it in the old vector).
    mappings.reserve(mappings.size() + 1);
    return complete;
}

void MidiLearnManager::AutoLoadAndSave(char const* path)
{
    filePath = path != nullptr ? path : "";
    autoSave = true;
    DoAutoLoad();
}

bool MidiLearnManager::DoAutoSave()
{
    if (!autoSave || filePath.empty()) return false;

    String folder(filePath.c_str());
    if (PathManager::PathMakeParent(folder) > 0 && !PathManager::Exists(folder))
        PathManager::CreateFolder(folder);

    // Written beside the file and moved over it, so a failed write leaves the
    // previous mappings in place.
    ReplacingFileWriter w;
    if (w.Open(filePath.c_str())) Save(w);
    bool const saved = w.Close();
    SaveOutcome const outcome = w.Outcome();
    // The words are made before the mutex is taken: the audio thread tries it.
    std::string report =
        !saved ? WithReason("Could not save the MIDI-learn mappings", outcome)
        : outcome.folderNotSynced != 0
            ? FolderNotSyncedText("The MIDI-learn mappings were saved", outcome.folderNotSynced)
            : std::string();
    std::lock_guard<std::mutex> hold(mutex);
    // A failure is told once, however often the save is tried again, until one succeeds.
    if (!report.empty() && (saved || !saveFailing)) saveReport.swap(report);
    saveFailing = !saved;
    return saved;
}

std::string MidiLearnManager::TakeSaveReport()
{
    std::lock_guard<std::mutex> hold(mutex);
    std::string report;
    report.swap(saveReport);
    return report;
}

bool MidiLearnManager::DoAutoLoad()
{
    if (!autoSave || filePath.empty()) return false;
    FileReader r;
    if (!r.Open(filePath.c_str())) return false;
    return Load(r);
}

bool MidiLearnManager::DoPendingAutoSave()
{
    if (!unsaved.exchange(false, std::memory_order_acq_rel)) return false;
    if (DoAutoSave()) return true;
    if (autoSave) unsaved.store(true, std::memory_order_release); // try again later
    return false;
}

#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <thread>

#include "framework/Locks.h"
#include "framework/Notifications.h"
#include "framework/ParameterHost.h"

class AutomatableParameterServer;
class EffectGUIBase;

// The plug-in mutex. It knows which thread holds it, and it is where reports to the host wait:
// a report raised while a thread holds the mutex (a parameter loaded by a patch load, a MIDI-learn
// value applied inside a block) is queued, and the same thread sends the queued reports, in the
// order they were raised, right after its last claim is released. So no host callback runs under
// the mutex, and a host that waits on its audio thread inside its callback can't deadlock with it.
//
// The queue is fixed in size and is written only by the holder: raising a report allocates
// nothing, on any thread. More reports in one hold than the queue takes keep only the latest value
// of a parameter already queued (the host still learns every final value).
class PluginMutex : public AudioAPI::Mutex
{
public:
    static constexpr int kMaxQueuedReports = 256;

    void Claim() override;
    void Release() override;
    bool TryClaim() override;
    // True when the calling thread holds the mutex.
    bool HeldByThisThread() const;
    // Queues a report for server when the calling thread holds the mutex (true); false otherwise,
    // and the caller sends it itself.
    bool Defer(AutomatableParameterServer* server, int index, float value);
    // Reports waiting in the queue (for tests; only meaningful to the holder).
    int QueuedReports() const { return queued; }

private:
    struct Report
    {
        AutomatableParameterServer* server;
        int index;
        float value;
    };
    void Claimed();
    // Takes the queue, releases the mutex, then sends.
    void ReleaseAndSend();

    std::atomic<std::thread::id> owner{};
    int depth = 0;  // claims of the holder
    int queued = 0; // entries of reports in use
    Report reports[kMaxQueuedReports] = {};
};

// How the host adapter asks a plug-in for its state as one block of bytes and
// gives it back. The base has no state.
class PluginState
{
public:
    virtual ~PluginState() = default;
    // The state block, valid until the next call; the base gives null and size 0.
    virtual void* SavePluginState(int& size);
    // True when the block was taken; the base ignores it and answers false.
    virtual bool RestorePluginState(void* data, int size);
};

// The host-independent core of every plug-in object: its parameter host, a
// transport listener, the plug-in mutex, the open editor and the queue through
// which the plug-in asks the editor to redraw.
//
// Locking. The plug-in mutex guards the editor pointer and the queue's use:
// attaching, detaching, pushing and draining all run under it. The queue's own
// mutex guards the list. Lock order: the plug-in mutex is always taken before
// the queue's mutex, never the other way round. Both are recursive, so code
// that holds them may attach, detach or push again.
class PluginBase : public ParameterHost, public TransportListener
{
public:
    struct GUINotification
    {
        int type = 0;               // 0 redraw everything, 1 one specific item
        int id = 0;                 // the item, for type 1 (the editor's numbering)
        std::shared_ptr<void> data; // optional payload shared with the editor
    };

    // Notifications in arrival order under a recursive mutex of their own.
    class GUINotificationQueue
    {
    public:
        GUINotificationQueue() = default;
        GUINotificationQueue(GUINotificationQueue const&) = delete;
        GUINotificationQueue& operator=(GUINotificationQueue const&) = delete;

        void Push(GUINotification const& n);
        bool NotEmpty();
        // The front entry, removed. On an empty queue: a redraw-everything entry.
        GUINotification Pop();
        void Clear();
        AudioAPI::Mutex& GetMutex() { return mutex; }

    private:
        AudioAPI::Mutex mutex;
        std::list<GUINotification> entries;
    };

    // The int and the first text are not used; a root path sets the folders below it.
    PluginBase(int unused, char const* unusedIdentity, char const* rootPath);
    ~PluginBase() override;

    bool HasGUI();
    EffectGUIBase* GetGUI();
    // Attaches (or with null detaches) the editor: clears the queue, then
    // GUIOpened or GUIClosed, all under the plug-in mutex.
    void SetGUI(EffectGUIBase* gui);

    // With an editor attached: queue a notification and tell the editor,
    // which drains the queue at once on this thread (ProcessGUINotifications).
    void UpdateGUIAll();
    void UpdateGUISpecific(int id, std::shared_ptr<void> data);
    // The payload stays owned by the caller.
    void UpdateGUISpecific(int id, void* data);
    // The editor's drain: under the plug-in mutex and then the queue's mutex,
    // pops every entry and hands it to the attached editor's UpdateAll (type 0)
    // or UpdateSpecific (other types). Without an editor the queue is emptied.
    void ProcessGUINotifications();

    virtual void Render(float* inL, float* inR, float* outL, float* outR, long frames, int outputPair) = 0;
    virtual void GUIOpened();
    virtual void GUIClosed();
    // The adapter renders through this.
    virtual void CallGenericRender(float* inL, float* inR, float* outL, float* outR, long frames,
                                   int outputPair);

    AudioAPI::Mutex& GetMutex() { return mutex; }
    PluginMutex& GetPluginMutex() { return mutex; }
    GUINotificationQueue& GetGUINotificationQueue() { return queue; }
    long GetNumParameters() const { return numParameters; }
    void SetNumParameters(long n) { numParameters = n; }

private:
    EffectGUIBase* editor = nullptr; // guarded by mutex
    long numParameters = 0;
    PluginMutex mutex;
    GUINotificationQueue queue;
};

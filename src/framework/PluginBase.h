#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "framework/Locks.h"
#include "framework/Notifications.h"
#include "framework/ParameterHost.h"

class AutomatableParameterServer;
class InstanceLife;
class PluginEditor;

// The plug-in mutex. It knows which thread holds it, and it is where reports to the host wait:
// a report raised while a thread holds the mutex (a parameter loaded by a patch load, a MIDI-learn
// value applied inside a block) is queued, and the same thread sends the queued reports, in the
// order they were raised, right after its last claim is released. So no host callback runs under
// the mutex, and a host that waits on its audio thread inside its callback can't deadlock with it.
//
// The queue is fixed in size and is written only by the holder: raising a report allocates
// nothing, on any thread. A parameter is queued once per hold: a later report of it replaces the
// value queued, so the host learns each final value once (and, through the server, only when it
// differs from what the host already knows). More parameters in one hold than the queue takes
// share its last entry. Each report carries whether the change was the user's, which only the
// changing thread can tell (AutomatableParameterServer::IsUserChange).
class PluginMutex : public AudioAPI::Mutex
{
public:
    static constexpr int kMaxQueuedReports = 256;

    void Release() override;
    // Queues a report for server when the calling thread holds the mutex (true); false otherwise,
    // and the caller sends it itself.
    bool Defer(AutomatableParameterServer* server, int index, float value, bool byUser);
    // Reports waiting in the queue (for tests; only meaningful to the holder).
    int QueuedReports() const { return queued; }

private:
    struct Report
    {
        AutomatableParameterServer* server;
        int index;
        float value;
        bool byUser;
    };
    // Takes the queue, releases the mutex, then sends.
    void ReleaseAndSend();

    int queued = 0; // entries of reports in use
    Report reports[kMaxQueuedReports] = {};
};

class PluginBase;

// Whose editor the calling thread is handling the user's input for. The toolkit opens a scope
// around every press and key it delivers to an editor's windows (a dialog's windows inherit the
// editor that opened the dialog); the timers' pump and the editor's drain open a scope of
// nobody, so what they do on the way (following the play position, refreshes after a host's
// change) is no edit of the user's. Scopes nest on their thread, which is the editors' loop
// thread: one thread at a time holds scopes, and any other thread asking learns "nobody" from an
// atomic thread id alone (the audio thread never touches thread-local storage here).
class EditorInput
{
public:
    class Scope
    {
    public:
        // null: the input of nobody's editor.
        explicit Scope(PluginBase* plugin);
        ~Scope();
        Scope(Scope const&) = delete;
        Scope& operator=(Scope const&) = delete;

    private:
        PluginBase* outer;
    };
    // The plug-in of the innermost scope on the calling thread, or null.
    static PluginBase* Current();
    // Marks the plug-in of the innermost scope (PluginBase::MarkEditedByEditor), for the edits
    // made where the plug-in is not at hand (a parameter's new value).
    static void MarkEdited();
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
// transport listener, the plug-in mutex, the open editor and the mailbox through
// which the plug-in asks the editor to redraw.
//
// The editor lives on the thread that attached it. The plug-in posts requests from any
// thread: plain requests as bits of an atomic word (no lock, no allocation, so the audio
// thread may post), requests that carry data as entries of the notification queue. The
// editor's thread takes and applies them in ProcessGUINotifications, outside the plug-in
// mutex; no editor method is ever called on another thread or under that mutex.
//
// Locking. Attaching and detaching run under the plug-in mutex; the editor pointer and its
// thread are atomics, so the drain reads them without waiting for the mutex. The queue's own mutex guards the
// list. Lock order: the plug-in mutex is always taken before the queue's mutex, never the other way round.
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
        // Pops the front entry into `n`; false (and `n` untouched) on an empty queue.
        bool TryPop(GUINotification& n);
        std::size_t Size();
        void Clear();
        AudioAPI::Mutex& GetMutex() { return mutex; }

    private:
        AudioAPI::Mutex mutex;
        std::list<GUINotification> entries;
    };

    // Request bits of the mailbox. The base uses the lowest; a derived plug-in numbers its
    // own from kFirstDerivedEditorRequest up.
    static constexpr std::uint32_t kEditorUpdateAll = 1u << 0;
    static constexpr std::uint32_t kFirstDerivedEditorRequest = 1u << 1;

    // The int and the first text are not used; a root path sets the folders below it.
    PluginBase(int unused, char const* unusedIdentity, char const* rootPath);
    ~PluginBase() override;

    // Any thread.
    bool HasGUI();
    // Any thread may test the result; only the editor's own thread may call through it, and
    // never while holding the plug-in mutex.
    PluginEditor* GetGUI();
    // The editor's thread: attaches (or with null detaches) the editor under the plug-in
    // mutex: clears the mailbox, records the calling thread as the editor's, then GUIOpened
    // or GUIClosed. A detached editor receives no call afterwards.
    void SetGUI(PluginEditor* gui);

    // The adapter's count of the host's calls into this instance (platform/InstanceLife.h); none
    // for an instance no host drives.
    void BindInstanceLife(InstanceLife* life) { instanceLife = life; }
    // An open editor keeps its instance: the editor host holds it from the open until the
    // editor is disposed of, on whatever thread that happens, so the last of the host's calls
    // and the editor's disposal deletes a closed instance. Hold only from inside a counted
    // call or another hold; a release may delete the instance (nothing of it may be touched
    // after). Nothing without a bound life.
    void HoldForEditor();
    void ReleaseEditorHold();
    // True once the host closed the instance.
    bool Closing() const;

    // The editors' thread, as the editor host knows it: true on a thread inside one of its
    // entries. The drain and the requests reach the editor there as on the thread that
    // attached it. Installed once by the editor host.
    static void SetEditorThreadTest(bool (*isEditorThread)());

    // Edits the user made in this plug-in's editor to what the instance stores (outside the
    // host's automation). Any thread, no lock, no allocation: marks the instance when the
    // calling thread is handling the user's input in its editor (EditorInput); otherwise (a
    // host call, the audio thread, a timer, a drain) nothing happens.
    void MarkEditedByEditor();
    // Takes the mark: true once after edits were marked.
    bool TakeEditorEdits() { return editedByEditor.exchange(false, std::memory_order_acq_rel); }

    // Any thread, no lock, no allocation: asks the attached editor for the requests in
    // `bits`; nothing without an editor. Repeated requests before a drain merge into one.
    void PostEditorRequests(std::uint32_t bits);
    // Any thread: true while requests wait for the editor's drain.
    bool EditorRequestsPending();
    // Any thread (no lock, no allocation): the attached editor refreshes everything.
    void UpdateGUIAll();
    // Any thread but the audio thread (the entry is allocated and the queue's mutex taken):
    // with an editor attached, queues a refresh of `id` with its data.
    void UpdateGUISpecific(int id, std::shared_ptr<void> data);
    // The payload stays owned by the caller.
    void UpdateGUISpecific(int id, void* data);
    // The editor's drain, called on the editor's thread (its idle or timer) outside the
    // plug-in mutex: applies the posted request bits (ApplyEditorRequests), then delivers the
    // queued entries in order to UpdateAll (type 0) or UpdateSpecific, then tells the editor
    // with NotificationQueueChanged. Requests posted meanwhile are delivered too, up to a few
    // rounds; later ones wait for the next drain. Called on another thread, under the plug-in
    // mutex or without an editor it does nothing.
    void ProcessGUINotifications();

    virtual void Render(float* inL, float* inR, float* outL, float* outR, long frames, int outputPair) = 0;
    // Under the plug-in mutex, on the editor's thread.
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

protected:
    // Editor's thread, outside the plug-in mutex (called by the drain): carries out the
    // request bits taken from the mailbox. The base refreshes everything for kEditorUpdateAll;
    // a derived plug-in handles its own bits and passes the rest on. Fetch the editor with
    // EditorOnThisThread before each call: an update may detach it.
    virtual void ApplyEditorRequests(std::uint32_t bits);
    // The attached editor when the calling thread is the editor's and does not hold the
    // plug-in mutex, else null.
    PluginEditor* EditorOnThisThread();

private:
    // Written under the mutex (the thread first, then the editor); read without it, so the
    // editor's thread never waits for an audio block to find its editor.
    std::atomic<PluginEditor*> editor{nullptr};
    std::atomic<std::thread::id> editorThread{};
    std::atomic<bool> editorAttached{false};
    std::atomic<std::uint32_t> editorRequests{0};
    InstanceLife* instanceLife = nullptr;
    std::atomic<bool> editedByEditor{false};
    long numParameters = 0;
    PluginMutex mutex;
    GUINotificationQueue queue;
};

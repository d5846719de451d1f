#include "framework/PluginBase.h"

#include <algorithm>
#include <cstring>

#include "framework/AutomatableParameterServer.h"
#include "framework/Paths.h"
#include "framework/PluginEditor.h"
#include "platform/InstanceLife.h"
#include "platform/Strand.h"

void* PluginState::SavePluginState(int& size)
{
    size = 0;
    return nullptr;
}

bool PluginState::RestorePluginState(void*, int)
{
    return false;
}

void PluginMutex::Release()
{
    if (queued > 0 && Depth() == 1 && HeldByCurrentThread())
    {
        ReleaseAndSend();
        return;
    }
    AudioAPI::Mutex::Release();
}

bool PluginMutex::Defer(AutomatableParameterServer* server, int index, float value, bool byUser)
{
    if (!HeldByCurrentThread()) return false;
    // The parameter's latest value replaces its queued one, and with it whose change it is; the
    // same value told again (a refresh) leaves the user's change the user's.
    for (int i = 0; i < queued; ++i)
    {
        Report& r = reports[i];
        if (r.server == server && r.index == index)
        {
            r.byUser = byUser || (r.byUser && std::memcmp(&r.value, &value, sizeof value) == 0);
            r.value = value;
            return true;
        }
    }
    if (queued < kMaxQueuedReports)
        reports[queued++] = Report{server, index, value, byUser};
    else
        reports[queued - 1] = Report{server, index, value, byUser};
    return true;
}

void PluginMutex::ReleaseAndSend()
{
    // Copied out while still held: the next holder may queue again at once.
    Report batch[kMaxQueuedReports];
    int const n = queued;
    std::copy_n(reports, n, batch);
    queued = 0;
    AudioAPI::Mutex::Release();
    for (int i = 0; i < n; ++i)
        batch[i].server->SendReport(batch[i].index, batch[i].value, batch[i].byUser);
}

void PluginBase::GUINotificationQueue::Push(GUINotification const& n)
{
    AudioAPI::Lock hold(mutex);
    entries.push_back(n);
}

bool PluginBase::GUINotificationQueue::TryPop(GUINotification& n)
{
    AudioAPI::Lock hold(mutex);
    if (entries.empty()) return false;
    n = std::move(entries.front());
    entries.pop_front();
    return true;
}

std::size_t PluginBase::GUINotificationQueue::Size()
{
    AudioAPI::Lock hold(mutex);
    return entries.size();
}

bool PluginBase::GUINotificationQueue::NotEmpty()
{
    AudioAPI::Lock hold(mutex);
    return !entries.empty();
}

PluginBase::GUINotification PluginBase::GUINotificationQueue::Pop()
{
    AudioAPI::Lock hold(mutex);
    if (entries.empty()) return GUINotification{};
    GUINotification front = std::move(entries.front());
    entries.pop_front();
    return front;
}

void PluginBase::GUINotificationQueue::Clear()
{
    AudioAPI::Lock hold(mutex);
    entries.clear();
}

PluginBase::PluginBase(int, char const*, char const* rootPath)
{
    if (rootPath != nullptr) SetRootPath(rootPath);
}

PluginBase::~PluginBase() = default;

bool PluginBase::HasGUI()
{
    return editorAttached.load(std::memory_order_acquire);
}

PluginEditor* PluginBase::GetGUI()
{
    return editor.load();
}

void PluginBase::SetGUI(PluginEditor* gui)
{
    AudioAPI::Lock hold(mutex);
    queue.Clear();
    editorRequests.store(0, std::memory_order_relaxed);
    // The thread first: a drain reads the editor first, so it never pairs an old thread with a
    // new editor.
    editorThread.store(gui != nullptr ? std::this_thread::get_id() : std::thread::id());
    editor.store(gui);
    editorAttached.store(gui != nullptr, std::memory_order_release);
    if (gui != nullptr)
        GUIOpened();
    else
        GUIClosed();
}

void PluginBase::HoldForEditor()
{
    if (instanceLife != nullptr) instanceLife->Hold();
}

void PluginBase::ReleaseEditorHold()
{
    if (instanceLife != nullptr) instanceLife->Leave();
}

bool PluginBase::Closing() const
{
    return instanceLife != nullptr && instanceLife->Closing();
}

namespace
{
std::atomic<bool (*)()> editorThreadTest{nullptr};
} // namespace

void PluginBase::SetEditorThreadTest(bool (*isEditorThread)())
{
    editorThreadTest.store(isEditorThread);
}

void PluginBase::PostEditorRequests(std::uint32_t bits)
{
    if (bits == 0 || !editorAttached.load(std::memory_order_acquire)) return;
    editorRequests.fetch_or(bits, std::memory_order_acq_rel);
}

bool PluginBase::EditorRequestsPending()
{
    return editorRequests.load(std::memory_order_acquire) != 0 || queue.NotEmpty();
}

void PluginBase::UpdateGUIAll()
{
    PostEditorRequests(kEditorUpdateAll);
}

void PluginBase::UpdateGUISpecific(int id, std::shared_ptr<void> data)
{
    if (!editorAttached.load(std::memory_order_acquire)) return;
    queue.Push(GUINotification{1, id, std::move(data)});
}

void PluginBase::UpdateGUISpecific(int id, void* data)
{
    UpdateGUISpecific(id, std::shared_ptr<void>(data, [](void*) {}));
}

PluginEditor* PluginBase::EditorOnThisThread()
{
    if (mutex.HeldByCurrentThread()) return nullptr;
    PluginEditor* const e = editor.load();
    if (editorThread.load() == std::this_thread::get_id()) return e;
    bool (*const test)() = editorThreadTest.load();
    return test != nullptr && test() ? e : nullptr;
}

void PluginBase::ApplyEditorRequests(std::uint32_t bits)
{
    if ((bits & kEditorUpdateAll) == 0) return;
    if (PluginEditor* e = EditorOnThisThread()) e->UpdateAll();
}

namespace
{
// The scopes live on the editors' thread. Every other thread (the audio thread above all, whose
// parameter changes ask too) is turned away by the thread id alone, without touching
// thread-local storage (whose first use on a thread may allocate in a loaded library). The scopes
// of a handler belong to its strand: when it yields (a menu or dialog that waits across the
// host's calls), the host's own calls on that thread meanwhile find none.
struct InputScopes
{
    PluginBase* owner = nullptr;
    int depth = 0;
};
thread_local InputScopes inputScopes;
std::atomic<std::thread::id> editorInputThread{};

void NoteScopesThread()
{
    editorInputThread.store(inputScopes.depth > 0 ? std::this_thread::get_id() : std::thread::id(),
                            std::memory_order_release);
}
StrandLocalOf<InputScopes> const inputScopesLocal([]() -> InputScopes& { return inputScopes; },
                                                  &NoteScopesThread);
} // namespace

EditorInput::Scope::Scope(PluginBase* plugin) : outer(inputScopes.owner)
{
    inputScopes.owner = plugin;
    if (inputScopes.depth++ == 0) NoteScopesThread();
}

EditorInput::Scope::~Scope()
{
    inputScopes.owner = outer;
    if (--inputScopes.depth == 0) NoteScopesThread();
}

PluginBase* EditorInput::Current()
{
    if (editorInputThread.load(std::memory_order_acquire) != std::this_thread::get_id()) return nullptr;
    return inputScopes.owner;
}

void EditorInput::MarkEdited()
{
    if (PluginBase* p = Current()) p->MarkEditedByEditor();
}

void PluginBase::MarkEditedByEditor()
{
    if (EditorInput::Current() == this) editedByEditor.store(true, std::memory_order_release);
}

void PluginBase::ProcessGUINotifications()
{
    if (EditorOnThisThread() == nullptr) return;
    // What the drain applies (refreshes after a host's or the audio thread's change) is no
    // edit of the user's.
    EditorInput::Scope nobody(nullptr);
    // An update may post again (a refresh that moves a parameter): a few rounds take those
    // along, and a request that keeps posting itself waits for the next drain.
    constexpr int kRounds = 4;
    bool delivered = false;
    for (int round = 0; round < kRounds; ++round)
    {
        if (EditorOnThisThread() == nullptr) return;
        bool any = false;
        std::uint32_t const bits = editorRequests.exchange(0, std::memory_order_acq_rel);
        if (bits != 0)
        {
            any = true;
            ApplyEditorRequests(bits);
        }
        // At most the entries queued before this round. The queue's mutex is taken only to
        // pop, never across an update, so an update may queue again.
        std::size_t count = 0;
        {
            AudioAPI::Lock hold(queue.GetMutex());
            count = queue.Size();
        }
        for (std::size_t i = 0; i < count; ++i)
        {
            GUINotification n;
            if (!queue.TryPop(n)) break;
            any = true;
            PluginEditor* e = EditorOnThisThread();
            if (e == nullptr) return;
            if (n.type == 0)
                e->UpdateAll();
            else
                e->UpdateSpecific(n.id, n.data);
        }
        if (!any) break;
        delivered = true;
    }
    if (delivered)
        if (PluginEditor* e = EditorOnThisThread()) e->NotificationQueueChanged();
}

void PluginBase::GUIOpened() {}
void PluginBase::GUIClosed() {}

void PluginBase::CallGenericRender(float* inL, float* inR, float* outL, float* outR, long frames,
                                   int outputPair)
{
    Render(inL, inR, outL, outR, frames, outputPair);
}

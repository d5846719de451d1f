#include "framework/PluginBase.h"

#include <algorithm>

#include "framework/AutomatableParameterServer.h"
#include "framework/Paths.h"
#include "platform/GUI.h"

void* PluginState::SavePluginState(int& size)
{
    size = 0;
    return nullptr;
}

bool PluginState::RestorePluginState(void*, int)
{
    return false;
}

void PluginMutex::Claimed()
{
    if (depth++ == 0) owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void PluginMutex::Claim()
{
    AudioAPI::Mutex::Claim();
    Claimed();
}

bool PluginMutex::TryClaim()
{
    if (!AudioAPI::Mutex::TryClaim()) return false;
    Claimed();
    return true;
}

void PluginMutex::Release()
{
    if (--depth == 0)
    {
        owner.store(std::thread::id(), std::memory_order_relaxed);
        if (queued > 0)
        {
            ReleaseAndSend();
            return;
        }
    }
    AudioAPI::Mutex::Release();
}

bool PluginMutex::HeldByThisThread() const
{
    return owner.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

bool PluginMutex::Defer(AutomatableParameterServer* server, int index, float value)
{
    if (!HeldByThisThread()) return false;
    if (queued < kMaxQueuedReports)
    {
        reports[queued++] = Report{server, index, value};
        return true;
    }
    // Full: the parameter's latest value replaces its last queued one.
    for (int i = queued - 1; i >= 0; --i)
    {
        if (reports[i].server == server && reports[i].index == index)
        {
            reports[i].value = value;
            return true;
        }
    }
    reports[queued - 1] = Report{server, index, value};
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
        batch[i].server->AutomatableParameterChangeNotify(batch[i].index, batch[i].value);
}

void PluginBase::GUINotificationQueue::Push(GUINotification const& n)
{
    AudioAPI::Lock hold(mutex);
    entries.push_back(n);
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
    AudioAPI::Lock hold(mutex);
    return editor != nullptr;
}

EffectGUIBase* PluginBase::GetGUI()
{
    AudioAPI::Lock hold(mutex);
    return editor;
}

void PluginBase::SetGUI(EffectGUIBase* gui)
{
    AudioAPI::Lock hold(mutex);
    queue.Clear();
    editor = gui;
    if (gui != nullptr)
        GUIOpened();
    else
        GUIClosed();
}

void PluginBase::UpdateGUIAll()
{
    AudioAPI::Lock hold(mutex);
    if (editor == nullptr) return;
    queue.Push(GUINotification{0, 0, nullptr});
    editor->NotificationQueueChanged();
}

void PluginBase::UpdateGUISpecific(int id, std::shared_ptr<void> data)
{
    AudioAPI::Lock hold(mutex);
    if (editor == nullptr) return;
    queue.Push(GUINotification{1, id, std::move(data)});
    editor->NotificationQueueChanged();
}

void PluginBase::UpdateGUISpecific(int id, void* data)
{
    UpdateGUISpecific(id, std::shared_ptr<void>(data, [](void*) {}));
}

void PluginBase::ProcessGUINotifications()
{
    AudioAPI::Lock holdPlugin(mutex);
    AudioAPI::Lock holdQueue(queue.GetMutex());
    while (queue.NotEmpty())
    {
        GUINotification n = queue.Pop();
        if (editor == nullptr) continue;
        if (n.type == 0)
            editor->UpdateAll();
        else
            editor->UpdateSpecific(n.id, n.data);
    }
}

void PluginBase::GUIOpened() {}
void PluginBase::GUIClosed() {}

void PluginBase::CallGenericRender(float* inL, float* inR, float* outL, float* outR, long frames,
                                   int outputPair)
{
    Render(inL, inR, outL, outR, frames, outputPair);
}

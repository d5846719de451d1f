#include "toolkit/EffectGUIBase.h"

#include "framework/PluginBase.h"

namespace
{
constexpr int kDrainTimer = 1;
} // namespace

EffectGUIBase::EffectGUIBase(void* e, EditedPlugin edited) : effect(e), handed(edited) {}

EffectGUIBase::~EffectGUIBase()
{
    Detach();
}

template <typename Place> void EffectGUIBase::CreateUIWith(Place&& place)
{
    plugin = handed.plugin;
    instrument = handed.plugin != nullptr ? handed.instrument : nullptr;
    long w = 0;
    long h = 0;
    GetDimensions(w, h);
    place(w, h);
    CreateContent();
    Attach();
}

void EffectGUIBase::CreateUI(Window* parent, long px, long py)
{
    CreateUIWith([&](long w, long h) { CreateChildWindow(parent, w, h, px, py); });
}

void EffectGUIBase::CreateUI(WindowRef parent, long px, long py)
{
    CreateUIWith([&](long w, long h) { CreateChildWindow(parent, w, h, px, py); });
}

void EffectGUIBase::Attach()
{
    if (plugin == nullptr || attached) return;
    // Attached before GUIOpened runs, so a failure in it still detaches.
    attached = true;
    try
    {
        plugin->SetGUI(this);
    }
    catch (...)
    {
        Detach();
        throw;
    }
    StartTimer(kDrainTimer, kDrainPeriodMs);
}

void EffectGUIBase::Detach()
{
    if (!attached) return;
    attached = false;
    StopTimer(kDrainTimer);
    // Another root may have been attached since (the plug-in knows one editor at a time).
    if (plugin->GetGUI() == this) plugin->SetGUI(nullptr);
}

void EffectGUIBase::ProcessNotificationQueue()
{
    if (attached) plugin->ProcessGUINotifications();
}

void EffectGUIBase::TimerEvent(int id)
{
    if (id == kDrainTimer && attached && plugin->EditorRequestsPending()) ProcessNotificationQueue();
}

PluginBase* FindEditedPlugin(Window const* w)
{
    for (; w != nullptr; w = w->GetParentWindow())
        if (auto const* root = dynamic_cast<EffectGUIBase const*>(w)) return root->GetPlugin();
    return nullptr;
}

EditedPluginLock::EditedPluginLock(PluginBase* p) : plugin(p)
{
    if (plugin != nullptr) plugin->GetMutex().Claim();
}

EditedPluginLock::~EditedPluginLock()
{
    if (plugin != nullptr) plugin->GetMutex().Release();
}

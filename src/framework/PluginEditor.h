#pragma once

#include <memory>

// What a plug-in sees of its open editor. The editor lives on the thread that opened it (the
// host's main thread); the plug-in never calls it from another thread nor while holding the
// plug-in mutex. Its requests wait in the plug-in's mailbox until the editor's thread drains
// them (PluginBase::ProcessGUINotifications, from the editor's idle or timer), and the drain
// delivers them through these calls. Every operation does nothing by default.
class PluginEditor
{
public:
    virtual ~PluginEditor() = default;

    // Editor's thread, outside the plug-in mutex: a drain delivered at least one request; the
    // editor may repaint once here rather than at every update.
    virtual void NotificationQueueChanged() {}
    // Editor's thread, outside the plug-in mutex: refresh everything shown.
    virtual void UpdateAll() {}
    // Editor's thread, outside the plug-in mutex: refresh what `id` names; `data` stays alive
    // at least until the call returns.
    virtual void UpdateSpecific(int /*id*/, std::shared_ptr<void> /*data*/) {}
};

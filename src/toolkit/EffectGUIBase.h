#pragma once

#include <cstddef>
#include <memory>

#include "framework/Locks.h"
#include "framework/PluginEditor.h"
#include "framework/Timers.h"
#include "toolkit/Window.h"

class PluginBase;

// What the deliverable knows of the instance an editor is opened for.
struct EditedPlugin
{
    // The plug-in the editor attaches to; null when the handle names no live instance.
    PluginBase* plugin = nullptr;
    // The instance as the deliverable's instrument base, opaque to the toolkit (the editor
    // knows its type); null for an effect.
    void* instrument = nullptr;
};

// The base of an editor's root window. The host never sees it (it talks to the deliverable's
// editor loader); the root knows the plug-in instance it edits, attaches itself to it once its
// content is built and detaches before its content goes. The plug-in's requests and queued
// notifications reach it on its own thread, outside the plug-in mutex, through the plug-in's
// drain (PluginBase::ProcessGUINotifications), as UpdateAll and UpdateSpecific.
//
// Lifecycle: constructed over the plug-in the deliverable hands it (not attached) -> CreateUI
// (view placed, content built, attached: the plug-in's editor names this root, its queue
// emptied, GUIOpened) -> Detach (editor null, queue emptied, GUIClosed) -> destroyed. Whoever owns the root
// calls Detach before deleting it, so the plug-in never reaches a half-destroyed editor; the destructor
// repeats it harmlessly. Editor thread only.
//
// The plug-in interface is a virtual base: an instrument's editor root derives from this and
// from the instrument's editor interface, and both share it.
class EffectGUIBase : public Window, public virtual PluginEditor, private TimerListener
{
public:
    // How often the root drains the plug-in's requests from the event loop's timers, besides
    // the host's idle calls, in milliseconds.
    static constexpr unsigned kDrainPeriodMs = 40;

    // `effect` is the deliverable's handle of the instance; `edited`, the instance behind it,
    // as the deliverable found it (nothing: the root edits no plug-in).
    explicit EffectGUIBase(void* effect, EditedPlugin edited = {});
    ~EffectGUIBase() override;

    // The editor's fixed size.
    virtual void GetDimensions(long& width, long& height) = 0;
    void UpdateAll() override {}
    void UpdateSpecific(int /*id*/, std::shared_ptr<void> /*data*/) override {}
    // Builds pages and controls (the view exists, the plug-in is known, nothing is attached).
    virtual void CreateContent() = 0;

    // Places the editor's view inside `parent` (a window, or a top-level surface's root) at
    // (x, y), builds the content and attaches to the plug-in given to the constructor. An
    // exception from the content leaves nothing attached and passes on. A root that edits no
    // plug-in builds the content and attaches nothing.
    void CreateUI(Window* parent, long x, long y);
    void CreateUI(WindowRef parent, long x, long y);
    // A root of its own: the view is made but neither placed nor shown.
    void CreateUI(std::nullptr_t, long x, long y) { CreateUI(static_cast<Window*>(nullptr), x, y); }

    // Detaches from the plug-in under its mutex (its editor null, its queue emptied,
    // GUIClosed) when attached; nothing otherwise. No plug-in call reaches this root after.
    void Detach();
    bool IsAttached() const { return attached; }

    // The plug-in's drain on this thread (outside the plug-in mutex): posted requests and
    // queued notifications become UpdateAll / UpdateSpecific calls. Nothing when detached.
    void ProcessNotificationQueue();
    // Called by the drain after it delivered something; nothing by default (an editor may
    // repaint once here).
    void NotificationQueueChanged() override {}

    // The handle given to the constructor.
    void* GetEffect() const { return effect; }
    // The plug-in handed to the constructor, which CreateUI attaches to (null for none).
    PluginBase* GetHandedPlugin() const { return handed.plugin; }
    // The plug-in this root edits, from CreateUI on (null before, and for none). Stays known
    // after Detach, so controls still unbind under its mutex.
    PluginBase* GetPlugin() const { return plugin; }
    // The instance as an instrument (see EditedPlugin); null before CreateUI and for an effect.
    void* GetInstrument() const { return instrument; }

private:
    template <typename Place> void CreateUIWith(Place&& place);
    void Attach();
    void TimerEvent(int id) override;

    void* effect;
    EditedPlugin handed;
    PluginBase* plugin = nullptr;
    void* instrument = nullptr;
    bool attached = false;
};

// The plug-in edited by the editor root at or above `w` in the parent chain; null outside one.
PluginBase* FindEditedPlugin(Window const* w);

// Holds the plug-in mutex of a plug-in for the scope; nothing for null. Controls bind and unbind
// their parameter listeners inside one, for the plug-in their editor root edits: the host and
// the audio thread walk those lists only under that mutex.
class EditedPluginLock
{
public:
    explicit EditedPluginLock(PluginBase* plugin);
    // The plug-in of the editor root above `w` (FindEditedPlugin).
    explicit EditedPluginLock(Window const* w) : EditedPluginLock(FindEditedPlugin(w)) {}
    ~EditedPluginLock();
    EditedPluginLock(EditedPluginLock const&) = delete;
    EditedPluginLock& operator=(EditedPluginLock const&) = delete;

    PluginBase* Plugin() const { return plugin; }

private:
    PluginBase* plugin;
};

#pragma once

#include <atomic>

#include "platform/gfx/EditorWindowSystem.h"
#include "toolkit/EditorHost.h"
#include "toolkit/EffectGUIBase.h"
#include "vst/AEffEditor.h"
#include "vst/VstBase.h"
#include "vst/VstEntry.h"

namespace gfx
{
class Surface;
}

// Puts a window system in place of the X11 one (null: the X11 one again); returns the previous.
// The tests open editors in fake host windows of the headless back end.
EditorWindowSystem* SetEditorWindowSystem(EditorWindowSystem* system);

// The editor object the host sees: it answers the size question and hands open, idle and close
// to the editor host (toolkit/EditorHost.h), which owns the open editor. The host's window is
// an X window id: the editor gets one child window of ours, its own size, with its bottom on the
// host window's bottom (at y 0 when the host window is smaller). Neither the size question nor
// building a root touches the window system. Open, idle and close may come from any thread.
class VstGUILoader : public AEffEditor
{
public:
    explicit VstGUILoader(VstBase* plugin);
    ~VstGUILoader() override;

    // Once, right after construction: builds the editor root, registers this loader as the
    // plug-in's editor and takes the editor's size.
    void Init();

    // One rectangle for the process, {0, 0, height, width}, filled by the first call.
    bool getRect(ERect** rect) override;
    // False, with nothing built or attached, when the editor host refuses (see EditorHost::Open).
    // An editor already open is closed first. An open made while another one is under way on
    // this loader (on another thread) is refused at once.
    bool open(void* window) override;
    void close() override;
    // One turn of the event loop without waiting, then the plug-in's requests.
    void idle() override;
    // False: the loader never records the host window as AEffEditor::systemWindow.
    bool isOpen() override { return false; }

    virtual EffectGUIBase* CreateGUI(VstBase* plugin) = 0;

    // The editor root: the open one, else the one built for the next open (null after a close).
    EffectGUIBase* GetEditor() const;
    bool IsEditorOpen() const { return host.IsOpen(); }
    gfx::Surface* GetSurface() const { return host.Surface(); }

protected:
    VstBase* plugin;
    long width = 0;
    long height = 0;

private:
    EffectGUIBase* editor = nullptr; // built and not yet opened; the open under way owns it
    std::atomic<bool> opening{false};
    EditorHost host;
};

// The plug-in behind an editor handle of this adapter (the instance's effect object), for an
// editor root that needs no more than the plug-in base.
inline EditedPlugin EditedVstPlugin(void* effect)
{
    return EditedPlugin{
        effect != nullptr ? static_cast<VstBase*>(static_cast<AudioEffect*>(effect)) : nullptr, nullptr};
}

// The loader of a product's editor root GUI (constructed over the instance's effect handle).
template <class GUI> class GUILoader : public VstGUILoader
{
public:
    using VstGUILoader::VstGUILoader;
    EffectGUIBase* CreateGUI(VstBase* p) override { return new GUI(static_cast<AudioEffect*>(p)); }
};

template <class GUI> void AttachEditorLoader(VstBase* instance)
{
    auto* loader = new GUILoader<GUI>(instance);
    try
    {
        loader->Init();
    }
    catch (...)
    {
        // Registered with the instance only once the root is built.
        if (instance->getEditor() != loader) delete loader;
        throw;
    }
}

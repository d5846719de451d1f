#pragma once

#include <memory>

#include "vst/AEffEditor.h"
#include "vst/VstBase.h"
#include "vst/VstEntry.h"

class EffectGUIBase;
class Window;

namespace gfx
{
class Backend;
class Surface;
} // namespace gfx

// The window system editors open in. The X11 one (one xcb connection per process, opened by
// the first editor and closed with the last) unless another was put in its place: the tests
// open editors in fake host windows of the headless back end.
class EditorWindowSystem
{
public:
    virtual ~EditorWindowSystem() = default;
    // The back end for one more open editor (the event loop runs on it from now on), or null
    // when there is no display. Each non-null answer is matched by one Release.
    virtual gfx::Backend* Acquire() = 0;
    virtual void Release() = 0;
    // The size of the host's window; false when no such window exists.
    virtual bool HostWindowSize(void* window, int& width, int& height) = 0;
    // True once the window system went away under the open editors (they stay inert).
    virtual bool Lost() { return false; }
};

// Puts a window system in place of the X11 one (null: the X11 one again); returns the previous.
EditorWindowSystem* SetEditorWindowSystem(EditorWindowSystem* system);

// The editor object the host sees: it answers the size question, builds the editor root's
// content inside the host's window on open and deletes the root on close; the next open builds a
// fresh root. The host's window is an X window id: the editor gets one child window of ours,
// its own size, with its bottom on the host window's bottom (at y 0 when the host window is
// smaller). Neither the size question nor building a root touches the window system.
//
// Host-thread entries: open, idle and close run on the thread that opens the editor (the
// event loop belongs to it while an editor is open). A close from another thread is handed to
// that thread and waited for a while; a close during a nested loop (a modal run, a menu)
// ends every nested loop and deletes the editor once the outermost handler has returned.
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
    // False, with nothing built or attached, for a null window, no display, a window that does
    // not exist, a refused event loop or a failure while building the content. An editor
    // already open is closed first.
    bool open(void* window) override;
    void close() override;
    // One turn of the event loop without waiting.
    void idle() override;
    // False: the loader never records the host window as AEffEditor::systemWindow.
    bool isOpen() override { return false; }

    virtual EffectGUIBase* CreateGUI(VstBase* plugin) = 0;

    // The editor root (null after a close until the next open) and whether one is open.
    EffectGUIBase* GetEditor() const { return editor; }
    bool IsEditorOpen() const { return session != nullptr; }
    gfx::Surface* GetSurface() const;

    // How long a close from another thread waits for the loop's thread.
    static constexpr int kCrossThreadCloseMs = 2000;

protected:
    VstBase* plugin;
    EffectGUIBase* editor = nullptr;
    std::shared_ptr<Window> rootWindow;
    long width = 0;
    long height = 0;

private:
    struct Session;
    std::shared_ptr<Session> session;
};

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

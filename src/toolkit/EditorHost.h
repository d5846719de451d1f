#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/gfx/EditorWindowSystem.h"

class EffectGUIBase;
class PluginBase;
class Window;

namespace gfx
{
class Surface;
}

// One open editor inside a host's window, from open to close: the surface in the host window,
// the loop binding, the root window over the surface, the editor root, the drain of its
// plug-in's requests after each idle, and the close. The deliverables' adapters (the VST
// editor loader, the Audio Unit view) are thin layers over it.
//
// Threads. Every editor of the process shares one event loop, turned by one thread at a time:
// the editor thread, inside whose host call (open, idle, close: an entry) the loop turns.
// Entries are counted under a small mutex never held across a turn or a wait. A thread that
// calls in while the editor thread is outside every entry is admitted and becomes the editor
// thread (the loop's binding moves to it), so an editor opened on a thread that exited or
// stopped idling is idled and closed from any other; an idle that finds another thread inside
// does nothing, and an open waits a while for it to leave. An editor is disposed of only by an
// admitted thread: a close that is admitted disposes of it at once (after the handler it runs
// in, if any); one that is not posts the disposal to the thread inside, which runs it on its
// way out of its outermost entry, and returns without waiting. Either way the close first ends
// that editor's own nested loops (alerts, dialogs, menus, drags, fades; no other editor's) and
// detaches it from its plug-in. An open editor holds its instance (PluginBase::HoldForEditor)
// until it is disposed of, so an instance the host closed meanwhile goes with the disposal, on
// whichever thread runs it.
class EditorHost
{
public:
    // How long an open waits for the editor thread to leave when it is inside.
    static constexpr int kOpenWaitMs = 2000;

    // Every editor opens in `system` instead of the one its adapter names (null: the adapter's
    // again); returns the previous. The tests open editors in fake host windows of the
    // headless back end this way.
    static EditorWindowSystem* OverrideWindowSystem(EditorWindowSystem* system);

    EditorHost();
    // Closes an open editor.
    ~EditorHost();
    EditorHost(EditorHost const&) = delete;
    EditorHost& operator=(EditorHost const&) = delete;

    // Where the editor's top edge goes in a host window of that height, for an editor of that
    // height.
    using Placement = std::function<int(int hostHeight, long editorHeight)>;

    // Puts `root` into the host window `window` of `system` (taking it once the building
    // starts: a refusal before leaves it with the caller, a failure after deletes it): a surface of the
    // editor's size at x 0 and the placement's y, a root window over it, the root's content, attached to its
    // plug-in. An editor already open is closed first. False, with nothing left built or attached, for no
    // display, a window that does not exist, a window system other than the open editors', an editor thread
    // that stays inside, or a failure while building (written to standard error).
    bool Open(EditorWindowSystem& system, void* window, std::unique_ptr<EffectGUIBase>& root,
              Placement const& placement);
    // One turn of the loop without waiting, then the drain of the plug-in's requests.
    void Idle();
    // Any thread: closes the open editor (see above), and makes an open under way on another
    // thread fail; nothing else when none is open.
    void Close();

    bool IsOpen() const;
    // The root and the surface of the open editor (null when none is open). Editor thread.
    EffectGUIBase* Root() const;
    gfx::Surface* Surface() const;
    std::shared_ptr<Window> RootWindow() const;

    struct Session;

private:
    std::shared_ptr<Session> Current() const;

    mutable std::mutex sessionMutex; // guards the two below, never held across a call out
    std::shared_ptr<Session> session;
    unsigned long closes = 0;
};

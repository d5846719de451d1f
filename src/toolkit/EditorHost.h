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
// Threads. Hosts open, idle and close editors on threads of their choice and close instances
// from yet another one, whatever runs on the editor's thread at that moment (a modal alert, a
// dialog, a menu, a drag, an animation). Every editor of the process shares one event loop and
// one editor thread: the thread inside whose host call (open, idle, close) the loop turns.
// Each such call is an entry of that thread into the editors and their instances; handlers,
// timers and the drain run inside one. The entries are counted under a small mutex that is
// never held across a turn or while waiting.
//
//   - A thread that calls in while the editor thread is outside every entry takes the editors
//     over: the loop binding and every open editor's plug-in thread move to it together. So an
//     editor opened on a thread that has exited, or that stopped idling, is idled and closed
//     from any other thread.
//   - An idle that finds the editor thread inside an entry does nothing; an open waits a while
//     for it to leave, then fails.
//   - A close that finds the editor thread outside takes the editor over and disposes of it on
//     its own thread. One that finds it inside posts a detach (the root leaves its plug-in: no
//     more requests or timers reach it), ends every nested loop, and waits, holding no lock of
//     ours, until that thread has disposed of the editor on its way out of its outermost entry.
//     The instance is held meanwhile (PluginBase::HoldForEditor). When the thread does not
//     answer within kCloseWaitMs (it may be blocked outside our code), the close logs once and
//     returns with the instance still held: the instance's own close then leaves its deletion
//     to that thread, which deletes it once it has disposed of the editor.
//   - A close from inside an entry on the editor thread itself (a host call made from one of
//     our handlers) detaches at once and leaves the disposal, and the instance, to the
//     outermost entry's end.
class EditorHost
{
public:
    // How long a close from another thread waits for the editor thread to leave.
    static constexpr int kCloseWaitMs = 2000;
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
    // Any thread: closes the open editor (see above); nothing when none is open.
    void Close();

    bool IsOpen() const;
    // The root and the surface of the open editor (null when none is open). Editor thread.
    EffectGUIBase* Root() const;
    gfx::Surface* Surface() const;
    std::shared_ptr<Window> RootWindow() const;

    struct Session;

private:
    std::shared_ptr<Session> Current() const;

    mutable std::mutex sessionMutex; // guards `session` itself, never held across a call out
    std::shared_ptr<Session> session;
};

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
// The host's thread is never ours to keep. Each open editor has a strand (platform/gfx/RunLoop.h)
// on which its content is built and all its handlers run; a menu, dialog, drag or fade waits on
// it across the host's calls, which return at once (building and drawing take what they need).
//
// Threads. Every editor of the process shares one event loop, turned by one thread at a time:
// the thread inside whose host call (open, idle, close: an entry) the loop turns. Entries are
// counted under a small mutex never held across a turn or a wait. A thread that calls in while
// the others are outside every entry is admitted and the loop's binding moves to it, so an editor
// opened on a thread that exited or stopped idling is idled and closed from any other, unless a
// strand waits on its thread: a waiting strand is resumed only by that thread, and the loop stays
// with it meanwhile (an idle from another thread does nothing, an open is refused). An idle that
// finds another thread inside does nothing; an open waits a while for it to leave. A host call
// made from inside one of our calls to it on a strand runs as the host's own (Strand::HostCall):
// it never resumes or frees the strand it runs on. The admitted thread alone turns the loop and runs
// work on strands (the host is the loop's gate: RunLoop::SetGate); a host call that is no entry
// (a chunk's note, say) from any other thread, the one the loop is still bound to included, only
// queues its work for the next admitted turn. A turn driven from outside every entry (a test's)
// comes in as one more entry.
//
// Closing. A close first ends that editor's own nested loops (alerts, dialogs, menus, drags,
// fades; no other editor's) and detaches it from its plug-in; nothing is saved that the user did
// not confirm. It never waits for the user, nor for another editor. Then the editor's strand lets
// go of it: a strand waiting on the closing thread is resumed there at once and unwinds (modal
// runs end as Cancel, menus with no choice, drags as a release that clicks nothing); one waiting
// on another thread is left to that thread, which unwinds it as it next comes in, while the
// instance stays, and is parked for good once the instance goes (nothing on it runs again: its
// surfaces leave the window system, its timers stop, and the editor and the loop are free at
// once); an editor left so and then reopened by the same host goes with the next close after its
// instance went, beside the new one. Then the editor is disposed of, by an admitted thread only: the closer
// when no other thread is inside, otherwise the thread inside, on its way out of its outermost entry; a close
// made from inside one of our calls to the host goes when that call has returned. An open editor
// holds its instance (PluginBase::HoldForEditor) until it is disposed of, so an instance the host
// closed meanwhile goes with the disposal, on whichever thread runs it.
//
// Grabs of the pointer and keyboard (menus, drags) are let go of when the host stops calling for
// a while, and taken again at its next call (RunLoop::HostCallBegins).
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
    // that stays inside, or a failure while building (written to standard error). A building that
    // waits (the splash's fade) goes on across the host's calls; should it fail after the open
    // returned, the host's next idle closes the editor.
    bool Open(EditorWindowSystem& system, void* window, std::unique_ptr<EffectGUIBase>& root,
              Placement const& placement);
    // One turn of the loop without waiting, then the drain of the plug-in's requests.
    void Idle();
    // Any thread: closes the open editor (see above), and makes an open under way on another
    // thread fail; nothing else when none is open.
    void Close();

    // Any thread: disposes of a root that was never opened (built ahead, or kept from a refused
    // open). It holds nothing of the loop's (no timer, no surface), yet goes only on an admitted
    // thread: the caller's when no other thread is inside, else the thread inside, on its way out
    // of its outermost entry.
    static void Discard(std::unique_ptr<EffectGUIBase> root);

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

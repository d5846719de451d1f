#include "toolkit/EditorHost.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

#include "framework/PluginBase.h"
#include "framework/Timers.h"
#include "platform/Strand.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/Window.h"

// What one open editor holds. Shared with a close that runs later or on another thread.
struct EditorHost::Session : std::enable_shared_from_this<EditorHost::Session>
{
    EditorHost const* host = nullptr;
    EditorWindowSystem* system = nullptr;
    gfx::Backend* backend = nullptr; // acquired from the system
    bool loopAcquired = false;
    bool registered = false; // among the open editors
    PluginBase* plugin = nullptr;
    bool held = false; // the plug-in is held until the disposal
    std::unique_ptr<gfx::Surface> surface;
    std::shared_ptr<Window> root;
    EffectGUIBase* editor = nullptr; // owned
    bool finished = false;
    bool handedBack = false; // left for the thread its strand waits on
    // The building failed, perhaps after it first yielded (the open had returned): the host's next
    // idle closes the editor.
    std::atomic<bool> buildFailed{false};

    // Editor thread: the root leaves its plug-in; no request or timer reaches it after.
    void Detach()
    {
        if (editor != nullptr) editor->Detach();
    }
    // An admitted thread, off the editor's strand: its strand lets go of it (unwound on its own
    // thread, else parked for good), then it is disposed of. The instance may go at its end.
    void Finish();

private:
    bool LetGo();
    void Dispose();
};

namespace
{
// The thread inside an editor call (an entry) and its depth, for every editor of the process.
struct State
{
    State();
    std::mutex mutex;
    std::condition_variable changed; // the thread inside left its outermost entry
    int depth = 0;
    std::atomic<std::thread::id> inside{}; // the thread while depth > 0
    std::vector<EditorHost::Session*> open;
    std::atomic<bool> anyOpen{false}; // open is not empty (read without the mutex)
    gfx::Backend* backend = nullptr;  // the open editors' back end
    // Run by the thread inside on its way out of its outermost entry.
    std::vector<std::function<void()>> atLastLeave;
    // Run by a thread as it next comes in: the closes of editors whose strands wait on it.
    std::vector<std::pair<std::thread::id, std::function<void()>>> forThread;
    // Editors closed on another thread than the one their strand waits on, while their instance
    // stays: they stay, inert, until that thread comes in or their host closes them again.
    std::vector<std::shared_ptr<EditorHost::Session>> handedBack;
};

// Never destroyed: a host that exits with an editor open may still call in afterwards.
State& TheState()
{
    static auto* state = new State;
    return *state;
}

enum class Admission
{
    In,
    Busy, // another thread is inside
    Tied  // the loop stays with another thread, on which a strand waits
};

// Under the state's mutex: lets the calling thread in, taking the loop over when its thread is
// outside every entry. A close may come in without the loop (`closing`): it only lets go of its
// editor and disposes of it, and the loop stays with the thread a strand waits on.
Admission AdmitLocked(State& st, bool closing)
{
    std::thread::id const self = std::this_thread::get_id();
    if (st.depth > 0 && st.inside.load() != self) return Admission::Busy;
    if (st.depth == 0 && !st.open.empty() && !gfx::RunLoop::MayRun() && !gfx::RunLoop::MoveBinding() &&
        !closing)
        return Admission::Tied;
    if (st.depth++ == 0) st.inside.store(self);
    // What was left for this thread runs at its outermost leave.
    for (auto it = st.forThread.begin(); it != st.forThread.end();)
        if (it->first == self)
        {
            st.atLastLeave.push_back(std::move(it->second));
            it = st.forThread.erase(it);
        }
        else
            ++it;
    return Admission::In;
}

// One entry fewer of the thread inside. The outermost one's end runs what was left for it first.
void Leave(State& st)
{
    for (;;)
    {
        std::vector<std::function<void()>> work;
        {
            std::lock_guard<std::mutex> lock(st.mutex);
            if (st.depth > 1 || st.atLastLeave.empty())
            {
                if (--st.depth == 0)
                {
                    st.inside.store(std::thread::id());
                    st.changed.notify_all();
                }
                return;
            }
            work.swap(st.atLastLeave);
        }
        for (auto& w : work)
            gfx::RunLoop::GuardHostEntry("closing the editor", w);
    }
}

// The plug-ins' drains reach their editors on the thread inside an entry; the timer table is
// touched there, or, while no editor is open, where the loop may run.
State::State()
{
    // The loop's gate: a turn or nested loop asked for outside every entry (a test's) comes in as
    // one more entry.
    auto const insideHere = [] { return TheState().inside.load() == std::this_thread::get_id(); };
    // While no editor is open the host admits nobody: the loop is its bound thread's (an editor
    // opened without a host, a test's).
    gfx::RunLoop::SetGate(gfx::RunLoop::Gate{[]
                                             {
                                                 State& st = TheState();
                                                 std::thread::id const in = st.inside.load();
                                                 return in == std::this_thread::get_id() ||
                                                        (in == std::thread::id() && !st.anyOpen.load());
                                             },
                                             []
                                             {
                                                 State& st = TheState();
                                                 std::lock_guard<std::mutex> lock(st.mutex);
                                                 return AdmitLocked(st, false) == Admission::In;
                                             },
                                             [] { Leave(TheState()); }});
    PluginBase::SetEditorThreadTest(insideHere);
    TimerService::SetThreadCheck(
        []
        {
            State& st = TheState();
            std::thread::id const in = st.inside.load();
            return in == std::this_thread::get_id() ||
                   (in == std::thread::id() && !st.anyOpen.load() && gfx::RunLoop::MayRun());
        });
}

// One entry of the calling thread, left on destruction. The outermost entry's end runs what
// was left for it (disposals, and with them the deletion of instances closed meanwhile). A host
// call made from inside one of our calls to it, on an editor's strand, runs as the host's own
// (Strand::HostCall).
class Entry
{
public:
    enum Mode
    {
        Try,
        Admitted // the caller admitted the thread under the lock already
    };
    explicit Entry(Mode mode = Try)
    {
        State& st = TheState();
        {
            std::lock_guard<std::mutex> lock(st.mutex);
            entered = mode == Admitted || AdmitLocked(st, false) == Admission::In;
            outermost = entered && st.depth == 1;
        }
        if (outermost) gfx::RunLoop::HostCallBegins();
    }
    ~Entry()
    {
        if (!entered) return;
        // Still inside: no other thread's call begins before the watch over grabs is set.
        if (outermost) gfx::RunLoop::HostCallEnds();
        Leave(TheState());
    }
    Entry(Entry const&) = delete;
    Entry& operator=(Entry const&) = delete;
    explicit operator bool() const { return entered; }

private:
    Strand::HostCall hostCall;
    bool entered = false;
    bool outermost = false;
};

std::atomic<EditorWindowSystem*> systemOverride{nullptr};
} // namespace

// True once the editor's strand let go of it: at rest (unwound, when it waited on this thread)
// or parked. False when it is left for the thread it waits on.
bool EditorHost::Session::LetGo()
{
    gfx::Surface const* const e = surface.get();
    if (e == nullptr || !gfx::RunLoop::StrandWaiting(e)) return true;
    // Its loops were ended: on its own thread it unwinds at once (dialogs as Cancel, menus with
    // no choice, drags as a release that clicks nothing).
    if (gfx::RunLoop::Unwind(e)) return true;
    // Waiting on another thread, which alone may resume it. While the instance stays, that
    // thread unwinds it as it next comes in. When the instance goes, nothing on the strand runs
    // again and what it started stops.
    if (plugin != nullptr && !plugin->Closing())
    {
        if (handedBack) return false;
        handedBack = true;
        State& st = TheState();
        std::lock_guard<std::mutex> lock(st.mutex);
        auto self = shared_from_this();
        st.handedBack.push_back(self);
        st.forThread.emplace_back(gfx::RunLoop::StrandThread(e), [self] { self->Finish(); });
        return false;
    }
    gfx::RunLoop::ParkStrand(e);
    TimerService::StopContext(e);
    return true;
}

void EditorHost::Session::Finish()
{
    if (finished || !LetGo()) return;
    finished = true;
    {
        State& st = TheState();
        std::lock_guard<std::mutex> lock(st.mutex);
        std::erase_if(st.handedBack, [this](auto const& h) { return h.get() == this; });
    }
    Dispose();
}

void EditorHost::Session::Dispose()
{
    if (editor != nullptr)
    {
        editor->Detach();
        delete editor;
        editor = nullptr;
    }
    root.reset();
    if (surface) gfx::RunLoop::RemoveStrand(surface.get());
    surface.reset();
    if (loopAcquired) gfx::RunLoop::Release();
    loopAcquired = false;
    State& st = TheState();
    {
        std::lock_guard<std::mutex> lock(st.mutex);
        if (registered)
        {
            registered = false;
            std::erase(st.open, this);
            if (st.open.empty())
            {
                st.anyOpen.store(false);
                // The loop lets go of the back end before the window system may close it, once
                // no wake of another thread (a closer's, say) still uses it.
                st.backend = nullptr;
                gfx::RunLoop::SetBackend(nullptr);
                gfx::RunLoop::ResumeNested();
            }
        }
    }
    if (backend != nullptr) system->Release();
    backend = nullptr;
    // Last: a closed instance goes here.
    if (held)
    {
        held = false;
        plugin->ReleaseEditorHold();
    }
}

EditorWindowSystem* EditorHost::OverrideWindowSystem(EditorWindowSystem* system)
{
    return systemOverride.exchange(system);
}

EditorHost::EditorHost() = default;

EditorHost::~EditorHost()
{
    Close();
}

std::shared_ptr<EditorHost::Session> EditorHost::Current() const
{
    std::lock_guard<std::mutex> lock(sessionMutex);
    return session;
}

bool EditorHost::IsOpen() const
{
    return Current() != nullptr;
}

EffectGUIBase* EditorHost::Root() const
{
    auto s = Current();
    return s ? s->editor : nullptr;
}

gfx::Surface* EditorHost::Surface() const
{
    auto s = Current();
    return s ? s->surface.get() : nullptr;
}

std::shared_ptr<Window> EditorHost::RootWindow() const
{
    auto s = Current();
    return s ? s->root : nullptr;
}

bool EditorHost::Open(EditorWindowSystem& named, void* window, std::unique_ptr<EffectGUIBase>& root,
                      Placement const& placement)
{
    EditorWindowSystem* const replaced = systemOverride.load();
    EditorWindowSystem& system = replaced != nullptr ? *replaced : named;
    Close();
    if (window == nullptr || !root) return false;
    unsigned long closesAtStart = 0;
    {
        std::lock_guard<std::mutex> lock(sessionMutex);
        closesAtStart = closes;
    }

    // In, or wait a while for the thread inside to leave (never for a strand waiting on another
    // thread: the loop stays with that thread until it comes back).
    State& st = TheState();
    {
        std::unique_lock<std::mutex> lock(st.mutex);
        Admission admission = Admission::Busy;
        st.changed.wait_for(lock, std::chrono::milliseconds(kOpenWaitMs),
                            [&]
                            {
                                admission = AdmitLocked(st, false);
                                return admission != Admission::Busy;
                            });
        if (admission != Admission::In) return false;
    }
    Entry entry(Entry::Admitted);

    auto s = std::make_shared<Session>();
    s->host = this;
    s->system = &system;
    s->plugin = root->GetHandedPlugin();
    // The host's open is a counted call into the instance (or the view's watch holds it). An
    // instance closed already gets no editor; one closed from here on closes it (below, or
    // when its close finds the editor published).
    if (s->plugin != nullptr)
    {
        s->plugin->HoldForEditor();
        s->held = true;
        if (s->plugin->Closing())
        {
            s->Finish();
            return false;
        }
    }
    s->backend = system.Acquire();
    int hostWidth = 0, hostHeight = 0;
    bool usable = s->backend != nullptr && system.HostWindowSize(window, hostWidth, hostHeight);
    if (usable)
    {
        std::lock_guard<std::mutex> lock(st.mutex);
        // Editors of one process share one back end.
        usable = st.backend == nullptr || st.backend == s->backend;
        if (usable && gfx::RunLoop::Acquire())
        {
            s->loopAcquired = true;
            s->registered = true;
            if (st.open.empty())
            {
                st.backend = s->backend;
                gfx::RunLoop::SetBackend(s->backend);
            }
            st.open.push_back(s.get());
            st.anyOpen.store(true);
        }
        else
            usable = false;
    }
    if (!usable)
    {
        s->Finish();
        return false;
    }
    if (gfx::RunLoop::Nesting() == 0 && !gfx::RunLoop::AnyStrandWaiting() && !system.Lost())
        gfx::RunLoop::ResumeNested();

    s->editor = root.release();
    bool built = gfx::RunLoop::GuardHostEntry(
        "opening the editor",
        [&]
        {
            long width = 0, height = 0;
            s->editor->GetDimensions(width, height);
            int const y = placement ? placement(hostHeight, height) : 0;
            s->surface = std::make_unique<gfx::Surface>(
                *s->backend, gfx::SurfaceKind::Embedded,
                gfx::Rect{0, y, static_cast<int>(width), static_cast<int>(height)}, window);
            s->root = std::make_shared<Window>();
            s->root->CreateChildWindow(s->surface.get(), width, height, 0, 0);
        });
    if (built)
    {
        // The content is built on the editor's strand: what waits while it is built (the
        // splash's fade) goes on across the host's later calls.
        gfx::RunLoop::AddStrand(s->surface.get());
        gfx::RunLoop::RunOnEditor(
            s->surface.get(),
            [s]
            {
                if (!gfx::RunLoop::GuardHostEntry("opening the editor",
                                                  [&]
                                                  {
                                                      // Nested loops of the building are this editor's.
                                                      gfx::RunLoop::EditorScope scope(s->surface.get());
                                                      s->editor->CreateUI(s->root.get(), 0, 0);
                                                  }))
                    s->buildFailed.store(true);
            });
        // What failed by now closes below; a failure after the building's first yield, at the
        // next idle.
        built = !s->buildFailed.load();
    }
    bool closed = !built;
    if (built)
    {
        // A close on another thread meanwhile (the instance's close, say) found nothing to close:
        // the editor goes now.
        std::lock_guard<std::mutex> lock(sessionMutex);
        closed = closes != closesAtStart;
        if (!closed) session = s;
    }
    if (closed)
    {
        // Nothing stays attached or half built; the next open starts afresh.
        if (s->surface) gfx::RunLoop::End(s->surface.get());
        s->Detach();
        gfx::RunLoop::DeferRelease([s] { s->Finish(); });
        return false;
    }
    return true;
}

void EditorHost::Idle()
{
    {
        State& st = TheState();
        std::lock_guard<std::mutex> lock(st.mutex);
        if (st.open.empty()) return;
    }
    Entry entry;
    if (!entry) return;
    std::shared_ptr<Session> s = Current();
    // Nested loops ended for every editor (a lost window system) start waiting again once every
    // loop has unwound, unless the window system is gone. An editor's own end stays.
    if (gfx::RunLoop::Abandoned() && gfx::RunLoop::Nesting() == 0 && !gfx::RunLoop::AnyStrandWaiting() &&
        !(s && s->system->Lost()))
        gfx::RunLoop::ResumeNested();
    gfx::RunLoop::GuardHostEntry("editor idle", [] { gfx::RunLoop::Turn(false); });
    if (s && s->plugin != nullptr && s->surface)
        gfx::RunLoop::RunOnEditor(s->surface.get(),
                                  [s]
                                  {
                                      if (s->editor != nullptr) s->plugin->ProcessGUINotifications();
                                  });
    // An editor whose building failed after the open returned is left neither open nor half built.
    if (s && s->buildFailed.load() && Current() == s) Close();
}

void EditorHost::Discard(std::unique_ptr<EffectGUIBase> root)
{
    if (!root) return;
    State& st = TheState();
    std::unique_lock<std::mutex> lock(st.mutex);
    if (AdmitLocked(st, true) != Admission::In)
    {
        st.atLastLeave.push_back([gone = std::shared_ptr<EffectGUIBase>(std::move(root))]() mutable
                                 { gone.reset(); });
        return;
    }
    lock.unlock();
    Entry entry(Entry::Admitted);
    root.reset();
}

void EditorHost::Close()
{
    std::shared_ptr<Session> s;
    {
        std::lock_guard<std::mutex> lock(sessionMutex);
        ++closes;
        s = std::move(session);
    }
    State& st = TheState();
    std::unique_lock<std::mutex> lock(st.mutex);
    // The open editor, and those closed before from another thread than their strand's and handed
    // back while their instance stayed (a reopen may have followed): the instance may go now.
    std::vector<std::shared_ptr<Session>> closing;
    if (s) closing.push_back(s);
    for (auto const& h : st.handedBack)
        if (h->host == this && h != s) closing.push_back(h);
    if (closing.empty()) return;
    // Their loops end first (any thread): whoever disposes of them finds them ended.
    for (auto const& c : closing)
        gfx::RunLoop::End(c->surface.get());
    if (AdmitLocked(st, true) != Admission::In)
    {
        // Another thread is inside: it lets go of the editors and disposes of them on its way out
        // of its call, which the close does not wait for. The wake comes before the lock is let
        // go: the last disposal releases the back end only after taking it.
        for (auto const& c : closing)
            st.atLastLeave.push_back([c] { c->Finish(); });
        gfx::RunLoop::Wake();
        return;
    }
    // A host call from inside one of our calls to it (on the editor's strand, say): the code
    // below still uses the editor, which goes at the outermost entry's end.
    bool const nested = st.depth > 1;
    if (nested)
        for (auto const& c : closing)
            st.atLastLeave.push_back([c] { c->Finish(); });
    lock.unlock();
    Entry entry(Entry::Admitted);
    for (auto const& c : closing)
    {
        c->Detach();
        // Inside a handler of a turn driven from outside every host call (a test's), the disposal
        // waits for the handler; otherwise it is done at once.
        if (!nested) gfx::RunLoop::DeferRelease([c] { c->Finish(); });
    }
}

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
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/Window.h"

// What one open editor holds. Shared with a close that runs later or on another thread.
struct EditorHost::Session
{
    EditorWindowSystem* system = nullptr;
    gfx::Backend* backend = nullptr; // acquired from the system
    bool loopAcquired = false;
    bool registered = false; // among the open editors
    PluginBase* plugin = nullptr;
    bool held = false; // the plug-in is held until the disposal
    std::unique_ptr<gfx::Surface> surface;
    std::shared_ptr<Window> root;
    EffectGUIBase* editor = nullptr; // owned

    // Editor thread: the root leaves its plug-in; no request or timer reaches it after.
    void Detach()
    {
        if (editor != nullptr) editor->Detach();
    }
    // Editor thread, inside an entry, outside every handler. The instance may go at its end.
    void Dispose();
};

namespace
{
// The editor thread and its entries, for every editor of the process.
struct State
{
    State();
    std::mutex mutex;
    std::condition_variable changed; // the editor thread left its outermost entry
    std::thread::id thread;
    int depth = 0;
    std::atomic<std::thread::id> inside{}; // the thread while depth > 0
    std::vector<EditorHost::Session*> open;
    gfx::Backend* backend = nullptr; // the open editors' back end
    // Run by the editor thread on its way out of its outermost entry.
    std::vector<std::function<void()>> atLastLeave;
};

State& TheState()
{
    static State state;
    return state;
}

// The plug-ins' drains reach their editors on the thread inside an entry.
State::State()
{
    PluginBase::SetEditorThreadTest([] { return TheState().inside.load() == std::this_thread::get_id(); });
}

// Under the state's mutex: lets the calling thread in, taking the editors over when their
// thread is outside every entry. False while another thread is inside.
bool AdmitLocked(State& st)
{
    std::thread::id const self = std::this_thread::get_id();
    if (st.depth > 0 && st.thread != self) return false;
    if (st.thread != self)
    {
        st.thread = self;
        if (!st.open.empty()) gfx::RunLoop::MoveBinding();
    }
    if (st.depth++ == 0) st.inside.store(self);
    return true;
}

// One entry of the calling thread, left on destruction. The outermost entry's end runs what
// was left for it (disposals, and with them the deletion of instances closed meanwhile).
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
        if (mode == Admitted)
        {
            entered = true;
            return;
        }
        State& st = TheState();
        std::lock_guard<std::mutex> lock(st.mutex);
        entered = AdmitLocked(st);
    }
    ~Entry()
    {
        if (!entered) return;
        State& st = TheState();
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
    Entry(Entry const&) = delete;
    Entry& operator=(Entry const&) = delete;
    explicit operator bool() const { return entered; }

private:
    bool entered = false;
};

std::atomic<EditorWindowSystem*> systemOverride{nullptr};
} // namespace

void EditorHost::Session::Dispose()
{
    if (editor != nullptr)
    {
        editor->Detach();
        delete editor;
        editor = nullptr;
    }
    root.reset();
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

    // In, or wait a while for the editor thread to leave.
    State& st = TheState();
    {
        std::unique_lock<std::mutex> lock(st.mutex);
        if (!st.changed.wait_for(lock, std::chrono::milliseconds(kOpenWaitMs),
                                 [&] { return AdmitLocked(st); }))
            return false;
    }
    Entry entry(Entry::Admitted);

    auto s = std::make_shared<Session>();
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
            s->Dispose();
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
        }
        else
            usable = false;
    }
    if (!usable)
    {
        s->Dispose();
        return false;
    }
    if (gfx::RunLoop::Nesting() == 0 && !system.Lost()) gfx::RunLoop::ResumeNested();

    s->editor = root.release();
    bool const built = gfx::RunLoop::GuardHostEntry(
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
            // Nested loops of the building (the splash's fade) are this editor's.
            gfx::RunLoop::EditorScope scope(s->surface.get());
            s->editor->CreateUI(s->root.get(), 0, 0);
        });
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
        s->Detach();
        gfx::RunLoop::DeferRelease([s] { s->Dispose(); });
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
    if (gfx::RunLoop::Abandoned() && gfx::RunLoop::Nesting() == 0 && !(s && s->system->Lost()))
        gfx::RunLoop::ResumeNested();
    gfx::RunLoop::GuardHostEntry("editor idle", [] { gfx::RunLoop::Turn(false); });
    if (s && s->plugin != nullptr)
        gfx::RunLoop::GuardHostEntry("editor idle", [&] { s->plugin->ProcessGUINotifications(); });
}

void EditorHost::Close()
{
    std::shared_ptr<Session> s;
    {
        std::lock_guard<std::mutex> lock(sessionMutex);
        ++closes;
        s = std::move(session);
    }
    if (!s) return;

    State& st = TheState();
    std::unique_lock<std::mutex> lock(st.mutex);
    if (!AdmitLocked(st))
    {
        // Another thread is inside: it detaches, unwinds and disposes of the editor on its way
        // out. Its loops are ended before that thread can dispose of the surface that names them.
        gfx::RunLoop::End(s->surface.get());
        st.atLastLeave.push_back([s] { s->Dispose(); });
        lock.unlock();
        gfx::RunLoop::Post([s] { s->Detach(); });
        return;
    }
    bool const nested = st.depth > 1;
    // A host call from one of our own handlers: the handlers below still use the editor, which
    // goes at the outermost entry's end.
    if (nested) st.atLastLeave.push_back([s] { s->Dispose(); });
    lock.unlock();
    Entry entry(Entry::Admitted);
    if (nested || gfx::RunLoop::Nesting() > 0) gfx::RunLoop::End(s->surface.get());
    s->Detach();
    // Inside a handler of a turn driven from outside every host call (a test's), the disposal
    // waits for the handler; otherwise it is done at once.
    if (!nested) gfx::RunLoop::DeferRelease([s] { s->Dispose(); });
}

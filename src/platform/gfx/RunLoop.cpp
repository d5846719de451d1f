#include "platform/gfx/RunLoop.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Strand.h"
#include "platform/gfx/Backend.h"
#include "platform/gfx/Compositor.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoopInternal.h"
#include "platform/gfx/Surface.h"

namespace gfx
{
namespace
{
std::atomic<Backend*> currentBackend{nullptr};
// Wakes between their load of the back end and their return, from any thread (the audio
// thread's repaint requests among them): SetBackend waits them out before the back end can go.
std::atomic<int> wakesInFlight{0};
std::atomic<RunLoop::WakeHook> wakeHook{nullptr};
TimerSource* timerSource = nullptr;

// The editors' host's gate (RunLoop::SetGate), set once.
RunLoop::Gate theGate{};
std::atomic<bool> gated{false};

// The calling thread let in at the gate for a turn or a nested loop off every strand.
class Entered
{
public:
    Entered()
    {
        if (!gated.load(std::memory_order_acquire))
        {
            in = RunLoop::MayRun();
            return;
        }
        in = theGate.enter();
        if (in && !RunLoop::MayRun())
        {
            theGate.leave();
            in = false;
        }
    }
    ~Entered()
    {
        if (in && gated.load(std::memory_order_acquire)) theGate.leave();
    }
    Entered(Entered const&) = delete;
    Entered& operator=(Entered const&) = delete;
    explicit operator bool() const { return in; }

private:
    bool in = false;
};

std::mutex bindMutex;
std::atomic<std::thread::id> boundThread{std::thread::id()};
int users = 0;

// The lists below are never destroyed: a host that exits with an editor open may still turn the
// loop after the process's static objects are gone.
std::mutex& PostMutex()
{
    static auto* m = new std::mutex;
    return *m;
}
std::vector<std::function<void()>>& Posted()
{
    static auto* posted = new std::vector<std::function<void()>>;
    return *posted;
}
std::atomic<bool> postedPending{false};
std::atomic<bool> paintPending{false};

// Abandonment: every editor's loops, or those of the editors listed (any thread).
std::atomic<bool> abandonedAll{false};
std::mutex& AbandonMutex()
{
    static auto* m = new std::mutex;
    return *m;
}
// An editor whose loops end: hidden by its host (until shown again), closing (for good), or both.
struct AbandonedEditor
{
    Surface const* editor;
    bool hidden;
    bool closing;
};
std::vector<AbandonedEditor>& AbandonedEditors()
{
    static auto* editors = new std::vector<AbandonedEditor>;
    return *editors;
}
// How many editors are listed: the loops' quick test.
std::atomic<int> abandonedEditors{0};

// The running handlers' state: a thread's own, and each strand's (exchanged on every switch).
struct Handlers
{
    // The editor an EditorScope names, and the editors of the running nested loops, innermost
    // last.
    Surface const* scopeEditor = nullptr;
    std::vector<Surface const*> loopEditors;
    int nesting = 0;
    int openEnded = 0;
    int depth = 0; // handler calls
    std::vector<std::function<void()>> deferred;
};
// Held through a pointer: the library's thread-local block stays small (hosts load it into the
// little room a thread's static block has left).
thread_local std::unique_ptr<Handlers> handlersHeld;
StrandLocalOf<std::unique_ptr<Handlers>> const handlersLocal([]() -> std::unique_ptr<Handlers>&
                                                             { return handlersHeld; });
Handlers& TheHandlers()
{
    if (!handlersHeld) handlersHeld = std::make_unique<Handlers>();
    return *handlersHeld;
}

// The host-embedded surface at the root of a surface's owner chain.
Surface const* EditorOf(Surface const* surface)
{
    while (surface != nullptr && surface->Owner() != nullptr)
        surface = surface->Owner();
    return surface;
}

Surface const* CurrentEditor()
{
    if (Surface const* handled = Dispatcher::CurrentSurface()) return EditorOf(handled);
    if (TheHandlers().scopeEditor != nullptr) return TheHandlers().scopeEditor;
    if (!TheHandlers().loopEditors.empty()) return TheHandlers().loopEditors.back();
    if (Surface const* s = RunLoop::StrandEditor()) return s;
    return nullptr;
}

bool EditorAbandoned(Surface const* editor)
{
    if (abandonedAll.load()) return true;
    if (editor == nullptr || abandonedEditors.load() == 0) return false;
    std::lock_guard<std::mutex> lock(AbandonMutex());
    auto const& list = AbandonedEditors();
    return std::any_of(list.begin(), list.end(),
                       [editor](AbandonedEditor const& a) { return a.editor == editor; });
}

// One nested loop on the stack of its editor.
struct LoopOf
{
    explicit LoopOf(Surface const* editor) { TheHandlers().loopEditors.push_back(editor); }
    ~LoopOf() { TheHandlers().loopEditors.pop_back(); }
};

void RunDeferred()
{
    while (TheHandlers().depth == 0 && !TheHandlers().deferred.empty())
    {
        std::vector<std::function<void()>> now;
        now.swap(TheHandlers().deferred);
        for (auto& release : now)
            release();
    }
}

struct Counter
{
    explicit Counter(int& c) : count(c) { ++count; }
    ~Counter() { --count; }
    int& count;
};

void PaintIfPending()
{
    if (!paintPending.exchange(false)) return;
    RunLoop::HandlerScope scope;
    Compositor::PaintAll();
}

// At most this many events are taken in one turn, so the timers and the paint keep up.
constexpr int kEventsPerTurn = 256;

void OneTurn(bool block, std::optional<TimePoint> cap, std::function<bool()> const* done)
{
    if (!RunLoop::MayRun()) return;
    Backend* backend = currentBackend.load();
    if (block && !paintPending.load() && !postedPending.load() && !loop::AnyInbox())
    {
        std::optional<TimePoint> until = timerSource ? timerSource->NextDue() : std::nullopt;
        if (cap && (!until || *cap < *until)) until = cap;
        if (std::optional<TimePoint> waits = loop::StrandDeadline(); waits && (!until || *waits < *until))
            until = waits;
        if (backend)
            backend->Wait(until);
        else if (until)
            std::this_thread::sleep_until(*until);
    }

    if (backend)
    {
        InputEvent event;
        // What an event changed is painted before the next event is read; a turn takes what has
        // come (a host that idles seldom finds a click, press and release, done in one call).
        for (int taken = 0; taken < kEventsPerTurn && !(done && (*done)()) && backend->NextEvent(event);
             ++taken)
        {
            loop::Deliver(event);
            PaintIfPending();
        }
    }

    if (timerSource)
    {
        std::optional<TimePoint> due = timerSource->NextDue();
        TimePoint now = RunLoop::Now();
        if (due && *due <= now)
        {
            RunLoop::HandlerScope scope;
            timerSource->Pump(now);
        }
    }

    if (postedPending.exchange(false))
    {
        std::vector<std::function<void()>> work;
        {
            std::lock_guard<std::mutex> lock(PostMutex());
            work.swap(Posted());
        }
        RunLoop::HandlerScope scope;
        for (auto& w : work)
            w();
    }

    loop::ServeWaiting();
    PaintIfPending();
    RunDeferred();
}
} // namespace

void RunLoop::SetBackend(Backend* backend)
{
    loop::ForgetGrabs(backend);
    // Sequentially consistent with the wake's count and load: a wake that found the previous
    // back end is counted by the time this reads the count.
    Backend* const previous = currentBackend.exchange(backend);
    if (previous == nullptr || previous == backend) return;
    while (wakesInFlight.load() != 0)
        std::this_thread::yield();
}

Backend* RunLoop::GetBackend()
{
    return currentBackend.load();
}

TimePoint RunLoop::Now()
{
    Backend* backend = currentBackend.load();
    return backend ? backend->Now() : Clock::now();
}

void RunLoop::SetTimerSource(TimerSource* source)
{
    timerSource = source;
}

bool RunLoop::Acquire()
{
    std::lock_guard<std::mutex> lock(bindMutex);
    std::thread::id self = std::this_thread::get_id();
    if (users > 0 && boundThread.load() != self) return false;
    boundThread.store(self);
    ++users;
    return true;
}

void RunLoop::Release()
{
    std::lock_guard<std::mutex> lock(bindMutex);
    if (users == 0) return;
    if (--users == 0) boundThread.store(std::thread::id());
}

bool RunLoop::MoveBinding()
{
    if (loop::StrandWaitsElsewhere()) return false;
    std::lock_guard<std::mutex> lock(bindMutex);
    if (users > 0) boundThread.store(std::this_thread::get_id());
    return true;
}

bool RunLoop::IsBound()
{
    return boundThread.load() != std::thread::id();
}

bool RunLoop::MayRun()
{
    std::thread::id bound = boundThread.load();
    return bound == std::thread::id() || bound == std::this_thread::get_id();
}

void RunLoop::SetGate(Gate gate)
{
    theGate = gate;
    gated.store(true, std::memory_order_release);
}

bool RunLoop::Admitted()
{
    if (!MayRun()) return false;
    return !gated.load(std::memory_order_acquire) || theGate.inside();
}

void RunLoop::Turn(bool block)
{
    Entered entered;
    if (entered) OneTurn(block, std::nullopt, nullptr);
}

void RunLoop::RunUntil(std::function<bool()> const& done)
{
    if (!MayRun()) return;
    Counter levels(TheHandlers().nesting);
    Counter waits(TheHandlers().openEnded);
    Surface const* const editor = CurrentEditor();
    LoopOf loop(editor);
    std::function<bool()> const finished = [&] { return EditorAbandoned(editor) || done(); };
    if (loop::EditorStrand* s = loop::CurrentStrand())
    {
        loop::WaitOnStrand(*s, finished, std::nullopt);
        return;
    }
    Entered entered;
    while (entered && !finished())
        OneTurn(true, std::nullopt, &finished);
}

void RunLoop::RunFor(Clock::duration span)
{
    if (!MayRun()) return;
    Counter levels(TheHandlers().nesting);
    Surface const* const editor = CurrentEditor();
    LoopOf loop(editor);
    TimePoint deadline = Now() + span;
    std::function<bool()> done = [deadline, editor]
    { return EditorAbandoned(editor) || RunLoop::Now() >= deadline; };
    if (loop::EditorStrand* s = loop::CurrentStrand())
    {
        loop::WaitOnStrand(*s, done, deadline);
        return;
    }
    Entered entered;
    while (entered && !done())
        OneTurn(true, deadline, &done);
}

int RunLoop::Nesting()
{
    return TheHandlers().nesting;
}

namespace
{
// Sets or clears one reason of an editor's end; the entry goes when it has none left.
void MarkAbandoned(Surface const* editor, bool AbandonedEditor::*reason, bool on)
{
    if (editor == nullptr) return;
    std::lock_guard<std::mutex> lock(AbandonMutex());
    auto& list = AbandonedEditors();
    auto it = std::find_if(list.begin(), list.end(),
                           [editor](AbandonedEditor const& a) { return a.editor == editor; });
    if (it == list.end())
    {
        if (!on) return;
        list.push_back(AbandonedEditor{editor, false, false});
        it = std::prev(list.end());
    }
    (*it).*reason = on;
    if (!it->hidden && !it->closing) list.erase(it);
    abandonedEditors.store(static_cast<int>(list.size()));
}
} // namespace

void RunLoop::Abandon(Surface const* editor)
{
    MarkAbandoned(editor, &AbandonedEditor::hidden, true);
    Wake();
}

void RunLoop::ShowAgain(Surface const* editor)
{
    if (abandonedEditors.load() != 0) MarkAbandoned(editor, &AbandonedEditor::hidden, false);
}

void RunLoop::End(Surface const* editor)
{
    MarkAbandoned(editor, &AbandonedEditor::closing, true);
    Wake();
}

void RunLoop::Forget(Surface const* editor)
{
    if (editor == nullptr) return;
    loop::DropInput(editor);
    if (abandonedEditors.load() == 0) return;
    std::lock_guard<std::mutex> lock(AbandonMutex());
    auto& list = AbandonedEditors();
    std::erase_if(list, [editor](AbandonedEditor const& a) { return a.editor == editor; });
    abandonedEditors.store(static_cast<int>(list.size()));
}

void RunLoop::AbandonNested()
{
    abandonedAll.store(true);
    Wake();
}

void RunLoop::ResumeNested()
{
    abandonedAll.store(false);
}

bool RunLoop::Abandoned()
{
    return EditorAbandoned(CurrentEditor());
}

Surface const* RunLoop::EditorOf(Surface const* surface)
{
    return gfx::EditorOf(surface);
}

bool RunLoop::Abandoned(Surface const* surface)
{
    return EditorAbandoned(EditorOf(surface));
}

RunLoop::EditorScope::EditorScope(Surface const* editor) : outer(TheHandlers().scopeEditor)
{
    TheHandlers().scopeEditor = editor;
}

RunLoop::EditorScope::~EditorScope()
{
    TheHandlers().scopeEditor = outer;
}

bool RunLoop::InOpenEndedWait()
{
    return TheHandlers().openEnded > 0;
}

void RunLoop::Post(std::function<void()> work)
{
    {
        std::lock_guard<std::mutex> lock(PostMutex());
        Posted().push_back(std::move(work));
    }
    postedPending.store(true);
    Wake();
}

void RunLoop::Wake()
{
    wakesInFlight.fetch_add(1);
    if (Backend* backend = currentBackend.load())
    {
        if (WakeHook hook = wakeHook.load(std::memory_order_acquire)) hook(backend);
        backend->Wake();
    }
    wakesInFlight.fetch_sub(1, std::memory_order_release);
}

void RunLoop::SetWakeHook(WakeHook hook)
{
    wakeHook.store(hook, std::memory_order_release);
}

void RunLoop::RequestPaint()
{
    paintPending.store(true, std::memory_order_relaxed);
    Wake();
}

bool RunLoop::PaintPending()
{
    return paintPending.load();
}

void RunLoop::DeferRelease(std::function<void()> release)
{
    if (TheHandlers().depth == 0)
    {
        release();
        return;
    }
    TheHandlers().deferred.push_back(std::move(release));
}

RunLoop::HandlerScope::HandlerScope()
{
    ++TheHandlers().depth;
}

RunLoop::HandlerScope::~HandlerScope()
{
    --TheHandlers().depth;
    if (TheHandlers().depth == 0 && !TheHandlers().deferred.empty())
    {
        // Releases run after the outermost handler, even when it left by an exception.
        try
        {
            RunDeferred();
        }
        catch (...)
        {
        }
    }
}
} // namespace gfx

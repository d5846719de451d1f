#include "platform/gfx/RunLoop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
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

// One piece of work for an editor's strand: input to dispatch, or a call.
struct Item
{
    bool isEvent = false;
    InputEvent event;
    std::function<void()> work;
};

// An editor's strand and what came to it. The loop's thread only (a thread admitted by the
// editors' host); the list's mutex guards the list itself for the queries of other threads.
struct EditorStrand
{
    explicit EditorStrand(Surface const* e) : editor(e) {}
    Surface const* editor;
    Strand strand;
    std::deque<Item> inbox;
    std::optional<TimePoint> deadline; // a waiting RunFor's end
    bool gone = false;                 // removed while running: it goes once back at rest
};
std::mutex& StrandsMutex()
{
    static auto* m = new std::mutex;
    return *m;
}
std::vector<std::unique_ptr<EditorStrand>>& Strands()
{
    static auto* strands = new std::vector<std::unique_ptr<EditorStrand>>;
    return *strands;
}

EditorStrand* StrandOfEditor(Surface const* editor)
{
    if (editor == nullptr) return nullptr;
    for (auto const& s : Strands())
        if (s->editor == editor) return s.get();
    return nullptr;
}

// The editor strand the calling code runs on.
EditorStrand* CurrentStrand()
{
    Strand* const running = Strand::Current();
    if (running == nullptr) return nullptr;
    for (auto const& s : Strands())
        if (&s->strand == running) return s.get();
    return nullptr;
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
    if (EditorStrand const* s = CurrentStrand()) return s->editor;
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

// One item of a strand's work, as a handler.
void RunItem(Item& item)
{
    RunLoop::HandlerScope scope;
    if (item.isEvent)
        Dispatcher::Dispatch(item.event);
    else
        RunLoop::GuardHostEntry("an editor's handler", item.work);
}

bool TakeItem(EditorStrand& s, Item& item)
{
    if (s.inbox.empty()) return false;
    item = std::move(s.inbox.front());
    s.inbox.pop_front();
    return true;
}

// A strand's first frame: its editor's work until there is none.
void DrainStrand(void* context)
{
    auto& s = *static_cast<EditorStrand*>(context);
    Item item;
    while (TakeItem(s, item))
        RunItem(item);
}

// A strand removed while its code ran goes once control is back here: at rest it is freed;
// still waiting (nothing will end its loops now) it is parked for good.
void Reap(EditorStrand& s)
{
    if (!s.gone || s.strand.GetState() == Strand::State::Running) return;
    if (s.strand.GetState() == Strand::State::Waiting) s.strand.Park();
    std::unique_ptr<EditorStrand> freed;
    {
        std::lock_guard<std::mutex> lock(StrandsMutex());
        auto& all = Strands();
        auto it = std::find_if(all.begin(), all.end(), [&s](auto const& e) { return e.get() == &s; });
        if (it == all.end()) return;
        freed = std::move(*it);
        all.erase(it);
    }
}

// Lets the strand take what came to it: started when at rest, resumed when waiting on this
// thread. A strand running under the caller takes it once control comes back to it.
void Serve(EditorStrand& s)
{
    switch (s.strand.GetState())
    {
    case Strand::State::Rest:
        if (!s.inbox.empty()) s.strand.Start(&DrainStrand, &s);
        break;
    case Strand::State::Waiting:
        s.strand.Resume();
        break;
    case Strand::State::Parked:
        s.inbox.clear();
        break;
    case Strand::State::Running:
        return;
    }
    Reap(s);
}

void Queue(EditorStrand& s, Item item)
{
    // Motion that the editor has not taken yet is replaced by the latest.
    if (item.isEvent && item.event.type == InputEvent::Motion && !s.inbox.empty() && s.inbox.back().isEvent &&
        s.inbox.back().event.type == InputEvent::Motion && s.inbox.back().event.surface == item.event.surface)
        s.inbox.back() = std::move(item);
    else
        s.inbox.push_back(std::move(item));
}

// Waiting on the calling thread, which alone may resume it.
bool WaitsHere(EditorStrand const& s)
{
    return s.strand.GetState() == Strand::State::Waiting && s.strand.Thread() == std::this_thread::get_id();
}

bool Listed(EditorStrand const* strand)
{
    auto const& all = Strands();
    return std::any_of(all.begin(), all.end(), [strand](auto const& s) { return s.get() == strand; });
}

// Every strand waiting on this thread looks at its conditions again (ends, timers, posted work
// may have met them).
void ServeWaiting()
{
    std::vector<EditorStrand*> waiting;
    for (auto const& s : Strands())
        if (WaitsHere(*s)) waiting.push_back(s.get());
    // A strand's work may close another editor, whose strand then goes.
    for (EditorStrand* s : waiting)
        if (Listed(s)) Serve(*s);
}

bool AnyInbox()
{
    auto const& all = Strands();
    return std::any_of(all.begin(), all.end(),
                       [](auto const& s) { return !s->inbox.empty() && WaitsHere(*s); });
}

std::optional<TimePoint> StrandDeadline()
{
    std::optional<TimePoint> soonest;
    for (auto const& s : Strands())
        if (s->deadline && WaitsHere(*s) && (!soonest || *s->deadline < *soonest)) soonest = s->deadline;
    return soonest;
}

// Gives the strand its work and lets it take it.
void Hand(EditorStrand& s, Item item)
{
    Queue(s, std::move(item));
    Serve(s);
}

void Deliver(InputEvent const& event)
{
    if (EditorStrand* s = StrandOfEditor(EditorOf(event.surface)))
    {
        Item item;
        item.isEvent = true;
        item.event = event;
        Hand(*s, std::move(item));
        return;
    }
    RunLoop::HandlerScope scope;
    Dispatcher::Dispatch(event);
}

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
    if (block && !paintPending.load() && !postedPending.load() && !AnyInbox())
    {
        std::optional<TimePoint> until = timerSource ? timerSource->NextDue() : std::nullopt;
        if (cap && (!until || *cap < *until)) until = cap;
        if (std::optional<TimePoint> waits = StrandDeadline(); waits && (!until || *waits < *until))
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
            Deliver(event);
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

    ServeWaiting();
    PaintIfPending();
    RunDeferred();
}

// A nested loop on an editor's strand: its work until `finished`, yielding whenever there is
// none (until `deadline`, when one is given).
void WaitOnStrand(EditorStrand& s, std::function<bool()> const& finished, std::optional<TimePoint> deadline)
{
    Item item;
    while (!finished())
    {
        if (TakeItem(s, item))
        {
            RunItem(item);
            continue;
        }
        s.deadline = deadline;
        Strand::Yield();
        s.deadline.reset();
    }
}
} // namespace

namespace
{
// The watch over grabs between the host's calls. Its thread starts with the first call that
// leaves a grab held and then stays, waiting; it reaches the back end only under the mutex,
// which the loop takes before it lets go of a back end.
struct GrabWatch
{
    std::mutex mutex;
    std::condition_variable changed;
    Backend* backend = nullptr;
    std::optional<TimePoint> deadline; // armed: no host call since the last one left a grab
    bool suspended = false;
    bool started = false;
};
GrabWatch& Watch()
{
    static auto* watch = new GrabWatch;
    return *watch;
}

void WatchGrabs()
{
    GrabWatch& w = Watch();
    std::unique_lock<std::mutex> lock(w.mutex);
    for (;;)
    {
        w.changed.wait(lock, [&w] { return w.deadline.has_value() && w.backend != nullptr; });
        // The loop's clock (scripted by tests) is read afresh in short steps of real time.
        while (w.deadline && w.backend != nullptr && w.backend->Now() < *w.deadline)
            w.changed.wait_for(lock, std::chrono::milliseconds(10));
        if (!w.deadline || w.backend == nullptr) continue;
        w.deadline.reset();
        w.backend->SuspendGrabs();
        w.suspended = true;
    }
}
} // namespace

void RunLoop::SetBackend(Backend* backend)
{
    {
        GrabWatch& w = Watch();
        std::lock_guard<std::mutex> lock(w.mutex);
        if (w.backend != backend)
        {
            w.backend = nullptr;
            w.deadline.reset();
            w.suspended = false;
        }
    }
    // Sequentially consistent with the wake's count and load: a wake that found the previous
    // back end is counted by the time this reads the count.
    Backend* const previous = currentBackend.exchange(backend);
    if (previous == nullptr || previous == backend) return;
    while (wakesInFlight.load() != 0)
        std::this_thread::yield();
}

void RunLoop::HostCallBegins()
{
    Backend* const backend = currentBackend.load();
    bool restore = false;
    {
        GrabWatch& w = Watch();
        std::lock_guard<std::mutex> lock(w.mutex);
        w.deadline.reset();
        restore = w.suspended && w.backend == backend;
        w.suspended = false;
    }
    if (restore && backend != nullptr) backend->RestoreGrabs();
}

void RunLoop::HostCallEnds()
{
    Backend* const backend = currentBackend.load();
    if (backend == nullptr || !backend->HoldsGrabs()) return;
    GrabWatch& w = Watch();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.backend = backend;
    w.deadline = backend->Now() + kGrabLetGo;
    if (!w.started)
    {
        w.started = true;
        std::thread(&WatchGrabs).detach();
    }
    w.changed.notify_all();
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
    std::thread::id const self = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> lock(StrandsMutex());
        // A strand whose thread ended is resumed by none: it keeps nothing from moving.
        for (auto const& s : Strands())
            if (s->strand.GetState() == Strand::State::Waiting && s->strand.Thread() != self &&
                s->strand.Thread() != std::thread::id())
                return false;
    }
    std::lock_guard<std::mutex> lock(bindMutex);
    if (users > 0) boundThread.store(self);
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

void RunLoop::Turn(bool block)
{
    OneTurn(block, std::nullopt, nullptr);
}

void RunLoop::RunUntil(std::function<bool()> const& done)
{
    if (!MayRun()) return;
    Counter levels(TheHandlers().nesting);
    Counter waits(TheHandlers().openEnded);
    Surface const* const editor = CurrentEditor();
    LoopOf loop(editor);
    std::function<bool()> const finished = [&] { return EditorAbandoned(editor) || done(); };
    if (EditorStrand* s = CurrentStrand())
    {
        WaitOnStrand(*s, finished, std::nullopt);
        return;
    }
    while (!finished())
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
    if (EditorStrand* s = CurrentStrand())
    {
        WaitOnStrand(*s, done, deadline);
        return;
    }
    while (!done())
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

void RunLoop::Resume(Surface const* editor)
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
    if (editor == nullptr || abandonedEditors.load() == 0) return;
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

void RunLoop::AddStrand(Surface const* editor)
{
    if (editor == nullptr || StrandOfEditor(editor) != nullptr) return;
    auto strand = std::make_unique<EditorStrand>(editor);
    std::lock_guard<std::mutex> lock(StrandsMutex());
    Strands().push_back(std::move(strand));
}

void RunLoop::RemoveStrand(Surface const* editor)
{
    std::unique_ptr<EditorStrand> gone;
    {
        std::lock_guard<std::mutex> lock(StrandsMutex());
        auto& all = Strands();
        auto it =
            std::find_if(all.begin(), all.end(), [editor](auto const& s) { return s->editor == editor; });
        if (it == all.end()) return;
        (*it)->inbox.clear();
        Strand::State const state = (*it)->strand.GetState();
        if (state == Strand::State::Running || state == Strand::State::Waiting)
        {
            // Its code runs under the caller (or waits): it goes once control is back.
            (*it)->gone = true;
            (*it)->editor = nullptr;
            if (state == Strand::State::Waiting)
                (*it)->strand.Park();
            else
                return;
        }
        gone = std::move(*it);
        all.erase(it);
    }
}

bool RunLoop::RunOnEditor(Surface const* editor, std::function<void()> work)
{
    EditorStrand* s = StrandOfEditor(editor);
    if (s == nullptr)
    {
        work();
        return true;
    }
    if (s->strand.GetState() == Strand::State::Parked) return false;
    Item item;
    item.work = std::move(work);
    Hand(*s, std::move(item));
    return true;
}

bool RunLoop::HasStrand(Surface const* editor)
{
    std::lock_guard<std::mutex> lock(StrandsMutex());
    return StrandOfEditor(editor) != nullptr;
}

Surface const* RunLoop::EditorOf(Surface const* surface)
{
    return gfx::EditorOf(surface);
}

bool RunLoop::StrandWaiting(Surface const* editor)
{
    std::lock_guard<std::mutex> lock(StrandsMutex());
    EditorStrand const* s = StrandOfEditor(editor);
    return s != nullptr && s->strand.GetState() == Strand::State::Waiting;
}

std::thread::id RunLoop::StrandThread(Surface const* editor)
{
    std::lock_guard<std::mutex> lock(StrandsMutex());
    EditorStrand const* s = StrandOfEditor(editor);
    return s != nullptr && s->strand.GetState() == Strand::State::Waiting ? s->strand.Thread()
                                                                          : std::thread::id();
}

bool RunLoop::AnyStrandWaiting()
{
    std::lock_guard<std::mutex> lock(StrandsMutex());
    for (auto const& s : Strands())
        if (s->strand.GetState() == Strand::State::Waiting) return true;
    return false;
}

bool RunLoop::OnStrand()
{
    return CurrentStrand() != nullptr;
}

Surface const* RunLoop::StrandEditor()
{
    EditorStrand const* s = CurrentStrand();
    return s != nullptr ? s->editor : nullptr;
}

bool RunLoop::Unwind(Surface const* editor)
{
    EditorStrand* s = StrandOfEditor(editor);
    if (s == nullptr) return true;
    // An ended loop returns as soon as it looks: one resume unwinds it, unless the code after it
    // waits again in a loop of another editor's (it ends that editor's close).
    for (int i = 0; i < 16 && s->strand.GetState() == Strand::State::Waiting; ++i)
        if (!s->strand.Resume() && s->strand.Thread() != std::this_thread::get_id()) break;
    bool const rest = s->strand.GetState() == Strand::State::Rest;
    if (rest) s->inbox.clear();
    return rest;
}

void RunLoop::ParkStrand(Surface const* editor)
{
    EditorStrand* s = StrandOfEditor(editor);
    if (s == nullptr || s->strand.GetState() != Strand::State::Waiting) return;
    {
        std::lock_guard<std::mutex> lock(StrandsMutex());
        s->strand.Park();
    }
    s->inbox.clear();
    s->deadline.reset();
    // What it made stays as it is, inert: off the window system, out of every list.
    std::vector<Surface*> made;
    for (Surface* surface : Surface::All())
        if (surface->Creator() == &s->strand) made.push_back(surface);
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        (*it)->Retire();
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

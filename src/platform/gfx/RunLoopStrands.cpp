#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Strand.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/RunLoopInternal.h"
#include "platform/gfx/Surface.h"

// The editors' strands: what comes to each (its inbox) and how it is served.
namespace gfx
{
namespace loop
{
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
} // namespace loop

using loop::CurrentStrand;
using loop::EditorStrand;
using loop::Item;

namespace
{
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

// Waiting, tied to no thread (its thread ended): it never runs again.
bool Stranded(EditorStrand const& s)
{
    return s.strand.GetState() == Strand::State::Waiting && s.strand.Thread() == std::thread::id();
}

// Gives the strand its work and lets it take it. A strand that can never run again keeps
// nothing: the work is dropped (false), and what waited for it goes too, however long a host
// goes on idling its editor.
bool Hand(EditorStrand& s, Item item)
{
    if (s.strand.GetState() == Strand::State::Parked || Stranded(s))
    {
        s.inbox.clear();
        return false;
    }
    Queue(s, std::move(item));
    Serve(s);
    return true;
}
} // namespace

EditorStrand* loop::CurrentStrand()
{
    Strand* const running = Strand::Current();
    if (running == nullptr) return nullptr;
    for (auto const& s : Strands())
        if (&s->strand == running) return s.get();
    return nullptr;
}

void loop::ServeWaiting()
{
    std::vector<EditorStrand*> waiting;
    for (auto const& s : Strands())
        if (WaitsHere(*s)) waiting.push_back(s.get());
    // A strand's work may close another editor, whose strand then goes.
    for (EditorStrand* s : waiting)
        if (Listed(s)) Serve(*s);
}

bool loop::AnyInbox()
{
    auto const& all = Strands();
    return std::any_of(all.begin(), all.end(),
                       [](auto const& s) { return !s->inbox.empty() && WaitsHere(*s); });
}

std::optional<TimePoint> loop::StrandDeadline()
{
    std::optional<TimePoint> soonest;
    for (auto const& s : Strands())
        if (s->deadline && WaitsHere(*s) && (!soonest || *s->deadline < *soonest)) soonest = s->deadline;
    return soonest;
}

void loop::Deliver(InputEvent const& event)
{
    if (EditorStrand* s = StrandOfEditor(RunLoop::EditorOf(event.surface)))
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

void loop::WaitOnStrand(EditorStrand& s, std::function<bool()> const& finished,
                        std::optional<TimePoint> deadline)
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

void loop::DropInput(Surface const* surface)
{
    // An event keeps its surface's address: one left behind the item that ended a menu, or
    // handed to a strand whose loop's condition already held, would reach freed memory (or a
    // later surface at that address).
    std::lock_guard<std::mutex> lock(StrandsMutex());
    for (auto const& s : Strands())
        std::erase_if(s->inbox,
                      [surface](Item const& item) { return item.isEvent && item.event.surface == surface; });
}

bool loop::StrandWaitsElsewhere()
{
    std::thread::id const self = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(StrandsMutex());
    // A strand whose thread ended is resumed by none: it keeps nothing from moving.
    for (auto const& s : Strands())
        if (s->strand.GetState() == Strand::State::Waiting && s->strand.Thread() != self &&
            s->strand.Thread() != std::thread::id())
            return true;
    return false;
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
    // What it held goes after the list's mutex is let go (a call's captures may free a surface,
    // whose input then leaves every inbox).
    std::unique_ptr<EditorStrand> gone;
    std::deque<Item> dropped;
    {
        std::lock_guard<std::mutex> lock(StrandsMutex());
        auto& all = Strands();
        auto it =
            std::find_if(all.begin(), all.end(), [editor](auto const& s) { return s->editor == editor; });
        if (it == all.end()) return;
        dropped.swap((*it)->inbox);
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
    if (!Admitted())
    {
        // Another thread may be inside the loop: the work waits for its next turn, and goes to
        // the editor's strand if it still has one then (never off it).
        bool const stranded = HasStrand(editor);
        Post(
            [editor, stranded, work = std::move(work)]() mutable
            {
                if (!stranded || StrandOfEditor(editor) != nullptr) RunOnEditor(editor, std::move(work));
            });
        return true;
    }
    EditorStrand* s = StrandOfEditor(editor);
    if (s == nullptr)
    {
        work();
        return true;
    }
    Item item;
    item.work = std::move(work);
    return Hand(*s, std::move(item));
}

std::size_t RunLoop::Queued(Surface const* editor)
{
    EditorStrand const* s = StrandOfEditor(editor);
    return s != nullptr ? s->inbox.size() : 0;
}

bool RunLoop::HasStrand(Surface const* editor)
{
    std::lock_guard<std::mutex> lock(StrandsMutex());
    return StrandOfEditor(editor) != nullptr;
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
} // namespace gfx

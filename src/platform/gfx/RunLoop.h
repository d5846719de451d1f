#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <thread>

#include "platform/gfx/Types.h"

namespace gfx
{
class Backend;
class Surface;

// The timers the loop calls (the framework's timer service, installed by the toolkit).
class TimerSource
{
public:
    virtual std::optional<TimePoint> NextDue() = 0;
    virtual void Pump(TimePoint now) = 0;

protected:
    ~TimerSource() = default;
};

// The one re-entrant event loop of the editors. It belongs to the thread that opened the
// first editor while nothing was open (Acquire) until the last one closes (Release); while it
// is bound, turns asked for by any other thread are refused.
//
// A turn reads the back end's events and dispatches them, calls the due timers (waiting for
// the next one when asked to block), runs the work posted from other threads, then paints
// every surface with damaged nodes. Mouse tracking, modal runs, menus and synchronous
// animations nest turns with RunUntil.
//
// Editor strands. An editor that a host opened (EditorHost) has a strand of its own (a stack:
// platform/Strand.h), and every handler of that editor runs on it: the input that comes to its
// surfaces (its dialogs and menus included), its building, its timers and its drains. A nested
// loop on a strand never turns the loop: it runs the work that came to its editor and, when
// there is none, yields back to the host's call, which returns; each later turn (inside the
// host's next call) resumes it with what came meanwhile, until its condition holds. So no host
// call waits for the user: a menu, dialog, drag or fade goes on across the host's calls and
// returns its result to the code that started it as before, and other editors stay live.
// - Strands run only on the admitted thread (see Admission below): work for them from any other
//   thread waits in the loop's queue for the next admitted turn.
// - A strand at rest holds nothing, and any thread admitted to the loop serves its editor (the
//   binding moves as before). A strand waiting in a nested loop is tied to its thread: while
//   one waits, the binding stays with that thread (MoveBinding refuses), and only it resumes it.
//   A strand whose thread ended is resumed by none (its editor's loops wait until it is closed),
//   holds the binding no more and takes no more work: what is handed to it (input, idles' drains,
//   timers) is dropped, so its inbox stays empty however long the host idles its editor.
// - Input queued for a strand names its surface; a surface that goes takes its queued input out
//   of every inbox (Forget), so an event left behind the one that ended a menu, or handed to a
//   strand whose loop had already ended, never reaches it.
// - Pending pointer motion is taken as its latest position (the X back end gives the latest of
//   consecutive motion; an editor's queue keeps one).
// - Ending an editor's loops (End, Abandon) makes its waiting loops return when the strand is
//   next resumed (Unwind resumes it at once); a strand that can no longer be resumed on its
//   thread is parked for good (ParkStrand): nothing on it runs again, and the surfaces made on it
//   are retired.
// - A nested loop off every strand (a thread's own stack: tests, or an editor opened without a
//   host) nests turns as before.
class RunLoop
{
public:
    // The back end of the clock, the events and the waits (null: the steady clock, no events).
    // Replacing a back end returns once no wake on another thread still uses it (see Wake).
    static void SetBackend(Backend* backend);
    static Backend* GetBackend();
    static TimePoint Now();
    static void SetTimerSource(TimerSource* source);

    // Binds the loop to the calling thread, or counts one more user on it. False when it is
    // bound to another thread.
    static bool Acquire();
    // One user fewer; the loop is free for any thread after the last. Any thread the editors'
    // host admitted.
    static void Release();
    static bool IsBound();
    // Moves a bound loop, with its users, to the calling thread. Only for a caller that knows
    // the bound thread is outside the loop and will not come back into it unasked (the editors'
    // host, which tracks that thread's entries). False, with nothing moved, while a strand waits
    // on another thread that is still running.
    static bool MoveBinding();
    // True on the bound thread, and on any thread while the loop is not bound.
    static bool MayRun();

    // Admission. The editors' host admits one thread at a time to the loop (the thread inside one
    // of its entries: toolkit/EditorHost.h) and installs its gate here. Only the admitted thread
    // turns the loop or runs work on a strand; the loop's binding alone is not enough (the thread
    // it is bound to may be outside every entry, in a host call of another kind, while another
    // thread is let in). A turn or a nested loop asked for outside every entry (a test driving
    // the loop) comes in through the gate for its length: let in while no other thread is inside,
    // else refused. Work for an editor from a thread not admitted (RunOnEditor: a note shown from
    // a host's call that is no editor's) is queued, and the loop is woken: it runs at the next
    // admitted turn. Without a gate, the bound thread is admitted.
    struct Gate
    {
        bool (*inside)(); // the calling thread is admitted now
        bool (*enter)();  // lets the calling thread in, once more (false: another thread is inside)
        void (*leave)();  // one enter fewer
    };
    static void SetGate(Gate gate);
    // The calling thread is admitted to the loop now (and it may run there).
    static bool Admitted();

    // One turn (nothing on a refused thread: one not let in at the gate). With block, waits for
    // an event, a wake, posted work or the next timer when nothing is pending.
    static void Turn(bool block);
    // Nested turns until done() is true (checked between events too). A wait in here with no
    // scripted input left may be failed by a test back end. A nested loop belongs to an editor:
    // the one whose surface the event being handled came to, else the one an EditorScope names,
    // else the enclosing nested loop's.
    static void RunUntil(std::function<bool()> const& done);
    // Nested turns for a span of the loop's clock.
    static void RunFor(Clock::duration span);
    // How many RunUntil calls are running, and how many of them wait for a condition only.
    static int Nesting();

    // Ending nested loops. Any thread. An abandoned nested loop (RunUntil, RunFor, the tracking of
    // a press) returns at once, and one started while abandoned does not wait. A caller that
    // repeats a nested loop until something happens stops on Abandoned too: once abandoned, the
    // loop runs no turn, so nothing it waits for can happen.
    //
    // One editor's: named by its host-embedded surface (the root of a frame's or popup's owner
    // chain); where another editor's nested loop runs above one of its loops, that one ends once
    // the other has returned. Abandon: the host hid or destroyed its window, until ShowAgain (the
    // host shows the editor again). End: the editor is being closed; for good, whatever ShowAgain says,
    // until its surface goes. Forget: a surface goes (its destruction calls it, editor thread): an
    // editor ended under it is forgotten, and the input queued for it leaves every strand's inbox
    // (so no event is ever dispatched to a surface that is gone).
    static void Abandon(Surface const* editor);
    static void ShowAgain(Surface const* editor);
    static void End(Surface const* editor);
    static void Forget(Surface const* editor);
    // Every editor's, until ResumeNested: the window system went away under the editors, and
    // they stay inert until they are closed.
    static void AbandonNested();
    static void ResumeNested();
    // True when the loops of the editor that a nested loop started now would belong to are
    // abandoned (or all are).
    static bool Abandoned();
    static bool Abandoned(Surface const* surface);
    // The host-embedded surface at the root of a surface's owner chain: its editor.
    static Surface const* EditorOf(Surface const* surface);
    // Names the editor that nested loops started in its scope belong to when no event is being
    // handled (an editor being built). Editor thread.
    class EditorScope
    {
    public:
        explicit EditorScope(Surface const* editor);
        ~EditorScope();
        EditorScope(EditorScope const&) = delete;
        EditorScope& operator=(EditorScope const&) = delete;

    private:
        Surface const* outer;
    };
    static bool InOpenEndedWait();
    // Editor strands (the editors' host; the loop's thread). AddStrand gives the editor whose
    // host-embedded surface that is a strand; RemoveStrand takes it away again (the strand must
    // be at rest or parked; a parked one's stack is kept for good).
    static void AddStrand(Surface const* editor);
    static void RemoveStrand(Surface const* editor);
    // Runs `work` as a handler of the editor on its strand: at once when the strand is at rest,
    // inside its innermost nested loop when it waits (resumed now), later when it is running
    // under the caller (a host call made from one of its handlers). Without a strand (none for
    // that editor, or `editor` null), runs it here. False when the editor's strand is parked or
    // its thread ended: nothing runs, and nothing is kept for it. From a thread not admitted, the
    // work is queued for the next admitted turn (dropped then if the editor's strand is gone).
    static bool RunOnEditor(Surface const* editor, std::function<void()> work);
    // How much work waits in the editor's inbox (none without a strand).
    static std::size_t Queued(Surface const* editor);
    // The editor's strand: there, waiting in a nested loop.
    static bool HasStrand(Surface const* editor);
    static bool StrandWaiting(Surface const* editor);
    // The thread the editor's waiting strand is tied to.
    static std::thread::id StrandThread(Surface const* editor);
    // True while any strand waits (on whichever thread).
    static bool AnyStrandWaiting();
    // True when the calling code runs on an editor's strand; the editor.
    static bool OnStrand();
    static Surface const* StrandEditor();
    // Resumes an ended editor's waiting strand on its own thread until it is at rest (its loops
    // return at once). False when it still waits (tied to another thread, or still waiting).
    static bool Unwind(Surface const* editor);
    // The editor's waiting strand is never resumed again; the surfaces made on it leave the
    // window system.
    static void ParkStrand(Surface const* editor);

    // The host's calls into the editors; the editors' host marks the outermost call of the
    // thread admitted to the loop. A grab of the pointer or the keyboard (a menu, a drag) never
    // outlives the host's calls by much: when none has come for kGrabLetGo on the loop's clock,
    // a thread of ours lets go of it (Backend::SuspendGrabs, which touches only the window
    // system's connection), and the next call takes it again. The menu or drag goes on.
    static constexpr std::chrono::milliseconds kGrabLetGo{250};
    static void HostCallBegins();
    static void HostCallEnds();

    // Any thread: queue work for the loop's next turn, and wake it.
    static void Post(std::function<void()> work);
    // Any thread; no lock, no allocation. The back end it wakes is held until it returns: the
    // loop lets go of a back end (SetBackend) only once every wake that may have found it has
    // returned, so a window system may delete a back end the loop has let go of.
    static void Wake();
    // Tests: called by a wake between finding the back end and waking it (null: nothing).
    using WakeHook = void (*)(Backend* backend);
    static void SetWakeHook(WakeHook hook);
    // Any thread: some node needs display (no lock, no allocation).
    static void RequestPaint();
    static bool PaintPending();

    // Frees what it is given once the outermost handler has returned (at once when none runs).
    static void DeferRelease(std::function<void()> release);
    // Marks a handler call for DeferRelease.
    class HandlerScope
    {
    public:
        HandlerScope();
        ~HandlerScope();
        HandlerScope(HandlerScope const&) = delete;
        HandlerScope& operator=(HandlerScope const&) = delete;
    };

    // For host entries (open, idle, close): runs f, and writes any exception to standard
    // error instead of letting it reach the host. Returns whether f returned normally.
    template <typename F> static bool GuardHostEntry(char const* where, F&& f) noexcept
    {
        try
        {
            f();
            return true;
        }
        catch (std::exception const& e)
        {
            std::fprintf(stderr, "Torvane: %s: %s\n", where, e.what());
        }
        catch (char const* text)
        {
            std::fprintf(stderr, "Torvane: %s: %s\n", where, text ? text : "");
        }
        catch (...)
        {
            std::fprintf(stderr, "Torvane: %s: unknown exception\n", where);
        }
        return false;
    }
};
} // namespace gfx

#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>

// Numbered repeating timers, called back on the main thread. A class derives from
// TimerListener, implements TimerEvent and starts timers by id with a period in
// milliseconds; the first call comes one period after the start, then one every period.
// Starting a running id again restarts it with the new period. All timers live in one
// process-wide table; a listener's timers stop when it is destroyed.
//
// Nothing fires by itself: whoever owns the main loop (the editor's event loop, the
// plug-in host's idle calls) calls TimerService::Pump regularly, and the due timers are
// called from there. Main thread only; the table has no lock: where several threads may call in
// turn (a host's), the owner of the loop installs a check of the thread (SetThreadCheck), and a
// touch of the table from any other thread is counted and reported. A listener that never
// started a timer touches no table, not even when it is destroyed.
class TimerListener
{
public:
    TimerListener() = default;
    TimerListener(TimerListener const&) {} // a copy runs no timers
    TimerListener& operator=(TimerListener const&) { return *this; }
    virtual ~TimerListener();

    virtual void TimerEvent(int id) = 0;
    // A period of 0 counts as 1 ms.
    virtual void StartTimer(int id, unsigned int ms);
    // Does nothing when the id is not running.
    virtual void StopTimer(int id);

private:
    bool timed = false; // started a timer once
};

class TimerService
{
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // Calls every timer that is due at `now`, in order of due time (then of starting).
    // A timer that is late by several periods is called once, and its next call comes at
    // the next multiple of its period from its start. Timers may be started, restarted and
    // stopped, and listeners destroyed, inside TimerEvent; a timer started or restarted
    // there first fires on a later pump.
    static void Pump(TimePoint now);
    // Pump(Now()).
    static void Pump();

    // The time timers are started from: the steady clock, or the function installed with
    // SetClock (tests install a fake one). Installing null restores the steady clock.
    static TimePoint Now();
    static std::function<TimePoint()> SetClock(std::function<TimePoint()> clock);

    // When the earliest timer is due, for a loop that waits; none when no timer runs.
    static std::optional<TimePoint> NextDue();

    static std::size_t NumTimers();
    static bool IsRunning(TimerListener const* owner, int id);

    // Where timer calls run, for a loop whose handlers run in contexts of their own (the
    // editors' strands): `capture` names the context of the code that starts a timer (null:
    // none), and the pump hands each call of a timer started in a context to `run`, which makes
    // it there, now or (while that context is busy under the pump) a little later; a call made
    // later is dropped when the timer stopped or restarted meanwhile.
    struct Routing
    {
        void const* (*capture)() = nullptr;
        void (*run)(void const* context, std::function<void()> call) = nullptr;
    };
    static void SetRouting(Routing routing);
    // Stops every timer started in the context.
    static void StopContext(void const* context);

    // The thread allowed to touch the table now (null: any). A touch from another thread goes on
    // but is counted, and the first is written to standard error.
    static void SetThreadCheck(bool (*mayTouch)());
    static long StrayTouches();
};

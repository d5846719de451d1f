#include "framework/Timers.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace
{
using Duration = TimerService::Clock::duration;
using TimePoint = TimerService::TimePoint;

struct TimerInfo
{
    int id;
    TimerListener* owner;
    Duration period;
    TimePoint due;
    std::uint64_t serial; // new for every start, so a pump can tell a restarted timer apart
    void const* context;  // where its calls run (TimerService::Routing)
};

std::atomic<bool (*)()> threadCheck{nullptr};
std::atomic<long> strayTouches{0};

// The process-wide table, in order of first start. Never destroyed, as the clock and the routing:
// a host that exits with an editor open may still pump timers after the static objects are gone.
std::vector<TimerInfo>& Table()
{
    static auto* table = new std::vector<TimerInfo>;
    if (bool (*mayTouch)() = threadCheck.load(std::memory_order_relaxed); mayTouch != nullptr && !mayTouch())
        if (strayTouches.fetch_add(1) == 0)
            std::fprintf(stderr,
                         "Torvane: the timer table was touched from a thread outside the editor loop\n");
    return *table;
}

std::function<TimePoint()>& ClockFunction()
{
    static auto* clock = new std::function<TimePoint()>;
    return *clock;
}

TimerService::Routing routing{};

std::uint64_t nextSerial = 1;

std::vector<TimerInfo>::iterator FindTimer(int id, TimerListener const* owner)
{
    std::vector<TimerInfo>& table = Table();
    return std::find_if(table.begin(), table.end(),
                        [&](TimerInfo const& t) { return t.id == id && t.owner == owner; });
}

TimerInfo* FindSerial(std::uint64_t serial)
{
    for (TimerInfo& t : Table())
        if (t.serial == serial) return &t;
    return nullptr;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// TimerListener

TimerListener::~TimerListener()
{
    if (!timed) return;
    std::vector<TimerInfo>& table = Table();
    std::erase_if(table, [this](TimerInfo const& t) { return t.owner == this; });
}

void TimerListener::StartTimer(int id, unsigned int ms)
{
    Duration period = std::chrono::milliseconds(std::max(ms, 1u));
    void const* context = routing.capture != nullptr ? routing.capture() : nullptr;
    TimerInfo info{id, this, period, TimerService::Now() + period, nextSerial++, context};
    timed = true;
    auto found = FindTimer(id, this);
    if (found != Table().end())
        *found = info; // restarted in its place
    else
        Table().push_back(info);
}

void TimerListener::StopTimer(int id)
{
    if (!timed) return;
    auto found = FindTimer(id, this);
    if (found != Table().end()) Table().erase(found);
}

// ---------------------------------------------------------------------------------------------
// TimerService

void TimerService::Pump(TimePoint now)
{
    // The due timers are taken first: callbacks may change the table at will.
    struct Due
    {
        TimePoint due;
        std::uint64_t serial;
    };
    std::vector<Due> due;
    for (TimerInfo const& t : Table())
        if (t.due <= now) due.push_back({t.due, t.serial});
    std::stable_sort(due.begin(), due.end(), [](Due const& a, Due const& b) { return a.due < b.due; });

    for (Due const& d : due)
    {
        TimerInfo* t = FindSerial(d.serial);
        if (!t || t->due > now) continue; // stopped, restarted or already called from a nested pump
        // Missed periods are skipped: one call, and the next one stays on the period's grid.
        auto missed = (now - t->due) / t->period;
        t->due += (missed + 1) * t->period;
        TimerListener* owner = t->owner;
        int id = t->id;
        if (t->context == nullptr || routing.run == nullptr)
        {
            owner->TimerEvent(id); // t may be gone from here on
            continue;
        }
        // The call may come later (its context is busy under us): only while the timer runs.
        std::uint64_t const serial = t->serial;
        routing.run(t->context,
                    [serial]
                    {
                        if (TimerInfo* running = FindSerial(serial)) running->owner->TimerEvent(running->id);
                    });
    }
}

void TimerService::SetRouting(Routing r)
{
    routing = r;
}

void TimerService::StopContext(void const* context)
{
    if (context == nullptr) return;
    std::erase_if(Table(), [context](TimerInfo const& t) { return t.context == context; });
}

void TimerService::SetThreadCheck(bool (*mayTouch)())
{
    threadCheck.store(mayTouch);
}

long TimerService::StrayTouches()
{
    return strayTouches.load();
}

void TimerService::Pump()
{
    Pump(Now());
}

TimePoint TimerService::Now()
{
    std::function<TimePoint()>& clock = ClockFunction();
    return clock ? clock() : Clock::now();
}

std::function<TimePoint()> TimerService::SetClock(std::function<TimePoint()> clock)
{
    return std::exchange(ClockFunction(), std::move(clock));
}

std::optional<TimePoint> TimerService::NextDue()
{
    std::optional<TimePoint> next;
    for (TimerInfo const& t : Table())
        if (!next || t.due < *next) next = t.due;
    return next;
}

std::size_t TimerService::NumTimers()
{
    return Table().size();
}

bool TimerService::IsRunning(TimerListener const* owner, int id)
{
    return FindTimer(id, owner) != Table().end();
}

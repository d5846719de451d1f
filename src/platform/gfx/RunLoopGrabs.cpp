#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/gfx/Backend.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/RunLoopInternal.h"

namespace gfx
{
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

void loop::ForgetGrabs(Backend* next)
{
    GrabWatch& w = Watch();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (w.backend != next)
    {
        w.backend = nullptr;
        w.deadline.reset();
        w.suspended = false;
    }
}

void RunLoop::HostCallBegins()
{
    Backend* const backend = GetBackend();
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
    Backend* const backend = GetBackend();
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
} // namespace gfx

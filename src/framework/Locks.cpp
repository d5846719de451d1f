#include "framework/Locks.h"

#include "platform/MessagePopup.h"

namespace AudioAPI
{

void Signal::Set()
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        open = true;
    }
    opened.notify_all();
}

void Signal::WaitFor()
{
    std::unique_lock<std::mutex> guard(mutex);
    opened.wait(guard, [this] { return open; });
}

} // namespace AudioAPI

void PerformanceCounter::ShowTime(long, char const*)
{
    MessagePopup("Not implemented on Mac", "");
}

#include "framework/Locks.h"

#include "platform/MessagePopup.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace AudioAPI
{

namespace
{

// Sets up a recursive mutex with priority inheritance, else a plain recursive one; false when
// the protocol was refused.
bool InitRecursive(pthread_mutex_t& mutex, bool inherit)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    bool ok = !inherit || pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT) == 0;
    if (ok) ok = pthread_mutex_init(&mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

} // namespace

Mutex::Mutex()
{
    if (InitRecursive(mutex, true))
    {
        protocol = PTHREAD_PRIO_INHERIT;
        return;
    }
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        std::fputs("Torvane: the system refuses priority inheritance; the plug-in mutex is a plain recursive "
                   "mutex\n",
                   stderr);
    if (!InitRecursive(mutex, false)) throw std::system_error(EAGAIN, std::generic_category(), "mutex");
}

Mutex::~Mutex()
{
    pthread_mutex_destroy(&mutex);
}

int Mutex::Protocol() const
{
#if defined(__GLIBC__)
    // glibc keeps the protocol in the mutex's kind, priority inheritance as the bit 32
    // (its PTHREAD_MUTEX_PRIO_INHERIT_NP), which the futex calls of every claim follow.
    constexpr int kInheritBit = 32;
    bool const inherits = (mutex.__data.__kind & kInheritBit) != 0;
    return inherits && protocol == PTHREAD_PRIO_INHERIT ? PTHREAD_PRIO_INHERIT : PTHREAD_PRIO_NONE;
#else
    return protocol;
#endif
}

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

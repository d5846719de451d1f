#pragma once

#include <thread>
#include <utility>

#include "framework/Locks.h"

// Calls on(true) when the thread that made it first claims `mutex` and on(false) when it lets go
// of its last claim, from its making to its end; other threads' claims are passed over.
template <typename On> class OwnHolds : public AudioAPI::Mutex::Watcher
{
public:
    OwnHolds(AudioAPI::Mutex& m, On onHeld)
        : mutex(m), thread(std::this_thread::get_id()), on(std::move(onHeld))
    {
        mutex.Watch(this);
    }
    ~OwnHolds() { mutex.Watch(nullptr); }
    OwnHolds(OwnHolds const&) = delete;
    OwnHolds& operator=(OwnHolds const&) = delete;

    void Held(bool held) override
    {
        if (std::this_thread::get_id() == thread) on(held);
    }

private:
    AudioAPI::Mutex& mutex;
    std::thread::id const thread;
    On on;
};

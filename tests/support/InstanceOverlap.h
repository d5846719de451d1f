#pragma once

// A host's close overlapping a call that is already on its way into the same instance: the call
// runs on one thread, the close on another, and the close starts only once the call has been
// counted in (an entry hook tells), at an offset into the call from that point. At the offset
// Held the counted call waits in the hook until the close has been counted in too, so both are
// inside the instance together.

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "platform/InstanceLife.h"
#include "support/Sanitizers.h"

namespace overlap
{
enum class Offset
{
    Held,
    None,
    Micro20,
    Micro200,
    Milli1,
    Milli3
};
inline constexpr Offset kOffsets[] = {Offset::Held,     Offset::None,   Offset::Micro20,
                                      Offset::Micro200, Offset::Milli1, Offset::Milli3};

inline std::chrono::microseconds Delay(Offset offset)
{
    switch (offset)
    {
    case Offset::Micro20:
        return std::chrono::microseconds(20);
    case Offset::Micro200:
        return std::chrono::microseconds(200);
    case Offset::Milli1:
        return std::chrono::microseconds(1000);
    case Offset::Milli3:
        return std::chrono::microseconds(3000);
    default:
        return std::chrono::microseconds(0);
    }
}

// Rounds of each overlap row: fewer under a sanitizer, whose runs are many times slower.
inline int Rounds()
{
    return kUnderSanitizer ? 200 : 1000;
}

// Which thread's next counted call the hook reports.
struct Gate
{
    enum Role
    {
        Nobody,
        Call, // the call in flight
        Close // the closer
    };
    static inline std::atomic<int> stage{0}; // 1: the call is counted; 2: the close is counted too
    static inline thread_local Role role = Nobody;
    static inline thread_local bool hold = false;

    static void Hook(InstanceLife*)
    {
        if (role == Call)
        {
            role = Nobody;
            stage.store(1);
            auto const bound = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (hold && stage.load() < 2 && std::chrono::steady_clock::now() < bound)
                std::this_thread::yield();
        }
        else if (role == Close)
        {
            role = Nobody;
            stage.store(2);
        }
    }
};

// The entry hook for the lifetime of a test.
class HookScope
{
public:
    HookScope() { InstanceLife::SetEnterHook(&Gate::Hook); }
    ~HookScope() { InstanceLife::SetEnterHook(nullptr); }
    HookScope(HookScope const&) = delete;
    HookScope& operator=(HookScope const&) = delete;
};

// Runs `call` on one thread and `close` on another, the close starting `offset` after the call
// was counted in.
inline void Race(Offset offset, std::function<void()> const& call, std::function<void()> const& close)
{
    Gate::stage.store(0);
    std::thread caller(
        [&]
        {
            Gate::role = Gate::Call;
            Gate::hold = offset == Offset::Held;
            call();
            Gate::role = Gate::Nobody;
        });
    std::thread closer(
        [&]
        {
            auto const bound = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (Gate::stage.load() < 1 && std::chrono::steady_clock::now() < bound)
                std::this_thread::yield();
            EXPECT_GE(Gate::stage.load(), 1) << "the call was never counted in";
            auto const start = std::chrono::steady_clock::now() + Delay(offset);
            while (std::chrono::steady_clock::now() < start)
            {
            }
            Gate::role = Gate::Close;
            close();
            Gate::role = Gate::Nobody;
        });
    caller.join();
    closer.join();
}
} // namespace overlap

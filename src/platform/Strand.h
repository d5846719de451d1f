#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>

// A strand: a stack of its own that code runs on until it finishes or yields, on the thread
// that started or resumed it. The editors' handlers run on strands, so that a nested loop (a
// menu, a dialog, a drag, a fade) yields back to the host's call instead of holding it, and
// goes on when a later call resumes it.
//
// Rules:
// - A strand at rest holds no frames: work on it may start on any thread. Once it yields it is
//   waiting, tied to the thread it yielded on, and only that thread resumes it (a frame may keep
//   the address of that thread's thread-local storage across the yield). When that thread ends,
//   it is tied to none and never resumed (a later thread may be given the same id).
// - A waiting strand that may never be resumed (its thread gone, its work abandoned) is parked
//   for good: its stack's address space stays reserved and nothing on it runs again; the pages
//   below its frames go back to the system.
// - Exceptions never cross a switch: whatever the work throws is caught on the strand. Each
//   strand has the C++ runtime's exception state of its own (the handlers it is inside, the
//   exceptions it is unwinding), empty at its start and exchanged with the thread's on every
//   switch, so code that yields inside a handler keeps its exception, and the thread's own code
//   never sees it.
// - A strand runs with its thread's signal mask as it is when the strand is started or resumed;
//   the thread has its own mask back when the strand yields or finishes.
// - State that is "current" for the running code (a scope of the user's input, the handler
//   stack of the loop) is declared as a StrandLocal: each strand has its own, exchanged with the
//   thread's on every switch, so code that runs after a yield never finds a strand's state set.
// - The stacks are mapped with a guard page below them and shown to the leak checker; the
//   address and thread sanitizers are told of every switch.
class Strand
{
public:
    // Bytes of stack a strand gets (besides its guard page): room for our own frames, and below
    // them the 8 MiB a host's thread has by default for a call the host makes from a callback of
    // ours. Reserved only: pages are taken as the stack grows into them.
    static constexpr std::size_t kStackSize = std::size_t{12} << 20;

    using Work = void (*)(void* context);

    Strand();
    // Only at rest or parked: a parked strand's stack is kept (what it refers to is never
    // freed, and the leak checker still sees it).
    ~Strand();
    Strand(Strand const&) = delete;
    Strand& operator=(Strand const&) = delete;

    enum class State
    {
        Rest,    // nothing on it
        Running, // on the calling thread's chain of stacks
        Waiting, // yielded, tied to its thread
        Parked   // never resumed again
    };
    // Any thread (another thread's answer may be out of date at once).
    State GetState() const { return state.load(std::memory_order_acquire); }
    // The thread a waiting strand is tied to.
    std::thread::id Thread() const { return tiedTo.load(std::memory_order_acquire); }

    // Runs `work(context)` on the strand, which must be at rest, until it returns or yields.
    // True when the strand is at rest again.
    bool Start(Work work, void* context);
    // Resumes a waiting strand on its own thread until it finishes or yields again; true when it
    // is at rest. Nothing happens for a strand that is not waiting or not tied to this thread.
    bool Resume();
    // From code running on a strand: back to whoever started or resumed it.
    static void Yield();
    // The strand whose code is running on the calling thread, or null on a thread's own stack (or
    // inside a host call made on a strand's stack; see HostCall).
    static Strand* Current();

    // A waiting strand is never resumed again.
    void Park();
    // The thread a waiting strand is tied to ended: it is tied to none (Thread() is no thread's
    // id), so it is never resumed, whichever thread is given that id later.
    void Untie(std::thread::id ended);

    // The code of a call that the host made into us from inside a call of ours to it, on a
    // strand's stack: it runs with a thread's state of its own (no strand current, every
    // StrandLocal fresh, no exception being handled) and sees it restored when it leaves.
    class HostCall
    {
    public:
        HostCall();
        ~HostCall();
        HostCall(HostCall const&) = delete;
        HostCall& operator=(HostCall const&) = delete;

    private:
        Strand* outer;
        void* saved = nullptr;
    };

    struct Impl;

private:
    static void Entry();
    void SwitchIn();
    void SwitchOut();

    std::unique_ptr<Impl> impl;
    std::atomic<State> state{State::Rest};
    std::atomic<std::thread::id> tiedTo{};
};

// One piece of per-thread state that belongs to the code running on a strand. Declared next to a
// thread_local variable of a default-constructible type T (which it names through a function
// returning the calling thread's instance); each strand gets its own T, value-initialised,
// exchanged with the thread's on every switch.
class StrandLocal
{
public:
    StrandLocal();
    virtual void* Create() const = 0;
    virtual void Destroy(void* box) const = 0;
    // Exchanges the calling thread's value with *box.
    virtual void Exchange(void* box) const = 0;

protected:
    ~StrandLocal() = default;
};

template <class T> class StrandLocalOf final : public StrandLocal
{
public:
    using Access = T& (*)();
    explicit StrandLocalOf(Access a, void (*after)() = nullptr) : access(a), afterExchange(after) {}
    void* Create() const override { return new T(); }
    void Destroy(void* box) const override { delete static_cast<T*>(box); }
    void Exchange(void* box) const override
    {
        T& value = access();
        T* other = static_cast<T*>(box);
        T held = std::move(value);
        value = std::move(*other);
        *other = std::move(held);
        if (afterExchange != nullptr) afterExchange();
    }

private:
    Access access;
    void (*afterExchange)();
};

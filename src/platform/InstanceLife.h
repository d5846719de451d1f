#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

// How long a plug-in instance lives: until the last call leaves it.
//
// Every call a host makes into an instance (not its audio processing) is counted as the first
// thing its C entry does, on one word that also holds a closing bit. The close sets the bit and
// does its own part (its editor's end); the instance itself goes with the last counted call to
// leave, whichever thread that is. Work that must finish on another thread (an editor's
// disposal posted to the editor thread) holds the instance like a call in flight. The
// instance's own calls back to its host enter through the same word, so a close never falls
// between the closing test and the call: once the bit is set no callback starts, and the close
// waits a bounded while for those in flight on other threads.
//
// A call the host makes concurrently with the close of the same instance, or after it, is the
// host's fault (as with any plug-in): it may meet a deleted instance.
class InstanceLife
{
public:
    // Run once by the last call to leave a closing instance: ends and deletes the instance
    // (`owner`). Nothing may touch the word afterwards.
    using Finish = void (*)(void* owner);

    InstanceLife(Finish finish, void* owner) : finish(finish), owner(owner) {}
    InstanceLife(InstanceLife const&) = delete;
    InstanceLife& operator=(InstanceLife const&) = delete;

    // One counted host call, entered on construction and left on destruction. False when the
    // instance is closing: the call does nothing.
    class Call
    {
    public:
        explicit Call(InstanceLife& life) : life(life), open(life.Enter()) {}
        ~Call() { life.Leave(); }
        Call(Call const&) = delete;
        Call& operator=(Call const&) = delete;
        explicit operator bool() const { return open; }

    private:
        InstanceLife& life;
        bool open;
    };

    // Counts a call in; false when the closing bit was set already (the call is counted all the
    // same and must Leave).
    bool Enter();
    // The last leave after the close runs the finish.
    void Leave();
    // Keeps the instance for work that finishes later (a pending disposal); only from inside a
    // counted call or another hold. Released with Leave.
    void Hold();

    // The close, from inside its own counted call: sets the closing bit (false when it was set
    // already: a second closer does nothing more).
    bool BeginClose();
    bool Closing() const;
    // After BeginClose: waits, holding no lock, until no callback to the host is in flight on
    // another thread (those on the calling thread's stack are not waited for, however many
    // threads are in callbacks). False after the bound.
    bool WaitForCallbacks(std::chrono::milliseconds bound);

    // One callback to the host, entered on construction: false once the instance is closing
    // (the callback must not be made). An open one is linked into its thread's chain of
    // callbacks in flight (no allocation, no lock): it must end on the thread, and in the
    // stack order, it began in.
    class Callback
    {
    public:
        explicit Callback(InstanceLife& life);
        ~Callback();
        Callback(Callback const&) = delete;
        Callback& operator=(Callback const&) = delete;
        explicit operator bool() const { return open; }

    private:
        friend class InstanceLife;
        InstanceLife& life;
        bool open;
        Callback* outer = nullptr; // the callback in flight below it on its thread
    };

    // Tests: called right after a call is counted in (null: nothing), on the calling thread.
    using EnterHook = void (*)(InstanceLife* life);
    static void SetEnterHook(EnterHook hook);

private:
    static constexpr std::uint32_t kClosing = 1u << 31;
    static constexpr std::uint32_t kCallOne = 1u;
    static constexpr std::uint32_t kCallMask = (1u << 16) - 1;
    static constexpr std::uint32_t kCallbackOne = 1u << 16;
    static constexpr std::uint32_t kCallbackMask = ((1u << 15) - 1) << 16;

    std::atomic<std::uint32_t> word{0};
    Finish finish;
    void* owner;
};

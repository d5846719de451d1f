#pragma once

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include <pthread.h>

namespace AudioAPI
{

// Recursive mutex: a thread may claim it again while holding it and must release it as often.
// It knows which thread holds it, so code that must never run under it can check. Kinds of mutex
// that do work of their own around the claims (the plug-in mutex) override the three operations.
//
// It inherits priority: while a thread of higher priority (a host's real-time audio thread) waits
// for it, its holder runs at that priority, so a holder preempted by ordinary work never keeps the
// waiter long. Where the system refuses the protocol it is a plain recursive mutex, and the first
// such mutex says so once on stderr.
class Mutex
{
public:
    Mutex();
    virtual ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    virtual void Claim()
    {
        pthread_mutex_lock(&mutex);
        Enter();
    }
    virtual void Release()
    {
        Leave();
        pthread_mutex_unlock(&mutex);
    }
    // Claims the mutex only when that needs no waiting; true when claimed.
    virtual bool TryClaim()
    {
        if (pthread_mutex_trylock(&mutex) != 0) return false;
        Enter();
        return true;
    }

    // Told on the holding thread right after a thread's first claim (true) and right before its
    // last release (false): for tests that check what a thread does while it holds the mutex.
    class Watcher
    {
    public:
        virtual void Held(bool held) = 0;

    protected:
        ~Watcher() = default;
    };
    // Null: nobody is told (the watcher must outlive every claim made while it is set).
    void Watch(Watcher* w) { watcher.store(w, std::memory_order_release); }
    // Any thread: true when the calling thread holds the mutex.
    bool HeldByCurrentThread() const
    {
        return holder.load(std::memory_order_relaxed) == std::this_thread::get_id();
    }
    // The protocol the system gave the mutex (PTHREAD_PRIO_INHERIT, or PTHREAD_PRIO_NONE where
    // it refused), read back from the mutex itself.
    int Protocol() const;

protected:
    // Holder only: how many claims the calling thread holds.
    int Depth() const { return depth; }

private:
    // Only the holding thread changes these, so the claim count needs no atomic.
    void Enter()
    {
        if (depth++ != 0) return;
        holder.store(std::this_thread::get_id(), std::memory_order_relaxed);
        if (Watcher* w = watcher.load(std::memory_order_acquire)) w->Held(true);
    }
    void Leave()
    {
        if (depth != 1)
        {
            --depth;
            return;
        }
        if (Watcher* w = watcher.load(std::memory_order_acquire)) w->Held(false);
        depth = 0;
        holder.store(std::thread::id(), std::memory_order_relaxed);
    }

    pthread_mutex_t mutex;
    int protocol = PTHREAD_PRIO_NONE; // as set up
    std::atomic<std::thread::id> holder{};
    std::atomic<Watcher*> watcher{nullptr};
    int depth = 0;
};

// Holds a Mutex for the lifetime of the scope.
class Lock
{
public:
    explicit Lock(Mutex& m) : mutex(&m) { mutex->Claim(); }
    ~Lock() { mutex->Release(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    Mutex* mutex;
};

// One-shot gate: starts closed; Set() opens it for good; WaitFor() returns once it is open.
// Any thread may open it.
class Signal
{
public:
    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    void Set();
    void WaitFor();

private:
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
};

// Fixed-point number with Bits fraction bits in a 32-bit two's complement value.
// Arithmetic wraps around modulo 2^32 like the hardware would, without signed overflow.
template <int Bits> class FixedPoint
{
    static_assert(Bits > 0 && Bits < 31, "fraction bits must leave room for a sign and an integer part");

public:
    static constexpr int CalculateMaskConstant(int n) { return static_cast<int>(-(std::int64_t(1) << n)); }
    static constexpr int CalculateDecimalMaskConstant(int n)
    {
        return static_cast<int>((std::int64_t(1) << n) - 1);
    }

    FixedPoint() = default;

    // Truncates toward zero; a value outside the representable range wraps around, NaN and
    // infinities give 0.
    float operator=(float f)
    {
        const double scaled = std::trunc(static_cast<double>(f) * unscale);
        if (scaled > -2147483648.0 && scaled < 2147483648.0)
            value = static_cast<std::int32_t>(scaled);
        else if (std::isfinite(scaled))
        {
            double m = std::fmod(scaled, 4294967296.0);
            if (m < 0) m += 4294967296.0;
            value = static_cast<std::int32_t>(static_cast<std::uint32_t>(m));
        }
        else
            value = 0;
        return f;
    }

    operator float() const { return static_cast<float>(value) * scale; }
    // The integer part rounded toward minus infinity (-1.25 gives -2).
    operator int() const { return (value & integerMask) >> shift; }
    // The fraction above the integer part, in [0, 1) (-1.25 gives 0.75).
    float Decimal() const { return static_cast<float>(value & fractionMask) * scale; }

    FixedPoint& operator+=(const FixedPoint& other)
    {
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) +
                                          static_cast<std::uint32_t>(other.value));
        return *this;
    }
    FixedPoint& operator-=(const FixedPoint& other)
    {
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) -
                                          static_cast<std::uint32_t>(other.value));
        return *this;
    }
    bool operator>=(const FixedPoint& other) const { return value >= other.value; }

private:
    static constexpr int integerMask = CalculateMaskConstant(Bits);
    static constexpr int fractionMask = CalculateDecimalMaskConstant(Bits);
    static constexpr int shift = Bits;
    static constexpr float scale = 1.0f / static_cast<float>(std::int64_t(1) << Bits);
    static constexpr double unscale = static_cast<double>(std::int64_t(1) << Bits);

    std::int32_t value = 0;
};

} // namespace AudioAPI

// Render timing is not measured on this platform; ShowTime says so.
class PerformanceCounter
{
public:
    PerformanceCounter() = default;
    void Start() {}
    long CheckPoint(bool) { return 0; }
    void ShowTime(long, char const*);
};

namespace Angle
{
// Uses the constant 3.1415927 in double precision, not the full-precision pi.
inline float DegreesToRadians(float d)
{
    return static_cast<float>(static_cast<double>(d) * 3.1415927 / 180.0);
}
} // namespace Angle

// The loop description passed to envelope extraction.
struct LoopInfo
{
    bool looping = false;
    float start = 0.0f;
    float end = 0.0f;
    float minLength = 512.0f; // shortest loop that is repeated
    float position = 0.0f;    // out: the source time at which the extraction stopped
};

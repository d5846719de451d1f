#include "platform/InstanceLife.h"

#include <thread>

namespace
{
std::atomic<InstanceLife::EnterHook> enterHook{nullptr};

// The callbacks to hosts in flight on this thread, innermost last. A close made from inside one
// of them (the host closes the instance in its callback) does not wait for it. Fixed size: the
// audio thread's callbacks pass through here too, and allocate nothing.
struct OwnCallbacks
{
    static constexpr int kDepth = 16;
    InstanceLife const* lives[kDepth] = {};
    int depth = 0;

    int CountOf(InstanceLife const* life) const
    {
        int n = 0;
        for (int i = 0; i < depth && i < kDepth; ++i)
            n += lives[i] == life ? 1 : 0;
        return n;
    }
};
thread_local OwnCallbacks ownCallbacks;
} // namespace

bool InstanceLife::Enter()
{
    std::uint32_t const before = word.fetch_add(kCallOne, std::memory_order_acq_rel);
    if (EnterHook hook = enterHook.load(std::memory_order_acquire)) hook(this);
    return (before & kClosing) == 0;
}

void InstanceLife::Leave()
{
    std::uint32_t const after = word.fetch_sub(kCallOne, std::memory_order_acq_rel) - kCallOne;
    if ((after & kCallMask) == 0 && (after & kClosing) != 0) finish(owner);
}

void InstanceLife::Hold()
{
    word.fetch_add(kCallOne, std::memory_order_acq_rel);
}

bool InstanceLife::BeginClose()
{
    return (word.fetch_or(kClosing, std::memory_order_acq_rel) & kClosing) == 0;
}

bool InstanceLife::Closing() const
{
    return (word.load(std::memory_order_acquire) & kClosing) != 0;
}

bool InstanceLife::WaitForCallbacks(std::chrono::milliseconds bound)
{
    std::uint32_t const own = static_cast<std::uint32_t>(ownCallbacks.CountOf(this));
    auto const deadline = std::chrono::steady_clock::now() + bound;
    for (;;)
    {
        std::uint32_t const inFlight = (word.load(std::memory_order_acquire) & kCallbackMask) / kCallbackOne;
        if (inFlight <= own) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

InstanceLife::Callback::Callback(InstanceLife& l) : life(l)
{
    std::uint32_t const before = life.word.fetch_add(kCallbackOne, std::memory_order_acq_rel);
    open = (before & kClosing) == 0;
    if (!open)
    {
        life.word.fetch_sub(kCallbackOne, std::memory_order_acq_rel);
        return;
    }
    OwnCallbacks& own = ownCallbacks;
    if (own.depth < OwnCallbacks::kDepth) own.lives[own.depth] = &life;
    ++own.depth;
}

InstanceLife::Callback::~Callback()
{
    if (!open) return;
    OwnCallbacks& own = ownCallbacks;
    --own.depth;
    if (own.depth < OwnCallbacks::kDepth) own.lives[own.depth] = nullptr;
    life.word.fetch_sub(kCallbackOne, std::memory_order_acq_rel);
}

void InstanceLife::SetEnterHook(EnterHook hook)
{
    enterHook.store(hook, std::memory_order_release);
}

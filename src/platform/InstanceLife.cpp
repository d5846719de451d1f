#include "platform/InstanceLife.h"

#include <thread>

namespace
{
std::atomic<InstanceLife::EnterHook> enterHook{nullptr};

// The open callbacks in flight on this thread, innermost first. The static thread-local model
// (initial-exec): the audio thread's callbacks pass through here too, and the first use of a
// dynamic one in a loaded library allocates. It makes the loader place the library's whole
// thread-local block in the little room each thread's static block keeps for loaded libraries:
// that block must stay small (the tests check it).
[[gnu::tls_model("initial-exec")]] thread_local InstanceLife::Callback* innermost = nullptr;
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
    std::uint32_t own = 0;
    for (Callback const* callback = innermost; callback != nullptr; callback = callback->outer)
        own += &callback->life == this ? 1 : 0;
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
    outer = innermost;
    innermost = this;
}

InstanceLife::Callback::~Callback()
{
    if (!open) return;
    innermost = outer;
    life.word.fetch_sub(kCallbackOne, std::memory_order_acq_rel);
}

void InstanceLife::SetEnterHook(EnterHook hook)
{
    enterHook.store(hook, std::memory_order_release);
}

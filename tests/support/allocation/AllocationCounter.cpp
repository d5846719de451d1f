// The global allocation functions of the binaries that count allocations: malloc-based, counting per thread
// when asked. Every form is replaced (plain, array, nothrow, aligned, sized), so no allocation of the audio
// path escapes the count.
//
// To find where a counted allocation comes from, run the test under a debugger with
// TORVANE_ALLOCATION_TRAP=1 in the environment: the first counted allocation stops there.

#include "AllocationCounter.h"

#include <csignal>
#include <cstdlib>
#include <new>

namespace
{

thread_local bool counting = false;
thread_local std::size_t count = 0;

void* Allocate(std::size_t size, std::size_t alignment, bool nothrow)
{
    if (counting)
    {
        ++count;
        static bool const trap = std::getenv("TORVANE_ALLOCATION_TRAP") != nullptr;
        if (trap && count == 1) std::raise(SIGTRAP);
    }
    if (size == 0) size = 1;
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t))
        p = std::malloc(size);
    else
    {
        // aligned_alloc wants a multiple of the alignment.
        std::size_t const rounded = (size + alignment - 1) / alignment * alignment;
        p = std::aligned_alloc(alignment, rounded);
    }
    if (p == nullptr && !nothrow) throw std::bad_alloc();
    return p;
}

} // namespace

namespace allocations
{

void StartCounting()
{
    count = 0;
    counting = true;
}

std::size_t StopCounting()
{
    counting = false;
    return count;
}

std::size_t Counted()
{
    return count;
}

} // namespace allocations

void* operator new(std::size_t n)
{
    return Allocate(n, 0, false);
}
void* operator new[](std::size_t n)
{
    return Allocate(n, 0, false);
}
void* operator new(std::size_t n, std::nothrow_t const&) noexcept
{
    return Allocate(n, 0, true);
}
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept
{
    return Allocate(n, 0, true);
}
void* operator new(std::size_t n, std::align_val_t a)
{
    return Allocate(n, static_cast<std::size_t>(a), false);
}
void* operator new[](std::size_t n, std::align_val_t a)
{
    return Allocate(n, static_cast<std::size_t>(a), false);
}
void* operator new(std::size_t n, std::align_val_t a, std::nothrow_t const&) noexcept
{
    return Allocate(n, static_cast<std::size_t>(a), true);
}
void* operator new[](std::size_t n, std::align_val_t a, std::nothrow_t const&) noexcept
{
    return Allocate(n, static_cast<std::size_t>(a), true);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::nothrow_t const&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::nothrow_t const&) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::align_val_t, std::nothrow_t const&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, std::nothrow_t const&) noexcept
{
    std::free(p);
}

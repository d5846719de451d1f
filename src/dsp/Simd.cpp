#include "dsp/Simd.h"

#include <atomic>

namespace
{

Simd::Path Detected()
{
    return __builtin_cpu_supports("avx2") ? Simd::Path::AVX2 : Simd::Path::SSE2;
}

// Set when the library loads, before any render.
std::atomic<Simd::Path> active{Detected()};

} // namespace

namespace Simd
{

Path Active()
{
    return active.load(std::memory_order_relaxed);
}

bool Supported(Path path)
{
    return path == Path::SSE2 || Detected() == Path::AVX2;
}

bool Force(Path path)
{
    if (!Supported(path)) return false;
    active.store(path, std::memory_order_relaxed);
    return true;
}

void Unforce()
{
    active.store(Detected(), std::memory_order_relaxed);
}

} // namespace Simd

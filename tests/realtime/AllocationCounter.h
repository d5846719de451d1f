#pragma once

#include <cstddef>

// Counts the heap allocations the calling thread makes while counting is on. The global
// allocation functions of this test binary are replaced (AllocationCounter.cpp); other threads
// are not counted.
namespace allocations
{

void StartCounting();
// Stops counting and returns the allocations made since StartCounting.
std::size_t StopCounting();

// Counts while it lives.
class Scope
{
public:
    Scope() { StartCounting(); }
    ~Scope() { StopCounting(); }
    Scope(Scope const&) = delete;
    Scope& operator=(Scope const&) = delete;
};

} // namespace allocations

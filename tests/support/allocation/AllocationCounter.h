#pragma once

#include <cstddef>

// Counts the heap allocations the calling thread makes while counting is on. Linking this
// (the CMake object library allocation_counter) replaces the global allocation functions of the
// test binary, so only binaries that count allocations link it; other threads are not counted.
namespace allocations
{

void StartCounting();
// Stops counting and returns the allocations made since StartCounting.
std::size_t StopCounting();
// The allocations counted so far (counting goes on).
std::size_t Counted();

// Counts while it lives.
class Scope
{
public:
    Scope() { StartCounting(); }
    ~Scope() { StopCounting(); }
    Scope(Scope const&) = delete;
    Scope& operator=(Scope const&) = delete;
    std::size_t Count() const { return Counted(); }
};

} // namespace allocations

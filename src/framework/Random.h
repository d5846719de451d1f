#pragma once

// Small, fast random generator (xorshift32), one per object that needs random numbers. Objects
// built with the default constructor get different, but reproducible, sequences: each takes the
// next seed of a process-wide counter.

#include <atomic>
#include <cstdint>

class Random
{
public:
    Random() : Random(NextDefaultSeed()) {}
    explicit Random(std::uint32_t seed) { Seed(seed); }

    void Seed(std::uint32_t seed)
    {
        // Spread the seed's bits (neighbouring seeds give unrelated sequences); the state must not be 0.
        std::uint32_t x = seed + 0x9E3779B9u;
        x = (x ^ (x >> 16)) * 0x85EBCA6Bu;
        x = (x ^ (x >> 13)) * 0xC2B2AE35u;
        x ^= x >> 16;
        state = x ? x : 0x6D2B79F5u;
    }

    std::uint32_t NextUInt32()
    {
        std::uint32_t x = state;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        state = x;
        return x;
    }

    // Uniform in [0, 1).
    float NextFloat() { return static_cast<float>(NextUInt32() >> 8) * (1.0f / 16777216.0f); }
    // Uniform in [-1, 1).
    float NextSignedFloat() { return static_cast<float>(NextUInt32() >> 8) * (2.0f / 16777216.0f) - 1.0f; }

    // Starts the process-wide seed counter again at 0, so that objects built after it get the
    // same sequences as in a fresh process (reproducible renders in tests and tools).
    static void RestartDefaultSeeds() { SeedCounter().store(0, std::memory_order_relaxed); }

private:
    static std::atomic<std::uint32_t>& SeedCounter()
    {
        static std::atomic<std::uint32_t> counter{0};
        return counter;
    }
    static std::uint32_t NextDefaultSeed() { return SeedCounter().fetch_add(1, std::memory_order_relaxed); }

    std::uint32_t state = 1;
};

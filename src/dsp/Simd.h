#pragma once

// The instruction set the vector kernels use: AVX2 where the processor has it, else SSE2 (which
// every x86-64 processor has). Every path gives every sample the same float: they differ in how
// many lanes one instruction carries, not in the arithmetic of a lane. Tests and benchmarks may
// force a path to compare them.
namespace Simd
{

enum class Path
{
    SSE2,
    AVX2
};

// The path the kernels take now.
Path Active();
bool Supported(Path path);
// Makes the kernels take `path` (false, nothing changed, when the processor lacks it); not
// while another thread renders.
bool Force(Path path);
// Back to the widest supported path.
void Unforce();

} // namespace Simd

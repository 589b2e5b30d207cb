// Which kernel the routines run: the plain loops, the SSE2 paths, or those
// with the AVX2 paths added. Every kernel gives the same results; the plain
// loops are the definition the others shortcut. Internal to text/.
#pragma once

namespace palavox::detail {

enum class Kernel : unsigned char { Scalar, Sse2, Avx2 };

// The best kernel this build holds (PALAVOX_SIMD) and this CPU runs.
Kernel BestKernel() noexcept;

// The kernel the routines run: BestKernel(), unless a test chose another.
Kernel ActiveKernel() noexcept;

// For tests that compare the kernels in one process: makes the routines run
// `kernel` from now on. False, and nothing changed, when the build or the CPU
// lacks it. Not to be called while routines run on other threads.
bool UseKernel(Kernel kernel) noexcept;

const char* KernelName(Kernel kernel) noexcept;

}  // namespace palavox::detail

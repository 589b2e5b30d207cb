// Which kernel the routines run: the plain loops, the SSE2 paths, or those
// with the AVX2 paths added. Every kernel gives the same results; the plain
// loops are the definition the others shortcut. Internal to text/.
#pragma once

#include <atomic>

namespace palavox::detail {

enum class Kernel : unsigned char { Scalar, Sse2, Avx2 };

// The best kernel this build holds (PALAVOX_SIMD) and this CPU runs.
Kernel BestKernel() noexcept;

// What ActiveKernel reads: the kernel a test chose (UseKernel), or
// BestKernel(), asked on a process's first call and kept; kUnsetKernel before.
inline constexpr Kernel kUnsetKernel = static_cast<Kernel>(0xFF);
extern std::atomic<Kernel> g_activeKernel;
Kernel ResolveKernel() noexcept;

// The kernel the routines run: a load, since a short text's call must not
// pay more for its kernel than for its units.
inline Kernel ActiveKernel() noexcept {
    const Kernel kernel = g_activeKernel.load(std::memory_order_relaxed);
    return kernel != kUnsetKernel ? kernel : ResolveKernel();
}

// For tests that compare the kernels in one process: makes the routines run
// `kernel` from now on. False, and nothing changed, when the build or the CPU
// lacks it. Not to be called while routines run on other threads.
bool UseKernel(Kernel kernel) noexcept;

const char* KernelName(Kernel kernel) noexcept;

}  // namespace palavox::detail

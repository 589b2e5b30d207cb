#include "kernel.hpp"

#include "simd.hpp"

namespace palavox::detail {

// Set once to the best kernel, and otherwise written by tests alone; the
// library itself reads no setting of any kind. Atomic so that routines
// running on other threads read it without a race.
constinit std::atomic<Kernel> g_activeKernel{kUnsetKernel};

Kernel BestKernel() noexcept { return simd::BestOfBuild(); }

Kernel ResolveKernel() noexcept {
    Kernel unset = kUnsetKernel;
    // A test's choice made meanwhile stays.
    g_activeKernel.compare_exchange_strong(unset, BestKernel(), std::memory_order_relaxed);
    return g_activeKernel.load(std::memory_order_relaxed);
}

bool UseKernel(Kernel kernel) noexcept {
    // branch-untaken(cpu): only a build or CPU without AVX2 lacks a kernel
    if (kernel > BestKernel()) return false;
    g_activeKernel.store(kernel, std::memory_order_relaxed);
    return true;
}

const char* KernelName(Kernel kernel) noexcept {
    // branch-untaken: every Kernel is a case; no other value reaches the switch
    switch (kernel) {
        case Kernel::Scalar:
            return "scalar";
        case Kernel::Sse2:
            return "sse2";
        case Kernel::Avx2:
            return "avx2";
    }
    return "?";
}

}  // namespace palavox::detail

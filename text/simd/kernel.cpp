#include "kernel.hpp"

#include <atomic>

#include "simd.hpp"

namespace palavox::detail {
namespace {

// Written by tests alone; the library itself reads no setting of any kind.
// Atomic so that routines running on other threads read it without a race.
constexpr unsigned char kBest = 0xFF;
std::atomic<unsigned char> g_chosen{kBest};

}  // namespace

Kernel BestKernel() noexcept { return simd::BestOfBuild(); }

Kernel ActiveKernel() noexcept {
    const unsigned char chosen = g_chosen.load(std::memory_order_relaxed);
    return chosen == kBest ? BestKernel() : static_cast<Kernel>(chosen);
}

bool UseKernel(Kernel kernel) noexcept {
    // branch-untaken(cpu): only a build or CPU without AVX2 lacks a kernel
    if (kernel > BestKernel()) return false;
    g_chosen.store(static_cast<unsigned char>(kernel), std::memory_order_relaxed);
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

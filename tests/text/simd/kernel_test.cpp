// The kernels a build holds are those its PALAVOX_SIMD tier names, and the
// routines run the one chosen.
#include <gtest/gtest.h>

#include <string_view>

#include "simd/kernel.hpp"
#include "kernels.hpp"

namespace palavox {
namespace {

using detail::Kernel;

bool CpuHasAvx2() {
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

constexpr bool kCompilerHasSse2 =
#if defined(__SSE2__)
    true;
#else
    false;
#endif

// The tier comes from the build's own setting (PALAVOX_EXPECTED_SIMD), not
// from the header it generates for the library, so a setting that never
// reaches the library shows here.
TEST(KernelTest, BuildHoldsTheKernelsItsTierNames) {
    const std::string_view tier = PALAVOX_EXPECTED_SIMD;
    Kernel best = Kernel::Scalar;
    if (tier != "none" && kCompilerHasSse2) best = Kernel::Sse2;
    if (tier == "auto" && kCompilerHasSse2 && CpuHasAvx2()) best = Kernel::Avx2;
    EXPECT_EQ(detail::KernelName(detail::BestKernel()), detail::KernelName(best))
        << "tier " << tier;

    test::KernelHold hold;
    for (const Kernel kernel : {Kernel::Scalar, Kernel::Sse2, Kernel::Avx2}) {
        const Kernel before = detail::ActiveKernel();
        const bool held = hold.Hold(kernel);
        EXPECT_EQ(held, kernel <= best) << detail::KernelName(kernel);
        EXPECT_EQ(detail::ActiveKernel(), held ? kernel : before) << detail::KernelName(kernel);
    }
}

}  // namespace
}  // namespace palavox

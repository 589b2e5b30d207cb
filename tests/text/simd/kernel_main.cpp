// GoogleTest's main, plus --kernel=scalar|sse2|avx2 to hold the text routines
// to one kernel for the whole run, so one test binary checks every kernel
// this build and CPU have. A kernel they lack makes the run a skip (77).
#include <gtest/gtest.h>

#include <cstdio>
#include <string_view>

#include "simd/kernel.hpp"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    using palavox::detail::Kernel;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!arg.starts_with("--kernel=")) {
            std::fprintf(stderr, "unknown argument: %s\n", argv[i]);
            return 2;
        }
        const std::string_view name = arg.substr(9);
        bool known = false;
        for (const Kernel kernel : {Kernel::Scalar, Kernel::Sse2, Kernel::Avx2}) {
            if (name != palavox::detail::KernelName(kernel)) continue;
            known = true;
            if (!palavox::detail::UseKernel(kernel)) {
                std::printf("kernel %s: not in this build or not run by this CPU; skipped\n",
                            argv[i] + 9);
                return 77;
            }
        }
        if (!known) {
            std::fprintf(stderr, "unknown kernel: %s\n", argv[i] + 9);
            return 2;
        }
    }
    std::printf("kernel: %s\n", palavox::detail::KernelName(palavox::detail::ActiveKernel()));
    return RUN_ALL_TESTS();
}

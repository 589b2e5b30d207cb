// Running tests once per kernel of the text routines, in one process.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>

#include "simd/kernel.hpp"

namespace palavox::detail {

inline void PrintTo(Kernel kernel, std::ostream* os) { *os << KernelName(kernel); }

}  // namespace palavox::detail

namespace palavox::test {

using detail::Kernel;

// Every kernel there is; one this build or CPU lacks makes its tests skip.
inline auto AllKernels() { return ::testing::Values(Kernel::Scalar, Kernel::Sse2, Kernel::Avx2); }

// Holds the routines to a kernel until destroyed, then gives back the one before.
class KernelHold {
public:
    KernelHold() : previous_(detail::ActiveKernel()) {}
    KernelHold(const KernelHold&) = delete;
    KernelHold& operator=(const KernelHold&) = delete;
    ~KernelHold() { detail::UseKernel(previous_); }

    bool Hold(Kernel kernel) { return detail::UseKernel(kernel); }

private:
    Kernel previous_;
};

// A fixture whose parameter is, or begins with, a kernel: each test runs with
// the routines held to it, or skips.
template <class Param>
class PerKernel : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override {
        if (!hold_.Hold(KernelOf(this->GetParam()))) {
            GTEST_SKIP() << detail::KernelName(KernelOf(this->GetParam()))
                         << " is not in this build or not run by this CPU";
        }
    }

private:
    static Kernel KernelOf(Kernel kernel) { return kernel; }
    template <class... Rest>
    static Kernel KernelOf(const std::tuple<Kernel, Rest...>& param) {
        return std::get<0>(param);
    }

    KernelHold hold_;
};

// Test names: the kernel, then the row's own name if it has one.
struct KernelName {
    std::string operator()(const ::testing::TestParamInfo<Kernel>& info) const {
        return detail::KernelName(info.param);
    }
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<std::tuple<Kernel, Row>>& info) const {
        return std::string(detail::KernelName(std::get<0>(info.param))) + "_" +
               std::get<1>(info.param).name;
    }
};

}  // namespace palavox::test

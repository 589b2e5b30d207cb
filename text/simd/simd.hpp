// The vector kernels and the plain loops they shortcut, and the one place
// that says which a build holds. SSE2 is always there on x86-64; 32-bit
// builds get it with -msse2. AVX2 is chosen at run time, where the compiler
// can build code for it alone. PALAVOX_SIMD (a configure option, written to
// the generated header below) leaves out AVX2 (sse2) or all vector code
// (none). Internal to text/.
//
// Each block loop is written once, in an instruction set's operations
// (simd_sse2.hpp and simd_avx2.hpp name them: width, loads, compares,
// masks), in a file simd_each.hpp compiles once per instruction set, in that
// set's namespace and for that set alone. A routine runs kernel k's loop as
// Loop(simd::Isa<k>{}, ...): the tag's namespace is where the name is found.
#pragma once

#include <type_traits>

#include "kernel.hpp"
#include "palavox_simd_config.hpp"

#if defined(__SSE2__) && PALAVOX_SIMD_TIER >= 1
#define PALAVOX_SSE2 1
#endif
#if PALAVOX_SSE2 && PALAVOX_SIMD_TIER >= 2 && (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__x86_64__) || defined(__i386__))
#define PALAVOX_AVX2 1
#endif

// An operation: always inlined, so that it takes the instruction set of the
// loop it is in.
#define PALAVOX_OP [[gnu::always_inline]] inline

// Every function and lambda defined between these is compiled for AVX2 (and
// POPCNT, which every AVX2 CPU has). Headers are included before, so that
// nothing of theirs is: plain code must never run an AVX2 copy of it.
#if defined(__clang__)
#define PALAVOX_BEGIN_AVX2 \
    _Pragma("clang attribute push(__attribute__((target(\"avx2,popcnt\"))), apply_to = function)")
#define PALAVOX_END_AVX2 _Pragma("clang attribute pop")
#else
#define PALAVOX_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,popcnt\")")
#define PALAVOX_END_AVX2 _Pragma("GCC pop_options")
#endif

#if PALAVOX_SSE2
#include "simd_sse2.hpp"
#endif
#if PALAVOX_AVX2
#include "simd_avx2.hpp"
#endif

namespace palavox::detail::simd {

// The tag of kernel k's instruction set (the plain loops have none).
template <Kernel k>
struct IsaOf {};
#if PALAVOX_SSE2
template <>
struct IsaOf<Kernel::Sse2> : std::type_identity<sse2::Isa> {};
#endif
#if PALAVOX_AVX2
template <>
struct IsaOf<Kernel::Avx2> : std::type_identity<avx2::Isa> {};
#endif

// The best kernel of this build on this CPU.
inline Kernel BestOfBuild() noexcept {
#if PALAVOX_AVX2
    // branch-untaken(cpu): a CPU without AVX2 goes on to the SSE2 kernel
    if (avx2::CpuRunsIt()) return Kernel::Avx2;
#endif
#if PALAVOX_SSE2
    return Kernel::Sse2;
#else
    return Kernel::Scalar;
#endif
}

// Whether this build holds any vector kernel.
inline constexpr bool kVectors =
#if PALAVOX_SSE2
    true;
#else
    false;
#endif

template <Kernel k>
using Isa = typename IsaOf<k>::type;

// For short loops that plain code calls once per candidate or per link: the
// 16-byte set of every vector kernel, inlined where it is called (a call
// into AVX2 code would cost more than it saves).
template <Kernel k>
using NarrowIsa = Isa<k == Kernel::Scalar ? k : Kernel::Sse2>;

// body(std::integral_constant<Kernel, k>{}) for the active kernel k: one test
// per call, none per unit, and code for each kernel compiled apart.
template <class Body>
decltype(auto) WithKernel(Body&& body) {
    switch (ActiveKernel()) {
#if PALAVOX_AVX2
        case Kernel::Avx2:
            return body(std::integral_constant<Kernel, Kernel::Avx2>{});
#endif
#if PALAVOX_SSE2
        case Kernel::Sse2:
            return body(std::integral_constant<Kernel, Kernel::Sse2>{});
#endif
        default:
            return body(std::integral_constant<Kernel, Kernel::Scalar>{});
    }
}

}  // namespace palavox::detail::simd

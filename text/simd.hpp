// The vector paths and the plain loops they shortcut. SSE2 is always there on
// x86-64; 32-bit builds get it with -msse2. AVX2 is chosen at run time, where
// the compiler can build it for one function. PALAVOX_SIMD (a configure
// option, written to the generated header below) leaves out the AVX2 paths
// (sse2) or all vector code (none). Internal to text/.
#pragma once

#include <type_traits>

#include "kernel.hpp"
#include "palavox_simd_config.hpp"

#if defined(__SSE2__) && PALAVOX_SIMD_TIER >= 1
#define PALAVOX_SSE2 1
#include <emmintrin.h>

#include <bit>

namespace palavox::detail::simd {

inline __m128i Load(const char16_t* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void Store(char16_t* p, __m128i v) noexcept {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

inline __m128i Splat(char16_t unit) noexcept {
    return _mm_set1_epi16(static_cast<short>(unit));
}

// Two bits per 16-bit lane, as _mm_movemask_epi8 gives them.
inline unsigned Mask(__m128i v) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(v));
}

inline unsigned FirstLane(unsigned mask) noexcept {
    return static_cast<unsigned>(std::countr_zero(mask)) / 2;
}

// Clears the lowest lane of a two-bits-per-lane mask.
inline unsigned DropFirstLane(unsigned mask) noexcept {
    const unsigned low = mask & (mask - 1);
    return low & (low - 1);
}

}  // namespace palavox::detail::simd
#endif

#if PALAVOX_SSE2 && PALAVOX_SIMD_TIER >= 2 && (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__x86_64__) || defined(__i386__))
#define PALAVOX_AVX2 1
#include <immintrin.h>

namespace palavox::detail::simd {

// Whether this CPU, and the OS saving its registers, runs AVX2 (and POPCNT,
// which every AVX2 CPU has); asked once.
inline bool HasAvx2() noexcept {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("popcnt") != 0;
    }();
    return has;
}

}  // namespace palavox::detail::simd

#define PALAVOX_TARGET_AVX2 __attribute__((target("avx2,popcnt")))
#endif

namespace palavox::detail::simd {

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

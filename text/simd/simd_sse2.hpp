// The SSE2 operations, sixteen bytes a vector, which the generic kernels are
// written in (simd.hpp). SSE2 is the baseline of every x86-64 CPU and of the
// 32-bit builds (-msse2), so nothing here needs a target of its own.
// Internal to text/.
#pragma once

#include <emmintrin.h>

// And what the kernels use: they include nothing, being compiled inside a
// namespace and, for AVX2, inside a target region (simd_each.hpp).
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>

#include "simd_x86.hpp"

namespace palavox::detail::sse2 {

using Vec = __m128i;   // a whole vector
using Half = __m128i;  // sixteen bytes, for loops that take that many at a time

PALAVOX_X86_OPS(PALAVOX_X86_NARROW, PALAVOX_X86_NO_HALF)

// The bytes moved k places down (towards byte 0), or up; zeros come in.
template <int k>
PALAVOX_OP Vec BytesDown(Vec v) noexcept {
    return _mm_srli_si128(v, k);
}
template <int k>
PALAVOX_OP Vec BytesUp(Vec v) noexcept {
    return _mm_slli_si128(v, k);
}

// PackUnits, in order.
PALAVOX_OP Vec NarrowUnits(Vec a, Vec b) noexcept { return _mm_packus_epi16(a, b); }
// The low (high) eight bytes as units.
PALAVOX_OP Vec UnitsOfLowBytes(Vec v) noexcept { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
PALAVOX_OP Vec UnitsOfHighBytes(Vec v) noexcept {
    return _mm_unpackhi_epi8(v, _mm_setzero_si128());
}
// The low eight bytes stored.
PALAVOX_OP void StoreLow8(void* p, Vec v) noexcept {
    _mm_storel_epi64(static_cast<__m128i*>(p), v);
}
// Eight (four) bytes loaded into the low bytes, zeros above.
PALAVOX_OP Vec LoadLow8(const void* p) noexcept {
    return _mm_loadl_epi64(static_cast<const __m128i*>(p));
}
PALAVOX_OP Vec LoadLow4(const void* p) noexcept {
    int low;
    std::memcpy(&low, p, sizeof low);
    return _mm_cvtsi32_si128(low);
}
// The low four bytes.
PALAVOX_OP std::uint32_t Low32(Vec v) noexcept {
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

// The top bit of each byte.
PALAVOX_OP std::uint32_t ByteBits(Vec v) noexcept {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
}
// Whether a compare's result holds any lane set.
PALAVOX_OP bool AnyLane(Vec v) noexcept { return _mm_movemask_epi8(v) != 0; }
// One bit per 16-bit lane of a and then of b, which hold all ones or all zeros.
PALAVOX_OP std::uint32_t LaneBits(Vec a, Vec b) noexcept { return ByteBits(_mm_packs_epi16(a, b)); }
// The 16 bytes from byte k on of a followed by b (0 <= k < 16): three
// instructions a window, where SSSE3 takes one.
inline constexpr bool kCheapByteWindows = false;
template <int k>
PALAVOX_OP Vec ByteWindow(Vec a, Vec b) noexcept {
    if constexpr (k == 0) {
        return a;
    } else {
        return _mm_or_si128(_mm_srli_si128(a, k), _mm_slli_si128(b, 16 - k));
    }
}
// The sum of the 32-bit lanes, or of the 16-bit ones (as 32-bit sums of
// pairs first); none negative.
PALAVOX_OP std::size_t SumLanes32(Vec v) noexcept {
    v = _mm_add_epi32(v, _mm_srli_si128(v, 8));
    v = _mm_add_epi32(v, _mm_srli_si128(v, 4));
    return static_cast<std::size_t>(_mm_cvtsi128_si32(v));
}
PALAVOX_OP std::size_t SumLanes16(Vec v) noexcept {
    return SumLanes32(_mm_madd_epi16(v, _mm_set1_epi16(1)));
}
// Asks for the line at `address` (an address, not a pointer: it may lie past
// the end of what is read, which a prefetch ignores).
PALAVOX_OP void Prefetch(std::uintptr_t address) noexcept {
    _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0);
}

// No POPCNT (bits are counted in arithmetic).
inline constexpr bool kPopcount = false;

// No byte shuffles (SSSE3) or blends (SSE4.1) either: a loop tests kShuffles
// before it uses these, and a use that does not fails to build.
inline constexpr bool kShuffles = false;
template <class V>
inline constexpr bool kLacking = false;
template <class V>
V Shuffle(V, V) noexcept {
    static_assert(kLacking<V>, "SSE2 has no byte shuffle");
    return V{};
}
template <class V>
V Blend(V, V, V) noexcept {
    static_assert(kLacking<V>, "SSE2 has no byte blend");
    return V{};
}
template <class V>
bool NoneOf(V, V) noexcept {
    static_assert(kLacking<V>, "SSE2 has no bit test");
    return false;
}
template <class V = Vec>
V Table(const std::array<char, 16>&) noexcept {
    static_assert(kLacking<V>, "SSE2 has no table lookup");
    return V{};
}
template <class V>
char* CompactBytes(V, std::uint32_t, char*) noexcept {
    static_assert(kLacking<V>, "SSE2 has no byte shuffle");
    return nullptr;
}

#include "simd_ops.hpp"

}  // namespace palavox::detail::sse2

// The AVX2 operations, thirty-two bytes a vector (and sixteen, with the byte
// shuffles and blends SSE2 lacks), which the generic kernels are written in
// (simd.hpp). Compiled for AVX2 alone and run only where the CPU has it.
// Internal to text/.
#pragma once

#include <immintrin.h>

#include "simd_sse2.hpp"

namespace palavox::detail::avx2 {

// Whether this CPU, and the OS saving its registers, runs AVX2 (and POPCNT,
// which every AVX2 CPU has); asked once.
inline bool CpuRunsIt() noexcept {
    static const bool runs = [] {
        __builtin_cpu_init();
        // branch-untaken(cpu): a CPU without AVX2 or POPCNT says no
        return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("popcnt") != 0;
    }();
    return runs;
}

}  // namespace palavox::detail::avx2

PALAVOX_BEGIN_AVX2
namespace palavox::detail::avx2 {

using Vec = __m256i;   // a whole vector
using Half = __m128i;  // sixteen bytes, for loops that take that many at a time

// On sixteen bytes SSE2's operations (in AVX2's encoding once inlined here),
// but where SSE4.1 has one instruction.
PALAVOX_X86_OPS(PALAVOX_X86_WIDE, PALAVOX_X86_SSE2_HALF)
using sse2::AnyLane;
using sse2::ByteBits;
using sse2::BytesDown;
using sse2::BytesUp;
using sse2::LaneBits;
using sse2::LoadLow4;
using sse2::LoadLow8;
using sse2::Low32;
using sse2::NarrowUnits;
using sse2::Prefetch;
using sse2::StoreLow8;
using sse2::UnitsOfHighBytes;

// Narrowing works within each 16-byte lane: the quarters go back in order.
PALAVOX_OP Vec NarrowUnits(Vec a, Vec b) noexcept {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}
PALAVOX_OP Half UnitsOfLowBytes(Half v) noexcept { return _mm_cvtepu8_epi16(v); }

PALAVOX_OP std::uint32_t ByteBits(Vec v) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}
PALAVOX_OP bool AnyLane(Vec v) noexcept { return !_mm256_testz_si256(v, v); }
PALAVOX_OP std::uint32_t LaneBits(Vec a, Vec b) noexcept {
    return ByteBits(_mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8));
}
// One instruction a window, the lane between a and b shared by all.
inline constexpr bool kCheapByteWindows = true;
template <int k>
PALAVOX_OP Vec ByteWindow(Vec a, Vec b) noexcept {
    // Byte shifts work within each 16-byte lane: the lane between a and b
    // (a's high, b's low) is shifted in.
    if constexpr (k == 0) {
        return a;
    } else if constexpr (k < 16) {
        return _mm256_alignr_epi8(_mm256_permute2x128_si256(a, b, 0x21), a, k);
    } else {
        return _mm256_alignr_epi8(b, _mm256_permute2x128_si256(a, b, 0x21), k - 16);
    }
}
PALAVOX_OP std::size_t SumLanes16(Vec v) noexcept {
    const __m256i pairs = _mm256_madd_epi16(v, _mm256_set1_epi16(1));
    return sse2::SumLanes32(
        _mm_add_epi32(_mm256_castsi256_si128(pairs), _mm256_extracti128_si256(pairs, 1)));
}

inline constexpr bool kPopcount = true;

// Byte shuffles and blends, on both widths (within each 16-byte lane).
inline constexpr bool kShuffles = true;
PALAVOX_OP Half Shuffle(Half table, Half index) noexcept { return _mm_shuffle_epi8(table, index); }
PALAVOX_OP Vec Shuffle(Vec table, Vec index) noexcept { return _mm256_shuffle_epi8(table, index); }
// b where the top bit of a byte of `mask` is set, a elsewhere.
PALAVOX_OP Half Blend(Half a, Half b, Half mask) noexcept { return _mm_blendv_epi8(a, b, mask); }
PALAVOX_OP Vec Blend(Vec a, Vec b, Vec mask) noexcept { return _mm256_blendv_epi8(a, b, mask); }
// Whether a has no bit of `mask` set.
PALAVOX_OP bool NoneOf(Half a, Half mask) noexcept { return _mm_testz_si128(a, mask) != 0; }
// A sixteen-entry table in every 16-byte lane, for Shuffle.
template <class V = Vec>
PALAVOX_OP V Table(const std::array<char, 16>& t) noexcept {
    const __m128i table = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data()));
    if constexpr (sizeof(V) == 16) {
        return table;
    } else {
        return _mm256_broadcastsi128_si256(table);
    }
}

// Kept bytes of eight moved to the front, by the mask of kept bytes (the
// indexes of a shuffle: 0x80 shuffles in a zero); the same for bytes 8..15.
inline constexpr std::array<std::uint64_t, 256> kKeepBytes = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned keep = 0; keep < 256; ++keep) {
        std::uint64_t indexes = 0;
        unsigned k = 0;
        for (unsigned b = 0; b < 8; ++b) {
            if ((keep >> b & 1) != 0) indexes |= std::uint64_t{b} << (8 * k++);
        }
        for (; k < 8; ++k) indexes |= std::uint64_t{0x80} << (8 * k);
        table[keep] = indexes;
    }
    return table;
}();
inline constexpr std::array<std::uint64_t, 256> kKeepUpperBytes = [] {
    std::array<std::uint64_t, 256> table = kKeepBytes;
    for (std::uint64_t& indexes : table) indexes += 0x0808080808080808;  // 0x80 stays a zero
    return table;
}();

PALAVOX_OP Half KeepOrder(unsigned lower, unsigned upper) noexcept {
    return _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kKeepBytes[lower])),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kKeepUpperBytes[upper])));
}

// Stores the bytes whose bit in `keep` is set, in order, from `out`; returns
// their end. Writes up to kWidth bytes from `out`.
PALAVOX_OP char* CompactBytes(Vec bytes, std::uint32_t keep, char* out) noexcept {
    const unsigned k0 = keep & 0xFF, k1 = keep >> 8 & 0xFF, k2 = keep >> 16 & 0xFF, k3 = keep >> 24;
    const __m256i packed = _mm256_shuffle_epi8(
        bytes,
        _mm256_inserti128_si256(_mm256_castsi128_si256(KeepOrder(k0, k1)), KeepOrder(k2, k3), 1));
    const __m128i low = _mm256_castsi256_si128(packed);
    const __m128i high = _mm256_extracti128_si256(packed, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), low);
    out += std::popcount(k0);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(low, low));
    out += std::popcount(k1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), high);
    out += std::popcount(k2);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(high, high));
    return out + std::popcount(k3);
}

#include "simd_ops.hpp"

}  // namespace palavox::detail::avx2
PALAVOX_END_AVX2

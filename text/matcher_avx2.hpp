// The matcher's block loops in AVX2, sixteen units a vector: compiled for
// that instruction set alone (lambdas would not be) and run only where the
// CPU has it. Internal to text/.
#pragma once

#include "simd.hpp"

#if PALAVOX_AVX2
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

#include "probes.hpp"
#include "short_search.hpp"

namespace palavox::detail::avx2 {

PALAVOX_TARGET_AVX2 inline __m256i Load(const char16_t* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

PALAVOX_TARGET_AVX2 inline __m256i Splat(char16_t unit) noexcept {
    return _mm256_set1_epi16(static_cast<short>(unit));
}

// One bit per 16-bit lane of a and then of b, which hold all ones or all zeros.
PALAVOX_TARGET_AVX2 inline std::uint32_t LaneBits(__m256i a, __m256i b) noexcept {
    // Narrowing works within each half: put the quarters back in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8);
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(packed));
}

// ------------------------------------------------ candidates of two probes

inline constexpr std::size_t kCandidateBlock = 32;

struct VectorProbe {
    __m256i units[4];
    __m256i set;
    const char16_t* at;
};

PALAVOX_TARGET_AVX2 inline VectorProbe MakeProbe(const Probe& probe, const char16_t* t) noexcept {
    VectorProbe wide;
    for (std::size_t k = 0; k < 4; ++k) wide.units[k] = Splat(probe.units.units[k]);
    wide.set = Splat(probe.bit);
    wide.at = t + probe.offset;
    return wide;
}

template <ProbeKind kKind>
PALAVOX_TARGET_AVX2 inline __m256i Match(const VectorProbe& probe, std::size_t i) noexcept {
    const __m256i v = Load(probe.at + i);
    if constexpr (kKind == ProbeKind::Exact) {
        return _mm256_cmpeq_epi16(v, probe.units[0]);
    } else if constexpr (kKind == ProbeKind::BitPair) {
        return _mm256_cmpeq_epi16(_mm256_or_si256(v, probe.set), probe.units[0]);
    } else {
        return _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(v, probe.units[0]),
                                               _mm256_cmpeq_epi16(v, probe.units[1])),
                               _mm256_or_si256(_mm256_cmpeq_epi16(v, probe.units[2]),
                                               _mm256_cmpeq_epi16(v, probe.units[3])));
    }
}

// Sixteen starts from i: all lanes set where both probes pass.
template <ProbeKind kKind>
PALAVOX_TARGET_AVX2 inline __m256i Pass(const VectorProbe& first, const VectorProbe& second,
                                        std::size_t i) noexcept {
    return _mm256_and_si256(Match<kKind>(first, i), Match<kKind>(second, i));
}

// As sse2::CandidateBlocks.
template <ProbeKind kKind, class Visit>
PALAVOX_TARGET_AVX2 bool CandidateBlocks(const char16_t* t, const Probes& probes, std::size_t& i,
                                         std::size_t end, Visit& visit) noexcept {
    const VectorProbe first = MakeProbe(probes.first, t), second = MakeProbe(probes.second, t);
    for (; i + kCandidateBlock <= end; i += kCandidateBlock) {
        const __m256i h0 = Pass<kKind>(first, second, i);
        const __m256i h1 = Pass<kKind>(first, second, i + 16);
        const __m256i any = _mm256_or_si256(h0, h1);
        if (_mm256_testz_si256(any, any)) continue;
        if (visit(i, std::uint64_t{LaneBits(h0, h1)})) return true;
    }
    return false;
}

// ------------------------------------------------ every unit of a short search

struct LaneSplat {
    __m256i a, b, c, d, set;
    LaneForm form;
};

PALAVOX_TARGET_AVX2 inline LaneSplat MakeLaneSplat(const LaneTest& test) noexcept {
    return {Splat(test.units[0]), Splat(test.units[1]), Splat(test.units[2]),
            Splat(test.units[3]), Splat(test.bit),      test.form};
}

PALAVOX_TARGET_AVX2 inline __m256i LaneMatch(__m256i v, const LaneSplat& test) noexcept {
    switch (test.form) {
        case LaneForm::One:
            return _mm256_cmpeq_epi16(v, test.a);
        case LaneForm::Pair:
            return _mm256_cmpeq_epi16(_mm256_or_si256(v, test.set), test.a);
        case LaneForm::Four:
            break;
    }
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi16(v, test.a), _mm256_cmpeq_epi16(v, test.b)),
        _mm256_or_si256(_mm256_cmpeq_epi16(v, test.c), _mm256_cmpeq_epi16(v, test.d)));
}

// Bit j set where unit p[j] passes, for a block of units.
PALAVOX_TARGET_AVX2 inline std::uint64_t LaneMask(const char16_t* p,
                                                  const LaneSplat& test) noexcept {
    const std::uint32_t low = LaneBits(LaneMatch(Load(p), test), LaneMatch(Load(p + 16), test));
    const std::uint32_t high =
        LaneBits(LaneMatch(Load(p + 32), test), LaneMatch(Load(p + 48), test));
    return low | std::uint64_t{high} << 32;
}

// What the tests compare with, for the places of the search text: bytes, or
// (kBytes false) lanes. Built for each call, so only what is used.
struct ShortSplats {
    __m256i unit[kMaxShortSearch], bit;
    LaneSplat lane[kMaxShortSearch];
};

template <std::size_t kPlaces, bool kBytes>
PALAVOX_TARGET_AVX2 inline ShortSplats MakeShortSplats(const ShortSearch& s) noexcept {
    ShortSplats splats;
    splats.bit = _mm256_set1_epi8(static_cast<char>(s.bit));
    for (std::size_t k = 0; k < kPlaces; ++k) {
        if constexpr (kBytes) {
            splats.unit[k] = _mm256_set1_epi8(static_cast<char>(s.place[k].byte.unit));
        } else if (k < s.size) {
            splats.lane[k] = MakeLaneSplat(s.place[k].lane);
        }
    }
    return splats;
}

// Bytes of the 32 units at p, in order; past 0xFF 0xFF, past 0x7FFF 0x00.
PALAVOX_TARGET_AVX2 inline __m256i Narrow(const char16_t* p) noexcept {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(Load(p), Load(p + 16)), 0xD8);
}

PALAVOX_TARGET_AVX2 inline std::uint64_t ByteMask(__m256i low, __m256i high,
                                                  __m256i unit) noexcept {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, unit))) |
           std::uint64_t{
               static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, unit)))}
               << 32;
}

// The members past 0xFF of the class of place k, for a block that may hold some.
[[gnu::noinline]] PALAVOX_TARGET_AVX2 inline std::uint64_t ExtraMask(const ShortSearch& s,
                                                                     const char16_t* p,
                                                                     std::size_t k) noexcept {
    return s.place[k].hasExtra ? LaneMask(p, MakeLaneSplat(s.place[k].extra)) : 0;
}

// The masks of the block at p, one per place kPlace of the search text: on
// narrowed units, or (kBytes false) in lanes, where places past the end of
// the search text pass everywhere.
template <bool kBytes, std::size_t... kPlace>
[[gnu::always_inline]] PALAVOX_TARGET_AVX2 inline PlaceMasks BlockMasks(
    const ShortSearch& s, const ShortSplats& splats, const char16_t* p,
    std::index_sequence<kPlace...>) noexcept {
    PlaceMasks masks{};
    if constexpr (kBytes) {
        const __m256i low = Narrow(p), high = Narrow(p + 32);
        const __m256i lowSet = _mm256_or_si256(low, splats.bit);
        const __m256i highSet = _mm256_or_si256(high, splats.bit);
        ((masks.at[kPlace] = ByteMask(lowSet, highSet, splats.unit[kPlace])), ...);
        if (s.extras) {
            const __m256i saturated =
                _mm256_cmpeq_epi8(_mm256_max_epu8(low, high), _mm256_set1_epi8(-1));
            if (!_mm256_testz_si256(saturated, saturated)) [[unlikely]] {
                ((masks.at[kPlace] |= ExtraMask(s, p, kPlace)), ...);
            }
        }
    } else {
        ((masks.at[kPlace] =
              kPlace < s.size ? LaneMask(p, splats.lane[kPlace]) : ~std::uint64_t{0}),
         ...);
    }
    return masks;
}

// The masks of units [j, j + 64) of the text, none passing past its end.
template <bool kBytes, class Splats, std::size_t... kPlace>
[[gnu::always_inline]] PALAVOX_TARGET_AVX2 inline PlaceMasks MasksFrom(
    const ShortSearch& s, const Splats& splats, std::u16string_view text, std::size_t j,
    std::index_sequence<kPlace...> places) noexcept {
    ShortTextUnits copy;
    const BlockSource source = SourceOf(text.data(), j, text.size(), copy);
    PlaceMasks masks = BlockMasks<kBytes>(s, splats, source.units, places);
    if (source.back != 0) {
        // Places past the end of the search text still pass everywhere.
        ((masks.at[kPlace] =
              kBytes || kPlace < s.size ? masks.at[kPlace] >> source.back : masks.at[kPlace]),
         ...);
    }
    return masks;
}

// Visits `blocks` blocks of starts, the first at p, each with the block after
// it in the text; `block` holds the masks of the first on entry, and of the
// one after the last on return.
template <bool kBytes, class Splats, std::size_t kPlaces, class Visit>
PALAVOX_TARGET_AVX2 bool VisitBlocks(const ShortSearch& s, const Splats& splats, const char16_t* p,
                                     std::size_t blocks, std::size_t at, PlaceMasks& block,
                                     std::integral_constant<std::size_t, kPlaces>,
                                     Visit& visit) noexcept {
    constexpr auto kPlace = std::make_index_sequence<kPlaces>();
    // Copies, so that they stay in registers.
    PlaceMasks current = block;
    Visit v = visit;
    bool stop = false;
    for (std::size_t j = 0; j < blocks * kMaskBlock && !stop; j += kMaskBlock) {
        const PlaceMasks after = BlockMasks<kBytes>(s, splats, p + j + kMaskBlock, kPlace);
        const std::uint64_t starts = Starts(current, after, kPlace);
        current = after;
        stop = v(at + j, starts);
    }
    block = current;
    visit = v;
    return stop;
}

// The 32 bytes k on in the 64 of (a, b).
template <std::size_t k>
[[gnu::always_inline]] PALAVOX_TARGET_AVX2 inline __m256i BytesFrom(__m256i a, __m256i b) noexcept {
    if constexpr (k == 0) {
        return a;
    } else {
        return _mm256_alignr_epi8(_mm256_permute2x128_si256(a, b, 0x21), a, k);
    }
}

// Lanes set for the starts among the 32 bytes at a (b following) where every
// place passes: the places are lined up in the vectors, not in masks.
template <std::size_t... kPlace>
[[gnu::always_inline]] PALAVOX_TARGET_AVX2 inline std::uint32_t BytePasses(
    __m256i a, __m256i b, const ShortSplats& splats, std::index_sequence<kPlace...>) noexcept {
    const __m256i pass = (... & _mm256_cmpeq_epi8(BytesFrom<kPlace>(a, b), splats.unit[kPlace]));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(pass));
}

PALAVOX_TARGET_AVX2 inline bool Saturated(__m256i a, __m256i b) noexcept {
    const __m256i top = _mm256_cmpeq_epi8(_mm256_max_epu8(a, b), _mm256_set1_epi8(-1));
    return !_mm256_testz_si256(top, top);
}

// The starts of the block at p from its masks in lanes and those of the
// block after it: for a block that may hold members past 0xFF.
[[gnu::noinline]] PALAVOX_TARGET_AVX2 inline std::uint64_t ExactStarts(const ShortSearch& s,
                                                                       const char16_t* p) noexcept {
    PlaceMasks block{}, next{};
    for (std::size_t k = 0; k < kMaxShortSearch; ++k) {
        if (k < s.size) {
            const LaneSplat test = MakeLaneSplat(s.place[k].lane);
            block.at[k] = LaneMask(p, test);
            next.at[k] = LaneMask(p + kMaskBlock, test);
        } else {
            block.at[k] = next.at[k] = ~std::uint64_t{0};
        }
    }
    return Starts(block, next, std::make_index_sequence<kMaxShortSearch>());
}

// How far ahead ByteBlocks asks for the text (8 KiB): measured, nearer gains less.
inline constexpr std::size_t kPrefetchUnits = 4096;

// VisitBlocks on narrowed units, with the places lined up in the vectors.
template <std::size_t kPlaces, class Visit>
PALAVOX_TARGET_AVX2 bool ByteBlocks(const ShortSearch& s, const ShortSplats& splats,
                                    const char16_t* p, std::size_t blocks, std::size_t at,
                                    Visit& visit) noexcept {
    constexpr auto kPlace = std::make_index_sequence<kPlaces>();
    Visit v = visit;  // a copy, so that it stays in registers
    __m256i low = Narrow(p);
    bool lowSaturated = s.extras && Saturated(low, low);
    low = _mm256_or_si256(low, splats.bit);
    bool stop = false;
    for (std::size_t j = 0; j < blocks * kMaskBlock && !stop; j += kMaskBlock) {
        // Both lines of a block well ahead: the loop is too long for the CPU
        // to run that far ahead itself, and a long text is read at memory speed.
        // (An address, not a pointer: it may lie past the end, which a prefetch ignores.)
        const std::uintptr_t ahead =
            reinterpret_cast<std::uintptr_t>(p + j) + kPrefetchUnits * sizeof(char16_t);
        _mm_prefetch(reinterpret_cast<const char*>(ahead), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(ahead + 64), _MM_HINT_T0);
        const __m256i high = Narrow(p + j + 32), next = Narrow(p + j + 64);
        const bool nextSaturated = s.extras && Saturated(high, next);
        const __m256i highSet = _mm256_or_si256(high, splats.bit);
        const __m256i nextSet = _mm256_or_si256(next, splats.bit);
        std::uint64_t starts;
        if (lowSaturated || nextSaturated) [[unlikely]] {
            starts = ExactStarts(s, p + j);
        } else {
            starts = BytePasses(low, highSet, splats, kPlace) |
                     std::uint64_t{BytePasses(highSet, nextSet, splats, kPlace)} << 32;
        }
        low = nextSet;
        lowSaturated = nextSaturated;
        stop = v(at + j, starts);
    }
    visit = v;
    return stop;
}

// As sse2::ShortSearchBlocks.
template <std::size_t kPlaces, bool kBytes, class Visit>
PALAVOX_TARGET_AVX2 bool ShortSearchBlocks(const ShortSearch& s, std::u16string_view text,
                                           std::size_t from, Visit& visit) noexcept {
    constexpr auto kPlace = std::make_index_sequence<kPlaces>();
    const std::size_t n = text.size();
    const std::size_t end = n - s.size + 1;
    const ShortSplats splats = MakeShortSplats<kPlaces, kBytes>(s);
    // Whole blocks while the block after each is whole, then what is left.
    std::size_t i = from;
    PlaceMasks block;
    if constexpr (kBytes) {
        if (n - i >= 2 * kMaskBlock) {
            const std::size_t blocks = (n - i) / kMaskBlock - 1;
            if (ByteBlocks<kPlaces>(s, splats, text.data() + i, blocks, i, visit)) return true;
            i += blocks * kMaskBlock;
        }
        block = MasksFrom<kBytes>(s, splats, text, i, kPlace);
    } else {
        block = MasksFrom<kBytes>(s, splats, text, i, kPlace);
        if (n - i >= 2 * kMaskBlock) {
            const std::size_t blocks = (n - i) / kMaskBlock - 1;
            if (VisitBlocks<kBytes>(s, splats, text.data() + i, blocks, i, block,
                                    std::integral_constant<std::size_t, kPlaces>(), visit)) {
                return true;
            }
            i += blocks * kMaskBlock;
        }
    }
    PlaceMasks past{};
    for (std::size_t k = s.size; k < kMaxShortSearch; ++k) past.at[k] = ~std::uint64_t{0};
    for (; i < end; i += kMaskBlock) {
        const PlaceMasks after =
            i + kMaskBlock < n ? MasksFrom<kBytes>(s, splats, text, i + kMaskBlock, kPlace) : past;
        const std::uint64_t starts = Starts(block, after, kPlace) & FirstBits(end - i);
        block = after;
        if (visit(i, starts)) return true;
    }
    return false;
}

}  // namespace palavox::detail::avx2
#endif

// The matcher's block loops in SSE2, eight units a vector. Internal to text/.
#pragma once

#include "simd.hpp"

#if PALAVOX_SSE2
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

#include "probes.hpp"
#include "short_search.hpp"

namespace palavox::detail::sse2 {

// ------------------------------------------------ candidates of two probes

// Starts tested by one turn of the candidate loop.
inline constexpr std::size_t kCandidateBlock = 32;

template <ProbeKind kKind>
struct VectorProbe {
    VectorProbe(const Probe& probe, const char16_t* t) noexcept
        : a(simd::Splat(probe.units.units[0])),
          b(simd::Splat(probe.units.units[1])),
          c(simd::Splat(probe.units.units[2])),
          d(simd::Splat(probe.units.units[3])),
          set(simd::Splat(probe.bit)),
          at(t + probe.offset) {}

    __m128i Match(std::size_t i) const noexcept {
        const __m128i v = simd::Load(at + i);
        if constexpr (kKind == ProbeKind::Exact) {
            return _mm_cmpeq_epi16(v, a);
        } else if constexpr (kKind == ProbeKind::BitPair) {
            return _mm_cmpeq_epi16(_mm_or_si128(v, set), a);
        } else {
            return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, a), _mm_cmpeq_epi16(v, b)),
                                _mm_or_si128(_mm_cmpeq_epi16(v, c), _mm_cmpeq_epi16(v, d)));
        }
    }

    __m128i a, b, c, d, set;
    const char16_t* at;
};

// Walks whole blocks of starts from `i` while a block fits before `end`, and
// calls visit(block, mask) for each block with a candidate (bit j of mask
// for the start j units in) until visit returns true; then returns true, `i`
// at that block; otherwise false, `i` where the blocks ran out. The test for
// "any candidate" comes first and alone: most blocks have none.
template <ProbeKind kKind, class Visit>
bool CandidateBlocks(const char16_t* t, const Probes& probes, std::size_t& i, std::size_t end,
                     Visit& visit) noexcept {
    const VectorProbe<kKind> first(probes.first, t), second(probes.second, t);
    const auto pass = [&](std::size_t at) noexcept {
        return _mm_and_si128(first.Match(at), second.Match(at));
    };
    for (; i + kCandidateBlock <= end; i += kCandidateBlock) {
        const __m128i h0 = pass(i), h1 = pass(i + 8), h2 = pass(i + 16), h3 = pass(i + 24);
        if (simd::Mask(_mm_or_si128(_mm_or_si128(h0, h1), _mm_or_si128(h2, h3))) == 0) continue;
        const std::uint64_t mask = simd::Mask(_mm_packs_epi16(h0, h1)) |
                                   std::uint64_t{simd::Mask(_mm_packs_epi16(h2, h3))} << 16;
        if (visit(i, mask)) return true;
    }
    return false;
}

// ------------------------------------------------ every unit of a short search

struct LaneSplat {
    LaneSplat() noexcept = default;
    explicit LaneSplat(const LaneTest& test) noexcept
        : a(simd::Splat(test.units[0])),
          b(simd::Splat(test.units[1])),
          c(simd::Splat(test.units[2])),
          d(simd::Splat(test.units[3])),
          set(simd::Splat(test.bit)),
          form(test.form) {}

    __m128i Match(__m128i v) const noexcept {
        switch (form) {
            case LaneForm::One:
                return _mm_cmpeq_epi16(v, a);
            case LaneForm::Pair:
                return _mm_cmpeq_epi16(_mm_or_si128(v, set), a);
            case LaneForm::Four:
                break;
        }
        return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, a), _mm_cmpeq_epi16(v, b)),
                            _mm_or_si128(_mm_cmpeq_epi16(v, c), _mm_cmpeq_epi16(v, d)));
    }

    __m128i a, b, c, d, set;
    LaneForm form = LaneForm::One;
};

// Bit j set where unit p[j] passes, for a block of units.
inline std::uint64_t LaneMask(const char16_t* p, const LaneSplat& test) noexcept {
    std::uint64_t mask = 0;
    for (std::size_t q = 0; q < kMaskBlock; q += 16) {
        const __m128i pass =
            _mm_packs_epi16(test.Match(simd::Load(p + q)), test.Match(simd::Load(p + q + 8)));
        mask |= std::uint64_t{simd::Mask(pass)} << q;
    }
    return mask;
}

// What the tests compare with, for the places of the search text: bytes, or
// (kBytes false) lanes. Built for each call, so only what is used.
template <std::size_t kPlaces, bool kBytes>
struct ShortSplats {
    explicit ShortSplats(const ShortSearch& s) noexcept
        : bit(_mm_set1_epi8(static_cast<char>(s.bit))) {
        for (std::size_t k = 0; k < kPlaces; ++k) {
            if constexpr (kBytes) {
                unit[k] = _mm_set1_epi8(static_cast<char>(s.place[k].byte.unit));
            } else if (k < s.size) {
                lane[k] = LaneSplat(s.place[k].lane);
            }
        }
    }

    __m128i unit[kMaxShortSearch], bit;
    LaneSplat lane[kMaxShortSearch];
};

// The members past 0xFF of the class of place k, for a block that may hold some.
[[gnu::noinline]] inline std::uint64_t ExtraMask(const ShortSearch& s, const char16_t* p,
                                                 std::size_t k) noexcept {
    return s.place[k].hasExtra ? LaneMask(p, LaneSplat(s.place[k].extra)) : 0;
}

// The mask of the units of a block, narrowed, that equal `unit`.
inline std::uint64_t ByteMask(const __m128i (&bytes)[kMaskBlock / 16], __m128i unit) noexcept {
    std::uint64_t mask = 0;
    for (std::size_t q = 0; q < kMaskBlock / 16; ++q) {
        mask |= std::uint64_t{simd::Mask(_mm_cmpeq_epi8(bytes[q], unit))} << (16 * q);
    }
    return mask;
}

// The masks of the block at p, one per place kPlace of the search text: on
// narrowed units, or (kBytes false) in lanes, where places past the end of
// the search text pass everywhere.
template <bool kBytes, class Splats, std::size_t... kPlace>
[[gnu::always_inline]] inline PlaceMasks BlockMasks(const ShortSearch& s, const Splats& splats,
                                                    const char16_t* p,
                                                    std::index_sequence<kPlace...>) noexcept {
    PlaceMasks masks{};
    if constexpr (kBytes) {
        __m128i bytes[kMaskBlock / 16], set[kMaskBlock / 16];
        for (std::size_t q = 0; q < kMaskBlock / 16; ++q) {
            bytes[q] = _mm_packus_epi16(simd::Load(p + 16 * q), simd::Load(p + 16 * q + 8));
            set[q] = _mm_or_si128(bytes[q], splats.bit);
        }
        ((masks.at[kPlace] = ByteMask(set, splats.unit[kPlace])), ...);
        if (s.extras) {
            const __m128i top =
                _mm_max_epu8(_mm_max_epu8(bytes[0], bytes[1]), _mm_max_epu8(bytes[2], bytes[3]));
            if (simd::Mask(_mm_cmpeq_epi8(top, _mm_set1_epi8(-1))) != 0) [[unlikely]] {
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
[[gnu::always_inline]] inline PlaceMasks MasksFrom(const ShortSearch& s, const Splats& splats,
                                                   std::u16string_view text, std::size_t j,
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
bool VisitBlocks(const ShortSearch& s, const Splats& splats, const char16_t* p, std::size_t blocks,
                 std::size_t at, PlaceMasks& block, std::integral_constant<std::size_t, kPlaces>,
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

// Calls visit(block, starts) for each block of starts from `from` (bit j for
// the start j units in; no bit set where no match starts) until visit returns
// true, and then returns true. On narrowed units kPlaces is the length of the
// search text; in lanes it is kMaxShortSearch. The text holds at least one
// start from `from`.
template <std::size_t kPlaces, bool kBytes, class Visit>
bool ShortSearchBlocks(const ShortSearch& s, std::u16string_view text, std::size_t from,
                       Visit& visit) noexcept {
    constexpr auto kPlace = std::make_index_sequence<kPlaces>();
    const std::size_t n = text.size();
    const std::size_t end = n - s.size + 1;
    const ShortSplats<kPlaces, kBytes> splats(s);
    PlaceMasks block = MasksFrom<kBytes>(s, splats, text, from, kPlace);
    // Whole blocks while the block after each is whole, then what is left.
    std::size_t i = from;
    if (n - i >= 2 * kMaskBlock) {
        const std::size_t blocks = (n - i) / kMaskBlock - 1;
        if (VisitBlocks<kBytes>(s, splats, text.data() + i, blocks, i, block,
                                std::integral_constant<std::size_t, kPlaces>(), visit)) {
            return true;
        }
        i += blocks * kMaskBlock;
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

}  // namespace palavox::detail::sse2
#endif

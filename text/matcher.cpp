#include "matcher.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "kernel.hpp"
#include "simd.hpp"

namespace palavox::detail {
namespace {

using Index = std::ptrdiff_t;

struct ExactUnits {
    std::u16string_view text;
    char16_t operator()(Index i) const noexcept { return text[static_cast<std::size_t>(i)]; }
};

struct FoldedUnits {
    std::u16string_view text;
    char16_t operator()(Index i) const noexcept {
        return FoldedUnitAt(text, static_cast<std::size_t>(i));
    }
};

// Start (minus one) and period of the maximal suffix of x under the unit order,
// or under its reverse.
template <bool kReverse, class Units>
std::pair<Index, Index> MaximalSuffix(const Units& x, Index m) noexcept {
    Index start = -1, j = 0, k = 1, period = 1;
    while (j + k < m) {
        const char16_t a = x(j + k);
        const char16_t b = x(start + k);
        if (kReverse ? a > b : a < b) {
            j += k;
            k = 1;
            period = j - start;
        } else if (a == b) {
            if (k != period) {
                ++k;
            } else {
                j += period;
                k = 1;
            }
        } else {
            start = j;
            j = start + 1;
            k = period = 1;
        }
    }
    return {start, period};
}

// Crochemore–Perrin two-way matching: linear time, constant space. The
// pattern is split at a critical position; the right part is matched first,
// and the left part only once the right part has matched.
template <class Pattern, class Subject>
std::size_t TwoWay(const Pattern& x, Index m, const Subject& y, Index n, Index from) noexcept {
    const auto [start1, period1] = MaximalSuffix<false>(x, m);
    const auto [start2, period2] = MaximalSuffix<true>(x, m);
    const Index split = start1 > start2 ? start1 : start2;
    Index period = start1 > start2 ? period1 : period2;

    bool periodic = true;
    for (Index i = 0; i <= split && periodic; ++i) periodic = x(i) == x(i + period);

    if (periodic) {
        // Whole pattern has that period: remember how much of the left part a
        // shift by one period has already matched.
        Index memory = -1;
        for (Index j = from; j <= n - m;) {
            Index i = (split > memory ? split : memory) + 1;
            while (i < m && x(i) == y(i + j)) ++i;
            if (i < m) {
                j += i - split;
                memory = -1;
                continue;
            }
            i = split;
            while (i > memory && x(i) == y(i + j)) --i;
            if (i <= memory) return static_cast<std::size_t>(j);
            j += period;
            memory = m - period - 1;
        }
    } else {
        period = (split + 1 > m - split - 1 ? split + 1 : m - split - 1) + 1;
        for (Index j = from; j <= n - m;) {
            Index i = split + 1;
            while (i < m && x(i) == y(i + j)) ++i;
            if (i < m) {
                j += i - split;
                continue;
            }
            i = split;
            while (i >= 0 && x(i) == y(i + j)) --i;
            if (i < 0) return static_cast<std::size_t>(j);
            j += period;
        }
    }
    return Matcher::npos;
}

// Index of the first unequal unit of a[0..m) and b[0..m), or m.
template <bool kVector>
std::size_t Mismatch(const char16_t* a, const char16_t* b, std::size_t m) noexcept {
    std::size_t j = 0;
#if PALAVOX_SSE2
    if constexpr (kVector) {
        for (; j + 8 <= m; j += 8) {
            const unsigned equal =
                simd::Mask(_mm_cmpeq_epi16(simd::Load(a + j), simd::Load(b + j)));
            if (equal != 0xFFFF) return j + simd::FirstLane(~equal);
        }
    }
#endif
    while (j < m && a[j] == b[j]) ++j;
    return j;
}

std::size_t FoldedMismatch(std::u16string_view text, std::size_t at,
                           std::u16string_view search) noexcept {
    std::size_t j = 0;
    for (; j < search.size(); ++j) {
        const char16_t a = text[at + j];
        const char16_t b = search[j];
        if ((a | b) < 0x80) {  // both ASCII: no surrogate context to look at
            if (FoldBmpUnit(a) != FoldBmpUnit(b)) break;
        } else if (FoldedUnitAt(text, at + j) != FoldedUnitAt(search, j)) {
            break;
        }
    }
    return j;
}

}  // namespace

std::size_t CountByComparing(std::u16string_view text, std::u16string_view search,
                             CompareMode mode) noexcept {
    const std::size_t m = search.size();
    if (m == 0 || m > text.size()) return 0;
    const std::size_t last = text.size() - m;
    const char16_t* const t = text.data();
    const char16_t first = search[0];
    std::size_t count = 0;
    // A single unit that only itself and its other case fold to (under simple
    // folding, every ASCII unit but k and s, which the Kelvin sign and the long
    // s fold to as well): counted without a branch on the text.
    if (m == 1) {
        const bool binary = mode == CompareMode::BinaryCompare;
        const char16_t a = binary || first >= 0x80 ? first : FoldBmpUnit(first);
        if (binary || (first < 0x80 && a != u'k' && a != u's')) {
            const bool letter = !binary && a >= u'a' && a <= u'z';
            const auto b = static_cast<char16_t>(letter ? a - 0x20 : a);
            for (std::size_t i = 0; i <= last; ++i) count += (t[i] == a) | (t[i] == b);
            return count;
        }
    }
    if (mode == CompareMode::BinaryCompare) {
        for (std::size_t i = 0; i <= last;) {
            if (t[i] == first && Mismatch<false>(t + i, search.data(), m) == m) {
                ++count;
                i += m;
            } else {
                ++i;
            }
        }
        return count;
    }
    // Units that are both ASCII are told apart without looking at any
    // neighbour; a start that meets another unit is compared in full.
    const char16_t* const p = search.data();
    const auto asciiPair = [](char16_t a, char16_t b) noexcept { return (a | b) < 0x80; };
    for (std::size_t i = 0; i <= last;) {
        bool match;
        if (asciiPair(t[i], first)) {
            std::size_t j = 0;
            while (j < m && asciiPair(t[i + j], p[j]) && FoldBmpUnit(t[i + j]) == FoldBmpUnit(p[j])) {
                ++j;
            }
            match = j == m || (!asciiPair(t[i + j], p[j]) && FoldedMismatch(text, i, search) == m);
        } else {
            match = FoldedMismatch(text, i, search) == m;
        }
        if (match) {
            ++count;
            i += m;
        } else {
            ++i;
        }
    }
    return count;
}

namespace {

using Kind = Matcher::ProbeKind;

template <Kind kKind>
constexpr bool Accepts(const Probe& probe, char16_t unit) noexcept {
    const FoldClass& c = probe.units;
    if constexpr (kKind == Kind::Exact) {
        return unit == c.units[0];
    } else if constexpr (kKind == Kind::BitPair) {
        return (unit | probe.bit) == c.units[0];
    } else {
        // Unused slots repeat a member, so four tests are always right.
        return unit == c.units[0] || unit == c.units[1] || unit == c.units[2] || unit == c.units[3];
    }
}

// The two units of a class that differ in one bit, or a class of one, as
// (unit with the bit set, bit); false for any other class.
bool AsBitPair(const FoldClass& c, char16_t& unit, char16_t& bit) noexcept {
    if (c.count == 1) {
        unit = c.units[0];
        bit = 0;
        return true;
    }
    const auto differ = static_cast<char16_t>(c.units[0] ^ c.units[1]);
    if (c.count != 2 || (differ & (differ - 1)) != 0) return false;
    unit = static_cast<char16_t>(c.units[0] | differ);
    bit = differ;
    return true;
}

// About how many of a thousand units of prose (Portuguese and English alike)
// are this one. Only the order matters: it picks the probes that let the
// fewest starts through, so the scan rarely stops to verify.
constexpr std::array<unsigned char, 128> kAsciiPerMille = [] {
    std::array<unsigned char, 128> f{};
    for (auto& x : f) x = 1;
    constexpr std::pair<char, unsigned char> kLetters[] = {
        {'e', 105}, {'a', 100}, {'o', 80}, {'s', 60}, {'r', 55}, {'i', 55}, {'n', 50},
        {'t', 50},  {'d', 40},  {'m', 35}, {'u', 35}, {'c', 35}, {'l', 28}, {'p', 22},
        {'h', 20},  {'v', 13},  {'g', 12}, {'f', 10}, {'b', 10}, {'q', 9},  {'y', 6},
        {'w', 6},   {'z', 4},   {'k', 3},  {'j', 3},  {'x', 3}};
    for (const auto& [letter, perMille] : kLetters) {
        f[static_cast<unsigned char>(letter)] = perMille;
        f[static_cast<unsigned char>(letter - 0x20)] =
            static_cast<unsigned char>(perMille / 15 > 0 ? perMille / 15 : 1);
    }
    for (char digit = '0'; digit <= '9'; ++digit) f[static_cast<unsigned char>(digit)] = 4;
    f[' '] = 160;
    f[','] = f['.'] = 10;
    f['\r'] = f['\n'] = f['-'] = 3;
    return f;
}();

constexpr unsigned PerMille(char16_t unit) noexcept {
    // Accented letters, other scripts, symbols: rarer than all but the rarest ASCII letters.
    return unit < 0x80 ? kAsciiPerMille[unit] : 3;
}

// What a probe costs: the share of starts it lets through, times the compares
// it takes (a four-unit class, as for k and s, is worth avoiding).
unsigned ProbeCost(const Probe& probe, bool bitPair) noexcept {
    unsigned share = 0;
    for (unsigned k = 0; k < probe.units.count; ++k) share += PerMille(probe.units.units[k]);
    return bitPair ? share : 3 * share;
}

// Bits 2k and 2k+1 of a block's mask stand for start k of the block, as
// _mm_movemask_epi8 gives them: set when the start passes every probe.
inline std::size_t FirstLane(std::uint64_t mask) noexcept {
    return static_cast<std::size_t>(std::countr_zero(mask)) / 2;
}

inline std::uint64_t DropFirstLane(std::uint64_t mask) noexcept {
    mask &= mask - 1;
    return mask & (mask - 1);
}

// Starts tested by one turn of the vector loops.
constexpr std::size_t kBlock = 32;
// Turns of a counting loop between two sums of its 16-bit tallies: far from overflow.
constexpr std::size_t kTurnsPerSum = 1024;

// The vector loops, one set per instruction set. Each walks whole blocks of
// starts from `i` while a block fits before `end`, with `kProbes` probes:
//   Blocks: calls visit(block, mask) for each block with a candidate (mask
//     as above) until visit returns true, and then returns true, `i` at that
//     block; otherwise false, `i` where the blocks ran out. The test for "any
//     candidate" comes first and alone: most blocks have none.
//   CountBlocks: for probes that decide a match on their own, in a search
//     text whose matches cannot overlap: the number of starts that pass,
//     tallied in vector lanes, with no branch on the text at all.

#if PALAVOX_SSE2
template <Kind kKind>
struct VectorProbe {
    VectorProbe() noexcept = default;
    VectorProbe(const Probe& probe, const char16_t* t) noexcept
        : a(simd::Splat(probe.units.units[0])),
          b(simd::Splat(probe.units.units[1])),
          c(simd::Splat(probe.units.units[2])),
          d(simd::Splat(probe.units.units[3])),
          set(simd::Splat(probe.bit)),
          at(t + probe.offset) {}

    __m128i Match(std::size_t i) const noexcept {
        const __m128i v = simd::Load(at + i);
        if constexpr (kKind == Kind::Exact) {
            return _mm_cmpeq_epi16(v, a);
        } else if constexpr (kKind == Kind::BitPair) {
            return _mm_cmpeq_epi16(_mm_or_si128(v, set), a);
        } else {
            return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, a), _mm_cmpeq_epi16(v, b)),
                                _mm_or_si128(_mm_cmpeq_epi16(v, c), _mm_cmpeq_epi16(v, d)));
        }
    }

    __m128i a, b, c, d, set;
    const char16_t* at = nullptr;
};

// Eight starts from i: all lanes set where every probe passes.
template <Kind kKind, std::size_t kProbes>
inline __m128i PassSse2(const VectorProbe<kKind> (&probes)[kProbes], std::size_t i) noexcept {
    __m128i pass = probes[0].Match(i);
    for (std::size_t k = 1; k < kProbes; ++k) pass = _mm_and_si128(pass, probes[k].Match(i));
    return pass;
}

template <Kind kKind, std::size_t kProbes, class Visit>
bool BlocksSse2(const char16_t* t, const Probe* probe, std::size_t& i, std::size_t end,
                Visit& visit) noexcept {
    VectorProbe<kKind> probes[kProbes];
    for (std::size_t k = 0; k < kProbes; ++k) probes[k] = VectorProbe<kKind>(probe[k], t);
    for (; i + kBlock <= end; i += kBlock) {
        const __m128i h0 = PassSse2(probes, i), h1 = PassSse2(probes, i + 8);
        const __m128i h2 = PassSse2(probes, i + 16), h3 = PassSse2(probes, i + 24);
        if (simd::Mask(_mm_or_si128(_mm_or_si128(h0, h1), _mm_or_si128(h2, h3))) == 0) continue;
        const std::uint64_t mask = simd::Mask(h0) | std::uint64_t{simd::Mask(h1)} << 16 |
                                   std::uint64_t{simd::Mask(h2)} << 32 |
                                   std::uint64_t{simd::Mask(h3)} << 48;
        if (visit(i, mask)) return true;
    }
    return false;
}

// The sum of the eight 16-bit tallies.
inline std::size_t SumSse2(__m128i tally) noexcept {
    __m128i sum = _mm_madd_epi16(tally, _mm_set1_epi16(1));
    sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 8));
    sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 4));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(sum));
}

template <Kind kKind, std::size_t kProbes>
std::size_t CountBlocksSse2(const char16_t* t, const Probe* probe, std::size_t& i,
                            std::size_t end) noexcept {
    VectorProbe<kKind> probes[kProbes];
    for (std::size_t k = 0; k < kProbes; ++k) probes[k] = VectorProbe<kKind>(probe[k], t);
    std::size_t count = 0;
    while (i + kBlock <= end) {
        // A passing lane is all ones, -1: subtracting it counts one. At most
        // four a turn, so a lane stays far below what madd reads as positive.
        __m128i tally = _mm_setzero_si128();
        for (std::size_t turn = 0; turn < kTurnsPerSum && i + kBlock <= end; ++turn, i += kBlock) {
            tally = _mm_sub_epi16(tally, PassSse2(probes, i));
            tally = _mm_sub_epi16(tally, PassSse2(probes, i + 8));
            tally = _mm_sub_epi16(tally, PassSse2(probes, i + 16));
            tally = _mm_sub_epi16(tally, PassSse2(probes, i + 24));
        }
        count += SumSse2(tally);
    }
    return count;
}
#endif

#if PALAVOX_AVX2
struct WideProbe {
    __m256i units[4];
    __m256i set;
    const char16_t* at;
};

PALAVOX_TARGET_AVX2 inline WideProbe MakeWide(const Probe& probe, const char16_t* t) noexcept {
    WideProbe wide;
    for (std::size_t k = 0; k < 4; ++k) {
        wide.units[k] = _mm256_set1_epi16(static_cast<short>(probe.units.units[k]));
    }
    wide.set = _mm256_set1_epi16(static_cast<short>(probe.bit));
    wide.at = t + probe.offset;
    return wide;
}

template <Kind kKind>
PALAVOX_TARGET_AVX2 inline __m256i MatchWide(const WideProbe& probe, std::size_t i) noexcept {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(probe.at + i));
    if constexpr (kKind == Kind::Exact) {
        return _mm256_cmpeq_epi16(v, probe.units[0]);
    } else if constexpr (kKind == Kind::BitPair) {
        return _mm256_cmpeq_epi16(_mm256_or_si256(v, probe.set), probe.units[0]);
    } else {
        return _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(v, probe.units[0]),
                                               _mm256_cmpeq_epi16(v, probe.units[1])),
                               _mm256_or_si256(_mm256_cmpeq_epi16(v, probe.units[2]),
                                               _mm256_cmpeq_epi16(v, probe.units[3])));
    }
}

// Sixteen starts from i.
template <Kind kKind, std::size_t kProbes>
PALAVOX_TARGET_AVX2 inline __m256i PassAvx2(const WideProbe (&probes)[kProbes],
                                            std::size_t i) noexcept {
    __m256i pass = MatchWide<kKind>(probes[0], i);
    for (std::size_t k = 1; k < kProbes; ++k) {
        pass = _mm256_and_si256(pass, MatchWide<kKind>(probes[k], i));
    }
    return pass;
}

template <Kind kKind, std::size_t kProbes, class Visit>
PALAVOX_TARGET_AVX2 bool BlocksAvx2(const char16_t* t, const Probe* probe, std::size_t& i,
                                    std::size_t end, Visit& visit) noexcept {
    WideProbe probes[kProbes];
    for (std::size_t k = 0; k < kProbes; ++k) probes[k] = MakeWide(probe[k], t);
    for (; i + kBlock <= end; i += kBlock) {
        const __m256i h0 = PassAvx2<kKind>(probes, i), h1 = PassAvx2<kKind>(probes, i + 16);
        const __m256i any = _mm256_or_si256(h0, h1);
        if (_mm256_testz_si256(any, any)) continue;
        const std::uint64_t mask =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(h0)) |
            std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(h1))} << 32;
        if (visit(i, mask)) return true;
    }
    return false;
}

template <Kind kKind, std::size_t kProbes>
PALAVOX_TARGET_AVX2 std::size_t CountBlocksAvx2(const char16_t* t, const Probe* probe,
                                                std::size_t& i, std::size_t end) noexcept {
    WideProbe probes[kProbes];
    for (std::size_t k = 0; k < kProbes; ++k) probes[k] = MakeWide(probe[k], t);
    std::size_t count = 0;
    while (i + kBlock <= end) {
        __m256i tally = _mm256_setzero_si256();
        for (std::size_t turn = 0; turn < kTurnsPerSum && i + kBlock <= end; ++turn, i += kBlock) {
            tally = _mm256_sub_epi16(tally, PassAvx2<kKind>(probes, i));
            tally = _mm256_sub_epi16(tally, PassAvx2<kKind>(probes, i + 16));
        }
        const __m256i sum = _mm256_madd_epi16(tally, _mm256_set1_epi16(1));
        __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        half = _mm_add_epi32(half, _mm_srli_si128(half, 8));
        half = _mm_add_epi32(half, _mm_srli_si128(half, 4));
        count += static_cast<std::uint32_t>(_mm_cvtsi128_si32(half));
    }
    return count;
}
#endif

}  // namespace

Matcher::Matcher(std::u16string_view search, CompareMode mode) noexcept
    : search_(search), fold_(mode == CompareMode::TextCompare), kernel_(ActiveKernel()) {
    const std::size_t m = search.size();
    if (m == 0) return;

    // The probe for an offset, in the form its kind tests (under TextCompare a
    // class of one or two units one bit apart becomes a BitPair probe), and
    // what it costs. Surrogates fold in pairs and cannot be told apart one
    // unit at a time, so under TextCompare they are never probed.
    struct Candidate {
        Probe probe;
        unsigned cost = 0;
        bool bitPair = true;
        bool usable = true;
    };
    const auto candidate = [&](std::size_t offset) noexcept {
        const char16_t unit = search[offset];
        Candidate c{{offset, {{unit, unit, unit, unit}, 1}, 0, true}};
        if (fold_) {
            c.usable = !IsSurrogate(unit);
            if (!c.usable) return c;
            c.probe.units = UnitsFoldingTo(FoldBmpUnit(unit));
        }
        char16_t pairUnit = 0, bit = 0;
        c.bitPair = AsBitPair(c.probe.units, pairUnit, bit);
        c.cost = ProbeCost(c.probe, c.bitPair);
        if (c.bitPair) c.probe = {offset, {{pairUnit, pairUnit, pairUnit, pairUnit}, 1}, bit, true};
        return c;
    };

    // A short search text whose every unit a probe tells apart exactly: probe
    // them all, and a start that passes is a match, with nothing to verify.
    if (m <= 4) {
        Candidate all[4];
        bool exact = true;
        for (std::size_t j = 0; j < m && exact; ++j) {
            // Rarest first (which is all the plain loop looks at).
            const Candidate c = candidate(j);
            exact = c.usable && c.bitPair;
            std::size_t at = j;
            for (; at > 0 && all[at - 1].cost > c.cost; --at) all[at] = all[at - 1];
            all[at] = c;
        }
        if (exact) {
            for (std::size_t j = 0; j < 4; ++j) probes_[j] = all[j < m ? j : 0].probe;
            probeCount_ = m <= 2 ? 2 : 4;
            exact_ = true;
            kind_ = fold_ ? Kind::BitPair : Kind::Exact;
            // Matches overlap only where a proper prefix equals the suffix as long.
            overlaps_ = false;
            for (std::size_t k = 1; k < m && !overlaps_; ++k) {
                bool same = true;
                for (std::size_t j = 0; j < k && same; ++j) {
                    same = fold_ ? FoldBmpUnit(search[j]) == FoldBmpUnit(search[m - k + j])
                                 : search[j] == search[m - k + j];
                }
                overlaps_ = same;
            }
            return;
        }
    }

    // Otherwise the two rarest units; on a tie the first and last, then the earlier.
    Candidate best[2];
    std::size_t found = 0;
    const auto consider = [&](std::size_t offset) noexcept {
        const Candidate c = candidate(offset);
        if (!c.usable) return;
        if (found == 0 || c.cost < best[0].cost) {
            best[1] = best[0];
            best[0] = c;
        } else if (found == 1 || c.cost < best[1].cost) {
            best[1] = c;
        }
        ++found;
    };
    consider(0);
    if (m > 1) consider(m - 1);
    for (std::size_t offset = 1; offset + 1 < m; ++offset) consider(offset);
    if (found == 0) return;  // nothing but surrogates: the two-way algorithm alone
    if (found == 1) best[1] = best[0];
    probeCount_ = 2;
    probes_[0] = probes_[2] = best[0].probe;
    probes_[1] = probes_[3] = best[1].probe;
    if (!fold_) return;
    if (best[0].bitPair && best[1].bitPair) {
        kind_ = Kind::BitPair;
        return;
    }
    // Some probe needs the whole class: give every probe its whole class back.
    kind_ = Kind::Class;
    for (Probe& probe : probes_) {
        probe.units = UnitsFoldingTo(FoldBmpUnit(search[probe.offset]));
        probe.bit = 0;
    }
}

std::size_t Matcher::FindFrom(std::u16string_view text, std::size_t from) const noexcept {
    const std::size_t m = search_.size();
    if (m == 0) return from <= text.size() ? from : npos;
    if (from > text.size() || text.size() - from < m) return npos;
    if (probeCount_ == 0) return FindFromTwoWay(text, from);
    return Dispatch<false>(text, from);
}

std::size_t Matcher::Count(std::u16string_view text) const noexcept {
    if (search_.empty() || text.size() < search_.size()) return 0;
    if (probeCount_ == 0) return CountTwoWay(text, 0);
    return Dispatch<true>(text, 0);
}

template <bool kCount>
std::size_t Matcher::Dispatch(std::u16string_view text, std::size_t from) const noexcept {
    switch (kernel_) {
#if PALAVOX_AVX2
        case Kernel::Avx2:
            return ScanKind<kCount, Kernel::Avx2>(text, from);
#endif
#if PALAVOX_SSE2
        case Kernel::Sse2:
            return ScanKind<kCount, Kernel::Sse2>(text, from);
#endif
        default:
            return ScanKind<kCount, Kernel::Scalar>(text, from);
    }
}

template <bool kCount, Kernel kKernel>
std::size_t Matcher::ScanKind(std::u16string_view text, std::size_t from) const noexcept {
    switch (kind_) {
        case Kind::Exact:
            return Scan<Kind::Exact, kCount, kKernel>(text, from);
        case Kind::BitPair:
            return Scan<Kind::BitPair, kCount, kKernel>(text, from);
        case Kind::Class:
            break;
    }
    return Scan<Kind::Class, kCount, kKernel>(text, from);
}

std::size_t Matcher::FindFromTwoWay(std::u16string_view text, std::size_t from) const noexcept {
    const std::size_t m = search_.size();
    if (m == 0) return from <= text.size() ? from : npos;
    if (from > text.size() || text.size() - from < m) return npos;
    const auto sm = static_cast<Index>(m);
    const auto sn = static_cast<Index>(text.size());
    const auto sf = static_cast<Index>(from);
    return fold_ ? TwoWay(FoldedUnits{search_}, sm, FoldedUnits{text}, sn, sf)
                 : TwoWay(ExactUnits{search_}, sm, ExactUnits{text}, sn, sf);
}

std::size_t Matcher::CountTwoWay(std::u16string_view text, std::size_t from) const noexcept {
    std::size_t count = 0;
    for (std::size_t at = FindFromTwoWay(text, from); at != npos;
         at = FindFromTwoWay(text, at + search_.size())) {
        ++count;
    }
    return count;
}

template <Matcher::ProbeKind kKind, bool kCount, Kernel kKernel>
std::size_t Matcher::Scan(std::u16string_view text, std::size_t from) const noexcept {
    constexpr bool kFold = kKind != Kind::Exact;
    constexpr bool kVector = kKernel != Kernel::Scalar;
    const std::size_t m = search_.size();
    const std::size_t end = text.size() - m + 1;  // one past the last start where the search text fits
    const char16_t* const t = text.data();

    std::size_t count = 0;
    std::size_t start = from;  // where this search began: after the last match when counting
    // Units compared while verifying candidates since `start`. The budget is
    // four per unit scanned since then, plus 4m + 256 so that a short text or
    // one long near miss never hands over; a match resets it. Verifying thus
    // never costs more than a few scans of the text, however many candidates
    // fail late (as in «aaaa…ab» within «aaaa…a»): past the budget the two-way
    // algorithm, linear whatever the input, takes over from the next start.
    std::size_t verified = 0;

    // A candidate at `at` (at or after `start`): a match, nothing, or time to hand over.
    enum class Outcome { Match, Miss, HandOver };
    const auto check = [&](std::size_t at) noexcept {
        const std::size_t same =
            kFold ? FoldedMismatch(text, at, search_) : Mismatch<kVector>(t + at, search_.data(), m);
        if (same == m) {
            ++count;
            start = at + m;
            verified = 0;
            return Outcome::Match;
        }
        verified += same + 1;
        return verified > 4 * (at - start) + 4 * m + 256 ? Outcome::HandOver : Outcome::Miss;
    };
    const auto handOver = [&](std::size_t at) noexcept {
        return kCount ? count + CountTwoWay(text, at + 1) : FindFromTwoWay(text, at + 1);
    };

    std::size_t i = from;
#if PALAVOX_SSE2
    if constexpr (kVector) {
        std::size_t result = npos;  // what a visit that stops the blocks found
        // The candidates of a block; true to stop there.
        const auto verify = [&](std::size_t block, std::uint64_t mask) noexcept {
            for (; mask != 0; mask = DropFirstLane(mask)) {
                const std::size_t at = block + FirstLane(mask);
                if (at < start) continue;  // inside the match just counted
                const Outcome outcome = check(at);
                if (outcome == Outcome::Match && !kCount) {
                    result = at;
                    return true;
                }
                if (outcome == Outcome::HandOver) {
                    result = handOver(at);
                    return true;
                }
            }
            return false;
        };
        // The same when every candidate is a match.
        const auto take = [&](std::size_t block, std::uint64_t mask) noexcept {
            for (; mask != 0; mask = DropFirstLane(mask)) {
                const std::size_t at = block + FirstLane(mask);
                if (at < start) continue;
                if (!kCount) {
                    result = at;
                    return true;
                }
                ++count;
                start = at + m;
            }
            return false;
        };
        // With kProbes probes, on the kernel's instruction set.
        const auto blocks = [&]<std::size_t kProbes>(auto& visit) noexcept {
#if PALAVOX_AVX2
            if constexpr (kKernel == Kernel::Avx2) {
                return BlocksAvx2<kKind, kProbes>(t, probes_, i, end, visit);
            } else
#endif
            {
                return BlocksSse2<kKind, kProbes>(t, probes_, i, end, visit);
            }
        };
        const auto countBlocks = [&]<std::size_t kProbes>() noexcept {
#if PALAVOX_AVX2
            if constexpr (kKernel == Kernel::Avx2) {
                return CountBlocksAvx2<kKind, kProbes>(t, probes_, i, end);
            } else
#endif
            {
                return CountBlocksSse2<kKind, kProbes>(t, probes_, i, end);
            }
        };
        // Every unit probed: a class of four is never among them.
        if constexpr (kKind != Kind::Class) {
            if (exact_) {
                // Matches that cannot overlap are counted without a branch on
                // the text; the starts after the last block go to the plain loop.
                if (kCount && !overlaps_) {
                    count += probeCount_ == 4 ? countBlocks.template operator()<4>()
                                              : countBlocks.template operator()<2>();
                } else if (probeCount_ == 4 ? blocks.template operator()<4>(take)
                                            : blocks.template operator()<2>(take)) {
                    return result;
                }
            }
        }
        if (!exact_ && blocks.template operator()<2>(verify)) return result;
    }
#endif
    const Probe& first = probes_[0];
    const Probe& second = probes_[1];
    for (; i < end; ++i) {
        if (i < start) continue;
        if (!Accepts<kKind>(first, t[i + first.offset])) continue;
        if (!Accepts<kKind>(second, t[i + second.offset])) continue;
        const Outcome outcome = check(i);
        if (outcome == Outcome::Match && !kCount) return i;
        if (outcome == Outcome::HandOver) return handOver(i);
    }
    return kCount ? count : npos;
}

}  // namespace palavox::detail

#include "matcher.hpp"

#include <cstddef>
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

using Kind = Matcher::ProbeKind;

template <Kind kKind>
constexpr bool Accepts(const FoldClass& c, char16_t bit, char16_t unit) noexcept {
    if constexpr (kKind == Kind::Exact) {
        return unit == c.units[0];
    } else if constexpr (kKind == Kind::BitPair) {
        return (unit | bit) == c.units[0];
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

#if PALAVOX_SSE2
template <Kind kKind>
struct VectorProbe {
    VectorProbe(const FoldClass& units, char16_t bit) noexcept
        : a(simd::Splat(units.units[0])),
          b(simd::Splat(units.units[1])),
          c(simd::Splat(units.units[2])),
          d(simd::Splat(units.units[3])),
          set(simd::Splat(bit)) {}

    __m128i Match(__m128i v) const noexcept {
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
};
#endif

}  // namespace

Matcher::Matcher(std::u16string_view search, CompareMode mode) noexcept
    : search_(search),
      fold_(mode == CompareMode::TextCompare),
      vector_(ActiveKernel() != Kernel::Scalar) {
    const std::size_t m = search.size();
    if (m == 0) return;
    if (!fold_) {
        const auto exact = [](char16_t unit) { return FoldClass{{unit, unit, unit, unit}, 1}; };
        first_ = {0, exact(search[0]), 0, true};
        if (m > 1) second_ = {m - 1, exact(search[m - 1]), 0, true};
        return;
    }
    // Surrogates fold in pairs and cannot be told apart one unit at a time, so
    // probe the first and last units that are not surrogates.
    std::size_t lo = 0;
    while (lo < m && IsSurrogate(search[lo])) ++lo;
    if (lo == m) return;
    std::size_t hi = m - 1;
    while (IsSurrogate(search[hi])) --hi;
    first_ = {lo, UnitsFoldingTo(FoldBmpUnit(search[lo])), 0, true};
    if (hi != lo) second_ = {hi, UnitsFoldingTo(FoldBmpUnit(search[hi])), 0, true};

    char16_t unit1 = 0, bit1 = 0, unit2 = 0, bit2 = 0;
    kind_ = AsBitPair(first_.units, unit1, bit1) &&
                    (!second_.active || AsBitPair(second_.units, unit2, bit2))
                ? Kind::BitPair
                : Kind::Class;
    if (kind_ == Kind::BitPair) {
        first_.units.units[0] = unit1;
        first_.bit = bit1;
        second_.units.units[0] = unit2;
        second_.bit = bit2;
    }
}

std::size_t Matcher::FindFrom(std::u16string_view text, std::size_t from) const noexcept {
    const std::size_t m = search_.size();
    if (m == 0) return from <= text.size() ? from : npos;
    if (from > text.size() || text.size() - from < m) return npos;
    if (!first_.active) return FindFromTwoWay(text, from);
    return Dispatch<false>(text, from);
}

std::size_t Matcher::Count(std::u16string_view text) const noexcept {
    if (search_.empty() || text.size() < search_.size()) return 0;
    if (!first_.active) return CountTwoWay(text, 0);
    return Dispatch<true>(text, 0);
}

template <bool kCount>
std::size_t Matcher::Dispatch(std::u16string_view text, std::size_t from) const noexcept {
#if PALAVOX_SSE2
    if (vector_) {
        switch (kind_) {
            case Kind::Exact:
                return Scan<Kind::Exact, kCount, true>(text, from);
            case Kind::BitPair:
                return Scan<Kind::BitPair, kCount, true>(text, from);
            case Kind::Class:
                return Scan<Kind::Class, kCount, true>(text, from);
        }
    }
#endif
    switch (kind_) {
        case Kind::Exact:
            return Scan<Kind::Exact, kCount, false>(text, from);
        case Kind::BitPair:
            return Scan<Kind::BitPair, kCount, false>(text, from);
        case Kind::Class:
            break;
    }
    return Scan<Kind::Class, kCount, false>(text, from);
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

template <Matcher::ProbeKind kKind, bool kCount, bool kVector>
std::size_t Matcher::Scan(std::u16string_view text, std::size_t from) const noexcept {
    constexpr bool kFold = kKind != Kind::Exact;
    const std::size_t m = search_.size();
    const std::size_t last = text.size() - m;  // last start where the search text fits
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
        const VectorProbe<kKind> first(first_.units, first_.bit);
        const VectorProbe<kKind> second(second_.units, second_.bit);
        const char16_t* const p1 = t + first_.offset;
        const char16_t* const p2 = t + second_.offset;
        for (; i + 8 <= last + 1; i += 8) {
            __m128i hits = first.Match(simd::Load(p1 + i));
            if (second_.active) hits = _mm_and_si128(hits, second.Match(simd::Load(p2 + i)));
            for (unsigned mask = simd::Mask(hits); mask != 0; mask = simd::DropFirstLane(mask)) {
                const std::size_t at = i + simd::FirstLane(mask);
                if (at < start) continue;  // inside the match just counted
                const Outcome outcome = check(at);
                if (outcome == Outcome::Match && !kCount) return at;
                if (outcome == Outcome::HandOver) return handOver(at);
            }
        }
    }
#endif
    for (; i <= last; ++i) {
        if (i < start) continue;
        if (!Accepts<kKind>(first_.units, first_.bit, t[i + first_.offset])) continue;
        if (second_.active && !Accepts<kKind>(second_.units, second_.bit, t[i + second_.offset])) {
            continue;
        }
        const Outcome outcome = check(i);
        if (outcome == Outcome::Match && !kCount) return i;
        if (outcome == Outcome::HandOver) return handOver(i);
    }
    return kCount ? count : npos;
}

}  // namespace palavox::detail

#include "two_way.hpp"

#include <utility>

#include "case/case_fold.hpp"

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
    return std::u16string_view::npos;
}

}  // namespace

std::size_t TwoWayFind(std::u16string_view text, std::u16string_view search, bool fold,
                       std::size_t from) noexcept {
    const auto m = static_cast<Index>(search.size());
    const auto n = static_cast<Index>(text.size());
    const auto f = static_cast<Index>(from);
    return fold ? TwoWay(FoldedUnits{search}, m, FoldedUnits{text}, n, f)
                : TwoWay(ExactUnits{search}, m, ExactUnits{text}, n, f);
}

}  // namespace palavox::detail

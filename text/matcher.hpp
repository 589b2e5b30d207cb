// Search for one search text, shared by Find, Replace and the counting routine.
// Internal to text/.
#pragma once

#include <cstddef>
#include <string_view>

#include "case_fold.hpp"
#include "kernel.hpp"
#include "palavox/text.hpp"

namespace palavox::detail {

// A candidate start i needs text[i + offset] to be one of `units`; for a
// BitPair probe, units[0] == text[i + offset] | bit.
struct Probe {
    std::size_t offset = 0;
    FoldClass units{};
    char16_t bit = 0;
    bool active = false;
};

// Texts up to this long are counted by comparing at every start
// (CountByComparing): choosing a Matcher's probes costs more than that.
inline constexpr std::size_t kShortText = 16;

// Non-overlapping matches, left to right, found by comparing the search text
// at every start; the same answers as Matcher::Count, in O(n·m) time.
std::size_t CountByComparing(std::u16string_view text, std::u16string_view search,
                             CompareMode mode) noexcept;

// Finds candidates by the two units of the search text rarest in prose (vector
// compares where the kernel has them) and verifies them. When verifying costs
// more than scanning, as in «aaaa…ab» within «aaaa…a», it hands over to the
// two-way algorithm, so every search stays linear. Under TextCompare both
// sides are compared as folded units; nothing is folded ahead and nothing is
// allocated. Holds a view of the search text: keep that alive while the
// Matcher is used.
class Matcher {
public:
    Matcher(std::u16string_view search, CompareMode mode) noexcept;

    // 0-based index of the first match that begins at or after `from`, or npos.
    std::size_t FindFrom(std::u16string_view text, std::size_t from) const noexcept;

    // Non-overlapping matches, left to right from the start; 0 for an empty search text.
    std::size_t Count(std::u16string_view text) const noexcept;

    // The same answers from the two-way algorithm alone, which both fall back to.
    std::size_t FindFromTwoWay(std::u16string_view text, std::size_t from) const noexcept;
    std::size_t CountTwoWay(std::u16string_view text, std::size_t from) const noexcept;

    std::size_t size() const noexcept { return search_.size(); }

    static constexpr std::size_t npos = std::u16string_view::npos;

    // How a probe tells whether a unit may fold to its folded unit: one
    // comparison (exact matching), one comparison after setting a bit (a
    // letter and its capital, or a unit alone), or four comparisons.
    enum class ProbeKind { Exact, BitPair, Class };

private:
    // The first match at or after `from`, or (kCount) the number of matches from there.
    template <ProbeKind kKind, bool kCount, Kernel kKernel>
    std::size_t Scan(std::u16string_view text, std::size_t from) const noexcept;

    template <bool kCount, Kernel kKernel>
    std::size_t ScanKind(std::u16string_view text, std::size_t from) const noexcept;

    template <bool kCount>
    std::size_t Dispatch(std::u16string_view text, std::size_t from) const noexcept;

    std::u16string_view search_;
    bool fold_;
    Kernel kernel_;
    ProbeKind kind_ = ProbeKind::Exact;
    // The two rarest units of the search text; or, for a short one whose units
    // a probe tells apart exactly (exact_), every unit, so that passing the
    // probes is a match. Unused slots repeat the first probe.
    Probe probes_[4];
    std::size_t probeCount_ = 0;  // 0 (the two-way algorithm alone), 2 or 4
    bool exact_ = false;
    bool overlaps_ = true;  // two matches may overlap, as «aa» in «aaa»
};

}  // namespace palavox::detail

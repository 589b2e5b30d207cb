// Search for one search text, shared by Find, Replace and the counting routine.
// Internal to text/.
#pragma once

#include <cstddef>
#include <string_view>

#include "simd/kernel.hpp"
#include "palavox/text.hpp"
#include "probes.hpp"
#include "short_search.hpp"

namespace palavox::detail {

// Texts up to this long are counted by comparing at every start
// (CountByComparing): choosing a Matcher's probes costs more than that.
inline constexpr std::size_t kShortText = 16;

// Texts of 8 to this many units, and search texts of up to kShortSearchText
// units, are counted by CountShort (conta_ocorrencias.cpp): the starts where
// the first, second and last unit of the search text pass, as bits of one
// mask, found in a few vector steps with nothing set up; the candidates
// among them verified. Under TextCompare only where every unit of both is
// below 0x100.
inline constexpr std::size_t kShortCountText = 64;
inline constexpr std::size_t kShortSearchText = 16;

// Non-overlapping matches, left to right, found by comparing the search text
// at every start; the same answers as Matcher::Count, in O(n·m) time.
std::size_t CountByComparing(std::u16string_view text, std::u16string_view search,
                             CompareMode mode) noexcept;

// A search text of up to four units is found by testing each of its units
// everywhere in vector blocks, and needs no verifying (short_search.hpp).
// Any other finds candidates by the two units of the search text rarest in
// prose (probes.hpp) and verifies them; when verifying costs more than
// scanning, as in «aaaa…ab» within «aaaa…a», it hands over to the two-way
// algorithm (two_way.hpp), so every search stays linear. Under TextCompare
// both sides are compared as folded units; nothing is folded ahead and
// nothing is allocated. Holds a view of the search text: keep that alive
// while the Matcher is used.
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

private:
    // The first match at or after `from`, or (kCount) the number of matches from there.
    template <bool kCount>
    std::size_t Search(std::u16string_view text, std::size_t from) const noexcept;

    std::u16string_view search_;
    bool fold_;
    Probes probes_;
    ShortSearch short_;
};

}  // namespace palavox::detail

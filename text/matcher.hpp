// Linear-time search for one search text, shared by Find, Replace and the
// counting routine. Internal to text/.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "case_fold.hpp"
#include "palavox/text.hpp"

namespace palavox::detail {

// Knuth–Morris–Pratt over code units (folded ones under TextCompare), so that
// hostile inputs such as «aaaa…ab» in «aaaa…a» stay linear.
class Matcher {
public:
    Matcher(std::u16string_view search, CompareMode mode);

    // 0-based index of the first match that begins at or after `from`, or npos.
    std::size_t FindFrom(std::u16string_view text, std::size_t from) const noexcept;

    std::size_t size() const noexcept { return pattern_.size(); }

    static constexpr std::size_t npos = std::u16string_view::npos;

private:
    char16_t UnitAt(std::u16string_view text, std::size_t i) const noexcept {
        return fold_ ? FoldedUnitAt(text, i) : text[i];
    }

    bool fold_;
    std::u16string pattern_;
    std::vector<std::size_t> border_;  // border_[i]: longest proper border of pattern_[0..i]
};

}  // namespace palavox::detail

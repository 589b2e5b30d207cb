// Unicode simple case folding (CaseFolding.txt, statuses C and S): the same on
// every machine and locale. Internal to text/.
#pragma once

#include <cstddef>
#include <string_view>

namespace palavox::detail {

// Folds one code point; code points without a mapping come back unchanged.
// Every mapping keeps the number of UTF-16 code units.
char32_t FoldCodePoint(char32_t cp) noexcept;

// The folded code unit at `i`, taking a valid surrogate pair around `i` as one
// code point; a lone surrogate stays as it is.
char16_t FoldedUnitAt(std::u16string_view text, std::size_t i) noexcept;

}  // namespace palavox::detail

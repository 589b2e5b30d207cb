// Unicode simple case folding (CaseFolding.txt, statuses C and S): the same on
// every machine and locale. Internal to text/.
#pragma once

#include <cstddef>
#include <string_view>

#include "case_fold_table.hpp"

namespace palavox::detail {

// Folds one code point; code points without a mapping come back unchanged.
// Every mapping keeps the number of UTF-16 code units.
// One bounds check covers both "past the last mapping" and "not a code point".
constexpr char32_t FoldCodePoint(char32_t cp) noexcept {
    namespace table = case_fold_table;
    if (cp >= table::kLimit) return cp;
    const unsigned page = table::kPageOf[cp >> table::kPageShift];
    const char32_t delta =
        table::kDelta[(page << table::kPageShift) | (cp & ((1u << table::kPageShift) - 1))];
    return (cp & ~char32_t{0xFFFF}) | ((cp + delta) & 0xFFFF);
}

constexpr bool IsSurrogate(char16_t u) noexcept { return (u & 0xF800) == 0xD800; }
constexpr bool IsHighSurrogate(char16_t u) noexcept { return (u & 0xFC00) == 0xD800; }
constexpr bool IsLowSurrogate(char16_t u) noexcept { return (u & 0xFC00) == 0xDC00; }

// Folds a unit that is not a surrogate. Inline and branch-light for ASCII,
// which is most of what the routines see.
constexpr char16_t FoldBmpUnit(char16_t unit) noexcept {
    if (unit < 0x80) {
        return static_cast<char16_t>(unit + (static_cast<unsigned>(unit - u'A') < 26u ? 0x20 : 0));
    }
    return static_cast<char16_t>(FoldCodePoint(unit));
}

// The folded code unit at `i`, taking a valid surrogate pair around `i` as one
// code point; a lone surrogate stays as it is.
constexpr char16_t FoldedUnitAt(std::u16string_view text, std::size_t i) noexcept {
    const char16_t unit = text[i];
    if (!IsSurrogate(unit)) return FoldBmpUnit(unit);
    if (IsHighSurrogate(unit)) {
        if (i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            const char32_t cp =
                0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00);
            return static_cast<char16_t>(0xD800 + ((FoldCodePoint(cp) - 0x10000) >> 10));
        }
    } else if (i > 0 && IsHighSurrogate(text[i - 1])) {
        const char32_t cp =
            0x10000 + ((char32_t{text[i - 1]} - 0xD800) << 10) + (char32_t{unit} - 0xDC00);
        return static_cast<char16_t>(0xDC00 + (FoldCodePoint(cp) & 0x3FF));
    }
    return unit;  // lone surrogate
}

// Every non-surrogate unit whose fold is `folded`, `folded` itself included
// when it is a fixed point. Simple folding never gives more than four.
struct FoldClass {
    char16_t units[4];
    unsigned count;
};

// `folded` must not be a surrogate: those fold in pairs, not on their own.
FoldClass UnitsFoldingTo(char16_t folded) noexcept;

}  // namespace palavox::detail

#include "case_fold.hpp"

#include "case_fold_table.hpp"

namespace palavox::detail {
namespace {

namespace table = case_fold_table;

constexpr bool IsHigh(char16_t u) noexcept { return u >= 0xD800 && u <= 0xDBFF; }
constexpr bool IsLow(char16_t u) noexcept { return u >= 0xDC00 && u <= 0xDFFF; }

// One bounds check covers both "past the last mapping" and "not a code point".
inline char32_t Fold(char32_t cp) noexcept {
  if (cp >= table::kLimit) return cp;
  const unsigned page = table::kPageOf[cp >> table::kPageShift];
  const char32_t delta = table::kDelta[(page << table::kPageShift) | (cp & ((1u << table::kPageShift) - 1))];
  return (cp & ~char32_t{0xFFFF}) | ((cp + delta) & 0xFFFF);
}

inline char32_t FoldPair(char16_t high, char16_t low) noexcept {
  return Fold(0x10000 + ((char32_t{high} - 0xD800) << 10) + (char32_t{low} - 0xDC00));
}

}  // namespace

char32_t FoldCodePoint(char32_t cp) noexcept { return Fold(cp); }

char16_t FoldedUnitAt(std::u16string_view text, std::size_t i) noexcept {
  const char16_t unit = text[i];
  if (unit < 0xD800 || unit > 0xDFFF) return static_cast<char16_t>(Fold(unit));
  if (IsHigh(unit)) {
    if (i + 1 < text.size() && IsLow(text[i + 1]))
      return static_cast<char16_t>(0xD800 + ((FoldPair(unit, text[i + 1]) - 0x10000) >> 10));
  } else if (i > 0 && IsHigh(text[i - 1])) {
    return static_cast<char16_t>(0xDC00 + (FoldPair(text[i - 1], unit) & 0x3FF));
  }
  return unit;  // lone surrogate
}

}  // namespace palavox::detail

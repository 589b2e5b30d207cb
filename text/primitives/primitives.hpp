// The primitive operations of the text model. They fix the rules every result
// follows (positions, what a match is, no overlap, how many are replaced), and
// the literal reference model the tests judge by builds each routine from its
// own naive copy of them. The routines of mod_palavox.hpp do not call them:
// each is fused one-pass code giving the same results (counting shares the
// matcher behind Find and Replace), and text in pieces finds with Find.
// text/'s own, for its tests, fuzz targets and benchmarks: not installed.
// Positions are 1-based code-unit indexes; 0 means "not found".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox {

enum class ReplaceLimit { All, FirstOnly };

std::size_t Length(std::u16string_view text) noexcept;

// Position of the first match that begins at or after `start`, or 0.
// A start position of 0 fails with error 5, as do the other 1-based operations.
std::size_t Find(std::u16string_view text, std::u16string_view search, std::size_t start,
                 CompareMode mode);

// Non-overlapping, left to right; the replacement is never rescanned.
Text Replace(std::u16string_view text, std::u16string_view search, std::u16string_view replacement,
             ReplaceLimit limit, CompareMode mode);

// Empty when `start` lies past the end; shortened at the end of the text.
Text Substring(std::u16string_view text, std::size_t start, std::size_t maxLength);

Text Concatenate(std::u16string_view a, std::u16string_view b);

Text Decimal(std::int32_t value);

Text Character(char16_t unit);

}  // namespace palavox

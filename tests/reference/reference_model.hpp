// A deliberately naive model of the text routines: every step written the
// long way round, straight from the rules, so it can judge the fast code in
// text/. Quadratic on purpose; keep inputs small. Shares nothing with text/
// except the Text type and the per-unit case folding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox::reference {

enum class Limit { All, FirstOnly };

// 1-based position of the first match at or after `start` (>= 1), or 0.
// Tests every position in turn.
std::size_t Find(std::u16string_view text, std::u16string_view search, std::size_t start,
                 CompareMode mode);

// Scans from the first unit; on a match emits `replacement` and jumps past the
// match, otherwise copies one unit. An empty `search` leaves the text as it is.
Text Replace(std::u16string_view text, std::u16string_view search, std::u16string_view replacement,
             Limit limit, CompareMode mode);

Text Substring(std::u16string_view text, std::size_t start, std::size_t maxLength);

Text Decimal(std::int32_t value);

// Counts by deleting every match and measuring how much shorter the text got.
std::int32_t ContaOcorrencias(std::u16string_view texto, std::u16string_view procura,
                              std::u16string_view tipo);

// Two passes: links out to numbered tokens, then tokens back in as anchors.
Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo);

// Seventy single-unit replacements, one per table row, in table order.
Text TrocaAcentos(std::u16string_view texto);

}  // namespace palavox::reference

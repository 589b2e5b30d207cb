// The literal model of the text routines: every step written the long way
// round, straight from the rules, so it can judge the fast code in text/ (its
// tests, fuzz targets and benchmarks use it as their reference) and replay the
// original design's link markup, faults included, for `palavox verify`.
// Quadratic on purpose; keep inputs small. Shares nothing with text/ except the
// Text type, the error numbers and the per-unit case folding. Not installed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox::literal {

enum class Limit { All, FirstOnly };

// 1-based position of the first match at or after `start`, or 0. Tests every
// position in turn. A start of 0 fails with error 5, as in the original design.
std::size_t Find(std::u16string_view text, std::u16string_view search, std::size_t start,
                 CompareMode mode);

// Scans from the first unit; on a match emits `replacement` and jumps past the
// match, otherwise copies one unit. An empty `search` leaves the text as it is.
Text Replace(std::u16string_view text, std::u16string_view search, std::u16string_view replacement,
             Limit limit, CompareMode mode);

// A start of 0 fails with error 5 ("Invalid procedure call or argument").
Text Substring(std::u16string_view text, std::size_t start, std::size_t maxLength);

Text Decimal(std::int32_t value);

// Counts by deleting every match and measuring how much shorter the text got.
std::int32_t ContaOcorrencias(std::u16string_view texto, std::u16string_view procura,
                              std::u16string_view tipo);

// What Palavox mends in the original design's link markup. Both on: Palavox's
// results. Both off: the original's, which replaces text the caller wrote that
// looks like a token, and fails with error 5 when a link swallowed a second
// "http" (its first pass then looks for a link from position 0).
struct Mends {
    // Tokens are delimited by a code unit that occurs nowhere in the input,
    // instead of the fixed "|[_link" k "_]|".
    bool ownTokenMark = true;
    // The first pass stops when no "http" is left, instead of taking the rest
    // of the text from position 0.
    bool stopWhenLinksRunOut = true;
};

// Two passes: links out to numbered tokens, then tokens back in as anchors.
// Throws palavox::Error where the steps fail.
Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo, Mends mends);
inline Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo) {
    return ConverteLinks(texto, alvo, Mends{});
}

// Seventy single-unit replacements, one per table row, in table order.
Text TrocaAcentos(std::u16string_view texto);

}  // namespace palavox::literal

// Case-insensitive comparisons other than Unicode simple case folding: the
// ways another component may have compared letters (by its machine's locale,
// or by an older rule), so that `palavox verify` can tell whether a recorded
// count is what one of them gives, and on which letters. Each compares code
// point by code point through a key; the keys come from the pinned Unicode data
// (case_mapping_table.hpp, case_fold_table.hpp), never from a locale. Not
// installed.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace palavox::literal {

enum class Comparison {
    AsciiOnly,  // A-Z with a-z, nothing else
    Turkic,     // simple case folding, but I with dotless ı and dotted İ with i
    UpperCase,  // by the simple upper-case mapping
    LowerCase,  // by the simple lower-case mapping
};
inline constexpr Comparison kComparisons[] = {Comparison::AsciiOnly, Comparison::Turkic,
                                              Comparison::UpperCase, Comparison::LowerCase};

// What `comparison` takes `cp` to: two code points are equal under it when
// their keys are. A key has the UTF-16 length of its code point.
char32_t ComparisonKey(Comparison comparison, char32_t cp) noexcept;

// Non-overlapping matches of `procura` in `texto`, left to right, with code
// points compared by `comparison`; a lone surrogate is a code point of its own.
// 0 when either is empty.
std::size_t CountComparing(Comparison comparison, std::u16string_view texto,
                           std::u16string_view procura);

// The letters on which `comparison` and simple case folding disagree for this
// call: each x of `texto` or `procura` and y of `procura` that one calls equal
// and the other not. Sorted, each once.
std::vector<char32_t> LettersThatDiffer(Comparison comparison, std::u16string_view texto,
                                        std::u16string_view procura);

}  // namespace palavox::literal

// Comparing the search text with the text at one start: how far the two
// agree. Every candidate a probe lets through is decided here. Internal to text/.
#pragma once

#include <cstddef>
#include <string_view>

#include "case/case_fold.hpp"
#include "simd/simd.hpp"

namespace palavox::detail {

// Index of the first unequal unit of a[0..m) and b[0..m), or m.
template <Kernel kKernel>
std::size_t Mismatch(const char16_t* a, const char16_t* b, std::size_t m) noexcept {
    std::size_t j = 0;
    if constexpr (kKernel != Kernel::Scalar) j = EqualUnits(simd::NarrowIsa<kKernel>{}, a, b, m);
    while (j < m && a[j] == b[j]) ++j;
    return j;
}

// The same under TextCompare for the search text against text[at..): units
// compared folded, a surrogate pair of either as one code point.
inline std::size_t FoldedMismatch(std::u16string_view text, std::size_t at,
                                  std::u16string_view search) noexcept {
    std::size_t j = 0;
    for (; j < search.size(); ++j) {
        const char16_t a = text[at + j];
        const char16_t b = search[j];
        if ((a | b) < 0x80) {  // both ASCII: no surrogate context to look at
            if (FoldBmpUnit(a) != FoldBmpUnit(b)) break;
        } else if (FoldedUnitAt(text, at + j) != FoldedUnitAt(search, j)) {
            break;
        }
    }
    return j;
}

}  // namespace palavox::detail

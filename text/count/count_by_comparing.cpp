#include "case/case_fold.hpp"
#include "matcher.hpp"
#include "verify.hpp"

namespace palavox::detail {

std::size_t CountByComparing(std::u16string_view text, std::u16string_view search,
                             CompareMode mode) noexcept {
    const std::size_t m = search.size();
    if (m == 0 || m > text.size()) return 0;
    const std::size_t last = text.size() - m;
    const char16_t* const t = text.data();
    const char16_t first = search[0];
    std::size_t count = 0;
    // A single unit that only itself and its other case fold to (under simple
    // folding, every ASCII unit but k and s, which the Kelvin sign and the long
    // s fold to as well): counted without a branch on the text.
    if (m == 1) {
        const bool binary = mode == CompareMode::BinaryCompare;
        const char16_t a = binary || first >= 0x80 ? first : FoldBmpUnit(first);
        if (binary || (first < 0x80 && a != u'k' && a != u's')) {
            const bool letter = !binary && a >= u'a' && a <= u'z';
            const auto b = static_cast<char16_t>(letter ? a - 0x20 : a);
            for (std::size_t i = 0; i <= last; ++i) count += (t[i] == a) | (t[i] == b);
            return count;
        }
    }
    if (mode == CompareMode::BinaryCompare) {
        for (std::size_t i = 0; i <= last;) {
            if (t[i] == first && Mismatch<Kernel::Scalar>(t + i, search.data(), m) == m) {
                ++count;
                i += m;
            } else {
                ++i;
            }
        }
        return count;
    }
    // Units that are both ASCII are told apart without looking at any
    // neighbour; a start that meets another unit is compared in full.
    const char16_t* const p = search.data();
    const auto asciiPair = [](char16_t a, char16_t b) noexcept { return (a | b) < 0x80; };
    for (std::size_t i = 0; i <= last;) {
        bool match;
        if (asciiPair(t[i], first)) {
            std::size_t j = 0;
            while (j < m && asciiPair(t[i + j], p[j]) &&
                   FoldBmpUnit(t[i + j]) == FoldBmpUnit(p[j])) {
                ++j;
            }
            match = j == m || (!asciiPair(t[i + j], p[j]) && FoldedMismatch(text, i, search) == m);
        } else {
            match = FoldedMismatch(text, i, search) == m;
        }
        if (match) {
            ++count;
            i += m;
        } else {
            ++i;
        }
    }
    return count;
}

}  // namespace palavox::detail

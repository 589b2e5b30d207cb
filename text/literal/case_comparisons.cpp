#include "literal/case_comparisons.hpp"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "case/case_fold.hpp"
#include "literal/case_mapping_table.hpp"
#include "palavox/mod_palavox.hpp"

namespace palavox::literal {
namespace {

// The simple case mappings of `cp`; none for a code point that has none.
const case_mapping_table::Mappings* MappingsOf(char32_t cp) {
    const auto& table = case_mapping_table::kMappings;
    const auto it = std::lower_bound(table.begin(), table.end(), cp,
                                     [](const auto& m, char32_t c) { return m.from < c; });
    return it != table.end() && it->from == cp ? &*it : nullptr;
}

// Calls `visit` with each code point; a lone surrogate is one of its own.
template <class Visit>
void ForEachCodePoint(std::u16string_view s, Visit&& visit) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (detail::IsHighSurrogate(u) && i + 1 < s.size() && detail::IsLowSurrogate(s[i + 1])) {
            visit(0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{s[i + 1]} - 0xDC00));
            ++i;
        } else {
            visit(char32_t{u});
        }
    }
}

// The text with each code point replaced by its key. Keys keep the UTF-16
// length, so matches line up with the original's.
std::u16string Keyed(Comparison comparison, std::u16string_view s) {
    std::u16string out;
    out.reserve(s.size());
    ForEachCodePoint(s, [&](char32_t cp) {
        const char32_t k = ComparisonKey(comparison, cp);
        if (k >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((k - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + (k & 0x3FF));
        } else {
            out += static_cast<char16_t>(k);
        }
    });
    return out;
}

}  // namespace

char32_t ComparisonKey(Comparison comparison, char32_t cp) noexcept {
    // branch-untaken: every Comparison is a case; no other value reaches the switch
    switch (comparison) {
        case Comparison::AsciiOnly:
            return cp >= U'A' && cp <= U'Z' ? cp + 0x20 : cp;
        case Comparison::Turkic:
            if (cp == U'I') return U'\u0131';
            if (cp == U'\u0130') return U'i';
            break;
        case Comparison::UpperCase: {
            const auto* m = MappingsOf(cp);
            return m != nullptr ? m->upper : cp;
        }
        case Comparison::LowerCase: {
            const auto* m = MappingsOf(cp);
            return m != nullptr ? m->lower : cp;
        }
    }
    return detail::FoldCodePoint(cp);
}

std::size_t CountComparing(Comparison comparison, std::u16string_view texto,
                           std::u16string_view procura) {
    // The keys do the comparing; what is left is an exact search.
    return ModPalavox::ContaOcorrencias(Keyed(comparison, texto), Keyed(comparison, procura),
                                        CompareMode::BinaryCompare);
}

std::vector<char32_t> LettersThatDiffer(Comparison comparison, std::u16string_view texto,
                                        std::u16string_view procura) {
    std::vector<char32_t> search;
    ForEachCodePoint(procura, [&](char32_t cp) {
        if (std::find(search.begin(), search.end(), cp) == search.end()) search.push_back(cp);
    });
    std::unordered_set<char32_t> seen(search.begin(), search.end());
    ForEachCodePoint(texto, [&](char32_t cp) { seen.insert(cp); });
    const auto key = [comparison](char32_t cp) { return ComparisonKey(comparison, cp); };
    const auto fold = [](char32_t cp) { return detail::FoldCodePoint(cp); };
    std::vector<char32_t> letters;
    for (char32_t x : seen) {
        for (char32_t y : search) {
            if ((fold(x) == fold(y)) != (key(x) == key(y))) {
                for (char32_t c : {x, y}) {
                    if (std::find(letters.begin(), letters.end(), c) == letters.end()) {
                        letters.push_back(c);
                    }
                }
            }
        }
    }
    std::sort(letters.begin(), letters.end());
    return letters;
}

}  // namespace palavox::literal

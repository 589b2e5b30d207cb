// The accent table, and the map it comes down to: one table for the routine
// and for its UTF-8 form, so that both fold the same letters. Internal to text/.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace palavox::detail {

// Paired by position: kTabelaOrigem[i] becomes kTabelaDestino[i].
inline constexpr std::u16string_view kTabelaOrigem =
    u"\u00E1\u00E0\u00E4\u00E2\u00E3\u00E9\u00E8\u00EA\u00EB\u00ED\u00EC\u00EE\u00EF"
    u"\u00F3\u00F2\u00F5\u00F4\u00F6\u00FA\u00F9\u00FB\u00FC"
    u"\u00C1\u00C0\u00C4\u00C2\u00C3\u00C9\u00C8\u00CA\u00CB\u00CD\u00CC\u00CE\u00CF"
    u"\u00D3\u00D2\u00D5\u00D4\u00D6\u00DA\u00D9\u00DB\u00DC"
    u"\u00E7\u00C7\u00B4`~^\u00A8;:/?<>()[]{}\u00AA\u00BA&$#+=";
inline constexpr std::u16string_view kTabelaDestino =
    u"aaaaaeeeeiiiiooooouuuuAAAAAEEEEIIIIOOOOOUUUUcC                   e    ";
static_assert(kTabelaOrigem.size() == 70 && kTabelaDestino.size() == 70);

// Every source character is below U+0100, so one 256-entry map does the whole job.
inline constexpr std::array<char16_t, 256> kFoldMap = [] {
    std::array<char16_t, 256> map{};
    for (std::size_t u = 0; u < map.size(); ++u) map[u] = static_cast<char16_t>(u);
    for (std::size_t i = 0; i < kTabelaOrigem.size(); ++i) {
        if (kTabelaOrigem[i] >= map.size()) throw "table row outside the map";  // fails the build
        map[kTabelaOrigem[i]] = kTabelaDestino[i];
    }
    return map;
}();

}  // namespace palavox::detail

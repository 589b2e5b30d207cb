#include "literal/literal_model.hpp"

#include <stdexcept>
#include <vector>

#include "case/case_fold.hpp"
#include "palavox/error.hpp"

namespace palavox::literal {
namespace {

// Does `search` match the run of `text` that begins at 0-based `at`?
bool MatchesAt(std::u16string_view text, std::size_t at, std::u16string_view search,
               CompareMode mode) {
    if (at + search.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < search.size(); ++i) {
        if (mode == CompareMode::BinaryCompare) {
            if (text[at + i] != search[i]) {
                return false;
            }
        } else if (detail::FoldedUnitAt(text, at + i) != detail::FoldedUnitAt(search, i)) {
            return false;
        }
    }
    return true;
}

// Tokens delimited by "|" could collide with text the caller typed. A unit that
// occurs in neither the text nor the target cannot.
char16_t TokenMark(std::u16string_view texto, std::u16string_view alvo) {
    for (char32_t unit = 0xE000; unit <= 0xF8FF; ++unit) {
        const auto mark = static_cast<char16_t>(unit);
        if (texto.find(mark) == std::u16string_view::npos &&
            alvo.find(mark) == std::u16string_view::npos) {
            return mark;
        }
    }
    throw std::length_error("every private-use code unit already occurs in the input");
}

struct LinkEntry {
    Text link;
    Text token;
};

// Positions 1..70 pair up: the unit at i in the first becomes the unit at i in the second.
constexpr std::u16string_view kTabelaOrigem =
    u"\u00E1\u00E0\u00E4\u00E2\u00E3"  // a
    u"\u00E9\u00E8\u00EA\u00EB"        // e
    u"\u00ED\u00EC\u00EE\u00EF"        // i
    u"\u00F3\u00F2\u00F5\u00F4\u00F6"  // o
    u"\u00FA\u00F9\u00FB\u00FC"        // u
    u"\u00C1\u00C0\u00C4\u00C2\u00C3"  // A
    u"\u00C9\u00C8\u00CA\u00CB"        // E
    u"\u00CD\u00CC\u00CE\u00CF"        // I
    u"\u00D3\u00D2\u00D5\u00D4\u00D6"  // O
    u"\u00DA\u00D9\u00DB\u00DC"        // U
    u"\u00E7\u00C7"                    // c C
    u"\u00B4`~^\u00A8"                 // spacing accents
    u";:/?<>()[]{}"                    // punctuation and brackets
    u"\u00AA\u00BA"                    // ordinal indicators
    u"&$#+=";
constexpr std::u16string_view kTabelaDestino =
    u"aaaaaeeeeiiiiooooouuuuAAAAAEEEEIIIIOOOOOUUUUcC"
    u"                   "  // 19 spaces
    u"e"
    u"    ";  // 4 spaces
static_assert(kTabelaOrigem.size() == 70 && kTabelaDestino.size() == 70);

}  // namespace

std::size_t Find(std::u16string_view text, std::u16string_view search, std::size_t start,
                 CompareMode mode) {
    if (start < 1) throw Error(kInvalidArgument);
    for (std::size_t position = start; position + search.size() <= text.size() + 1; ++position) {
        if (MatchesAt(text, position - 1, search, mode)) {
            return position;
        }
    }
    return 0;
}

Text Replace(std::u16string_view text, std::u16string_view search, std::u16string_view replacement,
             Limit limit, CompareMode mode) {
    if (search.empty()) {
        return Text(text);
    }
    Text result;
    bool replacing = true;
    std::size_t i = 0;
    while (i < text.size()) {
        if (replacing && MatchesAt(text, i, search, mode)) {
            result += replacement;
            i += search.size();
            if (limit == Limit::FirstOnly) {
                replacing = false;
            }
        } else {
            result += text[i];
            ++i;
        }
    }
    return result;
}

Text Substring(std::u16string_view text, std::size_t start, std::size_t maxLength) {
    if (start < 1) throw Error(kInvalidArgument);
    Text result;
    for (std::size_t position = start; position <= text.size() && result.size() < maxLength;
         ++position) {
        result += text[position - 1];
    }
    return result;
}

Text Decimal(std::int32_t value) {
    // Widened so that the most negative value can be negated.
    std::int64_t magnitude = value;
    if (magnitude < 0) {
        magnitude = -magnitude;
    }
    Text digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude > 0);
    return value < 0 ? u"-" + digits : digits;
}

std::int32_t ContaOcorrencias(std::u16string_view texto, std::u16string_view procura,
                              std::u16string_view tipo) {
    if (texto.empty() || procura.empty()) {
        return -1;
    }
    const CompareMode mode =
        (tipo == u"B" || tipo == u"b") ? CompareMode::BinaryCompare : CompareMode::TextCompare;
    const std::size_t before = texto.size();
    const std::size_t after = literal::Replace(texto, procura, u"", Limit::All, mode).size();
    return static_cast<std::int32_t>((before - after) / procura.size());
}

Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo, Mends mends) {
    const Text target = alvo.empty() ? Text(u"_self") : Text(alvo);
    Text working(texto);

    const std::int32_t n = literal::ContaOcorrencias(texto, u"http", u"");
    // -1 means an empty text, which the method never passes; give it back as it is.
    if (n <= 0) {
        return working;
    }

    const char16_t mark = mends.ownTokenMark ? TokenMark(texto, target) : u'|';
    std::vector<LinkEntry> table;
    for (std::int32_t k = 1; k <= n; ++k) {
        const std::size_t p = literal::Find(working, u"http", 1, CompareMode::TextCompare);
        // A link that held "http" twice took the second one with it: fewer links
        // than n. Without the mend, the steps below go on from position 0.
        if (p == 0 && mends.stopWhenLinksRunOut) {
            break;
        }
        Text tail = literal::Substring(working, p, working.size() - p + 1);
        tail = literal::Replace(tail, u"\r", u"|", Limit::All, CompareMode::BinaryCompare);
        tail = literal::Replace(tail, u" ", u"|", Limit::All, CompareMode::BinaryCompare);
        const std::size_t q = literal::Find(tail, u"|", 1, CompareMode::TextCompare);
        const Text link = q > 0 ? literal::Substring(tail, 1, q - 1) : tail;

        const Text token = mark + (u"[_link" + literal::Decimal(k) + u"_]") + mark;
        working =
            literal::Replace(working, link, token, Limit::FirstOnly, CompareMode::TextCompare);
        table.push_back(LinkEntry{link, token});
    }

    for (const LinkEntry& entry : table) {
        const Text anchor =
            u"<a href=\"" + entry.link + u"\" target=\"" + target + u"\">" + entry.link + u"</a>";
        working =
            literal::Replace(working, entry.token, anchor, Limit::All, CompareMode::BinaryCompare);
    }
    return working;
}

Text TrocaAcentos(std::u16string_view texto) {
    Text result(texto);
    for (std::size_t i = 0; i < kTabelaOrigem.size(); ++i) {
        result = literal::Replace(result, kTabelaOrigem.substr(i, 1), kTabelaDestino.substr(i, 1),
                                  Limit::All, CompareMode::BinaryCompare);
    }
    return result;
}

}  // namespace palavox::literal

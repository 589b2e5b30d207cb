#include "causes.hpp"

#include <algorithm>
#include <new>
#include <unordered_set>

#include "case_fold.hpp"
#include "case_variants_table.hpp"
#include "literal/literal_model.hpp"
#include "palavox/error.hpp"
#include "palavox/mod_palavox.hpp"
#include "palavox/palavox_class.hpp"

namespace palavox::verify {
namespace {

const std::u16string& Arg(const Call& call, std::size_t i) { return call.args.at(i).text; }

template <class Body>
Outcome Guard(Body&& body) {
    try {
        return body();
    } catch (...) {
        const Failure failure = CurrentFailure();
        Outcome o;
        o.kind = Outcome::Kind::Error;
        o.number = failure.number;
        for (const char* c = failure.description; *c != '\0'; ++c)
            o.text += static_cast<char16_t>(*c);
        return o;
    }
}

Outcome TextOutcome(std::u16string text) {
    Outcome o;
    o.text = std::move(text);
    return o;
}

// The original design's TrataHTML: the method frame, then the literal markup
// with the given mends.
Outcome Literal(const Call& call, literal::Mends mends) {
    return Guard([&] {
        const std::u16string& entrada = Arg(call, 0);
        if (entrada.empty()) return TextOutcome({});
        return TextOutcome(literal::ConverteLinks(entrada, Arg(call, 1), mends));
    });
}

// ---- Case-insensitive comparisons a locale or an older rule set makes.

char32_t Mapped(const auto& table, char32_t cp) {
    const auto it = std::lower_bound(table.begin(), table.end(), cp,
                                     [](const auto& pair, char32_t c) { return pair.from < c; });
    return it != table.end() && it->from == cp ? it->to : cp;
}

char32_t Folded(char32_t cp) { return detail::FoldCodePoint(cp); }
char32_t AsciiOnly(char32_t cp) { return cp >= U'A' && cp <= U'Z' ? cp + 0x20 : cp; }
// Turkish and Azerbaijani: I pairs with dotless ı, dotted İ with i.
char32_t Turkic(char32_t cp) {
    if (cp == U'I') return U'\u0131';
    if (cp == U'\u0130') return U'i';
    return Folded(cp);
}
char32_t Upper(char32_t cp) { return Mapped(case_variants_table::kUpper, cp); }
char32_t Lower(char32_t cp) { return Mapped(case_variants_table::kLower, cp); }

struct Variant {
    const char* name;
    char32_t (*key)(char32_t);
};

constexpr Variant kVariants[] = {
    {"ASCII-only case folding", &AsciiOnly},
    {"Turkic case folding (I with dotless i, dotted I with i)", &Turkic},
    {"upper-case mapping", &Upper},
    {"lower-case mapping", &Lower},
};

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

// The text with each code point replaced by its key; every key keeps the
// code point's UTF-16 length, so matches line up with the original's.
std::u16string Keyed(std::u16string_view s, char32_t (*key)(char32_t)) {
    std::u16string out;
    out.reserve(s.size());
    ForEachCodePoint(s, [&](char32_t cp) {
        const char32_t k = key(cp);
        if (k >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((k - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + (k & 0x3FF));
        } else {
            out += static_cast<char16_t>(k);
        }
    });
    return out;
}

// The letters of the call on which `key` and case folding disagree: x from the
// text or the search text and y from the search text that one calls equal and
// the other not.
std::vector<char32_t> Disagreements(std::u16string_view texto, std::u16string_view procura,
                                    char32_t (*key)(char32_t)) {
    std::vector<char32_t> search;
    ForEachCodePoint(procura, [&](char32_t cp) {
        if (std::find(search.begin(), search.end(), cp) == search.end()) search.push_back(cp);
    });
    std::unordered_set<char32_t> seen(search.begin(), search.end());
    ForEachCodePoint(texto, [&](char32_t cp) { seen.insert(cp); });
    std::vector<char32_t> letters;
    for (char32_t x : seen) {
        for (char32_t y : search) {
            if ((Folded(x) == Folded(y)) != (key(x) == key(y))) {
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

bool TextCompare(const Call& call) {
    const Argument& tipo = call.args.at(2);
    return tipo.omitted || (tipo.text != u"B" && tipo.text != u"b");
}

Explanation ExplainCount(const Call& call, const Outcome& palavox) {
    Explanation e;
    const std::u16string& texto = Arg(call, 0);
    const std::u16string& procura = Arg(call, 1);
    if (call.recorded.kind != Outcome::Kind::Count || palavox.kind != Outcome::Kind::Count ||
        texto.empty() || procura.empty() || !TextCompare(call)) {
        return e;
    }
    for (const Variant& v : kVariants) {
        const std::u16string keyedProcura = Keyed(procura, v.key);
        const std::size_t count = ModPalavox::ContaOcorrencias(Keyed(texto, v.key), keyedProcura,
                                                               CompareMode::BinaryCompare);
        if (static_cast<std::int64_t>(count) != call.recorded.number) continue;
        std::vector<char32_t> letters = Disagreements(texto, procura, v.key);
        if (letters.empty()) continue;  // cannot be: the counts would agree
        e.comparisons.push_back(v.name);
        for (char32_t c : letters) {
            if (std::find(e.letters.begin(), e.letters.end(), c) == e.letters.end()) {
                e.letters.push_back(c);
            }
        }
    }
    if (!e.comparisons.empty()) {
        e.cause = Cause::CaseBeyondAscii;
        std::sort(e.letters.begin(), e.letters.end());
    }
    return e;
}

// Palavox's markup has both mends; the original design has neither. The
// recorded result is the original's when the literal steps without the mends
// reproduce it, error number included; the mend that, switched on alone,
// changes that outcome is the cause.
Explanation ExplainMarkup(const Call& call) {
    Explanation e;
    const Outcome original = Literal(call, {.ownTokenMark = false, .stopWhenLinksRunOut = false});
    if (!(original == call.recorded)) return e;
    const Outcome withStop = Literal(call, {.ownTokenMark = false, .stopWhenLinksRunOut = true});
    const Outcome withMark = Literal(call, {.ownTokenMark = true, .stopWhenLinksRunOut = false});
    if (!(withStop == call.recorded)) {
        e.cause = Cause::LinkHoldingHttpTwice;
    } else if (!(withMark == call.recorded)) {
        e.cause = Cause::PlaceholderLikeText;
    }
    return e;
}

}  // namespace

const char* CauseName(Cause cause) noexcept {
    switch (cause) {
        case Cause::LinkHoldingHttpTwice:
            return "link holding \"http\" twice";
        case Cause::PlaceholderLikeText:
            return "placeholder-like text";
        case Cause::CaseBeyondAscii:
            return "case-insensitive comparison beyond ASCII";
        case Cause::Unexplained:
            break;
    }
    return "unexplained";
}

Outcome Replay(const Call& call) {
    const PalavoxClass palavox;
    return Guard([&] {
        switch (call.method) {
            case Method::TrataHTML:
                return TextOutcome(palavox.TrataHTML(Arg(call, 0), Arg(call, 1)));
            case Method::FindString: {
                Outcome o;
                o.kind = Outcome::Kind::Count;
                o.number = palavox.FindString(Arg(call, 0), Arg(call, 1), Arg(call, 2));
                return o;
            }
            case Method::RemoverAcentuacao:
                break;
        }
        return TextOutcome(palavox.RemoverAcentuacao(Arg(call, 0)));
    });
}

Explanation Explain(const Call& call, const Outcome& palavox) {
    switch (call.method) {
        case Method::TrataHTML:
            return ExplainMarkup(call);
        case Method::FindString:
            return ExplainCount(call, palavox);
        case Method::RemoverAcentuacao:
            break;
    }
    return {};
}

}  // namespace palavox::verify

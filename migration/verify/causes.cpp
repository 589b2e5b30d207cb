#include "causes.hpp"

#include <algorithm>
#include <new>

#include "literal/case_comparisons.hpp"
#include "literal/literal_model.hpp"
#include "palavox/error.hpp"
#include "palavox/palavox_class.hpp"
#include "utf8/utf8.hpp"

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
        const std::string_view description = failure.description;
        o.text.resize(description.size());
        o.text.resize(utf8::Decode(description, o.text.data()).units);
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

// The words the report uses for each comparison.
const char* ComparisonName(literal::Comparison comparison) noexcept {
    // branch-untaken: every Comparison is a case; no other value reaches the switch
    switch (comparison) {
        case literal::Comparison::AsciiOnly:
            return "ASCII-only case folding";
        case literal::Comparison::Turkic:
            return "Turkic case folding (I with dotless i, dotted I with i)";
        case literal::Comparison::UpperCase:
            return "upper-case mapping";
        case literal::Comparison::LowerCase:
            break;
    }
    return "lower-case mapping";
}

bool TextCompare(const Call& call) {
    const Argument& tipo = call.args.at(2);
    return tipo.omitted || (tipo.text != u"B" && tipo.text != u"b");
}

Explanation ExplainCount(const Call& call, const Outcome& palavox) {
    Explanation e;
    const std::u16string& texto = Arg(call, 0);
    const std::u16string& procura = Arg(call, 1);
    // branch-untaken: an empty texto is error 13 for Palavox, so the test before it returns first
    if (call.recorded.kind != Outcome::Kind::Count || palavox.kind != Outcome::Kind::Count ||
        texto.empty() || procura.empty() || !TextCompare(call)) {
        return e;
    }
    for (const literal::Comparison comparison : literal::kComparisons) {
        const std::size_t count = literal::CountComparing(comparison, texto, procura);
        if (static_cast<std::int64_t>(count) != call.recorded.number) continue;
        const std::vector<char32_t> letters =
            literal::LettersThatDiffer(comparison, texto, procura);
        // branch-untaken: cannot be, the counts would agree
        if (letters.empty()) continue;
        e.comparisons.push_back(ComparisonName(comparison));
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
        // branch-untaken: where both mends change the outcome, either alone does (no token has
        // "http")
    } else if (!(withMark == call.recorded)) {
        e.cause = Cause::PlaceholderLikeText;
    }
    return e;
}

}  // namespace

const char* CauseName(Cause cause) noexcept {
    // branch-untaken: every Cause is a case; no other value reaches the switch
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
        // branch-untaken: every Method is a case; no other value reaches the switch
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
    // branch-untaken: every Method is a case; no other value reaches the switch
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

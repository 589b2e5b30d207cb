// The fast routines against the naive model, on generated inputs drawn from the
// characters that matter to them, and a few fixed inputs with answers worked
// out by hand so that a fault in the model itself shows up as well.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "cases/shared_cases.hpp"
#include "escaped.hpp"
#include "palavox/error.hpp"
#include "palavox/mod_palavox.hpp"
#include "palavox/palavox_class.hpp"
#include "palavox/text.hpp"
#include "primitives/primitives.hpp"
#include "reference/conta_as_model.hpp"
#include "reference/reference_model.hpp"

namespace palavox {
namespace {

namespace ref = palavox::reference;

constexpr int kMaxFailuresShown = 5;

std::string Show(std::u16string_view text) { return palavox::test::Escaped(text); }

const char* Show(CompareMode mode) {
    return mode == CompareMode::BinaryCompare ? "BinaryCompare" : "TextCompare";
}

const char* Show(ref::Limit limit) { return limit == ref::Limit::All ? "All" : "FirstOnly"; }

ReplaceLimit ToFast(ref::Limit limit) {
    return limit == ref::Limit::All ? ReplaceLimit::All : ReplaceLimit::FirstOnly;
}

// The standard distributions differ between libraries; this picks the same
// numbers everywhere, since mt19937's own output is fixed.
class Random {
public:
    explicit Random(std::uint32_t state) : engine_(state) {}

    std::uint32_t Below(std::uint32_t n) {
        const std::uint64_t span = std::uint64_t{1} << 32;
        const std::uint64_t usable = span - span % n;
        std::uint64_t draw = 0;
        do {
            draw = engine_();
        } while (draw >= usable);
        return static_cast<std::uint32_t>(draw % n);
    }

    bool Percent(std::uint32_t chance) { return Below(100) < chance; }

    template <class T>
    const T& Pick(const std::vector<T>& items) {
        return items[Below(static_cast<std::uint32_t>(items.size()))];
    }

private:
    std::mt19937 engine_;
};

Text Unit(char32_t unit) { return Text(1, static_cast<char16_t>(unit)); }

const std::vector<Text> kLinkPieces = {
    u"http", u"HTTP", u"hTtP", u"Http", u"http://", u"https://", u"HTTPS://", u"httphttp",
    u"htt",  u"ttp",  u"://",  u"/",    u"?u=",     u"www.",     u".com",     u"/?u=http://",
};
const std::vector<Text> kSeparators = {u" ", u"\r", u"\n", u"\r\n", u"\t", u"|", u"  ", u"\n\r"};
// Look-alikes of the markers a two-pass implementation might use, "|" or private-use.
const std::vector<Text> kTokens = {
    u"|[_link1_]|", u"|[_link12_]|", u"|[_link2_]|",           u"|[_link",
    u"_]|",         u"[_link1_]",    u"\uE000[_link1_]\uE000", u"\uE001[_link2_]\uE001"};
const std::vector<Text> kLetters = {u"a", u"b", u"c", u"x",  u"A",    u"B",    u"h", u"H",
                                    u"t", u"T", u"p", u"P",  u"k",    u"K",    u"s", u"S",
                                    u"0", u"1", u"9", u"aa", u"casa", u"CASA", u"."};
const std::vector<Text> kSymbols = {u"&", u";", u":",  u"/", u"?",  u"<", u">", u"(", u")", u"[",
                                    u"]", u"{", u"}",  u"$", u"#",  u"+", u"=", u"`", u"~", u"^",
                                    u"%", u"!", u"\"", u"'", u"\\", u"@", u"_", u"-", u",", u"*"};
// Case-folding corner cases, surrogates whole and halved, and the units a token
// might be built from.
const std::vector<Text> kTricky = {
    Unit(0),      u"\u212A",    u"\u017F",    u"\U00010400", u"\U00010428", u"\U0001F600",
    Unit(0xD801), Unit(0xDC00), Unit(0xDC28), Unit(0xD83D),  u"\uE000",     u"\uE001",
    u"\u1E9E",    u"\u00DF",    u"\u03A3",    u"\u03C3",     u"\u03C2",     u"\u0130",
    u"\u0131",    u"\u0178",    u"\u00FF",    u"\uFFFF",     u"\u0301",     u"\u00C9\u0301",
};

Text Piece(Random& random) {
    const std::uint32_t group = random.Below(100);
    if (group < 16) return random.Pick(kLinkPieces);
    if (group < 32) return random.Pick(kSeparators);
    if (group < 37) return random.Pick(kTokens);
    if (group < 60) return random.Pick(kLetters);
    // Latin-1 upper half: every accented letter of the table and its neighbours.
    if (group < 72) return Unit(0xA0 + random.Below(0x60));
    if (group < 84) return random.Pick(kSymbols);
    if (group < 95) return random.Pick(kTricky);
    return Unit(random.Below(0x10000));
}

std::size_t TextLength(Random& random, std::uint32_t longChance) {
    if (random.Percent(longChance)) return 200 + random.Below(1300);
    if (random.Percent(70)) return random.Below(41);
    return random.Below(201);
}

Text MakeText(Random& random, std::uint32_t longChance = 2) {
    const std::size_t length = TextLength(random, longChance);
    Text text;
    while (text.size() < length) {
        text += Piece(random);
    }
    return text;
}

// Swaps some units for another unit of the same case class, so that matching
// under TextCompare gets exercised beyond equal runs.
Text VaryCase(Random& random, Text text) {
    for (char16_t& unit : text) {
        if (!random.Percent(30)) continue;
        if (unit >= u'a' && unit <= u'z') {
            if ((unit == u'k' || unit == u's') && random.Percent(30)) {
                unit = unit == u'k' ? u'\u212A' : u'\u017F';
            } else {
                unit = static_cast<char16_t>(unit - 0x20);
            }
        } else if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit + 0x20);
        } else if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) {
            unit = static_cast<char16_t>(unit - 0x20);
        } else if (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) {
            unit = static_cast<char16_t>(unit + 0x20);
        } else if (unit == 0xDF) {
            unit = 0x1E9E;
        } else if (unit >= 0xDC00 && unit < 0xDC28) {
            unit = static_cast<char16_t>(unit + 0x28);
        } else if (unit >= 0xDC28 && unit < 0xDC50) {
            unit = static_cast<char16_t>(unit - 0x28);
        }
    }
    return text;
}

// Never empty: the primitives are never asked to look for nothing.
Text MakeSearch(Random& random, const Text& text) {
    Text search;
    switch (random.Below(4)) {
        case 0:
            if (!text.empty()) {
                const std::size_t at = random.Below(static_cast<std::uint32_t>(text.size()));
                search = text.substr(at, 1 + random.Below(6));
                break;
            }
            [[fallthrough]];
        case 1:
            search = Piece(random);
            if (random.Percent(40)) search += Piece(random);
            break;
        case 2: {
            static const std::vector<char16_t> kRepeated = {u'a', u'A', u'|', u' ', u'h', u'\r'};
            search = Text(1 + random.Below(3), random.Pick(kRepeated));
            break;
        }
        default:
            search = random.Pick(kLinkPieces);
            break;
    }
    return random.Percent(40) ? VaryCase(random, search) : search;
}

Text MakeTarget(Random& random) {
    static const std::vector<Text> kTargets = {
        u"",           u"",    u"_blank",   u"_self",  u"|[_link1_]|",    u"a|[_link2_]|b",
        u"\"quoted\"", u"'x'", u"http://t", u"\uE000", u"x\uE000\uE001y",
    };
    return random.Percent(85) ? random.Pick(kTargets) : MakeText(random, 0).substr(0, 12);
}

CompareMode MakeMode(Random& random) {
    return random.Percent(50) ? CompareMode::BinaryCompare : CompareMode::TextCompare;
}

TEST(DifferentialTest, FindAgreesWithModel) {
    Random random(20240611);
    int failures = 0;
    for (int i = 0; i < 30000 && failures < kMaxFailuresShown; ++i) {
        const Text text = MakeText(random);
        const Text search = MakeSearch(random, text);
        const std::size_t start = 1 + random.Below(static_cast<std::uint32_t>(text.size()) + 3);
        const CompareMode mode = MakeMode(random);
        const std::size_t fast = Find(text, search, start, mode);
        const std::size_t model = ref::Find(text, search, start, mode);
        if (fast != model) {
            ++failures;
            ADD_FAILURE() << "Find(" << Show(text) << ", " << Show(search) << ", " << start << ", "
                          << Show(mode) << "): fast " << fast << ", model " << model;
        }
    }
}

TEST(DifferentialTest, ReplaceAgreesWithModel) {
    Random random(7031);
    int failures = 0;
    for (int i = 0; i < 25000 && failures < kMaxFailuresShown; ++i) {
        const Text text = MakeText(random);
        const Text search = MakeSearch(random, text);
        Text replacement;
        switch (random.Below(4)) {
            case 0:
                break;
            case 1:
                replacement = search + search;
                break;
            case 2:
                replacement.assign(1, u'|');
                break;
            default:
                replacement = Piece(random);
                break;
        }
        const ref::Limit limit = random.Percent(50) ? ref::Limit::All : ref::Limit::FirstOnly;
        const CompareMode mode = MakeMode(random);
        const Text fast = Replace(text, search, replacement, ToFast(limit), mode);
        const Text model = ref::Replace(text, search, replacement, limit, mode);
        if (fast != model) {
            ++failures;
            ADD_FAILURE() << "Replace(" << Show(text) << ", " << Show(search) << ", "
                          << Show(replacement) << ", " << Show(limit) << ", " << Show(mode)
                          << ")\n  fast:  " << Show(fast) << "\n  model: " << Show(model);
        }
    }
}

TEST(DifferentialTest, ContaOcorrenciasAgreesWithModel) {
    static const std::vector<Text> kSelectors = {u"", u"B", u"b", u"BB", u" b", u"x"};
    Random random(99173);
    int failures = 0;
    for (int i = 0; i < 30000 && failures < kMaxFailuresShown; ++i) {
        const Text texto = MakeText(random);
        const Text procura = random.Percent(3) ? Text() : MakeSearch(random, texto);
        const Text& tipo = random.Pick(kSelectors);
        const std::int32_t fast = ref::FastContaOcorrencias(texto, procura, tipo);
        const std::int32_t model = ref::ContaOcorrencias(texto, procura, tipo);
        if (fast != model) {
            ++failures;
            ADD_FAILURE() << "ContaOcorrencias(" << Show(texto) << ", " << Show(procura) << ", "
                          << Show(tipo) << "): fast " << fast << ", model " << model;
        }
        // One Contador for the search text, counting in this text and in others.
        const ModPalavox::Contador contador(procura,
                                            PalavoxClass::FindStringFrame(procura, tipo).mode());
        for (const Text& other : {texto, MakeText(random), MakeText(random)}) {
            // The model's -1 for an empty text or search text is FindString's, not a count.
            const std::int32_t expected =
                other.empty() || procura.empty() ? 0 : ref::ContaOcorrencias(other, procura, tipo);
            const std::size_t counted = contador.Conta(other);
            if (counted != static_cast<std::size_t>(expected)) {
                ++failures;
                ADD_FAILURE() << "Contador(" << Show(procura) << ", " << Show(tipo) << ").Conta("
                              << Show(other) << "): " << counted << ", model " << expected;
            }
        }
    }
}

TEST(DifferentialTest, ConverteLinksAgreesWithModel) {
    Random random(4451);
    int failures = 0;
    for (int i = 0; i < 20000 && failures < kMaxFailuresShown; ++i) {
        // Long texts hold many links and the model is slow on them: keep them rare.
        const Text texto = MakeText(random, 1);
        const Text alvo = MakeTarget(random);
        const Text fast = ModPalavox::ConverteLinks(texto, alvo);
        const Text model = ref::ConverteLinks(texto, alvo);
        // Sized, then written into storage of exactly that size.
        Text twoSteps(ModPalavox::ConverteLinksSize(texto, alvo), u'\xFFFF');
        ModPalavox::ConverteLinks(texto, alvo, twoSteps.data());
        if (fast != model || twoSteps != model) {
            ++failures;
            ADD_FAILURE() << "ConverteLinks(" << Show(texto) << ", " << Show(alvo)
                          << ")\n  fast:  " << Show(fast) << "\n  sized: " << Show(twoSteps)
                          << "\n  model: " << Show(model);
        }
    }
}

// The original design's markup (both mends off) as the literal model runs it,
// against the generator's own model of it: every row of original_cases.txt,
// which the stand-in for an installed component must give its clients.
TEST(DifferentialTest, MendsOffGiveTheOriginalDesignsAnswers) {
    const std::vector<palavox::cases::Case> rows = palavox::cases::Load(PALAVOX_ORIGINAL_CASES);
    int errors = 0;
    for (const palavox::cases::Case& c : rows) {
        if (c.method != palavox::cases::Method::TrataHTML) continue;
        Text got;
        int number = 0;
        try {
            got = c.args[0].empty()
                      ? Text()
                      : ref::ConverteLinks(c.args[0], c.args[1], ref::Mends{false, false});
        } catch (const Error& e) {
            number = e.number();
        }
        errors += number != 0;
        EXPECT_EQ(c.expectedError, number) << palavox::cases::Describe(c);
        if (c.expectedError == 0) {
            EXPECT_EQ(Show(c.expectedText), Show(got)) << palavox::cases::Describe(c);
        }
    }
    EXPECT_GE(errors, 10) << "rows where a link holding \"http\" twice fails";
}

TEST(DifferentialTest, TrocaAcentosAgreesWithModel) {
    Random random(60013);
    int failures = 0;
    for (int i = 0; i < 10000 && failures < kMaxFailuresShown; ++i) {
        const Text texto = MakeText(random);
        const Text fast = ModPalavox::TrocaAcentos(texto);
        const Text model = ref::TrocaAcentos(texto);
        if (fast != model) {
            ++failures;
            ADD_FAILURE() << "TrocaAcentos(" << Show(texto) << ")\n  fast:  " << Show(fast)
                          << "\n  model: " << Show(model);
        }
    }
}

// Both implementations, so that the fixed answers below hold the model too.
struct Implementation {
    const char* name;
    std::size_t (*find)(std::u16string_view, std::u16string_view, std::size_t, CompareMode);
    Text (*replace)(std::u16string_view, std::u16string_view, std::u16string_view, ref::Limit,
                    CompareMode);
    std::int32_t (*conta)(std::u16string_view, std::u16string_view, std::u16string_view);
    Text (*links)(std::u16string_view, std::u16string_view);
    Text (*acentos)(std::u16string_view);
};

const Implementation kImplementations[] = {
    {"fast", &Find,
     [](std::u16string_view text, std::u16string_view search, std::u16string_view replacement,
        ref::Limit limit,
        CompareMode mode) { return Replace(text, search, replacement, ToFast(limit), mode); },
     &ref::FastContaOcorrencias, &ModPalavox::ConverteLinks, &ModPalavox::TrocaAcentos},
    {"model", &ref::Find, &ref::Replace, &ref::ContaOcorrencias, &ref::ConverteLinks,
     &ref::TrocaAcentos},
};

TEST(DifferentialFixedTest, PrimitivesGiveKnownAnswers) {
    struct FindCase {
        Text text, search;
        std::size_t start;
        CompareMode mode;
        std::size_t expected;
    };
    const FindCase finds[] = {
        {u"xxHTTPyy", u"http", 1, CompareMode::TextCompare, 3},
        {u"xxHTTPyy", u"http", 1, CompareMode::BinaryCompare, 0},
        {u"aXa", u"a", 2, CompareMode::BinaryCompare, 3},
        {u"abc", u"c", 3, CompareMode::BinaryCompare, 3},
        {u"abc", u"c", 4, CompareMode::BinaryCompare, 0},
        {u"ab", u"abc", 1, CompareMode::TextCompare, 0},
        {u"x\u212A", u"k", 1, CompareMode::TextCompare, 2},
    };
    struct ReplaceCase {
        Text text, search, replacement;
        ref::Limit limit;
        CompareMode mode;
        Text expected;
    };
    const ReplaceCase replaces[] = {
        {u"|||", u"|", u"", ref::Limit::All, CompareMode::BinaryCompare, u""},
        {u"|||", u"|", u"", ref::Limit::FirstOnly, CompareMode::BinaryCompare, u"||"},
        {u"aaa", u"aa", u"", ref::Limit::All, CompareMode::BinaryCompare, u"a"},
        {u"aaaa", u"aa", u"", ref::Limit::All, CompareMode::BinaryCompare, u""},
        {u"abab", u"a", u"aa", ref::Limit::All, CompareMode::BinaryCompare, u"aabaab"},
        {u"Http hTTp", u"HTTP", u"x", ref::Limit::FirstOnly, CompareMode::TextCompare, u"x hTTp"},
        {u"abc", u"", u"x", ref::Limit::All, CompareMode::BinaryCompare, u"abc"},
    };
    for (const Implementation& impl : kImplementations) {
        // A start of 0 is error 5, as in the original design.
        try {
            impl.find(u"abc", u"a", 0, CompareMode::BinaryCompare);
            ADD_FAILURE() << impl.name << " Find from 0: no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), 5) << impl.name << " Find from 0";
        }
        for (const FindCase& c : finds) {
            EXPECT_EQ(impl.find(c.text, c.search, c.start, c.mode), c.expected)
                << impl.name << " Find(" << Show(c.text) << ", " << Show(c.search) << ", "
                << c.start << ", " << Show(c.mode) << ")";
        }
        for (const ReplaceCase& c : replaces) {
            EXPECT_EQ(impl.replace(c.text, c.search, c.replacement, c.limit, c.mode), c.expected)
                << impl.name << " Replace(" << Show(c.text) << ", " << Show(c.search) << ", "
                << Show(c.replacement) << ", " << Show(c.limit) << ", " << Show(c.mode) << ")";
        }
    }
}

TEST(DifferentialFixedTest, ContaOcorrenciasGivesKnownCounts) {
    struct Case {
        Text texto, procura, tipo;
        std::int32_t expected;
    };
    const Case cases[] = {
        {u"Casa casa CASA", u"casa", u"", 3},
        {u"Casa casa CASA", u"casa", u"B", 1},
        {u"Casa casa CASA", u"casa", u"b", 1},
        {u"Casa casa CASA", u"casa", u"BB", 3},
        {u"Casa casa CASA", u"casa", u" b", 3},
        {u"Casa casa CASA", u"casa", u"x", 3},
        {u"abc", u"", u"", -1},
        {u"", u"a", u"", -1},
        {u"aaa", u"aa", u"b", 1},
        {u"aaaa", u"aa", u"b", 2},
        {u"ab", u"abc", u"", 0},
        // Simple case folding, the same on every machine.
        {u"\u212A", u"k", u"", 1},
        {u"\u212A", u"k", u"B", 0},
        {u"\u017F", u"S", u"", 1},
        {u"\u1E9E", u"\u00DF", u"", 1},
        {u"\u03A3\u03C3\u03C2", u"\u03C3", u"", 3},
        {u"\u00C9", u"\u00E9", u"", 1},
        {u"\u0130", u"i", u"", 0},
        {u"\u0131", u"I", u"", 0},
        {u"\U00010400", u"\U00010428", u"", 1},
        {u"\U00010400", u"\U00010428", u"b", 0},
    };
    for (const Implementation& impl : kImplementations) {
        for (const Case& c : cases) {
            EXPECT_EQ(impl.conta(c.texto, c.procura, c.tipo), c.expected)
                << impl.name << " ContaOcorrencias(" << Show(c.texto) << ", " << Show(c.procura)
                << ", " << Show(c.tipo) << ")";
        }
    }
}

TEST(DifferentialFixedTest, ConverteLinksGivesKnownMarkup) {
    struct Case {
        Text texto, alvo, expected;
    };
    const Case cases[] = {
        {u"a http://x/1 b HTTP://y c", u"",
         u"a <a href=\"http://x/1\" target=\"_self\">http://x/1</a> b "
         u"<a href=\"HTTP://y\" target=\"_self\">HTTP://y</a> c"},
        {u"ver http://a/b fim", u"_blank",
         u"ver <a href=\"http://a/b\" target=\"_blank\">http://a/b</a> fim"},
        // A link holding "http" twice: fewer links than counted, and no failure.
        {u"http://a/?u=http://b", u"",
         u"<a href=\"http://a/?u=http://b\" target=\"_self\">http://a/?u=http://b</a>"},
        {u"httphttp x http://c", u"",
         u"<a href=\"httphttp\" target=\"_self\">httphttp</a> x "
         u"<a href=\"http://c\" target=\"_self\">http://c</a>"},
        // Token look-alikes written by the caller stay as they are.
        {u"|[_link1_]| http://a", u"",
         u"|[_link1_]| <a href=\"http://a\" target=\"_self\">http://a</a>"},
        {u"http://a|[_link1_]|", u"",
         u"<a href=\"http://a\" target=\"_self\">http://a</a>|[_link1_]|"},
        {u"http://a http://b", u"|[_link2_]|",
         u"<a href=\"http://a\" target=\"|[_link2_]|\">http://a</a> "
         u"<a href=\"http://b\" target=\"|[_link2_]|\">http://b</a>"},
        {u"nada |[_link1_]|", u"_blank", u"nada |[_link1_]|"},
        {u"\uE000[_link1_]\uE000 http://a \uE001[_link2_]\uE001 http://b", u"\uE002[_link2_]\uE002",
         u"\uE000[_link1_]\uE000 <a href=\"http://a\" "
         u"target=\"\uE002[_link2_]\uE002\">http://a</a> "
         u"\uE001[_link2_]\uE001 <a href=\"http://b\" "
         u"target=\"\uE002[_link2_]\uE002\">http://b</a>"},
        // Where a link ends.
        {u"http://a\r\nb", u"", u"<a href=\"http://a\" target=\"_self\">http://a</a>\r\nb"},
        {u"http://a\nb\tc d", u"",
         u"<a href=\"http://a\nb\tc\" target=\"_self\">http://a\nb\tc</a> d"},
        {u"(xhttp://a).", u"", u"(x<a href=\"http://a).\" target=\"_self\">http://a).</a>"},
        {u"http://a http://a", u"",
         u"<a href=\"http://a\" target=\"_self\">http://a</a> "
         u"<a href=\"http://a\" target=\"_self\">http://a</a>"},
        {u"http://\U00010400 \uE000", u"",
         u"<a href=\"http://\U00010400\" target=\"_self\">http://\U00010400</a> \uE000"},
    };
    for (const Implementation& impl : kImplementations) {
        for (const Case& c : cases) {
            EXPECT_EQ(impl.links(c.texto, c.alvo), c.expected)
                << impl.name << " ConverteLinks(" << Show(c.texto) << ", " << Show(c.alvo) << ")";
        }
    }
    // The model's tokens take a private-use unit the input lacks: the last
    // one, when the input holds all others; none left, it refuses rather than
    // take one the text holds.
    Text privateUse;
    for (char16_t u = 0xE000; u < 0xF8FF; ++u) privateUse += u;
    const Text link = u" http://a";
    const Text anchor = u" <a href=\"http://a\" target=\"_self\">http://a</a>";
    EXPECT_EQ(ref::ConverteLinks(privateUse + link, u""), privateUse + anchor);
    EXPECT_EQ(ModPalavox::ConverteLinks(privateUse + link, u""), privateUse + anchor);
    EXPECT_THROW(ref::ConverteLinks(privateUse + link, u"\uF8FF"), std::length_error);
    EXPECT_EQ(ModPalavox::ConverteLinks(privateUse + u"\uF8FF" + link, u""),
              privateUse + u"\uF8FF" + anchor);
}

TEST(DifferentialFixedTest, TrocaAcentosGivesKnownFolding) {
    struct Case {
        Text texto, expected;
    };
    const Case cases[] = {
        {u"A\u00E7\u00E3o & Rea\u00E7\u00E3o", u"Acao e Reacao"},
        {u"S\u00E3o Paulo (SP)", u"Sao Paulo  SP "},
        {u"1\u00BA lugar", u"1  lugar"},
        {u"R$ 10,00 + 5%", u"R  10,00   5%"},
        {u"\u00B4`~^\u00A8;:/?<>()[]{}\u00AA\u00BA$#+=", u"                       "},
        {u"\u00C1\u00C9\u00CD\u00D3\u00DA\u00C7\u00E1\u00E9\u00ED\u00F3\u00FA\u00E7",
         u"AEIOUCaeiouc"},
        {u"\u00F1\u00DF\u00E5\u00F8\u00FD!\"'-_*|\\\n\r",
         u"\u00F1\u00DF\u00E5\u00F8\u00FD!\"'-_*|\\\n\r"},
        {u"e\u0301", u"e\u0301"},
        {u"", u""},
    };
    for (const Implementation& impl : kImplementations) {
        for (const Case& c : cases) {
            EXPECT_EQ(impl.acentos(c.texto), c.expected)
                << impl.name << " TrocaAcentos(" << Show(c.texto) << ")";
        }
    }
}

}  // namespace
}  // namespace palavox

#include "inputs.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace palavox::bench {
namespace {

// Frequent words first, so that picking from the front makes them frequent.
// clang-format off
constexpr std::u16string_view kWords[] = {
    u"de", u"a", u"o", u"que", u"e", u"do", u"da", u"em", u"um", u"para", u"com", u"n\u00E3o",
    u"uma", u"os", u"no", u"se", u"na", u"por", u"mais", u"as", u"dos", u"como", u"mas", u"foi",
    u"ao", u"ele", u"das", u"tem", u"\u00E0", u"seu", u"sua", u"ou", u"ser", u"quando", u"muito",
    u"h\u00E1", u"nos", u"j\u00E1", u"est\u00E1", u"eu", u"tamb\u00E9m", u"s\u00F3", u"pelo",
    u"pela", u"at\u00E9", u"isso", u"ela", u"entre", u"era", u"depois", u"sem", u"mesmo", u"aos",
    u"ter", u"seus", u"quem", u"nas", u"me", u"esse", u"eles", u"est\u00E3o", u"voc\u00EA",
    u"tinha", u"foram", u"essa", u"num", u"nem", u"suas", u"meu", u"\u00E0s", u"minha",
    u"t\u00EAm", u"numa", u"pelos", u"elas", u"havia", u"seja", u"qual", u"ser\u00E1", u"n\u00F3s",
    u"tenho", u"lhe", u"deles", u"essas", u"esses", u"pelas", u"este", u"fosse", u"dele",
    u"informa\u00E7\u00E3o", u"a\u00E7\u00E3o", u"cora\u00E7\u00E3o", u"munic\u00EDpio",
    u"p\u00FAblico", u"servi\u00E7o", u"tr\u00EAs", u"pa\u00EDs", u"caf\u00E9", u"m\u00E9dico",
    u"\u00E1gua", u"portugu\u00EAs", u"\u00E9", u"ent\u00E3o", u"poss\u00EDvel", u"cr\u00E9dito",
    u"not\u00EDcia", u"per\u00EDodo", u"ap\u00F3s", u"al\u00E9m", u"\u00F3rg\u00E3o",
    u"conte\u00FAdo", u"t\u00E9cnico", u"econ\u00F4mico", u"pol\u00EDtica", u"governo", u"cidade",
    u"sistema", u"trabalho", u"empresa", u"processo", u"relat\u00F3rio", u"educa\u00E7\u00E3o",
    u"sa\u00FAde", u"seguran\u00E7a", u"popula\u00E7\u00E3o", u"casa", u"tempo", u"ano", u"dia",
    u"vez", u"homem", u"mundo", u"vida", u"parte", u"lugar", u"forma", u"caso", u"grupo",
    u"problema", u"fato", u"m\u00E3e", u"pai", u"hist\u00F3ria", u"not\u00EDcias", u"reuni\u00E3o",
    u"el\u00E9trico", u"S\u00E3o", u"Paulo", u"Bras\u00EDlia", u"Jo\u00E3o", u"Jos\u00E9",
    u"Ant\u00F4nio",
};
// clang-format on
constexpr std::size_t kWordCount = std::size(kWords);

// The generator's own plain spelling of the Latin-1 letters it uses.
constexpr std::u16string_view kPlainLatin1 =
    u"AAAAAAACEEEEIIIIDNOOOOOxOUUUUYTsaaaaaaaceeeeiiiidnooooo/ouuuuyty";  // U+00C0..U+00FF
static_assert(kPlainLatin1.size() == 0x40);

char16_t Plain(char16_t unit) {
    return unit >= 0xC0 && unit <= 0xFF ? kPlainLatin1[unit - 0xC0] : unit;
}

char16_t Capital(char16_t unit) {
    if ((unit >= u'a' && unit <= u'z') || (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7)) {
        return static_cast<char16_t>(unit - 0x20);
    }
    return unit;
}

// Words early in the list come up far more often, roughly as in real prose.
std::u16string_view PickWord(Picker& pick) {
    const std::uint64_t a = pick.Below(kWordCount);
    const std::uint64_t b = pick.Below(kWordCount);
    return kWords[std::min(a, b)];
}

void AppendSentence(Picker& pick, bool accents, Text& out) {
    const std::uint64_t words = 5 + pick.Below(16);
    for (std::uint64_t w = 0; w < words; ++w) {
        if (w > 0) out += u' ';
        const bool bracket = pick.Percent(2);
        if (bracket) out += u'(';
        const std::size_t start = out.size();
        out += PickWord(pick);
        if (!accents) {
            for (std::size_t i = start; i < out.size(); ++i) out[i] = Plain(out[i]);
        }
        if (w == 0) out[start] = Capital(out[start]);
        if (bracket) out += u')';
        if (pick.Percent(2)) out += u" 25%";
        if (w + 1 < words && pick.Percent(8)) out += u',';
    }
    const std::uint64_t end = pick.Below(20);
    out += end < 17 ? u'.' : end < 19 ? u'?' : u':';
}

Text ProseAtLeast(std::size_t units, bool accents, Picker& pick) {
    Text out;
    out.reserve(units + 512);
    while (out.size() < units) {
        const std::uint64_t sentences = 3 + pick.Below(4);
        for (std::uint64_t s = 0; s < sentences; ++s) {
            if (s > 0) out += u' ';
            AppendSentence(pick, accents, out);
        }
        out += u"\r\n";
    }
    return out;
}

constexpr std::u16string_view kSchemes[] = {u"http://",  u"http://", u"http://",
                                            u"https://", u"HTTP://", u"Http://"};
constexpr std::u16string_view kHosts[] = {u"www.exemplo.com.br", u"portal.gov.br", u"noticias.net",
                                          u"a.b", u"loja.com"};
constexpr std::u16string_view kPathUnits = u"abcdefgijklmnoqrsuvwxyz0123456789/-._?=&";
constexpr char16_t kLinkEnds[] = {u' ', u' ', u' ', u'\r', u'|'};

// A link of exactly `units` code units (at least 8).
void AppendLink(Picker& pick, std::size_t units, Text& out) {
    const std::size_t start = out.size();
    out += kSchemes[pick.Below(std::size(kSchemes))];
    out += kHosts[pick.Below(std::size(kHosts))];
    while (out.size() - start < units) out += kPathUnits[pick.Below(kPathUnits.size())];
    out.resize(start + units);
}

// clang-format off
constexpr std::u16string_view kFirstNames[] = {
    u"Maria", u"Jos\u00E9", u"Ana", u"Jo\u00E3o", u"Ant\u00F4nio", u"Francisco", u"Carlos",
    u"Paulo", u"Pedro", u"Lucas", u"Lu\u00EDs", u"Marcos", u"Gabriel", u"Rafael", u"Daniel",
    u"F\u00E1tima", u"In\u00EAs", u"S\u00E9rgio", u"L\u00FAcia", u"Rita", u"Juliana",
    u"M\u00E1rcia", u"Concei\u00E7\u00E3o", u"Est\u00EAv\u00E3o", u"J\u00FAlio", u"Ot\u00E1vio",
};
constexpr std::u16string_view kSurnames[] = {
    u"Silva", u"Santos", u"Oliveira", u"Souza", u"Rodrigues", u"Ferreira", u"Alves", u"Pereira",
    u"Lima", u"Gomes", u"Costa", u"Ribeiro", u"Martins", u"Carvalho", u"Rocha", u"Almeida",
    u"Ara\u00FAjo", u"Gon\u00E7alves", u"Sim\u00F5es", u"Brand\u00E3o", u"Magalh\u00E3es",
    u"Concei\u00E7\u00E3o", u"Encarna\u00E7\u00E3o", u"Anuncia\u00E7\u00E3o", u"Fran\u00E7a",
    u"Guimar\u00E3es", u"Patr\u00EDcio",
};
// clang-format on

bool HasAccent(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t u) { return u >= 0x80; });
}

}  // namespace

std::uint64_t Picker::Below(std::uint64_t n) {
    // The largest multiple of n that fits: draws at or above it would favour small values.
    const std::uint64_t limit = std::uint64_t(0) - (std::uint64_t(0) - n) % n;
    for (;;) {
        const std::uint64_t draw = engine_();
        if (limit == 0 || draw < limit) return draw % n;
    }
}

Text Prose(std::size_t units, bool accents, std::uint64_t stream) {
    Picker pick(stream);
    Text out = ProseAtLeast(units, accents, pick);
    out.resize(units);
    return out;
}

std::vector<Text> Names(std::size_t count, std::uint64_t stream) {
    Picker pick(stream);
    std::vector<Text> names;
    names.reserve(count);
    while (names.size() < count) {
        // Every other name with an accent, the others written without any.
        const bool accented = names.size() % 2 == 0;
        Text name(kFirstNames[pick.Below(std::size(kFirstNames))]);
        const std::uint64_t surnames = 1 + pick.Below(3);
        for (std::uint64_t s = 0; s < surnames; ++s) {
            if (s == 1 && pick.Percent(30)) name += pick.Percent(50) ? u" da" : u" dos";
            name += u' ';
            name += kSurnames[pick.Below(std::size(kSurnames))];
        }
        if (name.size() < 10 || name.size() > 40 || HasAccent(name) != accented) continue;
        names.push_back(std::move(name));
    }
    return names;
}

std::vector<Text> Comments(std::size_t count, std::uint64_t stream) {
    Picker pick(stream);
    const Text prose = ProseAtLeast(count * 80, true, pick);
    std::vector<Text> comments;
    comments.reserve(count);
    std::size_t at = 0;
    while (comments.size() < count) {
        if (at + 80 > prose.size()) at = 0;
        const std::size_t words = 3 + pick.Below(6);
        std::size_t end = at;
        for (std::size_t w = 0; w < words && end < prose.size(); ++w) {
            end = std::min(prose.find(u' ', end + 1), prose.size());
        }
        Text comment = prose.substr(at, std::min<std::size_t>(end - at, 60));
        at = end + 1;
        if (comments.size() % 4 == 3) {
            comment += u" veja ";
            AppendLink(pick, 16 + pick.Below(12), comment);
        }
        comments.push_back(std::move(comment));
    }
    return comments;
}

Text LinkText(std::size_t units, std::size_t links, std::uint64_t stream) {
    Picker pick(stream);
    const std::size_t share = units / links;  // callers keep it at 10 or more
    const Text prose = ProseAtLeast(units, false, pick);
    Text out;
    out.reserve(units);
    std::size_t proseAt = 0;
    for (std::size_t k = 0; k < links; ++k) {
        const std::size_t segment = k + 1 < links ? share : units - out.size();
        const std::size_t linkUnits = std::max<std::size_t>(8, segment / 2);
        const std::size_t fill = segment - linkUnits - 1;
        out.append(prose, proseAt, fill);
        proseAt += fill;
        AppendLink(pick, linkUnits, out);
        out += kLinkEnds[pick.Below(std::size(kLinkEnds))];
    }
    return out;
}

}  // namespace palavox::bench

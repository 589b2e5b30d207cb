#include "palavox/mod_palavox.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <new>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "links/link_markup.hpp"
#include "test_util.hpp"

namespace {

using namespace std::literals;
using palavox::ModPalavox::ConverteLinks;

std::u16string Anchor(std::u16string_view link, std::u16string_view target = u"_self") {
    std::u16string a = u"<a href=\"";
    a += link;
    a += u"\" target=\"";
    a += target;
    a += u"\">";
    a += link;
    a += u"</a>";
    return a;
}

struct LinkRow {
    const char* name;
    std::u16string texto;
    std::u16string alvo;
    std::u16string expected;
};
void PrintTo(const LinkRow& r, std::ostream* os) {
    *os << r.name << ": " << palavox::test::Escaped(r.texto) << " target "
        << palavox::test::Escaped(r.alvo);
}

class ConverteLinksTest : public ::testing::TestWithParam<LinkRow> {};

TEST_P(ConverteLinksTest, MarksUpEveryLink) {
    const LinkRow& r = GetParam();
    EXPECT_TEXT_EQ(r.expected, ConverteLinks(r.texto, r.alvo));
}

LinkRow Same(const char* name, std::u16string texto, std::u16string alvo = u"") {
    std::u16string expected = texto;
    return {name, std::move(texto), std::move(alvo), std::move(expected)};
}

INSTANTIATE_TEST_SUITE_P(
    NoLink, ConverteLinksTest,
    ::testing::Values(Same("Plain", u"sem links aqui"),
                      Same("PlainBlankTarget", u"sem links aqui", u"_blank"),
                      Same("MarkupCharsNotEscaped", u"a < b & \"c\" 'd'", u"x\"y"),
                      Same("BrokenWords", u"htp:// ht tp htt|p h\nttp"),
                      Same("FullwidthHIsNotH", u"\uFF48ttp://a \uFF28TTP://b"),
                      Same("OnlySeparators", u" |\r\n "),
                      Same("LiteralPlaceholder", u"|[_link1_]| e |[_link12_]|", u"_blank"),
                      Same("EmptyText", u""), Same("EmptyTextWithTarget", u"", u"_top")),
    palavox::test::RowName{});

INSTANTIATE_TEST_SUITE_P(
    Markup, ConverteLinksTest,
    ::testing::Values(
        LinkRow{"WorkedExample", u"a http://x/1 b HTTP://y c", u"",
                u"a " + Anchor(u"http://x/1") + u" b " + Anchor(u"HTTP://y") + u" c"},
        LinkRow{"LinkAtEnd", u"veja http://a", u"", u"veja " + Anchor(u"http://a")},
        LinkRow{"LinksAtBothEnds", u"http://a meio http://b", u"",
                Anchor(u"http://a") + u" meio " + Anchor(u"http://b")},
        LinkRow{"WholeText", u"http://a", u"", Anchor(u"http://a")},
        LinkRow{"TrailingSpace", u"http://a ", u"", Anchor(u"http://a") + u" "},
        LinkRow{"SpacesAround", u"ver http://a/b fim", u"",
                u"ver " + Anchor(u"http://a/b") + u" fim"},
        LinkRow{"TabDoesNotEnd", u"http://a\tb c", u"", Anchor(u"http://a\tb") + u" c"},
        LinkRow{"CrLfEndsBeforeCr", u"http://a\r\nb", u"", Anchor(u"http://a") + u"\r\nb"},
        LinkRow{"LoneCrEnds", u"http://a\rb", u"", Anchor(u"http://a") + u"\rb"},
        LinkRow{"LoneLfDoesNotEnd", u"http://a\nb c", u"", Anchor(u"http://a\nb") + u" c"},
        LinkRow{"LfThenCr", u"x http://a\n\rb", u"", u"x " + Anchor(u"http://a\n") + u"\rb"},
        LinkRow{"BarEnds", u"http://a|b", u"", Anchor(u"http://a") + u"|b"},
        LinkRow{"TwoBars", u"http://a||b", u"", Anchor(u"http://a") + u"||b"},
        LinkRow{"BarsAround", u"a|http://b|c", u"", u"a|" + Anchor(u"http://b") + u"|c"},
        LinkRow{"MidWord", u"xhttp://a", u"", u"x" + Anchor(u"http://a")},
        LinkRow{"Https", u"https://a/b", u"", Anchor(u"https://a/b")},
        LinkRow{"Httpd", u"o httpd roda", u"", u"o " + Anchor(u"httpd") + u" roda"},
        LinkRow{"LoneHttp", u"http", u"", Anchor(u"http")},
        LinkRow{"LoneHttpUpper", u"a HTTP", u"", u"a " + Anchor(u"HTTP")},
        LinkRow{"PunctuationBelongs", u"(http://a/b).", u"", u"(" + Anchor(u"http://a/b).")},
        LinkRow{"TwoEqualLinks", u"http://a http://a", u"",
                Anchor(u"http://a") + u" " + Anchor(u"http://a")},
        LinkRow{"LongerLinkFirst", u"http://a/b http://a", u"",
                Anchor(u"http://a/b") + u" " + Anchor(u"http://a")},
        LinkRow{"ShorterLinkFirst", u"http://a http://a/b", u"",
                Anchor(u"http://a") + u" " + Anchor(u"http://a/b")},
        LinkRow{"EqualButCaseUpperFirst", u"HTTP://A http://a", u"",
                Anchor(u"HTTP://A") + u" " + Anchor(u"http://a")},
        LinkRow{"EqualButCaseLowerFirst", u"http://a HTTP://A", u"",
                Anchor(u"http://a") + u" " + Anchor(u"HTTP://A")},
        LinkRow{"CaseKept", u"Veja HtTp://Exemplo.COM/Pag", u"",
                u"Veja " + Anchor(u"HtTp://Exemplo.COM/Pag")},
        LinkRow{"UpperLink", u"HTTP://A/B", u"", Anchor(u"HTTP://A/B")},
        LinkRow{"NonAsciiKept", u"http://s\u00E3o.br/\u00C1 ok", u"",
                Anchor(u"http://s\u00E3o.br/\u00C1") + u" ok"},
        LinkRow{"SurrogatePairKept", u"http://\U00010400 x", u"",
                Anchor(u"http://\U00010400") + u" x"},
        LinkRow{"NulDoesNotEnd", u"http://a\0b c"s, u"", Anchor(u"http://a\0b"s) + u" c"},
        LinkRow{"MarkupInLinkNotEscaped", u"http://a/\"<b>\"&c", u"",
                Anchor(u"http://a/\"<b>\"&c")}),
    palavox::test::RowName{});

INSTANTIATE_TEST_SUITE_P(
    Target, ConverteLinksTest,
    ::testing::Values(LinkRow{"EmptyIsSelf", u"ver http://a/b fim", u"",
                              u"ver " + Anchor(u"http://a/b", u"_self") + u" fim"},
                      LinkRow{"Blank", u"ver http://a/b fim", u"_blank",
                              u"ver " + Anchor(u"http://a/b", u"_blank") + u" fim"},
                      LinkRow{"SameTargetForAll", u"http://a http://b", u"f",
                              Anchor(u"http://a", u"f") + u" " + Anchor(u"http://b", u"f")},
                      LinkRow{"QuotesNotEscaped", u"http://a", u"x\" onclick=\"y",
                              Anchor(u"http://a", u"x\" onclick=\"y")},
                      LinkRow{"SpaceKept", u"http://a", u"a b", Anchor(u"http://a", u"a b")},
                      LinkRow{"HttpInTarget", u"http://a http://b", u"http://t",
                              Anchor(u"http://a", u"http://t") + u" " +
                                  Anchor(u"http://b", u"http://t")}),
    palavox::test::RowName{});

// "http" counted more often than there are links: the nested occurrence goes
// with the link that holds it, and every later link is still marked up.
INSTANTIATE_TEST_SUITE_P(
    LinkHoldingHttpTwice, ConverteLinksTest,
    ::testing::Values(
        LinkRow{"QueryHoldsLink", u"http://a/?u=http://b", u"", Anchor(u"http://a/?u=http://b")},
        LinkRow{"HttpHttp", u"httphttp", u"", Anchor(u"httphttp")},
        LinkRow{"HttpHttpThenLink", u"httphttp http://c", u"",
                Anchor(u"httphttp") + u" " + Anchor(u"http://c")},
        LinkRow{"ThreeInOneThenLink", u"hTTphttpHTTP http://c", u"",
                Anchor(u"hTTphttpHTTP") + u" " + Anchor(u"http://c")},
        LinkRow{"EndsInHttp", u"http://a/http b http://c", u"",
                Anchor(u"http://a/http") + u" b " + Anchor(u"http://c")},
        LinkRow{"BetweenOthers", u"x http://a/?u=http://b y http://c z HTTP://d", u"_blank",
                u"x " + Anchor(u"http://a/?u=http://b", u"_blank") + u" y " +
                    Anchor(u"http://c", u"_blank") + u" z " + Anchor(u"HTTP://d", u"_blank")},
        LinkRow{"RepeatedInnerLink", u"http://a/?u=http://b http://b", u"",
                Anchor(u"http://a/?u=http://b") + u" " + Anchor(u"http://b")}),
    palavox::test::RowName{});

// Text that looks like the internal placeholders is ordinary text.
INSTANTIATE_TEST_SUITE_P(
    LiteralPlaceholder, ConverteLinksTest,
    ::testing::Values(
        LinkRow{"BeforeLink", u"|[_link1_]| http://a", u"", u"|[_link1_]| " + Anchor(u"http://a")},
        LinkRow{"AfterLink", u"http://a |[_link1_]|", u"", Anchor(u"http://a") + u" |[_link1_]|"},
        LinkRow{"RightAfterLink", u"http://a|[_link1_]|", u"",
                Anchor(u"http://a") + u"|[_link1_]|"},
        LinkRow{"BarlessTailAfterLink", u"http://a|[_link1_]", u"",
                Anchor(u"http://a") + u"|[_link1_]"},
        LinkRow{"JoinsLinkStart", u"x|[_link1_]http://a", u"",
                u"x|[_link1_]" + Anchor(u"http://a")},
        LinkRow{"UnusedNumber", u"|[_link2_]| http://a", u"",
                u"|[_link2_]| " + Anchor(u"http://a")},
        LinkRow{"BetweenTwoLinks", u"http://a |[_link2_]| http://b", u"",
                Anchor(u"http://a") + u" |[_link2_]| " + Anchor(u"http://b")},
        LinkRow{"TwelveWithOneLink", u"|[_link12_]| http://a |[_link1_]|", u"",
                u"|[_link12_]| " + Anchor(u"http://a") + u" |[_link1_]|"},
        LinkRow{"WithNestedHttp", u"httphttp |[_link1_]| |[_link2_]|", u"",
                Anchor(u"httphttp") + u" |[_link1_]| |[_link2_]|"},
        LinkRow{"InTarget", u"http://a", u"|[_link1_]|", Anchor(u"http://a", u"|[_link1_]|")},
        LinkRow{"FirstInTargetTwoLinks", u"http://a http://b", u"|[_link1_]|",
                Anchor(u"http://a", u"|[_link1_]|") + u" " + Anchor(u"http://b", u"|[_link1_]|")},
        LinkRow{"SecondInTargetTwoLinks", u"http://a http://b", u"|[_link2_]|",
                Anchor(u"http://a", u"|[_link2_]|") + u" " + Anchor(u"http://b", u"|[_link2_]|")}),
    palavox::test::RowName{});

// Two-digit numbers: the placeholder of link 1 must not be confused with that of link 12.
TEST(ConverteLinks, ManyLinksWithLiteralPlaceholders) {
    std::u16string texto;
    std::u16string expected;
    for (int k = 1; k <= 12; ++k) {
        std::u16string link = u"http://h/";
        for (char c : std::to_string(k)) link += static_cast<char16_t>(c);
        texto += link + u" ";
        expected += Anchor(link, u"_blank") + u" ";
    }
    texto += u"|[_link1_]| |[_link12_]|";
    expected += u"|[_link1_]| |[_link12_]|";
    EXPECT_TEXT_EQ(expected, ConverteLinks(texto, u"_blank"));
}

// A result longer than half the address space cannot exist: its size is
// refused (bad_alloc), not wrapped, at exactly one unit past it. Where size_t
// has 32 bits, a long target over many links gets there; here, a made-up one.
TEST(ConverteLinks, ASizePastHalfTheAddressSpaceIsRefused) {
    using palavox::detail::Kernel;
    namespace links = palavox::detail::links;
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max() / 2;
    const std::u16string_view one = u"http://a";       // 8 units, one link
    const std::string_view two = "http://a http://b";  // 17 bytes, two links of 8
    const std::size_t fixed16 = links::Pieces<char16_t>::kAnchorFixed;
    const std::size_t fixed8 = links::Pieces<char>::kAnchorFixed;
    const std::size_t fits16 = kMax - 16 - fixed16;
    const std::size_t fits8 = (kMax - 33) / 2 - fixed8;
    EXPECT_EQ(links::MarkedUpSize<Kernel::Scalar>(one, fits16), kMax);
    EXPECT_THROW(links::MarkedUpSize<Kernel::Scalar>(one, fits16 + 1), std::bad_alloc);
    EXPECT_EQ(links::MarkedUpSize<Kernel::Scalar>(two, fits8), 33 + 2 * (fixed8 + fits8));
    EXPECT_THROW(links::MarkedUpSize<Kernel::Scalar>(two, fits8 + 1), std::bad_alloc);
}

}  // namespace

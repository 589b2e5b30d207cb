#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "count/matcher.hpp"
#include "reference/conta_as_model.hpp"
#include "test_util.hpp"

namespace {

using namespace std::literals;
// Through FindString's rules, so the selector and -1 are checked too.
using palavox::reference::FastContaOcorrencias;

struct CountRow {
    const char* name;
    std::u16string_view texto;
    std::u16string_view procura;
    std::u16string_view tipo;
    std::int32_t expected;
};
void PrintTo(const CountRow& r, std::ostream* os) { *os << r.name; }

class ContaOcorrenciasTest : public ::testing::TestWithParam<CountRow> {};

// As in the Find rows: the search hands over to the two-way algorithm at
// start 20, one before the only match.
const std::u16string kHandOverSearch = std::u16string(20, u'a') + u"\U0001F600";
const std::u16string kHandOverText = std::u16string(41, u'a') + u"\U0001F600";
const std::u16string kHandOverInBlock = kHandOverText + std::u16string(10, u'b');

TEST_P(ContaOcorrenciasTest, CountsNonOverlappingMatches) {
    const CountRow& r = GetParam();
    EXPECT_EQ(FastContaOcorrencias(r.texto, r.procura, r.tipo), r.expected)
        << palavox::test::Escaped(r.procura) << " in " << palavox::test::Escaped(r.texto)
        << " with selector " << palavox::test::Escaped(r.tipo);
    // Both ways of counting, whatever the text's length (the routine picks one
    // by it): 0 where the method's frame gives -1.
    const palavox::PalavoxClass::FindStringFrame frame(r.procura, r.tipo);
    const std::size_t count = r.expected < 0 ? 0 : static_cast<std::size_t>(r.expected);
    EXPECT_EQ(palavox::detail::CountByComparing(r.texto, r.procura, frame.mode()), count);
    EXPECT_EQ(palavox::detail::Matcher(r.procura, frame.mode()).Count(r.texto), count);
}

// Only exactly "B" or "b" asks for exact matching; anything else ignores case.
INSTANTIATE_TEST_SUITE_P(
    Selector, ContaOcorrenciasTest,
    ::testing::Values(CountRow{"Empty", u"Casa casa CASA", u"casa", u"", 3},
                      CountRow{"UpperB", u"Casa casa CASA", u"casa", u"B", 1},
                      CountRow{"LowerB", u"Casa casa CASA", u"casa", u"b", 1},
                      CountRow{"X", u"Casa casa CASA", u"casa", u"x", 3},
                      CountRow{"DoubleB", u"Casa casa CASA", u"casa", u"BB", 3},
                      CountRow{"DoubleLowerB", u"Casa casa CASA", u"casa", u"bb", 3},
                      CountRow{"SpaceThenB", u"Casa casa CASA", u"casa", u" b", 3},
                      CountRow{"BThenSpace", u"Casa casa CASA", u"casa", u"B ", 3},
                      CountRow{"BThenNul", u"Casa casa CASA", u"casa", u"B\0"sv, 3},
                      CountRow{"Word", u"Casa casa CASA", u"casa", u"Binary", 3},
                      CountRow{"NoExactMatch", u"Casa casa CASA", u"cASA", u"b", 0}),
    palavox::test::RowName{});

INSTANTIATE_TEST_SUITE_P(
    Counting, ContaOcorrenciasTest,
    ::testing::Values(
        CountRow{"EmptyProcura", u"abc", u"", u"", -1}, CountRow{"EmptyTexto", u"", u"a", u"", -1},
        CountRow{"BothEmpty", u"", u"", u"b", -1}, CountRow{"ThreeAs", u"aaa", u"aa", u"b", 1},
        CountRow{"FourAs", u"aaaa", u"aa", u"b", 2},
        CountRow{"FiveAsTextCompare", u"aAaAa", u"aa", u"", 2},
        CountRow{"LongerSearch", u"abc", u"abcd", u"", 0},
        CountRow{"Whole", u"abc", u"ABC", u"", 1},
        CountRow{"MultiUnitSearch", u"abcabcab", u"bc", u"", 2},
        CountRow{"EveryUnit", u"xxxxxxx", u"x", u"", 7},
        CountRow{"Links", u"http://a HTTP://b Http", u"http", u"", 3},
        CountRow{"MatchRightAfterHandOver", kHandOverText, kHandOverSearch, u"", 1},
        CountRow{"MatchRightAfterHandOverInBlock", kHandOverInBlock, kHandOverSearch, u"", 1}),
    palavox::test::RowName{});

INSTANTIATE_TEST_SUITE_P(
    Unicode, ContaOcorrenciasTest,
    ::testing::Values(CountRow{"LatinE", u"\u00C9 \u00E9 e", u"\u00E9", u"", 2},
                      CountRow{"LatinEBinary", u"\u00C9 \u00E9 e", u"\u00E9", u"B", 1},
                      CountRow{"GreekSigmas", u"\u03A3\u03C3\u03C2", u"\u03C3", u"", 3},
                      CountRow{"GreekWord",
                               u"\u039B\u039F\u0393\u039F\u03A3 \u03BB\u03CC\u03B3\u03BF\u03C2",
                               u"\u03BB\u03BF\u03B3", u"", 1},
                      CountRow{"KelvinIsK", u"\u212A k K", u"k", u"", 3},
                      // Inside a long search text, where a short text's vector steps
                      // read the first eight starts and the last units only.
                      CountRow{"KelvinInsideLongSearch", u"abcdefghij\u212Almnopqrstuvw",
                               u"ABCDEFGHIJKLMNOP", u"", 1},
                      CountRow{"SharpSInsideLongSearch", u"\u00C0bcdefghijk\u1E9Emnopqrstuvw",
                               u"\u00E0BCDEFGHIJK\u00DFMNOP", u"", 1},
                      CountRow{"SharpSNotExpanded", u"stra\u00DFe strasse", u"ss", u"", 1},
                      CountRow{"DeseretPairs", u"\U00010400\U00010428", u"\U00010428", u"", 2},
                      CountRow{"DeseretBinary", u"\U00010400\U00010428", u"\U00010428", u"b", 1},
                      CountRow{"LoneSurrogates", u"\xD801x\xD801", u"\xD801", u"", 2},
                      CountRow{"NulSearched", u"a\0a\0"sv, u"\0"sv, u"", 2},
                      CountRow{"NulInsideSearch", u"a\0a\0"sv, u"A\0"sv, u"", 2},
                      CountRow{"NulDoesNotEndText", u"a\0bcbc"sv, u"bc", u"", 2}),
    palavox::test::RowName{});

TEST(ContaOcorrencias, LongTextCountIsExact) {
    const std::u16string texto(100000, u'a');
    EXPECT_EQ(FastContaOcorrencias(texto, u"A", u""), 100000);
    EXPECT_EQ(FastContaOcorrencias(texto, u"aaa", u"b"), 33333);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>

#include "palavox/error.hpp"
#include "palavox/text.hpp"
#include "primitives/primitives.hpp"
#include "test_util.hpp"

namespace {

using namespace std::literals;
using palavox::CompareMode;
using palavox::ReplaceLimit;
constexpr auto kBin = CompareMode::BinaryCompare;
constexpr auto kTxt = CompareMode::TextCompare;

// ---------------------------------------------------------------- Find

struct FindRow {
    const char* name;
    std::u16string_view text;
    std::u16string_view search;
    std::size_t start;
    CompareMode mode;
    std::size_t expected;
};
void PrintTo(const FindRow& r, std::ostream* os) { *os << r.name; }

class FindTest : public ::testing::TestWithParam<FindRow> {};

// Every start of «a…a» is a candidate for a search text whose surrogate pair
// is never probed, and each fails late: the search hands over to the two-way
// algorithm at start 20, one before the match. Long enough, the hand-over
// happens inside a vector block.
const std::u16string kHandOverSearch = std::u16string(20, u'a') + u"\U0001F600";
const std::u16string kHandOverText = std::u16string(41, u'a') + u"\U0001F600";
const std::u16string kHandOverInBlock = kHandOverText + std::u16string(10, u'b');

TEST_P(FindTest, GivesFirstMatchAtOrAfterStart) {
    const FindRow& r = GetParam();
    EXPECT_EQ(palavox::Find(r.text, r.search, r.start, r.mode), r.expected)
        << palavox::test::Escaped(r.search) << " in " << palavox::test::Escaped(r.text) << " from "
        << r.start;
}

INSTANTIATE_TEST_SUITE_P(
    Primitives, FindTest,
    ::testing::Values(
        FindRow{"UpperInTextCompare", u"xxHTTPyy", u"http", 1, kTxt, 3},
        FindRow{"UpperInBinaryCompare", u"xxHTTPyy", u"http", 1, kBin, 0},
        FindRow{"AtFirstPosition", u"abcabc", u"abc", 1, kBin, 1},
        FindRow{"StartSkipsEarlierMatch", u"abcabc", u"abc", 2, kBin, 4},
        FindRow{"StartOnMatch", u"abcabc", u"abc", 4, kBin, 4},
        FindRow{"StartAfterLastMatch", u"abcabc", u"abc", 5, kBin, 0},
        FindRow{"StartJustPastEnd", u"abc", u"c", 4, kBin, 0},
        FindRow{"StartFarPastEnd", u"abc", u"c", 99, kTxt, 0},
        FindRow{"MatchAtVeryEnd", u"xyzab", u"ab", 1, kBin, 4},
        FindRow{"WholeText", u"abc", u"ABC", 1, kTxt, 1},
        FindRow{"SearchLongerThanText", u"abc", u"abcd", 1, kTxt, 0},
        FindRow{"PartialAtEndIsNoMatch", u"xxab", u"abc", 1, kBin, 0},
        FindRow{"NotFound", u"abc", u"x", 1, kTxt, 0}, FindRow{"EmptyText", u"", u"a", 1, kTxt, 0},
        // An empty search text matches at every position up to one past the end.
        FindRow{"EmptySearchAtStart", u"abc", u"", 1, kBin, 1},
        FindRow{"EmptySearchJustPastEnd", u"abc", u"", 4, kBin, 4},
        FindRow{"EmptySearchFarPastEnd", u"abc", u"", 5, kTxt, 0},
        FindRow{"EmptySearchInEmptyText", u"", u"", 1, kTxt, 1},
        FindRow{"NulInsideText", u"a\0b\0c"sv, u"\0c"sv, 1, kBin, 4},
        FindRow{"NulIsNotEndOfSearch", u"a\0b\0c"sv, u"\0d"sv, 1, kTxt, 0},
        FindRow{"LatinAccentedCapital", u"\u00C9COLE", u"\u00E9", 1, kTxt, 1},
        FindRow{"LatinAccentedBinary", u"\u00C9COLE", u"\u00E9", 1, kBin, 0},
        FindRow{"GreekFinalSigma", u"x\u03A3", u"\u03C2", 1, kTxt, 2},
        FindRow{"KelvinSignIsK", u"\u212A", u"k", 1, kTxt, 1},
        // Full foldings (length-changing) and Turkic ones are not used.
        FindRow{"SharpSIsNotSS", u"\u00DF", u"ss", 1, kTxt, 0},
        FindRow{"DottedCapitalIIsNotI", u"\u0130", u"i", 1, kTxt, 0},
        FindRow{"NoWidthFolding", u"\uFF28", u"h", 1, kTxt, 0},
        FindRow{"DeseretPairFolds", u"a\U00010400", u"\U00010428", 1, kTxt, 2},
        FindRow{"DeseretPairBinary", u"a\U00010400", u"\U00010428", 1, kBin, 0},
        FindRow{"LoneLowSurrogateUnfolded", u"\xDC00", u"\xDC28", 1, kTxt, 0},
        // The pair is identified in the whole text, so its low half is folded there.
        FindRow{"LowHalfOfPairFoldedInContext", u"\U00010400", u"\xDC28", 1, kTxt, 2},
        FindRow{"MatchRightAfterHandOver", kHandOverText, kHandOverSearch, 1, kTxt, 22},
        FindRow{"MatchRightAfterHandOverInBlock", kHandOverInBlock, kHandOverSearch, 1, kTxt, 22}),
    palavox::test::RowName{});

// ---------------------------------------------------------------- Replace

struct ReplaceRow {
    const char* name;
    std::u16string_view text;
    std::u16string_view search;
    std::u16string_view replacement;
    ReplaceLimit limit;
    CompareMode mode;
    std::u16string_view expected;
};
void PrintTo(const ReplaceRow& r, std::ostream* os) { *os << r.name; }

class ReplaceTest : public ::testing::TestWithParam<ReplaceRow> {};

TEST_P(ReplaceTest, ScansLeftToRightWithoutOverlap) {
    const ReplaceRow& r = GetParam();
    EXPECT_TEXT_EQ(r.expected, palavox::Replace(r.text, r.search, r.replacement, r.limit, r.mode));
}

constexpr auto kAll = ReplaceLimit::All;
constexpr auto kFirst = ReplaceLimit::FirstOnly;

INSTANTIATE_TEST_SUITE_P(
    Primitives, ReplaceTest,
    ::testing::Values(
        ReplaceRow{"BarsAll", u"|||", u"|", u"", kAll, kBin, u""},
        ReplaceRow{"BarsFirstOnly", u"|||", u"|", u"", kFirst, kBin, u"||"},
        ReplaceRow{"ThreeAsOneMatch", u"aaa", u"aa", u"", kAll, kBin, u"a"},
        ReplaceRow{"FourAsTwoMatches", u"aaaa", u"aa", u"", kAll, kBin, u""},
        ReplaceRow{"FourAsFirstOnly", u"aaaa", u"aa", u"", kFirst, kBin, u"aa"},
        ReplaceRow{"NonOverlapMarked", u"aaaaa", u"aa", u"-", kAll, kTxt, u"--a"},
        ReplaceRow{"ReplacementHoldsSearch", u"abab", u"ab", u"xaby", kAll, kBin, u"xabyxaby"},
        ReplaceRow{"ReplacementDoublesSearch", u"aXa", u"a", u"aa", kAll, kBin, u"aaXaa"},
        ReplaceRow{"ReplacementEqualsSearch", u"http", u"http", u"<http>", kAll, kTxt, u"<http>"},
        ReplaceRow{"TextCompareMixedCase", u"Casa casa CASA", u"casa", u"x", kAll, kTxt, u"x x x"},
        ReplaceRow{"BinaryCompareMixedCase", u"Casa casa CASA", u"casa", u"x", kAll, kBin,
                   u"Casa x CASA"},
        ReplaceRow{"TextCompareFirstOnly", u"Casa casa CASA", u"CASA", u"-", kFirst, kTxt,
                   u"- casa CASA"},
        ReplaceRow{"EmptyResult", u"abc", u"ABC", u"", kAll, kTxt, u""},
        ReplaceRow{"SearchLongerThanText", u"ab", u"abc", u"y", kAll, kTxt, u"ab"},
        ReplaceRow{"EmptyText", u"", u"a", u"b", kAll, kTxt, u""},
        ReplaceRow{"MatchAtEnd", u"xyab", u"ab", u"Z", kAll, kBin, u"xyZ"},
        ReplaceRow{"NulSearched", u"a\0b\0"sv, u"\0"sv, u"-", kAll, kBin, u"a-b-"},
        ReplaceRow{"NulReplacement", u"ab", u"b", u"\0"sv, kAll, kBin, u"a\0"sv},
        ReplaceRow{"AccentedTextCompare", u"\u00C9t\u00E9", u"\u00E9", u"e", kAll, kTxt, u"ete"},
        ReplaceRow{"AccentedBinary", u"\u00C9t\u00E9", u"\u00E9", u"e", kAll, kBin, u"\u00C9te"},
        ReplaceRow{"DeseretTextCompare", u"\U00010400x\U00010428", u"\U00010428", u"-", kAll, kTxt,
                   u"-x-"},
        ReplaceRow{"DeseretBinary", u"\U00010400x\U00010428", u"\U00010428", u"-", kAll, kBin,
                   u"\U00010400x-"}),
    palavox::test::RowName{});

// ---------------------------------------------------------------- Substring

struct SubstringRow {
    const char* name;
    std::u16string_view text;
    std::size_t start;
    std::size_t maxLength;
    std::u16string_view expected;
};
void PrintTo(const SubstringRow& r, std::ostream* os) { *os << r.name; }

class SubstringTest : public ::testing::TestWithParam<SubstringRow> {};

TEST_P(SubstringTest, ClipsToText) {
    const SubstringRow& r = GetParam();
    EXPECT_TEXT_EQ(r.expected, palavox::Substring(r.text, r.start, r.maxLength));
}

constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Primitives, SubstringTest,
    ::testing::Values(SubstringRow{"ClippedAtEnd", u"abc", 2, 10, u"bc"},
                      SubstringRow{"JustPastEnd", u"abc", 4, 1, u""},
                      SubstringRow{"FarPastEnd", u"abc", 100, 5, u""},
                      SubstringRow{"WholeFromOne", u"abc", 1, 3, u"abc"},
                      SubstringRow{"LastUnit", u"abc", 3, 1, u"c"},
                      SubstringRow{"MiddleRun", u"abcde", 2, 3, u"bcd"},
                      SubstringRow{"ZeroLength", u"abc", 2, 0, u""},
                      SubstringRow{"HugeLengthDoesNotWrap", u"abc", 2, kHuge, u"bc"},
                      SubstringRow{"EmptyText", u"", 1, 5, u""},
                      SubstringRow{"NulInside", u"a\0b"sv, 2, 2, u"\0b"sv},
                      SubstringRow{"HalfOfPair", u"\U00010400", 2, 1, u"\xDC00"}),
    palavox::test::RowName{});

// ---------------------------------------------------------------- Decimal

struct DecimalRow {
    const char* name;
    std::int32_t value;
    std::u16string_view expected;
};
void PrintTo(const DecimalRow& r, std::ostream* os) { *os << r.name; }

class DecimalTest : public ::testing::TestWithParam<DecimalRow> {};

TEST_P(DecimalTest, PlainDigits) {
    EXPECT_TEXT_EQ(GetParam().expected, palavox::Decimal(GetParam().value));
}

INSTANTIATE_TEST_SUITE_P(
    Primitives, DecimalTest,
    ::testing::Values(DecimalRow{"Zero", 0, u"0"}, DecimalRow{"OneDigit", 7, u"7"},
                      DecimalRow{"Twelve", 12, u"12"}, DecimalRow{"Hundred", 100, u"100"},
                      DecimalRow{"Million", 1000000, u"1000000"}, DecimalRow{"MinusOne", -1, u"-1"},
                      DecimalRow{"MinusTen", -10, u"-10"},
                      DecimalRow{"Max", std::numeric_limits<std::int32_t>::max(), u"2147483647"},
                      DecimalRow{"Min", std::numeric_limits<std::int32_t>::min(), u"-2147483648"}),
    palavox::test::RowName{});

// ---------------------------------------------------------------- the rest

TEST(Primitives, ConcatenateKeepsEveryUnit) {
    struct {
        std::u16string_view a, b, expected;
    } const rows[] = {
        {u"ab", u"cd", u"abcd"},
        {u"", u"x", u"x"},
        {u"x", u"", u"x"},
        {u"", u"", u""},
        {u"a\0"sv, u"\0b"sv, u"a\0\0b"sv},
        {u"\xD801", u"\xDC00", u"\U00010400"},
    };
    for (const auto& r : rows) {
        EXPECT_TEXT_EQ(r.expected, palavox::Concatenate(r.a, r.b));
    }
}

TEST(Primitives, CharacterIsOneUnit) {
    for (char16_t unit : {u'\r', u' ', u'\0', u'\u00E9', u'\xD800'}) {
        const palavox::Text t = palavox::Character(unit);
        ASSERT_EQ(t.size(), 1u) << "unit " << static_cast<unsigned>(unit);
        EXPECT_EQ(t[0], unit);
    }
}

TEST(Primitives, LengthCountsCodeUnits) {
    struct {
        std::u16string_view text;
        std::size_t expected;
    } const rows[] = {
        {u"", 0}, {u"abc", 3}, {u"a\0b"sv, 3}, {u"\0"sv, 1}, {u"\u00E9", 1}, {u"\U00010400", 2},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(palavox::Length(r.text), r.expected) << palavox::test::Escaped(r.text);
    }
}

// An absent automation string arrives as a null view; it must act as the empty text.
TEST(Primitives, NullViewActsAsEmpty) {
    const std::u16string_view null{};
    EXPECT_EQ(palavox::Length(null), 0u);
    EXPECT_EQ(palavox::Find(null, u"a", 1, kTxt), 0u);
    EXPECT_TEXT_EQ(u"", palavox::Replace(null, u"a", u"b", kAll, kTxt));
    EXPECT_TEXT_EQ(u"ac", palavox::Replace(u"abc", u"b", null, kAll, kBin));
    EXPECT_TEXT_EQ(u"", palavox::Substring(null, 1, 5));
    EXPECT_TEXT_EQ(u"a", palavox::Concatenate(null, u"a"));
    EXPECT_TEXT_EQ(u"a", palavox::Concatenate(u"a", null));
    EXPECT_TEXT_EQ(u"", palavox::Concatenate(null, null));
}

// Position 0 is out of range: the call fails instead of reading before the text.
TEST(Primitives, PositionZeroIsInvalidArgument) {
    for (std::u16string_view text : {u""sv, u"abc"sv}) {
        try {
            (void)palavox::Find(text, u"a", 0, kBin);
            ADD_FAILURE() << "Find from 0 in " << palavox::test::Escaped(text);
        } catch (const palavox::Error& e) {
            EXPECT_EQ(e.number(), 5);
        }
        try {
            (void)palavox::Substring(text, 0, 1);
            ADD_FAILURE() << "Substring from 0 of " << palavox::test::Escaped(text);
        } catch (const palavox::Error& e) {
            EXPECT_EQ(e.number(), 5);
        }
    }
}

}  // namespace

#include "palavox/mod_palavox.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <ostream>
#include <string>
#include <string_view>

#include "test_util.hpp"

namespace {

using namespace std::literals;
using palavox::ModPalavox::TrocaAcentos;

struct FoldRow {
    char16_t from;
    char16_t to;
};
void PrintTo(const FoldRow& r, std::ostream* os) {
    *os << palavox::test::Escaped(std::u16string(1, r.from)) << " -> "
        << palavox::test::Escaped(std::u16string(1, r.to));
}

// Every character the routine changes, in table order.
constexpr FoldRow kTable[] = {
    {u'\u00E1', u'a'}, {u'\u00E0', u'a'}, {u'\u00E4', u'a'}, {u'\u00E2', u'a'}, {u'\u00E3', u'a'},
    {u'\u00E9', u'e'}, {u'\u00E8', u'e'}, {u'\u00EA', u'e'}, {u'\u00EB', u'e'}, {u'\u00ED', u'i'},
    {u'\u00EC', u'i'}, {u'\u00EE', u'i'}, {u'\u00EF', u'i'}, {u'\u00F3', u'o'}, {u'\u00F2', u'o'},
    {u'\u00F5', u'o'}, {u'\u00F4', u'o'}, {u'\u00F6', u'o'}, {u'\u00FA', u'u'}, {u'\u00F9', u'u'},
    {u'\u00FB', u'u'}, {u'\u00FC', u'u'}, {u'\u00C1', u'A'}, {u'\u00C0', u'A'}, {u'\u00C4', u'A'},
    {u'\u00C2', u'A'}, {u'\u00C3', u'A'}, {u'\u00C9', u'E'}, {u'\u00C8', u'E'}, {u'\u00CA', u'E'},
    {u'\u00CB', u'E'}, {u'\u00CD', u'I'}, {u'\u00CC', u'I'}, {u'\u00CE', u'I'}, {u'\u00CF', u'I'},
    {u'\u00D3', u'O'}, {u'\u00D2', u'O'}, {u'\u00D5', u'O'}, {u'\u00D4', u'O'}, {u'\u00D6', u'O'},
    {u'\u00DA', u'U'}, {u'\u00D9', u'U'}, {u'\u00DB', u'U'}, {u'\u00DC', u'U'}, {u'\u00E7', u'c'},
    {u'\u00C7', u'C'}, {u'\u00B4', u' '}, {u'\u0060', u' '}, {u'\u007E', u' '}, {u'\u005E', u' '},
    {u'\u00A8', u' '}, {u'\u003B', u' '}, {u'\u003A', u' '}, {u'\u002F', u' '}, {u'\u003F', u' '},
    {u'\u003C', u' '}, {u'\u003E', u' '}, {u'\u0028', u' '}, {u'\u0029', u' '}, {u'\u005B', u' '},
    {u'\u005D', u' '}, {u'\u007B', u' '}, {u'\u007D', u' '}, {u'\u00AA', u' '}, {u'\u00BA', u' '},
    {u'\u0026', u'e'}, {u'\u0024', u' '}, {u'\u0023', u' '}, {u'\u002B', u' '}, {u'\u003D', u' '},
};
static_assert(std::size(kTable) == 70);

class TrocaAcentosRowTest : public ::testing::TestWithParam<FoldRow> {};

TEST_P(TrocaAcentosRowTest, FoldsWhereverItStands) {
    const FoldRow& r = GetParam();
    const std::u16string from(1, r.from);
    const std::u16string to(1, r.to);
    EXPECT_TEXT_EQ(to, TrocaAcentos(from));
    EXPECT_TEXT_EQ(u"x" + to + u"y" + to + to, TrocaAcentos(u"x" + from + u"y" + from + from));
}

INSTANTIATE_TEST_SUITE_P(Table, TrocaAcentosRowTest, ::testing::ValuesIn(kTable),
                         [](const ::testing::TestParamInfo<FoldRow>& p) {
                             return std::string("U").append(
                                 std::to_string(static_cast<unsigned>(p.param.from)));
                         });

TEST(TrocaAcentos, WholeTableAtOnce) {
    const std::u16string_view origem =
        u"\u00E1\u00E0\u00E4\u00E2\u00E3\u00E9\u00E8\u00EA\u00EB\u00ED\u00EC\u00EE\u00EF"
        u"\u00F3\u00F2\u00F5\u00F4\u00F6\u00FA\u00F9\u00FB\u00FC\u00C1\u00C0\u00C4\u00C2"
        u"\u00C3\u00C9\u00C8\u00CA\u00CB\u00CD\u00CC\u00CE\u00CF\u00D3\u00D2\u00D5\u00D4"
        u"\u00D6\u00DA\u00D9\u00DB\u00DC\u00E7\u00C7\u00B4`~^\u00A8;:/?<>()[]{}\u00AA\u00BA&$#+=";
    const std::u16string_view destino =
        u"aaaaaeeeeiiiiooooouuuuAAAAAEEEEIIIIOOOOOUUUUcC                   e    ";
    ASSERT_EQ(origem.size(), 70u);
    ASSERT_EQ(destino.size(), 70u);
    EXPECT_TEXT_EQ(destino, TrocaAcentos(origem));
}

struct TextRow {
    const char* name;
    std::u16string_view input;
    std::u16string_view expected;
};
void PrintTo(const TextRow& r, std::ostream* os) { *os << r.name; }

class TrocaAcentosTextTest : public ::testing::TestWithParam<TextRow> {};

TEST_P(TrocaAcentosTextTest, FoldsAndKeepsLength) {
    const TextRow& r = GetParam();
    const std::u16string once = TrocaAcentos(r.input);
    EXPECT_TEXT_EQ(r.expected, once);
    EXPECT_EQ(once.size(), r.input.size());
    EXPECT_TEXT_EQ(once, TrocaAcentos(once)) << "folding twice";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TrocaAcentosTextTest,
    ::testing::Values(TextRow{"AcaoEReacao", u"A\u00E7\u00E3o & Rea\u00E7\u00E3o",
                              u"Acao e Reacao"},
                      TextRow{"SaoPaulo", u"S\u00E3o Paulo (SP)", u"Sao Paulo  SP "},
                      TextRow{"Ordinal", u"1\u00BA lugar", u"1  lugar"},
                      TextRow{"Money", u"R$ 10,00 + 5%", u"R  10,00   5%"},
                      TextRow{"Empty", u"", u""},
                      TextRow{"AlreadyPlain", u"Acao e Reacao", u"Acao e Reacao"},
                      TextRow{"WholeWords", u"\u00C0 \u00E0s v\u00E9spera: ver\u00E3o? N\u00C3O!",
                              u"A as vespera  verao  NAO!"}),
    palavox::test::RowName{});

INSTANTIATE_TEST_SUITE_P(
    Unchanged, TrocaAcentosTextTest,
    ::testing::Values(
        TextRow{"OtherLatinLetters",
                u"\u00F1\u00DF\u00E5\u00F8\u00FD\u00D1\u00C5\u00D8\u00DD"
                u"\u00E6\u00C6\u00FF\u00F0\u00DE",
                u"\u00F1\u00DF\u00E5\u00F8\u00FD\u00D1\u00C5\u00D8\u00DD"
                u"\u00E6\u00C6\u00FF\u00F0\u00DE"},
        TextRow{"Punctuation", u"!\"'-_*|\\%,.@", u"!\"'-_*|\\%,.@"},
        TextRow{"LineBreaks", u"a\nb\rc\r\n\td", u"a\nb\rc\r\n\td"},
        TextRow{"PlainAscii",
                u" !\"%'*,-.0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ\\_abcdefghijklmnopqrstuvwxyz|",
                u" !\"%'*,-.0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ\\_abcdefghijklmnopqrstuvwxyz|"},
        TextRow{"CombiningAcute", u"e\u0301 a\u0303 c\u0327", u"e\u0301 a\u0303 c\u0327"},
        TextRow{"Nul", u"\0"sv, u"\0"sv}, TextRow{"NulInside", u"a\0\u00E1"sv, u"a\0a"sv},
        TextRow{"SurrogatePair", u"\U00010400\U00010428", u"\U00010400\U00010428"},
        TextRow{"LoneSurrogates", u"\xD800x\xDC00", u"\xD800x\xDC00"},
        // Same low byte as a table character, different code unit.
        TextRow{"HighByteNeighbours", u"\u0101\u01E1\u0126\u0128\u013D\u10E1\u20AC\uFF1F",
                u"\u0101\u01E1\u0126\u0128\u013D\u10E1\u20AC\uFF1F"},
        TextRow{"OtherSpacingMarks", u"\u00B8\u00AF\u00B7\u02C6\u02DC\u00A4\u00D7\u00F7",
                u"\u00B8\u00AF\u00B7\u02C6\u02DC\u00A4\u00D7\u00F7"},
        TextRow{"LoneHighSurrogateBeforeTableChar", u"\xD800\u00E1",
                u"\xD800"
                u"a"}),
    palavox::test::RowName{});

TEST(TrocaAcentos, NullViewIsEmpty) { EXPECT_TEXT_EQ(u"", TrocaAcentos(std::u16string_view{})); }

}  // namespace

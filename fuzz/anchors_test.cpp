// The anchor remover is the fuzzer's oracle for link markup: if it accepted a
// wrong result, or rejected a right one, the fuzzer would be blind or noisy.
#include <gtest/gtest.h>

#include <string>

#include "anchors.hpp"

namespace palavox::fuzz {
namespace {

struct Row {
    const char* name;
    std::u16string marked;
    std::u16string target;
    std::u16string text;  // what should come back
    std::size_t anchors;
    bool faulty;  // a fault should be reported
};

std::u16string Anchor(std::u16string_view link, std::u16string_view target) {
    return u"<a href=\"" + std::u16string(link) + u"\" target=\"" + std::u16string(target) +
           u"\">" + std::u16string(link) + u"</a>";
}

const Row kRows[] = {
    {"PlainText", u"sem links aqui", u"_self", u"sem links aqui", 0, false},
    {"Empty", u"", u"_self", u"", 0, false},
    {"OneInTheMiddle", u"ver " + Anchor(u"http://a/b", u"_self") + u" fim", u"_self",
     u"ver http://a/b fim", 1, false},
    {"AtTheEnd", u"veja " + Anchor(u"HTTP://A", u"_blank"), u"_blank", u"veja HTTP://A", 1, false},
    {"EndedByBarAndCr", Anchor(u"http://a", u"t") + u"|" + Anchor(u"hTtP", u"t") + u"\r\nx", u"t",
     u"http://a|hTtP\r\nx", 2, false},
    // Quotes in the link and spaces, quotes and the middle piece in the target.
    {"QuotesAndSpaces", Anchor(u"http://a\"b", u"a \" target=\" b"), u"a \" target=\" b",
     u"http://a\"b", 1, false},
    {"CallersOwnAnchorStaysText", u"<a href=\"x\" target=\"_self\">x</a>", u"_self",
     u"<a href=\"x\" target=\"_self\">x</a>", 0, false},
    {"TokenLookalikesStayText", u"|[_link1_]| " + Anchor(u"http://a", u"_self"), u"_self",
     u"|[_link1_]| http://a", 1, false},
    // Results a broken markup routine could give.
    {"LinkLeftBare", u"a http://x b", u"_self", u"a http://x b", 0, true},
    {"BareAfterAnAnchor", Anchor(u"http://a", u"_self") + u" Http", u"_self", u"http://a Http", 1,
     true},
    {"WrongTargetIsNotAnAnchor", Anchor(u"http://a", u"_top"), u"_self",
     Anchor(u"http://a", u"_top"), 0, true},
    {"VisibleTextDiffers", u"<a href=\"http://a\" target=\"_self\">http://b</a>", u"_self",
     u"<a href=\"http://a\" target=\"_self\">http://b</a>", 0, true},
    {"MissingClosingTag", u"<a href=\"http://a\" target=\"_self\">http://a", u"_self",
     u"<a href=\"http://a\" target=\"_self\">http://a", 0, true},
    {"CutShort", Anchor(u"http://a", u"_self") + u"/b c", u"_self", u"http://a/b c", 1, true},
    {"CutShortByAnotherAnchor", Anchor(u"http", u"_self") + Anchor(u"http", u"_self"), u"_self",
     u"httphttp", 2, true},
    {"RunsOverBar", Anchor(u"http://a|b", u"_self"), u"_self", u"http://a|b", 1, true},
    {"RunsOverCr", Anchor(u"http://a\rb", u"_self"), u"_self", u"http://a\rb", 1, true},
};

class RemoveAnchorsTest : public ::testing::TestWithParam<Row> {};

TEST_P(RemoveAnchorsTest, GivesBackTheTextAndJudgesTheMarkup) {
    const Row& row = GetParam();
    const Unmarked out = RemoveAnchors(row.marked, row.target);
    EXPECT_EQ(out.text, row.text);
    EXPECT_EQ(out.anchors, row.anchors);
    EXPECT_EQ(!out.fault.empty(), row.faulty) << out.fault;
}

std::string RowName(const ::testing::TestParamInfo<Row>& row) { return row.param.name; }

INSTANTIATE_TEST_SUITE_P(Rows, RemoveAnchorsTest, ::testing::ValuesIn(kRows), RowName);

}  // namespace
}  // namespace palavox::fuzz

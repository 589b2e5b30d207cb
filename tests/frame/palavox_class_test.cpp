#include "palavox/palavox_class.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "palavox/error.hpp"
#include "palavox_forms.hpp"
#include "test_util.hpp"

namespace {

using namespace std::literals;

std::u16string Anchor(std::u16string_view link, std::u16string_view target) {
    return u"<a href=\""s + std::u16string(link) + u"\" target=\"" + std::u16string(target) +
           u"\">" + std::u16string(link) + u"</a>";
}

TEST(PalavoxClass, EmptyFirstArgumentSkipsTheRoutine) {
    const palavox::PalavoxClass pv;
    for (std::u16string_view empty : {std::u16string_view{}, u""sv}) {
        EXPECT_TEXT_EQ(u"", pv.TrataHTML(empty));
        EXPECT_TEXT_EQ(u"", pv.TrataHTML(empty, u"_blank"));
        EXPECT_TEXT_EQ(u"", pv.TrataHTML(empty, u"x\"y"));
        EXPECT_TEXT_EQ(u"", pv.RemoverAcentuacao(empty));
    }
}

// An empty text cannot become a count, whatever else is passed.
TEST(PalavoxClass, FindStringOnEmptyTextIsTypeMismatch) {
    const palavox::PalavoxClass pv;
    struct {
        std::u16string_view entrada, procura, tipo;
    } const rows[] = {
        {u"", u"", u""},      {u"", u"a", u""}, {u"", u"a", u"B"}, {u"", u"", u"b"},
        {u"", u"http", u"x"}, {{}, u"a", {}},   {{}, {}, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(palavox::test::Escaped(r.procura) + " / " + palavox::test::Escaped(r.tipo));
        try {
            const auto n = pv.FindString(r.entrada, r.procura, r.tipo);
            ADD_FAILURE() << "no error, returned " << n;
        } catch (const palavox::Error& e) {
            EXPECT_EQ(e.number(), 13);
            EXPECT_STREQ(e.what(), "Type mismatch");
        }
        // A failed call leaves the instance usable.
        EXPECT_EQ(pv.FindString(u"aXa", u"A"), 2);
    }
    EXPECT_THROW(pv.FindString(u"", u"a"), palavox::Error);
}

TEST(PalavoxClass, FindStringEmptySearchIsMinusOne) {
    const palavox::PalavoxClass pv;
    EXPECT_EQ(pv.FindString(u"abc", u""), -1);
    EXPECT_EQ(pv.FindString(u"abc", {}, u"B"), -1);
}

// The frame alone, with counts no text in memory could give: past
// 2,147,483,647 a count is error 6, not a wrapped number.
TEST(PalavoxClass, FindStringFrameTurnsACountIntoTheResult) {
    constexpr std::uint64_t kMax = 2147483647;
    const struct {
        std::u16string_view procura;
        std::uint64_t units, count;
        std::int32_t result;  // or, when 0 and error set, the error
        int error;
    } rows[] = {
        {u"a", 1, 0, 0, 0},
        {u"a", 5, 3, 3, 0},
        {u"a", kMax, kMax, 2147483647, 0},
        {u"a", kMax + 1, kMax + 1, 0, 6},
        {u"a", ~std::uint64_t{0}, ~std::uint64_t{0}, 0, 6},
        {u"", kMax + 1, kMax + 1, -1, 0},  // an empty search text is -1 whatever was counted
        {u"a", 0, 0, 0, 13},
        {u"", 0, 0, 0, 13},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.units) + " units, count " + std::to_string(r.count));
        const palavox::PalavoxClass::FindStringFrame frame(r.procura, u"");
        try {
            EXPECT_EQ(frame.Result(r.units, r.count), r.result);
            EXPECT_EQ(r.error, 0) << "no error";
        } catch (const palavox::Error& e) {
            EXPECT_EQ(e.number(), r.error);
        }
    }
}

TEST(PalavoxClass, OmittedOptionalEqualsEmpty) {
    const palavox::PalavoxClass pv;
    for (std::u16string_view t : {u"sem link"sv, u"a http://x/1 b HTTP://y c"sv, u"http"sv}) {
        EXPECT_TEXT_EQ(pv.TrataHTML(t, u""), pv.TrataHTML(t));
        EXPECT_TEXT_EQ(pv.TrataHTML(t, {}), pv.TrataHTML(t));
    }
    EXPECT_EQ(pv.FindString(u"Casa casa CASA", u"casa"), 3);
    EXPECT_EQ(pv.FindString(u"Casa casa CASA", u"casa", u""), 3);
    EXPECT_EQ(pv.FindString(u"Casa casa CASA", u"casa", {}), 3);
}

TEST(PalavoxClass, MethodsGiveTheRoutinesResults) {
    const palavox::PalavoxClass pv;
    EXPECT_EQ(pv.FindString(u"Casa casa CASA", u"casa", u"b"), 1);
    EXPECT_EQ(pv.FindString(u"aaaa", u"aa", u"B"), 2);
    EXPECT_EQ(pv.FindString(u"ab", u"abc"), 0);
    EXPECT_TEXT_EQ(u"ver " + Anchor(u"http://a/b", u"_self") + u" fim",
                   pv.TrataHTML(u"ver http://a/b fim"));
    EXPECT_TEXT_EQ(Anchor(u"HTTP://A", u"_blank") + u"|b", pv.TrataHTML(u"HTTP://A|b", u"_blank"));
    EXPECT_TEXT_EQ(u"sem link", pv.TrataHTML(u"sem link", u"_blank"));
    EXPECT_TEXT_EQ(u"Acao e Reacao", pv.RemoverAcentuacao(u"A\u00E7\u00E3o & Rea\u00E7\u00E3o"));
    EXPECT_TEXT_EQ(u"Sao Paulo  SP ", pv.RemoverAcentuacao(u"S\u00E3o Paulo (SP)"));
}

TEST(PalavoxClass, CallsDoNotAffectEachOther) {
    const palavox::PalavoxClass pv;
    const palavox::PalavoxClass other;
    const std::u16string_view text = u"http://a |[_link1_]| httphttp (S\u00E3o)";
    const std::u16string links = pv.TrataHTML(text, u"_top");
    const std::u16string plain = pv.RemoverAcentuacao(text);
    const std::int32_t count = pv.FindString(text, u"HTTP");
    EXPECT_TEXT_EQ(Anchor(u"http://a", u"_top") + u" |[_link1_]| " + Anchor(u"httphttp", u"_top") +
                       u" (S\u00E3o)",
                   links);
    EXPECT_TEXT_EQ(u"http   a | _link1_ | httphttp  Sao ", plain);
    EXPECT_EQ(count, 3);
    EXPECT_TEXT_EQ(links, pv.TrataHTML(text, u"_top"));
    EXPECT_TEXT_EQ(links, other.TrataHTML(text, u"_top"));
    EXPECT_TEXT_EQ(plain, pv.RemoverAcentuacao(text));
    EXPECT_EQ(pv.FindString(text, u"HTTP"), count);
    EXPECT_TEXT_EQ(u"Acao", pv.RemoverAcentuacao(u"A\u00E7\u00E3o"));
    EXPECT_TEXT_EQ(links, pv.TrataHTML(text, u"_top"));
}

// A method in pieces ends with a count only for FindString, whose count
// takes FindString's frame: the empty text read is error 13.
TEST(PalavoxForms, OnlyFindStringInPiecesEndsWithACount) {
    using palavox::forms::InPieces;
    constexpr auto kUtf8 = palavox::pieces::Input::Utf8;
    struct {
        const char* name;
        InPieces call;
        bool counts;
        int error;  // of EndCount
    } rows[] = {
        {"TrataHTML", InPieces::TrataHTML("_top", kUtf8), false, 5},
        {"RemoverAcentuacao", InPieces::RemoverAcentuacao(kUtf8), false, 5},
        {"FindString", InPieces::FindString(u"a", u"B", kUtf8), true, 13},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.call.counts(), r.counts);
        try {
            const std::int32_t n = r.call.EndCount();
            ADD_FAILURE() << "no error, returned " << n;
        } catch (const palavox::Error& e) {
            EXPECT_EQ(e.number(), r.error);
        }
    }
}

// Folding UTF-8 as it is checked still refuses invalid UTF-8 before it fails
// for want of room, as when the text was checked first.
TEST(PalavoxForms, InvalidUtf8IsRefusedBeforeRoomIsMissed) {
    class NoRoom final : public palavox::forms::Utf8Sink {
    public:
        char* Allocate(std::size_t) override { throw std::bad_alloc(); }
        void Keep(std::size_t) noexcept override {}
    } noRoom;
    EXPECT_FALSE(palavox::forms::RemoverAcentuacaoChecked("ok \xC3", noRoom));
    EXPECT_FALSE(palavox::forms::RemoverAcentuacaoChecked(std::string(100, 'a') + "\xFF", noRoom));
    EXPECT_THROW(palavox::forms::RemoverAcentuacaoChecked("S\xC3\xA3o", noRoom), std::bad_alloc);
}

}  // namespace

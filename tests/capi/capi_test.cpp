// The C interface against the shared case file, in UTF-16 and in UTF-8, and
// its own contract: NULL and length rules, outputs on failure, empty results.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "cases/shared_cases.hpp"
#include "palavox/palavox.h"
#include "test_util.hpp"
#include "unicode_forms.hpp"

namespace {

using palavox::cases::Case;
using palavox::cases::Method;

const std::uint16_t* U16(std::u16string_view s) {
    return reinterpret_cast<const std::uint16_t*>(s.data());
}

using palavox::test::Utf8;

// A text result: taken from the library, checked for its terminator, freed.
template <class Unit>
struct Result {
    int rc = -1;
    Unit* data = reinterpret_cast<Unit*>(0x1);  // must be overwritten on every path
    std::size_t len = 12345;

    Result() = default;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ~Result() { palavox_free(data == reinterpret_cast<Unit*>(0x1) ? nullptr : data); }
    std::basic_string<Unit> Text() const { return {data, len}; }
};
using Result16 = Result<std::uint16_t>;
using Result8 = Result<char>;

std::u16string AsU16(const Result16& r) {
    return {reinterpret_cast<const char16_t*>(r.data), r.len};
}

// Success: a non-NULL result with its terminator. Failure: NULL and 0.
template <class Unit>
::testing::AssertionResult WellFormed(const Result<Unit>& r) {
    if (r.rc == 0 && r.data != nullptr && r.data[r.len] == Unit{})
        return ::testing::AssertionSuccess();
    if (r.rc != 0 && r.data == nullptr && r.len == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "rc " << r.rc << ", result " << static_cast<const void*>(r.data) << ", length "
           << r.len;
}

// Empty arguments go in as NULL, 0 in UTF-8 and as a real zero-length text in
// UTF-16, so both spellings of the empty text are exercised on every case.
const char* Ptr8(const std::string& s) { return s.empty() ? nullptr : s.data(); }

TEST(CapiSharedCases, BothEncodingsGiveTheMethodsResults) {
    int utf8Checked = 0, utf16Checked = 0;
    for (const Case& c : palavox::cases::Shared()) {
        const std::string what = palavox::cases::Describe(c);
        std::vector<std::string> args8;
        bool hasUtf8 = true;
        for (const std::u16string& a : c.args) {
            const auto u = Utf8(a);
            hasUtf8 = hasUtf8 && u.has_value();
            args8.push_back(u.value_or(""));
        }
        const auto expected8 = Utf8(c.expectedText);
        hasUtf8 = hasUtf8 && expected8.has_value();
        ++utf16Checked;
        utf8Checked += hasUtf8 ? 1 : 0;

        if (c.method == Method::FindString) {
            const int expectedRc = c.expectedError;
            const std::int32_t expected = c.expectedError ? 0 : c.expectedCount;
            std::int32_t n = 77;
            EXPECT_EQ(expectedRc,
                      palavox_find_string(U16(c.args[0]), c.args[0].size(), U16(c.args[1]),
                                          c.args[1].size(), U16(c.args[2]), c.args[2].size(), &n))
                << what;
            EXPECT_EQ(expected, n) << what;
            // As a column of one text.
            const std::uint16_t* const text = U16(c.args[0]);
            const std::size_t length = c.args[0].size();
            int error = 77;
            n = 77;
            EXPECT_EQ(0,
                      palavox_find_string_many(&text, &length, 1, U16(c.args[1]), c.args[1].size(),
                                               U16(c.args[2]), c.args[2].size(), &n, &error))
                << what;
            EXPECT_EQ(expectedRc, error) << what;
            EXPECT_EQ(expected, n) << what;
            if (!hasUtf8) continue;
            n = 77;
            EXPECT_EQ(expectedRc, palavox_find_string_utf8(Ptr8(args8[0]), args8[0].size(),
                                                           Ptr8(args8[1]), args8[1].size(),
                                                           Ptr8(args8[2]), args8[2].size(), &n))
                << what;
            EXPECT_EQ(expected, n) << what;
            continue;
        }

        Result16 r16;
        Result8 r8;
        if (c.method == Method::TrataHTML) {
            r16.rc = palavox_trata_html(U16(c.args[0]), c.args[0].size(), U16(c.args[1]),
                                        c.args[1].size(), &r16.data, &r16.len);
            if (hasUtf8) {
                r8.rc = palavox_trata_html_utf8(Ptr8(args8[0]), args8[0].size(), Ptr8(args8[1]),
                                                args8[1].size(), &r8.data, &r8.len);
            }
        } else {
            r16.rc =
                palavox_remover_acentuacao(U16(c.args[0]), c.args[0].size(), &r16.data, &r16.len);
            if (hasUtf8) {
                r8.rc = palavox_remover_acentuacao_utf8(Ptr8(args8[0]), args8[0].size(), &r8.data,
                                                        &r8.len);
            }
        }
        EXPECT_EQ(0, r16.rc) << what;
        EXPECT_TRUE(WellFormed(r16)) << what;
        if (r16.rc == 0) {
            EXPECT_TEXT_EQ(c.expectedText, AsU16(r16)) << what;
        }
        if (c.method == Method::TrataHTML) {
            // Sized alone, then into exactly that much of the caller's storage:
            // not a unit past the result.
            std::size_t len = 77;
            EXPECT_EQ(0, palavox_trata_html_into(U16(c.args[0]), c.args[0].size(), U16(c.args[1]),
                                                 c.args[1].size(), nullptr, 0, &len))
                << what;
            EXPECT_EQ(c.expectedText.size(), len) << what;
            std::u16string into(len + 1, u'\xFFFF');
            EXPECT_EQ(0, palavox_trata_html_into(
                             U16(c.args[0]), c.args[0].size(), U16(c.args[1]), c.args[1].size(),
                             reinterpret_cast<std::uint16_t*>(into.data()), len, &len))
                << what;
            EXPECT_EQ(u'\xFFFF', into.back()) << what;
            into.pop_back();
            EXPECT_TEXT_EQ(c.expectedText, into) << what;
        }
        if (c.method == Method::RemoverAcentuacao) {
            // Into the caller's storage: exactly the text's length, not a unit past it.
            std::u16string into(c.args[0].size() + 1, u'\xFFFF');
            EXPECT_EQ(
                0, palavox_remover_acentuacao_into(U16(c.args[0]), c.args[0].size(),
                                                   reinterpret_cast<std::uint16_t*>(into.data())))
                << what;
            EXPECT_EQ(u'\xFFFF', into.back()) << what;
            into.pop_back();
            EXPECT_TEXT_EQ(c.expectedText, into) << what;
        }
        if (!hasUtf8) continue;
        EXPECT_EQ(0, r8.rc) << what;
        EXPECT_TRUE(WellFormed(r8)) << what;
        if (r8.rc == 0) {
            EXPECT_EQ(*expected8, r8.Text()) << what;
        }
    }
    // A misread file must not pass as "nothing to check".
    EXPECT_GE(utf16Checked, 400);
    EXPECT_GE(utf8Checked, 350);
    EXPECT_LT(utf8Checked, utf16Checked) << "the cases with lone surrogates went missing";
}

// One row per rule of the interface. `call` fills whichever outputs the
// function has; text results are checked for NULL/0 on failure and for an
// allocated, terminated text on success.
struct ContractRow {
    const char* name;
    std::function<int(Result16&, Result8&, std::int32_t&)> call;
    int rc;
    std::optional<std::string> text8;      // expected UTF-8 result
    std::optional<std::u16string> text16;  // expected UTF-16 result
    std::optional<std::int32_t> count;
};

const std::u16string kAb = u"ab";
const std::u16string kHttp = u"http://a";

// The FindString cases that share their search text and selector, as one
// column each: every text's result as palavox_find_string gives it alone.
TEST(CapiSharedCases, FindStringManyCountsEachTextOfAColumn) {
    std::map<std::pair<std::u16string, std::u16string>, std::vector<const Case*>> columns;
    for (const Case& c : palavox::cases::Shared()) {
        if (c.method == Method::FindString) columns[{c.args[1], c.args[2]}].push_back(&c);
    }
    std::size_t checked = 0;
    for (const auto& [arguments, cases] : columns) {
        std::vector<const std::uint16_t*> texts;
        std::vector<std::size_t> lengths;
        for (const Case* c : cases) {
            texts.push_back(U16(c->args[0]));
            lengths.push_back(c->args[0].size());
        }
        std::vector<std::int32_t> counts(cases.size(), 77);
        std::vector<int> errors(cases.size(), 77);
        ASSERT_EQ(0, palavox_find_string_many(texts.data(), lengths.data(), cases.size(),
                                              U16(arguments.first), arguments.first.size(),
                                              U16(arguments.second), arguments.second.size(),
                                              counts.data(), errors.data()));
        for (std::size_t i = 0; i < cases.size(); ++i, ++checked) {
            const Case& c = *cases[i];
            EXPECT_EQ(c.expectedError, errors[i]) << palavox::cases::Describe(c);
            EXPECT_EQ(c.expectedError ? 0 : c.expectedCount, counts[i])
                << palavox::cases::Describe(c);
        }
    }
    EXPECT_GE(checked, 100u);
    EXPECT_LT(columns.size(), checked) << "no column holds more than one text";
}

// The column and sized forms' own rules: what fails the whole call, what
// fails one text, and storage too small.
TEST(CapiContract, ColumnsAndSizedMarkup) {
    const std::u16string empty, text = u"x http://a";
    const std::uint16_t* texts[] = {U16(kAb), nullptr, U16(empty), U16(text)};
    const std::size_t lengths[] = {kAb.size(), 1, 0, text.size()};
    const struct {
        const char* name;
        const std::uint16_t* const* texts;
        const std::size_t* lengths;
        std::size_t count;
        const std::uint16_t* procura;
        std::size_t procuraLen;
        int rc;
        std::vector<int> errors;
        std::vector<std::int32_t> counts;
    } columns[] = {
        // clang-format off
        {"a column: a NULL text with a length is 5, an empty one 13",
         texts, lengths, 4, U16(kAb), 1, 0, {0, 5, 13, 0}, {1, 0, 0, 1}},
        {"an empty search text: -1 for every text, 13 still for the empty one",
         texts, lengths, 4, nullptr, 0, 0, {0, 5, 13, 0}, {-1, 0, 0, -1}},
        {"no column: nothing to do, NULL arrays allowed",
         nullptr, nullptr, 0, U16(kAb), 1, 0, {7, 7, 7, 7}, {9, 9, 9, 9}},
        {"NULL texts for a column: nothing written",
         nullptr, lengths, 4, U16(kAb), 1, 5, {7, 7, 7, 7}, {9, 9, 9, 9}},
        {"NULL lengths for a column: nothing written",
         texts, nullptr, 4, U16(kAb), 1, 5, {7, 7, 7, 7}, {9, 9, 9, 9}},
        {"NULL search text with a length fails every text",
         texts, lengths, 4, nullptr, 1, 5, {5, 5, 5, 5}, {0, 0, 0, 0}},
        {"... of a column of three: nothing past the column written",
         texts, lengths, 3, nullptr, 1, 5, {5, 5, 5, 7}, {0, 0, 0, 9}},
        // clang-format on
    };
    for (const auto& row : columns) {
        std::vector<int> errors(4, 7);
        std::vector<std::int32_t> counts(4, 9);
        EXPECT_EQ(row.rc, palavox_find_string_many(row.texts, row.lengths, row.count, row.procura,
                                                   row.procuraLen, nullptr, 0, counts.data(),
                                                   errors.data()))
            << row.name;
        EXPECT_EQ(row.errors, errors) << row.name;
        EXPECT_EQ(row.counts, counts) << row.name;
    }
    std::int32_t count = 0;
    EXPECT_EQ(
        5, palavox_find_string_many(texts, lengths, 1, U16(kAb), 1, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(
        5, palavox_find_string_many(texts, lengths, 1, U16(kAb), 1, nullptr, 0, &count, nullptr));

    const std::u16string marked = u"x <a href=\"http://a\" target=\"_self\">http://a</a>";
    std::u16string out(marked.size(), u'#');
    const struct {
        const char* name;
        const std::uint16_t* entrada;
        std::size_t entradaLen;
        std::uint16_t* resultado;
        std::size_t capacity;
        bool lengthSlot;
        int rc;
        std::size_t length;
        std::u16string written;
    } sized[] = {
        {"sized alone", U16(text), text.size(), nullptr, 0, true, 0, marked.size(),
         std::u16string(marked.size(), u'#')},
        {"one unit short: sized, nothing written", U16(text), text.size(),
         reinterpret_cast<std::uint16_t*>(out.data()), marked.size() - 1, true, 0, marked.size(),
         std::u16string(marked.size(), u'#')},
        {"room for it", U16(text), text.size(), reinterpret_cast<std::uint16_t*>(out.data()),
         marked.size(), true, 0, marked.size(), marked},
        {"no link: the text's own length", U16(kAb), kAb.size(), nullptr, 0, true, 0, kAb.size(),
         marked},
        {"empty text", nullptr, 0, nullptr, 0, true, 0, 0, marked},
        {"NULL text with a length", nullptr, 1, nullptr, 0, true, 5, 0, marked},
        {"no storage for a capacity", U16(text), text.size(), nullptr, 4, true, 5, 0, marked},
        {"no length slot", U16(text), text.size(), nullptr, 0, false, 5, 0, marked},
    };
    for (const auto& row : sized) {
        std::size_t length = 77;
        EXPECT_EQ(row.rc,
                  palavox_trata_html_into(row.entrada, row.entradaLen, nullptr, 0, row.resultado,
                                          row.capacity, row.lengthSlot ? &length : nullptr))
            << row.name;
        if (row.lengthSlot) {
            EXPECT_EQ(row.length, length) << row.name;
        }
        EXPECT_TEXT_EQ(row.written, out) << row.name;
    }
}

// Invalid UTF-8, each in a place of its own: overlong forms, encoded surrogates,
// past U+10FFFF, stray continuation, impossible leads, a sequence cut short.
const char* const kInvalidUtf8[] = {
    "\xC0\x80",
    "\xC1\xBF",
    "\xE0\x80\x80",
    "\xE0\x9F\xBF",
    "\xED\xA0\x80",
    "\xED\xBF\xBF",
    "\xF0\x80\x80\x80",
    "\xF0\x8F\xBF\xBF",
    "\xF4\x90\x80\x80",
    "\xF5\x80\x80\x80",
    "\xFF",
    "\x80",
    "a\xBF",
    "\xC2\x41",
    "\xE2\x82",
    "\xE2\x82\x41",
    "\xF0\x9F\x98",
    "ok \xC3",
    // Where the short texts' windows of eight and sixteen bytes meet.
    "nome do \xC3",
    "abcdefgh\x80",
    "S\xC3\xA3o Paulo \xE2\x82",
    "abcdefghijklmno\xC3(",
    "abcdefghijklmnop\xC3\x41",
    "Jo\xC3\xA3o da Silva Pereira \xC0\x80",
};

std::vector<ContractRow> ContractRows() {
    std::vector<ContractRow> rows = {
        {"trata_html NULL text with a length",
         [](Result16& r, Result8&, std::int32_t&) {
             return palavox_trata_html(nullptr, 3, nullptr, 0, &r.data, &r.len);
         },
         5,
         {},
         {},
         {}},
        {"trata_html NULL target with a length",
         [](Result16& r, Result8&, std::int32_t&) {
             return palavox_trata_html(U16(kHttp), kHttp.size(), nullptr, 1, &r.data, &r.len);
         },
         5,
         {},
         {},
         {}},
        {"trata_html omitted target is _self",
         [](Result16& r, Result8&, std::int32_t&) {
             return palavox_trata_html(U16(kHttp), kHttp.size(), nullptr, 0, &r.data, &r.len);
         },
         0,
         {},
         u"<a href=\"http://a\" target=\"_self\">http://a</a>",
         {}},
        {"trata_html empty text gives an allocated empty result",
         [](Result16& r, Result8&, std::int32_t&) {
             return palavox_trata_html(nullptr, 0, U16(kAb), kAb.size(), &r.data, &r.len);
         },
         0,
         {},
         u"",
         {}},
        {"trata_html no result slot",
         [](Result16& r, Result8&, std::int32_t&) {
             return palavox_trata_html(U16(kAb), 2, nullptr, 0, nullptr, &r.len);
         },
         5,
         {},
         {},
         {}},
        {"trata_html no length slot",
         [](Result16& r, Result8&, std::int32_t&) {
             return palavox_trata_html(U16(kAb), 2, nullptr, 0, &r.data, nullptr);
         },
         5,
         {},
         {},
         {}},
        {"remover_acentuacao no result slot",
         [](Result16& r, Result8&, std::int32_t&) {
             return palavox_remover_acentuacao(U16(kAb), 2, nullptr, &r.len);
         },
         5,
         {},
         {},
         {}},
        {"remover_acentuacao NULL text with a length",
         [](Result16& r, Result8&, std::int32_t&) {
             return palavox_remover_acentuacao(nullptr, 1, &r.data, &r.len);
         },
         5,
         {},
         {},
         {}},
        {"remover_acentuacao empty text gives an allocated empty result",
         [](Result16& r, Result8&, std::int32_t&) {
             return palavox_remover_acentuacao(U16(kAb), 0, &r.data, &r.len);
         },
         0,
         {},
         u"",
         {}},
        {"remover_acentuacao keeps an embedded NUL, and the length counts past it",
         [](Result16& r, Result8&, std::int32_t&) {
             static const std::u16string s(u"\u00E1\0\u00E9", 3);
             return palavox_remover_acentuacao(U16(s), s.size(), &r.data, &r.len);
         },
         0,
         {},
         std::u16string(u"a\0e", 3),
         {}},
        {"find_string empty text is a type mismatch",
         [](Result16&, Result8&, std::int32_t& n) {
             return palavox_find_string(nullptr, 0, U16(kAb), 2, nullptr, 0, &n);
         },
         13,
         {},
         {},
         0},
        {"find_string NULL search with a length",
         [](Result16&, Result8&, std::int32_t& n) {
             return palavox_find_string(U16(kAb), 2, nullptr, 2, nullptr, 0, &n);
         },
         5,
         {},
         {},
         0},
        {"find_string NULL selector with a length",
         [](Result16&, Result8&, std::int32_t& n) {
             return palavox_find_string(U16(kAb), 2, U16(kAb), 2, nullptr, 1, &n);
         },
         5,
         {},
         {},
         0},
        {"find_string omitted search is -1",
         [](Result16&, Result8&, std::int32_t& n) {
             return palavox_find_string(U16(kAb), 2, nullptr, 0, nullptr, 0, &n);
         },
         0,
         {},
         {},
         -1},
        {"find_string no result slot",
         [](Result16&, Result8&, std::int32_t&) {
             return palavox_find_string(U16(kAb), 2, U16(kAb), 2, nullptr, 0, nullptr);
         },
         5,
         {},
         {},
         {}},
        {"find_string_utf8 empty text is a type mismatch",
         [](Result16&, Result8&, std::int32_t& n) {
             return palavox_find_string_utf8("", 0, "a", 1, nullptr, 0, &n);
         },
         13,
         {},
         {},
         0},
        {"find_string_utf8 NULL text with a length",
         [](Result16&, Result8&, std::int32_t& n) {
             return palavox_find_string_utf8(nullptr, 2, "a", 1, nullptr, 0, &n);
         },
         5,
         {},
         {},
         0},
        {"find_string_utf8 no result slot",
         [](Result16&, Result8&, std::int32_t&) {
             return palavox_find_string_utf8("a", 1, "a", 1, nullptr, 0, nullptr);
         },
         5,
         {},
         {},
         {}},
        {"find_string_utf8 B selects exact case",
         [](Result16&, Result8&, std::int32_t& n) {
             return palavox_find_string_utf8("\xC3\x81 \xC3\xA1", 5, "\xC3\xA1", 2, "B", 1, &n);
         },
         0,
         {},
         {},
         1},
        {"trata_html_utf8 empty text gives an allocated empty result",
         [](Result16&, Result8& r, std::int32_t&) {
             return palavox_trata_html_utf8(nullptr, 0, "x", 1, &r.data, &r.len);
         },
         0,
         "",
         {},
         {}},
        {"trata_html_utf8 NULL text with a length",
         [](Result16&, Result8& r, std::int32_t&) {
             return palavox_trata_html_utf8(nullptr, 1, nullptr, 0, &r.data, &r.len);
         },
         5,
         {},
         {},
         {}},
        {"trata_html_utf8 no result slot",
         [](Result16&, Result8& r, std::int32_t&) {
             return palavox_trata_html_utf8("a", 1, nullptr, 0, nullptr, &r.len);
         },
         5,
         {},
         {},
         {}},
        {"trata_html_utf8 link with a four-byte character and a UTF-8 target",
         [](Result16&, Result8& r, std::int32_t&) {
             return palavox_trata_html_utf8("http://\xF0\x9F\x98\x80 x", 13, "\xC3\xA9", 2, &r.data,
                                            &r.len);
         },
         0,
         "<a href=\"http://\xF0\x9F\x98\x80\" target=\"\xC3\xA9\">http://\xF0\x9F\x98\x80</a> x",
         {},
         {}},
        // Every length boundary of the encoding, both ways, around a folded letter.
        {"remover_acentuacao_utf8 round-trips the encoding's boundaries",
         [](Result16&, Result8& r, std::int32_t&) {
             static const std::string s =
                 "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xC3\xA7\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF"
                 "\xBF";
             return palavox_remover_acentuacao_utf8(s.data(), s.size(), &r.data, &r.len);
         },
         0,
         "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"
         "c\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
         {},
         {}},
        {"remover_acentuacao_utf8 NULL text with a length",
         [](Result16&, Result8& r, std::int32_t&) {
             return palavox_remover_acentuacao_utf8(nullptr, 2, &r.data, &r.len);
         },
         5,
         {},
         {},
         {}},
        {"remover_acentuacao_utf8 no result slot",
         [](Result16&, Result8& r, std::int32_t&) {
             return palavox_remover_acentuacao_utf8("a", 1, nullptr, &r.len);
         },
         5,
         {},
         {},
         {}},
        {"remover_acentuacao_utf8 no length slot",
         [](Result16&, Result8& r, std::int32_t&) {
             return palavox_remover_acentuacao_utf8("a", 1, &r.data, nullptr);
         },
         5,
         {},
         {},
         {}},
    };
    // Invalid UTF-8 in any argument: error 5 and nothing written.
    for (const char* bad : kInvalidUtf8) {
        const std::string b = bad;
        rows.push_back({"invalid UTF-8 text, remover_acentuacao_utf8",
                        [b](Result16&, Result8& r, std::int32_t&) {
                            return palavox_remover_acentuacao_utf8(b.data(), b.size(), &r.data,
                                                                   &r.len);
                        },
                        5,
                        {},
                        {},
                        {}});
        rows.push_back({"invalid UTF-8 target, trata_html_utf8",
                        [b](Result16&, Result8& r, std::int32_t&) {
                            return palavox_trata_html_utf8("http://a", 8, b.data(), b.size(),
                                                           &r.data, &r.len);
                        },
                        5,
                        {},
                        {},
                        {}});
        // The text alone, and within a short text with a link before or after it
        // (checked there as the link is looked for), and at its end.
        for (const std::string& text :
             {b, "veja http://a/\xC3\xA7 " + b + " fim", b + "ok http://a", "S\xC3\xA3o J" + b}) {
            rows.push_back({"invalid UTF-8 text, trata_html_utf8",
                            [text](Result16&, Result8& r, std::int32_t&) {
                                return palavox_trata_html_utf8(text.data(), text.size(), nullptr, 0,
                                                               &r.data, &r.len);
                            },
                            5,
                            {},
                            {},
                            {}});
        }
        rows.push_back({"invalid UTF-8 selector, find_string_utf8",
                        [b](Result16&, Result8&, std::int32_t& n) {
                            return palavox_find_string_utf8("aa", 2, "a", 1, b.data(), b.size(),
                                                            &n);
                        },
                        5,
                        {},
                        {},
                        0});
        // Counted on the bytes or decoded, in either mode: refused wherever the
        // fault lies, before, inside or after a match, in a text short or long.
        const std::string name = "Ana Silva a\xC3\xA7\xC3\xA3o SILVA Souza Ara\xC3\xBAjo x";
        for (const std::size_t at : {0u, 4u, 7u, 11u, 15u, 16u, 17u, 31u, 32u, 38u}) {
            for (const char* tipo : {"", "B"}) {
                for (const std::size_t keep : {name.size(), std::size_t{60}, std::size_t{90}}) {
                    std::string text = name.substr(0, at) + b + name.substr(at);
                    while (text.size() < keep) text += 'y';
                    rows.push_back({"invalid UTF-8 text, find_string_utf8",
                                    [text, tipo](Result16&, Result8&, std::int32_t& n) {
                                        return palavox_find_string_utf8(text.data(), text.size(),
                                                                        "silva", 5, tipo,
                                                                        std::strlen(tipo), &n);
                                    },
                                    5,
                                    {},
                                    {},
                                    0});
                }
                rows.push_back({"invalid UTF-8 search, find_string_utf8",
                                [name, b, tipo](Result16&, Result8&, std::int32_t& n) {
                                    const std::string search = "a\xC3\xA7" + b;
                                    return palavox_find_string_utf8(name.data(), name.size(),
                                                                    search.data(), search.size(),
                                                                    tipo, std::strlen(tipo), &n);
                                },
                                5,
                                {},
                                {},
                                0});
            }
        }
        rows.push_back({"invalid UTF-8 search on an empty text, find_string_utf8 (5 before 13)",
                        [b](Result16&, Result8&, std::int32_t& n) {
                            return palavox_find_string_utf8("", 0, b.data(), b.size(), nullptr, 0,
                                                            &n);
                        },
                        5,
                        {},
                        {},
                        0});
    }
    return rows;
}

// Outputs the call was given are overwritten: NULL and 0 on failure, an
// allocated, terminated text on success.
template <class Unit>
void CheckOutputs(const Result<Unit>& r, int rc, const char* name) {
    const bool dataGiven = r.data != reinterpret_cast<Unit*>(0x1);
    const bool lenGiven = r.len != 12345;
    if (rc != 0) {
        if (dataGiven) {
            EXPECT_EQ(nullptr, r.data) << name;
        }
        if (lenGiven) {
            EXPECT_EQ(0u, r.len) << name;
        }
    } else if (dataGiven) {
        ASSERT_NE(nullptr, r.data) << name;
        EXPECT_EQ(Unit{}, r.data[r.len]) << name << ": no terminator";
    }
}

TEST(CapiContract, EveryRule) {
    for (const ContractRow& row : ContractRows()) {
        Result16 r16;
        Result8 r8;
        std::int32_t n = 77;
        const int rc = row.call(r16, r8, n);
        r16.rc = r8.rc = rc;
        EXPECT_EQ(row.rc, rc) << row.name;
        CheckOutputs(r16, rc, row.name);
        CheckOutputs(r8, rc, row.name);
        if (row.count) {
            EXPECT_EQ(*row.count, n) << row.name;
        }
        if (row.text16 && rc == 0) {
            EXPECT_TEXT_EQ(*row.text16, AsU16(r16)) << row.name;
        }
        if (row.text8 && rc == 0) {
            EXPECT_EQ(*row.text8, r8.Text()) << row.name;
        }
    }
}

TEST(CapiContract, FoldingIntoTheCallersStorage) {
    std::uint16_t out[4] = {7, 7, 7, 7};
    const std::u16string text = u"\u00C1b";
    const struct {
        const char* name;
        const std::uint16_t* texto;
        std::size_t length;
        std::uint16_t* resultado;
        int rc;
    } rows[] = {
        {"no storage for a text", U16(text), 2, nullptr, 5},
        {"NULL text with a length", nullptr, 2, out, 5},
        {"empty text, no storage", nullptr, 0, nullptr, 0},
        {"empty text writes nothing", U16(text), 0, out, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.rc, palavox_remover_acentuacao_into(row.texto, row.length, row.resultado))
            << row.name;
        EXPECT_EQ(7, out[0]) << row.name << ": nothing is written";
    }
    EXPECT_EQ(0, palavox_remover_acentuacao_into(U16(text), 2, out));
    EXPECT_EQ((std::vector<std::uint16_t>{u'A', u'b', 7, 7}),
              std::vector<std::uint16_t>(out, out + 4));
}

// UTF-8 folding into the caller's storage: what it refuses, and that a
// refusal or invalid UTF-8 writes nothing.
TEST(CapiContract, FoldingUtf8IntoTheCallersStorage) {
    char out[8] = "#######";
    const char* const text =
        "\xC3\x81"
        "b";  // Áb
    const struct {
        const char* name;
        const char* texto;
        std::size_t length;
        char* resultado;
        bool slot;
        int rc;
    } rows[] = {
        {"no storage for a text", text, 3, nullptr, true, 5},
        {"NULL text with a length", nullptr, 3, out, true, 5},
        {"no length slot", text, 3, out, false, 5},
        {"empty text, no storage", nullptr, 0, nullptr, true, 0},
        {"invalid UTF-8 after a folded letter", "\xC3\x81\xC3", 3, out, true, 5},
        {"an encoded surrogate", "a\xED\xA0\x80", 4, out, true, 5},
    };
    for (const auto& row : rows) {
        std::size_t length = 99;
        EXPECT_EQ(row.rc, palavox_remover_acentuacao_utf8_into(row.texto, row.length, row.resultado,
                                                               row.slot ? &length : nullptr))
            << row.name;
        if (row.slot) {
            EXPECT_EQ(0u, length) << row.name;
        }
        EXPECT_EQ(std::string("#######"), std::string(out)) << row.name << ": nothing is written";
    }
    std::size_t length = 99;
    EXPECT_EQ(0, palavox_remover_acentuacao_utf8_into(text, 3, out, &length));
    EXPECT_EQ(2u, length);
    EXPECT_EQ(std::string("Ab#####"), std::string(out));
}

// UTF-8 markup into the caller's storage: what it refuses, and that a
// refusal or invalid UTF-8, in the text or the target, writes nothing.
TEST(CapiContract, MarkupUtf8IntoTheCallersStorage) {
    char out[8] = "#######";
    const struct {
        const char* name;
        const char* entrada;
        std::size_t length;
        const char* target;
        char* resultado;
        std::size_t capacity;
        bool slot;
        int rc;
    } rows[] = {
        {"no storage for its room", "ab", 2, nullptr, nullptr, 7, true, 5},
        {"NULL text with a length", nullptr, 2, nullptr, out, 7, true, 5},
        {"no length slot", "ab", 2, nullptr, out, 7, false, 5},
        {"empty text, no storage", nullptr, 0, nullptr, nullptr, 0, true, 0},
        {"invalid UTF-8, no link", "a\xC3", 2, nullptr, out, 7, true, 5},
        {"invalid UTF-8 after a link", "http://a \xFF", 10, nullptr, out, 7, true, 5},
        {"invalid UTF-8 in the target", "ab", 2, "\xC3", out, 7, true, 5},
    };
    for (const auto& row : rows) {
        std::size_t length = 99;
        EXPECT_EQ(row.rc, palavox_trata_html_utf8_into(row.entrada, row.length, row.target,
                                                       row.target ? 1 : 0, row.resultado,
                                                       row.capacity, row.slot ? &length : nullptr))
            << row.name;
        if (row.slot) {
            EXPECT_EQ(0u, length) << row.name;
        }
        EXPECT_EQ(std::string("#######"), std::string(out)) << row.name << ": nothing is written";
    }
    std::size_t length = 99;
    EXPECT_EQ(0, palavox_trata_html_utf8_into("\xC3\x81"
                                              "b",
                                              3, nullptr, 0, out, 7, &length));
    EXPECT_EQ(3u, length);
    EXPECT_EQ(std::string("\xC3\x81"
                          "b####"),
              std::string(out));
}

// The header's names stand for the automation methods' numbers, which never change.
TEST(CapiContract, ErrorNamesAndDescriptionsAreTheAutomationMethodsOwn) {
    const struct {
        int name;
        int number;
        const char* description;
    } rows[] = {{PALAVOX_TYPE_MISMATCH, 13, "Type mismatch"},
                {PALAVOX_INVALID_ARGUMENT, 5, "Invalid procedure call or argument"},
                {PALAVOX_OVERFLOW, 6, "Overflow"},
                {PALAVOX_OUT_OF_MEMORY, 7, "Out of memory"},
                {PALAVOX_INTERNAL_ERROR, 51, "Internal error"},
                {PALAVOX_OK, 0, "No error"}};
    for (const auto& row : rows) {
        EXPECT_EQ(row.number, row.name) << row.description;
        EXPECT_STREQ(row.description, palavox_error_description(row.number));
    }
    for (int unknown : {-1, 1, 8, 1000}) EXPECT_NE(nullptr, palavox_error_description(unknown));
}

// What a program can test at compile time is the library's version and the
// build's (cmake/PalavoxIdentity.cmake), and the check macro orders versions.
TEST(CapiContract, VersionMacrosAreTheLibrarysVersion) {
    constexpr int kMajor = PALAVOX_VERSION_MAJOR, kMinor = PALAVOX_VERSION_MINOR,
                  kPatch = PALAVOX_VERSION_PATCH;
    const std::string parts =
        std::to_string(kMajor) + "." + std::to_string(kMinor) + "." + std::to_string(kPatch);
    const struct {
        const char* name;
        bool holds;
    } rows[] = {
        {"the string is palavox_version()",
         std::string(PALAVOX_VERSION_STRING) == palavox_version()},
        {"the string is the build's", std::string(PALAVOX_VERSION_STRING) == PALAVOX_BUILD_VERSION},
        {"the parts make the string", parts == palavox_version()},
        {"at least itself", PALAVOX_VERSION_AT_LEAST(kMajor, kMinor, kPatch)},
        {"not the next patch", !PALAVOX_VERSION_AT_LEAST(kMajor, kMinor, kPatch + 1)},
        {"not the next minor", !PALAVOX_VERSION_AT_LEAST(kMajor, kMinor + 1, 0)},
        {"not the next major", !PALAVOX_VERSION_AT_LEAST(kMajor + 1, 0, 0)},
        {"past any earlier minor's last patch",
         kMinor == 0 || PALAVOX_VERSION_AT_LEAST(kMajor, kMinor - 1, 99)},
        {"past the earlier major's last version", PALAVOX_VERSION_AT_LEAST(kMajor - 1, 99, 99)},
    };
    for (const auto& row : rows) EXPECT_TRUE(row.holds) << row.name << ": " << palavox_version();
}

// ---- Streams (the mechanism itself is tested in tests/text/pieces/pieces_test.cpp)

// `text` a byte a step into four bytes of room, as a C caller would; the
// return code, the output or count, and the offset. Frees the stream.
std::tuple<int, std::string, std::int32_t, std::uint64_t> Streamed(palavox_stream* s,
                                                                   std::string_view text,
                                                                   bool counting) {
    int rc = 0;
    std::string output;
    std::int32_t count = 77;
    char room[4];
    for (std::size_t at = 0, left = 1; rc == 0 && (at < text.size() || left != 0);) {
        palavox_in_buffer in{text.data() + at, at < text.size() ? 1u : 0u, 0};
        palavox_out_buffer out{room, sizeof room, 0};
        if (at < text.size()) {
            rc = palavox_stream_step(s, &in, counting ? nullptr : &out);
            at += in.pos;
        } else if (counting) {
            rc = palavox_stream_end_count(s, &count);
            left = 0;
        } else {
            rc = palavox_stream_end(s, &out, &left);
        }
        output.append(room, out.pos);
    }
    const std::uint64_t offset = palavox_stream_offset(s);
    palavox_stream_free(s);
    return {rc, output, count, offset};
}

TEST(CapiStreams, SharedCasesAByteAtATime) {
    int checked = 0;
    for (const Case& c : palavox::cases::Shared()) {
        std::vector<std::string> a;
        for (const std::u16string& arg : c.args) a.push_back(Utf8(arg).value_or(""));
        const bool representable =
            std::all_of(c.args.begin(), c.args.end(), [](auto& x) { return Utf8(x).has_value(); });
        if (!representable || !Utf8(c.expectedText)) continue;
        palavox_stream* s = nullptr;
        const int made =
            c.method == Method::TrataHTML ? palavox_trata_html_stream(Ptr8(a[1]), a[1].size(), &s)
            : c.method == Method::FindString
                ? palavox_find_string_stream(Ptr8(a[1]), a[1].size(), Ptr8(a[2]), a[2].size(), &s)
                : palavox_remover_acentuacao_stream(&s);
        const std::string what = palavox::cases::Describe(c);
        ASSERT_EQ(0, made) << what;
        const bool counting = c.method == Method::FindString;
        const auto [rc, output, count, offset] = Streamed(s, a[0], counting);
        EXPECT_EQ(counting ? c.expectedError : 0, rc) << what;
        EXPECT_EQ(counting ? "" : *Utf8(c.expectedText), output) << what;
        EXPECT_EQ(!counting ? 77 : c.expectedError ? 0 : c.expectedCount, count) << what;
        EXPECT_EQ(a[0].size(), offset) << what;
        ++checked;
    }
    EXPECT_GE(checked, 350);
}

TEST(CapiStreams, EveryRule) {
    char room[8];
    std::size_t left = 9;
    std::int32_t n = 77;
    palavox_in_buffer i{};
    palavox_out_buffer o{};
    palavox_stream* none = reinterpret_cast<palavox_stream*>(room);
    // One call on a fresh stream of one kind (or none) with the row's input in
    // `i` and eight bytes of room in `o`, and its return code.
    enum Kind { None, Fold, Link, Count };
    const struct {
        const char* name;
        Kind kind;
        const char* input;
        std::function<int(palavox_stream*)> call;
        int rc;
    } rows[] = {
        {"no stream slot", None, "",
         [](auto) { return palavox_remover_acentuacao_stream(nullptr); }, 5},
        {"invalid UTF-8 target: no stream", None, "",
         [&](auto) { return palavox_trata_html_stream("\xC3", 1, &none) + (none ? 100 : 0); }, 5},
        {"NULL search text with a length: no stream", None, "",
         [&](auto) {
             return palavox_find_string_stream(nullptr, 2, nullptr, 0, &none) + (none ? 100 : 0);
         },
         5},
        {"a step without a stream", None, "a",
         [&](auto) { return palavox_stream_step(nullptr, &i, &o); }, 5},
        {"a step without a stream or output", None, "a",
         [&](auto) { return palavox_stream_step(nullptr, &i, nullptr); }, 5},
        {"a step without input", Fold, "a",
         [&](auto s) { return palavox_stream_step(s, nullptr, &o); }, 5},
        {"input without storage for its size", Fold, "a",
         [&](auto s) { return i.src = nullptr, palavox_stream_step(s, &i, &o); }, 5},
        {"output written past its size", Fold, "a",
         [&](auto s) { return o.pos = o.size + 1, palavox_stream_step(s, &i, &o); }, 5},
        {"output without storage for its room", Fold, "a",
         [&](auto s) { return o.dst = nullptr, palavox_stream_step(s, &i, &o); }, 5},
        {"an end without a stream", None, "",
         [&](auto) { return palavox_stream_end(nullptr, &o, &left); }, 5},
        {"an end without output", Fold, "",
         [&](auto s) { return palavox_stream_end(s, nullptr, &left); }, 5},
        {"end_count without a stream", None, "",
         [&](auto) { return palavox_stream_end_count(nullptr, &n); }, 5},
        {"end_count without a result slot", Count, "a",
         [&](auto s) { return palavox_stream_end_count(s, nullptr); }, 5},
        {"an empty input without storage", Fold, "",
         [&](auto s) { return i.src = nullptr, palavox_stream_step(s, &i, &o); }, 0},
        {"input read past its size", Fold, "a",
         [&](auto s) { return ++i.pos, ++i.pos, palavox_stream_step(s, &i, &o); }, 5},
        {"a text stream without output", Link, "a",
         [&](auto s) { return palavox_stream_step(s, &i, nullptr); }, 5},
        {"a count without output reads all", Count, "aXa",
         [&](auto s) {
             const int rc = palavox_stream_step(s, &i, nullptr);
             return rc || i.pos != 3 || palavox_stream_end_count(s, &n) || n != 2 ? -1 : 0;
         },
         0},
        {"end of a count", Count, "", [&](auto s) { return palavox_stream_end(s, &o, &left); }, 5},
        {"end without a slot for what is left", Fold, "",
         [&](auto s) { return palavox_stream_end(s, &o, nullptr); }, 5},
        {"end_count of a text stream", Link, "",
         [&](auto s) { return palavox_stream_end_count(s, &n); }, 5},
        {"end_count of an empty text", Count, "",
         [&](auto s) { return palavox_stream_end_count(s, &n); }, 13},
        {"invalid UTF-8 at 3, then on every call", Link, "ok \xC3(",
         [&](auto s) {
             const int rc = palavox_stream_step(s, &i, &o);
             if (palavox_stream_offset(s) != 3 || palavox_stream_step(s, &i, &o) != rc) return -1;
             return palavox_stream_end(s, &o, &left) == rc ? rc : -1;
         },
         5},
        {"a text ending inside a character, then on every call", Fold, "ok \xF0\x9F\x98",
         [&](auto s) {
             if (palavox_stream_step(s, &i, &o) != 0 || o.pos != 3) return -1;
             const int rc = palavox_stream_end(s, &o, &left);
             if (palavox_stream_step(s, &i, &o) != rc) return -1;
             return palavox_stream_offset(s) == 3 ? rc : -1;
         },
         5},
        {"a step after the end", Fold, "a",
         [&](auto s) {
             if (palavox_stream_end(s, &o, &left) != 0 || left != 0) return -1;
             return palavox_stream_step(s, &i, &o);
         },
         5},
    };
    for (const auto& row : rows) {
        palavox_stream* s = nullptr;
        const int made = row.kind == Fold    ? palavox_remover_acentuacao_stream(&s)
                         : row.kind == Link  ? palavox_trata_html_stream("_t", 2, &s)
                         : row.kind == Count ? palavox_find_string_stream("a", 1, nullptr, 0, &s)
                                             : 0;
        EXPECT_EQ(0, made) << row.name;
        i = {row.input, std::strlen(row.input), 0};
        o = {room, sizeof room, 0};
        EXPECT_EQ(row.rc, row.call(s)) << row.name;
        palavox_stream_free(s);
    }
    EXPECT_EQ(0u, palavox_stream_offset(nullptr));
}

#if defined(__SANITIZE_ADDRESS__)
#define PALAVOX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PALAVOX_ASAN 1
#endif
#endif

// Out of memory is error 7 with NULL and 0, not a crash: a child process
// whose address space leaves no room for the result.
TEST(CapiContract, OutOfMemoryIsErrorSeven) {
#ifdef PALAVOX_ASAN
    GTEST_SKIP() << "the sanitizer's shadow memory needs the address space this test takes away";
#else
    const std::u16string text16(std::size_t{16} << 20, u'\u00E1');
    const std::string text8(std::size_t{16} << 20, 'a');
    const auto limited = [](const std::function<bool()>& call) {
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        // What the process maps now plus 8 MiB: less than any result here needs.
        std::size_t mapped = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%zu", &mapped) != 1) mapped = 0;
            std::fclose(f);
        }
        limit.rlim_cur = mapped * 4096 + (std::size_t{8} << 20);
        if (mapped == 0 || setrlimit(RLIMIT_AS, &limit) != 0) std::exit(2);
        std::exit(call() ? 0 : 1);
    };
    EXPECT_EXIT(limited([&] {
                    Result16 r;
                    r.rc = palavox_remover_acentuacao(U16(text16), text16.size(), &r.data, &r.len);
                    return r.rc == 7 && r.data == nullptr && r.len == 0;
                }),
                ::testing::ExitedWithCode(0), "")
        << "UTF-16";
    EXPECT_EXIT(limited([&] {
                    Result8 r;
                    r.rc = palavox_trata_html_utf8(text8.data(), text8.size(), nullptr, 0, &r.data,
                                                   &r.len);
                    return r.rc == 7 && r.data == nullptr && r.len == 0;
                }),
                ::testing::ExitedWithCode(0), "")
        << "UTF-8";
    // A stream holds a link until its end: one longer than memory fails with 7,
    // and so does every later call.
    const std::string link = "http://" + text8;
    EXPECT_EXIT(limited([&] {
                    palavox_stream* s = nullptr;
                    if (palavox_trata_html_stream(nullptr, 0, &s) != 0) return false;
                    std::string room(1 << 16, '\0');
                    palavox_in_buffer in{link.data(), link.size(), 0};
                    int rc = 0;
                    while (rc == 0 && in.pos < in.size) {
                        palavox_out_buffer out{room.data(), room.size(), 0};
                        rc = palavox_stream_step(s, &in, &out);
                    }
                    palavox_out_buffer out{room.data(), room.size(), 0};
                    std::size_t left = 0;
                    return rc == 7 && palavox_stream_step(s, &in, &out) == 7 &&
                           palavox_stream_end(s, &out, &left) == 7;
                }),
                ::testing::ExitedWithCode(0), "")
        << "a stream";
#endif
}

}  // namespace

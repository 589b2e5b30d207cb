// Helpers shared by the unit tests: readable UTF-16 in failure messages.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace palavox::test {

// Printable ASCII as is, every other code unit as \uXXXX, so a failure shows
// exactly which unit differs (NUL, CR, lone surrogates included).
inline std::string Escaped(std::u16string_view s) {
    std::string out = "u\"";
    for (char16_t c : s) {
        if (c == u'\\' || c == u'"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    out += '"';
    return out;
}

inline ::testing::AssertionResult TextEqual(const char* expectedExpr, const char* actualExpr,
                                            std::u16string_view expected,
                                            std::u16string_view actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    return ::testing::AssertionFailure()
           << actualExpr << "\n    is   " << Escaped(actual) << " (length " << actual.size()
           << ")\n  expected " << Escaped(expected) << " (length " << expected.size()
           << ", " << expectedExpr << ")\n  first difference at code unit " << at;
}

// Parameterized rows carry a `name` usable as a GoogleTest name.
struct RowName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        return info.param.name;
    }
};

}  // namespace palavox::test

#define EXPECT_TEXT_EQ(expected, actual) \
    EXPECT_PRED_FORMAT2(::palavox::test::TextEqual, expected, actual)

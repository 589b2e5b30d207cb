// Helpers shared by the unit tests: readable UTF-16 in failure messages.
#pragma once

#include <gtest/gtest.h>

#include "escaped.hpp"

#include <cstdio>
#include <string>
#include <string_view>

namespace palavox::test {

inline ::testing::AssertionResult TextEqual(const char* expectedExpr, const char* actualExpr,
                                            std::u16string_view expected,
                                            std::u16string_view actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    return ::testing::AssertionFailure()
           << actualExpr << "\n    is   " << Escaped(actual) << " (length " << actual.size()
           << ")\n  expected " << Escaped(expected) << " (length " << expected.size() << ", "
           << expectedExpr << ")\n  first difference at code unit " << at;
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

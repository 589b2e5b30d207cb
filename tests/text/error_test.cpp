#include "palavox/error.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

namespace {

using palavox::Failure;

// Every edge (COM, C, the bindings, the command) reports what Guarded hands it,
// so this table is what each exception becomes everywhere.
TEST(ErrorVocabulary, EachExceptionBecomesOneNumberAndDescription) {
    const struct {
        const char* name;
        std::function<void()> raise;
        int number;
        const char* description;
    } rows[] = {
        {"type mismatch", [] { throw palavox::Error(13); }, 13, "Type mismatch"},
        {"invalid argument", [] { throw palavox::Error(5); }, 5,
         "Invalid procedure call or argument"},
        {"overflow", [] { throw palavox::Error(6); }, 6, "Overflow"},
        {"Error(7)", [] { throw palavox::Error(7); }, 7, "Out of memory"},
        {"bad_alloc", [] { throw std::bad_alloc(); }, 7, "Out of memory"},
        {"bad_array_new_length", [] { throw std::bad_array_new_length(); }, 7, "Out of memory"},
        {"length_error", [] { throw std::length_error("basic_string::_M_create"); }, 7,
         "Out of memory"},
        {"logic_error", [] { throw std::logic_error("a fault of ours"); }, 51, "Internal error"},
        {"runtime_error", [] { throw std::runtime_error("?"); }, 51, "Internal error"},
        {"not an exception", [] { throw 42; }, 51, "Internal error"},
    };
    for (const auto& row : rows) {
        const Failure failure = palavox::Guarded(
            [&] {
                row.raise();
                return Failure{0, "not thrown"};
            },
            [](const Failure& f) { return f; });
        EXPECT_EQ(failure.number, row.number) << row.name;
        EXPECT_STREQ(failure.description, row.description) << row.name;
    }
}

TEST(ErrorVocabulary, AnErrorsMessageIsItsDescription) {
    for (int number : {5, 6, 7, 13, 51}) {
        EXPECT_STREQ(palavox::Error(number).what(), palavox::ErrorDescription(number)) << number;
    }
    for (int unknown : {-1, 1, 8, 1000}) {
        EXPECT_STREQ(palavox::ErrorDescription(unknown), "Unknown error") << unknown;
    }
}

TEST(ErrorVocabulary, GuardedPassesAValueThrough) {
    EXPECT_EQ(palavox::Guarded([] { return 3; }, [](const Failure&) { return -1; }), 3);
}

}  // namespace

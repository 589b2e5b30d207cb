// The library against the case file that the Windows clients also check
// Palavox.dll with, so the DLL and the library answer to the same expectations.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cases/shared_cases.hpp"
#include "palavox/error.hpp"
#include "palavox/palavox_class.hpp"
#include "test_util.hpp"

namespace {

using palavox::cases::Case;
using palavox::cases::Method;

std::vector<Case> Only(Method method) {
    std::vector<Case> out;
    for (const Case& c : palavox::cases::Shared()) {
        if (c.method == method) out.push_back(c);
    }
    return out;
}

// Storage of the caller's: counts how often it is asked for, and holds exactly
// the units asked for, so a write past them is caught under ASan.
class CountingSink final : public palavox::TextSink {
public:
    char16_t* Allocate(std::size_t units) override {
        ++calls;
        storage = std::make_unique<char16_t[]>(units);
        size = units;
        return storage.get();
    }
    std::u16string Text() const { return {storage.get(), size}; }

    int calls = 0;

private:
    std::unique_ptr<char16_t[]> storage;
    std::size_t size = 0;
};

// A truncated or misread file must not pass as "nothing to check".
TEST(SharedCases, FileHoldsCasesForEveryMethod) {
    ASSERT_NO_THROW(palavox::cases::Shared());
    EXPECT_GE(Only(Method::TrataHTML).size(), 100u);
    EXPECT_GE(Only(Method::FindString).size(), 100u);
    EXPECT_GE(Only(Method::RemoverAcentuacao).size(), 50u);
}

TEST(SharedCases, TrataHTML) {
    const palavox::PalavoxClass palavox;
    for (const Case& c : Only(Method::TrataHTML)) {
        EXPECT_TEXT_EQ(c.expectedText, palavox.TrataHTML(c.args[0], c.args[1]))
            << palavox::cases::Describe(c);
        CountingSink sink;
        palavox.TrataHTML(c.args[0], c.args[1], sink);
        EXPECT_EQ(1, sink.calls) << palavox::cases::Describe(c);
        EXPECT_TEXT_EQ(c.expectedText, sink.Text()) << palavox::cases::Describe(c);
    }
}

TEST(SharedCases, RemoverAcentuacao) {
    const palavox::PalavoxClass palavox;
    for (const Case& c : Only(Method::RemoverAcentuacao)) {
        EXPECT_TEXT_EQ(c.expectedText, palavox.RemoverAcentuacao(c.args[0]))
            << palavox::cases::Describe(c);
        CountingSink sink;
        palavox.RemoverAcentuacao(c.args[0], sink);
        EXPECT_EQ(1, sink.calls) << palavox::cases::Describe(c);
        EXPECT_TEXT_EQ(c.expectedText, sink.Text()) << palavox::cases::Describe(c);
    }
}

TEST(SharedCases, FindString) {
    const palavox::PalavoxClass palavox;
    for (const Case& c : Only(Method::FindString)) {
        if (c.expectedError != 0) {
            try {
                palavox.FindString(c.args[0], c.args[1], c.args[2]);
                ADD_FAILURE() << palavox::cases::Describe(c) << " did not fail";
            } catch (const palavox::Error& e) {
                EXPECT_EQ(c.expectedError, e.number()) << palavox::cases::Describe(c);
            }
        } else {
            EXPECT_EQ(c.expectedCount, palavox.FindString(c.args[0], c.args[1], c.args[2]))
                << palavox::cases::Describe(c);
        }
    }
}

}  // namespace

// The command's streaming core against the library on the whole text: the
// shared cases and texts made to straddle reads, cut at every byte position,
// one byte at a time, and at random, in UTF-8 and behind each byte-order mark.
#include "stream.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "cases/shared_cases.hpp"
#include "escaped.hpp"
#include "palavox/error.hpp"
#include "palavox/palavox_class.hpp"
#include "unicode_forms.hpp"

namespace {

using palavox::cli::InvalidInput;
using palavox::test::Utf8;
using namespace std::string_literals;

enum class Command { Fold, Link, Count };

struct Job {
    Command command;
    std::u16string argument;  // the target, or PROCURA
    bool binary = false;
};

// What a run gives: the output, or the error number, or where input was invalid.
struct Outcome {
    std::string output;
    int error = 0;
    std::optional<std::uint64_t> invalidAt;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    if (o.invalidAt) return os << "invalid input at " << *o.invalidAt;
    if (o.error) return os << "error " << o.error;
    return os << "output \"" << o.output << "\"";
}

class StringOut final : public palavox::cli::ByteSink {
public:
    void Write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

// Feeds `bytes` in pieces ending at each of `cuts` (ascending), then the rest.
Outcome RunStream(const Job& job, std::string_view bytes, const std::vector<std::size_t>& cuts) {
    StringOut out;
    std::unique_ptr<palavox::cli::Stream> stream;
    switch (job.command) {
        case Command::Fold:
            stream = std::make_unique<palavox::cli::FoldStream>(out);
            break;
        case Command::Link:
            stream = std::make_unique<palavox::cli::LinkStream>(out, *Utf8(job.argument));
            break;
        case Command::Count:
            stream = std::make_unique<palavox::cli::CountStream>(out, job.argument,
                                                                 job.binary ? u"B" : u"");
            break;
    }
    Outcome o;
    try {
        std::size_t at = 0;
        for (std::size_t cut : cuts) {
            stream->Feed(bytes.substr(at, cut - at));
            at = cut;
        }
        stream->Feed(bytes.substr(at));
        stream->Finish();
        o.output = out.text;
    } catch (const palavox::Error& e) {
        o.error = e.number();
    } catch (const InvalidInput& e) {
        o.invalidAt = e.offset();
    }
    return o;
}

// The library on the whole text.
Outcome Expected(const Job& job, std::u16string_view text) {
    const palavox::PalavoxClass palavox;
    Outcome o;
    try {
        switch (job.command) {
            case Command::Fold:
                o.output = *Utf8(palavox.RemoverAcentuacao(text));
                break;
            case Command::Link:
                o.output = *Utf8(palavox.TrataHTML(text, job.argument));
                break;
            case Command::Count:
                o.output = std::to_string(
                               palavox.FindString(text, job.argument, job.binary ? u"B" : u"")) +
                           "\n";
                break;
        }
    } catch (const palavox::Error& e) {
        o.error = e.number();
    }
    return o;
}

// The byte forms the command reads: UTF-8 with and without its mark, UTF-16 behind either mark.
// A text that itself begins with U+FEFF has no bare form: those first bytes
// are read as a byte order mark, so only the marked forms carry it.
std::vector<std::string> Forms(std::u16string_view text) {
    const std::string utf8 = *Utf8(text);
    std::vector<std::string> forms{"\xEF\xBB\xBF" + utf8,
                                   "\xFF\xFE" + palavox::test::Utf16Bytes(text, true),
                                   "\xFE\xFF" + palavox::test::Utf16Bytes(text, false)};
    if (!text.starts_with(u'\uFEFF')) forms.push_back(utf8);
    return forms;
}

// Every single cut, then one byte at a time; stops at the first mismatch so a
// fault reports once, with the cut that shows it.
::testing::AssertionResult SameForEveryCut(const Job& job, std::string_view bytes,
                                           const Outcome& expected) {
    std::vector<std::vector<std::size_t>> plans;
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) plans.push_back({cut});
    std::vector<std::size_t> everyByte;
    for (std::size_t cut = 1; cut < bytes.size(); ++cut) everyByte.push_back(cut);
    plans.push_back(everyByte);
    for (const auto& cuts : plans) {
        const Outcome got = RunStream(job, bytes, cuts);
        if (!(got == expected)) {
            return ::testing::AssertionFailure()
                   << "cut at " << (cuts.size() == 1 ? std::to_string(cuts[0]) : "every byte")
                   << ": " << got << ", expected " << expected;
        }
    }
    return ::testing::AssertionSuccess();
}

std::string Describe(const Job& job, std::u16string_view text) {
    static const char* const names[] = {"remover-acentuacao", "trata-html", "find-string"};
    return std::string(names[static_cast<int>(job.command)]) + (job.binary ? " -B " : " ") +
           palavox::test::Escaped(job.argument) + " on " + palavox::test::Escaped(text);
}

// The command's result on a shared case, in every byte form, is the case's
// expected result: where a case has no UTF-8 form, the command cannot be given it.
TEST(StreamSharedCases, EveryCutEveryForm) {
    const auto& cases = palavox::cases::Shared();
    int checked = 0;
    for (const auto& c : cases) {
        bool representable = true;
        for (const auto& a : c.args) representable = representable && Utf8(a).has_value();
        if (!representable || !Utf8(c.expectedText)) continue;
        Job job{Command::Fold, {}};
        Outcome expected;
        switch (c.method) {
            case palavox::cases::Method::RemoverAcentuacao:
                expected.output = *Utf8(c.expectedText);
                break;
            case palavox::cases::Method::TrataHTML:
                job = {Command::Link, c.args[1]};
                expected.output = *Utf8(c.expectedText);
                break;
            case palavox::cases::Method::FindString:
                job = {Command::Count, c.args[1], c.args[2] == u"B" || c.args[2] == u"b"};
                expected.error = c.expectedError;
                if (!c.expectedError) expected.output = std::to_string(c.expectedCount) + "\n";
                break;
        }
        for (const std::string& bytes : Forms(c.args[0])) {
            EXPECT_TRUE(SameForEveryCut(job, bytes, expected)) << palavox::cases::Describe(c);
        }
        ++checked;
    }
    EXPECT_GE(checked, 350);
}

// Texts made to straddle reads: links and "http" cut anywhere, a link longer
// than many reads, matches that overlap a cut, surrogate pairs beside every
// cut (they fold as one under TextCompare).
TEST(StreamEdges, MatchTheLibraryOnTheWholeText) {
    const std::u16string longLink = u"http://" + std::u16string(700, u'a') + u"/\U0001F600";
    const struct {
        Job job;
        std::u16string text;
    } rows[] = {
        {{Command::Link, u""}, u"ver http://a/b fim"},
        {{Command::Link, u"_blank"}, u"xhttp://a|b HTTP://B\r\nhtt p hTtP"},
        {{Command::Link, u""}, u"httphttp http://a/?u=http://b ht"},
        {{Command::Link, u"t"}, u"a " + longLink + u" b " + longLink},
        {{Command::Link, u""}, u"\U00010400http\U00010428 \U00010400\U00010400 http"},
        {{Command::Link, u""}, u"|[_link1_]| http://a |[_link1_]|"},
        {{Command::Link, u""}, std::u16string(500, u'x') + u"http"},
        {{Command::Fold, u""}, u"A\u00E7\u00E3o & Rea\u00E7\u00E3o \U0001F600 (SP) \u00C1"},
        {{Command::Count, u"aa"}, u"aaaaa"},
        {{Command::Count, u"aba"}, u"abababababa"},
        {{Command::Count, u"aaa"}, std::u16string(14, u'a')},
        {{Command::Count, u"AaAa"}, std::u16string(17, u'a') + u"b" + std::u16string(9, u'A')},
        {{Command::Count, u"aa", true}, u"aAaaAaaa"},
        {{Command::Count, u"\U00010428"}, u"\U00010400\U00010428x\U00010400"},
        {{Command::Count, u"\U00010428", true}, u"\U00010400\U00010428x\U00010400"},
        // A low surrogate alone folds with the high one before it in the text.
        {{Command::Count, u"\xDC28"}, u"\U00010400\U00010400\U00010428"},
        {{Command::Count, u"\xD801"}, u"\U00010400a\U00010428"},
        {{Command::Count, u"\xDC28x"}, u"\U00010400x\U00010400X\U00010428x"},
        {{Command::Count, u"ss"}, u"stra\u00DFe STRASSE"},
        {{Command::Count, u"\u212A"}, u"k K \u212A"},
        {{Command::Count, u""}, u"abc"},
        {{Command::Count, u"a"}, u""},
        {{Command::Count, u""}, u""},
        {{Command::Count, u"x" + std::u16string(40, u'y')},
         std::u16string(100, u'y') + u"x" + std::u16string(40, u'Y')},
    };
    for (const auto& row : rows) {
        const Outcome expected = Expected(row.job, row.text);
        for (const std::string& bytes : Forms(row.text)) {
            EXPECT_TRUE(SameForEveryCut(row.job, bytes, expected)) << Describe(row.job, row.text);
        }
    }
}

// Random texts from the pieces the three commands care about, read in pieces
// of random sizes: a differential check of the cutting rules.
TEST(StreamEdges, RandomTextsRandomReads) {
    const std::u16string pieces[] = {
        u"http", u"HTTP", u"htt",    u"p",      u"h", u" ", u"\r",         u"\n",         u"|",
        u"a",    u"A",    u"\u00E1", u"\u00C7", u"&", u"(", u"\U00010400", u"\U00010428", u"://x/"};
    const Job jobs[] = {{Command::Fold, u""},          {Command::Link, u"_t"},
                        {Command::Count, u"a"},        {Command::Count, u"ht"},
                        {Command::Count, u"aa", true}, {Command::Count, u"\U00010428"},
                        {Command::Count, u"p a"},      {Command::Count, u"aaa"}};
    std::mt19937_64 random(11);
    for (int round = 0; round < 300; ++round) {
        std::u16string text;
        const auto length = random() % 60;
        for (std::uint64_t i = 0; i < length; ++i) text += pieces[random() % std::size(pieces)];
        for (const Job& job : jobs) {
            const Outcome expected = Expected(job, text);
            const std::string bytes = Forms(text)[random() % 4];
            std::vector<std::size_t> cuts;
            for (std::size_t at = random() % 8; at < bytes.size(); at += 1 + random() % 8) {
                cuts.push_back(at);
            }
            EXPECT_EQ(expected, RunStream(job, bytes, cuts)) << Describe(job, text);
        }
    }
}

std::string Bytes(std::string_view bytes) {
    std::u16string units;
    for (char b : bytes) units += static_cast<char16_t>(static_cast<unsigned char>(b));
    return palavox::test::Escaped(units);
}

// Invalid input stops the run at the same byte offset wherever the reads fall.
TEST(StreamInput, InvalidBytesAtTheSameOffsetForEveryCut) {
    const struct {
        std::string bytes;
        std::uint64_t offset;
    } rows[] = {
        {"ab\xC3\x28"
         "cd"s,
         2},
        {std::string(100, 'x') + "\x80", 100},
        {"abc\xE2\x82"s, 3},   // cut short by the end
        {"\xED\xA0\x80"s, 0},  // an encoded surrogate
        {"\xEF\xBB"s, 0},      // half a mark is not a mark
        {"\xEF\xBB\x41"s, 0},
        {"\xEF\xBB\xBF\xFF"s, 3},  // after the mark
        {"\xFF"s, 0},
        {"\xFE"s, 0},
        {"\xFF\xFE"
         "a"s,
         2},  // an odd byte
        {"\xFF\xFE"
         "a\0\x00\xD8"s,
         4},                       // a high surrogate at the end
        {"\xFF\xFE\x00\xDC"s, 2},  // a low surrogate alone
        {"\xFF\xFE\x00\xD8"
         "a\0"s,
         2},  // a high surrogate without its low one
        {"\xFE\xFF\x00"
         "a\xDC\x00"s,
         4},
    };
    const Job jobs[] = {{Command::Fold, u""}, {Command::Link, u""}, {Command::Count, u"a"}};
    for (const auto& row : rows) {
        Outcome expected;
        expected.invalidAt = row.offset;
        for (const Job& job : jobs) {
            EXPECT_TRUE(SameForEveryCut(job, row.bytes, expected))
                << Describe(job, u"") << ", bytes " << Bytes(row.bytes);
        }
    }
}

}  // namespace

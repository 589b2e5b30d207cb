// Text in pieces against the library on the whole text: the shared cases and
// texts made to straddle pieces, cut at every byte, one byte at a time and at
// random, with output buffers roomy and tight; read as UTF-8 and, behind each
// byte-order mark, as the command reads files. Every piece of output must be
// whole code points.
#include "pieces/pieces.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cases/shared_cases.hpp"
#include "escaped.hpp"
#include "palavox/error.hpp"
#include "palavox/palavox_class.hpp"
#include "unicode_forms.hpp"
#include "utf8/utf8.hpp"

namespace {

namespace pieces = palavox::pieces;
using palavox::test::Utf8;
using namespace std::string_literals;

enum class Command { Fold, Link, Count };

struct Job {
    // A constructor, not an aggregate: GCC 12 at -O3 took the members of a
    // brace-built table of these for "may be used uninitialized".
    Job(Command c, std::u16string a, bool b = false)
        : command(c), argument(std::move(a)), binary(b) {}
    Command command;
    std::u16string argument;  // the target, or PROCURA
    bool binary;
};

// A text in one of its byte forms, and how it is to be read.
struct Form {
    std::string bytes;
    pieces::Input input;
};

// What a run gives: the output (a count as its decimal), or the error number,
// or where input was invalid; or what broke the stream's own contract.
struct Outcome {
    std::string output;
    int error = 0;
    std::optional<std::uint64_t> invalidAt;
    std::string broken;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    if (!o.broken.empty()) return os << o.broken;
    if (o.invalidAt) return os << "invalid input at " << *o.invalidAt;
    if (o.error) return os << "error " << o.error;
    return os << "output \"" << o.output << "\"";
}

std::u16string_view Tipo(const Job& job) { return job.binary ? u"B" : u""; }

// Feeds `bytes` in pieces ending at each of `cuts` (ascending), then the
// rest, into output buffers of `room` bytes, as the command and the C
// interface do; a count goes through FindString's frame, as they do.
Outcome Pieces(const Job& job, const Form& form, const std::vector<std::size_t>& cuts,
               std::size_t room) {
    const palavox::PalavoxClass::FindStringFrame frame(job.argument, Tipo(job));
    std::unique_ptr<pieces::Stream> stream;
    switch (job.command) {
        case Command::Fold:
            stream = std::make_unique<pieces::FoldStream>(form.input);
            break;
        case Command::Link:
            stream = std::make_unique<pieces::LinkStream>(*Utf8(job.argument), form.input);
            break;
        case Command::Count:
            stream = std::make_unique<pieces::CountStream>(job.argument, frame.mode(), form.input);
            break;
    }
    Outcome o;
    std::string buffer(room, '\0');
    // Each piece of output must be whole code points, and each call take something.
    const auto taken = [&](const pieces::OutBuffer& out, bool moved) {
        const std::string_view piece(out.dst, out.pos);
        if (palavox::utf8::Validate(piece).valid != piece.size()) o.broken = "a broken code point";
        if (!moved && out.pos == 0) o.broken = "a call that took nothing";
        o.output += piece;
        return o.broken.empty();
    };
    try {
        std::size_t at = 0;
        for (std::size_t i = 0; i <= cuts.size(); ++i) {
            const std::size_t cut = i < cuts.size() ? cuts[i] : form.bytes.size();
            pieces::InBuffer in{form.bytes.data() + at, cut - at, 0};
            for (at = cut; in.pos < in.size;) {
                pieces::OutBuffer out{buffer.data(), room, 0};
                const std::size_t before = in.pos;
                stream->Step(in, out);
                if (in.pos < in.size && out.size - out.pos >= 4) {
                    o.broken = "a step that left input unread with room to write";
                }
                if (!taken(out, in.pos != before)) return o;
            }
        }
        for (std::size_t left = 1; left != 0;) {
            pieces::OutBuffer out{buffer.data(), room, 0};
            left = stream->End(out);
            if (!taken(out, left == 0)) return o;
        }
        if (job.command == Command::Count) {
            const auto& count = static_cast<const pieces::CountStream&>(*stream);
            o.output = std::to_string(frame.Result(count.units(), count.count()));
        }
    } catch (const pieces::InvalidInput& e) {
        o.output.clear();  // what came before an error is not a result
        o.invalidAt = e.offset();
        if (stream->offset() != e.offset())
            o.broken = "offset() is not where the input was invalid";
    } catch (const palavox::Error& e) {
        o.output.clear();
        o.error = e.number();
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
                o.output = std::to_string(palavox.FindString(text, job.argument, Tipo(job)));
                break;
        }
    } catch (const palavox::Error& e) {
        o.error = e.number();
    }
    return o;
}

// UTF-8 as the _utf8 calls read it; with and without its mark, and UTF-16
// behind either mark, as the command reads files. A text that itself begins
// with U+FEFF has no bare form there: those bytes are read as the mark.
std::vector<Form> Forms(std::u16string_view text) {
    const std::string utf8 = *Utf8(text);
    constexpr auto kMarked = pieces::Input::ByteOrderMark;
    std::vector<Form> forms{{utf8, pieces::Input::Utf8},
                            {"\xEF\xBB\xBF" + utf8, kMarked},
                            {"\xFF\xFE" + palavox::test::Utf16Bytes(text, true), kMarked},
                            {"\xFE\xFF" + palavox::test::Utf16Bytes(text, false), kMarked}};
    if (!text.starts_with(u'\uFEFF')) forms.push_back({utf8, kMarked});
    return forms;
}

constexpr std::size_t kRoomy = 1 << 16;
constexpr std::size_t kTight = 4;  // the least that always takes a code point

// Every single cut with a roomy output; then one byte at a time, and all in
// one piece, into the tightest output. Stops at the first mismatch so a fault
// reports once, with what shows it.
::testing::AssertionResult SameForEveryCut(const Job& job, const Form& form,
                                           const Outcome& expected) {
    const std::size_t n = form.bytes.size();
    std::vector<std::pair<std::vector<std::size_t>, std::size_t>> plans;
    for (std::size_t cut = 0; cut <= n; ++cut) plans.push_back({{cut}, kRoomy});
    std::vector<std::size_t> everyByte;
    for (std::size_t cut = 1; cut < n; ++cut) everyByte.push_back(cut);
    plans.push_back({everyByte, kTight});
    plans.push_back({{}, kTight});
    for (const auto& [cuts, room] : plans) {
        const Outcome got = Pieces(job, form, cuts, room);
        if (!(got == expected)) {
            const std::string plan = cuts.size() == 1 ? "cut at " + std::to_string(cuts[0])
                                     : cuts.empty()   ? "one piece"
                                                      : "every byte";
            return ::testing::AssertionFailure()
                   << plan << ", " << room << " bytes of room, "
                   << (form.input == pieces::Input::Utf8 ? "UTF-8" : "after a mark") << ": " << got
                   << ", expected " << expected;
        }
    }
    return ::testing::AssertionSuccess();
}

std::string Describe(const Job& job, std::u16string_view text) {
    static const char* const names[] = {"fold", "link", "count"};
    return std::string(names[static_cast<int>(job.command)]) + (job.binary ? " -B " : " ") +
           palavox::test::Escaped(job.argument) + " on " +
           palavox::test::Escaped(text.substr(0, 200));
}

// Each shared case that has a UTF-8 form gives its expected result.
TEST(PiecesSharedCases, EveryCutEveryForm) {
    int checked = 0;
    for (const auto& c : palavox::cases::Shared()) {
        bool representable = true;
        for (const auto& a : c.args) representable = representable && Utf8(a).has_value();
        if (!representable || !Utf8(c.expectedText)) continue;
        using palavox::cases::Method;
        const bool binary =
            c.method == Method::FindString && (c.args[2] == u"B" || c.args[2] == u"b");
        const Job job = c.method == Method::RemoverAcentuacao ? Job{Command::Fold, {}}
                        : c.method == Method::TrataHTML       ? Job{Command::Link, c.args[1]}
                                                        : Job{Command::Count, c.args[1], binary};
        Outcome expected;
        expected.error = c.expectedError;
        expected.output = job.command != Command::Count ? *Utf8(c.expectedText)
                          : c.expectedError             ? ""
                                                        : std::to_string(c.expectedCount);
        for (const Form& form : Forms(c.args[0])) {
            EXPECT_TRUE(SameForEveryCut(job, form, expected)) << palavox::cases::Describe(c);
        }
        ++checked;
    }
    EXPECT_GE(checked, 350);
}

// Texts made to straddle pieces: links and "http" cut anywhere, a link longer
// than many pieces, matches that overlap a cut, surrogate pairs beside every
// cut (they fold as one under TextCompare), a multi-byte character where
// three bytes that may begin "http" are held back.
TEST(PiecesEdges, MatchTheLibraryOnTheWholeText) {
    const std::u16string longLink =
        std::u16string(u"http://").append(700, u'a').append(u"/\U0001F600");
    const struct {
        Job job;
        std::u16string text;
    } rows[] = {
        {{Command::Link, u""}, u"ver http://a/b fim"},
        {{Command::Link, u"_blank"}, u"xhttp://a|b HTTP://B\r\nhtt p hTtP"},
        {{Command::Link, u""}, u"httphttp http://a/?u=http://b ht"},
        {{Command::Link, u"t\u00E9"}, u"a " + longLink + u" b " + longLink},
        {{Command::Link, u""}, u"\U00010400http\U00010428 \U00010400\U00010400 http"},
        {{Command::Link, u""}, u"|[_link1_]| http://a |[_link1_]|"},
        {{Command::Link, u""}, std::u16string(500, u'x') + u"http"},
        {{Command::Link, u""}, u"a\u00E7\u00E3o \u20AC\u00E9 \U0001F600\u00E9h \u00E9ht"},
        {{Command::Fold, u""}, u"A\u00E7\u00E3o & Rea\u00E7\u00E3o \U0001F600 (SP) \u00C1"},
        {{Command::Fold, u""}, u"\uFEFF\u00E1\uFEFF"},
        {{Command::Count, u"aa"}, u"aaaaa"},
        {{Command::Count, u"aba"}, u"abababababa"},
        {{Command::Count, u"aaa"}, std::u16string(14, u'a')},
        {{Command::Count, u"AaAa"}, std::u16string(17, u'a') + u"b" + std::u16string(9, u'A')},
        {{Command::Count, u"aa", true}, u"aAaaAaaa"},
        {{Command::Count, u"\U00010428"}, u"\U00010400\U00010428x\U00010400"},
        {{Command::Count, u"\U00010428", true}, u"\U00010400\U00010428x\U00010400"},
        // A lone surrogate in the search text (FindString's UTF-16 form alone
        // has one) folds with the unit beside it in the text.
        {{Command::Count, u"\xDC28"}, u"\U00010400\U00010400\U00010428"},
        {{Command::Count, u"\xD801"}, u"\U00010400a\U00010428"},
        {{Command::Count, u"\xDC28x"}, u"\U00010400x\U00010400X\U00010428x"},
        {{Command::Count, u"ss"}, u"stra\u00DFe STRASSE"},
        {{Command::Count, u"\u212A"}, u"k K \u212A"},
        {{Command::Count, u"\u00E7\u00C7"}, u"\u00C7\u00E7\u00E7\u00E7\u00C7x"},
        {{Command::Count, u""}, u"abc"},
        {{Command::Count, u"a"}, u""},
        {{Command::Count, u""}, u""},
        {{Command::Count, std::u16string(u"x").append(40, u'y')},
         std::u16string(100, u'y') + u"x" + std::u16string(40, u'Y')},
    };
    for (const auto& row : rows) {
        const Outcome expected = Expected(row.job, row.text);
        for (const Form& form : Forms(row.text)) {
            EXPECT_TRUE(SameForEveryCut(row.job, form, expected)) << Describe(row.job, row.text);
        }
    }
}

// Texts longer than what a step works at once (64 KiB) and than what
// counting lets wait (256 Ki units): links and matches across those
// boundaries, in a few large pieces and outputs of several sizes.
TEST(PiecesEdges, LongTexts) {
    std::u16string text;
    for (std::size_t i = 0; text.size() < 600'000; ++i) {
        text += std::u16string(65'530 + i % 7, u'\u00E1') + u" ";
        text += u"http://" + std::u16string(i % 3 == 0 ? 70'000 : 9, u'x') + u" aa \U00010400 ";
    }
    const Job jobs[] = {{Command::Fold, u""},
                        {Command::Link, u"_t"},
                        {Command::Count, u"aa"},
                        {Command::Count, u"\u00E1\u00C1\u00E1"},
                        {Command::Count, std::u16string(300'000, u'\u00E1')}};
    std::mt19937_64 random(5);
    for (const Job& job : jobs) {
        const Outcome expected = Expected(job, text);
        const Form form{*Utf8(text), pieces::Input::Utf8};
        for (const std::size_t room : {std::size_t{1} << 20, std::size_t{4096}}) {
            std::vector<std::size_t> cuts;
            for (std::size_t at = random() % 100'000; at < form.bytes.size();
                 at += 1 + random() % 300'000) {
                cuts.push_back(at);
            }
            EXPECT_EQ(expected, Pieces(job, form, cuts, room)) << Describe(job, u"") << room;
            EXPECT_EQ(expected, Pieces(job, form, {}, room)) << Describe(job, u"") << room;
        }
    }
    // Invalid input in a later chunk, wherever the pieces fall around it.
    Outcome invalid;
    invalid.invalidAt = 70'000;
    const Form bad{std::string(70'000, 'x') + "\xE2\x82\xE2", pieces::Input::Utf8};
    for (const Job& job : jobs) {
        for (std::size_t cut = 69'990; cut <= bad.bytes.size(); ++cut) {
            EXPECT_EQ(invalid, Pieces(job, bad, {cut}, 4096)) << Describe(job, u"") << cut;
        }
    }
}

// Random texts from the pieces the three operations care about, read in
// pieces of random sizes into outputs of random sizes.
TEST(PiecesEdges, RandomTextsRandomPieces) {
    const std::u16string bits[] = {
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
        for (std::uint64_t i = 0; i < length; ++i) text += bits[random() % std::size(bits)];
        const std::vector<Form> forms = Forms(text);
        for (const Job& job : jobs) {
            const Outcome expected = Expected(job, text);
            const Form& form = forms[random() % forms.size()];
            std::vector<std::size_t> cuts;
            for (std::size_t at = random() % 8; at < form.bytes.size(); at += 1 + random() % 8) {
                cuts.push_back(at);
            }
            EXPECT_EQ(expected, Pieces(job, form, cuts, kTight + random() % 40))
                << Describe(job, text);
        }
    }
}

std::string Bytes(std::string_view bytes) {
    std::u16string units;
    for (char b : bytes) units += static_cast<char16_t>(static_cast<unsigned char>(b));
    return palavox::test::Escaped(units);
}

// Invalid input stops at the same byte offset wherever the pieces fall.
TEST(PiecesInput, InvalidBytesAtTheSameOffsetForEveryCut) {
    constexpr auto kUtf8 = pieces::Input::Utf8;
    constexpr auto kMarked = pieces::Input::ByteOrderMark;
    const struct {
        std::string bytes;
        pieces::Input input;
        std::uint64_t offset;
    } rows[] = {
        {"ab\xC3(cd"s, kMarked, 2},
        {std::string(100, 'x') + "\x80", kMarked, 100},
        {"abc\xE2\x82"s, kMarked, 3},  // cut short by the end
        {"abc\xF0\x90\x80"s, kUtf8, 3},
        {"\xED\xA0\x80"s, kMarked, 0},  // an encoded surrogate
        {"\xEF\xBB"s, kMarked, 0},      // half a mark is not a mark
        {"\xEF\xBB\x41"s, kMarked, 0},
        {"\xEF\xBB\xBF\xFF"s, kMarked, 3},  // after the mark
        {"\xEF\xBB\xBF\xFF"s, kUtf8, 3},    // U+FEFF, then a fault
        {"\xFF\xFE"s, kUtf8, 0},            // a mark read as UTF-8
        {"\xFF"s, kMarked, 0},
        {"\xFE"s, kMarked, 0},
        {"\xFF\xFE\x61"s, kMarked, 2},              // an odd byte
        {"\xFF\xFE\x61\0\x00\xD8"s, kMarked, 4},    // a high surrogate at the end
        {"\xFF\xFE\x00\xDC"s, kMarked, 2},          // a low surrogate alone
        {"\xFF\xFE\x00\xD8\x61\0"s, kMarked, 2},    // a high surrogate, no low one
        {"\xFE\xFF\x00\x61\xDC\x00"s, kMarked, 4},  // a low one alone, big-endian
    };
    const Job jobs[] = {{Command::Fold, u""}, {Command::Link, u""}, {Command::Count, u"a"}};
    for (const auto& row : rows) {
        Outcome expected;
        expected.invalidAt = row.offset;
        for (const Job& job : jobs) {
            EXPECT_TRUE(SameForEveryCut(job, {row.bytes, row.input}, expected))
                << Describe(job, u"") << ", bytes " << Bytes(row.bytes.substr(0, 40));
        }
    }
}

// A fault is reported by the step whose bytes show it, not a later one.
TEST(PiecesInput, TheStepThatShowsAFaultReportsIt) {
    constexpr auto kUtf8 = pieces::Input::Utf8;
    const struct {
        std::vector<std::string> pieces;
        pieces::Input input;
        std::size_t failing;  // the piece whose step throws
        std::uint64_t offset;
    } rows[] = {
        {{"ab", "\x80", "c"}, kUtf8, 1, 2},
        {{"ab\xE2", "x", "yz"}, kUtf8, 1, 2},  // a sequence still short, already wrong
        {{"\xF0\x90", "A", "BCD"}, kUtf8, 1, 0},
        {{"\xE2", "\x82", "x", "y"}, kUtf8, 2, 0},
        {{"\xFF\xFE\x00\xD8"s, "a\0"s, "b\0"s}, pieces::Input::ByteOrderMark, 1, 2},
    };
    for (const auto& row : rows) {
        pieces::FoldStream stream(row.input);
        std::string room(64, '\0');
        std::size_t step = 0;
        std::optional<std::uint64_t> offset;
        for (; step < row.pieces.size() && !offset; ++step) {
            pieces::InBuffer in{row.pieces[step].data(), row.pieces[step].size(), 0};
            pieces::OutBuffer out{room.data(), room.size(), 0};
            try {
                stream.Step(in, out);
            } catch (const pieces::InvalidInput& e) {
                offset = e.offset();
            }
        }
        EXPECT_EQ(row.offset, offset) << Bytes(row.pieces[0]);
        EXPECT_EQ(row.failing + 1, step) << Bytes(row.pieces[0]);
    }
}

// A step whose output is full reads no further: what waits to be written is
// bounded by one chunk of input, not by the text. Counting writes nothing, so
// it reads on. Then, with room, the output is the library's.
TEST(PiecesSteps, AFullOutputStopsReading) {
    const std::u16string text = std::u16string(90'000, u'\u00E1') + u" http://a " +
                                std::u16string(90'000, u'b') + u" http://c";
    const Job jobs[] = {{Command::Fold, u""}, {Command::Link, u"_t"}, {Command::Count, u"b", true}};
    const std::string bytes = *Utf8(text);
    for (const Job& job : jobs) {
        std::unique_ptr<pieces::Stream> stream;
        if (job.command == Command::Fold) stream = std::make_unique<pieces::FoldStream>();
        if (job.command == Command::Link) stream = std::make_unique<pieces::LinkStream>("_t");
        if (job.command == Command::Count) {
            stream = std::make_unique<pieces::CountStream>(job.argument,
                                                           palavox::CompareMode::BinaryCompare);
        }
        pieces::InBuffer in{bytes.data(), bytes.size(), 0};
        // No room at all, as a caller may say it: no buffer.
        for (int full = 0; full < 2; ++full) {
            pieces::OutBuffer out{nullptr, 0, 0};
            stream->Step(in, out);
        }
        const std::size_t read = in.pos;
        pieces::OutBuffer still{nullptr, 0, 0};
        stream->Step(in, still);
        EXPECT_EQ(read, in.pos) << Describe(job, u"") << ": read on with its output full";
        if (job.command != Command::Count) {
            EXPECT_LT(read, bytes.size()) << Describe(job, u"");
        }
        std::string output, room(1 << 20, '\0');
        for (std::size_t left = 1; in.pos < in.size || left != 0;) {
            pieces::OutBuffer out{room.data(), room.size(), 0};
            if (in.pos < in.size) {
                stream->Step(in, out);
            } else {
                left = stream->End(out);
            }
            output.append(out.dst, out.pos);
        }
        if (job.command == Command::Count) {
            output = std::to_string(static_cast<const pieces::CountStream&>(*stream).count());
        }
        EXPECT_EQ(Expected(job, text).output, output) << Describe(job, u"");
    }
}

// A target that is not UTF-8 is refused when the stream is made.
TEST(PiecesInput, AnInvalidTargetIsError5) {
    for (const std::string& target : {"\xFF"s, "a\xC3"s, "\xED\xA0\x80"s, "_\xE2\x82"s}) {
        try {
            pieces::LinkStream stream(target);
            ADD_FAILURE() << Bytes(target) << " taken as a target";
        } catch (const palavox::Error& e) {
            EXPECT_EQ(5, e.number()) << Bytes(target);
        }
    }
}

}  // namespace

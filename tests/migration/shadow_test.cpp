// What shadow mode writes, held to what `palavox verify` reads: every shared
// case as a record read back exactly, and the recorder's parts (headers,
// rotation, the bound, totals, records lost and said) as a table of calls and
// failing files, each part a recording the reader takes.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cases/shared_cases.hpp"
#include "shadow/shadow_recording.hpp"
#include "verify/recording.hpp"

namespace {

using palavox::shadow::Argument;
using palavox::shadow::Outcome;

palavox::shadow::Header TestHeader() {
    return {u"Palavox.PalavoxClass",
            u"C:\\Componentes\\Palavox.dll",
            u"1.4.2.0",
            u"C:\\inetsrv\\w3wp.exe (process 4242)",
            u"2024-06-01T12:00:00Z",
            64};
}

// Reads a whole recording; the calls it holds.
std::vector<palavox::verify::Call> Read(const std::string& bytes,
                                        palavox::verify::RecordingReader& reader) {
    std::vector<palavox::verify::Call> calls;
    reader.Feed(bytes, calls);
    reader.Finish();
    return calls;
}

TEST(ShadowRecording, EveryCaseReadsBackAsItsCall) {
    const std::vector<palavox::cases::Case>& cases = palavox::cases::Shared();
    ASSERT_GE(cases.size(), 300u);
    std::string recording = palavox::shadow::HeaderLines(TestHeader(), 1);
    std::vector<Outcome> answers;
    std::vector<std::vector<Argument>> arguments;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const palavox::cases::Case& c = cases[i];
        std::vector<Argument> args;
        for (const std::u16string& a : c.args) args.push_back({a, false});
        // Every other optional argument left out, the empty ones only.
        if (c.method != palavox::cases::Method::RemoverAcentuacao && i % 2 == 0 &&
            args.back().text.empty()) {
            args.back().omitted = true;
        }
        Outcome answer;
        if (c.expectedError != 0) {
            answer = {Outcome::Kind::Error, u"Type mismatch", c.expectedError};
        } else if (c.method == palavox::cases::Method::FindString) {
            answer = {Outcome::Kind::Count, u"", c.expectedCount};
        } else {
            answer = {Outcome::Kind::Text, c.expectedText, 0};
        }
        recording += palavox::shadow::CallLine(static_cast<palavox::shadow::Method>(c.method),
                                               args.data(), args.size(), answer);
        answers.push_back(answer);
        arguments.push_back(args);
    }
    recording += palavox::shadow::TotalsLine(cases.size() * 3, cases.size(), 0);
    palavox::verify::RecordingReader reader;
    std::vector<palavox::verify::Call> calls;
    ASSERT_NO_THROW(calls = Read(recording, reader));
    ASSERT_EQ(cases.size(), calls.size());
    EXPECT_TRUE(reader.header().shadow);
    ASSERT_TRUE(reader.totals().has_value());
    EXPECT_EQ(cases.size() * 3, reader.totals()->watched);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const std::string what = palavox::cases::Describe(cases[i]);
        EXPECT_EQ(static_cast<int>(cases[i].method), static_cast<int>(calls[i].method)) << what;
        ASSERT_EQ(arguments[i].size(), calls[i].args.size()) << what;
        for (std::size_t a = 0; a < arguments[i].size(); ++a) {
            EXPECT_EQ(arguments[i][a].omitted, calls[i].args[a].omitted) << what;
            EXPECT_TRUE(std::u16string(arguments[i][a].text) == calls[i].args[a].text) << what;
        }
        const Outcome& want = answers[i];
        EXPECT_EQ(static_cast<int>(want.kind), static_cast<int>(calls[i].recorded.kind)) << what;
        EXPECT_TRUE(want.text == calls[i].recorded.text) << what;
        EXPECT_EQ(want.number, calls[i].recorded.number) << what;
    }
    // The header says what it was given.
    const auto& fields = reader.header().fields;
    ASSERT_EQ(7u, fields.size());
    EXPECT_EQ("shadow", fields[0].first);
    EXPECT_EQ("C:\\Componentes\\Palavox.dll", fields[2].second);
    EXPECT_EQ("C:\\inetsrv\\w3wp.exe (process 4242)", fields[5].second);
}

TEST(ShadowRecording, AnswersAreTheSameByKindAndValueAlone) {
    const struct {
        Outcome a, b;
        bool same;
    } rows[] = {
        {{Outcome::Kind::Text, u"a", 0}, {Outcome::Kind::Text, u"a", 0}, true},
        {{Outcome::Kind::Text, u"a", 0},
         {Outcome::Kind::Text, std::u16string(u"a\0", 2), 0},
         false},
        {{Outcome::Kind::Count, u"", 3}, {Outcome::Kind::Count, u"", 3}, true},
        {{Outcome::Kind::Count, u"", 3}, {Outcome::Kind::Count, u"", 2}, false},
        {{Outcome::Kind::Error, u"Invalid procedure call", 5},
         {Outcome::Kind::Error, u"Argumento", 5},
         true},
        {{Outcome::Kind::Error, u"", 5}, {Outcome::Kind::Error, u"", 13}, false},
        {{Outcome::Kind::Text, u"", 0}, {Outcome::Kind::Error, u"", 0}, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.same, palavox::shadow::SameAnswer(row.a, row.b));
    }
}

// Parts held in memory, whose opening and appending fail where a row says.
class MemoryParts final : public palavox::shadow::Parts {
public:
    MemoryParts(std::set<int> failOpen, std::set<int> failAppend)
        : failOpen_(std::move(failOpen)), failAppend_(std::move(failAppend)) {}
    std::int64_t Open(unsigned n) override {
        if (failOpen_.count(++opens_) != 0) return -1;
        if (files.size() < n) files.resize(n);
        open_ = n;
        return static_cast<std::int64_t>(files[n - 1].size());
    }
    bool Append(std::string_view bytes) override {
        EXPECT_NE(0u, open_) << "appended to no open part";
        if (failAppend_.count(++appends_) != 0 || open_ == 0) return false;
        files[open_ - 1] += bytes;
        return true;
    }
    void Close() override { open_ = 0; }

    std::vector<std::string> files;

private:
    std::set<int> failOpen_, failAppend_;
    int opens_ = 0, appends_ = 0;
    unsigned open_ = 0;
};

// A part's records in order: H a header, R a call, T totals, L a lost line.
std::string Shape(const std::string& part) {
    std::string shape;
    std::size_t at = 0;
    while (at < part.size()) {
        const std::size_t end = part.find('\n', at);
        const std::string keyword = part.substr(at, part.find('\t', at) - at);
        at = end + 1;
        if (keyword == "palavox-recording") shape += 'H';
        if (keyword == "RemoverAcentuacao") shape += 'R';
        if (keyword == "totals") shape += 'T';
        if (keyword == "lost") shape += 'L';
    }
    return shape;
}

TEST(ShadowRecording, PartsHoldWhatTheyShould) {
    const std::u16string text = u"a";
    const Argument arg{text, false};
    const std::string record = palavox::shadow::CallLine(palavox::shadow::Method::RemoverAcentuacao,
                                                         &arg, 1, {Outcome::Kind::Text, u"b", 0});
    const std::uint64_t head = palavox::shadow::HeaderLines(TestHeader(), 1).size();
    const struct {
        const char* what;
        const char* calls;  // W a call answered alike, D one answered differently
        palavox::shadow::Limits limits;
        std::set<int> failOpen, failAppend;
        std::vector<std::string> parts;  // after the last totals line
        std::uint64_t lost;
    } rows[] = {
        {"calls alike write nothing but the totals", "WWW", {}, {}, {}, {"HT"}, 0},
        {"each difference a record", "DDD", {}, {}, {}, {"HRRRT"}, 0},
        {"totals every two calls", "WDWD", {1 << 20, 8, 2}, {}, {}, {"HTRTRT"}, 0},
        {"a folder missing, then there", "DDD", {}, {1, 2}, {}, {"HLRT"}, 2},
        {"a write that fails, then one that works", "DDD", {}, {}, {2}, {"HLRRT"}, 1},
        {"a header that cannot be written", "DD", {}, {}, {1}, {"HLRT"}, 1},
        {"rotation: one record a part",
         "DDD",
         {head + 30, 8, 1000},
         {},
         {},
         {"HRT", "HRT", "HRT"},
         0},
        {"the bound: two parts, then lost",
         "DDDD",
         {head + 30, 2, 1000},
         {},
         {},
         {"HRT", "HRTLT"},
         2},
        {"a next part that cannot be opened",
         "DDD",
         {head + 30, 8, 1000},
         {2},
         {},
         {"HRT", "HLRT"},
         1},
        {"nothing can be written", "DD", {}, {1, 2, 3}, {}, {}, 2},
    };
    for (const auto& row : rows) {
        MemoryParts parts(row.failOpen, row.failAppend);
        palavox::shadow::Recorder recorder(parts, TestHeader(), row.limits);
        std::uint64_t different = 0;
        for (const char* c = row.calls; *c != 0; ++c) {
            recorder.Watched();
            if (*c == 'D') {
                ++different;
                recorder.Differed(record);
            }
        }
        recorder.Finish();
        std::vector<std::string> shapes;
        for (const std::string& part : parts.files) shapes.push_back(Shape(part));
        EXPECT_EQ(row.parts, shapes) << row.what;
        EXPECT_EQ(row.lost, recorder.lost()) << row.what;
        EXPECT_EQ(different, recorder.different()) << row.what;
        EXPECT_EQ(std::string(row.calls).size(), recorder.watched()) << row.what;
        // Each part is a recording verify reads, its totals the last ones.
        for (const std::string& part : parts.files) {
            if (part.empty()) continue;
            palavox::verify::RecordingReader reader;
            EXPECT_NO_THROW(Read(part, reader)) << row.what;
            EXPECT_TRUE(reader.header().shadow) << row.what;
        }
    }
}

}  // namespace

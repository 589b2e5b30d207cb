// What `palavox verify` tells: each difference as it is found, then the
// recordings and the totals, as plain text, Markdown or JSON.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "causes.hpp"
#include "recording.hpp"

namespace palavox::verify {

struct Difference {
    std::string file;
    std::size_t line = 0;
    std::string from;  // where the call's text came from, if the recording tells
    Method method = Method::TrataHTML;
    std::string call;      // shown, shortened around the texts' first difference
    std::string recorded;  // the same for each result
    std::string palavox;
    Explanation explanation;
};

// How a call and its results are shown (UTF-8; quoted texts with \-escapes for
// controls, quotes and lone surrogates; long texts cut around the first unit
// where the two results differ).
Difference Describe(const std::string& file, const Call& call, const Outcome& palavox,
                    Explanation explanation);

struct Totals {
    std::uint64_t calls = 0;
    std::uint64_t identical = 0;
    std::array<std::uint64_t, kCauseCount> byCause{};
    // Calls shadow mode saw answered differently but could not write down.
    std::uint64_t notRecorded = 0;

    std::uint64_t different() const noexcept { return calls - identical; }
    std::uint64_t unexplained() const noexcept {
        return byCause[static_cast<int>(Cause::Unexplained)];
    }
};

struct RecordingSummary {
    std::string file;
    Header header;
    std::optional<ShadowTotals> totals;  // a shadow recording's last totals line
};

// What shadow mode saw in all, from each host process's last totals (the
// parts of one process's recording share its host line).
struct ShadowSummary {
    std::uint64_t recordings = 0, processes = 0, watched = 0, different = 0, lost = 0;
};
ShadowSummary Shadowed(const std::vector<RecordingSummary>& recordings);

// Plain text for a person at a terminal.
std::string TextDifference(const Difference& d);
std::string TextSummary(const std::vector<RecordingSummary>& recordings, const Totals& totals);

// A Markdown report: its head (summary, recordings) and one difference.
std::string MarkdownHead(const std::vector<RecordingSummary>& recordings, const Totals& totals);
std::string MarkdownDifference(const Difference& d, std::uint64_t number);

// JSON: one object per difference, and the closing part with the totals.
std::string JsonDifference(const Difference& d);
std::string JsonTail(const std::vector<RecordingSummary>& recordings, const Totals& totals);

std::string Verdict(const Totals& totals);

}  // namespace palavox::verify

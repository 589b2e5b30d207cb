// Why Palavox's result for a recorded call differs from the recorded one:
// one of the deliberate changes from the original design, or unexplained.
#pragma once

#include <string>
#include <vector>

#include "recording.hpp"

namespace palavox::verify {

enum class Cause {
    LinkHoldingHttpTwice,  // the original fails with error 5 where Palavox marks up
    PlaceholderLikeText,   // the original replaces text that looks like its token
    CaseBeyondAscii,       // a text-compare count that a locale's comparison gives
    Unexplained,
};
inline constexpr int kCauseCount = 4;

// The words the report uses, as a team reads them.
const char* CauseName(Cause cause) noexcept;

struct Explanation {
    Cause cause = Cause::Unexplained;
    // CaseBeyondAscii: the comparisons that give the recorded count, and the
    // letters of the call on which they and Unicode simple case folding disagree.
    std::vector<std::string> comparisons;
    std::vector<char32_t> letters;
};

// What Palavox gives for `call`: its result or its error number.
Outcome Replay(const Call& call);

// Why `palavox` (Replay's outcome) differs from call.recorded. Runs the
// original design's literal link markup for TrataHTML, and comparisons other
// than case folding for a case-insensitive FindString.
Explanation Explain(const Call& call, const Outcome& palavox);

}  // namespace palavox::verify

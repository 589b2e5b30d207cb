// Short texts per call: names and short comments through the C interface (and
// the routines beneath it), each beside the loop a user would write by hand
// instead, measured in the same run.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace palavox::bench {

// Rows each benchmark of a set works through per iteration.
inline constexpr double kShortRows = 1024;

struct ShortGoal {
    std::string what, numerator, denominator;
    double bound;  // numerator / denominator must not exceed it (0: no goal, shown only)
};

// Registers every short-text benchmark through `add(name, body)`, after
// checking that each side of a ratio gives the same answers (exits otherwise).
void RegisterShortTexts(const std::function<void(const std::string&, std::function<void()>)>& add);

std::vector<ShortGoal> ShortTextGoals();

}  // namespace palavox::bench

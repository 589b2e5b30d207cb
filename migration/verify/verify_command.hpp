// `palavox verify [--report FILE.md] [--json] RECORDING...`: replays every
// recorded call through Palavox and explains each difference.
#pragma once

#include <string>
#include <vector>

namespace palavox::verify {

inline constexpr const char* kUsage =
    "       palavox verify [--report FILE.md] [--json] RECORDING...\n";

// args[0] is "verify". Exit status: 0 when no difference is unexplained, 1
// when one is or a recording cannot be read whole, 2 for wrong usage.
int Main(const std::vector<std::string>& args);

}  // namespace palavox::verify

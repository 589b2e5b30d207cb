// The tests' name for the literal model (text/literal/), which the command
// uses too: what every fast routine must equal, with both mends on.
#pragma once

#include "literal/literal_model.hpp"

namespace palavox::reference {
using namespace palavox::literal;
}  // namespace palavox::reference

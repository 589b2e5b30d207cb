// Counting on UTF-8 (ContaOcorrencias on the bytes themselves where it can):
// for the C interface. Internal: neither installed nor exported.
#pragma once

#include <cstddef>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox::utf8 {

inline constexpr std::size_t kInvalidUtf8 = static_cast<std::size_t>(-1);

// ModPalavox::ContaOcorrencias of the UTF-16 forms of `texto` and `procura`,
// which are checked as they are counted: kInvalidUtf8 when either is not
// valid UTF-8 (an empty texto included: procura is checked all the same).
// A number, not an optional: one built in memory and read back whole costs
// a short text's call a stalled load.
std::size_t ContaOcorrencias(std::string_view texto, std::string_view procura, CompareMode mode);

}  // namespace palavox::utf8

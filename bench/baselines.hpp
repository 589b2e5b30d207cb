// The baselines that only read: as fast as a pass over the units gets, so the
// ratios of the counting routines to them are honest.
#pragma once

#include <cstdint>
#include <string_view>

namespace palavox::bench {

// The OR of every unit, four 16-byte loads a turn into independent registers
// (explicit SSE2, so the vectorization does not hang on the compiler).
std::uint16_t ReadPassSse2(std::u16string_view text) noexcept;

// The same with 32-byte AVX2 loads; only where CpuHasAvx2().
std::uint16_t ReadPassAvx2(std::u16string_view text) noexcept;

bool CpuHasAvx2() noexcept;

}  // namespace palavox::bench

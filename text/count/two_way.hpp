// The search every other one falls back to when verifying candidates would
// cost more than scanning: linear whatever the input. Internal to text/.
#pragma once

#include <cstddef>
#include <string_view>

namespace palavox::detail {

// 0-based index of the first match of a non-empty `search` in `text` that
// begins at or after `from`, or npos; under `fold` units compare folded.
std::size_t TwoWayFind(std::u16string_view text, std::u16string_view search, bool fold,
                       std::size_t from) noexcept;

}  // namespace palavox::detail

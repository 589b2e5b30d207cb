// Writing a result whose size is known in advance into storage allocated
// once: a Text, or what a TextSink hands out. Internal to text/.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox::detail {

// Copies `n` units. Markup is made of short pieces, for which a few inline
// moves (the last overlapping the one before, never past the piece) cost far
// less than a call to memcpy; long ones still go to memcpy.
inline void CopyUnits(char16_t* to, const char16_t* from, std::size_t n) noexcept {
    constexpr std::size_t kChunk = 16 / sizeof(char16_t);
    if (n >= kChunk) {
        if (n > 4 * kChunk) {
            std::memcpy(to, from, n * sizeof(char16_t));
            return;
        }
        for (std::size_t i = 0; i + kChunk < n; i += kChunk) std::memcpy(to + i, from + i, 16);
        std::memcpy(to + n - kChunk, from + n - kChunk, 16);
    } else if (n >= 4) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 4, from + n - 4, 8);
    } else if (n >= 2) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 2, from + n - 2, 4);
    } else if (n == 1) {
        *to = *from;
    }
}

// A Text of `units` units, to be overwritten. Filling it with zeros first
// costs less than writing through a buffer and copying again; the standard
// string has no way to skip the fill before C++23 (resize_and_overwrite).
inline Text SizedText(std::size_t units) {
    return Text(units, u'\0');
}

}  // namespace palavox::detail

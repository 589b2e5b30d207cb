// Writing a result whose size is known in advance into storage allocated
// once: a Text, or what a TextSink hands out. Internal to text/.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox::detail {

// Copies `n` units (UTF-16 units or bytes). Markup is made of short pieces,
// for which two inline moves of a fixed size (the second overlapping the
// first, never past the piece) cost far less than a call to memcpy, and
// branch only on the size class; long ones still go to memcpy.
template <class Unit>
inline void CopyUnits(Unit* to, const Unit* from, std::size_t n) noexcept {
    constexpr std::size_t kSize = sizeof(Unit);
    if (n >= 16) {
        if (n > 32) {
            std::memcpy(to, from, n * kSize);
            return;
        }
        std::memcpy(to, from, 16 * kSize);
        std::memcpy(to + n - 16, from + n - 16, 16 * kSize);
    } else if (n >= 8) {
        std::memcpy(to, from, 8 * kSize);
        std::memcpy(to + n - 8, from + n - 8, 8 * kSize);
    } else if (n >= 4) {
        std::memcpy(to, from, 4 * kSize);
        std::memcpy(to + n - 4, from + n - 4, 4 * kSize);
    } else if (n >= 2) {
        std::memcpy(to, from, 2 * kSize);
        std::memcpy(to + n - 2, from + n - 2, 2 * kSize);
    } else if (n == 1) {
        *to = *from;
    }
}

// A Text of `units` units, every one written by write(data). Where the
// standard library has resize_and_overwrite (C++23) the string is never
// filled first; elsewhere zeros first still cost less than writing through a
// buffer and copying again.
template <class Write>
Text WrittenText(std::size_t units, Write&& write) {
    Text text;
#if defined(__cpp_lib_string_resize_and_overwrite)
    // libstdc++ 12 may pass more room than asked for (it rounds the capacity
    // up in place): the length is `units`, whatever the second argument says.
    text.resize_and_overwrite(units, [&](char16_t* data, std::size_t) {
        write(data);
        return units;
    });
#else
    text.assign(units, u'\0');
    write(text.data());
#endif
    return text;
}

}  // namespace palavox::detail

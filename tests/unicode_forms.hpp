// A text's UTF-8 and UTF-16 byte forms for the tests, written one code point
// at a time and apart from the library's own codec, so a fault there cannot
// hide behind the same fault here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace palavox::test {

// Nothing for a text with an unpaired surrogate: it has no UTF-8 form.
inline std::optional<std::string> Utf8(std::u16string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xE000) {
            if (cp >= 0xDC00 || i + 1 == s.size() || s[i + 1] < 0xDC00 || s[i + 1] >= 0xE000) {
                return std::nullopt;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00u);
        }
        const auto put = [&](char32_t v) { out += static_cast<char>(v); };
        if (cp < 0x80) {
            put(cp);
        } else if (cp < 0x800) {
            put(0xC0 | cp >> 6);
            put(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            put(0xE0 | cp >> 12);
            put(0x80 | (cp >> 6 & 0x3F));
            put(0x80 | (cp & 0x3F));
        } else {
            put(0xF0 | cp >> 18);
            put(0x80 | (cp >> 12 & 0x3F));
            put(0x80 | (cp >> 6 & 0x3F));
            put(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// UTF-16 bytes in either order, the units as they are.
inline std::string Utf16Bytes(std::u16string_view s, bool littleEndian) {
    std::string out;
    for (char16_t u : s) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        out += littleEndian ? lo : hi;
        out += littleEndian ? hi : lo;
    }
    return out;
}

}  // namespace palavox::test

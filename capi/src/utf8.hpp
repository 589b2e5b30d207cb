// UTF-8 <-> UTF-16 for the C interface and the command. Strict: overlong
// forms, encoded surrogates and anything past U+10FFFF are invalid, as are
// unpaired surrogates on the way out, since UTF-8 cannot carry them.
// Plain C++20, no OS headers. Internal to capi/ and cli/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace palavox::utf8 {

// Where validation stopped.
struct Scan {
    std::size_t valid = 0;   // bytes of whole, valid sequences from the start
    std::size_t units = 0;   // UTF-16 units those bytes decode to
    bool truncated = false;  // the rest is a valid sequence cut short by the end
};

namespace detail {

// Length of the sequence a lead byte starts (0: cannot start one) and the
// range its second byte must lie in, which is what rules out overlong forms,
// surrogates and code points past U+10FFFF.
struct Lead {
    unsigned char length, low, high;
};

constexpr Lead LeadOf(unsigned char b) noexcept {
    if (b < 0x80) return {1, 0, 0};
    if (b < 0xC2) return {0, 0, 0};
    if (b < 0xE0) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};
    if (b < 0xF0) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b < 0xF4) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

inline bool AsciiWord(const char* p) noexcept {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return (w & 0x8080808080808080u) == 0;
}

}  // namespace detail

inline Scan Validate(std::string_view s) noexcept {
    const std::size_t n = s.size();
    std::size_t i = 0, units = 0;
    while (i < n) {
        if (i + 8 <= n && detail::AsciiWord(s.data() + i)) {
            i += 8;
            units += 8;
            continue;
        }
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            ++units;
            continue;
        }
        const detail::Lead lead = detail::LeadOf(b);
        if (lead.length == 0) return {i, units, false};
        for (std::size_t k = 1; k < lead.length; ++k) {
            if (i + k >= n) return {i, units, true};
            const auto c = static_cast<unsigned char>(s[i + k]);
            const bool ok = k == 1 ? (c >= lead.low && c <= lead.high) : (c & 0xC0) == 0x80;
            if (!ok) return {i, units, false};
        }
        i += lead.length;
        units += lead.length == 4 ? 2 : 1;
    }
    return {n, units, false};
}

// Decodes bytes that Validate accepted whole; returns the end of the units written.
inline char16_t* Decode(std::string_view s, char16_t* out) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char* const end = p + s.size();
    while (p < end) {
        if (end - p >= 8 && detail::AsciiWord(reinterpret_cast<const char*>(p))) {
            for (int k = 0; k < 8; ++k) out[k] = p[k];
            p += 8;
            out += 8;
            continue;
        }
        const unsigned b = *p;
        if (b < 0x80) {
            *out++ = static_cast<char16_t>(b);
            p += 1;
        } else if (b < 0xE0) {
            *out++ = static_cast<char16_t>((b & 0x1F) << 6 | (p[1] & 0x3Fu));
            p += 2;
        } else if (b < 0xF0) {
            *out++ = static_cast<char16_t>((b & 0x0F) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu));
            p += 3;
        } else {
            const std::uint32_t cp = ((b & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 |
                                      (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu)) - 0x10000;
            *out++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
            p += 4;
        }
    }
    return out;
}

inline constexpr std::size_t kUnpaired = static_cast<std::size_t>(-1);

// Bytes the UTF-8 form of `s` takes, or kUnpaired for an unpaired surrogate.
inline std::size_t EncodedLength(std::u16string_view s) noexcept {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u < 0x80) {
            bytes += 1;
        } else if (u < 0x800) {
            bytes += 2;
        } else if ((u & 0xF800) != 0xD800) {
            bytes += 3;
        } else if (u < 0xDC00 && i + 1 < s.size() && (s[i + 1] & 0xFC00) == 0xDC00) {
            bytes += 4;
            ++i;
        } else {
            return kUnpaired;
        }
    }
    return bytes;
}

// Encodes units whose EncodedLength is not kUnpaired; returns the end of the bytes written.
inline char* Encode(std::u16string_view s, char* out) noexcept {
    const char16_t* p = s.data();
    const char16_t* const end = p + s.size();
    while (p < end) {
        if (end - p >= 4 && (p[0] | p[1] | p[2] | p[3]) < 0x80) {
            for (int k = 0; k < 4; ++k) out[k] = static_cast<char>(p[k]);
            p += 4;
            out += 4;
            continue;
        }
        const std::uint32_t u = *p++;
        if (u < 0x80) {
            *out++ = static_cast<char>(u);
        } else if (u < 0x800) {
            *out++ = static_cast<char>(0xC0 | u >> 6);
            *out++ = static_cast<char>(0x80 | (u & 0x3F));
        } else if ((u & 0xF800) != 0xD800) {
            *out++ = static_cast<char>(0xE0 | u >> 12);
            *out++ = static_cast<char>(0x80 | (u >> 6 & 0x3F));
            *out++ = static_cast<char>(0x80 | (u & 0x3F));
        } else {
            const std::uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (*p++ - 0xDC00u);
            *out++ = static_cast<char>(0xF0 | cp >> 18);
            *out++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace palavox::utf8

// The UTF-8 codec one sequence, or one code point, at a time: the plain
// loops, and the steps the vector kernels fall back on (utf8_decode_blocks.hpp,
// utf8_encode_blocks.hpp). Internal to text/utf8/.
#pragma once

#include <cstddef>
#include <cstdint>

#include "utf8.hpp"

namespace palavox::utf8 {

// ------------------------------------------------ UTF-8 to UTF-16

// Which bytes may follow a lead byte second: this rules out overlong forms,
// encoded surrogates and code points past U+10FFFF.
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

static_assert([] {
    for (unsigned b = 0; b < 256; ++b) {
        if (LeadOf(static_cast<unsigned char>(b)).length !=
            SequenceLength(static_cast<unsigned char>(b)))
            return false;
    }
    return true;
}());

// Sequence by sequence from p[i] while i < stop (stop <= n), writing units
// when kWrite. False at an invalid sequence or one cut short by the end, with
// `stopped` saying which and where.
template <bool kWrite>
inline bool Sequences(const unsigned char* p, std::size_t n, std::size_t stop, std::size_t& i,
                      std::size_t& o, char16_t* out, Decoded& stopped) noexcept {
    while (i < stop) {
        const unsigned b = p[i];
        if (b < 0x80) {
            if constexpr (kWrite) out[o] = static_cast<char16_t>(b);
            ++o;
            ++i;
            continue;
        }
        const Lead lead = LeadOf(static_cast<unsigned char>(b));
        if (lead.length == 0) {
            stopped = {i, kWrite ? o : 0, false};
            return false;
        }
        for (std::size_t k = 1; k < lead.length; ++k) {
            if (i + k >= n) {
                stopped = {i, kWrite ? o : 0, true};
                return false;
            }
            const unsigned c = p[i + k];
            const bool ok = k == 1 ? (c >= lead.low && c <= lead.high) : (c & 0xC0) == 0x80;
            if (!ok) {
                stopped = {i, kWrite ? o : 0, false};
                return false;
            }
        }
        if constexpr (kWrite) {
            if (lead.length == 2) {
                out[o++] = static_cast<char16_t>((b & 0x1F) << 6 | (p[i + 1] & 0x3Fu));
            } else if (lead.length == 3) {
                out[o++] = static_cast<char16_t>((b & 0x0F) << 12 | (p[i + 1] & 0x3Fu) << 6 |
                                                 (p[i + 2] & 0x3Fu));
            } else {
                const std::uint32_t cp = ((b & 0x07u) << 18 | (p[i + 1] & 0x3Fu) << 12 |
                                          (p[i + 2] & 0x3Fu) << 6 | (p[i + 3] & 0x3Fu)) -
                                         0x10000;
                out[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
                out[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
            }
        }
        i += lead.length;
    }
    return true;
}

// ------------------------------------------------ UTF-16 to UTF-8

// The plain length pass from t[i] while i < stop; kUnpaired at an unpaired surrogate.
inline std::size_t LengthOf(const char16_t* t, std::size_t n, std::size_t stop,
                            std::size_t& i) noexcept {
    std::size_t bytes = 0;
    while (i < stop) {
        const char16_t u = t[i++];
        if (u < 0x80) {
            bytes += 1;
        } else if (u < 0x800) {
            bytes += 2;
        } else if ((u & 0xF800) != 0xD800) {
            bytes += 3;
        } else if (u < 0xDC00 && i < n && (t[i] & 0xFC00) == 0xDC00) {
            bytes += 4;
            ++i;
        } else {
            return kUnpaired;
        }
    }
    return bytes;
}

// A code point past U+FFFF.
inline char* EncodeFourBytes(std::uint32_t cp, char* out) noexcept {
    *out++ = static_cast<char>(0xF0 | cp >> 18);
    *out++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    return out;
}

// One code point from `p`, which it advances. kChecked: nullptr at an
// unpaired surrogate instead of trusting EncodedLength to have ruled them out.
template <bool kChecked>
inline char* EncodeOne(const char16_t*& p, const char16_t* end, char* out) noexcept {
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
        if (kChecked && (u >= 0xDC00 || p == end || (*p & 0xFC00) != 0xDC00)) return nullptr;
        return EncodeFourBytes(0x10000 + ((u - 0xD800) << 10) + (*p++ - 0xDC00u), out);
    }
    return out;
}

}  // namespace palavox::utf8

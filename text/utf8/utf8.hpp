// UTF-8 <-> UTF-16 for the C interface and the command. Strict: overlong
// forms, encoded surrogates and anything past U+10FFFF are invalid, as are
// unpaired surrogates on the way out, since UTF-8 cannot carry them.
// Each call runs the kernel the text routines run (kernel.hpp): the plain
// loops, SSE2 for runs of ASCII, or AVX2 for two-byte sequences too.
// Internal: for capi/, cli/ and their tests; neither installed nor exported.
#pragma once

#include <cstddef>
#include <string_view>

namespace palavox::utf8 {

// Where decoding stopped.
struct Decoded {
    std::size_t valid = 0;   // bytes of whole, valid sequences from the start
    std::size_t units = 0;   // UTF-16 units written for them
    bool truncated = false;  // the rest is a valid sequence cut short by the end
};

// Length of the sequence a lead byte starts; 0 for a byte that starts none.
constexpr std::size_t SequenceLength(unsigned char lead) noexcept {
    return lead < 0x80   ? 1
           : lead < 0xC2 ? 0
           : lead < 0xE0 ? 2
           : lead < 0xF0 ? 3
           : lead < 0xF5 ? 4
                         : 0;
}

// Whether a byte continues a sequence: a piece of UTF-8 that ends before one
// ends inside a code point.
constexpr bool IsContinuation(char byte) noexcept {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The same for UTF-16: a low surrogate, before which a cut may split a pair.
constexpr bool IsContinuation(char16_t unit) noexcept { return (unit & 0xFC00) == 0xDC00; }

// The longest prefix of UTF-8 `s`, at most `most` bytes, that does not end
// inside a code point: where a piece of valid UTF-8 may be cut. Steps back
// over three continuation bytes at most, so invalid input cannot make it
// give less than `most` - 3.
constexpr std::size_t WholePrefix(std::string_view s, std::size_t most) noexcept {
    if (most >= s.size()) return s.size();
    std::size_t n = most;
    while (n > 0 && most - n < 3 && IsContinuation(s[n])) --n;
    return n;
}

// Decodes the longest valid prefix of `s`. `out` has room for s.size() units,
// which is always enough: no sequence gives more units than it has bytes.
Decoded Decode(std::string_view s, char16_t* out) noexcept;

// The same without writing anything (`units` stays 0): Validate, and its
// out-of-line part for a text that is not empty.
Decoded ValidateNonEmpty(std::string_view s) noexcept;
inline Decoded Validate(std::string_view s) noexcept {
    // Most calls' target or mode: inline, as a call would cost more than it.
    if (s.empty()) return {};
    return ValidateNonEmpty(s);
}

inline constexpr std::size_t kUnpaired = static_cast<std::size_t>(-1);

// Bytes the UTF-8 form of `s` takes, or kUnpaired for an unpaired surrogate.
std::size_t EncodedLength(std::u16string_view s) noexcept;

// Encodes units whose EncodedLength is not kUnpaired into exactly that many
// bytes; returns their end.
char* Encode(std::u16string_view s, char* out) noexcept;

// The UTF-8 form of one code point, one to four bytes at `out`; returns their
// end, or nullptr for a surrogate or a value past U+10FFFF, which have none.
char* EncodeCodePoint(char32_t cp, char* out) noexcept;

// One code point of UTF-16 text, read from unit `i` (< s.size()): a surrogate
// pair counts as one, an unpaired surrogate as a code point of its own.
struct CodePoint {
    char32_t value;
    std::size_t units;  // 1 or 2
};
constexpr CodePoint CodePointAt(std::u16string_view s, std::size_t i) noexcept {
    const char16_t u = s[i];
    if ((u & 0xFC00) == 0xD800 && i + 1 < s.size() && (s[i + 1] & 0xFC00) == 0xDC00) {
        return {0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{s[i + 1]} - 0xDC00), 2};
    }
    return {u, 1};
}

// One pass where the exact size is not needed: `out` has room for three
// bytes a unit. Returns the end of the bytes, or nullptr at an unpaired surrogate.
char* EncodeChecked(std::u16string_view s, char* out) noexcept;

}  // namespace palavox::utf8

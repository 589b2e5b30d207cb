// What every fuzz target shares: turning raw bytes into texts, holding each
// text where ASan sees a stray read, and reporting a mismatch readably.
//
// Input layout: one layout byte, then fields separated by 0xFF.
//   layout bits 0-2  how many units the text is shifted from the start of its block
//   layout bits 3-7  a start position (1..32) for the targets that need one
// Field bytes:
//   0x00-0x7F        that ASCII unit, so "http" in the input is "http" in the text
//   0x80-0xFD        one of the units below that folding, accents and links care about
//   0xFE hi lo       the raw unit hi*256+lo (how fuzz/corpus writes anything else)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "escaped.hpp"
#include "simd/kernel.hpp"
#include "palavox/text.hpp"

namespace palavox::fuzz {

// The reference model is quadratic and marks its tokens with private-use units it
// can run out of; no mutation gets near this size with the -max_len the runs use.
inline constexpr std::size_t kMaxInputBytes = 8192;

inline constexpr std::uint8_t kSeparator = 0xFF;
inline constexpr std::uint8_t kRawUnit = 0xFE;

inline constexpr char16_t kInteresting[] = {
    // Every non-ASCII source of the accent table, in table order.
    0x00E1, 0x00E0, 0x00E4, 0x00E2, 0x00E3, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE,
    0x00EF, 0x00F3, 0x00F2, 0x00F5, 0x00F4, 0x00F6, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x00C1, 0x00C0,
    0x00C4, 0x00C2, 0x00C3, 0x00C9, 0x00C8, 0x00CA, 0x00CB, 0x00CD, 0x00CC, 0x00CE, 0x00CF, 0x00D3,
    0x00D2, 0x00D5, 0x00D4, 0x00D6, 0x00DA, 0x00D9, 0x00DB, 0x00DC, 0x00E7, 0x00C7, 0x00B4, 0x00A8,
    0x00AA, 0x00BA,
    // Latin-1 neighbours that must stay as they are.
    0x00F1, 0x00D1, 0x00DF, 0x00E5, 0x00C5, 0x00F8, 0x00D8, 0x00FD, 0x00FF, 0x00B0, 0x00D7, 0x00F7,
    0x00A0,
    // Case folding beyond ASCII: Kelvin, long s, dotted/dotless i, capital sharp s,
    // sigma forms, micro, ohm, angstrom, fullwidth letters of "http", titlecase dz.
    0x212A, 0x017F, 0x0130, 0x0131, 0x1E9E, 0x03A3, 0x03C3, 0x03C2, 0x00B5, 0x03BC, 0x2126, 0x03C9,
    0x212B, 0xFF28, 0xFF48, 0xFF34, 0xFF54, 0xFF30, 0xFF50, 0x01C4, 0x01C5, 0x01C6, 0x0414, 0x0434,
    0x10A0, 0x2D00, 0xAB70, 0x13A0,
    // Surrogates: Deseret capital/small (D801 DC00 / D801 DC28), Adlam (D83A DD00 / DD22),
    // an emoji that does not fold (D83D DE00), and the range ends.
    0xD801, 0xDC00, 0xDC28, 0xD83A, 0xDD00, 0xDD22, 0xD83D, 0xDE00, 0xD800, 0xDBFF, 0xDFFF,
    // Private use (the reference marks its tokens there), combining acute, odd units.
    0xE000, 0xE001, 0xF8FF, 0x0301, 0x2028, 0xFEFF, 0xFFFD, 0xFFFF};

// Splits the bytes after the layout byte into `count` texts; missing fields are
// empty and separators past the last field are dropped.
inline std::vector<Text> DecodeFields(const std::uint8_t* data, std::size_t size,
                                      std::size_t count) {
    std::vector<Text> fields(count);
    std::size_t field = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        if (byte == kSeparator) {
            if (field + 1 < count) ++field;
        } else if (byte == kRawUnit) {
            if (i + 2 >= size) break;
            fields[field] += static_cast<char16_t>((data[i + 1] << 8) | data[i + 2]);
            i += 2;
        } else if (byte < 0x80) {
            fields[field] += static_cast<char16_t>(byte);
        } else {
            fields[field] += kInteresting[(byte - 0x80u) % std::size(kInteresting)];
        }
    }
    return fields;
}

struct Layout {
    std::size_t shift = 0;  // units before the text inside its block
    std::size_t start = 1;  // 1-based position
};

inline Layout DecodeLayout(std::uint8_t byte) {
    return Layout{static_cast<std::size_t>(byte & 0x7u), static_cast<std::size_t>(byte >> 3) + 1};
}

// A copy of a text at the very end of a heap block of exactly the size it needs,
// so that a read one unit past the end hits ASan's redzone instead of a string's
// spare capacity or terminator. With no shift a read before the start does too.
class Placed {
public:
    Placed(std::u16string_view text, std::size_t shift)
        : size_(text.size()), shift_(shift), block_(new char16_t[shift + text.size()]) {
        for (std::size_t i = 0; i < shift_; ++i) block_[i] = u'#';
        for (std::size_t i = 0; i < size_; ++i) block_[shift_ + i] = text[i];
    }

    std::u16string_view view() const noexcept { return {block_.get() + shift_, size_}; }

private:
    std::size_t size_;
    std::size_t shift_;
    std::unique_ptr<char16_t[]> block_;
};

using Shown = std::pair<const char*, std::string>;

inline Shown Show(const char* name, std::u16string_view text) {
    return {name, test::Escaped(text)};
}
inline Shown Show(const char* name, long long value) { return {name, std::to_string(value)}; }
inline Shown Show(const char* name, const char* value) { return {name, value}; }

// Aborts so that libFuzzer keeps the input as a crash artifact and a replay fails.
[[noreturn]] inline void Fail(const char* what, std::initializer_list<Shown> shown) {
    std::fprintf(stderr, "\nMISMATCH: %s\n", what);
    for (const auto& [name, value] : shown) {
        std::fprintf(stderr, "  %-12s %s\n", name, value.c_str());
    }
    std::fflush(stderr);
    std::abort();
}

// Runs body(kernel) with the routines held to each kernel this build and CPU
// have, so every input also compares the kernels with each other.
template <class Body>
void ForEachKernel(Body body) {
    using detail::Kernel;
    for (const Kernel kernel : {Kernel::Avx2, Kernel::Sse2, Kernel::Scalar}) {
        if (detail::UseKernel(kernel)) body(detail::KernelName(kernel));
    }
    detail::UseKernel(detail::BestKernel());
}

inline const char* ModeName(CompareMode mode) {
    return mode == CompareMode::BinaryCompare ? "BinaryCompare" : "TextCompare";
}

}  // namespace palavox::fuzz

// Counting on UTF-8. A short text is counted on its bytes: exactly under
// BinaryCompare, since UTF-8 spells each code point one way and a match of a
// valid search text starts at a lead byte; under TextCompare only when text
// and search text hold nothing past U+00FF (bytes below 0xC4), where simple
// folding is lowering A-Z and U+00C0..U+00DE but U+00D7, each one byte
// (a C3 sequence's second byte gains 0x20), so a match keeps its length in
// bytes. U+00B5 folds out of that range, to U+03BC, which such a text cannot
// hold, so it matches itself alone; U+212A, U+212B, U+017F, U+1E9E and U+0178
// fold into it but are past U+00FF themselves: a text or search text holding
// any byte from 0xC4 on is decoded and counted as UTF-16, which knows them.
#include "utf8_count.hpp"

#include <cstdint>
#include <memory>

#include "count/matcher.hpp"
#include "count/short_search.hpp"
#include "palavox/mod_palavox.hpp"
#include "simd/simd.hpp"
#include "utf8/utf8.hpp"
#define PALAVOX_KERNEL "count/utf8_count_blocks.hpp"
#include "simd/simd_each.hpp"

namespace palavox::utf8 {
namespace {

using detail::Kernel;

// The lead bytes of U+0080..U+00FF; from 0xC4 on, code points past it.
constexpr unsigned char kLatin1Lead = 0xC2, kPastLatin1 = 0xC4;

// Byte j of a text of nothing past U+00FF, lowered: byte j - 1 is read only
// for a continuation, which never starts a valid text.
inline unsigned char Lowered(const unsigned char* t, std::size_t j) noexcept {
    const unsigned char b = t[j];
    if (static_cast<unsigned>(b - 'A') < 26u) return static_cast<unsigned char>(b | 0x20);
    if (static_cast<unsigned>(b - 0x80) <= 0x1Eu && b != 0x97 && t[j - 1] == 0xC3) {
        return static_cast<unsigned char>(b + 0x20);
    }
    return b;
}

// The search text's bytes as CountBytes compares them: lowered under
// TextCompare, where it must be ASCII and sequences for U+0080..U+00FF (which
// this checks it is valid as); as they are under BinaryCompare.
struct SearchBytes {
    unsigned char bytes[detail::kShortSearchText];
    std::size_t size = 0;
};

bool LowerSearch(const unsigned char* p, std::size_t m, SearchBytes& s) noexcept {
    for (std::size_t j = 0; j < m; ++j) {
        const unsigned char b = p[j];
        if (b < 0x80) {
            s.bytes[j] =
                static_cast<unsigned char>(static_cast<unsigned>(b - 'A') < 26u ? b | 0x20 : b);
            continue;
        }
        if ((b != kLatin1Lead && b != kLatin1Lead + 1) || j + 1 == m || (p[j + 1] & 0xC0) != 0x80) {
            return false;  // past U+00FF, or not valid: the decoding way says which
        }
        s.bytes[j] = b;
        s.bytes[j + 1] = Lowered(p, j + 1);
        ++j;
    }
    s.size = m;
    return true;
}

constexpr std::size_t kNotCounted = static_cast<std::size_t>(-1);

// Matches of `s` in the 8 to 64 bytes at t; kNotCounted where a byte is not
// below `limit` (0x100 for none). Under TextCompare, where nothing is past
// U+00FF, `valid` says whether the text is valid UTF-8: ASCII, and C2 or C3
// each followed by one continuation byte, which nothing else is.
template <bool kFold>
std::size_t CountBytes(const unsigned char* t, std::size_t n, const SearchBytes& s, unsigned limit,
                       bool& valid) noexcept {
    const std::size_t m = s.size;
    const unsigned char* const p = s.bytes;
    detail::ShortKeys keys{{0, m > 1 ? 1u : 0u, m - 1}, {}, {0, 0, 0}};
    for (int k = 0; k < 3; ++k) {
        const unsigned char u = p[keys.at[k]];
        keys.unit[k] = u;
        // A lowered letter, or a C3 sequence's second byte of one, passes with
        // its capital; others pass alone. More may pass than match: each
        // start is compared whole below.
        if (kFold && (static_cast<unsigned>(u - 'a') < 26u || (u >= 0xA0 && u <= 0xBE))) {
            keys.bit[k] = 0x20;
        }
    }
    detail::ByteMasks masks{};
    detail::simd::WithKernel([&](auto kernel) noexcept {
        constexpr Kernel kKernel = decltype(kernel)::value;
        if constexpr (kKernel != Kernel::Scalar) {  // never asked there: the plain loops decode
            ByteMasksOf(detail::simd::NarrowIsa<kKernel>{}, t, n, keys, limit, masks);
        }
    });
    if (masks.high != 0) return kNotCounted;
    if constexpr (kFold) {
        const std::uint64_t bytes = detail::FirstBits(n);
        valid = masks.overlong == 0 && masks.cont == ((masks.lead << 1) & bytes) &&
                (masks.lead >> (n - 1)) == 0;
        if (!valid) return kNotCounted;
    }
    std::uint64_t starts = m > n ? 0
                                 : masks.key[0] & (masks.key[1] >> keys.at[1]) &
                                       (masks.key[2] >> keys.at[2]) & detail::FirstBits(n - m + 1);
    std::size_t count = 0;
    while (starts != 0) {
        const std::size_t at = detail::Lowest(starts);
        std::size_t j = 0;
        for (; j < m; ++j) {
            if ((kFold ? Lowered(t, at + j) : t[at + j]) != p[j]) break;
        }
        if (j == m) {
            ++count;
            // No start inside this match: the next is at + m or later.
            starts = at + m >= 64 ? 0 : starts & ~((std::uint64_t{2} << (at + m - 1)) - 1);
        } else {
            starts &= starts - 1;
        }
    }
    return count;
}

// The way of every other text: decoded, and counted as UTF-16.
class Decoding {
public:
    // False when `s` is not valid UTF-8.
    bool From(std::string_view s) {
        char16_t* units = short_;
        if (s.size() > kShort) {
            // branch-untaken: new[] refuses sizes past the address space; no text nears them
            long_.reset(new char16_t[s.size()]);  // never fewer bytes than units
            units = long_.get();
        }
        const Decoded decoded = Decode(s, units);
        units_ = {units, decoded.units};
        return decoded.valid == s.size();
    }
    std::u16string_view units() const noexcept { return units_; }

private:
    static constexpr std::size_t kShort = 128;
    char16_t short_[kShort];
    std::unique_ptr<char16_t[]> long_;
    std::u16string_view units_;
};

[[gnu::noinline]] std::size_t CountDecoded(std::string_view texto, std::string_view procura,
                                           CompareMode mode) {
    Decoding text, search;
    if (!text.From(texto) || !search.From(procura)) return kInvalidUtf8;
    return ModPalavox::ContaOcorrencias(text.units(), search.units(), mode);
}

// The bytes' count, or kNotCounted where the text is not taken (too short
// or long, past U+00FF under TextCompare, the plain loops' kernel), or
// invalid (`valid` then false).
std::size_t CountShortBytes(std::string_view texto, std::string_view procura, CompareMode mode,
                            bool& valid) noexcept {
    const std::size_t n = texto.size(), m = procura.size();
    if (detail::ActiveKernel() == Kernel::Scalar || m == 0 || m > detail::kShortSearchText ||
        n > detail::kShortCountText || n < 8) {
        return kNotCounted;
    }
    const auto* t = reinterpret_cast<const unsigned char*>(texto.data());
    const auto* p = reinterpret_cast<const unsigned char*>(procura.data());
    SearchBytes search;
    if (mode == CompareMode::TextCompare) {
        if (!LowerSearch(p, m, search)) return kNotCounted;
        return CountBytes<true>(t, n, search, kPastLatin1, valid);
    }
    if (Validate(procura).valid != m || Validate(texto).valid != n) {
        valid = false;
        return kNotCounted;
    }
    for (std::size_t j = 0; j < m; ++j) search.bytes[j] = p[j];
    search.size = m;
    return CountBytes<false>(t, n, search, 0x100, valid);
}

}  // namespace

std::size_t ContaOcorrencias(std::string_view texto, std::string_view procura, CompareMode mode) {
    bool valid = true;
    const std::size_t count = CountShortBytes(texto, procura, mode, valid);
    if (!valid) return kInvalidUtf8;
    if (count != kNotCounted) return count;
    return CountDecoded(texto, procura, mode);
}

}  // namespace palavox::utf8

// The accent table, the map it comes down to, and the tables the vector
// kernels test and look up by (fold_blocks.hpp): one table for the routine
// and for its UTF-8 form, so that both fold the same letters. Internal to text/.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "utf8/utf8_steps.hpp"

// On the tables read by index in loops: where symbols can be interposed
// (ELF), position-independent code would reach them through the GOT.
#if defined(__ELF__)
#define PALAVOX_HIDDEN [[gnu::visibility("hidden")]]
#else
#define PALAVOX_HIDDEN
#endif

namespace palavox::detail {

// Paired by position: kTabelaOrigem[i] becomes kTabelaDestino[i].
inline constexpr std::u16string_view kTabelaOrigem =
    u"\u00E1\u00E0\u00E4\u00E2\u00E3\u00E9\u00E8\u00EA\u00EB\u00ED\u00EC\u00EE\u00EF"
    u"\u00F3\u00F2\u00F5\u00F4\u00F6\u00FA\u00F9\u00FB\u00FC"
    u"\u00C1\u00C0\u00C4\u00C2\u00C3\u00C9\u00C8\u00CA\u00CB\u00CD\u00CC\u00CE\u00CF"
    u"\u00D3\u00D2\u00D5\u00D4\u00D6\u00DA\u00D9\u00DB\u00DC"
    u"\u00E7\u00C7\u00B4`~^\u00A8;:/?<>()[]{}\u00AA\u00BA&$#+=";
inline constexpr std::u16string_view kTabelaDestino =
    u"aaaaaeeeeiiiiooooouuuuAAAAAEEEEIIIIOOOOOUUUUcC                   e    ";
static_assert(kTabelaOrigem.size() == 70 && kTabelaDestino.size() == 70);

// Every source character is below U+0100, so one 256-entry map does the whole job.
PALAVOX_HIDDEN inline constexpr std::array<char16_t, 256> kFoldMap = [] {
    std::array<char16_t, 256> map{};
    for (std::size_t u = 0; u < map.size(); ++u) map[u] = static_cast<char16_t>(u);
    for (std::size_t i = 0; i < kTabelaOrigem.size(); ++i) {
        if (kTabelaOrigem[i] >= map.size()) throw "table row outside the map";  // fails the build
        map[kTabelaOrigem[i]] = kTabelaDestino[i];
    }
    return map;
}();

// A range of byte values, lo to hi.
struct ByteRange {
    unsigned char lo, hi;
};

// ------------------------------------------------ UTF-16

// The units (narrowed to bytes) the test of the kernels without byte
// shuffles lets through to the map: every table row and a few neighbours,
// which the map leaves alone.
inline constexpr ByteRange kUnitPrefilter[] = {
    {0x23, 0x2B},  // # $ & ( ) +
    {0x2F, 0x2F},  // /
    {0x3A, 0x3F},  // : ; < = > ?
    {0x5B, 0x60},  // [ ] ^ `
    {0x7B, 0x7E},  // { } ~
    {0xA8, 0xFC},  // the spacing accents, ordinals and accented letters
};

constexpr bool InUnitPrefilter(unsigned unit) noexcept {
    for (const ByteRange& r : kUnitPrefilter) {
        if (unit >= r.lo && unit <= r.hi) return true;
    }
    return false;
}

// A row the test missed would be copied unfolded. Units above 0xFF saturate
// to 0x00 or 0xFF when narrowed, and must not get through: the map stops at 0xFF.
constexpr bool UnitPrefilterIsSound() noexcept {
    for (const char16_t row : kTabelaOrigem) {
        if (!InUnitPrefilter(row)) return false;
    }
    return !InUnitPrefilter(0x00) && !InUnitPrefilter(0xFF);
}
static_assert(UnitPrefilterIsSound(),
              "the test must let every table row through, and no wide unit");

// Exactly the values below U+0100 the map changes, as two sixteen-entry
// tables for byte shuffles (the kernels that have them test by these): a
// value folds where its low four bits' entry holds the bit of its high four
// bits' column. Columns that fold the same low four bits share a bit.
struct FoldSet {
    std::array<char, 16> columnBit{};     // by high four bits
    std::array<char, 16> columnsByLow{};  // by low four bits
};

inline constexpr FoldSet kFoldSet = [] {
    std::array<unsigned, 16> lows{};  // by high four bits: the low four bits that fold
    for (unsigned u = 0; u < kFoldMap.size(); ++u) {
        if (kFoldMap[u] != u) lows[u >> 4] |= 1u << (u & 15);
    }
    FoldSet t;
    std::array<unsigned, 8> sets{};
    std::array<unsigned, 16> byLow{};
    unsigned used = 0;
    for (unsigned high = 0; high < 16; ++high) {
        if (lows[high] == 0) continue;
        unsigned k = 0;
        while (k < used && sets[k] != lows[high]) ++k;
        if (k == used) {
            if (used == sets.size()) throw "more than eight columns of folding values";
            sets[used++] = lows[high];
        }
        t.columnBit[high] = static_cast<char>(1u << k);
        for (unsigned low = 0; low < 16; ++low) {
            if ((lows[high] >> low & 1) != 0) byLow[low] |= 1u << k;
        }
    }
    for (unsigned low = 0; low < 16; ++low) t.columnsByLow[low] = static_cast<char>(byLow[low]);
    return t;
}();

constexpr bool InFoldSet(unsigned value) noexcept {
    const auto bits = [](char c) { return static_cast<unsigned char>(c); };
    return (bits(kFoldSet.columnBit[value >> 4]) & bits(kFoldSet.columnsByLow[value & 15])) != 0;
}

constexpr bool FoldSetIsExact() noexcept {
    for (unsigned u = 0; u < kFoldMap.size(); ++u) {
        if (InFoldSet(u) != (kFoldMap[u] != u)) return false;
    }
    return true;
}
// Narrowed units above 0xFF saturate to 0x00 or 0xFF, which must test false.
static_assert(FoldSetIsExact() && !InFoldSet(0x00) && !InFoldSet(0xFF),
              "the shuffles' test must pass exactly the values that fold, and no wide unit");

// ------------------------------------------------ by byte value, and UTF-8

// By code point below U+0100: the ASCII byte it folds to, or 0 where the map leaves it.
PALAVOX_HIDDEN inline constexpr std::array<unsigned char, 256> kFoldedByte = [] {
    std::array<unsigned char, 256> folded{};
    for (unsigned u = 0; u < 256; ++u) {
        const char16_t to = kFoldMap[u];
        if (to == u) continue;
        if (to == 0 || to >= 0x80) throw "a row folds to something other than ASCII";
        folded[u] = static_cast<unsigned char>(to);
    }
    return folded;
}();

// UTF-8 continuation bytes and longer sequences are looked up as U+0080, which stays.
inline constexpr unsigned char kStays = 0x80;
static_assert(kFoldedByte[kStays] == 0);

// One code point of UTF-8 from p[i] (p[i + 1] readable where p[i] is a
// lead): an ASCII byte maps to an ASCII byte, a two-byte sequence for
// U+0080..U+00FF (lead C2 or C3) to the single ASCII byte its code point
// folds to, or stays; nothing else changes.
inline void FoldUtf8One(const unsigned char* p, std::size_t n, std::size_t& i,
                        char*& out) noexcept {
    const unsigned b = p[i];
    if (b < 0x80) {
        *out++ = static_cast<char>(kFoldedByte[b] != 0 ? kFoldedByte[b] : b);
        ++i;
        // branch-untaken: valid UTF-8 (what it is given) never ends in a lead byte
    } else if ((b & 0xFE) == 0xC2 && i + 1 < n) {
        const unsigned trail = p[i + 1];
        const unsigned folded = kFoldedByte[(b & 1) << 6 | (trail & 0x3F) | 0x80];
        if (folded != 0) {
            *out++ = static_cast<char>(folded);
        } else {
            *out++ = static_cast<char>(b);
            *out++ = static_cast<char>(trail);
        }
        i += 2;
    } else {
        *out++ = static_cast<char>(b);
        ++i;
    }
}

// FoldUtf8One for bytes not yet checked: false, with nothing written, at a
// sequence that is not valid UTF-8 or is cut short by the end (as
// utf8::Sequences decides them); a longer sequence is copied.
inline bool FoldUtf8Checked(const unsigned char* p, std::size_t n, std::size_t& i,
                            char*& out) noexcept {
    const unsigned b = p[i];
    if (b < 0x80) {
        *out++ = static_cast<char>(kFoldedByte[b] != 0 ? kFoldedByte[b] : b);
        ++i;
        return true;
    }
    const utf8::Lead lead = utf8::LeadOf(static_cast<unsigned char>(b));
    if (lead.length == 0 || n - i < lead.length) return false;
    if (p[i + 1] < lead.low || p[i + 1] > lead.high) return false;
    for (std::size_t k = 2; k < lead.length; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) return false;
    }
    const unsigned folded =
        (b & 0xFE) == 0xC2 ? kFoldedByte[(b & 1) << 6 | (p[i + 1] & 0x3F) | 0x80] : 0;
    if (folded != 0) {
        *out++ = static_cast<char>(folded);
    } else {
        for (std::size_t k = 0; k < lead.length; ++k) *out++ = static_cast<char>(p[i + k]);
    }
    i += lead.length;
    return true;
}

// The items each(emit) passes to emit, as an array of exactly that many.
template <class Item, auto kEach>
constexpr auto Collected() {
    constexpr std::size_t kCount = [] {
        std::size_t count = 0;
        kEach([&](Item) { ++count; });
        return count;
    }();
    std::array<Item, kCount> items{};
    std::size_t k = 0;
    kEach([&](Item item) { items[k++] = item; });
    return items;
}

// The ASCII bytes the map changes, as a few ranges of bytes (runs of them,
// gaps of up to three bytes bridged): the test of the kernels without byte
// shuffles on UTF-8.
inline constexpr auto kFoldedAsciiRanges = Collected<ByteRange, [](auto emit) {
    constexpr unsigned kMaxGap = 3;
    unsigned start = 0x100, last = 0;
    const auto run = [&] {
        emit(ByteRange{static_cast<unsigned char>(start), static_cast<unsigned char>(last)});
    };
    for (unsigned b = 0; b < 0x80; ++b) {
        if (kFoldedByte[b] == 0) continue;
        if (start != 0x100 && b - last <= kMaxGap + 1) {
            last = b;
            continue;
        }
        if (start != 0x100) run();
        start = last = b;
    }
    if (start != 0x100) run();
}>();
static_assert(kFoldedAsciiRanges.size() <= 8,
              "the ASCII rows of the table no longer fit a few ranges");

// kFoldedByte as sixteen-entry tables indexed by the low four bits of a byte
// value, for byte shuffles. Below row C a value either stays, becomes a space
// (a bit per row says which rows hold such values) or is one of a few
// exceptions ("&"); rows C..F (the letters) are looked up whole.
struct FoldNibbles {
    std::array<char, 16> rowBit{};     // by high four bits: that row's bit, or 0
    std::array<char, 16> rowsByLow{};  // by low four bits: rows where it becomes a space
    std::array<std::array<char, 16>, 4> letter{};  // rows C..F: what it becomes, or 0
};

inline constexpr FoldNibbles kFoldNibbles = [] {
    FoldNibbles t;
    unsigned nextBit = 1;
    for (unsigned u = 0; u < 0xC0; ++u) {
        if (kFoldedByte[u] != ' ') continue;
        const unsigned high = u >> 4;
        if (t.rowBit[high] == 0) {
            if (nextBit > 0x80) throw "more than eight rows with symbols";
            t.rowBit[high] = static_cast<char>(nextBit);
            nextBit <<= 1;
        }
        t.rowsByLow[u & 15] = static_cast<char>(t.rowsByLow[u & 15] | t.rowBit[high]);
    }
    for (unsigned u = 0xC0; u < 0x100; ++u) {
        t.letter[(u >> 4) - 0xC][u & 15] = static_cast<char>(kFoldedByte[u]);
    }
    return t;
}();

struct FoldException {
    unsigned char from, to;
};

// The values below row C that become something other than a space.
inline constexpr auto kFoldExceptions = Collected<FoldException, [](auto emit) {
    for (unsigned u = 0; u < 0xC0; ++u) {
        if (kFoldedByte[u] != 0 && kFoldedByte[u] != ' ') {
            emit(FoldException{static_cast<unsigned char>(u), kFoldedByte[u]});
        }
    }
}>();
static_assert(kFoldExceptions.size() <= 2,
              "more rows below U+00C0 that become something other than a space");

}  // namespace palavox::detail

// A search text of at most four units, none of them a surrogate under
// TextCompare, is found without verifying anything: each of its units is
// tested at every unit of a block of the text, which gives one bit mask per
// unit of the search text, and a start is a match where each passes at its
// place. The vector kernels build the masks (matcher_blocks.hpp); this is
// what they test and how masks become starts.
// Internal to text/.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace palavox::detail {

inline constexpr std::size_t kMaxShortSearch = 4;

// Units, and starts, a block of masks stands for: bit j is the one j units in.
inline constexpr std::size_t kMaskBlock = 64;

// How a set of at most four units is told apart in 16-bit lanes: one compare,
// one after setting a bit (units[0] has it set), or four (unused slots repeat
// a member).
enum class LaneForm : unsigned char { One, Pair, Four };

struct LaneTest {
    char16_t units[4];
    char16_t bit;
    LaneForm form;
};

// The same on units narrowed to bytes with unsigned saturation, where every
// unit past 0xFF becomes 0xFF, or 0x00 past 0x7FFF: (byte | bit) == unit.
// Exact for the units up to 0xFF of a class, which are always one, or a
// letter and its capital.
struct ByteTest {
    unsigned char unit, bit;
};

// How one unit of the search text is tested.
struct UnitTests {
    ByteTest byte;
    LaneTest lane;   // the whole class
    LaneTest extra;  // its members past 0xFF, where hasExtra
    bool hasExtra;
    bool bytes;  // narrowed units tell the class apart (with `extra` where hasExtra)
};

struct ShortSearch {
    bool active = false;
    // Every unit tested on narrowed units, two vectors of text to one, with
    // one bit set on them all (0x20 for letters, 0 for a class of one): a search
    // text mixing the two under TextCompare is tested in lanes.
    bool bytes = false;
    unsigned char bit = 0;
    // Some class has members past 0xFF (the long s, the Kelvin sign, ...), which
    // narrow to 0xFF: a block holding a 0xFF byte tests them in lanes as well.
    bool extras = false;
    // Two matches may overlap, as «aa» in «aaa»: counting cannot just add the starts up.
    bool overlaps = true;
    unsigned char size = 0;  // units in the search text
    // The tests of each unit; those past `size` are never read, nor written
    // (clearing them costs more than a short search).
    UnitTests place[kMaxShortSearch];
};

// Inactive for a longer search text or one holding a surrogate under TextCompare.
ShortSearch PlanShortSearch(std::u16string_view search, bool fold) noexcept;

// The masks of a block, one per unit of the search text.
struct PlaceMasks {
    std::uint64_t at[kMaxShortSearch];
};

// The units CountShort tests at every start (short_count_blocks.hpp): the
// search text's first, second and last, `at` units on. A unit passes where
// (unit | bit) == key's unit: bit 0x20 for a letter and its capital (under
// TextCompare), else 0.
struct ShortKeys {
    std::size_t at[3];
    char16_t unit[3], bit[3];
};

// The masks of a short UTF-8 text (utf8_count_blocks.hpp), bit j for byte j:
// where each of ShortKeys' units passes; lead bytes of two-byte sequences
// (C0 to DF) and continuation bytes; whether any byte is C0 or C1, or from
// a limit on.
struct ByteMasks {
    std::uint64_t key[3];
    std::uint64_t lead, cont;
    std::uint32_t overlong, high;
};

// Bits k.. of `block` followed by the low k of `next`.
template <std::size_t k>
std::uint64_t ShiftIn(std::uint64_t block, std::uint64_t next) noexcept {
    return block >> k | next << (64 - k);
}

// The starts of a block from its masks and those of the block after it: a
// start passes where unit k of the search text passes k units on. (Folds, not
// loops, so that the masks stay in registers.)
template <std::size_t... kPlace>
std::uint64_t Starts(const PlaceMasks& block, const PlaceMasks& next,
                     std::index_sequence<0, kPlace...>) noexcept {
    return (block.at[0] & ... & ShiftIn<kPlace>(block.at[kPlace], next.at[kPlace]));
}

// The first `count` bits: the starts of a block cut short by the end of the text.
inline std::uint64_t FirstBits(std::size_t count) noexcept {
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

inline std::size_t Lowest(std::uint64_t mask) noexcept {
    return static_cast<std::size_t>(std::countr_zero(mask));
}

// A text shorter than a block, copied with zeros after it; whatever the
// zeros pass, no start that reads them is ever taken.
class ShortTextUnits {
public:
    const char16_t* From(const char16_t* text, std::size_t i, std::size_t n) noexcept {
        std::memset(copy_, 0, sizeof copy_);
        std::memcpy(copy_, text + i, (n - i) * sizeof(char16_t));
        return copy_;
    }

private:
    char16_t copy_[kMaskBlock];
};

// Where to read the block of units [j, j + 64) of a text of n units (j < n)
// without reading past its end: in place when it fits; otherwise as the last
// 64 units of the text, whose masks then move down by `back` (zeros come in
// for the units past the end); or, from a text shorter than a block, copied.
struct BlockSource {
    const char16_t* units;
    std::size_t back;
};

inline BlockSource SourceOf(const char16_t* text, std::size_t j, std::size_t n,
                            ShortTextUnits& copy) noexcept {
    if (j + kMaskBlock <= n) return {text + j, 0};
    if (n >= kMaskBlock) return {text + n - kMaskBlock, j + kMaskBlock - n};
    return {copy.From(text, j, n), 0};
}

}  // namespace palavox::detail

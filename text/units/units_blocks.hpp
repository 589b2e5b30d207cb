// Runs of units, sixteen bytes a step: the block loops for one instruction
// set. simd_each.hpp compiles this once per set (no include guard) in
// units.cpp, beside the plain loops that define them. Names and comments are
// short: vectors that overlap at the end stand in for a loop over the last
// few units, whose exit mispredicts on every row. Internal to text/.
namespace palavox::detail::PALAVOX_ISA {

inline void WidenBlocks(Isa, const unsigned char* in, std::size_t n, char16_t* out) noexcept {
    if (n >= 16) {
        for (std::size_t i = 0;; i += 16) {
            if (i + 16 > n) i = n - 16;
            const Half v = Load<Half>(in + i);
            Store(out + i, UnitsOfLowBytes(v));
            Store(out + i + 8, UnitsOfHighBytes(v));
            if (i + 16 == n) return;
        }
    }
    if (n >= 8) {
        const Half a = UnitsOfLowBytes(LoadLow8(in));
        const Half b = UnitsOfLowBytes(LoadLow8(in + n - 8));
        Store(out, a);
        Store(out + n - 8, b);
        return;
    }
    if (n >= 4) {
        StoreLow8(out, UnitsOfLowBytes(LoadLow4(in)));
        StoreLow8(out + n - 4, UnitsOfLowBytes(LoadLow4(in + n - 4)));
        return;
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = in[i];
}

inline void NarrowBlocks(Isa, const char16_t* in, std::size_t n, unsigned char* out) noexcept {
    if (n >= 16) {
        for (std::size_t i = 0;; i += 16) {
            if (i + 16 > n) i = n - 16;
            Store(out + i, PackUnits(Load<Half>(in + i), Load<Half>(in + i + 8)));
            if (i + 16 == n) return;
        }
    }
    if (n >= 8) {
        const Half a = Load<Half>(in);
        const Half b = Load<Half>(in + n - 8);
        StoreLow8(out, PackUnits(a, a));
        StoreLow8(out + n - 8, PackUnits(b, b));
        return;
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(in[i]);
}

// The union of the units' bits, eight lanes folded into one.
PALAVOX_OP std::uint16_t UnitBits(Half v) noexcept {
    v = Or(v, BytesDown<8>(v));
    v = Or(v, BytesDown<4>(v));
    v = Or(v, BytesDown<2>(v));
    return static_cast<std::uint16_t>(Low32(v));
}

// At least eight units: overlapping at the end, as above.
inline void UniteBlocks(Isa, const char16_t* a, const char16_t* b, std::size_t n,
                        std::uint16_t& bits, std::uint16_t& differs) noexcept {
    Half all = Zero<Half>(), differ = all;
    for (std::size_t i = 0;; i += 8) {
        if (i + 8 > n) i = n - 8;
        const Half x = Load<Half>(a + i);
        all = Or(all, x);
        differ = Or(differ, Xor(x, Load<Half>(b + i)));
        if (i + 8 == n) break;
    }
    bits = UnitBits(all);
    differs = UnitBits(differ);
}

// Counts of the UTF-8 form, sixteen bytes (eight units) a step, from 16
// bytes (8 units) on: the last step reloads the last vector and keeps the
// flags of the lanes not yet counted. Each lane's flag is its bit (two bits
// for a unit) of ByteBits.
inline std::ptrdiff_t ExtraUnitsBlocks(Isa, const unsigned char* in, std::size_t n) noexcept {
    std::ptrdiff_t extra = 0;
    for (std::size_t i = 0;; i += 16) {
        std::uint32_t keep = 0xFFFF;
        if (i + 16 > n) {
            keep = 0xFFFFu >> (i + 16 - n) << (i + 16 - n);
            i = n - 16;
        }
        const Half v = Load<Half>(in + i);
        // 10xxxxxx continues a sequence (below 0xC0 as a signed byte); 11110xxx
        // and up leads four bytes (above 0xEF, below zero).
        const std::uint32_t continues = ByteBits(GreaterS8(Splat8<Half>(0xC0), v)) & keep;
        const std::uint32_t fours =
            ByteBits(AndNot(GreaterS8(v, Splat8<Half>(0xFF)), GreaterS8(v, Splat8<Half>(0xEF)))) &
            keep;
        extra += std::popcount(fours) - std::popcount(continues);
        if (i + 16 == n) return extra;
    }
}

// Lanes of a unit's extra bytes summed as they go, the flags 1 each (a
// surrogate is "two" only: from U+0800 but one fewer); the last step's lanes
// already counted masked off by a window into kKeepFrom. Summed out of the
// lanes every 16,000 steps, before one could pass 0x7FFF.
inline constexpr unsigned char kKeepFrom[32] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

inline std::size_t SumUnitLanes(Half v) noexcept {
    std::uint16_t lanes[8];
    Store(lanes, v);
    std::size_t sum = 0;
    for (const std::uint16_t lane : lanes) sum += lane;
    return sum;
}

inline std::ptrdiff_t ExtraBytesBlocks(Isa, const char16_t* in, std::size_t n) noexcept {
    const Half one = Splat16<Half>(1), zero = Zero<Half>();
    Half sum = zero, keep = Splat16<Half>(0xFFFF);
    std::size_t extra = 0, steps = 0;
    for (std::size_t i = 0;; i += 8) {
        if (i + 8 > n) {
            keep = Load<Half>(kKeepFrom + 16 - 2 * (i + 8 - n));
            i = n - 8;
        }
        const Half v = Load<Half>(in + i);
        const Half high = And(v, Splat16<Half>(0xF800));
        const Half two = AndNot(Eq16(And(v, Splat16<Half>(0xFF80)), zero), one);
        const Half three = AndNot(Or(Eq16(high, zero), Eq16(high, Splat16<Half>(0xD800))), one);
        sum = Add16(sum, And(Add16(two, three), keep));
        if (i + 8 == n) return static_cast<std::ptrdiff_t>(extra + SumUnitLanes(sum));
        if (++steps == 16000) {
            extra += SumUnitLanes(sum);
            sum = zero;
            steps = 0;
        }
    }
}

// Rows end to end (utf8_units_at, utf8_length_at): each block of the run
// read once, its flags as bits of ByteBits; a row's end inside a block counts
// the bits below it. The last block, short of 16 bytes, is read from a
// zero-filled copy: zero lanes count nothing.
inline Half BlockAt(const void* in, std::size_t at, std::size_t n, std::size_t unit) noexcept {
    if (at + 16 / unit <= n) return Load<Half>(static_cast<const unsigned char*>(in) + at * unit);
    unsigned char last[16] = {};
    std::memcpy(last, static_cast<const unsigned char*>(in) + at * unit, (n - at) * unit);
    return Load<Half>(last);
}

inline void Utf8UnitsAtBlocks(Isa, const unsigned char* in, std::size_t n, std::int64_t* ends,
                              std::size_t rows) noexcept {
    std::ptrdiff_t extra = 0;  // beyond one unit a byte, in the blocks before `at`
    std::size_t at = 0;
    std::uint32_t continues = 0, fours = 0;
    bool read = false;
    for (std::size_t r = 0; r < rows; ++r) {
        const auto end = static_cast<std::size_t>(ends[r]);
        for (;;) {
            if (!read && at < n) {
                const Half v = BlockAt(in, at, n, 1);
                continues = ByteBits(GreaterS8(Splat8<Half>(0xC0), v));
                fours = ByteBits(
                    AndNot(GreaterS8(v, Splat8<Half>(0xFF)), GreaterS8(v, Splat8<Half>(0xEF))));
                read = true;
            }
            if (end < at + 16) break;
            extra += std::popcount(fours) - std::popcount(continues);
            at += 16;
            read = false;
        }
        const std::uint32_t below = (1u << (end - at)) - 1;
        ends[r] = static_cast<std::int64_t>(static_cast<std::ptrdiff_t>(end) + extra +
                                            std::popcount(fours & below) -
                                            std::popcount(continues & below));
    }
}

inline void Utf8LengthAtBlocks(Isa, const char16_t* in, std::size_t n, std::int64_t* ends,
                               std::size_t rows) noexcept {
    std::size_t extra = 0;  // bytes beyond one a unit, in the blocks before `at`
    std::size_t at = 0;
    std::uint32_t two = 0, three = 0;  // two bits a unit
    bool read = false;
    for (std::size_t r = 0; r < rows; ++r) {
        const auto end = static_cast<std::size_t>(ends[r]);
        for (;;) {
            if (!read && at < n) {
                const Half v = BlockAt(in, at, n, 2);
                const Half high = And(v, Splat16<Half>(0xF800));
                two = ~ByteBits(Eq16(And(v, Splat16<Half>(0xFF80)), Zero<Half>())) & 0xFFFF;
                three = ~ByteBits(Or(Eq16(high, Zero<Half>()), Eq16(high, Splat16<Half>(0xD800)))) &
                        0xFFFF;
                read = true;
            }
            if (end < at + 8) break;
            extra += static_cast<std::size_t>(std::popcount(two) + std::popcount(three)) / 2;
            at += 8;
            read = false;
        }
        const std::uint32_t below = (1u << (2 * (end - at))) - 1;
        ends[r] = static_cast<std::int64_t>(
            end + extra +
            static_cast<std::size_t>(std::popcount(two & below) + std::popcount(three & below)) /
                2);
    }
}

}  // namespace palavox::detail::PALAVOX_ISA

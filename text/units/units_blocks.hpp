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

// Rows end to end (utf8_units_at, utf8_length_at): a window of 256 bytes
// (units) read at once into words of flags, a bit a byte (unit), a whole
// vector a step, with the count before each word; a row's end in the window
// counts the bits below it in its word. The only branch that depends on the
// rows is the window's end, where stepping through each row's blocks
// mispredicted about once a row: most of the cost on names. Lanes past n
// read as zeros, which count nothing.
inline constexpr std::size_t kAtWords = 4;

inline Vec VectorAt(const void* in, std::size_t at, std::size_t n, std::size_t unit) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(in);
    if (at + kWidth / unit <= n) return Load<Vec>(bytes + at * unit);
    unsigned char last[kWidth] = {};
    if (at < n) std::memcpy(last, bytes + at * unit, (n - at) * unit);
    return Load<Vec>(last);
}

inline void Utf8UnitsAtBlocks(Isa, const unsigned char* in, std::size_t n, std::int64_t* ends,
                              std::size_t rows) noexcept {
    std::ptrdiff_t extra = 0;  // beyond one unit a byte, in the words before
    std::uint64_t continues[kAtWords], fours[kAtWords];
    std::ptrdiff_t before[kAtWords];
    for (std::size_t at = 0, r = 0; r < rows; at += 64 * kAtWords) {
        for (std::size_t w = 0; w < kAtWords; ++w) {
            std::uint64_t c = 0, f = 0;
            for (std::size_t q = 0; q < 64; q += kWidth) {
                const Vec v = VectorAt(in, at + 64 * w + q, n, 1);
                // 10xxxxxx continues a sequence (below 0xC0 as a signed byte);
                // 11110xxx and up leads four bytes (above 0xEF, below zero).
                c |= std::uint64_t{ByteBits(GreaterS8(Splat8<Vec>(0xC0), v))} << q;
                f |= std::uint64_t{ByteBits(
                         AndNot(GreaterS8(v, Splat8<Vec>(0xFF)), GreaterS8(v, Splat8<Vec>(0xEF))))}
                     << q;
            }
            continues[w] = c;
            fours[w] = f;
            before[w] = extra;
            extra += std::popcount(f) - std::popcount(c);
        }
        for (const std::size_t limit = at + 64 * kAtWords;
             r < rows && static_cast<std::size_t>(ends[r]) < limit; ++r) {
            const std::size_t k = static_cast<std::size_t>(ends[r]) - at, w = k >> 6;
            const std::uint64_t below = (std::uint64_t{1} << (k & 63)) - 1;
            ends[r] +=
                before[w] + std::popcount(fours[w] & below) - std::popcount(continues[w] & below);
        }
    }
}

inline void Utf8LengthAtBlocks(Isa, const char16_t* in, std::size_t n, std::int64_t* ends,
                               std::size_t rows) noexcept {
    std::size_t extra = 0;                           // bytes beyond one a unit, in the words before
    std::uint64_t twos[kAtWords], threes[kAtWords];  // from U+0080; from U+0800 but surrogates
    std::size_t before[kAtWords];
    const Vec one = Splat16<Vec>(0xFF80), top = Splat16<Vec>(0xF800), pair = Splat16<Vec>(0xD800),
              zero = Zero<Vec>();
    constexpr std::uint64_t kBits = (std::uint64_t{1} << (2 * kUnits)) - 1;
    for (std::size_t at = 0, r = 0; r < rows; at += 64 * kAtWords) {
        for (std::size_t w = 0; w < kAtWords; ++w) {
            std::uint64_t two = 0, three = 0;
            for (std::size_t q = 0; q < 64; q += 2 * kUnits) {
                const std::size_t from = at + 64 * w + q;
                const Vec a = VectorAt(in, from, n, 2), b = VectorAt(in, from + kUnits, n, 2);
                const Vec highA = And(a, top), highB = And(b, top);
                two |= (~std::uint64_t{LaneBits(Eq16(And(a, one), zero), Eq16(And(b, one), zero))} &
                        kBits)
                       << q;
                three |= (~std::uint64_t{LaneBits(Or(Eq16(highA, zero), Eq16(highA, pair)),
                                                  Or(Eq16(highB, zero), Eq16(highB, pair)))} &
                          kBits)
                         << q;
            }
            twos[w] = two;
            threes[w] = three;
            before[w] = extra;
            extra += static_cast<std::size_t>(std::popcount(two) + std::popcount(three));
        }
        for (const std::size_t limit = at + 64 * kAtWords;
             r < rows && static_cast<std::size_t>(ends[r]) < limit; ++r) {
            const std::size_t k = static_cast<std::size_t>(ends[r]) - at, w = k >> 6;
            const std::uint64_t below = (std::uint64_t{1} << (k & 63)) - 1;
            ends[r] += static_cast<std::int64_t>(
                before[w] + static_cast<std::size_t>(std::popcount(twos[w] & below) +
                                                     std::popcount(threes[w] & below)));
        }
    }
}

}  // namespace palavox::detail::PALAVOX_ISA

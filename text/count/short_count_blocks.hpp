// Counting in a short text (CountShort, conta_ocorrencias.cpp): the starts
// where the first, second and last unit of the search text pass, sixteen
// starts a step, for one instruction set: simd_each.hpp compiles this once
// per set (no include guard). Called with the 16-byte set of every vector
// kernel (NarrowIsa): a short text is one or a few vectors, and a call into
// AVX2 code would cost more than it saves. Internal to text/.
namespace palavox::detail::PALAVOX_ISA {

// A bit for each of the eight starts from a and the eight from b where the
// three keys pass, each `at` units on. Under kFold on units narrowed to
// bytes, a unit passing where (byte | bit) == unit; `high` gathers every
// unit read, so that the caller can tell whether any lies past 0xFF
// (narrowed to 0xFF, it might pass for U+00FF).
template <bool kFold>
PALAVOX_OP std::uint32_t ShortStarts(const char16_t* a, const char16_t* b, const ShortKeys& keys,
                                     Half& high) noexcept {
    Half pass[2] = {Zero<Half>(), Zero<Half>()};
    for (int k = 0; k < 3; ++k) {
        const Half ua = Load<Half>(a + keys.at[k]), ub = Load<Half>(b + keys.at[k]);
        if constexpr (kFold) {
            high = Or(high, Or(ua, ub));
            const Half x = NarrowUnits(ua, ub);
            const Half hit = Eq8(Or(x, Splat8<Half>(keys.bit[k])), Splat8<Half>(keys.unit[k]));
            pass[0] = k == 0 ? hit : And(pass[0], hit);
        } else {
            const Half key = Splat16<Half>(keys.unit[k]);
            pass[0] = k == 0 ? Eq16(ua, key) : And(pass[0], Eq16(ua, key));
            pass[1] = k == 0 ? Eq16(ub, key) : And(pass[1], Eq16(ub, key));
        }
    }
    if constexpr (kFold) {
        return ByteBits(pass[0]);
    } else {
        return LaneBits(pass[0], pass[1]);
    }
}

// The starts, as bits, of a text of n units holding `starts` (8 to 64)
// starts; false (kFold) when a unit read lies past 0xFF. Every load stays
// within the text: the last step overlaps the one before it.
template <bool kFold>
inline bool ShortCountStarts(Isa, const char16_t* t, std::size_t starts, const ShortKeys& keys,
                             std::uint64_t& found) noexcept {
    Half high = Zero<Half>();
    std::uint64_t bits = 0;
    if (starts >= 16) {
        std::size_t i = 0;
        for (; i + 16 <= starts; i += 16) {
            bits |= std::uint64_t{ShortStarts<kFold>(t + i, t + i + 8, keys, high)} << i;
        }
        if (i < starts) {
            const std::size_t from = starts - 16;
            bits |= std::uint64_t{ShortStarts<kFold>(t + from, t + from + 8, keys, high)} << from;
        }
    } else {
        // The first eight starts and the last eight.
        const std::uint32_t both = ShortStarts<kFold>(t, t + starts - 8, keys, high);
        bits = (both & 0xFF) | std::uint64_t{both >> 8} << (starts - 8);
    }
    found = bits;
    if constexpr (kFold) return ByteBits(Eq16(ShiftRight16<8>(high), Zero<Half>())) == 0xFFFF;
    return true;
}

}  // namespace palavox::detail::PALAVOX_ISA

// Counting in a short UTF-8 text (utf8_count.cpp): for each of the search
// text's first, second and last byte, the bytes of the text where it passes,
// and what says whether the text is valid, one mask bit a byte, sixteen bytes
// a step, for one instruction set: simd_each.hpp compiles this once per set
// (no include guard). Called with the 16-byte set of every vector kernel, as
// the UTF-16 count is. Internal to text/.
namespace palavox::detail::PALAVOX_ISA {

// Bytes of x at bit `at` on: `keep` says which of its 16 bits stand for bytes read.
PALAVOX_OP void MaskBytes(Half x, std::size_t at, std::uint32_t keep, const ShortKeys& keys,
                          Half below, ByteMasks& m) noexcept {
    for (int k = 0; k < 3; ++k) {
        const Half hit = Eq8(Or(x, Splat8<Half>(keys.bit[k])), Splat8<Half>(keys.unit[k]));
        m.key[k] |= std::uint64_t{ByteBits(hit) & keep} << at;
    }
    const Half lead = Eq8(And(x, Splat8<Half>(0xE0)), Splat8<Half>(0xC0));
    const Half cont = Eq8(And(x, Splat8<Half>(0xC0)), Splat8<Half>(0x80));
    // C0 and C1 lead no shortest form.
    const Half overlong = Eq8(And(x, Splat8<Half>(0xFE)), Splat8<Half>(0xC0));
    m.lead |= std::uint64_t{ByteBits(lead) & keep} << at;
    m.cont |= std::uint64_t{ByteBits(cont) & keep} << at;
    m.overlong |= ByteBits(overlong) & keep;
    // Zero where a byte is below the limit.
    m.high |= ~ByteBits(Eq8(SubSatU8(x, below), Zero<Half>())) & keep;
}

// The masks of the 8 to 64 bytes at t: every byte read once or, where the
// last step overlaps the one before it, twice alike; none past the text.
inline void ByteMasksOf(Isa, const unsigned char* t, std::size_t n, const ShortKeys& keys,
                        unsigned limit, ByteMasks& m) noexcept {
    const Half below = Splat8<Half>(limit - 1u);
    if (n >= 16) {
        std::size_t i = 0;
        for (; i + 16 <= n; i += 16) MaskBytes(Load<Half>(t + i), i, 0xFFFF, keys, below, m);
        if (i < n) MaskBytes(Load<Half>(t + n - 16), n - 16, 0xFFFF, keys, below, m);
    } else {
        MaskBytes(LoadLow8(t), 0, 0xFF, keys, below, m);
        MaskBytes(LoadLow8(t + n - 8), n - 8, 0xFF, keys, below, m);
    }
}

}  // namespace palavox::detail::PALAVOX_ISA

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

}  // namespace palavox::detail::PALAVOX_ISA

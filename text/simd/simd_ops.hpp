// What every instruction set does the same way in its own operations:
// simd_sse2.hpp and simd_avx2.hpp include this inside their namespace, each
// compiled for its own set. No include guard. Internal to text/.

// The tag a routine passes (simd::Isa<k>): a kernel's name is found in the
// namespace of its argument.
struct Isa {};

inline constexpr std::size_t kWidth = sizeof(Vec);
inline constexpr std::size_t kUnits = kWidth / sizeof(char16_t);

// V: a whole vector, or (Half) sixteen bytes.
template <class V = Vec>
PALAVOX_OP V Zero() noexcept {
    return V{};
}
template <class V = Vec>
PALAVOX_OP V Load(const void* p) noexcept {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class V>
PALAVOX_OP void Store(void* p, V v) noexcept {
    std::memcpy(p, &v, sizeof v);
}

// Bytes or UTF-16 units (Unit), compared lane by lane.
template <class Unit, class V = Vec>
PALAVOX_OP V Splat(unsigned value) noexcept {
    if constexpr (sizeof(Unit) == 1) {
        return Splat8<V>(value);
    } else {
        return Splat16<V>(value);
    }
}
template <class Unit, class V>
PALAVOX_OP V Eq(V a, V b) noexcept {
    if constexpr (sizeof(Unit) == 1) {
        return Eq8(a, b);
    } else {
        return Eq16(a, b);
    }
}

// v[0] op v[1], v[2] op v[3], ..., then those the same way, down to one (N a power of 2).
template <std::size_t N, class Op>
PALAVOX_OP Vec Reduce(const Vec (&v)[N], Op op) noexcept {
    if constexpr (N == 1) {
        return v[0];
    } else {
        Vec pairs[N / 2];
        for (std::size_t q = 0; q < N / 2; ++q) pairs[q] = op(v[2 * q], v[2 * q + 1]);
        return Reduce(pairs, op);
    }
}

// The kWidth units from p as bytes, in order, saturated as NarrowUnits does.
PALAVOX_OP Vec Narrow(const char16_t* p) noexcept { return NarrowUnits(Load(p), Load(p + kUnits)); }

// How far a[0..m) and b[0..m) agree, a vector at a time: the first unequal
// unit, or where whole vectors ran out (the caller compares on from there).
inline std::size_t EqualUnits(Isa, const char16_t* a, const char16_t* b, std::size_t m) noexcept {
    constexpr std::uint32_t kAll = static_cast<std::uint32_t>((std::uint64_t{1} << kWidth) - 1);
    std::size_t j = 0;
    for (; j + kUnits <= m; j += kUnits) {
        const std::uint32_t equal = ByteBits(Eq16(Load(a + j), Load(b + j)));
        if (equal != kAll) return j + static_cast<std::size_t>(std::countr_one(equal)) / 2;
    }
    return j;
}

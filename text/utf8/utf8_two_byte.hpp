// Telling ASCII and two-byte sequences of UTF-8 in a vector, for one
// instruction set: included inside that set's namespace by the block loops
// that check UTF-8 (utf8_decode_blocks.hpp, and link markup's, which checks a
// short text as it looks for links), once per set (no include guard).
// Internal to text/.

// Per byte of v: a continuation byte, the lead of a two-byte sequence, and
// what the two-byte path cannot take (a longer sequence's lead, an overlong lead).
template <class V>
PALAVOX_OP void Classify(V v, V& cont, V& lead, V& unsupported) noexcept {
    cont = Eq8(And(v, Splat8<V>(0xC0)), Splat8<V>(0x80));
    lead = Eq8(And(v, Splat8<V>(0xE0)), Splat8<V>(0xC0));
    unsupported =
        Or(Eq8(MaxU8(v, Splat8<V>(0xE0)), v), Eq8(And(v, Splat8<V>(0xFE)), Splat8<V>(0xC0)));
}

// Whether the first kBytes (8 or 16) bytes of v hold nothing but ASCII and
// two-byte sequences, `before` saying whether the byte before them is a
// two-byte lead; a lead may end them, its trail checked by whoever reads on.
// The bytes that keep them from it (none: they are), for a caller that
// gathers several windows' before it branches.
template <std::size_t kBytes>
inline std::uint32_t TwoByteFaults(Half v, bool before) noexcept {
    constexpr std::uint32_t kAll = (1u << kBytes) - 1;
    Half cont, lead, unsupported;
    Classify(v, cont, lead, unsupported);
    const std::uint32_t trails = (ByteBits(lead) << 1) | (before ? 1u : 0u);
    return (ByteBits(unsupported) | (ByteBits(cont) ^ trails)) & kAll;
}

template <std::size_t kBytes>
inline bool TwoByteWindow(Half v, bool before) noexcept {
    return TwoByteFaults<kBytes>(v, before) == 0;
}

// UTF-8 to UTF-16, and checking UTF-8: the block loops for one instruction
// set. simd_each.hpp compiles this once per set (no include guard) in
// utf8_decode.cpp, after the plain loop they fall back on (Sequences), which
// decides every sequence they cannot prove valid. Internal to text/.
namespace palavox::detail::PALAVOX_ISA {

#include "utf8/utf8_two_byte.hpp"

// Eight 16-bit lanes, some of them kept: a byte shuffle that moves the kept
// ones to the front, by the mask of kept lanes.
struct LaneShuffle {
    unsigned char index[16];
};

inline constexpr std::array<LaneShuffle, 256> kKeepLanes = [] {
    std::array<LaneShuffle, 256> table{};
    for (unsigned keep = 0; keep < 256; ++keep) {
        unsigned k = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            if ((keep >> lane & 1) == 0) continue;
            table[keep].index[k++] = static_cast<unsigned char>(2 * lane);
            table[keep].index[k++] = static_cast<unsigned char>(2 * lane + 1);
        }
        while (k < 16) table[keep].index[k++] = 0x80;
    }
    return table;
}();

// Units for eight bytes: a two-byte sequence's where a lead is, the byte's own elsewhere.
template <class V>
inline V TwoByteLanes(V bytes, V following, V isLead) noexcept {
    const V x = UnitsOfLowBytes(bytes);
    const V two = Or(ShiftLeft16<6>(And(x, Splat16<V>(0x1F))),
                     And(UnitsOfLowBytes(following), Splat16<V>(0x3F)));
    return Blend(x, two, InterleaveLow8(isLead, isLead));
}

// Sixteen bytes a turn of ASCII and two-byte sequences, at a fixed stride and
// without a branch on what the bytes are, so that turns overlap: in prose
// whether a block holds an accent is a coin toss. A lead in a block's last
// byte takes its trail from the next block, which checks it. Anything else
// goes to the plain loop, from the sequence's start. Output never runs ahead
// of input (no sequence has fewer bytes than units), so a store of k units
// where k bytes remain stays inside `out`.
template <class V = Half>
inline bool DecodeTwoByte(const unsigned char* p, std::size_t n, char16_t* out, std::size_t& i,
                          std::size_t& o, utf8::Decoded& stopped) noexcept {
    unsigned carried = 0;  // the block before ended on a lead, decoded with this block's first byte
    while (n - i >= 17) {
        const V v = Load<V>(p + i);
        V cont, lead, unsupported;
        Classify(v, cont, lead, unsupported);
        const unsigned misplaced = ByteBits(Xor(cont, BytesUp<1>(lead))) ^ carried;
        if ((ByteBits(unsupported) | misplaced) != 0) {
            i -= carried;
            o -= carried;
            if (!utf8::Sequences<true>(p, n, i + 16 + carried, i, o, out, stopped)) return false;
            carried = 0;
            continue;
        }
        const unsigned keep = ~ByteBits(cont) & 0xFFFF;
        const V next = Load<V>(p + i + 1);
        const V low = TwoByteLanes(v, next, lead);
        const V high = TwoByteLanes(BytesDown<8>(v), BytesDown<8>(next), BytesDown<8>(lead));
        const unsigned keepLow = keep & 0xFF, keepHigh = keep >> 8;
        const auto lowCount = static_cast<std::size_t>(std::popcount(keepLow));
        Store(out + o, Shuffle(low, Load<V>(kKeepLanes[keepLow].index)));
        Store(out + o + lowCount, Shuffle(high, Load<V>(kKeepLanes[keepHigh].index)));
        o += lowCount + static_cast<std::size_t>(std::popcount(keepHigh));
        carried = ByteBits(lead) >> 15;
        i += 16;
    }
    // A lead whose trail was not checked: the plain loop takes it again.
    i -= carried;
    o -= carried;
    return true;
}

// Decodes from the start while whole blocks remain: false, with `stopped`,
// where decoding stopped; otherwise true, with i and o where the plain loop
// goes on.
inline bool DecodeBlocks(Isa, const unsigned char* p, std::size_t n, char16_t* out, std::size_t& i,
                         std::size_t& o, utf8::Decoded& stopped) noexcept {
    if constexpr (kShuffles) {
        return DecodeTwoByte(p, n, out, i, o, stopped);
    } else {
        // Sixteen ASCII bytes widened, or unit by unit up to the next sixteen-byte block.
        while (n - i >= 16) {
            const Half v = Load<Half>(p + i);
            if (ByteBits(v) == 0) {
                Store(out + o, UnitsOfLowBytes(v));
                Store(out + o + 8, UnitsOfHighBytes(v));
                i += 16;
                o += 16;
            } else if (!utf8::Sequences<true>(p, n, i + 16, i, o, out, stopped)) {
                return false;
            }
        }
        return true;
    }
}

// The same check without the units, kWidth bytes a turn and without a
// branch on what they are.
inline bool ValidateBlocks(Isa, const unsigned char* p, std::size_t n, std::size_t& i,
                           utf8::Decoded& stopped) noexcept {
    std::size_t o = 0;
    Vec lead = Zero();  // of the block before
    while (n - i >= kWidth) {
        Vec cont, thisLead, unsupported;
        Classify(Load(p + i), cont, thisLead, unsupported);
        // The leads one byte on, the last of the block before first.
        const Vec before = ByteWindow<kWidth - 1>(lead, thisLead);
        if (AnyLane(Or(unsupported, Xor(cont, before)))) {
            const std::size_t back = ByteBits(lead) >> (kWidth - 1);
            i -= back;
            if (!utf8::Sequences<false>(p, n, i + kWidth + back, i, o, nullptr, stopped))
                return false;
            lead = Zero();
            continue;
        }
        lead = thisLead;
        i += kWidth;
    }
    i -= ByteBits(lead) >> (kWidth - 1);
    return true;
}

template <std::size_t kBytes>
inline bool TwoByteWindow(const unsigned char* p, bool before) noexcept {
    return TwoByteWindow<kBytes>(kBytes == 16 ? Load<Half>(p) : LoadLow8(p), before);
}

// Whether the 8 or more bytes at p (not many) are valid UTF-8 of ASCII and
// two-byte sequences alone (a name, a row): windows of sixteen (or eight)
// bytes, the last overlapping the one before, each told whether the byte
// before it is a lead. False says only that they did not prove it.
inline bool ShortTwoByte(Isa, const unsigned char* p, std::size_t n) noexcept {
    const auto leadAt = [p](std::size_t k) noexcept { return (p[k] & 0xE0) == 0xC0; };
    if (leadAt(n - 1)) return false;  // cut short: the full check says where
    if (n < 16) {
        return TwoByteWindow<8>(p, false) && TwoByteWindow<8>(p + n - 8, n > 8 && leadAt(n - 9));
    }
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        if (!TwoByteWindow<16>(p + j, j != 0 && leadAt(j - 1))) return false;
    }
    return j == n || TwoByteWindow<16>(p + n - 16, leadAt(n - 17));
}

// Whether the 8 to 32 bytes at p are all ASCII: two overlapping loads.
inline bool ShortAscii(Isa, const unsigned char* p, std::size_t n) noexcept {
    if (n >= 16) return ByteBits(Or(Load<Half>(p), Load<Half>(p + n - 16))) == 0;
    return ByteBits(Or(LoadLow8(p), LoadLow8(p + n - 8))) == 0;
}

// Widens them, all ASCII, to n units: the overlap is written twice, alike.
inline void WidenShortAscii(Isa, const unsigned char* p, std::size_t n, char16_t* out) noexcept {
    if (n >= 16) {
        const Half a = Load<Half>(p), b = Load<Half>(p + n - 16);
        Store(out, UnitsOfLowBytes(a));
        Store(out + 8, UnitsOfHighBytes(a));
        Store(out + n - 16, UnitsOfLowBytes(b));
        Store(out + n - 8, UnitsOfHighBytes(b));
    } else {
        Store(out, UnitsOfLowBytes(LoadLow8(p)));
        Store(out + n - 8, UnitsOfLowBytes(LoadLow8(p + n - 8)));
    }
}

}  // namespace palavox::detail::PALAVOX_ISA

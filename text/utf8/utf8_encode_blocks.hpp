// UTF-16 to UTF-8: the block loops for one instruction set. simd_each.hpp
// compiles this once per set (no include guard) in utf8_encode.cpp, after the
// plain steps it falls back on (LengthOf, EncodeOne). Internal to text/.
namespace palavox::detail::PALAVOX_ISA {

// Bytes of kUnits units holding no surrogate, or kUnpaired when they hold
// one (and go unit by unit). Per lane 3 + (-1 below U+0080) + (-1 below U+0800).
inline std::size_t EncodedBlockLength(const char16_t* t) noexcept {
    const Vec v = Load(t);
    const Vec high5 = And(v, Splat16(0xF800));
    if (AnyLane(Eq16(high5, Splat16(0xD800)))) return utf8::kUnpaired;
    const Vec low = And(v, Splat16(0xFF80));
    return SumLanes16(Add16(Splat16(3), Add16(Eq16(low, Zero()), Eq16(high5, Zero()))));
}

// Bytes the UTF-8 form of t[0..n) takes, or kUnpaired.
inline std::size_t EncodedLengthBlocks(Isa, const char16_t* t, std::size_t n) noexcept {
    std::size_t bytes = 0, i = 0;
    while (i < n) {
        if (n - i >= kUnits) {
            if (const std::size_t block = EncodedBlockLength(t + i); block != utf8::kUnpaired) {
                bytes += block;
                i += kUnits;
                continue;
            }
        }
        // One unit, or a pair, then the blocks again.
        const std::size_t one = utf8::LengthOf(t, n, i + 1, i);
        if (one == utf8::kUnpaired) return utf8::kUnpaired;
        bytes += one;
    }
    return bytes;
}

// Eight units: stores their bytes if all are ASCII (eight bytes), else the
// bytes of the ASCII run they start with; returns the run's length. At
// least as many bytes of room remain as units, so the store stays in `out`.
inline unsigned AsciiRun(Half v, char* out) noexcept {
    StoreLow8(out, PackUnits(v, v));
    const std::uint32_t ascii = ByteBits(Eq16(And(v, Splat16<Half>(0xFF80)), Zero<Half>()));
    return static_cast<unsigned>(std::countr_one(ascii)) / 2;
}

// Eight units below U+0800 written two bytes a lane, lead then trail byte
// (ASCII lanes: the unit, then a byte to drop): which bytes to keep, in order,
// for each set of ASCII lanes, and how many.
struct Compaction {
    unsigned char keep[16];
    unsigned char length;
};

inline constexpr std::array<Compaction, 256> kCompaction = [] {
    std::array<Compaction, 256> table{};
    for (unsigned ascii = 0; ascii < 256; ++ascii) {
        unsigned k = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            table[ascii].keep[k++] = static_cast<unsigned char>(2 * lane);
            if ((ascii >> lane & 1) == 0)
                table[ascii].keep[k++] = static_cast<unsigned char>(2 * lane + 1);
        }
        table[ascii].length = static_cast<unsigned char>(k);
        while (k < 16) table[ascii].keep[k++] = 0x80;  // shuffles in a zero
    }
    return table;
}();

// Sixteen ASCII units in one narrowing, or eight below U+0800 (accented
// Latin text) through one byte shuffle; false for neither. Needs 16 bytes
// of room, so only while 16 units remain.
template <class V = Half>
inline bool EncodeShuffled(const char16_t*& p, char*& out) noexcept {
    const V v = Load<V>(p);
    const V w = Load<V>(p + 8);
    const V nonAscii = Splat16<V>(0xFF80);
    if (NoneOf(Or(v, w), nonAscii)) {
        Store(out, PackUnits(v, w));
        p += 16;
        out += 16;
        return true;
    }
    if (!NoneOf(v, Splat16<V>(0xF800))) return false;
    const V ascii = Eq16(And(v, nonAscii), Zero<V>());
    const V lead = Or(ShiftRight16<6>(v), Splat16<V>(0xC0));
    const V trail = Or(And(v, Splat16<V>(0x3F)), Splat16<V>(0x80));
    const V bytes = Blend(Or(lead, ShiftLeft16<8>(trail)), v, ascii);
    const Compaction& c = kCompaction[LaneBits(ascii, Zero<V>())];
    Store(out, Shuffle(bytes, Load<V>(c.keep)));
    p += 8;
    out += c.length;
    return true;
}

// Encodes p..end; with kChecked nullptr at an unpaired surrogate instead of
// trusting EncodedLength to have ruled them out.
template <bool kChecked>
char* EncodeBlocks(Isa, const char16_t* p, const char16_t* end, char* out) noexcept {
    // Where the blocks store 16 bytes, 16 units must remain.
    constexpr std::ptrdiff_t kAhead = kShuffles ? 16 : 8;
    while (p < end) {
        if (end - p >= kAhead) {
            if constexpr (kShuffles) {
                if (EncodeShuffled(p, out)) continue;
            }
            const unsigned run = AsciiRun(Load<Half>(p), out);
            p += run;
            out += run;
            if (run == 8) continue;
        }
        out = utf8::EncodeOne<kChecked>(p, end, out);
        if (kChecked && out == nullptr) return nullptr;
    }
    return out;
}

}  // namespace palavox::detail::PALAVOX_ISA

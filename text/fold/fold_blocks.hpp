// Accent folding's block loops, on UTF-16 and on UTF-8, for one instruction
// set: simd_each.hpp compiles this once per set (no include guard), after
// troca_acentos_table.hpp. Without byte shuffles, a test on every byte lets
// through the few that may fold, which the map then takes one at a time;
// with them, every byte of a long text is looked up by its two halves,
// without a branch on the text (in prose whether a block holds an accent is a
// coin toss), and a short one is tested by them, exactly. The
// code that shuffles is a template over the vector, so that a set without
// shuffles never compiles it. Internal to text/.
namespace palavox::detail::PALAVOX_ISA {

// ------------------------------------------------ testing, then the map

// All ones for the bytes in the range.
template <ByteRange kRange, class V>
PALAVOX_OP V InRange(V bytes) noexcept {
    if constexpr (kRange.lo == kRange.hi) {
        return Eq8(bytes, Splat8<V>(kRange.lo));
    } else {
        const V offset = Sub8(bytes, Splat8<V>(kRange.lo));
        return Eq8(SubSatU8(offset, Splat8<V>(kRange.hi - kRange.lo)), Zero<V>());
    }
}

// A bit for each byte in one of the ranges.
template <const auto& kRanges, class V>
PALAVOX_OP std::uint32_t InRanges(V bytes) noexcept {
    return [&]<std::size_t... k>(std::index_sequence<k...>) noexcept {
        V hit = Zero<V>();
        ((hit = Or(hit, InRange<kRanges[k]>(bytes))), ...);
        return ByteBits(hit);
    }
    (std::make_index_sequence<std::size(kRanges)>());
}

// A bit for each byte whose unit the map may change. With shuffles, exactly
// those it changes, in two lookups (kFoldSet), where the ranges take five
// tests each; the template keeps a set without shuffles from compiling it.
template <class V>
PALAVOX_OP std::uint32_t MayFold(V bytes) noexcept {
    if constexpr (kShuffles) {
        const V lowBits = Splat8<V>(0x0F);
        const V columns =
            Shuffle(Table<V>(kFoldSet.columnBit), And(ShiftRight16<4>(bytes), lowBits));
        const V lows = Shuffle(Table<V>(kFoldSet.columnsByLow), And(bytes, lowBits));
        constexpr std::uint32_t kAll = sizeof(V) == 32 ? ~0u : (1u << sizeof(V)) - 1;
        return ByteBits(Eq8(And(columns, lows), Zero<V>())) ^ kAll;
    } else {
        return InRanges<kUnitPrefilter>(bytes);
    }
}

// Folds 2 · sizeof(V) / 2 units: copied, then those the test lets through mapped.
template <class V>
inline void FoldTested(const char16_t* in, char16_t* out) noexcept {
    constexpr std::size_t kLanes = sizeof(V) / sizeof(char16_t);
    const V low = Load<V>(in);
    const V high = Load<V>(in + kLanes);
    Store(out, low);
    Store(out + kLanes, high);
    for (std::uint32_t mask = MayFold(NarrowUnits(low, high)); mask != 0; mask &= mask - 1) {
        const auto lane = static_cast<unsigned>(std::countr_zero(mask));
        out[lane] = kFoldMap[in[lane]];  // below 0x100: see UnitPrefilterIsSound, FoldSetIsExact
    }
}

// Sixteen bytes of UTF-8, if all are ASCII: copied, then those the test lets
// through mapped. False, and nothing written, otherwise.
inline bool FoldAscii(const unsigned char* p, char* out) noexcept {
    const Half v = Load<Half>(p);
    if (ByteBits(v) != 0) return false;
    Store(out, v);
    for (std::uint32_t mask = InRanges<kFoldedAsciiRanges>(v); mask != 0; mask &= mask - 1) {
        const auto lane = static_cast<unsigned>(std::countr_zero(mask));
        if (kFoldedByte[p[lane]] != 0) out[lane] = static_cast<char>(kFoldedByte[p[lane]]);
    }
    return true;
}

// Eight bytes of UTF-8, if all are ASCII: as FoldAscii.
inline bool FoldAscii8(const unsigned char* p, char* out) noexcept {
    const Half v = LoadLow8(p);
    if (ByteBits(v) != 0) return false;
    StoreLow8(out, v);
    for (std::uint32_t mask = InRanges<kFoldedAsciiRanges>(v) & 0xFF; mask != 0; mask &= mask - 1) {
        const auto lane = static_cast<unsigned>(std::countr_zero(mask));
        if (kFoldedByte[p[lane]] != 0) out[lane] = static_cast<char>(kFoldedByte[p[lane]]);
    }
    return true;
}

// A text of 8 bytes or more but shorter than a block of the loops below,
// if all of it is ASCII: folded in steps of sixteen (or eight) bytes, the
// last overlapping the one before, as each byte folds on its own. False
// otherwise, with what `out` holds unspecified.
inline bool FoldShortAscii(Isa, const unsigned char* p, std::size_t n, char* out) noexcept {
    if (n < 16) return FoldAscii8(p, out) && FoldAscii8(p + n - 8, out + n - 8);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        if (!FoldAscii(p + i, out + i)) return false;
    }
    return i == n || FoldAscii(p + n - 16, out + n - 16);
}

// ------------------------------------------------ looking every byte up

// kFoldedByte of each byte: a function whose tables stay in registers while a loop runs.
template <class V = Vec>
inline auto FoldLookup() noexcept {
    const V rowBit = Table<V>(kFoldNibbles.rowBit);
    const V rowsByLow = Table<V>(kFoldNibbles.rowsByLow);
    const V letter[4] = {Table<V>(kFoldNibbles.letter[0]), Table<V>(kFoldNibbles.letter[1]),
                         Table<V>(kFoldNibbles.letter[2]), Table<V>(kFoldNibbles.letter[3])};
    return [=](V x) noexcept {
        const V lowBits = Splat8<V>(0x0F);
        const V low = And(x, lowBits);
        const V high = And(ShiftRight16<4>(x), lowBits);
        const V rows = And(Shuffle(rowBit, high), Shuffle(rowsByLow, low));
        V folded = AndNot(Eq8(rows, Zero<V>()), Splat8<V>(' '));
        for (const FoldException& e : kFoldExceptions) {
            folded = Or(folded, And(Eq8(x, Splat8<V>(e.from)), Splat8<V>(e.to)));
        }
        for (unsigned row = 0; row < 4; ++row) {
            folded = Or(folded, And(Eq8(high, Splat8<V>(0xC + row)), Shuffle(letter[row], low)));
        }
        return folded;
    };
}

// Folds 2 · kUnits units: both vectors narrowed, looked up, and widened
// again where a unit folds. Saturation sends every unit above 0xFF to 0xFF
// or 0x00, both left alone by the map; the narrowing interleaves the 16-byte
// lanes of a and b, which the interleaving back undoes.
template <class V, class LookUp>
inline void FoldLookedUp(const LookUp& lookUp, const char16_t* in, char16_t* out) noexcept {
    constexpr std::size_t kLanes = sizeof(V) / sizeof(char16_t);
    const V a = Load<V>(in);
    const V b = Load<V>(in + kLanes);
    const V folded = lookUp(PackUnits(a, b));
    const V keep = Eq8(folded, Zero<V>());
    Store(out, Blend(InterleaveLow8(folded, Zero<V>()), a, InterleaveLow8(keep, keep)));
    Store(out + kLanes, Blend(InterleaveHigh8(folded, Zero<V>()), b, InterleaveHigh8(keep, keep)));
}

// Folds whole blocks of 2 · sizeof(V) / 2 units from the start: returns how many.
template <class V = Vec>
inline std::size_t FoldUnitsLookedUp(const char16_t* in, char16_t* out, std::size_t n) noexcept {
    constexpr std::size_t kLanes = sizeof(V) / sizeof(char16_t);
    const auto lookUp = FoldLookup<V>();
    std::size_t i = 0;
    for (; i + 2 * kLanes <= n; i += 2 * kLanes) FoldLookedUp<V>(lookUp, in + i, out + i);
    return i;
}

// UTF-8, sizeof(V) bytes a turn while p[i + sizeof(V)] is readable, all
// through the same steps and at a fixed stride, so that turns overlap.
// Output never runs ahead of input, so every store stays within the room
// for n bytes. `i` ends at a code point. kChecked: the bytes are checked as
// they go, a block of anything but ASCII and whole two-byte sequences taken
// by FoldUtf8Checked from its first code point on; nullptr at invalid UTF-8.
template <bool kChecked = false, class V = Vec>
inline char* FoldUtf8LookedUp(const unsigned char* p, std::size_t n, std::size_t& from,
                              char* out) noexcept {
    constexpr std::size_t kLanes = sizeof(V);
    constexpr std::uint32_t kAllLanes = kLanes == 32 ? ~0u : (1u << kLanes) - 1;
    const auto lookUp = FoldLookup<V>();
    std::uint32_t carried = 0;  // the block before ended on a folded lead: drop this trail byte
    std::uint32_t leadBefore =
        0;                 // kChecked: the block before ended on a lead, its trail unchecked
    std::size_t i = from;  // not `from`, which the stores through `out` might reach
    while (n - i >= kLanes + 1) {
        const V v = Load<V>(p + i);
        if constexpr (kChecked) {
            const V cont = Eq8(And(v, Splat8<V>(0xC0)), Splat8<V>(0x80));
            const std::uint32_t leads = ByteBits(Eq8(And(v, Splat8<V>(0xE0)), Splat8<V>(0xC0)));
            const V unsupported = Or(Eq8(MaxU8(v, Splat8<V>(0xE0)), v),
                                     Eq8(And(v, Splat8<V>(0xFE)), Splat8<V>(0xC0)));
            const std::uint32_t misplaced =
                ByteBits(cont) ^ (((leads << 1) | leadBefore) & kAllLanes);
            if ((ByteBits(unsupported) | misplaced) != 0) {
                // From the lead the block before ended on, whose one byte out is taken back.
                i -= leadBefore;
                out -= leadBefore;
                for (const std::size_t stop = i + kLanes + leadBefore; i < stop;) {
                    if (!FoldUtf8Checked(p, n, i, out)) return nullptr;
                }
                carried = leadBefore = 0;
                continue;
            }
            leadBefore = leads >> (kLanes - 1);
        }
        // Where a lead C2 or C3 is, its code point's low byte: the trail byte, plus 0x40 after C3.
        const V next = Load<V>(p + i + 1);
        const V lead = Eq8(And(v, Splat8<V>(0xFE)), Splat8<V>(0xC2));
        const V point = Or(Or(And(next, Splat8<V>(0x3F)), Splat8<V>(0x80)),
                           And(Eq8(v, Splat8<V>(0xC3)), Splat8<V>(0x40)));
        const V ascii = GreaterS8(v, Splat8<V>(0xFF));
        const V x = Blend(Blend(Splat8<V>(kStays), point, lead), v, ascii);
        const V folded = lookUp(x);
        const std::uint32_t foldedLeads = ByteBits(AndNot(Eq8(folded, Zero<V>()), lead));
        // The folded byte where there is one, the byte itself elsewhere; a
        // folded lead drops its trail byte, in this block or the next.
        const V chosen = Or(folded, And(v, Eq8(folded, Zero<V>())));
        out = CompactBytes(chosen, ~((foldedLeads << 1) | carried), out);
        carried = foldedLeads >> (kLanes - 1);
        i += kLanes;
    }
    if constexpr (kChecked) {
        // A last lead's trail is not checked yet: the plain loop takes the lead again.
        from = i - leadBefore;
        return out - leadBefore;
    } else {
        from = i + carried;
        return out;
    }
}

// ------------------------------------------------ the loops

// Folds whole blocks of units from the start: returns how many.
inline std::size_t FoldUnitBlocks(Isa, const char16_t* in, char16_t* out, std::size_t n) noexcept {
    std::size_t i = 0;
    if constexpr (kShuffles) i = FoldUnitsLookedUp(in, out, n);
    // Everything without shuffles; with them, sixteen units of what is left.
    for (; i + 16 <= n; i += 16) FoldTested<Half>(in + i, out + i);
    return i;
}

// Folds a text of 8 units or more but shorter than a block of the loops
// above, in steps of sixteen (or eight) units, the last overlapping the one
// before: each unit folds on its own, and folding a folded unit changes
// nothing, so a unit written twice, even over its input, is written alike.
inline void FoldShortUnits(Isa, const char16_t* in, char16_t* out, std::size_t n) noexcept {
    if (n < 16) {
        // The first eight and the last eight, tested as one vector.
        const Half first = Load<Half>(in);
        const Half last = Load<Half>(in + n - 8);
        Store(out, first);
        Store(out + n - 8, last);
        for (std::uint32_t mask = MayFold(NarrowUnits(first, last)); mask != 0; mask &= mask - 1) {
            const auto lane = static_cast<unsigned>(std::countr_zero(mask));
            const std::size_t at = lane < 8 ? lane : n - 8 + (lane - 8);
            out[at] = kFoldMap[in[at]];
        }
        return;
    }
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) FoldTested<Half>(in + i, out + i);
    if (i < n) FoldTested<Half>(in + n - 16, out + n - 16);
}

// Folds UTF-8 from p[i] while whole blocks remain; returns the end of what
// it wrote, `i` where it stopped (at a code point). kChecked: on bytes not
// yet checked, nullptr at invalid UTF-8.
template <bool kChecked = false>
inline char* FoldUtf8Blocks(Isa, const unsigned char* p, std::size_t n, std::size_t& from,
                            char* out) noexcept {
    if constexpr (kShuffles) {
        return FoldUtf8LookedUp<kChecked>(p, n, from, out);
    } else {
        std::size_t i = from;
        while (n - i >= 16) {
            if (FoldAscii(p + i, out)) {
                i += 16;
                out += 16;
                continue;
            }
            // Code point by code point up to the next sixteen-byte block.
            for (const std::size_t stop = i + 16; i < stop;) {
                if constexpr (kChecked) {
                    if (!FoldUtf8Checked(p, n, i, out)) return nullptr;
                } else {
                    FoldUtf8One(p, n, i, out);
                }
            }
        }
        from = i;
        return out;
    }
}

inline char* FoldUtf8CheckedBlocks(Isa, const unsigned char* p, std::size_t n, std::size_t& from,
                                   char* out) noexcept {
    return FoldUtf8Blocks<true>(Isa{}, p, n, from, out);
}

// The same sixteen bytes a turn, for UTF-8 shorter than two of its blocks.
inline char* FoldUtf8CheckedShortBlocks(Isa, const unsigned char* p, std::size_t n,
                                        std::size_t& from, char* out) noexcept {
    if constexpr (kShuffles) {
        return FoldUtf8LookedUp<true, Half>(p, n, from, out);
    } else {
        return FoldUtf8CheckedBlocks(Isa{}, p, n, from, out);
    }
}

// The same for UTF-8 shorter than two of the loop's blocks (a name, a row),
// sixteen bytes a turn.
inline char* FoldUtf8ShortBlocks(Isa, const unsigned char* p, std::size_t n, std::size_t& from,
                                 char* out) noexcept {
    if constexpr (kShuffles) {
        return FoldUtf8LookedUp<false, Half>(p, n, from, out);
    } else {
        return FoldUtf8Blocks(Isa{}, p, n, from, out);
    }
}

}  // namespace palavox::detail::PALAVOX_ISA

// The matcher's block loops, for one instruction set: simd_each.hpp compiles
// this once per set (no include guard), after probes.hpp and short_search.hpp.
// Internal to text/.
namespace palavox::detail::PALAVOX_ISA {

// ------------------------------------------------ candidates of two probes

// Starts tested by one turn of the candidate loop.
inline constexpr std::size_t kCandidateBlock = 32;

template <ProbeKind kKind>
struct VectorProbe {
    VectorProbe(const Probe& probe, const char16_t* t) noexcept
        : a(Splat16(probe.units.units[0])),
          b(Splat16(probe.units.units[1])),
          c(Splat16(probe.units.units[2])),
          d(Splat16(probe.units.units[3])),
          set(Splat16(probe.bit)),
          at(t + probe.offset) {}

    // Lanes set for the kUnits starts from i where the probe passes.
    Vec Match(std::size_t i) const noexcept {
        const Vec v = Load(at + i);
        if constexpr (kKind == ProbeKind::Exact) {
            return Eq16(v, a);
        } else if constexpr (kKind == ProbeKind::BitPair) {
            return Eq16(Or(v, set), a);
        } else {
            return Or(Or(Eq16(v, a), Eq16(v, b)), Or(Eq16(v, c), Eq16(v, d)));
        }
    }

    Vec a, b, c, d, set;
    const char16_t* at;
};

// Walks whole blocks of starts from `i` while a block fits before `end`, and
// calls visit(block, mask) for each block with a candidate (bit j of mask
// for the start j units in) until visit returns true; then returns true, `i`
// at that block; otherwise false, `i` where the blocks ran out. The test for
// "any candidate" comes first and alone: most blocks have none.
template <ProbeKind kKind, class Visit>
bool CandidateBlocks(Isa, const char16_t* t, const Probes& probes, std::size_t& i, std::size_t end,
                     Visit& visit) noexcept {
    constexpr std::size_t kVectors = kCandidateBlock / kUnits;
    const VectorProbe<kKind> first(probes.first, t), second(probes.second, t);
    for (; i + kCandidateBlock <= end; i += kCandidateBlock) {
        Vec pass[kVectors];
        for (std::size_t q = 0; q < kVectors; ++q) {
            pass[q] = And(first.Match(i + q * kUnits), second.Match(i + q * kUnits));
        }
        if (!AnyLane(Reduce(pass, [&](Vec a, Vec b) noexcept { return Or(a, b); }))) continue;
        std::uint64_t mask = 0;
        for (std::size_t q = 0; q < kVectors; q += 2) {
            mask |= std::uint64_t{LaneBits(pass[q], pass[q + 1])} << (q * kUnits);
        }
        if (visit(i, mask)) return true;
    }
    return false;
}

// ------------------------------------------------ every unit of a short search

struct LaneSplat {
    Vec a, b, c, d, set;
    LaneForm form;
};

inline LaneSplat LaneSplatOf(const LaneTest& test) noexcept {
    return {Splat16(test.units[0]), Splat16(test.units[1]), Splat16(test.units[2]),
            Splat16(test.units[3]), Splat16(test.bit),      test.form};
}

inline Vec LaneMatch(Vec v, const LaneSplat& test) noexcept {
    // branch-untaken: every LaneForm is a case; no other value reaches the switch
    switch (test.form) {
        case LaneForm::One:
            return Eq16(v, test.a);
        case LaneForm::Pair:
            return Eq16(Or(v, test.set), test.a);
        case LaneForm::Four:
            break;
    }
    return Or(Or(Eq16(v, test.a), Eq16(v, test.b)), Or(Eq16(v, test.c), Eq16(v, test.d)));
}

// Bit j set where unit p[j] passes, for a block of units.
inline std::uint64_t LaneMask(const char16_t* p, const LaneSplat& test) noexcept {
    std::uint64_t mask = 0;
    for (std::size_t q = 0; q < kMaskBlock; q += 2 * kUnits) {
        const std::uint32_t bits =
            LaneBits(LaneMatch(Load(p + q), test), LaneMatch(Load(p + q + kUnits), test));
        mask |= std::uint64_t{bits} << q;
    }
    return mask;
}

// What the tests compare with, for the places of the search text: bytes, or
// (kBytes false) lanes. Built for each call, so only what is used.
struct ShortSplats {
    Vec unit[kMaxShortSearch], bit;
    LaneSplat lane[kMaxShortSearch];
};

template <std::size_t kPlaces, bool kBytes>
inline ShortSplats ShortSplatsOf(const ShortSearch& s) noexcept {
    ShortSplats splats;
    splats.bit = Splat8(s.bit);
    for (std::size_t k = 0; k < kPlaces; ++k) {
        if constexpr (kBytes) {
            splats.unit[k] = Splat8(s.place[k].byte.unit);
        } else if (k < s.size) {
            splats.lane[k] = LaneSplatOf(s.place[k].lane);
        }
    }
    return splats;
}

// Narrowed vectors in a block of kMaskBlock units.
inline constexpr std::size_t kByteVectors = kMaskBlock / kWidth;

// The members past 0xFF of the class of place k, for a block that may hold some.
[[gnu::noinline]] inline std::uint64_t ExtraMask(const ShortSearch& s, const char16_t* p,
                                                 std::size_t k) noexcept {
    return s.place[k].hasExtra ? LaneMask(p, LaneSplatOf(s.place[k].extra)) : 0;
}

// The mask of the units of a block, narrowed, that equal `unit`.
inline std::uint64_t ByteMask(const Vec (&bytes)[kByteVectors], Vec unit) noexcept {
    std::uint64_t mask = 0;
    for (std::size_t q = 0; q < kByteVectors; ++q) {
        mask |= std::uint64_t{ByteBits(Eq8(bytes[q], unit))} << (kWidth * q);
    }
    return mask;
}

// Whether narrowed units hold a 0xFF byte, which every unit past 0xFF becomes.
template <std::size_t kCount>
inline bool Saturated(const Vec (&bytes)[kCount]) noexcept {
    const Vec top = Reduce(bytes, [&](Vec a, Vec b) noexcept { return MaxU8(a, b); });
    return AnyLane(Eq8(top, Splat8(0xFF)));
}

// The masks of the block at p, one per place kPlace of the search text: on
// narrowed units, or (kBytes false) in lanes, where places past the end of
// the search text pass everywhere.
template <bool kBytes, std::size_t... kPlace>
[[gnu::always_inline]] inline PlaceMasks BlockMasks(const ShortSearch& s, const ShortSplats& splats,
                                                    const char16_t* p,
                                                    std::index_sequence<kPlace...>) noexcept {
    PlaceMasks masks{};
    if constexpr (kBytes) {
        Vec bytes[kByteVectors], set[kByteVectors];
        for (std::size_t q = 0; q < kByteVectors; ++q) {
            bytes[q] = Narrow(p + kWidth * q);
            set[q] = Or(bytes[q], splats.bit);
        }
        ((masks.at[kPlace] = ByteMask(set, splats.unit[kPlace])), ...);
        if (s.extras) {
            if (Saturated(bytes)) [[unlikely]] {
                ((masks.at[kPlace] |= ExtraMask(s, p, kPlace)), ...);
            }
        }
    } else {
        // Place 0 always exists (a short search has a unit): no test for it.
        ((masks.at[kPlace] = kPlace == 0 || kPlace < s.size ? LaneMask(p, splats.lane[kPlace])
                                                            : ~std::uint64_t{0}),
         ...);
    }
    return masks;
}

// The masks of units [j, j + 64) of the text, none passing past its end.
template <bool kBytes, std::size_t... kPlace>
[[gnu::always_inline]] inline PlaceMasks MasksFrom(const ShortSearch& s, const ShortSplats& splats,
                                                   std::u16string_view text, std::size_t j,
                                                   std::index_sequence<kPlace...> places) noexcept {
    ShortTextUnits copy;
    const BlockSource source = SourceOf(text.data(), j, text.size(), copy);
    PlaceMasks masks = BlockMasks<kBytes>(s, splats, source.units, places);
    // branch-untaken: after the whole blocks, the block after always ends short of 64 units
    if (source.back != 0) {
        // Places past the end of the search text still pass everywhere.
        ((masks.at[kPlace] = kBytes || kPlace == 0 || kPlace < s.size
                                 ? masks.at[kPlace] >> source.back
                                 : masks.at[kPlace]),
         ...);
    }
    return masks;
}

// Visits `blocks` blocks of starts, the first at p, each with the block after
// it in the text; `block` holds the masks of the first on entry, and of the
// one after the last on return.
template <bool kBytes, std::size_t kPlaces, class Visit>
bool VisitBlocks(const ShortSearch& s, const ShortSplats& splats, const char16_t* p,
                 std::size_t blocks, std::size_t at, PlaceMasks& block,
                 std::integral_constant<std::size_t, kPlaces>, Visit& visit) noexcept {
    constexpr auto kPlace = std::make_index_sequence<kPlaces>();
    // Copies, so that they stay in registers.
    PlaceMasks current = block;
    Visit v = visit;
    bool stop = false;
    for (std::size_t j = 0; j < blocks * kMaskBlock && !stop; j += kMaskBlock) {
        const PlaceMasks after = BlockMasks<kBytes>(s, splats, p + j + kMaskBlock, kPlace);
        const std::uint64_t starts = Starts(current, after, kPlace);
        current = after;
        stop = v(at + j, starts);
    }
    block = current;
    visit = v;
    return stop;
}

// Lanes set for the starts among the kWidth bytes at a (b following) where
// every place passes: the places are lined up in the vectors, not in masks.
template <std::size_t... kPlace>
[[gnu::always_inline]] inline std::uint32_t BytePasses(Vec a, Vec b, const ShortSplats& splats,
                                                       std::index_sequence<kPlace...>) noexcept {
    return ByteBits((... & Eq8(ByteWindow<kPlace>(a, b), splats.unit[kPlace])));
}

// The starts of the block at p from its masks in lanes and those of the
// block after it: for a block that may hold members past 0xFF.
[[gnu::noinline]] inline std::uint64_t ExactStarts(const ShortSearch& s,
                                                   const char16_t* p) noexcept {
    PlaceMasks block{}, next{};
    for (std::size_t k = 0; k < kMaxShortSearch; ++k) {
        if (k < s.size) {
            const LaneSplat test = LaneSplatOf(s.place[k].lane);
            block.at[k] = LaneMask(p, test);
            next.at[k] = LaneMask(p + kMaskBlock, test);
        } else {
            block.at[k] = next.at[k] = ~std::uint64_t{0};
        }
    }
    return Starts(block, next, std::make_index_sequence<kMaxShortSearch>());
}

// How far ahead ByteBlocks asks for the text (8 KiB): measured, nearer gains less.
inline constexpr std::size_t kPrefetchUnits = 4096;

// VisitBlocks on narrowed units, with the places lined up in the vectors:
// where windows of bytes are cheap, this costs less than shifting masks.
template <std::size_t kPlaces, class Visit>
bool ByteBlocks(const ShortSearch& s, const ShortSplats& splats, const char16_t* p,
                std::size_t blocks, std::size_t at, Visit& visit) noexcept {
    constexpr auto kPlace = std::make_index_sequence<kPlaces>();
    Visit v = visit;  // a copy, so that it stays in registers
    Vec low[1] = {Narrow(p)};
    bool lowSaturated = s.extras && Saturated(low);
    low[0] = Or(low[0], splats.bit);
    bool stop = false;
    for (std::size_t j = 0; j < blocks * kMaskBlock && !stop; j += kMaskBlock) {
        // Both lines of a block well ahead: the loop is too long for the CPU
        // to run that far ahead itself, and a long text is read at memory speed.
        const std::uintptr_t ahead =
            reinterpret_cast<std::uintptr_t>(p + j) + kPrefetchUnits * sizeof(char16_t);
        Prefetch(ahead);
        Prefetch(ahead + 64);
        // The rest of the block, and the first vector of the next.
        Vec next[kByteVectors];
        for (std::size_t q = 0; q < kByteVectors; ++q) next[q] = Narrow(p + j + kWidth * (q + 1));
        const bool nextSaturated = s.extras && Saturated(next);
        for (std::size_t q = 0; q < kByteVectors; ++q) next[q] = Or(next[q], splats.bit);
        std::uint64_t starts;
        if (lowSaturated || nextSaturated) [[unlikely]] {
            starts = ExactStarts(s, p + j);
        } else {
            starts = BytePasses(low[0], next[0], splats, kPlace);
            for (std::size_t q = 1; q < kByteVectors; ++q) {
                starts |= std::uint64_t{BytePasses(next[q - 1], next[q], splats, kPlace)}
                          << (kWidth * q);
            }
        }
        low[0] = next[kByteVectors - 1];
        lowSaturated = nextSaturated;
        stop = v(at + j, starts);
    }
    visit = v;
    return stop;
}

// Calls visit(block, starts) for each block of starts from `from` (bit j for
// the start j units in; no bit set where no match starts) until visit returns
// true, and then returns true. On narrowed units kPlaces is the length of the
// search text; in lanes it is kMaxShortSearch. The text holds at least one
// start from `from`.
template <std::size_t kPlaces, bool kBytes, class Visit>
bool ShortSearchBlocks(Isa, const ShortSearch& s, std::u16string_view text, std::size_t from,
                       Visit& visit) noexcept {
    constexpr auto kPlace = std::make_index_sequence<kPlaces>();
    const std::size_t n = text.size();
    const std::size_t end = n - s.size + 1;
    const ShortSplats splats = ShortSplatsOf<kPlaces, kBytes>(s);
    // Whole blocks while the block after each is whole, then what is left.
    std::size_t i = from;
    const std::size_t blocks = n - i >= 2 * kMaskBlock ? (n - i) / kMaskBlock - 1 : 0;
    PlaceMasks block;
    if constexpr (kBytes && kCheapByteWindows) {
        if (blocks != 0) {
            if (ByteBlocks<kPlaces>(s, splats, text.data() + i, blocks, i, visit)) return true;
            i += blocks * kMaskBlock;
        }
        block = MasksFrom<kBytes>(s, splats, text, i, kPlace);
    } else {
        block = MasksFrom<kBytes>(s, splats, text, i, kPlace);
        if (blocks != 0) {
            if (VisitBlocks<kBytes>(s, splats, text.data() + i, blocks, i, block,
                                    std::integral_constant<std::size_t, kPlaces>(), visit)) {
                return true;
            }
            i += blocks * kMaskBlock;
        }
    }
    PlaceMasks past{};
    for (std::size_t k = s.size; k < kMaxShortSearch; ++k) past.at[k] = ~std::uint64_t{0};
    for (; i < end; i += kMaskBlock) {
        const PlaceMasks after =
            i + kMaskBlock < n ? MasksFrom<kBytes>(s, splats, text, i + kMaskBlock, kPlace) : past;
        const std::uint64_t starts = Starts(block, after, kPlace) & FirstBits(end - i);
        block = after;
        if (visit(i, starts)) return true;
    }
    return false;
}

}  // namespace palavox::detail::PALAVOX_ISA

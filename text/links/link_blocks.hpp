// Link markup's block loops, for one instruction set: simd_each.hpp compiles
// this once per set (no include guard), after link_rules.hpp. A Unit is a
// UTF-16 unit or a UTF-8 byte: every piece of a link is ASCII, so both are
// compared lane by lane, and a compare gives sizeof(Unit) mask bits a unit.
// Internal to text/.
namespace palavox::detail::PALAVOX_ISA {

// Bits of the 64 bytes of text at p (32 units or 64 bytes): where a link
// ends, and where "http" starts.
template <class Unit>
inline void ClassifyLinks(const Unit* p, std::uint64_t& ends, std::uint64_t& starts) noexcept {
    constexpr std::size_t kLanes = kWidth / sizeof(Unit);
    const Vec caseBit = Splat<Unit>(0x20);
    const auto letter = [&](const Unit* at, char lower) noexcept {
        return Eq<Unit>(Or(Load(at), caseBit), Splat<Unit>(static_cast<unsigned char>(lower)));
    };
    ends = starts = 0;
    for (std::size_t k = 0; k < 64 / kWidth; ++k) {
        const Unit* const q = p + kLanes * k;
        const Vec v = Load(q);
        const Vec http = And(And(letter(q, 'h'), letter(q + 1, 't')),
                             And(letter(q + 2, 't'), letter(q + 3, 'p')));
        const Vec end = Or(Or(Eq<Unit>(v, Splat<Unit>('\r')), Eq<Unit>(v, Splat<Unit>(' '))),
                           Eq<Unit>(v, Splat<Unit>('|')));
        starts |= std::uint64_t{ByteBits(http)} << (kWidth * k);
        ends |= std::uint64_t{ByteBits(end)} << (kWidth * k);
    }
}

// Feeds each whole block to handler.Block(base, in, openBefore, popcount),
// where popcount says whether the CPU counts bits in one instruction, and
// returns the handler; `stop` is where the blocks stopped, 3 units short of
// the end for the loads of "ttp". The handler goes by value, so that its
// state stays in registers while the loop runs.
template <class Unit, class Handler>
Handler LinkBlocks(Isa, const Unit* p, std::size_t n, std::size_t& stop, Handler handler) noexcept {
    constexpr std::size_t kBlock = 64 / sizeof(Unit);
    std::size_t i = 0;
    for (; i + kBlock + 3 <= n; i += kBlock) {
        std::uint64_t ends = 0, starts = 0;
        ClassifyLinks(p + i, ends, starts);
        const bool before = handler.open;
        handler.Block(i, links::InLinks(ends, starts, handler.open), before,
                      std::bool_constant<kPopcount>{});
    }
    stop = i;
    return handler;
}

// The first "http" among the kBytes / sizeof(Unit) starts from t + at
// (kBytes 16 or 8), filtered by their "h" and their "p", but for the first
// `skip` of them; npos if none.
template <std::size_t kBytes, class Unit>
[[gnu::always_inline]] inline std::size_t HttpInWindow(const Unit* t, std::size_t at,
                                                       std::size_t skip = 0) noexcept {
    const auto load = [](const Unit* q) noexcept {
        if constexpr (kBytes == kWidth) {
            return Load(q);
        } else {
            return LoadLow8(q);
        }
    };
    const Vec caseBit = Splat<Unit>(0x20);
    const Vec atH = Eq<Unit>(Or(load(t + at), caseBit), Splat<Unit>('h'));
    const Vec atP = Eq<Unit>(Or(load(t + at + 3), caseBit), Splat<Unit>('p'));
    constexpr auto kLaneBits = static_cast<std::uint32_t>(links::kFirstBits<sizeof(Unit)> &
                                                          ((std::uint64_t{1} << kBytes) - 1));
    const std::uint32_t skipped = (1u << (skip * sizeof(Unit))) - 1;
    for (auto mask = ByteBits(And(atH, atP)) & kLaneBits & ~skipped; mask != 0; mask &= mask - 1) {
        const std::size_t start =
            at + static_cast<std::size_t>(std::countr_zero(mask)) / sizeof(Unit);
        if (links::IsHttpAt(t + start)) return start;
    }
    return std::basic_string_view<Unit>::npos;
}

// The first "http" from `i` among the starts of whole vectors, filtered by
// their "h" and their "p"; npos, with `i` where the vectors ran out, if none.
// The second load reads the "p" of each start, so both stay inside the text
// while i + kLanes + 3 <= n. The starts left over take one more vector that
// ends with the text's last start, skipping those before `i` it overlaps, or
// in a text too short for it two of eight bytes; the plain loop gets only
// the starts of a text shorter than that.
template <class Unit>
[[gnu::always_inline]] inline std::size_t FindHttpBlocks(Isa, const Unit* t, std::size_t n,
                                                         std::size_t& i) noexcept {
    constexpr std::size_t kLanes = kWidth / sizeof(Unit);
    constexpr std::size_t kHalf = 8 / sizeof(Unit);
    const auto npos = std::basic_string_view<Unit>::npos;
    for (; i + kLanes + 3 <= n; i += kLanes) {
        const std::size_t at = HttpInWindow<kWidth>(t, i);
        if (at != npos) return at;
    }
    if (i + 4 > n) return npos;  // no start left
    if (n >= kLanes + 3) {
        // Starts before `i` may lie inside a link already found: skipped.
        const std::size_t at = n - 3 - kLanes;
        const std::size_t skip = i - at;
        i = n - 3;
        return HttpInWindow<kWidth>(t, at, skip);
    }
    if (i + kHalf + 3 <= n) {
        const std::size_t at = HttpInWindow<8>(t, i);
        if (at != npos) return at;
        i = n - 3;
        return HttpInWindow<8>(t, n - 3 - kHalf);
    }
    return npos;
}

#include "utf8/utf8_two_byte.hpp"

// A short UTF-8 text (11 bytes or more) checked and searched for its first
// "http" in the same loads: windows of 16 bytes (or 8, below 19), each loaded
// at its starts and again at their "p", the last window ending with the text.
// True, with `first` the first "http" or npos, when the text is valid ASCII
// and two-byte sequences (the names and rows of Latin scripts); false says
// only that it did not prove it, the full check to decide. The windows'
// faults are gathered and looked at once: a text's accents fall anywhere.
// In sixteen-byte vectors whatever the kernel, as the search for "http".
template <std::size_t kBytes, class Unit>
[[gnu::always_inline]] inline std::size_t FirstHttpIn(const Unit* t, std::size_t at, Half starts,
                                                      Half ps, std::size_t skip) noexcept {
    const Half caseBit = Splat8<Half>(0x20);
    const Half atH = Eq8(Or(starts, caseBit), Splat8<Half>('h'));
    const Half atP = Eq8(Or(ps, caseBit), Splat8<Half>('p'));
    constexpr auto kAll = static_cast<std::uint32_t>((std::uint64_t{1} << kBytes) - 1);
    const std::uint32_t skipped = (1u << skip) - 1;
    for (auto mask = ByteBits(And(atH, atP)) & kAll & ~skipped; mask != 0; mask &= mask - 1) {
        const std::size_t start = at + static_cast<std::size_t>(std::countr_zero(mask));
        if (links::IsHttpAt(t + start)) return start;
    }
    return std::string_view::npos;
}

template <class Unit>
inline bool CheckedFirstHttp(Isa, const Unit* t, std::size_t n, std::size_t& first) noexcept {
    static_assert(sizeof(Unit) == 1, "UTF-8 bytes");
    constexpr std::size_t kHalf = 16;
    const auto* p = reinterpret_cast<const unsigned char*>(t);
    const auto leadAt = [p](std::size_t k) noexcept { return (p[k] & 0xE0) == 0xC0; };
    first = std::string_view::npos;
    if (leadAt(n - 1)) return false;  // cut short
    std::uint32_t faults = 0;
    if (n < kHalf + 3) {
        // Bytes 0-7 and 3-10, and the last eight; starts 0-7, and on to n - 4.
        const Half a = LoadLow8(t), a3 = LoadLow8(t + 3);
        const Half b = LoadLow8(t + n - 11), b3 = LoadLow8(t + n - 8);
        faults = TwoByteFaults<8>(a, false) | TwoByteFaults<8>(a3, leadAt(2)) |
                 TwoByteFaults<8>(b3, leadAt(n - 9));
        first = FirstHttpIn<8>(t, 0, a, a3, 0);
        if (first == std::string_view::npos) first = FirstHttpIn<8>(t, n - 11, b, b3, 19 - n);
        return faults == 0;
    }
    // Each whole window's bytes are those of its starts; the last window
    // checks its bytes at both loads, reaching the end.
    std::size_t j = 0;
    for (; j + kHalf + 3 <= n; j += kHalf) {
        const Half v = Load<Half>(t + j), v3 = Load<Half>(t + j + 3);
        faults |= TwoByteFaults<kHalf>(v, j != 0 && leadAt(j - 1));
        if (first == std::string_view::npos) first = FirstHttpIn<kHalf>(t, j, v, v3, 0);
    }
    const std::size_t at = n - 3 - kHalf;
    const Half v = Load<Half>(t + at), v3 = Load<Half>(t + at + 3);
    faults |= TwoByteFaults<kHalf>(v, at != 0 && leadAt(at - 1)) |
              TwoByteFaults<kHalf>(v3, leadAt(at + 2));
    // Starts before j were searched already.
    if (first == std::string_view::npos) first = FirstHttpIn<kHalf>(t, at, v, v3, j - at);
    return faults == 0;
}

// The first unit from `i` that ends a link, or where whole vectors ran out.
template <class Unit>
[[gnu::always_inline]] inline std::size_t FindLinkEndBlocks(Isa, const Unit* t, std::size_t n,
                                                            std::size_t i) noexcept {
    constexpr std::size_t kLanes = kWidth / sizeof(Unit);
    const Vec cr = Splat<Unit>('\r');
    const Vec space = Splat<Unit>(' ');
    const Vec bar = Splat<Unit>('|');
    for (; i + kLanes <= n; i += kLanes) {
        const Vec v = Load(t + i);
        const std::uint32_t mask =
            ByteBits(Or(Or(Eq<Unit>(v, cr), Eq<Unit>(v, space)), Eq<Unit>(v, bar)));
        if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask)) / sizeof(Unit);
    }
    return i;
}

}  // namespace palavox::detail::PALAVOX_ISA

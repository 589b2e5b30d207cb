// What a link is and what it becomes, for the UTF-16 routine and its UTF-8
// form alike: every piece here is ASCII, so the same rules hold for code
// units and for bytes (UTF-8 puts no ASCII byte inside a longer sequence).
// Internal to text/.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace palavox::detail::links {

// An ASCII literal as a string of `Unit`s.
template <class Unit, std::size_t N>
struct Ascii {
    constexpr Ascii(const char (&text)[N]) noexcept {
        for (std::size_t i = 0; i < N; ++i) units[i] = static_cast<Unit>(text[i]);
    }
    constexpr std::basic_string_view<Unit> view() const noexcept { return {units.data(), N - 1}; }
    std::array<Unit, N> units{};
};

template <class Unit>
struct Pieces {
    static constexpr Ascii<Unit, 6> kSelf{"_self"};
    static constexpr Ascii<Unit, 10> kOpen{"<a href=\""};
    static constexpr Ascii<Unit, 11> kTarget{"\" target=\""};
    static constexpr Ascii<Unit, 3> kClose{"\">"};
    static constexpr Ascii<Unit, 5> kEnd{"</a>"};
    static constexpr Ascii<Unit, 18> kSelfBetween{"\" target=\"_self\">"};
    static constexpr std::basic_string_view<Unit> kDefaultTarget = kSelf.view();
    static constexpr std::basic_string_view<Unit> kAnchorOpen = kOpen.view();
    static constexpr std::basic_string_view<Unit> kAnchorTarget = kTarget.view();
    static constexpr std::basic_string_view<Unit> kAnchorClose = kClose.view();
    static constexpr std::basic_string_view<Unit> kAnchorEnd = kEnd.view();
    // kAnchorTarget, kDefaultTarget and kAnchorClose together.
    static constexpr std::basic_string_view<Unit> kDefaultBetween = kSelfBetween.view();
    // An anchor's length beside its link (twice) and its target.
    static constexpr std::size_t kAnchorFixed =
        kAnchorOpen.size() + kAnchorTarget.size() + kAnchorClose.size() + kAnchorEnd.size();

    static constexpr std::basic_string_view<Unit> TargetOrDefault(
        std::basic_string_view<Unit> alvo) noexcept {
        return alvo.empty() ? kDefaultTarget : alvo;
    }
};

template <class Unit>
constexpr bool JoinsDefaultBetween() noexcept {
    using P = Pieces<Unit>;
    const auto between = P::kDefaultBetween;
    const std::size_t target = P::kAnchorTarget.size(), self = P::kDefaultTarget.size();
    return between.substr(0, target) == P::kAnchorTarget &&
           between.substr(target, self) == P::kDefaultTarget &&
           between.substr(target + self) == P::kAnchorClose;
}
static_assert(JoinsDefaultBetween<char>() && JoinsDefaultBetween<char16_t>());

// Whether `unit` matches `lower`, one of the small letters of "http", under
// TextCompare. Simple case folding sends nothing but h/H, t/T and p/P to those
// letters (the case-folding tests check this over every code point), so
// setting the case bit decides it; a byte of a longer UTF-8 sequence never
// matches. Not valid for other letters: k and s have a third unit folding to them.
template <class Unit>
constexpr bool MatchesHttpLetter(Unit unit, char lower) noexcept {
    return (static_cast<std::uint32_t>(unit) | 0x20) == static_cast<std::uint32_t>(lower);
}

template <class Unit>
constexpr bool IsHttpAt(const Unit* p) noexcept {
    return MatchesHttpLetter(p[0], 'h') && MatchesHttpLetter(p[1], 't') &&
           MatchesHttpLetter(p[2], 't') && MatchesHttpLetter(p[3], 'p');
}

// A link stops before the first carriage return, space or "|".
template <class Unit>
constexpr bool EndsLink(Unit unit) noexcept {
    return unit == Unit('\r') || unit == Unit(' ') || unit == Unit('|');
}

// Finding links a block at a time, without a branch per link: one bit per
// position (or two per UTF-16 unit, as _mm_movemask_epi8 gives them) says
// which end a link and where "http" starts. A link runs from the first "http"
// after an end to the next end, so the positions inside links are, in each
// run without an end, those from its first "http" on: the carries of one
// addition find them. `open`: a link runs on from the block before;
// afterwards, into the next one.
inline std::uint64_t InLinks(std::uint64_t ends, std::uint64_t starts, bool& open) noexcept {
    const std::uint64_t runs = ~ends;  // an "http" is never an end
    const std::uint64_t sum = runs + starts + (open ? 1 : 0);
    const std::uint64_t carried = sum ^ runs ^ starts;  // reached by a link from further back
    const std::uint64_t in = runs & (starts | carried);
    open = (in >> 63) != 0;
    return in;
}

// Bits set in a mask, where the instruction is missing (SSE2 alone).
constexpr unsigned CountBits(std::uint64_t x) noexcept {
    x -= (x >> 1) & 0x5555555555555555;
    x = (x & 0x3333333333333333) + ((x >> 2) & 0x3333333333333333);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<unsigned>((x * 0x0101010101010101) >> 56);
}

// What the block loops hand their handler, for masks of kBits bits a
// position: 1 for bytes, 2 for UTF-16 units (as _mm_movemask_epi8 gives them).
template <unsigned kBits>
inline constexpr std::uint64_t kFirstBits = kBits == 1 ? ~std::uint64_t{0} : 0x5555555555555555;

// Calls visit(begin, end) at each edge of a link the blocks hold.
template <unsigned kBits, typename Visit>
struct LinkEdges {
    Visit visit;
    std::size_t begin = 0;  // of the link last begun
    bool open = false;

    template <class Popcount>
    void Block(std::size_t base, std::uint64_t in, bool before, Popcount) noexcept {
        // A link begins where a position in it follows one that is not, and ends the other way
        // round.
        const std::uint64_t prior = (in << kBits) | (before ? (1u << kBits) - 1 : 0);
        for (std::uint64_t edges = (in ^ prior) & kFirstBits<kBits>; edges != 0;
             edges &= edges - 1) {
            const auto bit = static_cast<unsigned>(std::countr_zero(edges));
            const std::size_t at = base + bit / kBits;
            if ((in >> bit) & 1) {
                begin = at;
            } else {
                visit(begin, at);
            }
        }
    }
};

// How many links the blocks hold, and how many positions in them.
template <unsigned kBits>
struct LinkTotals {
    std::size_t links = 0;
    std::size_t bits = 0;
    bool open = false;

    std::size_t positions() const noexcept { return bits / kBits; }

    template <class Popcount>
    void Block(std::size_t, std::uint64_t in, bool before, Popcount) noexcept {
        const std::uint64_t starts =
            in & ~((in << kBits) | (before ? (1u << kBits) - 1 : 0)) & kFirstBits<kBits>;
        if constexpr (Popcount::value) {
            bits += static_cast<std::size_t>(std::popcount(in));
            links += static_cast<std::size_t>(std::popcount(starts));
        } else {
            bits += CountBits(in);
            links += CountBits(starts);
        }
    }
};

}  // namespace palavox::detail::links

// Link markup for the UTF-16 routine and its UTF-8 form alike (Unit: char16_t
// or char; link_rules.hpp says why the same rules hold for both): finding
// the links, sizing the result, writing it. The vector kernels' loops are
// link_blocks.hpp. Internal to text/.
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <string_view>
#include <utility>

#include "link_rules.hpp"
#include "simd/simd.hpp"
#include "primitives/text_writer.hpp"
#define PALAVOX_KERNEL "links/link_blocks.hpp"
#include "simd/simd_each.hpp"

namespace palavox::detail::links {

// The first "http" in any case at or after `from`, or npos. A vector kernel
// scans 16 bytes at a time inlined here: what it scans is a text shorter than
// a block, or what the blocks left.
template <Kernel kKernel, class Unit>
std::size_t FindHttp(std::basic_string_view<Unit> text, std::size_t from) noexcept {
    const Unit* const t = text.data();
    const std::size_t n = text.size();
    std::size_t i = from;
    if constexpr (kKernel != Kernel::Scalar) {
        const std::size_t at = FindHttpBlocks(simd::NarrowIsa<kKernel>{}, t, n, i);
        if (at != text.npos) return at;
    }
    for (; i + 4 <= n; ++i) {
        if (IsHttpAt(t + i)) return i;
    }
    return text.npos;
}

// Where the link going on at `from` ends: the first unit that ends a link, or the end.
template <Kernel kKernel, class Unit>
std::size_t FindLinkEnd(std::basic_string_view<Unit> text, std::size_t from) noexcept {
    const Unit* const t = text.data();
    const std::size_t n = text.size();
    std::size_t i = from;
    if constexpr (kKernel != Kernel::Scalar)
        i = FindLinkEndBlocks(simd::NarrowIsa<kKernel>{}, t, n, i);
    while (i < n && !EndsLink(t[i])) ++i;
    return i;
}

// The kernel's block loop over the text (none for the plain loops, which
// leave everything to what follows the blocks).
template <Kernel kKernel, class Unit, class Handler>
Handler Blocks(std::basic_string_view<Unit> text, std::size_t& stop, Handler handler) noexcept {
    // A text shorter than a block (a name, a row) never enters the kernel's
    // loop, whose call and set-up would cost more than the text.
    if constexpr (kKernel == Kernel::Scalar) {
        stop = 0;
        return handler;
    } else {
        if (text.size() < 64 / sizeof(Unit) + 3) {
            stop = 0;
            return handler;
        }
        return LinkBlocks(simd::Isa<kKernel>{}, text.data(), text.size(), stop, std::move(handler));
    }
}

// Calls visit(begin, end) for each link, left to right, and gives the visitor
// back. Scanning resumes after the link, so an "http" inside a link belongs to
// that link.
template <Kernel kKernel, class Unit, typename Visit>
[[gnu::always_inline]] inline Visit ForEachLink(std::basic_string_view<Unit> text,
                                                Visit visit) noexcept {
    using Edges = LinkEdges<sizeof(Unit), Visit>;
    std::size_t from = 0;
    Edges edges = Blocks<kKernel>(text, from, Edges{std::move(visit)});
    if (edges.open) {
        const std::size_t end = FindLinkEnd<kKernel>(text, from);
        edges.visit(edges.begin, end);
        from = end;
    }
    for (std::size_t begin = FindHttp<kKernel>(text, from); begin != text.npos;) {
        const std::size_t end = FindLinkEnd<kKernel>(text, begin + 4);
        edges.visit(begin, end);
        begin = FindHttp<kKernel>(text, end);
    }
    return std::move(edges.visit);
}

// The result's length for a text `units` long whose `links` links take
// `linkUnits` of them, for a target `target` units long.
template <class Unit>
std::size_t SizeOf(std::size_t units, std::size_t links, std::size_t linkUnits,
                   std::size_t target) {
    // Where size_t has 32 bits, many links times a long target pass its range;
    // such a result cannot exist (no object takes more than half the address
    // space), and a wrapped size would be written past.
    constexpr std::size_t kMaxUnits = std::numeric_limits<std::size_t>::max() / 2;
    const std::size_t base = units + linkUnits;
    const std::size_t perLink = Pieces<Unit>::kAnchorFixed + target;
    // branch-untaken: base passes half the address space only for texts of a quarter of it
    if (base > kMaxUnits || (links != 0 && perLink > (kMaxUnits - base) / links)) {
        throw std::bad_alloc();
    }
    return base + links * perLink;
}

// The result's length for a target `target` units long: each link grows by
// its second copy and the anchor around it. Counted a block at a time,
// without a branch on the text.
template <Kernel kKernel, class Unit>
std::size_t MarkedUpSize(std::basic_string_view<Unit> text, std::size_t target) {
    std::size_t from = 0;
    const LinkTotals<sizeof(Unit)> totals = Blocks<kKernel>(text, from, LinkTotals<sizeof(Unit)>{});
    std::size_t links = totals.links;
    std::size_t linkUnits = totals.positions();
    if (totals.open) {
        const std::size_t end = FindLinkEnd<kKernel>(text, from);
        linkUnits += end - from;
        from = end;
    }
    for (std::size_t begin = FindHttp<kKernel>(text, from); begin != text.npos;) {
        const std::size_t end = FindLinkEnd<kKernel>(text, begin + 4);
        ++links;
        linkUnits += end - begin;
        begin = FindHttp<kKernel>(text, end);
    }
    return SizeOf<Unit>(text.size(), links, linkUnits, target);
}

// Writes the marked-up text, link by link. Its state is its own (not
// references into a caller), so that it stays in registers.
template <class Unit>
struct MarkUp {
    const Unit* texto;
    std::basic_string_view<Unit> target;
    std::basic_string_view<Unit>
        between;             // kAnchorTarget, target and kAnchorClose together, or empty
    Unit* at;                // where the next unit goes
    std::size_t copied = 0;  // units of texto written so far

    void Put(const Unit* piece, std::size_t n) noexcept {
        CopyUnits(at, piece, n);
        at += n;
    }
    void Put(std::basic_string_view<Unit> piece) noexcept { Put(piece.data(), piece.size()); }

    void operator()(std::size_t begin, std::size_t end) noexcept {
        using P = Pieces<Unit>;
        Put(texto + copied, begin - copied);
        Put(P::kAnchorOpen);
        Put(texto + begin, end - begin);
        if (!between.empty()) {
            Put(between);
        } else {
            Put(P::kAnchorTarget);
            Put(target);
            Put(P::kAnchorClose);
        }
        Put(texto + begin, end - begin);
        Put(P::kAnchorEnd);
        copied = end;
    }
};

// Writes the marked-up text to `out`, with each(markUp) handing every link to
// markUp and giving it back; returns the end.
template <class Unit, class EachLink>
Unit* WriteLinks(std::basic_string_view<Unit> texto, std::basic_string_view<Unit> target, Unit* out,
                 EachLink each) noexcept {
    using P = Pieces<Unit>;
    // What stands between the two copies of a link is the same for every
    // link: put together once, it is one piece a link instead of three.
    constexpr std::size_t kJoinedTarget = 64;
    Unit middle[P::kAnchorTarget.size() + kJoinedTarget + P::kAnchorClose.size()];
    std::basic_string_view<Unit> between;
    if (target == P::kDefaultTarget) {
        between = P::kDefaultBetween;  // most calls: nothing to put together
    } else if (target.size() <= kJoinedTarget) {
        Unit* at = middle;
        at += P::kAnchorTarget.copy(at, P::kAnchorTarget.size());
        at += target.copy(at, target.size());
        at += P::kAnchorClose.copy(at, P::kAnchorClose.size());
        between = std::basic_string_view<Unit>(middle, static_cast<std::size_t>(at - middle));
    }
    MarkUp<Unit> markUp = each(MarkUp<Unit>{texto.data(), target, between, out});
    markUp.Put(texto.data() + markUp.copied, texto.size() - markUp.copied);
    return markUp.at;
}

// Writes the marked-up text, exactly MarkedUpSize units, to `out`; returns its end.
template <Kernel kKernel, class Unit>
Unit* WriteMarkedUp(std::basic_string_view<Unit> texto, std::basic_string_view<Unit> target,
                    Unit* out) noexcept {
    return WriteLinks(texto, target, out,
                      [&](MarkUp<Unit> markUp) { return ForEachLink<kKernel>(texto, markUp); });
}

// A link as found: where it begins and ends in the text.
struct Span {
    std::size_t begin, end;
};

// The links of a text kept as they are found, up to kMost of them; past
// that, only counted.
template <std::size_t kMost>
struct KeptLinks {
    Span* spans;
    std::size_t links = 0;
    std::size_t units = 0;  // in links

    void operator()(std::size_t begin, std::size_t end) noexcept {
        if (links < kMost) spans[links] = {begin, end};
        ++links;
        units += end - begin;
    }
};

// The links of a text and the size of its markup. A short text (a name, a
// comment, a row) is scanned once, its links kept for writing, unless it has
// more than fit here; any other is sized block by block and scanned again to
// write it, as that is faster on long texts than stopping at each link.
template <Kernel kKernel, class Unit>
class FoundLinks {
public:
    static constexpr std::size_t kShortText = 256;  // units
    static constexpr std::size_t kKept = 8;

    FoundLinks(std::basic_string_view<Unit> texto, std::basic_string_view<Unit> target)
        : texto_(texto), target_(target) {
        if (texto.size() < kShortText) {
            const KeptLinks<kKept> kept = ForEachLink<kKernel>(texto, KeptLinks<kKept>{spans_});
            if (kept.links <= kKept) {
                kept_ = kept.links;
                size_ = SizeOf<Unit>(texto.size(), kept.links, kept.units, target.size());
                return;
            }
        }
        kept_ = kNotKept;
        size_ = MarkedUpSize<kKernel>(texto, target.size());
    }

    // A short text whose first link begins at `first`, found already: the
    // scan goes on from there, link by link (too few units for the blocks).
    FoundLinks(std::basic_string_view<Unit> texto, std::basic_string_view<Unit> target,
               std::size_t first)
        : texto_(texto), target_(target) {
        KeptLinks<kKept> kept{spans_};
        for (std::size_t begin = first; begin != texto.npos;) {
            if (kept.links == kKept) {
                kept_ = kNotKept;
                size_ = MarkedUpSize<kKernel>(texto, target.size());
                return;
            }
            const std::size_t end = FindLinkEnd<kKernel>(texto, begin + 4);
            kept(begin, end);
            begin = FindHttp<kKernel>(texto, end);
        }
        kept_ = kept.links;
        size_ = SizeOf<Unit>(texto.size(), kept.links, kept.units, target.size());
    }

    // Units the markup takes: the text's own length where it has no link.
    std::size_t size() const noexcept { return size_; }

    // Writes the markup, exactly size() units, to `out`; returns its end.
    Unit* Write(Unit* out) const noexcept {
        if (kept_ == kNotKept) return WriteMarkedUp<kKernel>(texto_, target_, out);
        return WriteLinks(texto_, target_, out, [&](MarkUp<Unit> markUp) {
            for (std::size_t k = 0; k < kept_; ++k) markUp(spans_[k].begin, spans_[k].end);
            return markUp;
        });
    }

private:
    static constexpr std::size_t kNotKept = static_cast<std::size_t>(-1);
    std::basic_string_view<Unit> texto_, target_;
    std::size_t size_ = 0;
    std::size_t kept_ = 0;
    Span spans_[kKept];
};

// The markup as FoundLinks finds it (from a short text's first link, `first`,
// when that is not npos), into room(size), which gives room for exactly size
// units or nullptr to have nothing written; returns the size. Out of line, so
// that a name's call does not set up this frame.
template <Kernel kKernel, class Unit, class Room>
[[gnu::noinline]] std::size_t MarkUpFound(std::basic_string_view<Unit> texto,
                                          std::basic_string_view<Unit> target, Room room,
                                          std::size_t first = std::basic_string_view<Unit>::npos) {
    using Found = FoundLinks<kKernel, Unit>;
    const Found found = first == texto.npos ? Found(texto, target) : Found(texto, target, first);
    Unit* const out = room(found.size());
    if (out != nullptr) found.Write(out);
    return found.size();
}

// A short text, its first "http" at `first` (npos if none): one without a
// link (a name) is copied, with nothing set up for links; one with links is
// scanned on from there, not again from its start.
template <Kernel kKernel, class Unit, class Room>
std::size_t MarkUpShort(std::basic_string_view<Unit> texto, std::basic_string_view<Unit> target,
                        std::size_t first, Room room) {
    if (first == texto.npos) {
        Unit* const out = room(texto.size());
        if (out != nullptr) CopyUnits(out, texto.data(), texto.size());
        return texto.size();
    }
    return MarkUpFound<kKernel>(texto, target, room, first);
}

// The same for any text.
template <Kernel kKernel, class Unit, class Room>
std::size_t MarkUpText(std::basic_string_view<Unit> texto, std::basic_string_view<Unit> target,
                       Room room) {
    if (texto.size() < FoundLinks<kKernel, Unit>::kShortText) {
        return MarkUpShort<kKernel>(texto, target, FindHttp<kKernel>(texto, 0), room);
    }
    return MarkUpFound<kKernel>(texto, target, room);
}

}  // namespace palavox::detail::links

#include <bit>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "palavox/mod_palavox.hpp"
#include "simd.hpp"
#include "link_rules.hpp"
#include "text_writer.hpp"

namespace palavox::ModPalavox {
namespace {

using detail::links::CountBits;
using detail::links::EndsLink;
using detail::links::InLinks;
using detail::links::IsHttpAt;
using detail::links::MatchesHttpLetter;
using Pieces = detail::links::Pieces<char16_t>;
// Two mask bits a unit.
template <typename Visit>
using LinkEdges = detail::links::LinkEdges<2, Visit>;
using LinkTotals = detail::links::LinkTotals<2>;
constexpr std::u16string_view kAnchorOpen = Pieces::kAnchorOpen;
constexpr std::u16string_view kAnchorTarget = Pieces::kAnchorTarget;
constexpr std::u16string_view kAnchorClose = Pieces::kAnchorClose;
constexpr std::u16string_view kAnchorEnd = Pieces::kAnchorEnd;
constexpr std::size_t kAnchorFixed = Pieces::kAnchorFixed;



template <bool kVector>
std::size_t FindHttp(std::u16string_view text, std::size_t from) noexcept {
    const char16_t* const t = text.data();
    const std::size_t n = text.size();
    std::size_t i = from;
#if PALAVOX_SSE2
    if constexpr (kVector) {
        // Eight starts at a time, filtered by their "h" and their "p".
        const __m128i caseBit = detail::simd::Splat(0x20);
        const __m128i h = detail::simd::Splat(u'h');
        const __m128i p = detail::simd::Splat(u'p');
        // The second load reads units i+3 .. i+10 (the "p" of each start), so
        // both loads stay inside the text while i + 11 <= n; the starts left
        // over go to the plain loop.
        for (; i + 11 <= n; i += 8) {
            const __m128i atH =
                _mm_cmpeq_epi16(_mm_or_si128(detail::simd::Load(t + i), caseBit), h);
            const __m128i atP =
                _mm_cmpeq_epi16(_mm_or_si128(detail::simd::Load(t + i + 3), caseBit), p);
            for (unsigned mask = detail::simd::Mask(_mm_and_si128(atH, atP)); mask != 0;
                 mask = detail::simd::DropFirstLane(mask)) {
                const std::size_t at = i + detail::simd::FirstLane(mask);
                if (IsHttpAt(t + at)) return at;
            }
        }
    }
#endif
    for (; i + 4 <= n; ++i) {
        if (IsHttpAt(t + i)) return i;
    }
    return std::u16string_view::npos;
}

template <bool kVector>
std::size_t FindLinkEnd(std::u16string_view text, std::size_t from) noexcept {
    const char16_t* const t = text.data();
    const std::size_t n = text.size();
    std::size_t i = from;
#if PALAVOX_SSE2
    if constexpr (kVector) {
        const __m128i cr = detail::simd::Splat(u'\r');
        const __m128i space = detail::simd::Splat(u' ');
        const __m128i bar = detail::simd::Splat(u'|');
        for (; i + 8 <= n; i += 8) {
            const __m128i v = detail::simd::Load(t + i);
            const unsigned mask = detail::simd::Mask(
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, space)),
                             _mm_cmpeq_epi16(v, bar)));
            if (mask != 0) return i + detail::simd::FirstLane(mask);
        }
    }
#endif
    while (i < n && !EndsLink(t[i])) ++i;
    return i;
}

// Finding links a block at a time, without a branch per link: for 32 units,
// two bits per unit (as _mm_movemask_epi8 gives them) say which units end a
// link and where "http" starts. A link runs from the first "http" after an
// end to the next end, so the units inside links are, in each run without an
// end, those from its first "http" on: carries of an addition find them
// (InLinks). Blocks stop 3 units short of the end, for the loads of "ttp".
constexpr std::size_t kLinkBlock = 32;

#if PALAVOX_SSE2
inline void ClassifySse2(const char16_t* p, std::uint64_t& ends, std::uint64_t& starts) noexcept {
    namespace simd = detail::simd;
    const __m128i caseBit = simd::Splat(0x20);
    const auto letter = [&](const char16_t* at, char16_t lower) noexcept {
        return _mm_cmpeq_epi16(_mm_or_si128(simd::Load(at), caseBit), simd::Splat(lower));
    };
    ends = starts = 0;
    for (unsigned k = 0; k < 4; ++k) {
        const char16_t* const q = p + 8 * k;
        const __m128i v = simd::Load(q);
        const __m128i http = _mm_and_si128(_mm_and_si128(letter(q, u'h'), letter(q + 1, u't')),
                                           _mm_and_si128(letter(q + 2, u't'), letter(q + 3, u'p')));
        const __m128i end = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi16(v, simd::Splat(u'\r')), _mm_cmpeq_epi16(v, simd::Splat(u' '))),
            _mm_cmpeq_epi16(v, simd::Splat(u'|')));
        starts |= std::uint64_t{simd::Mask(http)} << (16 * k);
        ends |= std::uint64_t{simd::Mask(end)} << (16 * k);
    }
}

// Feeds each whole block to handler.Block(base, in, openBefore, popcount),
// where popcount says whether the CPU counts bits in one instruction, and
// returns the handler; `stop` is where the blocks stopped. The handler goes
// by value, so that its state stays in registers while the loop runs.
template <class Handler>
Handler LinkBlocksSse2(std::u16string_view text, std::size_t& stop, Handler handler) noexcept {
    std::size_t i = 0;
    for (; i + kLinkBlock + 3 <= text.size(); i += kLinkBlock) {
        std::uint64_t ends = 0, starts = 0;
        ClassifySse2(text.data() + i, ends, starts);
        const bool before = handler.open;
        handler.Block(i, InLinks(ends, starts, handler.open), before, std::false_type{});
    }
    stop = i;
    return handler;
}
#endif

#if PALAVOX_AVX2
PALAVOX_TARGET_AVX2 inline __m256i LetterAvx2(const char16_t* at, char16_t lower) noexcept {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    return _mm256_cmpeq_epi16(_mm256_or_si256(v, _mm256_set1_epi16(0x20)),
                              _mm256_set1_epi16(static_cast<short>(lower)));
}

PALAVOX_TARGET_AVX2 inline void ClassifyAvx2(const char16_t* p, std::uint64_t& ends,
                                             std::uint64_t& starts) noexcept {
    ends = starts = 0;
    for (unsigned k = 0; k < 2; ++k) {
        const char16_t* const q = p + 16 * k;
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
        const __m256i http =
            _mm256_and_si256(_mm256_and_si256(LetterAvx2(q, u'h'), LetterAvx2(q + 1, u't')),
                             _mm256_and_si256(LetterAvx2(q + 2, u't'), LetterAvx2(q + 3, u'p')));
        const __m256i end = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi16(v, _mm256_set1_epi16(u'\r')),
                            _mm256_cmpeq_epi16(v, _mm256_set1_epi16(u' '))),
            _mm256_cmpeq_epi16(v, _mm256_set1_epi16(u'|')));
        starts |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(http))} << (32 * k);
        ends |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(end))} << (32 * k);
    }
}

template <class Handler>
PALAVOX_TARGET_AVX2 Handler LinkBlocksAvx2(std::u16string_view text, std::size_t& stop,
                                           Handler handler) noexcept {
    std::size_t i = 0;
    for (; i + kLinkBlock + 3 <= text.size(); i += kLinkBlock) {
        std::uint64_t ends = 0, starts = 0;
        ClassifyAvx2(text.data() + i, ends, starts);
        const bool before = handler.open;
        handler.Block(i, InLinks(ends, starts, handler.open), before, std::true_type{});
    }
    stop = i;
    return handler;
}
#endif

template <detail::Kernel kKernel, class Handler>
Handler LinkBlocks(std::u16string_view text, std::size_t& stop, Handler handler) noexcept {
#if PALAVOX_AVX2
    if constexpr (kKernel == detail::Kernel::Avx2) {
        return LinkBlocksAvx2(text, stop, std::move(handler));
    } else
#endif
#if PALAVOX_SSE2
    if constexpr (kKernel == detail::Kernel::Sse2) {
        return LinkBlocksSse2(text, stop, std::move(handler));
    } else
#endif
    {
        (void)text;
        stop = 0;
        return handler;
    }
}


// Calls visit(begin, end) for each link, left to right, and gives the visitor
// back. Scanning resumes after the link, so an "http" inside a link belongs to
// that link.
template <detail::Kernel kKernel, typename Visit>
Visit ForEachLink(std::u16string_view text, Visit visit) {
    constexpr bool kVector = kKernel != detail::Kernel::Scalar;
    std::size_t from = 0;
    LinkEdges<Visit> edges = LinkBlocks<kKernel>(text, from, LinkEdges<Visit>{std::move(visit)});
    if (edges.open) {
        const std::size_t end = FindLinkEnd<kVector>(text, from);
        edges.visit(edges.begin, end);
        from = end;
    }
    for (std::size_t begin = FindHttp<kVector>(text, from); begin != std::u16string_view::npos;) {
        const std::size_t end = FindLinkEnd<kVector>(text, begin + 4);
        edges.visit(begin, end);
        begin = FindHttp<kVector>(text, end);
    }
    return std::move(edges.visit);
}

// The result's length: each link grows by its second copy and the anchor
// around it. Counted a block at a time, without a branch on the text.
template <detail::Kernel kKernel>
std::size_t MarkedUpSize(std::u16string_view texto, std::u16string_view target) {
    constexpr bool kVector = kKernel != detail::Kernel::Scalar;
    std::size_t from = 0;
    const LinkTotals totals = LinkBlocks<kKernel>(texto, from, LinkTotals{});
    std::size_t links = totals.links;
    std::size_t linkUnits = totals.positions();
    if (totals.open) {
        const std::size_t end = FindLinkEnd<kVector>(texto, from);
        linkUnits += end - from;
        from = end;
    }
    for (std::size_t begin = FindHttp<kVector>(texto, from); begin != std::u16string_view::npos;) {
        const std::size_t end = FindLinkEnd<kVector>(texto, begin + 4);
        ++links;
        linkUnits += end - begin;
        begin = FindHttp<kVector>(texto, end);
    }
    // Where size_t has 32 bits, many links times a long target pass its range;
    // such a result cannot exist, and a wrapped size would be written past.
    constexpr std::size_t kMaxUnits = std::numeric_limits<std::size_t>::max() / sizeof(char16_t);
    const std::size_t base = texto.size() + linkUnits;
    const std::size_t perLink = kAnchorFixed + target.size();
    if (base > kMaxUnits || (links != 0 && perLink > (kMaxUnits - base) / links)) {
        throw std::bad_alloc();
    }
    return base + links * perLink;
}

// Writes the marked-up text, link by link. Its state is its own (not
// references into a caller), so that it stays in registers.
struct MarkUp {
    std::u16string_view texto;
    std::u16string_view target;
    std::u16string_view between;  // kAnchorTarget, target and kAnchorClose together, or empty
    char16_t* at;                 // where the next unit goes
    std::size_t copied = 0;       // units of texto written so far

    void Put(std::u16string_view piece) noexcept {
        detail::CopyUnits(at, piece.data(), piece.size());
        at += piece.size();
    }

    void operator()(std::size_t begin, std::size_t end) noexcept {
        const std::u16string_view link = texto.substr(begin, end - begin);
        Put(texto.substr(copied, begin - copied));
        Put(kAnchorOpen);
        Put(link);
        if (!between.empty()) {
            Put(between);
        } else {
            Put(kAnchorTarget);
            Put(target);
            Put(kAnchorClose);
        }
        Put(link);
        Put(kAnchorEnd);
        copied = end;
    }
};

template <detail::Kernel kKernel>
void WriteMarkedUp(std::u16string_view texto, std::u16string_view target, char16_t* out) {
    // What stands between the two copies of a link is the same for every
    // link: put together once, it is one piece a link instead of three.
    constexpr std::size_t kJoinedTarget = 64;
    char16_t middle[kAnchorTarget.size() + kJoinedTarget + kAnchorClose.size()];
    std::u16string_view between;
    if (target.size() <= kJoinedTarget) {
        char16_t* at = middle;
        at += kAnchorTarget.copy(at, kAnchorTarget.size());
        at += target.copy(at, target.size());
        at += kAnchorClose.copy(at, kAnchorClose.size());
        between = std::u16string_view(middle, static_cast<std::size_t>(at - middle));
    }
    MarkUp markUp = ForEachLink<kKernel>(texto, MarkUp{texto, target, between, out});
    markUp.Put(texto.substr(markUp.copied));
}

}  // namespace

// Sized first, so the result is allocated once.
Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo) {
    const std::u16string_view target = Pieces::TargetOrDefault(alvo);
    return detail::simd::WithKernel([&](auto kernel) {
        const std::size_t size = MarkedUpSize<kernel>(texto, target);
        if (size == texto.size()) return Text(texto);  // no links
        return detail::WrittenText(
            size, [&](char16_t* data) { WriteMarkedUp<kernel>(texto, target, data); });
    });
}

void ConverteLinks(std::u16string_view texto, std::u16string_view alvo, TextSink& resultado) {
    ConverteLinks(texto, alvo, resultado.Allocate(ConverteLinksSize(texto, alvo)));
}

std::size_t ConverteLinksSize(std::u16string_view texto, std::u16string_view alvo) {
    const std::u16string_view target = Pieces::TargetOrDefault(alvo);
    return detail::simd::WithKernel(
        [&](auto kernel) { return MarkedUpSize<kernel>(texto, target); });
}

void ConverteLinks(std::u16string_view texto, std::u16string_view alvo, char16_t* resultado) {
    const std::u16string_view target = Pieces::TargetOrDefault(alvo);
    detail::simd::WithKernel([&](auto kernel) { WriteMarkedUp<kernel>(texto, target, resultado); });
}

}  // namespace palavox::ModPalavox

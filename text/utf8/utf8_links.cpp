// Link markup on UTF-8. A link is the routine's (text/converte_links.cpp):
// "http" in any case, up to the next CR, space or "|", wrapped in the same
// anchor; all of these are ASCII, so the bytes decide exactly as the units
// do. Found a block of 64 bytes at a time in the same way: one bit per byte
// says where a link ends and where "http" starts, and the carries of an
// addition give the bytes inside links (InLinks).
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "link_rules.hpp"
#include "simd.hpp"
#include "utf8_routines.hpp"

namespace palavox::utf8 {
namespace {

using detail::Kernel;
using detail::links::CountBits;
using detail::links::InLinks;
using detail::links::IsHttpAt;
using Pieces = detail::links::Pieces<char>;
// One mask bit a byte.
template <typename Visit>
using LinkEdges = detail::links::LinkEdges<1, Visit>;
using LinkTotals = detail::links::LinkTotals<1>;
constexpr std::string_view kAnchorOpen = Pieces::kAnchorOpen;
constexpr std::string_view kAnchorTarget = Pieces::kAnchorTarget;
constexpr std::string_view kAnchorClose = Pieces::kAnchorClose;
constexpr std::string_view kAnchorEnd = Pieces::kAnchorEnd;
constexpr std::size_t kAnchorFixed = Pieces::kAnchorFixed;

constexpr bool IsLinkEnd(unsigned char b) noexcept { return detail::links::EndsLink(b); }



constexpr std::size_t kNone = static_cast<std::size_t>(-1);

std::size_t FindHttp(const unsigned char* p, std::size_t n, std::size_t from) noexcept {
    for (std::size_t i = from; i + 4 <= n; ++i) {
        if (IsHttpAt(p + i)) return i;
    }
    return kNone;
}

std::size_t FindLinkEnd(const unsigned char* p, std::size_t n, std::size_t from) noexcept {
    std::size_t i = from;
    while (i < n && !IsLinkEnd(p[i])) ++i;
    return i;
}

// Blocks stop 3 bytes short of the end, for the loads of "ttp".
constexpr std::size_t kBlock = 64;


#if PALAVOX_SSE2
inline __m128i LetterSse2(const unsigned char* at, char lower) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8(lower));
}

inline void ClassifySse2(const unsigned char* p, std::uint64_t& ends,
                         std::uint64_t& starts) noexcept {
    ends = starts = 0;
    for (unsigned k = 0; k < 4; ++k) {
        const unsigned char* const q = p + 16 * k;
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        const __m128i http =
            _mm_and_si128(_mm_and_si128(LetterSse2(q, 'h'), LetterSse2(q + 1, 't')),
                          _mm_and_si128(LetterSse2(q + 2, 't'), LetterSse2(q + 3, 'p')));
        const __m128i end = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')),
                                                      _mm_cmpeq_epi8(v, _mm_set1_epi8(' '))),
                                         _mm_cmpeq_epi8(v, _mm_set1_epi8('|')));
        starts |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(http))} << (16 * k);
        ends |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(end))} << (16 * k);
    }
}

// Feeds each whole block to handler.Block(base, in, openBefore, popcount) and
// returns the handler; `stop` is where the blocks stopped. By value, so that
// the handler's state stays in registers.
template <class Handler>
Handler LinkBlocksSse2(const unsigned char* p, std::size_t n, std::size_t& stop,
                       Handler handler) noexcept {
    std::size_t i = 0;
    for (; i + kBlock + 3 <= n; i += kBlock) {
        std::uint64_t ends = 0, starts = 0;
        ClassifySse2(p + i, ends, starts);
        const bool before = handler.open;
        handler.Block(i, InLinks(ends, starts, handler.open), before, std::false_type{});
    }
    stop = i;
    return handler;
}
#endif

#if PALAVOX_AVX2
PALAVOX_TARGET_AVX2 inline __m256i LetterAvx2(const unsigned char* at, char lower) noexcept {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    return _mm256_cmpeq_epi8(_mm256_or_si256(v, _mm256_set1_epi8(0x20)), _mm256_set1_epi8(lower));
}

PALAVOX_TARGET_AVX2 inline void ClassifyAvx2(const unsigned char* p, std::uint64_t& ends,
                                             std::uint64_t& starts) noexcept {
    ends = starts = 0;
    for (unsigned k = 0; k < 2; ++k) {
        const unsigned char* const q = p + 32 * k;
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
        const __m256i http =
            _mm256_and_si256(_mm256_and_si256(LetterAvx2(q, 'h'), LetterAvx2(q + 1, 't')),
                             _mm256_and_si256(LetterAvx2(q + 2, 't'), LetterAvx2(q + 3, 'p')));
        const __m256i end =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')),
                                            _mm256_cmpeq_epi8(v, _mm256_set1_epi8(' '))),
                            _mm256_cmpeq_epi8(v, _mm256_set1_epi8('|')));
        starts |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(http))} << (32 * k);
        ends |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(end))} << (32 * k);
    }
}

template <class Handler>
PALAVOX_TARGET_AVX2 Handler LinkBlocksAvx2(const unsigned char* p, std::size_t n, std::size_t& stop,
                                           Handler handler) noexcept {
    std::size_t i = 0;
    for (; i + kBlock + 3 <= n; i += kBlock) {
        std::uint64_t ends = 0, starts = 0;
        ClassifyAvx2(p + i, ends, starts);
        const bool before = handler.open;
        handler.Block(i, InLinks(ends, starts, handler.open), before, std::true_type{});
    }
    stop = i;
    return handler;
}
#endif

template <Kernel kKernel, class Handler>
Handler LinkBlocks(const unsigned char* p, std::size_t n, std::size_t& stop,
                   Handler handler) noexcept {
#if PALAVOX_AVX2
    if constexpr (kKernel == Kernel::Avx2) {
        return LinkBlocksAvx2(p, n, stop, std::move(handler));
    } else
#endif
#if PALAVOX_SSE2
        if constexpr (kKernel == Kernel::Sse2) {
        return LinkBlocksSse2(p, n, stop, std::move(handler));
    } else
#endif
    {
        (void)p;
        (void)n;
        stop = 0;
        return handler;
    }
}


// visit(begin, end) for each link, left to right; the visitor comes back.
// Scanning resumes after the link, so an "http" inside a link belongs to it.
template <Kernel kKernel, typename Visit>
Visit ForEachLink(const unsigned char* p, std::size_t n, Visit visit) noexcept {
    std::size_t from = 0;
    LinkEdges<Visit> edges = LinkBlocks<kKernel>(p, n, from, LinkEdges<Visit>{std::move(visit)});
    if (edges.open) {
        const std::size_t end = FindLinkEnd(p, n, from);
        edges.visit(edges.begin, end);
        from = end;
    }
    for (std::size_t begin = FindHttp(p, n, from); begin != kNone;) {
        const std::size_t end = FindLinkEnd(p, n, begin + 4);
        edges.visit(begin, end);
        begin = FindHttp(p, n, end);
    }
    return std::move(edges.visit);
}

template <Kernel kKernel>
std::size_t SizeWith(const unsigned char* p, std::size_t n, std::size_t target) {
    std::size_t from = 0;
    const LinkTotals totals = LinkBlocks<kKernel>(p, n, from, LinkTotals{});
    std::size_t links = totals.links, linkBytes = totals.positions();
    if (totals.open) {
        const std::size_t end = FindLinkEnd(p, n, from);
        linkBytes += end - from;
        from = end;
    }
    for (std::size_t begin = FindHttp(p, n, from); begin != kNone;) {
        const std::size_t end = FindLinkEnd(p, n, begin + 4);
        ++links;
        linkBytes += end - begin;
        begin = FindHttp(p, n, end);
    }
    // Where size_t has 32 bits, many links times a long target pass its range;
    // such a result cannot exist, and a wrapped size would be written past.
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max() / 2;
    const std::size_t base = n + linkBytes;
    const std::size_t perLink = kAnchorFixed + target;
    if (base > kMax || (links != 0 && perLink > (kMax - base) / links)) throw std::bad_alloc();
    return base + links * perLink;
}

// Copies short pieces (markup is made of them) with two fixed moves, the
// second overlapping the first, instead of a call; long ones with memcpy.
inline void CopyBytes(char* to, const char* from, std::size_t n) noexcept {
    if (n >= 16) {
        if (n > 32) {
            std::memcpy(to, from, n);
            return;
        }
        std::memcpy(to, from, 16);
        std::memcpy(to + n - 16, from + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n > 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

struct MarkUp {
    const char* texto;
    std::string_view target;
    std::string_view between;  // kAnchorTarget, target and kAnchorClose together, or empty
    char* at;                  // where the next byte goes
    std::size_t copied = 0;    // bytes of texto written so far

    void Put(const char* piece, std::size_t n) noexcept {
        CopyBytes(at, piece, n);
        at += n;
    }
    void Put(std::string_view piece) noexcept { Put(piece.data(), piece.size()); }

    void operator()(std::size_t begin, std::size_t end) noexcept {
        Put(texto + copied, begin - copied);
        Put(kAnchorOpen);
        Put(texto + begin, end - begin);
        if (!between.empty()) {
            Put(between);
        } else {
            Put(kAnchorTarget);
            Put(target);
            Put(kAnchorClose);
        }
        Put(texto + begin, end - begin);
        Put(kAnchorEnd);
        copied = end;
    }
};

template <Kernel kKernel>
char* WriteWith(std::string_view texto, std::string_view target, char* out) noexcept {
    // What stands between the two copies of a link is the same for every
    // link: put together once, it is one piece a link instead of three.
    constexpr std::size_t kJoinedTarget = 64;
    char middle[kAnchorTarget.size() + kJoinedTarget + kAnchorClose.size()];
    std::string_view between;
    if (target.size() <= kJoinedTarget) {
        char* at = middle;
        at += kAnchorTarget.copy(at, kAnchorTarget.size());
        at += target.copy(at, target.size());
        at += kAnchorClose.copy(at, kAnchorClose.size());
        between = std::string_view(middle, static_cast<std::size_t>(at - middle));
    }
    const auto* p = reinterpret_cast<const unsigned char*>(texto.data());
    MarkUp markUp =
        ForEachLink<kKernel>(p, texto.size(), MarkUp{texto.data(), target, between, out});
    markUp.Put(texto.data() + markUp.copied, texto.size() - markUp.copied);
    return markUp.at;
}

}  // namespace

std::size_t FindLinkStart(std::string_view texto, std::size_t from) noexcept {
    const std::size_t at =
        FindHttp(reinterpret_cast<const unsigned char*>(texto.data()), texto.size(), from);
    return at == kNone ? std::string_view::npos : at;
}

bool EndsLink(char byte) noexcept { return IsLinkEnd(static_cast<unsigned char>(byte)); }

std::size_t ConverteLinksSize(std::string_view texto, std::string_view alvo) {
    const auto* p = reinterpret_cast<const unsigned char*>(texto.data());
    const std::size_t target = Pieces::TargetOrDefault(alvo).size();
    return detail::simd::WithKernel(
        [&](auto kernel) { return SizeWith<kernel>(p, texto.size(), target); });
}

char* ConverteLinks(std::string_view texto, std::string_view alvo, char* out) noexcept {
    const std::string_view target = Pieces::TargetOrDefault(alvo);
    return detail::simd::WithKernel(
        [&](auto kernel) { return WriteWith<kernel>(texto, target, out); });
}

}  // namespace palavox::utf8

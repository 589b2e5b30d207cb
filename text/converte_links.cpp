#include "palavox/mod_palavox.hpp"
#include "simd.hpp"
#include "text_writer.hpp"

namespace palavox::ModPalavox {
namespace {

constexpr std::u16string_view kDefaultTarget = u"_self";
constexpr std::u16string_view kAnchorOpen = u"<a href=\"";
constexpr std::u16string_view kAnchorTarget = u"\" target=\"";
constexpr std::u16string_view kAnchorClose = u"\">";
constexpr std::u16string_view kAnchorEnd = u"</a>";
constexpr std::size_t kAnchorFixed =
    kAnchorOpen.size() + kAnchorTarget.size() + kAnchorClose.size() + kAnchorEnd.size();

// Whether `unit` matches `lower`, one of the small letters of "http", under
// TextCompare. Simple case folding sends nothing but h/H, t/T and p/P to those
// letters (the case-folding tests check this over every code point), so
// setting the case bit decides it. Not valid for other letters: k and s have
// a third unit folding to them.
constexpr bool MatchesHttpLetter(char16_t unit, char16_t lower) noexcept {
    return (unit | 0x20) == lower;
}

constexpr bool IsHttpAt(const char16_t* p) noexcept {
    return MatchesHttpLetter(p[0], u'h') && MatchesHttpLetter(p[1], u't') &&
           MatchesHttpLetter(p[2], u't') && MatchesHttpLetter(p[3], u'p');
}

constexpr bool EndsLink(char16_t unit) noexcept {
    return unit == u'\r' || unit == u' ' || unit == u'|';
}

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

// Calls visit(begin, end) for each link, left to right. Scanning resumes after
// the link, so an "http" inside a link belongs to that link.
template <bool kVector, typename Visit>
void ForEachLink(std::u16string_view text, Visit visit) {
    for (std::size_t begin = FindHttp<kVector>(text, 0); begin != std::u16string_view::npos;) {
        const std::size_t end = FindLinkEnd<kVector>(text, begin + 4);
        visit(begin, end);
        begin = FindHttp<kVector>(text, end);
    }
}

// The result's length: each link grows by its second copy and the anchor around it.
template <bool kVector>
std::size_t MarkedUpSize(std::u16string_view texto, std::u16string_view target) {
    std::size_t size = texto.size();
    ForEachLink<kVector>(texto, [&](std::size_t begin, std::size_t end) {
        size += (end - begin) + kAnchorFixed + target.size();
    });
    return size;
}

template <bool kVector, class Writer>
void WriteMarkedUp(std::u16string_view texto, std::u16string_view target, Writer& out) {
    std::size_t copied = 0;
    ForEachLink<kVector>(texto, [&](std::size_t begin, std::size_t end) {
        const std::u16string_view link = texto.substr(begin, end - begin);
        out.Put(texto.substr(copied, begin - copied));
        out.Put(kAnchorOpen);
        out.Put(link);
        out.Put(kAnchorTarget);
        out.Put(target);
        out.Put(kAnchorClose);
        out.Put(link);
        out.Put(kAnchorEnd);
        copied = end;
    });
    out.Put(texto.substr(copied));
}

constexpr std::u16string_view TargetOrDefault(std::u16string_view alvo) noexcept {
    return alvo.empty() ? kDefaultTarget : alvo;
}

}  // namespace

// Sized first, so the result is allocated once.
Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo) {
    const std::u16string_view target = TargetOrDefault(alvo);
    return detail::simd::WithVectors([&](auto vector) {
        const std::size_t size = MarkedUpSize<vector>(texto, target);
        if (size == texto.size()) return Text(texto);  // no links
        detail::TextWriter out(size);
        WriteMarkedUp<vector>(texto, target, out);
        return out.Finish();
    });
}

void ConverteLinks(std::u16string_view texto, std::u16string_view alvo, TextSink& resultado) {
    const std::u16string_view target = TargetOrDefault(alvo);
    detail::simd::WithVectors([&](auto vector) {
        detail::SinkWriter out(resultado, MarkedUpSize<vector>(texto, target));
        WriteMarkedUp<vector>(texto, target, out);
    });
}

}  // namespace palavox::ModPalavox

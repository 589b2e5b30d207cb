#include "palavox/mod_palavox.hpp"

namespace palavox::ModPalavox {
namespace {

constexpr std::u16string_view kDefaultTarget = u"_self";
constexpr std::u16string_view kAnchorOpen = u"<a href=\"";
constexpr std::u16string_view kAnchorTarget = u"\" target=\"";
constexpr std::u16string_view kAnchorClose = u"\">";
constexpr std::u16string_view kAnchorEnd = u"</a>";
constexpr std::size_t kAnchorFixed =
    kAnchorOpen.size() + kAnchorTarget.size() + kAnchorClose.size() + kAnchorEnd.size();

// Under simple case folding only h/H, t/T and p/P fold to the letters of
// "http" (the case-folding tests check this over every code point), so an
// ASCII test matches exactly what TextCompare would.
constexpr bool IsLetter(char16_t unit, char16_t lower) noexcept { return (unit | 0x20) == lower; }

std::size_t FindHttp(std::u16string_view text, std::size_t from) noexcept {
    for (std::size_t i = from; i + 4 <= text.size(); ++i) {
        if (IsLetter(text[i], u'h') && IsLetter(text[i + 1], u't') &&
            IsLetter(text[i + 2], u't') && IsLetter(text[i + 3], u'p')) {
            return i;
        }
    }
    return std::u16string_view::npos;
}

constexpr bool EndsLink(char16_t unit) noexcept {
    return unit == u'\r' || unit == u' ' || unit == u'|';
}

// Calls visit(begin, end) for each link, left to right. Scanning resumes after
// the link, so an "http" inside a link belongs to that link.
template <typename Visit>
void ForEachLink(std::u16string_view text, Visit visit) {
    for (std::size_t begin = FindHttp(text, 0); begin != std::u16string_view::npos;) {
        std::size_t end = begin + 4;
        while (end < text.size() && !EndsLink(text[end])) ++end;
        visit(begin, end);
        begin = FindHttp(text, end);
    }
}

}  // namespace

Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo) {
    const std::u16string_view target = alvo.empty() ? kDefaultTarget : alvo;

    // Size first, so the result is allocated once.
    std::size_t size = texto.size();
    ForEachLink(texto, [&](std::size_t begin, std::size_t end) {
        size += (end - begin) + kAnchorFixed + target.size();
    });

    Text result;
    result.reserve(size);
    std::size_t copied = 0;
    ForEachLink(texto, [&](std::size_t begin, std::size_t end) {
        const std::u16string_view link = texto.substr(begin, end - begin);
        result.append(texto.substr(copied, begin - copied))
            .append(kAnchorOpen).append(link)
            .append(kAnchorTarget).append(target)
            .append(kAnchorClose).append(link)
            .append(kAnchorEnd);
        copied = end;
    });
    result.append(texto.substr(copied));
    return result;
}

}  // namespace palavox::ModPalavox

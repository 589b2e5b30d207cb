// Link markup on UTF-8. A link is the routine's (text/links/converte_links.cpp):
// "http" in any case, up to the next CR, space or "|", wrapped in the same
// anchor; all of these are ASCII, so the bytes decide exactly as the units
// do, and the same code finds, sizes and writes them (link_markup.hpp), a
// block of 64 bytes at a time: one bit per byte says where a link ends and
// where "http" starts, and the carries of an addition give the bytes inside
// links (InLinks).
#include "link_markup.hpp"
#include "utf8/utf8.hpp"
#include "utf8_links.hpp"

namespace palavox::utf8 {

namespace links = detail::links;

std::size_t FindLinkStart(std::string_view texto, std::size_t from) noexcept {
    return detail::simd::WithKernel(
        [&](auto kernel) { return links::FindHttp<kernel>(texto, from); });
}

bool EndsLink(char byte) noexcept { return links::EndsLink(byte); }

std::size_t ConverteLinksSize(std::string_view texto, std::string_view alvo) {
    const std::size_t target = links::Pieces<char>::TargetOrDefault(alvo).size();
    return detail::simd::WithKernel(
        [&](auto kernel) { return links::MarkedUpSize<kernel>(texto, target); });
}

char* ConverteLinks(std::string_view texto, std::string_view alvo, char* out) noexcept {
    const std::string_view target = links::Pieces<char>::TargetOrDefault(alvo);
    return detail::simd::WithKernel(
        [&](auto kernel) { return links::WriteMarkedUp<kernel>(texto, target, out); });
}

void ConverteLinks(std::string_view texto, std::string_view alvo, LinkRoom& room) {
    const std::string_view target = links::Pieces<char>::TargetOrDefault(alvo);
    detail::simd::WithKernel([&](auto kernel) {
        links::MarkUpText<kernel>(texto, target,
                                  [&](std::size_t size) { return room.Allocate(size); });
    });
}

bool ConverteLinksChecked(std::string_view texto, std::string_view alvo, LinkRoom& room) {
    const std::string_view target = links::Pieces<char>::TargetOrDefault(alvo);
    const auto allocate = [&](std::size_t size) { return room.Allocate(size); };
    return detail::simd::WithKernel([&](auto kernel) {
        constexpr std::size_t kShort = links::FoundLinks<kernel, char>::kShortText;
        if constexpr (kernel != detail::Kernel::Scalar) {
            std::size_t first = 0;
            if (texto.size() >= 11 && texto.size() < kShort &&
                CheckedFirstHttp(detail::simd::NarrowIsa<kernel>{}, texto.data(), texto.size(),
                                 first)) {
                links::MarkUpShort<kernel>(texto, target, first, allocate);
                return true;
            }
        }
        if (Validate(texto).valid != texto.size()) return false;
        links::MarkUpText<kernel>(texto, target, allocate);
        return true;
    });
}

}  // namespace palavox::utf8

#include "link_markup.hpp"
#include "palavox/mod_palavox.hpp"

namespace palavox::ModPalavox {

namespace links = detail::links;

// Sized first, so the result is allocated once.
Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo) {
    const std::u16string_view target = links::Pieces<char16_t>::TargetOrDefault(alvo);
    return detail::simd::WithKernel([&](auto kernel) {
        const std::size_t size = links::MarkedUpSize<kernel>(texto, target.size());
        if (size == texto.size()) return Text(texto);  // no links
        return detail::WrittenText(
            size, [&](char16_t* data) { links::WriteMarkedUp<kernel>(texto, target, data); });
    });
}

void ConverteLinks(std::u16string_view texto, std::u16string_view alvo, TextSink& resultado) {
    ConverteLinks(texto, alvo, resultado.Allocate(ConverteLinksSize(texto, alvo)));
}

std::size_t ConverteLinksSize(std::u16string_view texto, std::u16string_view alvo) {
    const std::u16string_view target = links::Pieces<char16_t>::TargetOrDefault(alvo);
    return detail::simd::WithKernel(
        [&](auto kernel) { return links::MarkedUpSize<kernel>(texto, target.size()); });
}

void ConverteLinks(std::u16string_view texto, std::u16string_view alvo, char16_t* resultado) {
    const std::u16string_view target = links::Pieces<char16_t>::TargetOrDefault(alvo);
    detail::simd::WithKernel(
        [&](auto kernel) { links::WriteMarkedUp<kernel>(texto, target, resultado); });
}

}  // namespace palavox::ModPalavox

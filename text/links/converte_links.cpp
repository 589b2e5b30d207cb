#include "link_markup.hpp"
#include "palavox/mod_palavox.hpp"
#include "utf8_links.hpp"

namespace palavox::ModPalavox {

namespace links = detail::links;

// Sized first, so the result is allocated once.
Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo) {
    const std::u16string_view target = links::Pieces<char16_t>::TargetOrDefault(alvo);
    return detail::simd::WithKernel([&](auto kernel) {
        const links::FoundLinks<kernel, char16_t> found(texto, target);
        if (found.size() == texto.size()) return Text(texto);  // no links
        return detail::WrittenText(found.size(), [&](char16_t* data) { found.Write(data); });
    });
}

void ConverteLinks(std::u16string_view texto, std::u16string_view alvo, TextSink& resultado) {
    const std::u16string_view target = links::Pieces<char16_t>::TargetOrDefault(alvo);
    detail::simd::WithKernel([&](auto kernel) {
        links::MarkUpText<kernel>(texto, target,
                                  [&](std::size_t size) { return resultado.Allocate(size); });
    });
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

std::size_t ConverteLinksInto(std::u16string_view texto, std::u16string_view alvo,
                              char16_t* resultado, std::size_t capacity) {
    const std::u16string_view target = links::Pieces<char16_t>::TargetOrDefault(alvo);
    return detail::simd::WithKernel([&](auto kernel) {
        return links::MarkUpText<kernel>(texto, target, [=](std::size_t size) {
            return size <= capacity ? resultado : nullptr;  // written only when it fits
        });
    });
}

}  // namespace palavox::ModPalavox

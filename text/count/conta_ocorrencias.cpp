#include "matcher.hpp"
#include "palavox/mod_palavox.hpp"

namespace palavox::ModPalavox {

std::size_t ContaOcorrencias(std::u16string_view texto, std::u16string_view procura,
                             CompareMode mode) noexcept {
    if (texto.empty() || procura.empty()) return 0;
    // Counting matches left to right without overlap gives the same number as
    // removing them all and measuring the shrinkage, without the copy.
    return texto.size() <= detail::kShortText ? detail::CountByComparing(texto, procura, mode)
                                              : detail::Matcher(procura, mode).Count(texto);
}

struct Contador::Busca {
    Busca(std::u16string_view p, CompareMode m) noexcept : procura(p), mode(m), matcher(p, m) {}
    std::u16string_view procura;
    CompareMode mode;
    detail::Matcher matcher;
};

Contador::Contador(std::u16string_view procura, CompareMode mode)
    : busca_(procura.empty() ? nullptr : std::make_unique<const Busca>(procura, mode)) {}

Contador::~Contador() = default;

// ContaOcorrencias' choice, with the matcher already built.
std::size_t Contador::Conta(std::u16string_view texto) const noexcept {
    if (texto.empty() || busca_ == nullptr) return 0;
    return texto.size() <= detail::kShortText
               ? detail::CountByComparing(texto, busca_->procura, busca_->mode)
               : busca_->matcher.Count(texto);
}

}  // namespace palavox::ModPalavox

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

}  // namespace palavox::ModPalavox

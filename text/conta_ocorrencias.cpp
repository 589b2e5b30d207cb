#include <limits>

#include "matcher.hpp"
#include "palavox/error.hpp"
#include "palavox/mod_palavox.hpp"

namespace palavox::ModPalavox {

std::int32_t ContaOcorrencias(std::u16string_view texto, std::u16string_view procura,
                              std::u16string_view tipo) {
    if (texto.empty() || procura.empty()) return -1;
    const CompareMode mode =
        (tipo == u"B" || tipo == u"b") ? CompareMode::BinaryCompare : CompareMode::TextCompare;
    // Counting matches left to right without overlap gives the same number as
    // removing them all and measuring the shrinkage, without the copy.
    const std::size_t count = texto.size() <= detail::kShortText
                                  ? detail::CountByComparing(texto, procura, mode)
                                  : detail::Matcher(procura, mode).Count(texto);
    if (count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        throw Error(kOverflow, "Overflow");
    }
    return static_cast<std::int32_t>(count);
}

}  // namespace palavox::ModPalavox

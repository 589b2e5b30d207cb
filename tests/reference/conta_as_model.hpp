// The fast counting routine under FindString's rules, in the reference model's
// own terms: the model's ContaOcorrencias takes the selector and gives -1 for
// an empty text or search text, as the literal algorithm does.
#pragma once

#include <cstdint>
#include <string_view>

#include "palavox/mod_palavox.hpp"
#include "palavox/palavox_class.hpp"

namespace palavox::reference {

inline std::int32_t FastContaOcorrencias(std::u16string_view texto, std::u16string_view procura,
                                         std::u16string_view tipo) {
    if (texto.empty() || procura.empty()) return -1;
    const PalavoxClass::FindStringFrame frame(procura, tipo);
    return frame.Result(texto.size(), ModPalavox::ContaOcorrencias(texto, procura, frame.mode()));
}

}  // namespace palavox::reference

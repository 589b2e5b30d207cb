// PalavoxClass: the stateless facade automation clients call.
// Failures are thrown as palavox::Error (std::bad_alloc when memory runs out).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "palavox/error.hpp"
#include "palavox/text.hpp"

namespace palavox {

class PalavoxClass {
public:
    std::u16string TrataHTML(std::u16string_view vemEntrada,
                             std::u16string_view vemTarget = {}) const;

    // Throws Error(13, "Type mismatch") when vemEntrada is empty.
    std::int32_t FindString(std::u16string_view vemEntrada, std::u16string_view vemProcura,
                            std::u16string_view vemTipo = {}) const;

    std::u16string RemoverAcentuacao(std::u16string_view vemTextoAcentuado) const;

    // The same two, writing the result into storage the caller provides: the
    // sink is asked once, for the exact length (0 for an empty vemEntrada).
    void TrataHTML(std::u16string_view vemEntrada, std::u16string_view vemTarget,
                   TextSink& resultado) const;
    void RemoverAcentuacao(std::u16string_view vemTextoAcentuado, TextSink& resultado) const;
};

}  // namespace palavox

#include "palavox/palavox_class.hpp"

#include "palavox/mod_palavox.hpp"

// The arguments are read-only views and every routine builds a new text, so a
// caller's text is never changed without copying it first.
namespace palavox {

std::u16string PalavoxClass::TrataHTML(std::u16string_view vemEntrada,
                                       std::u16string_view vemTarget) const {
    if (vemEntrada.empty()) return {};
    return ModPalavox::ConverteLinks(vemEntrada, vemTarget);
}

std::int32_t PalavoxClass::FindString(std::u16string_view vemEntrada,
                                      std::u16string_view vemProcura,
                                      std::u16string_view vemTipo) const {
    // The empty text stands in for the count and does not convert to a number.
    if (vemEntrada.empty()) throw Error(kTypeMismatch, "Type mismatch");
    return ModPalavox::ContaOcorrencias(vemEntrada, vemProcura, vemTipo);
}

std::u16string PalavoxClass::RemoverAcentuacao(std::u16string_view vemTextoAcentuado) const {
    if (vemTextoAcentuado.empty()) return {};
    return ModPalavox::TrocaAcentos(vemTextoAcentuado);
}

void PalavoxClass::TrataHTML(std::u16string_view vemEntrada, std::u16string_view vemTarget,
                             TextSink& resultado) const {
    if (vemEntrada.empty()) {
        resultado.Allocate(0);
        return;
    }
    ModPalavox::ConverteLinks(vemEntrada, vemTarget, resultado);
}

void PalavoxClass::RemoverAcentuacao(std::u16string_view vemTextoAcentuado,
                                     TextSink& resultado) const {
    if (vemTextoAcentuado.empty()) {
        resultado.Allocate(0);
        return;
    }
    ModPalavox::TrocaAcentos(vemTextoAcentuado, resultado);
}

}  // namespace palavox

#include "palavox/palavox_class.hpp"

#include <limits>

#include "palavox/mod_palavox.hpp"

// The arguments are read-only views and every routine builds a new text, so a
// caller's text is never changed without copying it first.
namespace palavox {
namespace {

// Out of the way of a short text's call, which then costs its count alone.
[[noreturn, gnu::cold, gnu::noinline]] void Fail(int number) { throw Error(number); }

// Exactly "B" or "b" counts exactly.
template <class Char>
CompareMode ModeOf(std::basic_string_view<Char> vemTipo) noexcept {
    return vemTipo.size() == 1 && (vemTipo[0] == Char{'B'} || vemTipo[0] == Char{'b'})
               ? CompareMode::BinaryCompare
               : CompareMode::TextCompare;
}

}  // namespace

std::u16string PalavoxClass::TrataHTML(std::u16string_view vemEntrada,
                                       std::u16string_view vemTarget) const {
    if (vemEntrada.empty()) return {};
    return ModPalavox::ConverteLinks(vemEntrada, vemTarget);
}

PalavoxClass::FindStringFrame::FindStringFrame(std::u16string_view vemProcura,
                                               std::u16string_view vemTipo) noexcept
    : mode_(ModeOf(vemTipo)), counts_(!vemProcura.empty()) {}

PalavoxClass::FindStringFrame::FindStringFrame(std::string_view vemProcura,
                                               std::string_view vemTipo) noexcept
    : mode_(ModeOf(vemTipo)), counts_(!vemProcura.empty()) {}

std::int32_t PalavoxClass::FindStringFrame::Result(std::uint64_t entradaUnits,
                                                   std::uint64_t count) const {
    // The empty text stands in for the count and does not convert to a number.
    if (entradaUnits == 0) Fail(kTypeMismatch);
    if (!counts_) return -1;
    if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        Fail(kOverflow);
    }
    return static_cast<std::int32_t>(count);
}

std::int32_t PalavoxClass::FindString(std::u16string_view vemEntrada,
                                      std::u16string_view vemProcura,
                                      std::u16string_view vemTipo) const {
    const FindStringFrame frame(vemProcura, vemTipo);
    return frame.Result(vemEntrada.size(),
                        ModPalavox::ContaOcorrencias(vemEntrada, vemProcura, frame.mode()));
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

#include "palavox_forms.hpp"

#include "count/utf8_count.hpp"
#include "fold/utf8_fold.hpp"
#include "links/utf8_links.hpp"
#include "utf8/utf8.hpp"

namespace palavox::forms {

std::size_t TrataHTMLInto(std::u16string_view vemEntrada, std::u16string_view vemTarget,
                          char16_t* resultado, std::size_t capacity) {
    if (vemEntrada.empty()) return 0;  // TrataHTML's frame: the empty text
    return ModPalavox::ConverteLinksInto(vemEntrada, vemTarget, resultado, capacity);
}

// The UTF-8 forms of the routines keep the methods' frame: an empty text
// gives an empty result.
bool TrataHTMLChecked(std::string_view vemEntrada, std::string_view vemTarget,
                      Utf8Sink& resultado) {
    return utf8::ConverteLinksChecked(vemEntrada, vemTarget, resultado);
}

void RemoverAcentuacao(std::string_view vemTextoAcentuado, Utf8Sink& resultado) {
    // Folding never lengthens a text: as much room as the text takes.
    char* const begin = resultado.Allocate(vemTextoAcentuado.size());
    resultado.Keep(static_cast<std::size_t>(utf8::TrocaAcentos(vemTextoAcentuado, begin) - begin));
}

bool FindStringChecked(std::string_view vemEntrada, std::string_view vemProcura,
                       std::string_view vemTipo, std::int32_t& resultado) {
    if (!vemTipo.empty() && utf8::Validate(vemTipo).valid != vemTipo.size()) return false;
    const PalavoxClass::FindStringFrame frame(vemProcura, vemTipo);
    // An empty vemEntrada is checked for the type mismatch only once the
    // other two are known valid, as when all three were decoded first.
    const std::size_t count = utf8::ContaOcorrencias(vemEntrada, vemProcura, frame.mode());
    if (count == utf8::kInvalidUtf8) return false;
    // Bytes stand for units: only whether there are none matters.
    resultado = frame.Result(vemEntrada.size(), count);
    return true;
}

bool RemoverAcentuacaoChecked(std::string_view vemTextoAcentuado, Utf8Sink& resultado) {
    char* begin = nullptr;
    try {
        begin = resultado.Allocate(vemTextoAcentuado.size());
    } catch (...) {
        // Invalid UTF-8 is refused whatever room there is, as when checked first.
        if (utf8::Validate(vemTextoAcentuado).valid != vemTextoAcentuado.size()) return false;
        throw;
    }
    char* const end = utf8::TrocaAcentosChecked(vemTextoAcentuado, begin);
    if (end == nullptr) return false;
    resultado.Keep(static_cast<std::size_t>(end - begin));
    return true;
}

InPieces InPieces::TrataHTML(std::string_view vemTarget, pieces::Input input) {
    return InPieces(std::make_unique<pieces::LinkStream>(vemTarget, input));
}

InPieces InPieces::FindString(std::u16string vemProcura, std::u16string_view vemTipo,
                              pieces::Input input) {
    const PalavoxClass::FindStringFrame frame(vemProcura, vemTipo);
    auto count = std::make_unique<pieces::CountStream>(std::move(vemProcura), frame.mode(), input);
    const pieces::CountStream* const counted = count.get();
    InPieces made(std::move(count));
    made.count_ = counted;
    made.frame_.emplace(frame);
    return made;
}

InPieces InPieces::RemoverAcentuacao(pieces::Input input) {
    return InPieces(std::make_unique<pieces::FoldStream>(input));
}

std::int32_t InPieces::EndCount() {
    if (count_ == nullptr) throw Error(kInvalidArgument);  // a text's method gives no count
    pieces::OutBuffer none;
    stream_->End(none);
    return frame_->Result(count_->units(), count_->count());
}

}  // namespace palavox::forms

#include "palavox_forms.hpp"

#include "fold/utf8_fold.hpp"
#include "links/utf8_links.hpp"

namespace palavox::forms {
namespace {

const PalavoxClass kPalavox;

}  // namespace

void RemoverAcentuacaoInto(std::u16string_view vemTextoAcentuado, char16_t* resultado) {
    class Exact final : public TextSink {
    public:
        Exact(char16_t* units, std::size_t size) : units_(units), size_(size) {}
        char16_t* Allocate(std::size_t units) override {
            // branch-untaken: folding keeps the length, so the routine asks for exactly size_
            if (units != size_) throw Error(kInternalError);
            return units_;
        }

    private:
        char16_t* units_;
        std::size_t size_;
    };
    Exact sink(resultado, vemTextoAcentuado.size());
    kPalavox.RemoverAcentuacao(vemTextoAcentuado, sink);
}

// The UTF-8 forms of the routines keep the methods' frame: an empty text
// gives an empty result.
void TrataHTML(std::string_view vemEntrada, std::string_view vemTarget, Utf8Sink& resultado) {
    const std::size_t size = utf8::ConverteLinksSize(vemEntrada, vemTarget);
    char* const at = resultado.Allocate(size);
    if (size == vemEntrada.size()) {
        if (size != 0) std::memcpy(at, vemEntrada.data(), size);  // no link: nothing to mark up
    } else {
        utf8::ConverteLinks(vemEntrada, vemTarget, at);
    }
}

void RemoverAcentuacao(std::string_view vemTextoAcentuado, Utf8Sink& resultado) {
    // Folding never lengthens a text: as much room as the text takes.
    char* const begin = resultado.Allocate(vemTextoAcentuado.size());
    resultado.Keep(static_cast<std::size_t>(utf8::TrocaAcentos(vemTextoAcentuado, begin) - begin));
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

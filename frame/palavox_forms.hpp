// The methods' other forms, for the edges: into storage the caller sized, a
// column at once, on UTF-8, and a text in pieces. Each keeps its method's
// frame (PalavoxClass), so that an edge only turns its values into views and
// back, and failures into its own form. Internal: for capi/, cli/ and their
// tests; neither installed nor exported (the C interface's column and stream
// functions are the supported way in).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "palavox/error.hpp"
#include "palavox/mod_palavox.hpp"
#include "palavox/palavox_class.hpp"
#include "links/utf8_links.hpp"
#include "pieces/pieces.hpp"

namespace palavox::forms {

// ---- Into storage the caller sized

// TrataHTML's result into `resultado`, which has room for `capacity` units:
// always its length, the result written only when it fits (capacity 0 sizes
// it). A result as long as the text is the text itself: it has no link.
std::size_t TrataHTMLInto(std::u16string_view vemEntrada, std::u16string_view vemTarget,
                          char16_t* resultado, std::size_t capacity);

// RemoverAcentuacao's result into `resultado`, which has room for exactly
// vemTextoAcentuado.size() units: a folded text is as long as the text. Each
// unit folds on its own, whatever surrounds it, so texts laid one after
// another fold as one text (a column in one call).
// Inline: a name's fold is a few nanoseconds, and a call more is one of them.
inline void RemoverAcentuacaoInto(std::u16string_view vemTextoAcentuado, char16_t* resultado) {
    // RemoverAcentuacao's frame: the empty text gives the empty text, no unit to write.
    if (!vemTextoAcentuado.empty()) ModPalavox::TrocaAcentos(vemTextoAcentuado, resultado);
}

// ---- A column: one search text in many texts

// FindString of one vemProcura and vemTipo in each of many texts: the frame
// and how to find vemProcura worked out once, where FindString works them out
// on every call. Holds a view of vemProcura: keep it alive while counting.
class FindStringColumn {
public:
    FindStringColumn(std::u16string_view vemProcura, std::u16string_view vemTipo)
        : frame_(vemProcura, vemTipo), contador_(vemProcura, frame_.mode()) {}

    // PalavoxClass::FindString(vemEntrada, vemProcura, vemTipo), its errors included.
    std::int32_t FindString(std::u16string_view vemEntrada) const {
        return frame_.Result(vemEntrada.size(), contador_.Conta(vemEntrada));
    }

private:
    PalavoxClass::FindStringFrame frame_;
    ModPalavox::Contador contador_;
};

// ---- On UTF-8 (checked by the caller: valid UTF-8 only)

// Storage for a UTF-8 result: asked once for room, of which the form may then
// keep fewer bytes. Link markup asks for exactly its result's length, and is
// handed the sink itself: no second virtual call in between.
class Utf8Sink : public utf8::LinkRoom {
public:
    // Of what Allocate gave, the first `bytes` are the result.
    virtual void Keep(std::size_t bytes) noexcept = 0;

protected:
    ~Utf8Sink() = default;
};

// TrataHTML on UTF-8 not yet checked (vemTarget checked already), checked
// as its links are looked for: false, with nothing allocated, when it is not
// valid UTF-8.
bool TrataHTMLChecked(std::string_view vemEntrada, std::string_view vemTarget, Utf8Sink& resultado);
void RemoverAcentuacao(std::string_view vemTextoAcentuado, Utf8Sink& resultado);

// FindString on UTF-8 not yet checked, checked as it is counted: false, and
// `resultado` left alone, when any of the three is not valid UTF-8 (before
// the frame's errors, as when decoded first); otherwise FindString of their
// UTF-16 forms into `resultado`.
bool FindStringChecked(std::string_view vemEntrada, std::string_view vemProcura,
                       std::string_view vemTipo, std::int32_t& resultado);

// RemoverAcentuacao on UTF-8 not yet checked, checked as it is folded (one
// pass): false when it is not valid UTF-8, what was kept then unspecified.
bool RemoverAcentuacaoChecked(std::string_view vemTextoAcentuado, Utf8Sink& resultado);

// ---- A text in pieces

// One method over a text handed in any number of pieces (text/pieces/), with
// the results of one call on the whole: UTF-8 out, the input read as `input`
// says. Step any number of times, then End until it returns 0; a FindString
// ends with EndCount instead, its result under FindString's frame.
class InPieces {
public:
    // vemTarget is UTF-8 (Error(5) when it is not valid).
    static InPieces TrataHTML(std::string_view vemTarget, pieces::Input input);
    static InPieces FindString(std::u16string vemProcura, std::u16string_view vemTipo,
                               pieces::Input input);
    static InPieces RemoverAcentuacao(pieces::Input input);

    void Step(pieces::InBuffer& in, pieces::OutBuffer& out) { stream_->Step(in, out); }
    std::size_t End(pieces::OutBuffer& out) { return stream_->End(out); }
    // Whether this is a FindString, which writes nothing and gives a count.
    bool counts() const noexcept { return count_ != nullptr; }
    // FindString's result for the whole text read (Error(5) for another method).
    std::int32_t EndCount();
    // Input bytes decoded so far; after invalid input, where the fault starts.
    std::uint64_t offset() const noexcept { return stream_->offset(); }

private:
    explicit InPieces(std::unique_ptr<pieces::Stream> stream) noexcept
        : stream_(std::move(stream)) {}

    std::unique_ptr<pieces::Stream> stream_;
    // A FindString's: its count and frame.
    const pieces::CountStream* count_ = nullptr;
    std::optional<PalavoxClass::FindStringFrame> frame_;
};

}  // namespace palavox::forms

// The C interface over PalavoxClass and its other forms (palavox_forms.hpp):
// C's arguments into views and results back, failures into their numbers.
// Every entry point catches everything: an exception must never unwind into a
// C caller.
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "palavox/error.hpp"
#include "palavox/palavox.h"
#include "palavox/palavox_class.hpp"
#include "palavox_forms.hpp"
#include "utf8/utf8.hpp"

// A method over a text in pieces.
struct palavox_stream {
    palavox::forms::InPieces call;
};

// The header's numbers are the core's: one vocabulary, whichever edge a
// caller reaches it through.
static_assert(PALAVOX_OK == 0);
static_assert(PALAVOX_INVALID_ARGUMENT == palavox::kInvalidArgument);
static_assert(PALAVOX_OVERFLOW == palavox::kOverflow);
static_assert(PALAVOX_OUT_OF_MEMORY == palavox::kOutOfMemory);
static_assert(PALAVOX_TYPE_MISMATCH == palavox::kTypeMismatch);
static_assert(PALAVOX_INTERNAL_ERROR == palavox::kInternalError);

namespace {

// ... and every number the core describes has its name in the header.
constexpr bool HeaderNamesEveryNumber() {
    constexpr int kNamed[] = {PALAVOX_OK,
                              PALAVOX_INVALID_ARGUMENT,
                              PALAVOX_OVERFLOW,
                              PALAVOX_OUT_OF_MEMORY,
                              PALAVOX_TYPE_MISMATCH,
                              PALAVOX_INTERNAL_ERROR};
    // Visual Basic's trappable numbers stop below 1000, and so does this
    // loop: clang's constexpr step limit is reached well before 65,536.
    const std::string_view unknown = palavox::ErrorDescription(-1);
    for (int number = 0; number < 1000; ++number) {
        if (palavox::ErrorDescription(number) == unknown) continue;
        bool named = false;
        for (int n : kNamed) named = named || n == number;
        if (!named) return false;
    }
    return true;
}
static_assert(HeaderNamesEveryNumber(), "a number of palavox/error.hpp has no name in palavox.h");

using palavox::Error;

// Callers hand over and get back uint16_t; the routines work on char16_t. The
// two have the same size, alignment and representation, and no translation
// unit sees the same storage as both types, so the units are passed through as
// they are instead of copied.
static_assert(sizeof(char16_t) == sizeof(std::uint16_t) &&
              alignof(char16_t) == alignof(std::uint16_t));

[[noreturn]] void ThrowInvalid() { throw Error(palavox::kInvalidArgument); }

std::u16string_view Utf16Arg(const std::uint16_t* p, std::size_t n) {
    if (p == nullptr) {
        if (n != 0) ThrowInvalid();
        return {};
    }
    return {reinterpret_cast<const char16_t*>(p), n};
}

// A UTF-8 argument as it is, for a form that checks it.
std::string_view Utf8Bytes(const char* p, std::size_t n) {
    if (p == nullptr) {
        if (n != 0) ThrowInvalid();
        return {};
    }
    return {p, n};
}

// The same checked: invalid UTF-8 is refused before anything is computed.
std::string_view Utf8Arg(const char* p, std::size_t n) {
    const std::string_view bytes = Utf8Bytes(p, n);
    if (palavox::utf8::Validate(bytes).valid != n) ThrowInvalid();
    return bytes;
}

// A UTF-8 argument decoded, for the count in pieces, which needs units: on
// the stack when short, as the words of a row are.
class Utf16Arg8 {
public:
    Utf16Arg8(const char* p, std::size_t n) {
        if (p == nullptr) {
            if (n != 0) ThrowInvalid();
            return;
        }
        char16_t* units = short_;
        if (n > kShort) {
            // branch-untaken: new[] refuses sizes past the address space; n bytes in memory never
            // are
            long_.reset(new char16_t[n]);  // never fewer bytes than units
            units = long_.get();
        }
        const palavox::utf8::Decoded decoded = palavox::utf8::Decode({p, n}, units);
        if (decoded.valid != n) ThrowInvalid();
        units_ = {units, decoded.units};
    }
    Utf16Arg8(const Utf16Arg8&) = delete;
    Utf16Arg8& operator=(const Utf16Arg8&) = delete;
    operator std::u16string_view() const noexcept { return units_; }

private:
    static constexpr std::size_t kShort = 128;
    char16_t short_[kShort];
    std::unique_ptr<char16_t[]> long_;
    std::u16string_view units_;
};

// A malloc'd result with one more unit for the terminator; freed here unless
// handed over.
template <class Unit>
class MallocBuffer {
public:
    MallocBuffer() = default;
    MallocBuffer(const MallocBuffer&) = delete;
    MallocBuffer& operator=(const MallocBuffer&) = delete;
    // Most calls hand their result over: no call to free a null pointer.
    ~MallocBuffer() {
        if (data_ != nullptr) std::free(data_);
    }

    Unit* Allocate(std::size_t units) {
        // branch-untaken: no result comes near the address space (MarkedUpSize refuses half of it)
        if (units >= static_cast<std::size_t>(-1) / sizeof(Unit)) throw std::bad_alloc();
        auto* p = static_cast<Unit*>(std::malloc((units + 1) * sizeof(Unit)));
        if (p == nullptr) throw std::bad_alloc();
        // branch-untaken: every sink is asked for its storage once (TextSink, Utf8Sink)
        if (data_ != nullptr) std::free(data_);
        data_ = p;
        size_ = units;
        data_[units] = Unit{};
        return data_;
    }

    // Keeps the first `units` of what was allocated.
    void Shorten(std::size_t units) noexcept {
        size_ = units;
        data_[units] = Unit{};
    }

    template <class Out>
    void HandOver(Out** resultado, std::size_t* resultado_len) noexcept {
        *resultado = reinterpret_cast<Out*>(data_);
        *resultado_len = size_;
        data_ = nullptr;
        size_ = 0;
    }

private:
    Unit* data_ = nullptr;
    std::size_t size_ = 0;
};

class MallocSink final : public palavox::TextSink {
public:
    char16_t* Allocate(std::size_t units) override { return buffer.Allocate(units); }
    MallocBuffer<char16_t> buffer;
};

class MallocUtf8Sink final : public palavox::forms::Utf8Sink {
public:
    char* Allocate(std::size_t bytes) override { return buffer.Allocate(bytes); }
    void Keep(std::size_t bytes) noexcept override { buffer.Shorten(bytes); }
    MallocBuffer<char> buffer;
};

// The caller's storage, as long as the text: the fold asks for no more.
class CallerUtf8Sink final : public palavox::forms::Utf8Sink {
public:
    explicit CallerUtf8Sink(char* storage) noexcept : storage_(storage) {}
    char* Allocate(std::size_t) override { return storage_; }
    void Keep(std::size_t bytes) noexcept override { kept = bytes; }
    std::size_t kept = 0;

private:
    char* storage_;
};

// Room the caller sized: what the result needs is kept, its bytes written
// only when they fit.
class RoomUtf8Sink final : public palavox::forms::Utf8Sink {
public:
    RoomUtf8Sink(char* storage, std::size_t capacity) noexcept
        : storage_(storage), capacity_(capacity) {}
    char* Allocate(std::size_t bytes) override {
        needed = bytes;
        return bytes <= capacity_ ? storage_ : nullptr;
    }
    void Keep(std::size_t bytes) noexcept override { needed = bytes; }
    std::size_t needed = 0;

private:
    char* storage_;
    std::size_t capacity_;
};

// Outputs are cleared first, so that every failure leaves them NULL and 0.
template <class Out>
bool ClearOutputs(Out** resultado, std::size_t* resultado_len) noexcept {
    if (resultado != nullptr) *resultado = nullptr;
    if (resultado_len != nullptr) *resultado_len = 0;
    return resultado != nullptr && resultado_len != nullptr;
}

// The C edge's form of a failure is its number.
template <class Body>
int Guarded(Body&& body) noexcept {
    return palavox::Guarded(
        [&] {
            body();
            return 0;
        },
        [](const palavox::Failure& failure) { return failure.number; });
}

const palavox::PalavoxClass kPalavox;

// The caller's buffers, checked; written back once a call has run.
bool Usable(const palavox_in_buffer* in) noexcept {
    return in != nullptr && in->pos <= in->size && (in->src != nullptr || in->size == 0);
}
bool Usable(const palavox_out_buffer* out) noexcept {
    return out != nullptr && out->pos <= out->size && (out->dst != nullptr || out->size == 0);
}

template <class Make>
int NewStream(palavox_stream** stream, Make make) noexcept {
    if (stream == nullptr) return palavox::kInvalidArgument;
    *stream = nullptr;
    return Guarded([&] { *stream = new palavox_stream{make()}; });
}

constexpr palavox::pieces::Input kUtf8 = palavox::pieces::Input::Utf8;

}  // namespace

extern "C" {

int PALAVOX_C_CALL palavox_trata_html(const uint16_t* entrada, size_t entrada_len,
                                      const uint16_t* target, size_t target_len,
                                      uint16_t** resultado, size_t* resultado_len) {
    if (!ClearOutputs(resultado, resultado_len)) return palavox::kInvalidArgument;
    return Guarded([&] {
        MallocSink sink;
        kPalavox.TrataHTML(Utf16Arg(entrada, entrada_len), Utf16Arg(target, target_len), sink);
        sink.buffer.HandOver(resultado, resultado_len);
    });
}

int PALAVOX_C_CALL palavox_find_string(const uint16_t* entrada, size_t entrada_len,
                                       const uint16_t* procura, size_t procura_len,
                                       const uint16_t* tipo, size_t tipo_len, int32_t* resultado) {
    if (resultado == nullptr) return palavox::kInvalidArgument;
    *resultado = 0;
    return Guarded([&] {
        *resultado = kPalavox.FindString(Utf16Arg(entrada, entrada_len),
                                         Utf16Arg(procura, procura_len), Utf16Arg(tipo, tipo_len));
    });
}

int PALAVOX_C_CALL palavox_remover_acentuacao(const uint16_t* texto, size_t texto_len,
                                              uint16_t** resultado, size_t* resultado_len) {
    if (!ClearOutputs(resultado, resultado_len)) return palavox::kInvalidArgument;
    return Guarded([&] {
        // As long as the text: allocated and written without a sink between them.
        const std::u16string_view text = Utf16Arg(texto, texto_len);
        MallocBuffer<char16_t> buffer;
        palavox::forms::RemoverAcentuacaoInto(text, buffer.Allocate(text.size()));
        buffer.HandOver(resultado, resultado_len);
    });
}

int PALAVOX_C_CALL palavox_trata_html_into(const uint16_t* entrada, size_t entrada_len,
                                           const uint16_t* target, size_t target_len,
                                           uint16_t* resultado, size_t capacity,
                                           size_t* resultado_len) {
    if (resultado_len == nullptr) return palavox::kInvalidArgument;
    *resultado_len = 0;
    if (resultado == nullptr && capacity != 0) return palavox::kInvalidArgument;
    return Guarded([&] {
        *resultado_len = palavox::forms::TrataHTMLInto(
            Utf16Arg(entrada, entrada_len), Utf16Arg(target, target_len),
            reinterpret_cast<char16_t*>(resultado), capacity);
    });
}

int PALAVOX_C_CALL palavox_find_string_many(const uint16_t* const* entradas,
                                            const size_t* entrada_lens, size_t count,
                                            const uint16_t* procura, size_t procura_len,
                                            const uint16_t* tipo, size_t tipo_len,
                                            int32_t* resultados, int* erros) {
    if (count == 0) return 0;
    if (entradas == nullptr || entrada_lens == nullptr || resultados == nullptr ||
        erros == nullptr) {
        return palavox::kInvalidArgument;
    }
    const int failed = Guarded([&] {
        const palavox::forms::FindStringColumn column(Utf16Arg(procura, procura_len),
                                                      Utf16Arg(tipo, tipo_len));
        for (std::size_t i = 0; i < count; ++i) {
            resultados[i] = 0;
            erros[i] = Guarded(
                [&] { resultados[i] = column.FindString(Utf16Arg(entradas[i], entrada_lens[i])); });
        }
    });
    if (failed != 0) {
        for (std::size_t i = 0; i < count; ++i) {
            resultados[i] = 0;
            erros[i] = failed;
        }
    }
    return failed;
}

// The _utf8 functions work on the bytes themselves where the method has a
// UTF-8 form: one allocation, the result.
int PALAVOX_C_CALL palavox_trata_html_utf8(const char* entrada, size_t entrada_len,
                                           const char* target, size_t target_len, char** resultado,
                                           size_t* resultado_len) {
    if (!ClearOutputs(resultado, resultado_len)) return palavox::kInvalidArgument;
    return Guarded([&] {
        const std::string_view alvo = Utf8Arg(target, target_len);
        const std::string_view texto = Utf8Bytes(entrada, entrada_len);
        // The text is checked as its links are looked for, before anything is allocated.
        MallocUtf8Sink sink;
        if (!palavox::forms::TrataHTMLChecked(texto, alvo, sink)) ThrowInvalid();
        sink.buffer.HandOver(resultado, resultado_len);
    });
}

int PALAVOX_C_CALL palavox_trata_html_utf8_into(const char* entrada, size_t entrada_len,
                                                const char* target, size_t target_len,
                                                char* resultado, size_t capacity,
                                                size_t* resultado_len) {
    if (resultado_len == nullptr) return palavox::kInvalidArgument;
    *resultado_len = 0;
    if (resultado == nullptr && capacity != 0) return palavox::kInvalidArgument;
    return Guarded([&] {
        const std::string_view alvo = Utf8Arg(target, target_len);
        const std::string_view texto = Utf8Bytes(entrada, entrada_len);
        // Checked as its links are looked for, before a byte is written.
        RoomUtf8Sink sink(resultado, capacity);
        if (!palavox::forms::TrataHTMLChecked(texto, alvo, sink)) ThrowInvalid();
        *resultado_len = sink.needed;
    });
}

int PALAVOX_C_CALL palavox_find_string_utf8(const char* entrada, size_t entrada_len,
                                            const char* procura, size_t procura_len,
                                            const char* tipo, size_t tipo_len, int32_t* resultado) {
    if (resultado == nullptr) return palavox::kInvalidArgument;
    *resultado = 0;
    return Guarded([&] {
        if (!palavox::forms::FindStringChecked(Utf8Bytes(entrada, entrada_len),
                                               Utf8Bytes(procura, procura_len),
                                               Utf8Bytes(tipo, tipo_len), *resultado)) {
            ThrowInvalid();
        }
    });
}

int PALAVOX_C_CALL palavox_remover_acentuacao_into(const uint16_t* texto, size_t texto_len,
                                                   uint16_t* resultado) {
    if (resultado == nullptr && texto_len != 0) return palavox::kInvalidArgument;
    return Guarded([&] {
        palavox::forms::RemoverAcentuacaoInto(Utf16Arg(texto, texto_len),
                                              reinterpret_cast<char16_t*>(resultado));
    });
}

int PALAVOX_C_CALL palavox_remover_acentuacao_utf8(const char* texto, size_t texto_len,
                                                   char** resultado, size_t* resultado_len) {
    if (!ClearOutputs(resultado, resultado_len)) return palavox::kInvalidArgument;
    return Guarded([&] {
        if (texto == nullptr && texto_len != 0) ThrowInvalid();
        MallocUtf8Sink sink;
        if (!palavox::forms::RemoverAcentuacaoChecked({texto, texto_len}, sink)) ThrowInvalid();
        sink.buffer.HandOver(resultado, resultado_len);
    });
}

int PALAVOX_C_CALL palavox_remover_acentuacao_utf8_into(const char* texto, size_t texto_len,
                                                        char* resultado, size_t* resultado_len) {
    if (resultado_len == nullptr) return palavox::kInvalidArgument;
    *resultado_len = 0;
    if (resultado == nullptr && texto_len != 0) return palavox::kInvalidArgument;
    return Guarded([&] {
        // The text is checked whole before the form writes a byte.
        CallerUtf8Sink sink(resultado);
        palavox::forms::RemoverAcentuacao(Utf8Arg(texto, texto_len), sink);
        *resultado_len = sink.kept;
    });
}

int PALAVOX_C_CALL palavox_trata_html_stream(const char* target, size_t target_len,
                                             palavox_stream** stream) {
    return NewStream(stream, [&] {
        return palavox::forms::InPieces::TrataHTML(Utf8Arg(target, target_len), kUtf8);
    });
}

int PALAVOX_C_CALL palavox_find_string_stream(const char* procura, size_t procura_len,
                                              const char* tipo, size_t tipo_len,
                                              palavox_stream** stream) {
    return NewStream(stream, [&] {
        const Utf16Arg8 search(procura, procura_len);
        const Utf16Arg8 mode(tipo, tipo_len);
        return palavox::forms::InPieces::FindString(std::u16string(search), mode, kUtf8);
    });
}

int PALAVOX_C_CALL palavox_remover_acentuacao_stream(palavox_stream** stream) {
    return NewStream(stream, [] { return palavox::forms::InPieces::RemoverAcentuacao(kUtf8); });
}

int PALAVOX_C_CALL palavox_stream_step(palavox_stream* stream, palavox_in_buffer* input,
                                       palavox_out_buffer* output) {
    palavox_out_buffer none{nullptr, 0, 0};
    if (output == nullptr && stream != nullptr && stream->call.counts()) output = &none;
    if (stream == nullptr || !Usable(input) || !Usable(output)) return palavox::kInvalidArgument;
    palavox::pieces::InBuffer in{input->src, input->size, input->pos};
    palavox::pieces::OutBuffer out{output->dst, output->size, output->pos};
    const int rc = Guarded([&] { stream->call.Step(in, out); });
    input->pos = in.pos;
    output->pos = out.pos;
    return rc;
}

int PALAVOX_C_CALL palavox_stream_end(palavox_stream* stream, palavox_out_buffer* output,
                                      size_t* remaining) {
    if (remaining != nullptr) *remaining = 0;
    if (stream == nullptr || stream->call.counts() || !Usable(output) || remaining == nullptr) {
        return palavox::kInvalidArgument;
    }
    palavox::pieces::OutBuffer out{output->dst, output->size, output->pos};
    const int rc = Guarded([&] { *remaining = stream->call.End(out); });
    output->pos = out.pos;
    return rc;
}

int PALAVOX_C_CALL palavox_stream_end_count(palavox_stream* stream, int32_t* resultado) {
    if (resultado == nullptr) return palavox::kInvalidArgument;
    *resultado = 0;
    if (stream == nullptr || !stream->call.counts()) return palavox::kInvalidArgument;
    return Guarded([&] { *resultado = stream->call.EndCount(); });
}

uint64_t PALAVOX_C_CALL palavox_stream_offset(const palavox_stream* stream) {
    return stream == nullptr ? 0 : stream->call.offset();
}

void PALAVOX_C_CALL palavox_stream_free(palavox_stream* stream) { delete stream; }

void PALAVOX_C_CALL palavox_free(void* resultado) { std::free(resultado); }

const char* PALAVOX_C_CALL palavox_error_description(int number) {
    return palavox::ErrorDescription(number);
}

const char* PALAVOX_C_CALL palavox_version(void) { return PALAVOX_VERSION_STRING; }

}  // extern "C"

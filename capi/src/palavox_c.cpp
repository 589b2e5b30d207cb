// The C interface over PalavoxClass. Every entry point catches everything:
// an exception must never unwind into a C caller.
#include "palavox/palavox.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "palavox/error.hpp"
#include "palavox/palavox_class.hpp"
#include "utf8.hpp"

namespace {

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

// A UTF-8 argument decoded; invalid UTF-8 is refused before anything is computed.
class Utf8Arg {
public:
    Utf8Arg(const char* p, std::size_t n) {
        if (p == nullptr) {
            if (n != 0) ThrowInvalid();
            return;
        }
        units_.reset(new char16_t[n]);  // never fewer bytes than units
        const palavox::utf8::Decoded decoded = palavox::utf8::Decode({p, n}, units_.get());
        if (decoded.valid != n) ThrowInvalid();
        size_ = decoded.units;
    }
    operator std::u16string_view() const noexcept { return {units_.get(), size_}; }

private:
    std::unique_ptr<char16_t[]> units_;
    std::size_t size_ = 0;
};

// A malloc'd result with one more unit for the terminator; freed here unless
// handed over.
template <class Unit>
class MallocBuffer {
public:
    MallocBuffer() = default;
    MallocBuffer(const MallocBuffer&) = delete;
    MallocBuffer& operator=(const MallocBuffer&) = delete;
    ~MallocBuffer() { std::free(data_); }

    Unit* Allocate(std::size_t units) {
        if (units >= static_cast<std::size_t>(-1) / sizeof(Unit)) throw std::bad_alloc();
        auto* p = static_cast<Unit*>(std::malloc((units + 1) * sizeof(Unit)));
        if (p == nullptr) throw std::bad_alloc();
        std::free(data_);
        data_ = p;
        size_ = units;
        data_[units] = Unit{};
        return data_;
    }

    Unit* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

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

void ToUtf8(std::u16string_view units, char** resultado, std::size_t* resultado_len) {
    const std::size_t bytes = palavox::utf8::EncodedLength(units);
    // Valid input never yields an unpaired surrogate: the routines never split a pair.
    if (bytes == palavox::utf8::kUnpaired) ThrowInvalid();
    MallocBuffer<char> out;
    palavox::utf8::Encode(units, out.Allocate(bytes));
    out.HandOver(resultado, resultado_len);
}

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
        MallocSink sink;
        kPalavox.RemoverAcentuacao(Utf16Arg(texto, texto_len), sink);
        sink.buffer.HandOver(resultado, resultado_len);
    });
}

int PALAVOX_C_CALL palavox_trata_html_utf8(const char* entrada, size_t entrada_len,
                                           const char* target, size_t target_len, char** resultado,
                                           size_t* resultado_len) {
    if (!ClearOutputs(resultado, resultado_len)) return palavox::kInvalidArgument;
    return Guarded([&] {
        const Utf8Arg text(entrada, entrada_len);
        const Utf8Arg alvo(target, target_len);
        MallocSink sink;
        kPalavox.TrataHTML(text, alvo, sink);
        ToUtf8({sink.buffer.data(), sink.buffer.size()}, resultado, resultado_len);
    });
}

int PALAVOX_C_CALL palavox_find_string_utf8(const char* entrada, size_t entrada_len,
                                            const char* procura, size_t procura_len,
                                            const char* tipo, size_t tipo_len, int32_t* resultado) {
    if (resultado == nullptr) return palavox::kInvalidArgument;
    *resultado = 0;
    return Guarded([&] {
        const Utf8Arg text(entrada, entrada_len);
        const Utf8Arg search(procura, procura_len);
        const Utf8Arg mode(tipo, tipo_len);
        *resultado = kPalavox.FindString(text, search, mode);
    });
}

int PALAVOX_C_CALL palavox_remover_acentuacao_utf8(const char* texto, size_t texto_len,
                                                   char** resultado, size_t* resultado_len) {
    if (!ClearOutputs(resultado, resultado_len)) return palavox::kInvalidArgument;
    return Guarded([&] {
        const Utf8Arg text(texto, texto_len);
        MallocSink sink;
        kPalavox.RemoverAcentuacao(text, sink);
        ToUtf8({sink.buffer.data(), sink.buffer.size()}, resultado, resultado_len);
    });
}

void PALAVOX_C_CALL palavox_free(void* resultado) {
    std::free(resultado);
}

const char* PALAVOX_C_CALL palavox_error_description(int number) {
    return palavox::ErrorDescription(number);
}

const char* PALAVOX_C_CALL palavox_version(void) {
    return PALAVOX_C_VERSION;
}

}  // extern "C"

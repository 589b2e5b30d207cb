// The floor under the C interface's rows of short_texts.cpp: functions of the
// same signatures in a shared library of their own, called as a program calls
// libpalavox.so, that do nothing (the call alone) or only what the baseline
// does (malloc + memcpy of the text, a terminator, handed over).
#include "short_floor.hpp"

#include <cstdlib>
#include <cstring>

namespace {

template <class Unit>
int CopyOut(const Unit* texto, std::size_t texto_len, Unit** resultado,
            std::size_t* resultado_len) {
    auto* p = static_cast<Unit*>(std::malloc((texto_len + 1) * sizeof(Unit)));
    if (p == nullptr) return 7;
    std::memcpy(p, texto, texto_len * sizeof(Unit));
    p[texto_len] = Unit{};
    *resultado = p;
    *resultado_len = texto_len;
    return 0;
}

template <class Unit>
int CheckedCopyOut(const Unit* entrada, std::size_t entrada_len, const Unit* target,
                   std::size_t target_len, Unit** resultado, std::size_t* resultado_len) {
    if (resultado == nullptr || resultado_len == nullptr) return 5;
    *resultado = nullptr;
    *resultado_len = 0;
    if ((entrada == nullptr && entrada_len != 0) || (target == nullptr && target_len != 0)) {
        return 5;
    }
    return CopyOut(entrada, entrada_len, resultado, resultado_len);
}

}  // namespace

extern "C" {

PALAVOX_FLOOR_API int palavox_floor_count(const std::uint16_t*, std::size_t, const std::uint16_t*,
                                          std::size_t, const std::uint16_t*, std::size_t,
                                          std::int32_t* resultado) {
    *resultado = 0;
    return 0;
}

PALAVOX_FLOOR_API int palavox_floor_into(const std::uint16_t*, std::size_t, std::uint16_t*) {
    return 0;
}

PALAVOX_FLOOR_API int palavox_floor_copy(const std::uint16_t* texto, std::size_t texto_len,
                                         std::uint16_t** resultado, std::size_t* resultado_len) {
    return CopyOut(texto, texto_len, resultado, resultado_len);
}

PALAVOX_FLOOR_API int palavox_floor_copy_utf8(const char* texto, std::size_t texto_len,
                                              char** resultado, std::size_t* resultado_len) {
    return CopyOut(texto, texto_len, resultado, resultado_len);
}

PALAVOX_FLOOR_API int palavox_floor_markup_copy(const std::uint16_t* entrada,
                                                std::size_t entrada_len,
                                                const std::uint16_t* target, std::size_t target_len,
                                                std::uint16_t** resultado,
                                                std::size_t* resultado_len) {
    return CheckedCopyOut(entrada, entrada_len, target, target_len, resultado, resultado_len);
}

PALAVOX_FLOOR_API int palavox_floor_markup_copy_utf8(const char* entrada, std::size_t entrada_len,
                                                     const char* target, std::size_t target_len,
                                                     char** resultado, std::size_t* resultado_len) {
    return CheckedCopyOut(entrada, entrada_len, target, target_len, resultado, resultado_len);
}

PALAVOX_FLOOR_API int palavox_floor_markup_call_utf8(const char*, std::size_t, const char*,
                                                     std::size_t, char** resultado,
                                                     std::size_t* resultado_len) {
    if (resultado == nullptr || resultado_len == nullptr) return 5;
    *resultado = nullptr;
    *resultado_len = 0;
    return 0;
}

}  // extern "C"

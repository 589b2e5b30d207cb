// Functions of the C interface's signatures that do nothing of their own
// (short_floor.cpp), in a shared library beside the benchmark: what a call
// into a library costs, measured beside the calls into libpalavox.so.
#pragma once

#include <cstddef>
#include <cstdint>

#define PALAVOX_FLOOR_API __attribute__((visibility("default")))

extern "C" {
// As palavox_find_string, doing nothing.
PALAVOX_FLOOR_API int palavox_floor_count(const std::uint16_t* entrada, std::size_t entrada_len,
                                          const std::uint16_t* procura, std::size_t procura_len,
                                          const std::uint16_t* tipo, std::size_t tipo_len,
                                          std::int32_t* resultado);
// As palavox_remover_acentuacao_into, doing nothing.
PALAVOX_FLOOR_API int palavox_floor_into(const std::uint16_t* texto, std::size_t texto_len,
                                         std::uint16_t* resultado);
// As palavox_remover_acentuacao and its _utf8 form, copying the text
// unchanged into a malloc'd result (the caller frees it).
PALAVOX_FLOOR_API int palavox_floor_copy(const std::uint16_t* texto, std::size_t texto_len,
                                         std::uint16_t** resultado, std::size_t* resultado_len);
PALAVOX_FLOOR_API int palavox_floor_copy_utf8(const char* texto, std::size_t texto_len,
                                              char** resultado, std::size_t* resultado_len);
// As palavox_trata_html and its _utf8 form: the arguments checked and the
// outputs cleared as the C interface does, then the text given copied into a
// malloc'd result; the _call form only checks and clears.
PALAVOX_FLOOR_API int palavox_floor_markup_copy(const std::uint16_t* entrada,
                                                std::size_t entrada_len,
                                                const std::uint16_t* target, std::size_t target_len,
                                                std::uint16_t** resultado,
                                                std::size_t* resultado_len);
PALAVOX_FLOOR_API int palavox_floor_markup_copy_utf8(const char* entrada, std::size_t entrada_len,
                                                     const char* target, std::size_t target_len,
                                                     char** resultado, std::size_t* resultado_len);
PALAVOX_FLOOR_API int palavox_floor_markup_call_utf8(const char* entrada, std::size_t entrada_len,
                                                     const char* target, std::size_t target_len,
                                                     char** resultado, std::size_t* resultado_len);
}

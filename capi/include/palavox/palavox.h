/* Palavox: the three text services of PalavoxClass as a C interface.
 * Public: installed for C programs and every other language's binding, which
 * may rely on everything declared here and in palavox_version.h.
 *
 * Every function returns PALAVOX_OK (0) on success, or the error number the
 * automation methods raise (palavox_error_number below). On failure the
 * outputs are NULL and 0.
 *
 * Texts are (pointer, length) pairs: UTF-16 code units, or bytes of UTF-8 for
 * the _utf8 functions. NULL with length 0 is the empty text; an omitted
 * optional argument is NULL, 0. Results are NUL-terminated (the length leaves
 * the terminator out) and are always released with palavox_free, empty ones
 * too. The output pointers themselves must not be NULL (error 5). Nothing
 * here keeps state: any function may be called from any thread.
 */
#ifndef PALAVOX_PALAVOX_H
#define PALAVOX_PALAVOX_H

#include <stddef.h>
#include <stdint.h>

/* PALAVOX_VERSION_MAJOR, _MINOR, _PATCH, _NUMBER, _STRING and
 * PALAVOX_VERSION_AT_LEAST(major, minor, patch), for tests at compile time;
 * palavox_version() says which library answers at run time. */
#include "palavox/palavox_version.h"

#if defined(_WIN32)
#if defined(PALAVOX_C_BUILDING_DLL)
#define PALAVOX_C_API __declspec(dllexport)
#elif defined(PALAVOX_C_STATIC)
#define PALAVOX_C_API
#else
#define PALAVOX_C_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define PALAVOX_C_API __attribute__((visibility("default")))
#else
#define PALAVOX_C_API
#endif

/* cdecl whatever the caller's default: a 32-bit program built with stdcall as
 * its default convention must still call these correctly. */
#if defined(_WIN32) && !defined(_WIN64)
#define PALAVOX_C_CALL __cdecl
#else
#define PALAVOX_C_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What every function returns: the numbers Visual Basic gives these errors,
 * which automation clients of Palavox.dll see, and their descriptions
 * (palavox_error_description). The functions return int, not this type. */
typedef enum palavox_error_number {
    PALAVOX_OK = 0,
    /* "Invalid procedure call or argument": NULL with a non-zero length, a
     * NULL output pointer, invalid UTF-8 */
    PALAVOX_INVALID_ARGUMENT = 5,
    /* "Overflow": a count past 2,147,483,647 */
    PALAVOX_OVERFLOW = 6,
    /* "Out of memory" */
    PALAVOX_OUT_OF_MEMORY = 7,
    /* "Type mismatch": FindString on an empty text */
    PALAVOX_TYPE_MISMATCH = 13,
    /* "Internal error": a fault of Palavox's own, never the caller's */
    PALAVOX_INTERNAL_ERROR = 51
} palavox_error_number;

/* TrataHTML: every web link wrapped in an anchor opening in `target`
 * ("_self" when empty). */
PALAVOX_C_API int PALAVOX_C_CALL palavox_trata_html(const uint16_t* entrada, size_t entrada_len,
                                                    const uint16_t* target, size_t target_len,
                                                    uint16_t** resultado, size_t* resultado_len);

/* FindString: non-overlapping occurrences of `procura`, case-insensitive
 * unless `tipo` is exactly "B" or "b"; -1 for an empty `procura`. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_find_string(const uint16_t* entrada, size_t entrada_len,
                                                     const uint16_t* procura, size_t procura_len,
                                                     const uint16_t* tipo, size_t tipo_len,
                                                     int32_t* resultado);

/* RemoverAcentuacao: accents folded, "&" to "e", a fixed set of symbols to spaces. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_remover_acentuacao(const uint16_t* texto, size_t texto_len,
                                                            uint16_t** resultado,
                                                            size_t* resultado_len);

/* RemoverAcentuacao into storage the caller provides, for callers that call
 * once per short text: the result is always exactly texto_len units long, so
 * it is written to resultado[0 .. texto_len), without a terminator, and
 * nothing is allocated or to be freed. resultado must not overlap texto; it
 * may be NULL only when texto_len is 0. On failure nothing is written. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_remover_acentuacao_into(const uint16_t* texto,
                                                                 size_t texto_len,
                                                                 uint16_t* resultado);

/* TrataHTML into storage the caller provides: *resultado_len gets the
 * result's length, and its units (without a terminator) go to resultado only
 * when `capacity` holds them; otherwise nothing is written and the call still
 * succeeds, so capacity 0 asks for the length alone. A result as long as the
 * text is the text itself: it has no link. resultado may be NULL only when
 * capacity is 0. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_trata_html_into(const uint16_t* entrada,
                                                         size_t entrada_len, const uint16_t* target,
                                                         size_t target_len, uint16_t* resultado,
                                                         size_t capacity, size_t* resultado_len);

/* FindString of one `procura` and `tipo` in `count` texts, a column: how to
 * find procura is worked out once, where palavox_find_string works it out on
 * every call. Text i is entradas[i], entrada_lens[i]; resultados[i] gets its
 * count and erros[i] what palavox_find_string would return for it
 * (PALAVOX_OK, or PALAVOX_TYPE_MISMATCH for an empty text; its count is then
 * 0). The call itself fails only for what concerns every text:
 * PALAVOX_INVALID_ARGUMENT for a NULL array while count is not 0 (nothing is
 * written) or a NULL procura or tipo with a length, PALAVOX_OUT_OF_MEMORY;
 * every erros[i] is then that number. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_find_string_many(const uint16_t* const* entradas,
                                                          const size_t* entrada_lens, size_t count,
                                                          const uint16_t* procura,
                                                          size_t procura_len, const uint16_t* tipo,
                                                          size_t tipo_len, int32_t* resultados,
                                                          int* erros);

/* The same three over UTF-8: lengths in bytes, UTF-8 results. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_trata_html_utf8(const char* entrada, size_t entrada_len,
                                                         const char* target, size_t target_len,
                                                         char** resultado, size_t* resultado_len);
PALAVOX_C_API int PALAVOX_C_CALL palavox_find_string_utf8(const char* entrada, size_t entrada_len,
                                                          const char* procura, size_t procura_len,
                                                          const char* tipo, size_t tipo_len,
                                                          int32_t* resultado);
PALAVOX_C_API int PALAVOX_C_CALL palavox_remover_acentuacao_utf8(const char* texto,
                                                                 size_t texto_len, char** resultado,
                                                                 size_t* resultado_len);

/* RemoverAcentuacao of UTF-8 into storage the caller provides: folding never
 * lengthens a text, so resultado needs room for texto_len bytes; the result's
 * length goes to *resultado_len, its bytes (without a terminator) to
 * resultado, and nothing is allocated or to be freed. resultado must not
 * overlap texto; it may be NULL only when texto_len is 0. On failure (invalid
 * UTF-8: PALAVOX_INVALID_ARGUMENT) nothing is written and the length is 0. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_remover_acentuacao_utf8_into(const char* texto,
                                                                      size_t texto_len,
                                                                      char* resultado,
                                                                      size_t* resultado_len);

/* TrataHTML of UTF-8 into storage the caller provides, as
 * palavox_trata_html_into is for UTF-16: *resultado_len gets the result's
 * length in bytes, and its bytes (without a terminator) go to resultado only
 * when `capacity` holds them; otherwise nothing is written and the call still
 * succeeds. A result as long as the text is the text itself: it has no link.
 * resultado must not overlap entrada; it may be NULL only when capacity is 0.
 * On failure (invalid UTF-8: PALAVOX_INVALID_ARGUMENT) nothing is written and
 * the length is 0. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_trata_html_utf8_into(const char* entrada,
                                                              size_t entrada_len,
                                                              const char* target, size_t target_len,
                                                              char* resultado, size_t capacity,
                                                              size_t* resultado_len);

/* Text in pieces: the same three over a UTF-8 text handed in any number of
 * pieces cut anywhere, in the manner of a streaming codec. A stream is made
 * for one operation with its fixed arguments; each palavox_stream_step reads
 * what it can of an input buffer and writes what fits of an output buffer,
 * advancing their `pos`; once the input has ended, palavox_stream_end writes
 * the rest (palavox_stream_end_count gives the count). The results, errors
 * included, are those of the _utf8 function on the whole text, wherever the
 * pieces fall. Output is only ever whole code points. Memory is bounded by
 * the longest link not yet ended (a link is written once its end is read) or
 * the search text, never by the text. A stream belongs to one thread at a time. */
typedef struct palavox_stream palavox_stream;

typedef struct palavox_in_buffer {
    const char* src; /* the piece */
    size_t size;     /* its length in bytes */
    size_t pos;      /* bytes read so far (0 .. size): advanced by the step */
} palavox_in_buffer;

typedef struct palavox_out_buffer {
    char* dst;   /* where output goes; never overlapping an input piece */
    size_t size; /* its room in bytes */
    size_t pos;  /* bytes written so far (0 .. size): advanced by the step */
} palavox_out_buffer;

/* A stream for TrataHTML with `target`, for FindString with `procura` and
 * `tipo`, or for RemoverAcentuacao, all UTF-8. *stream is NULL on failure
 * (5 for invalid UTF-8 in an argument); release it with palavox_stream_free. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_trata_html_stream(const char* target, size_t target_len,
                                                           palavox_stream** stream);
PALAVOX_C_API int PALAVOX_C_CALL palavox_find_string_stream(const char* procura, size_t procura_len,
                                                            const char* tipo, size_t tipo_len,
                                                            palavox_stream** stream);
PALAVOX_C_API int PALAVOX_C_CALL palavox_remover_acentuacao_stream(palavox_stream** stream);

/* Reads from `input` and writes to `output` until the piece is all read or
 * the output is full; output read but not yet written is kept and written
 * first by the next call, so `input` may be left partly unread: give it
 * again, with more room. An output with room for 4 bytes always takes some.
 * A FindString stream writes nothing: its output may be NULL. 5 for invalid
 * UTF-8 (palavox_stream_offset says where). After any error the stream is
 * spent: every later call returns the same number. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_stream_step(palavox_stream* stream,
                                                     palavox_in_buffer* input,
                                                     palavox_out_buffer* output);

/* The input has ended: writes what is left, as much as fits, and sets
 * *remaining to the bytes still to write (0: done; else call again with more
 * room). 5 when the text ended inside a code point, or for a FindString stream. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_stream_end(palavox_stream* stream,
                                                    palavox_out_buffer* output, size_t* remaining);

/* The input has ended: FindString's result on the whole text (13 when it was
 * empty, -1 for an empty procura, 6 past 2,147,483,647; 0 on failure). 5 for
 * another kind of stream. */
PALAVOX_C_API int PALAVOX_C_CALL palavox_stream_end_count(palavox_stream* stream,
                                                          int32_t* resultado);

/* Input bytes taken so far, up to the last whole code point; after error 5 on
 * invalid UTF-8, the offset of its first byte in the whole text. 0 for NULL. */
PALAVOX_C_API uint64_t PALAVOX_C_CALL palavox_stream_offset(const palavox_stream* stream);

/* Releases a stream, at any point; NULL is ignored. */
PALAVOX_C_API void PALAVOX_C_CALL palavox_stream_free(palavox_stream* stream);

/* Releases a result of this library; NULL is ignored. */
PALAVOX_C_API void PALAVOX_C_CALL palavox_free(void* resultado);

/* The error's description ("Type mismatch", ...), never NULL. */
PALAVOX_C_API const char* PALAVOX_C_CALL palavox_error_description(int number);

/* "1.5.0": the library's version, which PALAVOX_VERSION_STRING gives for the
 * header a program was built with. */
PALAVOX_C_API const char* PALAVOX_C_CALL palavox_version(void);

#ifdef __cplusplus
}
#endif

#endif /* PALAVOX_PALAVOX_H */

/* Runs of UTF-16 units beside a one-byte text, for a binding written in C
 * that holds one-byte strings (the Python module): widening its bytes to
 * units, narrowing units below 0x100 back, and the union of a run's bits and
 * of its differences from another run. Block loops of text/'s own (units.cpp,
 * units_blocks.hpp), run by the kernel the text routines run, asked once;
 * the plain loops are the definition. Beside them, text/utf8/'s codec, for
 * the UTF-8 strings of Arrow columns. pvx_: never exported by libpalavox,
 * whose list is palavox_*. Internal: neither installed nor exported. */
#ifndef PALAVOX_UNITS_H
#define PALAVOX_UNITS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct pvx_unit_loops {
    /* out[i] = in[i] for i < n */
    void (*widen)(const uint8_t* in, size_t n, uint16_t* out);
    /* out[i] = in[i] for i < n, every in[i] below 0x100 */
    void (*narrow)(const uint16_t* in, size_t n, uint8_t* out);
    /* *bits: the union of a's units; *differ: of a[i] ^ b[i], 0 when equal */
    void (*unite)(const uint16_t* a, const uint16_t* b, size_t n, uint16_t* bits, uint16_t* differ);
    /* UTF-8 to units, `out` with room for n: how many, or -1 for bytes that
     * are not UTF-8 (the strict rules of the _utf8 functions) */
    ptrdiff_t (*decode_utf8)(const char* in, size_t n, uint16_t* out);
    /* units to UTF-8, `out` with room for 3 bytes a unit: how many bytes, or
     * -1 for an unpaired surrogate, which UTF-8 cannot carry */
    ptrdiff_t (*encode_utf8)(const uint16_t* in, size_t n, char* out);
    /* the units valid UTF-8 decodes to: rows laid end to end are decoded at
     * once and each row's share of the units found so */
    size_t (*utf8_units)(const char* in, size_t n);
    /* the bytes of the UTF-8 form of units holding no unpaired surrogate */
    size_t (*utf8_length)(const uint16_t* in, size_t n);
    /* The same two for rows laid end to end, in one pass: ends[k] (ascending
     * offsets into in[0, n), the row ends) rewritten in place as what
     * utf8_units (utf8_length) gives for in[0, ends[k]). */
    void (*utf8_units_at)(const char* in, size_t n, int64_t* ends, size_t rows);
    void (*utf8_length_at)(const uint16_t* in, size_t n, int64_t* ends, size_t rows);
} pvx_unit_loops;

/* The loops of the kernel the text routines run now (WithKernel's choice). */
const pvx_unit_loops* pvx_units(void);

#ifdef __cplusplus
}
#endif

#endif

/* The module's units and arguments, on every call's path and so inline in
 * each part that calls them: a str's UTF-16 units and back, and the arguments
 * of a call. Their errors are units.c's. */
#ifndef PALAVOX_PYTHON_UNITS_H
#define PALAVOX_PYTHON_UNITS_H

#include "module.h"

#include <string.h>

/* A text's UTF-16 units for the length of a call. */
typedef struct {
    const uint16_t* units;
    size_t length;
    uint16_t* heap; /* PyMem_Free'd by release */
    uint16_t stack[STACK_UNITS];
} Units;

static inline void release(Units* u) {
    /* most texts are short: no call for them */
    if (u->heap != NULL) PyMem_Free(u->heap);
}

/* What decoding units gives: the union of their bits and the number of valid
 * surrogate pairs, each of which is one character. */
typedef struct {
    uint16_t bits;
    Py_ssize_t pairs;
} Shape;

/* The maximum character (PyUnicode_New's) of the str units decode to. Below
 * 0x100 the union of the bits gives the kind exactly. */
static inline Py_UCS4 top(Shape s) {
    return s.pairs ? 0x10FFFF : s.bits < 0x80 ? 0x7F : s.bits < 0x100 ? 0xFF : 0xFFFF;
}

static inline uint16_t* room(Units* u, size_t length) {
    if (length <= STACK_UNITS) return u->stack;
    /* branch-untaken: no str in memory has PY_SSIZE_T_MAX / 2 characters */
    if (length > PY_SSIZE_T_MAX / sizeof(uint16_t)) return NULL;
    u->heap = (uint16_t*)PyMem_Malloc(length * sizeof(uint16_t));
    return u->heap;
}

/* A 4-byte str's characters as UTF-16 units (surrogate pairs past U+FFFF):
 * how many, and written to `out`, which has room for units4() of them. The
 * other kinds' conversions are the core's loops (unit_loops). */
static inline size_t units4(const Py_UCS4* in, size_t n) {
    size_t length = n;
    for (size_t i = 0; i < n; i++) length += in[i] > 0xFFFF;
    return length;
}

static inline size_t encode4(const Py_UCS4* in, size_t n, uint16_t* out) {
    size_t k = 0;
    for (size_t i = 0; i < n; i++) {
        const Py_UCS4 c = in[i];
        if (c > 0xFFFF) {
            out[k++] = (uint16_t)(0xD7C0 + (c >> 10));
            out[k++] = (uint16_t)(0xDC00 | (c & 0x3FF));
        } else {
            out[k++] = (uint16_t)c;
        }
    }
    return k;
}

/* 0, or -1 with a Python exception set. None is the empty text. A text whose
 * units find no memory fails as the core would, with PALAVOX_OUT_OF_MEMORY. */
static inline int take(PyObject* value, const char* name, Units* u) {
    u->units = NULL;
    u->length = 0;
    u->heap = NULL;
    if (value == Py_None) return 0;
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be str or None, not %.100s", name,
                     Py_TYPE(value)->tp_name);
        return -1;
    }
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(value) < 0) return -1;
#endif
    const size_t n = (size_t)PyUnicode_GET_LENGTH(value);
    const void* data = PyUnicode_DATA(value);
    uint16_t* out;
    switch (PyUnicode_KIND(value)) {
        case PyUnicode_2BYTE_KIND:
            u->units = (const uint16_t*)data;
            u->length = n;
            return 0;
        case PyUnicode_1BYTE_KIND:
            if ((out = room(u, n)) == NULL) break;
            unit_loops->widen((const Py_UCS1*)data, n, out);
            u->units = out;
            u->length = n;
            return 0;
        default: {
            const size_t length = units4((const Py_UCS4*)data, n);
            if ((out = room(u, length)) == NULL) break;
            u->length = encode4((const Py_UCS4*)data, n, out);
            u->units = out;
            return 0;
        }
    }
    fail(PALAVOX_OUT_OF_MEMORY);
    return -1;
}

static inline int is_high(uint16_t unit) { return (unit & 0xFC00) == 0xD800; }
static inline int is_low(uint16_t unit) { return (unit & 0xFC00) == 0xDC00; }

static inline Py_ssize_t pairs(const uint16_t* units, Py_ssize_t n) {
    Py_ssize_t count = 0;
    for (Py_ssize_t i = 0; i + 1 < n; i++) {
        if (is_high(units[i]) && is_low(units[i + 1])) {
            count++;
            i++;
        }
    }
    return count;
}

static inline Shape shape(const uint16_t* units, Py_ssize_t n) {
    uint16_t bits = 0; /* a local: the loop vectorizes */
    for (Py_ssize_t i = 0; i < n; i++) bits |= units[i];
    const Shape s = {bits, bits >= 0xD800 ? pairs(units, n) : 0};
    return s;
}

/* Writes units as the characters of a str of top(s): a valid pair is one
 * character, a lone surrogate stays a character of its own. */
static inline void put(void* out, Shape s, const uint16_t* units, Py_ssize_t n) {
    if (s.pairs == 0) {
        if (s.bits < 0x100) {
            unit_loops->narrow(units, (size_t)n, (Py_UCS1*)out);
        } else {
            memcpy(out, units, (size_t)n * sizeof(uint16_t));
        }
        return;
    }
    Py_UCS4* to = (Py_UCS4*)out;
    for (Py_ssize_t i = 0; i < n; i++) {
        if (i + 1 < n && is_high(units[i]) && is_low(units[i + 1])) {
            *to++ = 0x10000 + (((Py_UCS4)units[i] - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            i++;
        } else {
            *to++ = units[i];
        }
    }
}

/* UTF-16 units as a canonical str. */
static inline PyObject* decode(const uint16_t* units, Py_ssize_t n, Shape s) {
    PyObject* text = PyUnicode_New(n - s.pairs, top(s));
    if (text != NULL) put(PyUnicode_DATA(text), s, units, n);
    return text;
}

/* A result of the C interface as a str. When the core gave back the argument's
 * own units and decoding them joins no pair, that is the argument itself (an
 * exact str is immutable): no copy. */
static inline PyObject* result(int status, uint16_t* units, size_t length, PyObject* source,
                               const Units* in) {
    if (status != 0) return fail(status);
    PyObject* text;
    /* branch-untaken: units in allocated memory are at most SIZE_MAX / 2 */
    if (length > (size_t)PY_SSIZE_T_MAX) {
        text = fail(PALAVOX_OUT_OF_MEMORY);
    } else {
        const Shape s = shape(units, (Py_ssize_t)length);
        if (s.pairs == 0 && PyUnicode_CheckExact(source) && length == in->length &&
            (length == 0 || memcmp(units, in->units, length * sizeof(uint16_t)) == 0)) {
            Py_INCREF(source);
            text = source;
        } else {
            text = decode(units, (Py_ssize_t)length, s);
        }
    }
    palavox_free(units);
    return text;
}

/* Positional and keyword arguments into `out` (None where an optional one is
 * left out), with CPython's messages for a wrong call. */
static inline int parse(const char* function, const char* const* names, Py_ssize_t total,
                        Py_ssize_t required, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames, PyObject** out) {
    if (nargs > total) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd arguments (%zd given)", function,
                     total, nargs);
        return -1;
    }
    for (Py_ssize_t i = 0; i < total; i++) out[i] = i < nargs ? args[i] : NULL;
    const Py_ssize_t nkw = kwnames == NULL ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; k++) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t i = 0;
        while (i < total && PyUnicode_CompareWithASCIIString(key, names[i]) != 0) i++;
        if (i == total) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function,
                         key);
            return -1;
        }
        if (out[i] != NULL) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                         names[i]);
            return -1;
        }
        out[i] = args[nargs + k];
    }
    for (Py_ssize_t i = 0; i < total; i++) {
        if (out[i] != NULL) continue;
        if (i < required) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)", function,
                         names[i], i + 1);
            return -1;
        }
        out[i] = Py_None;
    }
    return 0;
}

#endif

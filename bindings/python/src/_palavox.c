/* CPython extension palavox._palavox over the C interface.
 *
 * The core works on UTF-16 code units; a str is read straight from its PEP 393
 * form: a 2-byte str is passed as it is (lone surrogates included), a 1-byte
 * one is widened and a 4-byte one encoded as pairs, on the stack when short.
 * Results come back as canonical strs: the smallest kind that holds them, a
 * surrogate pair joined into its character as UTF-16 decoding does. Per call
 * this is a few tens of nanoseconds where a codec round trip costs hundreds. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "palavox/palavox.h"

/* Texts up to this many units convert on the stack. */
#define STACK_UNITS 256
/* Releasing the GIL costs about as much as a short call; past this many units
 * the core works long enough for another thread to use the time. */
#define GIL_UNITS 4096

static PyObject* palavox_error; /* palavox.PalavoxError, set once at import */

/* Raises PalavoxError with the number on .number; for a row of a batch call,
 * its position on .row (None otherwise) and at the head of the message. */
static PyObject* fail_row(int number, Py_ssize_t row) {
    const char* description = palavox_error_description(number);
    PyObject* message = row < 0 ? PyUnicode_FromString(description)
                                : PyUnicode_FromFormat("row %zd: %s", row, description);
    if (message == NULL) return NULL;
    PyObject* error = PyObject_CallFunctionObjArgs(palavox_error, message, NULL);
    Py_DECREF(message);
    if (error == NULL) return NULL;
    PyObject* value = PyLong_FromLong(number);
    /* branch-untaken: every error number is a small int, which CPython never allocates */
    int set = value == NULL ? -1 : PyObject_SetAttrString(error, "number", value);
    Py_XDECREF(value);
    if (set == 0 && row >= 0) {
        value = PyLong_FromSsize_t(row);
        set = value == NULL ? -1 : PyObject_SetAttrString(error, "row", value);
        Py_XDECREF(value);
    }
    if (set == 0) PyErr_SetObject(palavox_error, error);
    Py_DECREF(error);
    return NULL;
}

static PyObject* fail(int number) { return fail_row(number, -1); }

/* A text's UTF-16 units for the length of a call. */
typedef struct {
    const uint16_t* units;
    size_t length;
    uint16_t* heap; /* PyMem_Free'd by release */
    uint16_t stack[STACK_UNITS];
} Units;

static uint16_t* room(Units* u, size_t length) {
    if (length <= STACK_UNITS) return u->stack;
    /* branch-untaken: no str in memory has PY_SSIZE_T_MAX / 2 characters */
    if (length > PY_SSIZE_T_MAX / sizeof(uint16_t)) return NULL;
    u->heap = (uint16_t*)PyMem_Malloc(length * sizeof(uint16_t));
    return u->heap;
}

/* A str's characters as UTF-16 units: widened from one byte, or encoded as
 * surrogate pairs from four. `out` has room for units4() of them. */
#if defined(__SSE2__)
/* Names and comments are short: vectors that overlap at the end instead of a
 * loop over the last few characters, whose exit mispredicts on every row. */
static void widen1(const Py_UCS1* in, size_t n, uint16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    if (n >= 16) {
        for (size_t i = 0;; i += 16) {
            if (i + 16 > n) i = n - 16;
            const __m128i v = _mm_loadu_si128((const __m128i*)(in + i));
            _mm_storeu_si128((__m128i*)(out + i), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128((__m128i*)(out + i + 8), _mm_unpackhi_epi8(v, zero));
            if (i + 16 == n) return;
        }
    }
    if (n >= 8) {
        const __m128i a = _mm_loadl_epi64((const __m128i*)in);
        const __m128i b = _mm_loadl_epi64((const __m128i*)(in + n - 8));
        _mm_storeu_si128((__m128i*)out, _mm_unpacklo_epi8(a, zero));
        _mm_storeu_si128((__m128i*)(out + n - 8), _mm_unpacklo_epi8(b, zero));
        return;
    }
    if (n >= 4) {
        int a, b;
        memcpy(&a, in, 4);
        memcpy(&b, in + n - 4, 4);
        _mm_storel_epi64((__m128i*)out, _mm_unpacklo_epi8(_mm_cvtsi32_si128(a), zero));
        _mm_storel_epi64((__m128i*)(out + n - 4), _mm_unpacklo_epi8(_mm_cvtsi32_si128(b), zero));
        return;
    }
    for (size_t i = 0; i < n; i++) out[i] = in[i];
}

/* Units all below 0x100 to bytes, likewise. */
static void narrow1(const uint16_t* in, size_t n, Py_UCS1* out) {
    if (n >= 16) {
        for (size_t i = 0;; i += 16) {
            if (i + 16 > n) i = n - 16;
            const __m128i a = _mm_loadu_si128((const __m128i*)(in + i));
            const __m128i b = _mm_loadu_si128((const __m128i*)(in + i + 8));
            _mm_storeu_si128((__m128i*)(out + i), _mm_packus_epi16(a, b));
            if (i + 16 == n) return;
        }
    }
    if (n >= 8) {
        const __m128i a = _mm_loadu_si128((const __m128i*)in);
        const __m128i b = _mm_loadu_si128((const __m128i*)(in + n - 8));
        _mm_storel_epi64((__m128i*)out, _mm_packus_epi16(a, a));
        _mm_storel_epi64((__m128i*)(out + n - 8), _mm_packus_epi16(b, b));
        return;
    }
    for (size_t i = 0; i < n; i++) out[i] = (Py_UCS1)in[i];
}

/* The union of a's units' bits, and of a's and b's differences. */
static void unite(const uint16_t* a, const uint16_t* b, size_t n, uint16_t* bits,
                  uint16_t* differ) {
    if (n < 8) {
        uint16_t one = 0, other = 0;
        for (size_t i = 0; i < n; i++) {
            one |= a[i];
            other |= a[i] ^ b[i];
        }
        *bits = one;
        *differ = other;
        return;
    }
    __m128i all = _mm_setzero_si128(), diff = all;
    for (size_t i = 0;; i += 8) {
        if (i + 8 > n) i = n - 8;
        const __m128i x = _mm_loadu_si128((const __m128i*)(a + i));
        all = _mm_or_si128(all, x);
        diff = _mm_or_si128(diff, _mm_xor_si128(x, _mm_loadu_si128((const __m128i*)(b + i))));
        if (i + 8 == n) break;
    }
    all = _mm_or_si128(all, _mm_srli_si128(all, 8));
    all = _mm_or_si128(all, _mm_srli_si128(all, 4));
    all = _mm_or_si128(all, _mm_srli_si128(all, 2));
    diff = _mm_or_si128(diff, _mm_srli_si128(diff, 8));
    diff = _mm_or_si128(diff, _mm_srli_si128(diff, 4));
    diff = _mm_or_si128(diff, _mm_srli_si128(diff, 2));
    *bits = (uint16_t)_mm_cvtsi128_si32(all);
    *differ = (uint16_t)_mm_cvtsi128_si32(diff);
}
#else
static void widen1(const Py_UCS1* in, size_t n, uint16_t* out) {
    for (size_t i = 0; i < n; i++) out[i] = in[i];
}

static void narrow1(const uint16_t* in, size_t n, Py_UCS1* out) {
    for (size_t i = 0; i < n; i++) out[i] = (Py_UCS1)in[i];
}

static void unite(const uint16_t* a, const uint16_t* b, size_t n, uint16_t* bits,
                  uint16_t* differ) {
    uint16_t all = 0, diff = 0; /* locals: the loop vectorizes */
    for (size_t i = 0; i < n; i++) {
        all |= a[i];
        diff |= a[i] ^ b[i];
    }
    *bits = all;
    *differ = diff;
}
#endif

static size_t units4(const Py_UCS4* in, size_t n) {
    size_t length = n;
    for (size_t i = 0; i < n; i++) length += in[i] > 0xFFFF;
    return length;
}

static size_t encode4(const Py_UCS4* in, size_t n, uint16_t* out) {
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
static int take(PyObject* value, const char* name, Units* u) {
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
            widen1((const Py_UCS1*)data, n, out);
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

static void release(Units* u) { PyMem_Free(u->heap); }

static int is_high(uint16_t unit) { return (unit & 0xFC00) == 0xD800; }
static int is_low(uint16_t unit) { return (unit & 0xFC00) == 0xDC00; }

/* What decoding units gives: the union of their bits and the number of valid
 * surrogate pairs, each of which is one character. */
typedef struct {
    uint16_t bits;
    Py_ssize_t pairs;
} Shape;

static Py_ssize_t pairs(const uint16_t* units, Py_ssize_t n) {
    Py_ssize_t count = 0;
    for (Py_ssize_t i = 0; i + 1 < n; i++) {
        if (is_high(units[i]) && is_low(units[i + 1])) {
            count++;
            i++;
        }
    }
    return count;
}

static Shape shape(const uint16_t* units, Py_ssize_t n) {
    uint16_t bits = 0; /* a local: the loop vectorizes */
    for (Py_ssize_t i = 0; i < n; i++) bits |= units[i];
    const Shape s = {bits, bits >= 0xD800 ? pairs(units, n) : 0};
    return s;
}

/* The maximum character (PyUnicode_New's) of the str units decode to. Below
 * 0x100 the union of the bits gives the kind exactly. */
static Py_UCS4 top(Shape s) {
    return s.pairs ? 0x10FFFF : s.bits < 0x80 ? 0x7F : s.bits < 0x100 ? 0xFF : 0xFFFF;
}

/* Writes units as the characters of a str of top(s): a valid pair is one
 * character, a lone surrogate stays a character of its own. */
static void put(void* out, Shape s, const uint16_t* units, Py_ssize_t n) {
    if (s.pairs == 0) {
        if (s.bits < 0x100) {
            narrow1(units, (size_t)n, (Py_UCS1*)out);
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
static PyObject* decode(const uint16_t* units, Py_ssize_t n, Shape s) {
    PyObject* text = PyUnicode_New(n - s.pairs, top(s));
    if (text != NULL) put(PyUnicode_DATA(text), s, units, n);
    return text;
}

/* A result of the C interface as a str. When the core gave back the argument's
 * own units and decoding them joins no pair, that is the argument itself (an
 * exact str is immutable): no copy. */
static PyObject* result(int status, uint16_t* units, size_t length, PyObject* source,
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
static int parse(const char* function, const char* const* names, Py_ssize_t total,
                 Py_ssize_t required, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 PyObject** out) {
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

static PyObject* trata_html(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    static const char* const names[] = {"entrada", "target"};
    PyObject* a[2];
    Units e, t;
    uint16_t* units = NULL;
    size_t length = 0;
    int status;
    (void)self;
    if (parse("trata_html", names, 2, 1, args, nargs, kwnames, a) < 0) return NULL;
    if (take(a[0], "entrada", &e) < 0) return NULL;
    if (take(a[1], "target", &t) < 0) {
        release(&e);
        return NULL;
    }
    if (e.length < GIL_UNITS) {
        status = palavox_trata_html(e.units, e.length, t.units, t.length, &units, &length);
    } else {
        Py_BEGIN_ALLOW_THREADS status =
            palavox_trata_html(e.units, e.length, t.units, t.length, &units, &length);
        Py_END_ALLOW_THREADS
    }
    PyObject* text = result(status, units, length, a[0], &e);
    release(&e);
    release(&t);
    return text;
}

static PyObject* find_string(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    static const char* const names[] = {"entrada", "procura", "tipo"};
    PyObject* a[3];
    Units e, p, t;
    int32_t count = 0;
    int status;
    (void)self;
    if (parse("find_string", names, 3, 2, args, nargs, kwnames, a) < 0) return NULL;
    if (take(a[0], "entrada", &e) < 0) return NULL;
    if (take(a[1], "procura", &p) < 0) {
        release(&e);
        return NULL;
    }
    if (take(a[2], "tipo", &t) < 0) {
        release(&e);
        release(&p);
        return NULL;
    }
    if (e.length < GIL_UNITS) {
        status =
            palavox_find_string(e.units, e.length, p.units, p.length, t.units, t.length, &count);
    } else {
        Py_BEGIN_ALLOW_THREADS status =
            palavox_find_string(e.units, e.length, p.units, p.length, t.units, t.length, &count);
        Py_END_ALLOW_THREADS
    }
    release(&e);
    release(&p);
    release(&t);
    return status != 0 ? fail(status) : PyLong_FromLong(count);
}

static PyObject* remover_acentuacao(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    static const char* const names[] = {"texto"};
    PyObject* a[1];
    Units t;
    uint16_t* units = NULL;
    size_t length = 0;
    int status;
    (void)self;
    if (parse("remover_acentuacao", names, 1, 1, args, nargs, kwnames, a) < 0) return NULL;
    if (take(a[0], "texto", &t) < 0) return NULL;
    if (t.length < GIL_UNITS) {
        status = palavox_remover_acentuacao(t.units, t.length, &units, &length);
    } else {
        Py_BEGIN_ALLOW_THREADS status =
            palavox_remover_acentuacao(t.units, t.length, &units, &length);
        Py_END_ALLOW_THREADS
    }
    PyObject* text = result(status, units, length, a[0], &t);
    release(&t);
    return text;
}

/* ---------------------------------------------------------------- columns
 *
 * A batch call works its rows a chunk at a time. Under the GIL a chunk's rows
 * are gathered, with a reference to each so that nothing frees a text while
 * the core reads it; the GIL is released while the core works the whole
 * chunk; it is taken back to make the result objects. One chunk's results at
 * most are held beside the output, and threads working other batches run
 * while the core works. */

enum { FOLD, MARKUP, COUNT };

/* A chunk ends at this many rows, or once it holds this many characters:
 * long enough that handing the GIL over between threads costs little beside
 * the work, short enough that its buffers stay small. An iterator's first
 * chunk is shorter, since its length is unknown. */
#ifndef CHUNK_ROWS
#define CHUNK_ROWS 16384
#endif
#define CHUNK_CHARS (CHUNK_ROWS * 64)
#define FIRST_CHUNK_ROWS 256

typedef struct {
    PyObject* item; /* a reference held while the chunk is worked */
    const void* data;
    size_t length; /* characters */
    int kind;      /* PyUnicode_1BYTE_KIND, 2 or 4; 0 for a missing value given back */
    int exact;     /* an exact str, immutable: may be given back as its own result */
} Row;

/* A row's result: new units, the row's own str, or its missing value given back. */
enum { NEW, SAME, KEPT };

typedef struct {
    int status; /* 0, or the row's error number */
    int form;
    size_t offset, length; /* NEW: where the result's units lie in Chunk.out ... */
    Shape shape;           /* ... and what they decode to */
    int32_t count;
} Result;

/* Memory the work uses without the GIL. */
typedef struct {
    uint16_t* units;
    size_t size;
} Buffer;

static int reserve(Buffer* b, size_t units) {
    if (units <= b->size) return 0;
    if (units < 2 * b->size) units = 2 * b->size;
    /* branch-untaken: no result sized reaches 2^62 units: its texts would need more memory */
    if (units > PY_SSIZE_T_MAX / sizeof(uint16_t)) return -1;
    uint16_t* p = (uint16_t*)PyMem_RawRealloc(b->units, units * sizeof(uint16_t));
    if (p == NULL) return -1;
    b->units = p;
    b->size = units;
    return 0;
}

typedef struct {
    int op;
    int coerce;      /* errors="coerce": a failing row gives None, not an exception */
    int keep;        /* a Series: a missing value gives itself back */
    Units a, b;      /* the fixed arguments */
    size_t capacity; /* rows a chunk may hold */
    size_t count;    /* rows gathered */
    size_t done;     /* rows worked: fewer when a row fails and errors="raise" */
    Buffer units;    /* the rows' UTF-16 units, one after the other */
    Buffer out;      /* their results' */
    Row* rows;
    Result* results;
    const uint16_t** texts; /* a column for palavox_find_string_many */
    size_t* lengths;
    int32_t* counts;
    int* errors;
} Chunk;

/* Room for `capacity` rows a chunk. 0, or -1 when memory runs out. */
static int hold(Chunk* c, size_t capacity) {
#define GROW(field)                                                                     \
    if ((p = PyMem_Realloc(c->field, capacity * sizeof(*c->field))) == NULL) return -1; \
    c->field = p;
    void* p;
    GROW(rows)
    GROW(results)
    GROW(texts)
    GROW(lengths)
    GROW(counts)
    GROW(errors)
#undef GROW
    c->capacity = capacity;
    return 0;
}

static void drop(Chunk* c) {
    PyMem_Free(c->rows);
    PyMem_Free(c->results);
    PyMem_Free(c->texts);
    PyMem_Free(c->lengths);
    PyMem_Free(c->counts);
    PyMem_Free(c->errors);
    PyMem_RawFree(c->units.units);
    PyMem_RawFree(c->out.units);
}

/* pandas.NA's and pandas.NaT's types, once pandas has been imported. */
static PyTypeObject *na_type, *nat_type;

static int find_pandas_missing(void) {
    PyObject* name = PyUnicode_FromString("pandas");
    if (name == NULL) return -1;
    PyObject* pandas = PyImport_GetModule(name);
    Py_DECREF(name);
    if (pandas == NULL) return PyErr_Occurred() ? -1 : 0;
    PyObject* na = PyObject_GetAttrString(pandas, "NA");
    PyObject* nat = na == NULL ? NULL : PyObject_GetAttrString(pandas, "NaT");
    Py_DECREF(pandas);
    if (nat == NULL) {
        Py_XDECREF(na);
        /* pandas half imported; running out of memory is not that */
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        return 0;
    }
    /* branch-untaken: only a pandas whose NA runs Python code could set it meanwhile */
    if (na_type == NULL) {
        na_type = Py_TYPE(na);
        nat_type = Py_TYPE(nat);
        Py_INCREF(na_type);
        Py_INCREF(nat_type);
    }
    Py_DECREF(na);
    Py_DECREF(nat);
    return 0;
}

/* 1 for pandas' missing values: None, NaN (numpy's too), and pandas.NA and
 * pandas.NaT, which cannot exist before pandas is imported; -1 on error. */
static int is_missing(PyObject* value) {
    if (value == Py_None) return 1;
    if (PyFloat_Check(value)) return Py_IS_NAN(PyFloat_AS_DOUBLE(value));
    if (na_type == NULL && find_pandas_missing() < 0) return -1;
    return Py_TYPE(value) == na_type || Py_TYPE(value) == nat_type;
}

/* A one-dimensional, contiguous NumPy array of objects, read through the array
 * interface: the PyObject pointers it holds (references it owns) and their
 * number. So a Series' column is read, and its results written, without a
 * list of them in between and without NumPy's C interface. 1, or 0 when obj
 * is not such an array (or not writable, when that is asked); -1 on error. */
static int object_array(PyObject* obj, int writable, PyObject*** items, Py_ssize_t* n) {
    PyObject* face = PyObject_GetAttrString(obj, "__array_interface__");
    if (face == NULL) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        return 0;
    }
    int found = 0;
    PyObject *type, *shape, *strides, *data;
    if (PyDict_Check(face) && (type = PyDict_GetItemString(face, "typestr")) != NULL &&
        PyUnicode_Check(type) && PyUnicode_CompareWithASCIIString(type, "|O") == 0 &&
        (shape = PyDict_GetItemString(face, "shape")) != NULL && PyTuple_Check(shape) &&
        PyTuple_GET_SIZE(shape) == 1 &&
        ((strides = PyDict_GetItemString(face, "strides")) == NULL || strides == Py_None) &&
        (data = PyDict_GetItemString(face, "data")) != NULL && PyTuple_Check(data) &&
        PyTuple_GET_SIZE(data) == 2 && (!writable || !PyObject_IsTrue(PyTuple_GET_ITEM(data, 1)))) {
        *n = PyLong_AsSsize_t(PyTuple_GET_ITEM(shape, 0));
        *items = (PyObject**)PyLong_AsVoidPtr(PyTuple_GET_ITEM(data, 0));
        found = PyErr_Occurred() ? -1 : *n == 0 || *items != NULL;
    }
    Py_DECREF(face);
    return found;
}

/* Where a column's items come from: a list or tuple, an array of objects, or
 * an iterator. */
typedef struct {
    PyObject* sequence;
    PyObject** items;
    Py_ssize_t size; /* the array's */
    PyObject* iterator;
} Source;

/* The item at `position` into `row`: 1, 0 past the end, -1 with an exception. */
static int gather(const Source* from, Py_ssize_t position, const char* name, int keep, Row* row) {
    PyObject* item;
    if (from->iterator != NULL) {
        item = PyIter_Next(from->iterator);
        if (item == NULL) return PyErr_Occurred() ? -1 : 0;
    } else if (from->sequence != NULL) {
        /* Read as it is now: another thread may have changed the list since. */
        if (position >= PySequence_Fast_GET_SIZE(from->sequence)) return 0;
        item = PySequence_Fast_GET_ITEM(from->sequence, position);
        Py_INCREF(item);
    } else {
        if (position >= from->size) return 0; /* branch-untaken: column() stops there first */
        item = from->items[position] != NULL ? from->items[position] : Py_None;
        Py_INCREF(item);
    }
    row->item = item;
    if (PyUnicode_Check(item)) {
#if PY_VERSION_HEX < 0x030C0000
        if (PyUnicode_READY(item) < 0) {
            row->item = NULL;
            Py_DECREF(item);
            return -1;
        }
#endif
        row->data = PyUnicode_DATA(item);
        row->length = (size_t)PyUnicode_GET_LENGTH(item);
        row->kind = PyUnicode_KIND(item);
        row->exact = PyUnicode_CheckExact(item);
        return 1;
    }
    const int missing = is_missing(item);
    if (missing <= 0) {
        if (missing == 0) {
            PyErr_Format(PyExc_TypeError, "%s[%zd] must be str or None, not %.100s", name, position,
                         Py_TYPE(item)->tp_name);
        }
        row->item = NULL;
        Py_DECREF(item);
        return -1;
    }
    /* The empty text, or in a Series the missing value given back. */
    row->data = NULL;
    row->length = 0;
    row->kind = keep ? 0 : PyUnicode_1BYTE_KIND;
    row->exact = 0;
    return 1;
}

/* Room for a row's UTF-16 units. */
static size_t most_units(const Row* r) {
    return r->kind == PyUnicode_4BYTE_KIND ? 2 * r->length : r->length;
}

/* A row's UTF-16 units: a 2-byte str's own, otherwise written to `to`. */
static const uint16_t* units_of(const Row* r, uint16_t* to, size_t* n) {
    switch (r->kind) {
        case PyUnicode_2BYTE_KIND:
            *n = r->length;
            return (const uint16_t*)r->data;
        case PyUnicode_1BYTE_KIND:
            widen1((const Py_UCS1*)r->data, r->length, to);
            *n = r->length;
            return to;
        default:
            *n = encode4((const Py_UCS4*)r->data, r->length, to);
            return to;
    }
}

/* The rows' UTF-16 units one after the other in c->units, each row's offset
 * and length in its result; a 2-byte str's own units stay where they are
 * unless `all`. 0, or PALAVOX_OUT_OF_MEMORY. */
static int line_up(Chunk* c, int all) {
    size_t total = 0;
    for (size_t i = 0; i < c->count; i++) total += most_units(&c->rows[i]);
    if (reserve(&c->units, total) < 0) return PALAVOX_OUT_OF_MEMORY;
    size_t at = 0;
    for (size_t i = 0; i < c->count; i++) {
        const Row* row = &c->rows[i];
        Result* r = &c->results[i];
        r->offset = at;
        r->length = row->kind == 0 ? 0 : row->length;
        if (row->kind == 0 || (row->kind == PyUnicode_2BYTE_KIND && !all)) continue;
        uint16_t* to = c->units.units + at;
        const uint16_t* u = units_of(row, to, &r->length);
        if (u != to) memcpy(to, u, r->length * sizeof(uint16_t)); /* a 2-byte str: never empty */
        at += r->length;
    }
    return 0;
}

/* A row's units after line_up(c, 0): a 2-byte str's own, the others' in c->units. */
static const uint16_t* row_units(const Chunk* c, size_t i) {
    const Row* row = &c->rows[i];
    return row->kind == PyUnicode_2BYTE_KIND ? (const uint16_t*)row->data
                                             : c->units.units + c->results[i].offset;
}

/* Marks rows [0, c->count) failed with `status` (done stops at the first when
 * errors="raise"), or missing values given back. */
static void fail_rows(Chunk* c, int status) {
    for (size_t i = 0; i < c->count; i++) {
        Result* r = &c->results[i];
        r->form = c->rows[i].kind == 0 ? KEPT : NEW;
        r->status = r->form == KEPT ? 0 : status;
        if (r->status != 0 && !c->coerce) {
            c->done = i + 1;
            return;
        }
    }
}

/* The row's own str when the result's units are its own and decode to it (as
 * a single call gives it back), otherwise new units at c->out[offset]. */
static void same_or_new(Chunk* c, size_t i, int same) {
    Result* r = &c->results[i];
    const uint16_t* units = c->out.units + r->offset;
    r->shape = shape(units, (Py_ssize_t)r->length);
    r->form = same && r->shape.pairs == 0 && c->rows[i].exact ? SAME : NEW;
}

/* A folded row: its shape, and whether it is the row's own units, in one pass. */
static void folded(Chunk* c, size_t i) {
    Result* r = &c->results[i];
    const uint16_t* in = c->units.units + r->offset;
    const uint16_t* units = c->out.units + r->offset;
    uint16_t bits, differ;
    unite(units, in, r->length, &bits, &differ);
    r->shape.bits = bits;
    r->shape.pairs = bits >= 0xD800 ? pairs(units, (Py_ssize_t)r->length) : 0;
    r->form = differ == 0 && r->shape.pairs == 0 && c->rows[i].exact ? SAME : NEW;
}

/* Folding maps each unit on its own, whatever surrounds it, so the chunk's
 * rows are folded as one text: one call to the core for them all. */
static void fold_chunk(Chunk* c) {
    size_t total = 0;
    int status = line_up(c, 1);
    for (size_t i = 0; i < c->count; i++) total += c->results[i].length;
    if (status == 0 && reserve(&c->out, total) < 0) status = PALAVOX_OUT_OF_MEMORY;
    if (status == 0 && total != 0) {
        status = palavox_remover_acentuacao_into(c->units.units, total, c->out.units);
    }
    if (status != 0) {
        fail_rows(c, status);
        return;
    }
    for (size_t i = 0; i < c->count; i++) {
        Result* r = &c->results[i];
        r->status = 0;
        r->form = KEPT;
        if (c->rows[i].kind == 0) continue;
        folded(c, i);
    }
}

/* The whole chunk's counts in one call, the search worked out once. */
static void count_chunk(Chunk* c) {
    const int status = line_up(c, 0);
    if (status != 0) {
        fail_rows(c, status);
        return;
    }
    size_t n = 0;
    for (size_t i = 0; i < c->count; i++) {
        if (c->rows[i].kind == 0) continue;
        c->texts[n] = row_units(c, i);
        c->lengths[n++] = c->results[i].length;
    }
    const int failed = palavox_find_string_many(c->texts, c->lengths, n, c->a.units, c->a.length,
                                                c->b.units, c->b.length, c->counts, c->errors);
    if (failed != 0) { /* branch-untaken: only allocating the search, a few bytes, fails it */
        fail_rows(c, failed);
        return;
    }
    n = 0;
    for (size_t i = 0; i < c->count; i++) {
        Result* r = &c->results[i];
        r->form = c->rows[i].kind == 0 ? KEPT : NEW;
        r->status = 0;
        if (r->form == KEPT) continue;
        r->count = c->counts[n];
        r->status = c->errors[n++];
        if (r->status != 0 && !c->coerce) {
            c->done = i + 1;
            return;
        }
    }
}

/* Each short row sized and written in one call when the room left holds it,
 * a long one sized first so that its room is what it needs. A result as long
 * as the text is the text: the row's own str, which a one-byte str is
 * without a look at the units. */
static int markup_row(Chunk* c, size_t i, size_t used) {
    const Row* row = &c->rows[i];
    Result* r = &c->results[i];
    const size_t guess = row->length <= CHUNK_CHARS ? 2 * row->length + 256 : 0;
    if ((row->kind != PyUnicode_2BYTE_KIND && reserve(&c->units, most_units(row)) < 0) ||
        reserve(&c->out, used + guess) < 0) {
        return PALAVOX_OUT_OF_MEMORY;
    }
    size_t n;
    const uint16_t* in = units_of(row, c->units.units, &n);
    for (int sized = 0;; sized = 1) {
        const size_t room = c->out.size - used;
        const int status = palavox_trata_html_into(in, n, c->a.units, c->a.length,
                                                   c->out.units + used, room, &r->length);
        /* branch-untaken: writing into given room allocates nothing; no size here overflows */
        if (status != 0) return status;
        if (r->length == n && row->exact && row->kind == PyUnicode_1BYTE_KIND) {
            r->form = SAME;
            return 0;
        }
        if (r->length <= room) break;
        /* branch-untaken: sized: the room is what the core asked for */
        if (sized || reserve(&c->out, used + r->length) < 0) return PALAVOX_OUT_OF_MEMORY;
    }
    r->offset = used;
    same_or_new(c, i, r->length == n);
    return 0;
}

static void markup_chunk(Chunk* c) {
    size_t used = 0;
    for (size_t i = 0; i < c->count; i++) {
        Result* r = &c->results[i];
        r->form = KEPT;
        r->status = 0;
        if (c->rows[i].kind == 0) continue;
        r->status = markup_row(c, i, used);
        if (r->status != 0) {
            if (!c->coerce) {
                c->done = i + 1;
                return;
            }
            continue;
        }
        if (r->form == NEW) used += r->length;
    }
}

/* Works the gathered rows; needs no GIL. */
static void work(Chunk* c) {
    c->done = c->count;
    if (c->op == FOLD) {
        fold_chunk(c);
    } else if (c->op == COUNT) {
        count_chunk(c);
    } else {
        markup_chunk(c);
    }
}

/* Row i's result object: a new reference; None for a failed row when
 * errors="coerce". NULL with an exception when memory runs out. The chunk's
 * reference to the row is dropped once the result is made, or handed on when
 * the result is the row itself: one touch of the row's object less. */
static PyObject* result_object(Chunk* c, size_t i) {
    const Result* r = &c->results[i];
    PyObject* value;
    if (r->status != 0) {
        Py_INCREF(Py_None);
        return Py_None;
    }
    if (r->form != NEW) {
        value = c->rows[i].item;
        c->rows[i].item = NULL;
        return value;
    }
    if (c->op == COUNT) {
        value = PyLong_FromLong(r->count);
    } else {
        value = PyUnicode_New((Py_ssize_t)r->length - r->shape.pairs, top(r->shape));
        if (value != NULL) {
            put(PyUnicode_DATA(value), r->shape, c->out.units + r->offset, (Py_ssize_t)r->length);
        }
    }
    if (value != NULL) {
        Py_DECREF(c->rows[i].item);
        c->rows[i].item = NULL;
    }
    return value;
}

/* The references a chunk holds. */
static void clear_chunk(Chunk* c) {
    for (size_t i = 0; i < c->count; i++) Py_CLEAR(c->rows[i].item);
    c->count = c->done = 0;
}

/* Where results go: a new list; for a Series, an array of objects (texts) or
 * pandas' storage of a nullable integer column (counts: int64 values and a
 * mask of the missing ones). */
typedef struct {
    PyObject* list;
    PyObject** objects;
    Py_buffer values, mask;
    int counts;
} Sink;

static int take_counts(PyObject* values, PyObject* mask, Py_ssize_t rows, Sink* out) {
    const int flags = PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS;
    if (PyObject_GetBuffer(values, &out->values, flags) < 0) return -1;
    if (PyObject_GetBuffer(mask, &out->mask, flags) < 0) {
        PyBuffer_Release(&out->values);
        return -1;
    }
    out->counts = 1;
    if (out->values.itemsize != 8 || out->values.len != rows * 8 || out->mask.itemsize != 1 ||
        out->mask.len != rows) {
        PyErr_SetString(PyExc_ValueError, "_column: counts need int64 and bool arrays, a row each");
        return -1;
    }
    return 0;
}

/* Row `at`'s result into the sink: 0, or -1 with an exception. */
static int put_result(Chunk* c, size_t i, Py_ssize_t at, Sink* out) {
    const Result* r = &c->results[i];
    if (out->counts) {
        const int absent = r->status != 0 || r->form == KEPT;
        ((int64_t*)out->values.buf)[at] = absent ? 0 : r->count;
        ((unsigned char*)out->mask.buf)[at] = (unsigned char)absent;
        return 0;
    }
    PyObject* value = result_object(c, i);
    if (value == NULL) return -1;
    if (out->objects != NULL) {
        PyObject* old = out->objects[at];
        out->objects[at] = value;
        Py_XDECREF(old);
    } else if (PyList_GET_SIZE(out->list) > at) {
        PyList_SET_ITEM(out->list, at, value);
    } else {
        const int appended = PyList_Append(out->list, value);
        Py_DECREF(value);
        return appended;
    }
    return 0;
}

/* _column(op, name, textos, a, b, coerce, keep, into, mask): the batch calls
 * behind palavox.batch. a and b are the fixed arguments (target; procura,
 * tipo). keep: missing values are given back (a Series). Results go to a new
 * list, returned; or, for a Series, into `into`, of as many rows as textos:
 * an array of objects (texts), or with `mask` pandas' storage of a nullable
 * integer column (counts); None is then returned. */
static PyObject* column(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    (void)self;
    if (nargs != 9) {
        PyErr_SetString(PyExc_TypeError, "_column takes 9 arguments");
        return NULL;
    }
    const long op = PyLong_AsLong(args[0]);
    if (op == -1 && PyErr_Occurred()) return NULL;
    if (op != FOLD && op != MARKUP && op != COUNT) {
        PyErr_SetString(PyExc_ValueError, "_column: no such operation");
        return NULL;
    }
    const char* name = PyUnicode_AsUTF8(args[1]);
    if (name == NULL) return NULL;
    PyObject* textos = args[2];
    const int coerce = PyObject_IsTrue(args[5]);
    const int keep = PyObject_IsTrue(args[6]);
    if (coerce < 0 || keep < 0) return NULL;

    Chunk chunk = {0}, *c = &chunk;
    c->op = (int)op;
    c->coerce = coerce;
    c->keep = keep;
    Source from = {0};
    Sink out = {0};
    int failed = 1, holding = 0, found;
    Py_ssize_t into = 0;
    Py_ssize_t limit = -1, position = 0; /* limit: the rows there are, when known */
    static const char* const fixed[3][2] = {{NULL, NULL}, {"target", NULL}, {"procura", "tipo"}};
    if (fixed[op][0] != NULL && take(args[3], fixed[op][0], &c->a) < 0) goto done;
    if (fixed[op][1] != NULL && take(args[4], fixed[op][1], &c->b) < 0) goto done;

    if (PyList_CheckExact(textos) || PyTuple_CheckExact(textos)) {
        from.sequence = textos;
        limit = PySequence_Fast_GET_SIZE(textos);
    } else if ((found = object_array(textos, 0, &from.items, &from.size)) != 0) {
        if (found < 0) goto done;
        limit = from.size;
    } else if ((from.iterator = PyObject_GetIter(textos)) == NULL) {
        goto done;
    }
    Py_INCREF(textos); /* the column stays whole while it is read */
    holding = 1;

    if (args[7] == Py_None) {
        if ((out.list = PyList_New(limit < 0 ? 0 : limit)) == NULL) goto done;
    } else if (limit < 0) {
        PyErr_SetString(PyExc_TypeError,
                        "_column: results into arrays need a column of known length");
        goto done;
    } else if (op == COUNT) {
        if (take_counts(args[7], args[8], limit, &out) < 0) goto done;
    } else if ((found = object_array(args[7], 1, &out.objects, &into)) <= 0 || into != limit) {
        if (found >= 0) {
            PyErr_SetString(PyExc_TypeError,
                            "_column: texts go into a writable array of objects, a row each");
        }
        goto done;
    }
    /* A short column, a short chunk; an iterator's grow as it goes on. */
    if (hold(c, limit < 0            ? FIRST_CHUNK_ROWS
                : limit < CHUNK_ROWS ? (size_t)limit + (limit == 0)
                                     : CHUNK_ROWS) < 0) {
        PyErr_NoMemory();
        goto done;
    }

    for (int end = 0; !end;) {
        Py_ssize_t chars = 0;
        while (c->count < c->capacity && chars < CHUNK_CHARS) {
            const Py_ssize_t at = position + (Py_ssize_t)c->count;
            const int got =
                limit >= 0 && at >= limit ? 0 : gather(&from, at, name, keep, &c->rows[c->count]);
            if (got < 0) goto done;
            if (got == 0) {
                end = 1;
                break;
            }
            chars += (Py_ssize_t)c->rows[c->count++].length;
        }
        if (c->count == 0) break;
        PyThreadState* state = PyEval_SaveThread();
        work(c);
        PyEval_RestoreThread(state);
        for (size_t i = 0; i < c->done; i++) {
            const Py_ssize_t at = position + (Py_ssize_t)i;
            /* Coercing is for a row's own fault; memory running out is nobody's row. */
            const int status = c->results[i].status;
            if (status != 0 && (!coerce || status == PALAVOX_OUT_OF_MEMORY)) {
                fail_row(status, at);
                goto done;
            }
            if (put_result(c, i, at, &out) < 0) goto done;
        }
        position += (Py_ssize_t)c->count;
        const int full = c->count == c->capacity;
        clear_chunk(c);
        if (full && c->capacity < CHUNK_ROWS && hold(c, 2 * c->capacity) < 0) {
            PyErr_NoMemory();
            goto done;
        }
    }
    /* A list another thread shortened meanwhile: as many results as rows read. */
    if (out.list != NULL && position < PyList_GET_SIZE(out.list) &&
        PyList_SetSlice(out.list, position, PyList_GET_SIZE(out.list), NULL) < 0) {
        goto done;
    }
    failed = 0;
done:
    clear_chunk(c);
    release(&c->a);
    release(&c->b);
    drop(c);
    if (out.counts) {
        PyBuffer_Release(&out.values);
        PyBuffer_Release(&out.mask);
    }
    if (holding) Py_DECREF(textos);
    Py_XDECREF(from.iterator);
    if (failed) {
        Py_XDECREF(out.list);
        return NULL;
    }
    if (out.list == NULL) Py_RETURN_NONE;
    return out.list;
}

#define FASTCALL(f) (PyCFunction)(void (*)(void)) f, METH_FASTCALL | METH_KEYWORDS

static PyMethodDef methods[] = {
    {"trata_html", FASTCALL(trata_html),
     "trata_html(entrada, target=None) -> str\n\n"
     "Wraps every web link in an anchor opening in target (\"_self\" when empty)."},
    {"find_string", FASTCALL(find_string),
     "find_string(entrada, procura, tipo=None) -> int\n\n"
     "Non-overlapping occurrences of procura, ignoring case unless tipo is \"B\" or \"b\"."},
    {"remover_acentuacao", FASTCALL(remover_acentuacao),
     "remover_acentuacao(texto) -> str\n\n"
     "Folds accents, \"&\" to \"e\", and a fixed set of symbols to spaces."},
    {"_column", (PyCFunction)(void (*)(void))column, METH_FASTCALL,
     "_column(op, name, textos, a, b, coerce, keep, values, mask): palavox.batch's work."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "palavox._palavox",
    "Palavox text services over the C interface.",
    -1,
    methods,
    NULL,
    NULL,
    NULL,
    NULL,
};

PyMODINIT_FUNC PyInit__palavox(void) {
    PyObject* module = PyModule_Create(&module_def);
    if (module == NULL) return NULL;
    PyObject* error = PyErr_NewExceptionWithDoc(
        "palavox.PalavoxError",
        "A failed call; number is the error number (13, 5, 6) or 7, out of memory; row, the\n"
        "position of the failing row in a batch call (None for a single call).",
        PyExc_ValueError, NULL);
    if (error == NULL || PyObject_SetAttrString(error, "row", Py_None) < 0) {
        Py_XDECREF(error);
        Py_DECREF(module);
        return NULL;
    }
    /* Only a whole class replaces the one calls raise: CPython initialises the
     * module again when it is loaded from another path, and the module made
     * before still raises it if that fails. */
    palavox_error = error;
    Py_INCREF(palavox_error);
    if (PyModule_AddObject(module, "PalavoxError", palavox_error) < 0) {
        Py_DECREF(palavox_error);
        Py_DECREF(module);
        return NULL;
    }
    if (PyModule_AddStringConstant(module, "__version__", palavox_version()) < 0) {
        Py_DECREF(module);
        return NULL;
    }
    /* The error numbers by the names palavox.h gives them, without its prefix. */
    static const struct {
        const char* name;
        int number;
    } numbers[] = {
        {"INVALID_ARGUMENT", PALAVOX_INVALID_ARGUMENT}, {"OVERFLOW", PALAVOX_OVERFLOW},
        {"OUT_OF_MEMORY", PALAVOX_OUT_OF_MEMORY},       {"TYPE_MISMATCH", PALAVOX_TYPE_MISMATCH},
        {"INTERNAL_ERROR", PALAVOX_INTERNAL_ERROR},
    };
    for (size_t i = 0; i < sizeof numbers / sizeof numbers[0]; i++) {
        if (PyModule_AddIntConstant(module, numbers[i].name, numbers[i].number) < 0) {
            Py_DECREF(module);
            return NULL;
        }
    }
    return module;
}

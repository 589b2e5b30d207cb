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

#include "palavox/palavox.h"

/* Texts up to this many units convert on the stack. */
#define STACK_UNITS 256
/* Releasing the GIL costs about as much as a short call; past this many units
 * the core works long enough for another thread to use the time. */
#define GIL_UNITS 4096

static PyObject *palavox_error; /* palavox.PalavoxError, set once at import */

static PyObject* fail(int number) {
    PyObject* error = PyObject_CallFunction(palavox_error, "s", palavox_error_description(number));
    if (error == NULL) return NULL;
    PyObject* value = PyLong_FromLong(number);
    if (value == NULL || PyObject_SetAttrString(error, "number", value) < 0) {
        Py_XDECREF(value);
        Py_DECREF(error);
        return NULL;
    }
    Py_DECREF(value);
    PyErr_SetObject(palavox_error, error);
    Py_DECREF(error);
    return NULL;
}

/* A text's UTF-16 units for the length of a call. */
typedef struct {
    const uint16_t *units;
    size_t length;
    uint16_t* heap; /* PyMem_Free'd by release */
    uint16_t stack[STACK_UNITS];
} Units;

static uint16_t* room(Units* u, size_t length) {
    if (length <= STACK_UNITS) return u->stack;
    u->heap = length <= PY_SSIZE_T_MAX / sizeof(uint16_t)
                  ? (uint16_t*)PyMem_Malloc(length * sizeof(uint16_t))
                  : NULL;
    return u->heap;
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
    const Py_ssize_t n = PyUnicode_GET_LENGTH(value);
    const void* data = PyUnicode_DATA(value);
    uint16_t* out;
    switch (PyUnicode_KIND(value)) {
        case PyUnicode_2BYTE_KIND:
            u->units = (const uint16_t*)data;
            u->length = (size_t)n;
            return 0;
        case PyUnicode_1BYTE_KIND: {
            const Py_UCS1* in = (const Py_UCS1*)data;
            if ((out = room(u, (size_t)n)) == NULL) break;
            for (Py_ssize_t i = 0; i < n; i++) out[i] = in[i];
            u->units = out;
            u->length = (size_t)n;
            return 0;
        }
        default: {
            const Py_UCS4* in = (const Py_UCS4*)data;
            size_t length = (size_t)n;
            for (Py_ssize_t i = 0; i < n; i++) length += in[i] > 0xFFFF;
            if ((out = room(u, length)) == NULL) break;
            size_t k = 0;
            for (Py_ssize_t i = 0; i < n; i++) {
                const Py_UCS4 c = in[i];
                if (c > 0xFFFF) {
                    out[k++] = (uint16_t)(0xD7C0 + (c >> 10));
                    out[k++] = (uint16_t)(0xDC00 | (c & 0x3FF));
                } else {
                    out[k++] = (uint16_t)c;
                }
            }
            u->units = out;
            u->length = length;
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

static Shape shape(const uint16_t* units, Py_ssize_t n) {
    Shape s = {0, 0};
    for (Py_ssize_t i = 0; i < n; i++) s.bits |= units[i];
    if (s.bits >= 0xD800) {
        for (Py_ssize_t i = 0; i + 1 < n; i++) {
            if (is_high(units[i]) && is_low(units[i + 1])) {
                s.pairs++;
                i++;
            }
        }
    }
    return s;
}

/* UTF-16 units as a canonical str: a valid pair is one character, a lone
 * surrogate stays a character of its own. */
static PyObject* decode(const uint16_t* units, Py_ssize_t n, Shape s) {
    if (s.pairs == 0) {
        /* Below 0x100 the union of the bits gives the kind exactly. */
        PyObject* text = PyUnicode_New(n, s.bits < 0x80 ? 0x7F : s.bits < 0x100 ? 0xFF : 0xFFFF);
        if (text == NULL) return NULL;
        if (s.bits < 0x100) {
            Py_UCS1* out = PyUnicode_1BYTE_DATA(text);
            for (Py_ssize_t i = 0; i < n; i++) out[i] = (Py_UCS1)units[i];
        } else {
            memcpy(PyUnicode_2BYTE_DATA(text), units, (size_t)n * sizeof(uint16_t));
        }
        return text;
    }
    PyObject* text = PyUnicode_New(n - s.pairs, 0x10FFFF);
    if (text == NULL) return NULL;
    Py_UCS4* out = PyUnicode_4BYTE_DATA(text);
    for (Py_ssize_t i = 0; i < n; i++) {
        if (i + 1 < n && is_high(units[i]) && is_low(units[i + 1])) {
            *out++ = 0x10000 + (((Py_UCS4)units[i] - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            i++;
        } else {
            *out++ = units[i];
        }
    }
    return text;
}

/* A result of the C interface as a str. When the core gave back the argument's
 * own units and decoding them joins no pair, that is the argument itself (an
 * exact str is immutable): no copy. */
static PyObject* result(int status, uint16_t* units, size_t length, PyObject* source,
                        const Units* in) {
    if (status != 0) return fail(status);
    PyObject* text;
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
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "palavox._palavox", "Palavox text services over the C interface.", -1,
    methods, NULL, NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit__palavox(void) {
    PyObject *module = PyModule_Create(&module_def);
    if (module == NULL) return NULL;
    palavox_error = PyErr_NewExceptionWithDoc(
        "palavox.PalavoxError",
        "A failed call; number is the error number (13, 5, 6) or 7, out of memory.",
        PyExc_ValueError, NULL);
    if (palavox_error == NULL) {
        Py_DECREF(module);
        return NULL;
    }
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

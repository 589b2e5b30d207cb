/* CPython extension palavox._palavox over the C interface (libpalavox.a,
 * linked in). A str crosses as UTF-16 both ways with surrogatepass, so lone
 * surrogates survive and astral characters travel as pairs; the GIL is
 * released while the library works. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "palavox/palavox.h"

static PyObject *palavox_error; /* palavox.PalavoxError, set once at import */

/* A str's UTF-16 code units, held in a bytes object for the length of the call. */
typedef struct {
    PyObject *bytes;
    const uint16_t *units;
    size_t length;
} Units;

/* 0, or -1 with a Python exception set. None is the empty text (NULL, 0). */
static int take(PyObject *value, const char *name, Units *out) {
    out->bytes = NULL;
    out->units = NULL;
    out->length = 0;
    if (value == Py_None) return 0;
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be str or None, not %.100s", name,
                     Py_TYPE(value)->tp_name);
        return -1;
    }
    out->bytes = PyUnicode_AsEncodedString(value, "utf-16-le", "surrogatepass");
    if (out->bytes == NULL) return -1;
    /* bytes storage is aligned for any scalar */
    out->units = (const uint16_t *)PyBytes_AS_STRING(out->bytes);
    out->length = (size_t)PyBytes_GET_SIZE(out->bytes) / 2;
    return 0;
}

static void release(Units *u) { Py_CLEAR(u->bytes); }

static PyObject *fail(int number) {
    PyObject *error = PyObject_CallFunction(palavox_error, "s", palavox_error_description(number));
    if (error == NULL) return NULL;
    PyObject *value = PyLong_FromLong(number);
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

static PyObject *to_str(int status, uint16_t *result, size_t length) {
    if (status != 0) return fail(status);
    int little_endian = -1; /* a leading U+FEFF is text, not a byte order mark */
    PyObject *text = PyUnicode_DecodeUTF16((const char *)result, (Py_ssize_t)(length * 2),
                                           "surrogatepass", &little_endian);
    palavox_free(result);
    return text;
}

static PyObject *trata_html(PyObject *self, PyObject *args, PyObject *kwargs) {
    static char *names[] = {"entrada", "target", NULL};
    PyObject *entrada, *target = Py_None;
    Units e, t;
    uint16_t *result = NULL;
    size_t length = 0;
    int status;
    (void)self;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:trata_html", names, &entrada, &target))
        return NULL;
    if (take(entrada, "entrada", &e) < 0) return NULL;
    if (take(target, "target", &t) < 0) {
        release(&e);
        return NULL;
    }
    Py_BEGIN_ALLOW_THREADS
    status = palavox_trata_html(e.units, e.length, t.units, t.length, &result, &length);
    Py_END_ALLOW_THREADS
    release(&e);
    release(&t);
    return to_str(status, result, length);
}

static PyObject *find_string(PyObject *self, PyObject *args, PyObject *kwargs) {
    static char *names[] = {"entrada", "procura", "tipo", NULL};
    PyObject *entrada, *procura, *tipo = Py_None;
    Units e, p, t;
    int32_t count = 0;
    int status;
    (void)self;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O:find_string", names, &entrada, &procura,
                                     &tipo))
        return NULL;
    if (take(entrada, "entrada", &e) < 0) return NULL;
    if (take(procura, "procura", &p) < 0) {
        release(&e);
        return NULL;
    }
    if (take(tipo, "tipo", &t) < 0) {
        release(&e);
        release(&p);
        return NULL;
    }
    Py_BEGIN_ALLOW_THREADS
    status = palavox_find_string(e.units, e.length, p.units, p.length, t.units, t.length, &count);
    Py_END_ALLOW_THREADS
    release(&e);
    release(&p);
    release(&t);
    return status != 0 ? fail(status) : PyLong_FromLong(count);
}

static PyObject *remover_acentuacao(PyObject *self, PyObject *args, PyObject *kwargs) {
    static char *names[] = {"texto", NULL};
    PyObject *texto;
    Units t;
    uint16_t *result = NULL;
    size_t length = 0;
    int status;
    (void)self;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:remover_acentuacao", names, &texto))
        return NULL;
    if (take(texto, "texto", &t) < 0) return NULL;
    Py_BEGIN_ALLOW_THREADS
    status = palavox_remover_acentuacao(t.units, t.length, &result, &length);
    Py_END_ALLOW_THREADS
    release(&t);
    return to_str(status, result, length);
}

static PyMethodDef methods[] = {
    {"trata_html", (PyCFunction)(void (*)(void))trata_html, METH_VARARGS | METH_KEYWORDS,
     "trata_html(entrada, target=None) -> str\n\n"
     "Wraps every web link in an anchor opening in target (\"_self\" when empty)."},
    {"find_string", (PyCFunction)(void (*)(void))find_string, METH_VARARGS | METH_KEYWORDS,
     "find_string(entrada, procura, tipo=None) -> int\n\n"
     "Non-overlapping occurrences of procura, ignoring case unless tipo is \"B\" or \"b\"."},
    {"remover_acentuacao", (PyCFunction)(void (*)(void))remover_acentuacao,
     METH_VARARGS | METH_KEYWORDS,
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
    return module;
}

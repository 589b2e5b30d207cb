/* palavox._palavox: the functions the parts define, PalavoxError and the
 * error numbers' names. */
#include "module.h"

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
    {"_arrow", (PyCFunction)(void (*)(void))arrow_column, METH_FASTCALL,
     "_arrow(op, source, capsule, capsule, a, b, coerce): palavox.arrow's work."},
    {"_arrow_export", (PyCFunction)(void (*)(void))arrow_export, METH_FASTCALL,
     "_arrow_export(results, i) -> (schema, array) capsules of chunk i."},
    {"_arrow_stream", (PyCFunction)(void (*)(void))arrow_stream, METH_FASTCALL,
     "_arrow_stream(results) -> an Arrow stream capsule of every chunk."},
    {"_arrow_format", (PyCFunction)(void (*)(void))arrow_format, METH_FASTCALL,
     "_arrow_format(schema capsule) -> its Arrow format string."},
    {"_arrow_string_limit", arrow_string_limit, METH_O,
     "_arrow_string_limit(n or None) -> the limit before: for tests, the most bytes a string "
     "result holds before it is large_string."},
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
    /* The kernel the core runs: the library reads no setting, so it stays the same. */
    unit_loops = pvx_units();
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

/* The module's errors, and the state its parts share (module.h); the units
 * and arguments themselves are inline (units.h). */
#include "module.h"

PyObject* palavox_error;
const pvx_unit_loops* unit_loops;

PyObject* fail_row(int number, Py_ssize_t row) {
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

PyObject* fail(int number) { return fail_row(number, -1); }

/* pandas probing for the batch calls: its missing values, looked up once
 * pandas is imported, and arrays of objects (a Series' storage). */
#include "module.h"

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

/* None, NaN (numpy's too), and pandas.NA and pandas.NaT, which cannot exist
 * before pandas is imported. */
int is_missing(PyObject* value) {
    if (value == Py_None) return 1;
    if (PyFloat_Check(value)) return Py_IS_NAN(PyFloat_AS_DOUBLE(value));
    if (na_type == NULL && find_pandas_missing() < 0) return -1;
    return Py_TYPE(value) == na_type || Py_TYPE(value) == nat_type;
}

/* Read through the array interface: the PyObject pointers the array holds
 * (references it owns) and their number. So a Series' column is read, and its
 * results written, without a list of them in between and without NumPy's C
 * interface. */
int object_array(PyObject* obj, int writable, PyObject*** items, Py_ssize_t* n) {
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

/* The single calls: one text each, the GIL released for long ones. */
#include "units.h"

PyObject* trata_html(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
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

PyObject* find_string(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
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

PyObject* remover_acentuacao(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
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

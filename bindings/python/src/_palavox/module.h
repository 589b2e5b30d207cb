/* CPython extension palavox._palavox over the C interface: what its parts
 * share. The parts: units.h and units.c (a str's UTF-16 units and back, the
 * arguments of a call, its errors), calls.c (the single calls), columns.c
 * (the batch calls), arrow.c and arrow.h (the batch calls over Arrow columns),
 * pandas.c (pandas' missing values and arrays of objects), module.c (the module itself).
 *
 * The core works on UTF-16 code units; a str is read straight from its PEP 393
 * form: a 2-byte str is passed as it is (lone surrogates included), a 1-byte
 * one is widened and a 4-byte one encoded as pairs, on the stack when short.
 * Results come back as canonical strs: the smallest kind that holds them, a
 * surrogate pair joined into its character as UTF-16 decoding does. Per call
 * this is a few tens of nanoseconds where a codec round trip costs hundreds.
 * The vector loops of those conversions are the core's (palavox_units.h). */
#ifndef PALAVOX_PYTHON_MODULE_H
#define PALAVOX_PYTHON_MODULE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "palavox/palavox.h"
#include "palavox_units.h"

/* Shared by the parts, seen by no other module. */
#if defined(__GNUC__)
#define PART __attribute__((visibility("hidden")))
#else
#define PART
#endif

/* Texts up to this many units convert on the stack. */
#define STACK_UNITS 256
/* Releasing the GIL costs about as much as a short call; past this many units
 * the core works long enough for another thread to use the time. */
#define GIL_UNITS 4096

/* --------------------------------------------------------- units.c */

extern PART PyObject* palavox_error; /* palavox.PalavoxError, set once at import */

/* Raises PalavoxError with the number on .number; for a row of a batch call,
 * its position on .row (None otherwise) and at the head of the message. NULL. */
PART PyObject* fail_row(int number, Py_ssize_t row);
PART PyObject* fail(int number);

/* The core's loops for the kernel it runs, asked once at import (module.c). */
extern PART const pvx_unit_loops* unit_loops;

/* -------------------------------------------------------- the parts' calls */

PART PyObject* trata_html(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);
PART PyObject* find_string(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PART PyObject* remover_acentuacao(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames);
PART PyObject* column(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
/* arrow.c: the batch calls over Arrow columns, and their results' exports. */
PART PyObject* arrow_column(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PART PyObject* arrow_export(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PART PyObject* arrow_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PART PyObject* arrow_format(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PART PyObject* arrow_string_limit(PyObject* self, PyObject* arg);

/* pandas.c: 1 for pandas' missing values (None, NaN, pandas.NA, pandas.NaT),
 * 0 for other values, -1 on error. */
PART int is_missing(PyObject* value);
/* pandas.c: a one-dimensional, contiguous NumPy array of objects: its items
 * and their number. 1, or 0 when obj is not such an array (or not writable,
 * when that is asked); -1 on error. */
PART int object_array(PyObject* obj, int writable, PyObject*** items, Py_ssize_t* n);

#endif

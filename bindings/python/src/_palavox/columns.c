/* The batch calls behind palavox.batch: columns of texts.
 *
 * A batch call works its rows a chunk at a time. Under the GIL a chunk's rows
 * are gathered, with a reference to each so that nothing frees a text while
 * the core reads it; the GIL is released while the core works the whole
 * chunk; it is taken back to make the result objects. One chunk's results at
 * most are held beside the output, and threads working other batches run
 * while the core works. */
#include "units.h" /* first: Python.h before any standard header */

#include <string.h>

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
            unit_loops->widen((const Py_UCS1*)r->data, r->length, to);
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
    unit_loops->unite(units, in, r->length, &bits, &differ);
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
PyObject* column(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
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

/* The batch calls over Arrow columns (palavox.arrow): string, large_string or
 * string_view arrays read through the Arrow C data interface, their results
 * written as new Arrow arrays, no Python object per row.
 *
 * The GIL is released for the whole column, a stream's chunks included: the
 * rows are read where the producer keeps them, turned into UTF-16 units a
 * group at a time (the core's own form, by text/utf8/'s codec), worked, and
 * written back as UTF-8 straight into the result's buffers. Results are owned by one reference-
 * counted block, shared by every export of it (an array per chunk, a stream),
 * so a consumer may import it any number of times and release it from any
 * thread. */
#include "units.h" /* first: Python.h before any standard header */

#include <stdlib.h>
#include <string.h>
#ifdef __linux__
#include <sys/mman.h>
#endif

#include "arrow.h"

enum { FOLD, MARKUP, COUNT };
/* The kinds of strings read. */
enum { STRING, LARGE, VIEW };

/* A group ends at this many rows or once its texts hold this many bytes: its
 * working units stay small beside the columns. */
#define GROUP_ROWS 4096
#define GROUP_BYTES (1 << 18)

/* One result chunk: an int32 column (counts) or strings, offsets int64 while
 * it is written and narrowed to int32 for `string` once every chunk is known
 * to fit. */
typedef struct {
    int64_t length, null_count;
    uint8_t* validity; /* NULL: no nulls */
    void* offsets;     /* strings' offsets, or the counts */
    char* data;
    size_t size, used; /* data's room and bytes written */
    const void* buffers[3];
} Chunk;

typedef struct {
    long refs; /* atomic: exports are released from any thread */
    int op;
    const char* format; /* "u", "U" or "i" */
    size_t count, room;
    Chunk* chunks;
} Results;

static void drop_results(Results* r) {
    if (r == NULL || __atomic_sub_fetch(&r->refs, 1, __ATOMIC_ACQ_REL) != 0) return;
    for (size_t i = 0; i < r->count; i++) {
        PyMem_RawFree(r->chunks[i].validity);
        PyMem_RawFree(r->chunks[i].offsets);
        PyMem_RawFree(r->chunks[i].data);
    }
    PyMem_RawFree(r->chunks);
    PyMem_RawFree(r);
}

/* ------------------------------------------------------------ input */

typedef struct {
    const struct ArrowArray* array;
    int kind;
} Column;

/* Format strings read, and what each gives back. */
static int kind_of(const char* format) {
    if (strcmp(format, "u") == 0) return STRING;
    if (strcmp(format, "U") == 0) return LARGE;
    if (strcmp(format, "vu") == 0) return VIEW;
    return -1;
}

static int valid_row(const Column* c, int64_t i) {
    const uint8_t* bits = (const uint8_t*)c->array->buffers[0];
    if (bits == NULL || c->array->null_count == 0) return 1;
    const int64_t at = c->array->offset + i;
    return (bits[at >> 3] >> (at & 7)) & 1;
}

static const uint8_t* row_bytes(const Column* c, int64_t i, size_t* n) {
    const struct ArrowArray* a = c->array;
    const int64_t at = a->offset + i;
    if (c->kind == STRING) {
        const int32_t* off = (const int32_t*)a->buffers[1];
        *n = (size_t)(off[at + 1] - off[at]);
        return (const uint8_t*)a->buffers[2] + off[at];
    }
    if (c->kind == LARGE) {
        const int64_t* off = (const int64_t*)a->buffers[1];
        *n = (size_t)(off[at + 1] - off[at]);
        return (const uint8_t*)a->buffers[2] + off[at];
    }
    const uint8_t* view = (const uint8_t*)a->buffers[1] + 16 * at;
    int32_t length, buffer, offset;
    memcpy(&length, view, 4);
    *n = (size_t)length;
    if (length <= 12) return view + 4;
    memcpy(&buffer, view + 8, 4);
    memcpy(&offset, view + 12, 4);
    return (const uint8_t*)a->buffers[2 + buffer] + offset;
}

/* The bytes of rows [a, b) of a string or large_string array, end to end. */
static size_t span(const Column* c, int64_t a, int64_t b) {
    if (b <= a) return 0;
    size_t n;
    const uint8_t* start = row_bytes(c, a, &n);
    const uint8_t* end = row_bytes(c, b - 1, &n) + n;
    return (size_t)(end - start);
}

/* ------------------------------------------------------------- work */

/* What stops a column: a row's error number (and where), memory, a stream's
 * failure. Set without the GIL, raised once it is back. */
typedef struct {
    int status;
    int64_t row;
    char reason[400];
} Failure;

typedef struct {
    int op, coerce;
    const Units *a, *b;
    const char* target; /* markup's a as UTF-8 */
    size_t target_size;
    uint16_t* units; /* a group's texts */
    size_t units_size;
    uint16_t* out; /* its results */
    size_t out_size;
    const uint16_t** texts;
    size_t* lengths;
    int32_t* counts;
    int* errors;
    int64_t* starts; /* where each row of the group begins in units; -1: null or failed */
    int64_t* ends;
    Failure* failure;
    int64_t before; /* rows of earlier chunks */
} Work;

/* A result's buffers are written once, front to back, on pages no one has
 * touched: in 4 KiB pages a 1,000,000-name fold takes some 7,000 faults, a
 * third of its time, and two threads' faults wait for each other in the
 * kernel's page allocator. Huge pages, where the system gives them on
 * request, take one fault for 2 MiB; only the whole ones inside the buffer are
 * asked for, so at most one beyond what is written is mapped. */
static void advise_huge(void* p, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const uintptr_t huge = (uintptr_t)1 << 21;
    const uintptr_t from = ((uintptr_t)p + huge - 1) & ~(huge - 1);
    const uintptr_t to = ((uintptr_t)p + size) & ~(huge - 1);
    if (to > from) (void)madvise((void*)from, to - from, MADV_HUGEPAGE);
#else
    (void)p;
    (void)size;
#endif
}

static int grow(void** p, size_t* size, size_t need, size_t item) {
    if (need <= *size) return 0;
    if (need < 2 * *size) need = 2 * *size;
    /* branch-untaken: no column's rows reach SIZE_MAX / 2 units: their bytes would need more */
    if (need > SIZE_MAX / item) return -1;
    void* q = PyMem_RawRealloc(*p, need * item);
    if (q == NULL) return -1;
    advise_huge(q, need * item);
    *p = q;
    *size = need;
    return 0;
}

/* Row i of the chunk failed with `status`: null under errors="coerce",
 * otherwise the column stops (0). */
static int row_failed(Work* w, Chunk* out, int64_t i, int status) {
    if (w->coerce && status != PALAVOX_OUT_OF_MEMORY) {
        out->validity[i >> 3] &= (uint8_t) ~(1u << (i & 7));
        out->null_count++;
        return 1;
    }
    w->failure->status = status;
    w->failure->row = w->before + i;
    return 0;
}

/* Appends units as UTF-8 to the chunk's data. 0, or an error number. */
static int put_text(Chunk* out, const uint16_t* units, size_t n) {
    if (grow((void**)&out->data, &out->size, out->used + 3 * n + 1, 1) < 0) {
        return PALAVOX_OUT_OF_MEMORY;
    }
    const ptrdiff_t k = unit_loops->encode_utf8(units, n, out->data + out->used);
    if (k < 0) return PALAVOX_INTERNAL_ERROR; /* branch-untaken: valid UTF-8 gives whole pairs */
    out->used += (size_t)k;
    return 0;
}

/* A whole group's folded units (w->out[0, at)) as UTF-8 in one call, each
 * row's bytes counted for its offset. */
static int put_group(Work* w, Chunk* out, int64_t from, int64_t to, size_t at) {
    const size_t base = out->used;
    const int status = put_text(out, w->out, at);
    if (status != 0) {
        w->failure->status = status;
        w->failure->row = -1;
        return -1;
    }
    /* The rows' ends in units become their ends in bytes, in one pass. */
    int64_t* offsets = (int64_t*)out->offsets;
    const size_t rows = (size_t)(to - from);
    memcpy(offsets + from + 1, w->ends, rows * sizeof(int64_t));
    unit_loops->utf8_length_at(w->out, at, offsets + from + 1, rows);
    for (size_t k = 0; k < rows; k++) offsets[from + 1 + (int64_t)k] += (int64_t)base;
    return 0;
}

/* A group of string or large_string rows whose bytes lie end to end, nulls
 * holding none: decoded in one call, each row's share of the units counted.
 * 1, or 0 when the group goes row by row (a view, bytes under a null, bytes
 * that are not UTF-8: the rows then say which). */
static int whole_group(Work* w, const Column* in, int64_t from, int64_t to, size_t total,
                       size_t* at) {
    size_t n, last;
    if (in->kind == VIEW) return 0;
    const uint8_t* start = row_bytes(in, from, &n);
    const uint8_t* end = row_bytes(in, to - 1, &last) + last;
    if ((size_t)(end - start) != total) return 0;
    const ptrdiff_t units = unit_loops->decode_utf8((const char*)start, total, w->units);
    if (units < 0) return 0;
    /* The rows' ends straight from the offsets, a row a step. */
    const struct ArrowArray* a = in->array;
    const uint8_t* data = (const uint8_t*)a->buffers[2];
    const int32_t* narrow = (const int32_t*)a->buffers[1] + a->offset + from;
    const int64_t* wide = (const int64_t*)a->buffers[1] + a->offset + from;
    const int64_t first = in->kind == STRING ? narrow[0] : wide[0];
    int64_t begin = first;
    for (int64_t k = 0; k < to - from; k++) {
        const int64_t end = in->kind == STRING ? narrow[k + 1] : wide[k + 1];
        /* A sequence cut between two rows decodes whole: each row is UTF-8 of its own. */
        if (end != begin && (data[begin] & 0xC0) == 0x80) return 0;
        w->ends[k] = end - first;
        begin = end;
    }
    /* The rows' ends in bytes become their ends in units, in one pass. */
    const size_t rows = (size_t)(to - from);
    unit_loops->utf8_units_at((const char*)start, total, w->ends, rows);
    for (size_t k = 0; k < rows; k++) {
        w->starts[k] = !valid_row(in, from + (int64_t)k) ? -1 : k == 0 ? 0 : w->ends[k - 1];
    }
    *at = (size_t)units;
    return 1;
}

/* Markup of a row's bytes by the core's UTF-8 form, straight into the
 * result's data: no decoding to units and back, no result of its own to copy
 * (comments: 320 to 300 ns a row, 200 with markup's room at once). 0, or an
 * error number. */
static int markup_row(Work* w, Chunk* out, const uint8_t* bytes, size_t n) {
    for (;;) {
        size_t got = 0;
        char* room = out->data == NULL ? NULL : out->data + out->used;
        const int status = palavox_trata_html_utf8_into(
            (const char*)bytes, n, w->target, w->target_size, room, out->size - out->used, &got);
        if (status != 0) return status;
        if (out->used + got <= out->size) {
            out->used += got;
            return 0;
        }
        if (grow((void**)&out->data, &out->size, out->used + got + 1, 1) < 0) {
            return PALAVOX_OUT_OF_MEMORY;
        }
    }
}

/* Folding of a row's bytes the same way, for rows past 128 bytes on average:
 * its call costs more than a group's share of decoding and encoding on short
 * rows (names: 46 against 21 ns a row), less on long ones (comments of 220
 * bytes: 133 against 152). */
static int fold_row(Work* w, Chunk* out, const uint8_t* bytes, size_t n) {
    (void)w;
    size_t got = 0;
    /* Folding never lengthens a text: room for its bytes holds it. */
    if (grow((void**)&out->data, &out->size, out->used + n + 1, 1) < 0) {
        return PALAVOX_OUT_OF_MEMORY;
    }
    const int status =
        palavox_remover_acentuacao_utf8_into((const char*)bytes, n, out->data + out->used, &got);
    out->used += got; /* 0 on failure */
    return status;
}

/* Rows [from, to) each by `one`, on the row's own bytes. 0 when the column goes on. */
static int each_row(Work* w, const Column* in, Chunk* out, int64_t from, int64_t to,
                    int (*one)(Work*, Chunk*, const uint8_t*, size_t)) {
    int64_t* offsets = (int64_t*)out->offsets;
    for (int64_t i = from; i < to; i++) {
        if (valid_row(in, i)) {
            size_t n;
            const uint8_t* bytes = row_bytes(in, i, &n);
            const int status = one(w, out, bytes, n);
            if (status != 0 && !row_failed(w, out, i, status)) return -1;
        }
        offsets[i + 1] = (int64_t)out->used;
    }
    return 0;
}

/* Rows [from, to) of the input as one group, their valid rows holding `total`
 * bytes. 0 when the column goes on. */
static int work_group(Work* w, const Column* in, Chunk* out, int64_t from, int64_t to,
                      size_t total) {
    size_t n;
    if (w->op == MARKUP) return each_row(w, in, out, from, to, markup_row);
    if (w->op == FOLD && total > 128 * (size_t)(to - from)) {
        return each_row(w, in, out, from, to, fold_row);
    }
    if (grow((void**)&w->units, &w->units_size, total + 1, sizeof(uint16_t)) < 0) {
        w->failure->status = PALAVOX_OUT_OF_MEMORY;
        w->failure->row = -1;
        return -1;
    }
    size_t at = 0;
    const int whole = whole_group(w, in, from, to, total, &at);
    for (int64_t i = from; i < to && !whole; i++) {
        const size_t k = (size_t)(i - from);
        w->starts[k] = -1;
        if (!valid_row(in, i)) continue;
        const uint8_t* bytes = row_bytes(in, i, &n);
        const ptrdiff_t units = unit_loops->decode_utf8((const char*)bytes, n, w->units + at);
        if (units < 0) {
            if (!row_failed(w, out, i, PALAVOX_INVALID_ARGUMENT)) return -1;
            continue;
        }
        w->starts[k] = (int64_t)at;
        w->ends[k] = (int64_t)(at + (size_t)units);
        at += (size_t)units;
    }
    int64_t* offsets = (int64_t*)out->offsets;
    if (w->op == COUNT) {
        size_t m = 0;
        for (int64_t i = from; i < to; i++) {
            const size_t k = (size_t)(i - from);
            if (w->starts[k] < 0) continue;
            w->texts[m] = w->units + w->starts[k];
            w->lengths[m++] = (size_t)(w->ends[k] - w->starts[k]);
        }
        const int status =
            palavox_find_string_many(w->texts, w->lengths, m, w->a->units, w->a->length,
                                     w->b->units, w->b->length, w->counts, w->errors);
        if (status != 0) { /* branch-untaken: only allocating the search, a few bytes, fails it */
            w->failure->status = status;
            w->failure->row = -1;
            return -1;
        }
        int32_t* values = (int32_t*)out->offsets;
        m = 0;
        for (int64_t i = from; i < to; i++) {
            values[i] = 0;
            if (w->starts[i - from] < 0) continue;
            if (w->errors[m] != 0 && !row_failed(w, out, i, w->errors[m])) return -1;
            values[i] = w->errors[m] != 0 ? 0 : w->counts[m];
            m++;
        }
        return 0;
    }
    /* Folding maps each unit on its own: the group's texts in one call. */
    if (grow((void**)&w->out, &w->out_size, at + 1, sizeof(uint16_t)) < 0) {
        w->failure->status = PALAVOX_OUT_OF_MEMORY;
        w->failure->row = -1;
        return -1;
    }
    const int status = at == 0 ? 0 : palavox_remover_acentuacao_into(w->units, at, w->out);
    if (status != 0) { /* branch-untaken: folding into given room allocates nothing */
        w->failure->status = status;
        w->failure->row = -1;
        return -1;
    }
    /* Rows past 32 bytes on average are encoded one by one: the codec's count
     * of the bytes comes with them, where counting each row's costs more. */
    if (whole && total <= 32 * (size_t)(to - from)) {
        return put_group(w, out, from, to, at);
    }
    for (int64_t i = from; i < to; i++) {
        const size_t k = (size_t)(i - from);
        if (w->starts[k] >= 0) {
            const size_t length = (size_t)(w->ends[k] - w->starts[k]);
            const int written = put_text(out, w->out + w->starts[k], length);
            /* branch-untaken: a text fails here only as memory runs out, which no row coerces */
            if (written != 0 && !row_failed(w, out, i, written)) return -1;
        }
        offsets[i + 1] = (int64_t)out->used;
    }
    return 0;
}

/* One input array into a new result chunk of `r`. 0, or -1 with w->failure set. */
static int work_array(Work* w, const Column* in, Results* r) {
    if (r->count == r->room &&
        grow((void**)&r->chunks, &r->room, r->count + 1, sizeof(Chunk)) < 0) {
        w->failure->status = PALAVOX_OUT_OF_MEMORY;
        w->failure->row = -1;
        return -1;
    }
    Chunk* out = &r->chunks[r->count++];
    memset(out, 0, sizeof *out);
    const int64_t n = in->array->length;
    out->length = n;
    const size_t bytes = ((size_t)n + 7) / 8;
    out->validity = (uint8_t*)PyMem_RawMalloc(bytes + 1);
    const size_t offsets_size =
        ((size_t)n + 1) * (w->op == COUNT ? sizeof(int32_t) : sizeof(int64_t));
    out->offsets = PyMem_RawMalloc(offsets_size);
    if (out->validity == NULL || out->offsets == NULL) {
        w->failure->status = PALAVOX_OUT_OF_MEMORY;
        w->failure->row = -1;
        return -1;
    }
    advise_huge(out->offsets, offsets_size);
    memset(out->validity, 0xFF, bytes + 1);
    const int nulls = in->array->buffers[0] != NULL && in->array->null_count != 0;
    for (int64_t i = 0; i < n && nulls; i++) {
        if (!valid_row(in, i)) {
            out->validity[i >> 3] &= (uint8_t) ~(1u << (i & 7));
            out->null_count++;
        }
    }
    if (w->op != COUNT) ((int64_t*)out->offsets)[0] = 0;
    /* Room for the input's bytes at once, which folding keeps to, and twice
     * them for markup, which outgrows them by its anchors (comments with
     * links: 1.4 times): growing from nothing remaps the buffer some twenty
     * times, and two threads' remaps and page faults wait for each other on
     * the process's memory map (two threads folding names: 0.86x one); grown
     * once, a buffer on the heap is copied (comments: 290-300 ns a row, 200
     * with the room at once). Pages never written are never mapped, and what
     * is left is given back at the end. */
    if (w->op != COUNT && in->kind != VIEW && n > 0) {
        size_t first, last;
        const uint8_t* start = row_bytes(in, 0, &first);
        const uint8_t* end = row_bytes(in, n - 1, &last) + last;
        const size_t bytes = (size_t)(end - start);
        if (grow((void**)&out->data, &out->size, (w->op == MARKUP ? 2 : 1) * bytes + 1, 1) < 0) {
            w->failure->status = PALAVOX_OUT_OF_MEMORY;
            w->failure->row = -1;
            return -1;
        }
    }
    for (int64_t from = 0; from < n;) {
        int64_t to = from;
        size_t held = 0, length;
        /* Rows end to end, none null: a whole group's bytes from its ends,
         * when all but its last row hold fewer than GROUP_BYTES. */
        const int64_t last = n - from < GROUP_ROWS ? n : from + GROUP_ROWS;
        if (!nulls && in->kind != VIEW && span(in, from, last - 1) < GROUP_BYTES) {
            to = last;
            held = span(in, from, last);
        }
        while (to < n && to - from < GROUP_ROWS && held < GROUP_BYTES) {
            if (valid_row(in, to)) {
                row_bytes(in, to, &length);
                held += length;
            }
            to++;
        }
        if (work_group(w, in, out, from, to, held) < 0) return -1;
        from = to;
    }
    if (out->null_count == 0) {
        PyMem_RawFree(out->validity);
        out->validity = NULL;
    }
    w->before += n;
    return 0;
}

/* The most data bytes a `string` result chunk holds: its offsets' limit,
 * lowered only by tests (_arrow_string_limit), which cannot afford columns
 * of 2 GiB on the machines make test runs on. */
static int64_t string_limit = INT32_MAX;

/* _arrow_string_limit(n) -> the limit before; n None leaves it. For tests. */
PyObject* arrow_string_limit(PyObject* self, PyObject* arg) {
    (void)self;
    const int64_t before = string_limit;
    if (arg != Py_None) {
        const long long n = PyLong_AsLongLong(arg);
        if (n == -1 && PyErr_Occurred()) return NULL;
        if (n < 0 || n > INT32_MAX) {
            PyErr_SetString(PyExc_ValueError, "_arrow_string_limit: 0 to 2**31 - 1");
            return NULL;
        }
        string_limit = (int64_t)n;
    }
    return PyLong_FromLongLong((long long)before);
}

/* A buffer cut to its first `keep` bytes; where that fails it stays as it is. */
static void trim(void** p, size_t keep) {
    void* q = PyMem_RawRealloc(*p, keep);
    if (q != NULL) *p = q;
}

/* The chunks' offsets as `string` takes them, when every chunk fits, and the
 * room their buffers were not filled to given back. */
static void settle(Results* r, int large) {
    if (r->op == COUNT) {
        r->format = "i";
    } else {
        for (size_t c = 0; c < r->count && !large; c++) {
            large = (int64_t)r->chunks[c].used > string_limit;
        }
        r->format = large ? "U" : "u";
    }
    for (size_t c = 0; c < r->count; c++) {
        Chunk* k = &r->chunks[c];
        if (r->op != COUNT && !large) {
            int64_t* wide = (int64_t*)k->offsets;
            int32_t* narrow = (int32_t*)k->offsets; /* in place: each write lands below its read */
            for (int64_t i = 0; i <= k->length; i++) narrow[i] = (int32_t)wide[i];
            trim(&k->offsets, ((size_t)k->length + 1) * sizeof(int32_t));
        }
        if (k->data != NULL && k->size > k->used + 1) {
            trim((void**)&k->data, k->used + 1);
            k->size = k->used + 1;
        }
        if (k->data == NULL) k->data = (char*)PyMem_RawMalloc(1); /* a buffer, even empty */
        k->buffers[0] = k->validity;
        k->buffers[1] = k->offsets;
        k->buffers[2] = k->data;
    }
}

/* ------------------------------------------------------------ exports */

static void release_schema(struct ArrowSchema* s) { s->release = NULL; }

static void export_schema(const Results* r, struct ArrowSchema* s) {
    memset(s, 0, sizeof *s);
    s->format = r->format;
    s->name = "";
    s->flags = ARROW_FLAG_NULLABLE;
    s->release = release_schema;
}

static void release_array(struct ArrowArray* a) {
    drop_results((Results*)a->private_data);
    a->release = NULL;
}

static void export_array(Results* r, size_t c, struct ArrowArray* a) {
    const Chunk* k = &r->chunks[c];
    memset(a, 0, sizeof *a);
    a->length = k->length;
    a->null_count = k->null_count;
    a->n_buffers = r->op == COUNT ? 2 : 3;
    a->buffers = (const void**)k->buffers;
    a->release = release_array;
    a->private_data = r;
    __atomic_add_fetch(&r->refs, 1, __ATOMIC_RELAXED);
}

typedef struct {
    Results* results;
    size_t next;
} Cursor;

static int stream_schema(struct ArrowArrayStream* s, struct ArrowSchema* out) {
    export_schema(((Cursor*)s->private_data)->results, out);
    return 0;
}

static int stream_next(struct ArrowArrayStream* s, struct ArrowArray* out) {
    Cursor* cursor = (Cursor*)s->private_data;
    if (cursor->next == cursor->results->count) {
        memset(out, 0, sizeof *out); /* the end: released already */
        return 0;
    }
    export_array(cursor->results, cursor->next++, out);
    return 0;
}

static const char* stream_error(struct ArrowArrayStream* s) {
    (void)s;
    return NULL; /* its calls never fail */
}

static void release_stream(struct ArrowArrayStream* s) {
    Cursor* cursor = (Cursor*)s->private_data;
    drop_results(cursor->results);
    PyMem_RawFree(cursor);
    s->release = NULL;
}

/* Capsules own their structure: released if no consumer moved it out. */
static void free_schema_capsule(PyObject* capsule) {
    struct ArrowSchema* s = (struct ArrowSchema*)PyCapsule_GetPointer(capsule, "arrow_schema");
    if (s->release != NULL) s->release(s);
    PyMem_RawFree(s);
}

static void free_array_capsule(PyObject* capsule) {
    struct ArrowArray* a = (struct ArrowArray*)PyCapsule_GetPointer(capsule, "arrow_array");
    if (a->release != NULL) a->release(a);
    PyMem_RawFree(a);
}

static void free_stream_capsule(PyObject* capsule) {
    struct ArrowArrayStream* s =
        (struct ArrowArrayStream*)PyCapsule_GetPointer(capsule, "arrow_array_stream");
    if (s->release != NULL) s->release(s);
    PyMem_RawFree(s);
}

#define RESULTS_NAME "palavox._palavox.arrow_results"

static void free_results_capsule(PyObject* capsule) {
    drop_results((Results*)PyCapsule_GetPointer(capsule, RESULTS_NAME));
}

/* _arrow_export(results, i) -> (schema capsule, array capsule) of chunk i. */
PyObject* arrow_export(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    (void)self;
    if (nargs != 2) {
        PyErr_SetString(PyExc_TypeError, "_arrow_export takes 2 arguments");
        return NULL;
    }
    Results* r = (Results*)PyCapsule_GetPointer(args[0], RESULTS_NAME);
    const Py_ssize_t c = r == NULL ? -1 : PyLong_AsSsize_t(args[1]);
    if (c < 0 && PyErr_Occurred()) return NULL;
    if (c < 0 || (size_t)c >= r->count) {
        PyErr_SetString(PyExc_IndexError, "_arrow_export: no such chunk");
        return NULL;
    }
    struct ArrowSchema* s = (struct ArrowSchema*)PyMem_RawMalloc(sizeof *s);
    struct ArrowArray* a = (struct ArrowArray*)PyMem_RawMalloc(sizeof *a);
    if (s == NULL || a == NULL) {
        PyMem_RawFree(s);
        PyMem_RawFree(a);
        return PyErr_NoMemory();
    }
    export_schema(r, s);
    export_array(r, (size_t)c, a);
    PyObject* schema = PyCapsule_New(s, "arrow_schema", free_schema_capsule);
    if (schema == NULL) {
        PyMem_RawFree(s);
        a->release(a);
        PyMem_RawFree(a);
        return NULL;
    }
    PyObject* array = PyCapsule_New(a, "arrow_array", free_array_capsule);
    if (array == NULL) {
        a->release(a);
        PyMem_RawFree(a);
        Py_DECREF(schema);
        return NULL;
    }
    PyObject* pair = PyTuple_Pack(2, schema, array);
    Py_DECREF(schema);
    Py_DECREF(array);
    return pair;
}

/* _arrow_stream(results) -> a stream capsule of every chunk. */
PyObject* arrow_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    (void)self;
    if (nargs != 1) {
        PyErr_SetString(PyExc_TypeError, "_arrow_stream takes 1 argument");
        return NULL;
    }
    Results* r = (Results*)PyCapsule_GetPointer(args[0], RESULTS_NAME);
    if (r == NULL) return NULL;
    struct ArrowArrayStream* s = (struct ArrowArrayStream*)PyMem_RawMalloc(sizeof *s);
    Cursor* cursor = (Cursor*)PyMem_RawMalloc(sizeof *cursor);
    if (s == NULL || cursor == NULL) {
        PyMem_RawFree(s);
        PyMem_RawFree(cursor);
        return PyErr_NoMemory();
    }
    cursor->results = r;
    cursor->next = 0;
    __atomic_add_fetch(&r->refs, 1, __ATOMIC_RELAXED);
    s->get_schema = stream_schema;
    s->get_next = stream_next;
    s->get_last_error = stream_error;
    s->release = release_stream;
    s->private_data = cursor;
    PyObject* capsule = PyCapsule_New(s, "arrow_array_stream", free_stream_capsule);
    if (capsule == NULL) {
        s->release(s);
        PyMem_RawFree(s);
    }
    return capsule;
}

/* _arrow_format(schema capsule) -> its format string, the capsule left as it
 * is (a requested schema stays its consumer's). */
PyObject* arrow_format(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    (void)self;
    if (nargs != 1) {
        PyErr_SetString(PyExc_TypeError, "_arrow_format takes 1 argument");
        return NULL;
    }
    const struct ArrowSchema* s =
        (const struct ArrowSchema*)PyCapsule_GetPointer(args[0], "arrow_schema");
    if (s == NULL) return NULL;
    /* branch-untaken: a live schema without a format is none; no producer here makes one */
    if (s->release == NULL || s->format == NULL) {
        PyErr_SetString(PyExc_ValueError, "the Arrow schema is released");
        return NULL;
    }
    return PyUnicode_FromString(s->format);
}

/* ------------------------------------------------------------- entry */

/* Takes the structure out of a producer's capsule, as the capsule
 * interface says a consumer does: the capsule's own is marked released. */
static void* moved(PyObject* capsule, const char* name, void* to, size_t size) {
    void* p = PyCapsule_GetPointer(capsule, name);
    if (p == NULL) return NULL;
    memcpy(to, p, size);
    return p; /* its release is cleared by the caller, through its own type */
}

static int check_schema(const struct ArrowSchema* s, int* kind) {
    /* A dictionary's format is its indices': no string one. */
    *kind = kind_of(s->format);
    if (*kind < 0) {
        PyErr_Format(PyExc_TypeError,
                     "an Arrow column of strings is needed (string, large_string or "
                     "string_view), not Arrow format '%.40s'%s",
                     s->format,
                     s->dictionary != NULL ? ", dictionary-encoded (decode it first)" : "");
        return -1;
    }
    return 0;
}

/* Buffers as the format has them: validity (or NULL), offsets or views,
 * then data (NULL when it holds no byte), a string_view's sizes last. */
static int has_buffers(const struct ArrowArray* a) {
    return a->n_buffers >= 3 && a->buffers[1] != NULL;
}

static int check_array(const struct ArrowArray* a) {
    if (has_buffers(a)) return 0;
    PyErr_SetString(PyExc_ValueError, "the Arrow array's buffers are not those of its format");
    return -1;
}

static PyObject* raise_failure(const Failure* f) {
    if (f->status == -1) {
        PyErr_Format(PyExc_RuntimeError, "the Arrow stream failed after row %lld: %s",
                     (long long)f->row, f->reason);
        return NULL;
    }
    if (f->row < 0) return fail(f->status);
    return fail_row(f->status, (Py_ssize_t)f->row);
}

/* _arrow(op, source, schema or stream capsule, array capsule or None, a, b,
 * coerce) -> (results, chunks, format): source 0 an array, 1 a stream. */
PyObject* arrow_column(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    (void)self;
    if (nargs != 7) {
        PyErr_SetString(PyExc_TypeError, "_arrow takes 7 arguments");
        return NULL;
    }
    const long op = PyLong_AsLong(args[0]);
    if (op == -1 && PyErr_Occurred()) return NULL;
    const long source = PyLong_AsLong(args[1]);
    if (source == -1 && PyErr_Occurred()) return NULL;
    const int coerce = PyObject_IsTrue(args[6]);
    if (coerce < 0) return NULL;
    if ((op != FOLD && op != MARKUP && op != COUNT) || (source != 0 && source != 1)) {
        PyErr_SetString(PyExc_ValueError, "_arrow: no such operation or source");
        return NULL;
    }
    static const char* const fixed[3][2] = {{NULL, NULL}, {"target", NULL}, {"procura", "tipo"}};
    Units a = {0}, b = {0};
    if (fixed[op][0] != NULL && take(args[4], fixed[op][0], &a) < 0) return NULL;
    if (fixed[op][1] != NULL && take(args[5], fixed[op][1], &b) < 0) {
        release(&a);
        return NULL;
    }

    struct ArrowSchema schema = {0};
    struct ArrowArray array = {0};
    struct ArrowArrayStream stream = {0};
    Failure failure = {0};
    Results* r = (Results*)PyMem_RawCalloc(1, sizeof *r);
    Work w = {0};
    w.op = (int)op;
    w.coerce = coerce;
    w.a = &a;
    w.b = &b;
    w.failure = &failure;
    /* Markup's target as UTF-8 for the core's UTF-8 form, 3 bytes a unit at
     * most. */
    char* target = op == MARKUP ? (char*)PyMem_RawMalloc(3 * a.length + 1) : NULL;
    const ptrdiff_t target_size =
        target == NULL ? 0 : unit_loops->encode_utf8(a.units, a.length, target);
    w.target = target;
    w.target_size = target_size < 0 ? 0 : (size_t)target_size;
    w.texts = (const uint16_t**)PyMem_RawMalloc(GROUP_ROWS * sizeof *w.texts);
    w.lengths = (size_t*)PyMem_RawMalloc(GROUP_ROWS * sizeof *w.lengths);
    w.counts = (int32_t*)PyMem_RawMalloc(GROUP_ROWS * sizeof *w.counts);
    w.errors = (int*)PyMem_RawMalloc(GROUP_ROWS * sizeof *w.errors);
    w.starts = (int64_t*)PyMem_RawMalloc(GROUP_ROWS * sizeof *w.starts);
    w.ends = (int64_t*)PyMem_RawMalloc(GROUP_ROWS * sizeof *w.ends);
    PyObject* value = NULL;
    int kind = 0, failed = 0;
    if (r == NULL || (op == MARKUP && target == NULL) || w.texts == NULL || w.lengths == NULL ||
        w.counts == NULL || w.errors == NULL || w.starts == NULL || w.ends == NULL) {
        PyErr_NoMemory();
        goto done;
    }
    if (target_size < 0) {
        /* A lone surrogate, which an Arrow column of UTF-8 cannot carry: the
         * target is refused, as the C interface's UTF-8 form refuses it. */
        fail(PALAVOX_INVALID_ARGUMENT);
        goto done;
    }
    r->refs = 1;
    r->op = (int)op;
    if (source == 0) {
        struct ArrowSchema* s =
            (struct ArrowSchema*)moved(args[2], "arrow_schema", &schema, sizeof schema);
        if (s == NULL) goto done;
        s->release = NULL;
        struct ArrowArray* x =
            (struct ArrowArray*)moved(args[3], "arrow_array", &array, sizeof array);
        if (x == NULL) goto done;
        x->release = NULL;
        if (check_schema(&schema, &kind) < 0 || check_array(&array) < 0) goto done;
        const Column in = {&array, kind};
        PyThreadState* state = PyEval_SaveThread();
        failed = work_array(&w, &in, r);
        /* A pass over the whole column: holding the GIL, two threads' settles
         * wait for each other (some 3 ms of a 30 ms half of 4,000,000 names). */
        if (!failed) settle(r, kind == LARGE);
        PyEval_RestoreThread(state);
    } else {
        struct ArrowArrayStream* s =
            (struct ArrowArrayStream*)moved(args[2], "arrow_array_stream", &stream, sizeof stream);
        if (s == NULL) goto done;
        s->release = NULL;
        int status;
        PyThreadState* state = PyEval_SaveThread();
        status = stream.get_schema(&stream, &schema);
        PyEval_RestoreThread(state);
        if (status != 0) {
            const char* why = stream.get_last_error(&stream);
            PyErr_Format(PyExc_RuntimeError, "the Arrow stream gave no schema: %s",
                         why != NULL ? why : strerror(status));
            goto done;
        }
        if (check_schema(&schema, &kind) < 0) goto done;
        int wrong = 0;
        state = PyEval_SaveThread();
        for (;;) {
            status = stream.get_next(&stream, &array);
            if (status != 0) {
                const char* why = stream.get_last_error(&stream);
                failure.status = -1;
                failure.row = w.before;
                snprintf(failure.reason, sizeof failure.reason, "%s",
                         why != NULL ? why : strerror(status));
                failed = -1;
                break;
            }
            if (array.release == NULL) break;
            if (!has_buffers(&array)) {
                wrong = 1;
                break;
            }
            const Column in = {&array, kind};
            failed = work_array(&w, &in, r);
            array.release(&array);
            array.release = NULL;
            if (failed) break;
        }
        if (!failed && !wrong) settle(r, kind == LARGE);
        PyEval_RestoreThread(state);
        if (wrong) {
            check_array(&array);
            goto done;
        }
    }
    if (failed) {
        raise_failure(&failure);
        goto done;
    }
    const Py_ssize_t chunks = (Py_ssize_t)r->count;
    const char* format = r->format;
    PyObject* capsule = PyCapsule_New(r, RESULTS_NAME, free_results_capsule);
    if (capsule == NULL) goto done;
    r = NULL; /* the capsule's */
    value = Py_BuildValue("(Nns)", capsule, chunks, format);
done:;
    /* A producer's release may run Python code: the error raised waits meanwhile. */
    PyObject *type, *error, *trace;
    PyErr_Fetch(&type, &error, &trace);
    if (array.release != NULL) array.release(&array);
    if (schema.release != NULL) schema.release(&schema);
    if (stream.release != NULL) stream.release(&stream);
    PyErr_Restore(type, error, trace);
    drop_results(r);
    PyMem_RawFree(target);
    PyMem_RawFree(w.units);
    PyMem_RawFree(w.out);
    PyMem_RawFree((void*)w.texts);
    PyMem_RawFree(w.lengths);
    PyMem_RawFree(w.counts);
    PyMem_RawFree(w.errors);
    PyMem_RawFree(w.starts);
    PyMem_RawFree(w.ends);
    release(&a);
    release(&b);
    return value;
}

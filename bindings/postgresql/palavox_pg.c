/* PostgreSQL extension palavox over the C interface (libpalavox.a, linked in).
 *
 * Texts reach the C interface as UTF-8: read in place in a UTF8 or SQL_ASCII
 * database, converted from and back to any other database encoding. A text
 * of one piece (a megabyte) is one call, whose malloc'd result is copied into
 * this call's memory and freed before anything that can raise an error runs,
 * since an error leaves the function by longjmp; a folded one is written
 * straight into this call's memory. A longer one goes through a
 * stream of the C interface a piece at a time, with a look for a cancel
 * between pieces; the stream is freed whatever happens. */
/* postgres.h comes first, as the server requires */
/* clang-format off */
#include "postgres.h"

#include <string.h>

#include "fmgr.h"
#include "lib/stringinfo.h"
#include "mb/pg_wchar.h"
#include "miscadmin.h"
#include "utils/memutils.h"

#include "palavox/palavox.h"
/* clang-format on */

PG_MODULE_MAGIC;

/* About a millisecond of work: a cancel is seen well within a second. */
#define PIECE ((size_t)1 << 20)
#define MAX_TEXT ((size_t)(MaxAllocSize - VARHDRSZ))

typedef struct {
    const char* p;
    size_t n;
} Bytes;

static const Bytes kEmpty = {NULL, 0};

/* The one place where a number of the C interface becomes an SQL error. */
static void raise_palavox(int number) pg_attribute_noreturn();
static void raise_palavox(int number) {
    int sqlstate;
    /* branch-untaken: 6 needs 2^31 matches, past a 1 GB text; 51, a fault of the core */
    switch (number) {
        case PALAVOX_TYPE_MISMATCH: /* 22023 */
            sqlstate = ERRCODE_INVALID_PARAMETER_VALUE;
            break;
        case PALAVOX_OVERFLOW: /* 22003 */
            sqlstate = ERRCODE_NUMERIC_VALUE_OUT_OF_RANGE;
            break;
        case PALAVOX_OUT_OF_MEMORY: /* 53200 */
            sqlstate = ERRCODE_OUT_OF_MEMORY;
            break;
        case PALAVOX_INVALID_ARGUMENT: /* 22021, invalid UTF-8 (a SQL_ASCII database) */
            sqlstate = ERRCODE_CHARACTER_NOT_IN_REPERTOIRE;
            break;
        case PALAVOX_INTERNAL_ERROR: /* XX000, as any number this build does not know */
        default:
            sqlstate = ERRCODE_INTERNAL_ERROR;
            break;
    }
    /* branch-untaken: errstart reports every ERROR */
    ereport(ERROR, (errcode(sqlstate), errmsg("%s", palavox_error_description(number)),
                    errdetail("Palavox error %d.", number),
                    number == PALAVOX_INVALID_ARGUMENT
                        ? errhint("Palavox reads this database's texts as UTF-8, and this "
                                  "one is not valid UTF-8.")
                        : 0));
}

static void raise_too_long(size_t bytes) pg_attribute_noreturn();
static void raise_too_long(size_t bytes) {
    /* branch-untaken: errstart reports every ERROR */
    ereport(ERROR,
            (errcode(ERRCODE_PROGRAM_LIMIT_EXCEEDED),
             errmsg("palavox: the result does not fit in a text"),
             errdetail("The result needs %zu bytes; a text holds at most %zu.", bytes, MAX_TEXT)));
}

static inline bool in_place(void) {
    const int encoding = GetDatabaseEncoding();
    return encoding == PG_UTF8 || encoding == PG_SQL_ASCII;
}

/* ------------------------------------------------ results into this call */

/* A text being built in this call's memory, its header reserved up front. */
typedef struct {
    char* data;
    size_t len, cap;
} Out;

static void out_init(Out* o, size_t cap) {
    if (cap > MAX_TEXT) cap = MAX_TEXT;
    o->data = palloc(VARHDRSZ + cap);
    o->len = 0;
    o->cap = cap;
}

/* A bigger buffer, copied into in steps with a look for a cancel between
 * them: hundreds of MB are never copied in one go. */
static void out_grow(Out* o, size_t need) {
    const size_t step = 16 * PIECE;
    size_t cap = o->cap * 2 > need ? o->cap * 2 : need;
    char* grown;
    if (need > MAX_TEXT) raise_too_long(need);
    if (cap > MAX_TEXT) cap = MAX_TEXT;
    grown = palloc(VARHDRSZ + cap);
    for (size_t at = 0; at < o->len; at += step) {
        memcpy(grown + VARHDRSZ + at, o->data + VARHDRSZ + at,
               o->len - at < step ? o->len - at : step);
        /* branch-untaken: only a cancel mid-copy, which only the timed cancel checks bring */
        CHECK_FOR_INTERRUPTS();
    }
    pfree(o->data);
    o->data = grown;
    o->cap = cap;
}

static void out_append(Out* o, const char* p, size_t n) {
    if (n > o->cap - o->len) out_grow(o, o->len + n);
    memcpy(o->data + VARHDRSZ + o->len, p, n);
    o->len += n;
}

static text* out_text(Out* o) {
    SET_VARSIZE(o->data, VARHDRSZ + o->len);
    return (text*)o->data;
}

/* Room for a text of n bytes in this call's memory, or NULL. */
static char* text_room(size_t n) { return palloc_extended(VARHDRSZ + n, MCXT_ALLOC_NO_OOM); }

/* A whole malloc'd result as a text of this call, freed on every path; the
 * short texts' path. */
static text* taken(char* result, size_t n) {
    Out o;
    if (n > MAX_TEXT) {
        palavox_free(result);
        raise_too_long(n);
    }
    o.data = text_room(n);
    if (o.data == NULL) {
        palavox_free(result);
        raise_palavox(PALAVOX_OUT_OF_MEMORY);
    }
    memcpy(o.data + VARHDRSZ, result, n);
    palavox_free(result);
    o.len = o.cap = n;
    return out_text(&o);
}

/* ------------------------------------------------------------- encodings */

/* Where a piece of about PIECE bytes of a server-encoded text ends. */
static size_t server_cut(const char* p, size_t n) {
    const int encoding = GetDatabaseEncoding();
    size_t i = 0;
    if (n <= PIECE) return n;
    if (pg_encoding_max_length(encoding) == 1) return PIECE;
    while (i < PIECE) i += (size_t)pg_encoding_mblen(encoding, p + i);
    return i < n ? i : n;
}

/* UTF-8 output of the C interface, whole characters, into the database's
 * encoding at the end of `o`. Every server encoding is stateless, so pieces
 * cut between characters convert alone; and a result only ever holds
 * characters of its arguments and ASCII, so it always converts. */
static void out_server(Out* o, const char* utf8, size_t n) {
    const char* converted;
    if (n == 0) return;
    converted = pg_any_to_server(utf8, (int)n, PG_UTF8);
    /* branch-untaken: the source itself comes back only where texts are read in place */
    if (converted == utf8) {
        out_append(o, utf8, n);
        return;
    }
    out_append(o, converted, strlen(converted)); /* a new string, NUL-terminated */
    pfree((void*)converted);
}

/* An argument as UTF-8, read in place where the database holds UTF-8;
 * converted piece by piece, between pieces looking for a cancel. */
static Bytes argument(text* t) {
    /* branch-untaken: an argument detoasted is never an external pointer */
    Bytes b = {VARDATA_ANY(t), VARSIZE_ANY_EXHDR(t)};
    StringInfoData utf8;
    if (in_place() || b.n == 0) return b;
    initStringInfo(&utf8);
    /* sized once: growing would copy hundreds of MB in one go */
    if (b.n > PIECE)
        enlargeStringInfo(&utf8, (int)(2 * b.n < MAX_TEXT - 1 ? 2 * b.n : MAX_TEXT - 1));
    for (size_t at = 0; at < b.n;) {
        const char* piece = b.p + at;
        const size_t n = server_cut(piece, b.n - at);
        const char* converted = pg_server_to_any(piece, (int)n, PG_UTF8);
        /* branch-untaken: the source itself comes back only where texts are read in place */
        if (converted == piece) {
            appendBinaryStringInfo(&utf8, piece, (int)n);
        } else {
            appendBinaryStringInfo(&utf8, converted, (int)strlen(converted)); /* NUL-terminated */
            pfree((void*)converted);
        }
        at += n;
        CHECK_FOR_INTERRUPTS();
    }
    b.p = utf8.data;
    b.n = (size_t)utf8.len;
    return b;
}

static Bytes optional_argument(FunctionCallInfo fcinfo, int i) {
    return PG_NARGS() > i && !PG_ARGISNULL(i) ? argument(PG_GETARG_TEXT_PP(i)) : kEmpty;
}

/* A UTF-8 result of one call in the database's encoding. */
static text* result(text* utf8) {
    Out o;
    if (in_place()) return utf8;
    out_init(&o, VARSIZE(utf8) - VARHDRSZ);
    out_server(&o, VARDATA(utf8), VARSIZE(utf8) - VARHDRSZ);
    return out_text(&o);
}

/* ----------------------------------------------------- texts in pieces */

/* A long text through a text stream, a piece at a time: the output written
 * straight into the result in place, or converted piece by piece. Frees the
 * stream. */
static text* stream_text(palavox_stream* s, Bytes in, size_t expected) {
    text* volatile t = NULL;
    PG_TRY();
    {
        const bool convert = !in_place();
        char* scratch = convert ? palloc(PIECE) : NULL;
        size_t at = 0, left = 1;
        Out o;
        out_init(&o, expected);
        while (at < in.n || left != 0) {
            palavox_in_buffer piece = {in.p + at, in.n - at < PIECE ? in.n - at : PIECE, 0};
            palavox_out_buffer out = {scratch, PIECE, 0};
            int rc;
            CHECK_FOR_INTERRUPTS();
            if (!convert) {
                if (o.cap - o.len < PIECE / 16 && o.cap < MAX_TEXT)
                    out_grow(&o, o.len + PIECE < MAX_TEXT ? o.len + PIECE : MAX_TEXT);
                out.dst = o.data + VARHDRSZ + o.len;
                out.size = o.cap - o.len;
            }
            rc = at < in.n ? palavox_stream_step(s, &piece, &out)
                           : palavox_stream_end(s, &out, &left);
            if (rc != PALAVOX_OK) raise_palavox(rc);
            /* nothing taken with what room a text has left: the rest cannot fit */
            if (piece.pos == 0 && out.pos == 0 && (at < in.n || left != 0))
                raise_too_long(o.len + (at < in.n ? out.size + 1 : left));
            at += piece.pos;
            if (convert) {
                out_server(&o, scratch, out.pos);
            } else {
                o.len += out.pos;
            }
        }
        t = out_text(&o);
    }
    PG_FINALLY();
    { palavox_stream_free(s); }
    PG_END_TRY();
    return t;
}

/* ------------------------------------------------------------ the three */

static text* fold(Bytes in) {
    palavox_stream* s;
    Out o;
    int rc;
    if (in.n > PIECE) {
        rc = palavox_remover_acentuacao_stream(&s);
        /* branch-untaken: only allocating the stream, a few hundred bytes, fails it */
        if (rc != PALAVOX_OK) raise_palavox(rc);
        return stream_text(s, in, in.n);
    }
    /* Folded straight into the text the row returns: never longer than its argument. */
    o.data = text_room(in.n);
    o.cap = in.n;
    /* branch-untaken: a megabyte at most, which only a server out of memory refuses */
    if (o.data == NULL) raise_palavox(PALAVOX_OUT_OF_MEMORY);
    rc = palavox_remover_acentuacao_utf8_into(in.p, in.n, o.data + VARHDRSZ, &o.len);
    if (rc != PALAVOX_OK) raise_palavox(rc);
    return result(out_text(&o));
}

static int32 find(Bytes in, Bytes procura, Bytes tipo) {
    palavox_stream* s;
    int32 volatile c = 0;
    int rc;
    if (in.n <= PIECE) {
        int32 one;
        rc = palavox_find_string_utf8(in.p, in.n, procura.p, procura.n, tipo.p, tipo.n, &one);
        if (rc != PALAVOX_OK) raise_palavox(rc);
        return one;
    }
    rc = palavox_find_string_stream(procura.p, procura.n, tipo.p, tipo.n, &s);
    if (rc != PALAVOX_OK) raise_palavox(rc);
    PG_TRY();
    {
        int32 n;
        for (size_t at = 0; at < in.n;) {
            palavox_in_buffer piece = {in.p + at, in.n - at < PIECE ? in.n - at : PIECE, 0};
            CHECK_FOR_INTERRUPTS();
            rc = palavox_stream_step(s, &piece, NULL);
            if (rc != PALAVOX_OK) raise_palavox(rc);
            at += piece.pos;
        }
        rc = palavox_stream_end_count(s, &n);
        if (rc != PALAVOX_OK) raise_palavox(rc);
        c = n;
    }
    PG_FINALLY();
    { palavox_stream_free(s); }
    PG_END_TRY();
    return c;
}

/* One call gives a result as long as its markup: only in place is it kept
 * as it comes; converted, it goes piece by piece too. */
static text* mark_up(Bytes in, Bytes target) {
    char* r;
    size_t rn;
    int rc;
    palavox_stream* s;
    if (in.n > PIECE || !in_place()) {
        rc = palavox_trata_html_stream(target.p, target.n, &s);
        if (rc != PALAVOX_OK) raise_palavox(rc);
        return stream_text(s, in, in.n + in.n / 4);
    }
    rc = palavox_trata_html_utf8(in.p, in.n, target.p, target.n, &r, &rn);
    if (rc != PALAVOX_OK) raise_palavox(rc);
    return taken(r, rn);
}

/* -------------------------------------------------------- SQL functions */

PG_FUNCTION_INFO_V1(pvx_remover_acentuacao);
Datum pvx_remover_acentuacao(PG_FUNCTION_ARGS) {
    /* STRICT: never called with NULL */
    PG_RETURN_TEXT_P(fold(argument(PG_GETARG_TEXT_PP(0))));
}

PG_FUNCTION_INFO_V1(pvx_find_string);
Datum pvx_find_string(PG_FUNCTION_ARGS) {
    Bytes entrada, procura;
    if (PG_ARGISNULL(0) || PG_ARGISNULL(1)) PG_RETURN_NULL();
    entrada = argument(PG_GETARG_TEXT_PP(0));
    procura = argument(PG_GETARG_TEXT_PP(1));
    PG_RETURN_INT32(find(entrada, procura, optional_argument(fcinfo, 2)));
}

PG_FUNCTION_INFO_V1(pvx_trata_html);
Datum pvx_trata_html(PG_FUNCTION_ARGS) {
    if (PG_ARGISNULL(0)) PG_RETURN_NULL();
    PG_RETURN_TEXT_P(mark_up(argument(PG_GETARG_TEXT_PP(0)), optional_argument(fcinfo, 1)));
}

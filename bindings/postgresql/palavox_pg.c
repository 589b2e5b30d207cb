/* PostgreSQL extension palavox over the C interface (libpalavox.a, linked in).
 *
 * Texts reach the C interface as UTF-8: read in place in a UTF8 or SQL_ASCII
 * database, converted from and back to any other database encoding. Results
 * of the C interface are malloc'd: each is copied into this call's memory and
 * freed before anything that can raise an error runs, since an error leaves
 * the function by longjmp. Long texts are worked a piece at a time with a look
 * for a cancel between pieces; the pieces are cut where the answer of the
 * whole is the sum of the answers of the pieces. */
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
/* A search text or target is read again by every piece; longer ones go whole. */
#define MAX_SIDE ((size_t)1 << 16)
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
    switch (number) {
        case 13: /* 22023 */
            sqlstate = ERRCODE_INVALID_PARAMETER_VALUE;
            break;
        case 6: /* 22003 */
            sqlstate = ERRCODE_NUMERIC_VALUE_OUT_OF_RANGE;
            break;
        case 7: /* 53200 */
            sqlstate = ERRCODE_OUT_OF_MEMORY;
            break;
        case 5: /* 22021, invalid UTF-8 (a SQL_ASCII database) */
            sqlstate = ERRCODE_CHARACTER_NOT_IN_REPERTOIRE;
            break;
        default: /* XX000, 51 among them */
            sqlstate = ERRCODE_INTERNAL_ERROR;
            break;
    }
    ereport(ERROR, (errcode(sqlstate), errmsg("%s", palavox_error_description(number)),
                    errdetail("Palavox error %d.", number),
                    number == 5 ? errhint("Palavox reads this database's texts as UTF-8, and this "
                                          "one is not valid UTF-8.")
                                : 0));
}

static void raise_too_long(size_t bytes) pg_attribute_noreturn();
static void raise_too_long(size_t bytes) {
    ereport(ERROR,
            (errcode(ERRCODE_PROGRAM_LIMIT_EXCEEDED),
             errmsg("palavox: the result does not fit in a text"),
             errdetail("The result needs %zu bytes; a text holds at most %zu.", bytes, MAX_TEXT)));
}

static inline bool in_place(void) {
    const int encoding = GetDatabaseEncoding();
    return encoding == PG_UTF8 || encoding == PG_SQL_ASCII;
}

/* ---------------------------------------------------------- UTF-8 pieces */

static inline bool continuation(char c) { return ((unsigned char)c & 0xC0) == 0x80; }

/* Where a piece of about `want` bytes of p[0, n) ends: never inside a character. */
static size_t utf8_cut(const char* p, size_t n, size_t want) {
    size_t i = want;
    if (n <= want) return n;
    while (i > want - 3 && continuation(p[i])) --i;
    return i;
}

/* `count` characters on from `at`, or back from it, never past [from, n). */
static size_t utf8_forward(const char* p, size_t n, size_t at, size_t count) {
    for (; count > 0 && at < n; --count) {
        ++at;
        while (at < n && continuation(p[at])) ++at;
    }
    return at;
}

static size_t utf8_back(const char* p, size_t from, size_t at, size_t count) {
    for (; count > 0 && at > from; --count) {
        --at;
        while (at > from && continuation(p[at])) --at;
    }
    return at;
}

static size_t utf8_characters(Bytes b) {
    size_t count = 0;
    for (size_t i = 0; i < b.n; ++i) count += !continuation(b.p[i]);
    return count;
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
    if (cap > MAX_TEXT) cap = MAX_TEXT;
    grown = palloc(VARHDRSZ + cap);
    for (size_t at = 0; at < o->len; at += step) {
        memcpy(grown + VARHDRSZ + at, o->data + VARHDRSZ + at,
               o->len - at < step ? o->len - at : step);
        CHECK_FOR_INTERRUPTS();
    }
    pfree(o->data);
    o->data = grown;
    o->cap = cap;
}

/* Appends a malloc'd result and frees it, on every path. */
static void out_take(Out* o, char* result, size_t n) {
    char* held;
    if (n <= o->cap - o->len) {
        memcpy(o->data + VARHDRSZ + o->len, result, n);
        o->len += n;
        palavox_free(result);
        return;
    }
    if (n > MAX_TEXT - o->len) {
        palavox_free(result);
        raise_too_long(o->len + n);
    }
    /* held in this call's memory while the buffer grows, which may be cancelled */
    held = palloc_extended(n, MCXT_ALLOC_NO_OOM);
    if (held == NULL) {
        palavox_free(result);
        raise_palavox(7);
    }
    memcpy(held, result, n);
    palavox_free(result);
    out_grow(o, o->len + n);
    memcpy(o->data + VARHDRSZ + o->len, held, n);
    o->len += n;
    pfree(held);
}

static text* out_text(Out* o) {
    SET_VARSIZE(o->data, VARHDRSZ + o->len);
    return (text*)o->data;
}

/* A whole malloc'd result as a text of this call; the short texts' path. */
static text* taken(char* result, size_t n) {
    Out o;
    if (n > MAX_TEXT) {
        palavox_free(result);
        raise_too_long(n);
    }
    o.data = palloc_extended(VARHDRSZ + n, MCXT_ALLOC_NO_OOM);
    if (o.data == NULL) {
        palavox_free(result);
        raise_palavox(7);
    }
    o.len = 0;
    o.cap = n;
    out_take(&o, result, n);
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

/* Converts piece by piece, between pieces looking for a cancel; every server
 * encoding is stateless, so pieces cut between characters convert alone. */
static StringInfoData convert(Bytes in, bool to_utf8) {
    StringInfoData out;
    size_t expected = to_utf8 ? in.n * 2 : in.n;
    initStringInfo(&out);
    /* sized once: growing would copy hundreds of MB in one go */
    if (in.n > PIECE)
        enlargeStringInfo(&out, (int)(expected < MAX_TEXT - 1 ? expected : MAX_TEXT - 1));
    for (size_t at = 0; at < in.n;) {
        const char* piece = in.p + at;
        const size_t n = to_utf8 ? server_cut(piece, in.n - at) : utf8_cut(piece, in.n - at, PIECE);
        const char* converted = to_utf8 ? pg_server_to_any(piece, (int)n, PG_UTF8)
                                        : pg_any_to_server(piece, (int)n, PG_UTF8);
        /* the source itself when nothing needed converting; else NUL-terminated */
        appendBinaryStringInfo(&out, converted,
                               converted == piece ? (int)n : (int)strlen(converted));
        if (converted != piece) pfree((void*)converted);
        at += n;
        CHECK_FOR_INTERRUPTS();
    }
    return out;
}

/* An argument as UTF-8, read in place where the database holds UTF-8. */
static Bytes argument(text* t) {
    Bytes b = {VARDATA_ANY(t), VARSIZE_ANY_EXHDR(t)};
    if (!in_place() && b.n > 0) {
        StringInfoData utf8 = convert(b, true);
        b.p = utf8.data;
        b.n = (size_t)utf8.len;
    }
    return b;
}

static Bytes optional_argument(FunctionCallInfo fcinfo, int i) {
    return PG_NARGS() > i && !PG_ARGISNULL(i) ? argument(PG_GETARG_TEXT_PP(i)) : kEmpty;
}

/* A UTF-8 result in the database's encoding. */
static text* result(text* utf8) {
    Bytes b = {VARDATA(utf8), VARSIZE(utf8) - VARHDRSZ};
    StringInfoData server;
    text* t;
    if (in_place() || b.n == 0) return utf8;
    server = convert(b, false);
    t = palloc(VARHDRSZ + (size_t)server.len);
    SET_VARSIZE(t, VARHDRSZ + server.len);
    memcpy(VARDATA(t), server.data, (size_t)server.len);
    return t;
}

/* ------------------------------------------------------------ the three */

/* Folding maps character to character: any cut between characters will do. */
static text* fold(Bytes in) {
    char* r;
    size_t rn;
    int rc;
    Out o;
    if (in.n <= PIECE) {
        rc = palavox_remover_acentuacao_utf8(in.p, in.n, &r, &rn);
        if (rc != 0) raise_palavox(rc);
        return taken(r, rn);
    }
    out_init(&o, in.n);
    for (size_t at = 0, end; at < in.n; at = end) {
        CHECK_FOR_INTERRUPTS();
        end = at + utf8_cut(in.p + at, in.n - at, PIECE);
        rc = palavox_remover_acentuacao_utf8(in.p + at, end - at, &r, &rn);
        if (rc != 0) raise_palavox(rc);
        out_take(&o, r, rn);
    }
    return out_text(&o);
}

static int32 count(const char* p, size_t n, Bytes procura, Bytes tipo) {
    int32 c;
    const int rc = palavox_find_string_utf8(p, n, procura.p, procura.n, tipo.p, tipo.n, &c);
    if (rc != 0) raise_palavox(rc);
    return c;
}

/* Matches are counted left to right without overlap, and a match covers as
 * many characters as the search text (k). So a piece [at, end) is counted
 * alone unless a match crosses `end`; then the count of [at, end + k - 1)
 * holds it, and the next piece starts where it ends, found by bisection
 * (counts over longer prefixes only grow, by whole matches). */
static int32 find(Bytes in, Bytes procura, Bytes tipo) {
    const char* p = in.p;
    size_t k, at = 0;
    int64 total = 0;
    if (in.n <= PIECE || procura.n > MAX_SIDE) return count(p, in.n, procura, tipo);
    if (procura.n == 0) {
        /* every piece gives the same answer; each is still read, as a whole call reads it */
        int32 answer = 0;
        for (size_t end; at < in.n; at = end) {
            CHECK_FOR_INTERRUPTS();
            end = at + utf8_cut(p + at, in.n - at, PIECE);
            answer = count(p + at, end - at, procura, tipo);
        }
        return answer;
    }
    k = utf8_characters(procura);
    while (at < in.n) {
        size_t end, reach, lo, hi;
        int32 before, within;
        CHECK_FOR_INTERRUPTS();
        end = at + utf8_cut(p + at, in.n - at, PIECE);
        if (end == in.n) {
            total += count(p + at, end - at, procura, tipo);
            break;
        }
        reach = utf8_forward(p, in.n, end, k - 1);
        if (k == 1) {
            total += count(p + at, end - at, procura, tipo);
            at = end;
            continue;
        }
        /* no match at all around `end`: none crosses it */
        lo = utf8_back(p, at, end, k - 1);
        if (count(p + lo, reach - lo, procura, tipo) == 0) {
            total += count(p + at, end - at, procura, tipo);
            at = end;
            continue;
        }
        before = count(p + at, end - at, procura, tipo);
        within = count(p + at, reach - at, procura, tipo);
        total += within;
        if (within == before) {
            at = end;
            continue;
        }
        for (lo = 1, hi = k - 1; lo < hi;) {
            const size_t mid = lo + (hi - lo) / 2;
            const size_t cut = utf8_forward(p, in.n, end, mid);
            if (count(p + at, cut - at, procura, tipo) == within) {
                hi = mid;
            } else {
                lo = mid + 1;
            }
        }
        at = utf8_forward(p, in.n, end, lo);
    }
    if (total > PG_INT32_MAX) raise_palavox(6);
    return (int32)total;
}

static inline bool ends_link(char c) { return c == '\r' || c == ' ' || c == '|'; }

/* Where the piece of link markup that starts at `at` (outside any link) ends:
 * before a CR, space or "|", which ends any link and is never part of "http";
 * in a long run without one, where no "http" starts between the run's start
 * and the cut, else at the end of the link that covers the cut. */
static size_t link_cut(Bytes in, size_t at) {
    const char* p = in.p;
    const Bytes http = {"http", 4};
    const size_t from = at + PIECE;
    size_t limit, cut, run, after;
    if (from >= in.n) return in.n;
    limit = from + PIECE < in.n ? from + PIECE : in.n;
    for (size_t i = from; i < limit; ++i) {
        if (ends_link(p[i])) return i;
    }
    cut = at + utf8_cut(p + at, in.n - at, limit - at);
    if (cut == in.n) return in.n;
    for (run = cut; run > at && !ends_link(p[run - 1]); --run) {
    }
    after = utf8_forward(p, in.n, cut, 3);
    if (count(p + run, after - run, http, kEmpty) == 0) return cut;
    for (size_t i = limit; i < in.n; ++i) {
        if (ends_link(p[i])) return i;
    }
    return in.n;
}

static text* mark_up(Bytes in, Bytes target) {
    char* r;
    size_t rn;
    int rc;
    Out o;
    if (in.n <= PIECE || target.n > MAX_SIDE) {
        rc = palavox_trata_html_utf8(in.p, in.n, target.p, target.n, &r, &rn);
        if (rc != 0) raise_palavox(rc);
        return taken(r, rn);
    }
    out_init(&o, in.n + in.n / 4);
    for (size_t at = 0, end; at < in.n; at = end) {
        CHECK_FOR_INTERRUPTS();
        end = link_cut(in, at);
        rc = palavox_trata_html_utf8(in.p + at, end - at, target.p, target.n, &r, &rn);
        if (rc != 0) raise_palavox(rc);
        out_take(&o, r, rn);
    }
    return out_text(&o);
}

/* -------------------------------------------------------- SQL functions */

PG_FUNCTION_INFO_V1(pvx_remover_acentuacao);
Datum pvx_remover_acentuacao(PG_FUNCTION_ARGS) {
    /* STRICT: never called with NULL */
    PG_RETURN_TEXT_P(result(fold(argument(PG_GETARG_TEXT_PP(0)))));
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
    PG_RETURN_TEXT_P(result(mark_up(argument(PG_GETARG_TEXT_PP(0)), optional_argument(fcinfo, 1))));
}

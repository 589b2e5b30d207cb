/* SQLite loadable extension palavox over the C interface (libpalavox.a,
 * linked in): remover_acentuacao, find_string and trata_html.
 *
 * Registered for UTF-16 in the machine's byte order, the C interface's own
 * units: SQLite hands the arguments over in that form (converting from a UTF-8
 * database once) and takes the malloc'd result with palavox_free as its
 * destructor, so the binding itself copies nothing. */
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "palavox/palavox.h"

typedef struct {
    const uint16_t* p;
    size_t n;
} Units;

/* The one place where a number of the C interface becomes an SQLite error. */
static void fail(sqlite3_context* ctx, int number) {
    if (number == PALAVOX_OUT_OF_MEMORY) {
        sqlite3_result_error_nomem(ctx);
        return;
    }
    sqlite3_result_error(ctx, palavox_error_description(number), -1);
    /* branch-untaken: only 13 is left; 6 needs 2^31 matches, more than SQLite's texts hold */
    sqlite3_result_error_code(ctx,
                              number == PALAVOX_TYPE_MISMATCH ? SQLITE_MISMATCH : SQLITE_ERROR);
}

/* 1: a text (a number as SQLite writes it); 0: NULL; -1: refused, error set. */
static int take(sqlite3_context* ctx, sqlite3_value* value, Units* out) {
    out->p = NULL;
    out->n = 0;
    switch (sqlite3_value_type(value)) {
        case SQLITE_NULL:
            return 0;
        case SQLITE_BLOB:
            sqlite3_result_error(ctx, "palavox: a BLOB is not a text; cast it to TEXT", -1);
            sqlite3_result_error_code(ctx, SQLITE_MISMATCH);
            return -1;
        default:
            out->p = sqlite3_value_text16(value);
            if (out->p == NULL) {
                sqlite3_result_error_nomem(ctx);
                return -1;
            }
            out->n = (size_t)sqlite3_value_bytes16(value) / 2;
            return 1;
    }
}

static void text_result(sqlite3_context* ctx, int rc, uint16_t* r, size_t n) {
    uint16_t* marked;
    sqlite3_uint64 bytes;
    if (rc != PALAVOX_OK) {
        fail(ctx, rc);
        return;
    }
    if (n == 0 || r[0] != 0xFEFF) {
        sqlite3_result_text64(ctx, (const char*)r, (sqlite3_uint64)n * 2, palavox_free,
                              SQLITE_UTF16);
        return;
    }
    /* SQLite takes a leading U+FEFF of UTF-16 for a byte order mark and drops
     * it: one more in front keeps the text's own. */
    bytes = ((sqlite3_uint64)n + 1) * 2; /* one size for the copy and for SQLite */
    marked = sqlite3_malloc64(bytes);
    if (marked == NULL) {
        palavox_free(r);
        sqlite3_result_error_nomem(ctx);
        return;
    }
    marked[0] = 0xFEFF;
    memcpy(marked + 1, r, n * 2);
    palavox_free(r);
    sqlite3_result_text64(ctx, (const char*)marked, bytes, sqlite3_free, SQLITE_UTF16);
}

static void remover_acentuacao(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    Units texto;
    uint16_t* r;
    size_t n;
    int rc;
    (void)argc;
    if (take(ctx, argv[0], &texto) <= 0) return; /* NULL: the result stays NULL */
    rc = palavox_remover_acentuacao(texto.p, texto.n, &r, &n);
    text_result(ctx, rc, r, n);
}

static void find_string(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    Units entrada, procura, tipo = {NULL, 0};
    int32_t count;
    int rc;
    if (take(ctx, argv[0], &entrada) <= 0 || take(ctx, argv[1], &procura) <= 0) return;
    if (argc > 2 && take(ctx, argv[2], &tipo) < 0) return; /* NULL tipo: omitted */
    rc = palavox_find_string(entrada.p, entrada.n, procura.p, procura.n, tipo.p, tipo.n, &count);
    if (rc != PALAVOX_OK) {
        fail(ctx, rc);
        return;
    }
    sqlite3_result_int(ctx, count);
}

static void trata_html(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    Units entrada, target = {NULL, 0};
    uint16_t* r;
    size_t n;
    int rc;
    if (take(ctx, argv[0], &entrada) <= 0) return;
    if (argc > 1 && take(ctx, argv[1], &target) < 0) return;
    rc = palavox_trata_html(entrada.p, entrada.n, target.p, target.n, &r, &n);
    text_result(ctx, rc, r, n);
}

#ifdef _WIN32
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
    int sqlite3_palavox_init(sqlite3* db, char** error, const sqlite3_api_routines* api) {
    /* Deterministic and harmless: they may serve indexes, generated columns,
     * views and triggers. */
    static const int kFlags = SQLITE_UTF16 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    static const struct {
        const char* name;
        int arity;
        void (*call)(sqlite3_context*, int, sqlite3_value**);
    } kFunctions[] = {
        {"remover_acentuacao", 1, remover_acentuacao},
        {"find_string", 2, find_string},
        {"find_string", 3, find_string},
        {"trata_html", 1, trata_html},
        {"trata_html", 2, trata_html},
    };
    SQLITE_EXTENSION_INIT2(api);
    for (size_t i = 0; i < sizeof kFunctions / sizeof kFunctions[0]; ++i) {
        const int rc = sqlite3_create_function(db, kFunctions[i].name, kFunctions[i].arity, kFlags,
                                               NULL, kFunctions[i].call, NULL, NULL);
        if (rc != SQLITE_OK) {
            /* Else the loader says only "error during initialization". */
            if (error != NULL) { /* branch-untaken: every SQLite loader passes it */
                *error = sqlite3_mprintf("palavox: %s: %s", kFunctions[i].name, sqlite3_errmsg(db));
            }
            return rc;
        }
    }
    return SQLITE_OK;
}

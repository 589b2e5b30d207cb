/* A plain C99 program that knows Palavox only through the installed
 * palavox.h and palavox.pc: every case of the shared case file, through the
 * UTF-16 functions and, where the case has a UTF-8 form, the UTF-8 ones and
 * a stream fed a few bytes at a time into a small output.
 *   cases <palavox_cases.txt> <expected version> */
#include <palavox/palavox.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The header's version, as a program tests it where it is compiled (and
 * below, with its error names, against the library's). */
#if !PALAVOX_VERSION_AT_LEAST(1, 5, 0) || PALAVOX_VERSION_NUMBER < 10500
#error "palavox.h older than 1.5.0, or its version macros do not work in #if"
#endif

typedef struct {
    uint16_t* p;
    size_t n;
} text16;

static int passed, failed;

static void check(int ok, int line, const char* what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("FAILED: line %d: %s\n", line, what);
    }
}

/* \\ \t \n \r \0 are the file's only escapes; unescaping never lengthens. */
static text16 unescape(const uint16_t* s, size_t n) {
    text16 t;
    size_t i;
    t.p = malloc((n + 1) * sizeof *t.p);
    t.n = 0;
    if (t.p == NULL) exit(3);
    for (i = 0; i < n; ++i) {
        uint16_t c = s[i];
        if (c == '\\' && i + 1 < n) {
            c = s[++i];
            c = c == 't' ? 9 : c == 'n' ? 10 : c == 'r' ? 13 : c == '0' ? 0 : c;
        }
        t.p[t.n++] = c;
    }
    return t;
}

/* UTF-8 of a UTF-16 text, or NULL when it holds an unpaired surrogate. */
static char* to_utf8(text16 t, size_t* len) {
    char* out = malloc(t.n * 3 + 1);
    size_t i, k = 0;
    if (out == NULL) exit(3);
    for (i = 0; i < t.n; ++i) {
        unsigned long cp = t.p[i];
        if (cp >= 0xD800 && cp < 0xE000) {
            if (cp >= 0xDC00 || i + 1 >= t.n || t.p[i + 1] < 0xDC00 || t.p[i + 1] >= 0xE000) {
                free(out);
                return NULL;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (t.p[++i] - 0xDC00u);
        }
        if (cp < 0x80) {
            out[k++] = (char)cp;
        } else if (cp < 0x800) {
            out[k++] = (char)(0xC0 | cp >> 6);
            out[k++] = (char)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out[k++] = (char)(0xE0 | cp >> 12);
            out[k++] = (char)(0x80 | (cp >> 6 & 0x3F));
            out[k++] = (char)(0x80 | (cp & 0x3F));
        } else {
            out[k++] = (char)(0xF0 | cp >> 18);
            out[k++] = (char)(0x80 | (cp >> 12 & 0x3F));
            out[k++] = (char)(0x80 | (cp >> 6 & 0x3F));
            out[k++] = (char)(0x80 | (cp & 0x3F));
        }
    }
    *len = k;
    return out;
}

static int is_ascii(text16 t, const char* s) {
    size_t i, n = strlen(s);
    if (t.n != n) return 0;
    for (i = 0; i < n; ++i) {
        if (t.p[i] != (uint16_t)s[i]) return 0;
    }
    return 1;
}

static int same16(const uint16_t* r, size_t rn, text16 e) {
    return r != NULL && rn == e.n && r[rn] == 0 && memcmp(r, e.p, rn * sizeof *r) == 0;
}

static int same8(const char* r, size_t rn, const char* e, size_t en) {
    return r != NULL && rn == en && r[rn] == 0 && memcmp(r, e, rn) == 0;
}

/* Whether a piece of output ends where a code point does. */
static int whole(const char* p, size_t n) {
    size_t i = 0;
    while (i < n) {
        unsigned char lead = (unsigned char)p[i];
        i += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    }
    return i == n;
}

/* A stream's output so far; broken once a piece ends inside a code point or
 * a call took nothing it could have. */
typedef struct {
    char* p;
    size_t n, cap;
    int broken;
} output;

static output new_output(void) {
    output o;
    o.cap = 64;
    o.n = 0;
    o.broken = 0;
    o.p = malloc(o.cap);
    if (o.p == NULL) exit(3);
    return o;
}

static void take(output* o, const char* piece, size_t n, int moved) {
    if (!whole(piece, n) || (n == 0 && !moved)) o->broken = 1;
    if (o->n + n > o->cap) {
        o->cap = 2 * o->cap + n;
        o->p = realloc(o->p, o->cap);
        if (o->p == NULL) exit(3);
    }
    memcpy(o->p + o->n, piece, n);
    o->n += n;
}

/* The text through `s` in pieces of 1, 2, 3, 4, 1, ... bytes, each step into
 * 5 bytes of room (none when it `counts`); then its end, which gives a count
 * for FindString. Returns the number the stream answered. */
static int through_stream(palavox_stream* s, const char* text, size_t n, int counts, output* out,
                          int32_t* count) {
    char room[5];
    size_t at = 0, len = 1, left = 1;
    int rc = 0;
    while (rc == 0 && at < n && !out->broken) {
        palavox_in_buffer in;
        in.src = text + at;
        in.size = len < n - at ? len : n - at;
        in.pos = 0;
        at += in.size;
        len = len % 4 + 1;
        while (rc == 0 && in.pos < in.size && !out->broken) {
            palavox_out_buffer o;
            size_t before = in.pos;
            o.dst = counts ? NULL : room;
            o.size = counts ? 0 : sizeof room;
            o.pos = 0;
            rc = palavox_stream_step(s, &in, &o);
            if (rc == 0) take(out, room, o.pos, in.pos != before);
        }
    }
    if (rc != 0 || out->broken) return rc;
    if (counts) return palavox_stream_end_count(s, count);
    while (rc == 0 && left != 0 && !out->broken) {
        palavox_out_buffer o;
        o.dst = room;
        o.size = sizeof room;
        o.pos = 0;
        rc = palavox_stream_end(s, &o, &left);
        if (rc == 0) take(out, room, o.pos, left == 0);
    }
    return rc;
}

/* The case again through a stream: its text, then its result. */
static void stream_case(int line, palavox_stream* s, int rc, const char* text, size_t n,
                        const char* expected, size_t expected_n, const char* what) {
    output o = new_output();
    if (rc == 0) rc = through_stream(s, text, n, 0, &o, NULL);
    check(rc == 0 && !o.broken && o.n == expected_n && memcmp(o.p, expected, o.n) == 0, line, what);
    free(o.p);
    palavox_stream_free(s);
}

/* fields[0] is the method, then its arguments, then the expected result. */
static void run_case(int line, text16* f, size_t count) {
    char* u8[4] = {NULL, NULL, NULL, NULL};
    size_t n8[4] = {0, 0, 0, 0};
    int utf8 = 1;
    size_t i;
    for (i = 1; i < count; ++i) {
        u8[i - 1] = to_utf8(f[i], &n8[i - 1]);
        if (u8[i - 1] == NULL) utf8 = 0;
    }

    if (is_ascii(f[0], "FindString") && count == 5) {
        int32_t n = 77, expected = 0;
        int rc_expected = 0, rc;
        char digits[16] = {0};
        for (i = 0; i < f[4].n && i < 15; ++i) digits[i] = (char)f[4].p[i];
        if (strncmp(digits, "error ", 6) == 0) {
            rc_expected = atoi(digits + 6);
        } else {
            expected = (int32_t)atol(digits);
        }
        rc = palavox_find_string(f[1].p, f[1].n, f[2].p, f[2].n, f[3].p, f[3].n, &n);
        check(rc == rc_expected && n == expected, line, "palavox_find_string");
        if (utf8) {
            n = 77;
            rc = palavox_find_string_utf8(u8[0], n8[0], u8[1], n8[1], u8[2], n8[2], &n);
            check(rc == rc_expected && n == expected, line, "palavox_find_string_utf8");
            {
                palavox_stream* s = NULL;
                output o = new_output();
                n = 77;
                rc = palavox_find_string_stream(u8[1], n8[1], u8[2], n8[2], &s);
                if (rc == 0) rc = through_stream(s, u8[0], n8[0], 1, &o, &n);
                check(rc == rc_expected && n == expected && !o.broken, line,
                      "palavox_find_string_stream");
                free(o.p);
                palavox_stream_free(s);
            }
        }
    } else if (is_ascii(f[0], "TrataHTML") && count == 4) {
        uint16_t* r = NULL;
        char* r8 = NULL;
        size_t rn = 0;
        int rc = palavox_trata_html(f[1].p, f[1].n, f[2].p, f[2].n, &r, &rn);
        check(rc == 0 && same16(r, rn, f[3]), line, "palavox_trata_html");
        palavox_free(r);
        if (utf8) {
            rc = palavox_trata_html_utf8(u8[0], n8[0], u8[1], n8[1], &r8, &rn);
            check(rc == 0 && same8(r8, rn, u8[2], n8[2]), line, "palavox_trata_html_utf8");
            palavox_free(r8);
            /* sized with no room; into that room and a byte more, which stays as
             * it was; into a byte too few, where nothing is written */
            rn = 77;
            rc = palavox_trata_html_utf8_into(u8[0], n8[0], u8[1], n8[1], NULL, 0, &rn);
            check(rc == 0 && rn == n8[2], line, "palavox_trata_html_utf8_into, sized");
            r8 = (char*)malloc(n8[2] + 1);
            if (r8 != NULL) {
                r8[n8[2]] = 'X';
                rc = palavox_trata_html_utf8_into(u8[0], n8[0], u8[1], n8[1], r8, n8[2], &rn);
                check(rc == 0 && rn == n8[2] && memcmp(r8, u8[2], rn) == 0 && r8[n8[2]] == 'X',
                      line, "palavox_trata_html_utf8_into");
                if (n8[2] != 0) {
                    memset(r8, 'X', n8[2]);
                    rc = palavox_trata_html_utf8_into(u8[0], n8[0], u8[1], n8[1], r8, n8[2] - 1,
                                                      &rn);
                    check(rc == 0 && rn == n8[2] && r8[0] == 'X' && r8[n8[2] - 1] == 'X', line,
                          "palavox_trata_html_utf8_into, too little room");
                }
                free(r8);
            }
            {
                palavox_stream* s = NULL;
                rc = palavox_trata_html_stream(u8[1], n8[1], &s);
                stream_case(line, s, rc, u8[0], n8[0], u8[2], n8[2], "palavox_trata_html_stream");
            }
        }
    } else if (is_ascii(f[0], "RemoverAcentuacao") && count == 3) {
        uint16_t* r = NULL;
        char* r8 = NULL;
        size_t rn = 0;
        int rc = palavox_remover_acentuacao(f[1].p, f[1].n, &r, &rn);
        check(rc == 0 && same16(r, rn, f[2]), line, "palavox_remover_acentuacao");
        palavox_free(r);
        r = (uint16_t*)malloc((f[1].n + 1) * sizeof(uint16_t));
        if (r != NULL) {
            r[f[1].n] = 0xFFFF;
            rc = palavox_remover_acentuacao_into(f[1].p, f[1].n, r);
            /* exactly the text's length, and no terminator after it */
            check(rc == 0 && f[1].n == f[2].n && memcmp(r, f[2].p, f[2].n * sizeof *r) == 0 &&
                      r[f[1].n] == 0xFFFF,
                  line, "palavox_remover_acentuacao_into");
            free(r);
        }
        if (utf8) {
            rc = palavox_remover_acentuacao_utf8(u8[0], n8[0], &r8, &rn);
            check(rc == 0 && same8(r8, rn, u8[1], n8[1]), line, "palavox_remover_acentuacao_utf8");
            palavox_free(r8);
            /* into room for the text's bytes and one more, which stays as it was */
            r8 = (char*)malloc(n8[0] + 1);
            if (r8 != NULL) {
                r8[n8[0]] = 'X';
                rc = palavox_remover_acentuacao_utf8_into(u8[0], n8[0], r8, &rn);
                check(rc == 0 && rn == n8[1] && memcmp(r8, u8[1], rn) == 0 && r8[n8[0]] == 'X',
                      line, "palavox_remover_acentuacao_utf8_into");
                free(r8);
            }
            {
                palavox_stream* s = NULL;
                rc = palavox_remover_acentuacao_stream(&s);
                stream_case(line, s, rc, u8[0], n8[0], u8[1], n8[1],
                            "palavox_remover_acentuacao_stream");
            }
        }
    } else {
        check(0, line, "unknown method or wrong field count");
    }
    for (i = 0; i < 4; ++i) free(u8[i]);
}

int main(int argc, char** argv) {
    FILE* in;
    unsigned char* bytes;
    uint16_t* units;
    long size;
    size_t n, i, start, line = 0;
    if (argc != 3) {
        fprintf(stderr, "usage: cases <palavox_cases.txt> <expected version>\n");
        return 2;
    }
    in = fopen(argv[1], "rb");
    if (in == NULL || fseek(in, 0, SEEK_END) != 0 || (size = ftell(in)) < 2) {
        fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    rewind(in);
    bytes = malloc((size_t)size);
    if (bytes == NULL || fread(bytes, 1, (size_t)size, in) != (size_t)size) return 2;
    fclose(in);
    if (bytes[0] != 0xFF || bytes[1] != 0xFE) {
        fprintf(stderr, "%s is not UTF-16LE with a byte order mark\n", argv[1]);
        return 2;
    }
    n = (size_t)size / 2 - 1;
    units = malloc((n + 1) * sizeof *units);
    if (units == NULL) return 2;
    for (i = 0; i < n; ++i) units[i] = (uint16_t)(bytes[2 + 2 * i] | bytes[3 + 2 * i] << 8);
    units[n] = '\n';

    {
        char parts[40];
        sprintf(parts, "%d.%d.%d", PALAVOX_VERSION_MAJOR, PALAVOX_VERSION_MINOR,
                PALAVOX_VERSION_PATCH);
        printf("palavox_version() %s, palavox.h %s (%d)\n", palavox_version(),
               PALAVOX_VERSION_STRING, PALAVOX_VERSION_NUMBER);
        check(strcmp(palavox_version(), argv[2]) == 0, 0, "palavox_version");
        check(strcmp(PALAVOX_VERSION_STRING, argv[2]) == 0, 0, "PALAVOX_VERSION_STRING");
        check(strcmp(parts, argv[2]) == 0, 0, "PALAVOX_VERSION_MAJOR, _MINOR, _PATCH");
    }
    check(PALAVOX_TYPE_MISMATCH == 13 &&
              strcmp(palavox_error_description(PALAVOX_TYPE_MISMATCH), "Type mismatch") == 0,
          0, "PALAVOX_TYPE_MISMATCH");
    check(PALAVOX_INTERNAL_ERROR == 51 &&
              strcmp(palavox_error_description(PALAVOX_INTERNAL_ERROR), "Internal error") == 0,
          0, "PALAVOX_INTERNAL_ERROR");
    for (start = 0, i = 0; i <= n; ++i) {
        text16 fields[6];
        size_t count = 0, from = start, k;
        if (units[i] != '\n') continue;
        ++line;
        if (i > start && units[start] != '#') {
            for (k = start; k <= i; ++k) {
                if (k == i || units[k] == '\t') {
                    if (count < 6) fields[count++] = unescape(units + from, k - from);
                    from = k + 1;
                }
            }
            run_case((int)line, fields, count);
            for (k = 0; k < count; ++k) free(fields[k].p);
        }
        start = i + 1;
    }
    free(units);
    free(bytes);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 500 ? 0 : 1;
}

/* The batch calls' work on an Arrow string column written by hand, for
 * python_arrow_bench.py to time beside them (built there with the system's
 * cc, called through ctypes, which lets go of the GIL). Nothing is checked.
 * Results are allocated as the batch calls' are, huge pages asked for past
 * 4 MiB, so that two threads of these meet the memory two threads of the
 * calls meet. Each gives 0, -1 out of memory, or -2 (markup) for a row it
 * cannot do. */

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

static void advise_huge(void* p, size_t size) {
    const uintptr_t huge = (uintptr_t)1 << 21;
    const uintptr_t from = ((uintptr_t)p + huge - 1) & ~(huge - 1);
    const uintptr_t to = ((uintptr_t)p + size) & ~(huge - 1);
    if (size > ((size_t)4 << 20) && to > from) (void)madvise((void*)from, to - from, MADV_HUGEPAGE);
}

static void* allocate(size_t size) {
    void* p = malloc(size);
    if (p != NULL) advise_huge(p, size);
    return p;
}

/* A string result's offsets and data for n rows of at most `bytes` bytes. */
static int allocate_strings(int64_t n, size_t bytes, int32_t** o, unsigned char** d) {
    *o = (int32_t*)allocate(((size_t)n + 1) * sizeof **o);
    *d = (unsigned char*)allocate(bytes + 1);
    if (*o == NULL || *d == NULL) {
        free(*o);
        free(*d);
        return -1;
    }
    (*o)[0] = 0;
    return 0;
}

/* Folding: a byte below 0x80 and a two-byte sequence for U+0080..U+00FF
 * looked up in `table`, what each folds to, 0 where it is kept; every other
 * byte copied. */
int fold_by_hand(const int32_t* offsets, const unsigned char* data, int64_t n,
                 const unsigned char* table, int32_t** out_offsets, unsigned char** out_data) {
    int32_t* o;
    unsigned char* d;
    if (allocate_strings(n, (size_t)(offsets[n] - offsets[0]), &o, &d) < 0) return -1;
    size_t w = 0;
    for (int64_t r = 0; r < n; r++) {
        const unsigned char* t = data + offsets[r];
        const size_t len = (size_t)(offsets[r + 1] - offsets[r]);
        for (size_t i = 0; i < len;) {
            const unsigned b = t[i];
            if (b < 0x80) {
                d[w++] = table[b] ? table[b] : (unsigned char)b;
                i++;
                continue;
            }
            if ((b == 0xC2 || b == 0xC3) && i + 1 < len) {
                const unsigned char folded = table[(b & 0x1F) << 6 | (t[i + 1] & 0x3F)];
                if (folded) {
                    d[w++] = folded;
                    i += 2;
                    continue;
                }
            }
            d[w++] = (unsigned char)b;
            i++;
        }
        o[r + 1] = (int32_t)w;
    }
    *out_offsets = o;
    *out_data = d;
    return 0;
}

static int has_http(const unsigned char* t, size_t n) {
    for (size_t i = 0; i + 4 <= n; i++) {
        if ((t[i] | 0x20) == 'h' && (t[i + 1] | 0x20) == 't' && (t[i + 2] | 0x20) == 't' &&
            (t[i + 3] | 0x20) == 'p') {
            return 1;
        }
    }
    return 0;
}

/* Markup of rows that hold no link: the scan for "http" any case, and each
 * row copied. */
int mark_by_hand(const int32_t* offsets, const unsigned char* data, int64_t n,
                 int32_t** out_offsets, unsigned char** out_data) {
    int32_t* o;
    unsigned char* d;
    if (allocate_strings(n, (size_t)(offsets[n] - offsets[0]), &o, &d) < 0) return -1;
    size_t w = 0;
    for (int64_t r = 0; r < n; r++) {
        const unsigned char* t = data + offsets[r];
        const size_t len = (size_t)(offsets[r + 1] - offsets[r]);
        if (has_http(t, len)) {
            free(o);
            free(d);
            return -2;
        }
        memcpy(d + w, t, len);
        w += len;
        o[r + 1] = (int32_t)w;
    }
    *out_offsets = o;
    *out_data = d;
    return 0;
}

/* Counting: non-overlapping occurrences of `needle` (ASCII, lowered) in
 * each row, ASCII letters of the row lowered as compared. */
int count_by_hand(const int32_t* offsets, const unsigned char* data, int64_t n,
                  const unsigned char* needle, size_t m, int32_t** out_counts) {
    int32_t* c = (int32_t*)allocate((size_t)n * sizeof *c + 1);
    if (c == NULL) return -1;
    for (int64_t r = 0; r < n; r++) {
        const unsigned char* t = data + offsets[r];
        const size_t len = (size_t)(offsets[r + 1] - offsets[r]);
        int32_t count = 0;
        for (size_t i = 0; i + m <= len;) {
            size_t j = 0;
            while (j < m) {
                unsigned u = t[i + j];
                if (u >= 'A' && u <= 'Z') u |= 0x20;
                if (u != needle[j]) break;
                j++;
            }
            if (j == m) {
                count++;
                i += m;
            } else {
                i++;
            }
        }
        c[r] = count;
    }
    *out_counts = c;
    return 0;
}

void free_by_hand(void* first, void* second) {
    free(first);
    free(second);
}

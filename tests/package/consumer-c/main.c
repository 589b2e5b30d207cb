/* Links only if the static archive brings its C++ runtime along. */
#include <palavox/palavox.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    char* folded = NULL;
    size_t len = 0;
    int rc = palavox_remover_acentuacao_utf8("A\xc3\xa7\xc3\xa3o", 6, &folded, &len);
    int ok = rc == PALAVOX_OK && len == 4 && strcmp(folded, "Acao") == 0;
    palavox_free(folded);
    int32_t n = 0;
    ok = ok && palavox_find_string_utf8("", 0, "a", 1, NULL, 0, &n) == PALAVOX_TYPE_MISMATCH;
    puts(ok ? "C consumer: static C interface linked and working" : "C consumer: wrong results");
    return ok ? 0 : 1;
}

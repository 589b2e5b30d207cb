// A downstream program that knows Palavox only through its installed package
// (or the vendored tree), including every header it installs.
#include <palavox/palavox.h>

#include <cstdio>
#include <cstring>
#include <palavox/error.hpp>
#include <palavox/mod_palavox.hpp>
#include <palavox/palavox_class.hpp>
#include <palavox/text.hpp>

static_assert(PALAVOX_TYPE_MISMATCH == palavox::kTypeMismatch);

int main() {
    const palavox::PalavoxClass palavox;
    int checks = 0, failures = 0;
    auto check = [&](bool ok, const char* what) {
        ++checks;
        if (!ok) std::printf("FAILED: %s\n", what);
        failures += ok ? 0 : 1;
    };
    check(palavox.RemoverAcentuacao(u"A\u00E7\u00E3o & Rea\u00E7\u00E3o") == u"Acao e Reacao",
          "RemoverAcentuacao");
    check(palavox.FindString(u"Casa casa CASA", u"casa") == 3, "FindString");
    check(palavox.TrataHTML(u"ver http://a/b fim") ==
              u"ver <a href=\"http://a/b\" target=\"_self\">http://a/b</a> fim",
          "TrataHTML");
    try {
        (void)palavox.FindString(u"", u"a");
        check(false, "FindString on empty text must fail");
    } catch (const palavox::Error& e) {
        check(e.number() == 13, "error number 13");
    }
    check(std::strcmp(palavox_version(), PALAVOX_VERSION_STRING) == 0,
          "palavox_version() is palavox_version.h's");
    std::printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}

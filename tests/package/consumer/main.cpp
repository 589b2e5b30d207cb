// A downstream program that knows Palavox only through its installed package.
#include <palavox/palavox_class.hpp>

#include <cstdio>

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
    std::printf("%d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}

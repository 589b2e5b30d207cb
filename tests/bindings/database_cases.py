"""What the database runners share (tests/bindings/postgresql, tests/bindings/sqlite):
the shared case file, what a database text can hold, and the C interface called
once per text, the answer any piecewise work inside a database must match."""

import ctypes
import os
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "cases"))
from shared_cases import load_cases  # noqa: E402,F401


def holds(text, nul=False):
    """Whether a database text can hold it: no lone surrogate (UTF-8 has none),
    and no NUL unless `nul`."""
    return (nul or "\0" not in text) and not any(0xD800 <= ord(c) <= 0xDFFF for c in text)


def variants(method, args):
    """The call as written and, where the optional argument is empty, with it
    left out (None in the list's place: shorter) and as NULL."""
    calls = [list(args)]
    if method != "RemoverAcentuacao" and args[-1] == "":
        calls += [list(args[:-1]), list(args[:-1]) + [None]]
    return calls


class OneCall:
    """The C interface (libpalavox.so.1 of make build, or PALAVOX_C_LIBRARY: the
    tree a mutation run builds), one call per text."""

    def __init__(self):
        lib = ctypes.CDLL(os.environ.get("PALAVOX_C_LIBRARY")
                          or os.path.join(ROOT, "build", "native", "capi", "libpalavox.so.1"))
        size, p = ctypes.c_size_t, ctypes.c_char_p
        out = [ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(size)]
        lib.palavox_remover_acentuacao_utf8.argtypes = [p, size] + out
        lib.palavox_trata_html_utf8.argtypes = [p, size, p, size] + out
        lib.palavox_find_string_utf8.argtypes = [p, size, p, size, p, size,
                                                 ctypes.POINTER(ctypes.c_int32)]
        lib.palavox_free.argtypes = [ctypes.c_void_p]
        self.lib = lib

    def _text(self, rc, result, length):
        assert rc == 0, f"error {rc}"
        try:
            return ctypes.string_at(result.value, length.value) if length.value else b""
        finally:
            self.lib.palavox_free(result)

    def remover_acentuacao(self, texto):
        r, n = ctypes.c_void_p(), ctypes.c_size_t()
        return self._text(self.lib.palavox_remover_acentuacao_utf8(texto, len(texto), r, n), r, n)

    def trata_html(self, entrada, target=b""):
        r, n = ctypes.c_void_p(), ctypes.c_size_t()
        rc = self.lib.palavox_trata_html_utf8(entrada, len(entrada), target, len(target), r, n)
        return self._text(rc, r, n)

    def find_string(self, entrada, procura, tipo=b""):
        count = ctypes.c_int32()
        rc = self.lib.palavox_find_string_utf8(entrada, len(entrada), procura, len(procura),
                                               tipo, len(tipo), count)
        assert rc == 0, f"error {rc}"
        return count.value

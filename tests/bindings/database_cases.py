"""The shared case file as the database runners read it (tests/bindings/postgresql,
tests/bindings/sqlite), and the C interface called once per text, the answer any
piecewise work inside a database must match."""

import ctypes
import os
import re

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ARITY = {"TrataHTML": 2, "FindString": 3, "RemoverAcentuacao": 1}
ESCAPES = {"\\": "\\", "t": "\t", "n": "\n", "r": "\r", "0": "\0"}


def load_cases():
    """(line, method, args, expected): expected is a count, "error 13" or a text."""
    with open(os.path.join(ROOT, "tests", "cases", "palavox_cases.txt"), "rb") as f:
        raw = f.read()
    assert raw[:2] == b"\xff\xfe", "the case file starts with a byte order mark"
    cases = []
    for number, line in enumerate(raw[2:].decode("utf-16-le", "surrogatepass").split("\n"), 1):
        if not line or line.startswith("#"):
            continue
        method, *fields = line.split("\t")
        assert len(fields) == ARITY[method] + 1, f"line {number}: field count"
        fields = [re.sub(r"\\(.)", lambda m: ESCAPES[m.group(1)], f) for f in fields]
        cases.append((number, method, fields[:-1], fields[-1]))
    for method in ARITY:
        assert sum(1 for c in cases if c[1] == method) >= 50, f"rows for {method}"
    return cases


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
    """The C interface (libpalavox.so.1 of make build), one call per text."""

    def __init__(self):
        lib = ctypes.CDLL(os.path.join(ROOT, "build", "native", "capi", "libpalavox.so.1"))
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

"""The shared case file as the Python runners read it (the binding's tests, the
database extensions' checks), beside shared_cases.hpp for the C++ ones."""

import os
import re

PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "palavox_cases.txt")
ARITY = {"TrataHTML": 2, "FindString": 3, "RemoverAcentuacao": 1}
ESCAPES = {"\\": "\\", "t": "\t", "n": "\n", "r": "\r", "0": "\0"}


def unescape(field):
    return re.sub(r"\\(.)", lambda m: ESCAPES[m.group(1)], field)


def load_cases():
    """(line, method, args, expected): expected is a count, "error 13" or a text.
    Read with surrogatepass: pairs become one character, lone halves stay."""
    with open(PATH, "rb") as f:
        raw = f.read()
    assert raw[:2] == b"\xff\xfe", "the case file starts with a byte order mark"
    cases = []
    for number, line in enumerate(raw[2:].decode("utf-16-le", "surrogatepass").split("\n"), 1):
        if not line or line.startswith("#"):
            continue
        method, *fields = line.split("\t")
        assert len(fields) == ARITY[method] + 1, f"line {number}: field count"
        fields = [unescape(f) for f in fields]
        cases.append((number, method, fields[:-1], fields[-1]))
    for method in ARITY:
        assert sum(1 for c in cases if c[1] == method) >= 50, f"rows for {method}"
    return cases


def has_utf8(text):
    """Whether a text has a UTF-8 form: no lone surrogate."""
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def utf8_cases():
    """The cases whose arguments and result all have a UTF-8 form (Arrow's,
    DuckDB's and polars' strings), and how many cases there are in all."""
    cases = load_cases()
    return [c for c in cases if all(map(has_utf8, c[2])) and has_utf8(c[3])], len(cases)


def by_fixed_arguments(cases):
    """The cases grouped by method and every argument but the text, each group
    [(line, text, expected)]: the rows one column call can take."""
    groups = {}
    for number, method, args, expected in cases:
        groups.setdefault((method, *args[1:]), []).append((number, args[0], expected))
    return groups

"""The SQLite extension build/native/bindings/sqlite/palavox.so: the shared
cases through the sqlite3 command (a UTF-8 database) and through Python's
sqlite3 module (a UTF-16 one, NUL included), and what the extension itself
decides: the functions' flags, NULLs, numbers, BLOBs, errors, an expression
index, a generated column, a view under trusted_schema=OFF, and memory running
out."""

import ctypes
import os
import sqlite3
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from database_cases import ROOT, holds, load_cases, variants  # noqa: E402

# Another build tree's (the mutation run's) where PALAVOX_SQLITE_EXTENSION names it.
EXTENSION = os.environ.get("PALAVOX_SQLITE_EXTENSION") or os.path.join(
    ROOT, "build", "native", "bindings", "sqlite", "palavox")
CALL = {"FindString": "find_string", "TrataHTML": "trata_html", "RemoverAcentuacao": "remover_acentuacao"}
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print(f"FAIL {what}", flush=True)


def literal(value):
    return "NULL" if value is None else f"CAST(X'{value.encode().hex()}' AS TEXT)"


def run_command(cases):
    """One statement a line, so that an error's line names its call."""
    lines, want = [f".load {EXTENSION}", ".bail off"], {}
    for number, method, args, expected in cases:
        for call in variants(method, args):
            lines.append(f"SELECT {len(lines) + 1}, hex({CALL[method]}({', '.join(map(literal, call))}));")
            want[len(lines)] = (number, method, call, expected)
    run = subprocess.run(["sqlite3", ":memory:"], input="\n".join(lines).encode(), capture_output=True)
    got = {}
    for line in run.stdout.decode().splitlines():
        at, value = line.split("|")
        got[int(at)] = bytes.fromhex(value).decode()
    for line in run.stderr.decode().splitlines():
        # "Runtime error near line N: Type mismatch (20)"
        where, _, message = line.partition(": ")
        got[int(where.rsplit(" ", 1)[1])] = message
    for at, (number, method, call, expected) in want.items():
        if expected.startswith("error "):
            expected = "Type mismatch (20)"  # SQLITE_MISMATCH
        check(got.get(at) == expected, f"sqlite3: line {number} {method}{tuple(call)!r}: got {got.get(at)!r}")
    print(f"sqlite: sqlite3 command: {len(cases)} shared cases, {len(want)} calls", flush=True)


def connect(path=":memory:", encoding=None):
    # autocommit: a call failing for memory rolls back the transaction it is in
    db = sqlite3.connect(path, isolation_level=None)
    if encoding:
        db.execute(f"PRAGMA encoding = '{encoding}'")
    db.enable_load_extension(True)
    db.load_extension(EXTENSION)
    db.enable_load_extension(False)
    return db


def outcome(db, sql, args=()):
    try:
        return db.execute(sql, args).fetchone()[0]
    except sqlite3.Error as e:
        return f"error {e.sqlite_errorname} {e}"
    except MemoryError:  # SQLITE_NOMEM
        return "error out of memory"


def run_module(cases):
    db = connect(encoding="UTF-16le")
    check(db.execute("PRAGMA encoding").fetchone()[0] == "UTF-16le", "a UTF-16 database")
    calls = 0
    for number, method, args, expected in cases:
        for call in variants(method, args):
            got = outcome(db, f"SELECT {CALL[method]}({', '.join('?' * len(call))})", call)
            want = expected
            if expected.startswith("error "):
                want = "error SQLITE_MISMATCH Type mismatch"
            elif method == "FindString":
                want = int(expected)
            check(got == want, f"sqlite3 module: line {number} {method}{tuple(call)!r}: got {got!r}")
            calls += 1
    print(f"sqlite: Python's sqlite3 module: {len(cases)} shared cases, {calls} calls", flush=True)


EDGES = [
    # what the extension decides: NULLs, numbers as SQLite writes them, BLOBs
    ("remover_acentuacao(NULL)", None),
    ("find_string(NULL, 'a')", None),
    ("find_string('a', NULL)", None),
    ("find_string('', NULL)", None),
    ("find_string('aAa', 'a', NULL)", 3),
    ("trata_html(NULL, '_top')", None),
    ("trata_html('http://a', NULL)", '<a href="http://a" target="_self">http://a</a>'),
    ("find_string(12345, 3)", 1),
    ("find_string(1.5, '.')", 1),
    ("remover_acentuacao(-7)", "-7"),
    ("trata_html('http://a', 0)", '<a href="http://a" target="0">http://a</a>'),
    ("remover_acentuacao(X'c3a7')", "error SQLITE_MISMATCH palavox: a BLOB is not a text; cast it to TEXT"),
    ("find_string('a', X'61')", "error SQLITE_MISMATCH palavox: a BLOB is not a text; cast it to TEXT"),
    ("find_string('a', 'a', X'42')", "error SQLITE_MISMATCH palavox: a BLOB is not a text; cast it to TEXT"),
    ("trata_html('http://a', X'')", "error SQLITE_MISMATCH palavox: a BLOB is not a text; cast it to TEXT"),
    ("remover_acentuacao(CAST(X'c3a7' AS TEXT))", "c"),
    ("find_string('', 'a')", "error SQLITE_MISMATCH Type mismatch"),
    ("find_string('', 'a', 'B')", "error SQLITE_MISMATCH Type mismatch"),
    ("typeof(find_string('abc', ''))", "integer"),
    # SQLite reads a leading U+FEFF of UTF-16 as a byte-order mark: the text's own stays
    ("remover_acentuacao(char(65279) || 'éá')", "\ufeffea"),
    ("trata_html(char(65279), '')", "\ufeff"),
    # a result the C interface cannot allocate (100 000 links, each with a 10 MB target)
    ("trata_html(replace(hex(zeroblob(100000)), '00', 'http:// '), hex(zeroblob(5000000)))",
     "error out of memory"),
]

# SQLite's heap nearly spent: its hard limit (the process's) set `room` bytes
# past what it holds, enough to read the text t, not for what the call makes
# of it. The call fails as SQLite's own "out of memory"; with the limit lifted
# the same call works.
TEN_MILLION = "replace(hex(zeroblob(5000000)), '00', 'ab')"  # characters
HEAP = [
    # encoding, t, call, room
    ("UTF-8", TEN_MILLION, "remover_acentuacao(t)", 15_000_000),  # t in UTF-16: 20 MB more
    ("UTF-8", TEN_MILLION, "find_string(t, 'b')", 15_000_000),
    # t is 20 MB, its copy with a second U+FEFF in front 20 MB more
    ("UTF-16le", "char(65279) || " + TEN_MILLION, "remover_acentuacao(t)", 30_000_000),
    ("UTF-16le", "char(65279) || " + TEN_MILLION, "trata_html(t, 'x')", 30_000_000),
]

NAMES = ["José da Silva", "Jose da Silva", "JOSÉ DA SILVA", "Conceição Simões", "Conceicao Simoes",
         "Maria (SP)", "Mária"]


def run_heap():
    lib = ctypes.CDLL("libsqlite3.so.0")  # the library this process's sqlite3 module uses
    lib.sqlite3_libversion.restype = ctypes.c_char_p
    lib.sqlite3_memory_used.restype = lib.sqlite3_hard_heap_limit64.restype = ctypes.c_int64
    lib.sqlite3_hard_heap_limit64.argtypes = [ctypes.c_int64]
    check(lib.sqlite3_libversion().decode() == sqlite3.sqlite_version, "ctypes finds another SQLite")
    for encoding, text, call, room in HEAP:
        db = connect(encoding=encoding)
        db.execute("CREATE TABLE big(t TEXT)")
        db.execute(f"INSERT INTO big SELECT {text}")
        want = outcome(db, f"SELECT {call} FROM big")
        lib.sqlite3_hard_heap_limit64(lib.sqlite3_memory_used() + room)
        try:
            got = outcome(db, f"SELECT {call} FROM big")
        finally:
            lib.sqlite3_hard_heap_limit64(0)
        after = outcome(db, f"SELECT {call} FROM big")
        check(got == "error out of memory" and after == want and not str(want).startswith("error"),
              f"{encoding}: {call} with {room} bytes of heap left: got {str(got)[:60]!r}, then {str(after)[:20]!r}")
        db.close()
    print(f"sqlite: {len(HEAP)} calls with SQLite's heap nearly spent", flush=True)


def run_schema():
    db = connect()
    for sql, want in EDGES:
        got = outcome(db, f"SELECT {sql}")
        check(got == want, f"{sql}: got {got!r}, expected {want!r}")
    flags = db.execute("SELECT group_concat(name || '/' || narg || '/' || enc || '/' || (flags & 0x200800), ' ')"
                       " FROM (SELECT * FROM pragma_function_list WHERE name IN"
                       " ('remover_acentuacao', 'find_string', 'trata_html') ORDER BY name, narg)").fetchone()[0]
    check(flags == "find_string/2/utf16le/2099200 find_string/3/utf16le/2099200"
          " remover_acentuacao/1/utf16le/2099200 trata_html/1/utf16le/2099200 trata_html/2/utf16le/2099200",
          f"functions' arities, encoding, DETERMINISTIC|INNOCUOUS: {flags}")

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "clientes.db")
        db = connect(path)
        db.execute("CREATE TABLE clientes(id INTEGER PRIMARY KEY, nome TEXT,"
                   " dobrado TEXT GENERATED ALWAYS AS (remover_acentuacao(nome)) STORED)")
        db.executemany("INSERT INTO clientes(nome) VALUES (?)",
                       [(f"{n} {i}",) for i in range(300) for n in NAMES])
        db.execute("CREATE INDEX clientes_dobrado ON clientes(remover_acentuacao(nome))")
        db.execute("CREATE VIEW contagem AS SELECT nome, find_string(nome, 'si') AS n FROM clientes")
        db.execute("ANALYZE")
        db.commit()
        db.close()
        # a fresh connection, as an application opens the file, with the schema not trusted:
        # only innocuous functions may run from the index, the column and the view
        db = connect(path)
        db.execute("PRAGMA trusted_schema = OFF")
        where = "WHERE remover_acentuacao(nome) = remover_acentuacao(?)"
        plan = " ".join(r[3] for r in db.execute(f"EXPLAIN QUERY PLAN SELECT id FROM clientes {where}",
                                                  ("JOSE DA SILVA 7",)))
        check("USING INDEX clientes_dobrado" in plan, f"the expression index is not used: {plan}")
        indexed = [r[0] for r in db.execute(f"SELECT id FROM clientes {where} ORDER BY id", ("Jose da Silva 7",))]
        plan = " ".join(r[3] for r in db.execute(f"EXPLAIN QUERY PLAN SELECT id FROM clientes NOT INDEXED {where}",
                                                  ("x",)))
        check("SCAN clientes" in plan, f"no full scan: {plan}")
        scanned = [r[0] for r in db.execute(f"SELECT id FROM clientes NOT INDEXED {where} ORDER BY id",
                                            ("Jose da Silva 7",))]
        want = [1 + 7 * len(NAMES) + k for k in (0, 1)]  # "José da Silva 7" and "Jose da Silva 7"
        check(indexed == scanned == want, f"rows through the index {indexed}, by a scan {scanned}, expected {want}")
        folded = db.execute("SELECT dobrado FROM clientes WHERE id = 4").fetchone()[0]
        check(folded == "Conceicao Simoes 0", f"generated column: {folded!r}")
        counted = db.execute("SELECT sum(n) FROM contagem").fetchone()[0]
        check(counted == 300 * 5, f"view under trusted_schema=OFF: {counted}")
        db.close()
    # Registering may fail (a function replaced while a statement using it runs):
    # the load then fails too, saying why, and the statement goes on.
    db = connect()
    running = db.execute("SELECT remover_acentuacao(column1) FROM (VALUES ('á'), ('é'))")
    running.fetchone()
    db.enable_load_extension(True)
    try:
        db.load_extension(EXTENSION)
        refused = "loaded"
    except sqlite3.OperationalError as e:
        refused = str(e)
    check("palavox: remover_acentuacao: unable to delete/modify user-function" in refused,
          f"loading again while a statement runs: {refused}")
    check(running.fetchone() == ("e",), "the running statement after the refused load")
    print(f"sqlite: {len(EDGES)} edges, flags, expression index, generated column, view, a refused load",
          flush=True)


def main():
    cases = load_cases()
    command = [c for c in cases if all(holds(f) for f in c[2] + [c[3]])]
    module = [c for c in cases if all(holds(f, nul=True) for f in c[2] + [c[3]])]
    run_command(command)
    run_module(module)
    run_schema()
    run_heap()
    if failures:
        print(f"sqlite: {len(failures)} checks failed", flush=True)
        sys.exit(1)
    print("sqlite: all checks passed", flush=True)


if __name__ == "__main__":
    main()

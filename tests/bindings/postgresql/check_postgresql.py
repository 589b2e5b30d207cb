"""The palavox extension in a running cluster (tests/bindings/postgresql/run.sh
starts it and sets PSQL and the PG* variables): the shared cases in UTF8,
LATIN1 and SQL_ASCII databases, long texts worked a piece at a time against
one call of the C interface, the catalog flags, an expression index, a
generated column, a parallel plan, errors, NULLs and cancelling mid-call."""

import hashlib
import os
import random
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from database_cases import OneCall, holds, load_cases, variants  # noqa: E402

PSQL = os.environ["PSQL"]
SQLSTATE = {13: "22023", 6: "22003", 7: "53200", 5: "22021"}
PIECE = 1 << 20  # the extension's piece: long texts are cut near its multiples
failures = []


STARTED = time.monotonic()


def say(what):
    print(f"postgresql: {what} [{time.monotonic() - STARTED:.1f} s]", flush=True)


def check(ok, what):
    if not ok:
        failures.append(what)
        print(f"FAIL {what}", flush=True)


def psql(sql, db="utf8", verbose=False, check_rc=True, env=None):
    args = [PSQL, "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-d", db]
    if verbose:
        args += ["-v", "VERBOSITY=verbose"]
    run = subprocess.run(args, input=sql.encode(), capture_output=True,
                         env=dict(os.environ, **(env or {})))
    if check_rc and run.returncode != 0:
        raise RuntimeError(f"psql on {db}: {run.stderr.decode(errors='replace')}")
    return run.stdout.decode("utf-8", "surrogateescape"), run.stderr.decode(errors="replace"), run.returncode


def copy_field(value):
    if value is None:
        return "\\N"
    return (value.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")
            .replace("\r", "\\r"))


COPY_ESCAPES = {"\\": "\\", "t": "\t", "n": "\n", "r": "\r", "b": "\b", "f": "\f", "v": "\v"}


def copy_unescape(field):
    out, i = [], 0
    while i < len(field):
        if field[i] == "\\":
            out.append(COPY_ESCAPES[field[i + 1]])
            i += 2
        else:
            out.append(field[i])
            i += 1
    return "".join(out)


# Calls a case with its arguments, NULL or left out, and turns an error into
# "error SQLSTATE message detail".
OUTCOME = r"""
CREATE FUNCTION pg_temp.outcome(method text, nargs int, a text, b text, c text) RETURNS text
LANGUAGE plpgsql AS $$
DECLARE st text; msg text; det text;
BEGIN
  IF method = 'FindString' THEN
    IF nargs = 2 THEN RETURN find_string(a, b)::text; END IF;
    RETURN find_string(a, b, c)::text;
  ELSIF method = 'TrataHTML' THEN
    IF nargs = 1 THEN RETURN trata_html(a); END IF;
    RETURN trata_html(a, b);
  END IF;
  RETURN remover_acentuacao(a);
EXCEPTION WHEN OTHERS THEN
  GET STACKED DIAGNOSTICS st = RETURNED_SQLSTATE, msg = MESSAGE_TEXT, det = PG_EXCEPTION_DETAIL;
  RETURN 'error ' || st || ' ' || msg || ' ' || det;
END $$;
"""


def expected_outcome(expected):
    if expected.startswith("error "):
        n = int(expected.split()[1])
        return f"error {SQLSTATE[n]} Type mismatch Palavox error {n}."
    return expected


def run_cases(db, cases, schema):
    rows, want = [], {}
    for number, method, args, expected in cases:
        for call in variants(method, args):
            rid = len(rows)
            fields = call + [None] * (3 - len(call))
            rows.append("\t".join([str(rid), method, str(len(call))] + [copy_field(f) for f in fields]))
            want[rid] = (number, method, call, expected_outcome(expected))
    sql = (f"SET search_path = {schema};\n"
           "CREATE TEMP TABLE cases(id int, method text, nargs int, a text, b text, c text);\n"
           "COPY cases FROM STDIN;\n" + "\n".join(rows) + "\n\\.\n" + OUTCOME +
           "COPY (SELECT id, pg_temp.outcome(method, nargs, a, b, c) FROM cases ORDER BY id) TO STDOUT;\n")
    out, _, _ = psql(sql, db)
    got = {}
    for line in out.split("\n"):
        if line:
            rid, value = line.split("\t")
            got[int(rid)] = None if value == "\\N" else copy_unescape(value)
    bad = [f"line {n} {m}{tuple(c)!r}: got {got.get(r)!r}, expected {e!r}"
           for r, (n, m, c, e) in want.items() if got.get(r) != e]
    check(not bad, f"{db}: {len(bad)} of {len(want)} calls differ: {bad[:5]}")
    say(f"{db}: {len(cases)} shared cases, {len(want)} calls")


# ------------------------------------------------------------- long texts

def long_texts(rng):
    """(text, search, tipo, target): texts of a few pieces, built so that piece
    cuts fall inside characters, matches, links and runs without a link end."""
    def mixed(alphabet, size):
        out, n = [], 0
        while n < size:
            s = alphabet[rng.randrange(len(alphabet))]
            out.append(s)
            n += len(s.encode())
        return "".join(out)

    pieces = ["http://", "HTTP://x", "hTtP", "casa", "CASA", "ação", "Ç", "é", " ", " ", "\r\n", "\n",
              "|", "\t", "a", "aa", "/", "(", ")", "&", "ß", "\u212a", "k", "\U00010400", "\U00010428",
              "«x»", "§"]
    around = PIECE * 2 - 2  # a construct across the cut near the second piece border
    t = []
    t.append((mixed(pieces, 3 * PIECE + 777), "casa", "", ""))
    t.append((mixed(pieces, 2 * PIECE + 5), "http", "B", "_blank"))
    t.append(("a" * (3 * PIECE + 1), "aa", "", ""))
    t.append(("a" * (2 * PIECE + 3), "aaa", "b", ""))
    t.append(("ab" * (PIECE + 11), "babab", "", ""))
    t.append(("ç" * (PIECE + 3) + "Ç" * PIECE, "çÇ", "", ""))
    t.append(("\u212a" * (PIECE // 2) + "kK" * PIECE, "kkk", "", ""))  # 3 bytes matching 1
    t.append(("\U00010400\U00010428" * (PIECE // 3), "\U00010428\U00010400", "", ""))
    long_search = mixed(["Ação", "x", "Y", "ê"], 3000)
    t.append(("." * (PIECE - 1000) + long_search.upper() + "." * PIECE + long_search, long_search, "", ""))
    # runs without a CR, space or "|": a link across two borders, then none at all
    t.append(("x" * (PIECE + 100) + "http" + "y" * (2 * PIECE) + " fim", "y", "", "quadro"))
    t.append(("x" * (3 * PIECE), "xy", "", ""))
    for shift in range(-5, 2):  # an "http" starting just before, at and after a cut
        t.append(("é" * (around // 2) + "x" * (around % 2 + 2 * PIECE + shift) + "http://a" +
                  "z" * PIECE, "http", "", ""))
    t.append(("q" * (PIECE + 3) + " http://a" * (PIECE // 9), "http://a", "", '"x"'))
    return t


def run_long(db, texts, one):
    rows = ["\t".join([str(i), copy_field(t), copy_field(p), copy_field(tipo), copy_field(target)])
            for i, (t, p, tipo, target) in enumerate(texts)]
    sql = ("SET search_path = pvx, public;\n"
           "CREATE TEMP TABLE long(id int, t text, p text, tipo text, target text);\n"
           "COPY long FROM STDIN;\n" + "\n".join(rows) + "\n\\.\n"
           "COPY (SELECT id, md5(convert_to(remover_acentuacao(t), 'UTF8')), find_string(t, p, tipo),"
           " md5(convert_to(trata_html(t, target), 'UTF8')) FROM long ORDER BY id) TO STDOUT;\n")
    out, _, _ = psql(sql, db)
    got = [line.split("\t")[1:] for line in out.split("\n") if line]
    for i, (t, p, tipo, target) in enumerate(texts):
        b = t.encode()
        want = [hashlib.md5(one.remover_acentuacao(b)).hexdigest(),
                str(one.find_string(b, p.encode(), tipo.encode())),
                hashlib.md5(one.trata_html(b, target.encode())).hexdigest()]
        check(got[i] == want, f"{db}: long text {i} ({len(b)} bytes): got {got[i]}, one call gives {want}")
    say(f"{db}: {len(texts)} long texts as one call gives them")


# ------------------------------------------------------------- the rest

def query(sql, db="utf8"):
    return psql(sql, db)[0].strip()


def check_catalog():
    flags = query("SELECT string_agg(proname || ':' || provolatile::text || proparallel::text || proisstrict::text, ' '"
                  " ORDER BY proname) FROM pg_proc WHERE pronamespace = 'pvx'::regnamespace")
    check(flags == "find_string:isfalse remover_acentuacao:istrue trata_html:isfalse",
          f"pg_proc flags (volatility, parallel, strict): {flags}")
    # relocatable: the functions move with the extension
    moved = query("CREATE SCHEMA other; ALTER EXTENSION palavox SET SCHEMA other;"
                  "SELECT other.remover_acentuacao('Não'); ALTER EXTENSION palavox SET SCHEMA pvx;")
    check(moved == "Nao", f"ALTER EXTENSION SET SCHEMA: {moved}")


INDEX_SETUP = r"""
SET search_path = pvx, public;
CREATE TABLE clientes(id serial PRIMARY KEY, nome text);
INSERT INTO clientes(nome)
SELECT (ARRAY['José', 'Jose', 'JOSÉ', 'Maria', 'Mária', 'Conceição', 'Conceicao', 'João'])[1 + i % 8]
       || ' da ' || (ARRAY['Silva', 'Simões', 'Simoes', 'Araújo'])[1 + (i / 8) % 4] || ' ' || (i % 50)
FROM generate_series(1, 20000) AS i;
CREATE INDEX clientes_dobrado ON clientes (remover_acentuacao(nome));
ANALYZE clientes;
PREPARE busca(text) AS SELECT id FROM clientes WHERE remover_acentuacao(nome) = remover_acentuacao($1) ORDER BY id;
"""


def check_index():
    key = "'JOSÉ da Simões 12'"
    where = f"WHERE remover_acentuacao(nome) = remover_acentuacao({key})"
    out = query(INDEX_SETUP + f"""
EXPLAIN (COSTS OFF) EXECUTE busca({key});
SELECT '--';
SELECT string_agg(id::text, ',' ORDER BY id) FROM clientes {where};
SELECT '--';
SET enable_indexscan = off; SET enable_bitmapscan = off;
EXPLAIN (COSTS OFF) SELECT id FROM clientes {where};
SELECT '--';
SELECT string_agg(id::text, ',' ORDER BY id) FROM clientes {where};""")
    plan, indexed, plan_seq, seq = [part.strip() for part in out.split("--")]
    check("clientes_dobrado" in plan, f"the expression index is not used: {plan}")
    check("Seq Scan" in plan_seq, f"no sequential scan: {plan_seq}")
    # the fold is exact: "JOSÉ" alone folds to "JOSE", "Simões" and "Simoes" to "Simoes"
    want = ",".join(str(i) for i in range(1, 20001) if i % 8 == 2 and (i // 8) % 4 in (1, 2) and i % 50 == 12)
    check(want and indexed == want and seq == want,
          f"rows through the index {indexed[:60]!r}, by a sequential scan {seq[:60]!r}, expected {want[:60]!r}")


def check_generated_column():
    out = query(r"""
SET search_path = pvx, public;
CREATE TEMP TABLE pessoas(nome text, dobrado text GENERATED ALWAYS AS (remover_acentuacao(nome)) STORED);
INSERT INTO pessoas(nome) VALUES ('Ação & Reação'), (NULL), ('');
UPDATE pessoas SET nome = 'São Paulo (SP)' WHERE nome = '';
SELECT string_agg(coalesce(dobrado, 'NULL'), '/' ORDER BY nome) FROM pessoas;""")
    check(out == "Acao e Reacao/Sao Paulo  SP /NULL", f"generated column: {out!r}")


PARALLEL = r"""
SET search_path = pvx, public;
SET parallel_setup_cost = 0; SET parallel_tuple_cost = 0; SET min_parallel_table_scan_size = 0;
SET max_parallel_workers_per_gather = %d;
CREATE TABLE IF NOT EXISTS nomes AS
  SELECT i, (ARRAY['Ação', 'casa CASA', 'http://x/', 'São João', 'Ç|ç'])[1 + i %% 5] || ' ' || i AS n
  FROM generate_series(1, 200000) AS i;
ANALYZE nomes;
EXPLAIN (ANALYZE, COSTS OFF, TIMING OFF, SUMMARY OFF)
  SELECT sum(hashtext(remover_acentuacao(n))), sum(find_string(n, 'ç')), sum(hashtext(trata_html(n, 't'))) FROM nomes;
SELECT sum(hashtext(remover_acentuacao(n))), sum(find_string(n, 'ç')), sum(hashtext(trata_html(n, 't'))) FROM nomes;
"""


def check_parallel(db):
    """Workers convert from the database's encoding as the leader does."""
    parallel = query(PARALLEL % 2, db).split("\n")
    serial = query(PARALLEL % 0, db).split("\n")
    launched = [line for line in parallel if "Workers Launched" in line]
    check(launched and int(launched[0].split(":")[1]) >= 1, f"{db}: no parallel workers: {parallel}")
    check(not any("Workers" in line for line in serial), f"{db}: serial plan has workers: {serial}")
    check(parallel[-1] == serial[-1], f"{db}: parallel {parallel[-1]} vs serial {serial[-1]}")


ERRORS = [
    # db, call, SQLSTATE, message, Palavox number (detail) or None
    ("utf8", "find_string('', 'a')", "22023", "Type mismatch", 13),
    ("utf8", "find_string('', '', 'B')", "22023", "Type mismatch", 13),
    ("latin1", "find_string('', 'á')", "22023", "Type mismatch", 13),
    ("sqlascii", "find_string('', 'a')", "22023", "Type mismatch", 13),
    # a result the C interface cannot allocate: 100 000 links, each with a 10 MB target
    ("utf8", "octet_length(trata_html(repeat('http:// ', 100000), repeat('x', 10000000)))",
     "53200", "Out of memory", 7),
    # SQL_ASCII: bytes that are not UTF-8 are refused, whichever function reads them
    ("sqlascii", "remover_acentuacao(convert_from('\\x4ac3a96fe9'::bytea, 'SQL_ASCII'))",
     "22021", "Invalid procedure call or argument", 5),
    ("sqlascii", "find_string('a', convert_from('\\xff'::bytea, 'SQL_ASCII'))",
     "22021", "Invalid procedure call or argument", 5),
    ("sqlascii", "trata_html('http://a', convert_from('\\xc3'::bytea, 'SQL_ASCII'))",
     "22021", "Invalid procedure call or argument", 5),
]


def check_errors():
    for db, call, sqlstate, message, number in ERRORS:
        _, err, rc = psql(f"SET search_path = pvx, public; SELECT {call};", db, verbose=True, check_rc=False)
        ok = rc != 0 and f"ERROR:  {sqlstate}: {message}" in err
        if number is not None:
            ok = ok and f"DETAIL:  Palavox error {number}." in err
        check(ok, f"{db}: {call[:60]}: expected {sqlstate} {message}, got {err.strip()[:200]!r}")
    say(f"{len(ERRORS)} errors")


NULLS = [
    ("remover_acentuacao(NULL)", None), ("find_string(NULL, 'a')", None),
    ("find_string('a', NULL)", None), ("find_string(NULL, NULL, 'B')", None),
    ("find_string('', NULL)", None), ("trata_html(NULL)", None), ("trata_html(NULL, '_top')", None),
    ("find_string('aAa', 'a', NULL)", "3"), ("find_string('aAa', 'a', 'b')", "2"),
    ("trata_html('http://a', NULL)", '<a href="http://a" target="_self">http://a</a>'),
    ("trata_html(entrada => 'http://a', target => '_top')", '<a href="http://a" target="_top">http://a</a>'),
    ("find_string(procura => 'A', entrada => 'aA', tipo => 'B')", "1"),
]


def check_nulls():
    out = query("SET search_path = pvx, public; \\pset null <NULL>\n" +
                "\n".join(f"SELECT {call};" for call, _ in NULLS))
    got = out.split("\n")
    for (call, want), value in zip(NULLS, got):
        check(value == ("<NULL>" if want is None else want), f"{call}: got {value!r}, expected {want!r}")


RSS = ("SELECT (regexp_match(pg_read_file('/proc/' || pg_backend_pid() || '/status'),"
       " 'VmRSS:\\s+(\\d+)'))[1];\n")


def cancelled(expression, how, db="utf8", units=20000000):
    """Builds t, a text of `units` × 16 bytes, and evaluates `expression` over it
    to the end; then again, stopped halfway through by pg_cancel_backend or by a
    statement_timeout. The second call must still have been running then, must
    be heard ending (its error reaching the client) within a second, and must
    leave the backend's memory as it found it. The expression keeps only the
    size of a result: PostgreSQL copies a whole value it keeps with no look for
    a cancel, and that copy is not the call's."""
    block = ("DO $$ DECLARE t text; BEGIN RAISE NOTICE 'start';"
             f" t := repeat('ação http://x ' || chr(13), {units}); RAISE NOTICE 'built';"
             f" PERFORM {expression}; RAISE NOTICE 'done'; END $$;\n")
    args = [PSQL, "-X", "-q", "-A", "-t", "-d", db, "-v", "VERBOSITY=verbose"]
    proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=dict(os.environ, PGAPPNAME="pvx_cancel"))
    lines = []

    def read():
        for line in proc.stderr:
            lines.append((time.monotonic(), line.decode(errors="replace")))

    def seen(what):
        return [t for t, line in lines if what in line]

    def heard(what, nth):
        """When the nth notice `what` came, waiting for it while psql runs."""
        while len(seen(what)) < nth and proc.poll() is None:
            time.sleep(0.005)
        return seen(what)[nth - 1] if len(seen(what)) >= nth else None

    def send(sql):
        proc.stdin.write(sql.encode())
        proc.stdin.flush()

    reader = threading.Thread(target=read)
    reader.start()
    # psql waits on its input: a failure here must not leave the run hanging
    try:
        send("SET search_path = pvx, public;\n" + RSS + block)
        start, built, done = heard("start", 1), heard("built", 1), heard("done", 1)
        halfway = (done - built) / 2 if done and built else 0.0
        if how == "timeout":
            # counted from the statement's start, which the first notice follows
            timeout = built - start + halfway if done else 1.0
            send(f"SET statement_timeout = '{int(timeout * 1000)}ms';\n")
        send(block)
        if how == "cancel":
            time.sleep(max(0.0, (heard("built", 2) or 0.0) + halfway - time.monotonic()))
            running = len(seen("done")) < 2 and proc.poll() is None
            query("SELECT pg_cancel_backend(pid) FROM pg_stat_activity WHERE application_name = 'pvx_cancel'"
                  " AND state = 'active'")
            asked = time.monotonic()
        else:
            asked = (heard("start", 2) or 0.0) + timeout  # errs against us: the statement started earlier
            time.sleep(max(0.0, asked - 0.05 - time.monotonic()))
            running = len(seen("done")) < 2 and proc.poll() is None
        send("RESET statement_timeout;\n" + RSS)
    except BaseException:
        proc.kill()
        raise
    proc.stdin.close()
    out = proc.stdout.read()
    proc.wait()
    reader.join()
    ended = time.monotonic()
    err = "".join(line for _, line in lines)
    stopped = next((t for t, line in lines if "57014" in line), ended)
    rss = [int(x) for x in out.decode().split() if x.isdigit()]
    name = f"{expression} ({how})"
    check(done is not None and halfway > 0.2, f"{name}: the whole call took {halfway * 2:.2f} s: {err.strip()[:300]}")
    check(running, f"{name}: the call had ended before the cancel")
    check("ERROR:  57014" in err, f"{name}: not cancelled: {err.strip()[:300]}")
    check(stopped - asked < 1.0, f"{name}: ended {stopped - asked:.2f} s after the cancel")
    check(len(rss) == 2 and rss[1] - rss[0] < 50_000, f"{name}: backend RSS {rss} kB")
    say(f"{how} of {expression} {halfway:.2f} s into a call of {2 * halfway:.2f} s: ended"
        f" {stopped - asked:.3f} s later, the backend free {ended - stopped:.2f} s after that;"
        f" backend RSS {rss} kB")


def main():
    cases = load_cases()
    for db, encoding in [("utf8", "UTF8"), ("latin1", "LATIN1"), ("win1252", "WIN1252"),
                         ("sqlascii", "SQL_ASCII")]:
        psql(f"CREATE DATABASE {db} ENCODING '{encoding}' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0",
             "postgres")
        # relocatable: into a schema of its own
        psql("CREATE SCHEMA pvx; CREATE EXTENSION palavox SCHEMA pvx;", db)
    storable = [c for c in cases if all(holds(f) for f in c[2] + [c[3]])]

    def fitting(codec):
        def fits(text):
            try:
                text.encode(codec)
                return True
            except UnicodeEncodeError:
                return False
        return [c for c in storable if all(fits(f) for f in c[2] + [c[3]])]

    say(f"{len(cases)} shared cases, {len(storable)} storable")
    run_cases("utf8", storable, "pvx")
    run_cases("sqlascii", storable, "pvx")
    run_cases("latin1", fitting("latin-1"), "pvx")
    run_cases("win1252", fitting("cp1252"), "pvx")

    one = OneCall()
    texts = long_texts(random.Random(16))
    run_long("utf8", [(t, p, tipo, target) for t, p, tipo, target in texts], one)
    run_long("latin1", [x for x in texts if all(ord(ch) < 256 for f in x for ch in f)], one)
    check_catalog()
    check_index()
    check_generated_column()
    check_parallel("utf8")
    check_parallel("latin1")
    say("catalog, index, generated column, parallel plan")
    check_nulls()
    check_errors()
    cancelled("octet_length(remover_acentuacao(t))", "cancel")
    cancelled("find_string(t, 'ÇÃO ')", "cancel", "latin1")
    # 160 MB, 530 MB of anchors
    cancelled("octet_length(trata_html(t))", "timeout", units=10000000)
    if failures:
        say(f"{len(failures)} checks failed")
        sys.exit(1)
    say("all checks passed")


if __name__ == "__main__":
    main()

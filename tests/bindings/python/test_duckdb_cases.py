"""palavox.duckdb's SQL functions over every shared case that has a UTF-8
form: the cases sharing their other arguments as one column of a table with a
NULL after each row, the other arguments as constants (also left out, and
NULL, where the optional one is empty); every method's cases at once with each
argument a column; each failing case alone, a DuckDB error naming Palavox's
number. Then NULLs in required arguments, and a Parquet file queried by name."""

import os
import sys

import duckdb
import pyarrow
import pyarrow.parquet
import pytest

import palavox.duckdb

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "cases"))
from shared_cases import by_fixed_arguments, utf8_cases  # noqa: E402

CASES, ALL = utf8_cases()
NAMES = {"TrataHTML": "trata_html", "FindString": "find_string", "RemoverAcentuacao": "remover_acentuacao"}


@pytest.fixture(scope="module")
def con():
    con = palavox.duckdb.register(duckdb.connect())
    yield con
    con.close()


def as_text(value):
    return str(value) if isinstance(value, int) else value


def variants(method, fixed):
    """The other arguments as written and, when the optional one is empty, left out and NULL."""
    calls = [list(fixed)]
    if method != "RemoverAcentuacao" and fixed[-1] == "":
        calls += [list(fixed[:-1]), list(fixed[:-1]) + [None]]
    return calls


def test_zero_mismatches_with_constant_arguments(con):
    bad = []
    for (method, *fixed), rows in by_fixed_arguments(CASES).items():
        good = [r for r in rows if not r[2].startswith("error")]
        texts = [x for _, text, _ in good for x in (text, None)]
        con.register("casos", pyarrow.table({"i": range(len(texts)), "t": pyarrow.array(texts, pyarrow.string())}))
        for call in variants(method, fixed):
            marks = "".join(", ?" for _ in call)
            got = [as_text(v) for (v,) in con.execute(
                f"SELECT {NAMES[method]}(t{marks}) FROM casos ORDER BY i", call).fetchall()]
            wanted = [x for _, _, expected in good for x in (expected, None)]
            bad += [f"line {n} {method}{tuple(call)}: got {g!r}, expected {e!r}"
                    for (n, _, e), g in zip(good, got[::2]) if g != e]
            if got[1::2] != [None] * len(good) or len(got) != len(wanted):
                bad.append(f"{method}{tuple(call)}: NULL rows not NULL")
        for number, text, expected in rows:
            if not expected.startswith("error"):
                continue
            marks = "".join(", ?" for _ in fixed)
            with pytest.raises(duckdb.Error) as caught:
                con.execute(f"SELECT {NAMES[method]}(?{marks})", [text, *fixed]).fetchall()
            if f"Palavox error {expected.split()[1]}:" not in str(caught.value):
                bad.append(f"line {number}: {caught.value}")
    assert bad[:10] == [], f"{len(bad)} mismatches"


# Once as the cases are (few rows share their arguments: a call a row), once
# each eight times over (the rows of each distinct argument as one column).
@pytest.mark.parametrize("repeat", [1, 8])
def test_zero_mismatches_with_every_argument_a_column(con, repeat):
    bad = []
    for method, name in NAMES.items():
        rows = [(n, args, e) for n, m, args, e in CASES if m == method and not e.startswith("error")]
        rows *= repeat
        columns = {f"a{k}": pyarrow.array([args[k] for _, args, _ in rows], pyarrow.string())
                   for k in range(len(rows[0][1]))}
        con.register("casos", pyarrow.table({"i": range(len(rows)), **columns}))
        got = [as_text(v) for (v,) in con.execute(
            f"SELECT {name}({', '.join(columns)}) FROM casos ORDER BY i").fetchall()]
        bad += [f"line {n} {method}: got {g!r}, expected {e!r}" for (n, _, e), g in zip(rows, got) if g != e]
    assert bad[:10] == [], f"{len(bad)} mismatches"


@pytest.mark.parametrize("sql, expected", [
    ("remover_acentuacao(NULL)", None),
    ("trata_html(NULL, '_blank')", None),
    ("trata_html('x http://a', NULL)", 'x <a href="http://a" target="_self">http://a</a>'),
    ("find_string(NULL, 'a')", None),
    ("find_string('aA', NULL)", None),
    ("find_string('aA', NULL, 'B')", None),
    ("find_string('aA', 'a', NULL)", 2),
    ("find_string('', NULL)", None),
    ("palavox_find_string('aA', 'a', 'b')", 1),
    # arguments that differ from row to row, rows sharing them
    ("list(find_string(t, p, m) ORDER BY x) FROM (SELECT x, 'aA' || x AS t, ['a', NULL][1 + x % 2] AS p, "
     "['', 'B', NULL][1 + x % 3] AS m FROM range(48) r(x))", [2, None, 2, None, 1, None] * 8),
    ("list(trata_html(t, g) ORDER BY x) FROM (SELECT x, ['http://a', NULL][1 + x % 2] AS t, "
     "['_t', NULL][1 + x // 2 % 2] AS g FROM range(32) r(x))",
     ['<a href="http://a" target="_t">http://a</a>', None,
      '<a href="http://a" target="_self">http://a</a>', None] * 8),
])
def test_null_in_a_required_argument_gives_null(con, sql, expected):
    assert con.sql(f"SELECT {sql}").fetchall() == [(expected,)]


@pytest.mark.parametrize("repeat", [1, 8])
def test_a_failing_row_with_arguments_from_a_column_is_a_duckdb_error(con, repeat):
    con.register("casos", pyarrow.table({"t": ["a", ""] * repeat, "p": ["a", "b"] * repeat}))
    with pytest.raises(duckdb.Error, match="Palavox error 13: Type mismatch"):
        con.execute("SELECT find_string(t, p) FROM casos").fetchall()


def test_a_parquet_file_by_name(con, tmp_path):
    names = ["José", None, "São Paulo (SP)", "Ação & Reação"] * 5000
    pyarrow.parquet.write_table(pyarrow.table({"nome": names}), tmp_path / "clientes.parquet",
                                row_group_size=3000)
    got = con.sql(f"SELECT remover_acentuacao(nome) FROM '{tmp_path}/clientes.parquet'").fetchall()
    assert [v for (v,) in got] == [None if n is None else palavox.remover_acentuacao(n) for n in names]

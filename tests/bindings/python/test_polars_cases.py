"""palavox.polars' expressions over every shared case that has a UTF-8 form:
the cases sharing their other arguments as one DataFrame column with a null
after each row (errors="coerce"), eagerly and lazily; each row alone after a
null, for its error number and row (lazily, polars may hand the rows over in
pieces, and the row is then the piece's). The Series path is test_arrow_cases.py's."""

import os
import re
import sys

import polars
import pytest

import palavox
import palavox.polars as pvx

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "cases"))
from shared_cases import by_fixed_arguments, utf8_cases  # noqa: E402

CASES, ALL = utf8_cases()
EXPRS = {"TrataHTML": pvx.trata_html, "FindString": pvx.find_string,
         "RemoverAcentuacao": pvx.remover_acentuacao}
DTYPES = {"TrataHTML": polars.String, "FindString": polars.Int32, "RemoverAcentuacao": polars.String}


def run(frame, expr, lazy):
    if lazy:
        return frame.lazy().with_columns(expr.alias("r")).collect()
    return frame.with_columns(expr.alias("r"))


@pytest.mark.parametrize("lazy", [False, True], ids=["eager", "lazy"])
def test_zero_mismatches_on_the_shared_cases(lazy):
    bad = []
    for (method, *fixed), rows in by_fixed_arguments(CASES).items():
        texts = [x for _, text, _ in rows for x in (text, None)]
        frame = polars.DataFrame({"t": texts}, schema={"t": polars.String})
        out = run(frame, EXPRS[method]("t", *fixed, errors="coerce"), lazy)
        assert out["r"].dtype == DTYPES[method] and out["t"].to_list() == texts
        whole = out["r"].to_list()
        for k, (number, text, expected) in enumerate(rows):
            alone = polars.DataFrame({"t": [None, text]}, schema={"t": polars.String})
            try:
                one = run(alone, EXPRS[method](polars.col("t"), *fixed), lazy)["r"].to_list()[1]
            except palavox.PalavoxError as e:  # polars' copy: the message alone
                found = re.match(r"row (\d+): .* \(Palavox error (\d+)\)", str(e))
                # lazily, polars may hand the rows over in pieces: the row is the piece's
                one = found and f"error {found[2]} at {1 if lazy and found[1] == '0' else found[1]}"
            got = [str(v) if isinstance(v, int) else v for v in (one, whole[2 * k], whole[2 * k + 1])]
            wanted = ([expected + " at 1", None, None] if expected.startswith("error")
                      else [expected, expected, None])
            if got != wanted:
                bad.append(f"line {number} {method}: got {got!r}, expected {wanted!r}")
    assert bad[:10] == [], f"{len(bad)} mismatches"

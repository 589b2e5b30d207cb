"""A typed user of palavox, checked by mypy --strict against the installed
package (bindings/Makefile). Every name is used; each `type: ignore` marks a
wrong call, and the Makefile checks that without them each is an error.

pandas has no types here (no pandas-stubs): its import is not an error in this
file, and a Series is Any, so `series.palavox` is too; PalavoxAccessor(series)
is the same accessor with its methods typed. Nor have pyarrow, polars and
DuckDB (not even installed where mypy runs): their values are Any, and the
calls of palavox.arrow, .polars and .duckdb are checked on palavox's side."""
# mypy: disable-error-code="import"

from typing import Iterator, List, Optional

import pandas

import palavox
import palavox.duckdb
import palavox.pandas
import palavox.polars
from palavox import PalavoxError, arrow, batch, find_string, remover_acentuacao, trata_html
from palavox.pandas import PalavoxAccessor

version: str = palavox.__version__
plain: str = remover_acentuacao("Ação")
marked: str = trata_html("veja http://a", "_blank") + trata_html(None)
count: int = find_string("Casa casa", "casa") + find_string("a", "a", "B") + find_string(None, None)
try:
    find_string("", "a")
except PalavoxError as error:
    number: int = error.number
    row: Optional[int] = error.row
    as_value_error: ValueError = error


def names() -> Iterator[str]:
    yield "José"


folded: List[str] = batch.remover_acentuacao(["Ação", None]) + batch.remover_acentuacao(names())
anchors: List[str] = batch.trata_html(("veja http://a",), "_blank")
counts: List[int] = batch.find_string(["Casa casa"], "casa", "B", errors="raise")
coerced: List[Optional[int]] = batch.find_string([""], "a", errors="coerce")
maybe: List[Optional[str]] = batch.trata_html([None], errors="coerce")
column = pandas.Series(["Ação", None], index=[3, 1], name="nome")
series_result = batch.remover_acentuacao(column, errors="coerce")
untyped = column.palavox.remover_acentuacao()
accessor = PalavoxAccessor(column)
typed = accessor.find_string("a", "B", errors="coerce") + accessor.trata_html("_top")



class Producer:
    """A column of someone else's, through the capsule interface alone."""

    def __init__(self, capsules: tuple[object, object]) -> None:
        self.capsules = capsules

    def __arrow_c_array__(self, requested_schema: object = None) -> tuple[object, object]:
        return self.capsules


made = Producer((object(), object()))
exported = arrow.ArrowResult.__arrow_c_stream__
from_arrow = arrow.remover_acentuacao(made, errors="coerce")
arrow_counts = arrow.find_string(made, "a", "B") if arrow.is_arrow(made) else None
marked_column = arrow.trata_html(made, "_blank")
expressions = [palavox.polars.remover_acentuacao("nome"), palavox.polars.trata_html("nome", "_top"),
               palavox.polars.find_string("nome", "a", errors="coerce")]
connection = palavox.duckdb.register()

remover_acentuacao(b"bytes")  # type: ignore[arg-type]
arrow.remover_acentuacao(["Ação"])  # type: ignore[arg-type]
arrow.find_string(made)  # type: ignore[call-arg]
arrow.trata_html(made, errors="ignore")  # type: ignore[arg-type]
palavox.polars.find_string("nome")  # type: ignore[call-arg]
palavox.polars.trata_html("nome", errors="ignore")  # type: ignore[arg-type]
palavox.duckdb.register(con=1, extra=2)  # type: ignore[call-arg]
text: str = find_string("a", "a")  # type: ignore[assignment]
find_string("a")  # type: ignore[call-arg]
trata_html("a", target=1)  # type: ignore[arg-type]
batch.remover_acentuacao(b"bytes")  # type: ignore[arg-type]
not_none: List[int] = batch.find_string(["a"], "a", errors="coerce")  # type: ignore[assignment]
batch.trata_html(["a"], errors="ignore")  # type: ignore[call-overload]
accessor.find_string()  # type: ignore[call-arg]
accessor.remover_acentuacao(errors="ignore")  # type: ignore[arg-type]
accessor.trata_html(1)  # type: ignore[arg-type]

"""polars expressions of the batch calls: each takes a column's name or an
expression and gives an expression that works the whole column through the
Arrow path, nulls kept:

    >>> import polars as pl
    >>> import palavox.polars as pvx
    >>> pl.DataFrame({"nome": ["Ação", None]}).select(pvx.remover_acentuacao("nome"))["nome"].to_list()
    ['Acao', None]

A polars Series given to palavox.batch (or palavox.arrow) comes back a polars
Series with its name; these wrap that in `map_batches`, marked elementwise so
that polars may split the column among its threads. polars raises a UDF's
error again as a new one of the same class with its own words added, which
keeps the message alone: it names the row (in the batch polars handed over)
and Palavox's number ("row 1: Type mismatch (Palavox error 13)").
"""

import polars

from palavox import PalavoxError, batch

__all__ = ["find_string", "remover_acentuacao", "trata_html"]


def _expr(column):
    return polars.col(column) if isinstance(column, str) else column


def _named(call):
    def work(series):
        try:
            return call(series)
        except PalavoxError as e:
            error = PalavoxError(f"{e} (Palavox error {e.number})")
            error.number, error.row = e.number, e.row
            raise error from None
    return work


def remover_acentuacao(column, *, errors="raise"):
    """remover_acentuacao of every row: a String expression."""
    return _expr(column).map_batches(_named(lambda s: batch.remover_acentuacao(s, errors=errors)),
                                     return_dtype=polars.String, is_elementwise=True)


def trata_html(column, target=None, *, errors="raise"):
    """trata_html of every row with one target: a String expression."""
    return _expr(column).map_batches(_named(lambda s: batch.trata_html(s, target, errors=errors)),
                                     return_dtype=polars.String, is_elementwise=True)


def find_string(column, procura, tipo=None, *, errors="raise"):
    """find_string of procura in every row: an Int32 expression."""
    return _expr(column).map_batches(_named(lambda s: batch.find_string(s, procura, tipo, errors=errors)),
                                     return_dtype=polars.Int32, is_elementwise=True)

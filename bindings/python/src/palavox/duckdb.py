"""Palavox's three functions in DuckDB, vectorised over Arrow:

    >>> import duckdb
    >>> import palavox.duckdb
    >>> con = palavox.duckdb.register(duckdb.connect())
    >>> con.sql("SELECT remover_acentuacao('Ação')").fetchall()
    [('Acao',)]

register(con) gives the connection remover_acentuacao(texto),
trata_html(entrada[, target]) and find_string(entrada, procura[, tipo]) (an
INTEGER), as the database extensions name them: each argument a constant or
a column; NULL in a required argument gives NULL, a NULL target or tipo is as
if it were left out. A failing row is a DuckDB error naming Palavox's number
("Palavox error 13: Type mismatch"). The functions themselves are
palavox_remover_acentuacao, palavox_trata_html and palavox_find_string, with
every argument; the short forms are temporary macros over them (DuckDB names
one function once), so a database file keeps none of them.
"""

import duckdb
import pyarrow
import pyarrow.compute

from palavox import PalavoxError, arrow
from palavox import find_string as _one_find_string
from palavox import trata_html as _one_trata_html

__all__ = ["register"]

_TYPES = getattr(duckdb, "sqltypes", None) or duckdb.typing  # its name before DuckDB 1.4
VARCHAR, INTEGER = _TYPES.VARCHAR, _TYPES.INTEGER


def _fixed(column, optional):
    """The one value of an argument's column, or ... when its rows differ.
    A NULL optional argument is the empty text, as if left out."""
    if optional:
        column = column.fill_null("")
    values = column.unique()
    if len(values) != 1:
        return ...
    return values[0].as_py()


def _checked(call, *args):
    try:
        return call(*args)
    except PalavoxError as e:
        # The row of DuckDB's vector means nothing in the query: the number does.
        reason = str(e).split(": ", 1)[-1]
        error = PalavoxError(f"Palavox error {e.number}: {reason}")
        error.number = e.number
        raise error from None


def _by_row(single, kind, texts, *columns):
    """Arguments that differ from row to row: one call each."""
    rows = zip(texts.to_pylist(), *(c.to_pylist() for c in columns))
    return pyarrow.array([None if text is None or (single is _one_find_string and args[0] is None)
                          else _checked(single, text, *args) for text, *args in rows], kind)


def _by_value(many, single, kind, texts, *columns):
    """Arguments that differ from row to row, NULL optional ones filled: the
    rows of each distinct set of values as one column for the Arrow call, the
    results put back in order; one call a row where few rows share their
    values (a column call costs some microseconds). A NULL first argument
    (required) makes its row NULL."""
    import numpy  # pyarrow's own dependency

    def whole(column):  # DuckDB hands over chunked arrays
        return column.combine_chunks() if isinstance(column, pyarrow.ChunkedArray) else column

    texts, columns = whole(texts), [whole(c) for c in columns]
    if single is _one_find_string:
        texts = pyarrow.compute.if_else(columns[0].is_null(), pyarrow.scalar(None, texts.type), texts)
        columns[0] = columns[0].fill_null("")
    codes = [c.dictionary_encode() for c in columns]
    key = numpy.zeros(len(texts), numpy.int64)
    for code in codes:
        key = key * len(code.dictionary) + code.indices.to_numpy(zero_copy_only=False)
    order = numpy.argsort(key, kind="stable")
    sorted_key = key[order]
    starts = numpy.flatnonzero(numpy.diff(sorted_key)) + 1
    if 8 * (len(starts) + 1) > len(texts):
        return _by_row(single, kind, texts, *columns)
    parts = []
    for run in numpy.split(order, starts):
        first = run[0]
        values = [code.dictionary[code.indices[first].as_py()].as_py() for code in codes]
        parts.append(_checked(many, texts.take(run), *values).cast(kind))
    back = numpy.empty_like(order)
    back[order] = numpy.arange(len(order))
    return pyarrow.concat_arrays(parts).take(back)


def _remover_acentuacao(texto):
    return _checked(arrow.remover_acentuacao, texto)


def _trata_html(entrada, target):
    fixed = _fixed(target, True)
    if fixed is ...:
        return _by_value(arrow.trata_html, _one_trata_html, pyarrow.string(), entrada,
                         target.fill_null(""))
    return _checked(arrow.trata_html, entrada, fixed)


def _find_string(entrada, procura, tipo):
    wanted, how = _fixed(procura, False), _fixed(tipo, True)
    if wanted is None:  # NULL in every row
        return pyarrow.nulls(len(entrada), pyarrow.int32())
    if wanted is ... or how is ...:
        return _by_value(arrow.find_string, _one_find_string, pyarrow.int32(), entrada, procura,
                         tipo.fill_null(""))
    return _checked(arrow.find_string, entrada, wanted, how)


_FUNCTIONS = [
    ("palavox_remover_acentuacao", _remover_acentuacao, [VARCHAR], VARCHAR,
     "remover_acentuacao(texto) AS palavox_remover_acentuacao(texto)"),
    ("palavox_trata_html", _trata_html, [VARCHAR, VARCHAR], VARCHAR,
     "trata_html(entrada) AS palavox_trata_html(entrada, NULL), "
     "(entrada, target) AS palavox_trata_html(entrada, target)"),
    ("palavox_find_string", _find_string, [VARCHAR, VARCHAR, VARCHAR], INTEGER,
     "find_string(entrada, procura) AS palavox_find_string(entrada, procura, NULL), "
     "(entrada, procura, tipo) AS palavox_find_string(entrada, procura, tipo)"),
]


def register(con=None):
    """Registers the functions on `con` (DuckDB's default connection if None),
    again if they are there already; returns it."""
    if con is None:
        con = duckdb.default_connection() if callable(getattr(duckdb, "default_connection", None)) \
            else duckdb.default_connection
    for name, function, parameters, result, macro in _FUNCTIONS:
        try:
            con.remove_function(name)
        except (duckdb.InvalidInputException, duckdb.CatalogException):
            pass  # not there yet
        con.create_function(name, function, parameters, result, type="arrow",
                            null_handling="special", side_effects=False)
        con.execute(f"CREATE OR REPLACE TEMP MACRO {macro}")
    return con

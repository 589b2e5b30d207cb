"""The argument rules the SQL surfaces share (palavox.duckdb, palavox.spark),
over pyarrow arrays, one per argument, as both engines hand them over: an
argument is a constant or a column (one that differs by row worked a
distinct value at a time); NULL in a required argument gives NULL;
a NULL target or tipo is as if it were left out; a failing row raises
PalavoxError naming Palavox's number and the row's text, cut short ("Palavox
error 13: Type mismatch, on ''")."""

import pyarrow
import pyarrow.compute

from palavox import PalavoxError, arrow
from palavox import find_string as _one_find_string
from palavox import trata_html as _one_trata_html

__all__ = ["find_string", "remover_acentuacao", "trata_html"]

# Enough of a failing text to find it by; an engine's message carries it on.
SHOWN = 60


def _strings(column):
    # An untyped NULL constant (Spark's `lit(None)`, `NULL`) comes as Arrow's null type.
    return column.cast(pyarrow.string()) if pyarrow.types.is_null(column.type) else column


def _fixed(column, optional):
    """The one value of an argument's column, or ... when its rows differ.
    A NULL optional argument is the empty text, as if left out."""
    column = _strings(column)
    if optional:
        column = column.fill_null("")
    values = column.unique()
    if len(values) != 1:
        return ...
    return values[0].as_py()


def _shown(text):
    return repr(text if len(text) <= SHOWN else text[:SHOWN] + "…")


def _checked(call, texts, *args):
    try:
        return call(texts, *args)
    except PalavoxError as e:
        # The row within the engine's batch means nothing in its query: the number and text do.
        text = texts if isinstance(texts, str) else texts[e.row].as_py()
        reason = str(e).split(": ", 1)[-1]
        error = PalavoxError(f"Palavox error {e.number}: {reason}, on {_shown(text)}")
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

    def whole(column):  # engines hand over chunked arrays
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


def remover_acentuacao(texto):
    return _checked(arrow.remover_acentuacao, _strings(texto))


def trata_html(entrada, target=None):
    entrada = _strings(entrada)
    if target is None:
        return _checked(arrow.trata_html, entrada, "")
    fixed = _fixed(target, True)
    if fixed is ...:
        return _by_value(arrow.trata_html, _one_trata_html, pyarrow.string(), entrada,
                         _strings(target).fill_null(""))
    return _checked(arrow.trata_html, entrada, fixed)


def find_string(entrada, procura, tipo=None):
    entrada = _strings(entrada)
    wanted, how = _fixed(procura, False), "" if tipo is None else _fixed(tipo, True)
    if wanted is None:  # NULL in every row
        return pyarrow.nulls(len(entrada), pyarrow.int32())
    if wanted is ... or how is ...:
        how = pyarrow.array([""] * len(entrada)) if tipo is None else _strings(tipo).fill_null("")
        return _by_value(arrow.find_string, _one_find_string, pyarrow.int32(), entrada,
                         _strings(procura), how)
    return _checked(arrow.find_string, entrada, wanted, how)

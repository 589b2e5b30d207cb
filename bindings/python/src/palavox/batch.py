"""Batch calls: each of the three services over a column of texts at once.

    >>> from palavox import batch
    >>> batch.remover_acentuacao(["Ação", None, "José"])
    ['Acao', '', 'Jose']

The same names and arguments as the single calls, the texts given as any
iterable (a list, a tuple, a generator, a NumPy array, a pandas Series) and
the other arguments fixed for all of them. A list comes back, or for a Series
a Series with its index and name. The core works the rows with the GIL
released, so threads working other batches run meanwhile.

An Arrow column (anything with __arrow_c_array__ or __arrow_c_stream__: a
pyarrow array, a polars Series) goes to palavox.arrow and comes back an Arrow
column, a polars Series as a polars Series; so does a pandas Series backed by
Arrow strings, with its dtype (counts as int32[pyarrow]), index and name.

None and pandas' missing values (NaN, pandas.NA, pandas.NaT) are the empty
text, as None is for a single call; in a Series they stay missing values in
the result, as pandas' own string methods keep them. A row the core fails on
raises PalavoxError, whose .row is the row's position and .number the error
number; with errors="coerce" that row's result is None (missing in a Series)
instead. An item that is neither text nor missing is a TypeError naming its
position, whatever errors says. Nothing is returned half done.

pandas is never imported here: a Series can only exist once it has been.
"""

import sys

from palavox import _palavox, arrow

__all__ = ["find_string", "remover_acentuacao", "trata_html"]

_FOLD, _MARKUP, _COUNT = 0, 1, 2


def remover_acentuacao(textos, *, errors="raise"):
    """remover_acentuacao of every text: a list, or a Series like textos."""
    return _column(_FOLD, "textos", textos, None, None, errors)


def trata_html(entradas, target=None, *, errors="raise"):
    """trata_html of every text with one target: a list, or a Series like entradas."""
    return _column(_MARKUP, "entradas", entradas, target, None, errors)


def find_string(entradas, procura, tipo=None, *, errors="raise"):
    """find_string of procura in every text: a list of counts, or for a Series
    a Series of pandas' nullable Int64 (missing where the text is, or the row
    failed under errors="coerce")."""
    return _column(_COUNT, "entradas", entradas, procura, tipo, errors)


def _column(op, name, textos, a, b, errors):
    if errors == "raise":
        coerce = False
    elif errors == "coerce":
        coerce = True
    else:
        raise ValueError(f"errors must be 'raise' or 'coerce', not {errors!r}")
    pandas = sys.modules.get("pandas")
    if pandas is not None and isinstance(textos, pandas.Series):
        return _series(pandas, op, name, textos, a, b, coerce)
    if isinstance(textos, (str, bytes)) or (
            pandas is not None and isinstance(textos, pandas.DataFrame)):
        raise TypeError(f"{name} must be an iterable of texts (a list, a Series, ...), "
                        f"not {type(textos).__name__}")
    # A list or tuple first: the commonest column costs no look-up of Arrow's methods.
    if not isinstance(textos, (list, tuple)) and arrow.is_arrow(textos):
        polars = sys.modules.get("polars")
        result = arrow._column(op, textos, a, b, errors)
        if polars is not None and isinstance(textos, polars.Series):
            return polars.Series(textos.name, result)
        return result
    numpy = sys.modules.get("numpy")
    if (numpy is not None and isinstance(textos, numpy.ndarray) and textos.ndim == 1
            and textos.dtype != object):
        textos = textos.tolist()  # strs, not NumPy's own str subclass
    # A list, a tuple or an array of objects is read in place; anything else is iterated.
    return _palavox._column(op, name, textos, a, b, coerce, False, None, None)


def _arrow_strings(pandas, dtype):
    """Whether a Series of this dtype keeps its texts as Arrow strings."""
    if isinstance(dtype, pandas.StringDtype):
        return dtype.storage != "python"
    arrow_dtype = getattr(pandas, "ArrowDtype", None)  # pandas 1.5 has it too
    if arrow_dtype is None or not isinstance(dtype, arrow_dtype):
        return False
    import pyarrow
    kind = dtype.pyarrow_dtype
    return (pyarrow.types.is_string(kind) or pyarrow.types.is_large_string(kind)
            or getattr(pyarrow.types, "is_string_view", lambda _: False)(kind))


def _arrow_series(pandas, op, series, a, b, coerce):
    result = arrow._column(op, series.array.__arrow_array__(), a, b,
                           "coerce" if coerce else "raise")
    if op == _COUNT or not isinstance(series.dtype, pandas.StringDtype):
        data = pandas.arrays.ArrowExtensionArray(result)  # int32[pyarrow], or the ArrowDtype given
    else:
        data = type(series.array)(result)  # the same storage and missing value
        if data.dtype != series.dtype:
            data = data.astype(series.dtype)
    return pandas.Series(data, index=series.index, name=series.name, copy=False)


def _series(pandas, op, name, series, a, b, coerce):
    import numpy  # pandas' own dependency, imported with it

    if _arrow_strings(pandas, series.dtype):
        return _arrow_series(pandas, op, series, a, b, coerce)
    values = series.to_numpy(dtype=object)  # the Series' own array when it holds objects
    if op == _COUNT:
        counts = numpy.empty(len(values), numpy.int64)
        missing = numpy.empty(len(values), numpy.bool_)
        _palavox._column(op, name, values, a, b, coerce, True, counts, missing)
        data = pandas.arrays.IntegerArray(counts, missing)
    else:
        data = numpy.empty(len(values), dtype=object)
        _palavox._column(op, name, values, a, b, coerce, True, data, None)
        if isinstance(series.dtype, pandas.StringDtype):
            data = pandas.array(data, dtype=series.dtype)  # pandas.NA for the missing
    # dtype: objects stay objects, where pandas 3 would infer its str type.
    return pandas.Series(data, index=series.index, name=series.name, copy=False,
                         dtype=object if isinstance(data, numpy.ndarray) else None)

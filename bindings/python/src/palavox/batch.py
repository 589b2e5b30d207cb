"""Batch calls: each of the three services over a column of texts at once.

    >>> from palavox import batch
    >>> batch.remover_acentuacao(["Ação", None, "José"])
    ['Acao', '', 'Jose']

The same names and arguments as the single calls, the texts given as any
iterable (a list, a tuple, a generator, a NumPy array, a pandas Series) and
the other arguments fixed for all of them. A list comes back, or for a Series
a Series with its index and name. The core works the rows with the GIL
released, so threads working other batches run meanwhile.

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

from palavox import _palavox

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
    numpy = sys.modules.get("numpy")
    if (numpy is not None and isinstance(textos, numpy.ndarray) and textos.ndim == 1
            and textos.dtype != object):
        textos = textos.tolist()  # strs, not NumPy's own str subclass
    # A list, a tuple or an array of objects is read in place; anything else is iterated.
    return _palavox._column(op, name, textos, a, b, coerce, False, None, None)


def _series(pandas, op, name, series, a, b, coerce):
    import numpy  # pandas' own dependency, imported with it

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
    return pandas.Series(data, index=series.index, name=series.name, copy=False)

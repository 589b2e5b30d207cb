"""Batch calls over Arrow columns, with no Python object per row.

    >>> import pyarrow as pa
    >>> from palavox import arrow
    >>> arrow.remover_acentuacao(pa.array(["Ação", None])).to_pylist()
    ['Acao', None]

A column is anything that offers the Arrow PyCapsule interface
(`__arrow_c_array__` or `__arrow_c_stream__`: pyarrow arrays and chunked
arrays, polars Series, ...) of string, large_string or string_view values,
read and written through the Arrow C data interface by the extension itself.
The result is an Arrow array of the same kind of strings (string_view in:
string out; string whose offsets would pass 2 GiB: large_string), int32 for
find_string, nulls where the rows were null: a pyarrow.Array (a ChunkedArray
for a stream) when pyarrow is importable, otherwise an ArrowResult, which
exports it. The GIL is released for the whole column. A failing row raises
PalavoxError naming it (.row counts from the column's first row, across
chunks); errors="coerce" gives null there instead.

palavox.batch sends Arrow columns here itself; importing this module imports
nothing else.
"""

import sys

from palavox import _palavox

__all__ = ["ArrowResult", "find_string", "is_arrow", "remover_acentuacao", "trata_html"]

_FOLD, _MARKUP, _COUNT = 0, 1, 2


class ArrowResult:
    """A result column exported through the Arrow PyCapsule interface, as
    often as asked: each export shares the one copy of its buffers."""

    __slots__ = ("_results", "_chunks", "_format", "_stream")

    def __init__(self, results, chunks, format, stream):
        self._results, self._chunks, self._format, self._stream = results, chunks, format, stream

    def __arrow_c_array__(self, requested_schema=None):
        self._check(requested_schema)
        if self._chunks != 1:
            raise TypeError(f"a result of {self._chunks} chunks is a stream: use __arrow_c_stream__")
        return _palavox._arrow_export(self._results, 0)

    def __arrow_c_stream__(self, requested_schema=None):
        self._check(requested_schema)
        return _palavox._arrow_stream(self._results)

    def _check(self, requested_schema):
        """A consumer may ask for a type: the result's own is given, no other
        (a cast is the consumer's to make)."""
        if requested_schema is None:
            return
        wanted = _palavox._arrow_format(requested_schema)
        if wanted != self._format:
            raise TypeError(f"this result is {_KINDS[self._format]} (Arrow format "
                            f"'{self._format}'), not Arrow format '{wanted}': cast it once imported")

    def __repr__(self):
        return f"<palavox.arrow.ArrowResult {_KINDS[self._format]}, {self._chunks} chunk(s)>"


_KINDS = {"u": "string", "U": "large_string", "i": "int32"}


def is_arrow(column):
    kind = type(column)
    return hasattr(kind, "__arrow_c_array__") or hasattr(kind, "__arrow_c_stream__")


def remover_acentuacao(textos, *, errors="raise"):
    """remover_acentuacao of every row: strings, nulls kept."""
    return _column(_FOLD, textos, None, None, errors)


def trata_html(entradas, target=None, *, errors="raise"):
    """trata_html of every row with one target."""
    return _column(_MARKUP, entradas, target, None, errors)


def find_string(entradas, procura, tipo=None, *, errors="raise"):
    """find_string of procura in every row: int32, null where the row is."""
    return _column(_COUNT, entradas, procura, tipo, errors)


def _coerce(errors):
    if errors not in ("raise", "coerce"):
        raise ValueError(f"errors must be 'raise' or 'coerce', not {errors!r}")
    return errors == "coerce"


def _column(op, column, a, b, errors):
    coerce = _coerce(errors)
    kind = type(column)
    # An array stays an array; a chunked one (only a stream) stays chunked.
    if hasattr(kind, "__arrow_c_array__"):
        schema, array = column.__arrow_c_array__()
        stream = False
        found = _palavox._arrow(op, 0, schema, array, a, b, coerce)
    elif hasattr(kind, "__arrow_c_stream__"):
        stream = True
        found = _palavox._arrow(op, 1, column.__arrow_c_stream__(), None, a, b, coerce)
    else:
        raise TypeError(f"an Arrow column is needed (__arrow_c_array__ or __arrow_c_stream__), "
                        f"not {kind.__name__}")
    result = ArrowResult(*found, stream)
    pyarrow = _pyarrow()
    if pyarrow is None:
        return result
    if stream:
        return pyarrow.ChunkedArray._import_from_c_capsule(result.__arrow_c_stream__())
    return pyarrow.Array._import_from_c_capsule(*result.__arrow_c_array__())


def _pyarrow():
    pyarrow = sys.modules.get("pyarrow")
    if pyarrow is None:
        try:
            import pyarrow
        except ImportError:
            return None
    return pyarrow

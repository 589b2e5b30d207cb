"""Palavox's three functions as Spark column functions, worked over Arrow:

    import palavox.spark as pvx

    df.select(pvx.remover_acentuacao("nome"), pvx.trata_html("comentario", "_blank"))
    pvx.register(spark).sql("SELECT find_string(comentario, 'http') FROM clientes")

remover_acentuacao(texto), trata_html(entrada[, target]) and
find_string(entrada, procura[, tipo]) (an int) give Columns, the arguments as
the other SQL surfaces take them (palavox._rules): the text a column's name or
a Column, every other argument a Column or a literal; NULL in a required
argument gives NULL, a NULL target or tipo is as if it were left out.
register(spark) names them for Spark SQL. A failing row fails the task with
PalavoxError's words: Palavox's number and the row's text, cut short
("Palavox error 13: Type mismatch, on ''").

Each is an Arrow UDF (`arrow_udf`, PySpark 4.1 on): the Python worker gets
each batch as a pyarrow array and Palavox works it without a Python object per
row. `pandas_udf` converts every batch to pandas and back, and `udf(...,
useArrow=True)` still calls per row; both measured slower (docs/performance.md).
The executors need the palavox wheel, and nothing else: the functions travel
as references to this module.

with_columns(df, name=(function, column, *literals), ...) works several at
once over a whole DataFrame in one mapInArrow pass, the batches handed over
once for all of them.
"""

import pyarrow
from pyspark.sql import Column
from pyspark.sql import functions as F
from pyspark.sql.types import IntegerType, StringType, StructField, StructType

from palavox import _rules

__all__ = ["find_string", "register", "remover_acentuacao", "trata_html", "with_columns"]


# Type hints are how arrow_udf tells a scalar function; the names are what Spark shows.
def _fold(texto: pyarrow.Array) -> pyarrow.Array:
    return _rules.remover_acentuacao(texto)


def _markup(entrada: pyarrow.Array, target: pyarrow.Array = None) -> pyarrow.Array:
    return _rules.trata_html(entrada, target)


def _count(entrada: pyarrow.Array, procura: pyarrow.Array, tipo: pyarrow.Array = None) -> pyarrow.Array:
    return _rules.find_string(entrada, procura, tipo)


def _udf(function, name, kind):
    function.__name__ = name
    return F.arrow_udf(function, kind)


# Types, not DDL strings: those need a session to parse, and this module needs none to import.
_UDFS = {"remover_acentuacao": _udf(_fold, "remover_acentuacao", StringType()),
         "trata_html": _udf(_markup, "trata_html", StringType()),
         "find_string": _udf(_count, "find_string", IntegerType())}


def _column(text):
    return F.col(text) if isinstance(text, str) else text


def _value(value):
    return value if isinstance(value, Column) else F.lit(value)


def remover_acentuacao(texto):
    """remover_acentuacao of every row of `texto` (a name or a Column): a string Column."""
    return _UDFS["remover_acentuacao"](_column(texto))


def trata_html(entrada, target=None):
    """trata_html of every row; `target` a literal or a Column: a string Column."""
    args = [_column(entrada)] + ([] if target is None else [_value(target)])
    return _UDFS["trata_html"](*args)


def find_string(entrada, procura, tipo=None):
    """find_string of `procura` in every row; each a literal or a Column: an int Column."""
    args = [_column(entrada), _value(procura)] + ([] if tipo is None else [_value(tipo)])
    return _UDFS["find_string"](*args)


def register(spark):
    """Names the three for Spark SQL in `spark` (a SparkSession), again if they
    are there already; returns it."""
    for name, function in _UDFS.items():
        spark.udf.register(name, function)
    return spark


_RESULTS = {"remover_acentuacao": (_rules.remover_acentuacao, StringType()),
            "trata_html": (_rules.trata_html, StringType()),
            "find_string": (_rules.find_string, IntegerType())}


def with_columns(df, **columns):
    """`df` with each named column set (added, or replaced in its place) to one of
    the three over a column of `df` as it was, the other arguments literals:
    with_columns(df, nome=("remover_acentuacao", "nome"),
                 links=("find_string", "comentario", "http")).
    One mapInArrow pass works them all."""
    fields = {f.name: f for f in df.schema.fields}
    given = set(fields)
    plan = []
    for name, (function, source, *literals) in columns.items():
        call, kind = _RESULTS[function]
        if source not in given:
            raise ValueError(f"{function} of {source!r}: no such column in the DataFrame")
        plan.append((name, call, source, literals))
        fields[name] = StructField(name, kind, True)
    schema = StructType(list(fields.values()))
    names = schema.names

    def work(batches):
        for batch in batches:
            given = {n: batch.column(n) for n in batch.schema.names}
            out = dict(given)
            for name, call, source, literals in plan:
                rows = len(batch)
                out[name] = call(given[source], *(pyarrow.repeat(pyarrow.scalar(v, pyarrow.string()), rows)
                                                 for v in literals))
            yield pyarrow.RecordBatch.from_arrays([out[n] for n in names], names=names)

    return df.mapInArrow(work, schema)

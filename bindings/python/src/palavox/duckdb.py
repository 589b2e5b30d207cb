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
and the row's text ("Palavox error 13: Type mismatch, on ''"); the rules are
palavox._rules, which palavox.spark shares. The functions themselves are
palavox_remover_acentuacao, palavox_trata_html and palavox_find_string, with
every argument; the short forms are temporary macros over them (DuckDB names
one function once), so a database file keeps none of them.
"""

import duckdb

from palavox import _rules

__all__ = ["register"]

_TYPES = getattr(duckdb, "sqltypes", None) or duckdb.typing  # its name before DuckDB 1.4
VARCHAR, INTEGER = _TYPES.VARCHAR, _TYPES.INTEGER

_FUNCTIONS = [
    ("palavox_remover_acentuacao", _rules.remover_acentuacao, [VARCHAR], VARCHAR,
     "remover_acentuacao(texto) AS palavox_remover_acentuacao(texto)"),
    ("palavox_trata_html", _rules.trata_html, [VARCHAR, VARCHAR], VARCHAR,
     "trata_html(entrada) AS palavox_trata_html(entrada, NULL), "
     "(entrada, target) AS palavox_trata_html(entrada, target)"),
    ("palavox_find_string", _rules.find_string, [VARCHAR, VARCHAR, VARCHAR], INTEGER,
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

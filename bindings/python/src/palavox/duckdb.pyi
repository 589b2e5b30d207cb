from typing import Optional

import duckdb

def register(con: Optional[duckdb.DuckDBPyConnection] = ...) -> duckdb.DuckDBPyConnection: ...

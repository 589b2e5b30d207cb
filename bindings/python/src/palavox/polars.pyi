# A column's name or an expression in, an expression out.
from typing import Optional, Union

import polars

from palavox.arrow import Errors

def remover_acentuacao(column: Union[str, polars.Expr], *, errors: Errors = ...) -> polars.Expr: ...
def trata_html(column: Union[str, polars.Expr], target: Optional[str] = ..., *,
               errors: Errors = ...) -> polars.Expr: ...
def find_string(column: Union[str, polars.Expr], procura: Optional[str], tipo: Optional[str] = ..., *,
                errors: Errors = ...) -> polars.Expr: ...

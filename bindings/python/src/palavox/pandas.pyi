# series.palavox is Any to a type checker (pandas adds it as the program
# runs); PalavoxAccessor(series) is the same object, typed.
from typing import Optional

import pandas

from palavox.batch import Errors

class PalavoxAccessor:
    def __init__(self, series: pandas.Series) -> None: ...
    def remover_acentuacao(self, *, errors: Errors = ...) -> pandas.Series: ...
    def trata_html(self, target: Optional[str] = ..., *, errors: Errors = ...) -> pandas.Series: ...
    def find_string(self, procura: Optional[str], tipo: Optional[str] = ..., *,
                    errors: Errors = ...) -> pandas.Series: ...

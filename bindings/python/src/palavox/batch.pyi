# A pandas Series in, a Series out; anything else iterable, a list. pandas
# has no types of its own: without pandas-stubs a Series is Any to a type
# checker, and so is what these give for it; with them, pandas.Series.
from typing import Any, Iterable, List, Literal, Optional, Protocol, overload

import pandas

Errors = Literal["raise", "coerce"]

class _Series(Protocol):
    """What tells a Series from other iterables without pandas' types."""

    @property
    def index(self) -> Any: ...
    @property
    def name(self) -> Any: ...

@overload
def remover_acentuacao(textos: _Series, *, errors: Errors = ...) -> pandas.Series: ...
@overload
def remover_acentuacao(textos: Iterable[Optional[str]], *, errors: Literal["raise"] = ...) -> List[str]: ...
@overload
def remover_acentuacao(textos: Iterable[Optional[str]], *, errors: Literal["coerce"]) -> List[Optional[str]]: ...
@overload
def trata_html(entradas: _Series, target: Optional[str] = ..., *, errors: Errors = ...) -> pandas.Series: ...
@overload
def trata_html(entradas: Iterable[Optional[str]], target: Optional[str] = ..., *,
               errors: Literal["raise"] = ...) -> List[str]: ...
@overload
def trata_html(entradas: Iterable[Optional[str]], target: Optional[str] = ..., *,
               errors: Literal["coerce"]) -> List[Optional[str]]: ...
@overload
def find_string(entradas: _Series, procura: Optional[str], tipo: Optional[str] = ..., *,
                errors: Errors = ...) -> pandas.Series: ...
@overload
def find_string(entradas: Iterable[Optional[str]], procura: Optional[str], tipo: Optional[str] = ..., *,
                errors: Literal["raise"] = ...) -> List[int]: ...
@overload
def find_string(entradas: Iterable[Optional[str]], procura: Optional[str], tipo: Optional[str] = ..., *,
                errors: Literal["coerce"]) -> List[Optional[int]]: ...

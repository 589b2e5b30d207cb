from typing import Final, Optional

__version__: str
# PalavoxError.number by name, as palavox.h names it (PALAVOX_TYPE_MISMATCH, ...).
INVALID_ARGUMENT: Final = 5
OVERFLOW: Final = 6
OUT_OF_MEMORY: Final = 7
TYPE_MISMATCH: Final = 13  # find_string on an empty text
INTERNAL_ERROR: Final = 51  # a fault of ours, never the caller's

class PalavoxError(ValueError):
    """A failed call: 13 (find_string on an empty text), 5, 6, or 7, out of memory;
    for a batch call, the failing row's position (None for a single call)."""

    number: int
    row: Optional[int]

def trata_html(entrada: Optional[str], target: Optional[str] = None) -> str: ...
def find_string(entrada: Optional[str], procura: Optional[str], tipo: Optional[str] = None) -> int: ...
def remover_acentuacao(texto: Optional[str]) -> str: ...

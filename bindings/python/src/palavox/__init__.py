"""Palavox text services: the results of Palavox.dll, code unit for code unit.

    >>> import palavox
    >>> palavox.remover_acentuacao("Ação & Reação")
    'Acao e Reacao'
    >>> palavox.batch.remover_acentuacao(["Ação", "José"])
    ['Acao', 'Jose']

palavox.batch: the same calls over a column at once; palavox.pandas: the
Series accessor (`import palavox.pandas`; pandas is imported only then).
"""

# `X as X`: re-exported for type checkers too, __version__ included.
from palavox._palavox import INTERNAL_ERROR as INTERNAL_ERROR
from palavox._palavox import INVALID_ARGUMENT as INVALID_ARGUMENT
from palavox._palavox import OUT_OF_MEMORY as OUT_OF_MEMORY
from palavox._palavox import OVERFLOW as OVERFLOW
from palavox._palavox import TYPE_MISMATCH as TYPE_MISMATCH
from palavox._palavox import PalavoxError as PalavoxError
from palavox._palavox import __version__ as __version__
from palavox._palavox import find_string as find_string
from palavox._palavox import remover_acentuacao as remover_acentuacao
from palavox._palavox import trata_html as trata_html

from palavox import batch as batch  # after _palavox, which it uses

__all__ = ["INTERNAL_ERROR", "INVALID_ARGUMENT", "OUT_OF_MEMORY", "OVERFLOW", "PalavoxError",
           "TYPE_MISMATCH", "__version__", "batch", "find_string", "remover_acentuacao", "trata_html"]

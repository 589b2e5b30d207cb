"""Palavox text services: the results of Palavox.dll, code unit for code unit.

    >>> import palavox
    >>> palavox.remover_acentuacao("Ação & Reação")
    'Acao e Reacao'
"""

from palavox._palavox import PalavoxError, __version__, find_string, remover_acentuacao, trata_html

__all__ = ["PalavoxError", "find_string", "remover_acentuacao", "trata_html"]

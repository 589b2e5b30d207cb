"""The `palavox` accessor on pandas Series, registered by importing this module:

    >>> import pandas as pd
    >>> import palavox.pandas
    >>> pd.Series(["Ação", None], index=[7, 9]).palavox.remover_acentuacao()
    7    Acao
    9    None
    dtype: object

Each method is the batch call of palavox.batch on the Series: same index and
name, missing values kept, errors="raise" or "coerce".
"""

import pandas

from palavox import batch

__all__ = ["PalavoxAccessor"]


@pandas.api.extensions.register_series_accessor("palavox")
class PalavoxAccessor:
    """series.palavox; PalavoxAccessor(series) is the same, where a type
    checker should see its methods."""

    def __init__(self, series):
        self._series = series

    def remover_acentuacao(self, *, errors="raise"):
        return batch.remover_acentuacao(self._series, errors=errors)

    def trata_html(self, target=None, *, errors="raise"):
        return batch.trata_html(self._series, target, errors=errors)

    def find_string(self, procura, tipo=None, *, errors="raise"):
        return batch.find_string(self._series, procura, tipo, errors=errors)

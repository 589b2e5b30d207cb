"""A typed user of palavox, checked by mypy --strict against the installed
package (bindings/Makefile). Every name is used; each `type: ignore` marks a
wrong call, and the Makefile checks that without them each is an error."""

import palavox
from palavox import PalavoxError, find_string, remover_acentuacao, trata_html

version: str = palavox.__version__
plain: str = remover_acentuacao("Ação")
marked: str = trata_html("veja http://a", "_blank") + trata_html(None)
count: int = find_string("Casa casa", "casa") + find_string("a", "a", "B") + find_string(None, None)
try:
    find_string("", "a")
except PalavoxError as error:
    number: int = error.number
    as_value_error: ValueError = error

remover_acentuacao(b"bytes")  # type: ignore[arg-type]
text: str = find_string("a", "a")  # type: ignore[assignment]
find_string("a")  # type: ignore[call-arg]
trata_html("a", target=1)  # type: ignore[arg-type]

"""make -C bindings test-python-heavy: a string result past 2 GiB for real.
Marking up 40,000,000 rows of a 520 MB `string` column gives 2.3 GB of
anchors, past what `string` offsets hold: the result must be large_string,
its rows the single call's. Needs ~4 GB of memory and some seconds, so it
is not part of make test (whose test lowers the limit instead)."""

import sys

import numpy
import pyarrow

import palavox
from palavox import arrow

ROWS = 40_000_000
ROW = "http://a.b/c "
offsets = (numpy.arange(ROWS + 1, dtype=numpy.int32) * len(ROW)).view(numpy.uint8)
column = pyarrow.Array.from_buffers(pyarrow.string(), ROWS, [
    None, pyarrow.py_buffer(offsets), pyarrow.py_buffer(ROW.encode() * ROWS)])
result = arrow.trata_html(column, "_blank")
one = palavox.trata_html(ROW, "_blank")
checks = {
    "large_string": result.type == pyarrow.large_string(),
    "rows": len(result) == ROWS and result.null_count == 0,
    "past 2 GiB": result.buffers()[2].size == ROWS * len(one.encode()) > 2**31 - 1,
    "first and last rows": result[0].as_py() == one == result[ROWS - 1].as_py(),
}
result.validate()
print(", ".join(f"{k}: {'ok' if v else 'WRONG'}" for k, v in checks.items()))
sys.exit(0 if all(checks.values()) else 1)

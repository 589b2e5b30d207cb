"""make bench-bindings (Python, Arrow columns): the Arrow path beside what
users of pyarrow, pandas, polars and DuckDB write without it, in one run, on
1,000,000 names and 100,000 comments with links as Arrow string columns (the
columns of python_columns_bench.py, the same seed), in build/pyenv/pandas3:

  - the batch call on an Arrow column beside a list comprehension of single
    calls over the same texts as a list of str (given to it: no to_pylist),
    and beside the same work in a plain C loop (by_hand.c; markup only on the
    names, which hold no link);
  - the accessor on a Series of pandas 3's str (Arrow strings) beside
    Series.map of the single call and pandas' NFKD recipe;
  - folding beside each engine's own nearest way to strip accents, on its own
    column: pyarrow.compute (utf8_normalize, then replace_substring_regex of
    combining marks), polars (str.normalize, str.replace_all), DuckDB's
    strip_accents beside our function registered there (both fetched whole as
    an Arrow table);
  - two threads each working half a column (four times the names) beside one
    thread working all of it, and beside them two threads hashing, which
    says what two cores give at the time, two threads copying the column's
    bytes, and the plain C loops in two threads beside one;
  - the peak memory of a call beyond its input and output (tracemalloc, which
    sees the extension's buffers, PyMem's raw domain; the input's are pyarrow's).

Each figure is the least of several rounds alternating between the two sides;
ratios are the peer's time over palavox's.
    python_arrow_bench.py [rounds]
"""

import ctypes
import gc
import os
import sys
import time
import tracemalloc

import duckdb
import numpy
import pandas
import polars
import pyarrow
import pyarrow.compute as pc

import palavox
import palavox.duckdb
import palavox.pandas  # noqa: F401  (the accessor)
import python_columns_bench as columns_bench
from palavox import batch

ROUNDS = 5
WARM_UP = 5  # rounds of each side before the two-thread figures
MARKS = r"\p{Mn}"  # combining marks, after NFKD


def side_by_side(ours, theirs, rows, rounds=None):
    return columns_bench.side_by_side(ours, theirs, rows, rounds or ROUNDS)


def two_threads(call, column, cpu=None, pin=False):
    """call on each half of an Arrow column (slices: no copy), in two threads
    at once."""
    middle = len(column) // 2
    halves = [column.slice(0, middle), column.slice(middle)]
    return columns_bench.in_two_threads(call, halves, cpu, pin)


CALLS = columns_bench.CALLS
SINGLE = columns_bench.SINGLE


def measure():
    """Rows of (measure, peer, palavox ns a row, peer ns a row, goal)."""
    data = columns_bench.columns()
    arrays = {label: pyarrow.array(column, pyarrow.string()) for label, column in data.items()}
    rows = []
    by_hand = ByHand()
    for label, column in data.items():
        array = arrays[label]
        for name, args in CALLS:
            many, single_calls = getattr(batch, name), SINGLE[name]
            assert many(array.slice(0, 5000), *args).to_pylist() == single_calls(column[:5000])
            rows.append((f"Arrow {name}, {label}", "list comprehension", *side_by_side(
                lambda: many(array, *args), lambda: single_calls(column), len(column)), 4.0))
            # The same work in a plain C loop (markup only where no row holds a link).
            if name != "trata_html" or label == "names":
                mine = getattr(by_hand, name)
                assert by_hand.arrow(mine(array, *args)).equals(many(array, *args))
                rows.append((f"Arrow {name}, {label}", "by hand (C)", *side_by_side(
                    lambda: many(array, *args), lambda: mine(array, *args), len(column)), None))
    for label, column in data.items():
        # pandas 3's own str (Arrow strings): the recipe fails on an ArrowDtype's bytes in 3.1
        series = pandas.Series(column, dtype="str", name=label)
        folded = series.palavox.remover_acentuacao()
        assert folded.dtype == series.dtype and folded.tolist() == batch.remover_acentuacao(column)
        rows.append((f"accessor folding, {label}", "Series.map", *side_by_side(
            lambda: series.palavox.remover_acentuacao(),
            lambda: series.map(palavox.remover_acentuacao), len(series)), 5.0))
        rows.append((f"accessor folding, {label}", "NFKD recipe", *side_by_side(
            lambda: series.palavox.remover_acentuacao(),
            lambda: series.str.normalize("NFKD").str.encode("ascii", "ignore").str.decode("ascii"),
            len(series)), 20.0))
    con = palavox.duckdb.register(duckdb.connect())
    for label in data:
        array = arrays[label]
        rows.append((f"folding, {label}", "pyarrow.compute", *side_by_side(
            lambda: batch.remover_acentuacao(array),
            lambda: pc.replace_substring_regex(pc.utf8_normalize(array, "NFKD"), MARKS, ""),
            len(array)), 1.0))
        series = polars.Series(label, array)
        rows.append((f"folding, {label}", "polars", *side_by_side(
            lambda: batch.remover_acentuacao(series),
            lambda: series.str.normalize("NFKD").str.replace_all(MARKS, ""), len(series)), 1.0))
        con.register("t", pyarrow.table({"c": array}))
        rows.append((f"folding, {label}", "DuckDB strip_accents", *side_by_side(
            lambda: con.sql("SELECT remover_acentuacao(c) FROM t").to_arrow_table(),
            lambda: con.sql("SELECT strip_accents(c) FROM t").to_arrow_table(), len(array)), 1.0))
    # DuckDB's workers go on running for a while after a query, on one of the
    # two cores the threads below are timed on (two threads folding 1.1-1.3x
    # one right after its queries, 1.9x a second later): closed first.
    con.close()
    # Four times the names: each thread's half is some 50 ms of work, beside
    # which starting threads and importing results are nothing.
    array = pyarrow.concat_arrays([arrays["names"]] * 4)
    for name, args in CALLS:
        call, mine = getattr(batch, name), getattr(by_hand, name)
        halves = two_threads(lambda part: call(part, *args), array)
        assert sum((r.to_pylist() for r in halves()), []) == call(array, *args).to_pylist()
        # Beside it, the plain C loop in two threads of its own: what a loop
        # over these bytes gets of two cores, streaming the same memory; and
        # the call's two threads each held to a core of its own, which no
        # placement of the OS's can put on one core for a while. All in turn:
        # on a VM what two threads get can change for seconds at a time (the
        # plain loop 1.4x or 1.9x one in blocks of fifteen rounds), so each
        # takes the least over the same stretch of time.
        plain = two_threads(lambda part: mine(part, *args), array)
        runs = [halves, lambda: call(array, *args), plain, lambda: mine(array, *args)]
        pin = len(os.sched_getaffinity(0)) >= 2
        if pin:
            runs.append(two_threads(lambda part: call(part, *args), array, pin=True))
        # All warmed first, untimed: a process's first rounds of two threads
        # on results this size take 2-3 times as long as the rest (folding:
        # 181, 144, 144, 120, then 62 ms, and 50 from then on), and on one
        # machine the least of fifteen rounds still came out of them.
        for _ in range(WARM_UP):
            for run in runs:
                run()
        two, one, plain_two, plain_one, *pinned = columns_bench.in_turn(
            runs, len(array), 3 * ROUNDS)
        rows.append((f"2 threads, Arrow {name}, 4M names", "1 thread", two, one, 1.8))
        rows.append((f"2 threads, {name} by hand (C)", "1 thread", plain_two, plain_one, None))
        if pin:
            rows.append((f"2 threads pinned, Arrow {name}", "1 thread", pinned[0], one, None))
        # And hashing for as long as each thread works here.
        SAME_LENGTH.append((name, one * len(array) / 2e9,
                            columns_bench.thread_control(one * len(array) / 2e9)))
        THREAD_CPU.append((name, *threads_cpu(call, args, array)))
    # And two threads each copying half of the column's bytes (numpy, without
    # the GIL) into memory written once before, beside one copying all of them:
    # what the machine's memory gives two threads streaming at once, as the
    # calls stream their halves in and their results out.
    data = numpy.frombuffer(array.buffers()[2], dtype=numpy.uint8)
    middle = len(data) // 2
    parts = [(data[:middle], numpy.ones(middle, numpy.uint8)),
             (data[middle:], numpy.ones(len(data) - middle, numpy.uint8))]
    whole = numpy.ones(len(data), numpy.uint8)
    copies = columns_bench.in_two_threads(lambda part: numpy.copyto(part[1], part[0]), parts)
    two, one = side_by_side(copies, lambda: numpy.copyto(whole, data), len(array), 3 * ROUNDS)
    rows.append(("2 threads copying halves of its bytes", "1 thread", two, one, None))
    return rows


class ByHand:
    """by_hand.c built here with the system's cc: each call on an Arrow
    string array without nulls, as the batch call of its name is called. The
    fold's table: what palavox folds each of U+0000..U+00FF to, where that is
    one other ASCII character."""

    def __init__(self):
        import subprocess
        import tempfile

        here = os.path.dirname(os.path.abspath(__file__))
        with tempfile.TemporaryDirectory() as folder:  # loaded, the file can go
            library = os.path.join(folder, "by_hand.so")
            subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", library,
                            os.path.join(here, "by_hand.c")], check=True)
            lib = self.lib = ctypes.CDLL(library)
        pointer, out = ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p)
        lib.fold_by_hand.argtypes = [pointer, pointer, ctypes.c_int64, ctypes.c_char_p, out, out]
        lib.mark_by_hand.argtypes = [pointer, pointer, ctypes.c_int64, out, out]
        lib.count_by_hand.argtypes = [pointer, pointer, ctypes.c_int64, ctypes.c_char_p,
                                      ctypes.c_size_t, out]
        lib.free_by_hand.argtypes = [pointer, pointer]
        table = bytearray(256)
        for u in range(256):
            folded = palavox.remover_acentuacao(chr(u))
            if len(folded) == 1 and folded != chr(u) and ord(folded) < 0x80:
                table[u] = ord(folded)
        self.table = bytes(table)

    class Result:
        """A result's buffers (offsets and data, or counts), freed with it."""

        def __init__(self, lib, length, first, second=None):
            self.lib, self.length, self.first, self.second = lib, length, first, second

        def __del__(self):
            self.lib.free_by_hand(self.first, self.second)

    def _run(self, function, array, *args):
        assert array.null_count == 0
        _, offsets, data = array.buffers()
        first, second = ctypes.c_void_p(), ctypes.c_void_p()
        outs = [ctypes.byref(first)] + ([ctypes.byref(second)] if function != "count" else [])
        status = getattr(self.lib, function + "_by_hand")(
            offsets.address + 4 * array.offset, data.address, len(array), *args, *outs)
        if status:
            raise MemoryError if status == -1 else ValueError("a row by_hand.c cannot do")
        return self.Result(self.lib, len(array), first.value, second.value)

    def remover_acentuacao(self, array):
        return self._run("fold", array, self.table)

    def trata_html(self, array, target):
        return self._run("mark", array)

    def find_string(self, array, search):
        needle = search.lower().encode("ascii")
        return self._run("count", array, needle, len(needle))

    def arrow(self, result):
        """A result as a pyarrow array, its buffers still the result's."""
        n = result.length
        if result.second is None:
            counts = pyarrow.foreign_buffer(result.first, 4 * n, base=result)
            return pyarrow.Array.from_buffers(pyarrow.int32(), n, [None, counts])
        offsets = pyarrow.foreign_buffer(result.first, 4 * (n + 1), base=result)
        size = int(numpy.frombuffer(offsets, dtype=numpy.int32)[-1])
        data = pyarrow.foreign_buffer(result.second, size, base=result)
        return pyarrow.Array.from_buffers(pyarrow.string(), n, [None, offsets, data])


# What two idle cores would give, which a loaded machine's clock cannot say:
# the CPU time of one thread working the column beside that of the busier of
# two each working half (the least of several rounds each). Work done
# holding the GIL, or waiting on each other, shows in the wall clock only,
# and so beside the control above.
THREAD_CPU = []
SAME_LENGTH = []


def threads_cpu(call, args, array):
    one, busier, cpu = None, None, [0.0, 0.0]
    halves = two_threads(lambda part: call(part, *args), array, cpu)
    for _ in range(3 * ROUNDS):
        gc.collect()
        start = time.thread_time()
        result = call(array, *args)
        elapsed = time.thread_time() - start
        del result
        one = elapsed if one is None else min(one, elapsed)
        gc.collect()
        halves()
        busier = max(cpu) if busier is None else min(busier, max(cpu))
    return one / len(array) * 1e9, busier / len(array) * 1e9


def memory():
    """(measure, input MB, output MB, beyond MB): what a call held at its peak
    beyond its result (group buffers, offsets while they are 64-bit)."""
    data = columns_bench.columns()
    data["one 100 MB text"] = ["Ação & http://a.b/ç " * 5_000_000]
    out = []
    for label, column in data.items():
        array = pyarrow.array(column, pyarrow.string())
        for name, args in CALLS:
            gc.collect()
            tracemalloc.start()
            result = getattr(batch, name)(array, *args)
            kept, peak = tracemalloc.get_traced_memory()
            tracemalloc.stop()
            out.append((f"Arrow {name}, {label}", array.nbytes / 1e6, result.nbytes / 1e6,
                        (peak - result.nbytes) / 1e6))
            del result
    return out


def main():
    global ROUNDS
    if len(sys.argv) > 1:
        ROUNDS = int(sys.argv[1])
    control = columns_bench.thread_control()
    rows = measure()
    after = columns_bench.thread_control()
    used = memory()
    print(f"Python {sys.version.split()[0]}, palavox {palavox.__version__}, pyarrow "
          f"{pyarrow.__version__}, pandas {pandas.__version__}, polars {polars.__version__}, "
          f"DuckDB {duckdb.__version__}, {ROUNDS} rounds, load "
          f"{' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    print(f"what two cores give now: two threads hashing (SHA-256, without the GIL) {control:.2f}x one before the figures, {after:.2f}x after")
    print(f"{'measure':36} {'peer':>22} | {'palavox':>9} {'peer':>10} {'ratio':>7} | goal")
    missed = 0
    for what, peer, ours, theirs, goal in rows:
        if goal is None:
            print(f"{what:36} {peer:>22} | {ours:6.0f} ns {theirs:7.0f} ns {theirs / ours:6.2f}x |")
            continue
        met = theirs / ours >= goal
        missed += not met
        print(f"{what:36} {peer:>22} | {ours:6.0f} ns {theirs:7.0f} ns {theirs / ours:6.2f}x | "
              f">={goal:.1f}x {'met' if met else 'NOT MET'}")
    print(f"\n{'two threads hashing as long as each half':44} {'each':>8} {'ratio':>7}")
    for name, seconds, ratio in SAME_LENGTH:
        print(f"{'beside 2 threads, Arrow ' + name:44} {seconds * 1e3:5.1f} ms {ratio:6.2f}x")
    print(f"\n{'CPU time, 4M names':36} {'one thread':>12} {'busier of two':>14} {'ratio':>7}")
    for name, one, busier in THREAD_CPU:
        print(f"{'2 threads, Arrow ' + name:36} {one:9.1f} ns {busier:11.1f} ns {one / busier:6.2f}x")
    print(f"\n{'peak memory of an Arrow call (MB)':46} {'input':>8} {'output':>8} {'beyond':>8}")
    for what, given, output, beyond in used:
        print(f"{what:46} {given:8.1f} {output:8.1f} {beyond:8.1f}")
    print(f"python Arrow goals: {missed} not met")
    return 1 if missed else 0


if __name__ == "__main__":
    start = time.perf_counter()
    status = main()
    print(f"({time.perf_counter() - start:.0f} s)")
    sys.exit(status)

"""The Python package over the shared case file, and what the binding itself adds:
argument handling, errors, the UTF-16 round trip, calls from many threads, and
the batch calls over every kind of column (palavox.batch, palavox.pandas).
Results must be canonical strs: CPython's str equality tests the storage kind
first, and isascii() reads the ASCII flag, so the cases check both."""

import ctypes
import os
import subprocess
import sys
import threading
import warnings

import numpy
import pandas
import pytest

import palavox
import palavox.pandas
from palavox import batch
from palavox._palavox import _column

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "cases"))
from shared_cases import ARITY, by_fixed_arguments, load_cases as read_cases  # noqa: E402

# s: only against a hang; the waits below end in about a second here
FAIL_SAFE = 300


def load_cases():
    cases = read_cases()
    for method in ARITY:
        # The binding reads each storage kind of str its own way.
        kinds = {kind(a) for c in cases if c[1] == method for a in c[2]}
        assert kinds >= set(KINDS), f"{method} rows lack {set(KINDS) - kinds}"
    return cases


KINDS = ["ASCII", "Latin-1", "BMP", "astral", "lone surrogate"]


def kind(text):
    if any(0xD800 <= ord(c) <= 0xDFFF for c in text):
        return "lone surrogate"
    top = max(map(ord, text), default=0)
    return KINDS[(top > 0x7F) + (top > 0xFF) + (top > 0xFFFF)]


CASES = load_cases()
CALLS = {
    "TrataHTML": palavox.trata_html,
    "FindString": palavox.find_string,
    "RemoverAcentuacao": palavox.remover_acentuacao,
}


def outcome(method, args):
    try:
        value = CALLS[method](*args)
    except palavox.PalavoxError as e:
        return f"error {e.number}"
    return str(value) if isinstance(value, int) else value


def mismatches():
    """Every case, and where the optional argument is empty, the same call with it
    left out and with None."""
    bad = []
    for number, method, args, expected in CASES:
        variants = [args]
        if method != "RemoverAcentuacao" and args[-1] == "":
            variants += [args[:-1], args[:-1] + [None]]
        for call in variants:
            got = outcome(method, call)
            if got != expected or got.isascii() != expected.isascii():
                bad.append(f"line {number} {method}{tuple(call)!r}: got {got!r}, expected {expected!r}")
    return bad


BATCHES = {
    "TrataHTML": batch.trata_html,
    "FindString": batch.find_string,
    "RemoverAcentuacao": batch.remover_acentuacao,
}

# What a batch call takes, each giving back a list but the Series (a Series,
# read back here as a list, a missing value as None).
FORMS = {
    "list": list,
    "tuple": tuple,
    "generator": lambda texts: (t for t in texts),
    "NumPy object array": lambda texts: numpy.array(texts + [None], dtype=object)[:-1],
    "strided NumPy array": lambda texts: numpy.array([x for t in texts for x in (t, 5)], dtype=object)[::2],
    "Series": lambda texts: pandas.Series(texts, index=range(7, 7 + 3 * len(texts), 3), dtype=object),
}


def as_list(result):
    if isinstance(result, pandas.Series):
        return [None if v is None or v is pandas.NA else int(v) if isinstance(v, numpy.integer) else v
                for v in result]
    return result


def batch_mismatches(form):
    """Every case as a batch of one, and the cases that share their other
    arguments as one batch with errors="coerce", against the file."""
    bad = []
    for (method, *fixed), rows in by_fixed_arguments(CASES).items():
        call = BATCHES[method]
        whole = as_list(call(FORMS[form]([text for _, text, _ in rows]), *fixed, errors="coerce"))
        for k, (number, text, expected) in enumerate(rows):
            try:
                one = as_list(call(FORMS[form]([text]), *fixed))
            except palavox.PalavoxError as e:
                one = [f"error {e.number} at {e.row}"]
            got = [str(v) if isinstance(v, int) else v for v in (one[0], whole[k])]
            wanted = [expected + " at 0", None] if expected.startswith("error") else [expected] * 2
            if got != wanted or any(v.isascii() != expected.isascii() for v in got if v):
                bad.append(f"line {number} {method} as a {form}: got {got!r}, expected {wanted!r}")
    return bad


def test_zero_mismatches_on_the_shared_cases():
    bad = mismatches()
    assert bad[:10] == [], f"{len(bad)} mismatches"


@pytest.mark.parametrize("form", FORMS)
def test_zero_mismatches_on_the_shared_cases_in_batches(form):
    bad = batch_mismatches(form)
    assert bad[:10] == [], f"{len(bad)} mismatches"


def test_the_same_from_many_threads_at_once():
    results = []

    def run():
        results.append(mismatches() + batch_mismatches("list"))

    # daemon: a thread that never ends must not keep the run from ending
    threads = [threading.Thread(target=run, daemon=True) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(FAIL_SAFE)
    assert not any(t.is_alive() for t in threads), "a thread never finished"
    assert results == [[]] * 4


class Unreadable(list):
    """A column whose array interface fails as it is read, never to be read otherwise."""

    @property
    def __array_interface__(self):
        raise ValueError("no interface")

    def __iter__(self):
        raise RuntimeError("read after its interface failed")


class Faced(list):
    """A list whose __array_interface__ is `face`: read as an array of objects
    only when that says it is one (else iterated, as the list it is)."""

    def __init__(self, items, face):
        super().__init__(items)
        self.face = face

    @property
    def __array_interface__(self):
        return self.face


# What an array of one object says of itself, but at NULL, where no array with
# rows lies; each face below falls short of an array of objects in one part.
ONE_OBJECT = {"typestr": "|O", "shape": (1,), "data": (0, False)}
NOT_OBJECTS = [None, {}, {"typestr": 5}, {"typestr": "<i8", "shape": (1,)}, {"typestr": "|O"},
               {"typestr": "|O", "shape": [1]}, {"typestr": "|O", "shape": (1, 1)},
               {"typestr": "|O", "shape": (1,)}, dict(ONE_OBJECT, data=[0, False]),
               dict(ONE_OBJECT, data=(0,)), ONE_OBJECT]


def holding_nulls(n):
    """An array of objects whose slots hold NULL, as C code may leave them
    (NumPy reads them as None)."""
    array = numpy.empty(n, dtype=object)
    ctypes.memset(array.ctypes.data, 0, array.nbytes)
    return array


def read_only(array):
    array.flags.writeable = False
    return array


def flags(rows):
    return numpy.empty(rows, numpy.bool_)


def child(script, timeout=FAIL_SAFE, **env):
    """`script` run by a Python process of its own (a crash ends only it), with `env` added."""
    return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=timeout, env=dict(os.environ, **env))


def midway(texts, error):
    """A generator that fails after giving `texts`."""
    yield from texts
    raise error


# A batch call names the failing row by its position, past the first chunks too.
@pytest.mark.parametrize("call, row", [
    (lambda: palavox.find_string("", "a"), None),
    (lambda: palavox.find_string(None, "a"), None),
    (lambda: palavox.find_string(entrada="", procura="a", tipo="B"), None),
    (lambda: batch.find_string(["a", "b", ""], "a"), 2),
    (lambda: batch.find_string([""], "a"), 0),
    (lambda: batch.find_string(("a", None), "a"), 1),
    (lambda: batch.find_string((t for t in ["x", float("nan")]), "x"), 1),
    (lambda: batch.find_string(["a"] * 20000 + [""] + ["a"] * 10, "a"), 20000),
    (lambda: batch.find_string(pandas.Series(["a", "", "b"], index=[30, 20, 10]), "a"), 1),
    (lambda: pandas.Series(["x", "y", ""], dtype="string").palavox.find_string("x"), 2),
])
def test_empty_text_fails_with_13_and_the_next_call_works(call, row):
    with pytest.raises(palavox.PalavoxError) as caught:
        call()
    assert isinstance(caught.value, ValueError)
    assert caught.value.number == 13
    assert caught.value.row == row
    assert str(caught.value) == ("Type mismatch" if row is None else f"row {row}: Type mismatch")
    assert palavox.find_string("aXa", "x") == 1


@pytest.mark.parametrize("bad", [1, 1.5, b"abc", bytearray(b"a"), ["a"], object()])
@pytest.mark.parametrize("name, call", [
    ("entrada", lambda v: palavox.trata_html(v)),
    ("target", lambda v: palavox.trata_html("a", v)),
    ("entrada", lambda v: palavox.find_string(v, "a")),
    ("procura", lambda v: palavox.find_string("a", v)),
    ("tipo", lambda v: palavox.find_string("a", "a", v)),
    ("texto", lambda v: palavox.remover_acentuacao(v)),
    # a column holding something else than text, under errors="coerce" too
    (r"textos\[1\]", lambda v: batch.remover_acentuacao(["a", v])),
    (r"entradas\[0\]", lambda v: batch.trata_html(x for x in [v])),
    (r"entradas\[2\]", lambda v: batch.find_string(
        pandas.Series(["a", None, v], index=[9, 8, 7], dtype=object), "a", errors="coerce")),
    (r"textos\[1100\]", lambda v: pandas.Series(["a"] * 1100 + [v]).palavox.remover_acentuacao()),
    ("target", lambda v: batch.trata_html(["a"], v)),
    ("procura", lambda v: batch.find_string(["a"], v)),
    ("tipo", lambda v: pandas.Series(["a"]).palavox.find_string("a", v)),
])
def test_anything_but_str_or_none_is_a_type_error_naming_the_argument(name, call, bad):
    with pytest.raises(TypeError, match=f"^{name} must be str or None"):
        call(bad)


def test_a_str_subclass_gives_a_plain_str():
    class Name(str):
        pass

    for call in (palavox.remover_acentuacao, palavox.trata_html):
        assert type(call(Name("Silva"))) is str
    assert palavox.remover_acentuacao(Name("Jo\u00e3o")) == "Joao"
    # Made anew from its units (a plain str left as it is comes back itself): the
    # narrowest kind that holds them, at the edges of each kind.
    for text in ("\x80", "\x00\x80", "\u0100", "\x7f\u0100", "\uffff"):
        got = palavox.trata_html(Name(text))
        assert type(got) is str and got == text and got.encode("utf-8") == text.encode("utf-8")
    for text in ("Silva", "", "\u20ac 5"):
        for call in (palavox.remover_acentuacao, palavox.trata_html):
            assert call(text) is text


def test_a_text_too_large_for_memory_fails_with_7_and_the_next_call_works():
    # Under an address-space limit: the first text is refused by the binding
    # (its UTF-16 copy), the second, passed as it is, by the core (its result).
    script = """if True:
        import resource, palavox
        narrow, wide = "a" * (64 << 20), "\u0101" * (32 << 20)
        with open("/proc/self/status") as f:
            size = next(int(l.split()[1]) << 10 for l in f if l.startswith("VmSize:"))
        resource.setrlimit(resource.RLIMIT_AS, (size + (32 << 20),) * 2)
        for call in (lambda: palavox.remover_acentuacao(narrow),
                     lambda: palavox.find_string(narrow, "a"),
                     lambda: palavox.remover_acentuacao(wide),
                     lambda: palavox.trata_html(wide)):
            try:
                call()
                print("no error")
            except palavox.PalavoxError as e:
                print(e.number, e)
        print(palavox.remover_acentuacao("A\u00e7\u00e3o"))
    """
    run = child(script)
    assert run.stdout.splitlines() == ["7 Out of memory"] * 4 + ["Acao"], run.stderr


# Each allocation a call makes failing in turn (CPython's own hook): the call
# raises MemoryError or PalavoxError 7 (errors="coerce" too), or gives its
# result or error; never a crash, another error or a wrong result. In a child
# process: a crash ends only it; under CPython's debug allocator, which fails
# it when a write strays past a block. (NumPy and pandas fail unsafely under
# the hook: pandas is only imported, for its missing value, before it.) What a
# call gives is named once the hook is gone, so that naming it allocates freely.
@pytest.mark.parametrize("call", [
    'palavox.remover_acentuacao("a\\u00e7\\u00e3o " * 100)',
    'palavox.trata_html("x http://a " * 80, "_t")',
    'palavox.find_string("\\U0001F600 a " * 80, "A")',
    'batch.remover_acentuacao(["a", "a\\u00e7\\u00e3o", None, "\\U0001F600\\u00e9", "x" * 300])',
    'batch.trata_html(("x http://a", "y", "\\u0101 http://b"), "_t")',
    'batch.find_string(iter(["a", "", "aXa"]), "x", errors="coerce")',
    'batch.remover_acentuacao(["a\\u00e7", "b"], errors="coerce")',
    'batch.trata_html(["x http://a", "y"], "_t", errors="coerce")',
    # a result outgrowing the room guessed for it; chunks of every size, full ones too
    'batch.trata_html(["http://a " * 80], "_t")',
    'batch.remover_acentuacao(iter(["a"] * 600))',
    'batch.find_string(["aXa"] * 16400, "x")',
    # pandas' missing value known first under the hook; a Series' kept one ahead of a row
    'batch.remover_acentuacao(["a\\u00e7", pandas.NA, "b"])',
    '_column(2, "entradas", [None, "aXa", "x"], "x", None, False, True, None, None)',
    # the error of a failing call made while memory runs out, its row past the small ints too;
    # an item that is not text, pandas never imported. Called directly: CPython 3.11 itself
    # loses an exception passing through a Python frame as memory runs out (SystemError)
    'palavox.find_string("", "a")',
    '_column(2, "entradas", ["a"] * 300 + [""], "a", None, False, False, None, None)',
    '_column(0, "textos", ["a", 1], None, None, False, False, None, None)',
])
def test_every_allocation_failing_in_turn(call):
    script = f"""if True:
        import _testcapi, palavox
        from palavox import batch
        from palavox._palavox import _column
        {"import pandas" if "pandas" in call else ""}
        def outcome():
            try:
                return {call}
            except MemoryError as e:
                return e
            except palavox.PalavoxError as e:
                return e
            except TypeError as e:
                return e
        def name(g):
            if isinstance(g, MemoryError):
                return "MemoryError"
            if isinstance(g, palavox.PalavoxError):
                return f"PalavoxError {{g.number}}"
            return f"{{type(g).__name__}}: {{g}}" if isinstance(g, Exception) else g
        got = [None] * 400
        for k in range(400):
            _testcapi.set_nomemory(k, k + 1)
            try:
                got[k] = outcome()
            finally:
                _testcapi.remove_mem_hooks()
        got = [name(g) for g in got]
        # what the call gives afterwards: the first calls met the hook's failures
        want = name(outcome())
        # a TypeError whose message memory did not hold (PyErr_Format's way) is that error
        lost = want.split(": ")[0] + ": " if str(want).startswith("TypeError: ") else None
        for k, g in enumerate(got):
            if g != want and g not in ("MemoryError", "PalavoxError 7", lost):
                raise SystemExit(f"allocation {{k}} failing: {{g!r}}")
        print(sum(g != want for g in got), got[-1] == want)
    """
    run = child(script, PYTHONMALLOC="debug")
    assert run.returncode == 0, run.stdout + run.stderr
    failed, last = run.stdout.split()
    assert int(failed) > 0 and last == "True", run.stdout


# The module's init, each allocation in it failing in turn: CPython runs an
# extension's init again when it is loaded from another path (a link to it
# here). Each try in a process forked for it, so that every try meets the same
# allocations: it raises MemoryError or makes the whole module, and the first
# module's calls still raise their own error (a failed init leaves the class
# they raise whole). Under CPython's debug allocator.
def test_the_module_initialised_as_each_allocation_fails():
    script = f"""if True:
        import _testcapi, importlib.util, os, sys, tempfile
        import palavox
        here = palavox._palavox.__file__
        link = os.path.join(tempfile.mkdtemp(), "again." + os.path.basename(here).split(".", 1)[1])
        os.symlink(here, link)
        found = importlib.util.spec_from_file_location("palavox._palavox", link)
        def attempt(k):
            try:
                _testcapi.set_nomemory(k, k + 1)
                try:
                    module = importlib.util.module_from_spec(found)
                finally:
                    _testcapi.remove_mem_hooks()
                made = [module.find_string("aXa", "x"), module.OVERFLOW, module.PalavoxError.__name__]
            except MemoryError:
                made = "MemoryError"
            try:
                palavox.find_string("", "a")
            except Exception as e:
                raised = [type(e).__name__, getattr(e, "number", None), str(e)]
            print(k, made, raised, flush=True)
        for k in range(150):
            pid = os.fork()
            if pid == 0:
                attempt(k)
                sys.exit(0)  # not os._exit: the coverage build writes its counts at exit
            if os.waitpid(pid, 0)[1] != 0:
                print(k, "crashed", flush=True)
    """
    run = child(script, PYTHONMALLOC="debug")
    assert run.returncode == 0, run.stderr
    tries = [line.split(" ", 1)[1] for line in run.stdout.splitlines()]
    whole = "[1, 6, 'PalavoxError'] ['PalavoxError', 13, 'Type mismatch']"
    failed = "MemoryError ['PalavoxError', 13, 'Type mismatch']"
    assert len(tries) == 150 and set(tries) == {whole, failed} and tries[-1] == whole, run.stdout[-3000:]


# A list another thread shortens or lengthens while the GIL is released: the
# rows there were when each was read, nothing past the rows there were at the
# start, no row read twice. The change must fall mid-call (with rows left to
# read, for a cut): bytecode never hands the GIL over here (a switch interval
# of minutes), so the other thread runs only while a chunk is worked or once
# the call is over, which it tells by the references the call holds to the
# list; the call is made again until the change fell mid-call. Last, memory
# runs out as the results are cut to the rows read: the other thread waits for
# the second chunk (whose rows the call then holds), fails the next allocation
# and waits; the call's rows, folding to themselves, take none until the cut,
# which raises MemoryError. Under CPython's debug allocator, so that a row read
# after it was freed is garbage, not its old text.
@pytest.mark.parametrize("change, mid_call, row, folded", [
    (["del column[250_001:]"], "len(got) < 300_000", "\\u00e7{i}", "c{i}"),
    (["column.extend(['x'] * 1000)"], "True", "\\u00e7{i}", "c{i}"),
    (["while sys.getrefcount(column[20_000]) <= second: time.sleep(0)",  # 16,384 rows a chunk
      "del column[250_001:]", "_testcapi.set_nomemory(0, 1)", "held.acquire()"], "got is None", "a{i:06}", "a{i:06}"),
])
def test_a_list_changed_while_it_is_read(change, mid_call, row, folded):
    change = "\n                ".join(change)
    script = f"""if True:
        import sys, threading, time, _testcapi
        from palavox import batch
        sys.setswitchinterval(600)
        for attempt in range(50):
            column = [f"{row}" for i in range(300_000)]
            idle, second = sys.getrefcount(column), sys.getrefcount(column[20_000])
            go, held, fell = threading.Event(), threading.Lock(), []
            def change():
                go.wait()
                fell.append(sys.getrefcount(column) > idle)  # the call holds it
                {change}
            held.acquire()
            thread = threading.Thread(target=change, daemon=True)
            thread.start()
            go.set()
            try:
                got = batch.remover_acentuacao(column)
            except MemoryError:
                got = None
            finally:
                _testcapi.remove_mem_hooks()
                held.release()
            thread.join({FAIL_SAFE})
            assert not thread.is_alive(), "the thread never changed the list"
            if got is not None:
                assert len(column) <= len(got) <= 300_000 if len(column) < 300_000 else len(got) == 300_000, len(got)
                assert got == [f"{folded}" for i in range(len(got))], "a row not as it was read"
            if fell[0] and {mid_call}:
                print("ok")
                break
        else:
            print("the change never fell mid-call")
    """
    run = child(script, PYTHONMALLOC="debug")
    assert run.stdout == "ok\n", run.stdout + run.stderr


@pytest.mark.parametrize("text, expected", [
    # astral characters are two units to the core and come back whole
    ("\U0001F600 Ação \U00010400", "\U0001F600 Acao \U00010400"),
    # lone halves, in either order, and a pair spelled as two characters
    ("\udc00\ud800 é", "\udc00\ud800 e"),
    ("\ud83d\ude00", "\U0001F600"),
    ("\ud83d\ude00 ç", "\U0001F600 c"),
    ("\ufeff\0ç", "\ufeff\0c"),
    # U+FFFF is one unit, beside a character that is two
    ("\U0001F600\uffff á", "\U0001F600\uffff a"),
])
def test_utf16_round_trip(text, expected):
    assert palavox.remover_acentuacao(text) == expected
    # A batch too, and a text markup leaves as it is: what decoding its units gives.
    assert batch.remover_acentuacao(["x", text]) == ["x", expected]
    unchanged = text.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "surrogatepass")
    assert batch.trata_html([text]) == [palavox.trata_html(text)] == [unchanged]


def short_rows():
    """One-byte texts of 0 to 70 characters with a letter folding changes, or
    one it keeps that is not ASCII, at the start, the middle or the end: the
    short texts' conversions step in vectors that overlap at the end."""
    for n in range(71):
        for at in sorted({0, n // 2, n - 1} if n else set()):
            for c, folded in (("\u00e9", "e"), ("\u00a3", "\u00a3")):
                yield "a" * at + c + "a" * (n - 1 - at), "a" * at + folded + "a" * (n - 1 - at), c
            if at > 0:  # a text that changes, keeping one character that is not ASCII
                tail = "\u00a3" + "a" * (n - 1 - at)
                yield "\u00e9" + "a" * (at - 1) + tail, "e" + "a" * (at - 1) + tail, "\u00a3"
        yield "b" * n, "b" * n, "b"


def test_one_byte_texts_of_every_short_length():
    rows = list(short_rows())
    texts = [text for text, _, _ in rows]
    links = ["http://" + text for text in texts]
    bad = []
    folds, marked, plain = (batch.remover_acentuacao(texts), batch.trata_html(links),
                            batch.trata_html(texts))
    counts = [batch.find_string([text], c, errors="coerce")[0] for text, _, c in rows]
    for k, (text, expected, c) in enumerate(rows):
        got = [folds[k], batch.remover_acentuacao([text])[0], palavox.remover_acentuacao(text)]
        if got != [expected] * 3 or any(g.isascii() != expected.isascii() for g in got):
            bad.append(f"{text!r} folds to {got!r}")
        if expected == text and folds[k] is not text:
            bad.append(f"{text!r} is unchanged, yet a new str")
        anchor = f'<a href="{links[k]}" target="_self">{links[k]}</a>'
        if marked[k] != anchor or marked[k].isascii() != anchor.isascii():
            bad.append(f"{links[k]!r} marks up as {marked[k]!r}")
        if plain[k] is not text:
            bad.append(f"{text!r} has no link, yet a new str")
        if counts[k] != (text.count(c) if text else None):
            bad.append(f"{c!r} counted {counts[k]} times in {text!r}")
    assert bad == []


def legacy(chars):
    """A str as C code could still make it before 3.12: PyUnicode_FromUnicode(NULL,
    n) and its wchar_t filled in; not ready until something reads it."""
    make, fill = ctypes.pythonapi.PyUnicode_FromUnicode, ctypes.pythonapi.PyUnicode_AsUnicode
    make.restype, make.argtypes = ctypes.py_object, [ctypes.c_void_p, ctypes.c_ssize_t]
    fill.restype, fill.argtypes = ctypes.POINTER(ctypes.c_uint32), [ctypes.py_object]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        text = make(None, len(chars))
        units = fill(text)
    for i, c in enumerate(chars):
        units[i] = c
    return text


# Made ready as it is read, or the error of making it ready, single or in a batch.
@pytest.mark.skipif(sys.version_info >= (3, 12) or ctypes.sizeof(ctypes.c_wchar) != 4,
                    reason="strs not yet ready exist before 3.12, holding wchar_t of 4 bytes here")
@pytest.mark.parametrize("call", [palavox.remover_acentuacao, lambda t: batch.remover_acentuacao(["a", t])[1]])
@pytest.mark.parametrize("chars, expected", [([0xE7, 0x1F600], "c\U0001F600"), ([0x61, 0x110000], None)])
def test_a_str_not_yet_ready(call, chars, expected):
    if expected is None:
        with pytest.raises(ValueError, match="not in range"):
            call(legacy(chars))
    else:
        assert call(legacy(chars)) == expected


def test_astral_characters_are_two_units_to_the_core():
    assert palavox.find_string("\U00010400", "\udc00", "B") == 1
    assert palavox.trata_html("\U0001F600http://a\U0001F600 b") == (
        '\U0001F600<a href="http://a\U0001F600" target="_self">http://a\U0001F600</a> b')


def test_keywords_and_signatures():
    assert palavox.trata_html(entrada="x http://a", target="_top") == (
        'x <a href="http://a" target="_top">http://a</a>')
    assert palavox.find_string("a-A", tipo="B", procura="a") == 1
    assert palavox.remover_acentuacao(texto="à") == "a"


@pytest.mark.parametrize("call, error, message", [
    (lambda: palavox.find_string("a"), TypeError, r"missing required argument 'procura' \(pos 2\)"),
    (lambda: palavox.find_string(procura="a"), TypeError, r"missing required argument 'entrada' \(pos 1\)"),
    (lambda: palavox.remover_acentuacao("a", "b"), TypeError, "at most 1 argument"),
    (lambda: palavox.remover_acentuacao(text="a"), TypeError, "unexpected keyword argument 'text'"),
    (lambda: palavox.trata_html("a", entrada="b"), TypeError, "multiple values for argument 'entrada'"),
    # a batch call wants a column, errors="raise" or "coerce"; what the column
    # raises, midway too (some chunks already worked), goes through as it is
    (lambda: batch.remover_acentuacao("Ação"), TypeError, "textos must be an iterable of texts"),
    (lambda: batch.trata_html(pandas.DataFrame({"a": ["x"]})), TypeError, "not DataFrame"),
    (lambda: batch.find_string(1, "a"), TypeError, "'int' object is not iterable"),
    (lambda: batch.find_string(["a"], "a", "B", "coerce"), TypeError, "but 4 were given"),
    (lambda: batch.find_string(["a"], "a", errors="ignore"), ValueError, "'raise' or 'coerce'"),
    (lambda: pandas.Series(["a"]).palavox.trata_html(errors=None), ValueError, "not None"),
    (lambda: batch.remover_acentuacao(midway(["á"] * 3000, RuntimeError("at 3000"))),
     RuntimeError, "at 3000"),
    (lambda: batch.find_string(midway(["a", ""], KeyError("first")), "a", errors="coerce"),
     KeyError, "first"),
    (lambda: batch.remover_acentuacao(Unreadable(["a"])), ValueError, "no interface"),
    (lambda: batch.remover_acentuacao(Faced(["a"], dict(ONE_OBJECT, shape=("1",)))), TypeError, "integer"),
    (lambda: batch.remover_acentuacao(Faced(["a"], dict(ONE_OBJECT, data=("0", False)))), TypeError, "int"),
    # what only the accessor passes _column, each part wrong
    (lambda: _column(0, "t", [], None, None, False, False, None), TypeError, "takes 9 arguments"),
    (lambda: _column("0", "t", [], None, None, False, False, None, None), TypeError, "integer"),
    (lambda: _column(0, b"t", [], None, None, False, False, None, None), TypeError, "bad argument"),
    (lambda: _column(-1, "t", [], None, None, False, False, None, None), ValueError, "no such operation"),
    (lambda: _column(0, "t", [], None, None, numpy.array([1, 2]), False, None, None),
     ValueError, "ambiguous"),
    (lambda: _column(0, "t", [], None, None, False, numpy.array([1, 2]), None, None),
     ValueError, "ambiguous"),
    (lambda: _column(0, "t", iter([]), None, None, False, True, numpy.empty(0, object), None),
     TypeError, "known length"),
    (lambda: _column(0, "t", ["a"], None, None, False, True, Unreadable(), None), ValueError, "no interface"),
    (lambda: _column(0, "t", ["a"], None, None, False, True, [None], None), TypeError, "writable array"),
    (lambda: _column(0, "t", [], None, None, False, True, [], None), TypeError, "writable array"),
    (lambda: _column(0, "t", ["a"], None, None, False, True, read_only(numpy.empty(1, object)), None),
     TypeError, "writable array"),
    (lambda: _column(0, "t", ["a"], None, None, False, True, numpy.empty(2, object), None),
     TypeError, "writable array"),
    (lambda: _column(2, "t", ["a"], "a", None, False, True, [0], flags(1)),
     TypeError, "bytes-like"),
    (lambda: _column(2, "t", ["a"], "a", None, False, True, numpy.empty(1, numpy.int64), [False]),
     TypeError, "bytes-like"),
    (lambda: _column(2, "t", ["a"], "a", None, False, True, numpy.empty(2, numpy.int32), flags(1)),
     ValueError, "int64 and bool"),
    (lambda: _column(2, "t", ["a"], "a", None, False, True, numpy.empty(2, numpy.int64), flags(1)),
     ValueError, "int64 and bool"),
    (lambda: _column(2, "t", ["a"], "a", None, False, True, numpy.empty(1, numpy.int64),
                     numpy.empty(1, numpy.int16)), ValueError, "int64 and bool"),
    (lambda: _column(2, "t", ["a"], "a", None, False, True, numpy.empty(1, numpy.int64), flags(2)),
     ValueError, "int64 and bool"),
])
def test_a_wrong_call_raises(call, error, message):
    with pytest.raises(error, match=message):
        call()


def pieces():
    """Folding cases whose text repeated folds to their result repeated: no
    lone halves at the ends that the repetition would pair."""
    for number, method, (text,), expected in (c for c in CASES if c[1] == "RemoverAcentuacao"):
        if text and not (0xDC00 <= ord(text[0]) <= 0xDFFF or 0xD800 <= ord(text[-1]) <= 0xDBFF):
            yield number, text, expected


# Past the stack buffer, and past the length from which the GIL is released;
# each text is found in its repetition as many times as it is repeated.
@pytest.mark.parametrize("units", [300, 5000])
def test_long_texts_of_every_kind_fold_and_count_as_their_pieces(units):
    folded = list(pieces())
    assert {kind(text) for _, text, _ in folded} >= set(KINDS)
    for number, text, expected in folded:
        times = units // len(text) + 1
        assert palavox.remover_acentuacao(text * times) == expected * times, f"line {number}"
        assert palavox.find_string(text * times, text) == times, f"line {number}"


def huge(text, size=100_000_000):
    """A text of `size` characters, `text` repeated (100 MB of one-byte ones)."""
    return text * (size // len(text))


# Past what a chunk holds: sized before it is written.
LONG = [huge(text, 1_500_000) for text in ("veja http://a.b/ç ", "ŋ http://ŋ|", "sem link: ç ")]


def series(values, **kwargs):
    return pandas.Series(values, **kwargs)


def counts(values, like, **kwargs):
    """Counts as the accessor gives them for a Series like `like`: pandas' Int64,
    or int32[pyarrow] where its texts are Arrow strings (pandas 3's str)."""
    arrow = batch._arrow_strings(pandas, like.dtype)
    return pandas.Series(values, dtype="int32[pyarrow]" if arrow else "Int64", **kwargs)


# Where a new str's characters begin: after the header of an ASCII one, or of any other.
HEAD = {True: sys.getsizeof("") - 1, False: sys.getsizeof("".join(["\xe9", "\xe9"])) - 3}


def terminated(text):
    """Whether a str's characters end with a zero one, as CPython's own do
    (C code reading a str relies on it)."""
    if len(text) > 1_000_000:
        return True  # the long ones are as the short ones are made
    top = max(map(ord, text), default=0)
    width = 1 if top < 0x100 else 2 if top < 0x10000 else 4
    at = id(text) + HEAD[text.isascii()] + len(text) * width
    return ctypes.string_at(at, width) == bytes(width)


# What comes back for each kind of column: a list, or a Series with the
# index, name and order it was given; its missing values kept (the empty text
# anywhere else); a failing row None, or missing, under errors="coerce".
@pytest.mark.parametrize("call, expected", [
    (lambda: batch.remover_acentuacao([]), []),
    (lambda: batch.find_string(iter([]), "a"), []),
    (lambda: batch.remover_acentuacao(numpy.array(["Ação", "é"])), ["Acao", "e"]),
    # a column whose array interface is not an array of objects' is read as it iterates
    *[(lambda face=face: batch.remover_acentuacao(Faced(["Ação"], face)), ["Acao"]) for face in NOT_OBJECTS],
    (lambda: batch.remover_acentuacao(holding_nulls(2)), ["", ""]),
    (lambda: batch.remover_acentuacao([None, float("nan"), pandas.NA, pandas.NaT, "ã"]),
     ["", "", "", "", "a"]),
    (lambda: batch.find_string(["aa", "", None, "a"], "a", errors="coerce"), [2, None, None, 1]),
    (lambda: batch.trata_html(["x http://a", None], "_top", errors="coerce"),
     ['x <a href="http://a" target="_top">http://a</a>', ""]),
    # halves at rows' ends, which the rows beside them must not pair
    (lambda: batch.remover_acentuacao(["a\ud800", "\udc00b", "\U0001F600\ud800", "\udc00", "\u00e7x", "y"]),
     ["a\ud800", "\udc00b", "\U0001F600\ud800", "\udc00", "cx", "y"]),
    (lambda: series([], name="nome", dtype=object).palavox.remover_acentuacao(),
     series([], name="nome", dtype=object)),
    (lambda: series([], dtype="string").palavox.find_string("a"), counts([], series([], dtype="string"))),
    (lambda: series(["Ação", None, numpy.nan, "São"], index=["b", "a", "d", "c"], name="nome")
     .palavox.remover_acentuacao(),
     series(["Acao", None, numpy.nan, "Sao"], index=["b", "a", "d", "c"], name="nome")),
    (lambda: series(["x http://a", None], index=[6, 5]).palavox.trata_html("_top"),
     series(['x <a href="http://a" target="_top">http://a</a>', None], index=[6, 5])),
    (lambda: series([None, "x http://a"]).palavox.trata_html(),
     series([None, 'x <a href="http://a" target="_self">http://a</a>'])),
    (lambda: series(["aa", None, "", "a"], index=[3, 1, 2, 0], name="n")
     .palavox.find_string("A", errors="coerce"),
     counts([2, None, None, 1], series(["a"]), index=[3, 1, 2, 0], name="n")),
    (lambda: series(["Ação", pandas.NA, ""], dtype="string", index=[2, 1, 0])
     .palavox.remover_acentuacao(),
     series(["Acao", pandas.NA, ""], dtype="string", index=[2, 1, 0])),
    (lambda: batch.trata_html(["a"] + LONG, "_top"), [palavox.trata_html(t, "_top") for t in ["a"] + LONG]),
    (lambda: batch.remover_acentuacao([huge("Ação & http://a.b/ç ")]), [huge("Acao e http   a.b c ")]),
    (lambda: series([huge("Ação & http://a.b/ç ")], index=["só"]).palavox.find_string("HTTP"),
     counts([100_000_000 // 20], series(["a"]), index=["só"])),
])
def test_a_column_comes_back_in_its_own_shape(call, expected):
    got = call()
    if isinstance(expected, pandas.Series):
        pandas.testing.assert_series_equal(got, expected)
    elif type(got) is not list or got != expected:
        pytest.fail(f"got {str(got)[:200]}, expected {str(expected)[:200]}")  # texts up to 100 MB
    else:
        assert all(terminated(v) for v in got if isinstance(v, str))


# pandas' missing values are known by pandas' own types, looked up once pandas is
# in sys.modules: a pandas half imported (no NA yet) is not taken for it, an
# error looking it up is raised as it is, and once pandas is whole its values are
# known. In a child process: this one imported pandas long ago.
def test_pandas_looked_up_before_it_is_whole():
    script = """if True:
        import sys, types
        from palavox._palavox import _column
        class Colliding:  # a key of sys.modules hashed as "pandas" is, which cannot be compared
            def __hash__(self):
                return hash("pandas")
            def __eq__(self, other):
                raise LookupError("not comparable")
        def fold(column):
            try:
                return _column(0, "textos", column, None, None, False, False, None, None)
            except Exception as e:
                return f"{type(e).__name__}: {e}"
        print(fold(["a", 1]))
        key = Colliding()
        sys.modules[key] = None
        print(fold(["a", 1]))
        del sys.modules[key]
        sys.modules["pandas"] = types.ModuleType("pandas")
        print(fold(["a", 1]))
        del sys.modules["pandas"]
        import pandas
        print(fold([pandas.NA, "\u00e3"]))
    """
    run = child(script)
    not_text = "TypeError: textos[1] must be str or None, not int"
    assert run.stdout.splitlines() == [not_text, "LookupError: not comparable", not_text, "['', 'a']"], run.stderr


def test_import_palavox_imports_neither_pandas_nor_numpy():
    script = """if True:
        import sys, palavox
        palavox.batch.remover_acentuacao(["a", None])
        palavox.batch.find_string(iter(["a"]), "a")
        print(sorted(m for m in ("pandas", "numpy") if m in sys.modules))
    """
    run = child(script, timeout=120)
    assert run.stdout.splitlines() == ["[]"], run.stderr

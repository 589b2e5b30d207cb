"""The Python package over the shared case file, and what the binding itself adds:
argument handling, errors, the UTF-16 round trip, calls from many threads.
Results must be canonical strs: CPython's str equality tests the storage kind
first, and isascii() reads the ASCII flag, so the cases check both."""

import os
import subprocess
import sys
import threading

import pytest

import palavox

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "cases"))
from shared_cases import ARITY, load_cases as read_cases  # noqa: E402

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


def test_zero_mismatches_on_the_shared_cases():
    bad = mismatches()
    assert bad[:10] == [], f"{len(bad)} mismatches"


def test_the_same_from_many_threads_at_once():
    results = []

    def run():
        results.append(mismatches())

    # daemon: a thread that never ends must not keep the run from ending
    threads = [threading.Thread(target=run, daemon=True) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(FAIL_SAFE)
    assert not any(t.is_alive() for t in threads), "a thread never finished"
    assert results == [[]] * 4


@pytest.mark.parametrize("call", [
    lambda: palavox.find_string("", "a"),
    lambda: palavox.find_string(None, "a"),
    lambda: palavox.find_string(entrada="", procura="a", tipo="B"),
])
def test_empty_text_fails_with_13_and_the_next_call_works(call):
    with pytest.raises(palavox.PalavoxError) as caught:
        call()
    assert isinstance(caught.value, ValueError)
    assert caught.value.number == 13
    assert str(caught.value) == "Type mismatch"
    assert palavox.find_string("aXa", "x") == 1


@pytest.mark.parametrize("bad", [1, 1.5, b"abc", bytearray(b"a"), ["a"], object()])
@pytest.mark.parametrize("name, call", [
    ("entrada", lambda v: palavox.trata_html(v)),
    ("target", lambda v: palavox.trata_html("a", v)),
    ("entrada", lambda v: palavox.find_string(v, "a")),
    ("procura", lambda v: palavox.find_string("a", v)),
    ("tipo", lambda v: palavox.find_string("a", "a", v)),
    ("texto", lambda v: palavox.remover_acentuacao(v)),
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
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=FAIL_SAFE)
    assert run.stdout.splitlines() == ["7 Out of memory"] * 4 + ["Acao"], run.stderr


@pytest.mark.parametrize("text, expected", [
    # astral characters are two units to the core and come back whole
    ("\U0001F600 Ação \U00010400", "\U0001F600 Acao \U00010400"),
    # lone halves, in either order, and a pair spelled as two characters
    ("\udc00\ud800 é", "\udc00\ud800 e"),
    ("\ud83d\ude00", "\U0001F600"),
    ("\ufeff\0ç", "\ufeff\0c"),
])
def test_utf16_round_trip(text, expected):
    assert palavox.remover_acentuacao(text) == expected


def test_astral_characters_are_two_units_to_the_core():
    assert palavox.find_string("\U00010400", "\udc00", "B") == 1
    assert palavox.trata_html("\U0001F600http://a\U0001F600 b") == (
        '\U0001F600<a href="http://a\U0001F600" target="_self">http://a\U0001F600</a> b')


def test_keywords_and_signatures():
    assert palavox.trata_html(entrada="x http://a", target="_top") == (
        'x <a href="http://a" target="_top">http://a</a>')
    assert palavox.find_string("a-A", tipo="B", procura="a") == 1
    assert palavox.remover_acentuacao(texto="à") == "a"


@pytest.mark.parametrize("call, message", [
    (lambda: palavox.find_string("a"), "missing required argument 'procura'"),
    (lambda: palavox.find_string(procura="a"), "missing required argument 'entrada'"),
    (lambda: palavox.remover_acentuacao("a", "b"), "at most 1 argument"),
    (lambda: palavox.remover_acentuacao(text="a"), "unexpected keyword argument 'text'"),
    (lambda: palavox.trata_html("a", entrada="b"), "multiple values for argument 'entrada'"),
])
def test_a_wrong_call_is_a_type_error(call, message):
    with pytest.raises(TypeError, match=message):
        call()


def pieces():
    """Folding cases whose text repeated folds to their result repeated: no
    lone halves at the ends that the repetition would pair."""
    for number, method, (text,), expected in (c for c in CASES if c[1] == "RemoverAcentuacao"):
        if text and not (0xDC00 <= ord(text[0]) <= 0xDFFF or 0xD800 <= ord(text[-1]) <= 0xDBFF):
            yield number, text, expected


# Past the stack buffer, and past the length from which the GIL is released.
@pytest.mark.parametrize("units", [300, 5000])
def test_long_texts_of_every_kind_fold_as_their_pieces(units):
    folded = list(pieces())
    assert {kind(text) for _, text, _ in folded} >= set(KINDS)
    for number, text, expected in folded:
        times = units // len(text) + 1
        assert palavox.remover_acentuacao(text * times) == expected * times, f"line {number}"

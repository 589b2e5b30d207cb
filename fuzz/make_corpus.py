#!/usr/bin/env python3
"""Writes the starting corpus in fuzz/corpus/<target>/ from the edge cases the
unit tests pin down. Rerun after changing an input; the files are kept in the repo.

Encoding (see fuzz_input.hpp): a layout byte, then fields separated by 0xFF;
ASCII is written as is, every other UTF-16 unit as 0xFE hi lo.
"""
import pathlib
import shutil

HERE = pathlib.Path(__file__).resolve().parent


def units(text):
    """UTF-16 code units of a str; lone surrogates are written as such."""
    data = text.encode("utf-16-le", "surrogatepass")
    return [data[i] | data[i + 1] << 8 for i in range(0, len(data), 2)]


def encode(fields, shift=0, start=1):
    out = bytearray([(start - 1) << 3 | shift])
    for n, field in enumerate(fields):
        if n:
            out.append(0xFF)
        for unit in units(field):
            out += bytes([unit]) if unit < 0x80 else bytes([0xFE, unit >> 8, unit & 0xFF])
    return bytes(out)


DESERET = "\U00010400\U00010428"  # capital and small long i: D801 DC00, D801 DC28

INPUTS = {
    "conta_ocorrencias": {  # texto, procura, tipo
        "casa-folded": ["Casa casa CASA", "casa", ""],
        "casa-exact": ["Casa casa CASA", "casa", "B"],
        "casa-selector-bb": ["Casa casa CASA", "casa", "BB"],
        "empty-search": ["abc", "", ""],
        "empty-text": ["", "a", ""],
        "no-overlap-odd": ["aaa", "aa", "b"],
        "no-overlap-even": ["aaaa", "aa", "b"],
        "search-longer": ["abc", "abcd", ""],
        "sigma-forms": ["\u03a3\u0391\u03a3 \u03c3\u03b1\u03c2", "\u03c3\u03b1\u03c2", ""],
        "kelvin-long-s": ["\u212a k K \u017f s S", "k", ""],
        "deseret-pair": [DESERET, "\U00010428", ""],
        "low-surrogate-in-pair": ["\U00010400", "\udc00", "B"],
        "lone-surrogates": ["a\ud801b\ud801\udc00", "\ud801", ""],
        "nul-units": ["a\0b\0c", "b\0C", ""],
        "fullwidth": ["\uff28\uff54tp \uff28\uff34", "\uff48\uff54", ""],
    },
    "converte_links": {  # texto, alvo
        "no-link": ["sem links aqui", "_blank"],
        "two-links": ["a http://x/1 b HTTP://y c", ""],
        "at-end": ["veja http://a", "_blank"],
        "tab-and-line-feed": ["http://a\tb c http://d\nb e", ""],
        "crlf": ["http://a\r\nb", ""],
        "mid-word": ["xhttp://a (http://a/b).", ""],
        "https-httpd-http": ["https://a/b httpd http", ""],
        "same-link-twice": ["http://a http://a", ""],
        "bars": ["||http://a|b||", ""],
        "token-lookalikes": ["|[_link1_]| http://a |[_link12_]|", "|[_link1_]|"],
        "http-inside-link": ["http://a/?u=http://b httphttp http://c", ""],
        "private-use": ["\ue000 http://a \ue001\ue002", ""],
        "surrogates": ["\U00010400http://\ud801 http://\U00010428 x", "x\"y"],
        "fullwidth-not-a-link": ["\uff48ttp://a", ""],
        "markup-in-text": ["<b>http://a</b> & co", "a \" b"],
    },
    "troca_acentos": {  # texto
        "acao-e-reacao": ["A\u00e7\u00e3o & Rea\u00e7\u00e3o"],
        "parentheses": ["S\u00e3o Paulo (SP)"],
        "ordinal": ["1\u00ba lugar"],
        "money": ["R$ 10,00 + 5%"],
        "left-alone": ["\u00f1\u00df\u00e5\u00f8\u00fd!\"'-_*|\\\n\r"],
        "combining-accent": ["e\u0301"],
        "whole-table": [
            "\u00e1\u00e0\u00e4\u00e2\u00e3\u00e9\u00e8\u00ea\u00eb\u00ed\u00ec\u00ee\u00ef"
            "\u00f3\u00f2\u00f5\u00f4\u00f6\u00fa\u00f9\u00fb\u00fc\u00c1\u00c0\u00c4\u00c2"
            "\u00c3\u00c9\u00c8\u00ca\u00cb\u00cd\u00cc\u00ce\u00cf\u00d3\u00d2\u00d5\u00d4"
            "\u00d6\u00da\u00d9\u00db\u00dc\u00e7\u00c7\u00b4`~^\u00a8;:/?<>()[]{}\u00aa\u00ba&$#+="
        ],
        "surrogates-shifted": ["\0\ud800\U00010400\udc00"],
    },
    "primitives": {  # text, search, replacement
        "find-http": ["xxHTTPyy", "http", ""],
        "remove-bars": ["|||", "|", ""],
        "no-overlap-odd": ["aaa", "aa", ""],
        "no-overlap-even": ["aaaa", "aa", "b"],
        "replacement-holds-search": ["abcabc", "ab", "xabx"],
        "substring-from-2": ["abc", "bc", "z"],
        "past-the-end": ["abc", "c", ""],
        "deseret": [DESERET + "\U00010400", "\U00010428", "X"],
        "sharp-s": ["stra\u00dfe \u1e9e STRASSE", "\u00df", "ss"],
        "empty-text": ["", "a", "b"],
        "kelvin-shifted": ["\u212a\u212ak", "kK", ""],
    },
}

# The utf8 target reads raw bytes after its layout byte (target, shift): UTF-8
# prose long enough for the vector blocks, with what each of them must refuse
# or carry over, placed across their edges.
PROSE = "Ação & reação (São Paulo): veja http://x.com/página?a=ç|fim; ".encode()
RAW = {
    "prose": (0, PROSE * 3),
    "prose-shifted-blank": (1 | 5 << 2, PROSE * 3),
    "ascii-then-accents": (2, b"a" * 31 + "ÇÃÉáâ".encode() + b"b" * 30 + "ç".encode()),
    "lead-at-block-ends": (0, b"".join(b"x" * k + "é".encode() for k in range(14, 35))),
    "three-and-four-bytes": (3, ("“aspas” — € 😀 " * 6).encode()),
    "overlong": (0, b"a" * 40 + b"\xC0\xAF" + b"b" * 40),
    "stray-continuation": (0, b"a" * 33 + b"\x80" + b"b" * 40),
    "surrogate-encoded": (0, b"a" * 20 + b"\xED\xA0\x80" + b"b" * 40),
    "lead-without-trail": (0, b"a" * 31 + b"\xC3" + b"(" + b"b" * 40),
    "cut-short": (1, PROSE * 2 + b"\xF0\x9F\x98"),
    "latin1-symbols": (0, "´¨ªº¿ÀÿñÑ×÷ ".encode() * 8),
}
# Lengths at the edges of the 16-, 32- and 64-byte blocks (and their look-ahead).
for length in (16, 17, 31, 32, 33, 63, 64, 65, 66, 67, 68):
    RAW[f"length-{length}"] = (0, (PROSE * 2)[:length])

# Layout bytes for a few inputs: shifted in their blocks, or a start position past 1.
LAYOUT = {
    ("troca_acentos", "surrogates-shifted"): {"shift": 3},
    ("primitives", "substring-from-2"): {"start": 2},
    ("primitives", "past-the-end"): {"start": 5},
    ("primitives", "kelvin-shifted"): {"shift": 7, "start": 2},
    ("converte_links", "surrogates"): {"shift": 1},
}


# The pieces target (see pieces_fuzz.cpp) takes every input above again: an
# operation byte (operation, read as UTF-8 or as files are read, output room),
# the argument, the pieces' lengths, then the text's bytes. Each text goes
# once as UTF-8 through the C interface, cut a byte at a time into the
# tightest output, and once behind a byte-order mark (UTF-16 in either order,
# or UTF-8), cut unevenly. Lone surrogates make the UTF-8 invalid on purpose.
FOLD, LINK, COUNT, COUNT_BINARY = range(4)
MARKED = 4
MARKS = [b"\xff\xfe", b"\xfe\xff", b"\xef\xbb\xbf"]


def utf8(text):
    return text.encode("utf-8", "surrogatepass")


def marked(text, k):
    mark = MARKS[k % len(MARKS)]
    codec = {b"\xff\xfe": "utf-16-le", b"\xfe\xff": "utf-16-be"}.get(mark, "utf-8")
    return mark + text.encode(codec, "surrogatepass")


def pieces_input(operation, room, argument, lengths, text):
    return bytes([operation | room << 3, len(argument)]) + argument + bytes([len(lengths), *lengths]) + text


def pieces_inputs():
    seeds = []  # (name, operation, argument, text)
    for name, (texto, procura, tipo) in INPUTS["conta_ocorrencias"].items():
        seeds.append((name, COUNT_BINARY if tipo.lower() == "b" else COUNT, procura, texto))
    for name, (texto, alvo) in INPUTS["converte_links"].items():
        seeds.append((name, LINK, alvo, texto))
    for name, (texto,) in INPUTS["troca_acentos"].items():
        seeds.append((name, FOLD, "", texto))
    out = {}
    for k, (name, operation, argument, text) in enumerate(seeds):
        out[f"{name}-utf8"] = pieces_input(operation, 0, utf8(argument), [1], utf8(text))
        out[f"{name}-marked"] = pieces_input(
            operation | MARKED, 1 + k % 7, utf8(argument), [k % 5, 3, 0, 7], marked(text, k))
    # The codec's raw bytes, each under one operation, in uneven pieces.
    for k, (name, (_, raw)) in enumerate(RAW.items()):
        operation = k % 4 | (MARKED if k % 3 == 0 else 0)
        out[f"raw-{name}"] = pieces_input(operation, k % 8, b"http" if k % 4 >= LINK else b"", [1 + k % 5, 2], raw)
    return out


def main():
    for target, inputs in INPUTS.items():
        folder = HERE / "corpus" / target
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for name, fields in inputs.items():
            (folder / name).write_bytes(encode(fields, **LAYOUT.get((target, name), {})))
    folder = HERE / "corpus" / "utf8"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name, (layout, raw) in RAW.items():
        (folder / name).write_bytes(bytes([layout]) + raw)
    folder = HERE / "corpus" / "pieces"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    inputs = pieces_inputs()
    for name, data in inputs.items():
        (folder / name).write_bytes(data)
    print(sum(len(i) for i in INPUTS.values()) + len(RAW) + len(inputs), "inputs written")


if __name__ == "__main__":
    main()

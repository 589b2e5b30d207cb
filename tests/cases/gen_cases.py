#!/usr/bin/env python3
"""Writes tests/cases/palavox_cases.txt, the cases every client of Palavox checks:
the native library tests and the VBScript, JScript and C++ clients of Palavox.dll;
and tests/cases/original_cases.txt, the same rows as the original design answers
them (its link markup with both faults: error 5 on a link holding "http" twice,
placeholder-like text replaced), which the stand-in for an installed component
gives and its clients check before Palavox adopts its identity.

    python3 tests/cases/gen_cases.py [CaseFolding.txt]   (default text/case/unicode/CaseFolding-15.0.0.txt)

The output is committed; the build never runs this. It is deterministic: the
random part uses its own generator with a fixed start value.

Expectations come from two places, each written from the rules of the three
methods and nothing else: hand-written rows with their expected results typed
in, and random rows whose results a small independent model below computes.
Every hand-written row is also run through the model, so the two keep each
other honest.

File format (UTF-16LE with a byte order mark, one case per line, LF endings):
  # comment
  TrataHTML<TAB>vemEntrada<TAB>vemTarget<TAB>expected
  FindString<TAB>vemEntrada<TAB>vemProcura<TAB>vemTipo<TAB>expected count | error 13
  (in original_cases.txt a TrataHTML row may expect "error 5")
  RemoverAcentuacao<TAB>vemTextoAcentuado<TAB>expected
Inside a field \\ \\t \\n \\r \\0 stand for backslash, tab, LF, CR and NUL; every other
code unit, lone surrogates included, is written as itself. UTF-16 lets the
VBScript client, which cannot build a character from its code, read any text.
"""

import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "palavox_cases.txt")
ORIGINAL_OUT = os.path.join(HERE, "original_cases.txt")


def units(s):
    """One Python character per UTF-16 code unit (pairs split in two)."""
    b = s.encode("utf-16-le", "surrogatepass")
    return "".join(chr(b[i] | b[i + 1] << 8) for i in range(0, len(b), 2))


# ---------------------------------------------------------------- the model

def load_folding(path):
    fold = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            code, status, mapping = [x.strip() for x in line.split(";")[:3]]
            if status in ("C", "S"):
                src, dst = int(code, 16), int(mapping, 16)
                assert (src > 0xFFFF) == (dst > 0xFFFF), "folding must keep the UTF-16 length"
                fold[src] = dst
    return fold


def folded(text, fold):
    """Folds code point by code point; a valid pair is one code point, a lone half stays."""
    out, i = [], 0
    while i < len(text):
        u = ord(text[i])
        if 0xD800 <= u <= 0xDBFF and i + 1 < len(text) and 0xDC00 <= ord(text[i + 1]) <= 0xDFFF:
            cp = 0x10000 + ((u - 0xD800) << 10) + (ord(text[i + 1]) - 0xDC00)
            cp = fold.get(cp, cp) - 0x10000
            out += [0xD800 + (cp >> 10), 0xDC00 + (cp & 0x3FF)]
            i += 2
        else:
            out.append(u if 0xD800 <= u <= 0xDFFF else fold.get(u, u))
            i += 1
    return out


def count(texto, procura, tipo, fold):
    if not texto or not procura:
        return -1
    if tipo in ("B", "b"):
        t, p = [ord(c) for c in texto], [ord(c) for c in procura]
    else:
        t, p = folded(texto, fold), folded(procura, fold)
    n, i, m = 0, 0, len(p)
    while i + m <= len(t):
        if t[i:i + m] == p:
            n += 1
            i += m
        else:
            i += 1
    return n


def find_string(entrada, procura, tipo, fold):
    if not entrada:
        return "error 13"
    return count(entrada, procura, tipo, fold)


def anchor(link, target):
    return '<a href="' + link + '" target="' + target + '">' + link + "</a>"


def trata_html(texto, alvo, fold):
    """Each "http" (any case) starts a link that runs to the next CR, space or "|";
    the search for the next link resumes after it. A literal placeholder-looking
    text is never touched."""
    if not texto:
        return ""
    target = alvo or "_self"
    f = folded(texto, fold)
    http = [ord(c) for c in "http"]
    out, i = [], 0
    while True:
        p = next((j for j in range(i, len(f) - 3) if f[j:j + 4] == http), None)
        if p is None:
            break
        end = next((j for j in range(p, len(texto)) if texto[j] in "\r |"), len(texto))
        out.append(texto[i:p])
        out.append(anchor(texto[p:end], target))
        i = end
    out.append(texto[i:])
    return "".join(out)


def trata_html_original(texto, alvo, fold):
    """The original design's two passes: each link out to the fixed token
    |[_link k _]|, then every token back in as an anchor. Text the caller wrote
    that looks like a token is replaced too; when a link swallowed a second
    "http", fewer links than counted remain, and the next search from position 0
    fails with error 5."""
    if not texto:
        return ""
    target = alvo or "_self"
    n = count(texto, "http", "", fold)
    working, table = texto, []

    def find(text, search, binary):
        t = [ord(c) for c in text] if binary else folded(text, fold)
        p = [ord(c) for c in search] if binary else folded(search, fold)
        return next((i + 1 for i in range(len(t) - len(p) + 1) if t[i:i + len(p)] == p), 0)

    for k in range(1, n + 1):
        p = find(working, "http", False)
        if p == 0:
            return "error 5"
        tail = working[p - 1:].replace("\r", "|").replace(" ", "|")
        q = find(tail, "|", True)
        link = tail[:q - 1] if q > 0 else tail
        token = "|[_link%d_]|" % k
        at = find(working, link, False)
        working = working[:at - 1] + token + working[at - 1 + len(link):]
        table.append((link, token))
    for link, token in table:
        working = working.replace(token, anchor(link, target))
    return working


ORIGEM = ("\u00e1\u00e0\u00e4\u00e2\u00e3\u00e9\u00e8\u00ea\u00eb\u00ed\u00ec\u00ee\u00ef"
          "\u00f3\u00f2\u00f5\u00f4\u00f6\u00fa\u00f9\u00fb\u00fc"
          "\u00c1\u00c0\u00c4\u00c2\u00c3\u00c9\u00c8\u00ca\u00cb\u00cd\u00cc\u00ce\u00cf"
          "\u00d3\u00d2\u00d5\u00d4\u00d6\u00da\u00d9\u00db\u00dc\u00e7\u00c7"
          "\u00b4`~^\u00a8;:/?<>()[]{}\u00aa\u00ba&$#+=")
DESTINO = "aaaaaeeeeiiiiooooouuuuAAAAAEEEEIIIIOOOOOUUUUcC" + " " * 19 + "e" + " " * 4
assert len(ORIGEM) == 70 and len(DESTINO) == 70


def remover(texto):
    table = dict(zip(ORIGEM, DESTINO))
    return "".join(table.get(c, c) for c in texto)


# ------------------------------------------------------- hand-written cases

def A(link, target="_self"):
    return anchor(link, target)


HAND_FIND = [
    # entrada, procura, tipo, expected
    ("Casa casa CASA", "casa", "", 3),
    ("Casa casa CASA", "casa", "B", 1),
    ("Casa casa CASA", "casa", "b", 1),
    ("Casa casa CASA", "casa", "x", 3),
    ("Casa casa CASA", "casa", "BB", 3),
    ("Casa casa CASA", "casa", " b", 3),
    ("Casa casa CASA", "casa", "Binary", 3),
    ("Casa casa CASA", "CASA", "B", 1),
    ("abc", "", "", -1),
    ("abc", "", "B", -1),
    ("", "a", "", "error 13"),
    ("", "", "", "error 13"),
    ("", "a", "B", "error 13"),
    ("aaa", "aa", "b", 1),
    ("aaaa", "aa", "b", 2),
    ("aaaaa", "aa", "", 2),
    ("abc", "abcd", "", 0),
    ("abc", "abc", "", 1),
    ("xxHTTPyy", "http", "", 1),
    ("xxHTTPyy", "http", "B", 0),
    ("a|b||c", "|", "", 3),
    ("\u00c9cole \u00e9cole ECOLE", "\u00e9cole", "", 2),
    ("\u00c9cole \u00e9cole ECOLE", "\u00e9cole", "B", 1),
    ("\u03a3\u0391\u03a3 \u03c3\u03b1\u03c2", "\u03c3\u03b1\u03c2", "", 2),
    ("\u03a3\u0391\u03a3 \u03c3\u03b1\u03c2", "\u03c3\u03b1\u03c2", "b", 1),
    ("\u212a k K", "k", "", 3),
    ("\u212a k K", "k", "B", 1),
    ("\u017f s S", "s", "", 3),
    ("\u1e9e \u00df", "\u00df", "", 2),
    ("stra\u00dfe STRASSE", "ss", "", 1),
    ("\u0130 i I", "i", "", 2),
    ("\U00010400\U00010428", "\U00010428", "", 2),
    ("\U00010400\U00010428", "\U00010428", "B", 1),
    ("\U00010400", "\udc00", "B", 1),
    ("\U00010400", "\udc00", "", 0),
    ("a\ud801b\ud801", "\ud801", "", 2),
    ("a\udc00b", "\udc00", "", 1),
    ("a\0b\0c", "\0", "", 2),
    ("a\0b\0c", "b\0C", "", 1),
    ("\uff28\uff54tp", "http", "", 0),
    ("\uff28\uff34", "\uff48\uff54", "", 1),
    ("linha 1\r\nlinha 2\r\n", "\r\n", "", 2),
    ("A\u00e7\u00e3o e rea\u00e7\u00e3o", "\u00c7\u00c3O", "", 2),
    ("\u00c1gua \u00e1gua", "\u00e1", "", 2),
    ("\ufeffa\ufeff", "\ufeff", "B", 2),
    # The search hands over to the two-way algorithm one start before the match
    # (every start a candidate, each failing late), within a vector block or not.
    ("a" * 41 + "\U0001F600", "a" * 20 + "\U0001F600", "", 1),
    ("a" * 41 + "\U0001F600" + "b" * 10, "a" * 20 + "\U0001F600", "", 1),
    # Letters whose folding crosses U+0100 either way, and the ones that look
    # as if they should fold and do not (dotted and dotless i): a short text
    # counted without calling in must agree.
    ("\u00b5m \u03bcm \u039cM um", "\u00b5m", "", 3),
    ("\u00b5m \u03bcm \u039cM um", "\u00b5m", "B", 1),
    ("\u00b5 \u03bc \u039c", "\u039c", "", 3),
    ("\u212aelvin Kelvin kELVIN", "kelvin", "", 3),
    ("\u212aelvin Kelvin kELVIN", "ELVIN", "", 3),
    ("Kelvin \u212aelvin", "\u212aELVIN", "", 2),
    ("\u212b \u00c5 \u00e5ngstr\u00f6m", "\u00e5", "", 3),
    ("\u212b \u00c5 \u00e5ngstr\u00f6m", "\u00c5", "b", 1),
    ("\u017fs SS ss \u017f\u017f", "ss", "", 4),
    ("Stra\u00dfe STRA\u1e9eE strasse", "stra\u00dfe", "", 2),
    ("\u0178ves \u00ffves YVES", "\u00ffves", "", 2),
    ("\u0178ves \u00ffves YVES", "\u0178VES", "", 2),
    ("\u0130stanbul \u0131stanbul Istanbul istanbul", "istanbul", "", 2),
    ("\u0130stanbul \u0131stanbul Istanbul istanbul", "\u0131STANBUL", "", 1),
    ("\u0130stanbul \u0131stanbul Istanbul istanbul", "\u0130", "", 1),
    ("\u03a3\u03bf\u03c6\u03b9\u03b1 \u03c3\u03bf\u03c6\u03b9\u03b1\u03c2 \u03a3\u039f\u03a6\u0399\u0391\u03a3",
     "\u03c3\u03bf\u03c6\u03b9\u03b1\u03c3", "", 2),
    ("\u03a3\u03bf\u03c6\u03b9\u03b1 \u03c3\u03bf\u03c6\u03b9\u03b1\u03c2 \u03a3\u039f\u03a6\u0399\u0391\u03a3",
     "\u03c3\u03bf\u03c6\u03b9\u03b1\u03c3", "B", 0),
    ("\u1f08\u0399 \u1f00\u1fbe \u1f00\u03b9", "\u1f00\u03b9", "", 3),
    ("\u2126 \u03a9 \u03c9", "\u03c9", "", 3),
    ("\u1c84\u0430 \u0422\u0430 \u0442\u0430", "\u0442\u0410", "", 3),
    ("Jo\u00e3o\u2019s JO\u00c3O", "jo\u00e3o", "", 2),
    ("\U00010400a \U00010428A", "\U00010428a", "", 2),
    ("\U00010400a \U00010428A", "\U00010428A", "B", 1),
    ("a\ud801a\udc28A", "a", "", 3),
    ("a\ud801a\udc28A", "\ud801A", "", 1),
    # Overlapping candidates: the next start is past the last match.
    ("aaa", "aa", "", 1),
    ("AaAa", "aa", "", 2),
    ("\u00c1\u00e1\u00c1", "\u00e1\u00e1", "", 1),
    ("abababa", "ABA", "", 2),
    ("aaaaaaa", "aaa", "b", 2),
    ("\u212a\u212ak", "kk", "", 1),
    ("A\u00e7\u00e3o AC\u0327A\u0303O a\u00e7\u00e3o", "A\u00c7\u00c3O", "", 2),
    ("A\u00e7\u00e3o AC\u0327A\u0303O a\u00e7\u00e3o", "a\u00e7\u00e3o", "b", 1),
    # On UTF-8, texts of 8 to 64 bytes are counted on their bytes, and folded
    # that way only while nothing is past U+00FF: letters folding across that
    # border change length in bytes, in the text and in the search text.
    ("temperatura 300 \u212a ou 300 K", "k", "", 2),
    ("temperatura 300 \u212a ou 300 K", "K", "B", 1),
    ("kilo KILO quilo", "\u212a", "", 2),
    ("Stra\u00dfe STRA\u1e9eE stra\u00dfe", "\u00df", "", 3),
    ("Stra\u00dfe strasse STRASSE", "\u1e9e", "", 1),
    ("Ma\u017f\u017fa massa MASSA", "ss", "", 3),
    ("massa MASSA ma\u017f\u017fa", "\u017f", "", 6),
    ("5 \u00b5m e 5 \u03bcm e 5 \u039cm", "\u00b5m", "", 3),
    ("5 \u00b5m e 5 \u00b5M e 5 um", "\u00b5m", "", 2),
    ("5 \u00b5m e mais 5 \u00b5m", "\u03bcm", "", 2),
    ("micro \u00b5 M\u00b5 mu", "\u00b5", "B", 2),
    ("10 \u212b e 10 \u00c5 e 10 \u00e5", "\u00e5", "", 3),
    ("\u0178ves e \u00ffves e Yves", "\u00ffves", "", 2),
    ("\u00ffves e \u00ffves e Yves", "\u0178VES", "", 2),
    # A C2 sequence whose second byte is a folded letter's; the sign that is
    # not the capital of the one 0x20 above it.
    ("\u0087\u00c7\u00a7\u00e7 x\u0087 \u00c7 y", "\u00e7", "", 3),
    ("\u00a7 1 \u0087 \u00a7 2 \u0080\u0081", "\u00a7", "", 2),
    ("\u0087 \u00a7 \u0087 xxxxxxx", "\u0087", "", 2),
    ("\u00d7 \u00f7 \u00d7\u00f7 xx", "\u00f7", "", 2),
    ("\u00d7 \u00f7 \u00d7\u00f7 xx", "\u00d7", "", 2),
    # Matches across each 16-byte step, and at both ends of 63, 64 and 65 bytes.
    ("x" * 14 + "A\u00c7\u00c3O" + "x" * 11 + "a\u00e7\u00e3o" + "xxxx", "a\u00e7\u00e3o", "", 2),
    ("a\u00e7\u00e3o" + "y" * 51 + "A\u00c7\u00c3o", "a\u00e7\u00e3o", "", 2),
    ("S" + "y" * 57 + "silva", "SILVA", "", 1),
    ("Silva" + "y" * 54 + "silva", "SILVA", "", 2),
    ("Silva" + "y" * 55 + "silvA", "silva", "", 2),
    ("Silva" + "y" * 55 + "silvA", "Silva", "b", 1),
    ("Ana Silva SILVA", "silva", "", 2),
    ("Silva SILVA", "silva", "", 2),
    ("Rua S\u00e3o Jo\u00e3o, 12", "JO\u00c3O", "", 1),
    # Overlapping starts.
    ("\u00e3\u00e3\u00e3\u00e3\u00e3 \u00c3\u00c3\u00c3", "\u00e3\u00e3", "", 3),
    ("\u00e7\u00e7\u00e7\u00e7\u00e7\u00e7\u00e7\u00e7\u00e7", "\u00e7\u00e7", "B", 4),
    ("abababababababababab aba", "aba", "", 6),
    ("aAaAaAaAaAaAaAaAaAaAaAaAaAaAaAaAaAa", "AAA", "", 11),
    # Past U+FFFF, and exact counting of sequences of every length.
    ("nome \U0001F600 sobrenome \U0001F600", "\U0001F600", "", 2),
    ("\U00010400 abc \U00010428 xyz", "\U00010428", "", 2),
    ("\U00010400 abc \U00010428 xyz", "\U00010428", "B", 1),
    ("Jo\u00e3o JO\u00c3O jo\u00e3o", "jo\u00e3o", "B", 1),
    ("\u20ac 5 e \u20ac 10 e \u20ac", "\u20ac", "b", 3),
    ("a\0b\0c\0d\0e\0f\0g\0h", "\0", "", 7),
]

HAND_TRATA = [
    # texto, alvo, expected
    ("sem links aqui", "", "sem links aqui"),
    ("sem links aqui", "_blank", "sem links aqui"),
    ("", "", ""),
    ("", "_top", ""),
    ("a http://x/1 b HTTP://y c", "",
     "a " + A("http://x/1") + " b " + A("HTTP://y") + " c"),
    ("a http://x/1 b HTTP://y c", "_blank",
     "a " + A("http://x/1", "_blank") + " b " + A("HTTP://y", "_blank") + " c"),
    ("veja http://a", "", "veja " + A("http://a")),
    ("ver http://a/b fim", "", "ver " + A("http://a/b") + " fim"),
    ("ver http://a/b fim", "_blank", "ver " + A("http://a/b", "_blank") + " fim"),
    ("http://a\tb c", "", A("http://a\tb") + " c"),
    ("HTTP://A/B", "", A("HTTP://A/B")),
    ("hTtP://MiXeD/Caminho", "", A("hTtP://MiXeD/Caminho")),
    ("xhttp://a", "", "x" + A("http://a")),
    ("https://a/b httpd http", "", A("https://a/b") + " " + A("httpd") + " " + A("http")),
    ("http://a\r\nb", "", A("http://a") + "\r\nb"),
    ("http://a\nb c", "", A("http://a\nb") + " c"),
    ("(http://a/b).", "", "(" + A("http://a/b).")),
    ("http://a http://a", "", A("http://a") + " " + A("http://a")),
    ("http://a|b", "", A("http://a") + "|b"),
    ("||http://a||", "", "||" + A("http://a") + "||"),
    ("|[_link1_]| http://a", "", "|[_link1_]| " + A("http://a")),
    ("http://a |[_link1_]| |[_link12_]|", "_blank",
     A("http://a", "_blank") + " |[_link1_]| |[_link12_]|"),
    ("http://a", "|[_link1_]|", A("http://a", "|[_link1_]|")),
    ("http://a/?u=http://b", "", A("http://a/?u=http://b")),
    ("httphttp", "", A("httphttp")),
    ("httphttp http://c", "", A("httphttp") + " " + A("http://c")),
    ("http://a", 'x"y', A("http://a", 'x"y')),
    ("<b>http://a</b> & co", "", "<b>" + A("http://a</b>") + " & co"),
    ("http://a", "http", A("http://a", "http")),
    ("\ue000 http://a \ue001\ue002", "", "\ue000 " + A("http://a") + " \ue001\ue002"),
    ("http://a\0b c", "", A("http://a\0b") + " c"),
    ("x http", "", "x " + A("http")),
    ("http:// ", "", A("http://") + " "),
    ("ht tp htt|p h\nttp", "", "ht tp htt|p h\nttp"),
    ("\uff48ttp://a", "", "\uff48ttp://a"),
    ("link: http://palavox.example/a\u00e7\u00e3o?x=1&y=2\r\nfim", "_parent",
     "link: " + A("http://palavox.example/a\u00e7\u00e3o?x=1&y=2", "_parent") + "\r\nfim"),
    ("\U00010400http://a", "", "\U00010400" + A("http://a")),
    ("http://\U00010428 x", "", A("http://\U00010428") + " x"),
    ("\ufeffhttp://a\ufeff", "\ufeff", "\ufeff" + A("http://a\ufeff", "\ufeff")),
    # An "http" inside a link, among the starts the last vector of the search
    # overlaps, is not a link of its own.
    ("http://xxxxxxxxxxhttp zzzz", "", A("http://xxxxxxxxxxhttp") + " zzzz"),
    # As many links as a short text's markup keeps from its one scan, and one
    # more; short enough for the plain scan, and long enough for the blocks.
    ("|".join(["http"] * 8), "", "|".join([A("http")] * 8)),
    ("|".join(["http"] * 9), "_blank", "|".join([A("http", "_blank")] * 9)),
    (" ".join(f"http://x/{k}" for k in range(8)) + " fim", "",
     " ".join(A(f"http://x/{k}") for k in range(8)) + " fim"),
    (" ".join(f"http://x/{k}" for k in range(9)) + " fim", "",
     " ".join(A(f"http://x/{k}") for k in range(9)) + " fim"),
    # Short texts: a link first and last, accents against a link on both sides,
    # a target and a text that look like the tokens of the original design.
    ("http://a/\u00e7\u00e3o \u00e9 fim http://b", "",
     A("http://a/\u00e7\u00e3o") + " \u00e9 fim " + A("http://b")),
    ("Jos\u00e9http://a\u00e9|\u00e7", "|[_link1_]|",
     "Jos\u00e9" + A("http://a\u00e9", "|[_link1_]|") + "|\u00e7"),
    ("\u00e0\u00e0\u00e0\u00e0http://\u4e2d", "", "\u00e0\u00e0\u00e0\u00e0" + A("http://\u4e2d")),
    ("|[_link1_]| http://a |[_link2_]|", "|[_link2_]|",
     "|[_link1_]| " + A("http://a", "|[_link2_]|") + " |[_link2_]|"),
    ("S\u00e3o Jo\u00e3o \u00c1vila", "", "S\u00e3o Jo\u00e3o \u00c1vila"),
]

HAND_REMOVER = [
    ("A\u00e7\u00e3o & Rea\u00e7\u00e3o", "Acao e Reacao"),
    ("S\u00e3o Paulo (SP)", "Sao Paulo  SP "),
    ("1\u00ba lugar", "1  lugar"),
    ("R$ 10,00 + 5%", "R  10,00   5%"),
    ("\u00f1\u00df\u00e5\u00f8\u00fd!\"'-_*|\\\n\r", "\u00f1\u00df\u00e5\u00f8\u00fd!\"'-_*|\\\n\r"),
    ("e\u0301", "e\u0301"),
    ("", ""),
    (ORIGEM, "aaaaaeeeeiiiiooooouuuuAAAAAEEEEIIIIOOOOOUUUUcC" + " " * 19 + "e" + " " * 4),
    ("\0\ud800\U00010400\udc00", "\0\ud800\U00010400\udc00"),
    ("\u00c0\u00c9\u00ce\u00d5\u00dc", "AEIOU"),
    ("p\u00e3o, p\u00e3es; ma\u00e7\u00e3s: {a} [b] <c>", "pao, paes  macas   a   b   c "),
    ("\u00b4`~^\u00a8", "     "),
    ("50% #1 2+2=4 a/b?", "50%  1 2 2 4 a b "),
    ("\u00aa\u00ba\u00b0", "  \u00b0"),
    ("sem acento", "sem acento"),
    ("CORA\u00c7\u00c3O \u00e0s 9h", "CORACAO as 9h"),
    ("\ufeffA\u00e7\u00e3o\ufeff", "\ufeffAcao\ufeff"),
]

# ---------------------------------------------------------- random cases

PIECES = [
    "http", "HTTP", "hTtP", "https://", "://", "www.", "a", "b", "x", "casa", "CASA",
    "/", ".", " ", " ", "\r", "\n", "\r\n", "\t", "|", "||", "|[_link1_]|", "|[_link12_]|",
    "\u00e1", "\u00c3", "\u00e7", "\u00c7", "\u00c9", "\u00f5", "\u00fc", "\u00f1", "\u00df",
    "\u00e5", "\u00f8", "&", "(", ")", "[", "]", "{", "}", "\u00aa", "\u00ba", "$", "#", "+",
    "=", "\u00b4", "`", "~", "^", "\u00a8", ";", ":", "?", "<", ">", '"', "'", "%", ",",
    "\U00010400", "\U00010428", "\ud801", "\udc00", "\0", "\u212a", "k", "\u017f", "s", "S",
    "\u03a3", "\u03c3", "\u03c2", "\ue000", "\ue001", "e\u0301", "\\",
]
TARGETS = ["", "", "", "_blank", "_top", "quadro", '"x"', "|[_link1_]|", "a b"]
SELECTORS = ["", "", "B", "b", "BB", " b", "x"]
SEARCHES = ["a", "aa", "http", "HTTP", "casa", "\u00e1", "\u00c1", "|", " ", "\r\n", "\0",
            "k", "s", "\u03c3", "\U00010428", "\udc00", "\u00e7\u00c3", "ht", "xx"]


class Rng:
    """64-bit LCG; Python's own generator is not promised to stay the same."""

    def __init__(self, state):
        self.state = state

    def below(self, n):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        return (self.state >> 33) % n


LINKY = ["http://", "HTTP://", "hTtP", "http", " ", "\r\n", "|", "/x"]


def random_text(rng, most, bias=()):
    def piece():
        if bias and rng.below(3) == 0:
            return bias[rng.below(len(bias))]
        return PIECES[rng.below(len(PIECES))]
    return units("".join(piece() for _ in range(rng.below(most + 1))))


def random_cases(fold):
    rng = Rng(20240605)
    find, trata, remover_ = [], [], []
    for _ in range(140):
        entrada = random_text(rng, 14)
        pick = rng.below(3)
        if pick == 0 and entrada:
            a = rng.below(len(entrada))
            procura = entrada[a:a + 1 + rng.below(4)]
        elif pick == 1:
            procura = units(SEARCHES[rng.below(len(SEARCHES))])
        else:
            procura = random_text(rng, 2)
        tipo = SELECTORS[rng.below(len(SELECTORS))]
        find.append((entrada, procura, tipo, find_string(entrada, procura, tipo, fold)))
    for _ in range(140):
        texto = random_text(rng, 16, LINKY)
        alvo = TARGETS[rng.below(len(TARGETS))]
        trata.append((texto, alvo, trata_html(texto, alvo, fold)))
    for _ in range(60):
        texto = random_text(rng, 20)
        remover_.append((texto, remover(texto)))
    return find, trata, remover_


# ------------------------------------------------------- texts of many lengths

# Callers take shortcuts by length (a binding copies a short text itself and
# hands a long one to its runtime, or answers a short text that holds nothing
# to fold or link without calling in): every kind of text at lengths on both
# sides of any such limit, and around the vector block sizes.
LENGTHS = [1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 66,
           127, 128, 129, 200, 255, 256, 257, 1000]
PLAIN = "Silva Pereira Lima Costa Rocha Souza Alves Moura Garcia Vieira "
WITH_H = "Thiago Helena Rocha Bahia Nunes Hilda "
ACCENTED = "Jo\u00e3o Concei\u00e7\u00e3o ARA\u00daJO Assun\u00c7\u00c3o Kaique "


def sized(base, n):
    return (base * (n // len(base) + 1))[:n]


def length_cases(fold):
    find, trata, remover_ = [], [], []
    for k, n in enumerate(LENGTHS):
        plain = sized(PLAIN, n)
        target = ["", "_blank", sized("quadro_", 70)][k % 3]
        # Nothing to fold; one unit to fold last; one first, past a lone surrogate.
        texts = [plain, plain[:-1] + "\u00e3",
                 "\u00c7" + (plain[1:-1] + "\udc00")[-(n - 1):] if n > 1 else "\u00c7"]
        remover_ += [(t, remover(t)) for t in texts]
        # No unit that can start a link; units that can but no link; a link last.
        texts = [plain, sized(WITH_H, n)]
        if n >= 8:
            texts.append(plain[:n - 8] + "hTtP://a")
        trata += [(t, target, trata_html(t, target, fold)) for t in texts]
        for procura, tipo in (("silva", ""), ("SILVA", "B"), (sized(PLAIN, 70), ""),
                              ("a", sized("B", n))):
            find.append((plain, procura, tipo, find_string(plain, procura, tipo, fold)))
        # Beyond ASCII, and with a unit past U+0100 that folds into it last.
        accented = sized(ACCENTED, n)
        find.append((accented, "\u00c7\u00c3O", "", find_string(accented, "\u00c7\u00c3O", "", fold)))
        kelvin = accented[:-1] + "\u212a"
        find.append((kelvin, "k", "", find_string(kelvin, "k", "", fold)))
    return find, trata, remover_


# Short texts (under 256 units) with 1 to 9 links: a short text's markup
# keeps up to eight from one scan; the UTF-8 forms check such a text in
# windows of 8 or 16 bytes as they look for its first link. Links first, last
# and between words of accented prose, ended by each unit that ends a link,
# and a two-byte letter or a longer character on either side of a link and
# across the windows' edges (a prefix shifts the text one unit at a time).
SHORT_WORDS = ["S\u00e3o", "Jo\u00e3o", "\u00c1vila", "a\u00e7\u00e3o", "casa", "Lima", "\u00e9",
               "\u4e2d", "\U0001F600", "x"]
SHORT_LINKS = ["http://a/\u00e7", "HTTP://b.example/p?q=1", "hTtP://\u00e9", "http",
               "https://x/\u4e2d"]
SHORT_ENDS = [" ", "\r\n", "|", " "]
SHORT_TARGETS = ["", "_blank", "|[_link1_]|", "\u00e9"]


def short_link_cases(fold):
    trata = []
    for links in range(1, 10):
        for shift in range(4):
            parts = ["\u00e7" * shift]
            for k in range(links):
                parts.append(SHORT_WORDS[(k + shift) % len(SHORT_WORDS)])
                if (k + shift) % 3 != 0:
                    parts.append(" ")
                parts.append(SHORT_LINKS[(k + links) % len(SHORT_LINKS)])
                parts.append(SHORT_ENDS[(k + shift) % len(SHORT_ENDS)])
            texto = units("".join(parts))
            if shift % 2:
                texto = units(SHORT_LINKS[shift] + " ") + texto  # a link first
            if shift >= 2:
                texto = texto.rstrip(" \r\n|") + units(SHORT_WORDS[shift])  # ends on a word
            if links % 2:
                texto += units("|http://fim")  # a link last
            assert len(texto) < 256, len(texto)
            alvo = SHORT_TARGETS[(links + shift) % len(SHORT_TARGETS)]
            trata.append((texto, alvo, trata_html(texto, alvo, fold)))
    # A link in UTF-8 texts of 10 to 20 bytes, a two-byte letter moving along,
    # and where the short windows begin: at byte 2 and 9 bytes before the end.
    for n in range(10, 21):
        for at in (0, 2, n // 2, n - 8, n - 1):
            base = list(sized("xy http://abcdefgh ", n))
            base[at] = "\u00e3"
            texto = units("".join(base))
            trata.append((texto, "", trata_html(texto, "", fold)))
    # An "h" and a "p" three apart that are no "http", before a link or with
    # none, in the first window and the last, short of 19 bytes and past it.
    for n in list(range(11, 40)) + [63, 64, 65, 100]:
        for base in ("Help http://a.b heap ", "a harp, a HOOP, a heap "):
            texto = list(sized(base, n))
            if texto[n // 3] != "h":
                texto[n // 3] = "\u00e9"
            texto = units("".join(texto))
            trata.append((texto, "", trata_html(texto, "", fold)))
    return trata


# ----------------------------------------------------------------- output

def escape(s):
    out = []
    for c in units(s):
        out.append({"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r", "\0": "\\0"}.get(c, c))
    return "".join(out)


def unescape(s):
    out, i = [], 0
    while i < len(s):
        if s[i] == "\\":
            out.append({"\\": "\\", "t": "\t", "n": "\n", "r": "\r", "0": "\0"}[s[i + 1]])
            i += 2
        else:
            out.append(s[i])
            i += 1
    return "".join(out)


def write(path, lines):
    data = ("\ufeff" + "\n".join(lines) + "\n").encode("utf-16-le", "surrogatepass")
    with open(path, "wb") as f:
        f.write(data)
    print(f"{path}: {len(lines) - 3} cases")


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "text", "case", "unicode", "CaseFolding-15.0.0.txt")
    fold = load_folding(path)
    # Everything below indexes code units, so astral characters become pairs first.
    hand_find = [(units(e), units(p), units(t), x) for e, p, t, x in HAND_FIND]
    hand_trata = [tuple(units(f) for f in row) for row in HAND_TRATA]
    hand_remover = [tuple(units(f) for f in row) for row in HAND_REMOVER]
    for entrada, procura, tipo, expected in hand_find:
        got = find_string(entrada, procura, tipo, fold)
        assert got == expected, ("FindString", entrada, procura, tipo, expected, got)
    for texto, alvo, expected in hand_trata:
        got = trata_html(texto, alvo, fold)
        assert got == expected, ("TrataHTML", texto, alvo, expected, got)
    for texto, expected in hand_remover:
        assert remover(texto) == expected, ("RemoverAcentuacao", texto)

    find, trata, remover_ = random_cases(fold)
    sized_find, sized_trata, sized_remover = length_cases(fold)
    find, trata, remover_ = find + sized_find, trata + sized_trata, remover_ + sized_remover
    trata += short_link_cases(fold)
    lines = [
        "# Cases shared by the native tests and every client of Palavox.dll.",
        "# Generated by tests/cases/gen_cases.py; edit that script, not this file.",
        "# Fields are separated by TAB; \\\\ \\t \\n \\r \\0 are the only escapes.",
    ]
    for entrada, procura, tipo, expected in hand_find + find:
        lines.append("\t".join(["FindString", escape(entrada), escape(procura), escape(tipo),
                                str(expected)]))
    # A text result spelled like an error ("error 5") would read as one.
    for row in hand_trata + trata + hand_remover + remover_:
        assert not re.fullmatch(r"error \d+", row[-1]), row
    for texto, alvo, expected in hand_trata + trata:
        lines.append("\t".join(["TrataHTML", escape(texto), escape(alvo), escape(expected)]))
    for texto, expected in hand_remover + remover_:
        lines.append("\t".join(["RemoverAcentuacao", escape(texto), escape(expected)]))
    write(OUT, lines)
    # The same rows as the original design answers them: only link markup differs.
    original = [
        "# The rows of palavox_cases.txt as the original design answers them.",
        "# Generated by tests/cases/gen_cases.py; edit that script, not this file.",
        "# Fields are separated by TAB; \\\\ \\t \\n \\r \\0 are the only escapes.",
    ]
    differ = {"error 5": 0, "placeholder": 0}
    for line in lines[3:]:
        fields = line.split("\t")
        if fields[0] == "TrataHTML":
            texto, alvo = unescape(fields[1]), unescape(fields[2])
            got = trata_html_original(texto, alvo, fold)
            if got == "error 5":
                differ["error 5"] += 1
                fields[3] = got
            else:
                assert not re.fullmatch(r"error \d+", got), got
                if got != unescape(fields[3]):
                    differ["placeholder"] += 1
                fields[3] = escape(got)
        original.append("\t".join(fields))
    # Both faults must show, or the stand-in's clients could not tell it from Palavox.
    assert differ["error 5"] > 0 and differ["placeholder"] > 0, differ
    write(ORIGINAL_OUT, original)


if __name__ == "__main__":
    main()

#!/usr/bin/env bash
# `palavox verify` on hand-made recordings: each planted difference reported
# as its own cause with the right exit status, exact texts, damaged
# recordings refused with file and line, the report written whole or not at
# all, and a recording of over 100 MB verified in bounded memory.
#   tests/migration/verify-test.sh <palavox> <scratch dir> [no-rss|no-large]
# (no-rss under sanitizers, whose own memory is all that peak RSS would show
# and which a limit on the address space breaks; no-large in the coverage
# tree, which leaves out the 100 MB recording)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
palavox=$(realpath "$1") work=$2 rss_check=${3:-rss}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 2
passed=0 failed=0
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
pass() { passed=$((passed + 1)); }

# A recording of the calls given (printf %b), with its header and end line.
recording() {
  local body texts calls
  body=$(printf '%b' "$1")
  texts=$(grep -c '^text	' <<<"$body")
  calls=$(grep -cE '^(TrataHTML|FindString|RemoverAcentuacao)	' <<<"$body")
  printf 'palavox-recording\t1\nprogid\tOld.Component\nbitness\t32\n%s\nend\t%s\t%s\n' \
    "$body" "$texts" "$calls"
}

# One row: what, expected exit status, text the output must hold ('' none),
# the recording's calls. Every row also goes through --json, whose totals must
# agree with the text output's.
row() {
  local what=$1 status=$2 holds=$3
  recording "$4" >row.rec
  "$palavox" verify row.rec >out.txt 2>err.txt
  local got=$?
  if [ "$got" != "$status" ]; then
    fail "$what: exit $got, expected $status: $(head -c 300 err.txt out.txt)"
  elif [ -n "$holds" ] && ! grep -qF -- "$holds" out.txt; then
    fail "$what: no '$holds' in: $(cat out.txt)"
  elif ! { "$palavox" verify --json row.rec || true; } | python3 -c '
import json, re, sys
j = json.load(sys.stdin)
text = open("out.txt").read()
s = j["summary"]
line = "%d calls: %d identical, %d different" % (s["calls"], s["identical"], s["different"])
assert line in text, line
assert len(j["differences"]) == s["different"], "one object per difference"
for cause, n in s["by_cause"].items():
    assert "  %s: %d\n" % (cause, n) in text, cause
'; then
    fail "$what: --json disagrees with the text output"
  else
    pass
  fi
}

T=$'\t'
link_twice='veja http://a/?u=http://b fim'
A() { printf '<a href="%s" target="%s">%s</a>' "$1" "${2:-_self}" "$1"; }

row "identical calls, each method"      0 'verdict: every call identical' \
  "text\t1\t1\tAção http://a/b (SP)\nRemoverAcentuacao\t\\\\@\tok\tAcao http   a b  SP \nTrataHTML\t\\\\@\t\\\\-\tok\tAção $(A http://a/b) (SP)\nFindString\t\\\\@\tação\t\\\\-\tok\t1\nFindString\t\\\\@\tAÇÃO\tB\tok\t0\nFindString\t\\\\@\t\tB\tok\t-1"
row "the same error number"             0 '1 calls: 1 identical' \
  "FindString\t\ta\t\\\\-\terror\t13\tTipos incompat\\\\u00EDveis"
row "exact units: NUL CR tab \\\\ lone surrogates" 0 'every call identical' \
  "RemoverAcentuacao\ta\\\\0b\\\\rc\\\\td\\\\\\\\\\\\uD800é\\\\uDC00\tok\ta\\\\0b\\\\rc\\\\td\\\\\\\\\\\\ud800e\\\\uDC00"
row "UTF-8 as itself equals its \\\\u form" 0 'every call identical' \
  "RemoverAcentuacao\t\\\\u00C1gua\tok\tAgua"
row "a NUL that differs is a difference" 1 'unexplained: 1' \
  "RemoverAcentuacao\tab\tok\tab\\\\0"
row "link holding http twice: error 5"  0 'link holding "http" twice: 1' \
  "TrataHTML\t$link_twice\t\\\\-\terror\t5\tInvalid procedure call or argument"
row "link holding http twice: httphttp, _blank" 0 'link holding "http" twice: 1' \
  "TrataHTML\tx httphttp\t_blank\terror\t5\tInvalid procedure call or argument"
row "http twice, but another error"     1 'unexplained: 1' \
  "TrataHTML\t$link_twice\t\\\\-\terror\t13\tType mismatch"
row "placeholder-like text replaced"    0 'placeholder-like text: 1' \
  "TrataHTML\t|[_link1_]| http://a\t_blank\tok\t$(A http://a _blank) $(A http://a _blank)"
row "placeholder of link 2"             0 'placeholder-like text: 1' \
  "TrataHTML\thttp://a |[_link2_]| http://b\t\\\\-\tok\t$(A http://a) $(A http://b) $(A http://b)"
row "placeholder and http twice: the error wins" 0 'link holding "http" twice: 1' \
  "TrataHTML\t|[_link1_]| $link_twice\t\\\\-\terror\t5\tInvalid procedure call or argument"
row "placeholder text, other markup"   1 'unexplained: 1' \
  "TrataHTML\t|[_link1_]| http://a\t\\\\-\tok\t|[_link1_]| http://a"
row "Kelvin sign: upper-case or ASCII"  0 'U+212A; the recorded count is what ASCII-only case folding or upper-case mapping gives' \
  "FindString\tStraße \\\\u212A\tk\t\\\\-\tok\t0"
row "Turkic dotted capital I"           0 'Turkic case folding' \
  "FindString\tİstanbul istanbul\ti\t\\\\-\tok\t2"
row "Turkic capital I, both cases searched" 0 'letters I U+0049, i U+0069; the recorded count is what Turkic' \
  "FindString\tIi iI\tiI\t\\\\-\tok\t1"
row "Kelvin sign, a search letter twice" 0 'U+212A; the recorded count is what ASCII-only case folding or upper-case mapping gives' \
  "FindString\t\\u212A\\u212A kk\tkk\t\\\\-\tok\t1"
row "a letter past U+FFFF in the text"  0 'letters Ã U+00C3, ã U+00E3' \
  "FindString\t𐐀 São SÃO são\tsão\t\\\\-\tok\t2"
row "lone surrogates in the text"       0 'letters Ã U+00C3, ã U+00E3' \
  "FindString\t\\\\uD800a São SÃO são \\\\uD800\tsão\t\\\\-\tok\t2"
row "accented capitals, ASCII only"     0 'letters Ã U+00C3, ã U+00E3' \
  "FindString\tSão SÃO são\tsão\t\\\\-\tok\t2"
row "final sigma, lower-case mapping"   0 'the recorded count is what lower-case mapping gives' \
  "FindString\tσας ΣΑΣ\tσ\t\\\\-\tok\t3"
row "ß and ẞ"                           0 'case-insensitive comparison beyond ASCII: 1' \
  "FindString\tẞ ß\tß\tx\tok\t1"
row "a count no comparison gives"       1 'unexplained: 1' \
  "FindString\tCasa casa CASA\tcasa\t\\\\-\tok\t7"
row "binary mode is never a case matter" 1 'unexplained: 1' \
  "FindString\tStraße \\\\u212A\tk\tB\tok\t5"
row "binary mode b is never a case matter" 1 'unexplained: 1' \
  "FindString\tStraße \\\\u212A\tk\tb\tok\t5"
row "a recorded error where Palavox counts" 1 'unexplained: 1' \
  "FindString\tabc\ta\t\\\\-\terror\t13\tType mismatch"
row "an empty search text counted otherwise" 1 'unexplained: 1' \
  "FindString\tabc\t\t\\\\-\tok\t0"
row "an empty text marked up otherwise"  1 'unexplained: 1' \
  "TrataHTML\t\t\\\\-\tok\tx"
row "two unexplained"                   1 'verdict: 2 differences unexplained' \
  "RemoverAcentuacao\ta\tok\tb\nRemoverAcentuacao\tc\tok\td"
row "a comment line"                    0 'every call identical' \
  "# written by hand\nRemoverAcentuacao\ta\tok\ta"
row "a text of a whole file"            1 '(input 1 whole)' \
  "text\t1\twhole\tCasa\nFindString\t\\\\@\tcasa\t\\\\-\tok\t9"
row "a count where Palavox fails"        1 'unexplained: 1' \
  "FindString\t\ta\t\\\\-\tok\t0"
row "folding that differs"              1 'unexplained: 1' \
  "RemoverAcentuacao\tção\tok\tçao"
row "shown exactly: escapes, controls, a pair, lone surrogates" 1 \
  'recorded: "x\0\t\"\\\u0001\u0085\u007F😀\uDC00y\uD800"' \
  "RemoverAcentuacao\ta\tok\tx\\\\0\\\\t\"\\\\\\\\\\\\u0001\\\\u0085\\\\u007F😀\\\\uDC00y\\\\uD800"
row "shown exactly: LF and CR"           1 'recorded: "a\nb\rc"' \
  "RemoverAcentuacao\ta\tok\ta\\\\nb\\\\rc"
a=$(printf 'a%.0s' {1..100}) b=$(printf 'b%.0s' {1..100})
row "a long text's window, cut on both sides" 1 "recorded: ...\"${a:40}c${b:0:59}\"... (200 units)" \
  "RemoverAcentuacao\t$a$b\tok\t${a}c${b:1}"
row "a long text's window to its end"    1 "recorded: ...\"${b:0:60}c\" (200 units)" \
  "RemoverAcentuacao\t$a$b\tok\t$a${b:1}c"
row "a long text's window ends on a pair" 1 "recorded: ...\"${a:40}c${a:0:58}😀\"... (300 units)" \
  "RemoverAcentuacao\t$a$a${a:0:9}😀${a:0:89}\tok\t${a}${a:0:50}c${a:0:49}${a:0:9}😀${a:0:89}"
b59=$(printf 'b%.0s' {1..59})
row "a long text's window keeps a pair whole" 1 "recorded: ...\"😀${b59}c" \
  "RemoverAcentuacao\t$(printf 'a%.0s' {1..59})😀$(printf 'b%.0s' {1..200})\tok\t$(printf 'a%.0s' {1..59})😀${b59}c$(printf 'b%.0s' {1..140})"
row "texts from a text line"            1 '(input 2 line 7)' \
  "text\t2\t7\tCasa\nFindString\t\\\\@\tcasa\t\\\\-\tok\t9"
row "every cause at once"               1 'verdict: 1 difference unexplained' \
  "TrataHTML\t$link_twice\t\\\\-\terror\t5\tx\nTrataHTML\t|[_link1_]| http://a\t\\\\-\tok\t$(A http://a) $(A http://a)\nFindString\t\\\\u212A k\tk\t\\\\-\tok\t1\nRemoverAcentuacao\ta\tok\tb"

# Damaged recordings: an error naming the file and the line, exit 1, no verdict.
damaged() {
  local what=$1 holds=$2
  printf '%b' "$3" >damaged.rec
  "$palavox" verify damaged.rec >out.txt 2>err.txt
  local got=$?
  if [ "$got" != 1 ] || ! grep -qF -- "$holds" err.txt || grep -q verdict out.txt; then
    fail "$what: exit $got, stderr '$(cat err.txt)', stdout '$(head -c 200 out.txt)'"
  else
    pass
  fi
}
good="palavox-recording\t1\nRemoverAcentuacao\ta\tok\ta\n"
damaged "no end line: truncated"        'damaged.rec:2: the recording stops after this line' "$good"
damaged "cut inside a line"             'damaged.rec:3: the recording stops in the middle' "${good}end\t0\t1"
damaged "a line missing"                'damaged.rec:3: the end line counts 0 texts and 2 calls' "${good}end\t0\t2\n"
damaged "a line after the end"          'damaged.rec:4: a line after the end line' "${good}end\t0\t1\n${good}"
damaged "empty file"                    'damaged.rec: the file is empty' ""
damaged "not a recording"               'damaged.rec:1: not a recording' "FindString\ta\ta\t\\\\-\tok\t1\n"
damaged "a newer format"                'damaged.rec:1: recording format' "palavox-recording\t2\n"
damaged "bad escape"                    "damaged.rec:2: unknown escape '\\q'" "palavox-recording\t1\nRemoverAcentuacao\ta\\\\qb\tok\ta\nend\t0\t1\n"
damaged "short \\\\u"                   'damaged.rec:2: \u needs four hex digits' "palavox-recording\t1\nRemoverAcentuacao\ta\\\\u12\tok\ta\nend\t0\t1\n"
damaged "invalid UTF-8"                 'damaged.rec:2: not valid UTF-8 at byte 2' "palavox-recording\t1\nRemoverAcentuacao\ta\xc3(\tok\ta\nend\t0\t1\n"
damaged "a raw CR inside a field"       'damaged.rec:2: a carriage return inside a field' "palavox-recording\t1\nRemoverAcentuacao\ta\rb\tok\ta\nend\t0\t1\n"
damaged "a field missing"               'damaged.rec:2: TrataHTML needs 2 arguments' "palavox-recording\t1\nTrataHTML\ta\tok\nend\t0\t1\n"
damaged "neither ok nor error"          "damaged.rec:2: the result must start with 'ok' or 'error'" "palavox-recording\t1\nRemoverAcentuacao\ta\tfine\ta\nend\t0\t1\n"
damaged "a count that is no number"     "damaged.rec:2: FindString's result is not a whole number" "palavox-recording\t1\nFindString\ta\ta\t\\\\-\tok\t1x\nend\t0\t1\n"
damaged "omitted where required"        'damaged.rec:2: \- (omitted) for an argument that is required' "palavox-recording\t1\nFindString\ta\t\\\\-\t\\\\-\tok\t1\nend\t0\t1\n"
damaged "\\\\@ before any text"         'damaged.rec:2: \@ with no text line before it' "palavox-recording\t1\nRemoverAcentuacao\t\\\\@\tok\ta\nend\t0\t1\n"
damaged "an escape of a letter"         "damaged.rec:2: unknown escape '\\é'" "palavox-recording\t1\nRemoverAcentuacao\ta\\\\éb\tok\ta\nend\t0\t1\n"
damaged "a long name cut before a letter" "damaged.rec:2: unknown record 'a$(printf 'é%.0s' {1..19})...'" "palavox-recording\t1\na$(printf 'é%.0s' {1..30})\ta\nend\t0\t0\n"
damaged "unknown record"                "damaged.rec:2: unknown record 'Other'" "palavox-recording\t1\nOther\ta\nend\t0\t0\n"
damaged "a control character in a name" "damaged.rec:2: unknown record 'Oth?er'" "palavox-recording\t1\nOth\001er\ta\nend\t0\t0\n"
damaged "an empty line"                 'damaged.rec:2: a line without a record name' "palavox-recording\t1\n\nend\t0\t0\n"
for digits in ' 123' 12g4 12G4 '12:4' 1; do
  damaged "\\u$digits"                 'damaged.rec:2: \u needs four hex digits' "palavox-recording\t1\nRemoverAcentuacao\ta\\\\u$digits\tok\ta\nend\t0\t1\n"
done
damaged "a field ending in a backslash" "damaged.rec:2: unknown escape '\\'" "palavox-recording\t1\nRemoverAcentuacao\ta\\\\\tok\ta\nend\t0\t1\n"
damaged "an empty count"                "damaged.rec:2: FindString's result is not a whole number: ''" "palavox-recording\t1\nFindString\ta\ta\t\\\\-\tok\t\nend\t0\t1\n"
damaged "a count past 64 bits"          "damaged.rec:2: FindString's result is not a whole number" "palavox-recording\t1\nFindString\ta\ta\t\\\\-\tok\t99999999999999999999\nend\t0\t1\n"
damaged "a text line short of a field"  'damaged.rec:2: text needs 4 fields, not 3' "palavox-recording\t1\ntext\t1\t1\nend\t1\t0\n"
damaged "an end line short of a field"  'damaged.rec:3: end needs 3 fields, not 2' "${good}end\t0\n"
damaged "end counts that are no numbers" 'damaged.rec:3: the end line needs two counts' "${good}end\tx\t1\n"
damaged "an end line's calls no number" 'damaged.rec:3: the end line needs two counts' "${good}end\t0\tx\n"
damaged "an end line counting texts not there" 'damaged.rec:3: the end line counts 5 texts and 1 calls' "${good}end\t5\t1\n"
damaged "a header line without its value" 'damaged.rec:2: progid needs 2 fields, not 1' "palavox-recording\t1\nprogid\n${good#*\\n}end\t0\t1\n"
damaged "a lone surrogate in the header" 'damaged.rec:2: a lone surrogate in the header' "palavox-recording\t1\nhost\t\\\\uD800\nend\t0\t0\n"
damaged "ok and a field too many"       'damaged.rec:2: RemoverAcentuacao needs 4 fields, not 5' "palavox-recording\t1\nRemoverAcentuacao\ta\tok\ta\tb\nend\t0\t1\n"
damaged "an error without its description" 'damaged.rec:2: RemoverAcentuacao needs 5 fields, not 4' "palavox-recording\t1\nRemoverAcentuacao\ta\terror\t5\nend\t0\t1\n"
damaged "an error number that is no number" "damaged.rec:2: the error number is not a whole number: 'x'" "palavox-recording\t1\nRemoverAcentuacao\ta\terror\tx\td\nend\t0\t1\n"
"$palavox" verify - <damaged.rec >/dev/null 2>err.txt
[ $? = 1 ] && grep -q '^palavox: verify: standard input:2: the error number' err.txt && pass ||
  fail "a damaged recording on standard input: $(cat err.txt)"

# Shadow recordings (a shadow line in the header): no end line, a last line
# still being written left out, totals and lost lines; anything else damaged
# is still refused. One row: what, exit status, text the output must hold, the file.
shadow_row() {
  local what=$1 status=$2 holds=$3
  printf '%b' "$4" >shadow.rec
  "$palavox" verify shadow.rec >out.txt 2>err.txt
  local got=$?
  if [ "$got" != "$status" ] || ! grep -qF -- "$holds" out.txt err.txt; then
    fail "$what: exit $got, stdout '$(head -c 300 out.txt)', stderr '$(cat err.txt)'"
  else
    pass
  fi
}
shadow="palavox-recording\t1\nshadow\t1\nprogid\tPalavox.PalavoxClass\nhost\tw3wp.exe (process 7)\n"
link="TrataHTML\t$link_twice\t\\\\-\terror\t5\tInvalid procedure call or argument\n"
shadow_row "shadow: no end line"             0 '1 calls: 0 identical, 1 different' "$shadow$link"
shadow_row "shadow: its cause named"         0 'link holding "http" twice: 1' "$shadow$link"
shadow_row "shadow: a line still being written" 0 '1 calls: 0 identical, 1 different' "$shadow${link}TrataHTML\tveja"
shadow_row "shadow: totals counted"          0 'shadow mode: 1000 calls watched in 1 host processes, 1 answered differently, 0 of them not recorded' \
  "$shadow${link}totals\t1000\t1\t0\n"
shadow_row "shadow: the last totals of a host" 0 '2000 calls watched in 1 host processes' \
  "$shadow${link}totals\t1000\t1\t0\ntotals\t2000\t1\t0\n"
shadow_row "shadow: records not written"     1 '3 differing calls not recorded by shadow mode' \
  "${shadow}lost\t3\n${link}totals\t1000\t4\t3\n"
shadow_row "shadow: an end line still checked" 1 'shadow.rec:6: the end line counts 0 texts and 7 calls' "$shadow${link}end\t0\t7\n"
shadow_row "shadow: a totals line short of a count" 1 'shadow.rec:6: totals needs 4 fields, not 3' "$shadow${link}totals\t1\t2\n"
shadow_row "shadow: totals that are no numbers" 1 "shadow.rec:6: a totals line needs counts, not 'x'" "$shadow${link}totals\t1\tx\t0\n"
shadow_row "shadow: a negative lost count"   1 "shadow.rec:5: a lost line needs counts, not '-1'" "${shadow}lost\t-1\n"
shadow_row "shadow: a damaged call"          1 "shadow.rec:5: the result must start with 'ok' or 'error'" "${shadow}RemoverAcentuacao\ta\tfine\ta\n"
shadow_row "shadow: unexplained, and records not written" 1 'verdict: 1 difference unexplained; 3 differing calls not recorded' \
  "${shadow}lost\t3\nRemoverAcentuacao\ta\tok\tb\ntotals\t10\t4\t3\n"
# A host's parts in any order: its largest totals count; the Markdown report says them too.
printf '%b' "$shadow${link}totals\t2000\t1\t0\n" >part-1.rec
printf '%b' "${shadow/shadow\t1/shadow\t2}totals\t1000\t1\t0\n" >part-2.rec
"$palavox" verify --report parts.md part-1.rec part-2.rec >out.txt 2>err.txt
[ $? = 0 ] && grep -q '^shadow mode: 2000 calls watched in 1 host processes' out.txt &&
  grep -q '^Shadow mode: 2000 calls watched in 1 host processes' parts.md && pass ||
  fail "a host's parts, largest totals first, and the Markdown report: $(cat out.txt err.txt)"
printf '%b' "${good}totals\t1\t0\t0\n" >notshadow.rec
"$palavox" verify notshadow.rec >/dev/null 2>err.txt
[ $? = 1 ] && grep -q 'notshadow.rec:3: a totals line belongs to a shadow recording' err.txt && pass ||
  fail "a totals line in a recording that is not a shadow one: $(cat err.txt)"

# Usage and files.
"$palavox" verify >/dev/null 2>err.txt
[ $? = 2 ] && grep -q 'needs at least one RECORDING' err.txt && pass || fail "verify without a recording"
"$palavox" verify --frobnicate row.rec >/dev/null 2>err.txt
[ $? = 2 ] && grep -q "unknown option '--frobnicate'" err.txt && pass || fail "verify, unknown option"
"$palavox" verify no-such.rec >/dev/null 2>err.txt
[ $? = 1 ] && grep -q 'no-such.rec' err.txt && pass || fail "verify, missing recording"
"$palavox" verify row.rec --report >/dev/null 2>err.txt
[ $? = 2 ] && grep -q -- '--report needs a value' err.txt && pass || fail "verify, --report last"
"$palavox" verify --report= row.rec >/dev/null 2>err.txt
[ $? = 2 ] && grep -q -- '--report needs a file name' err.txt && pass || fail "verify, --report="
"$palavox" verify '' >/dev/null 2>err.txt
[ $? = 1 ] && grep -q '^palavox: verify: : No such file' err.txt && pass || fail "verify, an empty name"
"$palavox" verify . >/dev/null 2>err.txt
[ $? = 1 ] && grep -q '^palavox: verify: \.: Is a directory' err.txt && pass ||
  fail "verify, a folder: $(cat err.txt)"
recording "RemoverAcentuacao\ta\tok\ta" >./-dash.rec
"$palavox" verify -- -dash.rec >/dev/null 2>err.txt
[ $? = 0 ] && pass || fail "verify -- before a recording named with a dash: $(cat err.txt)"
# Standard output that takes nothing: a short run fails when it is flushed, a
# long one as it is written.
recording "RemoverAcentuacao\ta\tok\ta" >one.rec
"$palavox" verify one.rec >/dev/full 2>err.txt
[ $? = 1 ] && grep -q 'standard output: No space left on device' err.txt && pass ||
  fail "verify to a full device: $(cat err.txt)"
recording "$(for i in $(seq 200); do printf 'RemoverAcentuacao\\ta\\tok\\tb\\n'; done)" >many.rec
"$palavox" verify many.rec >/dev/full 2>err.txt
[ $? = 1 ] && grep -q 'standard output: No space left on device' err.txt && pass ||
  fail "verify, 200 differences to a full device: $(cat err.txt)"
# A line longer than what one read takes (1 MB).
long=$(head -c 1500000 /dev/zero | tr '\0' a)
printf 'palavox-recording\t1\nRemoverAcentuacao\t%s\tok\t%s\nend\t0\t1\n' "$long" "$long" >long.rec
"$palavox" verify long.rec >out.txt && grep -q '1 calls: 1 identical' out.txt && pass ||
  fail "a line longer than a read: $(cat out.txt)"
# CR LF line ends; a recording with no header; every header field.
recording "RemoverAcentuacao\ta\tok\ta" | sed 's/$/\r/' >crlf.rec
"$palavox" verify crlf.rec >out.txt && grep -q '1 calls: 1 identical' out.txt && pass ||
  fail "CR LF line ends: $(cat out.txt)"
printf 'palavox-recording\t1\nRemoverAcentuacao\ta\tok\ta\nend\t0\t1\n' >bare.rec
printf 'palavox-recording\t1\nprogid\tOld.Component\ndll\tC:\\\\old.dll\nversion\t2.0\nbitness\t32\ndate\t2024-05-01\nhost\tA\\tB\tC\ninput\tx.txt\nend\t0\t0\n' >header.rec
"$palavox" verify bare.rec header.rec >out.txt &&
  grep -qx 'bare.rec: (no header)' out.txt &&
  grep -qxF "header.rec: progid Old.Component; dll C:\\old.dll; version 2.0; bitness 32; date 2024-05-01; host A$T""B C; input x.txt" out.txt &&
  pass || fail "header fields: $(cat out.txt)"
"$palavox" verify --json bare.rec header.rec | python3 -c '
import json, sys
j = json.load(sys.stdin)
assert [r["file"] for r in j["recordings"]] == ["bare.rec", "header.rec"], j
assert j["recordings"][0]["header"] == [], j
assert ["host", "A\tB C"] in j["recordings"][1]["header"], j
' && pass || fail "header fields in --json"
recording "RemoverAcentuacao\ta\tok\ta" >one.rec
recording "FindString\t\\\\u212A\tk\t\\\\-\tok\t0" >two.rec
"$palavox" verify one.rec - <two.rec >out.txt && grep -q '2 calls: 1 identical, 1 different' out.txt &&
  grep -q '^standard input line 4' out.txt && pass || fail "two recordings, one on stdin: $(cat out.txt)"

# --report: the whole report, or nothing (and no scratch files) after a failure.
"$palavox" verify --report report.md one.rec two.rec >/dev/null
[ $? = 0 ] && grep -q '^\*\*Verdict: every difference explained by a deliberate change.\*\*$' report.md &&
  grep -q '^1\. \*\*case-insensitive comparison beyond ASCII\*\*, ` two.rec ` line 4$' report.md &&
  grep -q '| case-insensitive comparison beyond ASCII | 1 |' report.md && pass ||
  fail "--report: $(cat report.md)"
echo previous >old.md
"$palavox" verify --report=old.md one.rec damaged.rec >/dev/null 2>&1
[ $? = 1 ] && [ "$(cat old.md)" = previous ] && pass || fail "a failed run leaves the old report"
"$palavox" verify --report new.md damaged.rec >/dev/null 2>&1
[ ! -e new.md ] && [ -z "$(ls -A | grep '^\.palavox-report')" ] && pass ||
  fail "a failed run leaves no report and no scratch file"
"$palavox" verify --report no-such-dir/r.md one.rec >/dev/null 2>err.txt
[ $? = 1 ] && grep -q no-such-dir err.txt && pass || fail "--report into a missing folder"
mkdir -p report-folder
"$palavox" verify --report report-folder one.rec >/dev/null 2>err.txt
[ $? = 1 ] && grep -q 'report-folder: Is a directory' err.txt && [ -z "$(ls -A report-folder)" ] &&
  [ -z "$(ls -A | grep '^\.palavox-report')" ] && pass || fail "--report onto a folder: $(cat err.txt)"
"$palavox" verify --report none.md one.rec >/dev/null && grep -qx 'None.' none.md && pass ||
  fail "--report, nothing different: $(cat none.md)"
recording "text\t2\t7\tCasa\nFindString\t\\\\@\tcasa\t\\\\-\tok\t9\nTrataHTML\ta\\x60b\t\\\\-\tok\tab" >from.rec
"$palavox" verify --report from.md from.rec >/dev/null
[ $? = 1 ] && grep -q '^1\. \*\*unexplained\*\*, ` from.rec ` line 5 (input 2 line 7)$' from.md &&
  grep -qF '   - Palavox: `` "a`b" ``' from.md && ! grep -q 'why:' from.md && pass ||
  fail "--report, a text line's call and a backtick: $(cat from.md)"

# The example of docs/migrating.md is a recording, every call of it identical.
awk '/^palavox-recording\t1$/,/^end\t/' "$root/docs/migrating.md" >example.rec
"$palavox" verify example.rec >out.txt && grep -qx '4 calls: 4 identical, 0 different' out.txt &&
  pass || fail "the example of docs/migrating.md: $(cat out.txt)"

# Over 100 MB, one call of every kind and one of each cause repeated: the
# verdict and the totals are exact, and memory stays bounded.
if [ "$rss_check" = rss ]; then
  python3 - <<'EOF'
link = '<a href="http://a/b" target="_self">http://a/b</a>'
block = "".join([
    "text\t1\t{n}\tA\u00e7\u00e3o em S\u00e3o Paulo http://a/b \u00e9 aqui " + "x" * 60 + "\n",
    "RemoverAcentuacao\t\\@\tok\tAcao em Sao Paulo http   a b e aqui " + "x" * 60 + "\n",
    "TrataHTML\t\\@\t\\-\tok\tA\u00e7\u00e3o em S\u00e3o Paulo " + link + " \u00e9 aqui " + "x" * 60 + "\n",
    "FindString\t\\@\tS\u00c3O\t\\-\tok\t1\n",
    "FindString\t\\@\tS\u00c3O\tB\tok\t0\n",
    "TrataHTML\tveja http://a/?u=http://b\t\\-\terror\t5\tInvalid procedure call or argument\n",
])
blocks = 0
with open("big.rec", "w", encoding="utf-8") as f:
    f.write("palavox-recording\t1\nprogid\tOld.Component\n")
    size = 0
    while size < 101 * 1000 * 1000:
        chunk = "".join(block.replace("{n}", str(blocks + i + 1)) for i in range(1000))
        f.write(chunk)
        size += len(chunk.encode("utf-8"))
        blocks += 1000
    f.write(f"end\t{blocks}\t{blocks * 5}\n")
open("big.blocks", "w").write(str(blocks))
EOF
  blocks=$(cat big.blocks)
  size=$(stat -c %s big.rec)
  /usr/bin/time -f %M -o rss.txt "$palavox" verify big.rec >big.out
  status=$?
  rss=$(tail -n 1 rss.txt)
  echo "peak RSS of verify on a $((size / 1000000)) MB recording ($((blocks * 5)) calls): $rss kB"
  [ "$size" -gt 100000000 ] && pass || fail "the recording is only $size bytes"
  [ $status = 0 ] && grep -q "^$((blocks * 5)) calls: $((blocks * 4)) identical, $blocks different$" big.out &&
    grep -q "^  link holding \"http\" twice: $blocks$" big.out && pass ||
    fail "100 MB: exit $status, $(tail -n 7 big.out)"
  [ "$rss" -lt 64000 ] && pass || fail "100 MB: peak RSS $rss kB, over 64 MB"
  rm -f big.rec
fi
# A line longer than the memory it may take (100 MB of address space): out of memory, exit 1.
if [ "$rss_check" != no-rss ]; then
  { printf 'palavox-recording\t1\ntext\t1\twhole\t'; head -c 300000000 /dev/zero | tr '\0' a; } |
    (ulimit -v 100000 && "$palavox" verify -) >/dev/null 2>err.txt
  [ "${PIPESTATUS[1]}" = 1 ] && grep -qx 'palavox: verify: out of memory' err.txt && pass ||
    fail "a line past the memory allowed: $(cat err.txt)"
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

#!/usr/bin/env bash
# `palavox verify` on hand-made recordings: each planted difference reported
# as its own cause with the right exit status, exact texts, damaged
# recordings refused with file and line, the report written whole or not at
# all, and a recording of over 100 MB verified in bounded memory.
#   tests/cli/verify-test.sh <palavox> <scratch dir> [no-rss]
# (no-rss under sanitizers, whose own memory is all that peak RSS would show)
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
row "a count where Palavox fails"        1 'unexplained: 1' \
  "FindString\t\ta\t\\\\-\tok\t0"
row "folding that differs"              1 'unexplained: 1' \
  "RemoverAcentuacao\tção\tok\tçao"
row "shown exactly: escapes, controls, a pair, lone surrogates" 1 \
  'recorded: "x\0\t\"\\\u0001\u0085\u007F😀\uDC00y\uD800"' \
  "RemoverAcentuacao\ta\tok\tx\\\\0\\\\t\"\\\\\\\\\\\\u0001\\\\u0085\\\\u007F😀\\\\uDC00y\\\\uD800"
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

# Usage and files.
"$palavox" verify >/dev/null 2>err.txt
[ $? = 2 ] && grep -q 'needs at least one RECORDING' err.txt && pass || fail "verify without a recording"
"$palavox" verify --frobnicate row.rec >/dev/null 2>err.txt
[ $? = 2 ] && grep -q "unknown option '--frobnicate'" err.txt && pass || fail "verify, unknown option"
"$palavox" verify no-such.rec >/dev/null 2>err.txt
[ $? = 1 ] && grep -q 'no-such.rec' err.txt && pass || fail "verify, missing recording"
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

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

#!/usr/bin/env bash
# The `palavox` command as a user meets it: usage and exit statuses, options
# before or after the file, invalid input, output that appears whole or not at
# all, a terminal on stdin, and memory that stays flat on a large input read in
# small pieces.
#   tests/cli/command-test.sh <palavox> <scratch dir> <version> [no-rss|no-large]
# (no-rss under sanitizers, whose own memory is all that peak RSS would show;
# no-large in the coverage tree, which leaves out the 24 MB inputs)
set -uo pipefail
palavox=$(realpath "$1") work=$2 version=$3 rss_check=${4:-rss}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 2
passed=0 failed=0
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
pass() { passed=$((passed + 1)); }

# One row: what, expected exit status, expected stdout ('*' = anything),
# expected stderr fragment ('' = none needed), stdin, then the arguments.
row() {
  local what=$1 status=$2 out=$3 err=$4 input=$5
  shift 5
  local got_out got_status
  got_out=$(printf '%b' "$input" | "$palavox" "$@" 2>stderr.txt; echo "~$?")
  got_status=${got_out##*~}
  got_out=${got_out%~*}
  got_out=${got_out%$'\n'}
  if [ "$got_status" != "$status" ]; then
    fail "$what: exit $got_status, expected $status ($(head -c 200 stderr.txt))"
  elif [ "$out" != '*' ] && [ "$got_out" != "$(printf '%b' "$out")" ]; then
    fail "$what: printed '$got_out', expected '$out'"
  elif [ -n "$err" ] && ! grep -qF -- "$err" stderr.txt; then
    fail "$what: no '$err' in: $(head -c 200 stderr.txt)"
  else
    pass
  fi
}

printf 'Ver http://a/b (SP) a\xc3\xa7\xc3\xa3o\n' >in.txt
link='Ver <a href="http://a/b" target="T">http://a/b</a> (SP) a\xc3\xa7\xc3\xa3o\n'

row "--help"                           0 '*' ''  '' --help
row "-h"                               0 '*' ''  '' -h
row "--version"                        0 "palavox $version" '' '' --version
row "no arguments"                     2 '' 'usage:' ''
row "unknown command"                  2 '' 'unknown command' '' fold
row "unknown option"                   2 '' 'unknown option' 'x' remover-acentuacao -x
row "-o is not for find-string"        2 '' 'unknown option' 'x' find-string a -o out
row "--target is not for folding"      2 '' 'unknown option' 'x' remover-acentuacao --target T
row "-o without its file"              2 '' 'needs a value' 'x' remover-acentuacao -o
row "find-string without PROCURA"      2 '' 'needs PROCURA' 'x' find-string
row "two input files"                  2 '' 'more than one' '' remover-acentuacao in.txt in.txt
row "PROCURA not UTF-8"                2 '' 'not valid UTF-8' 'x' find-string $'\xff'
for size in '' 12x 0 1073741825; do
  row "--read-size=$size"              2 '' 'needs a number of bytes' 'x' remover-acentuacao --read-size="$size"
done
row "input is a folder"                1 '' '.: Is a directory' '' remover-acentuacao .
row "missing input file"               1 '' 'no-such.txt' '' remover-acentuacao no-such.txt
row "fold from stdin"                  0 'Acao e  x ' '' 'A\xc3\xa7\xc3\xa3o & (x)' remover-acentuacao
row "fold, - is stdin"                 0 'Acao' '' 'A\xc3\xa7\xc3\xa3o' remover-acentuacao -
row "options before the file"          0 "$link" '' '' trata-html --target T in.txt
row "options after the file"           0 "$link" '' '' trata-html in.txt --target=T
row "count ignoring case"              0 '3' '' 'Casa casa CASA' find-string casa
row "count, -B after PROCURA"          0 '1' '' 'Casa casa CASA' find-string casa -B
row "count, --binary"                  0 '1' '' 'Casa casa CASA' find-string --binary casa
# Links far longer than the text they replace: the output of a read fills
# its buffer many times over.
dense='http http http http http'
row "links dense in small reads"       0 "$(for w in $dense; do printf '<a href="%s" target="_self">%s</a> ' $w $w; done | sed 's/ $//')" \
  '' "$dense" trata-html --read-size=3
row "count, -- before a PROCURA with -" 0 '2' '' 'a-b-c' find-string -- -
row "count, empty PROCURA"             0 '-1' '' 'abc' find-string ''
row "count on empty input: error 13"   1 '' 'Type mismatch' '' find-string a
row "count on a UTF-16 input"          0 '2' '' '\xff\xfeA\0a\0' find-string a
row "invalid UTF-8: byte offset"       1 '*' 'invalid UTF-8 at byte offset 5' 'ab cd\xc3(' remover-acentuacao
row "lone UTF-16 surrogate"            1 '*' 'invalid UTF-16 at byte offset 2' '\xfe\xff\xd8\x00' trata-html
row "UTF-8 cut short at the end"       1 '*' 'invalid UTF-8 at byte offset 2' 'ab\xc3' remover-acentuacao
row "UTF-16LE, an odd byte at the end" 1 '*' 'invalid UTF-16 at byte offset 4' '\xff\xfeA\0B' remover-acentuacao
row "lone UTF-16LE surrogate at the end" 1 '*' 'invalid UTF-16 at byte offset 4' '\xff\xfeA\0\x00\xd8' trata-html

# -o: the file appears whole, or not at all; the input is never touched.
echo previous >out.txt
"$palavox" trata-html --target T -o out.txt in.txt
[ "$(cat out.txt)" = "$(printf '%b' "${link%\\n}")" ] && pass || fail "-o writes the result"
"$palavox" trata-html --target T --output new-long.txt in.txt
"$palavox" trata-html in.txt --target=T --output=new-equals.txt
[ "$(cat new-long.txt)" = "$(cat out.txt)" ] && [ "$(cat new-equals.txt)" = "$(cat out.txt)" ] &&
  [ "$(stat -c %a new-long.txt)" = "$(printf '%o' $((0666 & ~$(umask))))" ] &&
  pass || fail "--output, as a new file with the usual permissions"
printf 'good \xc3\xa1 then bad \xc3(' >bad.txt
cp bad.txt bad.orig
echo previous >out.txt
"$palavox" remover-acentuacao bad.txt -o out.txt 2>/dev/null
[ $? = 1 ] && [ "$(cat out.txt)" = previous ] && pass || fail "failed run leaves -o's old file"
"$palavox" remover-acentuacao bad.txt -o new.txt 2>/dev/null
[ ! -e new.txt ] && pass || fail "failed run leaves no new -o file"
"$palavox" remover-acentuacao bad.txt -o bad.txt 2>/dev/null
cmp -s bad.txt bad.orig && pass || fail "failed run in place leaves the input as it was"
cp in.txt inplace.txt && chmod 640 inplace.txt
"$palavox" remover-acentuacao inplace.txt -o inplace.txt
[ "$(cat inplace.txt)" = "Ver http   a b  SP  acao" ] && [ "$(stat -c %a inplace.txt)" = 640 ] &&
  pass || fail "in place: the result, with the file's own permissions"
"$palavox" remover-acentuacao in.txt -o no-such-dir/out.txt 2>stderr.txt
[ $? = 1 ] && grep -q no-such-dir stderr.txt && pass || fail "-o into a missing folder"
mkdir -p a-folder
"$palavox" remover-acentuacao in.txt -o a-folder 2>stderr.txt
[ $? = 1 ] && grep -q 'a-folder: Is a directory' stderr.txt && [ -z "$(ls -A a-folder)" ] &&
  ! ls -A | grep -q '^\.palavox-' && pass || fail "-o onto a folder: $(cat stderr.txt)"
long=$(printf 'd/%.0s' {1..2050})
"$palavox" remover-acentuacao in.txt -o "${long}out.txt" 2>stderr.txt
[ $? = 1 ] && grep -q 'File name too long' stderr.txt && pass || fail "-o, a path too long"
# Standard output that takes nothing, or is not there; standard input closed.
"$palavox" remover-acentuacao in.txt >/dev/full 2>stderr.txt
[ $? = 1 ] && grep -q 'standard output: No space left on device' stderr.txt && pass ||
  fail "output to a full device: $(cat stderr.txt)"
"$palavox" remover-acentuacao in.txt >&- 2>stderr.txt
[ $? = 1 ] && grep -q 'standard output: Bad file descriptor' stderr.txt && pass ||
  fail "standard output closed: $(cat stderr.txt)"
"$palavox" remover-acentuacao <&- 2>stderr.txt
[ $? = 1 ] && grep -q 'standard input: Bad file descriptor' stderr.txt && pass ||
  fail "standard input closed: $(cat stderr.txt)"
# A run killed half way leaves nothing behind either.
mkfifo slow.fifo
"$palavox" remover-acentuacao slow.fifo -o killed.txt &
pid=$!
exec 3>slow.fifo
printf 'half' >&3
# Until its temporary file is there (then its signal handlers are too), or it has
# ended; the deadline is only a fail-safe, the file comes within a second even when loaded.
deadline=$((SECONDS + 120))
until ls -A | grep -q '^\.palavox-' || ! kill -0 $pid 2>/dev/null || [ $SECONDS -ge $deadline ]; do
  sleep 0.02
done
ls -A | grep '^\.palavox-' >/dev/null && pass || fail "no temporary file while -o is being written"
kill -TERM $pid
wait $pid 2>/dev/null
exec 3>&-
[ ! -e killed.txt ] && pass || fail "a killed run leaves no -o file"
leftovers=$(ls -A | grep -c '^\.palavox-' || true)
[ "$leftovers" = 0 ] && pass || fail "temporary files left behind: $leftovers"

# A terminal on stdin and no FILE: usage at once instead of waiting (a command
# that waited would be stopped by the fail-safe, exit 124; usage takes well under a second).
if command -v script >/dev/null; then
  timeout 120 script -qec "$palavox remover-acentuacao" /dev/null >tty.txt 2>&1 </dev/null
  status=$?
  [ $status = 2 ] && grep -q usage: tty.txt && pass || fail "terminal on stdin: exit $status"
fi

# Memory stays flat: 24 MB through a pipe in 4 KiB reads, each command, with
# its result checked; a whole-input design would need well over 48 MB here.
if [ "$rss_check" = rss ]; then
  lines=600000
  yes 'Ação http://x.com/página?a=ç | São Paulo (SP) aaaa' | head -n $lines >big.txt
  want=$(yes 'Acao http   x.com pagina a c | Sao Paulo  SP  aaaa' | head -n $lines | md5sum)
  for cmd in "remover-acentuacao" "trata-html --target T" "find-string aa"; do
    # shellcheck disable=SC2086
    /usr/bin/time -f %M -o rss.txt sh -c "\"\$0\" $cmd --read-size=4096 <big.txt >big.out" "$palavox"
    rss=$(tail -n 1 rss.txt)
    [ "$rss" -lt 16000 ] && pass || fail "$cmd: peak RSS ${rss} kB on 24 MB"
    echo "peak RSS of $cmd on 24 MB: $rss kB"
  done
  [ "$(cat big.out)" = $((lines * 2)) ] && pass || fail "find-string on 24 MB: $(cat big.out)"
  "$palavox" remover-acentuacao --read-size=4096 big.txt | md5sum | grep -qF "${want%% *}" &&
    pass || fail "remover-acentuacao on 24 MB: a different result"
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

#!/usr/bin/env bash
# The `palavox` command at pipe speed: `cat FILE | palavox ... | cat >/dev/null`
# beside `cat FILE | cat | cat >/dev/null`, runs of the two taken in turn,
# the least wall time of five each, as ratios (goals: folding and counting at
# most 1.5, link markup at most 2.0, on a quiet machine), with the CPU time of
# the middle stage; the _utf8 functions once per short row; then 200 MB
# through a pipe: peak RSS, and the result against the library's one call on
# the whole file. Exit status 1 for a wrong result or too much memory; the
# ratios are reported, with the load they were taken under.
#   bench/cli-bench.sh <build dir>     (make bench-cli)
set -euo pipefail
build=$(realpath "$1")
cmake --build "$build" --target palavox_cli palavox_cli_input palavox_whole palavox_row_calls >/dev/null
palavox=$build/cli/palavox
work=$build/cli-bench
mkdir -p "$work"
cd "$work"

[ -f prose-links.txt ] || "$build/bench/palavox_cli_input" prose-links 128 prose-links.txt
[ -f links.txt ] || "$build/bench/palavox_cli_input" links 128 links.txt
echo "inputs: prose-links.txt $(stat -c %s prose-links.txt) bytes (Portuguese prose, a link every"
echo "        60 words), links.txt $(stat -c %s links.txt) bytes (a link every 50 units); page cache warm"
cat prose-links.txt links.txt >/dev/null
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# One run of a pipeline whose middle stage is $2 on file $1: "wall-ms cpu-ms"
# (cpu: user + system time of the middle stage).
run() {
  local start end
  start=$(date +%s%N)
  cat "$1" | /usr/bin/time -f '%U %S' -o cpu.txt $2 | cat >/dev/null
  end=$(date +%s%N)
  awk -v w=$(( (end - start) / 1000000 )) '{ printf "%d %d\n", w, ($1 + $2) * 1000 }' cpu.txt
}

fail=0
printf '\n%-36s %8s %8s %7s %6s  %s\n' "through a pipe" "ms" "cat ms" "ratio" "goal" "CPU ms: palavox / cat"
measure() {  # <label> <file> <goal or -> <palavox arguments>
  local label=$1 file=$2 goal=$3 args=$4 ours=1000000 theirs=1000000 oc=1000000 tc=1000000
  for _ in 1 2 3 4 5; do
    read -r w c < <(run "$file" cat)
    [ "$w" -lt "$theirs" ] && theirs=$w
    [ "$c" -lt "$tc" ] && tc=$c
    read -r w c < <(run "$file" "$palavox $args")
    [ "$w" -lt "$ours" ] && ours=$w
    [ "$c" -lt "$oc" ] && oc=$c
  done
  awk -v l="$label" -v o="$ours" -v t="$theirs" -v g="$goal" -v oc="$oc" -v tc="$tc" 'BEGIN {
    r = o / (t > 0 ? t : 1)
    verdict = g == "-" ? "" : (r <= g ? "  met" : "  NOT met")
    printf "%-36s %8d %8d %7.2f %6s  %d / %d%s\n", l, o, t, r, g, oc, tc, verdict }'
}
measure "remover-acentuacao" prose-links.txt 1.5 remover-acentuacao
measure "find-string para" prose-links.txt 1.5 "find-string para"
measure "find-string -B para" prose-links.txt 1.5 "find-string -B para"
measure "trata-html" prose-links.txt 2.0 trata-html
measure "trata-html, a link every 50 units" links.txt - trata-html
# The command asks the pipes on either side to hold a whole read (1 MiB),
# which speeds the cat stages beside it too; with reads of 64 KiB it leaves
# them as they are, as in the cat-only pipeline.
measure "remover-acentuacao, 64 KiB pipes" prose-links.txt - "remover-acentuacao --read-size=65536"
measure "find-string para, 64 KiB pipes" prose-links.txt - "find-string para --read-size=65536"
measure "trata-html, 64 KiB pipes" prose-links.txt - "trata-html --read-size=65536"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
"$build/bench/palavox_row_calls"

# 200 MB through a pipe in bounded memory, with the library's result.
[ -f big.txt ] || "$build/bench/palavox_cli_input" prose 200 big.txt
size=$(stat -c %s big.txt)
echo
echo "memory: big.txt $size bytes, through a pipe"
for cmd in remover-acentuacao trata-html "find-string para"; do
  ours=$( (cat big.txt | /usr/bin/time -f %M -o rss.txt "$palavox" $cmd | sha256sum) )
  rss=$(tail -n 1 rss.txt)
  whole=$(/usr/bin/time -f %M -o whole-rss.txt "$build/bench/palavox_whole" $cmd big.txt | sha256sum)
  whole_rss=$(tail -n 1 whole-rss.txt)
  verdict=same
  [ "$ours" = "$whole" ] || { verdict=DIFFERENT; fail=1; }
  [ "$rss" -lt 65536 ] || { verdict="$verdict, RSS OVER 64 MB"; fail=1; }
  printf '%-22s peak RSS %6d kB (one library call on the whole file: %7d kB); result %s\n' \
    "$cmd" "$rss" "$whole_rss" "$verdict"
done
exit $fail

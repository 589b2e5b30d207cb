#!/usr/bin/env bash
# The `palavox` command against `cat` of the same file, as ratios of the least
# wall time over five runs each, measured side by side; then 200 MB folded
# through a pipe, its peak RSS, and its result against the library's one call
# on the whole file.
#   bench/cli-bench.sh <build dir>     (make bench-cli)
set -euo pipefail
build=$(realpath "$1")
palavox=$build/cli/palavox
work=$build/cli-bench
mkdir -p "$work"
cd "$work"

# Least wall time in ms of five runs of a shell command line.
best_ms() {
  local best= start end ms
  for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    bash -c "$1"
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

[ -f prose.txt ] || "$build/bench/palavox_cli_input" prose 128 prose.txt
[ -f links.txt ] || "$build/bench/palavox_cli_input" links 128 links.txt
echo "inputs: prose.txt $(stat -c %s prose.txt) bytes, links.txt $(stat -c %s links.txt) bytes (page cache warm)"
cat prose.txt links.txt >/dev/null

printf '\n%-40s %8s %8s %7s\n' "command (128 M units of text)" "ms" "cat ms" "ratio"
measure() {  # <label> <file> <palavox arguments> <sink>
  local label=$1 file=$2 args=$3 sink=$4 ours theirs
  theirs=$(best_ms "cat $file $sink")
  ours=$(best_ms "'$palavox' $args $file $sink")
  awk -v l="$label" -v o="$ours" -v t="$theirs" \
    'BEGIN { printf "%-40s %8d %8d %7.2f\n", l, o, t, o / (t > 0 ? t : 1) }'
}
for sink in ">/dev/null" "| cat >/dev/null"; do
  echo "-- output $sink"
  measure "remover-acentuacao, prose" prose.txt remover-acentuacao "$sink"
  measure "find-string para, prose" prose.txt "find-string para" "$sink"
  measure "find-string -B para, prose" prose.txt "find-string -B para" "$sink"
  measure "trata-html, prose" prose.txt trata-html "$sink"
  measure "trata-html, a link every 50 units" links.txt trata-html "$sink"
done

# 200 MB through a pipe in bounded memory, with the library's result.
[ -f big.txt ] || "$build/bench/palavox_cli_input" prose 200 big.txt
size=$(stat -c %s big.txt)
echo
echo "memory: big.txt $size bytes, through a pipe"
fail=0
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

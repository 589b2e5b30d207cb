#!/usr/bin/env bash
# make bench-com: the call-cost benchmarks of Palavox.dll under Wine, in a
# private prefix where the DLL is registered: com_bench.exe (early- and
# late-bound calls beside their baselines), com_bench.js (JScript) and
# shadow_bench.exe (shadow mode beside its parts, below). The
# 64-bit DLL always; the 32-bit one too on a machine that runs 32-bit programs.
#   bench/com/run.sh [calls per measurement] [rounds]
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine-env.sh"
calls=${1:-200000}
rounds=${2:-5}

for f in "$root/build/win64/Palavox.dll" "$root/build/win64-tree/tests/com/com_bench.exe" \
         "$root/build/win64-tree/tests/com/shadow_bench.exe" "$root/build/win64/palavox-adopt.exe"; do
  [ -f "$f" ] || { echo "bench-com: missing $f (run make dll first)"; exit 2; }
done

echo "machine: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)," \
  "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
trap palavox_wine_stop EXIT
palavox_wine_start "$root/build/wine-bench64" win64
script=$(palavox_winpath "$root/bench/com/com_bench.js")

# bench <loader> <Palavox.dll> <com_bench.exe>
bench() {
  local loader=$1 dll
  dll=$(palavox_winpath "$2")
  "$loader" regsvr32 /s "$dll" </dev/null
  echo
  "$loader" "$3" "$calls" "$rounds" </dev/null | tr -d '\r'
  echo
  "$loader" cscript //nologo "$script" $((calls)) 3 </dev/null | tr -d '\r'
  "$loader" regsvr32 /s /u "$dll" </dev/null
}

bench "$PALAVOX_WINE64" "$root/build/win64/Palavox.dll" "$root/build/win64-tree/tests/com/com_bench.exe"

# Shadow mode beside its parts: the stand-in for an installed component
# (tests/com/standin/) registered with Palavox, shadow_bench.exe once with
# Palavox adopted and once in shadow mode; a shadow call's ratio to the
# installed component's call plus Palavox's, the installed one's the least of
# both runs. The goal: at most 1.25.
shadow_bench() {
  local loader=$1 dll=$2 tree=$3 work=$root/build/bench-shadow
  local adopt=$(dirname "$dll")/palavox-adopt.exe old wold
  rm -rf "$work" && mkdir -p "$work/old" "$work/recordings"
  old=$work/old/Palavox.dll
  cp "$tree/tests/com/standin/dll/Palavox.dll" "$old"
  wold=$(palavox_winpath "$old")
  "$loader" regsvr32 /s "$(palavox_winpath "$dll")" </dev/null
  "$loader" regsvr32 /s "$wold" </dev/null
  "$loader" "$adopt" adopt </dev/null >"$work/adopt.log" || { cat "$work/adopt.log"; return 1; }
  "$loader" "$tree/tests/com/shadow_bench.exe" "$wold" "$calls_shadow" "$rounds" </dev/null |
    tr -d '\r' >"$work/adopted.txt"
  "$loader" "$adopt" shadow "$(palavox_winpath "$work/recordings")" </dev/null >>"$work/adopt.log" ||
    { cat "$work/adopt.log"; return 1; }
  "$loader" "$tree/tests/com/shadow_bench.exe" "$wold" "$calls_shadow" "$rounds" </dev/null |
    tr -d '\r' >"$work/shadow.txt"
  "$loader" "$adopt" undo </dev/null >>"$work/adopt.log" || { cat "$work/adopt.log"; return 1; }
  "$loader" regsvr32 /s /u "$wold" </dev/null
  "$loader" regsvr32 /s /u "$(palavox_winpath "$dll")" </dev/null
  echo
  echo "shadow mode, $(basename "$(dirname "$dll")"): $calls_shadow calls a measurement, least of $rounds rounds (ns a call)"
  awk 'NR == FNR { adopted[$1] = $2; alone[$1] = $3; next }
       { base = ($3 < alone[$1] ? $3 : alone[$1]);
         printf "  %-18s installed %8.1f  adopted %8.1f  shadow %8.1f  ratio %5.2f   <= 1.25 %s\n",
           $1, base, adopted[$1], $2, $2 / (base + adopted[$1]),
           ($2 / (base + adopted[$1]) <= 1.25 ? "met" : "NOT MET") }' \
    "$work/adopted.txt" "$work/shadow.txt"
}
calls_shadow=$((calls / 10))
shadow_bench "$PALAVOX_WINE64" "$root/build/win64/Palavox.dll" "$root/build/win64-tree"
why32=$(palavox_wine32_why_not)
if [ -z "$why32" ] && [ -f "$root/build/win32-tree/tests/com/com_bench.exe" ]; then
  bench wine "$root/build/win32/Palavox.dll" "$root/build/win32-tree/tests/com/com_bench.exe"
else
  echo
  echo "bench-com: the 32-bit DLL was NOT measured: ${why32:-its com_bench.exe was not built}"
fi

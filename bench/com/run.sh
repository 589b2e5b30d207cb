#!/usr/bin/env bash
# make bench-com: the call-cost benchmarks of Palavox.dll under Wine, in a
# private prefix where the DLL is registered: com_bench.exe (early- and
# late-bound calls beside their baselines) and com_bench.js (JScript). The
# 64-bit DLL always; the 32-bit one too on a machine that runs 32-bit programs.
#   bench/com/run.sh [calls per measurement] [rounds]
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine-env.sh"
calls=${1:-200000}
rounds=${2:-5}

for f in "$root/build/win64/Palavox.dll" "$root/build/win64-tree/tests/com/com_bench.exe"; do
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
why32=$(palavox_wine32_why_not)
if [ -z "$why32" ] && [ -f "$root/build/win32-tree/tests/com/com_bench.exe" ]; then
  bench wine "$root/build/win32/Palavox.dll" "$root/build/win32-tree/tests/com/com_bench.exe"
else
  echo
  echo "bench-com: the 32-bit DLL was NOT measured: ${why32:-its com_bench.exe was not built}"
fi

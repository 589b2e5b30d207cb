#!/usr/bin/env bash
# palavox_c.dll on Windows: the C cases program, cross-built beside the DLL,
# run under Wine in a private prefix, for each bitness this machine can run.
#   tests/capi/wine-cases.sh          (after make dll)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
eval "$(cmake -P "$root/cmake/PalavoxIdentity.cmake")"
version=$PALAVOX_VERSION
cases=$root/tests/cases/palavox_cases.txt
. "$root/scripts/wine-env.sh"

status=0
for bits in 64 32; do
  dir=$root/build/win$bits-tree/capi
  for f in "$dir/palavox_c.dll" "$dir/palavox_c_cases.exe"; do
    [ -f "$f" ] || { echo "wine-cases: missing $f (run make dll first)"; exit 2; }
  done
  if [ $bits = 32 ] && ! palavox_wine32_runs; then
    echo "wine-cases: NOT RUN on this machine (no 32-bit programs): win32 palavox_c.dll"
    continue
  fi
  palavox_wine_start "$root/build/wine-capi-win$bits" "win$bits"
  # The program and the DLL from their own folder, as a deployment would have them;
  # the time limit is only a fail-safe against a hang (the run takes seconds).
  out=$(timeout 600 "$PALAVOX_WINE_NATIVE" "$dir/palavox_c_cases.exe" "$(palavox_winpath "$cases")" \
        "$version" </dev/null 2>&1)
  out=${out//$'\r'/}  # the console's line ends
  palavox_wine_stop
  echo "wine-cases: win$bits palavox_c.dll: $(tail -n 1 <<<"$out")"
  grep -q '^[0-9]* passed, 0 failed$' <<<"$out" || { echo "$out" | head -20; status=1; }
done
exit $status

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
  if [ $bits = 32 ] && why32=$(palavox_wine32_why_not) && [ -n "$why32" ]; then
    # What can be checked without running it: the program calls the streams
    # (and every other function) in the DLL beside it.
    imports=$(i686-w64-mingw32-objdump -p "$dir/palavox_c_cases.exe" 2>/dev/null |
              sed -n '/DLL Name: palavox_c.dll/,/^$/p')
    for f in palavox_stream_step palavox_stream_end palavox_stream_end_count \
             palavox_trata_html_stream palavox_find_string_stream palavox_remover_acentuacao_stream; do
      grep -q "[[:space:]]$f\$" <<<"$imports" ||
        { echo "wine-cases: the win32 palavox_c_cases.exe does not import $f from palavox_c.dll"; status=1; }
    done
    echo "wine-cases: NOT RUN ($why32): win32 palavox_c.dll"
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

#!/usr/bin/env bash
# make demo: registers Palavox.dll in a private Wine prefix under build/ and
# runs examples/demo.vbs through cscript, as a Windows user would: the 32-bit
# DLL in a 32-bit prefix, or, where no 32-bit Wine program runs, the 64-bit
# DLL through the 64-bit regsvr32 and cscript of a 64-bit prefix.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-env.sh"

why32=$(palavox_wine32_why_not)
if [ -z "$why32" ]; then
  dll=$root/build/win32/Palavox.dll prefix=$root/build/wine-demo arch=win32 w=wine
else
  echo "demo: NOT RUN with build/win32/Palavox.dll: $why32;"
  echo "      the 64-bit build/win64/Palavox.dll runs instead, with the 64-bit cscript"
  dll=$root/build/win64/Palavox.dll prefix=$root/build/wine-demo64 arch=win64 w=$PALAVOX_WINE64
fi
[ -f "$dll" ] || { echo "demo: $dll is missing; run make dll"; exit 2; }

trap palavox_wine_stop EXIT
palavox_wine_start "$prefix" "$arch"
"$w" regsvr32 /s "$(palavox_winpath "$dll")" </dev/null
demo=$(palavox_winpath "$root/examples/demo.vbs")
echo "wine cscript //nologo examples/demo.vbs   ($arch, ${dll#"$root"/})"
echo
log=$prefix.out
# Into a file cscript writes the OEM code page; pick one that holds Portuguese.
LC_ALL=pt_BR.UTF-8 "$w" cscript //nologo "$demo" </dev/null >"$log.raw" 2>&1 || true
iconv -f CP850 -t UTF-8 "$log.raw" >"$log"
cat "$log"
# cscript exits 0 even when the script died: the last answer must be there.
grep -q 'resultado: Acao e Reacao' "$log" || { echo "demo: the script did not finish"; exit 1; }

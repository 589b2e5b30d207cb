#!/usr/bin/env bash
# make demo: registers build/win32/Palavox.dll in a private Wine prefix under
# build/ and runs examples/demo.vbs through cscript, as a Windows user would.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dll=$root/build/win32/Palavox.dll
[ -f "$dll" ] || { echo "demo: $dll is missing; run make dll"; exit 2; }
. "$root/scripts/wine-env.sh"

trap palavox_wine_stop EXIT
palavox_wine_start "$root/build/wine-demo"
wine regsvr32 /s "$(palavox_winpath "$dll")" </dev/null
demo=$(palavox_winpath "$root/examples/demo.vbs")
echo "wine cscript //nologo examples/demo.vbs"
echo
if [ -t 1 ]; then
  wine cscript //nologo "$demo" </dev/null
else
  # Into a pipe cscript writes the OEM code page; pick one that holds Portuguese.
  LC_ALL=pt_BR.UTF-8 wine cscript //nologo "$demo" </dev/null | iconv -f CP850 -t UTF-8
fi

#!/usr/bin/env bash
# Proves Palavox.dll with real clients under Wine, in a fresh private prefix:
# exports, registration, VBScript, JScript, early- and late-bound C++, the
# type library, the version resource, and unregistration.
#   tests/com/run-clients.sh [Palavox.dll] [folder of the compiled clients]
# Every client ends with "N passed, M failed"; a client without that line failed
# (cscript on Wine exits 0 even when the script died).
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
dll=$(realpath -m "${1:-$root/build/win32/Palavox.dll}")
clients=$(realpath -m "${2:-$root/build/win32-tree/tests/com}")
prefix=${PALAVOX_WINE_TEST_PREFIX:-$root/build/wine-test}
cases=$root/tests/cases/palavox_cases.txt
. "$root/scripts/wine-env.sh"

for f in "$dll" "$clients/early_bound_client.exe" "$cases"; do
  [ -f "$f" ] || { echo "run-clients: missing $f (run make dll first)"; exit 2; }
done

passed=0
failed=0
logs=$prefix-logs
rm -rf "$logs" && mkdir -p "$logs"

# Adds one client's tally line to the totals; its failures are shown.
tally() {
  local name=$1 log=$2 line
  line=$(grep -aE '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1 | tr -d '\r')
  if [ -z "$line" ]; then
    echo "  $name: no tally line, the client did not finish:"
    sed 's/^/    /' "$log" | tail -n 20
    failed=$((failed + 1))
    return
  fi
  grep -a '^FAIL' "$log" | head -n 40 | sed 's/^/    /'
  echo "  $name: $line"
  passed=$((passed + ${line%% passed*}))
  local rest=${line#*, }
  failed=$((failed + ${rest%% failed*}))
}

# A single yes/no check run here rather than in a client.
check() {
  local what=$1
  shift
  if "$@" </dev/null >>"$logs/checks.log" 2>&1; then
    passed=$((passed + 1))
  else
    echo "  FAIL: $what"
    failed=$((failed + 1))
  fi
}

# A hung client must not hold CI until its time limit.
run() {
  local name=$1
  shift
  timeout 300 wine "$@" </dev/null >"$logs/$name.log" 2>&1
  tally "$name" "$logs/$name.log"
}

exports_are_the_four() {
  local names
  names=$(i686-w64-mingw32-objdump -p "$dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^[[:space:]]+\[/ {print $NF}' |
    sort | tr '\n' ' ')
  [ "$names" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]
}

imports_are_system_dlls() {
  ! i686-w64-mingw32-objdump -p "$dll" | awk '/DLL Name:/ {print tolower($3)}' |
    grep -vxE 'kernel32\.dll|advapi32\.dll|ole32\.dll|oleaut32\.dll|msvcrt\.dll|user32\.dll'
}

echo "Palavox.dll under Wine ($dll)"
check "exactly the four exports" exports_are_the_four
check "imports only system DLLs" imports_are_system_dlls

trap palavox_wine_stop EXIT
rm -rf "$prefix" "$prefix.log"
palavox_wine_start "$prefix"

windll=$(palavox_winpath "$dll")
wincases=$(palavox_winpath "$cases")
scripts=$(palavox_winpath "$root/tests/com")

check "regsvr32 registers" wine regsvr32 /s "$windll"
run vbscript cscript //nologo "$scripts\\client.vbs" "$wincases"
run jscript cscript //nologo "$scripts\\client.js" "$wincases"
run early-bound "$clients/early_bound_client.exe" "$wincases"
run late-bound "$clients/late_bound_client.exe" "$wincases"
run packaging "$clients/packaging_client.exe" registered "$windll"

check "regsvr32 /u unregisters" wine regsvr32 /s /u "$windll"
run unregistered-vbscript cscript //nologo "$scripts\\unregistered.vbs"
run unregistered "$clients/packaging_client.exe" unregistered "$windll"
check "regsvr32 /u twice is harmless" wine regsvr32 /s /u "$windll"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

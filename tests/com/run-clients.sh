#!/usr/bin/env bash
# Proves Palavox.dll with real clients under Wine, in fresh private prefixes:
# exports, registration, VBScript, JScript, early- and late-bound C++, the
# type library, the version resource, hostile and careless callers, lifetime,
# memory, threads, and unregistration; then adopting an installed component's
# identity, on a stand-in of our own (tests/com/adoption.sh). All of it for
# the 32-bit DLL in a 32-bit prefix, then in a 64-bit prefix for the 64-bit DLL and, through syswow64, the
# 32-bit one; there also use without registration, both builds registered side
# by side, and the MSI packages, whose recorder records the DLL for `palavox
# verify` (tests/migration/recording.sh).
#   tests/com/run-clients.sh                   everything (make dll package first)
#   tests/com/run-clients.sh <Palavox.dll> [folder of its compiled clients]
#                                              the suite for that one DLL only
# Every client ends with "N passed, M failed"; a client without that line failed
# (cscript on Wine exits 0 even when the script died).
# Where no 32-bit Wine program runs (a kernel without ia32 emulation, or no
# 32-bit Wine installed: palavox_wine32_why_not) the 32-bit stages are reported
# as not run, by name and with the reason, and the rest still runs; with
# PALAVOX_REQUIRE_WIN32=1 that is a failure instead.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
base=${PALAVOX_WINE_TEST_PREFIX:-$root/build/wine-test}
cases=$root/tests/cases/palavox_cases.txt
eval "$(cmake -P "$root/cmake/PalavoxIdentity.cmake")"
version=$PALAVOX_VERSION
dll32=$root/build/win32/Palavox.dll
clients32=$root/build/win32-tree/tests/com
dll64=$root/build/win64/Palavox.dll
clients64=$root/build/win64-tree/tests/com
msi32=$root/build/package/Palavox-$version-x86.msi
msi64=$root/build/package/Palavox-$version-x64.msi
. "$root/scripts/wine-env.sh"
. "$root/tests/com/registry.sh"
. "$root/tests/com/deployment.sh"
. "$root/tests/migration/recording.sh"
. "$root/tests/com/adoption.sh"

only=
if [ $# -gt 0 ]; then
  only=$(realpath -m "$1")
  only_clients=$(realpath -m "${2:-$(dirname "$only")/../tests/com}")
  needed=("$only" "$only_clients/early_bound_client.exe" "$only_clients/adoption_client.exe"
          "$only_clients/registry_tool.exe" "$only_clients/standin/dll/Palavox.dll" "$cases")
else
  needed=("$dll32" "$clients32/early_bound_client.exe" "$root/build/win32/Palavox.sxs.manifest"
          "$clients32/adoption_client.exe" "$clients32/registry_tool.exe"
          "$clients32/standin/dll/Palavox.dll"
          "$dll64" "$clients64/early_bound_client.exe" "$root/build/win64/Palavox.sxs.manifest"
          "$clients64/adoption_client.exe" "$clients64/registry_tool.exe"
          "$clients64/standin/dll/Palavox.dll"
          "$msi32" "$msi64" "$cases" "$palavox_cli")
fi
for f in "${needed[@]}"; do
  [ -f "$f" ] || { echo "run-clients: missing $f (run make build dll package first)"; exit 2; }
done

passed=0
failed=0
not_run=()
restarted=()
run32=1
why32=$(palavox_wine32_why_not)
if [ -n "$why32" ]; then
  run32=
  echo "run-clients: $why32:"
  echo "  the 32-bit DLL and the x86 package are built and checked on disk, but no 32-bit client runs"
  if [ "${PALAVOX_REQUIRE_WIN32:-}" = 1 ]; then
    echo "run-clients: PALAVOX_REQUIRE_WIN32=1: failing"
    exit 1
  fi
fi

# Runs a 32-bit stage, or records that it could not run here.
#   stage32 <what> <command...>
stage32() {
  local what=$1
  shift
  if [ -n "$run32" ]; then
    "$@"
  else
    not_run+=("$what")
  fi
}

summary() {
  echo "$passed passed, $failed failed"
  if [ ${#restarted[@]} -gt 0 ]; then
    echo "started once more, Wine having started nothing the first time: ${restarted[*]}"
  fi
  if [ ${#not_run[@]} -gt 0 ]; then
    echo "NOT RUN ($why32): ${not_run[*]}"
  fi
}
all_logs=$base-logs
rm -rf "$all_logs" && mkdir -p "$all_logs"
logs=$all_logs

# Adds one client's tally line to the totals; its failures are shown.
#   tally <name> <log> [what the run took] [its exit status]
tally() {
  local name=$1 log=$2 took=${3:-} status=${4:-} line
  line=$(grep -aE '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1 | tr -d '\r')
  if [ -z "$line" ]; then
    echo "  $name: no tally line, the client did not finish (exit ${status:-?}${took:+, after $took}; $(wc -c <"$log") bytes of output):"
    sed 's/^/    /' "$log" | tail -n 20
    failed=$((failed + 1))
    return
  fi
  grep -a '^FAIL' "$log" | head -n 40 | sed 's/^/    /'
  echo "  $name: $line${took:+ ($took)}"
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

# The Wine loader of what run starts: wine for 32-bit programs (and for the
# 32-bit cscript or regsvr32 of syswow64), "$PALAVOX_WINE64" for 64-bit ones.
w=wine

# Every program run here prints a line on its way in ("started" for the clients,
# a verdict on every way out for palavox-adopt), so a log left empty is a start
# Wine never made: made once more and said. <log> holds the output of the last
# start, $start_status its status, $start_began when it began.
#   start_once_more <label> <log> <command...>
start_once_more() {
  local label=$1 log=$2
  shift 2
  start_began=$EPOCHREALTIME
  "$@" </dev/null >"$log" 2>&1
  start_status=$?
  if [ ! -s "$log" ]; then
    echo "  $label: Wine started nothing (exit $start_status, no output): starting it once more"
    restarted+=("$label")
    start_began=$EPOCHREALTIME
    "$@" </dev/null >"$log" 2>&1
    start_status=$?
  fi
}

# A hung client must not hold CI until its time limit. The limit is only a
# fail-safe: the longest client takes about 10 s here (each one's time is shown).
# Any log but an empty one is the client's verdict.
run() {
  local name=$1
  shift
  start_once_more "$name" "$logs/$name.log" timeout 600 "$w" "$@"
  tally "$name" "$logs/$name.log" "$(awk -v a="$start_began" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f s", b - a }')" "$start_status"
}

# One objdump reads both PE flavours.
exports_are_the_four() {
  local names
  names=$(x86_64-w64-mingw32-objdump -p "$1" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^[[:space:]]+\[/ {print $NF}' |
    sort | tr '\n' ' ')
  [ "$names" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]
}

imports_are_system_dlls() {
  ! x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {print tolower($3)}' |
    grep -vxE 'kernel32\.dll|advapi32\.dll|ole32\.dll|oleaut32\.dll|msvcrt\.dll|user32\.dll'
}

is_64_bit() {
  x86_64-w64-mingw32-objdump -f "$1" | grep -q 'file format pei-x86-64'
}

absent() { ! "$@"; }

# The whole client suite against one DLL, registered by the regsvr32 of its
# bitness, with its logs in a folder of their own.
#   suite <label> <loader> <Palavox.dll> <folder of its compiled clients>
suite() {
  local label=$1 dll=$3 clients=$4 windll
  w=$2
  windll=$(palavox_winpath "$dll")
  logs=$all_logs/$label
  mkdir -p "$logs"
  echo "$label: $dll"
  check "exactly the four exports" exports_are_the_four "$dll"
  check "imports only system DLLs" imports_are_system_dlls "$dll"

  # What registration writes is what the prefix gains; unregistration, even of a
  # DLL never registered, must take all of it back.
  registry_snapshot "$logs/hkcr-before.reg"
  check "regsvr32 /u of a DLL never registered succeeds" "$w" regsvr32 /s /u "$windll"
  check "which changes nothing" registry_same "$logs/hkcr-before.reg"
  check "regsvr32 registers" "$w" regsvr32 /s "$windll"
  registry_snapshot "$logs/hkcr-registered.reg"
  check "registration changes HKCR" \
    registry_changes "$logs/hkcr-before.reg" "$logs/hkcr-registered.reg" "$logs/hkcr-changes.txt"
  check "regsvr32 a second time succeeds" "$w" regsvr32 /s "$windll"
  check "a second registration changes nothing" registry_same "$logs/hkcr-registered.reg"
  run vbscript cscript //nologo "$scripts\\client.vbs" "$wincases"
  run jscript cscript //nologo "$scripts\\client.js" "$wincases"
  run early-bound "$clients/early_bound_client.exe" "$wincases"
  run late-bound "$clients/late_bound_client.exe" "$wincases"
  run packaging "$clients/packaging_client.exe" registered "$windll"
  run hostile "$clients/hostile_client.exe"
  run hostile-vbscript cscript //nologo "$scripts\\hostile.vbs"
  run lifetime "$clients/lifetime_client.exe"
  run apartments "$clients/apartments_client.exe" "$wincases"
  # Only a 32-bit process runs out of address space before the machine runs out of memory.
  if ! is_64_bit "$dll"; then
    run memory-pressure "$clients/lifetime_client.exe" pressure
  fi

  check "regsvr32 /u unregisters" "$w" regsvr32 /s /u "$windll"
  check "nothing registration wrote is left" registry_undone "$logs/hkcr-changes.txt"
  run unregistered-vbscript cscript //nologo "$scripts\\unregistered.vbs"
  run unregistered "$clients/packaging_client.exe" unregistered "$windll"
  check "regsvr32 /u twice is harmless" "$w" regsvr32 /s /u "$windll"

  # Entries that are no longer this build's stay: a ProgID made another class's,
  # one whose class is no string, and (64-bit) while the other build's class
  # stands in the 32-bit view, what both builds share. Then all of it goes.
  local progid="HKCR\\$PALAVOX_PROGID" versioned="HKCR\\$PALAVOX_VERSIONED_PROGID"
  local class="HKCR\\CLSID\\{$PALAVOX_CLSID}" own="HKCR\\TypeLib\\{$PALAVOX_LIBID}"
  check "registered again" "$w" regsvr32 /s "$windll"
  check "a ProgID made another class's" \
    "$w" reg add "$progid\\CLSID" /ve /d "{00000000-0000-0000-0000-00000000C0DE}" /f
  check "a ProgID whose class is made a number" \
    "$w" reg add "$versioned\\CLSID" /ve /t REG_DWORD /d 1 /f
  check "regsvr32 /u, with ProgIDs not its own" "$w" regsvr32 /s /u "$windll"
  check "leaves the ProgID of another class" "$w" reg query "$progid\\CLSID"
  check "leaves the ProgID whose class is a number" "$w" reg query "$versioned\\CLSID"
  check "removes its class" absent "$w" reg query "$class"
  check "the other ProgIDs go" "$w" reg delete "$progid" /f
  check "and the number" "$w" reg delete "$versioned" /f
  if is_64_bit "$dll"; then
    check "registered again, beside the other build's class" \
      sh -c '"$0" regsvr32 /s "$1" && "$0" reg add "$2" /reg:32 /f' "$w" "$windll" "$class"
    check "regsvr32 /u, the other build registered" "$w" regsvr32 /s /u "$windll"
    check "removes its class, not the other's" \
      sh -c '! "$0" reg query "$1" /reg:64 && "$0" reg query "$1" /reg:32' "$w" "$class"
    check "leaves the ProgID both builds share" "$w" reg query "$progid\\CLSID"
    check "and the type library" "$w" reg query "$own"
    check "removes its own path to it" absent "$w" reg query "$own\\$PALAVOX_TYPELIB_VERSION\\0\\win64"
    check "the other build's class goes" "$w" reg delete "$class" /reg:32 /f
  fi
  check "registered and unregistered once more" \
    sh -c '"$0" regsvr32 /s "$1" && "$0" regsvr32 /s /u "$1"' "$w" "$windll"
  check "nothing registration wrote is left, after all that" registry_undone "$logs/hkcr-changes.txt"
  adoption_stage "$label" "$dll" "$clients"
  logs=$all_logs
}

# The packages install into Program Files, are used from there, and leave
# nothing behind.
#   installed <label> <loader> <installed Palavox.dll, Windows path> <clients>
installed() {
  local label=$1 dll=$3 clients=$4 bits=32
  w=$2
  [ "$w" = wine ] || bits=64
  run "$label-vbscript" cscript //nologo "$scripts\\client.vbs" "$wincases"
  run "$label-packaging" "$clients/packaging_client.exe" registered "$dll"
  check "$label: palavox-adopt.exe beside the DLL, of its bitness" \
    installed_adopt "${dll%\\Palavox.dll}\\palavox-adopt.exe" "$bits"
}

# The installed palavox-adopt.exe runs and reads its own registry view.
installed_adopt() {
  "$w" "$1" status </dev/null 2>&1 | tr -d '\r' | tee /dev/stderr |
    grep -qx "off: Palavox answers as itself in the $2-bit view of the registry"
}

trap palavox_wine_stop EXIT
wincases=$(palavox_winpath "$cases")
scripts=$(palavox_winpath "$root/tests/com")
prefix64=${base}64

if [ -n "$only" ]; then
  if ! is_64_bit "$only" && [ -z "$run32" ]; then
    echo "run-clients: $only is a 32-bit DLL, and $why32"
    exit 2
  fi
  registry_tool=$only_clients/registry_tool.exe
  if is_64_bit "$only"; then
    rm -rf "$prefix64" "$prefix64.log"
    palavox_wine_start "$prefix64" win64
    suite win64 "$PALAVOX_WINE64" "$only" "$only_clients"
  else
    rm -rf "$base" "$base.log"
    palavox_wine_start "$base" win32
    suite win32 wine "$only" "$only_clients"
  fi
  summary
  [ "$failed" -eq 0 ]
  exit
fi

win32_prefix() {
  echo "32-bit Windows ($base)"
  rm -rf "$base" "$base.log"
  palavox_wine_start "$base" win32
  registry_tool=$clients32/registry_tool.exe
  suite win32 wine "$dll32" "$clients32"
  logs=$all_logs/msi-x86 && mkdir -p "$logs"
  msi_install "x86 package" wine "$msi32"
  installed msi-x86 wine 'C:\Program Files\Palavox\Palavox.dll' "$clients32"
  recording_stage recorder-x86 wine 'C:\Program Files\Palavox\palavox-record.js' 32
  msi_remove "x86 package" wine "$msi32"
  logs=$all_logs
  palavox_wine_stop
}
stage32 "32-bit prefix (32-bit DLL suite, x86 package)" win32_prefix
if [ -z "$run32" ]; then
  check "32-bit DLL: exactly the four exports" exports_are_the_four "$dll32"
  check "32-bit DLL: imports only system DLLs" imports_are_system_dlls "$dll32"
fi

echo "64-bit Windows ($prefix64)"
rm -rf "$prefix64" "$prefix64.log"
palavox_wine_start "$prefix64" win64
registry_tool=$clients64/registry_tool.exe
# First, while nothing was ever registered in this prefix.
logs=$all_logs/regfree && mkdir -p "$logs"
regfree_stage regfree-64 "$PALAVOX_WINE64" "$root/build/win64" "$clients64"
stage32 "32-bit use without registration" regfree_stage regfree-32 wine "$root/build/win32" "$clients32"
logs=$all_logs
suite win64 "$PALAVOX_WINE64" "$dll64" "$clients64"
stage32 "32-bit DLL through syswow64" suite wow64 wine "$dll32" "$clients32"
logs=$all_logs/coexistence && mkdir -p "$logs"
stage32 "both builds side by side" coexistence_stage "$dll32" "$clients32" "$dll64" "$clients64"
logs=$all_logs/msi-x64 && mkdir -p "$logs"
check "x86 package refuses 64-bit Windows" msiexec_gives 1603 "$PALAVOX_WINE64" msiexec /i \
  "$(palavox_winpath "$msi32")" /qn
msi_install "x64 package" "$PALAVOX_WINE64" "$msi64"
installed msi-x64-64 "$PALAVOX_WINE64" 'C:\Program Files\Palavox\Palavox.dll' "$clients64"
stage32 "32-bit clients of the x64 package" \
  installed msi-x64-32 wine 'C:\Program Files (x86)\Palavox\Palavox.dll' "$clients32"
recording_stage recorder-64 "$PALAVOX_WINE64" 'C:\Program Files\Palavox\palavox-record.js' 64
stage32 "32-bit recording through the x64 package" \
  recording_stage recorder-32 wine 'C:\Program Files (x86)\Palavox\palavox-record.js' 32
msi_remove "x64 package" "$PALAVOX_WINE64" "$msi64"
logs=$all_logs

summary
[ "$failed" -eq 0 ]

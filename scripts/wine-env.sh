# Sourced by the Wine test runner and by the demo: a private, quiet, headless
# Wine prefix with one persistent wineserver.
#   palavox_wine_start <prefix dir> [win32|win64]
#                                     creates the prefix when it has none yet
#                                     (32-bit unless told otherwise)
#   palavox_wine_stop                 ends the wineserver and everything it runs
#   palavox_winpath <unix path>       the same file as Windows sees it (Z:\...)
#   palavox_wine32_runs               whether this machine runs 32-bit programs
# In a win64 prefix plain `wine` runs the 32-bit programs of syswow64 (cscript,
# regsvr32, msiexec) and "$PALAVOX_WINE64" the 64-bit ones of system32;
# "$PALAVOX_WINE_NATIVE" is whichever of the two is the prefix's own.

PALAVOX_WINE64=/usr/lib/wine/wine64

palavox_wine_start() {
  export WINEPREFIX="$1" WINEARCH=${2:-win32} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ "$WINEARCH" = win64 ]; then
    PALAVOX_WINE_NATIVE=$PALAVOX_WINE64
  else
    PALAVOX_WINE_NATIVE=wine
  fi
  mkdir -p "$WINEPREFIX"
  # Both outlive this shell; with our pipes open they would keep callers (CI) waiting.
  wineserver -p </dev/null >/dev/null 2>&1
  # The first command of a session starts services.exe and friends, which keep
  # whatever output they inherit open: give them a log file, never a pipe.
  if [ ! -f "$WINEPREFIX/system.reg" ] && [ ! -d "$WINEPREFIX/drive_c/windows" ]; then
    echo "wine: creating the $WINEARCH prefix $WINEPREFIX (a few seconds, once)"
    "$PALAVOX_WINE_NATIVE" wineboot --init </dev/null >"$WINEPREFIX.log" 2>&1
  else
    "$PALAVOX_WINE_NATIVE" wineboot </dev/null >>"$WINEPREFIX.log" 2>&1
  fi
}

# Some kernels are built or booted without 32-bit support (ia32_emulation=off):
# there no 32-bit Wine process starts, whatever is installed.
palavox_wine32_runs() {
  /usr/lib/wine/wine --version </dev/null >/dev/null 2>&1
}

palavox_wine_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k </dev/null >/dev/null 2>&1
  return 0
}

palavox_winpath() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}

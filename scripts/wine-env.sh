# Sourced by the Wine test runner and by the demo: a private, quiet, headless
# Wine prefix with one persistent wineserver.
#   palavox_wine_start <prefix dir> [win32|win64]
#                                     creates the prefix when it has none yet
#                                     (32-bit unless told otherwise)
#   palavox_wine_stop                 ends the wineserver and everything it runs
#   palavox_winpath <unix path>       the same file as Windows sees it (Z:\...)
#   palavox_wine32_runs               whether 32-bit Wine programs run here
#   palavox_wine32_why_not            why not, in a line (nothing when they do)
# In a win64 prefix plain `wine` runs the 32-bit programs of syswow64 (cscript,
# regsvr32, msiexec) and "$PALAVOX_WINE64" the 64-bit ones of system32;
# "$PALAVOX_WINE_NATIVE" is whichever of the two is the prefix's own.

PALAVOX_WINE64=/usr/lib/wine/wine64
PALAVOX_WINE32=${PALAVOX_WINE32:-/usr/lib/wine/wine}

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

# Why no 32-bit Wine process can start here, or nothing when one can. Some
# kernels are built or booted without 32-bit support (ia32_emulation=off); on
# others only 32-bit Wine is missing (scripts/install-deps says why in
# build/deps/i386, or it was left out with PALAVOX_NO_I386=1).
palavox_wine32_why_not() {
  if ! palavox_kernel_runs_32bit; then
    echo "this machine runs no 32-bit program (kernel without ia32 emulation)"
  elif [ ! -x "$PALAVOX_WINE32" ]; then
    local why=
    why=$(sed -n 2p "${PALAVOX_DEPS_STATE:-$(dirname "${BASH_SOURCE[0]}")/../build/deps}/i386" 2>/dev/null)
    echo "32-bit Wine (wine32:i386) is not installed${why:+: $why}"
  elif ! "$PALAVOX_WINE32" --version </dev/null >/dev/null 2>&1; then
    echo "32-bit Wine is installed but does not start"
  fi
}

palavox_wine32_runs() {
  [ -z "$(palavox_wine32_why_not)" ]
}

# Runs a 93-byte static i386 program that exits with 42: no 32-bit library or
# package needed, only the kernel's ia32 emulation. PALAVOX_TEST_RUNS_32BIT=0|1
# answers instead (the tests of scripts/install-deps).
palavox_kernel_runs_32bit() {
  case "${PALAVOX_TEST_RUNS_32BIT:-}" in 0) return 1 ;; 1) return 0 ;; esac
  local probe status
  probe=$(mktemp "${TMPDIR:-/tmp}/palavox-i386.XXXXXX") || return 1
  # ELF header; one segment loaded at 0x08048000; mov eax,1 / mov ebx,42 / int 0x80.
  printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00' \
    '\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
    '\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00' \
    '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" </dev/null >/dev/null 2>&1
  status=$?
  rm -f "$probe"
  [ $status -eq 42 ]
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

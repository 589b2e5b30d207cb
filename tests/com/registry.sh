# Sourced by run-clients.sh: snapshots of HKEY_CLASSES_ROOT in the running Wine
# prefix, to show what registration changes and that unregistration takes all
# of it back. A snapshot has one sorted line per key and per value, each value
# line led by its key, so that sets of lines can be compared. Other programs
# (cscript registers its own type library on first use) change HKCR too, so
# unregistration is judged on the lines registration changed, not on the whole.
#   registry_snapshot <file>                     HKCR now, into <file>, through
#                                                $registry_tool (registry_tool.exe save)
#   registry_same <file>                         HKCR now is exactly <file>
#   registry_changes <before> <after> <changes>  "+ line" / "- line" for each difference
#   registry_undone <changes>                    none of <changes> is in force now

registry_snapshot() {
  local out=$1 raw=$1.wine tries=0
  # A snapshot that fails must not leave an earlier one in its place, to be
  # compared as if it were now.
  rm -f "$out"
  # $registry_tool: the prefix's own bitness, as only a 64-bit process sees both views.
  # Reading is idempotent: a failed read is said and tried again, twice at most.
  until "${PALAVOX_WINE_NATIVE:-wine}" "$registry_tool" save "$(palavox_winpath "$raw")" \
    </dev/null >/dev/null 2>"$raw.err"; do
    echo "registry_snapshot: $registry_tool save failed ($(tr -d '\r' <"$raw.err" | head -n 3))" >&2
    tries=$((tries + 1))
    [ "$tries" -lt 3 ] || { rm -f "$raw.err"; return 1; }
  done
  rm -f "$raw.err"
  # Wine's format as regedit /E writes it: keys whole and with single
  # backslashes, without the times of their last change, and with the keys
  # Wine leaves to be implied: those that hold only keys.
  awk '/^\[/ { k = substr($0, 2); sub(/\]( [0-9]+)?$/, "", k); key = "[HKEY_CLASSES_ROOT"
              while ((i = index(k, "\\\\")) > 0) {
                key = key "\\" substr(k, 1, i - 1); print key "]"; k = substr(k, i + 2)
              }
              key = key "\\" k "]"; print key; next }
       /^(WINE REGISTRY |;;|#arch=|#time=)/ || key == "" { next }
       NF { print key "\t" $0 }' "$raw" |
    LC_ALL=C sort -u >"$out"
  rm -f "$raw"
}

registry_same() {
  registry_snapshot "$1.now" || return 1
  diff "$1" "$1.now" | head -n 40
  cmp -s "$1" "$1.now"
}

registry_changes() {
  {
    LC_ALL=C comm -13 "$1" "$2" | sed 's/^/+ /'
    LC_ALL=C comm -23 "$1" "$2" | sed 's/^/- /'
  } >"$3"
  # No change at all would let registry_undone pass for nothing.
  [ -s "$3" ]
}

registry_undone() {
  local now=$1.now
  registry_snapshot "$now" || return 1
  # Lines registration added must be gone, lines it removed must be back.
  LC_ALL=C comm -12 <(sed -n 's/^+ //p' "$1" | LC_ALL=C sort) "$now" | sed 's/^/still there: /' >"$1.left"
  LC_ALL=C comm -23 <(sed -n 's/^- //p' "$1" | LC_ALL=C sort) "$now" | sed 's/^/not back: /' >>"$1.left"
  cat "$1.left"
  [ ! -s "$1.left" ]
}

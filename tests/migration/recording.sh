# Sourced by run-clients.sh, whose helpers it uses (check, $logs, $root,
# $cases, the PALAVOX_ identity): the recorder installed by a package records
# Palavox.dll itself under cscript, and the native `palavox verify` finds
# every call identical; its errors are clear and leave no recording behind.
#   recording_stage <label> <loader> <installed palavox-record.js, Windows path> <bits>

palavox_cli=$root/build/native/cli/palavox
T=$'\t'

# Runs the recorder with the loader; its messages go to <log>.
#   record <log> <recorder> <arguments...>
record() {
  local log=$1 recorder=$2
  shift 2
  timeout 600 "$w" cscript //nologo "$recorder" "$@" </dev/null >"$log" 2>&1
}

# Whether <recording> has the whole line <line> (the recorder ends lines with CR LF).
has_line() {
  tr -d '\r' <"$1" | grep -xF -- "$2" >/dev/null  # reads it all: no SIGPIPE under pipefail
}

# A recording made, its header telling the truth, and every call identical.
#   recorded_and_identical <recording> <bits> <dll, Windows path> <least calls> <recorder> <args...>
recorded_and_identical() {
  local rec=$1 bits=$2 dll=$3 least=$4 recorder=$5
  shift 5
  record "$rec.log" "$recorder" /out:"$(palavox_winpath "$rec")" "$@" || { cat "$rec.log"; return 1; }
  has_line "$rec" "bitness${T}$bits" && has_line "$rec" "version${T}$PALAVOX_VERSION.0" &&
    has_line "$rec" "dll${T}${dll//\\/\\\\}" && has_line "$rec" "progid${T}$PALAVOX_PROGID" ||
    { echo "header:"; head -n 8 "$rec"; return 1; }
  "$palavox_cli" verify "$rec" >"$rec.verify" || { tail -n 20 "$rec.verify"; return 1; }
  local calls
  calls=$(sed -n 's/^\([0-9]*\) calls: \1 identical, 0 different$/\1/p' "$rec.verify")
  grep -qx 'verdict: every call identical' "$rec.verify" && [ "${calls:-0}" -ge "$least" ] ||
    { tail -n 8 "$rec.verify"; return 1; }
}

# The recorder fails with <status> and a message holding <text>, and leaves
# neither the recording nor a temporary file beside it.
#   record_fails <status> <text> <recording> <recorder> <args...>
record_fails() {
  local status=$1 text=$2 rec=$3 recorder=$4 got log
  shift 4
  log=$recording_logs/$(basename "$rec").log
  record "$log" "$recorder" /out:"$(palavox_winpath "$rec")" "$@"
  got=$?
  [ "$got" = "$status" ] && grep -qF -- "$text" "$log" && [ ! -e "$rec" ] &&
    [ -z "$(find "$recording_logs" -name 'rad*.tmp')" ] ||
    { echo "exit $got:"; cat "$log"; return 1; }
}

recording_stage() {
  local label=$1 recorder=$3 bits=$4 dir=$logs/$1 dll
  w=$2
  dll="$(dirname "${recorder//\\//}")"
  dll="${dll//\//\\}\\Palavox.dll"
  rm -rf "$dir" && mkdir -p "$dir"
  recording_logs=$dir
  cp "$root/tests/migration/ata-reuniao.txt" "$dir/ata.txt"
  { printf '\xef\xbb\xbf'; cat "$dir/ata.txt"; } >"$dir/ata-bom.txt"
  # UTF-16LE with NUL, CR alone, CR LF, tab, and lone surrogates of both halves.
  printf '\xff\xfea\x00\x00\xd8\r\x00\n\x00\x00\xdc\x00\x00\t\x00\r\x00h\x00t\x00t\x00p\x00' >"$dir/units.txt"
  printf 'fine\nbad \xc3( here\n' >"$dir/bad.txt"
  local ata ata_bom units
  ata=$(palavox_winpath "$dir/ata.txt")
  ata_bom=$(palavox_winpath "$dir/ata-bom.txt")
  units=$(palavox_winpath "$dir/units.txt")

  # The shared case file (UTF-16LE, a text a line) and the Portuguese text
  # (UTF-8 with CR LF, with and without its byte-order mark).
  check "$label: records the case file and a Portuguese text; verify: all identical" \
    recorded_and_identical "$dir/texts.rec" "$bits" "$dll" 5000 "$recorder" \
    "$(palavox_winpath "$cases")" "$ata" "$ata_bom"
  check "$label: records whole files, search words given; verify: all identical" \
    recorded_and_identical "$dir/whole.rec" "$bits" "$dll" 18 "$recorder" \
    /whole /find:http /find:PARA /find: "$units" "$ata"
  check "$label: the lone surrogates, NUL and CR arrive exactly" \
    has_line "$dir/whole.rec" "text${T}1${T}whole${T}a\\uD800\\r\\n\\uDC00\\0\\t\\rhttp"
  check "$label: unregistered ProgID: error naming the bitness looked in" \
    record_fails 1 "Palavox.NoSuchClass is not registered for $bits-bit programs" \
    "$dir/e-progid.rec" "$recorder" /progid:Palavox.NoSuchClass "$ata"
  check "$label: unreadable input" \
    record_fails 1 "no-such.txt: no such file" "$dir/e-input.rec" "$recorder" \
    "$ata" "$(palavox_winpath "$dir/no-such.txt")"
  check "$label: input that is not UTF-8" \
    record_fails 1 "bad.txt: not valid UTF-8 at byte offset 9" "$dir/e-utf8.rec" "$recorder" \
    "$(palavox_winpath "$dir/bad.txt")"
  check "$label: output that cannot be written" \
    record_fails 1 "e-out.rec: cannot be written" "$dir/no-such-dir/e-out.rec" "$recorder" "$ata"
  check "$label: wrong usage" record_fails 2 "unknown or incomplete option /out:" \
    "$dir/e-usage.rec" "$recorder" /out:
}

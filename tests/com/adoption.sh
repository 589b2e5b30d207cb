# Sourced by run-clients.sh, whose helpers it uses (check, run and its loader
# $w, $logs, $scripts, registry.sh, the PALAVOX_ identity): Palavox adopting
# the identity of an installed component, proven on the stand-in
# (tests/com/standin/) with unchanged old clients: the VBScript client and
# adoption_client.exe, built against the stand-in's identifiers.
#   adoption_stage <label> <Palavox.dll> <folder of its compiled clients>

eval "$(cmake -P "$root/tests/com/standin/StandinIdentity.cmake")"
original_cases=$root/tests/cases/original_cases.txt

# The old clients, all of them, against what one component answers.
#   old_clients <label> <case file> <DLL that serves the objects> <library path>
old_clients() {
  local label=$1 expected serving library
  expected=$(palavox_winpath "$2")
  serving=$(palavox_winpath "$3")
  library=$4
  run "$label-vbscript" cscript //nologo "$scripts\\client.vbs" "$expected"
  run "$label-early-bound" "$adoption_client" answers "$expected" "$serving"
  run "$label-apartment" "$adoption_client" apartment "$expected"
  run "$label-typelib" "$adoption_client" typelib "$expected" "$library"
}

adoption_stage() {
  local label=$1 dll=$2 clients=$3
  local standin=$clients/standin/dll/Palavox.dll wstandin
  adoption_client=$clients/adoption_client.exe
  wstandin=$(palavox_winpath "$standin")
  logs=$all_logs/$label-adoption
  mkdir -p "$logs"
  echo "$label: adoption of the stand-in's identity ($standin)"

  # The installed component alone: its answers, both faults visible.
  check "the stand-in registers" "$w" regsvr32 /s "$wstandin"
  old_clients standin "$original_cases" "$standin" "$wstandin"
  check "the stand-in unregisters" "$w" regsvr32 /s /u "$wstandin"
  check "the stand-in leaves no trace of its identifiers" standin_clean "$logs/standin-after.reg"
  logs=$all_logs
}

standin_clean() {
  registry_snapshot "$1" || return 1
  ! grep -i -F -e "$STANDIN_CLSID" -e "$STANDIN_LIBID" -e "$STANDIN_IID" "$1"
}

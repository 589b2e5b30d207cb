# Sourced by run-clients.sh, whose helpers it uses (check, run and its loader
# $w, $logs, $scripts, registry.sh, the PALAVOX_ identity): Palavox adopting
# the identity of an installed component, proven on the stand-in
# (tests/com/standin/) with unchanged old clients, the VBScript and JScript clients and
# adoption_client.exe (built against the stand-in's identifiers): their
# answers before adoption, after it (also with the old DLL deleted, from
# another apartment, through the type library's identifier), in shadow mode
# (the stand-in's answers, what differed recorded and verified, no folder to
# write in), after undoing, with the registry as it was; whichever component was registered last; and
# each refusal with its message and exit status, leaving the registry as it was.
#   adoption_stage <label> <Palavox.dll> <folder of its compiled clients>

eval "$(cmake -P "$root/tests/com/standin/StandinIdentity.cmake")"
original_cases=$root/tests/cases/original_cases.txt

# The old clients, all of them, against what one component answers.
#   old_clients <label> <case file> <DLL that serves the objects> <library path>
old_clients() {
  local label=$1 expected serving library
  expected=$(palavox_winpath "$2")
  serving=$(palavox_winpath "$3")
  library=$(palavox_winpath "$4")
  run "$label-vbscript" cscript //nologo "$scripts\\client.vbs" "$expected"
  run "$label-jscript" cscript //nologo "$scripts\\client.js" "$expected"
  run "$label-early-bound" "$adoption_client" answers "$expected" "$serving"
  run "$label-apartment" "$adoption_client" apartment "$expected"
  run "$label-typelib" "$adoption_client" typelib "$expected" "$library"
}

# palavox-adopt ends with <status> and prints <text>; a start Wine never made
# is made once more (start_once_more).
#   adopt_gives <status> <text> <arguments...>
adopt_gives() {
  local status=$1 text=$2 got
  shift 2
  start_once_more "palavox-adopt ${1:-(no command)}" "$logs/adopt.out" "$w" "$adopt" "$@"
  got=$start_status
  tr -d '\r' <"$logs/adopt.out" >>"$logs/adopt.log"
  [ "$got" = "$status" ] && tr -d '\r' <"$logs/adopt.out" | grep -qF -- "$text" ||
    { echo "exit $got, expected $status and '$text':"; cat "$logs/adopt.out"; return 1; }
}

# A refusal: its status and message, and the registry left exactly as it was.
#   refused <what> <status> <text> <arguments...>
refused() {
  local what=$1
  shift
  check "refused, $what: the registry read first" registry_snapshot "$logs/refusal.reg"
  check "refused, $what" adopt_gives "$@"
  check "refused, $what: the registry is as it was" registry_same "$logs/refusal.reg"
  check "refused, $what: no library written" absent test -e "$library"
}

standin_clean() {
  registry_snapshot "$1" || return 1
  ! grep -i -F -e "$STANDIN_CLSID" -e "$STANDIN_LIBID" -e "$STANDIN_IID" "$1"
}

# Exactly <count> recordings of shadow mode in <folder>, each in a file
# named by the bitness, the process and its start, each opening with the header.
shadow_recordings() {
  local n=0 f
  for f in "$1"/palavox-shadow-*-1.rec; do
    [ -f "$f" ] || continue
    head -n 2 "$f" | tr -d '\r' | grep -qx "shadow$(printf '\t')1" || { echo "no shadow line: $f"; return 1; }
    grep -q "^host$(printf '\t').*(process [0-9]*)$" "$f" || { echo "no host line: $f"; return 1; }
    n=$((n + 1))
  done
  echo "$n recordings"
  [ "$n" -eq "$2" ]
}

# palavox verify over every recording of <folder>: every difference under
# one of the two causes of the stand-in's faults, both of them met, none
# unexplained, every differing call recorded, and as many recorded as differed.
shadow_verified() {
  local out=$1.verify link placeholder calls differed
  "$palavox_cli" verify "$1"/*.rec >"$out" || { tail -n 12 "$out"; return 1; }
  link=$(sed -n 's/^  link holding "http" twice: \([0-9]*\)$/\1/p' "$out")
  placeholder=$(sed -n 's/^  placeholder-like text: \([0-9]*\)$/\1/p' "$out")
  calls=$(sed -n 's/^\([0-9]*\) calls: 0 identical, \1 different$/\1/p' "$out")
  differed=$(sed -n 's/^shadow mode: [0-9]* calls watched in [0-9]* host processes, \([0-9]*\) answered differently, 0 of them not recorded$/\1/p' "$out")
  tail -n 8 "$out"
  grep -qx '  unexplained: 0' "$out" && [ "${link:-0}" -gt 0 ] && [ "${placeholder:-0}" -gt 0 ] &&
    [ -n "$calls" ] && [ "$calls" = "$((link + placeholder))" ] && [ "$calls" = "$differed" ]
}

lock() { "$w" "$clients/registry_tool.exe" lock "Software\\Classes\\$1"; }
unlock() { "$w" "$clients/registry_tool.exe" unlock "Software\\Classes\\$1"; }

adoption_stage() {
  local label=$1 dll=$2 clients=$3
  local wdll old wold library syskind=win32
  adoption_client=$clients/adoption_client.exe
  adopt=$(dirname "$dll")/palavox-adopt.exe
  [ -f "$adopt" ] || adopt=$clients/../../migration/palavox-adopt.exe
  is_64_bit "$dll" && syskind=win64
  wdll=$(palavox_winpath "$dll")
  library=$(dirname "$dll")/Palavox-adopted.tlb
  logs=$all_logs/$label-adoption
  rm -rf "$logs" && mkdir -p "$logs/old"
  # The installed component in a folder of its own, as C:\Componentes would be.
  old=$logs/old/Palavox.dll
  cp "$clients/standin/dll/Palavox.dll" "$old"
  wold=$(palavox_winpath "$old")
  local class="CLSID\\{$STANDIN_CLSID}" own="CLSID\\{$PALAVOX_CLSID}"
  local path="TypeLib\\{$STANDIN_LIBID}\\$STANDIN_TYPELIB_VERSION\\0\\$syskind"
  local face="Interface\\{$STANDIN_IID}"
  echo "$label: adoption of the stand-in's identity ($old)"

  # The installed component alone: its answers, both faults visible.
  check "the stand-in registers" "$w" regsvr32 /s "$wold"
  old_clients standin "$original_cases" "$old" "$old"
  check "the stand-in unregisters" "$w" regsvr32 /s /u "$wold"
  check "the stand-in leaves no trace of its identifiers" standin_clean "$logs/standin-after.reg"

  # Palavox registered first, the stand-in last: the ProgID is the stand-in's.
  check "Palavox registers" "$w" regsvr32 /s "$wdll"
  check "the stand-in registers last" "$w" regsvr32 /s "$wold"
  check "the platform's own stdole2.tlb registered" "$w" "$clients/registry_tool.exe" stdole
  registry_snapshot "$logs/before.reg"
  check "status: off" adopt_gives 0 "off: Palavox answers as itself" status
  check "adopt" adopt_gives 0 "done: Palavox answers to the installed component's identity" adopt
  check "adopt says what it wrote" grep -qF "set     HKLM\\Software\\Classes\\$class\\InprocServer32 = \"$wdll\" (was \"$wold\")" "$logs/adopt.log"
  check "status: adopted" adopt_gives 0 "adopted: the identity of {$STANDIN_CLSID}" status
  old_clients adopted "$cases" "$dll" "$library"
  check "adopting twice is refused" adopt_gives 1 "has already adopted the identity" adopt
  # The old DLL gone: what it served, Palavox serves from its own library.
  mv "$old" "$old.away"
  old_clients old-dll-gone "$cases" "$dll" "$library"
  check "undo refuses while the old DLL is gone" adopt_gives 3 "no longer where the registry said" undo
  mv "$old.away" "$old"
  check "undo" adopt_gives 0 "done: the registry is as it was before adoption" undo
  check "after undo the registry is as it was before adoption" registry_same "$logs/before.reg"
  check "after undo the written library is gone" absent test -e "$library"
  old_clients undone "$original_cases" "$old" "$old"
  check "undo with nothing to undo is refused" adopt_gives 1 "nothing to undo" undo

  # Shadow mode: the stand-in answers every call, Palavox works each out too,
  # and what differed, recorded one file per host process, verifies with every
  # difference explained; with no folder to write in, the answers are the same.
  local shadows=$logs/shadow nofolder=$logs/no-folder
  mkdir -p "$shadows" && : >"$nofolder"
  registry_snapshot "$logs/before-shadow.reg"
  check "shadow" adopt_gives 0 "done: shadow mode" shadow "$(palavox_winpath "$shadows")" --part-size 65536
  check "status: shadow" adopt_gives 0 "recording into $(palavox_winpath "$shadows")" status
  old_clients shadow "$original_cases" "$dll" "$library"
  run shadow-threads "$adoption_client" threads "$(palavox_winpath "$original_cases")"
  check "shadow: one recording per host process" shadow_recordings "$shadows" 6
  check "shadow: verify explains every difference" shadow_verified "$shadows"
  check "shadow twice is refused" adopt_gives 1 "already in shadow mode" shadow "$(palavox_winpath "$shadows")"
  check "from shadow to adopted" adopt_gives 0 "set     the state to adopted (was shadow)" adopt
  old_clients adopted-after-shadow "$cases" "$dll" "$library"
  check "to shadow with no folder to write in" adopt_gives 0 "is not a folder (yet)" shadow "$(palavox_winpath "$nofolder")"
  old_clients shadow-no-folder "$original_cases" "$dll" "$library"
  check "shadow with no folder: nothing written" test -f "$nofolder" -a ! -s "$nofolder"
  check "to adopted again" adopt_gives 0 "(was shadow)" adopt
  check "to shadow into a folder not there" adopt_gives 0 "is not a folder (yet)" shadow "$(palavox_winpath "$logs/not-there")"
  check "and back to adopted" adopt_gives 0 "(was shadow)" adopt
  mv "$old" "$old.away"
  check "shadow refuses while the old DLL is gone" adopt_gives 3 "shadow mode needs the installed component's DLL" shadow "$(palavox_winpath "$shadows")"
  mv "$old.away" "$old"
  check "undo from shadow and adopted" adopt_gives 0 "done: the registry is as it was before adoption" undo
  check "after shadow and undo the registry is as it was" registry_same "$logs/before-shadow.reg"
  old_clients undone-after-shadow "$original_cases" "$old" "$old"

  # The stand-in registered first, Palavox last (the ProgID is Palavox's), and
  # the interface left unregistered for the marshaler: adoption registers it.
  check "Palavox registers last" "$w" regsvr32 /s "$wdll"
  check "the interface's registration removed" "$w" reg delete "HKCR\\$face" /f
  run palavox-last-before-vbscript cscript //nologo "$scripts\\client.vbs" "$(palavox_winpath "$cases")"
  registry_snapshot "$logs/before-palavox-last.reg"
  check "adopt, Palavox registered last" adopt_gives 0 "created HKLM\\Software\\Classes\\$face" adopt
  old_clients palavox-last "$cases" "$dll" "$library"
  check "undo, Palavox registered last" adopt_gives 0 "removed HKLM\\Software\\Classes\\$face" undo
  check "after undo the registry is as it was (Palavox last)" registry_same "$logs/before-palavox-last.reg"
  check "the stand-in registers again (1)" "$w" regsvr32 /s "$wold"

  # Refusals: each says why, with its status, and changes nothing.
  registry_snapshot "$logs/before-refusals.reg"
  refused "usage: no command" 2 "a command is needed"
  refused "usage: an unknown command" 2 "unknown command 'adoptar'" adoptar
  refused "usage: shadow without a folder" 2 "shadow needs one FOLDER" shadow
  refused "usage: adopt with an argument" 2 "adopt takes no argument" adopt now
  refused "usage: a part size too small" 2 "--part-size needs a whole number of at least 4096" shadow x --part-size 12
  refused "usage: a count that is no number" 2 "--parts needs a whole number of at least 1, not 'x'" shadow x --parts x
  refused "usage: an option without its value" 2 "--parts needs a value" shadow x --parts
  refused "usage: an empty count" 2 "--parts needs a whole number of at least 1, not ''" shadow x --parts ""
  refused "usage: a size past 2^31" 2 "--part-size needs a whole number of at least 4096, not '4000000000'" shadow x --part-size 4000000000
  check "the interface differs: registered" "$w" reg add "HKCR\\$path" /ve /d "$(palavox_winpath "$clients/standin/different.tlb")" /f
  refused "the interface differs" 3 "is not the one Palavox has" adopt
  for differs in "method 1: tratahtml 0x60030000, slot 7, call 4, returns HRESULT (String vementrada [in], String vemtarget [in]" \
      "method 2: findstring 0x60030005" "Long vementrada [in], String vembusca" \
      "String vemtipo [in, optional] with a default other than the empty text" \
      "method 3: removeacentos 0x60030002, slot 9, a property" \
      "method 4: versao 0x60030003, slot 10, call 4, returns HRESULT (pointer to String resultado [out, retval]); Palavox has no such method"; do
    check "the interface differs: names '$differs'" grep -qF "$differs" "$logs/adopt.out"
  done
  check "fewer methods: registered" "$w" reg add "HKCR\\$path" /ve /d "$(palavox_winpath "$clients/standin/fewer.tlb")" /f
  refused "fewer methods" 3 "the installed component's interface has 2 methods, Palavox's 3" adopt
  check "fewer methods: names a type of its own" grep -qF "type 5 vementrada" "$logs/adopt.out"
  check "fewer methods: names a default of another type" grep -qF "Long vemtarget [in, optional] with a default other than" "$logs/adopt.out"
  check "not dual: registered" "$w" reg add "HKCR\\$path" /ve /d "$(palavox_winpath "$clients/standin/notdual.tlb")" /f
  refused "no dual default interface" 3 "gives it no dual default interface" adopt
  check "no class in the library: registered" "$w" reg add "HKCR\\$path" /ve /d "$(palavox_winpath "$clients/standin/noclass.tlb")" /f
  refused "a library without the class" 3 "does not describe the class" adopt
  check "a library that is not there: registered" "$w" reg add "HKCR\\$path" /ve /d "$(palavox_winpath "$logs/none.tlb")" /f
  refused "a library that does not load" 3 "$STANDIN_TYPELIB_VERSION does not load" adopt
  check "the stand-in registers again (2)" "$w" regsvr32 /s "$wold"
  check "no type library: its value removed" "$w" reg delete "HKCR\\$class\\TypeLib" /f
  refused "an old class without a type library" 3 "names no type library" adopt
  check "a type library that is no identifier: named" "$w" reg add "HKCR\\$class\\TypeLib" /ve /d "not-a-guid" /f
  refused "a type library that is no identifier" 3 "names no type library" adopt
  check "a library not registered: named" "$w" reg add "HKCR\\$class\\TypeLib" /ve /d "{$PALAVOX_MSI_UPGRADE_CODE_X86}" /f
  refused "a type library not registered" 3 "which is not registered" adopt
  check "nor its version named: removed" "$w" reg delete "HKCR\\$class\\Version" /f
  refused "a type library not registered, its version not named" 3 "which is not registered" adopt
  check "the stand-in registers again (3)" "$w" regsvr32 /s "$wold"
  check "its version not named: removed" "$w" reg delete "HKCR\\$class\\Version" /f
  check "adopt finds the library's version itself" adopt_gives 0 "type library Palavox {$STANDIN_LIBID} $STANDIN_TYPELIB_VERSION" adopt
  check "and undoes" adopt_gives 0 "done" undo
  check "the stand-in registers again (4)" "$w" regsvr32 /s "$wold"
  check "a TreatAs of another class: added" "$w" reg add "HKCR\\$class\\TreatAs" /ve /d "{$PALAVOX_IID}" /f
  refused "an old class emulated already" 3 "is already emulated by {$PALAVOX_IID}" adopt
  check "the TreatAs removed" "$w" reg delete "HKCR\\$class\\TreatAs" /f
  check "the old class served by Palavox: set" "$w" reg add "HKCR\\$class\\InprocServer32" /ve /d "$wdll" /f
  refused "an old class Palavox serves, without a record" 3 "is served by Palavox.dll already" adopt
  check "the old class's DLL elsewhere: set" "$w" reg add "HKCR\\$class\\InprocServer32" /ve /d "$(palavox_winpath "$logs/none.dll")" /f
  refused "an old DLL that is not there" 3 "its DLL is no longer where the registry says" adopt
  check "a folder in the old DLL's place: set" "$w" reg add "HKCR\\$class\\InprocServer32" /ve /d "$(palavox_winpath "$logs/old")" /f
  refused "a folder named as the old DLL" 3 "its DLL is no longer where the registry says" adopt
  # Installers may write the server's path with a variable in it: adopt reads
  # it expanded, and undo puts back the variable, not its expansion.
  check "the old DLL as an expandable path: set" "$w" reg add "HKCR\\$class\\InprocServer32" \
    /ve /t REG_EXPAND_SZ /d "%PALAVOX_T_OLD%\\Palavox.dll" /f
  registry_snapshot "$logs/expand.reg"
  export PALAVOX_T_OLD
  PALAVOX_T_OLD=$(palavox_winpath "$logs/old")
  check "an expandable path: adopt expands it" adopt_gives 0 "), $wold, version " adopt
  unset PALAVOX_T_OLD
  check "an expandable path: undo" adopt_gives 0 "done: the registry is as it was" undo
  check "an expandable path: put back as it was, variable and type" registry_same "$logs/expand.reg"
  check "the stand-in registers again (5)" "$w" regsvr32 /s "$wold"
  check "a second class claiming the ProgID: added" "$w" reg add "HKCR\\CLSID\\{$PALAVOX_MSI_UPGRADE_CODE_X64}\\ProgID" /ve /d "$PALAVOX_VERSIONED_PROGID" /f
  refused "two classes for the ProgID" 3 "several classes are registered for $PALAVOX_PROGID" adopt
  check "the second class removed" "$w" reg delete "HKCR\\CLSID\\{$PALAVOX_MSI_UPGRADE_CODE_X64}" /f
  check "a per-user registration: added" "$w" reg add "HKCU\\Software\\Classes\\$class" /f
  refused "a class registered for the user only" 3 "is registered for the current user only" adopt
  check "the per-user registration removed" "$w" reg delete "HKCU\\Software\\Classes\\$class" /f
  check "a file in the written library's place" touch "$library"
  check "a library file in the way" adopt_gives 3 "exists already, and no adoption wrote it" adopt
  check "a library file in the way: left as it was" test -f "$library" -a ! -s "$library"
  rm -f "$library"
  check "a half-written adoption: marked" "$w" reg add "HKCR\\$own\\Adoption" /v State /d incomplete /f
  check "adopt refuses after a run stopped half-way" adopt_gives 1 "an earlier run stopped half-way" adopt
  check "undo clears it" adopt_gives 0 "done: the registry is as it was" undo
  check "the stand-in unregisters" "$w" regsvr32 /s /u "$wold"
  refused "no class but Palavox's own" 3 "no class but Palavox's own is registered for $PALAVOX_PROGID" adopt
  check "a ProgID naming a class not registered: set" "$w" reg add "HKCR\\$PALAVOX_PROGID\\CLSID" /ve /d "{$PALAVOX_MSI_UPGRADE_CODE_X64}" /f
  refused "a ProgID naming a class not registered" 3 "no class but Palavox's own is registered for $PALAVOX_PROGID" adopt
  check "the stand-in registers again (6)" "$w" regsvr32 /s "$wold"
  check "Palavox unregisters" "$w" regsvr32 /s /u "$wdll"
  refused "Palavox not registered" 3 "Palavox is not registered in the" adopt
  check "Palavox registers again" "$w" regsvr32 /s "$wdll"
  check "the stand-in registers last again" "$w" regsvr32 /s "$wold"
  check "after the refusals the registry is as it was" registry_same "$logs/before-refusals.reg"

  # A registry that cannot be written: administrator rights, and nothing
  # changed; refused half-way (the old class's key): all of it put back; a
  # library that cannot be written: all of it put back too.
  check "Palavox's own key locked" lock "$own"
  refused "a registry that cannot be written" 4 "administrator rights are needed" adopt
  check "Palavox's own key unlocked" unlock "$own"
  check "the old class's server key locked" lock "$class\\InprocServer32"
  refused "a write refused half-way" 4 "everything written was put back" adopt
  check "refused half-way: it says what it put back" grep -qF "put back HKLM\\Software\\Classes\\$path = \"$wold\"" "$logs/adopt.out"
  check "the old class's server key unlocked" unlock "$class\\InprocServer32"
  mkdir -p "$library"
  check "a library that cannot be written: the registry read first" registry_snapshot "$logs/refusal.reg"
  check "a library that cannot be written" adopt_gives 5 "everything written was put back" adopt
  check "a library that cannot be written: the registry is as it was" registry_same "$logs/refusal.reg"
  rmdir "$library"
  # An undo refused half-way keeps its journal, and a second undo ends it.
  check "adopt, to undo in two goes" adopt_gives 0 "done" adopt
  check "the library's path key locked" lock "$path"
  check "undo refused half-way" adopt_gives 6 "not everything could be put back" undo
  check "the library's path key unlocked" unlock "$path"
  check "undo again" adopt_gives 0 "done: the registry is as it was" undo
  check "after two undos the registry is as it was" registry_same "$logs/before-refusals.reg"

  check "the stand-in unregisters" "$w" regsvr32 /s /u "$wold"
  check "Palavox unregisters" "$w" regsvr32 /s /u "$wdll"
  check "the stand-in leaves no trace" standin_clean "$logs/after.reg"
  logs=$all_logs
}

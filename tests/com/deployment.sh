# Sourced by run-clients.sh, whose helpers it uses (check, run and its loader
# $w, $logs, $wincases, $scripts, registry.sh, the PALAVOX_ identity): the ways
# of deploying Palavox.dll other than one regsvr32, each proven with real
# clients under Wine.
#   regfree_stage <label> <loader> <folder of the DLL and its manifest> <clients>
#   coexistence_stage <32-bit DLL> <32-bit clients> <64-bit DLL> <64-bit clients>
#   msi_install <label> <loader> <package>      records what the install changed
#   msi_remove <label> <loader> <package>       and proves all of it undone

# Anything of ours in a registry snapshot: the four GUIDs and the ProgIDs (not
# the bare name, which the checkout's own path may hold), from the identity
# run-clients.sh read.
palavox_traces() {
  grep -i -F -e "$PALAVOX_CLSID" -e "$PALAVOX_LIBID" -e "$PALAVOX_IID" -e "$PALAVOX_ALIAS_IID" \
    -e "$PALAVOX_PROGID" "$1"
}

registry_clean() {
  registry_snapshot "$1" || return 1
  local found
  found=$(palavox_traces "$1")
  [ -z "$found" ] || { head -n 20 <<<"$found"; return 1; }
}

installed_folders() {
  ls -d "$WINEPREFIX/drive_c/Program Files"*/Palavox 2>/dev/null
}

# A client in a folder of its own beside Palavox.dll, Palavox.sxs.manifest and
# its application manifest, in a prefix where the DLL was never registered.
regfree_stage() {
  local label=$1 loader=$2 from=$3 clients=$4
  local app=$logs/$label-app client
  rm -rf "$app" && mkdir -p "$app"
  cp "$from/Palavox.dll" "$from/Palavox.sxs.manifest" "$app/"
  for client in early_bound_client late_bound_client packaging_client; do
    cp "$clients/$client.exe" "$app/"
    cp "$clients/client.exe.manifest" "$app/$client.exe.manifest"
  done
  local windll
  windll=$(palavox_winpath "$app/Palavox.dll")
  w=$loader
  check "$label: no trace of Palavox in the registry before" registry_clean "$logs/$label-before.reg"
  run "$label-early-bound" "$app/early_bound_client.exe" "$wincases"
  run "$label-late-bound" "$app/late_bound_client.exe" "$wincases"
  run "$label-packaging" "$app/packaging_client.exe" regfree "$windll"
  # The same client without an application manifest finds no class: the
  # manifest, not some registration, did the work above.
  run "$label-without-manifest" "$clients/packaging_client.exe" unregistered "$windll"
  check "$label: nor after" registry_clean "$logs/$label-after.reg"
}

# Both builds registered at once on 64-bit Windows share the ProgIDs, the type
# library and the interface; unregistering either, in either order, must leave
# the other whole, and the last one out must leave nothing.
coexistence_stage() {
  local d32 d64 c32=$2 c64=$4 first
  d32=$(palavox_winpath "$1")
  d64=$(palavox_winpath "$3")
  for first in 64 32; do
    registry_snapshot "$logs/hkcr-before-$first.reg"
    check "both registered ($first first out): 64-bit" "$PALAVOX_WINE64" regsvr32 /s "$d64"
    check "both registered ($first first out): 32-bit" wine regsvr32 /s "$d32"
    registry_snapshot "$logs/hkcr-both-$first.reg"
    check "both registrations change HKCR" registry_changes "$logs/hkcr-before-$first.reg" \
      "$logs/hkcr-both-$first.reg" "$logs/hkcr-changes-$first.txt"
    if [ "$first" = 64 ]; then
      w=$PALAVOX_WINE64
      run "both-64-vbscript" cscript //nologo "$scripts\\client.vbs" "$wincases"
      run "both-64-packaging" "$c64/packaging_client.exe" registered "$d64"
      w=wine
      run "both-32-vbscript" cscript //nologo "$scripts\\client.vbs" "$wincases"
      run "both-32-packaging" "$c32/packaging_client.exe" registered "$d32"
      check "64-bit regsvr32 /u with the 32-bit one registered" "$PALAVOX_WINE64" regsvr32 /s /u "$d64"
      w=$PALAVOX_WINE64
      run "64-gone-vbscript" cscript //nologo "$scripts\\unregistered.vbs"
      w=wine
      run "32-stays-vbscript" cscript //nologo "$scripts\\client.vbs" "$wincases"
      run "32-stays-packaging" "$c32/packaging_client.exe" registered "$d32"
      check "then 32-bit regsvr32 /u" wine regsvr32 /s /u "$d32"
    else
      check "32-bit regsvr32 /u with the 64-bit one registered" wine regsvr32 /s /u "$d32"
      w=wine
      run "32-gone-vbscript" cscript //nologo "$scripts\\unregistered.vbs"
      w=$PALAVOX_WINE64
      run "64-stays-vbscript" cscript //nologo "$scripts\\client.vbs" "$wincases"
      run "64-stays-packaging" "$c64/packaging_client.exe" registered "$d64"
      check "then 64-bit regsvr32 /u" "$PALAVOX_WINE64" regsvr32 /s /u "$d64"
    fi
    check "nothing either registration wrote is left ($first first out)" \
      registry_undone "$logs/hkcr-changes-$first.txt"
    check "no trace of Palavox in the registry ($first first out)" \
      registry_clean "$logs/hkcr-after-$first.reg"
  done
}

# msiexec's own exit status, as the shell sees it (modulo 256).
msiexec_gives() {
  local expected=$1
  shift
  "$@"
  local status=$?
  [ "$status" -eq $((expected % 256)) ] || { echo "msiexec exit status $status"; return 1; }
}

msi_install() {
  local label=$1 loader=$2 msi
  msi=$(palavox_winpath "$3")
  check "$label: no trace of Palavox in the registry before" registry_clean "$logs/$label-before.reg"
  check "$label: msiexec /i /qn succeeds" msiexec_gives 0 "$loader" msiexec /i "$msi" /qn
  registry_snapshot "$logs/$label-installed.reg"
  check "$label: the install changes HKCR" msi_changes "$logs/$label-before.reg" \
    "$logs/$label-installed.reg" "$logs/$label-changes.txt"
}

# What the install changed, less the bare keys under which Windows Installer
# files every product: msiexec creates them on its first install in a prefix
# and keeps them, as every Windows has them. All below them must go.
msi_changes() {
  registry_changes "$@" || return 1
  sed -i -E '/^\+ \[HKEY_CLASSES_ROOT\\Installer(\\(Features|Products|UpgradeCodes))?\]$/d' "$3"
  [ -s "$3" ]
}

msi_remove() {
  local label=$1 loader=$2 msi
  msi=$(palavox_winpath "$3")
  check "$label: msiexec /x /qn succeeds" msiexec_gives 0 "$loader" msiexec /x "$msi" /qn
  check "$label: nothing the install wrote is left" registry_undone "$logs/$label-changes.txt"
  check "$label: no trace of Palavox in the registry after" registry_clean "$logs/$label-after.reg"
  check "$label: no Palavox folder left under Program Files" eval '! installed_folders'
}

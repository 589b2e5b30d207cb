#!/usr/bin/env bash
# make package: the Windows Installer packages, built by wixl from
# com/Palavox.wxs into build/package/:
#   Palavox-<version>-x86.msi  for 32-bit Windows
#   Palavox-<version>-x64.msi  for 64-bit Windows, with both builds of the DLL
# each with palavox-record.js and the palavox-adopt.exe of its bitness beside it
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
eval "$(cmake -P "$root/cmake/PalavoxIdentity.cmake")"
version=$PALAVOX_VERSION
out=$root/build/package
for f in "$root/build/win32/Palavox.dll" "$root/build/win64/Palavox.dll" \
         "$root/build/win64/palavox-record.js" "$root/build/win32/palavox-adopt.exe" \
         "$root/build/win64/palavox-adopt.exe"; do
  [ -f "$f" ] || { echo "package: $f is missing; run make dll"; exit 2; }
done

# wixl takes the files named in the source relative to where it runs.
stage=$out/stage
rm -rf "$stage" && mkdir -p "$stage/x86" "$stage/x64"
cp "$root/build/win32/Palavox.dll" "$root/build/win32/palavox-adopt.exe" "$stage/x86/"
cp "$root/build/win64/Palavox.dll" "$root/build/win64/palavox-adopt.exe" "$stage/x64/"
cp "$root/build/win64/palavox-record.js" "$stage/"
wxs=$root/com/Palavox.wxs
# The identity both packages carry, by the names Palavox.wxs and .wxi use.
identity=(-D Version="$version" -D ProgId="$PALAVOX_PROGID"
  -D VersionedProgId="$PALAVOX_VERSIONED_PROGID" -D ClassName="$PALAVOX_CLASS_NAME"
  -D Clsid="$PALAVOX_CLSID" -D Iid="$PALAVOX_IID" -D Libid="$PALAVOX_LIBID"
  -D TypeLibVersion="$PALAVOX_TYPELIB_VERSION"
  -D Dll32Component="$PALAVOX_MSI_COMPONENT_DLL32" -D Dll64Component="$PALAVOX_MSI_COMPONENT_DLL64"
  -D Recorder32Component="$PALAVOX_MSI_COMPONENT_RECORDER32"
  -D Recorder64Component="$PALAVOX_MSI_COMPONENT_RECORDER64" -D Recorder=palavox-record.js
  -D Adopt32Component="$PALAVOX_MSI_COMPONENT_ADOPT32" -D Adopt64Component="$PALAVOX_MSI_COMPONENT_ADOPT64"
  -D Adopt32=x86/palavox-adopt.exe)
(cd "$stage" && wixl -a x86 -D Arch=x86 "${identity[@]}" \
  -D UpgradeCode="$PALAVOX_MSI_UPGRADE_CODE_X86" -D SharedComponent="$PALAVOX_MSI_COMPONENT_SHARED_X86" \
  -D Dll32=x86/Palavox.dll -o "$out/Palavox-$version-x86.msi" "$wxs")
(cd "$stage" && wixl -a x64 -D Arch=x64 "${identity[@]}" \
  -D UpgradeCode="$PALAVOX_MSI_UPGRADE_CODE_X64" -D SharedComponent="$PALAVOX_MSI_COMPONENT_SHARED_X64" \
  -D Dll32=x86/Palavox.dll -D Dll64=x64/Palavox.dll -D Adopt64=x64/palavox-adopt.exe -o "$out/Palavox-$version-x64.msi" "$wxs")
rm -rf "$stage"
"$root/scripts/sign.sh" "$out/Palavox-$version-x86.msi" "$out/Palavox-$version-x64.msi"
echo "package: $out/Palavox-$version-x86.msi"
echo "package: $out/Palavox-$version-x64.msi"

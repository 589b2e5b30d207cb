#!/usr/bin/env bash
# make package: the Windows Installer packages, built by wixl from
# shell/com/Palavox.wxs into build/package/:
#   Palavox-<version>-x86.msi  for 32-bit Windows
#   Palavox-<version>-x64.msi  for 64-bit Windows, with both builds of the DLL
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(Palavox VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
out=$root/build/package
for f in "$root/build/win32/Palavox.dll" "$root/build/win64/Palavox.dll"; do
  [ -f "$f" ] || { echo "package: $f is missing; run make dll"; exit 2; }
done

# wixl takes the files named in the source relative to where it runs.
stage=$out/stage
rm -rf "$stage" && mkdir -p "$stage/x86" "$stage/x64"
cp "$root/build/win32/Palavox.dll" "$stage/x86/"
cp "$root/build/win64/Palavox.dll" "$stage/x64/"
wxs=$root/shell/com/Palavox.wxs
(cd "$stage" && wixl -a x86 -D Arch=x86 -D Version="$version" -D Dll32=x86/Palavox.dll \
  -o "$out/Palavox-$version-x86.msi" "$wxs")
(cd "$stage" && wixl -a x64 -D Arch=x64 -D Version="$version" -D Dll32=x86/Palavox.dll \
  -D Dll64=x64/Palavox.dll -o "$out/Palavox-$version-x64.msi" "$wxs")
rm -rf "$stage"
echo "package: $out/Palavox-$version-x86.msi"
echo "package: $out/Palavox-$version-x64.msi"

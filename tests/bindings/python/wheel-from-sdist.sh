#!/usr/bin/env bash
# The wheel as a user builds it: pip, offline, from the sdist alone unpacked
# outside the tree, in a scratch venv beside Debian's setuptools and wheel;
# its tags checked, then installed into that venv for the tests.
#   tests/bindings/python/wheel-from-sdist.sh SDIST OUT
# OUT gets a copy of the sdist, the wheel, and venv/. Nothing is redone while
# OUT/wheel.stamp is newer than SDIST.
set -euo pipefail
sdist=$1 out=$2
here=$(cd "$(dirname "$0")" && pwd)
stamp=$out/wheel.stamp
[ "$stamp" -nt "$sdist" ] && exit 0
name=$(basename "$sdist" .tar.gz)
mkdir -p "$out"
rm -rf "$out/venv" "$out"/palavox-*.whl "$out"/palavox-*.tar.gz "$stamp"
cp "$sdist" "$out/"
/usr/bin/python3 -m venv --system-site-packages --without-pip "$out/venv"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
tar -xzf "$sdist" -C "$scratch"
(cd "$scratch" && PALAVOX_WERROR=1 "$out/venv/bin/python" -m pip wheel --no-build-isolation --no-deps \
  --no-index -q -w "$out" "$scratch/$name")
"$out/venv/bin/python" "$here/check_wheel.py" "$out/$name"-*.whl
"$out/venv/bin/python" -m pip install --no-deps --no-index -q "$out/$name"-*.whl
touch "$stamp"

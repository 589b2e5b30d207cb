#!/usr/bin/env bash
# Installs the built tree into a scratch prefix and builds a plain C99 program
# with nothing but `pkg-config --cflags --libs palavox`, as a C user would;
# then links the same program against the static library alone.
#   tests/capi/pkgconfig-test.sh <build dir> <scratch dir> <palavox_cases.txt>
set -euo pipefail
build=$1 work=$2 cases=$3
here=$(cd "$(dirname "$0")" && pwd)
# CC may carry words of its own ("cc --coverage" in the coverage tree).
read -ra cc <<<"${CC:-cc}"
rm -rf "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
pc=$(find "$work/prefix" -name palavox.pc)
export PKG_CONFIG_PATH=$(dirname "$pc")
version=$(pkg-config --modversion palavox)
libdir=$(pkg-config --variable=libdir palavox)
flags=(-std=c99 -Wall -Wextra -pedantic -Werror)

# The C program, as a user would build it.
# shellcheck disable=SC2046
"${cc[@]}" "${flags[@]}" "$here/cases.c" -o "$work/cases" $(pkg-config --cflags --libs palavox)
[ -L "$libdir/libpalavox.so" ] && [ -f "$libdir/libpalavox.so.1" ] ||
  { echo "pkgconfig-test: libpalavox.so and libpalavox.so.1 not installed in $libdir"; exit 1; }
LD_LIBRARY_PATH=$libdir "$work/cases" "$cases" "$version"
# It must be the installed shared library that answered.
LD_LIBRARY_PATH=$libdir ldd "$work/cases" | grep "libpalavox.so.1 => $libdir/" >/dev/null ||
  { echo "pkgconfig-test: the program did not load $libdir/libpalavox.so.1"; exit 1; }

# The static library, alone: everything the C interface needs is in it.
# shellcheck disable=SC2046
"${cc[@]}" "${flags[@]}" "$here/cases.c" -o "$work/cases-static" $(pkg-config --cflags palavox) \
  -Wl,-Bstatic $(pkg-config --static --libs palavox) -Wl,-Bdynamic
if ldd "$work/cases-static" | grep libpalavox >/dev/null; then
  echo "pkgconfig-test: the static program still loads libpalavox"; exit 1
fi
"$work/cases-static" "$cases" "$version"

#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds a consumer against it
# with find_package, exactly as a downstream project would.
set -euo pipefail
src=$1 work=$2 cxx=$3
rm -rf "$work"
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_COMPILER="$cxx" -DPALAVOX_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/build" >/dev/null
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null
cmake -S "$src/tests/package/consumer" -B "$work/consumer" -G Ninja \
      -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer"

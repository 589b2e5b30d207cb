#!/usr/bin/env bash
# What a project that uses Palavox goes through, in a scratch folder:
#   package-test.sh install  SRC WORK  the README's install commands, verbatim but for
#                                      the two paths, then a consumer built against the
#                                      installed package with find_package, and a
#                                      C-only one linking the static C interface
#   package-test.sh vendored SRC WORK  a consumer that builds the tree with add_subdirectory,
#                                      on a machine without GoogleTest or Google Benchmark
#   package-test.sh no_deps  SRC WORK  the tree itself configured without them (and without
#                                      SQLite), every tool asked for
set -euo pipefail
# The commands stay as a user types them; the parallelism comes from here.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
mode=$1 src=$(cd "$2" && pwd) work=$3
consumer=$src/tests/package/consumer
rm -rf "$work" && mkdir -p "$work"
log=$work/log

# Runs a step quietly; on failure shows the end of what it said.
step() {
  if ! "$@" >>"$log" 2>&1; then
    echo "package $mode: failed: $*"
    tail -n 40 "$log"
    exit 1
  fi
}

fail() {
  echo "package $mode: $*"
  exit 1
}

# The sh block after "Install the library" in README.md.
readme_install() {
  awk '/^Install the library/ {found = 1}
       found && /^```sh$/ {inside = 1; next}
       inside && /^```$/ {exit}
       inside {print}' "$src/README.md"
}

case $mode in
install)
  commands=$(readme_install)
  grep -q '^cmake --install build/release --prefix /opt/palavox$' <<<"$commands" ||
    fail "README's install commands not found or changed shape: $commands"
  commands=${commands//build\/release/$work\/release}
  commands=${commands//\/opt\/palavox/$work\/prefix}
  step bash -euo pipefail -c "cd '$src' && $commands"
  step cmake -DDIR="$work/prefix" -P "$src/tests/package/check-exports.cmake"
  # The public headers and nothing else, each saying so; text/'s own and the
  # tests' helpers stay out.
  headers=$(cd "$work/prefix/include/palavox" && echo *)
  [ "$headers" = "error.hpp mod_palavox.hpp palavox.h palavox_class.hpp palavox_version.h text.hpp" ] ||
    fail "include/palavox/ holds: $headers"
  for header in "$work"/prefix/include/palavox/*; do
    head -n 8 "$header" | grep -q 'Public:' || fail "${header##*/} does not say it is public"
  done
  step cmake -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" \
       -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  step cmake --build "$work/consumer"
  "$work/consumer/consumer"
  # A C-only project links Palavox::palavox_c_static without enabling C++.
  step cmake -S "$src/tests/package/consumer-c" -B "$work/consumer-c" -DCMAKE_PREFIX_PATH="$work/prefix" \
       -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  step cmake --build "$work/consumer-c"
  "$work/consumer-c/consumer_c"
  ;;
vendored)
  step cmake -S "$consumer" -B "$work/consumer" -G Ninja -DPALAVOX_SOURCE_DIR="$src" \
       -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
  step cmake --build "$work/consumer"
  "$work/consumer/consumer"
  ;;
no_deps)
  step cmake -S "$src" -B "$work/build" -G Ninja -DPALAVOX_BUILD_FUZZ=ON -DPALAVOX_BUILD_BENCH=ON \
       -DPALAVOX_BUILD_SQLITE=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
       -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON -DCMAKE_DISABLE_FIND_PACKAGE_SQLite3=ON
  for skipped in GoogleTest 'Google Benchmark' "SQLite's headers"; do
    [ "$(grep -c "^-- Palavox: $skipped not found, " "$log")" = 1 ] ||
      fail "no single line saying $skipped is skipped"
  done
  targets=$(ninja -C "$work/build" -t targets all)
  for absent in palavox_tests palavox_allocation_tests fuzz_anchors_test palavox_bench palavox_sqlite; do
    ! grep -q "^$absent:" <<<"$targets" || fail "$absent defined without its library"
  done
  grep -q '^fuzz_primitives:' <<<"$targets" || fail "the fuzz replay targets went missing too"
  # Without the C interface the rest still configures, and nothing of it is built.
  step cmake -S "$src" -B "$work/no-c" -G Ninja -DPALAVOX_BUILD_C=OFF
  targets=$(ninja -C "$work/no-c" -t targets all)
  for absent in palavox_c palavox_c_static palavox_capi_tests; do
    ! grep -q "^$absent:" <<<"$targets" || fail "$absent defined with PALAVOX_BUILD_C=OFF"
  done
  grep -q '^palavox_tests:' <<<"$targets" || fail "PALAVOX_BUILD_C=OFF dropped the C++ suites"
  echo "configured without GoogleTest, Google Benchmark and SQLite, and without the C interface"
  ;;
*)
  fail "unknown mode"
  ;;
esac

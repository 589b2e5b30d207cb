#!/usr/bin/env bash
# The other SIMD tiers, each configured on its own: the library builds with
# PALAVOX_SIMD=sse2 and =none, holds exactly the kernels the tier names, passes
# the kernel tests, and passes the tier to no consumer. (The native build,
# PALAVOX_SIMD=auto, runs its whole suite under every kernel it holds.)
#   tests/text/simd-tiers.sh [TIER...]    default: sse2 none
set -euo pipefail
cd "$(dirname "$0")/../.."
tiers=("$@")
[ ${#tiers[@]} -gt 0 ] || tiers=(sse2 none)

for tier in "${tiers[@]}"; do
  cmake --preset "simd-$tier" >/dev/null
  cmake --build --preset "simd-$tier"
  # The kernels a tier leaves out show up as skipped tests: only a failure is worth the whole log.
  log=build/simd-$tier/kernel-tests.log
  if ! "build/simd-$tier/tests/palavox_kernel_tests" >"$log" 2>&1; then
    cat "$log"
    exit 1
  fi
  grep -E "^\[  (PASSED|SKIPPED) *\] [0-9]+ test" "$log" | sed 's/, listed below://'
  exported=$(find "build/simd-$tier/CMakeFiles/Export" -name 'PalavoxTargets*.cmake')
  if [ -z "$exported" ] || grep -n 'SIMD\|INTERFACE_COMPILE_DEFINITIONS' $exported; then
    echo "simd-tiers: PALAVOX_SIMD=$tier: the exported targets are missing or carry a definition" >&2
    exit 1
  fi
  echo "simd-tiers: PALAVOX_SIMD=$tier passes"
done

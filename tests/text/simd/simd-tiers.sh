#!/usr/bin/env bash
# The other SIMD tiers, each configured on its own: the library builds with
# PALAVOX_SIMD=sse2 and =none, holds exactly the kernels the tier names, passes
# the kernel tests and the codec's (text/utf8/ with the UTF-8 forms), and passes the tier to no
# consumer. (The native build, PALAVOX_SIMD=auto, runs its whole suite under
# every kernel it holds.) For none, what it installs (libpalavox.so,
# libpalavox.a, the palavox command) holds no vector code: no instruction
# past SSE2, no VEX or EVEX, and on vector registers nothing but what the
# compiler uses to move, zero and do scalar floating point.
#   tests/text/simd/simd-tiers.sh [TIER...]    default: sse2 none
set -euo pipefail
cd "$(dirname "$0")/../../.."
tiers=("$@")
[ ${#tiers[@]} -gt 0 ] || tiers=(sse2 none)

# Instructions on vector registers other than moves, register zeroing
# (xor of a register with itself) and scalar floating point, one per line.
vector_code() {
  objdump -d --no-show-raw-insn "$1" | awk -F'\t' '
    /^[0-9a-f]+ <.*>:$/ { where = $0 }
    NF >= 2 && $0 ~ /%[xyz]mm/ {
      split($2, parts, " "); op = parts[1]; args = parts[2]
      if (op ~ /^(mov(d|q|dqa|dqu|aps|ups|apd|upd|ss|sd|lps|hps|lpd|hpd))$/) next
      if (op ~ /^(cvt|ucomis|comis)/ || op ~ /^(add|sub|mul|div|sqrt|min|max)s[sd]$/) next
      if (op ~ /^(pxor|xorps|xorpd)$/ && split(args, r, ",") == 2 && r[1] == r[2]) next
      print where "  " $2
    }'
}

for tier in "${tiers[@]}"; do
  cmake --preset "simd-$tier" >/dev/null
  targets=(palavox_kernel_tests palavox_utf8_tests)
  [ "$tier" != none ] || targets+=(palavox_text palavox palavox_c palavox_c_static palavox_cli)
  cmake --build --preset "simd-$tier" --target "${targets[@]}"
  # The kernels a tier leaves out show up as skipped tests: only a failure is worth the whole log.
  for suite in palavox_kernel_tests palavox_utf8_tests; do
    log=build/simd-$tier/$(basename "$suite").log
    if ! "build/simd-$tier/tests/$suite" >"$log" 2>&1; then
      cat "$log"
      exit 1
    fi
    grep -E "^\[  (PASSED|SKIPPED) *\] [0-9]+ test" "$log" | sed "s/, listed below://; s/^/$(basename "$suite"): /"
  done
  exported=$(find "build/simd-$tier/CMakeFiles/Export" -name 'PalavoxTargets*.cmake')
  if [ -z "$exported" ] || grep -n 'SIMD\|INTERFACE_COMPILE_DEFINITIONS' $exported; then
    echo "simd-tiers: PALAVOX_SIMD=$tier: the exported targets are missing or carry a definition" >&2
    exit 1
  fi
  if [ "$tier" = none ]; then
    prefix=build/simd-none/prefix
    rm -rf "$prefix"
    cmake --install build/simd-none --prefix "$prefix" >/dev/null
    installed=("$prefix"/lib*/libpalavox.so.*.*.* "$prefix"/lib*/libpalavox.a "$prefix/bin/palavox")
    for file in "${installed[@]}"; do
      [ -f "$file" ] || { echo "simd-tiers: $file was not installed" >&2; exit 1; }
      found=$(vector_code "$file")
      if [ -n "$found" ]; then
        echo "simd-tiers: PALAVOX_SIMD=none: vector code in ${file#"$prefix"/}:" >&2
        head -n 20 <<<"$found" >&2
        exit 1
      fi
    done
    echo "simd-tiers: PALAVOX_SIMD=none installs no vector code: ${installed[*]#"$prefix"/}"
  fi
  echo "simd-tiers: PALAVOX_SIMD=$tier passes"
done

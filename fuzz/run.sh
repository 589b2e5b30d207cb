#!/usr/bin/env bash
# Fuzzes every target for a bounded time, as many at once as there are cores.
# New inputs go to a scratch corpus inside the build folder; fuzz/corpus is
# only read. A mismatch or sanitizer report fails the run and leaves the input
# in <build>/fuzz/scratch/<target>/.
#   fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail

build=$(cd "${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
jobs=${FUZZ_JOBS:-$(nproc)}
targets=(conta_ocorrencias converte_links troca_acentos primitives utf8 pieces)
engine=$(cat "$build/fuzz/engine")

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

fuzz_one() {
  local name=$1 scratch=$build/fuzz/scratch/$1
  mkdir -p "$scratch/corpus"
  rm -f "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$scratch"/oom-*
  if [ "$engine" = libfuzzer ]; then
    # -max_len keeps the quadratic reference model quick.
    "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=1024 -timeout=20 \
      -rss_limit_mb=2048 -dict="$here/palavox.dict" -artifact_prefix="$scratch/" \
      -print_final_stats=1 "$scratch/corpus" "$here/corpus/$name" >"$scratch/log" 2>&1
  else
    "$build/fuzz/fuzz_$name" "$scratch/corpus" "$here/corpus/$name" >"$scratch/log" 2>&1
  fi
}

[ "$engine" = libfuzzer ] ||
  echo "fuzz: no libFuzzer runtime in $build; replaying the corpus only"

# Each job leaves its exit status beside its log.
run_one() {
  local status=0
  fuzz_one "$1" || status=$?
  echo "$status" >"$build/fuzz/scratch/$1/status"
}

running=0
for name in "${targets[@]}"; do
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
for name in "${targets[@]}"; do
  scratch=$build/fuzz/scratch/$name
  if [ "$(cat "$scratch/status")" = 0 ]; then
    if [ "$engine" = libfuzzer ]; then
      runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 runs in \2 s/p' "$scratch/log")
      echo "fuzz_$name: ${runs:-done}, no mismatch"
    else
      echo "fuzz_$name: $(tail -n 1 "$scratch/log")"
    fi
  else
    failed=1
    echo "fuzz_$name: FAILED; last lines of $scratch/log:"
    tail -n 40 "$scratch/log" | sed 's/^/  /'
    ls "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$scratch"/oom-* 2>/dev/null || true
  fi
done
exit "$failed"

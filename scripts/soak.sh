#!/usr/bin/env bash
# `make test` run again and again from a fresh clone of this checkout while two
# CPU-bound processes run beside it the whole time: a check that races the
# clock fails here. Prints each run's wall time and verdict; exits 1 if any
# run failed, or if the load did not last the whole time.
#   scripts/soak.sh [RUNS]   (make test-soak: 3 runs, over an hour)
# The clone is of the commit checked out (uncommitted changes are not in it),
# in SOAK_DIR (default build/soak/palavox); each run's log is beside it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
dir=${SOAK_DIR:-$root/build/soak}
clone=$dir/palavox
commit=$(git -C "$root" rev-parse HEAD)

[ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] ||
  echo "soak: uncommitted changes are not in the clone; it checks $commit"
rm -rf "$dir"
mkdir -p "$dir"
git clone --quiet --no-hardlinks "$root" "$clone" && git -C "$clone" checkout --quiet --detach "$commit" ||
  { echo "soak: cannot clone $root"; exit 2; }

# Whatever happens, the run under way (its own process group) and the load
# processes end, by their ids.
hogs=()
runner=
end_all() {
  local pid
  if [ -n "$runner" ]; then
    kill -TERM -- "-$runner" 2>/dev/null
    wait "$runner" 2>/dev/null
  fi
  for pid in "${hogs[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  hogs=()
}
trap end_all EXIT
trap 'exit 130' INT TERM
for _ in 1 2; do
  sha256sum /dev/zero >/dev/null &
  hogs+=($!)
done
echo "soak: $runs runs of make test in $clone ($commit), beside two sha256sum /dev/zero (pids ${hogs[*]})"

results=()
failed=0
for run in $(seq "$runs"); do
  log=$dir/run-$run.log
  started=$EPOCHREALTIME
  setsid sh -c 'cd "$1" && exec make test' soak "$clone" </dev/null >"$log" 2>&1 &
  runner=$!
  wait "$runner"
  status=$?
  runner=
  took=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { s = b - a; printf "%dm%02ds", s / 60, s % 60 }')
  verdict=pass
  [ "$status" = 0 ] || { verdict="FAIL (exit $status, $log)"; failed=1; }
  for pid in "${hogs[@]}"; do
    kill -0 "$pid" 2>/dev/null || { verdict="$verdict; load process $pid had ended"; failed=1; }
  done
  results+=("run $run: $took, $verdict")
  echo "soak: ${results[-1]}"
  [ "$status" = 0 ] || tail -n 30 "$log" | sed 's/^/  /'
done
end_all

echo "soak: make test beside two CPU-bound processes, from a fresh clone of $commit:"
printf '  %s\n' "${results[@]}"
exit "$failed"

#!/usr/bin/env bash
# make coverage: branch coverage of the product code. The native tree built
# with gcc --coverage (CMake preset coverage, build/coverage/native) runs its
# ctest suite; Palavox.dll built so with MinGW (preset coverage-win64,
# build/coverage/win64) runs its clients under Wine (tests/com/run-clients.sh
# with that DLL alone) while the modules' instrumented stages
# (tests/coverage/modules.sh) run beside it; then coverage.py reads every count under
# build/coverage, prints one line per file and the marked branches, writes
# build/coverage/report/index.html, and fails on a branch neither taken nor
# marked. Counts of an earlier run are deleted before the tests run, so each
# run stands alone; objects are rebuilt only where their sources changed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
cd "$ROOT"
started=$SECONDS
# The tool's own reading of sources first: a slip there would hide branches.
/usr/bin/python3 tests/coverage/coverage_test.py -q
cmake --preset coverage >/dev/null
cmake --build --preset coverage --parallel 2
cmake --preset coverage-win64 >/dev/null
cmake --build --preset coverage-win64 --parallel 2
# After the builds: listing the tests as they are built runs the programs too.
find build/coverage -name '*.gcda' -delete
ctest --preset coverage
echo "coverage: native stage done in $((SECONDS - started)) s"
# The modules' stages beside the Wine one, which mostly waits on Wine: their
# counts land in folders of their own, and their output is shown after it.
modules_log=build/coverage/modules.log
modules_pid=
if [ -x tests/coverage/modules.sh ]; then
  tests/coverage/modules.sh >"$modules_log" 2>&1 &
  modules_pid=$!
fi
# Palavox.dll run by its clients under 64-bit Wine, in prefixes of its own. Its
# counts go to the paths the objects were built at, through Z:, Wine's drive for /.
wine_status=0
GCOV_PREFIX=Z: PALAVOX_WINE_TEST_PREFIX="$ROOT/build/coverage/wine-test" \
  tests/com/run-clients.sh build/coverage/win64/com/Palavox.dll || wine_status=$?
echo "coverage: Palavox.dll stage done in $((SECONDS - started)) s"
modules_status=0
if [ -n "$modules_pid" ]; then
  wait "$modules_pid" || modules_status=$?
  cat "$modules_log"
  echo "coverage: modules' stages done in $((SECONDS - started)) s"
fi
[ "$wine_status" -eq 0 ] || { echo "coverage: the Palavox.dll stage failed"; exit "$wine_status"; }
[ "$modules_status" -eq 0 ] || { echo "coverage: the modules' stages failed"; exit "$modules_status"; }
status=0
/usr/bin/python3 tests/coverage/coverage.py "$@" || status=$?
echo "coverage: done in $((SECONDS - started)) s"
exit $status

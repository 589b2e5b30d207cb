#!/usr/bin/env bash
# make coverage: branch coverage of the product code. The native tree built
# with gcc --coverage (CMake preset coverage, build/coverage/native) runs its
# ctest suite; the modules' instrumented stages (tests/coverage/modules.sh)
# run when they exist; then coverage.py reads every count under
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
# After the build: listing the tests as they are built runs the programs too.
find build/coverage -name '*.gcda' -delete
ctest --preset coverage
echo "coverage: native stage done in $((SECONDS - started)) s"
if [ -x tests/coverage/modules.sh ]; then
  tests/coverage/modules.sh
fi
status=0
/usr/bin/python3 tests/coverage/coverage.py "$@" || status=$?
echo "coverage: done in $((SECONDS - started)) s"
exit $status

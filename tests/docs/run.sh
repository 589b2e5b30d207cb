#!/usr/bin/env bash
# make test-docs: the pages' blocks (run-docs.py) beside a throwaway PostgreSQL
# cluster for their SQL, stopped whatever happens. Reuses what make test built:
# the README's Release tree from the package test when it exists.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/tests/bindings/postgresql/cluster.sh"
started=$SECONDS
pg_cluster_start docs 55437
release=$ROOT/build/native/tests/package/install/release
[ -z "${DOCS_RELEASE_TREE:-}" ] && [ -f "$release/CMakeCache.txt" ] && export DOCS_RELEASE_TREE=$release
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
status=0
/usr/bin/python3 "$ROOT/tests/docs/run-docs.py" "$@" || status=$?
echo "docs: done in $((SECONDS - started)) s"
exit $status

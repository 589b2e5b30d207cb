#!/usr/bin/env bash
# The PostgreSQL extension against a real server: a throwaway cluster under
# build/postgresql/test with the extension installed into a private copy of
# the server, checked by check_postgresql.py, and stopped whatever happens.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
source "$ROOT/tests/bindings/postgresql/cluster.sh"
started=$SECONDS
pg_cluster_start test 55433
/usr/bin/python3 "$ROOT/tests/bindings/postgresql/check_postgresql.py"
echo "postgresql: done in $((SECONDS - started)) s"

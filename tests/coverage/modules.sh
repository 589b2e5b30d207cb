#!/usr/bin/env bash
# The C of the Python, SQLite and PostgreSQL modules built with GCC's
# --coverage at -O0, objects under build/coverage/<module>/, each run by its
# own tests, so that the .gcda files land beside them for
# tests/coverage/coverage.py.
#   tests/coverage/modules.sh [python] [sqlite] [postgresql]   (all three by default)
# Only the module's own C file is compiled here: the rest is what make build,
# make -C bindings python and the PostgreSQL stage made (the native build's
# libpalavox.a, the venv of build/python, the server copy and the installed
# core under build/postgresql), brought up to date first. What ships stays
# uninstrumented: the Python tests import a copy of the installed package
# beside the instrumented module, the extensions are loaded from here.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
NATIVE=$ROOT/build/native
OUT=$ROOT/build/coverage
ARCHIVE=$NATIVE/capi/libpalavox.a
# The Python module's one-byte conversions (text/units/), in no C interface library.
UNITS_ARCHIVE=$NATIVE/text/libpalavox_units.a
# Every branch as written, counted exactly across the Python tests' threads.
COVER=(-O0 -g --coverage -fprofile-update=atomic)

say() { echo "coverage: $*"; }

# A fresh folder for one module's objects: no counts of an earlier run.
fresh() { rm -rf "$1" && mkdir -p "$1"; }

# The native build's own compile command for OBJECT's source, at -O0 with
# coverage, into OUT_OBJECT; its dependency-file options dropped.
native_compile() {
  local object=$1 out=$2 command arg skip=0
  command=$(ninja -C "$NATIVE" -t commands "$object" | tail -n 1)
  local args=()
  read -ra words <<<"$command"
  for arg in "${words[@]}"; do
    if ((skip)); then skip=0; continue; fi
    case $arg in
      -MD) ;;
      -MT | -MF) skip=1 ;;
      -O[0-3s]) args+=("${COVER[@]}") ;;
      -o) args+=(-o "$out"); skip=1 ;;
      *) args+=("$arg") ;;
    esac
  done
  "${args[@]}"
}

# ----------------------------------------------------------------- Python
# The package as the wheel installed it in build/python/venv, copied, with
# the module compiled from its parts in bindings/python/src/_palavox/ as
# setup.py does it (its warnings, the interpreter's flags) and linked with the
# native archives.
# The quick tests: test_palavox.py (test_dask_cluster.py starts a cluster of
# processes for a minute and calls nothing test_palavox.py does not), then the
# Arrow path's runner in the pandas 3 environment (scripts/install-python-deps:
# the same CPython, so the same module loads there).
python_stage() {
  make --no-print-directory -s -C "$ROOT/bindings" python >/dev/null
  local venv_py=$ROOT/build/python/venv/bin/python dir=$OUT/python
  fresh "$dir"
  local installed
  installed=$(cd / && "$venv_py" -c 'import os, palavox; print(os.path.dirname(palavox.__file__))')
  mkdir -p "$dir/pkg"
  cp -r "$installed" "$dir/pkg/palavox"
  rm -rf "$dir/pkg/palavox/__pycache__" "$dir"/pkg/palavox/_palavox.*
  local include suffix cflags
  include=$("$venv_py" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
  suffix=$("$venv_py" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
  read -ra cflags < <("$venv_py" -c 'import sysconfig, re
print(re.sub(r"-O[0-3s]\b|-g\b", "", sysconfig.get_config_var("CFLAGS")))')
  local part objects=()
  for part in "$ROOT"/bindings/python/src/_palavox/*.c; do
    gcc "${cflags[@]}" -fPIC -std=c99 -Wall -Wextra -Werror "${COVER[@]}" -DPALAVOX_C_STATIC \
      -I"$include" -I"$ROOT/capi/include" -I"$NATIVE/capi/include" -I"$ROOT/text/units" \
      -c "$part" -o "$dir/$(basename "$part" .c).o"
    objects+=("$dir/$(basename "$part" .c).o")
  done
  g++ -shared --coverage -Wl,--exclude-libs,ALL -o "$dir/pkg/palavox/_palavox$suffix" \
    "${objects[@]}" "$UNITS_ARCHIVE" "$ARCHIVE"
  (
    cd "$ROOT/build/python"
    export PYTHONPATH=$dir/pkg
    "$venv_py" -c 'import palavox._palavox as m, sys; assert m.__file__.startswith(sys.argv[1]), m.__file__' \
      "$dir/pkg/"
    "$venv_py" -m pytest -q -p no:cacheprovider "$ROOT/tests/bindings/python/test_palavox.py"
    "$ROOT/scripts/install-python-deps" pandas3
    "$ROOT/build/pyenv/pandas3/bin/python" -m pytest -q -p no:cacheprovider \
      "$ROOT/tests/bindings/python/test_arrow_cases.py"
  )
}

# ----------------------------------------------------------------- SQLite
sqlite_stage() {
  make --no-print-directory -s -C "$ROOT/bindings" sqlite >/dev/null
  local dir=$OUT/sqlite
  fresh "$dir"
  native_compile bindings/sqlite/CMakeFiles/palavox_sqlite.dir/palavox_sqlite.c.o "$dir/palavox_sqlite.o"
  g++ -shared --coverage -Wl,--version-script="$ROOT/bindings/sqlite/palavox_sqlite.map" -Wl,-z,defs \
    -o "$dir/palavox.so" "$dir/palavox_sqlite.o" "$ARCHIVE"
  PALAVOX_SQLITE_EXTENSION=$dir/palavox /usr/bin/python3 "$ROOT/tests/bindings/sqlite/check_sqlite.py"
}

# ------------------------------------------------------------- PostgreSQL
# A throwaway cluster as the extension's own stage makes one, then the
# extension built by PGXS as users build it, in a copy of its folder whose
# palavox_pg.c includes the real one (so gcov names the real file), and
# installed over the plain one before any backend loads it. Backends write
# their counts, as the server's user, under the cluster's folder (GCOV_PREFIX),
# copied here once a fast stop has ended them all. The checks but the
# cancels, whose cancel lands wherever the clock puts it.
postgresql_stage() {
  local dir=$OUT/postgresql
  fresh "$dir"
  (
    cmake --build "$NATIVE" --target palavox_c_static >/dev/null
    source "$ROOT/tests/bindings/postgresql/cluster.sh"
    pg_cluster_start coverage 55439
    local cluster tree counts
    cluster=$(dirname "$PG_DATA")
    tree=${PG_BIN%"$("$PG_CONFIG" --bindir)"}
    counts=$cluster/gcov
    pg_cluster_stop
    for f in Makefile palavox.map palavox.control palavox--1.0.sql; do
      cp "$ROOT/bindings/postgresql/$f" "$dir/"
    done
    printf '#include "%s"\n' "$ROOT/bindings/postgresql/palavox_pg.c" >"$dir/palavox_pg.c"
    local pgxs=(make --no-print-directory -s -C "$dir" PG_CONFIG="$PG_CONFIG"
                PALAVOX_PREFIX="$ROOT/build/postgresql/palavox-prefix" COPT="${COVER[*]}")
    "${pgxs[@]}" >/dev/null
    "${pgxs[@]}" install DESTDIR="$tree" >/dev/null
    mkdir -p "$counts"
    chown postgres: "$counts"
    GCOV_PREFIX=$counts as_postgres "$PG_BIN/pg_ctl" -D "$PG_DATA" -l "$cluster/server.log" -w -t 60 \
      start >/dev/null
    /usr/bin/python3 "$ROOT/tests/bindings/postgresql/check_postgresql.py" --no-cancels
    as_postgres "$PG_BIN/pg_ctl" -D "$PG_DATA" -m fast -w -t 120 stop >/dev/null
    local found
    found=$(find "$counts" -name palavox_pg.gcda)
    [ -n "$found" ] || { echo "coverage: no backend wrote palavox_pg.gcda" >&2; exit 1; }
    cp "$found" "$dir/"
  )
}

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(python sqlite postgresql)
for stage in "${stages[@]}"; do
  case $stage in
    python | sqlite | postgresql) ;;
    *) echo "coverage: no module '$stage' (python, sqlite, postgresql)" >&2; exit 2 ;;
  esac
done
for stage in "${stages[@]}"; do
  started=$SECONDS
  "${stage}_stage"
  say "$stage: done in $((SECONDS - started)) s"
done

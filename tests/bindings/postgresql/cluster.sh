# Sourced by the PostgreSQL tests and benchmark: a private copy of the server
# with the extension installed into it, and a throwaway cluster under build/.
#   pg_cluster_start NAME PORT   sets PGHOST, PGPORT, PGUSER; stops it on exit
# The server runs as the postgres user (initdb refuses root), listens on a
# Unix socket in its own directory only, and is stopped whatever happens.
# PG_CONFIG picks the server and PALAVOX_PREFIX the Palavox library, as for the
# extension's Makefile.

ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}
PG_CONFIG=${PG_CONFIG:-pg_config}
PG_RUN_AS=(runuser -u postgres --)
[ "$(id -un)" = postgres ] && PG_RUN_AS=()
# From /, which the server's user can always enter.
as_postgres() { (cd / && "${PG_RUN_AS[@]}" "$@"); }

# The server's binaries copied (they find their share and lib directories from
# where they stand), its libraries linked, and `make install` with DESTDIR
# into that tree: CREATE EXTENSION finds palavox there, the system's own
# directories stay untouched.
pg_private_server() {
  local tree=$1
  local bindir pkglibdir sharedir
  bindir=$("$PG_CONFIG" --bindir)
  pkglibdir=$("$PG_CONFIG" --pkglibdir)
  sharedir=$("$PG_CONFIG" --sharedir)
  rm -rf "$tree"
  mkdir -p "$tree$bindir" "$tree$pkglibdir" "$(dirname "$tree$sharedir")"
  cp -a "$bindir/." "$tree$bindir/"
  cp -a "$sharedir" "$tree$sharedir"
  local f
  for f in "$pkglibdir"/*; do ln -s "$f" "$tree$pkglibdir/"; done
  # The extension is built as its users build it, against an installed
  # library: PALAVOX_PREFIX, else the native build (make build) installed here.
  local prefix=${PALAVOX_PREFIX:-$ROOT/build/postgresql/palavox-prefix}
  [ -n "${PALAVOX_PREFIX:-}" ] || cmake --install "$ROOT/build/native" --prefix "$prefix" >/dev/null
  local pgxs=(make --no-print-directory -s -C "$ROOT/bindings/postgresql" PG_CONFIG="$PG_CONFIG"
              PALAVOX_PREFIX="$prefix")
  "${pgxs[@]}" >/dev/null
  "${pgxs[@]}" install DESTDIR="$tree" >/dev/null
  PG_BIN=$tree$bindir
}

pg_cluster_stop() {
  if [ -n "${PG_DATA:-}" ] && [ -f "$PG_DATA/postmaster.pid" ]; then
    as_postgres "$PG_BIN/pg_ctl" -D "$PG_DATA" -m immediate -w stop >/dev/null 2>&1 || true
  fi
}

pg_cluster_start() {
  local name=$1 port=$2 dir=$ROOT/build/postgresql/$1
  mkdir -p "$ROOT/build/postgresql"
  chmod a+rx "$ROOT/build" "$ROOT/build/postgresql"
  # A checkout the server's user cannot reach (under /root, say): the cluster
  # goes to /tmp, with a link to it where it would have been.
  if ! as_postgres test -x "$ROOT/build/postgresql"; then
    rm -rf "$dir"
    ln -s "/tmp/palavox-postgresql-$name" "$dir"
    dir=/tmp/palavox-postgresql-$name
  fi
  if [ -f "$dir/data/postmaster.pid" ]; then  # left running by a run killed outright
    as_postgres "$("$PG_CONFIG" --bindir)/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  mkdir -p "$dir/run"
  pg_private_server "$dir/server"
  chmod a+rx "$dir"
  chmod -R a+rX "$dir"
  mkdir "$dir/data"
  chown postgres: "$dir/run" "$dir/data" "$dir"
  PG_DATA=$dir/data
  trap pg_cluster_stop EXIT
  trap 'exit 130' INT TERM
  as_postgres "$PG_BIN/initdb" -D "$PG_DATA" -U postgres --auth=trust \
    --encoding=UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; return 1; }
  cat >>"$PG_DATA/postgresql.conf" <<EOF
listen_addresses = ''
port = $port
unix_socket_directories = '$dir/run'
fsync = off
synchronous_commit = off
full_page_writes = off
shared_buffers = 256MB
max_worker_processes = 8
max_parallel_workers = 4
EOF
  as_postgres "$PG_BIN/pg_ctl" -D "$PG_DATA" -l "$dir/server.log" -w -t 60 start >/dev/null ||
    { cat "$dir/server.log" >&2; return 1; }
  export PGHOST=$dir/run PGPORT=$port PGUSER=postgres PGDATABASE=postgres PGCLIENTENCODING=UTF8
  export PSQL=$PG_BIN/psql
}

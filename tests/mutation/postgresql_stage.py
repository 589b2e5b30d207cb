#!/usr/bin/env python3
"""The postgresql area of mutate.py: one cluster for the whole run, not one a
mutant (tests/bindings/postgresql/cluster.sh makes it, as run.sh does), and
per mutant only palavox_pg.c rebuilt, in a copy of its sources, and put where
that cluster loads the extension from.

  postgresql_stage.py start TREE  TREE's core installed, the cluster up, the extension built
  postgresql_stage.py object      compiled without debug info: the object's hash
  postgresql_stage.py build       linked and installed over the last one
  postgresql_stage.py first       the result checks, in fresh databases; the first failure ends it
  postgresql_stage.py wide        check_postgresql.py whole, cancels and timeouts too
  postgresql_stage.py stop        the original extension back in place, the cluster stopped

Nothing is preloaded, so the postmaster never maps the extension and every
check's new backend loads the file installed last; `first` and `wide` confirm
it did before checking anything. mutate.py discards the stages' output: it
goes to build/mutation/postgresql.log."""

import hashlib
import json
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SOURCE = os.path.join(ROOT, "bindings", "postgresql")
BASE = os.path.join(ROOT, "build", "postgresql")
CLUSTER = os.path.join(BASE, "mutation")  # cluster.sh's place for the name "mutation"
PREFIX = os.path.join(BASE, "mutation-prefix")
EXT = os.path.join(BASE, "mutation-ext")
STATE = os.path.join(EXT, "stage.json")
LOG = os.path.join(ROOT, "build", "mutation", "postgresql.log")
FAIL_SAFE = 300  # s, against a hang only: each wait ends on the state it waits for

# Built in a copy of the sources: PGXS's out-of-tree build would take the
# objects an ordinary build left beside them. Without -Werror (a fault the
# compiler merely warns about still runs) and without debug info (whose
# columns move with any edit on a line): the same code gives the same object.
MAKE = ["make", "--no-print-directory", "-s", "-C", EXT, f"PALAVOX_PREFIX={PREFIX}",
        "PG_CFLAGS=-std=gnu99", "COPT=-g0"]
SOURCES = ["Makefile", "palavox_pg.c", "palavox.map", "palavox.control", "palavox--1.0.sql"]


def log(what):
    with open(LOG, "a") as f:
        f.write(f"postgresql stage: {what}\n")


def sh(args, **kw):
    with open(LOG, "a") as f:
        return subprocess.run(args, stdout=f, stderr=f, cwd=kw.pop("cwd", ROOT), **kw).returncode


def sha(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def state():
    return json.load(open(STATE))


def save(s):
    with open(STATE + ".new", "w") as f:
        json.dump(s, f)
    os.replace(STATE + ".new", STATE)


def as_postgres(*args):
    return sh(["runuser", "-u", "postgres", "--", *args], cwd="/")


def psql(s, sql, db="postgres"):
    run = subprocess.run([s["psql"], "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-d", db],
                         input=sql, capture_output=True, text=True, env=dict(os.environ, **s["env"]))
    return run.returncode, run.stdout.strip()


def data_dir():
    return os.path.join(os.path.realpath(CLUSTER), "data")


def stop_cluster():
    data = data_dir()
    if os.path.exists(os.path.join(data, "postmaster.pid")):
        pg_ctl = os.path.join(subprocess.check_output(["pg_config", "--bindir"], text=True).strip(), "pg_ctl")
        as_postgres(pg_ctl, "-D", data, "-m", "immediate", "-w", "stop")
    return not os.path.exists(os.path.join(data, "postmaster.pid"))


def sync():
    """The copy made like the sources; a file rewritten only if it differs,
    so make sees what changed."""
    for name in SOURCES:
        source, copy = os.path.join(SOURCE, name), os.path.join(EXT, name)
        if not os.path.exists(copy) or sha(copy) != sha(source):
            shutil.copyfile(source, copy)


def object_hash():
    """The object of the source as it stands, or None if it does not compile."""
    obj = os.path.join(EXT, "palavox_pg.o")
    if os.path.exists(obj):
        os.unlink(obj)
    sync()
    return sha(obj) if sh(MAKE + ["palavox_pg.o"]) == 0 else None


def build():
    """Links the object into palavox.so and puts it where the cluster loads it
    from, by rename: a new file, never one rewritten under a mapping."""
    s = state()
    built = os.path.join(EXT, "palavox.so")
    if os.path.exists(built):
        os.unlink(built)
    sync()
    if sh(MAKE) != 0:
        return False
    installed = os.path.join(s["pkglibdir"], "palavox.so")
    shutil.copyfile(built, installed + ".new")
    os.chmod(installed + ".new", 0o755)
    os.replace(installed + ".new", installed)
    s["built"] = sha(built)
    save(s)
    return sha(installed) == s["built"]


def start(tree):
    os.makedirs(EXT, exist_ok=True)
    if not stop_cluster():  # left running by a run killed outright
        sys.exit(f"postgresql stage: the cluster in {data_dir()} does not stop")
    if sh(["cmake", "--install", tree, "--prefix", PREFIX]) != 0:
        sys.exit(f"postgresql stage: cmake --install {tree} failed")
    # cluster.sh stops the cluster when its shell exits: here, only if starting fails.
    script = ('set -euo pipefail; source tests/bindings/postgresql/cluster.sh; pg_cluster_start mutation 55435;'
              ' trap - EXIT INT TERM; printf "%s\\n" "$PG_BIN" "$PGHOST" "$PGPORT" "$PSQL"')
    run = subprocess.run(["bash", "-c", script], cwd=ROOT, capture_output=True, text=True,
                         env=dict(os.environ, PALAVOX_PREFIX=PREFIX))
    if run.stderr.strip():
        log(run.stderr.strip())
    if run.returncode != 0:
        sys.exit(f"postgresql stage: the cluster did not start: {run.stderr[-500:]}")
    bindir, host, port, psql_path = run.stdout.split("\n")[:4]
    tree_root = bindir[:-len(subprocess.check_output(["pg_config", "--bindir"], text=True).strip())]
    pkglibdir = tree_root + subprocess.check_output(["pg_config", "--pkglibdir"], text=True).strip()
    save({"psql": psql_path, "pkglibdir": pkglibdir,
          "env": {"PGHOST": host, "PGPORT": port, "PGUSER": "postgres", "PGDATABASE": "postgres",
                  "PGCLIENTENCODING": "UTF8", "PSQL": psql_path,
                  "PALAVOX_C_LIBRARY": os.path.join(tree, "capi", "libpalavox.so.1")}})
    s = state()
    rc, preload = psql(s, "SELECT current_setting('shared_preload_libraries') || current_setting("
                          "'session_preload_libraries') || current_setting('local_preload_libraries');")
    if rc != 0 or preload:
        sys.exit(f"postgresql stage: the cluster preloads {preload!r}: a mutant would not be loaded anew")
    if object_hash() is None or not build():
        sys.exit("postgresql stage: the extension does not build")
    s = state()
    s["original"] = s["built"]
    save(s)
    log(f"cluster up, extension {s['original'][:12]} in {pkglibdir}")


def settled(s):
    """Waits until the cluster takes connections and no backend of an earlier
    run is left (a mutant that hung is terminated); restarts it if one will not go."""
    for _ in range(2):
        deadline = time.monotonic() + FAIL_SAFE
        while time.monotonic() < deadline:
            # an autovacuum worker too: ANALYZE runs the index's expression, the mutant's code
            rc, left = psql(s, "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE"
                               " pid <> pg_backend_pid() AND backend_type IN"
                               " ('client backend', 'parallel worker', 'autovacuum worker');")
            if rc == 0 and left == "0":
                return True
            time.sleep(0.1)
        log("a backend does not go: the cluster restarted")
        data = data_dir()
        as_postgres(os.path.join(os.path.dirname(s["psql"]), "pg_ctl"), "-D", data, "-m", "immediate", "-w", "stop")
        as_postgres(os.path.join(os.path.dirname(s["psql"]), "pg_ctl"), "-D", data,
                    "-l", os.path.join(os.path.dirname(data), "server.log"), "-w", "-t", "60", "start")
    return False


def loaded(s):
    """Whether a new backend maps the installed file, built from this source,
    and the postmaster maps none."""
    installed = os.path.join(s["pkglibdir"], "palavox.so")
    if sha(installed) != s["built"]:
        log("the installed extension is not the one built last")
        return False
    with open(os.path.join(data_dir(), "postmaster.pid")) as f:
        postmaster = f.readline().strip()
    if "palavox.so" in open(f"/proc/{postmaster}/maps").read():
        log("the postmaster maps the extension")
        return False
    # LOAD maps it and runs none of its functions: a mutant that crashes is the checks' to find.
    rc, maps = psql(s, "LOAD '$libdir/palavox'; SELECT pg_read_file('/proc/self/maps');", "utf8")
    inode = str(os.stat(installed).st_ino)
    mapped = [line.split() for line in maps.split("\n") if line.endswith("/palavox.so")]
    if rc != 0 or not mapped or any(m[4] != inode or os.path.realpath(m[5]) != os.path.realpath(installed)
                                    for m in mapped):
        log(f"a new backend does not map {installed} (inode {inode}): {mapped}")
        return False
    return True


def checks(wide):
    s = state()
    os.environ.update(s["env"])
    sys.stdout = sys.stderr = open(LOG, "a", buffering=1)
    sys.path.insert(0, os.path.join(ROOT, "tests", "bindings", "postgresql"))
    import check_postgresql as c
    # No mutant's code has run yet: a failure here is the stage's own (125).
    if not settled(s):
        log("the cluster does not settle")
        sys.exit(125)
    try:
        c.create_databases()
    except RuntimeError as e:
        log(f"no fresh databases: {e}")
        sys.exit(125)
    if not loaded(s):
        log("the mutant is not what runs")
        sys.exit(125)
    if not wide:
        # A mutant that never ends a call is failed by the server, minutes on:
        # a fail-safe far past the longest call here, not a check of speed.
        os.environ["PGOPTIONS"] = f"-c statement_timeout={FAIL_SAFE // 2}s"
        def check(ok, what):
            if not ok:
                print(f"FAIL {what}")
                sys.exit(1)
        c.check = check
    c.check_results()
    if wide:
        c.check_cancels()
    c.finish()


def stop():
    """The source is the original again (mutate.py restored it): its build is
    installed and must be the one built at the start."""
    ok = True
    try:
        s = state()
        if object_hash() is None or not build() or state()["built"] != s.get("original"):
            log("the original extension is not back")
            ok = False
    except (OSError, ValueError) as e:
        log(f"no extension put back: {e}")
        ok = False
    if not stop_cluster():
        log("the cluster does not stop")
        ok = False
    log("cluster stopped" + ("" if ok else " (see above)"))
    sys.exit(0 if ok else 1)


def main():
    step = sys.argv[1] if len(sys.argv) > 1 else ""
    os.makedirs(os.path.dirname(LOG), exist_ok=True)
    if not sys.stderr.isatty():
        sys.stderr = open(LOG, "a", buffering=1)
    if step == "start" and len(sys.argv) == 3:
        start(os.path.abspath(os.path.join(ROOT, sys.argv[2])))
    elif step == "object":
        h = object_hash()
        sys.exit(1) if h is None else print(h)
    elif step == "build":
        sys.exit(0 if build() else 1)
    elif step in ("first", "wide"):
        log(f"{step}: {os.environ.get('MUTANT', 'unmutated')}")
        checks(step == "wide")
    elif step == "stop":
        stop()
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()

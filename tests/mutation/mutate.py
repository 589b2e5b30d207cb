#!/usr/bin/env python3
"""Mutation run: small faults planted one at a time in the product code, each
built and put through the tests that cover it. A mutant those tests fail on is
killed; one they pass is run again through its area's wider stage (for the
native areas, ctest but the package tests) and only then called a survivor, to be killed
by a new row or argued equivalent. The file is restored after every mutant,
and on any exit.

  tests/mutation/mutate.py [--area NAME]... [--list] [--every K] [--only FILE:LINE:COL]...
                           [--resume] [--first-stage] [--build TREE] [--report FILE] [--nice N]

Mutants that do not compile are not counted; the tree should be configured
without PALAVOX_WERROR, or a mutant the compiler merely warns about (`a && b
|| c`) is one of them. Where the compile command is
known, the mutant is compiled once without debug info: an object identical to
the original's counts as equivalent without running anything; otherwise that
object stands in the build tree, so the build only links. --every K runs every
K-th mutant (a deterministic sample, reported as one). The run is niced (19
unless --nice says otherwise): it shares the machine."""

import argparse
import atexit
import glob
import hashlib
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TESTS = "build/native/tests"


def build(*targets):
    return "cmake --build build/native -j2 --target " + " ".join(targets)


def ctest(regex):
    return f"ctest --test-dir build/native -j2 --timeout 900 -R '{regex}'"


def gtest(binary, only=None):
    return f"{TESTS}/{binary} --gtest_brief=1" + (f" --gtest_filter='{only}'" if only else "")


PG_STAGE = "/usr/bin/python3 tests/mutation/postgresql_stage.py"

# The whole native suite but the package tests, which build the project again
# in scratch trees (minutes) and check how it installs, not what it computes.
NATIVE_STAGE = {"build": "cmake --build build/native -j2",
                "test": "ctest --test-dir build/native -j2 --timeout 900 -E '^package_'"}

# Each area: the files mutated; the targets and tests that see a mutant first
# (cheapest first, the first failure ends the run); the wider stage a mutant
# those pass must pass too before it is called a survivor. Optionally: setup
# and teardown around the area's mutants (teardown whatever happens), a
# command printing the object code's hash (else the build tree's compile
# commands give it), another tree whose compile commands count, and the log
# the stages write.
AREAS = {
    "capi": {
        # With the frame's forms the C interface calls (the command calls some too).
        "files": ["capi/src/palavox_c.cpp", "frame/palavox_forms.*"],
        "build": build("palavox_capi_tests", "fuzz_pieces", "palavox_c"),
        "test": " && ".join([gtest("capi/palavox_capi_tests"), ctest("^(capi_|fuzz_replay_pieces$)")]),
        "wide": NATIVE_STAGE,
    },
    "sqlite": {
        "files": ["bindings/sqlite/*.c"],
        "build": build("palavox_sqlite"),
        "test": "PALAVOX_SQLITE_EXTENSION=build/native/bindings/sqlite/palavox "
                "/usr/bin/python3 tests/bindings/sqlite/check_sqlite.py",
    },
    "utf8": {
        "files": ["text/utf8/*.cpp", "text/utf8/*.hpp", "text/fold/utf8_fold.*", "text/links/utf8_links.*"],
        "build": build("palavox_utf8_tests", "palavox_pieces_tests", "palavox_capi_tests", "fuzz_utf8"),
        "test": " && ".join([gtest("palavox_utf8_tests"), gtest("palavox_pieces_tests"),
                             ctest("^fuzz_replay_utf8$"), gtest("capi/palavox_capi_tests")]),
        "wide": NATIVE_STAGE,
    },
    "pieces": {
        "files": ["text/pieces/*.cpp"],
        "build": build("palavox_pieces_tests", "palavox_capi_tests", "palavox_cli", "fuzz_pieces"),
        "test": " && ".join([gtest("palavox_pieces_tests"), gtest("capi/palavox_capi_tests", "CapiStreams*"),
                             ctest("^(cli_command|fuzz_replay_pieces)$")]),
        "wide": NATIVE_STAGE,
    },
    "cli": {
        "files": ["cli/*.cpp"],
        "build": build("palavox_cli"),
        "test": ctest("^cli_"),
        "wide": NATIVE_STAGE,
    },
    # The package's own compile and link commands, kept from one build of its
    # sdist (tests/mutation/python_module.py): seconds a mutant, not the
    # minutes a wheel takes. The venv's module is the wheel's again at the end.
    "python": {
        "files": ["bindings/python/src/_palavox/*.c", "bindings/python/src/_palavox/*.h"],
        "setup": "tests/mutation/python_module.py setup build/native",
        "tree": "build/mutation-python",
        "build": "tests/mutation/python_module.py build",
        # The runners of the Arrow path, polars, DuckDB and Spark need the index's packages, not
        # in this venv: a mutant of arrow.c is not run against them here (yet).
        "test": "cd build/python && venv/bin/python -m pytest -q -x -p no:cacheprovider ../../tests/bindings/python"
                " --ignore=../../tests/bindings/python/test_dask_cluster.py"
                " --ignore=../../tests/bindings/python/test_arrow_cases.py"
                " --ignore=../../tests/bindings/python/test_polars_cases.py"
                " --ignore=../../tests/bindings/python/test_duckdb_cases.py"
                " --ignore=../../tests/bindings/python/test_spark_cluster.py",
        "wide": {"build": "true", "test": "make --no-print-directory -s -C bindings -o python test-python"},
        "teardown": "tests/mutation/python_module.py restore",
    },
    # A tree of its own, as the native one without -Werror; it writes the
    # package's files into bindings/node as the wasm preset's does. Making
    # them runs the module (lib/tables.js is asked of it): a test, not the build.
    "node": {
        "files": ["bindings/node/src/*.cpp"],
        "setup": "test -f build/mutation-wasm/build.ninja || cmake --preset wasm -B build/mutation-wasm"
                 " -DPALAVOX_WERROR=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON",
        "teardown": "cmake --build build/mutation-wasm -j2",
        "tree": "build/mutation-wasm",
        "build": "cmake --build build/mutation-wasm -j2 --target palavox_wasm",
        "test": "cmake --build build/mutation-wasm -j2 && cd bindings/node && npm test --silent",
    },
    # One cluster for the whole run; a mutant rebuilds and reinstalls only the
    # extension. The cancel and timeout checks (seconds each) are the wide stage.
    "postgresql": {
        "files": ["bindings/postgresql/*.c"],
        "setup": f"{PG_STAGE} start build/native",
        "teardown": f"{PG_STAGE} stop",
        "object": f"{PG_STAGE} object",
        "build": f"{PG_STAGE} build",
        "test": f"{PG_STAGE} first",
        "wide": {"build": "true", "test": f"{PG_STAGE} wide"},
        "log": "build/mutation/postgresql.log",
    },
}

# (name, pattern on code with comments and literals blanked, replacement)
OPERATORS = [
    ("==", re.compile(r" == "), " != "),
    ("!=", re.compile(r" != "), " == "),
    ("<", re.compile(r" < "), " <= "),
    ("<=", re.compile(r" <= "), " < "),
    (">", re.compile(r" > "), " >= "),
    (">=", re.compile(r" >= "), " > "),
    ("&&", re.compile(r" && "), " || "),
    ("||", re.compile(r" \|\| "), " && "),
    ("!", re.compile(r"(?<![\w)\]])!(?=[\w(])"), ""),
    ("+1", re.compile(r" \+ 1\b"), ""),
    ("-1", re.compile(r" - 1\b"), ""),
    ("true", re.compile(r"\breturn true;"), "return false;"),
    ("false", re.compile(r"\breturn false;"), "return true;"),
    ("return0", re.compile(r"\breturn 0;"), "return 1;"),
    ("return", re.compile(r"\breturn (?!0;|true;|false;|nullptr;|NULL;)[\w.>-]+;"), "return 0;"),
    ("continue", re.compile(r"\bcontinue;"), "break;"),
    ("break", re.compile(r"\bbreak;"), "continue;"),
    ("throw", re.compile(r"\bthrow [^;]+;"), ";"),
]


def blank(source):
    """The source with comments, string and character literals turned to
    spaces (newlines kept), so operators are only found in code."""
    out, i, n = list(source), 0, len(source)
    while i < n:
        c = source[i]
        if source.startswith("//", i):
            j = source.find("\n", i)
            j = n if j < 0 else j
        elif source.startswith("/*", i):
            j = source.find("*/", i + 2)
            j = n if j < 0 else j + 2
        elif c in "\"'":
            j = i + 1
            while j < n and source[j] != c:
                j += 2 if source[j] == "\\" else 1
            j += 1
            if c == '"' and source[i - 1:i] == "R":  # raw strings are rare here: leave them
                j = i + 1
        else:
            i += 1
            continue
        for k in range(i, min(j, n)):
            if out[k] != "\n":
                out[k] = " "
        i = j
    return "".join(out)


def mutants(path):
    source = open(path, encoding="utf-8").read()
    code = blank(source)
    starts = [0] + [m.end() for m in re.finditer("\n", source)]
    for lineno, start in enumerate(starts, 1):
        end = source.find("\n", start)
        end = len(source) if end < 0 else end
        line = code[start:end]
        stripped = line.strip()
        if not stripped or stripped.startswith("#") or "static_assert" in line or "assert(" in line:
            continue
        for name, pattern, replacement in OPERATORS:
            for m in pattern.finditer(line):
                a, b = start + m.start(), start + m.end()
                yield {
                    "file": os.path.relpath(path, ROOT), "line": lineno, "col": m.start() + 1,
                    "op": name, "before": source[start:end].strip(),
                    "text": source[:a] + replacement + source[b:],
                }


def key(m):
    return (m["file"], m["line"], m["col"], m["op"])


RUNNING = []


def run(command, timeout, output=None):
    """Exit status of `command` in its own process group, killed whole on the
    fail-safe deadline (a mutant that hangs is killed by its stage) or when
    this run is ended. With `output` (a list), its standard output is added."""
    proc = subprocess.Popen(command, shell=True, cwd=ROOT, stderr=subprocess.DEVNULL, start_new_session=True,
                            stdout=subprocess.DEVNULL if output is None else subprocess.PIPE, text=True)
    RUNNING.append(proc)
    try:
        out, _ = proc.communicate(timeout=timeout)
        if output is not None:
            output.append(out)
        return proc.returncode
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        return "hung"
    finally:
        RUNNING.remove(proc)


def see(stage_of):
    return f" (see {stage_of['log']})" if "log" in stage_of else ""


def stage_ran(area, status):
    """A stage's status; 125 (as for git bisect run) says it could not test
    at all, which must not pass for a kill: the run stops."""
    if status == 125:
        sys.exit(f"mutate: {area}: its stage could not run the tests{see(AREAS[area])}")
    return status


def end(*_):
    for proc in RUNNING:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    sys.exit(143)


class CompileCommands:
    """Builds one source without debug info: for the equivalence check, and
    as the object the build then links (debug info changes no code)."""

    def __init__(self, tree):
        self.commands = {}
        self.add(tree)

    def add(self, tree):
        db = os.path.join(tree, "compile_commands.json")
        if os.path.exists(db):
            for entry in json.load(open(db)):
                self.commands.setdefault(os.path.realpath(entry["file"]), entry)

    def object_hash(self, path, place=False, command=None):
        """The object's hash, "broken" if it does not compile, None if the
        command is unknown. With place, a differing object replaces the build
        tree's, newer than the source, so the build does not compile it again.
        `command`, when an area gives one, prints the hash itself."""
        if command:
            printed = []
            return printed[0].strip() if run(command, 3600, printed) == 0 and printed[0].strip() else "broken"
        entry = self.commands.get(os.path.realpath(path))
        if not entry:
            return None
        args = shlex.split(entry["command"])
        out = tempfile.NamedTemporaryFile(suffix=".o", delete=False).name
        try:
            i = args.index("-o")
            target = os.path.join(entry["directory"], args[i + 1])
            args[i + 1] = out
            # A fault the compiler only warns about is still a fault to catch.
            args = [a for a in args if not a.startswith("-g") and a not in ("-MD", "-MMD", "-Werror")]
            mf = [i for i, a in enumerate(args) if a in ("-MF", "-MT", "-MQ")]
            for i in reversed(mf):
                del args[i:i + 2]
            args.append("-g0")
            if subprocess.run(args, cwd=entry["directory"], capture_output=True).returncode != 0:
                return "broken"
            digest = hashlib.sha256(open(out, "rb").read()).hexdigest()
            if place:
                shutil.copyfile(out, target)
            return digest
        finally:
            os.unlink(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--area", action="append", choices=sorted(AREAS))
    parser.add_argument("--list", action="store_true", help="print the mutants and stop")
    parser.add_argument("--every", type=int, default=1, help="only every K-th mutant of an area (a sample)")
    parser.add_argument("--only", action="append", metavar="FILE:LINE:COL",
                        help="only this mutant (again: a row meant to kill a survivor)")
    parser.add_argument("--resume", action="store_true", help="take the verdicts already in the log")
    parser.add_argument("--report", default=os.path.join(ROOT, "build", "mutation", "report.md"))
    parser.add_argument("--build", default="build/native",
                        help="the native build tree the mutants are built in: the native preset's, "
                             "best without PALAVOX_WERROR (make mutation's build/mutation-native)")
    parser.add_argument("--timeout", type=int, default=3600, help="fail-safe seconds a stage")
    parser.add_argument("--first-stage", action="store_true",
                        help="a mutant the first stage passes is logged as surviving it, the wider stage not run")
    parser.add_argument("--nice", type=int, default=19,
                        help="niceness (beside a run that loads the machine on purpose, 19 starves it)")
    args = parser.parse_args()
    areas = args.area or ["capi", "sqlite", "utf8", "pieces"]
    try:
        os.nice(args.nice)
    except OSError:
        pass
    compiled = CompileCommands(os.path.join(ROOT, args.build))
    if args.build != "build/native":
        for stage_of in AREAS.values():
            for stage in (stage_of, stage_of.get("wide") or {}):
                for step in ("build", "test", "setup", "teardown", "object"):
                    if step in stage:
                        stage[step] = stage[step].replace("build/native", args.build)
    os.makedirs(os.path.dirname(args.report), exist_ok=True)
    log_path = args.report.replace(".md", ".jsonl")
    done = {}
    if args.resume and os.path.exists(log_path):
        for line in open(log_path):
            r = json.loads(line)
            if "col" in r:
                done[(r["file"], r["line"], r["col"], r["op"])] = r["verdict"]
    log = open(log_path, "a")
    originals = {}
    teardowns = []

    def finish():
        # The sources first: a teardown may rebuild from them.
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        for path, text in originals.items():
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        while teardowns:
            area, command = teardowns.pop()
            if subprocess.run(command, shell=True, cwd=ROOT, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode != 0:
                print(f"mutate: {area}: its teardown failed{see(AREAS[area])}", file=sys.stderr, flush=True)
    atexit.register(finish)
    signal.signal(signal.SIGTERM, end)
    signal.signal(signal.SIGINT, end)

    summary, survivors = [], []
    for area in areas:
        stage_of = AREAS[area]
        files = sorted({f for g in stage_of["files"] for f in glob.glob(os.path.join(ROOT, g))})
        every = [m for f in files for m in mutants(f)]
        todo = every[::args.every]
        if args.only:
            todo = [m for m in every if f"{m['file']}:{m['line']}:{m['col']}" in args.only]
        if args.list:
            for m in todo:
                print(f"{area} {m['file']}:{m['line']}:{m['col']} {m['op']}: {m['before']}")
            continue
        if not todo:
            continue
        wide = stage_of.get("wide")
        counts = {"killed": 0, "survived": 0, "stillborn": 0, "equivalent": 0}
        limit = args.timeout
        if any(key(m) not in done for m in todo):
            if "teardown" in stage_of:
                teardowns.append((area, stage_of["teardown"]))
            if "setup" in stage_of and run(stage_of["setup"], args.timeout) != 0:
                sys.exit(f"mutate: {area}: its setup fails{see(stage_of)}")
            if "tree" in stage_of:
                compiled.add(os.path.join(ROOT, stage_of["tree"]))
            # The tests must pass on the unmutated code, or no kill means anything.
            if run(stage_of["build"], args.timeout) != 0:
                sys.exit(f"mutate: {area}: the build fails without any mutant{see(stage_of)}")
            started = time.monotonic()
            if run(stage_of["test"], args.timeout) != 0:
                sys.exit(f"mutate: {area}: the tests fail without any mutant{see(stage_of)}")
            # A mutant that loops for ever is killed by its tests never ending: the
            # fail-safe is generous, many times what they take unmutated.
            limit = min(args.timeout, max(300, 30 * (time.monotonic() - started)))
        base_hash = {}
        wide_passes = False
        for number, m in enumerate(todo, 1):
            if key(m) in done:
                verdict = done[key(m)]
                counts[verdict] += 1
                if verdict == "survived":
                    survivors.append((area, m))
                continue
            path = os.path.join(ROOT, m["file"])
            if path not in originals:
                originals[path] = open(path, encoding="utf-8").read()
                base_hash[path] = compiled.object_hash(path, command=stage_of.get("object"))
            started = time.monotonic()
            os.environ["MUTANT"] = f"{m['file']}:{m['line']}:{m['col']} {m['op']}"  # for the stages' logs
            with open(path, "w", encoding="utf-8") as f:
                f.write(m["text"])
            stage = "tests"
            try:
                h = (compiled.object_hash(path, place=True, command=stage_of.get("object"))
                     if base_hash.get(path) not in (None, "broken") else None)
                if h == "broken":
                    verdict, stage = "stillborn", "compiler"
                elif h is not None and h == base_hash[path]:
                    verdict, stage = "equivalent", "object code"
                elif run(stage_of["build"], args.timeout) != 0:
                    verdict, stage = "stillborn", "build"
                elif stage_ran(area, run(stage_of["test"], limit)) != 0:
                    verdict = "killed"
                elif not wide or args.first_stage:
                    verdict = "survived"
                    stage = "first stage only" if wide else stage
                else:
                    stage = "wider stage"
                    if run(wide["build"], args.timeout) != 0:
                        verdict = "stillborn"
                    else:
                        verdict = "survived" if stage_ran(area, run(wide["test"], args.timeout)) == 0 else "killed"
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(originals[path])
                del os.environ["MUTANT"]
            if verdict == "killed" and stage == "wider stage" and not wide_passes:
                # Its first kill means something only if it passes unmutated (checked once).
                if any(run(step, args.timeout) != 0 for step in (stage_of["build"], wide["build"], wide["test"])):
                    sys.exit(f"mutate: {area}: the wider stage fails without any mutant{see(stage_of)}")
                wide_passes = True
            counts[verdict] += 1
            if verdict == "survived":
                survivors.append((area, m))
            log.write(json.dumps({"area": area, "file": m["file"], "line": m["line"], "col": m["col"],
                                  "op": m["op"], "before": m["before"], "verdict": verdict,
                                  "by": stage}) + "\n")
            log.flush()
            print(f"[{area} {number}/{len(todo)}] {m['file']}:{m['line']}:{m['col']} {m['op']}: {verdict}"
                  f" by {stage} ({time.monotonic() - started:.0f} s)", flush=True)
        # Leave the build as the sources are (only the first stage's targets saw
        # mutants); an area with a teardown has it do that.
        if "teardown" not in stage_of:
            run((stage_of if args.first_stage else wide or stage_of)["build"], args.timeout)
        if (area, stage_of.get("teardown")) in teardowns:
            teardowns.remove((area, stage_of["teardown"]))
            if run(stage_of["teardown"], args.timeout) != 0:
                sys.exit(f"mutate: {area}: its teardown failed{see(stage_of)}")
        summary.append((area, len(every), len(todo), counts))
    if args.list:
        return
    with open(args.report, "w") as out:
        out.write("| area | mutants | run | killed | survived | equivalent (same object code) | not compiled | score |\n")
        out.write("|---|---|---|---|---|---|---|---|\n")
        total_k = total_s = 0
        for area, total, ran, c in summary:
            scored = c["killed"] + c["survived"]
            total_k += c["killed"]
            total_s += c["survived"]
            sample = " (chosen)" if args.only else f" (every {args.every}th)" if ran < total else ""
            out.write(f"| {area} | {total} | {ran}{sample} | {c['killed']} | {c['survived']} | {c['equivalent']}"
                      f" | {c['stillborn']} | {100 * c['killed'] / scored if scored else 100:.1f}% |\n")
        scored = total_k + total_s
        out.write(f"\nKilled {total_k} of {scored} ({100 * total_k / scored if scored else 100:.1f}%).\n")
        if survivors:
            out.write("\n## Survivors\n\n")
            for area, m in survivors:
                out.write(f"- {area}: `{m['file']}:{m['line']}` {m['op']}: `{m['before']}`\n")
    print(open(args.report).read())


if __name__ == "__main__":
    main()

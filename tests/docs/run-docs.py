#!/usr/bin/python3
"""Runs the fenced blocks of README.md and docs/*.md as written, in scratch
folders, against what the build made, and checks the results the pages state
beside them. The markers and the substitutions are described in docs/testing.md.

  run-docs.py [--only PAGE...]     (from make test-docs; needs the build's artefacts)
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WORK = Path(os.environ.get("DOCS_WORK", ROOT / "build" / "docs"))
# A deadline only against a hang, far beyond what a block takes.
HANG = 1800

FENCE = re.compile(r"^(\s*)```(\S*)\s*$")
MARKER = re.compile(r"^\s*<!--\s*doc-test:\s*(.*?)\s*-->\s*$")


class Block:
    def __init__(self, page, line, lang, text, markers):
        self.page, self.line, self.lang, self.text, self.markers = page, line, lang, text, markers

    def where(self):
        return f"{self.page}:{self.line}"

    def marker(self, name):
        for m in self.markers:
            if m == name or m.startswith(name + " "):
                return m[len(name):].strip()
        return None


def blocks_of(page):
    """Every fenced block with the markers on the lines right above it."""
    lines = (ROOT / page).read_text(encoding="utf-8").split("\n")
    found, i = [], 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        indent, lang, start = m.group(1), m.group(2), i
        body = []
        i += 1
        while i < len(lines) and lines[i].strip() != "```":
            body.append(lines[i][len(indent):] if lines[i].startswith(indent) else lines[i])
            i += 1
        markers, j = [], start - 1
        while j >= 0 and MARKER.match(lines[j]):
            markers.insert(0, MARKER.match(lines[j]).group(1))
            j -= 1
        found.append(Block(page, start + 1, lang, "\n".join(body) + "\n", markers))
        i += 1
    return found


def substitute(text, work):
    """The pages' placeholders and source-tree paths, made real (docs/testing.md)."""
    release = os.environ.get("DOCS_RELEASE_TREE", str(work / "release"))
    text = re.sub(r"-S \. (?=-B build/release\b)", f"-S {ROOT} ", text)
    text = text.replace("/opt/palavox", str(work / "prefix"))
    text = text.replace("/path/to/palavox-", str(ROOT / "bindings/node/palavox-"))
    text = re.sub(r"(?<![\w/.$-])build/release\b", release, text)
    text = re.sub(r"(?<![\w/.$-])(build|bindings|examples|scripts|tests)/", f"{ROOT}/\\1/", text)
    return text


# Each page's blocks share one shell session: its folder, exported variables
# (a venv's activation, PKG_CONFIG_PATH) carry from one block to the next.
PRELUDE = r"""
set -eo pipefail
# make test has built every make target the pages name: here they must exist
# and resolve (make -n), not run a second time; a page's own make -n runs as written.
make() {
    if [ "${1:-}" = -n ]; then command make --no-print-directory -C "$DOCS_ROOT" "$@"; return; fi
    command make -n -C "$DOCS_ROOT" "$@" >/dev/null || { echo "doc-test: make $* fails" >&2; return 1; }
}
sudo() { "$@"; }
# The packages a page installs must be there already (scripts/install-deps).
apt-get() { [ "$1" = install ] || return 1; shift; dpkg -s "$@" >/dev/null || { echo "doc-test: not installed: $*" >&2; return 1; }; }
"""


class Session:
    def __init__(self, folder):
        self.folder = folder
        self.state = folder / ".doc-test-env"
        folder.mkdir(parents=True, exist_ok=True)
        self.env = dict(os.environ)
        # A fresh Debian 12's PATH: the system's python3, node, cc.
        self.env["PATH"] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
        self.env["DOCS_ROOT"] = str(ROOT)
        self.env["DOCS_PREFIX"] = str(WORK / "prefix")
        # The pages' pip installs from the package index take the wheels make test keeps
        # (scripts/install-python-deps), offline.
        self.env["PIP_NO_INDEX"] = "1"
        self.env["PIP_FIND_LINKS"] = str(ROOT / "build" / "pywheels")
        self.env["npm_config_audit"] = "false"
        self.env["npm_config_fund"] = "false"
        for var in ("VIRTUAL_ENV", "PYTHONPATH", "PYENV_VERSION", "LD_LIBRARY_PATH", "PKG_CONFIG_PATH"):
            self.env.pop(var, None)
        self.cwd = folder

    def shell(self, script, keep=False):
        """Runs script in the session; with keep, what it changes (folder, exported
        variables) carries to the next block. Returns (status, stdout, stderr)."""
        full = PRELUDE
        if self.state.exists():
            full += f"source {self.state}\ncd \"$DOCS_CWD\"\n"
        if keep:
            full += script + f"\nexport DOCS_CWD=\"$PWD\"; export -p > {self.state}\n"
        else:
            full += f"(\n{script}\n)\n"
        p = subprocess.run(["bash", "-c", full], cwd=self.folder, env=self.env,
                           capture_output=True, text=True, timeout=HANG)
        return p.returncode, p.stdout, p.stderr


def fail(block, what, out="", err=""):
    tail = "\n".join((out + err).strip().split("\n")[-25:])
    raise DocFailure(f"{block.where()} ({block.lang or 'text'}): {what}\n{tail}")


class DocFailure(Exception):
    pass


class DocSkip(Exception):
    """A block that cannot run here for a reason found when it was about to."""


def run_sh(block, s, work):
    status, out, err = s.shell(substitute(block.text, work), keep=True)
    if status != 0:
        fail(block, f"exit status {status}", out, err)
    return out


# Results stated beside code: `expr  # result` (Python), `expr;  // result`
# (JavaScript, C#, C++), a comment line alone right after an expression with none.
def stated(lines, comment):
    """(line index, code, expected) for each statement line with a stated result."""
    pairs = []
    for n, line in enumerate(lines):
        code, sep, note = line.partition(comment)
        code, note = code.rstrip(), note.strip()
        if not code.strip() and sep and pairs and pairs[-1][2] is None and pairs[-1][0] == n - 1:
            pairs[-1] = (pairs[-1][0], pairs[-1][1], note)
            continue
        if code.strip():
            pairs.append((n, code, note if sep else None))
    return pairs


def is_result(note):
    """A note states a result when it opens with a value as the language writes it
    (a quoted text, a number, a list); other notes are prose ("a list of str")."""
    return bool(note) and (note[0] in "'\"[{-0123456789" or note.startswith(("u\"", "True", "False", "None")))


PY_CHECK = r"""
import sys
def __doc_check(value, expected, line):
    shown = repr(value)
    if not (expected == shown or any(expected.startswith(shown + c) for c in " ;(,")):
        sys.exit(f"line {line}: got {shown}, the page says {expected}")
"""


def run_script(block, s, script, suffix, interpreter):
    """The checking script, saved beside the session's files and run; it exits
    non-zero when a stated result differs."""
    path = s.folder / f"block_{block.line}.{suffix}"
    path.write_text("\n".join(script) + "\n", encoding="utf-8")
    status, out, err = s.shell(f"{interpreter} {path}")
    if status != 0:
        fail(block, "a stated result differs or the code fails", out, err)
    return out


def run_python(block, s, work):
    lines = block.text.split("\n")
    script = [PY_CHECK, block.marker("given") or ""]
    checked = 0
    for n, code, note in stated(lines, "  #"):
        if is_result(note) and not code.lstrip().startswith(("import ", "from ")) and "=" not in code.split("(")[0]:
            script.append(f"__doc_check({code.strip()}, {note!r}, {n + 1})")
            checked += 1
        else:
            script.append(code)
    if not checked and block.marker("runs") is None:
        fail(block, "no stated result to check (mark it `runs` if running it is the check)")
    return run_script(block, s, script, "py", "python3")


JS_CHECK = r"""
const __doc_inspect = require('util').inspect;
function __doc_check(value, expected, line) {
  const shown = __doc_inspect(value);
  if (!(expected === shown || [' ', ';', '(', ','].some(c => expected.startsWith(shown + c)))) {
    console.error(`line ${line}: got ${shown}, the page says ${expected}`);
    process.exit(1);
  }
}
"""


def run_js(block, s, work):
    script, checked = [JS_CHECK, block.marker("given") or ""], 0
    for n, code, note in stated(block.text.split("\n"), "  //"):
        body = code.strip()
        if is_result(note) and body.endswith(";") and not re.match(r"(const|let|var|import)\b", body):
            script.append(f"__doc_check({body[:-1]}, {note!r}, {n + 1});")
            checked += 1
        else:
            script.append(code)
    if not checked:
        fail(block, "no stated result to check")
    return run_script(block, s, script, "js", "node")


CS_MAIN = r"""
using System;
static class DocTest {
  static string Show(object v) {
    if (v is string) return "\"" + ((string)v).Replace("\\", "\\\\").Replace("\"", "\\\"") + "\"";
    return Convert.ToString(v, System.Globalization.CultureInfo.InvariantCulture);
  }
  static void Check(object v, string expected, int line) {
    string shown = Show(v);
    if (expected == shown) return;
    foreach (string c in new[] {" ", ";", "(", ","}) if (expected.StartsWith(shown + c)) return;
    Console.Error.WriteLine("line " + line + ": got " + shown + ", the page says " + expected);
    Environment.Exit(1);
  }
  static void Main() {
%s
  }
}
"""


def run_csharp(block, s, work):
    usings, body, checked = [], [], 0
    for n, code, note in stated(block.text.split("\n"), "  //"):
        text = code.strip()
        if text.startswith("using "):
            usings.append(text)
            continue
        decl = re.match(r"^(?:[\w.<>]+)\s+(\w+)\s*=.*;$", text)
        if is_result(note) and decl:
            body += [text, f"Check({decl.group(1)}, {json.dumps(note)}, {n + 1});"]
            checked += 1
        elif is_result(note) and text.endswith(";"):
            body.append(f"Check({text[:-1]}, {json.dumps(note)}, {n + 1});")
            checked += 1
        else:
            body.append(text)
    if not checked:
        fail(block, "no stated result to check")
    dotnet = ROOT / "build/native/bindings/dotnet"
    src = s.folder / f"block_{block.line}.cs"
    src.write_text("\n".join(usings) + CS_MAIN % "\n".join(body), encoding="utf-8")
    exe = s.folder / f"block_{block.line}.exe"
    for f in ("Palavox.Text.dll", "Palavox.Text.dll.config", "libpalavox.so.1"):
        shutil.copy(dotnet / f, s.folder / f)
    status, out, err = s.shell(f"mcs -nologo -r:Palavox.Text.dll -out:{exe} {src} && mono {exe}")
    if status != 0:
        fail(block, "a stated result differs or the code fails", out, err)
    return out


CPP_MAIN = r"""
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
static std::string show(std::u16string_view s) {
  std::string out = "u\"";
  for (char32_t c : s) {  // the pages' results are BMP text
    if (c == u'"' || c == u'\\') out += '\\';
    if (c < 0x80) out += static_cast<char>(c);
    else if (c < 0x800) { out += static_cast<char>(0xC0 | (c >> 6)); out += static_cast<char>(0x80 | (c & 0x3F)); }
    else { out += static_cast<char>(0xE0 | (c >> 12)); out += static_cast<char>(0x80 | ((c >> 6) & 0x3F)); out += static_cast<char>(0x80 | (c & 0x3F)); }
  }
  return out + "\"";
}
static std::string show(long long n) { return std::to_string(n); }
static void check(const std::string& shown, std::string_view expected, int line) {
  if (expected == shown) return;
  for (char c : std::string(" ;(,")) if (expected.starts_with(shown + c)) return;
  std::fprintf(stderr, "line %d: got %s, the page says %.*s\n", line, shown.c_str(), int(expected.size()), expected.data());
  std::exit(1);
}
static int reached = 0;
static void holds(bool ok, const char* what, int line) {
  if (!ok) { std::fprintf(stderr, "line %d: not so: %s\n", line, what); std::exit(1); }
  ++reached;
}
"""


def run_cpp(block, s, work):
    includes, body, checked, conditions = [], [], 0, 0
    for n, line in enumerate(block.text.split("\n")):
        text = line.strip()
        if text.startswith("#include"):
            includes.append(text)
            continue
        if text.startswith("// find_package"):
            continue
        cond = re.search(r"/\*\s*([^*]*==[^*]*?)\s*\*/", text)
        if cond:
            text = text.replace(cond.group(0), f"holds({cond.group(1)}, {json.dumps(cond.group(1))}, {n + 1});")
            conditions += 1
        code, sep, note = text.partition("  //")
        code = code.strip()
        if is_result(note.strip()) and code.endswith(";") and not re.match(r"[\w:<>]+\s+\w+\s*[;={(]", code):
            body.append(f"check(show({code[:-1]}), {json.dumps(note.strip())}, {n + 1});")
            checked += 1
        else:
            body.append(code if sep else text)
    if not checked and not conditions:
        fail(block, "no stated result to check")
    folder = s.folder / f"cpp_{block.line}"
    folder.mkdir(exist_ok=True)
    main = "\n".join(includes) + CPP_MAIN + "int main() {\n" + "\n".join(body)
    main += f"\nif (reached != {conditions}) {{ std::fprintf(stderr, \"a stated condition was not reached\\n\"); return 1; }}\n}}\n"
    (folder / "app.cpp").write_text(main, encoding="utf-8")
    (folder / "CMakeLists.txt").write_text(
        "cmake_minimum_required(VERSION 3.20)\nproject(app CXX)\nset(CMAKE_CXX_STANDARD 20)\n"
        "find_package(Palavox CONFIG REQUIRED)\nadd_executable(app app.cpp)\n"
        "target_link_libraries(app PRIVATE Palavox::palavox)\n")
    status, out, err = s.shell(
        f"cd {folder} && cmake -S . -B b -DCMAKE_PREFIX_PATH={work / 'prefix'} >/dev/null && "
        "cmake --build b >/dev/null && ./b/app")
    if status != 0:
        fail(block, "a stated result differs or the code fails", out, err)
    return out


def run_sql_pg(block, s, work):
    setup = block.marker("setup-sql") or ""
    path = s.folder / f"block_{block.line}.sql"
    lines = block.text.rstrip("\n").split("\n")
    path.write_text(block.text, encoding="utf-8")
    status, out, err = s.shell(
        f"psql -X -q -At -v ON_ERROR_STOP=1 -d docs_{block.line} -c 'SELECT 1' >/dev/null 2>&1 || "
        f"createdb docs_{block.line}\n"
        + (f"psql -X -q -v ON_ERROR_STOP=1 -d docs_{block.line} -c {sh_quote(setup)}\n" if setup else "")
        + f"psql -X -q -At -v ON_ERROR_STOP=1 -d docs_{block.line} -f {path}")
    if status != 0:
        fail(block, f"psql exit status {status}", out, err)
    check_sql_results(block, lines, out)
    return out


def check_sql_results(block, lines, out):
    """A statement's `-- result` comment is its one row as psql -At prints it."""
    rows = [r for r in out.strip("\n").split("\n") if r] if out.strip() else []
    results = [note.strip() for line in lines
               for code, sep, note in [line.partition("-- ")]
               if sep and code.strip().upper().startswith("SELECT") and not note.startswith("or")]
    for expected in results:
        if expected not in rows:
            fail(block, f"the page says a row {expected!r}; psql printed {rows!r}")


def run_sql_sqlite(block, s, work):
    setup = block.marker("setup-sql") or ""
    path = s.folder / f"block_{block.line}.sql"
    path.write_text(setup + ";\n" + substitute(block.text, work), encoding="utf-8")
    status, out, err = s.shell(f"sqlite3 -bail :memory: < {path}")
    if status != 0 or err.strip():
        fail(block, f"sqlite3 exit status {status}", out, err)
    check_sql_results(block, block.text.split("\n"), out)
    return out


# cscript under Wine in a private 64-bit prefix, Palavox.dll registered there;
# each script's output (OEM code page) goes to <script>.out.
#   bash -c VBS_RUN - <prefix> <Palavox.dll> <script.vbs>...
VBS_RUN = r"""
set -u
. "$DOCS_ROOT/scripts/wine-env.sh"
trap palavox_wine_stop EXIT
prefix=$1 dll=$2
shift 2
palavox_wine_start "$prefix" win64 </dev/null >/dev/null 2>&1
timeout 600 "$PALAVOX_WINE64" regsvr32 /s "$(palavox_winpath "$dll")" </dev/null >>"$prefix.log" 2>&1 ||
  { echo "regsvr32 failed (see $prefix.log)" >&2; exit 1; }
for script; do
  timeout 600 "$PALAVOX_WINE64" cscript //nologo "$(palavox_winpath "$script")" </dev/null >"$script.out" 2>&1 ||
    { echo "cscript $script: exit status $?" >&2; exit 1; }
done
"""


# Wine gives this locale (en-US) the code pages of Windows in Western Europe and
# the Americas: scripts are read in the ANSI one, output to a file is in the OEM one.
WINE_LOCALE, ANSI, OEM = "C.UTF-8", "cp1252", "cp437"


def run_vbscript(block, s, work):
    """Saved as the pages tell users to and run by the 64-bit cscript; a block
    with non-ASCII text is also saved as UTF-8, which the pages warn against,
    and must then print its `utf-8` marker's line instead. Of the two encodings
    the pages offer it takes the Windows code page ("ANSI"): Wine's cscript runs
    nothing of a UTF-16 file (no output, exit status 0)."""
    dll = ROOT / "build/win64/Palavox.dll"
    if not dll.is_file():
        raise DocSkip("build/win64/Palavox.dll is missing (make dll)")
    source = block.text.replace("\n", "\r\n")
    scripts = [s.folder / f"block_{block.line}.vbs"]
    try:
        scripts[0].write_bytes(source.encode(ANSI))
    except UnicodeEncodeError as e:
        fail(block, f"not in the Windows code page ({ANSI}): {e}")
    counter = None
    if not block.text.isascii():
        counter = block.marker("utf-8")
        if not counter:
            fail(block, "non-ASCII text: mark what it prints saved as UTF-8 (`utf-8 LINE`)")
        scripts.append(s.folder / f"block_{block.line}.utf-8.vbs")
        scripts[1].write_bytes(source.encode("utf-8"))
    p = subprocess.run(["bash", "-c", VBS_RUN, "-", str(work / "wine64"), str(dll)] + [str(f) for f in scripts],
                       env=dict(s.env, LC_ALL=WINE_LOCALE), capture_output=True, text=True, timeout=HANG)
    outs = [Path(f"{f}.out").read_bytes().decode(OEM).replace("\r\n", "\n")
            if Path(f"{f}.out").exists() else "" for f in scripts]
    if p.returncode != 0:
        fail(block, f"exit status {p.returncode}", "".join(outs), p.stdout + p.stderr)
    if counter is not None:
        last = outs[1].rstrip("\n").split("\n")[-1]
        if last != counter or last == outs[0].rstrip("\n").split("\n")[-1]:
            fail(block, f"saved as UTF-8 it printed {last!r}; the page says {counter!r}", outs[1])
    return outs[0]


def sh_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


HANDLERS = {"sh": run_sh, "bash": run_sh, "python": run_python, "js": run_js,
            "csharp": run_csharp, "cpp": run_cpp, "vb": run_vbscript, "vbscript": run_vbscript}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--only", nargs="*", help="pages to run (default: README.md and docs/*.md)")
    args = ap.parse_args()
    pages = args.only or ["README.md"] + sorted(str(p.relative_to(ROOT)) for p in (ROOT / "docs").glob("*.md"))
    WORK.mkdir(parents=True, exist_ok=True)
    for stale in ([] if args.only else WORK.iterdir()):
        if stale.name not in ("release",):
            shutil.rmtree(stale) if stale.is_dir() else stale.unlink()
    ran, skipped, failures = 0, {}, []
    for page in pages:
        s = Session(WORK / page.replace("/", "_").replace(".md", ""))
        last_out, skipped_before = None, None
        blocks = blocks_of(page)
        for n, block in enumerate(blocks):
            reason = block.marker("skip")
            if reason is None and block.marker("output") is not None:
                # What a block skipped when it came to run would have printed.
                reason = skipped_before
            skipped_before = None
            if reason is not None:
                reason = reason.lstrip("—-– ").strip()
                if not reason:
                    failures.append(f"{block.where()}: a skip marker without its reason")
                skipped.setdefault(reason, []).append(block.where())
                continue
            try:
                name = block.marker("file")
                if name:
                    target = s.folder / name
                    target.parent.mkdir(parents=True, exist_ok=True)
                    target.write_text(block.text, encoding="utf-8")
                    ran += 1
                    continue
                if block.marker("output") is not None:
                    if last_out is None:
                        fail(block, "an output block after no block that ran")
                    want = block.text.strip("\n").split("\n")
                    if last_out.rstrip("\n").split("\n")[-len(want):] != want:
                        fail(block, f"printed:\n{last_out}\nthe page says:\n{block.text}")
                    ran += 1
                    continue
                setup = block.marker("setup")
                if setup:
                    status, out, err = s.shell(setup, keep=True)
                    if status != 0:
                        fail(block, "its setup failed", out, err)
                if block.lang == "sql":
                    handler = run_sql_sqlite if ".load" in block.text else run_sql_pg
                else:
                    handler = HANDLERS.get(block.lang)
                if handler is None:
                    fail(block, f"no way to run a {block.lang or 'plain'} block: "
                                "mark it skip (with the reason), file or output")
                if handler is run_vbscript and (n + 1 == len(blocks) or blocks[n + 1].marker("output") is None):
                    fail(block, "a VBScript block states its result in the output block under it: none follows")
                last_out = handler(block, s, WORK)
                ran += 1
            except DocSkip as e:
                skipped.setdefault(str(e), []).append(block.where())
                skipped_before = str(e)
            except DocFailure as e:
                failures.append(str(e))
            except subprocess.TimeoutExpired:
                failures.append(f"{block.where()}: still running after {HANG} s")
        failures += check_ctest_spans(page)
    total_skipped = sum(len(v) for v in skipped.values())
    reasons = "; ".join(f"{len(v)}: {k}" for k, v in sorted(skipped.items(), key=lambda kv: -len(kv[1])))
    for f in failures:
        print(f"FAILED {f}\n")
    print(f"docs: ran {ran}, skipped {total_skipped} ({reasons})")
    for reason, where in sorted(skipped.items()):
        print(f"  skipped, {reason}: {', '.join(where)}")
    return 1 if failures else 0


CTEST_SPAN = re.compile(r"`(ctest --preset \w+ -R [^`]+)`")


def check_ctest_spans(page):
    """Every `ctest ... -R ...` written in a page selects at least one test."""
    problems = []
    text = (ROOT / page).read_text(encoding="utf-8")
    for m in CTEST_SPAN.finditer(text):
        command = m.group(1)
        p = subprocess.run(["bash", "-c", command + " -N"], cwd=ROOT, capture_output=True, text=True,
                           timeout=HANG)
        total = re.search(r"Total Tests: (\d+)", p.stdout)
        if p.returncode != 0 or not total or total.group(1) == "0":
            line = text[:m.start()].count("\n") + 1
            problems.append(f"{page}:{line}: `{command}` selects no test")
    return problems


if __name__ == "__main__":
    sys.exit(main())

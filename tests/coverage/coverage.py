#!/usr/bin/env python3
"""Branch coverage of Palavox's product code, from GCC 12's coverage files.

    tests/coverage/coverage.py [--build build/coverage] [--report DIR]

Reads every .gcno under the build folder with the .gcda beside it (an object
without one never ran: all its counts are zero), keeps the product files, and
writes one line per file, the marked branches with their reasons, and an HTML
report (DIR/index.html, default build/coverage/report). Exit status 1 when a
product branch is neither taken nor marked, a mark is stale or malformed, a
product source has no counts at all, or this reader and gcov disagree.

A branch is one arc out of a block that has more than one (gcov's own count,
read from the same files: gcov --json-format is run beside it and must give
the same counts line for line). Left out, and counted in the report:
  - throw branches (a call's arc to its exception handling: gcov's throw flag),
    and the return of a call whose block has no other way out but such an
    arc: one way on is no decision (the decision that led there is counted);
  - the branches of code that runs only while an exception unwinds, that is
    of blocks reached only through a throw branch (the compiler's cleanups of
    temporaries and locals), except a catch handler's own code (the catch
    line to its closing brace, reached through one throw branch);
  - branches gcov puts on a line holding no code (a closing brace).
A line's branches in several objects, inlined copies and instantiations are
merged: those of one function are summed, and functions whose branches on
the line are alike in number are one set, taken where any of them took it.

A mark excuses the untaken branches of one line. It is a comment on that
line, or alone on a line before it (then it is for the next line with code):
    // branch-untaken: <reason>       no test could take it
    // branch-untaken(cpu): <reason>  only another processor takes it
    // branch-untaken(race): <reason> only threads that happen to race take it
(/* ... */ in C). A branch-untaken mark on a line with no untaken branch is
stale and fails the check; a (cpu) or (race) one is not (another machine, or
another run's timing, takes it).
"""
import argparse
import html
import json
import os
import re
import struct
import subprocess
import sys
from collections import defaultdict, deque
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Product code: what ships. The modules count once their stage exists.
PRODUCT_DIRS = ("text/", "frame/", "com/", "capi/", "cli/", "migration/")
# The Python module's parts (bindings/python/src/_palavox/: its .c files, and
# the headers whose inline code they run), the SQLite and PostgreSQL modules.
PYTHON_PARTS = "bindings/python/src/_palavox"
MODULE_UNITS = tuple(sorted(f"{PYTHON_PARTS}/{f}" for f in os.listdir(os.path.join(ROOT, PYTHON_PARTS))
                            if f.endswith(".c"))) + (
    "bindings/sqlite/palavox_sqlite.c", "bindings/postgresql/palavox_pg.c")
MODULE_SOURCES = MODULE_UNITS + tuple(sorted(
    f"{PYTHON_PARTS}/{f}" for f in os.listdir(os.path.join(ROOT, PYTHON_PARTS)) if f.endswith(".h")))
MODULES_SCRIPT = "tests/coverage/modules.sh"
CODE_SUFFIXES = (".c", ".cpp", ".h", ".hpp")

MARK = re.compile(r"branch-untaken(?:\((cpu|race)\))?:\s*(.*?)\s*$")


def is_product(rel):
    return rel in MODULE_SOURCES or rel.startswith(PRODUCT_DIRS) and rel.endswith(CODE_SUFFIXES)


# --- GCC 12's .gcno and .gcda files (gcc/gcov-io.h) --------------------------

NOTE_MAGIC, DATA_MAGIC = 0x67636E6F, 0x67636461
TAG_FUNCTION, TAG_BLOCKS, TAG_ARCS, TAG_LINES = 0x01000000, 0x01410000, 0x01430000, 0x01450000
TAG_ARC_COUNTS = 0x01A10000
ARC_ON_TREE, ARC_FAKE, ARC_FALLTHROUGH = 1, 2, 4


class Reader:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.pos = 0
        self.path = path

    def u32(self):
        (v,) = struct.unpack_from("<I", self.data, self.pos)
        self.pos += 4
        return v

    def i32(self):
        (v,) = struct.unpack_from("<i", self.data, self.pos)
        self.pos += 4
        return v

    def string(self):
        n = self.u32()
        if n == 0:
            return None
        s = self.data[self.pos:self.pos + n]
        self.pos += n
        return s.rstrip(b"\0").decode("utf-8", "replace")

    def more(self):
        return self.pos + 8 <= len(self.data)


@dataclass
class Function:
    key: tuple  # ident, line-number checksum, CFG checksum: what the .gcda names
    name: str
    blocks: int = 0
    arcs: list = field(default_factory=list)  # [src, dst, flags]
    lines: dict = field(default_factory=dict)  # block -> [(file, [line, ...]), ...]


def read_notes(path):
    r = Reader(path)
    if r.u32() != NOTE_MAGIC:
        raise ValueError(f"{path}: not a .gcno file")
    r.u32()  # version
    stamp = r.u32()
    r.u32()  # checksum
    cwd = r.string()
    r.u32()  # supports unexecuted blocks
    functions, fn = [], None
    while r.more():
        tag, length = r.u32(), r.u32()
        end = r.pos + length
        if tag == TAG_FUNCTION:
            key = (r.u32(), r.u32(), r.u32())
            fn = Function(key, r.string())
            functions.append(fn)
        elif tag == TAG_BLOCKS:
            fn.blocks = r.u32()
        elif tag == TAG_ARCS:
            src = r.u32()
            while r.pos < end:
                dst, flags = r.u32(), r.u32()
                fn.arcs.append([src, dst, flags])
        elif tag == TAG_LINES:
            block, locations = r.u32(), []
            while True:
                number = r.u32()
                if number:
                    locations[-1][1].append(number)
                    continue
                name = r.string()
                if name is None:
                    break
                locations.append((name, []))
            fn.lines[block] = locations
        r.pos = end
    return stamp, cwd, functions


def read_data(path):
    r = Reader(path)
    if r.u32() != DATA_MAGIC:
        raise ValueError(f"{path}: not a .gcda file")
    r.u32()
    stamp = r.u32()
    r.u32()
    counts, key = {}, None
    while r.more():
        tag, length = r.u32(), r.i32()
        if tag == TAG_FUNCTION:
            end = r.pos + length
            key = (r.u32(), r.u32(), r.u32()) if length else None
            r.pos = end
        elif tag == TAG_ARC_COUNTS:
            n = abs(length) // 8
            if length > 0:
                words = struct.unpack_from(f"<{2 * n}I", r.data, r.pos)
                r.pos += length
                values = [words[2 * i] | words[2 * i + 1] << 32 for i in range(n)]
            else:
                values = [0] * n  # all zero: a negative length and nothing after it
            if key:
                counts[key] = values
        else:
            r.pos += max(length, 0)
    return stamp, counts


def solve(fn, counts):
    """Every arc's count from the instrumented ones, as gcov solves the flow."""
    arcs, nb = fn.arcs, fn.blocks
    succ, pred = [[] for _ in range(nb)], [[] for _ in range(nb)]
    for i, (src, dst, _) in enumerate(arcs):
        succ[src].append(i)
        pred[dst].append(i)
    count, known = [0] * len(arcs), [False] * len(arcs)
    given = iter(counts or ())
    for b in range(nb):
        for i in succ[b]:
            if not arcs[i][2] & ARC_ON_TREE:
                count[i], known[i] = next(given, 0), True
    block = [None] * nb
    progress = True
    while progress:
        progress = False
        for b in range(nb):
            if block[b] is None:
                for side in (pred[b], succ[b]):
                    if side and all(known[i] for i in side):
                        block[b] = sum(count[i] for i in side)
                        progress = True
                        break
                else:
                    # Entry and exit: one circulation, so the same count.
                    if b < 2 and nb > 1 and block[1 - b] is not None:
                        block[b] = block[1 - b]
                        progress = True
            if block[b] is None:
                continue
            for side in (pred[b], succ[b]):
                unknown = [i for i in side if not known[i]]
                if len(unknown) == 1:
                    count[unknown[0]] = block[b] - sum(count[i] for i in side if known[i])
                    known[unknown[0]] = True
                    progress = True
    for b in range(nb):
        if block[b] is None and not pred[b] and not succ[b]:
            block[b] = 0
    # A call's arc to the exit (fake) takes what the flow leaves: below zero
    # after a call that returns twice (setjmp, PostgreSQL's PG_TRY), whose
    # second returns no arc counts. No other arc may be.
    if any(c < 0 for c, (_, _, flags) in zip(count, fn.arcs) if not flags & ARC_FAKE):
        raise ValueError(f"{fn.name}: counts that contradict each other (threads counting at "
                         f"once without -fprofile-update=atomic?)")
    if not all(known) or None in block:
        if all(flags & ARC_ON_TREE for _, _, flags in arcs):
            return succ, [0] * len(arcs), [0] * nb  # nothing instrumented (a thunk)
        raise ValueError(f"{fn.name}: the flow graph does not solve")
    return succ, count, block


@dataclass
class Branch:
    count: int
    throw: bool
    unwinds: int  # throw branches crossed to reach its block, at the fewest
    lone: bool = False  # its block's one way out but throws: a call's return, no decision


def function_branches(fn, counts):
    """{(file, line): [Branch]} for the blocks of one function, gcov's way:
    a block's branches go to the last line it holds (the greatest of its last
    file's), unconditional arcs and calls' exits to nowhere left out; and
    {(file, line): count} of every line."""
    arcs = fn.arcs
    succ, count, block = solve(fn, counts)
    throw = [False] * len(arcs)
    for b in range(1, fn.blocks):
        if any(arcs[i][2] & ARC_FAKE for i in succ[b]):
            for i in succ[b]:
                if not arcs[i][2] & (ARC_FAKE | ARC_FALLTHROUGH):
                    throw[i] = True
    # Fewest throw branches crossed from the entry (0-1 breadth first).
    depth = [None] * fn.blocks
    depth[0] = 0
    queue = deque([0])
    while queue:
        b = queue.popleft()
        for i in succ[b]:
            dst = arcs[i][1]
            if arcs[i][2] & ARC_FAKE:
                continue
            d = depth[b] + throw[i]
            if depth[dst] is None or d < depth[dst]:
                depth[dst] = d
                if throw[i]:
                    queue.append(dst)
                else:
                    queue.appendleft(dst)
    branches, lines = defaultdict(list), defaultdict(int)
    for b in range(2, fn.blocks):
        locations = fn.lines.get(b)
        if not locations:
            continue
        for name, numbers in locations:
            for n in set(numbers):
                lines[(name, n)] += block[b]
        if not locations[-1][1]:
            continue
        out = sorted(succ[b], key=lambda i: arcs[i][1])
        conditional = sum(1 for i in out if not arcs[i][2] & ARC_FAKE) > 1
        kept = [Branch(count[i], throw[i], depth[b] if depth[b] is not None else 99)
                for i in out if conditional and not arcs[i][2] & ARC_FAKE]
        if sum(1 for k in kept if not k.throw) == 1:
            for k in kept:
                k.lone = not k.throw
        if kept:
            branches[(locations[-1][0], max(locations[-1][1]))] += kept
    return branches, lines


# --- collecting ----------------------------------------------------------------

@dataclass
class FileCounts:
    # line -> {(function, n): [Branch]}: one function's branches on the line,
    # summed over the objects holding it.
    branches: dict = field(default_factory=lambda: defaultdict(dict))
    lines: dict = field(default_factory=lambda: defaultdict(int))
    # line -> every branch count of every object, for the check against gcov
    each: dict = field(default_factory=lambda: defaultdict(list))


def path_maps(build):
    """FROM<TAB>TO prefix rewrites a tree leaves in a file path-map under its
    folder, for sources compiled from a copy of the tree (an unpacked sdist)."""
    maps = []
    for dirpath, _, files in os.walk(build):
        if "path-map" in files:
            with open(os.path.join(dirpath, "path-map"), encoding="utf-8") as f:
                for row in f:
                    if "\t" in row:
                        src, dst = row.rstrip("\n").split("\t", 1)
                        maps.append((src, dst))
    return maps


def relative(path, cwd, maps):
    path = os.path.normpath(os.path.join(cwd or ROOT, path))
    for src, dst in maps:
        if path.startswith(src):
            path = os.path.normpath(os.path.join(ROOT, dst + path[len(src):]))
            break
    real = os.path.realpath(path)
    if real.startswith(ROOT + os.sep):
        rel = os.path.relpath(real, ROOT)
        if not rel.startswith("build" + os.sep):
            return rel
    return None


def collect(build, problems):
    # Not CMake's probes of the compilers (CMakeFiles/<version>/CompilerId*).
    notes = sorted(os.path.join(d, f) for d, _, files in os.walk(build) for f in files
                   if f.endswith(".gcno") and "CompilerId" not in d)
    maps = path_maps(build)
    counts = defaultdict(FileCounts)
    stray = set()
    mapped = {}
    empty = set()  # objects of sources that define no function (guids.cpp: data alone)
    changed = set()

    def rel_of(cwd, name):
        if (cwd, name) not in mapped:
            mapped[(cwd, name)] = relative(name, cwd, maps)
        return mapped[(cwd, name)]

    for note in notes:
        stamp, cwd, functions = read_notes(note)
        if not functions:
            empty.add(os.path.basename(note)[:-5])
        data_file = note[:-5] + ".gcda"
        data = {}
        if os.path.exists(data_file):
            data_stamp, data = read_data(data_file)
            if data_stamp != stamp:
                problems.append(f"{os.path.relpath(data_file, ROOT)}: counts of an older build "
                                f"(tests/coverage/run.sh deletes them before the stages)")
                continue
        built = os.path.getmtime(note)
        for fn in functions:
            try:
                branches, lines = function_branches(fn, data.get(fn.key))
            except ValueError as e:
                problems.append(f"{os.path.relpath(note, ROOT)}: {e}")
                continue
            for (name, number), n in lines.items():
                rel = rel_of(cwd, name)
                if rel and is_product(rel):
                    counts[rel].lines[number] += n
                    if os.path.getmtime(os.path.join(ROOT, rel)) > built and rel not in changed:
                        changed.add(rel)
                        problems.append(f"{rel}: changed after {os.path.relpath(note, ROOT)} was "
                                        f"built, so its counts are for other lines (rebuild)")
            for (name, number), kept in branches.items():
                rel = rel_of(cwd, name)
                if rel is None:
                    stray.add(os.path.normpath(os.path.join(cwd or ROOT, name)))
                if not rel or not is_product(rel):
                    continue
                counts[rel].each[number] += [b.count for b in kept]
                key = (fn.name, len(kept))
                have = counts[rel].branches[number].get(key)
                counts[rel].branches[number][key] = kept if have is None else [
                    Branch(a.count + b.count, a.throw, a.unwinds, a.lone)
                    for a, b in zip(have, kept)]
    names = {os.path.basename(p) for p in counts} | {os.path.basename(p) for p in MODULE_SOURCES}
    unmapped = sorted(s for s in stray if os.path.basename(s) in names)
    return notes, counts, unmapped, empty


def cross_check(gcov, build, notes, counts, problems):
    """gcov's own JSON of the same files must give every product line the same
    branch counts as this reader (before anything is left out)."""
    theirs = defaultdict(list)
    maps = path_maps(build)
    for start in range(0, len(notes), 64):
        out = subprocess.run([gcov, "--json-format", "--stdout", "--branch-probabilities",
                              *notes[start:start + 64]], cwd=ROOT, capture_output=True, text=True)
        # MinGW's GCC 12 names its files' version B20: the same format, a warning.
        other = [e for e in out.stderr.splitlines()
                 if e.strip() and not any(w in e for w in ("prefer", "cannot open data file",
                                                           "no functions found"))]
        if out.returncode != 0 and other or not out.stdout.strip():
            problems.append(f"gcov failed: {chr(10).join(other)[:500]}")
            return
        for row in out.stdout.splitlines():
            if not row.strip():
                continue
            doc = json.loads(row)
            cwd = doc.get("current_working_directory")
            for f in doc["files"]:
                rel = relative(f["file"], cwd, maps)
                if rel in counts:
                    for line in f["lines"]:
                        theirs[(rel, line["line_number"])] += [b["count"] for b in line["branches"]]
    ours = {(rel, number): each for rel, fc in counts.items() for number, each in fc.each.items()}
    for key in sorted(set(ours) | set(k for k, v in theirs.items() if v)):
        if sorted(ours.get(key, [])) != sorted(theirs.get(key, [])):
            problems.append(f"{key[0]}:{key[1]}: this reader and gcov disagree on the branches "
                            f"({len(ours.get(key, []))} against {len(theirs.get(key, []))})")


# --- the sources: code, comments, catch handlers -------------------------------

@dataclass
class Source:
    code: list  # per line: holds something outside comments
    real: list  # per line: holds more than punctuation
    comments: dict  # line -> [comment text]
    handlers: set  # lines of catch handlers: the catch line to its closing brace


def scan_source(text):
    """Comments and literals blanked out, so that what is left is code."""
    out = list(text)
    comments = defaultdict(list)
    i, line, size = 0, 1, len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    while i < size:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
        elif text.startswith("//", i):
            end = text.find("\n", i)
            end = size if end < 0 else end
            comments[line].append(text[i + 2:end])
            blank(i, end)
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = size if end < 0 else end + 2
            comments[line].append(text[i + 2:end - 2])
            blank(i, end)
            line += text.count("\n", i, end)
            i = end
        elif c == '"' or c == "'" and opens_char_literal(text, i):
            m = re.compile(r'"([^()\\\s]{0,16})\(').match(text, i) if raw_prefix(text, i) else None
            if m:
                close = text.find(")" + m.group(1) + '"', m.end())
                end = size if close < 0 else close + len(m.group(1)) + 2
            else:
                j = i + 1
                while j < size and text[j] != c and text[j] != "\n":
                    j += 2 if text[j] == "\\" else 1
                end = min(j + 1, size)
            for k in range(i + 1, end - 1):
                if out[k] != "\n":
                    out[k] = "x"
            line += text.count("\n", i, end)
            i = end
        else:
            i += 1
    stripped = "".join(out)
    rows = stripped.split("\n")
    code = [False] + [bool(r.strip()) for r in rows] + [False]
    real = [False] + [bool(r.strip(" \t{}()[];,")) for r in rows] + [False]
    return Source(code, real, comments, catch_handlers(stripped))


def catch_handlers(stripped):
    lines = set()
    for m in re.finditer(r"\bcatch\b", stripped):
        open_paren = stripped.find("(", m.end())
        close_paren = matching(stripped, open_paren, "(", ")")
        open_brace = stripped.find("{", close_paren)
        close_brace = matching(stripped, open_brace, "{", "}")
        if min(open_paren, close_paren, open_brace, close_brace) < 0:
            continue
        first = stripped.count("\n", 0, m.start()) + 1
        last = stripped.count("\n", 0, close_brace) + 1
        lines.update(range(first, last + 1))
    return lines


def matching(text, start, opening, closing):
    if start < 0:
        return -1
    depth = 0
    for k in range(start, len(text)):
        if text[k] == opening:
            depth += 1
        elif text[k] == closing:
            depth -= 1
            if depth == 0:
                return k
    return -1


def opens_char_literal(text, i):
    """A quote opens a character literal unless it separates digits (1'000)."""
    return word_before(text, i) in ("", "u", "u8", "U", "L")


def raw_prefix(text, i):
    return word_before(text, i) in ("R", "uR", "u8R", "UR", "LR")


def word_before(text, i):
    j = i
    while j > 0 and (text[j - 1].isalnum() or text[j - 1] == "_"):
        j -= 1
    return text[j:i]


@dataclass
class Mark:
    path: str
    line: int  # where it is written
    target: int  # the line whose branches it excuses
    kind: str  # "untaken", "cpu" or "race"
    reason: str
    excused: int = 0


def find_marks(path, source, problems):
    marks = []
    last = len(source.code) - 2
    for number in sorted(source.comments):
        for body in source.comments[number]:
            text = body.strip().lstrip("*").strip()
            if not text.startswith("branch-untaken"):
                continue
            m = MARK.match(text)
            if not m or not m.group(2):
                problems.append(f"{path}:{number}: a mark reads 'branch-untaken: <reason>' or "
                                f"'branch-untaken(cpu|race): <reason>'")
                continue
            target, reason = number, m.group(2)
            if not source.code[number]:
                target += 1
                while target <= last and not source.code[target]:
                    # A reason that goes on over the comment lines after it.
                    for more in source.comments.get(target, []):
                        reason += " " + more.strip().lstrip("*").strip()
                    target += 1
            marks.append(Mark(path, number, target, m.group(1) or "untaken", reason.strip()))
    return marks


# --- the check -------------------------------------------------------------------

@dataclass
class FileResult:
    path: str
    total: int = 0
    taken: int = 0
    marked: int = 0
    left_out: list = field(default_factory=lambda: [0, 0, 0, 0])  # throw, return, unwind, no code
    untaken: dict = field(default_factory=dict)  # line -> (untaken, total), not marked
    lines: dict = field(default_factory=dict)  # line -> [branch counts] kept
    lines_code: int = 0
    lines_run: int = 0
    marks: list = field(default_factory=list)


def product_units():
    units = []
    for top in PRODUCT_DIRS:
        for dirpath, _, files in os.walk(os.path.join(ROOT, top)):
            rel_dir = os.path.relpath(dirpath, ROOT) + "/"
            units += [rel_dir + f for f in files if f.endswith((".c", ".cpp"))]
    return sorted(units + [p for p in MODULE_UNITS if os.path.exists(os.path.join(ROOT, p))])


def unwinding(b, number, source):
    return b.unwinds > 1 or b.unwinds == 1 and number not in source.handlers


def line_branches(by_function, number, source, left_out):
    """One line's kept branches: functions alike in number are one set."""
    sets = {}
    for kept in by_function.values():
        mine = []
        for b in kept:
            if b.throw:
                left_out[0] += 1
            elif b.lone:
                left_out[1] += 1
            elif unwinding(b, number, source):
                left_out[2] += 1
            else:
                mine.append(b.count)
        if mine:
            have = sets.get(len(mine))
            sets[len(mine)] = mine if have is None else [a + c for a, c in zip(have, mine)]
    return [c for n in sorted(sets) for c in sets[n]]


def check(counts, empty, problems):
    results, not_measured = [], []
    modules = os.access(os.path.join(ROOT, MODULES_SCRIPT), os.X_OK)
    for unit in product_units():
        if unit in counts or os.path.basename(unit) in empty:
            continue
        if unit in MODULE_SOURCES and not modules:
            not_measured.append((unit, f"its instrumented stage ({MODULES_SCRIPT}) is not in "
                                       "this tree"))
        else:
            problems.append(f"{unit}: no counts (not built or never run in a coverage stage)")
    for rel in sorted(counts):
        with open(os.path.join(ROOT, rel), encoding="utf-8", errors="replace") as f:
            source = scan_source(f.read())
        fc = counts[rel]
        r = FileResult(rel)
        for number, by_function in sorted(fc.branches.items()):
            if number >= len(source.real) or not source.real[number]:
                r.left_out[3] += sum(len(kept) for kept in by_function.values())
                continue
            branch_counts = line_branches(by_function, number, source, r.left_out)
            if branch_counts:
                r.lines[number] = branch_counts
        r.lines_code = len(fc.lines)
        r.lines_run = sum(1 for c in fc.lines.values() if c > 0)
        r.marks = find_marks(rel, source, problems)
        by_target = {}
        for m in r.marks:
            by_target.setdefault(m.target, m)
        for number, branch_counts in r.lines.items():
            taken = sum(1 for c in branch_counts if c)
            r.total += len(branch_counts)
            r.taken += taken
            untaken = len(branch_counts) - taken
            if not untaken:
                continue
            if number in by_target:
                by_target[number].excused += untaken
                r.marked += untaken
            else:
                r.untaken[number] = (untaken, len(branch_counts))
        for m in r.marks:
            if not m.excused and m.kind == "untaken":
                problems.append(f"{rel}:{m.line}: stale mark: nothing untaken on line {m.target} "
                                f"({m.reason})")
        for number, (untaken, total) in sorted(r.untaken.items()):
            problems.append(f"{rel}:{number}: {untaken} of {total} branches neither taken nor "
                            f"marked")
        results.append(r)
    return results, not_measured


def pct(taken, marked, total):
    return 100.0 if total == 0 else 100.0 * (taken + marked) / total


def summary_lines(results, not_measured):
    shown = [r for r in results if r.total or r.marks]
    width = max([len(r.path) for r in shown] + [len(p) for p, _ in not_measured] + [17])
    out = [f"{'file':<{width}}  {'taken/total':>13}  {'marked':>6}  {'taken or marked':>15}  "
           f"{'lines run':>9}"]
    t = [0] * 5
    left = [0, 0, 0, 0]
    for r in shown:
        out.append(f"{r.path:<{width}}  {r.taken:>6}/{r.total:<6}  {r.marked:>6}  "
                   f"{pct(r.taken, r.marked, r.total):>14.1f}%  "
                   f"{100.0 * r.lines_run / max(r.lines_code, 1):>8.1f}%")
        for k, v in enumerate((r.taken, r.total, r.marked, r.lines_run, r.lines_code)):
            t[k] += v
    for r in results:
        left = [a + b for a, b in zip(left, r.left_out)]
    out.append(f"{'all product files':<{width}}  {t[0]:>6}/{t[1]:<6}  {t[2]:>6}  "
               f"{pct(t[0], t[2], t[1]):>14.1f}%  {100.0 * t[3] / max(t[4], 1):>8.1f}%")
    out.append(f"left out: {left[0]} throw branches, {left[1]} calls' returns beside a throw "
               f"branch alone, {left[2]} on paths only an exception unwinds, {left[3]} on lines "
               f"holding no code")
    for path, reason in not_measured:
        out.append(f"{path:<{width}}  not measured: {reason}")
    return out


def mark_lines(results):
    out = []
    for r in results:
        for m in r.marks:
            if m.kind != "untaken" and not m.excused:
                state = "taken in this run"
            else:
                state = f"{m.excused} branch{'es' if m.excused != 1 else ''} excused"
            out.append(f"{m.path}:{m.line}  {m.kind}  {state}  {m.reason}")
    return out


# --- the HTML report ---------------------------------------------------------------

STYLE = """body{font-family:sans-serif;margin:1.5em}table{border-collapse:collapse}
td,th{padding:1px 8px;text-align:left;vertical-align:top}th{border-bottom:1px solid #999}
tr.bad td{background:#fbb}tr.mark td{background:#fe9}td.b{color:#555}
td.n,td.c,td.b{text-align:right;font-family:monospace;white-space:nowrap}
td.s{font-family:monospace;white-space:pre}tr.unrun td.s{color:#a00}"""


def page(title, body):
    return (f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>{html.escape(title)}"
            f"</title><style>{STYLE}</style></head><body><h1>{html.escape(title)}</h1>"
            f"{body}</body></html>\n")


def file_page(path):
    return "files/" + path.replace("/", "_") + ".html"


def write_report(report, results, not_measured, problems, summary, marks, counts):
    os.makedirs(os.path.join(report, "files"), exist_ok=True)
    rows = []
    for r in results:
        if not r.total and not r.marks:
            continue
        cls = "bad" if r.untaken else ("mark" if r.marked else "")
        rows.append(f"<tr class='{cls}'><td><a href='{file_page(r.path)}'>{html.escape(r.path)}"
                    f"</a></td><td class='n'>{r.taken}/{r.total}</td><td class='n'>{r.marked}"
                    f"</td><td class='n'>{pct(r.taken, r.marked, r.total):.1f}%</td>"
                    f"<td class='n'>{len(r.untaken)}</td></tr>")
        write_file_page(report, r, counts[r.path])
    for path, reason in not_measured:
        rows.append(f"<tr><td>{html.escape(path)}</td><td colspan='4'>not measured: "
                    f"{html.escape(reason)}</td></tr>")
    doc = html.escape(__doc__.split("\n\n", 2)[2])
    body = ("<p>Red: a line with a branch neither taken nor marked; yellow: untaken branches "
            "a mark excuses.</p><table><tr><th>file</th><th>taken/total</th><th>marked</th>"
            "<th>taken or marked</th><th>lines with unexcused untaken branches</th></tr>" +
            "".join(rows) + "</table><h2>Per file</h2><pre>" + html.escape("\n".join(summary)) +
            "</pre><h2>Marked branches</h2><pre>" + html.escape("\n".join(marks) or "none") +
            "</pre><h2>Problems</h2><pre>" + html.escape("\n".join(problems) or "none") +
            "</pre><h2>What is counted</h2><pre>" + doc + "</pre>")
    with open(os.path.join(report, "index.html"), "w", encoding="utf-8") as f:
        f.write(page("Palavox: branch coverage of the product code", body))


def write_file_page(report, r, fc):
    with open(os.path.join(ROOT, r.path), encoding="utf-8", errors="replace") as f:
        source = f.read().split("\n")
    marks = {m.target: m for m in r.marks}
    rows = []
    for number, text in enumerate(source, 1):
        branch_counts = r.lines.get(number)
        cls, cell, title = "", "", ""
        if branch_counts:
            taken = sum(1 for c in branch_counts if c)
            cell = f"{taken}/{len(branch_counts)}"
            title = "each branch taken " + ", ".join(str(c) for c in branch_counts) + " times"
            if number in r.untaken:
                cls = "bad"
            elif number in marks and taken < len(branch_counts):
                cls = "mark"
                title += "; marked: " + marks[number].reason
        run = fc.lines.get(number)
        if run == 0 and not cls:
            cls = "unrun"
        rows.append(f"<tr class='{cls}' id='l{number}'><td class='n'>{number}</td>"
                    f"<td class='c'>{'' if run is None else run}</td>"
                    f"<td class='b' title='{html.escape(title)}'>{cell}</td>"
                    f"<td class='s'>{html.escape(text)}</td></tr>")
    body = (f"<p><a href='../index.html'>All files</a>. {r.taken}/{r.total} branches taken, "
            f"{r.marked} marked; left out: {r.left_out[0]} throw, {r.left_out[1]} calls' returns, "
            f"{r.left_out[2]} unwinding, {r.left_out[3]} on lines holding no code. Columns: line, times run, branches "
            "taken/total (hover for each branch's count).</p><table>" + "".join(rows) +
            "</table>")
    with open(os.path.join(report, file_page(r.path)), "w", encoding="utf-8") as f:
        f.write(page(r.path, body))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "coverage"))
    ap.add_argument("--report", help="default: BUILD/report")
    ap.add_argument("--gcov", default=os.environ.get("GCOV", "gcov"))
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    report = args.report or os.path.join(build, "report")
    problems = []
    notes, counts, unmapped, empty = collect(build, problems)
    cross_check(args.gcov, build, notes, counts, problems)
    results, not_measured = check(counts, empty, problems)
    summary = summary_lines(results, not_measured)
    marks = mark_lines(results)
    write_report(report, results, not_measured, problems, summary, marks, counts)
    with open(os.path.join(report, "summary.txt"), "w", encoding="utf-8") as f:
        f.write("\n".join(summary + ["", "marked branches:"] + marks + ["", "problems:"] +
                          problems + [""]))
    print("\n".join(summary))
    print(f"\nmarked branches ({len(marks)}):")
    print("\n".join("  " + m for m in marks) or "  none")
    for s in unmapped:
        print(f"coverage: counts for {s} not mapped into the tree (a path-map entry?)")
    print(f"report: {os.path.relpath(os.path.join(report, 'index.html'), os.getcwd())}")
    if problems:
        print(f"\ncoverage: {len(problems)} problem{'s' if len(problems) != 1 else ''}:",
              file=sys.stderr)
        for p in problems:
            print("  " + p, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

# Builds palavox._palavox. The core's sources, folders, warnings and generated
# headers come from cmake/PalavoxSources.json, the list CMake builds the same
# libraries from; the version from cmake/PalavoxIdentity.cmake. In the sdist
# both, with every file they name, are under native/ (put there by the sdist
# command below). The sdist is made from a copy of this folder whose native/
# is the repository (bindings/python/CMakeLists.txt); run in the repository's
# bindings/python, setup.py finds it two folders up.
# Nothing but a C and C++20 compiler is needed.
import glob
import json
import os
import re
import shutil
import tempfile
from concurrent.futures import ThreadPoolExecutor

from setuptools import Extension, setup
from setuptools.command.build_clib import build_clib
from setuptools.command.build_ext import build_ext
from setuptools.command.sdist import sdist
from setuptools.errors import CCompilerError

HERE = os.path.dirname(os.path.abspath(__file__))
NATIVE = "native"


def find_root():
    for root in (os.path.join(HERE, NATIVE), os.path.join(HERE, os.pardir, os.pardir)):
        if os.path.isfile(os.path.join(root, "cmake", "PalavoxSources.json")):
            return os.path.normpath(root)
    raise SystemExit("palavox: cmake/PalavoxSources.json not found: build from the sdist, "
                     "or from the repository's bindings/python")


ROOT = find_root()
with open(os.path.join(ROOT, "cmake", "PalavoxSources.json"), encoding="utf-8") as f:
    LISTED = json.load(f)
with open(os.path.join(ROOT, "cmake", "PalavoxIdentity.cmake"), encoding="utf-8") as f:
    VERSION = re.search(r"^set\(PALAVOX_VERSION ([0-9.]+)\)", f.read(), re.M).group(1)
LIBRARIES = LISTED["libraries"]
BUILD_MARK = "@build@"

# What the generated headers are made from: the version, and the vector tier
# CMake's default (auto) gives: SSE2, and AVX2 chosen at run time, where the
# CPU is x86; the plain loops elsewhere, whatever the tier says.
major, minor, patch = VERSION.split(".")
TEMPLATE_VALUES = {"PROJECT_VERSION": VERSION, "PROJECT_VERSION_MAJOR": major,
                   "PROJECT_VERSION_MINOR": minor, "PROJECT_VERSION_PATCH": patch,
                   "PALAVOX_SIMD_TIER": "2"}

GCC_LIKE = os.name == "posix"
WERROR = ["-Werror"] if os.environ.get("PALAVOX_WERROR") else []
# The listed warnings are GCC's and Clang's. -fvisibility: nothing of the core
# is exported from the module.
CORE_FLAGS = ["-O2", "-g0", "-fvisibility=hidden", "-fvisibility-inlines-hidden",
              *LISTED["warnings"], *WERROR] if GCC_LIKE else ["/O2", "/EHsc"]
# -O3: the conversions between str and UTF-16 units are loops the compiler
# vectorizes only there, and they are most of the cost on long texts.
EXT_FLAGS = ["-std=c99", "-O3", "-g0", "-Wall", "-Wextra", *WERROR] if GCC_LIKE else []
# The core is linked in statically: what a static library's users define.
STATIC_MACROS = [(name, None) for lib in LIBRARIES.values()
                 for name in lib.get("static_definitions", [])]
PUBLIC_DIRS = [d for lib in LIBRARIES.values() for d in lib.get("public_include", [])]


def source_path(name):
    """Relative to this folder where it can (the sdist), for objects to stay in the build folder."""
    path = os.path.join(ROOT, name)
    relative = os.path.relpath(path, HERE)
    return path if relative.startswith(os.pardir) else relative


def std_flag(standard):
    return f"-std=c++{standard}" if GCC_LIKE else f"/std:c++{standard}"


def core_library(name, info):
    return (name, {
        "sources": [source_path(s) for s in info["sources"]],
        # Every library's public folders, as linking the CMake targets gives them.
        "include_dirs": PUBLIC_DIRS + info.get("private_include", []),
        "macros": list(STATIC_MACROS),
        "cflags": [std_flag(LISTED["cxx_standard"]), *CORE_FLAGS],
        "preferred_standard": info.get("cxx_standard_preferred"),
    })


def probe(compiler, source_text, suffix, compile_args=(), link_args=None):
    """Whether this compiler compiles (and, given link_args, links) a probe."""
    with tempfile.TemporaryDirectory() as scratch:
        source = os.path.join(scratch, "probe" + suffix)
        with open(source, "w", encoding="utf-8") as f:
            f.write(source_text)
        try:
            objects = compiler.compile([source], output_dir=scratch,
                                       extra_postargs=list(compile_args))
            if link_args is not None:
                compiler.link_shared_object(objects, os.path.join(scratch, "probe.so"),
                                            extra_postargs=list(link_args))
        except CCompilerError:
            return False
    return True


class BuildClib(build_clib):
    """Writes the generated headers into the build folder, points @build@ there,
    and raises a library to its preferred C++ standard where the compiler has it."""

    def build_libraries(self, libraries):
        generated = os.path.abspath(os.path.join(self.build_temp, "generated"))
        for info in LIBRARIES.values():
            for out, template in info.get("generated", {}).items():
                write_generated(os.path.join(ROOT, template), os.path.join(generated, out))
        for _, info in libraries:
            info["include_dirs"] = [
                d.replace(BUILD_MARK, generated) if d.startswith(BUILD_MARK) else os.path.join(ROOT, d)
                for d in info["include_dirs"]]
            preferred = info.pop("preferred_standard", None)
            if preferred and probe(self.compiler, "int main() { return 0; }\n", ".cpp",
                                   [std_flag(preferred)]):
                info["cflags"] = [std_flag(preferred)] + info["cflags"][1:]
        # setuptools compiles a library's sources sorted by path, and its archive
        # keeps that order, which is where the linker lays their code out: by file
        # name instead, the module's code stays where it was when a source moves
        # to another folder of the tree.
        archive = self.compiler.create_static_lib
        self.compiler.create_static_lib = lambda objects, *args, **kwargs: archive(
            sorted(objects, key=os.path.basename), *args, **kwargs)
        if GCC_LIKE:
            compile_side_by_side(self.compiler)
        super().build_libraries(libraries)


def compile_side_by_side(compiler):
    """A library's sources compiled one per CPU at a time, where setuptools
    compiles them one after another: the core is most of a build's time."""
    try:
        jobs = len(os.sched_getaffinity(0))
    except AttributeError:
        jobs = os.cpu_count() or 1
    one_by_one = compiler.compile

    def compile(sources, output_dir=None, macros=None, include_dirs=None, debug=0,
                extra_preargs=None, extra_postargs=None, depends=None):
        if jobs < 2 or len(sources) < 2:
            return one_by_one(sources, output_dir, macros, include_dirs, debug, extra_preargs,
                              extra_postargs, depends)
        macros, objects, extra_postargs, pp_opts, build = compiler._setup_compile(
            output_dir, macros, include_dirs, sources, depends, extra_postargs)
        cc_args = compiler._get_cc_args(pp_opts, debug, extra_preargs)

        def one(obj):
            src, ext = build[obj]
            compiler._compile(obj, src, ext, cc_args, extra_postargs, pp_opts)

        with ThreadPoolExecutor(jobs) as pool:
            list(pool.map(one, [obj for obj in objects if obj in build]))
        return objects

    compiler.compile = compile


def write_generated(template, out):
    with open(template, encoding="utf-8") as f:
        text = f.read()

    def value(match):
        if match.group(1) not in TEMPLATE_VALUES:
            raise SystemExit(f"palavox: {template} asks for @{match.group(1)}@, which setup.py does not give")
        return TEMPLATE_VALUES[match.group(1)]

    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out, "w", encoding="utf-8") as f:
        f.write(re.sub(r"@([A-Z_]+)@", value, text))


class BuildExt(build_ext):
    """Links with the flags this linker takes: the core's symbols stay inside
    the module and its debug data out of it where it can, and it is not
    required to. Sees the generated version header palavox.h includes."""

    def build_extensions(self):
        wanted = ["-Wl,--exclude-libs,ALL", "-s"] if GCC_LIKE else []
        probe_c = "int palavox_probe(void) { return 0; }\n"
        taken = [flag for flag in wanted if probe(self.compiler, probe_c, ".c", link_args=[flag])]
        clib = self.get_finalized_command("build_clib")
        generated = os.path.abspath(os.path.join(clib.build_temp, "generated"))
        for ext in self.extensions:
            ext.extra_link_args = taken + ext.extra_link_args
            ext.include_dirs = [d.replace(BUILD_MARK, generated) if d.startswith(BUILD_MARK)
                                else os.path.join(ROOT, d) for d in ext.include_dirs]
        super().build_extensions()


# `#include "..."` lines, and the block loops a source names for simd_each.hpp to include.
QUOTED_INCLUDE = re.compile(r'^\s*#\s*(?:include|define\s+PALAVOX_KERNEL)\s+"([^"]+)"', re.M)


def find(header, folders):
    """Where the compiler finds `header` among `folders` of the tree, or None."""
    for folder in folders:
        candidate = os.path.normpath(os.path.join(folder, header))
        if os.path.isfile(os.path.join(ROOT, candidate)):
            return candidate
    return None


def included(sources, folders):
    """`sources` and the files of the tree they include, directly or not, found
    as the compiler finds them: beside the including file, then in `folders`.
    Generated headers (in the build folder) are not in the tree and not found."""
    found, pending = set(), list(sources)
    while pending:
        name = pending.pop()
        if name in found:
            continue
        found.add(name)
        with open(os.path.join(ROOT, name), encoding="utf-8") as f:
            text = f.read()
        for header in QUOTED_INCLUDE.findall(text):
            path = find(header, [os.path.dirname(name), *folders])
            if path:
                pending.append(path)
    return found


class Sdist(sdist):
    """Carries under native/ the list, the version's file and every file the
    list names (sources and templates), with every header those sources and
    the module's include, as the compiler finds them in the listed folders."""

    def add_defaults(self):
        super().add_defaults()
        # Sources from outside this folder cannot go in as they are named.
        self.filelist.files = [f for f in self.filelist.files
                               if not (os.path.isabs(f) or f.startswith(os.pardir))]

    def make_release_tree(self, base_dir, files):
        super().make_release_tree(base_dir, files)
        wanted = ["cmake/PalavoxSources.json", "cmake/PalavoxIdentity.cmake"]
        for info in LIBRARIES.values():
            folders = [d for d in PUBLIC_DIRS + info.get("private_include", [])
                       if not d.startswith(BUILD_MARK)]
            wanted += included(info["sources"], folders)
            wanted += list(info.get("generated", {}).values())
        # And what the module's parts (in this folder, not under native/) include of the tree.
        headers = []
        for part in MODULE_PARTS + MODULE_HEADERS:
            with open(os.path.join(HERE, part), encoding="utf-8") as f:
                headers += [find(h, PUBLIC_DIRS) for h in QUOTED_INCLUDE.findall(f.read())]
        wanted += included([h for h in headers if h], PUBLIC_DIRS)
        for name in sorted(set(wanted)):
            target = os.path.join(base_dir, NATIVE, name)
            if os.path.exists(target):  # a listed source, already there
                continue
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(os.path.join(ROOT, name), target)


# Listed dependencies first: linked in the reverse order, each before what it uses.
CORE = [core_library(name, info) for name, info in reversed(list(LIBRARIES.items()))]
# The module in parts (src/_palavox/module.h says which does what), and the
# core's folders it includes from: the C interface's header and the loops of
# its one-byte strs (palavox_units.h).
MODULE_PARTS = sorted(os.path.relpath(p, HERE) for p in glob.glob(os.path.join(HERE, "src", "_palavox", "*.c")))
MODULE_HEADERS = sorted(os.path.relpath(p, HERE) for p in glob.glob(os.path.join(HERE, "src", "_palavox", "*.h")))
MODULE_INCLUDE = LIBRARIES["palavox_c"]["public_include"] + LIBRARIES["palavox_units"]["public_include"]

setup(
    version=VERSION,
    libraries=CORE,
    ext_modules=[
        Extension(
            "palavox._palavox",
            sources=MODULE_PARTS,
            depends=MODULE_HEADERS,
            include_dirs=list(MODULE_INCLUDE),
            define_macros=list(STATIC_MACROS),
            extra_compile_args=EXT_FLAGS,
            # The core is C++: the C++ driver links its runtime in.
            language="c++",
        )
    ],
    cmdclass={"build_clib": BuildClib, "build_ext": BuildExt, "sdist": Sdist},
)

# Builds palavox._palavox from this directory alone, as unpacked from the sdist:
# native/ holds the C++ core, the C interface and the generated tier and
# version headers, VERSION the component's version, both written by the
# repository's build (bindings/Makefile). Nothing but a C and C++ compiler is needed.
import glob
import os
import tempfile

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.errors import CCompilerError

HERE = os.path.dirname(os.path.abspath(__file__))
NATIVE = "native"
if not os.path.isfile(os.path.join(HERE, "VERSION")):
    raise SystemExit("palavox: no VERSION here: build from the sdist "
                     "(make -C bindings python), not from the source tree")
with open(os.path.join(HERE, "VERSION"), encoding="utf-8") as f:
    VERSION = f.read().strip()

GCC_LIKE = os.name == "posix"
WARNINGS = ["-Wall", "-Wextra"] + (["-Werror"] if os.environ.get("PALAVOX_WERROR") else [])
CORE_FLAGS = ["-std=c++20", "-O2", "-g0", "-fvisibility=hidden", "-fvisibility-inlines-hidden",
              *WARNINGS] if GCC_LIKE else ["/std:c++20", "/O2", "/EHsc"]
# -O3: the conversions between str and UTF-16 units are loops the compiler
# vectorizes only there, and they are most of the cost on long texts.
EXT_FLAGS = ["-std=c99", "-O3", "-g0", *WARNINGS] if GCC_LIKE else []

CORE = {
    "sources": sorted(glob.glob(f"{NATIVE}/text/*.cpp") + glob.glob(f"{NATIVE}/text/utf8/*.cpp") +
                      glob.glob(f"{NATIVE}/text/pieces/*.cpp")) + [
        f"{NATIVE}/shell/palavox_class.cpp", f"{NATIVE}/capi/src/palavox_c.cpp"],
    "include_dirs": [f"{NATIVE}/text", f"{NATIVE}/text/utf8", f"{NATIVE}/text/pieces",
                     f"{NATIVE}/text/include",
                     f"{NATIVE}/shell/include",
                     f"{NATIVE}/capi/include", f"{NATIVE}/capi/src", f"{NATIVE}/generated"],
    "macros": [("PALAVOX_C_STATIC", None)],
    "cflags": CORE_FLAGS,
}


class BuildExt(build_ext):
    """Links with the flags this linker takes: the core's symbols stay inside
    the module and its debug data out of it where it can, and it is not
    required to."""

    def build_extensions(self):
        wanted = ["-Wl,--exclude-libs,ALL", "-s"] if GCC_LIKE else []
        taken = [flag for flag in wanted if self._links_with(flag)]
        for ext in self.extensions:
            ext.extra_link_args = taken + ext.extra_link_args
        super().build_extensions()

    def _links_with(self, flag):
        with tempfile.TemporaryDirectory() as scratch:
            source = os.path.join(scratch, "probe.c")
            with open(source, "w", encoding="utf-8") as f:
                f.write("int palavox_probe(void) { return 0; }\n")
            try:
                objects = self.compiler.compile([source], output_dir=scratch)
                self.compiler.link_shared_object(objects, os.path.join(scratch, "probe.so"),
                                                 extra_postargs=[flag])
            except CCompilerError:
                return False
        return True


setup(
    version=VERSION,
    libraries=[("palavox_core", CORE)],
    ext_modules=[
        Extension(
            "palavox._palavox",
            sources=["src/_palavox.c"],
            include_dirs=[f"{NATIVE}/capi/include"],
            define_macros=[("PALAVOX_C_STATIC", None)],
            extra_compile_args=EXT_FLAGS,
            # The core is C++: the C++ driver links its runtime in.
            language="c++",
        )
    ],
    cmdclass={"build_ext": BuildExt},
)

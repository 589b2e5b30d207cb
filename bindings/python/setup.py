# The extension links the C interface's static library in (PIC, everything a C
# program needs), so the wheel needs nothing installed beside it. The library
# comes from the CMake build: PALAVOX_C_LIBRARY names it, by default
# build/native/capi/libpalavox.a of this repository (make build).
import os
import re

from setuptools import Extension, setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
LIBRARY = os.environ.get("PALAVOX_C_LIBRARY",
                         os.path.join(ROOT, "build", "native", "capi", "libpalavox.a"))
if not os.path.isfile(LIBRARY):
    raise SystemExit(f"palavox: {LIBRARY} not found; run `make build` first "
                     "or set PALAVOX_C_LIBRARY to libpalavox.a")

# The version is the component's, from the one file that holds it.
with open(os.path.join(ROOT, "cmake", "PalavoxIdentity.cmake"), encoding="utf-8") as f:
    VERSION = re.search(r"^set\(PALAVOX_VERSION ([0-9.]+)\)$", f.read(), re.M).group(1)

setup(
    version=VERSION,
    ext_modules=[
        Extension(
            "palavox._palavox",
            sources=["src/_palavox.c"],
            include_dirs=[os.path.join(ROOT, "capi", "include")],
            extra_objects=[LIBRARY],
            libraries=["stdc++", "m"],
            extra_compile_args=["-std=c99", "-g0", "-Wall", "-Wextra", "-Werror"],
            # The library's C++ insides stay private to the extension.
            extra_link_args=["-Wl,--exclude-libs,ALL", "-s"],
        )
    ],
)

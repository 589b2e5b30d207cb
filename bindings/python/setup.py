# The extension compiles the C++ core in with it, so the wheel needs nothing
# installed beside it. Sources are those of this repository, two levels up
# (relative paths: setuptools refuses absolute ones).
import glob
import os

from setuptools import Extension, setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))

core = sorted(glob.glob(os.path.join(ROOT, "text", "*.cpp")))
core.append(os.path.join(ROOT, "shell", "palavox_class.cpp"))
core = [os.path.relpath(path, HERE) for path in core]
headers = glob.glob(os.path.join(ROOT, "text", "**", "*.hpp"), recursive=True)
headers += glob.glob(os.path.join(ROOT, "shell", "include", "palavox", "*.hpp"))

setup(
    ext_modules=[
        Extension(
            "palavox._palavox",
            sources=[os.path.join("src", "_palavox.cpp")] + core,
            include_dirs=[os.path.join(ROOT, "text", "include"),
                          os.path.join(ROOT, "shell", "include")],
            depends=[os.path.relpath(path, HERE) for path in headers],
            language="c++",
            extra_compile_args=["-std=c++20", "-O2", "-g0", "-fvisibility=hidden"],
        )
    ],
)

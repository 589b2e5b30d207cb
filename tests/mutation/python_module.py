#!/usr/bin/env python3
"""The Python package's module, rebuilt in seconds for the mutation run: the
package build's own compile and link commands for the module's parts
(bindings/python/src/_palavox/*.c), over the core objects it compiled once,
the result put where the venv's package has it.

  python_module.py setup TREE   the sdist (TREE's palavox_python_sdist), its wheel
                                in build/python/venv, and the kept build beside
                                them in build/mutation-python, redone for a new sdist
  python_module.py build        each part compiled (unless its object is newer than
                                it and the parts' headers) and linked, into the venv
  python_module.py restore      the venv's module back as the wheel installed it

setup also writes compile_commands.json there, for mutate.py's object check."""

import base64
import glob
import hashlib
import json
import os
import runpy
import shlex
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PARTS = os.path.join(ROOT, "bindings", "python", "src", "_palavox")
IN_SDIST = os.path.join("src", "_palavox")
PY = os.path.join(ROOT, "build", "python")
VENV_PY = os.path.join(PY, "venv", "bin", "python")
CACHE = os.path.join(ROOT, "build", "mutation-python")
COMMANDS = os.path.join(CACHE, "commands.json")


def fail(message):
    sys.exit(f"python_module: {message}")


def check(args, **kw):
    if subprocess.run(args, **kw).returncode != 0:
        fail(f"failed: {shlex.join(args)}")


def sha256(data):
    return hashlib.sha256(data).digest()


def installed():
    """The module's path in the venv, and its hash as pip recorded it."""
    records = glob.glob(os.path.join(PY, "venv", "lib", "python*", "site-packages", "palavox-*.dist-info", "RECORD"))
    if len(records) != 1:
        fail("no single palavox installed in build/python/venv")
    site = os.path.dirname(os.path.dirname(records[0]))
    for line in open(records[0], encoding="utf-8"):
        name, digest, _ = line.rstrip("\n").rsplit(",", 2)
        if name.startswith("palavox/_palavox.") and name.endswith((".so", ".pyd")):
            algorithm, value = digest.split("=", 1)
            assert algorithm == "sha256", digest
            return os.path.join(site, name), base64.urlsafe_b64decode(value + "=" * (-len(value) % 4)), name
    fail(f"{records[0]} lists no palavox._palavox")


def put(data, path):
    # Replaced whole: a process that has the old file mapped keeps it intact.
    fd, scratch = tempfile.mkstemp(dir=os.path.dirname(path))
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    os.chmod(scratch, 0o755)
    os.replace(scratch, path)


def restore():
    path, digest, name = installed()
    if os.path.exists(path) and sha256(open(path, "rb").read()) == digest:
        return
    wheels = glob.glob(os.path.join(PY, "palavox-*.whl"))
    if len(wheels) != 1:
        fail("no single wheel in build/python to restore the module from")
    data = zipfile.ZipFile(wheels[0]).read(name)
    if sha256(data) != digest:
        fail(f"{wheels[0]} is not the wheel installed in the venv")
    put(data, path)


def capture(sdist_dir, temp, lib):
    """Runs (in the venv's python) the package build, keeping every command it spawns."""
    import setuptools  # noqa: F401  (its distutils first)
    from distutils.ccompiler import CCompiler
    spawned = []
    original = CCompiler.spawn

    def spawn(self, cmd, **kw):
        spawned.append(list(cmd))
        return original(self, cmd, **kw)
    CCompiler.spawn = spawn
    os.chdir(sdist_dir)
    sys.argv = ["setup.py", "-v", "build", "--build-temp", temp, "--build-lib", lib]
    runpy.run_path("setup.py", run_name="__main__")
    parts = sorted(glob.glob(os.path.join(PARTS, "*.c")))
    compiles = {}
    for c in spawned:
        for part in parts:
            if "-c" in c and os.path.join(IN_SDIST, os.path.basename(part)) in c:
                compiles[os.path.basename(part)] = c
    links = [c for c in spawned if "-c" not in c and "-o" in c
             and os.path.basename(c[c.index("-o") + 1]).startswith("_palavox.")]
    if len(compiles) != len(parts) or len(links) != 1:
        fail(f"expected a compile of each of the {len(parts)} parts and one link of _palavox, "
             f"got {len(compiles)} and {len(links)}")
    json.dump({"directory": sdist_dir, "compile": compiles, "link": links[0]}, open(COMMANDS, "w"), indent=1)


def commands():
    """The kept build's folder, each part's compile command (the part in the
    repository compiled in place of the sdist's copy), and the link command."""
    saved = json.load(open(COMMANDS))
    compiles = {}
    for name, args in saved["compile"].items():
        source = os.path.join(PARTS, name)
        args = [source if a == os.path.join(IN_SDIST, name) else a for a in args]
        # A fault the compiler only warns about is still a fault to catch.
        # Its headers are found beside it, in the repository too.
        compiles[source] = [a for a in args if a != "-Werror"]
    return saved["directory"], compiles, saved["link"]


def output(args):
    return os.path.join(commands()[0], args[args.index("-o") + 1])


def build(fresh=False):
    directory, compiles, link_args = commands()
    headers = max((os.path.getmtime(h) for h in glob.glob(os.path.join(PARTS, "*.h"))), default=0)
    for source, compile_args in compiles.items():
        obj = output(compile_args)
        # mutate.py may have put the mutant's object there already.
        if fresh or not os.path.exists(obj) or os.path.getmtime(obj) <= max(os.path.getmtime(source), headers):
            check(compile_args, cwd=directory)
    check(link_args, cwd=directory)
    put(open(output(link_args), "rb").read(), installed()[0])


def setup(tree):
    version = subprocess.run(["cmake", "-DPALAVOX_GET=PALAVOX_VERSION", "-P",
                              os.path.join(ROOT, "cmake", "PalavoxIdentity.cmake")],
                             capture_output=True, text=True, check=True).stdout.strip()
    check(["cmake", "--build", os.path.join(ROOT, tree), "--target", "palavox_python_sdist"])
    sdist = os.path.join(ROOT, tree, "bindings", "python", f"palavox-{version}.tar.gz")
    check([os.path.join(ROOT, "tests", "bindings", "python", "wheel-from-sdist.sh"), sdist, PY])
    restore()  # a run ended by SIGKILL leaves its last mutant there
    if not os.path.exists(COMMANDS) or os.path.getmtime(COMMANDS) < os.path.getmtime(sdist):
        shutil.rmtree(CACHE, ignore_errors=True)
        os.makedirs(CACHE)
        with tarfile.open(sdist) as archive:
            archive.extractall(CACHE)
        env = {k: v for k, v in os.environ.items() if k != "PALAVOX_WERROR"}
        with open(os.path.join(CACHE, "build.log"), "w") as log:
            check([VENV_PY, __file__, "capture", os.path.join(CACHE, f"palavox-{version}"),
                   os.path.join(CACHE, "temp"), os.path.join(CACHE, "lib")], env=env, stdout=log, stderr=log)
    directory, compiles, _ = commands()
    json.dump([{"directory": directory, "file": source, "command": shlex.join(args)}
               for source, args in compiles.items()],
              open(os.path.join(CACHE, "compile_commands.json"), "w"), indent=1)
    path, digest, _ = installed()
    imported = subprocess.run([VENV_PY, "-c", "import palavox._palavox as m; print(m.__file__)"], cwd=PY,
                              capture_output=True, text=True).stdout.strip()
    if imported != path:
        fail(f"the venv imports palavox._palavox from {imported or 'nowhere'}, not {path}")
    # The mutants are honest only if the unmutated build is the package's module, byte for byte.
    build(fresh=True)
    same = sha256(open(path, "rb").read()) == digest
    restore()
    if not same:
        fail("the module built from bindings/python/src/_palavox/ differs from the wheel's")


if __name__ == "__main__":
    command, rest = (sys.argv[1], sys.argv[2:]) if len(sys.argv) > 1 else ("", [])
    actions = {"setup": setup, "build": build, "restore": restore, "capture": capture}
    if command not in actions:
        sys.exit(__doc__)
    actions[command](*rest)

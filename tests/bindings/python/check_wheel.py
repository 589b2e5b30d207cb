"""The wheel pip built from the sdist: tagged for exactly this interpreter and
platform (the extension uses CPython's version-specific string layout, so no
abi3), and holding the extension, the modules, their stubs and py.typed.
    check_wheel.py palavox-<version>-<tags>.whl"""

import os
import sys
import sysconfig
import zipfile

path = sys.argv[1]
interpreter = f"cp{sys.version_info.major}{sys.version_info.minor}"
platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
tag = os.path.basename(path)[: -len(".whl")].split("-", 2)[2]
problems = [] if tag == f"{interpreter}-{interpreter}-{platform}" else [
    f"tag {tag}, expected {interpreter}-{interpreter}-{platform}"]
names = zipfile.ZipFile(path).namelist()
suffix = sysconfig.get_config_var("EXT_SUFFIX")
for wanted in ("palavox/_palavox" + suffix, "palavox/_palavox.pyi", "palavox/py.typed",
               "palavox/__init__.py", "palavox/batch.py", "palavox/batch.pyi",
               "palavox/pandas.py", "palavox/pandas.pyi"):
    if wanted not in names:
        problems.append(f"{wanted} missing")
print(f"check_wheel: {os.path.basename(path)}: " + ("; ".join(problems) or "ok"))
sys.exit(1 if problems else 0)

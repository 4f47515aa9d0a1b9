"""The Windows module links python3.dll through cmake/windows/python3.def,
which lists exactly the interpreter functions and objects the module uses. The
Linux module is built from the same sources, so the interpreter symbols it
leaves undefined must be that same list: a new Python API call shows up here,
before the Windows build fails to link."""

import os
import re
import shutil
import subprocess
import sys

import pytest

import velmo

DEF_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake", "windows", "python3.def")


def listed():
    names, exports = set(), False
    for line in open(DEF_FILE, encoding="utf-8"):
        line = line.split(";", 1)[0].strip()
        if line == "EXPORTS":
            exports = True
        elif exports and line:
            names.add(line.split()[0])
    return names


@pytest.mark.skipif(not sys.platform.startswith("linux") or shutil.which("nm") is None, reason="reads the ELF module")
def test_python3_def_lists_exactly_what_the_module_imports():
    out = subprocess.run(["nm", "-D", "--undefined-only", velmo.__file__], capture_output=True, text=True,
                         check=True).stdout
    used = {line.split()[-1] for line in out.splitlines() if re.match(r"_?Py", line.split()[-1])}
    assert used, "no interpreter symbols found"
    assert not used - listed(), f"add to cmake/windows/python3.def: {sorted(used - listed())}"
    assert not listed() - used, f"no longer used, drop from cmake/windows/python3.def: {sorted(listed() - used)}"

"""Which zandrelAPI library a script drives: the check a script makes before
it moves an arm, and the two ways to put the maker's library in the virtual
controller's place while velmo's own folder keeps the virtual controller (so
that reinstalling or upgrading velmo cannot undo them; README, "Using the
maker's library")."""

import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import velmo
import zandrel_sim
from builds import WINDOWS

ROOT = pathlib.Path(__file__).resolve().parents[1]
FOLDER = os.path.dirname(os.path.abspath(velmo.__file__))

# What a child process reports about the library its velmo drives.
REPORT = """
import json, velmo, zandrel_sim
robot = velmo.RC("10.0.0.1")
print(json.dumps([zandrel_sim.is_virtual_controller(), zandrel_sim.library_path(),
                  robot.login(), robot.get_sdk_version(), robot.power_on()]))
"""


def report(code, **env):
    child = subprocess.run([sys.executable, "-c", code + REPORT], capture_output=True, text=True, timeout=60,
                           env=dict(os.environ, **env))
    assert child.returncode == 0, child.stderr
    return json.loads(child.stdout)


def test_the_installed_library_is_the_virtual_controller_and_says_so(rc):
    assert zandrel_sim.is_virtual_controller() is True
    assert os.path.normcase(os.path.dirname(zandrel_sim.library_path())) == os.path.normcase(FOLDER)
    code, version = rc.get_sdk_version()
    assert code == 0 and re.fullmatch(r"velmo virtual controller \d+\.\d+\.\d+\S*", version), version


def maker_library(folder):
    """A stand-in for the maker's libzandrelAPI.so: every function of the
    header, each returning 0, and a version text of its own; no probe."""
    header = (ROOT / "include" / "zandrelAPI.h").read_text()
    declarations = re.findall(r"^ZANDREL_API (ErrorCode \w+\([^;]*\));", header, re.M)
    assert len(declarations) == 109
    body = {"get_sdk_version": 'strcpy(version, "maker 9.9"); '}
    source = ['#include <string.h>', '#include "zandrelAPI.h"']
    for declaration in declarations:
        name = re.match(r"ErrorCode (\w+)", declaration).group(1)
        source.append(f"{declaration} {{ {body.get(name, '')}return 0; }}")
    (folder / "maker.c").write_text("\n".join(source) + "\n")
    library = folder / "libzandrelAPI.so"
    subprocess.run(["cc", "-shared", "-fPIC", "-I", str(ROOT / "include"), "-o", str(library),
                    "-Wl,-soname,libzandrelAPI.so", str(folder / "maker.c")], check=True, capture_output=True)
    return library


@pytest.mark.skipif(WINDOWS or shutil.which("cc") is None,
                    reason="builds a Linux library with the system's C compiler")
def test_linux_a_library_first_on_the_loader_path_replaces_the_virtual_controller(tmp_path):
    library = maker_library(tmp_path)
    search = os.pathsep.join(filter(None, [str(tmp_path), os.environ.get("LD_LIBRARY_PATH")]))
    assert report("", LD_LIBRARY_PATH=search) == [False, str(library), [0], [0, "maker 9.9"], [0]]
    # without it, the same interpreter drives the virtual controller again
    virtual, path, _, (_, version), _ = report("")
    assert virtual and version.startswith("velmo virtual controller") and os.path.dirname(path) == FOLDER


@pytest.mark.skipif(not WINDOWS, reason="Windows binds a DLL name to the DLL of that name already loaded")
def test_windows_a_library_loaded_before_velmo_replaces_the_one_beside_it(tmp_path):
    # A copy of the virtual controller stands in for the maker's DLL: its probe
    # shows that velmo's calls reach it.
    copy = tmp_path / "zandrelAPI.dll"
    shutil.copyfile(os.path.join(FOLDER, "zandrelAPI.dll"), copy)
    preload = (f"import ctypes, zandrel_sim\nctypes.WinDLL({str(copy)!r})\n"
               f"sim = zandrel_sim.Probe({str(copy)!r})\nsim.reset()\nsim.inject('power_on', 23)\n")
    virtual, path, login, _, power_on = report(preload)
    assert virtual and os.path.normcase(path) == os.path.normcase(str(copy))
    assert login == [0] and power_on == [23]

"""The built files: what the module exports and links, and that the one
stable-ABI binary loads in every CPython from 3.8 on."""

import glob
import os
import re
import shutil
import subprocess
import sys

import pytest

import velmo
import zandrel_sim
from pe_file import PEFile

MODULE = os.path.abspath(velmo.__file__)
FOLDER = os.path.dirname(MODULE)
LIBRARY = os.path.join(FOLDER, "libzandrelAPI.so")

linux_only = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="ELF checks of the Linux module")
windows_only = pytest.mark.skipif(sys.platform != "win32", reason="PE checks of the Windows module")
needs_binutils = pytest.mark.skipif(shutil.which("readelf") is None, reason="binutils not installed")


def dynamic_section(path):
    out = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
    return {(kind, value) for kind, value in re.findall(r"\((\w+)\)\s+.*?\[(.*?)\]", out)}


def exported(path):
    out = subprocess.run(["nm", "-D", "--defined-only", path], capture_output=True, text=True, check=True).stdout
    return {line.split()[-1] for line in out.splitlines() if line.strip()}


@needs_binutils
@linux_only
def test_module_exports_exactly_the_entry_and_bridge_symbols():
    assert exported(MODULE) == {"PyInit_velmo", "ipaddr", "pythonCallBack", "call_func"}


@needs_binutils
@linux_only
def test_module_links_the_library_not_the_interpreter():
    entries = dynamic_section(MODULE)
    needed = {value for kind, value in entries if kind == "NEEDED"}
    assert ("SONAME", "libvelmo.so") in entries
    assert ("RUNPATH", "$ORIGIN") in entries
    assert "libzandrelAPI.so" in needed
    assert not any(name.startswith("libpython") for name in needed)
    assert MODULE.endswith("velmo.abi3.so")


@needs_binutils
@linux_only
def test_library_exports_the_contract_and_the_probe():
    symbols = exported(LIBRARY)
    header = open(os.path.join(os.path.dirname(__file__), "..", "include", "zandrelAPI.h")).read()
    contract = set(re.findall(r"^ZANDREL_API ErrorCode (\w+)\(", header, re.M))
    assert len(contract) == 109
    probe = {name for name in symbols if name.startswith("zsim_")}
    assert symbols == contract | probe
    assert ("SONAME", "libzandrelAPI.so") in dynamic_section(LIBRARY)


@windows_only
def test_windows_module_exports_its_entry_alone_and_shares_the_interpreters_c_runtime():
    module = PEFile(MODULE)
    assert MODULE.endswith("velmo.pyd") and module.is_x64_dll
    assert module.exports() == ["PyInit_velmo"]
    dlls = {name.lower() for name in module.imports()}
    # the UCRT, which CPython uses too: the module's standard error is the interpreter's
    runtime = {name for name in dlls if name.startswith("api-ms-win-crt-")}
    assert "api-ms-win-crt-stdio-l1-1-0.dll" in runtime
    assert dlls - runtime == {"python3.dll", "zandrelapi.dll", "kernel32.dll"}
    # Windows found the library in the module's own folder
    loaded = zandrel_sim.library_path()
    assert os.path.normcase(loaded) == os.path.normcase(os.path.join(FOLDER, "zandrelAPI.dll"))


SMOKE = """
import sys
sys.path.insert(0, {folder!r})
import velmo, zandrel_sim
sim = zandrel_sim.Probe()
sim.reset()
robot = velmo.RC("10.0.0.7")
assert robot.login() == (0,), "login"
sim.inject("get_joint_position", 0)
assert robot.get_joint_position() == (0, [0.0] * 6)
assert sim.calls("create_handler") == [["10.0.0.7", 1]]
print("ok", sys.version_info[:2])
"""

INTERPRETERS = sorted(glob.glob("/root/.pyenv/versions/3.*/bin/python3"))
INTERPRETERS = [p for p in INTERPRETERS if re.search(r"/3\.(8|9|1[0-9])\.", p)]


@pytest.mark.skipif(not INTERPRETERS, reason="no pyenv interpreters on this machine")
@pytest.mark.parametrize("python", INTERPRETERS, ids=[p.split("/")[-3] for p in INTERPRETERS])
def test_one_binary_loads_in_every_interpreter(python):
    run = subprocess.run([python, "-I", "-c", SMOKE.format(folder=FOLDER)], capture_output=True, text=True,
                         timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("ok")


def test_the_build_tools_setup_installs_are_the_build_systems():
    """scripts/setup.sh builds in .venv without build isolation (so that build/
    keeps its objects), with requirements-build.txt in place of pyproject.toml's
    [build-system] requires: every one of those must be there, as written."""
    tomllib = pytest.importorskip("tomllib")
    root = os.path.join(os.path.dirname(__file__), "..")
    with open(os.path.join(root, "pyproject.toml"), "rb") as f:
        requires = tomllib.load(f)["build-system"]["requires"]
    with open(os.path.join(root, "requirements-build.txt")) as f:
        listed = {line.strip() for line in f if line.strip() and not line.startswith("#")}
    assert set(requires) <= listed
    with open(os.path.join(root, "requirements-dev.txt")) as f:
        assert "-r requirements-build.txt" in f.read().splitlines()

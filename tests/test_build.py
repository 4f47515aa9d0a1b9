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

MODULE = os.path.abspath(velmo.__file__)
FOLDER = os.path.dirname(MODULE)
LIBRARY = os.path.join(FOLDER, "libzandrelAPI.so")

linux_only = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="ELF checks")
needs_binutils = pytest.mark.skipif(shutil.which("readelf") is None, reason="binutils not installed")


def dynamic_section(path):
    out = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
    return {(kind, value) for kind, value in re.findall(r"\((\w+)\)\s+.*?\[(.*?)\]", out)}


def exported(path):
    out = subprocess.run(["nm", "-D", "--defined-only", path], capture_output=True, text=True, check=True).stdout
    return {line.split()[-1] for line in out.splitlines() if line.strip()}


@linux_only
@needs_binutils
def test_module_exports_exactly_the_entry_and_bridge_symbols():
    assert exported(MODULE) == {"PyInit_velmo", "ipaddr", "pythonCallBack", "call_func"}


@linux_only
@needs_binutils
def test_module_links_the_library_not_the_interpreter():
    entries = dynamic_section(MODULE)
    needed = {value for kind, value in entries if kind == "NEEDED"}
    assert ("SONAME", "libvelmo.so") in entries
    assert ("RUNPATH", "$ORIGIN") in entries
    assert "libzandrelAPI.so" in needed
    assert not any(name.startswith("libpython") for name in needed)
    assert MODULE.endswith("velmo.abi3.so")


@linux_only
@needs_binutils
def test_library_exports_the_contract_and_the_probe():
    symbols = exported(LIBRARY)
    header = open(os.path.join(os.path.dirname(__file__), "..", "include", "zandrelAPI.h")).read()
    contract = set(re.findall(r"^ZANDREL_API ErrorCode (\w+)\(", header, re.M))
    assert len(contract) == 109
    probe = {name for name in symbols if name.startswith("zsim_")}
    assert symbols == contract | probe
    assert ("SONAME", "libzandrelAPI.so") in dynamic_section(LIBRARY)


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
@pytest.mark.parametrize("python", INTERPRETERS, ids=lambda p: p.split("/")[-3])
def test_one_binary_loads_in_every_interpreter(python):
    run = subprocess.run([python, "-I", "-c", SMOKE.format(folder=FOLDER)], capture_output=True, text=True,
                         timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("ok")

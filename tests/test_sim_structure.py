"""The virtual controller's structure, checked on its sources: the probe stays
at the edge, units depend on each other in one direction, and one guard is
the only place an exception is stopped."""

import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
SIM = ROOT / "sim"
SOURCES = sorted(p for p in SIM.rglob("*") if p.suffix in (".h", ".cpp", ".def"))

pytestmark = pytest.mark.skipif(not SOURCES, reason="needs the source tree")


def text(path):
    return path.read_text(encoding="utf-8")


def test_the_include_graph_of_the_units_has_no_cycle():
    run = subprocess.run([sys.executable, str(ROOT / ".ci" / "include_graph.py"), str(SIM)],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    edges = [line for line in run.stdout.splitlines() if "->" in line]
    # The order the layers were built for: the core never reaches up into the edge
    # or the view, and the view (which watches the core) never into the edge.
    assert edges and not [e for e in edges if e.startswith("core/") and ("-> edge/" in e or "-> view/" in e)]
    assert not [e for e in edges if e.startswith("view/") and "-> edge/" in e]


def test_only_the_edge_knows_the_probe():
    probe_headers = re.compile(r'#\s*include\s+"(zsim_probe\.h|edge/probe\.h|probe\.h)"')
    outside = [p.relative_to(SIM) for p in SOURCES
               if p.parent.name != "edge" and probe_headers.search(text(p))]
    assert outside == []


# What the view may include from the core: the readout of the controllers, the
# arm's model (its geometry and IO map) and the pure helpers. Nothing of how a
# controller keeps its state (the controller, its motion queue, segments,
# programs) is the view's business.
VIEW_MAY_INCLUDE = {"core/readout.h", "core/kinematics.h", "core/io.h", "core/json.h", "core/boundary.h"}


def test_the_view_reads_controllers_only_through_their_readout():
    include = re.compile(r'^\s*#\s*include\s+"(core/[^"]+)"', re.M)
    reached = {(p.relative_to(SIM).as_posix(), name) for p in SOURCES if p.parent.name == "view"
               for name in include.findall(text(p))}
    assert ("view/snapshot.h", "core/readout.h") in reached
    assert {(p, name) for p, name in reached if name not in VIEW_MAY_INCLUDE} == set()


def test_one_guard_stops_exceptions_and_only_the_edge_exports():
    catch_all = {p.relative_to(SIM).as_posix(): text(p).count("catch (...)") for p in SOURCES}
    assert {k: n for k, n in catch_all.items() if n} == {"core/boundary.h": 1}
    defining = [p.relative_to(SIM).as_posix() for p in SOURCES
                if p.suffix == ".cpp" and re.search(r'^extern "C"', text(p), re.M)]
    assert defining == ["edge/probe_api.cpp"]  # and exports.cpp, whose definitions the header declares extern "C"

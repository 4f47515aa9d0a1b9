"""The project's structure, checked on its sources: every unit in its layer
and none reaching up (the table of docs/architecture.md, which
.ci/include_graph.py holds the code to), the view reading controllers only
through their readout, the probe at the edge, and one guard the only place
an exception is stopped."""

import pathlib
import re
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
SIM = ROOT / "sim"
SOURCES = sorted(p for p in SIM.rglob("*") if p.suffix in (".h", ".cpp", ".def"))
CHECK = ROOT / ".ci" / "include_graph.py"

pytestmark = pytest.mark.skipif(not SOURCES or not CHECK.exists(), reason="needs the source tree")

sys.path.insert(0, str(CHECK.parent))
import include_graph  # noqa: E402


def text(path):
    return path.read_text(encoding="utf-8")


def check(root):
    return subprocess.run([sys.executable, str(CHECK), str(root)], capture_output=True, text=True)


def test_every_unit_keeps_its_layer_and_the_units_have_no_cycle():
    run = check(ROOT)
    assert run.returncode == 0, run.stderr
    edges = [line for line in run.stdout.splitlines() if "->" in line]
    # The order the layers were built for: the core never reaches up into the edge
    # or the view, and the view (which watches the core) never into the edge.
    assert edges and not [e for e in edges
                          if e.startswith("sim/core/") and ("-> sim/edge/" in e or "-> sim/view/" in e)]
    assert not [e for e in edges if e.startswith("sim/view/") and "-> sim/edge/" in e]


def layer_of_each_unit():
    units = {include_graph.unit_of(p, str(ROOT)) for p in include_graph.sources(str(ROOT))}
    rows = include_graph.read_layers(str(ROOT))
    where, problems = include_graph.place(units, rows)
    assert problems == []
    return {unit: rows[n][0] for unit, n in where.items()}


def test_the_view_reads_controllers_only_through_their_readout():
    # From the core, the view may include the readout and what lies under it
    # (the arm's model, the support units): nothing of how a controller keeps
    # its state (the controller, its motion, the library functions).
    layer = layer_of_each_unit()
    reached = {(a, b) for a, b in include_graph.edges(str(ROOT)) if a.startswith("sim/view/")}
    assert ("sim/view/snapshot", "sim/core/readout") in reached
    assert {(a, b) for a, b in reached
            if b.startswith("sim/core/") and layer[b] not in ("readout", "model", "support")} == set()


# Each changes a copy of the tree in one way the check must refuse: (what, file,
# text appended, what the check says).
BREAKS = [
    ("a model unit includes the controller", "sim/core/kinematics.h", '#include "controller.h"\n',
     "sim/core/kinematics (model) reaches up to sim/core/controller (controller)"),
    ("the readout includes a library function", "sim/core/readout.cpp", '#include "api_support.h"\n',
     "sim/core/readout (readout) reaches up to sim/core/api_support (library functions)"),
    ("the view includes the controller", "sim/view/snapshot.cpp", '#include "core/controller.h"\n',
     "the layer view uses controller, model, readout, support; its row says model, readout, support"),
    ("the module's record includes the forward", "src/methods.def", '#include "forward.h"\n',
     "src/methods (module record) reaches up to src/forward (module frame)"),
    ("velmo_arm's base imports a part", "python/velmo_arm/errors.py", "from . import servo\n",
     "python/velmo_arm/errors (velmo_arm base) reaches up to python/velmo_arm/servo (velmo_arm parts)"),
    ("a unit no row places", "sim/core/weather.h", "/* the weather */\n",
     "sim/core/weather is in no layer of"),
    ("a module no row places", "python/velmo_arm/world.py", "WORLD = None\n",
     "python/velmo_arm/world is in no layer of"),
]


def copy_of_the_tree(into):
    for tree in ("src", "sim", "python"):
        shutil.copytree(ROOT / tree, into / tree, ignore=shutil.ignore_patterns("__pycache__"))
    (into / "docs").mkdir()
    shutil.copy(ROOT / "docs" / "architecture.md", into / "docs")


@pytest.mark.parametrize("path, added, said", [b[1:] for b in BREAKS], ids=[b[0] for b in BREAKS])
def test_the_check_refuses_a_unit_out_of_its_layer(tmp_path, path, added, said):
    copy_of_the_tree(tmp_path)
    assert check(tmp_path).returncode == 0
    target = tmp_path / path
    with open(target, "a", encoding="utf-8") as f:
        f.write(added)
    run = check(tmp_path)
    assert run.returncode == 1 and said in run.stderr, run.stderr


def test_the_check_refuses_a_row_for_a_unit_that_is_gone(tmp_path):
    copy_of_the_tree(tmp_path)
    (tmp_path / "sim" / "core" / "readout.h").unlink()
    (tmp_path / "sim" / "core" / "readout.cpp").unlink()
    run = check(tmp_path)
    assert run.returncode == 1
    assert "the layer readout names sim/core/readout, which is no unit of the tree" in run.stderr


def test_only_the_edge_knows_the_probe():
    probe_headers = re.compile(r'#\s*include\s+"(zsim_probe\.h|edge/probe\.h|probe\.h)"')
    outside = [p.relative_to(SIM) for p in SOURCES
               if p.parent.name != "edge" and probe_headers.search(text(p))]
    assert outside == []


def test_every_probe_function_is_a_use_of_the_probe():
    # The journal starts at the probe's first use: each zsim_ function notes it
    # before anything else, whatever it then does or refuses. Reading the
    # simulated clock is not a use: velmo_arm's recorder reads it in scripts.
    declared = set(re.findall(r"^ZSIM_PROBE_API \w+ (zsim_\w+)\(", text(SIM / "zsim_probe.h"), re.M))
    bodies = dict(re.findall(r"^(?:void|int|double) (zsim_\w+)\([^)]*\)\n\{\n(.*?)^\}",
                             text(SIM / "edge" / "probe_api.cpp"), re.M | re.S))
    assert declared and set(bodies) == declared
    assert [name for name, body in bodies.items()
            if not body.lstrip().startswith("probe::note_use();")] == ["zsim_time"]


def test_one_guard_stops_exceptions_and_only_the_edge_exports():
    catch_all = {p.relative_to(SIM).as_posix(): text(p).count("catch (...)") for p in SOURCES}
    assert {k: n for k, n in catch_all.items() if n} == {"core/boundary.h": 1}
    defining = [p.relative_to(SIM).as_posix() for p in SOURCES
                if p.suffix == ".cpp" and re.search(r'^extern "C"', text(p), re.M)]
    assert defining == ["edge/probe_api.cpp"]  # and exports.cpp, whose definitions the header declares extern "C"

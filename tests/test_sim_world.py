"""The world of the virtual arms: the scene's objects, the arms' bases, what
is refused (and leaves the world as it was), scene files, and the reset."""

import json
import math
import os
import subprocess
import sys

import pytest

from simkit import same_pose

FLOOR = {"name": "floor", "shape": "plane", "pose": [0, 0, 0, 0, 0, 0]}
TABLE = {"name": "table", "shape": "box", "pose": [500, 0, 350, 0, 0, 0.5], "size": [800, 600, 700]}
POST = {"name": "post", "shape": "cylinder", "pose": [-300, 200, 400, 0.1, 0, 0], "radius": 40, "length": 800}
BALL = {"name": "ball", "shape": "sphere", "centre": [0, -400, 200], "radius": 55.5}
WALL = {"name": "wall", "shape": "plane", "pose": [0, 900, 0, 1.5707963267948966, 0, 0]}


def add_each(sim):
    sim.add_box("table", TABLE["pose"], TABLE["size"])
    sim.add_cylinder("post", POST["pose"], POST["radius"], POST["length"])
    sim.add_sphere("ball", BALL["centre"], BALL["radius"])
    sim.add(WALL)


def test_the_floor_is_the_default_scene_and_each_object_reads_back_as_given(sim):
    assert sim.scene() == [FLOOR]
    assert sim.bases() == {}
    add_each(sim)
    assert sim.scene() == [FLOOR, TABLE, POST, BALL, WALL]
    sim.set_scene(sim.scene())  # the plain form is what every way in takes
    assert sim.scene() == [FLOOR, TABLE, POST, BALL, WALL]


def test_remove_clear_and_reset(sim):
    add_each(sim)
    sim.remove("floor")
    assert [o["name"] for o in sim.scene()] == ["table", "post", "ball", "wall"]
    sim.clear_scene()
    assert sim.scene() == []
    sim.set_base("10.0.0.2", (1000, 0, 0, 0, 0, 3.14))
    sim.reset()
    assert sim.scene() == [FLOOR] and sim.bases() == {}


def test_bases_are_kept_by_address_before_and_after_login(sim):
    import velmo
    sim.set_base("10.0.0.2", (1000, -50.5, 20, 0, 0, 3.0))
    robot = velmo.RC("10.0.0.2")
    assert robot.login() == (0,)
    sim.set_base("10.0.0.3", [0, 0, 0, 0, 0, 0])
    assert sim.bases() == {"10.0.0.2": [1000, -50.5, 20, 0, 0, 3.0], "10.0.0.3": [0, 0, 0, 0, 0, 0]}
    # where the arm stands in the world changes nothing it reports in its own base frame
    assert same_pose(robot.get_tcp_position()[1], [298, -128, 520, math.pi, 0, math.pi / 2])


# (call, the field the complaint names)
REFUSED = [
    (lambda s: s.add_box("b", (0, 0, 0, 0, 0, 0), (100, -1, 100)), "size[1]"),
    (lambda s: s.add_box("b", (0, 0, 0, 0, 0, 0), (100, 0, 100)), "size[1]"),
    (lambda s: s.add_box("b", (0, 0, float("nan"), 0, 0, 0), (1, 1, 1)), "pose[2]"),
    (lambda s: s.add_box("b", (0, 0, 0, 0, float("inf"), 0), (1, 1, 1)), "pose[4]"),
    (lambda s: s.add_box("b", (2e5, 0, 0, 0, 0, 0), (1, 1, 1)), "pose[0]"),
    (lambda s: s.add_box("b", (0, 0, 0, 0, 0, 0), (1, 1, 2e5)), "size[2]"),
    (lambda s: s.add_box("b", (0, 0, 0, 0, 0), (1, 1, 1)), "pose"),
    (lambda s: s.add_box("", (0, 0, 0, 0, 0, 0), (1, 1, 1)), "name"),
    (lambda s: s.add_box("x" * 65, (0, 0, 0, 0, 0, 0), (1, 1, 1)), "name"),
    (lambda s: s.add_box("table", (0, 0, 0, 0, 0, 0), (1, 1, 1)), "name"),  # taken
    (lambda s: s.add_cylinder("c", (0, 0, 0, 0, 0, 0), -5, 10), "radius"),
    (lambda s: s.add_cylinder("c", (0, 0, 0, 0, 0, 0), 5, float("-inf")), "length"),
    (lambda s: s.add_sphere("s", (0, float("nan"), 0), 5), "centre[1]"),
    (lambda s: s.add_sphere("s", (0, 0, 0), 0), "radius"),
    (lambda s: s.add({"name": "s", "shape": "sphere", "center": [0, 0, 0], "radius": 1}), "center"),
    (lambda s: s.add({"name": "s", "shape": "cube", "pose": [0] * 6}), "shape"),
    (lambda s: s.add({"name": "s", "shape": "box", "pose": [0] * 6}), "size"),
    (lambda s: s.add({"name": "s", "shape": "box", "pose": [0] * 6, "size": [1, "2", 3]}), "size[1]"),
    (lambda s: s.add({"name": "s", "shape": "box", "pose": [0] * 6, "size": [1, True, 3]}), "size[1]"),
    (lambda s: s.add({"name": 7, "shape": "box", "pose": [0] * 6, "size": [1, 1, 1]}), "name"),
    (lambda s: s.remove("nothing"), "name"),
    (lambda s: s.set_scene([FLOOR, FLOOR]), "line 1: object 2: name"),
    (lambda s: s.set_scene([TABLE, dict(BALL, radius=-1)]), "line 1: object 2: radius"),
    (lambda s: s.set_scene({"objects": []}), "list"),
    (lambda s: s.set_base("", (0, 0, 0, 0, 0, 0)), "address"),
    (lambda s: s.set_base("a", (0, 0, 1e9, 0, 0, 0)), "pose[2]"),
    (lambda s: s.set_base("a", (0, 0, 0, float("nan"), 0, 0)), "pose[3]"),
]


@pytest.mark.parametrize("call, field", REFUSED, ids=[f"{n}-{f}" for n, (_, f) in enumerate(REFUSED)])
def test_bad_input_is_refused_by_name_and_changes_nothing(sim, call, field):
    sim.add(TABLE)
    sim.set_base("a", (1, 2, 3, 0, 0, 0))
    with pytest.raises(ValueError) as refused:
        call(sim)
    assert str(refused.value).startswith(field) or field in str(refused.value), str(refused.value)
    assert sim.scene() == [FLOOR, TABLE]
    assert sim.bases() == {"a": [1, 2, 3, 0, 0, 0]}


def test_a_full_scene_refuses_one_more(sim):
    sim.set_scene([dict(BALL, name=f"ball {n}") for n in range(256)])
    with pytest.raises(ValueError, match="full"):
        sim.add(BALL)
    assert len(sim.scene()) == 256
    with pytest.raises(ValueError, match="more than 256"):
        sim.set_scene([dict(BALL, name=f"ball {n}") for n in range(257)])


# (file text, what the complaint says: the line and the field)
BAD_FILES = [
    ('[\n  {"name": "floor", "shape": "plane", "pose": [0, 0, 0, 0, 0, 0]},\n  {"name": "t", "shape": "box",\n'
     '   "pose": [0, 0, 0, 0, 0, 0],\n   "size": [10, 10, -1]}\n]\n', "line 5: object 2: size[2]"),
    ('[\n  {"name": "t", "shape": "box", "pose": [0, 0, 0, 0, 0, 0], "size": [1, 1, 1]}\n  {"name": "u"}\n]\n',
     "line 3: expected ',' or ']'"),
    ('[{"name": "t", "shape": "box", "pose": [0, 0, 0, 0, 0, 0], "size": [1, 1, 1]},\n'
     ' {"name": "t", "shape": "sphere", "centre": [0, 0, 0], "radius": 1}]', "line 2: object 2: name"),
    ('[\n\n {"name": "s", "shape": "sphere", "centre": [0, 0, 0], "radius": 1, "colour": "red"}]',
     "line 3: object 1: unknown member \"colour\""),
    ('{"name": "s"}', "line 1: a scene must be a JSON list"),
    ('[{"name": "s\x01", "shape": "sphere"}]', "line 1: a control character"),
    ('[1e999]', "line 1: a number out of range"),
    ('', "line 1: the text ends"),
]


@pytest.mark.parametrize("text, complaint", BAD_FILES, ids=[c.split(":")[1].strip()[:24] for _, c in BAD_FILES])
def test_a_malformed_scene_file_is_refused_by_its_line(sim, tmp_path, text, complaint):
    sim.add(BALL)
    path = tmp_path / "cell.json"
    path.write_text(text, encoding="utf-8")
    with pytest.raises(ValueError) as refused:
        sim.load_scene(path)
    assert str(refused.value).startswith(f"{path}, {complaint}"), str(refused.value)
    assert sim.scene() == [FLOOR, BALL]


def test_a_scene_file_loads_whole(sim, tmp_path):
    path = tmp_path / "cell é.json"  # the name is passed on as UTF-8
    path.write_text(json.dumps([TABLE, BALL], indent=2), encoding="utf-8")
    sim.load_scene(path)
    assert sim.scene() == [TABLE, BALL]
    with pytest.raises(ValueError, match="cannot be read"):
        sim.load_scene(tmp_path / "missing.json")
    path.write_bytes(b"[" + b" " * (1 << 20) + b"]")
    with pytest.raises(ValueError, match="larger than"):
        sim.load_scene(path)
    assert sim.scene() == [TABLE, BALL]


SCENE_AT_START = """
import json, zandrel_sim
sim = zandrel_sim.Probe()
first = sim.scene()
sim.clear_scene()
sim.reset()
print(json.dumps([first, sim.scene()]))
"""


@pytest.mark.parametrize("content, expected, complaint", [
    (json.dumps([TABLE, POST]), [TABLE, POST], ""),
    ('[{"name": "t", "shape": "box"}]', [FLOOR], "line 1: object 1: pose: missing"),
    (None, [FLOOR], "cannot be read"),
], ids=["good", "malformed", "missing"])
def test_zsim_scene_is_the_scene_a_process_starts_with_and_resets_to(tmp_path, content, expected, complaint):
    path = tmp_path / "start.json"
    if content is not None:
        path.write_text(content, encoding="utf-8")
    env = dict(os.environ, ZSIM_SCENE=str(path))
    run = subprocess.run([sys.executable, "-c", SCENE_AT_START], env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert json.loads(run.stdout) == [expected, expected]
    if complaint:
        assert f"zsim scene: {path}" in run.stderr and complaint in run.stderr
        assert "the scene is the floor alone" in run.stderr
    else:
        assert "zsim scene" not in run.stderr

"""Every example runs against the virtual controller, in a subprocess, at a
time scale that keeps it short, and prints what it promises."""

import importlib.util
import os
import pathlib
import re
import subprocess
import sys

import pytest

from simkit import under_sanitizer

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"
SCALES = ["0", "25"]


def run(name, home, scale, *args, extra_path=None):
    env = dict(os.environ, ZSIM_HOME=str(home), ZSIM_TIME_SCALE=scale)
    if extra_path:
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(extra_path), env.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *map(str, args)], env=env, cwd=home.parent,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def number(pattern, text):
    found = re.search(pattern, text)
    assert found, f"{pattern!r} not in:\n{text}"
    return float(found.group(1))


@pytest.fixture
def home(tmp_path):
    return tmp_path / "zsim-home"


@pytest.fixture
def no_matplotlib(tmp_path):
    """A folder that, first on the path, makes `import matplotlib` fail."""
    fake = tmp_path / "hide" / "matplotlib"
    fake.mkdir(parents=True)
    (fake / "__init__.py").write_text('raise ImportError("hidden for the test")\n')
    return fake.parent


def test_every_example_is_tested():
    tested = {"quickstart.py", "servo_sine.py", "io_program.py", "record_trajectory.py", "error_handler.py",
              "arm_pick_and_place.py", "arm_servo_sine.py", "arm_record_and_plot.py", "pick_and_place_cell.py"}
    assert {p.name for p in EXAMPLES.glob("*.py")} == tested


@pytest.mark.parametrize("scale", SCALES)
def test_quickstart(home, scale):
    out = run("quickstart.py", home, scale)
    assert re.search(r"^logout\s+-> 0$", out, re.M), out


@pytest.mark.parametrize("scale", SCALES)
def test_servo_sine(home, scale):
    out = run("servo_sine.py", home, scale, "127.0.0.1", 1.0)
    assert "streaming 125 set-points at 125 Hz" in out
    rate = number(r"achieved rate: ([0-9.]+) ", out)
    worst = number(r"tracking error: max ([0-9.]+) rad", out)
    rms = number(r"rms ([0-9.]+) rad", out)
    assert rate > 0 and 0 <= rms <= worst
    if scale == "0":
        assert worst == 0  # every set-point is reached inside its call
    else:
        assert worst < 2 * 0.4  # set-point and arm both stay within the widest swing


@pytest.mark.parametrize("scale", SCALES)
def test_io_program(home, scale):
    out = run("io_program.py", home, scale)
    program = (home / "programs" / "io_demo.prg").read_text().splitlines()
    last = max(n for n, text in enumerate(program, 1) if text.split("#")[0].strip())
    assert f"program ended: state 0 (idle), last line {last}" in out
    assert "tool input 0 (part present): 1" in out
    assert "cabinet output 0 (gripper): 0" in out and "cabinet output 5 (placed): 1" in out


@pytest.mark.parametrize("scale, hidden", [("0", False), ("25", False), ("0", True)],
                         ids=["0", "25", "without matplotlib"])
def test_record_trajectory(home, scale, hidden, tmp_path, no_matplotlib):
    png = tmp_path / "square.png"
    # numpy and matplotlib report their import-time allocations as leaks under the sanitizers
    hide = no_matplotlib if hidden or under_sanitizer() else None
    out = run("record_trajectory.py", home, scale, png, extra_path=hide)
    assert "saved trajectories: ['square']" in out
    assert number(r"replay ended in state 0, ([0-9.]+) mm from the recorded end", out) < 1e-3
    assert number(r"(\d+) samples over", out) > 2
    assert (home / "programs" / "square").is_file()
    assert list((home / "trajectories").iterdir()) == []  # the example removes its recording
    if hide or importlib.util.find_spec("matplotlib") is None:  # found, not imported
        assert 'matplotlib is not installed: skipping the plot (pip install "velmo[plot]")' in out
        assert not png.exists()
    else:
        assert f"plot written to {png}" in out
        assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize("scale", SCALES)
def test_error_handler(home, scale):
    out = run("error_handler.py", home, scale)
    assert "error handler received code 7 (joint limit)" in out
    assert "error state: 7, joint 1 at 270.0 deg" in out
    assert "a move now gives code 12" in out
    assert "cleared and back home: True" in out


@pytest.mark.parametrize("scale", SCALES)
def test_arm_pick_and_place(home, scale):
    out = run("arm_pick_and_place.py", home, scale)
    assert "part present: True" in out and "above the pick spot" in out
    assert "refused as expected: joint_move: joint limit (code 7, JOINT_LIMIT)" in out
    assert "home: in position True, error 0, gripper False" in out
    heights = [number(r"gripper %s at z = ([0-9.]+) mm" % word, out) for word in ("closed", "open")]
    assert heights[0] == heights[1]  # both spots are DEPTH below the same height
    assert out.rstrip().endswith("logged out")


@pytest.mark.parametrize("scale", SCALES)
def test_arm_servo_sine(home, scale):
    out = run("arm_servo_sine.py", home, scale, "127.0.0.1", 1.0)
    assert "streaming 125 set-points at 125 Hz" in out
    assert number(r"sent (\d+), ", out) == 125
    assert "servo mode now False" in out
    worst = number(r"tracking error: max ([0-9.]+) rad", out)
    if scale == "0":
        assert worst == 0  # every set-point is reached inside its call
    else:
        assert worst < 2 * 0.4


@pytest.mark.parametrize("scale, hidden", [("0", False), ("25", False), ("25", True)],
                         ids=["0", "25", "without matplotlib"])
def test_arm_record_and_plot(home, scale, hidden, tmp_path, no_matplotlib):
    table, png = tmp_path / "motion.csv", tmp_path / "motion.png"
    hide = no_matplotlib if hidden or under_sanitizer() else None
    out = run("arm_record_and_plot.py", home, scale, table, png, extra_path=hide)
    samples = int(number(r"(\d+) samples over", out))
    rows = table.read_text().splitlines()
    assert len(rows) == samples + 1 and rows[0].startswith("time,wall_time,controller_time,j1,")
    assert f"CSV written to {table}: 66 columns" in out
    if scale == "0":
        assert "no speeds: the controller's clock did not move (time scale 0)" in out
    else:
        assert number(r"over ([0-9.]+) s of controller time", out) > 0
        assert 0 < number(r"fastest joint speed: ([0-9.]+) rad/s", out) <= 3.15
    if hide or importlib.util.find_spec("matplotlib") is None:
        assert 'matplotlib is not installed: skipping the plot (pip install "velmo[plot]")' in out
        assert not png.exists()
    else:
        assert f"plot written to {png}" in out and png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize("scale", SCALES)
def test_pick_and_place_cell(home, scale):
    out = run("pick_and_place_cell.py", home, scale)
    assert "cell: floor, table, crate" in out
    assert out.count("code 8 (collision: protective stop)") == 1
    assert number(r"the gripper ([0-9.]+) mm into the crate", out) < 8  # caught a few millimetres in
    for n in (1, 2, 3):
        assert f"part {n}: picked at" in out
    assert "done: 3 parts placed, 1 protective stop, in collision now: False" in out

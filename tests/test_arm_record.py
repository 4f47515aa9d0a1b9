"""velmo_arm's recorder and the reader of the controller's trajectory files:
samples with their three clocks, arrays with or without NumPy, the CSV read
back, speeds against the commanded one, and a plot of the joints and their
speeds against the documented limits."""

import csv
import math
import os
import sys
import time

import pytest

import velmo_arm
from velmo_arm import CSV_COLUMNS
from simkit import HOME, LOWER, MAX_SPEED, Q1, UPPER, close, under_sanitizer

ADDRESS = "127.0.0.1"
SPEED = 0.5  # rad/s of joint 1, which travels furthest below
TARGET = (HOME[0] + 1.0, *HOME[1:])


def record_a_move(sim, arm, step=0.04):
    """A joint move sampled every `step` s of manual time, whole 8 ms cycles
    (the arm moves once a cycle: other steps alias); returns the recorder."""
    with arm.record(rate_hz=None) as rec:
        arm.move_joints(TARGET, SPEED, wait=False)
        while not arm.status().in_position:
            sim.advance_time(step)
            rec.sample()
    return rec


@pytest.fixture
def manual(sim):
    sim.advance_time(0.0)
    return sim


def test_samples_carry_the_controllers_clock_and_state(manual):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        begun = manual.time()
        arm.set_digital_output(5, True)
        rec = record_a_move(manual, arm)
        clock = [s.controller_time - begun for s in rec.samples]
        assert clock == pytest.approx([0.04 * k for k in range(len(clock))], abs=1e-9)  # the advances exactly
        assert len(rec.samples) > 10
        assert rec.samples[0].status.joints == pytest.approx(HOME, abs=1e-12)
        assert close(rec.samples[-1].status.joints, TARGET, 1e-9) and rec.samples[-1].status.in_position
        assert all(s.status.cabinet_digital_outputs[5] for s in rec.samples)
        times = [s.time for s in rec.samples]
        walls = [s.wall_time for s in rec.samples]
        assert times == sorted(times) and walls == sorted(walls) and times[0] >= 0


def test_speeds_are_taken_over_the_controllers_clock(manual):
    pytest.importorskip("numpy") if not under_sanitizer() else pytest.skip("numpy under LeakSanitizer")
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        rec = record_a_move(manual, arm, step=0.016)
    speeds = rec.joint_speeds
    assert speeds.shape == (len(rec.samples), 6)
    # joint 1 cruises at the commanded speed
    assert max(abs(speeds[:, 0])) == pytest.approx(SPEED, rel=1e-6)
    assert all(abs(speeds[:, j]).max() <= MAX_SPEED[j] for j in range(6))
    assert rec.joints.shape == rec.tcp.shape == (len(rec.samples), 6)
    assert list(rec.controller_times) == [s.controller_time for s in rec.samples]


def test_the_arrays_are_tuples_without_numpy(manual, monkeypatch):
    monkeypatch.setitem(sys.modules, "numpy", None)  # import numpy now fails
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        rec = record_a_move(manual, arm)
    assert type(rec.joints) is tuple and rec.joints[-1] == rec.samples[-1].status.joints
    assert type(rec.times) is tuple and len(rec.times) == len(rec.samples)
    assert type(rec.digital_outputs[0]) is list or type(rec.digital_outputs[0]) is tuple


def test_the_csv_holds_every_sample(manual, tmp_path):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.set_digital_output(2, True)
        manual.set_digital_input(ADDRESS, 0, 7, 1)
        manual.set_analog_input(ADDRESS, 0, 1, 1.25)
        rec = record_a_move(manual, arm)
    path = tmp_path / "move.csv"
    rec.to_csv(str(path))
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    assert tuple(rows[0]) == CSV_COLUMNS and len(rows) == len(rec.samples) + 1
    column = {name: i for i, name in enumerate(rows[0])}
    for row, sample in zip(rows[1:], rec.samples):
        s = sample.status
        assert [float(row[column[f"j{j + 1}"]]) for j in range(6)] == list(s.joints)  # exactly: repr round-trips
        assert [float(row[column[n]]) for n in ("x", "y", "z", "rx", "ry", "rz")] == list(s.tcp)
        assert float(row[column["controller_time"]]) == sample.controller_time
        assert (row[column["do2"]], row[column["di7"]], row[column["do3"]]) == ("1", "1", "0")
        assert float(row[column["ai1"]]) == 1.25 and row[column["enabled"]] == "1"
        assert int(row[column["in_position"]]) == s.in_position


def test_a_thread_samples_at_the_rate_until_the_block_ends(sim):
    sim.set_time_scale(1)
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        with arm.record(rate_hz=200) as rec:
            arm.move_joints((HOME[0] + 0.2, *HOME[1:]), 1.0)
        taken = len(rec.samples)
        arm.move_joints(HOME, 1.0)
    assert taken >= 5 and len(rec.samples) == taken  # none after the block
    times = [s.time for s in rec.samples]
    assert times == sorted(times)
    assert rec.samples[-1].status.joints[0] == pytest.approx(HOME[0] + 0.2, abs=1e-6)


def test_a_recorder_stops_with_its_arm_and_reports_why_it_ended(sim):
    sim.set_time_scale(1)
    arm = velmo_arm.connect(ADDRESS, enable=True)
    rec = arm.record(rate_hz=100).__enter__()
    arm.close()  # stops the recorder first, then logs out
    assert rec.error is None and rec._thread is None
    with velmo_arm.connect(ADDRESS) as arm:
        with pytest.raises(velmo_arm.NotReadyError):
            with arm.record(rate_hz=500) as rec:
                arm.rc.shut_down()
                while rec.error is None:
                    time.sleep(0.001)
        assert rec.error.code == velmo_arm.Code.SHUT_DOWN
        velmo_arm.connect(ADDRESS).close()  # boots it again for the Arm's own close


def test_plot_draws_the_joints_and_speeds_against_the_limits(manual, tmp_path):
    if under_sanitizer():
        pytest.skip("matplotlib reports its import-time allocations as leaks under LeakSanitizer")
    pytest.importorskip("matplotlib")
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        rec = record_a_move(manual, arm)
    png = tmp_path / "move.png"
    figure = rec.plot(str(png))
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    angles, speeds = figure.axes
    t = [s.controller_time - rec.samples[0].controller_time for s in rec.samples]
    data = [line for line in angles.get_lines() if len(line.get_xdata()) == len(t)]
    for j, line in enumerate(data):
        assert list(line.get_xdata()) == t
        assert list(line.get_ydata()) == [s.status.joints[j] for s in rec.samples]
    assert len(data) == 6
    bounds = {round(line.get_ydata()[0], 9) for line in angles.get_lines() if line not in data}
    assert bounds == {round(v, 9) for v in LOWER + UPPER}  # every joint's limits
    speed_bounds = {round(abs(line.get_ydata()[0]), 9) for line in speeds.get_lines()
                    if len(line.get_xdata()) != len(t)}
    assert speed_bounds == {round(v, 9) for v in MAX_SPEED}
    speed_lines = [line for line in speeds.get_lines() if len(line.get_xdata()) == len(t)]
    assert max(abs(v) for v in speed_lines[0].get_ydata()) == pytest.approx(SPEED, rel=1e-6)


# ---- the controller's trajectory files ------------------------------------------------------

def test_a_recorded_trajectory_reads_back(sim, instant):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        rc = arm.rc
        assert rc.set_traj_config((2.0, 0.02, 120.0, 400.0)) == (0,)
        assert rc.set_traj_sample_mode(1, "square") == (0,)
        x, y, z, rx, ry, rz = arm.forward(Q1)
        arm.move_joints(Q1, 1.0)
        arm.move_linear((x + 40, y, z, rx, ry, rz), 100.0)
        assert rc.set_traj_sample_mode(0, "square") == (0,)
        trajectory = velmo_arm.read_trajectory(os.path.join(sim.files_folder(), "trajectories", "square"))
        assert trajectory.config == (2.0, 0.02, 120.0, 400.0)
        assert (trajectory.tool_id, trajectory.user_frame_id) == (0, 0)
        first, last = trajectory.samples[0], trajectory.samples[-1]
        assert first.joints == pytest.approx(HOME, abs=1e-12) and first.time == 0
        assert close(last.joints, arm.joints, 1e-12) and close(last.pose, arm.tcp, 1e-9)
        times = [s.time for s in trajectory.samples]
        assert times == sorted(times) and len(times) > 20


@pytest.mark.parametrize("text, where", [
    ("", "not a trajectory file"),
    ("zandrel-trajectory 2\nconfig 1 1 1 1\nframes 0 0\n", "not a trajectory file"),
    ("zandrel-trajectory 1\nframes 0 0\n", "config and frames"),
    ("zandrel-trajectory 1\nconfig 1 1 1\nframes 0 0\n", ":2: 4 numbers"),
    ("zandrel-trajectory 1\nconfig 1 1 1 1\nframes 0 x\n", ":3: two frame ids"),
    ("zandrel-trajectory 1\nconfig 1 1 1 1\nframes 0 0\n" + " ".join(["0"] * 12) + "\n", ":4: 13 numbers"),
    ("zandrel-trajectory 1\nconfig 1 1 1 1\nframes 0 0\n" + " ".join(["0"] * 12 + ["nan"]) + "\n", ":4: a number"),
    ("zandrel-trajectory 1\nconfig 1 1 1 1\nframes 0 0\n" + " ".join(["0"] * 12 + ["x"]) + "\n", ":4: not a number"),
])
def test_a_file_that_is_not_a_trajectory_is_refused_with_its_line(tmp_path, text, where):
    path = tmp_path / "broken"
    path.write_text(text)
    with pytest.raises(ValueError, match=where):
        velmo_arm.read_trajectory(str(path))


def test_a_trajectory_without_samples_reads_as_empty(tmp_path):
    path = tmp_path / "empty"
    path.write_text("zandrel-trajectory 1\nconfig 1 0.01 100 500\nframes 3 2\n")
    trajectory = velmo_arm.read_trajectory(str(path))
    assert trajectory.samples == () and (trajectory.tool_id, trajectory.user_frame_id) == (3, 2)
    assert math.isclose(trajectory.config[1], 0.01)

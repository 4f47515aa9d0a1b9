"""Trajectory recording: the configuration, sampling at the configured
intervals, the saved file, the list of files, rename and remove, and the
replay program."""

import math

import pytest

from simkit import (BUSY, FILE_ACCESS, FILE_EXISTS, FILE_NOT_FOUND, HOME, Q1, close, dot, down, flange, joints,
                    matmul, norm, pose_matrix, read_trajectory, record, rotation, same_pose, sub, tcp,
                    write_program)


def turn_angle(a, b):
    """The angle between the rotations of two 4x4 matrices (lists of rows)."""
    trace = sum(a[k][i] * b[k][i] for i in range(3) for k in range(3))
    return math.acos(max(-1.0, min(1.0, (trace - 1) / 2)))


def test_sampling_status_and_one_recording_at_a_time(rc, home):
    assert rc.get_traj_sample_status() == (0, 0)
    assert rc.set_traj_sample_mode(0, "nothing") == (0,)  # not sampling: nothing to save
    assert rc.set_traj_sample_mode(1, "first") == (0,)
    assert rc.get_traj_sample_status() == (0, 1)
    assert rc.set_traj_sample_mode(1, "second") == (BUSY,)
    assert rc.set_traj_config((2, 2, 2, 2)) == (BUSY,)
    assert rc.set_traj_sample_mode(0, "ignored") == (0,)
    assert rc.get_traj_sample_status() == (0, 0)
    assert sorted(p.name for p in (home / "trajectories").iterdir()) == ["first"]


def test_a_linear_move_is_sampled_at_the_distance_interval_along_its_line(arm, instant, home):
    interval, speed = 5.0, 100.0
    arm.set_traj_config((interval, 10.0, 100, 500))
    start = tcp(arm)
    target = down(arm, 100)
    target[1] += 75
    record(arm, "line", [lambda r: r.linear_move(target, 0, True, speed)])
    samples = read_trajectory(home / "trajectories" / "line")[2]
    poses = [s[1:7] for s in samples]
    assert same_pose(poses[0], start) and same_pose(poses[-1], target, mm=1e-6, rad=1e-6)
    steps = [math.dist(a[:3], b[:3]) for a, b in zip(poses, poses[1:])]
    per_cycle = speed * 0.008
    assert all(interval <= step <= interval + per_cycle + 1e-9 for step in steps[:-1])
    assert 0 < steps[-1] <= interval + per_cycle
    direction = [v / norm(sub(target[:3], start[:3])) for v in sub(target[:3], start[:3])]
    for pose in poses:  # on the line, the tool kept as it was
        offset = sub(pose[:3], start[:3])
        assert norm(sub(offset, [dot(offset, direction) * v for v in direction])) < 1e-6
        assert close(rotation(pose_matrix(pose)), rotation(pose_matrix(start)), 1e-9)
    times = [s[0] for s in samples]
    assert times[0] == 0 and all(b > a for a, b in zip(times, times[1:]))


def test_where_each_motion_ends_is_a_sample(arm, instant, home):
    arm.set_traj_config((1000.0, 10.0, 100, 500))  # intervals no move reaches
    start = tcp(arm)
    corner = down(arm, 40)
    end = list(corner)
    end[0] += 30
    record(arm, "corners", [lambda r: r.linear_move(corner, 0, True, 100),
                            lambda r: r.linear_move(end, 0, False, 100),
                            lambda r: r.linear_move(end, 0, True, 100)])  # goes nowhere: no sample
    _, _, samples = read_trajectory(home / "trajectories" / "corners")
    assert len(samples) == 3
    for sample, pose in zip(samples, [start, corner, end]):
        assert same_pose(sample[1:7], pose, mm=1e-6, rad=1e-6)


def test_samples_hold_joints_and_the_pose_they_give(arm, instant, home):
    arm.set_tool_data(2, [0, 0, 80, 0, 0, 0.3], "probe")
    arm.set_tool_id(2)
    arm.set_traj_config((20.0, 0.05, 100, 500))
    record(arm, "joints", [lambda r: r.joint_move(Q1, 0, True, 1.0)])
    _, frames, samples = read_trajectory(home / "trajectories" / "joints")
    assert frames == [2, 0] and len(samples) > 3
    tool = pose_matrix([0, 0, 80, 0, 0, 0.3])
    for s in samples:
        assert close(pose_matrix(s[1:7]), matmul(flange(s[7:]), tool), 1e-6)
    assert samples[-1][7:] == pytest.approx(Q1, abs=1e-12)


def test_a_turn_in_place_is_sampled_at_the_angle_interval(arm, instant, home):
    step = 0.05
    arm.set_traj_config((1000.0, step, 100, 500))
    turned = tcp(arm)
    turned[5] += 0.6
    record(arm, "turn", [lambda r: r.linear_move(turned, 0, True, 100)])
    _, _, samples = read_trajectory(home / "trajectories" / "turn")
    matrices = [pose_matrix(s[1:7]) for s in samples]
    angles = [turn_angle(a, b) for a, b in zip(matrices, matrices[1:])]
    assert len(angles) >= int(0.6 / step) - 1
    assert all(a >= step - 1e-9 for a in angles[:-1])


def test_an_idle_recording_replaces_the_file_with_the_one_sample_where_the_arm_stands(arm, instant, home):
    record(arm, "again", [lambda r: r.joint_move(Q1, 0, True, 1.0)])
    record(arm, "again", [])
    _, _, samples = read_trajectory(home / "trajectories" / "again")
    assert len(samples) == 1 and samples[0][7:] == pytest.approx(Q1)


def test_files_are_listed_sorted_renamed_and_removed(rc, home):
    for name in ["b", "a c", "Z"]:
        record(rc, name, [])
    folder = home / "trajectories"
    (folder / ".part").write_text("")     # not a valid name: not listed
    (folder / "sub").mkdir()              # not a file: not listed
    assert rc.get_exist_traj_file_name() == (0, ["Z", "a c", "b"])
    assert rc.rename_traj_file_name("b", "a c") == (FILE_EXISTS,)
    assert rc.rename_traj_file_name("nope", "x") == (FILE_NOT_FOUND,)
    assert rc.rename_traj_file_name("b", "c") == (0,)
    assert rc.remove_traj_file("Z") == (0,)
    assert rc.remove_traj_file("Z") == (FILE_NOT_FOUND,)
    assert rc.remove_traj_file("sub") == (FILE_NOT_FOUND,)
    assert rc.get_exist_traj_file_name() == (0, ["a c", "c"])
    assert read_trajectory(folder / "c")[2][0][7:] == HOME


def test_the_list_holds_at_most_8192_names(rc, home):
    folder = home / "trajectories"
    folder.mkdir()
    names = sorted(f"t{n:05d}" for n in range(8200))
    for name in names:
        (folder / name).write_text("")
    code, listed = rc.get_exist_traj_file_name()
    assert code == 0 and listed == names[:8192]


def test_the_replay_program_retraces_the_recording(arm, instant, home):
    arm.set_traj_config((10.0, 0.1, 250.0, 800.0))
    arm.joint_move(Q1, 0, True, 1.0)
    corner = down(arm, 60)
    end = list(corner)
    end[1] += 80
    record(arm, "path", [lambda r: r.linear_move(corner, 0, True, 100),
                         lambda r: r.linear_move(end, 0, True, 100)])
    assert arm.generate_traj_exe_file("path") == (0,)
    _, _, samples = read_trajectory(home / "trajectories" / "path")
    commands = [l.split() for l in (home / "programs" / "path").read_text().splitlines()
                if l.strip() and not l.startswith("#")]
    assert commands[0][0] == "movj" and [float(w) for w in commands[0][1:7]] == samples[0][7:]
    assert [c[0] for c in commands[1:]] == ["movl"] * (len(samples) - 1)
    assert all([float(w) for w in c[1:7]] == s[1:7] and c[7:] == ["250", "800"]
               for c, s in zip(commands[1:], samples[1:]))

    arm.joint_move(HOME, 0, True, 1.0)
    assert arm.program_load("path") == (0,)
    assert arm.program_run() == (0,)
    assert same_pose(tcp(arm), end, mm=1e-6, rad=1e-6)
    assert joints(arm) == pytest.approx(samples[-1][7:], abs=1e-6)


def test_generating_replaces_a_program_of_that_name(arm, home):
    write_program(home, "same", ["dout 0 1 1"])
    record(arm, "same", [])
    assert arm.generate_traj_exe_file("same") == (0,)
    assert "dout" not in (home / "programs" / "same").read_text()


@pytest.mark.parametrize("content", [
    "", "zandrel-trajectory 2\n", "zandrel-trajectory 1\nconfig 1 1 1\nframes 0 0\n",
    "zandrel-trajectory 1\nconfig 1 1 1 1\nframes 0 0\n",                         # no sample
    "zandrel-trajectory 1\nconfig 1 1 1 1\nframes 0 0\n0 1 2 3 4 5 6 7 8 9 10 11\n",
    "zandrel-trajectory 1\nconfig 1 1 0 1\nframes 0 0\n" + " ".join(["0"] * 13) + "\n",
    "zandrel-trajectory 1\nconfig 1 1 1 1\nframes 0 0\n" + " ".join(["x"] * 13) + "\n",
])
def test_a_malformed_trajectory_gives_no_program(rc, home, content):
    folder = home / "trajectories"
    folder.mkdir()
    (folder / "broken").write_text(content)
    assert rc.generate_traj_exe_file("broken") == (FILE_ACCESS,)
    assert not (home / "programs" / "broken").exists()

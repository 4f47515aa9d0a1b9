"""Cartesian paths (lines, arcs, Cartesian jogs, a program's movl, servo_p)
followed by inverse kinematics, checked against the model of the arm in
simkit: the arm stays on its branch and turn (no joint ever moves faster
than its maximum speed between two recorded cycles), and a path that runs
into a joint limit stops there with 7, the joint exactly on its limit."""

import math

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

from simkit import (JOINT_LIMIT, LOWER, MAX_SPEED, SINGULARITY, STOPPED_BY_ERROR, UNREACHABLE, UPPER,
                    Handler, flange, joints, norm, pose_errors, pose_matrix, read_trajectory, record, rotation,
                    rotation_angle, sub, tcp, value, write_program)

paths = settings(max_examples=25, deadline=None, derandomize=True, suppress_health_check=list(HealthCheck))

J1_NEAR_LIMIT = [math.radians(d) for d in (262, 80, -100, -70, -90, 0)]  # the start


def tangent(q, joint, sign):
    """The unit direction in which the TCP (tool 0) starts to move when
    `joint` turns in the direction of `sign`."""
    step = 1e-6
    moved = list(q)
    moved[joint] += sign * step
    a, b = flange(q), flange(moved)
    d = [(b[i][3] - a[i][3]) / step for i in range(3)]
    return [v / norm(d) for v in d]


def recorded_joints(robot, home, move):
    """(code of the move, [(t, joints)] of every cycle the arm moved)."""
    assert robot.set_traj_config((1e-9, 1e-9, 100, 500)) == (0,)
    codes = []
    record(robot, "path", [lambda r: codes.append(move(r)) or (0,)])
    samples = read_trajectory(home / "trajectories" / "path")[2]
    return codes[0], [(s[0], s[7:]) for s in samples]


def assert_no_jump(samples):
    """Between recorded cycles no joint moves faster than its maximum speed:
    no whole turn, no change of branch."""
    assert len(samples) >= 2
    for (t0, q0), (t1, q1) in zip(samples, samples[1:]):
        for a, b, top in zip(q0, q1, MAX_SPEED):
            assert abs(b - a) <= top * (t1 - t0) * (1 + 1e-6) + 1e-12


def distance_to_segment(p, a, b):
    """(distance of p from the segment a-b, the fraction of the way along it)."""
    ab, ap = sub(b, a), sub(p, a)
    length2 = sum(x * x for x in ab)
    s = max(0.0, min(1.0, sum(x * y for x, y in zip(ap, ab)) / length2)) if length2 > 0 else 0.0
    return norm(sub(p, [x + s * y for x, y in zip(a, ab)])), s


def assert_stopped_on_limit(robot, joint=None):
    q = joints(robot)
    on = [j for j in range(6) if q[j] in (LOWER[j], UPPER[j])]
    assert on if joint is None else joint in on, q
    assert robot.is_on_limit() == (0, 1)
    assert robot.get_last_error()[1][0] == JOINT_LIMIT
    assert robot.get_robot_status()[1][0] == JOINT_LIMIT


def assert_on_line(pose, start, end):
    """The pose lies on the line from start to end, its orientation where the
    slerp from start's to end's is at the same fraction."""
    r0, r, r1 = (rotation(pose_matrix(p)) for p in (start, pose, end))
    whole = rotation_angle(r0, r1)
    gap, s = distance_to_segment(pose[:3], start[:3], end[:3])
    if norm(sub(end[:3], start[:3])) < 1e-6:  # a turn on the spot
        s = rotation_angle(r0, r) / whole
    assert gap <= 1e-6
    assert abs(rotation_angle(r0, r) - s * whole) <= 1e-9 and abs(rotation_angle(r, r1) - (1 - s) * whole) <= 1e-9


# ---- the issue's repros: lines into joints 1, 2 and 3's limits --------------------------------

@pytest.mark.parametrize("joint, start_deg, sign, mm", [
    (0, [262, 80, -100, -70, -90, 0], 1, 300),         # tangential to the base, j1 increasing
    (1, [10, 177.9, 51.1, 91.0, -60, 0], 1, 100),      # j2 into +180
    (1, [30, -176.7, -56.7, 6.2, 60, 0], -1, 200),     # j2 into -180
    (2, [10, 31.5, 154.2, 99.8, 60, 0], 1, 100),       # j3 into +160
    (2, [10, 66.3, -155.1, -112.9, -90, 0], -1, 100),  # j3 into -160
])
def test_a_line_into_a_joint_limit_stops_on_it_with_7(ghost, arm, instant, home, joint, start_deg, sign, mm):
    start_q = [math.radians(d) for d in start_deg]
    assert arm.joint_move(start_q, 0, True, 3.0) == (0,)
    start = tcp(arm)
    end = [p + mm * d for p, d in zip(start[:3], tangent(start_q, joint, sign))] + start[3:]
    code, samples = recorded_joints(arm, home, lambda r: r.linear_move(end, 0, True, 100))
    assert code == (JOINT_LIMIT,)
    assert_stopped_on_limit(arm, joint)
    assert_on_line(tcp(arm), start, end)
    assert_no_jump(samples)


def rotated_about_base(pose, angle):
    c, s = math.cos(angle), math.sin(angle)
    return [c * pose[0] - s * pose[1], s * pose[0] + c * pose[1], pose[2], pose[3], pose[4], pose[5] + angle]


def test_an_arc_into_a_joint_limit_stops_on_it(arm, instant, home):
    """An arc about the base axis turns joint 1 alone, past 270 deg."""
    assert arm.joint_move(J1_NEAR_LIMIT, 0, True, 3.0) == (0,)
    start = tcp(arm)
    mid, end = rotated_about_base(start, math.radians(10)), rotated_about_base(start, math.radians(20))
    code, samples = recorded_joints(arm, home, lambda r: r.circular_move(end, mid, 0, True, 100, 500, 0))
    assert code == (JOINT_LIMIT,)
    assert_stopped_on_limit(arm, 0)
    # within a cycle's step of the arc (the stop lies on the step's chord)
    assert math.hypot(*tcp(arm)[:2]) == pytest.approx(math.hypot(*start[:2]), abs=1e-3)
    assert joints(arm)[1:] == pytest.approx(J1_NEAR_LIMIT[1:], abs=1e-6)
    assert_no_jump(samples)


def tangent_user_frame(robot):
    """User frame 1: user x along the direction joint 1 moves the TCP in."""
    d = tangent(J1_NEAR_LIMIT, 0, 1)
    assert robot.set_user_frame_data(1, [0, 0, 0, 0, 0, math.atan2(d[1], d[0])], "tangent") == (0,)
    assert robot.set_user_frame_id(1) == (0,)


@pytest.mark.parametrize("move_mode, pos_cmd", [(1, 300.0), (2, 0.0)])
def test_a_cartesian_jog_into_a_joint_limit_stops_on_it(arm, instant, home, move_mode, pos_cmd):
    assert arm.joint_move(J1_NEAR_LIMIT, 0, True, 3.0) == (0,)
    tangent_user_frame(arm)
    start = tcp(arm)
    code, samples = recorded_joints(arm, home, lambda r: r.jog(0, move_mode, 0, 100, pos_cmd))
    assert code == (0,)  # a jog never blocks; at time scale 0 it has run into the limit
    assert_stopped_on_limit(arm, 0)
    now = tcp(arm)
    assert now[0] > start[0] + 10 and now[1:3] == pytest.approx(start[1:3], abs=1e-6)
    assert rotation_angle(rotation(pose_matrix(now)), rotation(pose_matrix(start))) <= 1e-9
    assert_no_jump(samples)


def test_a_programs_movl_into_a_joint_limit_stops_it_with_7(arm, instant, home):
    assert arm.joint_move(J1_NEAR_LIMIT, 0, True, 3.0) == (0,)
    start = tcp(arm)
    end = [p + 300 * d for p, d in zip(start[:3], tangent(J1_NEAR_LIMIT, 0, 1))] + start[3:]
    write_program(home, "into-limit", ["movl " + " ".join(repr(v) for v in end) + " 100"])
    events = Handler(arm)
    assert arm.program_load("into-limit") == (0,) and arm.program_run() == (0,)
    assert events.next() == JOINT_LIMIT
    assert value(arm.get_program_state()) == STOPPED_BY_ERROR
    assert_stopped_on_limit(arm, 0)
    assert_on_line(tcp(arm), start, end)


def test_servo_p_into_a_joint_limit_takes_the_arm_to_it_and_says_7(arm, instant):
    assert arm.joint_move(J1_NEAR_LIMIT, 0, True, 3.0) == (0,)
    start = tcp(arm)
    d = tangent(J1_NEAR_LIMIT, 0, 1)
    assert arm.servo_move_enable(1) == (0,)
    codes = [arm.servo_p([p + k * v for p, v in zip(start[:3], d)] + start[3:], 0)[0] for k in range(1, 120)]
    first = codes.index(JOINT_LIMIT)
    assert codes[:first] == [0] * first and 40 < first < 90  # ~70 mm to go at 1 mm a set-point
    assert set(codes[first:]) == {JOINT_LIMIT}  # further on, still the limit, never a jump
    q = joints(arm)
    assert q[0] == UPPER[0] and arm.is_on_limit() == (0, 1)
    assert distance_to_segment(tcp(arm)[:3], start[:3], [p + 200 * v for p, v in zip(start[:3], d)])[0] <= 1e-6


# ---- properties --------------------------------------------------------------------------------

def generic(q):
    """Away from the singularities: wrist bent, elbow bent, the wrist point off
    the base axis."""
    m = flange(q)
    wrist = [m[i][3] - 92.0 * m[i][2] for i in range(3)]
    return abs(math.sin(q[4])) > 0.3 and abs(math.sin(q[2])) > 0.3 and math.hypot(wrist[0], wrist[1]) > 250


inner = [st.floats(lo + 0.3, hi - 0.3) for lo, hi in zip(LOWER, UPPER)]


@paths
@given(joint=st.sampled_from([0, 1, 2, 3, 5]), sign=st.sampled_from([1, -1]), q=st.tuples(*inner),
       gap=st.floats(math.radians(0.5), math.radians(6)), beyond=st.floats(math.radians(2), math.radians(8)))
def test_a_line_towards_a_configuration_past_a_limit_stops_on_the_limit(ghost, arm, instant, home, joint, sign, q,
                                                                                gap, beyond):
    """The line from q to the pose of q with one joint turned past its limit:
    7 (before moving, when no solution of the target lies inside the limits,
    or on the limit), never 15."""
    q = list(q)
    q[joint] = UPPER[joint] - gap if sign > 0 else LOWER[joint] + gap
    assume(generic(q))
    past = list(q)
    past[joint] += sign * (gap + beyond)
    arm.clear_error()
    assert arm.joint_move(q, 0, True, 3.0) == (0,)
    start, end = tcp(arm), value(arm.kine_forward(past))
    code, samples = recorded_joints(arm, home, lambda r: r.linear_move(end, 0, True, 150))
    assert code == (JOINT_LIMIT,)
    if joints(arm) != q:
        assert_stopped_on_limit(arm)
        assert_on_line(tcp(arm), start, end)
    assert_no_jump(samples)


@paths
@given(q=st.tuples(*inner), delta=st.lists(st.floats(-0.6, 0.6), min_size=6, max_size=6))
def test_any_line_keeps_its_branch_and_turn(ghost, arm, instant, home, q, delta):
    """Between two configurations of the arm: the line gets there, or stops on
    a limit (7), at the edge of the workspace (6) or because a joint would
    have to outrun its speed (15), never a few hundredths of a degree short
    of a limit; no joint ever jumps."""
    q = list(q)
    assume(generic(q))
    arm.clear_error()
    assert arm.joint_move(q, 0, True, 3.0) == (0,)
    end = value(arm.kine_forward([a + b for a, b in zip(q, delta)]))
    code, samples = recorded_joints(arm, home, lambda r: r.linear_move(end, 0, True, 200))
    assert code in ((0,), (JOINT_LIMIT,), (UNREACHABLE,), (SINGULARITY,))
    now = joints(arm)
    if code == (0,):
        mm, rad = pose_errors(flange(now), pose_matrix(end))
        assert mm <= 1e-6 and rad <= 1e-9
    elif code == (JOINT_LIMIT,):
        assert_stopped_on_limit(arm)
    elif code == (SINGULARITY,):
        assert all(lo + 2e-3 < v < hi - 2e-3 for v, lo, hi in zip(now, LOWER, UPPER))
    assert_no_jump(samples)
    assert arm.get_robot_status()[1][0] == (0 if code == (0,) else code[0])

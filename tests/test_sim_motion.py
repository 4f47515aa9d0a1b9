"""Moves and jogs of the virtual arm: the state they need, where they end,
the path they take, how long they take in simulated time, blocking and
non-blocking calls, limits and aborts."""

import ctypes
import math
import threading

import pytest

from motionkit import JOINT_JERK
from simkit import (ABORTED, BUSY, CYCLE, DEFAULT_JOINT_ACC, FAULT_ACTIVE, HOME, JOINT_LIMIT, NOT_ENABLED,
                    NOT_POWERED, Q1, SINGULARITY, UNREACHABLE, UPPER, close, down, joints, matmul, norm,
                    pose_matrix, read_trajectory, record, rotation, same_pose, sub, tcp, wait_until)


MOVES = {
    "joint_move": lambda r, block: r.joint_move(Q1, 0, block, 1.0),
    "linear_move": lambda r, block: r.linear_move(down(r, 50), 0, block, 200),
    "circular_move": lambda r, block: r.circular_move(*arc(r), 0, block, 200, 500, 0),
    "jog": lambda r, block: r.jog(0, 1, 1, 0.5, 0.1),
}


def arc(robot, radius=60.0):
    start = tcp(robot)
    mid, end = list(start), list(start)
    mid[0] += radius
    mid[1] += radius
    end[1] += 2 * radius
    return end, mid


@pytest.mark.parametrize("move", sorted(MOVES))
@pytest.mark.parametrize("state, code", [("off", NOT_POWERED), ("powered", NOT_ENABLED)])
def test_moves_need_power_and_enable(rc, instant, move, state, code):
    if state == "powered":
        rc.power_on()
    assert MOVES[move](rc, True) == (code,)
    assert joints(rc) == HOME


@pytest.mark.parametrize("move", sorted(MOVES))
def test_moves_refused_in_an_error_state_until_cleared(arm, instant, sim, move):
    sim.trigger_fault("127.0.0.1", 42)
    assert MOVES[move](arm, True) == (FAULT_ACTIVE,)
    assert arm.clear_error() == (0,)
    assert arm.get_last_error() == (0, (0, "success"))
    assert MOVES[move](arm, True) == (0,)
    assert joints(arm) != HOME


def test_joint_moves_absolute_and_relative(arm, instant):
    assert arm.joint_move(Q1, 0, False, 0.1) == (0,)  # at time scale 0, done when it returns
    assert arm.is_in_pos() == (0, 1) and joints(arm) == Q1
    step = [0.1, -0.05, 0.0, 0.2, 0.0, -0.3]
    assert arm.joint_move(step, 1, True, 1.0) == (0,)
    assert joints(arm) == pytest.approx([a + b for a, b in zip(Q1, step)], abs=1e-12)
    assert arm.is_in_pos() == (0, 1)


def test_linear_and_circular_moves_end_on_their_targets(arm, instant):
    target = down(arm, 80)
    target[0] += 40
    target[5] += 0.3  # turn the tool while moving
    assert arm.linear_move(target, 0, True, 150) == (0,)
    assert same_pose(tcp(arm), target, mm=1e-6, rad=1e-9)
    end, mid = arc(arm)
    assert arm.circular_move(end, mid, 0, True, 100, 500, 0) == (0,)
    assert same_pose(tcp(arm), end, mm=1e-6, rad=1e-9)
    assert arm.linear_move([0, 30, 0, 0, 0, 0], 1, True, 100) == (0,)
    assert same_pose(tcp(arm), [end[0], end[1] + 30] + end[2:], mm=1e-6, rad=1e-9)


def recorded_poses(robot, home, move, interval):
    """The TCP poses of a move, sampled by the recorder every `interval` mm
    and where it ends; with the times in simulated seconds."""
    assert robot.set_traj_config((interval, 10.0, 100, 500)) == (0,)
    record(robot, "path", [move])
    samples = read_trajectory(home / "trajectories" / "path")[2]
    return [s[1:7] for s in samples], [s[0] for s in samples]


def test_a_circular_move_stays_on_its_circle(arm, instant, home):
    start = tcp(arm)[:3]
    end, mid = arc(arm, radius=50)
    center = [start[0], start[1] + 50.0, start[2]]  # the circle through the three points
    poses, _ = recorded_poses(arm, home, lambda r: r.circular_move(end, mid, 0, True, 150, 600, 0), 2.0)
    assert len(poses) > 5
    for pose in poses:
        assert norm(sub(pose[:3], center)) == pytest.approx(50.0, abs=1e-6)
        assert pose[2] == pytest.approx(start[2], abs=1e-6)
    assert min(norm(sub(p[:3], mid[:3])) for p in poses) < 2.0  # passes the middle point


@pytest.mark.parametrize("rate", [1.0, 0.25])
def test_a_joint_move_takes_its_profile_time_over_the_rapid_rate(arm, instant, home, rate):
    """Simulated time, as the recorder counts it: one 8 ms cycle per step,
    whatever the time scale."""
    target = list(HOME)
    target[0] += 1.0
    assert arm.set_rapidrate(rate) == (0,) and arm.get_rapidrate() == (0, rate)
    _, times = recorded_poses(arm, home, lambda r: r.joint_move(target, 0, True, 0.8), 1e6)
    assert len(times) == 2  # where it started and where it ended
    # speeds up to 0.8 rad/s and slows down at DEFAULT_JOINT_ACC, cruising between; the
    # acceleration turns at the joint jerk, which adds acc / jerk (all three scaled by the rate)
    v, a, j = 0.8 * rate, DEFAULT_JOINT_ACC * rate ** 2, JOINT_JERK * rate ** 3
    expected = v / a + a / j + 1.0 / v
    assert times[-1] == pytest.approx(expected, abs=CYCLE)


def test_non_blocking_moves_queue_and_relative_ones_follow_the_queue(arm, sim):
    sim.set_time_scale(5)
    first = list(HOME)
    first[0] += 0.3
    assert arm.joint_move(first, 0, False, 1.0) == (0,)
    assert arm.joint_move([0, 0, 0, 0, 0, 0.4], 1, False, 1.0) == (0,)
    assert arm.linear_move([0, 0, -30, 0, 0, 0], 1, True, 200) == (0,)  # waits for all three
    expected_q = list(first)
    expected_q[5] += 0.4
    expected_pose = list(arm.kine_forward(expected_q)[1])
    expected_pose[2] -= 30
    assert same_pose(tcp(arm), expected_pose, mm=1e-6, rad=1e-9)


def test_motion_abort_ends_a_blocking_move_in_another_thread(arm, sim):
    """The blocking call goes straight to the library through ctypes, which
    releases the interpreter lock, so this thread can abort meanwhile."""
    sim.set_time_scale(1)
    target = list(HOME)
    target[0] += 2.0
    result = []

    def joint_move():
        handle = ctypes.c_int32(arm.handle)
        result.append(sim.lib.joint_move(ctypes.byref(handle), (ctypes.c_double * 6)(*target), 0, 1,
                                         ctypes.c_double(0.2)))

    mover = threading.Thread(target=joint_move)
    mover.start()
    assert wait_until(lambda: joints(arm)[0] > HOME[0], timeout=5)
    assert arm.motion_abort() == (0,)
    mover.join(10)
    assert result == [ABORTED]
    stopped = joints(arm)[0]
    assert HOME[0] < stopped < target[0]
    assert arm.is_in_pos() == (0, 1)
    assert arm.get_robot_status()[1][0] == 0  # an abort is no error state


def test_a_path_out_of_the_workspace_stops_the_arm_with_an_error(arm, instant):
    """A straight line from one side of the base to the other passes the base
    axis, where the arm cannot follow."""
    assert arm.joint_move([0.0, 1.2, -1.5, -1.2, -1.5708, 0], 0, True, 1.0) == (0,)
    start = tcp(arm)
    other = list(start)
    other[0], other[1] = -start[0], -start[1]
    code, = arm.linear_move(other, 0, True, 100)
    assert code in (UNREACHABLE, SINGULARITY)
    stopped = tcp(arm)
    assert not same_pose(stopped, start) and not same_pose(stopped, other)
    assert arm.get_last_error()[1][0] == code
    assert arm.joint_move(HOME, 0, True, 1.0) == (FAULT_ACTIVE,)
    assert arm.clear_error() == (0,) and arm.joint_move(HOME, 0, True, 1.0) == (0,)


# ---- jog ------------------------------------------------------------------------------------

@pytest.mark.parametrize("coord, axis, step", [
    (1, 2, -0.2),        # joint 3 by -0.2 rad
    (0, 0, 25.0),        # x of the user frame by 25 mm
    (0, 5, 0.3),         # rz about the user frame's z
    (2, 2, 15.0),        # along the tool's z
])
def test_stepped_jogs(arm, instant, coord, axis, step):
    before_q, before = joints(arm), tcp(arm)
    assert arm.jog(axis, 1, coord, 0.5 if axis >= 3 or coord == 1 else 50, step) == (0,)
    if coord == 1:
        expected = list(before_q)
        expected[axis] += step
        assert joints(arm) == pytest.approx(expected, abs=1e-12)
        return
    m = pose_matrix(before)
    if coord == 0 and axis < 3:
        m[axis][3] += step
    elif coord == 0:
        rz = [[math.cos(step), -math.sin(step), 0], [math.sin(step), math.cos(step), 0], [0, 0, 1]]
        turned = matmul(rz, rotation(m))
        m = [turned[i] + [m[i][3]] for i in range(3)] + [m[3]]
    else:
        for i in range(3):
            m[i][3] += m[i][axis] * step
    assert close(pose_matrix(tcp(arm)), m, 1e-6)


def test_jog_to_an_absolute_joint_position(arm, instant):
    assert arm.jog(4, 0, 1, 1.0, -1.0) == (0,)
    assert joints(arm)[4] == -1.0


def test_continuous_jog_until_jog_stop(arm, sim):
    sim.set_time_scale(2)
    assert arm.jog(0, 2, 1, -0.4, 0) == (0,)
    assert wait_until(lambda: joints(arm)[0] < -0.05, timeout=5)
    assert arm.jog(1, 1, 1, 0.1, 0.1) == (BUSY,)
    assert arm.jog_stop(3) == (0,)          # another axis: keeps going
    assert arm.is_in_pos() == (0, 0)
    assert arm.jog_stop(0) == (0,)
    assert wait_until(lambda: arm.is_in_pos() == (0, 1), timeout=5)
    stopped = joints(arm)
    assert stopped[0] < -0.05 and stopped[1:] == HOME[1:]


def test_continuous_joint_jog_stops_at_the_limit_with_an_error(arm, instant):
    assert arm.jog(0, 2, 1, 1.0, 0) == (0,)  # at time scale 0: straight into the limit
    assert joints(arm)[0] == UPPER[0]
    assert arm.is_on_limit() == (0, 1)
    assert arm.get_last_error()[1][0] == JOINT_LIMIT
    assert arm.get_robot_status()[1][0] == JOINT_LIMIT

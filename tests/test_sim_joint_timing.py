"""Lines, arcs and their blends and stops keep every joint's speed and
acceleration (the limits table) in every cycle, not only the TCP's: the path
is timed against the joints too, slowing where they need it, and a path no
timing can follow within them (a velocity corner at a singularity) ends
before it with 15 at the move's deceleration. Durations are compared with
toppra's time-optimal timing of the same path under the same limits, the
path's joints found by simkit's own inverse kinematics. Cycle by cycle, in
manual time."""

import math
import random

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

from motionkit import (LINEAR_JERK, MAX_JOINT_ACC, ORIENTATION_ACC, ORIENTATION_JERK, ORIENTATION_SPEED,
                       QUICK_JOINT_DEC, TCP_ACC_NOISE, record_cycles, within)
from simkit import (COLLISION, CYCLE, D4, HOME, INVALID_ARGUMENT, JOINT_LIMIT, MAX_SPEED, SINGULARITY, UNREACHABLE, flange,
                    fresh_arm, inverse_candidates, joints, pose_matrix, random_joints, tcp, value)

EXAMPLES = settings(max_examples=12, deadline=None, derandomize=True,
                    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])

# The joints' speed and acceleration in recorded cycles are differences of
# joints found by inverse kinematics; their rounding shows as this much.
JOINT_SPEED_NOISE = 1e-6      # rad/s
JOINT_ACC_NOISE = 1e-3        # rad/s^2
# Jerk-limited and planned with margins against the limits, a path takes at
# most this much longer than toppra's time-optimal (jerk-unlimited) timing
# (measured: 1.04 to 1.23 times on LINES below, where the TCP's own limits
# time the line) ...
TIMING_MARGIN = 0.25
# ... and this much where the joints time it, near the shoulder singularity
# (measured 1.29 to 1.48 times: the joints' speed limit along the path rises
# and falls in steps, each crossed with no acceleration).
JOINT_TIMED_MARGIN = 0.55
WRIST = 92.0                  # mm from the wrist centre to the flange along its z axis


def keeps_joint_limits(motion, dec=MAX_JOINT_ACC):
    """Every recorded cycle within every joint's speed and acceleration."""
    for j in range(6):
        within([qd[j] for qd in motion.joint_speeds()], MAX_SPEED[j], JOINT_SPEED_NOISE)
    within([max(a) for a in motion.joint_accelerations()], max(dec, MAX_JOINT_ACC), JOINT_ACC_NOISE)


def generic(q):
    """Away from the singularities: wrist and elbow bent, the wrist centre off the base axis."""
    m = flange(q)
    wrist = [m[i][3] - WRIST * m[i][2] for i in range(3)]
    return abs(math.sin(q[4])) > 0.3 and abs(math.sin(q[2])) > 0.3 and math.hypot(wrist[0], wrist[1]) > 250


def start_at(arm, q, example=False):
    """At q; in a property test's example (`example`) a random q in
    self-collision is no example, elsewhere it fails the test."""
    arm.clear_error()
    assert arm.enable_robot() == (0,)  # a stop before may have disabled it
    code = arm.joint_move(q, 0, False, 3.0)
    if example:
        assume(code != (COLLISION,))
    assert code == (0,)


def line_joints(start_q, end_pose, count=400):
    """The joints along the line (position and slerped orientation) from the
    flange at start_q to end_pose, each the inverse solution nearest the one
    before: (u grid, joints per u)."""
    np = pytest.importorskip("numpy")
    from scipy.spatial.transform import Rotation, Slerp
    a, b = flange(start_q), pose_matrix(end_pose)
    slerp = Slerp([0, 1], Rotation.from_matrix([[row[:3] for row in a[:3]], [row[:3] for row in b[:3]]]))
    us = np.linspace(0, 1, count)
    q, path = list(start_q), []
    for u, r in zip(us, slerp(us).as_matrix()):
        m = [list(r[i]) + [a[i][3] + u * (b[i][3] - a[i][3])] for i in range(3)] + [[0, 0, 0, 1]]
        candidates = inverse_candidates(m, q)
        assert candidates, "the reference cannot follow the line"
        q = candidates[0][1]
        path.append(q)
    return us, np.array(path)


def toppra_duration(us, qs, extra, speed_limits, acc_limits):
    """toppra's time-optimal duration along the joint path qs(u), with the
    extra coordinates (the TCP's way in mm, its turn in rad) as further
    coordinates of the path under their own limits."""
    np = pytest.importorskip("numpy")
    ta = pytest.importorskip("toppra")
    way = np.column_stack([qs] + [u_scale * us for u_scale in extra])
    path = ta.SplineInterpolator(us, way)
    vlim = np.array([[-v, v] for v in speed_limits])
    alim = np.array([[-a, a] for a in acc_limits])
    constraints = [ta.constraint.JointVelocityConstraint(vlim), ta.constraint.JointAccelerationConstraint(alim)]
    instance = ta.algorithm.TOPPRA(constraints, path, gridpoints=np.linspace(0, 1, 1001),
                                   parametrizer="ParametrizeConstAccel")
    trajectory = instance.compute_trajectory(0, 0)
    assert trajectory is not None, "toppra found no timing"
    return trajectory.duration


def line_extent(start_q, end_pose):
    """How far the flange travels (mm) and turns (rad) from start_q to end_pose."""
    a, b = flange(start_q), pose_matrix(end_pose)
    mm = math.dist([a[i][3] for i in range(3)], [b[i][3] for i in range(3)])
    np = pytest.importorskip("numpy")
    turn = np.linalg.norm(__import__("scipy.spatial.transform", fromlist=["Rotation"]).Rotation.from_matrix(
        np.array([row[:3] for row in a[:3]]).T @ np.array([row[:3] for row in b[:3]])).as_rotvec())
    return mm, turn


def path_reference(start_q, end_pose, speed, acc):
    """ruckig's jerk-limited duration of the line under the TCP's and the
    orientation's own limits alone (no joint limits), along the path
    parameter u from 0 to 1."""
    ruckig = pytest.importorskip("ruckig")
    mm, turn = line_extent(start_q, end_pose)
    limits = [(speed / mm, acc / mm, LINEAR_JERK / mm)] if mm > 0 else []
    if turn > 0:
        limits.append((ORIENTATION_SPEED / turn, ORIENTATION_ACC / turn, ORIENTATION_JERK / turn))
    otg, inp, trajectory = ruckig.Ruckig(1), ruckig.InputParameter(1), ruckig.Trajectory(1)
    inp.current_position, inp.target_position = [0.0], [1.0]
    inp.max_velocity, inp.max_acceleration, inp.max_jerk = ([least] for least in map(min, zip(*limits)))
    otg.calculate(inp, trajectory)
    return trajectory.duration


def line_reference(start_q, end_pose, speed, acc):
    us, qs = line_joints(start_q, end_pose)
    mm, turn = line_extent(start_q, end_pose)
    extra, vs, accs = [], list(MAX_SPEED), [MAX_JOINT_ACC] * 6
    if mm > 0:
        extra.append(mm)
        vs.append(speed)
        accs.append(acc)
    if turn > 0:
        extra.append(turn)
        vs.append(ORIENTATION_SPEED)
        accs.append(ORIENTATION_ACC)
    return toppra_duration(us, qs, extra, vs, accs)


def run_until_rest(robot, sim, limit=5000):
    for _ in range(limit):
        if robot.is_in_pos() == (0, 1):
            return
        sim.advance_time(CYCLE)
    raise AssertionError("the arm never came to rest")


@pytest.fixture
def manual(sim):
    sim.advance_time(0)
    return sim


def moved_duration(motion):
    moving = [k for k in range(len(motion.qd)) if motion.moving(k)]
    return (moving[-1] - moving[0] + 1) * CYCLE if moving else 0.0


ENDINGS = (0, JOINT_LIMIT, UNREACHABLE, SINGULARITY, COLLISION)


# ---- every cycle of random lines, arcs, blends and their stops ---------------------------

@EXAMPLES
@given(seed=st.integers(0, 10 ** 6), kind=st.sampled_from(["line", "arc", "blend"]),
       speed=st.floats(100, 1500), acc=st.floats(500, 5000),
       stop=st.sampled_from([None, "motion_abort", "disable_robot"]), stop_at=st.integers(5, 120))
def test_lines_arcs_blends_and_stops_keep_every_joint_within_the_table(arm, manual, home, seed, kind, speed, acc,
                                                                       stop, stop_at):
    rng = random.Random(seed)
    q = random_joints(rng, margin=0.5)
    while not generic(q):
        q = random_joints(rng, margin=0.5)
    delta = [rng.uniform(-0.7, 0.7) for _ in range(6)]
    via = value(arm.kine_forward([a + d / 2 for a, d in zip(q, delta)]))
    end = value(arm.kine_forward([a + d for a, d in zip(q, delta)]))
    arm = fresh_arm(manual)  # no state of the example before (a stop, a collision)
    start_at(arm, q, example=True)
    run_until_rest(arm, manual)
    codes = []

    def moves(r):
        if kind == "line":
            codes.append(r.linear_move_extend(end, 0, False, speed, acc, 0))
        elif kind == "arc":
            codes.append(r.circular_move(end, via, 0, False, speed, acc, 0))
        else:
            codes.append(r.linear_move_extend(via, 0, False, speed, acc, rng.uniform(5, 100)))
            codes.append(r.linear_move_extend(end, 0, False, speed, acc, 0))
        for _ in range(stop_at if stop else 0):
            manual.advance_time(CYCLE)
        if stop:
            getattr(r, stop)()
        run_until_rest(r, manual)
        return (0,)

    _, motion = record_cycles(arm, home, [moves])
    # an arc through three points in a line; a path into self-collision
    assert all(c[0] in (0, INVALID_ARGUMENT, COLLISION) for c in codes), codes
    if not stop:
        assert arm.get_robot_status()[1][0] in ENDINGS
    keeps_joint_limits(motion, QUICK_JOINT_DEC if stop == "disable_robot" else MAX_JOINT_ACC)


@EXAMPLES
@given(clearance=st.floats(3, 200), y_from=st.floats(-300, -40), y_to=st.floats(40, 300), z=st.floats(300, 600),
       speed=st.floats(300, 1500), acc=st.floats(1000, 5000), back=st.booleans(),
       stop=st.sampled_from([None, "motion_abort", "disable_robot"]), stop_at=st.integers(5, 150))
def test_fast_lines_past_the_shoulder_singularity_keep_every_joint_within_the_table(arm, manual, home, clearance,
                                                                                    y_from, y_to, z, speed, acc,
                                                                                    back, stop, stop_at):
    """Where the joints, not the TCP, bind: joint 1 swings round as the wrist
    centre passes the singular cylinder, its curvature pulling with the
    path's acceleration on one side and against it on the other, so the
    joints' allowances speeding up and slowing down differ and bind."""
    a, b = shoulder_line(y_to, y_from, z, D4 + clearance) if back else shoulder_line(y_from, y_to, z, D4 + clearance)
    candidates = inverse_candidates(a, HOME)
    assume(candidates)
    arm = fresh_arm(manual)
    start_at(arm, candidates[0][1], example=True)
    run_until_rest(arm, manual)

    def moves(r):
        code = r.linear_move_extend(pose_of(b), 0, False, speed, acc, 0)
        for _ in range(stop_at if stop else 0):
            manual.advance_time(CYCLE)
        if stop:
            getattr(r, stop)()
        run_until_rest(r, manual)
        return code

    [code], motion = record_cycles(arm, home, [moves])
    assert code[0] in (0, COLLISION)
    if not stop:
        assert arm.get_robot_status()[1][0] in ENDINGS
    keeps_joint_limits(motion, QUICK_JOINT_DEC if stop == "disable_robot" else MAX_JOINT_ACC)


# ---- as fast as the joints allow ---------------------------------------------------------

LINES = [  # start joints, the flange's offset (mm, and a turn about x), speed, acc
    (HOME, [200, -100, -150], 0.0, 1000, 5000),
    (HOME, [0, 300, 0], 0.0, 400, 2000),
    ([0.3, 1.3, -1.2, -1.6, -1.5, 0.2], [-250, 150, 100], 0.4, 1500, 5000),
]


def run_line(arm, manual, home, start, end, speed, acc):
    start_at(arm, start)
    run_until_rest(arm, manual)
    _, motion = record_cycles(arm, home, [lambda r: r.linear_move_extend(end, 0, False, speed, acc, 0),
                                          lambda r: run_until_rest(r, manual) or (0,)])
    assert arm.get_robot_status()[1][0] == 0
    keeps_joint_limits(motion)
    return motion


def offset_end(arm, manual, start, offset, turn):
    start_at(arm, start)
    run_until_rest(arm, manual)
    return [a + b for a, b in zip(tcp(arm), list(offset) + [turn, 0, 0])]


@pytest.mark.parametrize("start, offset, turn, speed, acc", LINES)
def test_a_line_takes_about_as_long_as_the_time_optimal_timing(arm, manual, home, start, offset, turn, speed, acc):
    """Never faster than toppra's time-optimal timing under the same joint
    and TCP limits allows; slower by at most the documented margin (a
    jerk-limited start and stop, and speed limits planned with margins)."""
    end = offset_end(arm, manual, start, offset, turn)
    motion = run_line(arm, manual, home, start, end, speed, acc)
    reference = line_reference(start, end, speed, acc)
    duration = moved_duration(motion)
    print(f"line {offset}: {duration:.3f} s, toppra {reference:.3f} s, ratio {duration / reference:.3f}")
    assert reference - CYCLE <= duration <= (1 + TIMING_MARGIN) * reference


@pytest.mark.parametrize("start, offset, turn, speed, acc", LINES + [
    ([0.3, 1.3, -1.2, -1.6, -1.5, 0.2], [0, -200, 0], 0.0, 1000, 5000),   # joints 1 and 6 near their acceleration
])
def test_a_line_the_joints_leave_free_takes_its_own_jerk_limited_time(arm, manual, home, start, offset, turn, speed,
                                                                      acc):
    """Where no joint comes near its limits, the joints' bounds must not slow
    a line: it takes the time ruckig needs under the TCP's and the
    orientation's limits alone, within a cycle and 2%."""
    end = offset_end(arm, manual, start, offset, turn)
    motion = run_line(arm, manual, home, start, end, speed, acc)
    for j in range(6):  # the case is one the joints leave free
        assert max(abs(qd[j]) for qd in motion.joint_speeds()) < 0.95 * MAX_SPEED[j]
    assert max(max(a) for a in motion.joint_accelerations()) < 0.95 * MAX_JOINT_ACC
    reference = path_reference(start, end, speed, acc)
    assert moved_duration(motion) == pytest.approx(reference, abs=CYCLE + 0.02 * reference)


# ---- a path no timing can follow -----------------------------------------------------------

def shoulder_line(y_from, y_to, z=420.0, side=D4):
    """A line of constant orientation (the tool pointing down) whose wrist
    centre runs along x = `side` from y_from to y_to: where y = 0 it touches
    the cylinder of radius D4 about the base axis, the shoulder singularity,
    and joint 1's speed has a corner there."""
    down = [[1, 0, 0], [0, -1, 0], [0, 0, -1]]
    def pose(y):
        wrist = [side, y, z]
        m = [down[i] + [wrist[i] + WRIST * down[i][2]] for i in range(3)] + [[0, 0, 0, 1]]
        return m
    return pose(y_from), pose(y_to)


def pose_of(m):
    """[x, y, z, rx, ry, rz] of a 4x4 matrix (rows), the rpy order of rpy_matrix."""
    ry = math.atan2(-m[2][0], math.hypot(m[0][0], m[1][0]))
    rx = math.atan2(m[2][1], m[2][2])
    rz = math.atan2(m[1][0], m[0][0])
    return [m[0][3], m[1][3], m[2][3], rx, ry, rz]


@pytest.mark.parametrize("speed", [50, 200])
def test_a_line_through_the_shoulder_singularity_ends_before_it_with_15(arm, manual, home, speed):
    a, b = shoulder_line(-150.0, 150.0)
    start = inverse_candidates(a, HOME)[0][1]
    start_at(arm, start)
    run_until_rest(arm, manual)
    end = pose_of(b)
    _, motion = record_cycles(arm, home, [lambda r: r.linear_move_extend(end, 0, False, speed, 500, 0),
                                          lambda r: run_until_rest(r, manual) or (0,)])
    assert arm.get_robot_status()[1][0] == SINGULARITY
    keeps_joint_limits(motion)
    within(motion.accelerations(), 500, TCP_ACC_NOISE)  # the move's own deceleration
    # at rest short of the singular point, on the line
    m = flange(joints(arm))
    wrist_y = m[1][3] - WRIST * m[1][2]
    assert -150.0 < wrist_y < 0.0


# ---- where the joints bind -------------------------------------------------------------------

@pytest.mark.parametrize("clearance", [20.0, 60.0, 150.0])
def test_a_fast_line_near_the_shoulder_singularity_is_timed_by_the_joints(arm, manual, home, clearance):
    """Passing the singular cylinder at `clearance` mm, joint 1 swings round
    fast: the line slows (well below what its TCP limits alone allow) to keep
    every joint within its limits, and takes no longer than the documented
    margin over toppra's time-optimal timing."""
    a, b = shoulder_line(-300.0, 300.0, side=D4 + clearance)
    start = inverse_candidates(a, HOME)[0][1]
    end = pose_of(b)
    motion = run_line(arm, manual, home, start, end, 1500, 5000)
    reference, duration = line_reference(start, end, 1500, 5000), moved_duration(motion)
    print(f"clearance {clearance}: {duration:.3f} s, toppra {reference:.3f} s, ratio {duration / reference:.3f}")
    assert duration > 1.2 * path_reference(start, end, 1500, 5000)
    assert reference - CYCLE <= duration <= (1 + JOINT_TIMED_MARGIN) * reference

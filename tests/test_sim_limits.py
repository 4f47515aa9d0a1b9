"""Every cycle of every move keeps the documented limits: the TCP's speed and
acceleration on lines and arcs (their commanded values and the maxima), the
orientation's speed and acceleration, the joints' on joint moves; position
and orientation start and end together; accelerations are capped. Checked on
the recorder's samples (simulated time, time scale 0), for the cases of the
issue that found them broken and for random moves."""

import math

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

from motionkit import (JOINT_JERK, JOINT_MOVE_SPEED, LINEAR_JERK, MAX_JOINT_ACC, MAX_LINEAR_ACC, MAX_LINEAR_SPEED, ORIENTATION_ACC, ORIENTATION_SPEED, TCP_ACC_NOISE, TCP_SPEED_NOISE, length, record_cycles, rotation_vector, transpose, within)
from simkit import CYCLE, Q1, matmul, pose_matrix, rotation, same_pose, tcp

REPRO_START = [0.3, 1.2, -1.4, -1.2, -1.5, 0.2]
EXAMPLES = settings(max_examples=30, deadline=None, derandomize=True,
                    suppress_health_check=[HealthCheck.function_scoped_fixture])


def progress_of_position(motion, arc=None):
    """How far along its path the TCP is at each sample, 0 to 1: along the
    line, or by the angle swept about the arc's centre and normal."""
    p0, p1 = motion.p[0], motion.p[-1]
    if arc is None:
        total = length([a - b for a, b in zip(p1, p0)])
        return [length([a - b for a, b in zip(p, p0)]) / total for p in motion.p]
    center, normal = arc
    start = [a - b for a, b in zip(p0, center)]
    swept = []
    for p in motion.p:
        here = [a - b for a, b in zip(p, center)]
        angle = math.atan2(sum(x * y for x, y in zip(cross(start, here), normal)) / length(normal),
                           sum(x * y for x, y in zip(start, here)))
        swept.append(angle + 2 * math.pi if angle < -1e-9 else max(angle, 0.0))
    return [a / swept[-1] for a in swept]


def progress_of_orientation(motion):
    r0 = motion.r[0]
    turned = [length(rotation_vector(matmul(r, transpose(r0)))) for r in motion.r]
    return [t / turned[-1] for t in turned]


def circle_center(a, b, c):
    """The centre of the circle through three points (independently of the library)."""
    u = [y - x for x, y in zip(a, b)]
    w = [y - x for x, y in zip(a, c)]
    n = cross(u, w)
    nn = sum(x * x for x in n)
    uu, ww = sum(x * x for x in u), sum(x * x for x in w)
    k = cross([uu * wi - ww * ui for ui, wi in zip(u, w)], n)
    return [ai + ki / (2 * nn) for ai, ki in zip(a, k)]


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def begin_at(robot, joints):
    """The arm at `joints`, out of any error state an earlier example left."""
    assert robot.clear_error() == (0,)
    assert robot.joint_move(joints, 0, True, 3.0) == (0,)


def check_cartesian(motion, speed, acc, arc=None):
    """The TCP and orientation limits at every cycle, and position and
    orientation progressing together (when the move has both). arc: its
    centre and normal."""
    within(motion.speeds(), min(speed, MAX_LINEAR_SPEED), TCP_SPEED_NOISE)
    within(motion.accelerations(), min(acc, MAX_LINEAR_ACC), TCP_ACC_NOISE)
    within(motion.turn_speeds(), ORIENTATION_SPEED)
    within(motion.turn_accelerations(), ORIENTATION_ACC)
    moved = length([a - b for a, b in zip(motion.p[-1], motion.p[0])])
    turned = length(rotation_vector(matmul(motion.r[-1], transpose(motion.r[0]))))
    if moved > 1e-3 and turned > 1e-4:
        together = [abs(a - b) for a, b in zip(progress_of_position(motion, arc),
                                                progress_of_orientation(motion))]
        assert max(together) < 1e-6


# ---- the issue's cases ---------------------------------------------------------------------

# From REPRO_START, relative moves: translation (mm), turn about z (deg), speed, acc.
REPROS = [
    ([0, -230, 0], 170, 100, 1e4),   # reached 121.8 mm/s
    ([0, -100, 0], 170, 200, 40),    # turned at 107.4 deg/s
    ([0, -300, 0], 170, 100, 1e5),   # orientation acceleration 6641 deg/s^2
    ([0, 0, -300], 10, 1000, 1e9),   # acc 1e9: full speed in one cycle
]


@pytest.mark.parametrize("translation, turn, speed, acc", REPROS)
def test_the_issues_lines_keep_every_limit(arm, instant, home, translation, turn, speed, acc):
    assert arm.joint_move(REPRO_START, 0, True, 1.0) == (0,)
    start = tcp(arm)
    move = translation + [0, 0, math.radians(turn)]
    [(code,)], motion = record_cycles(arm, home, [lambda r: r.linear_move_extend(move, 1, True, speed, acc, 0)])
    assert code == 0
    check_cartesian(motion, speed, acc)
    expected = pose_matrix(start)
    expected = [row[:] for row in expected]
    turned = matmul([[math.cos(move[5]), -math.sin(move[5]), 0], [math.sin(move[5]), math.cos(move[5]), 0],
                     [0, 0, 1]], rotation(expected))
    assert [round(x, 6) for x in tcp(arm)[:3]] == [round(a + b, 6) for a, b in zip(start[:3], translation)]
    assert max(abs(a - b) for ra, rb in zip(rotation(pose_matrix(tcp(arm))), turned) for a, b in zip(ra, rb)) < 1e-9


@pytest.mark.parametrize("kind, cap, jerk, first_cycle", [
    ("joint", MAX_JOINT_ACC, JOINT_JERK, lambda m: max(m.joint_speeds()[0])),
    ("linear", MAX_LINEAR_ACC, LINEAR_JERK, lambda m: m.speeds()[0]),
])
def test_a_huge_acceleration_is_capped(arm, instant, home, kind, cap, jerk, first_cycle):
    """acc = 1e9 used to reach full speed in one cycle."""
    start = [q for q in Q1]
    assert arm.joint_move(start, 0, True, 1.0) == (0,)
    move = ((lambda r: r.joint_move_extend([1.0, 0, 0, 0, 0, 0], 1, True, 3.0, 1e9, 0)) if kind == "joint" else
            (lambda r: r.linear_move_extend([0, -200, 0, 0, 0, 0], 1, True, 1000, 1e9, 0)))
    [(code,)], motion = record_cycles(arm, home, [move])
    assert code == 0
    # the profile is sampled at the end of the first cycle: the acceleration turns at the
    # jerk limit from 0, so jerk * dt^3 / 6 covered
    assert first_cycle(motion) == pytest.approx(jerk * CYCLE ** 2 / 6, rel=1e-6)
    if kind == "joint":
        top = within([max(a) for a in motion.joint_accelerations()], cap)
    else:
        top = within(motion.accelerations(), cap)
    assert top > 0.99 * cap  # capped, not held far below


# ---- random moves ------------------------------------------------------------------------------

starts = st.lists(st.floats(-0.3, 0.3), min_size=6, max_size=6).map(lambda d: [q + x for q, x in zip(Q1, d)])
speeds = st.floats(30.0, 2500.0)
accelerations = st.floats(1.0, 9.0).map(lambda e: 10.0 ** e)
offsets = st.lists(st.floats(-150.0, 150.0), min_size=3, max_size=3)
turns = st.lists(st.floats(-1.5, 1.5), min_size=3, max_size=3)


@EXAMPLES
@given(start=starts, offset=offsets, turn=turns, speed=speeds, acc=accelerations)
def test_random_lines_keep_every_limit(ghost, arm, instant, home, start, offset, turn, speed, acc):
    begin_at(arm, start)
    [(code,)], motion = record_cycles(arm, home, [lambda r: r.linear_move_extend(offset + turn, 1, True, speed, acc, 0)])
    assume(code in (0, 6, 7, 15))  # a path the arm cannot follow stops it at rest, within the limits too
    assume(len(motion.t) > 2)
    check_cartesian(motion, speed, acc)


@EXAMPLES
@given(start=starts, mid=offsets, end=offsets, turn=turns, speed=speeds, acc=accelerations)
def test_random_arcs_keep_every_limit(arm, instant, home, start, mid, end, turn, speed, acc):
    begin_at(arm, start)
    here = tcp(arm)
    assume(length(cross(mid, end)) > 1e-3 * length(mid) * length(end) + 1.0)  # not on one line
    end_pose = [a + b for a, b in zip(here[:3], end)] + [a + b for a, b in zip(here[3:], turn)]
    mid_pose = [a + b for a, b in zip(here[:3], mid)] + here[3:]
    [(code,)], motion = record_cycles(arm, home, [lambda r: r.circular_move(end_pose, mid_pose, 0, True, speed, acc, 0)])
    assume(code in (0, 6, 7, 15))
    assume(len(motion.t) > 2)
    center = circle_center(here[:3], mid_pose[:3], end_pose[:3])
    check_cartesian(motion, speed, acc, (center, cross(mid, end)))
    radius = length([a - b for a, b in zip(here[:3], center)])
    assert max(abs(length([a - b for a, b in zip(p, center)]) - radius) for p in motion.p) < 1e-6
    if code == 0:
        assert same_pose(tcp(arm), end_pose, mm=1e-6, rad=1e-9)


@EXAMPLES
@given(start=starts, target=starts, speed=st.floats(0.01, 5.0), acc=accelerations)
def test_random_joint_moves_keep_every_limit(arm, instant, home, start, target, speed, acc):
    begin_at(arm, start)
    [(code,)], motion = record_cycles(arm, home, [lambda r: r.joint_move_extend(target, 0, True, speed, acc, 0)])
    assert code == 0 and arm.get_joint_position()[1] == target
    travel = [b - a for a, b in zip(start, target)]
    longest = max(abs(x) for x in travel)
    assume(longest > 1e-6)
    within([max(s) for s in motion.joint_speeds()], min(speed, JOINT_MOVE_SPEED))
    within([max(a) for a in motion.joint_accelerations()], min(acc, MAX_JOINT_ACC))
    # synchronised: every joint is as far along its travel as the longest one
    lead = max(range(6), key=lambda j: abs(travel[j]))
    for q in motion.q:
        done = (q[lead] - start[lead]) / travel[lead]
        assert all(abs(q[j] - start[j] - done * travel[j]) < 1e-9 for j in range(6))

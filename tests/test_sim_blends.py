"""Blending: a non-blocking move with tol > 0 followed by another queued move
of its kind leaves its path within tol of the corner and joins the next one
without stopping, keeping every limit; tol = 0, a blocking move, or two moves
of different kinds stop at the corner. In manual time, so the moves are all
queued before the first one ends."""

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

from motionkit import (JOINT_MOVE_SPEED, MAX_LINEAR_ACC, ORIENTATION_ACC, ORIENTATION_SPEED, TCP_ACC_NOISE,
                       TCP_SPEED_NOISE, length, record_cycles, within)
from simkit import CYCLE, HOME, LOWER, UPPER, joints, same_pose, tcp

EXAMPLES = settings(max_examples=25, deadline=None, derandomize=True,
                    suppress_health_check=[HealthCheck.function_scoped_fixture])


@pytest.fixture
def manual(sim):
    sim.advance_time(0)
    return sim


def run_to_rest(robot, sim):
    for _ in range(100):
        sim.advance_time(0.5)
        if robot.is_in_pos() == (0, 1):
            return
    raise AssertionError("the moves never ended")


def distance_to_segment(p, a, b):
    ab = [y - x for x, y in zip(a, b)]
    t = max(0.0, min(1.0, sum((pi - ai) * d for pi, ai, d in zip(p, a, ab)) / sum(d * d for d in ab)))
    return length([pi - ai - t * d for pi, ai, d in zip(p, a, ab)])


def max_norm(a, b):
    return max(abs(x - y) for x, y in zip(a, b))


def distance_to_joint_path(q, a, b):
    """Max-norm distance from q to the joint-space segment a-b: convex along
    the segment, so a ternary search finds it."""
    def at(t):
        return max_norm(q, [x + (y - x) * t for x, y in zip(a, b)])
    lo, hi = 0.0, 1.0
    for _ in range(60):
        m1, m2 = lo + (hi - lo) / 3, hi - (hi - lo) / 3
        if at(m1) <= at(m2):
            hi = m2
        else:
            lo = m1
    return at((lo + hi) / 2)


def check_line_blends(motion, corners, tol, speeds, accs):
    """corners: the TCP positions from the start through each target."""
    within(motion.speeds(), max(speeds), TCP_SPEED_NOISE)
    within(motion.accelerations(), min(max(accs), MAX_LINEAR_ACC), TCP_ACC_NOISE)
    within(motion.turn_speeds(), ORIENTATION_SPEED)
    within(motion.turn_accelerations(), ORIENTATION_ACC)
    for p in motion.p:  # on one of the lines, or cutting a corner within tol of it
        on_a_line = min(distance_to_segment(p, a, b) for a, b in zip(corners, corners[1:])) < 1e-6
        near_a_corner = min(length([x - y for x, y in zip(p, c)]) for c in corners[1:-1]) <= tol + 1e-9
        assert on_a_line or near_a_corner
    return motion.speeds()


def speed_at_corners(positions, speeds, corners, distance):
    """The speed of the cycles into and out of the sample nearest each inner
    corner: stopping there shows one slower than one cycle of acceleration
    (the chord of a speed that passes zero), a blend none."""
    result = []
    for c in corners[1:-1]:
        k = min(range(1, len(positions) - 1), key=lambda i: distance(positions[i], c))
        result.append(min(speeds[k - 1], speeds[k]))
    return result


def cut_corners(motion, corners):
    """How close the TCP came to each inner corner."""
    return [min(length([x - y for x, y in zip(p, c)]) for p in motion.p) for c in corners[1:-1]]


SQUARE = [[150, 0, 0], [0, 150, 0], [-150, 0, 0]]


@pytest.mark.parametrize("tol", [0.0, 2.0, 20.0, 500.0])
def test_lines_blend_within_tol_of_their_corners(arm, manual, home, tol):
    start = tcp(arm)
    corners = [start[:3]]
    for step in SQUARE:
        corners.append([a + b for a, b in zip(corners[-1], step)])

    def moves(r):
        for k, step in enumerate(SQUARE):
            assert r.linear_move_extend(step + [0, 0, 0], 1, False, 300, 2000, tol if k < 2 else 0) == (0,)
        run_to_rest(r, manual)
        return (0,)

    _, motion = record_cycles(arm, home, [moves])
    speeds = check_line_blends(motion, corners, tol, [300], [2000])
    gaps = cut_corners(motion, corners)
    at_corners = speed_at_corners(motion.p, speeds, corners, lambda p, c: length([x - y for x, y in zip(p, c)]))
    if tol == 0:  # stops at each corner, exactly there
        assert max(gaps) < 1e-9 and max(at_corners) <= 2000 * CYCLE
    else:  # cuts each corner without stopping
        assert all(0 < g <= tol for g in gaps) and min(at_corners) > 2000 * CYCLE
    assert same_pose(tcp(arm), corners[-1] + start[3:], mm=1e-6, rad=1e-9)


def test_a_blend_is_faster_than_stopping(arm, manual, home):
    durations = []
    for tol in (0.0, 30.0):
        assert arm.joint_move(HOME, 0, False, 1.0) == (0,)
        run_to_rest(arm, manual)

        def moves(r):
            for k, step in enumerate(SQUARE):
                assert r.linear_move_extend(step + [0, 0, 0], 1, False, 300, 2000, tol if k < 2 else 0) == (0,)
            run_to_rest(r, manual)
            return (0,)

        _, motion = record_cycles(arm, home, [moves], name=f"square-{tol}")
        moving = [k for k in range(len(motion.v)) if motion.moving(k)]
        durations.append(moving[-1] - moving[0])
    assert durations[1] < durations[0]


def test_arcs_blend(arm, manual, home):
    start = tcp(arm)
    mid1 = [start[0] + 60, start[1] + 60, start[2]] + start[3:]
    end1 = [start[0], start[1] + 120, start[2]] + start[3:]
    mid2 = [start[0] - 60, start[1] + 180, start[2]] + start[3:]
    end2 = [start[0], start[1] + 240, start[2]] + start[3:]

    def moves(r):
        assert r.circular_move(end1, mid1, 0, False, 200, 1000, 10.0) == (0,)
        assert r.circular_move(end2, mid2, 0, False, 200, 1000, 0) == (0,)
        run_to_rest(r, manual)
        return (0,)

    _, motion = record_cycles(arm, home, [moves])
    within(motion.speeds(), 200, TCP_SPEED_NOISE)
    within(motion.accelerations(), 1000, TCP_ACC_NOISE)
    join = speed_at_corners(motion.p, motion.speeds(), [None, end1[:3], None],
                            lambda p, c: length([x - y for x, y in zip(p, c)]))
    assert join[0] > 1000 * CYCLE  # no stop at the join
    corner_gap = min(length([x - y for x, y in zip(p, end1[:3])]) for p in motion.p)
    assert 0 < corner_gap <= 10.0
    assert same_pose(tcp(arm), end2, mm=1e-6, rad=1e-9)


JOINT_STEPS = [[0.8, 0.3, 0, 0, 0, 0], [0, 0, -0.5, 0.4, 0, 0], [-0.6, 0, 0, 0, 0.5, 0]]


@pytest.mark.parametrize("tol", [0.0, 0.01, 0.1])
def test_joint_moves_blend_within_tol_of_their_corners(arm, manual, home, tol):
    corners = [joints(arm)]
    for step in JOINT_STEPS:
        corners.append([a + b for a, b in zip(corners[-1], step)])

    def moves(r):
        for k, step in enumerate(JOINT_STEPS):
            assert r.joint_move_extend(step, 1, False, 1.0, 3.0, tol if k < 2 else 0) == (0,)
        run_to_rest(r, manual)
        return (0,)

    _, motion = record_cycles(arm, home, [moves])
    within([max(s) for s in motion.joint_speeds()], 1.0)
    within([max(a) for a in motion.joint_accelerations()], 3.0)
    for q in motion.q:
        on_a_path = min(distance_to_joint_path(q, a, b) for a, b in zip(corners, corners[1:])) < 1e-3
        near_a_corner = min(max_norm(q, c) for c in corners[1:-1]) <= tol + 1e-9
        assert on_a_path or near_a_corner
    gaps = [min(max_norm(q, c) for q in motion.q) for c in corners[1:-1]]
    at_corners = speed_at_corners(motion.q, [max(s) for s in motion.joint_speeds()], corners, max_norm)
    if tol == 0:
        assert max(gaps) < 1e-12 and max(at_corners) <= 3.0 * CYCLE
    else:
        assert all(0 < g <= tol for g in gaps) and min(at_corners) > 3.0 * CYCLE
    assert joints(arm) == pytest.approx(corners[-1], abs=1e-12)


@pytest.mark.parametrize("first, second", [
    ("blocking", "linear"),   # the caller of a blocking move is told it reached its target
    ("joint", "linear"),      # different kinds: no blend
    ("linear", "joint"),
])
def test_moves_that_do_not_blend_stop_at_the_corner(arm, manual, home, first, second):
    start_q, start = joints(arm), tcp(arm)
    corner_q = [a + b for a, b in zip(start_q, [0.3, 0, 0, 0, 0, 0])]
    corner = arm.kine_forward(corner_q)[1]
    down = list(corner)
    down[2] -= 100

    def moves(r):
        if first == "linear":
            assert r.linear_move_extend(corner, 0, False, 200, 1000, 50.0) == (0,)
        else:
            assert r.joint_move_extend(corner_q, 0, first == "blocking", 1.0, 3.0, 0.2) == (0,)
        if second == "linear":
            assert r.linear_move_extend(down, 0, False, 200, 1000, 0) == (0,)
        else:
            assert r.joint_move_extend(start_q, 0, False, 1.0, 3.0, 0) == (0,)
        run_to_rest(r, manual)
        return (0,)

    if first == "blocking":  # a blocking move in manual time needs the time moved by another thread
        manual.set_time_scale(0)
    _, motion = record_cycles(arm, home, [moves])
    assert min(length([x - y for x, y in zip(p, corner[:3])]) for p in motion.p) < 1e-6
    stop = speed_at_corners(motion.q, [max(s) for s in motion.joint_speeds()], [None, corner_q, None], max_norm)
    assert stop[0] <= 3.0 * CYCLE


# ---- random blends -------------------------------------------------------------------------

steps = st.lists(st.floats(-120.0, 120.0), min_size=3, max_size=3).filter(lambda v: length(v) > 1.0)


@EXAMPLES
@given(path=st.lists(steps, min_size=2, max_size=4), tol=st.floats(0.5, 100.0),
       speeds=st.lists(st.floats(50.0, 1000.0), min_size=4, max_size=4),
       accs=st.lists(st.floats(100.0, 8000.0), min_size=4, max_size=4))
def test_random_line_blends_keep_every_limit(arm, manual, home, path, tol, speeds, accs):
    assert arm.clear_error() == (0,)
    assert arm.joint_move(HOME, 0, False, 3.0) == (0,)
    manual.advance_time(10)
    start = tcp(arm)
    corners = [start[:3]]
    for step in path:
        corners.append([a + b for a, b in zip(corners[-1], step)])
    # a random corner may be out of reach: that move would be refused (6)
    assume(all(arm.kine_inverse(joints(arm), corner + start[3:])[0] == 0 for corner in corners[1:]))

    def moves(r):
        for k, step in enumerate(path):
            last = k == len(path) - 1
            assert r.linear_move_extend(step + [0, 0, 0], 1, False, speeds[k], accs[k], 0 if last else tol) == (0,)
        run_to_rest(r, manual)
        return r.get_robot_status()[1][0]

    [code], motion = record_cycles(arm, home, [moves])
    used = range(len(path))
    check_line_blends(motion, corners, tol, [min(speeds[k], 1500) for k in used], [accs[k] for k in used])
    if code == 0:
        assert same_pose(tcp(arm), corners[-1] + start[3:], mm=1e-6, rad=1e-9)


joint_steps = st.lists(st.floats(-0.5, 0.5), min_size=6, max_size=6).filter(lambda v: max(map(abs, v)) > 0.01)


@EXAMPLES
@given(path=st.lists(joint_steps, min_size=2, max_size=4), tol=st.floats(0.001, 0.3),
       speeds=st.lists(st.floats(0.1, 4.0), min_size=4, max_size=4),
       accs=st.lists(st.floats(0.5, 20.0), min_size=4, max_size=4))
def test_random_joint_blends_keep_every_limit(ghost, arm, manual, home, path, tol, speeds, accs):
    assert arm.joint_move(HOME, 0, False, 3.0) == (0,)
    manual.advance_time(10)
    corners = [joints(arm)]
    for step in path:
        corners.append([a + b for a, b in zip(corners[-1], step)])
    # a random corner may lie past a joint limit: that move would be refused (7)
    assume(all(lo <= v <= hi for corner in corners for v, lo, hi in zip(corner, LOWER, UPPER)))

    def moves(r):
        for k, step in enumerate(path):
            last = k == len(path) - 1
            assert r.joint_move_extend(step, 1, False, speeds[k], accs[k], 0 if last else tol) == (0,)
        run_to_rest(r, manual)
        return (0,)

    _, motion = record_cycles(arm, home, [moves])
    used = range(len(path))
    within([max(s) for s in motion.joint_speeds()], max(min(speeds[k], JOINT_MOVE_SPEED) for k in used))
    within([max(a) for a in motion.joint_accelerations()], max(min(accs[k], 4 * 3.141592653589793) for k in used))
    near = [min(max_norm(q, c) for c in corners[1:-1]) <= tol + 1e-9 or
            min(distance_to_joint_path(q, a, b) for a, b in zip(corners, corners[1:])) < 1e-3 for q in motion.q]
    assert all(near)
    assert joints(arm) == pytest.approx(corners[-1], abs=1e-12)


def time_to_rest(robot, sim, limit=60.0):
    for n in range(1, int(limit / CYCLE) + 1):
        sim.advance_time(CYCLE)
        if robot.is_in_pos() == (0, 1):
            return n * CYCLE
    raise AssertionError("the moves never ended")


# A line too short to reach its own speed, blended into a faster one, must
# not crawl at the blend's speed from its start (it once took 51 s for
# 21 mm). A blend whose speeds the limits shrink may cost a little more than
# stopping at the corner (its ramps are jerk-limited), never much more.
@pytest.mark.parametrize("first, second, tol", [
    ((19.0, 51.0, 100.0), (2.0, 914.0, 100.0), 0.5),
    ((19.0, 51.0, 100.0), (20.0, 914.0, 100.0), 0.5),
    ((5.0, 400.0, 200.0), (40.0, 50.0, 2000.0), 2.0),
    ((60.0, 300.0, 8000.0), (3.0, 1000.0, 100.0), 1.0),
])
def test_a_blend_takes_about_as_long_as_stopping_at_the_corner_or_less(arm, manual, first, second, tol):
    taken = []
    for blend in (0.0, tol):
        assert arm.joint_move(HOME, 0, False, 3.0) == (0,)
        manual.advance_time(10)
        (d1, v1, a1), (d2, v2, a2) = first, second
        assert arm.linear_move_extend([0, 0, d1, 0, 0, 0], 1, False, v1, a1, blend) == (0,)
        assert arm.linear_move_extend([0, 0, d2, 0, 0, 0], 1, False, v2, a2, 0) == (0,)
        taken.append(time_to_rest(arm, manual))
    stopping, blending = taken
    assert blending <= 1.1 * stopping + 2 * CYCLE, taken

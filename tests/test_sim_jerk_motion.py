"""The arm's motion is jerk-limited and continuous whatever interrupts it:
moves take about as long as ruckig (an independent jerk-limited generator)
needs with the same limits, their acceleration turns at the documented jerk,
a stop at any cycle of a blend brings the arm to rest without a jump, a
program's pause is a controlled stop along its path and its resume ramps up
again, and joint moves keep the TCP and the flange within the TCP speed
maximum. Cycle by cycle, in manual time."""

import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from motionkit import (DEFAULT_JOINT_ACC, DEFAULT_LINEAR_ACC, MAX_LINEAR_SPEED, QUICK_JOINT_DEC, QUICK_LINEAR_DEC,
                       TCP_ACC_NOISE, length, record_cycles, within)
from simkit import ADDRESS, CYCLE, HOME, flange, fresh_arm, joints, random_joints, write_program

JOINT_JERK = math.radians(9000)     # rad/s^3 of the joint that travels furthest
LINEAR_JERK = 50000.0               # mm/s^3 along the path
QUICK_JERK_FACTOR = 2.0

EXAMPLES = settings(max_examples=20, deadline=None, derandomize=True,
                    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])


@pytest.fixture
def manual(sim):
    sim.advance_time(0)
    return sim


def run_until_rest(robot, sim, limit=3000):
    for _ in range(limit):
        if robot.is_in_pos() == (0, 1):
            return
        sim.advance_time(CYCLE)
    raise AssertionError("the arm never came to rest")


def third_differences(values):
    """Per-cycle jerk of a sampled coordinate."""
    return [abs(values[k + 3] - 3 * values[k + 2] + 3 * values[k + 1] - values[k]) / CYCLE ** 3
            for k in range(len(values) - 3)]


def reference_duration(distance, vmax, amax, jmax):
    ruckig = pytest.importorskip("ruckig")
    otg = ruckig.Ruckig(1)
    inp = ruckig.InputParameter(1)
    inp.current_position, inp.target_position = [0.0], [distance]
    inp.max_velocity, inp.max_acceleration, inp.max_jerk = [vmax], [amax], [jmax]
    trajectory = ruckig.Trajectory(1)
    otg.calculate(inp, trajectory)
    return trajectory.duration


def moving_cycles(motion):
    return [k for k in range(len(motion.qd)) if motion.moving(k)]


# ---- moves: jerk-limited, as fast as the reference ---------------------------------------

@EXAMPLES
@given(seed=st.integers(0, 10 ** 6), speed=st.floats(0.2, math.pi), acc=st.floats(1.0, 4 * math.pi))
def test_joint_moves_are_jerk_limited_and_as_fast_as_the_reference(ghost, arm, instant, home, seed, speed, acc):
    import random
    rng = random.Random(seed)
    start, target = random_joints(rng), random_joints(rng)
    assert arm.joint_move(start, 0, True, math.pi) == (0,)
    results, motion = record_cycles(arm, home, [lambda r: r.joint_move_extend(target, 0, True, speed, acc, 0)])
    assert results == [(0,)]
    travel = [b - a for a, b in zip(start, target)]
    lead = max(range(6), key=lambda j: abs(travel[j]))
    leading = [q[lead] for q in motion.q]
    within(third_differences(leading), JOINT_JERK, 1e-6)
    within([acc_[lead] for acc_ in motion.joint_accelerations()], acc, 1e-6)
    # slowed only where the TCP would pass its maximum: then no faster than the reference at that pace
    moved = moving_cycles(motion)
    duration = len(moved) * CYCLE
    top = max(abs(qd[lead]) for qd in motion.qd)
    reference = reference_duration(abs(travel[lead]), speed, acc, JOINT_JERK)
    assert duration <= reference + CYCLE + 0.02 * reference or top < speed * (1 - 1e-6)
    assert duration >= reference - CYCLE - 0.02 * reference
    assert joints(arm) == pytest.approx(target, abs=1e-12)


@pytest.mark.parametrize("offset, speed, acc", [
    ([0, 300, 0], 400, 2000),
    ([200, -100, -150], 1000, 5000),  # the joints near their limits: planned at the TCP's all the same
    ([5, 0, 0], 100, 500),       # short: never cruises
])
def test_lines_are_jerk_limited_and_as_fast_as_the_reference(arm, instant, home, offset, speed, acc):
    results, motion = record_cycles(arm, home, [lambda r: r.linear_move_extend(offset + [0, 0, 0], 1, True, speed,
                                                                                 acc, 0)])
    assert results == [(0,)]
    unit = [x / length(offset) for x in offset]
    along = [sum((p - q) * u for p, q, u in zip(point, motion.p[0], unit)) for point in motion.p]
    within(third_differences(along), LINEAR_JERK, 1e-3)
    within(motion.accelerations(), acc, TCP_ACC_NOISE)
    reference = reference_duration(length(offset), speed, acc, LINEAR_JERK)
    assert len(moving_cycles(motion)) * CYCLE == pytest.approx(reference, abs=CYCLE + 0.02 * reference)


# ---- stops: from cruise, at the stop's deceleration and jerk ------------------------------

@pytest.mark.parametrize("move, stop, dec, jerk", [
    ("joint", "motion_abort", DEFAULT_JOINT_ACC, JOINT_JERK),
    ("joint", "disable_robot", QUICK_JOINT_DEC, QUICK_JERK_FACTOR * JOINT_JERK),
    ("linear", "motion_abort", DEFAULT_LINEAR_ACC, LINEAR_JERK),
    ("linear", "disable_robot", QUICK_LINEAR_DEC, QUICK_JERK_FACTOR * LINEAR_JERK),
])
def test_a_stop_from_cruise_takes_the_reference_time(arm, manual, home, move, stop, dec, jerk):
    ruckig = pytest.importorskip("ruckig")

    def moves(r):
        if move == "joint":
            assert r.joint_move([2.5, 0.5, -0.5, 0.3, 0, 0], 1, False, 1.5) == (0,)
        else:
            assert r.linear_move([0, 500, 0, 0, 0, 0], 1, False, 400) == (0,)
        manual.advance_time(150 * CYCLE)
        joints(r)
        getattr(r, stop)()
        run_until_rest(r, manual)
        return (0,)

    _, motion = record_cycles(arm, home, [moves])
    speeds = [abs(qd[0]) for qd in motion.qd] if move == "joint" else motion.speeds()
    cruise = speeds[149]
    within(third_differences([q[0] for q in motion.q] if move == "joint" else
                             [sum(p) for p in motion.p]), jerk * (1 if move == "joint" else math.sqrt(3)), 1e-3)
    otg = ruckig.Ruckig(1)
    inp = ruckig.InputParameter(1)
    inp.control_interface = ruckig.ControlInterface.Velocity
    inp.current_velocity, inp.target_velocity = [cruise], [0.0]
    inp.max_acceleration, inp.max_jerk, inp.max_velocity = [dec], [jerk], [cruise]
    trajectory = ruckig.Trajectory(1)
    otg.calculate(inp, trajectory)
    stopping = len([s for s in speeds[150:] if s > 1e-9]) * CYCLE
    assert stopping == pytest.approx(trajectory.duration, abs=CYCLE + 0.02 * trajectory.duration)


# ---- a stop at every cycle of a blend ------------------------------------------------------

BLENDS = {
    # two moves, the first blending into the second; the arm's bound on speed change per cycle
    "joint": ([lambda r: r.joint_move_extend([0.6, 0.2, 0, 0, 0, 0], 1, False, 1.5, 3.0, 0.3),
               lambda r: r.joint_move_extend([0, -0.2, 0.5, 0, 0, 0], 1, False, 1.5, 3.0, 0)]),
    "linear": ([lambda r: r.linear_move_extend([0, 300, 0, 0, 0, 0], 1, False, 400, 2000, 150),
                lambda r: r.linear_move_extend([300, 0, 0, 0, 0, 0], 1, False, 400, 2000, 0)]),
}
BLEND_ACC = {"joint": 3.0, "linear": 2000.0}
CORNERS = {"joint": [0.6, 0.2, 0, 0, 0, 0], "linear": [0, 300, 0]}  # the first move's way

STOPS = {
    "motion_abort": (lambda r, sim: r.motion_abort(), {"joint": DEFAULT_JOINT_ACC, "linear": DEFAULT_LINEAR_ACC}),
    "disable_robot": (lambda r, sim: r.disable_robot(), {"joint": QUICK_JOINT_DEC, "linear": QUICK_LINEAR_DEC}),
    "fault": (lambda r, sim: sim.trigger_fault(ADDRESS, 31), {"joint": QUICK_JOINT_DEC, "linear": QUICK_LINEAR_DEC}),
}


def off_segment(point, a, b):
    """Max-norm distance from a point to the segment a-b (convex along it: a ternary search)."""
    def at(t):
        return max(abs(p - x - (y - x) * t) for p, x, y in zip(point, a, b))
    lo, hi = 0.0, 1.0
    for _ in range(60):
        m1, m2 = lo + (hi - lo) / 3, hi - (hi - lo) / 3
        if at(m1) <= at(m2):
            hi = m2
        else:
            lo = m1
    return at((lo + hi) / 2)


def blend_window(sim, home, kind):
    """The cycles in which both moves run: the arm off both paths (joint
    space, or the TCP's lines), and never at rest between them."""
    robot = fresh_arm(sim)
    _, motion = record_cycles(robot, home, [lambda r: [m(r) for m in BLENDS[kind]] and (0,),
                                            lambda r: run_until_rest(r, sim) or (0,)])
    points = motion.q if kind == "joint" else motion.p
    corner = [x + d for x, d in zip(points[0], CORNERS[kind])]
    first, second = (points[0], corner), (corner, points[-1])
    off = [k for k in range(len(points)) if min(off_segment(points[k], *first), off_segment(points[k], *second)) > 1e-6]
    assert off, "the moves did not blend"
    assert all(motion.moving(k) for k in range(off[0] - 1, off[-1] + 1))  # no rest between the moves
    return range(off[0] - 2, off[-1] + 3)


@pytest.mark.parametrize("kind", sorted(BLENDS))
@pytest.mark.parametrize("stop_name", sorted(STOPS))
def test_a_stop_at_every_cycle_of_a_blend_is_continuous(sim, home, kind, stop_name):
    stop, decelerations = STOPS[stop_name]
    bound = max(BLEND_ACC[kind], decelerations[kind])
    for cycle in blend_window(sim, home, kind):
        robot = fresh_arm(sim)

        def moves(r, cycle=cycle):
            for m in BLENDS[kind]:
                assert m(r) == (0,)
            sim.advance_time(cycle * CYCLE)
            joints(r)
            stop(r, sim)
            run_until_rest(r, sim)
            return (0,)

        _, motion = record_cycles(robot, home, [moves])
        if kind == "joint":
            top = max(max(a) for a in motion.joint_accelerations())
            assert top <= bound * (1 + 1e-6) + 1e-6, (cycle, top, bound)
        else:
            within(motion.accelerations(), bound, TCP_ACC_NOISE)
        rest = motion.q[-1]
        assert joints(robot) == pytest.approx(rest, abs=1e-9)  # at rest where the stop brought it


# ---- program pause and resume ---------------------------------------------------------------

def test_program_pause_is_a_controlled_stop_and_resume_ramps_up(arm, manual, home):
    target = [q + d for q, d in zip(HOME, [2.0, 0.4, -0.4, 0, 0, 0])]
    write_program(home, "pause", ["movj " + " ".join(map(repr, target)) + " 1.5"])
    assert arm.program_load("pause") == (0,)

    def run(r):
        assert r.program_run() == (0,)
        manual.advance_time(100 * CYCLE)
        assert r.program_pause() == (0,)
        paused_at, previous = joints(r), None
        for _ in range(1000):  # the pause comes to rest along the path
            manual.advance_time(CYCLE)
            previous, paused_at = paused_at, joints(r)
            if paused_at == previous:
                break
        manual.advance_time(50 * CYCLE)
        assert joints(r) == paused_at
        assert r.program_resume() == (0,)
        for _ in range(2000):
            manual.advance_time(CYCLE)
            if r.get_program_state() == (0, 0):
                break
        return (0,)

    _, motion = record_cycles(arm, home, [run])
    within([a[0] for a in motion.joint_accelerations()], DEFAULT_JOINT_ACC, 1e-6)
    within(third_differences([q[0] for q in motion.q]), JOINT_JERK, 1e-6)
    assert joints(arm) == pytest.approx(target, abs=1e-12)
    # along the joint-space line throughout
    for q in motion.q:
        done = (q[0] - HOME[0]) / 2.0
        assert q[1] - HOME[1] == pytest.approx(0.4 * done, abs=1e-9)


def test_program_resume_while_the_pause_is_slowing_down(arm, manual, home):
    target = [q + d for q, d in zip(HOME, [2.0, 0, 0, 0, 0, 0])]
    write_program(home, "pause2", ["movj " + " ".join(map(repr, target)) + " 1.5"])
    assert arm.program_load("pause2") == (0,)

    def run(r):
        assert r.program_run() == (0,)
        manual.advance_time(100 * CYCLE)
        assert r.program_pause() == (0,)
        manual.advance_time(10 * CYCLE)
        assert r.program_resume() == (0,)
        for _ in range(2000):
            manual.advance_time(CYCLE)
            if r.get_program_state() == (0, 0):
                break
        return (0,)

    _, motion = record_cycles(arm, home, [run])
    within([a[0] for a in motion.joint_accelerations()], DEFAULT_JOINT_ACC, 1e-6)
    assert min(abs(qd[0]) for qd in motion.qd[100:120]) > 0.5  # slowed, never stopped
    assert joints(arm) == pytest.approx(target, abs=1e-12)


# ---- joint moves keep the TCP speed maximum ----------------------------------------------------

@pytest.mark.parametrize("start, target", [
    ([0, 0, 0, 0, 0, 0], [math.pi, 0, 0, 0, 0, 0]),                    # the stretched arm swung round
    ([0, 0.2, 0, 0, math.pi / 2, 0], [-math.pi, -0.2, 0, 0, math.pi / 2, 0]),
])
def test_joint_moves_keep_the_tcp_and_flange_below_the_maximum(ghost, arm, instant, home, start, target):
    assert arm.set_tool_data(1, [0, 0, 200, 0, 0, 0], "long") == (0,)
    assert arm.set_tool_id(1) == (0,)
    assert arm.joint_move(start, 0, True, math.pi) == (0,)
    results, motion = record_cycles(arm, home, [lambda r: r.joint_move(target, 0, True, math.pi)])
    assert results == [(0,)]
    within(motion.speeds(), MAX_LINEAR_SPEED, 1e-6)
    def centre(q):
        return [row[3] for row in flange(q)[:3]]

    flange_speeds = [length([a - b for a, b in zip(centre(motion.q[k + 1]), centre(motion.q[k]))]) / CYCLE
                     for k in range(len(motion.q) - 1)]
    top = within(flange_speeds, MAX_LINEAR_SPEED, 1e-6)
    assert top > 0.9 * MAX_LINEAR_SPEED  # slowed to the maximum, not far below it
    assert joints(arm) == pytest.approx(target, abs=1e-12)


# ---- a lower rapid rate while slowing down --------------------------------------------------

@pytest.mark.parametrize("cycle", [70, 75, 80, 85])
def test_a_lower_rapid_rate_while_slowing_down_never_turns_the_arm_back(arm, manual, home, cycle):
    """The new rate's acceleration is far below the one the arm brakes at:
    it keeps braking as it was instead of cutting the acceleration at once,
    which would carry it past its target and back."""
    target = [q + d for q, d in zip(HOME, [0.6, 0, 0, 0, 0, 0])]

    def move(r):
        assert r.joint_move_extend(target, 0, False, 1.5, 4 * math.pi, 0) == (0,)
        manual.advance_time(cycle * CYCLE)
        joints(r)
        assert r.set_rapidrate(0.1) == (0,)
        run_until_rest(r, manual)
        return (0,)

    _, motion = record_cycles(arm, home, [move])
    assert all(qd[0] >= -1e-12 for qd in motion.qd)  # never back
    within([a[0] for a in motion.joint_accelerations()], 4 * math.pi, 1e-6)
    assert joints(arm) == pytest.approx(target, abs=1e-12)

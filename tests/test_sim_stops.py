"""Stops as docs/virtual-controller.md's stop categories have them: a
controlled stop along the path at the move's own deceleration (motion_abort,
jog_stop, program_abort, leaving servo mode), a quick one at the quick-stop
decelerations (faults, protective stops, disable_robot), brakes at once
(power_off, shut_down); a blocking caller gets its code once the arm is at
rest; a change of rapid rate ramps. In manual time (Probe.advance_time), so
each stop happens at a known cycle and nothing depends on the host."""

import ctypes
import math
import threading

import pytest

from motionkit import (DEFAULT_JOINT_ACC, DEFAULT_LINEAR_ACC, JOINT_JERK, LINEAR_JERK, QUICK_JERK_FACTOR,
                       QUICK_JOINT_DEC, QUICK_LINEAR_DEC, SERVO_STOP_DEC, length, record_cycles, stop_duration, within)
from simkit import ABORTED, ADDRESS, CYCLE, HOME, joints, tcp, wait_until, write_program

STOP_AT = 150  # cycles into the move: cruising by then


@pytest.fixture
def manual(sim):
    """Manual time: simulated time moves only when the test says."""
    sim.advance_time(0)
    return sim


def run_until_rest(robot, sim, limit=2000):
    for _ in range(limit):
        if robot.is_in_pos() == (0, 1):
            return
        sim.advance_time(CYCLE)
    raise AssertionError("the arm never came to rest")


JOINT_TRAVEL = [2.5, 0.5, -0.5, 0.3, 0.0, 0.0]
JOINT_SPEED = 1.5        # rad/s of joint 1, which travels furthest
LINE = [0.0, 500.0, 0.0]
LINE_SPEED = 400.0       # mm/s

MOVES = {
    "joint": lambda r: r.joint_move(JOINT_TRAVEL, 1, False, JOINT_SPEED),
    "linear": lambda r: r.linear_move(LINE + [0, 0, 0], 1, False, LINE_SPEED),
}

# the stop, its category, the code the motion ends with, what the controller says after
STOPS = [
    ("motion_abort", lambda r, sim: r.motion_abort(), "controlled", ABORTED, lambda r: r.get_robot_status()[1][0] == 0),
    ("disable_robot", lambda r, sim: r.disable_robot(), "quick", ABORTED, lambda r: r.get_robot_state()[1][2] == 0),
    ("fault", lambda r, sim: sim.trigger_fault(ADDRESS, 31), "quick", 31, lambda r: r.get_robot_status()[1][0] == 31),
    ("collision", lambda r, sim: sim.trigger_fault(ADDRESS, 8), "quick", 8, lambda r: r.is_in_collision() == (0, 1)),
    ("power_off", lambda r, sim: r.power_off(), "brakes", ABORTED, lambda r: r.get_robot_state()[1][1] == 0),
    ("shut_down", lambda r, sim: r.shut_down(), "brakes", ABORTED, lambda r: True),
]

DECELERATION = {  # of the leading joint (rad/s^2) and of the TCP (mm/s^2)
    ("joint", "controlled"): DEFAULT_JOINT_ACC, ("joint", "quick"): QUICK_JOINT_DEC,
    ("linear", "controlled"): DEFAULT_LINEAR_ACC, ("linear", "quick"): QUICK_LINEAR_DEC,
}
JERK = {  # the jerk the deceleration turns at (rad/s^3, mm/s^3)
    ("joint", "controlled"): JOINT_JERK, ("joint", "quick"): QUICK_JERK_FACTOR * JOINT_JERK,
    ("linear", "controlled"): LINEAR_JERK, ("linear", "quick"): QUICK_JERK_FACTOR * LINEAR_JERK,
}


def leading_speeds(motion, move):
    return [abs(qd[0]) for qd in motion.qd] if move == "joint" else motion.speeds()


def off_the_path(motion, move, start_q, start_p):
    """How far each sample lies from the move's path (joint space or the line)."""
    if move == "joint":
        off = []
        for q in motion.q:
            done = (q[0] - start_q[0]) / JOINT_TRAVEL[0]
            off.append(max(abs(q[j] - start_q[j] - done * JOINT_TRAVEL[j]) for j in range(6)))
        return off
    unit = [x / length(LINE) for x in LINE]
    off = []
    for p in motion.p:
        d = [a - b for a, b in zip(p, start_p)]
        along = sum(x * u for x, u in zip(d, unit))
        off.append(length([x - along * u for x, u in zip(d, unit)]))
    return off


@pytest.mark.parametrize("move", sorted(MOVES))
@pytest.mark.parametrize("name, stop, kind, code, after", STOPS, ids=[s[0] for s in STOPS])
def test_each_stop_brings_the_arm_to_rest_at_its_deceleration(arm, manual, home, move, name, stop, kind, code, after):
    start_q, start_p = joints(arm), tcp(arm)
    stopped = {}

    def moves(r):
        assert MOVES[move](r) == (0,)
        manual.advance_time(STOP_AT * CYCLE)
        before = joints(r)
        stop(r, manual)
        stopped["same cycle"] = joints(r) == before if name != "shut_down" else True
        assert after(r)
        if name == "shut_down":
            return (0,)
        run_until_rest(r, manual)
        return (0,)

    if name == "shut_down":  # the recorder is gone with the controller: watch the joints instead
        assert MOVES[move](arm) == (0,)
        manual.advance_time(STOP_AT * CYCLE)
        before = joints(arm)
        stop(arm, manual)
        manual.advance_time(1.0)
        robot = arm
        assert robot.login() == (0,) and joints(robot) == before
        return
    _, motion = record_cycles(arm, home, [moves])
    speeds = leading_speeds(motion, move)
    cruise = JOINT_SPEED if move == "joint" else LINE_SPEED
    assert speeds[STOP_AT - 1] == pytest.approx(cruise, rel=1e-9)  # cruising when the stop came
    assert stopped["same cycle"]  # a stop takes effect from the next cycle on
    after_stop = speeds[STOP_AT - 1:]
    moving = [s for s in after_stop[1:] if s > 1e-9]
    if kind == "brakes":
        assert moving == []
        return
    dec = DECELERATION[(move, kind)]
    slowing = [after_stop[k] - after_stop[k + 1] for k in range(len(after_stop) - 1)]
    within([s / CYCLE for s in slowing], dec, 1e-6)
    # at rest after the jerk-limited stop's time, to within the cycle it ends in: finite and as documented
    assert len(moving) == pytest.approx(stop_duration(cruise, dec, JERK[(move, kind)]) / CYCLE, abs=1.0)
    assert max(off_the_path(motion, move, start_q, start_p)) < 1e-6  # along the path


@pytest.mark.parametrize("stop, code", [
    (lambda r, sim: r.motion_abort(), ABORTED),
    (lambda r, sim: sim.trigger_fault(ADDRESS, 31), 31),
    (lambda r, sim: r.disable_robot(), ABORTED),
])
def test_a_blocking_caller_gets_its_code_once_the_arm_is_at_rest(arm, manual, stop, code):
    """The blocking move runs in a thread through ctypes (no interpreter lock
    held while it waits); as soon as it returns, that thread reads whether the
    arm is in position."""
    target = [q + d for q, d in zip(HOME, JOINT_TRAVEL)]
    seen = []

    def blocking_move():
        handle = ctypes.c_int32(arm.handle)
        seen.append(manual.lib.joint_move(ctypes.byref(handle), (ctypes.c_double * 6)(*target), 0, 1,
                                          ctypes.c_double(JOINT_SPEED)))
        in_pos = ctypes.c_int32(-1)
        manual.lib.is_in_pos(ctypes.byref(handle), ctypes.byref(in_pos))
        seen.append(in_pos.value)

    mover = threading.Thread(target=blocking_move)
    mover.start()
    assert wait_until(lambda: arm.get_robot_status()[1][9] == 1)  # queued: time stands still meanwhile
    manual.advance_time(STOP_AT * CYCLE)
    joints(arm)
    stop(arm, manual)
    assert arm.is_in_pos() == (0, 0)  # still coming to rest
    run_until_rest(arm, manual)
    mover.join(10)
    assert seen == [code, 1]


def test_jog_stop_is_a_controlled_stop(arm, manual, home):
    def jog_then_stop(r):
        assert r.jog(0, 2, 1, 1.0, 0) == (0,)
        manual.advance_time(STOP_AT * CYCLE)
        assert r.jog_stop(0) == (0,)
        run_until_rest(r, manual)
        return (0,)

    _, motion = record_cycles(arm, home, [jog_then_stop])
    speeds = leading_speeds(motion, "joint")
    assert speeds[STOP_AT - 1] == pytest.approx(1.0, rel=1e-9)
    within([(speeds[k] - speeds[k + 1]) / CYCLE for k in range(len(speeds) - 1)], DEFAULT_JOINT_ACC, 1e-6)
    assert len([s for s in speeds[STOP_AT:] if s > 0]) == pytest.approx(
        stop_duration(1.0, DEFAULT_JOINT_ACC, JOINT_JERK) / CYCLE, abs=1.0)


def test_program_abort_is_a_controlled_stop(arm, manual, home):
    target = [q + d for q, d in zip(HOME, JOINT_TRAVEL)]
    write_program(home, "long", ["movj " + " ".join(map(repr, target)) + f" {JOINT_SPEED}"])
    assert arm.program_load("long") == (0,)

    def run_then_abort(r):
        assert r.program_run() == (0,)
        manual.advance_time(STOP_AT * CYCLE)
        assert r.program_abort() == (0,)
        assert r.get_program_state() == (0, 0)  # ended, while the arm comes to rest
        assert r.program_run() == (5,)           # ... which a new run waits for
        run_until_rest(r, manual)
        return (0,)

    _, motion = record_cycles(arm, home, [run_then_abort])
    speeds = leading_speeds(motion, "joint")
    within([(speeds[k] - speeds[k + 1]) / CYCLE for k in range(len(speeds) - 1)], DEFAULT_JOINT_ACC, 1e-6)
    assert len([s for s in speeds[STOP_AT:] if s > 0]) == pytest.approx(
        stop_duration(JOINT_SPEED, DEFAULT_JOINT_ACC, JOINT_JERK) / CYCLE, abs=1.0)
    assert arm.program_run() == (0,)


def test_leaving_servo_mode_stops_the_stream_in_a_controlled_way(arm, manual, home):
    """A stream moving joint 1 at 1 rad/s: leaving servo mode drops what was
    not reached and brings the arm to rest from that speed along its way."""
    step = 1.0 * CYCLE

    def stream_then_leave(r):
        assert r.servo_move_enable(1) == (0,)
        for _ in range(50):
            assert r.servo_j([step, 0, 0, 0, 0, 0], 1) == (0,)
            manual.advance_time(CYCLE)
        assert r.servo_j([step, 0, 0, 0, 0, 0], 1) == (0,)  # accepted, never reached
        assert r.servo_move_enable(0) == (0,)
        assert r.get_robot_status()[1][6] == 0              # servo mode off at once
        assert r.joint_move(HOME, 0, False, 1.0) == (5,)    # moves wait until the arm rests
        run_until_rest(r, manual)
        return (0,)

    _, motion = record_cycles(arm, home, [stream_then_leave])
    speeds = leading_speeds(motion, "joint")
    assert speeds[49] == pytest.approx(1.0, rel=1e-9)  # the 50th set-point, in the last cycle before leaving
    slowing = speeds[49:]
    within([(slowing[k] - slowing[k + 1]) / CYCLE for k in range(len(slowing) - 1)], SERVO_STOP_DEC, 1e-6)
    stopping = stop_duration(1.0, SERVO_STOP_DEC, JOINT_JERK)
    assert len([s for s in slowing[1:] if s > 0]) == pytest.approx(stopping / CYCLE, abs=1.0)
    assert all(qd[0] >= 0 for qd in motion.qd)  # on along its way, never back
    # a jerk-limited stop's speed falls point-symmetrically: it covers half its speed times its time
    assert joints(arm)[0] < HOME[0] + 51 * step + 1.0 * stopping / 2 + 1e-9
    assert arm.joint_move(HOME, 0, False, 1.0) == (0,)


@pytest.mark.parametrize("rates", [(1.0, 0.25), (0.25, 1.0), (1.0, 0.5, 1.0)])
def test_a_rapid_rate_change_ramps(arm, manual, home, rates):
    """The joint move's speed goes to its new pace at the acceleration of the
    larger rate, never in a step."""
    target = [q + d for q, d in zip(HOME, [3.0, 0, 0, 0, 0, 0])]

    def move(r):
        assert r.set_rapidrate(rates[0]) == (0,)
        assert r.joint_move(target, 0, False, 1.0) == (0,)
        for rate in rates[1:]:
            manual.advance_time(100 * CYCLE)
            joints(r)
            assert r.set_rapidrate(rate) == (0,)
        run_until_rest(r, manual, limit=5000)
        return (0,)

    _, motion = record_cycles(arm, home, [move])
    speeds = leading_speeds(motion, "joint")
    within([abs(speeds[k + 1] - speeds[k]) / CYCLE for k in range(len(speeds) - 1)], DEFAULT_JOINT_ACC, 1e-6)
    within(speeds, 1.0)
    assert joints(arm) == pytest.approx(target, abs=1e-12)
    # the pace each rate asks for is reached: 1.0 * rate rad/s
    for k, rate in enumerate(rates[1:], start=1):
        window = speeds[100 * k + 40:100 * k + 99]
        assert window and all(s == pytest.approx(rate, rel=1e-9) for s in window)


def test_reads_show_the_arm_at_the_present_simulated_time(arm, manual):
    """However late the motion thread is (in manual time it never runs the
    cycles), every read shows the arm where it is at the present time: the
    profile of a 0.8 rad/s joint jog, sampled at the last whole cycle."""
    speed, acc, jerk = 0.8, DEFAULT_JOINT_ACC, JOINT_JERK

    def expected(t):
        t = math.floor(t / CYCLE + 1e-9) * CYCLE  # the cycles run: one a cycle from one cycle after the start
        if t <= 0:
            return HOME[0]
        # the acceleration rises at the jerk for t1, holds acc until t1 + t2, falls for t1: then cruise
        t1 = acc / jerk
        t2 = speed / acc - t1
        if t < t1:
            return HOME[0] + jerk * t ** 3 / 6
        x1, v1 = jerk * t1 ** 3 / 6, acc * t1 / 2
        if t < t1 + t2:
            u = t - t1
            return HOME[0] + x1 + v1 * u + acc * u * u / 2
        x2, v2 = x1 + v1 * t2 + acc * t2 * t2 / 2, v1 + acc * t2
        u = min(t - t1 - t2, t1)
        travel = x2 + v2 * u + acc * u * u / 2 - jerk * u ** 3 / 6
        return HOME[0] + travel + speed * max(0.0, t - 2 * t1 - t2)

    assert arm.jog(0, 2, 1, speed, 0) == (0,)
    now, last = 0.0, HOME[0]
    for gap in [0.5, 0.001, 0.001, 0.0065, 0.0095, 0.137, 0.008, 0.8, 0.0001, 0.03]:
        manual.advance_time(gap)
        now += gap
        seen = joints(arm)[0]
        assert seen == pytest.approx(expected(now), abs=1e-12)
        assert seen - last <= speed * (gap + CYCLE) + 1e-12  # no burst: never more than the motion covers
        last = seen

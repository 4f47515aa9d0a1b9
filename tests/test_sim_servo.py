"""Servo mode of the virtual arm: switching it, step counts, relative and
Cartesian set-points, and what is refused; the stream's model (the newest
set-point supersedes one not begun, the arm follows within its limits): at
1 kHz nothing refused and no backlog, at 125 Hz with set-points a few
milliseconds late or early within two set-points, random streams within
every joint's speed, acceleration and jerk in every cycle, and a stream the
arm falls too far behind ended with its code. Streams run in manual time
(Probe.advance_time), so each set-point arrives at a known simulated time.
The cases the issue names cycle by cycle are test_sim_servo_cases.py's, the
filters test_sim_servo_filters.py's."""

import math
import random

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

from motionkit import JOINT_JERK, MAX_JOINT_ACC, QUICK_JERK_FACTOR, QUICK_JOINT_DEC
from servokit import FOLLOWING_ERROR, FOLLOWING_ERROR_CODE, check_limits, command, on_joint, run_stream
from simkit import (CYCLE, HOME, INVALID_ARGUMENT, JOINT_LIMIT, LOWER, MAX_SPEED, NOT_ENABLED, SERVO_ACTIVE,
                    SERVO_INACTIVE, SPEED_LIMIT, UPPER, Handler, close, joints, pose_matrix, tcp)


def test_servo_mode_refuses_ordinary_motion_and_set_points_need_it(arm, instant):
    assert arm.servo_j(joints(arm), 0) == (SERVO_INACTIVE,) and arm.servo_p(tcp(arm), 0) == (SERVO_INACTIVE,)
    assert arm.servo_move_enable(1) == (0,)
    assert arm.get_robot_status()[1][6] == 1
    assert arm.joint_move(HOME, 0, True, 1.0) == (SERVO_ACTIVE,)
    assert arm.linear_move([0, 0, 10, 0, 0, 0], 1, True, 10) == (SERVO_ACTIVE,)
    assert arm.jog(0, 1, 1, 0.1, 0.1) == (SERVO_ACTIVE,)
    assert arm.servo_move_enable(0) == (0,)
    assert arm.joint_move([0.1, 0, 0, 0, 0, 0], 1, True, 1.0) == (0,)


def test_servo_mode_needs_an_enabled_arm(rc):
    rc.power_on()
    assert rc.servo_move_enable(1) == (NOT_ENABLED,)


def test_relative_and_cartesian_set_points(arm, instant):
    assert arm.servo_move_enable(1) == (0,)
    assert arm.servo_j_extend([0.1, 0, 0, 0, 0, -0.1], 1, 10) == (0,)
    assert arm.servo_j_extend([0.1, 0, 0, 0, 0, -0.1], 1, 10) == (0,)
    expected = list(HOME)
    expected[0] += 0.2
    expected[5] -= 0.2
    assert joints(arm) == pytest.approx(expected, abs=1e-12)
    here = tcp(arm)
    target = list(here)
    target[2] += 5.0
    assert arm.servo_p_extend(target, 0, 3) == (0,)
    assert close(pose_matrix(tcp(arm)), pose_matrix(target), 1e-6)
    assert arm.servo_p([0, 4.0, 0, 0, 0, 0], 1) == (0,)
    target[1] += 4.0
    assert close(pose_matrix(tcp(arm)), pose_matrix(target), 1e-6)


@pytest.mark.parametrize("offset, steps, code", [
    ([UPPER[0] + 0.1 - HOME[0], 0, 0, 0, 0, 0], 2000, JOINT_LIMIT),
    ([MAX_SPEED[0] * 0.008 * 1.5, 0, 0, 0, 0, 0], 1, SPEED_LIMIT),
    ([MAX_SPEED[0] * 0.008 * 0.99, 0, 0, 0, 0, 0], 1, 0),  # just within the speed limit
    ([0.01, 0, 0, 0, 0, 0], 0, INVALID_ARGUMENT),
])
def test_set_points_are_refused_beyond_the_limits_and_leave_the_arm(arm, instant, offset, steps, code):
    assert arm.servo_move_enable(1) == (0,)
    assert arm.servo_j_extend(offset, 1, steps) == (code,)
    assert (joints(arm) == HOME) == (code != 0)


@pytest.mark.parametrize("name, args", [("servo_move_use_none_filter", ()), ("servo_move_use_joint_LPF", (0.5,)),
                                        ("servo_move_use_joint_NLF", (1, 2.5, 3)),
                                        ("servo_move_use_carte_NLF", (1, 2, 3, 4, 5, 6)),
                                        ("servo_move_use_joint_MMF", (10, 1.0, 0.5, 0.1)),
                                        ("servo_speed_foresight", (15, 0.8))])
def test_filters_are_chosen_while_servo_mode_is_off(arm, instant, name, args):
    assert getattr(arm, name)(*args) == (0,)
    assert arm.servo_move_enable(1) == (0,)
    assert getattr(arm, name)(*args) == (SERVO_ACTIVE,)



@pytest.mark.parametrize("name, args, code", [("servo_move_use_joint_MMF", (1000, 1.0, 0, 0), 0),
                                              ("servo_move_use_joint_MMF", (1001, 1.0, 0, 0), INVALID_ARGUMENT),
                                              ("servo_speed_foresight", (1000, 0.5), 0),
                                              ("servo_speed_foresight", (1001, 0.5), INVALID_ARGUMENT)])
def test_filter_buffers_hold_at_most_1000_cycles(arm, instant, name, args, code):
    assert getattr(arm, name)(*args) == (code,)


# ---- the stream's model ---------------------------------------------------------------------

def smooth_wave(t, period=2.0, amplitude=0.4):
    """From rest to rest and back, its speed, acceleration and jerk all
    starting at 0: within every limit (joint 1 at up to 1.02 rad/s)."""
    return amplitude * (1 - math.cos(2 * math.pi * t / period)) ** 2 / 4


def test_a_set_point_is_reached_over_its_steps(arm, sim):
    """50 steps: the command moves 0.2 rad in 0.4 s; the arm catches up with
    it within its limits, moves with it and rests exactly on the target."""
    target = on_joint(0, 0.2)
    samples, codes = run_stream(arm, sim, [(0.0, target, 50)], 90)
    assert codes == [0]
    check_limits(samples)
    lagging = [c[0] - q[0] for c, q in zip(command([(0.0, target, 50)], 90), samples)]
    assert max(lagging[:50]) < 0.03 and max(map(abs, lagging[30:50])) < 1e-12  # caught up within 30 cycles
    speed = 0.2 / (50 * CYCLE)  # the set-point's end is abrupt: the arm passes it by a stop's way
    assert -min(lagging) <= speed * (speed / MAX_JOINT_ACC + MAX_JOINT_ACC / JOINT_JERK) / 2
    assert samples[-1] == target and arm.is_in_pos() == (0, 1)


def test_set_points_faster_than_the_cycle_supersede_each_other(arm, sim):
    """1100 set-points within one cycle: none refused, none queued behind the
    others; the arm goes straight on to the newest (relative ones add up)."""
    sim.advance_time(0)
    assert arm.servo_move_enable(1) == (0,)
    sim.advance_time(3 * CYCLE)
    codes = [arm.servo_j([1e-5, 0, 0, 0, 0, 0], 1)[0] for _ in range(1100)]
    assert set(codes) == {0}
    cycles = 0
    while arm.is_in_pos() != (0, 1):
        sim.advance_time(CYCLE)
        cycles += 1
    # as long as 0.011 rad takes at the limits (about 0.1 s), not 1100 cycles
    assert cycles < 20 and joints(arm)[0] == pytest.approx(HOME[0] + 1100 * 1e-5, abs=1e-12)


def test_a_1khz_stream_is_never_refused_and_never_lags(arm, sim):
    """The command follows a 1 kHz stream a cycle and a set-point behind (the
    newest begins each cycle), and the arm follows the command."""
    sends = [(k * 0.001, on_joint(0, smooth_wave(k * 0.001)), 1) for k in range(2001)]
    samples, codes = run_stream(arm, sim, sends, 275)
    assert set(codes) == {0}
    check_limits(samples)
    # a cycle and a set-point: the newest begins when the one before is reached
    travel = max(abs(smooth_wave(t + CYCLE + 0.001) - smooth_wave(t)) for t in [k * 0.001 for k in range(2000)])
    behind = [abs(q[0] - HOME[0] - smooth_wave((k + 1) * CYCLE)) for k, q in enumerate(samples[:250])]
    assert 0.8 * travel < max(behind) <= travel * 1.01
    assert samples[-1] == on_joint(0, smooth_wave(2.0)) and arm.is_in_pos() == (0, 1)


@pytest.mark.parametrize("jitter", [0.0, 0.002, 0.004])
def test_a_125hz_stream_stays_within_two_set_points(arm, sim, jitter):
    """Set-points 8 ms apart, each sent up to `jitter` early or late: the arm
    is never further from the newest than two set-points' travel."""
    late = random.Random(13)
    times = [0.0] + [k * CYCLE + late.uniform(-jitter, jitter) for k in range(1, 250)]
    sends = [(t, on_joint(0, smooth_wave(k * CYCLE)), 1) for k, t in enumerate(times)]
    samples, codes = run_stream(arm, sim, sends, 260)
    assert set(codes) == {0}
    check_limits(samples)
    travel = max(abs(smooth_wave((k + 1) * CYCLE) - smooth_wave(k * CYCLE)) for k in range(250))
    for k, q in enumerate(samples):
        newest = max(i for i, t in enumerate(times) if t <= (k + 1) * CYCLE)
        assert abs(q[0] - sends[newest][1][0]) <= 2 * travel, (k, newest)


@settings(max_examples=40, deadline=None, derandomize=True,
          suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.filter_too_much])
@given(stream=st.lists(st.tuples(st.lists(st.floats(-1.0, 1.0), min_size=6, max_size=6),
                                 st.integers(1, 6), st.floats(0.0002, 0.03)), min_size=3, max_size=80))
def test_random_streams_keep_every_joint_within_its_limits(arm, sim, stream):
    """Each set-point moves every joint by up to its maximum speed over its
    steps (the most a set-point may ask), after a random interval: bursts,
    jitter, pauses and reversals. Every cycle keeps each joint's speed,
    acceleration and jerk; the arm rests on the last set-point, unless it
    fell more than the following error behind its command, which ends the
    stream with its code and a quick stop."""
    sends, target, now = [], list(HOME), 0.0
    for share, steps, gap in stream:
        target = [a + s * m * CYCLE * steps * 0.999 for a, s, m in zip(target, share, MAX_SPEED)]
        sends.append((now, list(target), steps))
        now += gap
    assume(all(lo <= q <= hi for _, t, _ in sends for q, lo, hi in zip(t, LOWER, UPPER)))
    assert arm.servo_move_enable(0) == (0,)
    sim.set_time_scale(0)
    assert arm.joint_move(HOME, 0, True, 3.0) == (0,)
    cycles = int(now / CYCLE) + 250
    samples, codes = run_stream(arm, sim, sends, cycles)
    behind = [max(abs(c - q) for c, q in zip(cq, qq)) for cq, qq in zip(command(sends, cycles), samples)]
    tripped = next((k for k, b in enumerate(behind) if b > FOLLOWING_ERROR), None)
    assert arm.get_robot_status()[1][0] == (FOLLOWING_ERROR_CODE if tripped is not None else 0)
    assert set(codes) == {0} or (tripped is not None and set(codes) == {0, SERVO_INACTIVE})
    if tripped is None:
        check_limits(samples)
        assert samples[-1] == pytest.approx(target, abs=1e-12) and arm.is_in_pos() == (0, 1)
    else:
        check_limits(samples[:tripped])
        check_limits(samples, acc=QUICK_JOINT_DEC, jerk=QUICK_JERK_FACTOR * JOINT_JERK)


def test_a_stream_the_arm_cannot_follow_ends_with_the_following_error(arm, sim):
    """A 1 kHz stream whose set-points each ask a whole cycle's travel at
    0.8 times the maximum speed moves the command at 6.4 times it: the arm
    follows at its limit until it is a quarter turn behind, then the stream
    ends with 25, a quick stop and the error state."""
    handler = Handler(arm)
    step = 0.8 * MAX_SPEED[0] * CYCLE
    sends = [(k * 0.001, on_joint(0, -k * step), 1) for k in range(120)]
    samples, codes = run_stream(arm, sim, sends, 150)
    behind = [abs(c[0] - q[0]) for c, q in zip(command(sends, 150), samples)]
    tripped = next(k for k, b in enumerate(behind) if b > FOLLOWING_ERROR)
    assert max(behind[:tripped]) <= FOLLOWING_ERROR
    assert codes[-1] == SERVO_INACTIVE and arm.get_robot_status()[1][6] == 0  # the stream has ended
    assert arm.get_robot_status()[1][0] == FOLLOWING_ERROR_CODE  # the error state
    check_limits(samples[:tripped])
    check_limits(samples, acc=QUICK_JOINT_DEC, jerk=QUICK_JERK_FACTOR * JOINT_JERK)
    assert samples[-1] == samples[-2]  # at rest, where the quick stop brought it
    assert handler.next() == FOLLOWING_ERROR_CODE
    assert arm.servo_move_enable(1) == (12,)  # the error state, until clear_error

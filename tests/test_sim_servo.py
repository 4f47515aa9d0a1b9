"""Servo mode of the virtual arm: switching it, step counts, relative and
Cartesian set-points, the joint low-pass filter, and what is refused; the
stream's model (the newest set-point supersedes one not begun): at 1 kHz
nothing refused and no lag, at 125 Hz with a late or early set-point within
two set-points, and no joint ever faster than its maximum speed. Streams run
in manual time (Probe.advance_time), so each set-point arrives at a known
simulated time. Leaving servo mode is test_sim_stops.py's."""

import math
import random

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from motionkit import record_cycles, within

from simkit import (HOME, INVALID_ARGUMENT, JOINT_LIMIT, MAX_SPEED, NOT_ENABLED, SERVO_ACTIVE,
                    SERVO_INACTIVE, SPEED_LIMIT, UPPER, close, joints, pose_matrix, tcp, wait_until)


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


def test_step_num_spreads_a_set_point_over_cycles(arm, sim):
    sim.set_time_scale(0.5)  # a cycle every 16 ms
    assert arm.servo_move_enable(1) == (0,)
    target = list(HOME)
    target[0] += 0.2
    assert arm.servo_j_extend(target, 0, 50) == (0,)  # 50 cycles: 0.8 s here
    assert wait_until(lambda: joints(arm)[0] > HOME[0], timeout=5)
    seen = joints(arm)[0]
    assert seen < target[0]
    fraction = (seen - HOME[0]) / 0.2
    assert abs(fraction * 50 - round(fraction * 50)) < 1e-9  # a whole number of the 50 steps
    assert wait_until(lambda: arm.is_in_pos() == (0, 1), timeout=5)
    assert joints(arm) == target


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


def test_set_points_faster_than_the_cycle_supersede_each_other(arm, sim):
    """1100 set-points within one cycle: none refused, none queued behind
    the others; the next cycle reaches the newest (relative ones add up)."""
    sim.advance_time(0)  # manual time: they all arrive before the next cycle
    assert arm.servo_move_enable(1) == (0,)
    codes = [arm.servo_j([1e-5, 0, 0, 0, 0, 0], 1)[0] for _ in range(1100)]
    assert set(codes) == {0}
    sim.advance_time(0.008)
    assert joints(arm)[0] == pytest.approx(HOME[0] + 1100 * 1e-5, abs=1e-12)
    sim.advance_time(0.008)
    assert arm.is_in_pos() == (0, 1)


def test_the_joint_low_pass_filter_lags_the_set_point(arm, sim):
    cutoff = 2.0
    alpha = 1 - math.exp(-2 * math.pi * cutoff * 0.008)
    assert arm.servo_move_use_joint_LPF(cutoff) == (0,)
    sim.set_time_scale(0.2)  # a cycle every 40 ms
    assert arm.servo_move_enable(1) == (0,)
    assert arm.servo_j([0.02, 0, 0, 0, 0, 0], 1) == (0,)
    assert wait_until(lambda: joints(arm)[0] != HOME[0], timeout=5, period=0.001)
    moved = (joints(arm)[0] - HOME[0]) / 0.02
    # after n cycles a first-order filter has covered 1 - (1 - alpha)^n of a step
    cycles = math.log(1 - moved) / math.log(1 - alpha)
    assert moved < 0.5 and cycles == pytest.approx(round(cycles), abs=1e-6) and round(cycles) >= 1
    sim.set_time_scale(0)
    assert joints(arm)[0] == pytest.approx(HOME[0] + 0.02, abs=1e-12)


def test_without_a_filter_a_one_step_set_point_is_reached_in_one_cycle(arm, sim):
    sim.set_time_scale(0.2)
    assert arm.servo_move_enable(1) == (0,)
    assert arm.servo_j([0.02, 0, 0, 0, 0, 0], 1) == (0,)
    assert wait_until(lambda: joints(arm)[0] != HOME[0], timeout=5, period=0.001)
    assert joints(arm)[0] == HOME[0] + 0.02


@pytest.mark.parametrize("name, args", [("servo_move_use_none_filter", ()), ("servo_move_use_joint_LPF", (0.5,)),
                                        ("servo_move_use_joint_NLF", (1, 2.5, 3)),
                                        ("servo_move_use_carte_NLF", (1, 2, 3, 4, 5, 6)),
                                        ("servo_move_use_joint_MMF", (10, 1.0, 0.5, 0.1)),
                                        ("servo_speed_foresight", (15, 0.8))])
def test_filters_are_chosen_while_servo_mode_is_off(arm, instant, name, args):
    assert getattr(arm, name)(*args) == (0,)
    assert arm.servo_move_enable(1) == (0,)
    assert getattr(arm, name)(*args) == (SERVO_ACTIVE,)


# ---- the stream's model ---------------------------------------------------------------------

AMPLITUDE, FREQUENCY = 0.4, 0.5  # rad, Hz: joint 1 at up to 1.26 rad/s
CYCLE = 0.008


def wave(t):
    return [q + (AMPLITUDE * math.sin(2 * math.pi * FREQUENCY * t) if j == 0 else 0.0) for j, q in enumerate(HOME)]


def test_a_1khz_stream_is_never_refused_and_never_lags(arm, sim):
    sim.advance_time(0)
    assert arm.servo_move_enable(1) == (0,)
    one_cycle = AMPLITUDE * 2 * math.pi * FREQUENCY * CYCLE  # the most the stream moves in a cycle
    worst = 0.0
    for k in range(3000):
        assert arm.servo_j(wave(k * 0.001), 0) == (0,)
        sim.advance_time(0.001)
        worst = max(worst, abs(joints(arm)[0] - wave(k * 0.001)[0]))
    assert 0.5 * one_cycle < worst <= one_cycle + 1e-9  # following error: within one cycle's travel
    sim.advance_time(2 * CYCLE - 0.001)  # two cycles after the last set-point: at rest on it
    assert joints(arm) == pytest.approx(wave(2.999), abs=1e-12) and arm.is_in_pos() == (0, 1)


@pytest.mark.parametrize("jitter", [0.0, 0.002, 0.004])
def test_a_125hz_stream_stays_within_two_set_points(arm, sim, jitter):
    """Set-points 8 ms apart, each sent up to `jitter` early or late."""
    sim.advance_time(0)
    late = random.Random(13)
    assert arm.servo_move_enable(1) == (0,)
    sent = []
    for k in range(400):
        sent.append(wave(k * CYCLE))
        assert arm.servo_j(sent[-1], 0) == (0,)
        sim.advance_time(CYCLE + late.uniform(-jitter, jitter))
        here = joints(arm)
        assert min(abs(here[0] - q[0]) for q in sent[-3:]) < 1e-12  # one of the newest three


@settings(max_examples=30, deadline=None, derandomize=True,
          suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(stream=st.lists(st.tuples(st.lists(st.floats(-1.0, 1.0), min_size=6, max_size=6),
                                 st.integers(1, 6), st.floats(0.0002, 0.03)), min_size=1, max_size=60),
       cutoff=st.one_of(st.none(), st.floats(0.5, 50.0)))
def test_random_streams_keep_every_joint_within_its_speed(arm, sim, home, stream, cutoff):
    """Each set-point moves every joint by up to its maximum speed over its
    steps (the most a set-point may ask), sent after a random interval."""
    assert arm.servo_move_enable(0) == (0,)
    sim.set_time_scale(0)
    assert arm.joint_move(HOME, 0, True, 3.0) == (0,)
    assert (arm.servo_move_use_joint_LPF(cutoff) if cutoff else arm.servo_move_use_none_filter()) == (0,)
    sim.advance_time(0)

    def run(r):
        assert r.servo_move_enable(1) == (0,)
        target = list(HOME)
        for share, steps, gap in stream:
            step = [s * m * CYCLE * steps * 0.999 for s, m in zip(share, MAX_SPEED)]
            if r.servo_j_extend(step, 1, steps) == (0,):
                target = [a + b for a, b in zip(target, step)]
            sim.advance_time(gap)
        for _ in range(3000):
            if r.is_in_pos() == (0, 1):
                break
            sim.advance_time(CYCLE)
        return target

    [target], motion = record_cycles(arm, home, [run])
    for j in range(6):
        within([qd[j] for qd in motion.joint_speeds()], MAX_SPEED[j])
    assert joints(arm) == pytest.approx(target, abs=1e-9)

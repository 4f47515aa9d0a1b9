"""What a servo stream asks beyond the arm's limits, cycle by cycle in manual
time: bursts of three set-points, a pause, a reversal, an abrupt end at
2.25 rad/s, a stream that stalls and then catches up (set-points a few
milliseconds late or early are test_sim_servo.py's). In every cycle each
joint keeps its speed, acceleration and jerk; the lag each case costs stays
within what docs/virtual-controller.md says, and the arm comes to rest on the
last set-point. Leaving servo mode mid-stream is a stop at the stop's limits,
the joints together along their way."""

import math

import pytest

from motionkit import JOINT_JERK, MAX_JOINT_ACC
from servokit import STOP_LIMITS, check_limits, command, on_joint, run_stream
from simkit import ADDRESS, CYCLE, HOME, joints


def speeds_to_path(speeds, start=0.0):
    """Positions every cycle of a joint moving at these speeds (rad/s), one per cycle."""
    out, at = [], start
    for v in speeds:
        at += v * CYCLE
        out.append(at)
    return out


def ramp_to(speed, cycles=60):
    """From rest to `speed` within every limit (a cosine: its acceleration
    and jerk start at zero)."""
    return [speed * (1 - math.cos(math.pi * k / cycles)) / 2 for k in range(cycles)]


def regular(path, every=1):
    """One set-point per cycle, sent `every` at a time (bursts)."""
    return [((k // every) * every * CYCLE, on_joint(0, p), 1) for k, p in enumerate(path)]


def stopping_way(speed):
    """How far a joint at `speed` runs while it stops at the limits: the
    deceleration rises at the jerk limit, holds, falls again."""
    return speed * (speed / MAX_JOINT_ACC + MAX_JOINT_ACC / JOINT_JERK) / 2


CRUISE = speeds_to_path(ramp_to(1.0) + [1.0] * 80 + ramp_to(1.0)[::-1])  # ends at rest
END = speeds_to_path(ramp_to(2.25) + [2.25] * 20)
REVERSAL = speeds_to_path(ramp_to(1.5) + [1.5] * 20 + [-1.5] * 120 + [-x for x in ramp_to(1.5)[::-1]])
STALL = 0.15  # s: the set-points due meanwhile go out at once after it

CASES = {
    # name: (sends, how far the arm may be from the command (rad)): each abrupt
    # change of the command's speed costs about a stop's way from that change,
    # changes closer together add up, and a jump of the command adds its length
    "bursts of three": (regular(CRUISE, every=3), 2 * 1.0 * CYCLE),
    "a pause of 0.1 s": ([(t + (0.1 if t > 0.8 else 0), q, n) for t, q, n in regular(CRUISE)],
                         2 * stopping_way(1.0)),
    "a reversal at 1.5 rad/s": (regular(REVERSAL), stopping_way(3.0)),
    "an abrupt end at 2.25 rad/s": (regular(END), stopping_way(2.25)),
    "a stall, then catching up": ([(max(t, 0.8 + STALL) if 0.8 <= t < 0.8 + STALL else t, q, n)
                                  for t, q, n in regular(CRUISE)], STALL * 1.0 + 3 * stopping_way(1.0)),
}


@pytest.mark.parametrize("case", sorted(CASES))
def test_every_cycle_keeps_the_limits_and_the_lag_stays_bounded(arm, sim, case):
    sends, bound = CASES[case]
    cycles = int(sends[-1][0] / CYCLE) + 120
    samples, codes = run_stream(arm, sim, sends, cycles)
    assert set(codes) == {0}
    check_limits(samples)
    apart = [c[0] - q[0] for c, q in zip(command(sends, cycles), samples)]
    assert max(map(abs, apart)) <= bound
    assert 0.5 * bound < max(map(abs, apart))  # the bound is the figure, not a loose one
    assert samples[-1] == sends[-1][1] and arm.is_in_pos() == (0, 1)
    assert arm.get_robot_status()[1][0] == 0


def test_the_arm_catches_up_and_then_follows_closely(arm, sim):
    """After the reversal, which the arm cannot make at once, it comes back
    onto the stream and follows it within 1e-4 rad again, as any stream
    within its limits."""
    sends, _ = CASES["a reversal at 1.5 rad/s"]
    samples, _ = run_stream(arm, sim, sends, len(sends))
    apart = [abs(c[0] - q[0]) for c, q in zip(command(sends, len(sends)), samples)]
    assert max(apart[-80:]) < 1e-4 and max(apart) > 0.4


# the stop, its kind, how it is ordered
STOPS = [
    ("servo_move_enable(0)", "controlled", lambda r, sim: r.servo_move_enable(0)),
    ("motion_abort", "controlled", lambda r, sim: r.motion_abort()),
    ("disable_robot", "quick", lambda r, sim: r.disable_robot()),
    ("a fault", "quick", lambda r, sim: sim.trigger_fault(ADDRESS, 31)),
]
SHARES = [1.0, -0.5, 0.0, 0.0, 0.0, 0.25]  # of joint 1's way: the joints move together


@pytest.mark.parametrize("at", [30, 75])  # speeding up; cruising at 2 rad/s
@pytest.mark.parametrize("name, kind, stop", STOPS, ids=[s[0] for s in STOPS])
def test_leaving_mid_stream_stops_the_joints_together_at_the_stops_limits(arm, sim, name, kind, stop, at):
    path = speeds_to_path(ramp_to(2.0) + [2.0] * 40)
    sends = [(k * CYCLE, [q + s * p for q, s in zip(HOME, SHARES)], 1) for k, p in enumerate(path)]
    before, _ = run_stream(arm, sim, sends[:at], at)
    stop(arm, sim)
    after = []
    while arm.is_in_pos() != (0, 1):
        sim.advance_time(CYCLE)
        after.append(joints(arm))
    samples = before + after
    acc, jerk = STOP_LIMITS[kind]
    check_limits(samples, acc=acc, jerk=jerk)
    start = before[-1]
    for j, share in enumerate(SHARES):  # on along the way the joints went, resting together
        assert max(abs(q[j] - start[j] - share * (q[0] - start[0])) for q in after) < 2e-3
    assert len(after) < 0.5 / CYCLE

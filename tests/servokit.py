"""Servo streams in manual time, sampled at the end of every cycle, and the
documented servo model read independently (docs/virtual-controller.md,
"Servo mode"): the command the set-points make, and the joint limits a
stream is followed within. Plain Python like simkit.py; the filter tests
bring numpy and their references."""

import math

from motionkit import JOINT_JERK, MAX_JOINT_ACC, QUICK_JERK_FACTOR, QUICK_JOINT_DEC, SLACK
from simkit import CYCLE, HOME, MAX_SPEED, joints

FOLLOWING_ERROR = math.pi / 2   # rad, any joint: beyond it the stream ends
FOLLOWING_ERROR_CODE = 25
STOP_LIMITS = {"controlled": (MAX_JOINT_ACC, JOINT_JERK),
               "quick": (QUICK_JOINT_DEC, QUICK_JERK_FACTOR * JOINT_JERK)}


def on_joint(j, offset, base=HOME):
    """`base` with joint j moved by offset."""
    return [q + (offset if i == j else 0.0) for i, q in enumerate(base)]


# Simulated time is a sum of floating-point steps, so "at a cycle" is a
# matter of rounding: a set-point due at a cycle goes out this long after it,
# and the joints are read this long after each cycle.
AFTER = 1e-7    # s
READ = 1e-6     # s


def arrival(t):
    return t + AFTER if t > 0 else t  # the first, at 0, starts the arm's cycles


def run_stream(robot, sim, sends, cycles, function="servo_j"):
    """Sends (time after the stream starts, values, steps) in manual time and
    reads the joints at the end of each of `cycles` cycles; the stream's
    first set-point, at time 0, starts the arm's cycles. Returns the joints
    per cycle and the code of each set-point."""
    sim.advance_time(0)
    assert robot.servo_move_enable(1) == (0,)
    sim.advance_time(3 * CYCLE)  # the arm rests, waiting for set-points: its clock starts at the first
    now, codes, samples = 0.0, [], []
    events = sorted([(arrival(t), 0, i) for i, (t, _, _) in enumerate(sends)] +
                    [((k + 1) * CYCLE + READ, 1, k) for k in range(cycles)])
    for t, kind, i in events:
        sim.advance_time(max(0.0, t - now))
        now = max(now, t)
        if kind == 0:
            values, steps = sends[i][1], sends[i][2]
            call = getattr(robot, function + "_extend")
            codes.append(call(values, 0, steps)[0])
        else:
            samples.append(joints(robot))
    return samples, codes


def command(sends, cycles, start=HOME):
    """The command at the end of each cycle: a set-point is reached over its
    steps from where the command stands when it begins, which is when it
    arrives or when the one before it is reached, if later; one more waits,
    and a newer one replaces it."""
    at, piece, waiting, free = list(start), None, None, 0.0  # piece: (from, to, begin, end)
    out = []

    def move_on(t):
        nonlocal at, piece, waiting, free
        while True:
            if piece and t >= piece[3] - 1e-12:
                at, free, piece = piece[1], piece[3], None
            if piece or not waiting or max(waiting[2], free) > t:
                return
            begin = max(waiting[2], free)
            piece, waiting = (at, waiting[0], begin, begin + waiting[1] * CYCLE), None

    events = sorted([(arrival(t), 0, i) for i, (t, _, _) in enumerate(sends)] +
                    [((k + 1) * CYCLE, 1, k) for k in range(cycles)])
    for t, kind, i in events:
        move_on(t)
        if kind == 0:
            waiting = (list(sends[i][1]), sends[i][2], t)
            move_on(t)
        elif piece:
            share = (t - piece[2]) / (piece[3] - piece[2])
            out.append([a + (b - a) * share for a, b in zip(piece[0], piece[1])])
        else:
            out.append(list(at))
    return out


def rates(samples, before=HOME):
    """Per joint: the speeds, accelerations and jerks of the samples, as
    first, second and third differences over one cycle (the arm at `before`
    and at rest until the first)."""
    q = [list(before)] * 3 + [list(s) for s in samples]
    v = [[(b - a) / CYCLE for a, b in zip(q[k], q[k + 1])] for k in range(len(q) - 1)]
    a = [[(y - x) / CYCLE for x, y in zip(v[k], v[k + 1])] for k in range(len(v) - 1)]
    j = [[(y - x) / CYCLE for x, y in zip(a[k], a[k + 1])] for k in range(len(a) - 1)]
    return v, a, j


def check_limits(samples, before=HOME, acc=MAX_JOINT_ACC, jerk=JOINT_JERK, speed=MAX_SPEED):
    """Every joint within its speed, and the acceleration and jerk, in every cycle."""
    v, a, j = rates(samples, before)
    for name, values, bound in (("speed", v, speed), ("acceleration", a, [acc] * 6), ("jerk", j, [jerk] * 6)):
        for joint in range(6):
            top = max(abs(x[joint]) for x in values)
            assert top <= bound[joint] * SLACK + 1e-9, f"joint {joint + 1}'s {name} {top} exceeds {bound[joint]}"

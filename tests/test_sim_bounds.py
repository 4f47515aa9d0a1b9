"""Nothing the virtual controller accepts runs without end: speeds,
accelerations and the rapid rate have lower bounds, a program's wait and a
servo set-point's steps upper ones, in the calls and in program lines, and a
blend tolerance is a finite number >= 0. Each bound is tested on both sides;
the attacks that found the gap (a move at 1e-300, a program line at that
speed) run in a child with a time limit, so that a regression fails instead
of hanging the suite."""

import math
import subprocess
import sys

import pytest

from simkit import ADDRESS, INVALID_ARGUMENT, PROGRAM_LINE, Q1, STEP, Handler, down, write_program

NAN, INF = math.nan, math.inf
MIN_JOINT_SPEED = MIN_JOINT_ACC = 0.01  # rad/s, rad/s^2: joint moves and jogs of joints and turns
MIN_LINEAR_SPEED = MIN_LINEAR_ACC = 1.0  # mm/s, mm/s^2
MIN_RATE = 0.01
MAX_SERVO_STEPS = 12500
MAX_WAIT = 86400.0
BELOW = 1 - 1e-9  # a hair below a lower bound

DOWN = [0, 0, -0.5, 0, 0, 0]  # a short relative Cartesian move


def lowered(robot):
    return down(robot, 0.5)


# (call on a powered, enabled arm at time scale 0, accepted) for values at and beyond each bound
BOUNDS = [
    *[(f"joint speed {speed}", lambda r, s=speed: r.joint_move(STEP, 1, True, s), ok)
      for speed, ok in [(MIN_JOINT_SPEED, True), (MIN_JOINT_SPEED * BELOW, False), (1e-300, False)]],
    *[(f"joint extend {speed} {acc}", lambda r, s=speed, a=acc: r.joint_move_extend(STEP, 1, True, s, a, 0), ok)
      for speed, acc, ok in [(MIN_JOINT_SPEED, MIN_JOINT_ACC, True), (1.0, MIN_JOINT_ACC * BELOW, False),
                             (MIN_JOINT_SPEED * BELOW, 1.0, False), (1.0, 5e-324, False)]],
    *[(f"linear {speed} {acc}", lambda r, s=speed, a=acc: r.linear_move_extend(DOWN, 1, True, s, a, 0), ok)
      for speed, acc, ok in [(MIN_LINEAR_SPEED, MIN_LINEAR_ACC, True), (MIN_LINEAR_SPEED * BELOW, 100, False),
                             (100, MIN_LINEAR_ACC * BELOW, False), (1e-300, 100, False)]],
    ("linear_move 1e-300", lambda r: r.linear_move(DOWN, 1, True, 1e-300), False),
    *[(f"arc {speed} {acc}", lambda r, s=speed, a=acc: r.circular_move([0, 2, 0, 0, 0, 0], [1, 1, 0, 0, 0, 0],
                                                                    1, True, s, a, 0), ok)
      for speed, acc, ok in [(MIN_LINEAR_SPEED, MIN_LINEAR_ACC, True), (0.5, 100, False), (100, 0.5, False)]],
    # jogs: rad/s for a joint (coord 1) or a turn (axes 3..5), mm/s along an axis, either sign
    *[(f"jog {axis} {coord} {vel}", lambda r, a=axis, c=coord, v=vel: r.jog(a, 1, c, v, 0.001 * math.copysign(1, v)),
       ok)
      for axis, coord, vel, ok in [(0, 1, MIN_JOINT_SPEED, True), (0, 1, -MIN_JOINT_SPEED, True),
                                   (0, 1, MIN_JOINT_SPEED * BELOW, False), (5, 1, -1e-300, False),
                                   (2, 0, -MIN_LINEAR_SPEED, True), (2, 0, -MIN_LINEAR_SPEED * BELOW, False),
                                   (0, 2, 0.5, False), (3, 0, MIN_JOINT_SPEED, True),
                                   (4, 2, -MIN_JOINT_SPEED * BELOW, False)]],
    ("continuous jog 1e-300", lambda r: r.jog(0, 2, 1, 1e-300), False),
    *[(f"rapid rate {rate}", lambda r, x=rate: r.set_rapidrate(x), ok)
      for rate, ok in [(MIN_RATE, True), (MIN_RATE * BELOW, False), (1e-300, False)]],
    *[(f"trajectory config vel {vel} acc {acc}", lambda r, v=vel, a=acc: r.set_traj_config((1.0, 0.01, v, a)), ok)
      for vel, acc, ok in [(MIN_LINEAR_SPEED, MIN_LINEAR_ACC, True), (0.5, 100, False), (100, 0.5, False)]],
    # blend tolerances: 0 or a finite positive distance
    *[(f"{name} tol {tol}", lambda r, c=call, t=tol: c(r, t), ok)
      for name, call in [("joint", lambda r, t: r.joint_move_extend(STEP, 1, False, 1.0, 1.0, t)),
                         ("linear", lambda r, t: r.linear_move_extend(DOWN, 1, False, 100, 500, t)),
                         ("arc", lambda r, t: r.circular_move([0, 2, 0, 0, 0, 0], [1, 1, 0, 0, 0, 0], 1, False,
                                                              100, 500, t))]
      for tol, ok in [(0.0, True), (0.5, True), (NAN, False), (INF, False), (-INF, False), (-0.5, False),
                      (-5e-324, False)]],
]


@pytest.mark.parametrize("text, call, accepted", BOUNDS, ids=[row[0] for row in BOUNDS])
def test_each_bound_holds_exactly_where_it_is_documented(arm, instant, text, call, accepted):
    assert call(arm) == ((0,) if accepted else (INVALID_ARGUMENT,))


@pytest.mark.parametrize("steps, code", [(MAX_SERVO_STEPS, 0), (MAX_SERVO_STEPS + 1, INVALID_ARGUMENT),
                                         (2 ** 31 - 1, INVALID_ARGUMENT)])
def test_a_servo_set_point_is_spread_over_at_most_100_s(arm, instant, steps, code):
    assert arm.servo_move_enable(1) == (0,)
    assert arm.servo_j_extend([0.001, 0, 0, 0, 0, 0], 1, steps) == (code,)
    assert arm.servo_p_extend([0, 0, -0.01, 0, 0, 0], 1, steps) == (code,)


def words(values):
    return " ".join(repr(float(v)) for v in values)


@pytest.mark.parametrize("line, ok", [
    (f"movj {words(Q1)} {MIN_JOINT_SPEED}", True),
    (f"movj {words(Q1)} {MIN_JOINT_SPEED * BELOW!r}", False),
    (f"movj {words(Q1)} 1 {MIN_JOINT_ACC}", True),
    (f"movj {words(Q1)} 1 {MIN_JOINT_ACC * BELOW!r}", False),
    (f"movj {words(Q1)} 1e-300", False),
    (f"wait {MAX_WAIT}", True),
    (f"wait {MAX_WAIT * (1 + 1e-9)!r}", False),
    ("wait 1e300", False),
])
def test_program_lines_keep_the_calls_bounds(arm, instant, home, line, ok):
    events = Handler(arm)
    write_program(home, "bounded", [line])
    assert arm.program_load("bounded") == (0,)
    assert arm.program_run() == (0,)
    code = arm.get_robot_status()[1][0]
    if ok:
        assert code == 0
    else:
        assert events.next() == PROGRAM_LINE and code == PROGRAM_LINE


@pytest.mark.parametrize("speed, acc, ok", [(MIN_LINEAR_SPEED, None, True), (MIN_LINEAR_SPEED * BELOW, None, False),
                                            (100, MIN_LINEAR_ACC, True), (100, MIN_LINEAR_ACC * BELOW, False),
                                            (1e-300, None, False)])
def test_a_linear_program_line_keeps_the_linear_bounds(arm, instant, home, speed, acc, ok):
    target = lowered(arm)
    write_program(home, "line", [f"movl {words(target)} {speed!r}" + ("" if acc is None else f" {acc!r}")])
    assert arm.program_load("line") == (0,) and arm.program_run() == (0,)
    assert arm.get_robot_status()[1][0] == (0 if ok else PROGRAM_LINE)


ATTACK = """
import os, sys, time, velmo, zandrel_sim
sim = zandrel_sim.Probe(); sim.reset(); sim.set_time_scale(float(sys.argv[1]))
r = velmo.RC("{address}"); r.login(); r.power_on(); r.enable_robot()
folder = os.path.join(os.environ["ZSIM_HOME"], "programs"); os.makedirs(folder, exist_ok=True)
with open(os.path.join(folder, "slow"), "w") as f:
    f.write("movj 0.3 1.3 -1.2 -1.6 -1.5 0.2 1e-300\\n")
print(r.joint_move([0.3, 1.3, -1.2, -1.6, -1.5, 0.2], 0, True, 1e-300)[0],
      r.linear_move([0, 0, -10, 0, 0, 0], 1, True, 1e-300)[0],
      r.jog(0, 2, 1, 1e-300)[0], r.set_rapidrate(1e-300)[0],
      r.program_load("slow")[0], r.program_run()[0])
deadline = time.monotonic() + 10
while r.get_program_state()[1] == 1 and time.monotonic() < deadline:  # running: it reaches line 1 next cycle
    time.sleep(0.01)
print(r.get_program_state()[1], r.get_robot_status()[1][0])
"""


@pytest.mark.parametrize("scale", [0.0, 1.0])
def test_a_move_at_1e_300_is_refused_at_once(home, scale):
    child = subprocess.run([sys.executable, "-c", ATTACK.format(address=ADDRESS), str(scale)],
                           capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    # the program line is refused where the program reaches it, before anything moves: the
    # program stops in its error state (3) with the program line's code
    assert child.stdout.split() == [str(INVALID_ARGUMENT)] * 4 + ["0", "0", "3", str(PROGRAM_LINE)]

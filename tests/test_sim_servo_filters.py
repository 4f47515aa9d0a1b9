"""The servo stream's filters, each against an independent implementation:
the follower's generator and the joint non-linear filter against ruckig's
online generator, the Cartesian non-linear filter against ruckig on each
axis of the TCP, the low-pass, the multi-order moving mean and the speed
look-ahead against their formulas in docs/virtual-controller.md written in
numpy; and through velmo_arm, a stream filtered to 0.5 rad/s and 1 rad/s^2
that moves no joint faster."""

import ctypes
import math
import os
import shutil
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import velmo_arm
from motionkit import length, record_cycles, rotation_vector, transpose, within
from servokit import check_limits, command, on_joint, run_stream
from simkit import ADDRESS, CYCLE, HOME, flange, matmul, rotation, same_pose, tcp

try:  # the references; a test that needs one skips where it does not install (under Wine)
    import numpy as np
except ImportError:
    np = None
try:
    import ruckig
except ImportError:
    ruckig = None

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def ruckig_step(state, target, limits, bounds=None):
    """The state one cycle along ruckig's fastest way from `state` to rest at
    `target` (exactly there when the way is shorter than a cycle)."""
    if ruckig is None:
        pytest.skip("needs ruckig (requirements-ref.txt)")
    otg, inp, way = ruckig.Ruckig(1), ruckig.InputParameter(1), ruckig.Trajectory(1)
    inp.current_position, inp.current_velocity, inp.current_acceleration = [state[0]], [state[1]], [state[2]]
    inp.target_position = [target]
    inp.max_velocity, inp.max_acceleration, inp.max_jerk = [limits[0]], [limits[1]], [limits[2]]
    if bounds:
        inp.min_velocity, inp.min_acceleration = [bounds[0]], [bounds[1]]
    assert otg.calculate(inp, way) in (ruckig.Result.Working, ruckig.Result.Finished)
    if way.duration <= CYCLE:
        return (target, 0.0, 0.0)
    p, v, a = way.at_time(CYCLE)
    return (p[0], v[0], a[0])


# ---- the generator the arm follows with --------------------------------------------------

@pytest.fixture(scope="module")
def toward_rest(tmp_path_factory):
    compiler = shutil.which("g++") or shutil.which("c++")
    if sys.platform == "win32" or not compiler:
        pytest.skip("builds the generator with the system's C++ compiler")
    out = str(tmp_path_factory.mktemp("follow") / "jerk_harness.so")
    subprocess.run([compiler, "-std=c++17", "-O2", "-shared", "-fPIC", "-I", os.path.join(ROOT, "sim", "core"),
                    os.path.join(ROOT, "sim", "core", "jerk_limited.cpp"),
                    os.path.join(ROOT, "tests", "native", "jerk_harness.cpp"), "-o", out], check=True)
    lib = ctypes.CDLL(out)
    doubles = ctypes.POINTER(ctypes.c_double)
    lib.jerk_toward_rest.argtypes = [doubles, doubles, ctypes.c_double, doubles]

    def step(state, bounds):
        out = (ctypes.c_double * 3)()
        lib.jerk_toward_rest((ctypes.c_double * 3)(*state), (ctypes.c_double * 5)(*bounds), CYCLE, out)
        return list(out)
    return step


@settings(max_examples=300, deadline=None, derandomize=True,
          suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.filter_too_much])
@given(p=st.floats(-2, 2), v=st.floats(-1, 1), a=st.floats(-1, 1), v_lo=st.floats(0.2, 4), v_hi=st.floats(0.2, 4),
       a_lo=st.floats(1, 20), a_hi=st.floats(1, 20), j=st.floats(20, 500))
def test_a_cycle_toward_rest_is_the_first_cycle_of_ruckigs_way(toward_rest, p, v, a, v_lo, v_hi, a_lo, a_hi, j):
    """Bounds that differ by direction, as a frame moving with the command
    sees the limits; from states within them."""
    state = (p, v * (v_hi if v > 0 else v_lo), a * (a_hi if a > 0 else a_lo))
    settle = state[1] + state[2] * abs(state[2]) / (2 * j)  # where the velocity goes as the acceleration turns
    assume(-v_lo < settle < v_hi)
    mine = toward_rest(state, (-v_lo, v_hi, -a_lo, a_hi, j))
    reference = ruckig_step(state, 0.0, (v_hi, a_hi, j), (-v_lo, -a_lo))
    assert mine == pytest.approx(reference, abs=1e-9)


# ---- the joint non-linear filter ------------------------------------------------------------

def filter_step(state, previous, now, limits):
    """One cycle of the non-linear filter as docs/virtual-controller.md puts
    it: ruckig's fastest way, within the filter's limits, onto the command
    taken to move on at the speed of its last cycle."""
    v_max, a_max, j_max = limits
    cap = v_max * (1 - 1e-9)
    speed = max(-cap, min(cap, (now - previous) / CYCLE))
    start = now - speed * CYCLE  # where that line stands at the start of the cycle
    p, v, a = ruckig_step((state[0] - start, state[1] - speed, state[2]), 0.0, (v_max - speed, a_max, j_max),
                          (-v_max - speed, -a_max))
    return (p + now, v + speed, a)


def test_the_joint_non_linear_filter_is_an_online_generator_toward_the_newest_set_point(arm, sim):
    """Set-points that start, turn back and supersede each other faster than
    the filter's acceleration and jerk allow: each joint, each cycle, is
    where ruckig's online generator takes it."""
    limits = (0.8, 2.0, 10.0)
    assert arm.servo_move_use_joint_NLF(*limits) == (0,)
    offsets = [(0.3, -0.3, 0, 0, 0, 0.3), (0, 0, 0, 0, 0, 0), (0.3, 0, 0, 0, 0, -0.3), (0, 0.3, 0, 0, 0, 0)]
    sends = [(t, [q + d for q, d in zip(HOME, offset)], 60) for t, offset in zip((0.0, 0.9, 1.8, 2.0), offsets)]
    samples, codes = run_stream(arm, sim, sends, 700)
    assert codes == [0] * 4
    states, previous = [(q, 0.0, 0.0) for q in HOME], HOME
    for k, now in enumerate(command(sends, 700)):
        states = [filter_step(s, p, c, limits) for s, p, c in zip(states, previous, now)]
        previous = now
        assert samples[k] == pytest.approx([s[0] for s in states], abs=1e-9), k
    check_limits(samples, acc=limits[1], jerk=limits[2], speed=[limits[0]] * 6)
    assert samples[-1] == sends[-1][1]


def test_a_stream_filtered_through_velmo_arm_moves_no_joint_faster_than_the_filter(sim, home):
    """velmo_arm's stream at 125 Hz, paced on simulated time, with a stall it
    catches up on: filtered to 0.5 rad/s and 1 rad/s^2, no joint goes faster
    or speeds up harder in any cycle."""
    sim.advance_time(0)

    def sleep(seconds):
        sim.advance_time(seconds)
        clock[0] += seconds
    clock = [0.0]
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        def stream(r):
            with arm.servo(rate_hz=125, filter=velmo_arm.JointNonLinear(0.5, 1.0, 20.0),
                           clock=lambda: clock[0], sleep=sleep) as s:
                for k in range(300):
                    s.send(on_joint(1, 0.9 * math.sin(math.pi * k / 300) ** 2, on_joint(0, 0.004 * k)))
                    if k == 100:
                        sleep(0.15)  # a stall: the set-points due meanwhile go out at once
                sleep(3.0)  # time to settle, in simulated time
            return (0,)
        _, motion = record_cycles(arm.rc, home, [stream])
    assert motion.peak([qd[1] for qd in motion.joint_speeds()]) > 0.45  # the filter's speed is what binds
    for j in (0, 1):
        within([qd[j] for qd in motion.joint_speeds()], 0.5)
        within([acc[j] for acc in motion.joint_accelerations()], 1.0)


# ---- the Cartesian non-linear filter -----------------------------------------------------

def test_the_cartesian_non_linear_filter_follows_each_axis_of_the_tcp_within_its_limits(arm, sim):
    """A line of 150 mm and a turn of 0.3 rad asked in 0.2 s: the TCP
    follows ruckig's online generator toward the newest pose on each axis,
    within max/sqrt(3) there, so its speed and turning speed keep the limits."""
    limits = (100.0, 400.0, 4000.0, 0.5, 2.0, 20.0)
    assert arm.servo_move_use_carte_NLF(*limits) == (0,)
    start = tcp(arm)
    goal = [start[0] + 150.0, *start[1:5], start[5] + 0.3]
    sends = [(k * CYCLE, [a + (b - a) * (k + 1) / 25 for a, b in zip(start, goal)], 1) for k in range(25)]
    samples, codes = run_stream(arm, sim, sends, 450, function="servo_p")
    assert set(codes) == {0}
    per_axis = [x / math.sqrt(3) for x in limits]
    state = [(x, 0.0, 0.0) for x in start[:3]]
    for k, q in enumerate(samples):
        target = sends[min(k, 24)][1]  # the newest set-point, reached by the command at the end of this cycle
        state = [ruckig_step(s, t, per_axis[:3]) for s, t in zip(state, target[:3])]
        assert position(q) == pytest.approx([s[0] for s in state], abs=0.05), k  # the joints follow within 1e-5 rad
    speeds = [math.dist(position(a), position(b)) / CYCLE for a, b in zip(samples, samples[1:])]
    turns = [length(rotation_vector(matmul(rotation(flange(b)), transpose(rotation(flange(a)))))) / CYCLE
             for a, b in zip(samples, samples[1:])]
    assert 0.9 * per_axis[0] < max(speeds) <= limits[0] * 1.01
    assert 0.9 * per_axis[3] < max(turns) <= limits[3] * 1.01
    assert same_pose(tcp(arm), goal, mm=1e-6, rad=1e-9)


def position(q):
    """The flange's (and, with tool 0, the TCP's) position in the base frame."""
    return [row[3] for row in flange(q)[:3]]


# ---- the linear filters ---------------------------------------------------------------------

def box(x, n):
    """The mean of the last n samples (the first repeated before the start)."""
    padded = np.concatenate([np.full(n - 1, x[0]), x])
    return np.convolve(padded, np.ones(n) / n, mode="valid")


def low_pass(c, cutoff):
    share = 1 - math.exp(-2 * math.pi * cutoff * CYCLE)
    y = np.empty_like(c)
    previous = c[0]
    for k, x in enumerate(c):
        previous = y[k] = previous + share * (x - previous)
    return y


def moving_means(c, n, kp, kv, ka):
    m1 = box(c, n)
    m2 = box(m1, n)
    m3 = box(m2, n)
    return (kp * m1 + kv * m2 + ka * m3) / (kp + kv + ka)


def look_ahead(c, n, kp):
    padded = np.concatenate([np.full(2 * n, c[0]), c])
    mean = box(padded, 2 * n + 1)[2 * n:]
    delayed = padded[n:n + len(c)]
    return delayed + kp * (mean - delayed)


FILTERS = {  # the calls that choose it, its formula
    "low-pass 3 Hz": ([("servo_move_use_joint_LPF", 3.0)], lambda c: low_pass(c, 3.0)),
    "moving means over 10": ([("servo_move_use_joint_MMF", 10, 1.0, 0.5, 0.25)],
                             lambda c: moving_means(c, 10, 1.0, 0.5, 0.25)),
    "moving mean, the third order alone": ([("servo_move_use_joint_MMF", 25, 0, 0, 2.0)],
                                           lambda c: moving_means(c, 25, 0, 0, 2.0)),
    "look-ahead over 12": ([("servo_speed_foresight", 12, 0.7)], lambda c: look_ahead(c, 12, 0.7)),
    "look-ahead, then the low-pass": ([("servo_speed_foresight", 5, 1.0), ("servo_move_use_joint_LPF", 3.0)],
                                      lambda c: low_pass(look_ahead(c, 5, 1.0), 3.0)),
}


@pytest.mark.parametrize("name", sorted(FILTERS))
def test_each_linear_filter_gives_its_formula(arm, sim, name):
    """A smooth stream on two joints: the arm follows the filtered command
    (the formula applied to the command) within 1e-4 rad, as it follows any
    command within its limits, and rests on the last set-point."""
    if np is None:
        pytest.skip("needs numpy")
    calls, formula = FILTERS[name]
    for method, *args in calls:
        assert getattr(arm, method)(*args) == (0,)
    # from rest to rest, within the arm's limits (8.2 rad/s^2 at most)
    wave = [0.3 * (1 - math.cos(2 * math.pi * k / 150)) ** 2 / 4 for k in range(151)]
    sends = [(k * CYCLE, [q + d for q, d in zip(HOME, (w, 0, -0.5 * w, 0, 0, 0))], 1) for k, w in enumerate(wave)]
    samples, codes = run_stream(arm, sim, sends, 400)
    assert set(codes) == {0}
    commanded = np.array(command(sends, 400))
    for j in (0, 2):
        expected = formula(commanded[:, j])
        assert np.max(np.abs(np.array(samples)[:, j] - expected)) < 1e-4
        assert np.max(np.abs(expected - commanded[:, j])) > 0.01  # the filter did something
    assert samples[-1] == pytest.approx(sends[-1][1], abs=1e-12) and arm.is_in_pos() == (0, 1)

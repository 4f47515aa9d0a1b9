"""The jerk-limited generator of the virtual controller (sim/core/jerk_limited),
built on its own with the system's C++ compiler and checked against ruckig,
an independent jerk-limited trajectory generator: the same durations (within
one motion cycle plus 2%), every sample within the limits (or, for a start
beyond them, no further beyond than no trajectory can avoid), and the final
state exact."""

import ctypes
import math
import os
import shutil
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

ruckig = pytest.importorskip("ruckig")

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CYCLE = 0.008
EXAMPLES = settings(max_examples=250, deadline=None, derandomize=True,
                    suppress_health_check=[HealthCheck.too_slow])
SLACK = 1 + 1e-9


@pytest.fixture(scope="module")
def generator(tmp_path_factory):
    compiler = shutil.which("g++") or shutil.which("c++")
    if sys.platform == "win32" or not compiler:
        pytest.skip("builds the generator with the system's C++ compiler")
    out = str(tmp_path_factory.mktemp("jerk") / "jerk_harness.so")
    subprocess.run([compiler, "-std=c++17", "-O2", "-shared", "-fPIC", "-I", os.path.join(ROOT, "sim", "core"),
                    os.path.join(ROOT, "sim", "core", "jerk_limited.cpp"),
                    os.path.join(ROOT, "tests", "native", "jerk_harness.cpp"), "-o", out], check=True)
    lib = ctypes.CDLL(out)
    doubles = ctypes.POINTER(ctypes.c_double)
    lib.jerk_plan.restype = ctypes.c_double
    lib.jerk_plan.argtypes = [ctypes.c_int, doubles, ctypes.c_double, doubles, ctypes.c_double, doubles,
                              ctypes.c_int, doubles]
    lib.jerk_synchronised.restype = ctypes.c_double
    lib.jerk_synchronised.argtypes = [doubles, doubles, doubles, ctypes.c_int, doubles, ctypes.c_int, doubles]
    return lib


def array(values):
    return (ctypes.c_double * len(values))(*values)


class Planned:
    """A trajectory of the generator: its duration and samples (t, p, v, a)."""

    def __init__(self, lib, kind, state, goal, limits, duration=0.0, samples=1500):
        probe_times = [0.0]
        first = lib.jerk_plan(kind, array(state), goal, array(limits), duration, array(probe_times), 1,
                              array([0.0] * 3))
        self.duration = first
        if first < 0:
            self.samples = []
            return
        step = max(first, 1e-9) / samples
        times = [i * step for i in range(samples)] + [first, first + 0.5]
        out = array([0.0] * (3 * len(times)))
        lib.jerk_plan(kind, array(state), goal, array(limits), duration, array(times), len(times), out)
        self.samples = [(t, out[3 * i], out[3 * i + 1], out[3 * i + 2]) for i, t in enumerate(times)]


def reference_duration(state, goal, limits, velocity_control=False):
    otg = ruckig.Ruckig(1)
    inp = ruckig.InputParameter(1)
    inp.current_position, inp.current_velocity, inp.current_acceleration = [state[0]], [state[1]], [state[2]]
    inp.max_velocity, inp.max_acceleration, inp.max_jerk = [limits[0]], [limits[1]], [limits[2]]
    if velocity_control:
        inp.control_interface = ruckig.ControlInterface.Velocity
        inp.target_velocity = [goal]
    else:
        inp.target_position = [goal]
    trajectory = ruckig.Trajectory(1)
    result = otg.calculate(inp, trajectory)
    assert result in (ruckig.Result.Working, ruckig.Result.Finished), result
    return trajectory.duration


def unavoidable(state, limits):
    """The velocity and acceleration a start beyond the limits cannot help
    reaching: where the velocity goes while the acceleration turns round."""
    _, v0, a0 = state
    settle = v0 + a0 * abs(a0) / (2 * limits[2])
    return max(limits[0], abs(v0), abs(settle)), max(limits[1], abs(a0))


def check_within_limits(planned, state, limits):
    vmax, amax = unavoidable(state, limits)
    jmax = limits[2]
    previous = None
    for t, p, v, a in planned.samples:
        assert abs(v) <= vmax * SLACK + 1e-12, (t, v, vmax)
        assert abs(a) <= amax * SLACK + 1e-12, (t, a, amax)
        if previous is not None and t > previous[0]:
            dt = t - previous[0]
            assert abs(a - previous[3]) <= jmax * dt * SLACK + 1e-9, (t, (a - previous[3]) / dt, jmax)
            # the velocity is the position's derivative: no jump hidden between samples
            assert abs(p - previous[1] - (v + previous[2]) / 2 * dt) <= jmax * dt ** 3 + 1e-9 * max(1, abs(p))
        previous = (t, p, v, a)


def assert_duration_close(mine, reference, state=None, limits=None):
    """Within one cycle plus 2%. From a start that must overshoot a limit
    the reference first brakes to within the limits and then plans, which
    need not be the fastest way: there the generator may only be faster."""
    tolerance = CYCLE + 0.02 * reference
    assert mine <= reference + tolerance, (mine, reference)
    if state is None or unavoidable(state, limits) == tuple(limits[:2]):
        assert mine >= reference - tolerance, (mine, reference)


limits_st = st.tuples(st.floats(0.1, 5), st.floats(0.2, 20), st.floats(1, 500))


@st.composite
def starts(draw, beyond=1.0):
    vmax, amax, jmax = draw(limits_st)
    p0 = draw(st.floats(-5, 5))
    v0 = draw(st.floats(-beyond * vmax, beyond * vmax))
    a0 = draw(st.floats(-beyond * amax, beyond * amax))
    return (p0, v0, a0), (vmax, amax, jmax)


targets = st.one_of(st.floats(-5, 5),
                    st.floats(-1e-6, 1e-6),           # a tiny way from the start (added below)
                    st.sampled_from([0.0]))


@EXAMPLES
@given(start=starts(), target=targets, relative=st.booleans())
def test_to_rest_matches_the_reference(generator, start, target, relative):
    state, limits = start
    goal = state[0] + target if relative or abs(target) < 1e-5 else target
    planned = Planned(generator, 0, state, goal, limits)
    assert_duration_close(planned.duration, reference_duration(state, goal, limits), state, limits)
    check_within_limits(planned, state, limits)
    for t, p, v, a in planned.samples[-2:]:  # at the end and after it: exactly at rest on the target
        assert (p, v, a) == (goal, 0.0, 0.0)
    t, p, v, _ = planned.samples[-3]  # the last sample before the end leads into it
    assert abs(p - goal) <= abs(v) * (planned.duration - t) + limits[1] * (planned.duration - t) ** 2 + 1e-9


@EXAMPLES
@given(start=starts(beyond=1.6), target=st.floats(-5, 5))
def test_to_rest_from_beyond_the_limits(generator, start, target):
    """Faster than the velocity limit, more acceleration than allowed, or
    accelerating the wrong way: back within the limits at the limits."""
    state, limits = start
    planned = Planned(generator, 0, state, target, limits)
    assert_duration_close(planned.duration, reference_duration(state, target, limits), state, limits)
    check_within_limits(planned, state, limits)
    assert planned.samples[-1][1:] == (target, 0.0, 0.0)


@EXAMPLES
@given(start=starts(beyond=1.3), velocity=st.one_of(st.floats(-6, 6), st.sampled_from([0.0])))
def test_to_velocity_matches_the_reference(generator, start, velocity):
    state, limits = start
    planned = Planned(generator, 1, state, velocity, limits)
    assert_duration_close(planned.duration, reference_duration(state, velocity, limits, velocity_control=True),
                          state, limits)
    amax = max(limits[1], abs(state[2]))
    previous = None
    for t, p, v, a in planned.samples:
        assert abs(a) <= amax * SLACK + 1e-12
        if previous is not None and t > previous[0]:
            assert abs(a - previous[3]) <= limits[2] * (t - previous[0]) * SLACK + 1e-9
        previous = (t, p, v, a)
    end = planned.samples[-1]
    assert end[2:] == (velocity, 0.0)
    at_end = planned.samples[-2]
    assert end[1] == pytest.approx(at_end[1] + velocity * 0.5, abs=1e-12)  # goes on at that velocity


@pytest.mark.parametrize("state, target, limits", [
    ((0, 0, 0), 1e-12, (1, 1, 1)),          # a distance below any cycle
    ((0, 2, 0), 0, (1, 1, 10)),             # twice the velocity limit, the target behind
    ((0, 1, -3), 0.05, (1, 2, 5)),          # braking harder than allowed, the target just ahead
    ((0, -0.5, 1.9), 3, (1, 2, 5)),         # moving away, accelerating toward the target
    ((0, 0.99, 1.9), 5, (1, 2, 5)),         # about to overshoot the velocity limit
    ((1, 0, 0), 1, (1, 1, 1)),              # already there
])
def test_awkward_starts(generator, state, target, limits):
    planned = Planned(generator, 0, state, target, limits, samples=20000)
    assert_duration_close(planned.duration, reference_duration(state, target, limits), state, limits)
    check_within_limits(planned, state, limits)
    assert planned.samples[-1][1:] == (target, 0.0, 0.0)


@settings(max_examples=100, deadline=None, derandomize=True, suppress_health_check=[HealthCheck.too_slow])
@given(start=starts(), target=st.floats(-5, 5), stretch=st.floats(1.0, 3.0))
def test_to_rest_in_a_given_time(generator, start, target, stretch):
    """Slowed to arrive later: exactly then, within the limits."""
    state, limits = start
    fastest = Planned(generator, 0, state, target, limits).duration
    slower = Planned(generator, 2, state, target, limits, duration=fastest * stretch + 1e-3)
    if slower.duration < 0:  # no lower velocity limit gives that time: the generator says so
        return
    assert slower.duration == pytest.approx(fastest * stretch + 1e-3, rel=1e-6)
    check_within_limits(slower, state, limits)
    assert slower.samples[-1][1:] == (target, 0.0, 0.0)


def test_to_rest_in_less_than_the_fastest_time_is_refused(generator):
    assert Planned(generator, 2, (0, 0, 0), 1, (1, 1, 1), duration=1.0).duration == -1


@settings(max_examples=60, deadline=None, derandomize=True, suppress_health_check=[HealthCheck.too_slow])
@given(coordinates=st.lists(st.tuples(starts(), st.floats(-3, 3)), min_size=2, max_size=6))
def test_synchronised_coordinates_arrive_together(generator, coordinates):
    count = len(coordinates)
    states = [c for (state, _), _ in coordinates for c in state]
    limits = [c for (_, lim), _ in coordinates for c in lim]
    goals = [goal for _, goal in coordinates]
    durations = [Planned(generator, 0, s, g, lim).duration for ((s, lim), g) in coordinates]
    samples = 800
    step = max(durations) / (samples - 2)
    times = [i * step for i in range(samples)] + [max(durations)]
    out = array([0.0] * (3 * len(times) * count))
    duration = generator.jerk_synchronised(array(states), array(goals), array(limits), count, array(times),
                                           len(times), out)
    assert duration == pytest.approx(max(durations), abs=1e-12)
    for i, ((state, lim), goal) in enumerate(coordinates):
        base = 3 * len(times) * i
        rows = [(t, out[base + 3 * k], out[base + 3 * k + 1], out[base + 3 * k + 2]) for k, t in enumerate(times)]
        assert rows[-1][1:] == (goal, 0.0, 0.0)
        planned = type("P", (), {"samples": rows})
        check_within_limits(planned, state, lim)
        # each arrives at the common time unless it cannot be slowed to it
        slowed = Planned(generator, 2, state, goal, lim, duration=duration).duration
        if slowed > 0 and durations[i] > 0:
            before = [r for r in rows if r[0] <= duration * 0.99]
            assert any(abs(r[1] - goal) > 1e-9 or r[2] != 0 for r in before)


# ---- the helpers that time a way stretch by stretch ---------------------------------------

def ruckig_end(state, limits, velocity=None, target=None):
    """ruckig's time-optimal trajectory from `state` (p, v, a) to `velocity`
    with no acceleration (velocity control), or to pass `target` at
    `velocity` with no acceleration: its duration and end (p, v, a)."""
    otg = ruckig.Ruckig(1)
    inp = ruckig.InputParameter(1)
    inp.current_position, inp.current_velocity, inp.current_acceleration = [state[0]], [state[1]], [state[2]]
    inp.max_velocity, inp.max_acceleration, inp.max_jerk = [limits[0]], [limits[1]], [limits[2]]
    inp.target_velocity, inp.target_acceleration = [velocity], [0.0]
    if target is None:
        inp.control_interface = ruckig.ControlInterface.Velocity
    else:
        inp.target_position = [target]
    trajectory = ruckig.Trajectory(1)
    assert otg.calculate(inp, trajectory) in (ruckig.Result.Working, ruckig.Result.Finished)
    end = trajectory.at_time(trajectory.duration)
    return trajectory.duration, tuple(x[0] for x in end[:3])


@pytest.fixture(scope="module")
def helpers(generator):
    for name in ("jerk_change_way", "jerk_reachable"):
        getattr(generator, name).restype = ctypes.c_double
        getattr(generator, name).argtypes = [ctypes.c_double] * 4
    generator.jerk_to_passing.restype = ctypes.c_double
    doubles = ctypes.POINTER(ctypes.c_double)
    generator.jerk_to_passing.argtypes = [doubles, ctypes.c_double, ctypes.c_double, doubles, doubles]
    return generator


CHANGES = [  # v, w, acc, jerk: speeding up and slowing down, reaching acc or not
    (0.0, 1.0, 2.0, 10.0),     # reaches acc
    (0.5, 0.6, 2.0, 10.0),     # too small a change to reach acc
    (3.0, 0.2, 5.0, 50.0),     # slowing down
    (1.0, 1.0, 1.0, 1.0),      # no change
    (0.0, 250.0, 25.0, 250.0),  # a path's units: fast and long
]


@pytest.mark.parametrize("v, w, acc, jerk", CHANGES)
def test_the_way_of_a_change_of_velocity_is_ruckigs_and_reachable_inverts_it(helpers, v, w, acc, jerk):
    way = helpers.jerk_change_way(v, w, acc, jerk)
    _, (p, _, _) = ruckig_end((0.0, v, 0.0), (1e9, acc, jerk), velocity=w)
    assert way == pytest.approx(p, rel=1e-6, abs=1e-9)
    low, high = min(v, w), max(v, w)
    if high > low:  # the highest velocity that speeding up from the lower covers in that way
        assert helpers.jerk_reachable(low, way, acc, jerk) == pytest.approx(high, rel=1e-9)
        assert helpers.jerk_reachable(low, 0.5 * way, acc, jerk) < high


PASSINGS = [  # start (p, v, a), target, velocity, limits (v, a, j)
    ((0.0, 0.0, 0.0), 1.0, 0.0, (1.0, 2.0, 10.0)),       # rest to rest: cruises
    ((0.0, 0.0, 0.0), 0.12, 0.3, (1.0, 2.0, 10.0)),      # short: never reaches cruise
    ((0.0, 0.8, 0.0), 2.0, 0.5, (1.0, 2.0, 10.0)),       # moving start, slower end
    ((0.0, 0.2, 1.0), 1.5, 0.9, (1.0, 2.0, 10.0)),       # still accelerating at the start
    ((0.0, 0.0, 0.0), 3.0, 2.0, (5.0, 25.0, 250.0)),     # a path's units
]


@pytest.mark.parametrize("state, target, velocity, limits", PASSINGS)
def test_passing_a_target_at_a_velocity_is_as_fast_as_ruckig(helpers, state, target, velocity, limits):
    end = array([0.0] * 3)
    duration = helpers.jerk_to_passing(array(state), target, velocity, array(limits), end)
    reference, ref_end = ruckig_end(state, limits, velocity=velocity, target=target)
    assert duration == pytest.approx(reference, rel=1e-6, abs=1e-9)
    assert list(end) == pytest.approx([target, velocity, 0.0], abs=1e-9)
    assert ref_end == pytest.approx((target, velocity, 0.0), abs=1e-6)


def test_passing_a_target_too_near_to_change_velocity_is_refused(helpers):
    state, limits = (0.0, 1.0, 0.0), (1.0, 2.0, 10.0)
    _, (p, _, _) = ruckig_end(state, limits, velocity=0.0)  # the quickest stop covers this much
    end = array([0.0] * 3)
    assert helpers.jerk_to_passing(array(state), 0.9 * p, 0.0, array(limits), end) == -1
    assert helpers.jerk_to_passing(array(state), 1.1 * p, 0.0, array(limits), end) > 0

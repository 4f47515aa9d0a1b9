"""No velmo_arm wait reports success unless the motion reached its target:
another client of the same controller (a second RC logged in to its address,
or the probe) aborts, disables, powers off, faults or shuts the arm down
mid-motion, and every waiting call, blocking or asyncio, raises the error that
names the cause. Manual time makes each cause fall at the same point of the
motion on every run."""

import asyncio
import contextlib
import math
import threading
import time

import pytest

import velmo
import velmo_arm
from velmo_arm import Code, JointTo, JogSpace, LineTo
from simkit import HOME, wait_until

ADDRESS = "127.0.0.1"
SLOW = 0.2  # rad/s: every joint motion below takes seconds of simulated time
FAR = (2.5, 1.57, -1.57, -1.57, -1.57, 0.0)
HOME = tuple(HOME)


def other_client():
    robot = velmo.RC(ADDRESS)
    assert robot.login() == (0,)
    return robot


# What another client does mid-motion, and what the waiting call must raise.
CAUSES = {
    "abort": (lambda other, sim: other.motion_abort(), velmo_arm.AbortedError, Code.ABORTED, "aborted"),
    "disable": (lambda other, sim: other.disable_robot(), velmo_arm.AbortedError, Code.ABORTED, "disabled"),
    "power off": (lambda other, sim: other.power_off(), velmo_arm.AbortedError, Code.ABORTED, "powered off"),
    "fault": (lambda other, sim: sim.trigger_fault(ADDRESS, 7), velmo_arm.LimitError, Code.JOINT_LIMIT,
              "joint limit"),
    "collision": (lambda other, sim: sim.trigger_fault(ADDRESS, 8), velmo_arm.ProtectiveStopError,
                  Code.COLLISION, "collision"),
    "shut down": (lambda other, sim: other.shut_down(), velmo_arm.NotReadyError, Code.SHUT_DOWN, "shut down"),
}


def below(arm, mm):
    x, y, z, rx, ry, rz = arm.tcp
    return (x, y, z - mm, rx, ry, rz)


def arc(arm):
    """via, end: an arc 300 mm down through a point 150 mm aside."""
    x, y, z, rx, ry, rz = arm.tcp
    return {"via": (x, y + 150, z - 150, rx, ry, rz), "end": (x, y, z - 300, rx, ry, rz)}


def servo_far(arm):
    with arm.servo(rate_hz=None, steps=2000) as stream:  # the set-point is reached over 16 s
        stream.send([q + 0.8 for q in HOME])
        stream.wait_settled()


async def servo_far_async(arm):
    async with arm.servo_async(rate_hz=None, steps=2000) as stream:
        await stream.send([q + 0.8 for q in HOME])
        await stream.wait_settled()


# Every waiting call of the layer, blocking and asyncio, each a motion of seconds.
WAITS = {
    "move_joints": (lambda arm: arm.move_joints(FAR, SLOW),
                    lambda arm: arm.move_joints_async(FAR, SLOW)),
    "move_linear": (lambda arm: arm.move_linear(below(arm, 300), 20.0),
                    lambda arm: arm.move_linear_async(below(arm, 300), 20.0)),
    "move_circular": (lambda arm: arm.move_circular(**arc(arm), speed=20.0),
                      lambda arm: arm.move_circular_async(**arc(arm), speed=20.0)),
    "jog by": (lambda arm: arm.jog(0, SLOW, by=2.0), lambda arm: arm.jog_async(0, SLOW, by=2.0)),
    "jog to": (lambda arm: arm.jog(2, 20.0, space=JogSpace.CARTESIAN, to=arm.tcp[2] - 300),
               lambda arm: arm.jog_async(2, 20.0, space=JogSpace.CARTESIAN, to=arm.tcp[2] - 300)),
    "wait": (lambda arm: (arm.move_joints(FAR, SLOW, wait=False), arm.wait()),
             lambda arm: _then_wait_async(arm)),
    "move_path": (lambda arm: arm.move_path([JointTo(FAR[:1] + HOME[1:], SLOW, blend=0.1), JointTo(FAR, SLOW)]),
                  lambda arm: arm.move_path_async([JointTo(FAR[:1] + HOME[1:], SLOW, blend=0.1),
                                                   JointTo(FAR, SLOW)])),
    "wait_settled": (servo_far, servo_far_async),
}


async def _then_wait_async(arm):
    await arm.move_joints_async(FAR, SLOW, wait=False)
    await arm.wait_async()


@contextlib.contextmanager
def interfering(sim, cause, then=5.0):
    """On a thread: once the arm moves, let 0.3 s of simulated time pass, do
    `cause` as another client, then let up to `then` more seconds pass (the
    stops end well within 5), until the block's waiting call has returned."""
    other = other_client()
    over = threading.Event()

    def run():
        if not wait_until(lambda: over.is_set() or other.is_in_pos() == (0, 0), timeout=30) or over.is_set():
            return
        sim.advance_time(0.3)
        cause(other, sim)
        for _ in range(int(then / 0.1)):
            if over.wait(0.002):
                return
            sim.advance_time(0.1)

    thread = threading.Thread(target=run)
    thread.start()
    try:
        yield
    finally:
        over.set()
        thread.join()


@pytest.fixture
def manual(sim):
    sim.advance_time(0.0)  # manual time: only the interfering thread moves it
    return sim


@pytest.mark.parametrize("asynchronous", [False, True], ids=["blocking", "asyncio"])
@pytest.mark.parametrize("cause", list(CAUSES))
@pytest.mark.parametrize("call", list(WAITS))
def test_a_motion_stopped_by_another_client_raises_its_cause(manual, call, cause, asynchronous):
    act, family, code, words = CAUSES[cause]
    blocking, coroutine = WAITS[call]
    arm = velmo_arm.connect(ADDRESS, enable=True)
    start = arm.joints
    with interfering(manual, act), pytest.raises(velmo_arm.ArmError) as caught:
        if asynchronous:
            asyncio.run(coroutine(arm))
        else:
            blocking(arm)
    assert type(caught.value) is family and caught.value.code == code
    assert words in str(caught.value)
    if cause == "shut down":
        with pytest.raises(velmo_arm.NotReadyError) as closing:
            arm.close()  # named after the call that failed first
        assert closing.value.operation == "get_robot_status" and arm.closed
        return
    moved = max(abs(a - b) for a, b in zip(arm.joints, start))
    assert moved > 1e-3  # it was stopped mid-motion, not refused at the start
    arm.close()


def test_a_motion_that_ends_at_its_target_is_done_whoever_looks(manual):
    """The same waits return when nothing interferes (the other client only reads)."""
    for call, (blocking, coroutine) in WAITS.items():
        with velmo_arm.connect(ADDRESS, enable=True) as arm:
            with interfering(manual, lambda other, sim: other.get_robot_status(), then=60.0):
                blocking(arm)
            arm.move_joints(HOME, 1.0, timeout=math.inf, wait=False)
            manual.advance_time(60)
            arm.wait()
            assert arm.joints == pytest.approx(HOME, abs=1e-9), call


def test_the_target_is_checked_within_the_documented_tolerance(manual):
    """An abort that leaves the arm within the tolerance of its target is done;
    one further away is not."""
    tight = velmo_arm.Tolerance(joint=1e-9)
    loose = velmo_arm.Tolerance(joint=10.0)
    for tolerance, fails in ((tight, True), (loose, False)):
        with velmo_arm.connect(ADDRESS, enable=True, tolerance=tolerance) as arm:
            with interfering(manual, lambda other, sim: other.motion_abort()):
                if fails:
                    with pytest.raises(velmo_arm.AbortedError):
                        arm.move_joints(FAR, SLOW)
                else:
                    arm.move_joints(FAR, SLOW)  # 10 rad of tolerance: anywhere is the target
        manual.reset()
        manual.advance_time(0.0)


@pytest.mark.parametrize("value", [math.nan, -1.0, -math.inf])
def test_a_timeout_that_is_no_number_of_seconds_is_refused(sim, instant, value):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        sim.clear()
        for call in (lambda: arm.move_joints(FAR, SLOW, timeout=value), lambda: arm.wait(timeout=value),
                     lambda: arm.jog(0, SLOW, by=0.1, timeout=value),
                     lambda: arm.wait_for_input(0, timeout=value)):
            with pytest.raises(ValueError, match="timeout"):
                call()
        assert [e["fn"] for e in sim.journal()] == []  # refused before anything reached the controller
    with pytest.raises(ValueError, match="timeout"):
        velmo_arm.connect(ADDRESS, timeout=value)

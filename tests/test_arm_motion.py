"""velmo_arm's moves: they reach their targets, and Ctrl-C, a timeout, a stop
or a cancelled task stops the arm short of its target; asyncio drives two
arms from one event loop."""

import array
import asyncio
import json
import os
import signal
import subprocess
import sys
import threading
import time
from decimal import Decimal

import pytest

import velmo_arm
from simkit import HOME, Q1, close, same_pose, under_sanitizer, wait_until

ADDRESS = "127.0.0.1"
FAR = (2.5, 1.57, -1.57, -1.57, -1.57, 0.0)  # joint 1 travels 2.5 rad: over 12 s at 0.2 rad/s
SLOW = 0.2

# A shell that starts a job in the background without job control has it
# ignore SIGINT, and Python then raises no KeyboardInterrupt: the child
# takes Ctrl-C as a terminal would give it, whatever started the test run.
CHILD = """
import json, signal, sys, time, velmo_arm
signal.signal(signal.SIGINT, signal.default_int_handler)
far = tuple(json.loads(sys.argv[1]))
with velmo_arm.connect("127.0.0.1", enable=True) as arm:
    try:
        print("moving", flush=True)
        arm.move_joints(far, %r)
        print("the move ended", flush=True)
    except KeyboardInterrupt:
        raised = time.monotonic()
        arm.wait(timeout=5)  # until the stop has ended (at once today; a controlled stop takes a moment)
        status = arm.status()
        time.sleep(0.2)
        print(json.dumps({"raised": raised, "in_position": status.in_position,
                          "joints": status.joints, "later": arm.joints}), flush=True)
""" % SLOW


@pytest.mark.skipif(sys.platform == "win32", reason="Windows sends no SIGINT to one process (CTRL_C_EVENT "
                    "reaches its whole console)")
def test_ctrl_c_stops_a_long_move_within_100_ms(tmp_path):
    env = dict(os.environ, ZSIM_TIME_SCALE="1", ZSIM_HOME=str(tmp_path))
    child = subprocess.Popen([sys.executable, "-c", CHILD, json.dumps(FAR)], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "moving\n"
        time.sleep(0.5)  # well into the move
        sent = time.monotonic()  # one clock for both processes (CLOCK_MONOTONIC)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    finally:
        child.kill()
    assert child.returncode == 0, err
    report = json.loads(out)
    assert report["raised"] - sent < 0.1
    assert report["in_position"]  # stopped: nothing queued
    assert 0 < report["joints"][0] < FAR[0] - 1.0  # it had moved, and was far from the target
    assert report["later"] == report["joints"]  # and it stays there


def test_a_timeout_stops_the_arm_and_raises(sim):
    sim.set_time_scale(1)
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        with pytest.raises(TimeoutError):
            arm.move_joints(FAR, SLOW, timeout=0.05)
        arm.wait(timeout=5)
        status = arm.status()
        assert status.in_position and not status.in_error
        assert status.joints[0] < FAR[0] - 1.0
        assert [e["fn"] for e in sim.journal()].count("motion_abort") == 1


def test_a_stop_from_another_thread_ends_the_wait_with_aborted(sim):
    sim.set_time_scale(1)
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        waiting = threading.Event()
        stopper = threading.Thread(target=lambda: (waiting.wait(10), time.sleep(0.05), arm.stop()))
        stopper.start()
        waiting.set()
        with pytest.raises(velmo_arm.AbortedError):
            arm.move_joints(FAR, SLOW)  # the other thread runs meanwhile: the layer sleeps, not the library
        stopper.join()
        arm.wait(timeout=5)
        assert arm.status().in_position and arm.joints[0] < FAR[0] - 1.0


def pose_below(arm, mm):
    pose = list(arm.forward(Q1))
    pose[2] -= mm
    return tuple(pose)


MOVES = [
    ("joints", lambda arm: arm.move_joints(Q1, 1.0), lambda arm: arm.joints, Q1),
    ("joints with acc", lambda arm: arm.move_joints(Q1, 1.0, 2.0), lambda arm: arm.joints, Q1),
    ("relative joints", lambda arm: arm.move_joints((0.1, 0, 0, 0, 0, -0.1), 1.0, relative=True),
     lambda arm: arm.joints, (HOME[0] + 0.1, *HOME[1:5], HOME[5] - 0.1)),
    ("jog by", lambda arm: arm.jog(2, 0.5, by=-0.2), lambda arm: arm.joints,
     (*HOME[:2], HOME[2] - 0.2, *HOME[3:])),
    ("jog to", lambda arm: arm.jog(0, 0.5, to=0.4), lambda arm: arm.joints, (0.4, *HOME[1:])),
]


@pytest.mark.parametrize("name, move, read, expected", MOVES, ids=[m[0] for m in MOVES])
def test_moves_reach_their_targets(sim, instant, name, move, read, expected):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        move(arm)
        assert close(read(arm), expected, 1e-9)
        assert all(type(v) is float for v in read(arm))


def test_cartesian_moves_reach_their_poses(sim, instant):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.move_joints(Q1, 1.0)
        below = pose_below(arm, 60)
        arm.move_linear(below, 100.0)
        assert same_pose(arm.tcp, below, mm=1e-6, rad=1e-6)
        via = (below[0] + 30, below[1] + 30, *below[2:])
        end = (below[0], below[1] + 60, *below[2:])
        arm.move_circular(via=via, end=end, speed=50.0)
        assert same_pose(arm.tcp, end, mm=1e-6, rad=1e-6)
        arm.move_linear((0, 0, 20, 0, 0, 0), 100.0, 400.0, relative=True)
        assert close(arm.tcp[:3], (end[0], end[1], end[2] + 20), 1e-6)


def test_a_continuous_jog_runs_until_stopped(sim):
    sim.set_time_scale(1)
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.jog(0, -0.5)  # returns at once
        assert not arm.status().in_position
        assert wait_until(lambda: arm.joints[0] < -0.01)
        arm.stop()
        arm.wait(timeout=5)
        assert arm.status().in_position and -0.5 < arm.joints[0] < 0


class Indexable:
    """Neither a tuple, a list nor a registered Sequence: a length and numbers by index."""

    def __init__(self, values):
        self.values = [Decimal(repr(v)) for v in values]

    def __len__(self):
        return len(self.values)

    def __getitem__(self, index):
        return self.values[index]


def numpy_array(values):
    if under_sanitizer():
        pytest.skip("numpy reports its import-time allocations as leaks under LeakSanitizer")
    return pytest.importorskip("numpy").array(values)


SIX_NUMBERS = [tuple, list, lambda v: array.array("d", v), Indexable, numpy_array]


@pytest.mark.parametrize("make", SIX_NUMBERS, ids=["tuple", "list", "array.array", "indexable", "numpy"])
def test_any_six_numbers_go_in_and_floats_come_out(sim, instant, make):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.move_joints(make(Q1), 1)
        assert arm.joints == tuple(Q1) and all(type(v) is float for v in arm.joints)
        assert arm.forward(make(Q1)) == arm.tcp
        for wrong in [(0.0,) * 5, (0.0,) * 7, (0.0, 0.0, 0.0, 0.0, 0.0, float("nan"))]:
            with pytest.raises(ValueError, match="joint position"):
                arm.move_joints(make(wrong), 1.0)
        with pytest.raises(ValueError, match="`by` or `to`"):
            arm.jog(0, 1.0, by=0.1, to=0.2)
    assert [e["fn"] for e in sim.journal()].count("joint_move") == 1  # the refused ones never reached it


def test_asyncio_drives_two_arms_from_one_loop(sim):
    sim.set_time_scale(10)
    left = velmo_arm.connect("127.0.0.1", enable=True)
    right = velmo_arm.connect("127.0.0.2", enable=True)
    target_left, target_right = Q1, (-0.3, 1.2, -1.3, -1.4, -1.6, 0.3)

    async def both():
        await asyncio.gather(left.move_joints_async(target_left, 1.0),
                             right.move_joints_async(target_right, 1.0))
    try:
        asyncio.run(both())
        assert (left.joints, right.joints) == (tuple(target_left), target_right)
        calls = [(e["fn"], e["args"][0]) for e in sim.journal()]
        last_poll_left = max(i for i, c in enumerate(calls) if c == ("get_robot_status", left.rc.handle))
        # the right arm's move started while the left one was still being waited for
        assert calls.index(("joint_move", right.rc.handle)) < last_poll_left
    finally:
        left.close()
        right.close()


def test_a_cancelled_or_timed_out_task_stops_its_arm(sim):
    sim.set_time_scale(1)

    async def cancel_one(arm):
        task = asyncio.ensure_future(arm.move_joints_async(FAR, SLOW))
        await asyncio.sleep(0.05)
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task

    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        asyncio.run(cancel_one(arm))
        arm.wait(timeout=5)
        assert arm.status().in_position and arm.joints[0] < FAR[0] - 1.0
        with pytest.raises(TimeoutError):
            asyncio.run(arm.move_joints_async(HOME, SLOW, timeout=0.05))
        arm.wait(timeout=5)
        assert arm.status().in_position and arm.joints != HOME
        assert [e["fn"] for e in sim.journal()].count("motion_abort") == 2

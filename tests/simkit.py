"""Shared by the virtual controller's tests: the arm as documented in
docs/virtual-controller.md (an independent numpy model of it), the error
codes, fixtures and small helpers."""

import math
import time

import numpy as np
import pytest

import velmo

# ---- the documented arm -----------------------------------------------------------------

# a (mm), alpha (rad), d (mm): standard DH, T_i = Rz(q_i) Tz(d_i) Tx(a_i) Rx(alpha_i)
DH = [(0.0, math.pi / 2, 152.0), (460.0, 0.0, 0.0), (400.0, 0.0, 0.0),
      (0.0, math.pi / 2, 128.0), (0.0, -math.pi / 2, 102.0), (0.0, 0.0, 92.0)]
LIMITS_DEG = [270, 180, 160, 270, 270, 360]
LOWER = [-math.radians(d) for d in LIMITS_DEG]
UPPER = [math.radians(d) for d in LIMITS_DEG]
MAX_SPEED = [math.radians(d) for d in (180, 180, 180, 225, 225, 225)]
HOME = [0.0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0.0]
DEFAULT_JOINT_ACC = math.pi   # rad/s^2
DEFAULT_LINEAR_ACC = 500.0    # mm/s^2
CYCLE = 0.008

# ---- the documented error codes -----------------------------------------------------------

OK, UNKNOWN_HANDLE, INVALID_ARGUMENT, NOT_POWERED, NOT_ENABLED, BUSY = 0, 1, 2, 3, 4, 5
UNREACHABLE, JOINT_LIMIT, COLLISION, SERVO_ACTIVE, FILE_NOT_FOUND, IO_RANGE = 6, 7, 8, 9, 10, 11
FAULT_ACTIVE, SHUT_DOWN, ABORTED, SINGULARITY, SERVO_INACTIVE, SPEED_LIMIT = 12, 13, 14, 15, 16, 17

ADDRESS = "127.0.0.1"  # the conftest's rc fixture logs in here


def link(a, alpha, d, q):
    ct, st, ca, sa = math.cos(q), math.sin(q), math.cos(alpha), math.sin(alpha)
    return np.array([[ct, -st * ca, st * sa, a * ct],
                     [st, ct * ca, -ct * sa, a * st],
                     [0, sa, ca, d],
                     [0, 0, 0, 1.0]])


def flange(q):
    """The flange in the base frame, a 4x4 matrix."""
    t = np.eye(4)
    for (a, alpha, d), angle in zip(DH, q):
        t = t @ link(a, alpha, d, angle)
    return t


def rpy_matrix(rx, ry, rz):
    cx, sx, cy, sy, cz, sz = math.cos(rx), math.sin(rx), math.cos(ry), math.sin(ry), math.cos(rz), math.sin(rz)
    rot_x = np.array([[1, 0, 0], [0, cx, -sx], [0, sx, cx]])
    rot_y = np.array([[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]])
    rot_z = np.array([[cz, -sz, 0], [sz, cz, 0], [0, 0, 1]])
    return rot_z @ rot_y @ rot_x


def pose_matrix(pose):
    t = np.eye(4)
    t[:3, :3] = rpy_matrix(*pose[3:])
    t[:3, 3] = pose[:3]
    return t


def same_pose(a, b, mm=1e-6, rad=1e-9):
    """Two [x, y, z, rx, ry, rz] poses name the same frame."""
    ma, mb = pose_matrix(a), pose_matrix(b)
    return np.abs(ma[:3, 3] - mb[:3, 3]).max() < mm and np.abs(ma[:3, :3] - mb[:3, :3]).max() < rad


def random_joints(rng, margin=0.2):
    return [rng.uniform(lo + margin, hi - margin) for lo, hi in zip(LOWER, UPPER)]


def trapezoid_time(length, v, a):
    if length <= 0:
        return 0.0
    if length < v * v / a:
        return 2 * math.sqrt(length / a)
    return 2 * v / a + (length - v * v / a) / v


# ---- fixtures and helpers -----------------------------------------------------------------

@pytest.fixture
def instant(sim):
    """Time scale 0: every motion completes inside the call that starts it."""
    sim.set_time_scale(0)
    return sim


@pytest.fixture
def arm(rc):
    """The rc fixture's robot, powered and enabled."""
    assert rc.power_on() == (0,) and rc.enable_robot() == (0,)
    return rc


def joints(robot):
    code, q = robot.get_joint_position()
    assert code == 0
    return q


def tcp(robot):
    code, pose = robot.get_tcp_position()
    assert code == 0
    return pose


def wait_until(predicate, timeout=10.0, period=0.002):
    """Polls until predicate() is true; False after `timeout` seconds."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(period)
    return predicate()


def login(address):
    robot = velmo.RC(address)
    assert robot.login() == (0,)
    return robot

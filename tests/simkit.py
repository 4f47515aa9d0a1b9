"""Shared by the virtual controller's tests: the arm as documented in
docs/virtual-controller.md (an independent model of it), the error codes
and small helpers. The fixtures (instant, arm, home) are conftest.py's.

Plain Python on purpose: numpy and SciPy are left to the tests that need a
reference implementation (test_sim_kinematics.py), so that the other tests
also run where those packages cannot be loaded (under LeakSanitizer they
report their own import-time allocations)."""

import math
import os
import queue
import threading
import time

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
Q1 = [0.3, 1.3, -1.2, -1.6, -1.5, 0.2]  # away from home, inside every limit
STEP = [0.1, 0, 0, 0, 0, 0]             # a small relative joint move
DEFAULT_JOINT_ACC = math.pi   # rad/s^2
CYCLE = 0.008

# ---- the documented error codes -----------------------------------------------------------

OK, UNKNOWN_HANDLE, INVALID_ARGUMENT, NOT_POWERED, NOT_ENABLED, BUSY = 0, 1, 2, 3, 4, 5
UNREACHABLE, JOINT_LIMIT, COLLISION, SERVO_ACTIVE, FILE_NOT_FOUND, IO_RANGE = 6, 7, 8, 9, 10, 11
FAULT_ACTIVE, SHUT_DOWN, ABORTED, SINGULARITY, SERVO_INACTIVE, SPEED_LIMIT = 12, 13, 14, 15, 16, 17
BAD_FILE_NAME, FILE_EXISTS, PROGRAM_LINE, WRONG_STATE, FILE_ACCESS = 18, 19, 20, 21, 22
NO_SAFE_FOLDER, FILE_TOO_LARGE = 23, 24

IDLE, RUNNING, PAUSED, STOPPED_BY_ERROR = 0, 1, 2, 3  # program states

ADDRESS = "127.0.0.1"  # the conftest's rc fixture logs in here


def matmul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(len(b))) for j in range(len(b[0]))] for i in range(len(a))]


def link(a, alpha, d, q):
    ct, st, ca, sa = math.cos(q), math.sin(q), math.cos(alpha), math.sin(alpha)
    return [[ct, -st * ca, st * sa, a * ct],
            [st, ct * ca, -ct * sa, a * st],
            [0.0, sa, ca, d],
            [0.0, 0.0, 0.0, 1.0]]


def flange(q):
    """The flange in the base frame, a 4x4 matrix (rows)."""
    t = [[1.0 if i == j else 0.0 for j in range(4)] for i in range(4)]
    for (a, alpha, d), angle in zip(DH, q):
        t = matmul(t, link(a, alpha, d, angle))
    return t


def rpy_matrix(rx, ry, rz):
    cx, sx, cy, sy, cz, sz = math.cos(rx), math.sin(rx), math.cos(ry), math.sin(ry), math.cos(rz), math.sin(rz)
    rot_x = [[1, 0, 0], [0, cx, -sx], [0, sx, cx]]
    rot_y = [[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]]
    rot_z = [[cz, -sz, 0], [sz, cz, 0], [0, 0, 1]]
    return matmul(matmul(rot_z, rot_y), rot_x)


def pose_matrix(pose):
    r = rpy_matrix(*pose[3:])
    return [r[0] + [pose[0]], r[1] + [pose[1]], r[2] + [pose[2]], [0.0, 0.0, 0.0, 1.0]]


def rotation(m):
    return [row[:3] for row in m[:3]]


def largest_difference(a, b):
    """Largest absolute difference between two equally shaped nested lists."""
    if isinstance(a, (list, tuple)):
        return max(largest_difference(x, y) for x, y in zip(a, b))
    return abs(a - b)


def close(a, b, tol):
    return largest_difference(a, b) <= tol


def sub(a, b):
    return [x - y for x, y in zip(a, b)]


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def norm(v):
    return math.sqrt(dot(v, v))


def same_pose(a, b, mm=1e-6, rad=1e-9):
    """Two [x, y, z, rx, ry, rz] poses name the same frame."""
    ma, mb = pose_matrix(a), pose_matrix(b)
    return close([r[3] for r in ma[:3]], [r[3] for r in mb[:3]], mm) and close(rotation(ma), rotation(mb), rad)


def under_sanitizer():
    """True when this process runs with the address sanitizer preloaded."""
    return "libasan" in os.environ.get("LD_PRELOAD", "")


def random_joints(rng, margin=0.2):
    return [rng.uniform(lo + margin, hi - margin) for lo, hi in zip(LOWER, UPPER)]


# ---- helpers ------------------------------------------------------------------------------

def joints(robot):
    code, q = robot.get_joint_position()
    assert code == 0
    return q


def tcp(robot):
    code, pose = robot.get_tcp_position()
    assert code == 0
    return pose


def down(robot, mm):
    """The robot's TCP pose, `mm` lower."""
    pose = tcp(robot)
    pose[2] -= mm
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


def record(robot, name, moves):
    """Records the moves (each a call on the robot) as trajectory `name`."""
    assert robot.set_traj_sample_mode(1, name) == (0,)
    for move in moves:
        assert move(robot) == (0,)
    assert robot.set_traj_sample_mode(0, name) == (0,)


def read_trajectory(path):
    """(config, frames, samples) of a trajectory file, read as documented;
    a sample is [t, x, y, z, rx, ry, rz, q1..q6], t in simulated seconds."""
    lines = path.read_text().splitlines()
    assert lines[0] == "zandrel-trajectory 1"
    key, *config = lines[1].split(" ")
    assert key == "config"
    key, *frames = lines[2].split(" ")
    assert key == "frames"
    samples = [[float(w) for w in line.split(" ")] for line in lines[3:]]
    assert all(len(s) == 13 for s in samples)
    return [float(c) for c in config], [int(f) for f in frames], samples


def write_program(home, name, lines):
    (home / "programs" / name).write_text("\n".join(lines) + "\n")


def value(result):
    """The value of a call that must succeed: (0, v) -> v."""
    assert result[0] == 0, result
    return result[1]


class Handler:
    """An error handler that keeps the codes it receives and the threads it
    ran on; next() waits for the next code. Given a robot, it registers itself."""

    def __init__(self, robot=None):
        self.codes, self.threads = [], []
        self.arrived = queue.Queue()
        if robot is not None:
            robot.set_error_handler(self)

    def __call__(self, code):
        self.codes.append(code)
        self.threads.append(threading.get_ident())
        self.arrived.put(code)

    def next(self, timeout=10.0):
        return self.arrived.get(timeout=timeout)

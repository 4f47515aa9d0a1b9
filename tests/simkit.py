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
from velmo_arm.errors import Code

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

# One constant per code of the table (sim/core/error_codes.def), named as velmo_arm.Code names
# it: OK, INVALID_ARGUMENT, ..., ERROR_STATE, ..., INTERNAL. Plain ints, as the library returns them.
globals().update({code.name: int(code) for code in Code})

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


def transpose(m):
    return [list(row) for row in zip(*m)]


def rotation_angle(a, b):
    """The angle (rad) of the rotation that takes rotation matrix a to b;
    accurate for small angles too (from the skew part, not the trace alone)."""
    m = matmul(transpose(a), b)
    s = norm([m[2][1] - m[1][2], m[0][2] - m[2][0], m[1][0] - m[0][1]]) / 2
    return math.atan2(s, (m[0][0] + m[1][1] + m[2][2] - 1) / 2)


def pose_errors(a, b):
    """(mm, rad): how far apart two 4x4 poses are."""
    return norm(sub([r[3] for r in a[:3]], [r[3] for r in b[:3]])), rotation_angle(rotation(a), rotation(b))


# ---- the documented inverse kinematics: a model of its own ---------------------------------
#
# In joint 1's frame the flange turns as Rz(q2 + q3 + q4) Ry(-q5) Rz(q6): the wrist is a
# z-y-z Euler decomposition, joints 2 and 3 a two-link arm in the plane of the parallel
# axes reaching for joint 4's origin. Where sin(q5) vanishes joint 6 is free: the docs
# give it the value nearest its reference (inside its limits) with which joints 2 and 3
# still reach, joint 3 inside its limits; this model finds that value by search.

FREE_WRIST = 1e-10  # |sin q5| below this leaves joint 6 free (documented)
A2, A3, D1, D4, D5, D6 = DH[1][0], DH[2][0], DH[0][2], DH[3][2], DH[4][2], DH[5][2]
LONGEST2 = (A2 + A3) ** 2
SHORTEST2 = A2 ** 2 + A3 ** 2 + 2 * A2 * A3 * math.cos(UPPER[2])


def wrap(angle):
    """Into (-pi, pi]."""
    angle = math.remainder(angle, 2 * math.pi)
    return angle + 2 * math.pi if angle <= -math.pi else angle


def _frame1(q1):
    """Joint 1's frame: Rz(q1) Rx(90 deg), origin on the base axis at D1."""
    c, s = math.cos(q1), math.sin(q1)
    return [[c, 0.0, s], [s, 0.0, -c], [0.0, 1.0, 0.0]]


def _joint4_in_plane(m, q1, b, q6):
    """Joint 4's origin in the plane of joints 2 to 4 (from joint 2), and
    theta = q2 + q3 + q4, for joint 1, the wrist's middle Euler angle b
    (q5 = -b) and joint 6."""
    r1 = _frame1(q1)
    w = matmul(transpose(r1), rotation(m))  # the flange's turn in joint 1's frame
    # Rz(theta) is what remains of w once Ry(b) Rz(q6) is undone: consistent with
    # q6 even where q6 is ill-determined (or free).
    cb, sb, c6, s6 = math.cos(b), math.sin(b), math.cos(q6), math.sin(q6)
    undo = transpose(matmul([[cb, 0.0, sb], [0.0, 1.0, 0.0], [-sb, 0.0, cb]],
                            [[c6, -s6, 0.0], [s6, c6, 0.0], [0.0, 0.0, 1.0]]))
    rest = matmul(w, undo)
    theta = math.atan2(rest[1][0], rest[0][0])
    z6 = [m[0][2], m[1][2], m[2][2]]
    wrist = [m[i][3] - D6 * z6[i] for i in range(3)]  # joint 5's origin
    z4 = [sum(r1[i][k] * v for k, v in enumerate((math.sin(theta), -math.cos(theta), 0.0))) for i in range(3)]
    joint4 = [wrist[i] - D5 * z4[i] - (D1 if i == 2 else 0.0) for i in range(3)]
    u, v = (sum(r1[k][i] * joint4[k] for k in range(3)) for i in (0, 1))
    return u, v, theta


def _reach2(m, q1, b, q6):
    u, v, _ = _joint4_in_plane(m, q1, b, q6)
    return u * u + v * v


def _reaches(m, q1, b, q6):
    return SHORTEST2 * (1 - 1e-9) <= _reach2(m, q1, b, q6) <= LONGEST2 * (1 + 1e-9)  # rounding at the edges


def _arm_for(m, q1, b, q6):
    """Joints 2, 3, 4 (both elbows) for joint 1, b and joint 6; [] when joint 3
    cannot stay inside its limits."""
    u, v, theta = _joint4_in_plane(m, q1, b, q6)
    if not _reaches(m, q1, b, q6):
        return []
    c3 = max(-1.0, min(1.0, (u * u + v * v - A2 * A2 - A3 * A3) / (2 * A2 * A3)))
    out = []
    for q3 in (math.acos(c3), -math.acos(c3)):
        q2 = math.atan2(v, u) - math.atan2(A3 * math.sin(q3), A2 + A3 * math.cos(q3))
        out.append([q2, q3, theta - q2 - q3])
    return out


def _golden(f, lo, hi):
    """Where f, unimodal on [lo, hi], is least."""
    g = (math.sqrt(5) - 1) / 2
    for _ in range(120):
        a, b = hi - g * (hi - lo), lo + g * (hi - lo)
        if f(a) < f(b):
            hi = b
        else:
            lo = a
    return (lo + hi) / 2


def _crossing(f, lo, hi, level):
    """Where f, monotonic on [lo, hi], crosses level (bisection)."""
    rising = f(hi) > f(lo)
    for _ in range(100):
        mid = (lo + hi) / 2
        if (f(mid) < level) == rising:
            lo = mid
        else:
            hi = mid
    return (lo + hi) / 2


def _free_joint6(m, q1, b, ref6):
    """The free joint 6 nearest ref6 inside its limits with which the arm
    reaches; None when none does. The reach varies with joint 6 as a sinusoid:
    find its extremes, then where it crosses the reachable band."""
    target = max(LOWER[5], min(UPPER[5], ref6))
    if _reaches(m, q1, b, target):
        return target
    reach2 = lambda t: _reach2(m, q1, b, t)  # noqa: E731
    coarse = min((k * math.pi / 8 for k in range(16)), key=reach2)
    low = _golden(reach2, coarse - math.pi / 4, coarse + math.pi / 4)
    high = _golden(lambda t: -reach2(t), low + math.pi / 2, low + 3 * math.pi / 2)
    edges = [low, high]
    for start, end in ((low, high), (high, low + 2 * math.pi)):
        for level in (SHORTEST2, LONGEST2):
            if min(reach2(start), reach2(end)) <= level <= max(reach2(start), reach2(end)):
                edges.append(_crossing(reach2, start, end, level))
    inside = [e + 2 * math.pi * k for e in edges for k in range(-3, 4)
              if LOWER[5] <= e + 2 * math.pi * k <= UPPER[5] and _reaches(m, q1, b, e)]
    return min(inside, key=lambda t: abs(t - target), default=None)


def inverse_solutions(m, ref6=0.0):
    """Every joint solution of flange pose m (4x4) with joint 3 inside its
    limits, angles in (-pi, pi] but a free joint 6 (chosen from ref6)."""
    z6 = [m[0][2], m[1][2], m[2][2]]
    wrist = [m[i][3] - D6 * z6[i] for i in range(3)]
    radius = math.hypot(wrist[0], wrist[1])
    if radius < D4:
        return []
    phi = math.atan2(wrist[1], wrist[0])
    lean = math.asin(D4 / radius)  # joint 5's origin lies D4 along joint 2's axis
    out = []
    for q1 in (phi + lean, phi + math.pi - lean):
        w = matmul(transpose(_frame1(q1)), rotation(m))
        for sign in (1, -1):
            b = math.atan2(sign * math.hypot(w[2][0], w[2][1]), w[2][2])
            if abs(math.sin(b)) > FREE_WRIST:
                q6 = math.atan2(w[2][1] / math.sin(b), -w[2][0] / math.sin(b))
                if abs(math.sin(b)) < 1e-6 and not _arm_for(m, q1, b, q6):
                    # the orientation fixes q6 only to 1e-16 / |sin b|: within that,
                    # the value that reaches (rounding leaves a stretched arm short)
                    reaching = _free_joint6(m, q1, b, q6)
                    if reaching is not None and abs(reaching - q6) * abs(math.sin(b)) <= 1e-12:
                        q6 = reaching
            else:
                q6 = _free_joint6(m, q1, b, ref6)
                if q6 is None:
                    continue
            for q2, q3, q4 in _arm_for(m, q1, b, q6):
                free = abs(math.sin(b)) <= FREE_WRIST
                out.append([wrap(q1), wrap(q2), wrap(q3), wrap(q4), wrap(-b), q6 if free else wrap(q6)])
    return out


def nearest_turn_inside(value, ref, lo, hi):
    """value moved by whole turns to the one nearest ref inside [lo, hi], or None."""
    inside = [value + 2 * math.pi * k for k in range(-6, 7) if lo - 1e-12 <= value + 2 * math.pi * k <= hi + 1e-12]
    return min(inside, key=lambda v: abs(v - ref), default=None)


def inverse_candidates(m, ref):
    """The documented kine_inverse choice for flange pose m: every solution,
    each angle moved to its whole-turn value nearest ref inside the limits,
    as (sum of squared differences from ref, joints), nearest first."""
    out = []
    for q in inverse_solutions(m, ref[5]):
        moved = [nearest_turn_inside(v, r, lo, hi) for v, r, lo, hi in zip(q, ref, LOWER, UPPER)]
        if None not in moved:
            out.append((sum((v - r) ** 2 for v, r in zip(moved, ref)), moved))
    return sorted(out)


def fresh_arm(sim):
    """A new controller in manual time, powered and enabled at home."""
    sim.reset()
    sim.advance_time(0)
    robot = velmo.RC(ADDRESS)
    assert robot.login() == (0,) and robot.power_on() == (0,) and robot.enable_robot() == (0,)
    return robot


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

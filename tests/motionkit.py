"""The arm's motion as the recorder samples it, cycle by cycle, and the
limits of docs/virtual-controller.md it must keep: an independent reading of
the trajectory file (simulated timestamps only), in plain Python like
simkit.py.

record_cycles() records with intervals so small that every cycle in which
the arm moves is a sample; cycles at rest leave gaps, which Motion fills with
the position held. Speeds are first differences over one cycle, accelerations
second differences: a motion whose speed and acceleration stay within limits
shows no more than those limits in its samples, whatever the phase of the
cycles."""

import math

from simkit import CYCLE, matmul, read_trajectory, rpy_matrix

# ---- the documented limits -------------------------------------------------------------

MAX_LINEAR_SPEED = 1500.0                 # mm/s
MAX_LINEAR_ACC = 5000.0                   # mm/s^2: Cartesian moves are capped here
DEFAULT_LINEAR_ACC = 500.0
ORIENTATION_SPEED = math.radians(90)      # rad/s in linear and circular moves
ORIENTATION_ACC = math.radians(180)       # rad/s^2
MAX_JOINT_ACC = math.radians(720)         # rad/s^2: joint moves are capped here
DEFAULT_JOINT_ACC = math.radians(180)
JOINT_MOVE_SPEED = math.radians(180)      # the fastest a joint move's leading joint goes
QUICK_JOINT_DEC = math.radians(1440)      # quick stops: faults, protective stops, disable_robot
QUICK_LINEAR_DEC = 10000.0
QUICK_ORIENTATION_DEC = math.radians(720)
SERVO_STOP_DEC = MAX_JOINT_ACC            # leaving servo mode
JOINT_JERK = math.radians(9000)           # rad/s^3 of the joint that travels furthest
LINEAR_JERK = 50000.0                     # mm/s^3 of the TCP along its path
ORIENTATION_JERK = math.radians(9000)     # rad/s^3 of the orientation along its path
QUICK_JERK_FACTOR = 2.0                   # quick stops turn their deceleration at twice the jerks


def stop_duration(speed, dec, jerk):
    """How long a jerk-limited stop from `speed` (no acceleration) takes: the
    deceleration rises to dec at the jerk, holds, and falls again; when the
    speed is too small for dec to be reached, it only rises and falls."""
    if speed >= dec * dec / jerk:
        return speed / dec + dec / jerk
    return 2 * math.sqrt(speed / jerk)

SLACK = 1 + 1e-6                          # rounding of the samples, not a real excess
# The recorded TCP is the forward kinematics of joints found by inverse
# kinematics, good to about 1e-7 mm near a singularity; a second difference
# over one cycle turns that into this much apparent acceleration.
POSITION_NOISE = 1e-7                     # mm
TCP_SPEED_NOISE = 2 * POSITION_NOISE / CYCLE
TCP_ACC_NOISE = 4 * POSITION_NOISE / CYCLE ** 2


def transpose(m):
    return [list(row) for row in zip(*m)]


def rotation_vector(m):
    """The axis times the angle of a rotation matrix (rows)."""
    # atan2 of sine and cosine: acos alone loses half the digits of small angles
    skew = [m[2][1] - m[1][2], m[0][2] - m[2][0], m[1][0] - m[0][1]]
    angle = math.atan2(math.sqrt(sum(v * v for v in skew)) / 2, (m[0][0] + m[1][1] + m[2][2] - 1) / 2)
    if angle < 1e-12:
        return [0.0, 0.0, 0.0]
    if angle > math.pi - 1e-6:  # half a turn: the axis from the symmetric part
        axis = [math.sqrt(max(0.0, (m[i][i] + 1) / 2)) for i in range(3)]
        k = max(range(3), key=lambda i: axis[i])
        for i in range(3):
            if i != k:
                axis[i] = math.copysign(axis[i], m[k][i] + m[i][k])
        return [a * angle for a in axis]
    s = 2 * math.sin(angle)
    return [v / s * angle for v in skew]


def length(v):
    return math.sqrt(sum(x * x for x in v))


def difference(a, b, dt):
    return [(x - y) / dt for x, y in zip(a, b)]


class Motion:
    """Per-cycle samples of a recorded motion: times (s), TCP positions (mm),
    orientations (matrices), joints (rad); and their rates per cycle."""

    def __init__(self, samples):
        self.t, self.p, self.r, self.q = [], [], [], []
        for s in samples:
            while self.t and s[0] - self.t[-1] > 1.5 * CYCLE:  # at rest meanwhile
                self._add(self.t[-1] + CYCLE, self.p[-1], self.r[-1], self.q[-1])
            self._add(s[0], s[1:4], rpy_matrix(*s[4:7]), s[7:13])
        n = len(self.t)
        self.v = [difference(self.p[k], self.p[k - 1], CYCLE) for k in range(1, n)]
        self.w = [[x / CYCLE for x in rotation_vector(matmul(self.r[k], transpose(self.r[k - 1])))]
                  for k in range(1, n)]
        self.qd = [difference(self.q[k], self.q[k - 1], CYCLE) for k in range(1, n)]

    def _add(self, t, p, r, q):
        self.t.append(t)
        self.p.append(list(p))
        self.r.append(r)
        self.q.append(list(q))

    # speeds, one per cycle
    def speeds(self):
        return [length(v) for v in self.v]

    def turn_speeds(self):
        return [length(w) for w in self.w]

    def joint_speeds(self):
        """Per cycle, the largest of |joint speed| / bound over the joints, for a bound per joint."""
        return [[abs(x) for x in qd] for qd in self.qd]

    # accelerations, one per pair of cycles
    def accelerations(self):
        return [length(difference(self.v[k], self.v[k - 1], CYCLE)) for k in range(1, len(self.v))]

    def turn_accelerations(self):
        return [length(difference(self.w[k], self.w[k - 1], CYCLE)) for k in range(1, len(self.w))]

    def joint_accelerations(self):
        return [[abs(x) for x in difference(self.qd[k], self.qd[k - 1], CYCLE)] for k in range(1, len(self.qd))]

    def moving(self, k):
        """The arm moved in cycle k (between samples k and k+1)."""
        return length(self.v[k]) > 1e-9 or length(self.w[k]) > 1e-12 or max(map(abs, self.qd[k])) > 1e-12

    def peak(self, values):
        return max(values, default=0.0)


def record_cycles(robot, home, moves, name="cycles"):
    """Records the moves (each a callable on the robot, returning its result
    tuple) sampling every cycle; returns (results, Motion)."""
    assert robot.set_traj_config((1e-9, 1e-9, 100, 500)) == (0,)
    assert robot.set_traj_sample_mode(1, name) == (0,)
    try:
        results = [move(robot) for move in moves]
    finally:  # a failed move must not leave the next example recording
        robot.set_traj_sample_mode(0, name)
    return results, Motion(read_trajectory(home / "trajectories" / name)[2])


def within(values, bound, noise=1e-9):
    """The largest value, checked against a bound with rounding slack and
    the measurement's noise."""
    top = max(values, default=0.0)
    assert top <= bound * SLACK + noise, f"{top} exceeds {bound}"
    return top

"""Where a motion must leave the arm, and how far from it the arm stands.

A wait reports a motion done only when the controller says it has ended
("in position", no error) *and* the arm stands at the motion's target within
the Arm's `Tolerance`; a motion stopped by someone else (an abort, a disable,
a power off from another client) ends short of it. Targets are computed the
way the controller documents them (docs/virtual-controller.md): a relative
Cartesian move adds the translation and applies the rotation about the user
frame's axes; orientations are roll-pitch-yaw, R = Rz(rz) Ry(ry) Rx(rx).
"""

import math
from dataclasses import dataclass
from typing import Optional, Tuple

from .limits import Tolerance
from .status import Joints, Pose

Vector3 = Tuple[float, float, float]
Matrix = Tuple[Vector3, Vector3, Vector3]


def rpy_matrix(rx: float, ry: float, rz: float) -> Matrix:
    """R = Rz(rz) Ry(ry) Rx(rx), rows."""
    cx, sx, cy, sy, cz, sz = math.cos(rx), math.sin(rx), math.cos(ry), math.sin(ry), math.cos(rz), math.sin(rz)
    return ((cz * cy, cz * sy * sx - sz * cx, cz * sy * cx + sz * sx),
            (sz * cy, sz * sy * sx + cz * cx, sz * sy * cx - cz * sx),
            (-sy, cy * sx, cy * cx))


def axis_matrix(axis: int, angle: float) -> Matrix:
    """A turn by `angle` about x (0), y (1) or z (2)."""
    angles = [0.0, 0.0, 0.0]
    angles[axis] = angle
    return rpy_matrix(*angles)


def matmul(a: Matrix, b: Matrix) -> Matrix:
    r0, r1, r2 = (tuple(sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)) for i in range(3))
    return ((r0[0], r0[1], r0[2]), (r1[0], r1[1], r1[2]), (r2[0], r2[1], r2[2]))


def column(m: Matrix, j: int) -> Vector3:
    return (m[0][j], m[1][j], m[2][j])


def angle_between(a: Matrix, b: Matrix) -> float:
    """The angle of the turn from a to b (rad), accurate for small ones too."""
    m = matmul((column(a, 0), column(a, 1), column(a, 2)), b)  # a^T b
    s = math.sqrt((m[2][1] - m[1][2]) ** 2 + (m[0][2] - m[2][0]) ** 2 + (m[1][0] - m[0][1]) ** 2) / 2
    return math.atan2(s, (m[0][0] + m[1][1] + m[2][2] - 1) / 2)


@dataclass(frozen=True)
class Target:
    """Joint angles, or a TCP pose in the tool and user frame in use."""

    joints: Optional[Joints] = None
    position: Optional[Vector3] = None
    rotation: Optional[Matrix] = None

    @classmethod
    def at_joints(cls, joints: Joints) -> "Target":
        return cls(joints=joints)

    @classmethod
    def at_pose(cls, pose: Pose) -> "Target":
        return cls(position=(pose[0], pose[1], pose[2]), rotation=rpy_matrix(*pose[3:]))

    def miss(self, joints: Joints, tcp: Pose, tolerance: Tolerance) -> Optional[str]:
        """How far from this target an arm at `joints` (TCP at `tcp`) stands,
        in words; None when it is there."""
        if self.joints is not None:
            off = [abs(a - b) for a, b in zip(joints, self.joints)]
            worst = max(range(6), key=lambda j: off[j])
            if off[worst] > tolerance.joint:
                return f"{off[worst]:.4g} rad short of its target (joint {worst + 1})"
        if self.position is not None and self.rotation is not None:
            distance = math.dist(tcp[:3], self.position)
            turn = angle_between(rpy_matrix(*tcp[3:]), self.rotation)
            if distance > tolerance.position or turn > tolerance.orientation:
                return f"{distance:.4g} mm and {turn:.4g} rad short of its target"
        return None


def joints_by(base: Joints, delta: Joints) -> Target:
    a, b, c, d, e, f = (x + y for x, y in zip(base, delta))
    return Target.at_joints((a, b, c, d, e, f))


def pose_by(base: Target, delta: Pose) -> Optional[Target]:
    """A relative Cartesian move from the pose of `base` (None when it has
    none): the translation added, the rotation applied about the user
    frame's axes."""
    if base.position is None or base.rotation is None:
        return None
    p = base.position
    position = (p[0] + delta[0], p[1] + delta[1], p[2] + delta[2])
    return Target(position=position, rotation=matmul(rpy_matrix(*delta[3:]), base.rotation))


def jog_target(joints: Joints, tcp: Pose, axis: int, space: int, to: Optional[float],
               by: Optional[float]) -> Target:
    """Where a jog `to` a position or `by` a step leaves the arm standing at
    `joints` (TCP at `tcp`): space 0 the user frame, 1 joints, 2 the tool frame."""
    if space == 1:
        moved = list(joints)
        moved[axis] = to if to is not None else moved[axis] + (by or 0.0)
        a, b, c, d, e, f = moved
        return Target.at_joints((a, b, c, d, e, f))
    if to is not None:
        pose = list(tcp)
        pose[axis] = to
        a, b, c, d, e, f = pose
        return Target.at_pose((a, b, c, d, e, f))
    step = by or 0.0
    here = rpy_matrix(*tcp[3:])
    if axis < 3:
        along = column(here, axis) if space == 2 else column(axis_matrix(axis, 0.0), axis)
        position = (tcp[0] + along[0] * step, tcp[1] + along[1] * step, tcp[2] + along[2] * step)
        return Target(position=position, rotation=here)
    turn = axis_matrix(axis - 3, step)
    rotation = matmul(here, turn) if space == 2 else matmul(turn, here)
    return Target(position=(tcp[0], tcp[1], tcp[2]), rotation=rotation)

"""Waypoints of a blended path (`Arm.move_path`).

    arm.move_path([
        LineTo(above_pick, speed=200, blend=20),    # pass within 20 mm of it
        LineTo(pick, speed=50),                     # blend 0: stop there
    ])

Each waypoint is one move; its `blend` (mm for lines and arcs, rad of the
joint that travels furthest for joint moves) lets the arm leave the move
that far before its end and join the next one without stopping. The
controller blends only a joint move into a joint move and a Cartesian move
(line or arc) into a Cartesian move; elsewhere, and after the last
waypoint, the arm stops at the target. Targets are absolute.
"""

import math
from dataclasses import dataclass
from typing import Optional, Tuple, Union

from .limits import Limits
from .status import Joints, Pose, Vector, six

__all__ = ["JointTo", "LineTo", "ArcTo", "Waypoint", "checked_speed", "checked_acc", "checked_blend"]


@dataclass(frozen=True)
class JointTo:
    """A joint move to `joints` (rad) at `speed` rad/s of the joint that
    travels furthest, `acc` rad/s^2 (None: the controller's default)."""

    joints: Vector
    speed: float
    acc: Optional[float] = None
    blend: float = 0.0
    """rad of the joint that travels furthest."""


@dataclass(frozen=True)
class LineTo:
    """A straight line of the TCP to `pose` (mm, rad) at `speed` mm/s, `acc` mm/s^2."""

    pose: Vector
    speed: float
    acc: Optional[float] = None
    blend: float = 0.0
    """mm of the TCP."""


@dataclass(frozen=True)
class ArcTo:
    """An arc of the TCP through `via`'s position to `end` at `speed` mm/s, `acc` mm/s^2."""

    via: Vector
    end: Vector
    speed: float
    acc: Optional[float] = None
    blend: float = 0.0
    """mm of the TCP."""


Waypoint = Union[JointTo, LineTo, ArcTo]


def number(value: float, what: str) -> float:
    if isinstance(value, (str, bytes, bool)):
        raise TypeError(f"{what} must be a number, got {value!r}")
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{what} must be a number, got {value!r}") from None
    if not math.isfinite(number):
        raise ValueError(f"{what} must be a finite number, got {value!r}")
    return number


def checked_speed(speed: float, maximum: float, unit: str, what: str) -> float:
    """`speed` when it is positive and within `maximum`; ValueError naming the maximum otherwise."""
    value = number(speed, what)
    if value <= 0:
        raise ValueError(f"{what} must be positive, got {value:g} {unit}")
    if value > maximum * (1 + 1e-9):
        raise ValueError(f"{what} {value:g} {unit} is beyond the arm's maximum of {maximum:.6g} {unit}"
                         " (a value in another unit?)")
    return value


def checked_acc(acc: Optional[float], maximum: float, unit: str, what: str) -> Optional[float]:
    return None if acc is None else checked_speed(acc, maximum, unit, what)


def checked_blend(blend: float, unit: str) -> float:
    value = number(blend, "blend")
    if value < 0:
        raise ValueError(f"blend must be 0 or more, got {value:g} {unit}")
    return value


@dataclass(frozen=True)
class PlannedMove:
    """One waypoint, checked: what the controller gets."""

    kind: str            # "joint_move", "linear_move" or "circular_move"
    target: Joints       # joints or the end pose
    via: Optional[Pose]
    speed: float
    acc: Optional[float]
    blend: float


def plan(waypoint: Waypoint, limits: Limits) -> PlannedMove:
    """The waypoint checked against the arm's limits (ValueError, TypeError)."""
    if isinstance(waypoint, JointTo):
        return PlannedMove("joint_move", six(waypoint.joints, "joint position"), None,
                           checked_speed(waypoint.speed, limits.joint_move_speed, "rad/s", "speed"),
                           checked_acc(waypoint.acc, limits.joint_move_acc, "rad/s^2", "acc"),
                           checked_blend(waypoint.blend, "rad"))
    if isinstance(waypoint, LineTo):
        return PlannedMove("linear_move", six(waypoint.pose, "pose"), None,
                           checked_speed(waypoint.speed, limits.linear_speed, "mm/s", "speed"),
                           checked_acc(waypoint.acc, limits.linear_acc, "mm/s^2", "acc"),
                           checked_blend(waypoint.blend, "mm"))
    if isinstance(waypoint, ArcTo):  # pyright: ignore[reportUnnecessaryIsInstance]
        return PlannedMove("circular_move", six(waypoint.end, "end pose"), six(waypoint.via, "via pose"),
                           checked_speed(waypoint.speed, limits.linear_speed, "mm/s", "speed"),
                           checked_acc(waypoint.acc, limits.linear_acc, "mm/s^2", "acc"),
                           checked_blend(waypoint.blend, "mm"))
    raise TypeError(f"not a waypoint (JointTo, LineTo or ArcTo): {waypoint!r}")


def planned(waypoints: Tuple[Waypoint, ...], limits: Limits) -> Tuple[PlannedMove, ...]:
    if not waypoints:
        raise ValueError("a path needs at least one waypoint")
    return tuple(plan(w, limits) for w in waypoints)

"""The arm's numbers the layer checks against: its limits and how close a
motion must end to its target to count as done.

`ZANDREL` is the documented six-axis arm (docs/virtual-controller.md, "The
arm" and "Limits"); an Arm uses it unless `connect(limits=...)` says
otherwise. A speed or acceleration beyond these is refused with ValueError
before anything reaches the controller: a move at 100 "rad/s" or 1e6 "mm/s"
is a unit slip, not a wish the controller should quietly cap.
"""

import math
from dataclasses import dataclass
from typing import Tuple

__all__ = ["Limits", "Tolerance", "ZANDREL"]

Six = Tuple[float, float, float, float, float, float]


@dataclass(frozen=True)
class Limits:
    """What the arm can do."""

    joint_lower: Six
    """Each joint's lower limit, rad."""
    joint_upper: Six
    """Each joint's upper limit, rad."""
    joint_speed: Six
    """Each joint's maximum speed, rad/s (a joint jog's cap)."""
    joint_move_speed: float
    """A joint move's speed (of the joint that travels furthest), rad/s."""
    joint_move_acc: float
    """A joint move's acceleration, rad/s^2."""
    linear_speed: float
    """The TCP's speed along a Cartesian path or jog, mm/s."""
    linear_acc: float
    """The TCP's acceleration on a Cartesian path, mm/s^2."""
    angular_speed: float
    """A Cartesian jog's turning speed, rad/s."""


def _radians(*degrees: float) -> Six:
    a, b, c, d, e, f = (math.radians(x) for x in degrees)
    return (a, b, c, d, e, f)


ZANDREL = Limits(
    joint_lower=_radians(-270, -180, -160, -270, -270, -360),
    joint_upper=_radians(270, 180, 160, 270, 270, 360),
    joint_speed=_radians(180, 180, 180, 225, 225, 225),
    joint_move_speed=math.radians(180),
    joint_move_acc=math.radians(720),
    linear_speed=1500.0,
    linear_acc=5000.0,
    angular_speed=math.radians(180),
)
"""The zandrel six-axis arm, as the virtual controller simulates it."""


@dataclass(frozen=True)
class Tolerance:
    """How close to its target a motion must end for a wait to report it done."""

    joint: float = 1e-3
    """rad, each joint (joint moves, joint jogs, joint set-points)."""
    position: float = 0.1
    """mm, the TCP's position (Cartesian moves, jogs and set-points)."""
    orientation: float = 1e-3
    """rad, the angle between the TCP's orientation and the target's."""

    def __post_init__(self) -> None:
        for name in ("joint", "position", "orientation"):
            value = getattr(self, name)
            if not (math.isfinite(value) and value > 0):
                raise ValueError(f"a tolerance needs positive numbers, got {name}={value!r}")

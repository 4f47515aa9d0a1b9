"""Servo streaming: set-points paced on absolute deadlines.

    with arm.servo(rate_hz=125) as stream:
        for q in path:
            stream.send(q)          # sleeps until this set-point is due

Deadlines lie on one grid from the first set-point (the k-th is due k
periods after it), so time spent between sends never accumulates into
drift and the stream keeps the controller's pace. A send that comes after
its deadline goes out at once and counts as an overrun; the sends after it
keep their own deadlines, so a stream that fell behind catches up (the
controller begins the newest set-point each cycle). Leaving the block
normally waits until the arm has taken every accepted set-point (the status
says "in position") and then leaves servo mode, which would drop one not
reached yet; leaving it by an exception (Ctrl-C included) stops the arm
first.
"""

import math
from dataclasses import dataclass
from types import TracebackType
from typing import Callable, Optional, Tuple, Type, Union

from ._waiting import Steps, run
from .status import Vector, six

__all__ = ["ServoStream", "Filter", "JointLowPass", "JointNonLinear", "CartesianNonLinear", "JointMovingMean"]


@dataclass(frozen=True)
class JointLowPass:
    """A first-order low-pass filter on each joint's command."""

    cutoff_hz: float


@dataclass(frozen=True)
class JointNonLinear:
    """Joint velocity, acceleration and jerk limits (rad/s, rad/s^2, rad/s^3)."""

    max_velocity: float
    max_acceleration: float
    max_jerk: float


@dataclass(frozen=True)
class CartesianNonLinear:
    """Limits of the TCP's translation (mm/s, ...) and rotation (rad/s, ...)."""

    max_linear_velocity: float
    max_linear_acceleration: float
    max_linear_jerk: float
    max_angular_velocity: float
    max_angular_acceleration: float
    max_angular_jerk: float


@dataclass(frozen=True)
class JointMovingMean:
    """A moving-mean filter over `buffer` set-points with its three gains."""

    buffer: int
    kp: float
    kv: float
    ka: float


Filter = Union[JointLowPass, JointNonLinear, CartesianNonLinear, JointMovingMean]


@dataclass(frozen=True)
class ArmLink:
    """What a stream needs of its Arm (which makes the link)."""

    enter: Callable[[Optional[Filter]], None]
    """Choose the filter and switch servo mode on."""
    point: Callable[[str, Tuple[float, ...], int, int], None]
    """Send one set-point: kind ("servo_j" or "servo_p"), values, mode, steps."""
    settle: Callable[[Optional[float]], Steps[None]]
    """The steps of waiting until the arm is in position."""
    stop: Callable[[], None]
    """Stop the arm, reporting nothing."""
    leave: Callable[[bool], None]
    """Leave servo mode (quietly: report nothing)."""


class ServoStream:
    """An open servo stream of one Arm; made by `Arm.servo()`."""

    def __init__(self, arm: ArmLink, *, rate_hz: Optional[float], filter: Optional[Filter], steps: int,
                 drain_timeout: Optional[float], clock: Callable[[], float],
                 sleep: Callable[[float], None]) -> None:
        if rate_hz is not None and not (rate_hz > 0 and math.isfinite(rate_hz)):
            raise ValueError(f"rate_hz must be a positive number or None, got {rate_hz!r}")
        if steps < 1:
            raise ValueError(f"steps must be at least 1, got {steps}")
        self._arm = arm
        self._period = None if rate_hz is None else 1.0 / rate_hz
        self._filter = filter
        self._steps = steps
        self._drain_timeout = drain_timeout
        self._clock = clock
        self._sleep = sleep
        self._start: Optional[float] = None
        self._tick = 0
        self._open = False
        self.sent = 0
        """Set-points the controller accepted."""
        self.overruns = 0
        """Sends that came after their deadline."""

    @property
    def period(self) -> Optional[float]:
        """Seconds between set-points; None when the stream is not paced."""
        return self._period

    def __enter__(self) -> "ServoStream":
        self._arm.enter(self._filter)
        self._open = True
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        self._open = False
        try:
            if exc_type is None:
                self.wait_settled(self._drain_timeout)  # stops the arm itself if that fails
            else:
                self._arm.stop()
        finally:
            self._arm.leave(exc_type is not None)

    def send(self, joints: Vector, *, relative: bool = False) -> None:
        """Send one joint set-point (rad; added to the previous one if
        `relative`) when it is due."""
        self._send("servo_j", six(joints, "joint set-point"), relative)

    def send_pose(self, pose: Vector, *, relative: bool = False) -> None:
        """Send one TCP pose set-point (mm, rad) when it is due."""
        self._send("servo_p", six(pose, "pose set-point"), relative)

    def wait_settled(self, timeout: Optional[float] = None) -> None:
        """Wait until the arm has taken every accepted set-point and rests
        ("in position"). A timeout stops the arm and raises TimeoutError."""
        run(self._arm.settle(timeout), self._arm.stop)

    def _send(self, kind: str, values: Tuple[float, ...], relative: bool) -> None:
        if not self._open:
            raise ValueError("send on a servo stream that is not open (use it in a with block)")
        self._pace()
        self._arm.point(kind, values, 1 if relative else 0, self._steps)
        self.sent += 1

    def _pace(self) -> None:
        if self._period is None:
            return
        now = self._clock()
        if self._start is None:
            self._start = now  # the first set-point goes at once and anchors the grid
        else:
            due = self._start + self._tick * self._period
            if now < due:
                self._sleep(due - now)
            elif now > due:
                self.overruns += 1
        self._tick += 1


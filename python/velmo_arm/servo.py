"""Servo streaming: set-points paced on absolute deadlines.

    with arm.servo(rate_hz=125) as stream:
        for q in path:
            stream.send(q)          # sleeps until this set-point is due

    async with arm.servo_async(rate_hz=125) as stream:
        for q in path:
            await stream.send(q)    # awaits its deadline: other tasks run meanwhile

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
from typing import Awaitable, Callable, Optional, Tuple, Type, Union

from ._targets import Target, joints_by, pose_by
from ._waiting import Steps, run, run_async
from .errors import ArmError
from .status import Joints, Pose, Vector, six

__all__ = ["ServoStream", "AsyncServoStream", "Filter", "JointLowPass", "JointNonLinear", "CartesianNonLinear",
           "JointMovingMean"]


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

    enter: Callable[[Optional[Filter]], Joints]
    """Choose the filter and switch servo mode on; returns where the arm stands."""
    point: Callable[[str, Tuple[float, ...], int, int], None]
    """Send one set-point: kind ("servo_j" or "servo_p"), values, mode, steps."""
    settle: Callable[[Optional[float], Optional[Target], int], Steps[None]]
    """The steps of waiting until the arm rests at the target (None: not
    known), given the Arm's stop count when the target was set (a stop of
    the Arm's own since then forgets the target: the caller knows of it)."""
    stops: Callable[[], int]
    """The Arm's stop count (stop(), timeouts, interrupts)."""
    forward: Callable[[Joints], Pose]
    """The TCP pose of a joint position."""
    stop: Callable[[], None]
    """Stop the arm, reporting nothing."""
    leave: Callable[[bool], None]
    """Leave servo mode (quietly: report nothing)."""


class _Stream:
    """What both streams share: the pacing grid and the last accepted set-point."""

    def __init__(self, arm: ArmLink, *, rate_hz: Optional[float], filter: Optional[Filter], steps: int,
                 drain_timeout: Optional[float], clock: Callable[[], float]) -> None:
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
        self._start: Optional[float] = None
        self._tick = 0
        self._open = False
        self._target: Optional[Target] = None  # where the last accepted set-point leaves the arm
        self._since = 0  # the Arm's stop count when _target was set
        self.sent = 0
        """Set-points the controller accepted."""
        self.overruns = 0
        """Sends that came after their deadline."""

    @property
    def period(self) -> Optional[float]:
        """Seconds between set-points; None when the stream is not paced."""
        return self._period

    def _open_stream(self) -> None:
        self._target = Target.at_joints(self._arm.enter(self._filter))
        self._since = self._arm.stops()
        self._open = True

    def _checked(self, values: Vector, kind: str) -> Tuple[float, ...]:
        if not self._open:
            raise ValueError("send on a servo stream that is not open (use it in a with block)")
        return six(values, "joint set-point" if kind == "servo_j" else "pose set-point")

    def _delay(self) -> float:
        """Seconds until the next set-point is due (0: now); counts an overrun."""
        if self._period is None:
            return 0.0
        now = self._clock()
        delay = 0.0
        if self._start is None:
            self._start = now  # the first set-point goes at once and anchors the grid
        else:
            due = self._start + self._tick * self._period
            if now < due:
                delay = due - now
            elif now > due:
                self.overruns += 1
        self._tick += 1
        return delay

    def _point(self, kind: str, values: Tuple[float, ...], relative: bool) -> None:
        target = self._next_target(kind, values, relative)
        try:
            self._arm.point(kind, values, 1 if relative else 0, self._steps)
        except ArmError:
            if kind == "servo_p":
                self._target = None  # a pose past a limit is cut there and still taken: where is not known
            raise
        self._target = target
        self._since = self._arm.stops()
        self.sent += 1

    def _next_target(self, kind: str, values: Tuple[float, ...], relative: bool) -> Optional[Target]:
        a, b, c, d, e, f = values
        given = (a, b, c, d, e, f)
        if not relative:
            return Target.at_joints(given) if kind == "servo_j" else Target.at_pose(given)
        last = self._target
        if last is None:
            return None
        if kind == "servo_j":
            return None if last.joints is None else joints_by(last.joints, given)
        if last.position is None and last.joints is not None:
            last = Target.at_pose(self._arm.forward(last.joints))
        return pose_by(last, given)


class ServoStream(_Stream):
    """An open servo stream of one Arm; made by `Arm.servo()`."""

    def __init__(self, arm: ArmLink, *, rate_hz: Optional[float], filter: Optional[Filter], steps: int,
                 drain_timeout: Optional[float], clock: Callable[[], float],
                 sleep: Callable[[float], None]) -> None:
        super().__init__(arm, rate_hz=rate_hz, filter=filter, steps=steps, drain_timeout=drain_timeout,
                         clock=clock)
        self._sleep = sleep

    def __enter__(self) -> "ServoStream":
        self._open_stream()
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
        self._send("servo_j", joints, relative)

    def send_pose(self, pose: Vector, *, relative: bool = False) -> None:
        """Send one TCP pose set-point (mm, rad) when it is due."""
        self._send("servo_p", pose, relative)

    def wait_settled(self, timeout: Optional[float] = None) -> None:
        """Wait until the arm has taken every accepted set-point and rests
        there ("in position", at the last one within the Arm's tolerance).
        A timeout stops the arm and raises TimeoutError; a stream stopped
        from elsewhere raises AbortedError."""
        run(self._arm.settle(timeout, self._target, self._since), self._arm.stop)

    def _send(self, kind: str, values: Vector, relative: bool) -> None:
        checked = self._checked(values, kind)
        delay = self._delay()
        if delay > 0:
            self._sleep(delay)
        self._point(kind, checked, relative)


class AsyncServoStream(_Stream):
    """ServoStream for asyncio: `send` awaits its deadline, so one event loop
    streams to several arms; made by `Arm.servo_async()`."""

    def __init__(self, arm: ArmLink, *, rate_hz: Optional[float], filter: Optional[Filter], steps: int,
                 drain_timeout: Optional[float], clock: Callable[[], float],
                 sleep: Callable[[float], Awaitable[None]]) -> None:
        super().__init__(arm, rate_hz=rate_hz, filter=filter, steps=steps, drain_timeout=drain_timeout,
                         clock=clock)
        self._sleep = sleep

    async def __aenter__(self) -> "AsyncServoStream":
        self._open_stream()
        return self

    async def __aexit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                        tb: Optional[TracebackType]) -> None:
        self._open = False
        try:
            if exc_type is None:
                await self.wait_settled(self._drain_timeout)
            else:
                self._arm.stop()
        finally:
            self._arm.leave(exc_type is not None)

    async def send(self, joints: Vector, *, relative: bool = False) -> None:
        """Send one joint set-point when it is due, awaiting its deadline."""
        await self._send("servo_j", joints, relative)

    async def send_pose(self, pose: Vector, *, relative: bool = False) -> None:
        """Send one TCP pose set-point when it is due, awaiting its deadline."""
        await self._send("servo_p", pose, relative)

    async def wait_settled(self, timeout: Optional[float] = None) -> None:
        """ServoStream.wait_settled, with asyncio."""
        await run_async(self._arm.settle(timeout, self._target, self._since), self._arm.stop)

    async def _send(self, kind: str, values: Vector, relative: bool) -> None:
        checked = self._checked(values, kind)
        delay = self._delay()
        if delay > 0:
            await self._sleep(delay)
        self._point(kind, checked, relative)

"""The Arm's moves and waits.

Every move is queued non-blocking and waited for by one generator
(`_settle_steps`) that polls the status: the blocking methods drive it with
time.sleep, the *_async twins with asyncio.sleep (`_waiting.py`). A wait
reports a motion done only when the controller says it has ended (in
position, no error) and the arm stands at the motion's target within the
Arm's tolerance; anything else raises the error that names the cause.
"""

import collections
import dataclasses
import time
from typing import Callable, Deque, Iterable, List, Optional

from ._base import ArmBase, checked_timeout
from ._targets import Target, joints_by, jog_target, pose_by, rpy_matrix
from ._waiting import Steps, run, run_async
from .constants import JogMode, JogSpace, MoveMode
from .errors import AbortedError, ArmError, Code
from .path import ArcTo, JointTo, LineTo, PlannedMove, Waypoint, checked_blend, checked_speed, number, plan, planned
from .status import Status, Vector

MAX_QUEUED = 64  # motions the controller queues at most
DEFAULT_JOINT_ACC = 3.141592653589793  # rad/s^2: the controller's default, sent where an acc is needed
DEFAULT_LINEAR_ACC = 500.0  # mm/s^2: likewise (a circular move always needs one)

# Refusals while a path is fed that mean "the arm was stopped meanwhile": the
# wait then reports why (the error state, a disable, an abort).
_STOPPED_MEANWHILE = {Code.BUSY, Code.NOT_POWERED, Code.NOT_ENABLED, Code.COLLISION, Code.ERROR_STATE,
                      Code.ABORTED}


def _cause(status: Status) -> str:
    if not status.powered:
        return "the arm was powered off"
    if not status.enabled:
        return "the arm was disabled"
    return "the motion was aborted (by another client of the controller, or a program)"


class _Feed:
    """The moves of a path not queued yet."""

    def __init__(self, moves: Iterable[PlannedMove]) -> None:
        self.pending: Deque[PlannedMove] = collections.deque(moves)
        self.broken = False  # the controller refused one because the arm was stopped


class Moves(ArmBase):
    """Moves, jogs, paths and the waits for them."""

    # ---- moves -----------------------------------------------------------------------------

    def move_joints(self, joints: Vector, speed: float, acc: Optional[float] = None, *, relative: bool = False,
                    blend: float = 0.0, wait: bool = True, timeout: Optional[float] = None) -> None:
        """Move in joint space to `joints` (rad; by them if `relative`) at
        `speed` rad/s of the joint that travels furthest, `acc` rad/s^2.
        `blend` (rad, with wait=False) lets the arm join the next queued
        joint move that far before this one's end."""
        move = self._joint_move(joints, speed, acc, blend, wait)
        timeout = self._timeout(timeout)
        run(self._motion_steps(lambda: self._queue(move, relative), wait, timeout, move.kind), self._stop_quietly)

    async def move_joints_async(self, joints: Vector, speed: float, acc: Optional[float] = None, *,
                                relative: bool = False, blend: float = 0.0, wait: bool = True,
                                timeout: Optional[float] = None) -> None:
        """move_joints, waiting with asyncio."""
        move = self._joint_move(joints, speed, acc, blend, wait)
        timeout = self._timeout(timeout)
        await run_async(self._motion_steps(lambda: self._queue(move, relative), wait, timeout, move.kind),
                        self._stop_quietly)

    def move_linear(self, pose: Vector, speed: float, acc: Optional[float] = None, *, relative: bool = False,
                    blend: float = 0.0, wait: bool = True, timeout: Optional[float] = None) -> None:
        """Move the TCP in a straight line to `pose` (mm, rad) at `speed`
        mm/s, `acc` mm/s^2. `blend` (mm, with wait=False) lets the arm join
        the next queued Cartesian move that far before this one's end."""
        move = self._linear_move(pose, speed, acc, blend, wait)
        timeout = self._timeout(timeout)
        run(self._motion_steps(lambda: self._queue(move, relative), wait, timeout, move.kind), self._stop_quietly)

    async def move_linear_async(self, pose: Vector, speed: float, acc: Optional[float] = None, *,
                                relative: bool = False, blend: float = 0.0, wait: bool = True,
                                timeout: Optional[float] = None) -> None:
        """move_linear, waiting with asyncio."""
        move = self._linear_move(pose, speed, acc, blend, wait)
        timeout = self._timeout(timeout)
        await run_async(self._motion_steps(lambda: self._queue(move, relative), wait, timeout, move.kind),
                        self._stop_quietly)

    def move_circular(self, *, via: Vector, end: Vector, speed: float, acc: Optional[float] = None,
                      relative: bool = False, blend: float = 0.0, wait: bool = True,
                      timeout: Optional[float] = None) -> None:
        """Move the TCP along the arc through `via`'s position to `end` at
        `speed` mm/s, `acc` mm/s^2 (500 when not given). The points are
        keyword-only: velmo's circular_move takes the end first."""
        move = self._circular_move(via, end, speed, acc, blend, wait)
        timeout = self._timeout(timeout)
        run(self._motion_steps(lambda: self._queue(move, relative), wait, timeout, move.kind), self._stop_quietly)

    async def move_circular_async(self, *, via: Vector, end: Vector, speed: float, acc: Optional[float] = None,
                                  relative: bool = False, blend: float = 0.0, wait: bool = True,
                                  timeout: Optional[float] = None) -> None:
        """move_circular, waiting with asyncio."""
        move = self._circular_move(via, end, speed, acc, blend, wait)
        timeout = self._timeout(timeout)
        await run_async(self._motion_steps(lambda: self._queue(move, relative), wait, timeout, move.kind),
                        self._stop_quietly)

    def move_path(self, waypoints: Iterable[Waypoint], *, wait: bool = True, timeout: Optional[float] = None) -> None:
        """Run `waypoints` (JointTo, LineTo, ArcTo) as one motion, each
        blending into the next within its `blend`; the arm stops at the last
        one. Waits, raises and stops like every move; paths longer than the
        controller's queue (64 moves) are fed while they run (wait=True only)."""
        moves = self._path(waypoints, wait)
        timeout = self._timeout(timeout)
        feed = _Feed(moves)
        run(self._motion_steps(lambda: self._start_path(feed), wait, timeout, "move_path", feed), self._stop_quietly)

    async def move_path_async(self, waypoints: Iterable[Waypoint], *, wait: bool = True,
                              timeout: Optional[float] = None) -> None:
        """move_path, waiting with asyncio."""
        moves = self._path(waypoints, wait)
        timeout = self._timeout(timeout)
        feed = _Feed(moves)
        await run_async(self._motion_steps(lambda: self._start_path(feed), wait, timeout, "move_path", feed),
                        self._stop_quietly)

    def jog(self, axis: int, speed: float, *, space: JogSpace = JogSpace.JOINT, by: Optional[float] = None,
            to: Optional[float] = None, wait: bool = True, timeout: Optional[float] = None) -> None:
        """Jog one axis (0 to 5) of `space` at `speed` (rad/s or mm/s): `by` a
        step, `to` a position, or, with neither, continuously in the
        direction of `speed`'s sign: a continuous jog returns at once and
        runs until `stop()` or a limit."""
        start = self._jog_start(axis, speed, space, by, to)
        timeout = self._timeout(timeout)
        run(self._motion_steps(start, wait and (by is not None or to is not None), timeout, "jog"),
            self._stop_quietly)

    async def jog_async(self, axis: int, speed: float, *, space: JogSpace = JogSpace.JOINT,
                        by: Optional[float] = None, to: Optional[float] = None, wait: bool = True,
                        timeout: Optional[float] = None) -> None:
        """jog, waiting with asyncio."""
        start = self._jog_start(axis, speed, space, by, to)
        timeout = self._timeout(timeout)
        await run_async(self._motion_steps(start, wait and (by is not None or to is not None), timeout, "jog"),
                        self._stop_quietly)

    def stop(self) -> None:
        """Stop every motion now (motion_abort); a wait under way raises AbortedError."""
        self._stops += 1
        self._moving = False
        self._check("motion_abort", self.rc.motion_abort())

    def wait(self, timeout: Optional[float] = None) -> None:
        """Wait until the motions this Arm queued have ended at their target
        (the last one's). An error state raises its ArmError, a motion
        stopped short AbortedError; a timeout stops the arm and raises
        TimeoutError."""
        timeout = self._timeout(timeout)
        run(self._settle_steps(timeout, self._stops, "wait"), self._stop_quietly)

    async def wait_async(self, timeout: Optional[float] = None) -> None:
        """wait, with asyncio."""
        timeout = self._timeout(timeout)
        await run_async(self._settle_steps(timeout, self._stops, "wait"), self._stop_quietly)

    # ---- checking what a move asks, before anything reaches the controller --------------------

    def _timeout(self, timeout: Optional[float]) -> Optional[float]:
        """The Arm's default for None; inf means none."""
        return self.timeout if timeout is None else checked_timeout(timeout)

    def _joint_move(self, joints: Vector, speed: float, acc: Optional[float], blend: float,
                    wait: bool) -> PlannedMove:
        self._blend_needs_no_wait(blend, wait, "rad")
        return plan(JointTo(joints, speed, acc, blend), self.limits)

    def _linear_move(self, pose: Vector, speed: float, acc: Optional[float], blend: float,
                     wait: bool) -> PlannedMove:
        self._blend_needs_no_wait(blend, wait, "mm")
        return plan(LineTo(pose, speed, acc, blend), self.limits)

    def _circular_move(self, via: Vector, end: Vector, speed: float, acc: Optional[float], blend: float,
                       wait: bool) -> PlannedMove:
        self._blend_needs_no_wait(blend, wait, "mm")
        return plan(ArcTo(via, end, speed, acc, blend), self.limits)

    @staticmethod
    def _blend_needs_no_wait(blend: float, wait: bool, unit: str) -> None:
        if checked_blend(blend, unit) > 0 and wait:
            raise ValueError("blend needs wait=False: a move that is waited for stops at its target "
                             "(move_path runs blended waypoints)")

    def _path(self, waypoints: Iterable[Waypoint], wait: bool) -> List[PlannedMove]:
        moves = list(planned(tuple(waypoints), self.limits))
        moves[-1] = dataclasses.replace(moves[-1], blend=0.0)  # the arm stops at the path's end
        if not wait and len(moves) > MAX_QUEUED:
            raise ValueError(f"a path of {len(moves)} waypoints needs wait=True: the controller queues "
                             f"{MAX_QUEUED} moves, the rest are fed while it runs")
        return moves

    def _jog_start(self, axis: int, speed: float, space: JogSpace, by: Optional[float],
                   to: Optional[float]) -> Callable[[], Optional[Target]]:
        if by is not None and to is not None:
            raise ValueError("jog takes `by` or `to`, not both")
        if not (isinstance(axis, int) and 0 <= axis <= 5):  # pyright: ignore[reportUnnecessaryIsInstance]
            raise ValueError(f"a jog's axis is 0 to 5, got {axis!r}")
        if to is not None and space == JogSpace.TOOL:
            raise ValueError("a jog `to` a position is not possible in the tool frame: use `by`")
        limits = self.limits
        if space == JogSpace.JOINT:
            maximum, unit = limits.joint_speed[axis], "rad/s"
        elif axis < 3:
            maximum, unit = limits.linear_speed, "mm/s"
        else:
            maximum, unit = limits.angular_speed, "rad/s"
        checked_speed(abs(number(speed, "jog speed")), maximum, unit, "jog speed")
        mode, amount = ((JogMode.BY, by) if by is not None else (JogMode.TO, to) if to is not None
                        else (JogMode.CONTINUOUS, 0.0))

        def start() -> Optional[Target]:
            target: Optional[Target] = None
            if mode != JogMode.CONTINUOUS:
                status = self.status()  # a jog starts from where the arm stands (it is refused while moving)
                target = jog_target(status.joints, status.tcp, axis, int(space), to, by)
            self._check("jog", self.rc.jog(axis, int(mode), int(space), speed, float(amount)))
            return target
        return start

    # ---- queueing -------------------------------------------------------------------------

    def _queue(self, move: PlannedMove, relative: bool) -> Optional[Target]:
        """Queues one move, non-blocking; returns where it leaves the arm (None: not known)."""
        target = self._target_of(move, relative)
        rc = self.rc
        mode = int(MoveMode.RELATIVE if relative else MoveMode.ABSOLUTE)
        extend = move.acc is not None or move.blend > 0
        if move.kind == "joint_move":
            acc = DEFAULT_JOINT_ACC if move.acc is None else move.acc
            operation = "joint_move_extend" if extend else "joint_move"
            result = (rc.joint_move_extend(move.target, mode, False, move.speed, acc, move.blend) if extend
                      else rc.joint_move(move.target, mode, False, move.speed))
        elif move.kind == "linear_move":
            acc = DEFAULT_LINEAR_ACC if move.acc is None else move.acc
            operation = "linear_move_extend" if extend else "linear_move"
            result = (rc.linear_move_extend(move.target, mode, False, move.speed, acc, move.blend) if extend
                      else rc.linear_move(move.target, mode, False, move.speed))
        else:
            assert move.via is not None
            operation = "circular_move"
            result = rc.circular_move(move.target, move.via, mode, False, move.speed,
                                      DEFAULT_LINEAR_ACC if move.acc is None else move.acc, move.blend)
        self._check(operation, result)
        return target

    def _target_of(self, move: PlannedMove, relative: bool) -> Optional[Target]:
        if not relative:
            return Target.at_joints(move.target) if move.kind == "joint_move" else Target.at_pose(move.target)
        base = self._queue_end()
        if base is None:
            return None
        if move.kind == "joint_move":
            return None if base.joints is None else joints_by(base.joints, move.target)
        if base.position is None and base.joints is not None:  # the pose of a joint target
            base = Target.at_pose(self._value("kine_forward", self.rc.kine_forward(base.joints)))
        return pose_by(base, move.target)

    def _queue_end(self) -> Optional[Target]:
        """Where the queue leaves the arm, which a relative move starts from."""
        if self._moving:
            return self._expected
        status = self.status()
        if not status.in_position:  # another client's motion runs: where it ends is not known here
            return None
        return Target(joints=status.joints, position=status.tcp[:3], rotation=rpy_matrix(*status.tcp[3:]))

    def _start_path(self, feed: _Feed) -> Optional[Target]:
        return self._top_up(feed, self.status().motions_queued)

    def _top_up(self, feed: _Feed, queued: int) -> Optional[Target]:
        """Queues the path's next moves while the controller has room; returns
        where the last one queued leaves the arm."""
        target = self._expected
        room = MAX_QUEUED - queued
        while feed.pending and room > 0 and not feed.broken:
            move = feed.pending[0]
            try:
                target = self._queue(move, relative=False)
            except ArmError as e:
                if self._moving and e.code in _STOPPED_MEANWHILE:
                    feed.broken = True  # the wait reports why the arm stopped
                    break
                raise
            feed.pending.popleft()
            self._moving = True
            self._expected = target
            room -= 1
        return target

    # ---- waiting -----------------------------------------------------------------------------

    def _motion_steps(self, start: Callable[[], Optional[Target]], wait: bool, timeout: Optional[float],
                      operation: str, feed: Optional[_Feed] = None) -> Steps[None]:
        # The start runs inside the driver, so an interrupt right after it still stops the arm.
        stops = self._stops
        expected = start()
        self._moving = True
        self._expected = expected
        if wait:
            yield from self._settle_steps(timeout, stops, operation, feed)

    def _settle_steps(self, timeout: Optional[float], stops: int, operation: str,
                      feed: Optional[_Feed] = None) -> Steps[None]:
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            status = self.status()
            if status.error_code != 0 or status.protective_stop:
                self._moving = False  # the controller stopped the arm itself
                raise self._error(status.error_code or int(Code.COLLISION), operation)
            feeding = feed is not None and feed.pending and not feed.broken and self._stops == stops
            if status.in_position:
                if not (feeding and self._reached(status)):
                    self._ended(status, stops, operation, feed)
                    return
                # at rest on a waypoint it reached while the path was still being fed
            if feed is not None and feeding:
                self._top_up(feed, status.motions_queued)
            now = time.monotonic()
            if deadline is not None and now >= deadline:
                raise TimeoutError(f"{operation}: the arm did not end its motion within {timeout} s: it was stopped")
            yield self._poll if deadline is None else min(self._poll, deadline - now)

    def _reached(self, status: Status) -> bool:
        expected = self._expected
        return expected is None or expected.miss(status.joints, status.tcp, self.tolerance) is None

    def _ended(self, status: Status, stops: int, operation: str, feed: Optional[_Feed]) -> None:
        """The controller says the motion has ended: done, or the error naming why not."""
        expected = self._expected
        self._moving = False
        self._expected = None
        if self._stops != stops:
            raise AbortedError(Code.ABORTED, "motion aborted: stopped by Arm.stop() while waiting", operation)
        miss = None if expected is None else expected.miss(status.joints, status.tcp, self.tolerance)
        if miss is not None:
            raise AbortedError(Code.ABORTED, f"{_cause(status)} {miss}", operation)
        if feed is not None and feed.pending:
            raise AbortedError(Code.ABORTED, f"{_cause(status)} before the path's end "
                               f"({len(feed.pending)} waypoints not begun)", operation)

    def _stop_quietly(self) -> None:
        """Stop after an interrupt: the interrupt is what the caller sees."""
        if self._rc is not None:
            self._stops += 1
            self._moving = False
            self._expected = None
            self._rc.motion_abort()


"""The Arm: one controller, one login, errors raised, moves that can be stopped."""

import enum
import threading
import time
from types import TracebackType
from typing import Callable, List, Optional, Tuple, Type, TypeVar, Union

import velmo

from ._waiting import Steps, run, run_async
from ._address import login_address
from ._events import Callback, dispatcher
from .errors import AbortedError, ArmError, Code, describe, error_for
from .servo import ArmLink, CartesianNonLinear, Filter, JointLowPass, JointMovingMean, JointNonLinear, ServoStream
from .status import Joints, Pose, Status, StatusRecord, Vector, six

__all__ = ["Arm", "connect", "IOGroup", "JogSpace"]

V = TypeVar("V")

DEFAULT_LINEAR_ACC = 500.0  # mm/s^2: a circular move needs one; the controller's default for lines

# velmo keeps one address for all RC objects: the next login uses the latest
# construction's. Arms construct and log in under this lock, back to back.
_login_lock = threading.Lock()


class IOGroup(enum.IntEnum):
    """The IO groups (velmo's `iotype`)."""

    CABINET = 0
    TOOL = 1
    EXTENSION = 2


class JogSpace(enum.IntEnum):
    """What a jog's axis means (velmo's `coord_type`)."""

    CARTESIAN = 0
    """x, y, z, rx, ry, rz of the TCP in the user frame."""
    JOINT = 1
    """joints 1 to 6."""
    TOOL = 2
    """x, y, z, rx, ry, rz in the tool frame."""


class Arm:
    """One controller, logged in for as long as the Arm is open.

    Made by `connect()`; use it as a context manager. Every failing call
    raises an `ArmError` of its family. `arm.rc` is the underlying
    `velmo.RC` for what the layer does not cover.
    """

    def __init__(self, address: str, *, enable: bool = False, disable_on_exit: bool = False,
                 power_off_on_exit: bool = False, poll_interval: float = 0.005,
                 servo_cycle_hz: float = 125.0) -> None:
        if not poll_interval > 0:
            raise ValueError(f"poll_interval must be positive, got {poll_interval!r}")
        self.address = address
        """The address given to connect()."""
        self.login_address = login_address(address)
        """The address the library was given: `address`, or a numeric one for a long name."""
        self._disable_on_exit = disable_on_exit
        self._power_off_on_exit = power_off_on_exit
        self._poll = poll_interval
        self._servo_cycle_hz = servo_cycle_hz
        self._moving = False  # a motion this Arm started and has not seen end
        self._stops = 0  # stop() calls so far: a wait that sees one raises AbortedError
        self._stream: Optional[ServoStream] = None
        self._callbacks: List[Callback] = []
        with _login_lock:
            rc = velmo.RC(self.login_address)
            (code,) = rc.login()
        if code != 0:
            # the handle is now -1: the library cannot be asked for its message
            raise error_for(code, operation=f"login to {self.login_address!r}")
        self._rc: Optional[velmo.RC] = rc
        if enable:
            try:
                self.power_on()
                self.enable()
            except BaseException:
                self.close()
                raise

    # ---- the connection ------------------------------------------------------------

    @property
    def rc(self) -> velmo.RC:
        """The logged-in velmo.RC (ValueError once the Arm is closed)."""
        if self._rc is None:
            raise ValueError("operation on a closed Arm")
        return self._rc

    @property
    def closed(self) -> bool:
        return self._rc is None

    def __enter__(self) -> "Arm":
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        self._close(quietly=exc_type is not None)

    async def __aenter__(self) -> "Arm":
        return self

    async def __aexit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                        tb: Optional[TracebackType]) -> None:
        self._close(quietly=exc_type is not None)

    def close(self) -> None:
        """Stop any motion this Arm started, leave servo mode, log out (and
        disable or power off if connect() was asked to). Closing twice is fine."""
        self._close(quietly=False)

    def _close(self, quietly: bool) -> None:
        """Runs every step whatever fails; raises the first failure unless
        `quietly` (an exception is already on its way)."""
        rc = self._rc
        if rc is None:
            return
        steps: List[Tuple[str, Callable[[], Tuple[int]]]] = []
        if self._moving:
            steps.append(("motion_abort", rc.motion_abort))
        steps.append(("servo_move_enable", self._servo_off_if_on))
        if self._disable_on_exit:
            steps.append(("disable_robot", rc.disable_robot))
        if self._power_off_on_exit:
            steps.append(("power_off", rc.power_off))
        steps.append(("logout", rc.logout))
        first: Optional[ArmError] = None
        try:
            for operation, step in steps:
                (code,) = step()
                if code != 0 and first is None:
                    first = self._error(code, operation)
        finally:
            self._forget()
        if first is not None and not quietly:
            raise first

    def _servo_off_if_on(self) -> Tuple[int]:
        rc = self.rc
        result = rc.get_robot_status()
        if result[0] != 0:
            return (result[0],)
        return rc.servo_move_enable(0) if result[1][6] else (0,)

    def _forget(self) -> None:
        for callback in self._callbacks:
            dispatcher.remove(callback)
        self._callbacks.clear()
        self._rc = None
        self._moving = False

    # ---- results -----------------------------------------------------------------------

    def _check(self, operation: str, result: Tuple[int, ...]) -> None:
        if result[0] != 0:
            raise self._error(result[0], operation)

    def _value(self, operation: str, result: Union[Tuple[int], Tuple[int, V]]) -> V:
        if result[0] != 0 or len(result) != 2:
            raise self._error(result[0], operation)
        return result[1]

    def _error(self, code: int, operation: str) -> ArmError:
        """The error for `code`, with the library's message when its last
        error is this code."""
        message: Optional[str] = None
        last = self.rc.get_last_error()
        if last[0] == 0 and last[1][0] == code and last[1][1]:
            message = last[1][1]
        return error_for(code, message, operation)

    # ---- power, enable, recovery -----------------------------------------------------------

    def power_on(self) -> None:
        self._check("power_on", self.rc.power_on())

    def power_off(self) -> None:
        self._check("power_off", self.rc.power_off())

    def enable(self) -> None:
        """Enable the servos (the arm must be powered)."""
        self._check("enable_robot", self.rc.enable_robot())

    def disable(self) -> None:
        self._check("disable_robot", self.rc.disable_robot())

    def recover(self) -> None:
        """End a protective stop (collision_recover) or the error state
        (clear_error), whichever the arm is in."""
        status = self.status()
        if status.protective_stop:
            self._check("collision_recover", self.rc.collision_recover())
        elif status.error_code != 0:
            self._check("clear_error", self.rc.clear_error())

    # ---- state -------------------------------------------------------------------------

    def status(self) -> Status:
        return Status.from_record(self._record("get_robot_status"))

    def _record(self, operation: str) -> StatusRecord:
        return self._value(operation, self.rc.get_robot_status())

    @property
    def joints(self) -> Joints:
        """The joint angles, rad."""
        return six(self._value("get_joint_position", self.rc.get_joint_position()))

    @property
    def tcp(self) -> Pose:
        """The TCP pose (mm, rad) in the current tool and user frame."""
        return six(self._value("get_tcp_position", self.rc.get_tcp_position()))

    @property
    def powered(self) -> bool:
        return bool(self._value("get_robot_state", self.rc.get_robot_state())[1])

    @property
    def enabled(self) -> bool:
        return bool(self._value("get_robot_state", self.rc.get_robot_state())[2])

    @property
    def in_error(self) -> bool:
        """In the error state or stopped on a collision: `recover()` first."""
        return self.status().in_error

    # ---- moves ---------------------------------------------------------------------------

    def move_joints(self, joints: Vector, speed: float, acc: Optional[float] = None, *, relative: bool = False,
                    wait: bool = True, timeout: Optional[float] = None) -> None:
        """Move in joint space to `joints` (rad; by them if `relative`) at
        `speed` rad/s of the joint that travels furthest, `acc` rad/s^2."""
        target = six(joints, "joint position")
        self._motion(lambda: self._start_joints(target, speed, acc, relative), wait, timeout)

    async def move_joints_async(self, joints: Vector, speed: float, acc: Optional[float] = None, *,
                                relative: bool = False, wait: bool = True, timeout: Optional[float] = None) -> None:
        """move_joints, waiting with asyncio."""
        target = six(joints, "joint position")
        await self._motion_async(lambda: self._start_joints(target, speed, acc, relative), wait, timeout)

    def move_linear(self, pose: Vector, speed: float, acc: Optional[float] = None, *, relative: bool = False,
                    wait: bool = True, timeout: Optional[float] = None) -> None:
        """Move the TCP in a straight line to `pose` (mm, rad) at `speed` mm/s, `acc` mm/s^2."""
        target = six(pose, "pose")
        self._motion(lambda: self._start_linear(target, speed, acc, relative), wait, timeout)

    async def move_linear_async(self, pose: Vector, speed: float, acc: Optional[float] = None, *,
                                relative: bool = False, wait: bool = True, timeout: Optional[float] = None) -> None:
        """move_linear, waiting with asyncio."""
        target = six(pose, "pose")
        await self._motion_async(lambda: self._start_linear(target, speed, acc, relative), wait, timeout)

    def move_circular(self, via: Vector, end: Vector, speed: float, acc: Optional[float] = None, *,
                      relative: bool = False, wait: bool = True, timeout: Optional[float] = None) -> None:
        """Move the TCP along the arc through `via`'s position to `end` (mm/s, mm/s^2)."""
        points = six(via, "via pose"), six(end, "end pose")
        self._motion(lambda: self._start_circular(*points, speed, acc, relative), wait, timeout)

    async def move_circular_async(self, via: Vector, end: Vector, speed: float, acc: Optional[float] = None, *,
                                  relative: bool = False, wait: bool = True,
                                  timeout: Optional[float] = None) -> None:
        """move_circular, waiting with asyncio."""
        points = six(via, "via pose"), six(end, "end pose")
        await self._motion_async(lambda: self._start_circular(*points, speed, acc, relative), wait, timeout)

    def jog(self, axis: int, speed: float, *, space: JogSpace = JogSpace.JOINT, by: Optional[float] = None,
            to: Optional[float] = None, wait: bool = True, timeout: Optional[float] = None) -> None:
        """Jog one axis (0 to 5) of `space` at `speed` (rad/s or mm/s): `by` a
        step, `to` a position, or, with neither, continuously in the
        direction of `speed`'s sign: a continuous jog returns at once and
        runs until `stop()` or a limit."""
        start = self._jog_start(axis, speed, space, by, to)
        self._motion(start, wait and (by is not None or to is not None), timeout)

    async def jog_async(self, axis: int, speed: float, *, space: JogSpace = JogSpace.JOINT,
                        by: Optional[float] = None, to: Optional[float] = None, wait: bool = True,
                        timeout: Optional[float] = None) -> None:
        """jog, waiting with asyncio."""
        start = self._jog_start(axis, speed, space, by, to)
        await self._motion_async(start, wait and (by is not None or to is not None), timeout)

    def stop(self) -> None:
        """Stop every motion now (motion_abort); a wait under way raises AbortedError."""
        self._stops += 1
        self._moving = False
        self._check("motion_abort", self.rc.motion_abort())

    def wait(self, timeout: Optional[float] = None) -> None:
        """Wait until the arm is in position (nothing queued). An error state
        raises its ArmError; a timeout stops the arm and raises TimeoutError."""
        run(self._settle_steps(timeout), self._stop_quietly)

    async def wait_async(self, timeout: Optional[float] = None) -> None:
        """wait, with asyncio."""
        await run_async(self._settle_steps(timeout), self._stop_quietly)

    def _motion(self, start: Callable[[], None], wait: bool, timeout: Optional[float]) -> None:
        run(self._motion_steps(start, wait, timeout), self._stop_quietly)

    async def _motion_async(self, start: Callable[[], None], wait: bool, timeout: Optional[float]) -> None:
        await run_async(self._motion_steps(start, wait, timeout), self._stop_quietly)

    def _motion_steps(self, start: Callable[[], None], wait: bool, timeout: Optional[float]) -> Steps[None]:
        # The start runs inside the driver, so an interrupt right after it still stops the arm.
        stops = self._stops
        start()
        if wait:
            yield from self._settle_steps(timeout, stops)

    def _settle_steps(self, timeout: Optional[float], stops: Optional[int] = None) -> Steps[None]:
        stops = self._stops if stops is None else stops
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            record = self._record("get_robot_status")
            if record[0] != 0 or record[5]:
                self._moving = False  # the controller stopped the arm itself
                raise self._error(record[0] or int(Code.COLLISION), "motion")
            if record[1]:
                self._moving = False
                if self._stops != stops:
                    raise AbortedError(Code.ABORTED, describe(Code.ABORTED), "stopped while waiting")
                return
            now = time.monotonic()
            if deadline is not None and now >= deadline:
                raise TimeoutError(f"the arm was not in position within {timeout} s: it was stopped")
            yield self._poll if deadline is None else min(self._poll, deadline - now)

    def _stop_quietly(self) -> None:
        """Stop after an interrupt: the interrupt is what the caller sees."""
        if self._rc is not None:
            self._stops += 1
            self._moving = False
            self._rc.motion_abort()

    def _start_joints(self, target: Joints, speed: float, acc: Optional[float], relative: bool) -> None:
        mode = 1 if relative else 0
        if acc is None:
            result = self.rc.joint_move(target, mode, False, speed)
        else:
            result = self.rc.joint_move_extend(target, mode, False, speed, acc, 0.0)
        self._started("joint_move", result)

    def _start_linear(self, target: Pose, speed: float, acc: Optional[float], relative: bool) -> None:
        mode = 1 if relative else 0
        if acc is None:
            result = self.rc.linear_move(target, mode, False, speed)
        else:
            result = self.rc.linear_move_extend(target, mode, False, speed, acc, 0.0)
        self._started("linear_move", result)

    def _start_circular(self, via: Pose, end: Pose, speed: float, acc: Optional[float], relative: bool) -> None:
        result = self.rc.circular_move(end, via, 1 if relative else 0, False, speed,
                                       DEFAULT_LINEAR_ACC if acc is None else acc, 0.0)
        self._started("circular_move", result)

    def _jog_start(self, axis: int, speed: float, space: JogSpace, by: Optional[float],
                   to: Optional[float]) -> Callable[[], None]:
        if by is not None and to is not None:
            raise ValueError("jog takes `by` or `to`, not both")
        mode, amount = (1, by) if by is not None else (0, to) if to is not None else (2, 0.0)

        def start() -> None:
            self._started("jog", self.rc.jog(axis, mode, int(space), speed, amount))
        return start

    def _started(self, operation: str, result: Tuple[int]) -> None:
        self._check(operation, result)
        self._moving = True

    # ---- servo streaming ------------------------------------------------------------------

    def servo(self, rate_hz: Optional[float] = 125.0, filter: Optional[Filter] = None, *,
              steps: Optional[int] = None, drain_timeout: Optional[float] = None,
              clock: Callable[[], float] = time.monotonic,
              sleep: Callable[[float], None] = time.sleep) -> ServoStream:
        """A servo stream, to use in a with block: `rate_hz` set-points a
        second (None: not paced), through `filter` (None: unfiltered).
        Each set-point is reached over `steps` controller cycles (default:
        the cycles in one period, at least 1). `clock` and `sleep` pace it
        (time.monotonic and time.sleep, as sched.scheduler takes them)."""
        if steps is None:
            steps = 1 if rate_hz is None else max(1, round(self._servo_cycle_hz / rate_hz))
        link = ArmLink(enter=self._enter_servo, point=self._servo_point, settle=self._settle_steps,
                       stop=self._stop_quietly, leave=self._leave_servo)
        return ServoStream(link, rate_hz=rate_hz, filter=filter, steps=steps, drain_timeout=drain_timeout,
                           clock=clock, sleep=sleep)

    def _enter_servo(self, chosen: Optional[Filter]) -> None:
        rc = self.rc
        if chosen is None:
            self._check("servo_move_use_none_filter", rc.servo_move_use_none_filter())
        elif isinstance(chosen, JointLowPass):
            self._check("servo_move_use_joint_LPF", rc.servo_move_use_joint_LPF(chosen.cutoff_hz))
        elif isinstance(chosen, JointNonLinear):
            self._check("servo_move_use_joint_NLF", rc.servo_move_use_joint_NLF(
                chosen.max_velocity, chosen.max_acceleration, chosen.max_jerk))
        elif isinstance(chosen, CartesianNonLinear):
            self._check("servo_move_use_carte_NLF", rc.servo_move_use_carte_NLF(
                chosen.max_linear_velocity, chosen.max_linear_acceleration, chosen.max_linear_jerk,
                chosen.max_angular_velocity, chosen.max_angular_acceleration, chosen.max_angular_jerk))
        elif isinstance(chosen, JointMovingMean):  # pyright: ignore[reportUnnecessaryIsInstance]
            self._check("servo_move_use_joint_MMF", rc.servo_move_use_joint_MMF(
                chosen.buffer, chosen.kp, chosen.kv, chosen.ka))
        else:
            raise TypeError(f"not a servo filter: {chosen!r}")
        self._check("servo_move_enable", rc.servo_move_enable(1))
        self._moving = True

    def _servo_point(self, kind: str, values: Tuple[float, ...], mode: int, steps: int) -> None:
        rc = self.rc
        if kind == "servo_j":
            result = rc.servo_j(values, mode) if steps == 1 else rc.servo_j_extend(values, mode, steps)
        else:
            result = rc.servo_p(values, mode) if steps == 1 else rc.servo_p_extend(values, mode, steps)
        self._check(kind, result)

    def _leave_servo(self, quietly: bool) -> None:
        if self._rc is None:
            return
        self._moving = False
        (code,) = self._servo_off_if_on()
        if code != 0 and not quietly:
            raise self._error(code, "servo_move_enable")

    # ---- IO --------------------------------------------------------------------------------

    def digital_input(self, channel: int, *, group: IOGroup = IOGroup.CABINET) -> bool:
        return bool(self._value("get_digital_input", self.rc.get_digital_input(int(group), channel)))

    def digital_output(self, channel: int, *, group: IOGroup = IOGroup.CABINET) -> bool:
        return bool(self._value("get_digital_output", self.rc.get_digital_output(int(group), channel)))

    def set_digital_output(self, channel: int, value: bool, *, group: IOGroup = IOGroup.CABINET) -> None:
        self._check("set_digital_output", self.rc.set_digital_output(int(group), channel, 1 if value else 0))

    def analog_input(self, channel: int, *, group: IOGroup = IOGroup.CABINET) -> float:
        return float(self._value("get_analog_input", self.rc.get_analog_input(int(group), channel)))

    def analog_output(self, channel: int, *, group: IOGroup = IOGroup.CABINET) -> float:
        return float(self._value("get_analog_output", self.rc.get_analog_output(int(group), channel)))

    def set_analog_output(self, channel: int, value: float, *, group: IOGroup = IOGroup.CABINET) -> None:
        self._check("set_analog_output", self.rc.set_analog_output(int(group), channel, value))

    # ---- kinematics ------------------------------------------------------------------------

    def forward(self, joints: Vector) -> Pose:
        """The TCP pose of `joints` in the current tool and user frame."""
        return self._value("kine_forward", self.rc.kine_forward(six(joints, "joint position")))

    def inverse(self, pose: Vector, *, near: Optional[Vector] = None) -> Joints:
        """The joints that put the TCP at `pose`, nearest to `near` (default: where the arm is)."""
        reference = self.joints if near is None else six(near, "reference joints")
        return self._value("kine_inverse", self.rc.kine_inverse(reference, six(pose, "pose")))

    # ---- error events ----------------------------------------------------------------------

    def on_error(self, callback: Callback) -> Callback:
        """Call `callback(code)` for every error event of the process.

        The library has one error handler per process and reports a code
        without saying which controller sent it, so every Arm's callbacks
        receive the codes of every arm. Callbacks run on a library thread:
        keep them short (hand the code to a queue). Returns `callback`, so
        this also works as a decorator; closing the Arm unregisters it.
        """
        if not callable(callback):
            raise TypeError(f"not callable: {callback!r}")
        self.rc.set_error_handler(dispatcher)  # through this arm's handle, so its controller reports too
        dispatcher.add(callback)
        self._callbacks.append(callback)
        return callback


def connect(address: str, *, enable: bool = False, disable_on_exit: bool = False, power_off_on_exit: bool = False,
            poll_interval: float = 0.005, servo_cycle_hz: float = 125.0) -> Arm:
    """Log in to the controller at `address` and return its Arm.

    - `enable`: power the arm on and enable it now.
    - `disable_on_exit`, `power_off_on_exit`: do so when the Arm closes
      (by default power and enable are left as they are).
    - `poll_interval`: seconds between looks at the arm while waiting; it
      bounds how late a wait sees the end of a motion.
    - `servo_cycle_hz`: the controller's servo cycle (8 ms), which sets a
      stream's default steps per set-point.

    An address longer than 29 bytes (what the library keeps) is resolved to
    a numeric address; ValueError when that fails.
    """
    return Arm(address, enable=enable, disable_on_exit=disable_on_exit, power_off_on_exit=power_off_on_exit,
               poll_interval=poll_interval, servo_cycle_hz=servo_cycle_hz)

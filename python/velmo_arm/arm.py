"""The Arm: one controller, one login, errors raised, moves that can be stopped.

The connection and state are `_base.py`'s, the moves and waits `_moves.py`'s;
here are servo streams, IO, kinematics, error events and the recorder."""

import asyncio
import time
from typing import Awaitable, Callable, Optional

from ._events import Callback, dispatcher
from ._moves import Moves
from ._targets import Target
from ._waiting import Steps, run, run_async
from .constants import IOGroup, JogSpace
from .limits import ZANDREL, Limits, Tolerance
from .record import Recorder
from .servo import (
    ArmLink, AsyncServoStream, CartesianNonLinear, Filter, JointLowPass, JointMovingMean, JointNonLinear,
    ServoStream,
)
from .status import Joints, Pose, Vector, six

__all__ = ["Arm", "connect", "IOGroup", "JogSpace"]


class Arm(Moves):
    """One controller, logged in for as long as the Arm is open.

    Made by `connect()`; use it as a context manager. Every failing call
    raises an `ArmError` of its family. `arm.rc` is the underlying
    `velmo.RC` for what the layer does not cover.
    """

    # ---- servo streaming ------------------------------------------------------------------

    def servo(self, rate_hz: Optional[float] = 125.0, filter: Optional[Filter] = None, *,
              steps: Optional[int] = None, drain_timeout: Optional[float] = None,
              clock: Callable[[], float] = time.perf_counter,
              sleep: Callable[[float], None] = time.sleep) -> ServoStream:
        """A servo stream, to use in a with block: `rate_hz` set-points a
        second (None: not paced), through `filter` (None: unfiltered).
        Each set-point is reached over `steps` controller cycles (default:
        the cycles in one period, at least 1). `clock` and `sleep` pace it
        (time.perf_counter and time.sleep, as sched.scheduler takes them)."""
        return ServoStream(self._servo_link(), rate_hz=rate_hz, filter=filter, steps=self._steps(rate_hz, steps),
                           drain_timeout=drain_timeout, clock=clock, sleep=sleep)

    def servo_async(self, rate_hz: Optional[float] = 125.0, filter: Optional[Filter] = None, *,
                    steps: Optional[int] = None, drain_timeout: Optional[float] = None,
                    clock: Callable[[], float] = time.perf_counter,
                    sleep: Callable[[float], Awaitable[None]] = asyncio.sleep) -> AsyncServoStream:
        """servo() for asyncio, to use in an `async with` block: each send
        awaits its deadline (`sleep`, asyncio.sleep), so one event loop
        streams to several arms."""
        return AsyncServoStream(self._servo_link(), rate_hz=rate_hz, filter=filter,
                                steps=self._steps(rate_hz, steps), drain_timeout=drain_timeout, clock=clock,
                                sleep=sleep)

    def _steps(self, rate_hz: Optional[float], steps: Optional[int]) -> int:
        if steps is not None:
            return steps
        return 1 if rate_hz is None else max(1, round(self._servo_cycle_hz / rate_hz))

    def _servo_link(self) -> ArmLink:
        return ArmLink(enter=self._enter_servo, point=self._servo_point, settle=self._servo_settle,
                       stops=lambda: self._stops, forward=self.forward, stop=self._stop_quietly,
                       leave=self._leave_servo)

    def _enter_servo(self, chosen: Optional[Filter]) -> Joints:
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
        self._expected = None
        return self.joints  # at rest: servo mode starts only there

    def _servo_point(self, kind: str, values: Vector, mode: int, steps: int) -> None:
        rc = self.rc
        if kind == "servo_j":
            result = rc.servo_j(values, mode) if steps == 1 else rc.servo_j_extend(values, mode, steps)
        else:
            result = rc.servo_p(values, mode) if steps == 1 else rc.servo_p_extend(values, mode, steps)
        self._check(kind, result)

    def _servo_settle(self, timeout: Optional[float], target: Optional[Target], since: int) -> Steps[None]:
        timeout = self._timeout(timeout)
        self._moving = True
        self._expected = target if since == self._stops else None  # stopped by this Arm: it knows
        return self._settle_steps(timeout, self._stops, "wait_settled")

    def _leave_servo(self, quietly: bool) -> None:
        if self._rc is None:
            return
        self._moving = False
        self._expected = None
        code, operation = self._servo_off_if_on()
        if code != 0 and not quietly:
            raise self._error(code, operation)

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

    def wait_for_input(self, channel: int, value: bool = True, *, group: IOGroup = IOGroup.CABINET,
                       timeout: Optional[float] = None) -> None:
        """Wait until digital input `channel` reads `value` (a part present,
        a button pressed). TimeoutError after `timeout` seconds (default:
        the Arm's); the arm is not touched."""
        run(self._input_steps(channel, value, group, self._timeout(timeout)), _nothing)

    async def wait_for_input_async(self, channel: int, value: bool = True, *, group: IOGroup = IOGroup.CABINET,
                                   timeout: Optional[float] = None) -> None:
        """wait_for_input, with asyncio."""
        await run_async(self._input_steps(channel, value, group, self._timeout(timeout)), _nothing)

    def _input_steps(self, channel: int, value: bool, group: IOGroup, timeout: Optional[float]) -> Steps[None]:
        deadline = None if timeout is None else time.monotonic() + timeout
        while self.digital_input(channel, group=group) != bool(value):
            now = time.monotonic()
            if deadline is not None and now >= deadline:
                raise TimeoutError(f"{group.name.lower()} input {channel} did not read {bool(value)} "
                                   f"within {timeout} s")
            yield self._poll if deadline is None else min(self._poll, deadline - now)

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
        receive the codes of every open Arm's controller. Callbacks run on a
        library thread: keep them short (hand the code to a queue). Returns
        `callback`, so this also works as a decorator; closing the Arm
        unregisters it.
        """
        if not callable(callback):
            raise TypeError(f"not callable: {callback!r}")
        if self.closed:
            raise ValueError("operation on a closed Arm")
        dispatcher.add(callback)
        self._callbacks.append(callback)
        return callback

    # ---- recording -------------------------------------------------------------------------

    def record(self, rate_hz: Optional[float] = 125.0) -> Recorder:
        """A recorder of this arm, to use in a with block: `rate_hz` samples
        a second (joints, TCP, IO, state, with wall-clock and controller
        time) taken on a thread of its own; None takes samples only when
        `sample()` is called. See velmo_arm.record."""
        recorder = Recorder(self.status, rate_hz=rate_hz, limits=self.limits,
                            on_close=self._closers.remove)
        self._closers.append(recorder.close)
        return recorder


def _nothing() -> None:
    """Waiting for an input stops nothing when interrupted."""


def connect(address: str, *, enable: bool = False, disable_on_exit: bool = False, power_off_on_exit: bool = False,
            poll_interval: float = 0.005, servo_cycle_hz: float = 125.0, timeout: Optional[float] = None,
            limits: Limits = ZANDREL, tolerance: Tolerance = Tolerance()) -> Arm:
    """Log in to the controller at `address` and return its Arm.

    - `enable`: power the arm on and enable it now.
    - `disable_on_exit`, `power_off_on_exit`: do so when the Arm closes
      (by default power and enable are left as they are).
    - `poll_interval`: seconds between looks at the arm while waiting; it
      bounds how late a wait sees the end of a motion.
    - `servo_cycle_hz`: the controller's servo cycle (8 ms), which sets a
      stream's default steps per set-point.
    - `timeout`: seconds every wait given no timeout of its own may take
      (None: no limit); a call's own `timeout=inf` waits without one.
    - `limits`: the arm's limits, which speeds and accelerations must keep.
    - `tolerance`: how close to its target a motion must end to count as done.

    An address longer than 29 bytes (what the library keeps) is resolved to
    a numeric address; ValueError when that fails.
    """
    return Arm(address, enable=enable, disable_on_exit=disable_on_exit, power_off_on_exit=power_off_on_exit,
               poll_interval=poll_interval, servo_cycle_hz=servo_cycle_hz, timeout=timeout, limits=limits,
               tolerance=tolerance)

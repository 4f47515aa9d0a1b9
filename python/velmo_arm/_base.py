"""The Arm's connection: one login, results turned into errors, the state,
and what closing does. Moves (`_moves.py`) and the rest (`arm.py`) build on it."""

import math
import threading
from types import TracebackType
from typing import Callable, List, Optional, Tuple, Type, TypeVar, Union

import velmo

from ._address import login_address
from ._events import Callback, dispatcher
from ._targets import Target
from .errors import ArmError, error_for
from .limits import ZANDREL, Limits, Tolerance
from .status import Joints, Pose, Status, six

V = TypeVar("V")
A = TypeVar("A", bound="ArmBase")

# velmo keeps one address for all RC objects: the next login uses the latest
# construction's. Arms construct and log in under this lock, back to back.
_login_lock = threading.Lock()


def checked_timeout(timeout: Optional[float], what: str = "timeout") -> Optional[float]:
    """A timeout as given (seconds, None or inf: none); ValueError for NaN or a negative one."""
    if timeout is None:
        return None
    value = float(timeout)
    if math.isnan(value) or value < 0:
        raise ValueError(f"{what} must be 0 or more seconds, inf or None, got {timeout!r}")
    return None if math.isinf(value) else value


class ArmBase:
    """One controller, logged in for as long as the Arm is open."""

    def __init__(self, address: str, *, enable: bool = False, disable_on_exit: bool = False,
                 power_off_on_exit: bool = False, poll_interval: float = 0.005, servo_cycle_hz: float = 125.0,
                 timeout: Optional[float] = None, limits: Limits = ZANDREL,
                 tolerance: Tolerance = Tolerance()) -> None:
        if not (poll_interval > 0 and math.isfinite(poll_interval)):
            raise ValueError(f"poll_interval must be a positive number of seconds, got {poll_interval!r}")
        self.address = address
        """The address given to connect()."""
        self.login_address = login_address(address)
        """The address the library was given: `address`, or a numeric one for a long name."""
        self.limits = limits
        """The arm's limits: speeds and accelerations beyond them are refused (ValueError)."""
        self.tolerance = tolerance
        """How close to its target a motion must end to count as done."""
        self.timeout = checked_timeout(timeout, "connect's timeout")
        """The timeout of every wait that is given none (None: no timeout)."""
        self._disable_on_exit = disable_on_exit
        self._power_off_on_exit = power_off_on_exit
        self._poll = poll_interval
        self._servo_cycle_hz = servo_cycle_hz
        self._moving: bool = False  # a motion this Arm started and has not seen end
        self._expected: Optional[Target] = None  # where that motion leaves the arm (None: not known)
        self._stops: int = 0  # stops by this Arm so far (stop(), timeouts, interrupts)
        self._callbacks: List[Callback] = []
        self._closers: List[Callable[[], None]] = []  # recorders to stop before logging out
        with _login_lock:
            rc = velmo.RC(self.login_address)
            (code,) = rc.login()
        if code != 0:
            # the handle is now -1: the library cannot be asked for its message
            raise error_for(code, operation=f"login to {self.login_address!r}")
        self._rc: Optional[velmo.RC] = rc
        dispatcher.join(rc)
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

    def __enter__(self: "A") -> "A":
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        self._close(exceptional=exc_type is not None)

    async def __aenter__(self: "A") -> "A":
        return self

    async def __aexit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                        tb: Optional[TracebackType]) -> None:
        self._close(exceptional=exc_type is not None)

    def close(self) -> None:
        """Stop any motion this Arm started, leave servo mode, log out (and
        disable or power off if connect() was asked to). Closing twice is fine."""
        self._close(exceptional=False)

    def _close(self, exceptional: bool) -> None:
        """Runs every step whatever fails; raises the first failure unless
        `exceptional` (an exception is already on its way). An exceptional
        exit stops every motion of the arm, whoever queued it."""
        rc = self._rc
        if rc is None:
            return
        for closer in list(self._closers):
            closer()
        steps: List[Callable[[], Tuple[int, str]]] = []
        if exceptional or self._moving:
            steps.append(lambda: (rc.motion_abort()[0], "motion_abort"))
        steps.append(self._servo_off_if_on)
        if self._disable_on_exit:
            steps.append(lambda: (rc.disable_robot()[0], "disable_robot"))
        if self._power_off_on_exit:
            steps.append(lambda: (rc.power_off()[0], "power_off"))
        steps.append(lambda: (rc.logout()[0], "logout"))
        first: Optional[ArmError] = None
        try:
            for step in steps:
                code, operation = step()
                if code != 0 and first is None:
                    first = self._error(code, operation)
        finally:
            self._forget()
        if first is not None and not exceptional:
            raise first

    def _servo_off_if_on(self) -> Tuple[int, str]:
        """(code, the operation that gave it): leaves servo mode if it is on."""
        rc = self.rc
        result = rc.get_robot_status()
        if result[0] != 0 or len(result) != 2:
            return result[0], "get_robot_status"
        if not Status.from_record(result[1]).servo_mode:
            return 0, ""
        return rc.servo_move_enable(0)[0], "servo_move_enable"

    def _forget(self) -> None:
        for callback in self._callbacks:
            dispatcher.remove(callback)
        self._callbacks.clear()
        if self._rc is not None:
            dispatcher.leave(self._rc)
        self._rc = None
        self._moving = False
        self._expected = None

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
        if self._rc is not None:
            last = self._rc.get_last_error()
            if last[0] == 0 and len(last) == 2 and last[1][0] == code and last[1][1]:
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
        """Every element of the controller's status, named."""
        return Status.from_record(self._value("get_robot_status", self.rc.get_robot_status()))

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


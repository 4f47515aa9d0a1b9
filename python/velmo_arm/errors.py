"""The controller's codes and the errors the layer raises for them.

`Code` names every code of the virtual controller's documentation, modelled
on `http.HTTPStatus`: `Code(7).phrase == "joint limit"`, `.description` is the
documented message, the one the virtual controller's `get_last_error` gives.
`ArmError` is the one base class; its subclasses are the families a script
handles differently, so `except velmo_arm.LimitError` catches a joint or speed
limit and nothing else.

The members, their texts and their families are written from the table of
codes, sim/core/error_codes.def, by scripts/error_codes.py: add a code there.
"""

import enum
from typing import Dict, Optional, Tuple, Type

__all__ = [
    "Code", "ArmError", "NotReadyError", "OutOfReachError", "LimitError", "ProtectiveStopError",
    "BusyError", "ServoModeError", "FileError", "AbortedError", "error_for",
]


class Code(enum.IntEnum):
    """A controller code, with its documented phrase and description."""

    # generated from sim/core/error_codes.def by scripts/error_codes.py: begin
    OK = 0
    UNKNOWN_HANDLE = 1
    INVALID_ARGUMENT = 2
    NOT_POWERED = 3
    NOT_ENABLED = 4
    BUSY = 5
    UNREACHABLE = 6
    JOINT_LIMIT = 7
    COLLISION = 8
    SERVO_ACTIVE = 9
    FILE_NOT_FOUND = 10
    IO_RANGE = 11
    ERROR_STATE = 12
    SHUT_DOWN = 13
    ABORTED = 14
    SINGULARITY = 15
    SERVO_INACTIVE = 16
    SPEED_LIMIT = 17
    BAD_FILE_NAME = 18
    FILE_EXISTS = 19
    PROGRAM_LINE = 20
    WRONG_STATE = 21
    FILE_ACCESS = 22
    NO_SAFE_FOLDER = 23
    FILE_TOO_LARGE = 24
    FOLLOWING_ERROR = 25
    INTERNAL = 99
    # generated: end

    @property
    def phrase(self) -> str:
        """The code's name in docs/virtual-controller.md ("joint limit")."""
        return _TEXTS[self][0]

    @property
    def description(self) -> str:
        """The code's documented message."""
        return _TEXTS[self][1]


def describe(code: int) -> str:
    """The documented text of a code; codes of another library get a generic one."""
    try:
        return Code(code).description
    except ValueError:
        return f"controller error {code}"


class ArmError(Exception):
    """A controller code other than 0, raised.

    `code` is the controller's code (a `Code` when it is a documented one),
    `message` the library's own text for it when the library has one, else
    the code's documented text, and `operation` what the layer was doing.
    """

    def __init__(self, code: int, message: Optional[str] = None, operation: str = "") -> None:
        self.code: int = as_code(code)
        self.message: str = message or describe(code)
        self.operation: str = operation
        super().__init__(code, self.message, operation)

    def __str__(self) -> str:
        name = self.code.name if isinstance(self.code, Code) else str(self.code)
        where = f"{self.operation}: " if self.operation else ""
        return f"{where}{self.message} (code {int(self.code)}, {name})"


class NotReadyError(ArmError):
    """The arm is not powered, not enabled, or shut down: power it and enable it."""


class OutOfReachError(ArmError):
    """The target or path is out of reach, or passes too close to a singularity."""


class LimitError(ArmError):
    """A joint limit, or a joint speed limit of a servo set-point."""


class ProtectiveStopError(ArmError):
    """A collision (protective stop) or the controller's error state: `Arm.recover()` first."""


class BusyError(ArmError):
    """Something else is moving, a queue is full, or drag mode is on."""


class ServoModeError(ArmError):
    """Servo mode is on where it must be off, or off where it must be on."""


class FileError(ArmError):
    """A controller file or program: missing, badly named, existing, unreadable, too large or invalid, or no
    safe folder to keep it in."""


class AbortedError(ArmError):
    """The motion was stopped before it reached its target (`Arm.stop()`, disable, power off)."""


# The texts and the family of each code (the family ArmError itself has no entry).
# generated from sim/core/error_codes.def by scripts/error_codes.py: begin
_TEXTS: Dict[int, Tuple[str, str]] = {  # number: (phrase, description)
    0: ("ok", "success"),
    1: ("unknown handle", "unknown or destroyed handle"),
    2: ("invalid argument", "invalid argument (null pointer, non-finite number, value out of range)"),
    3: ("not powered", "the arm is not powered"),
    4: ("not enabled", "the arm is not enabled"),
    5: ("busy", "busy: a motion is running or a queue is full (also: drag mode on, frames in use while moving)"),
    6: ("unreachable", "target or path out of reach"),
    7: ("joint limit", "joint limit"),
    8: ("collision", "collision: protective stop"),
    9: ("servo active", "servo mode is active"),
    10: ("file not found", "file not found"),
    11: ("IO range", "IO type or channel out of range"),
    12: ("error state", "the controller is in an error state"),
    13: ("shut down", "the controller is shut down"),
    14: ("aborted", "motion aborted"),
    15: ("singularity", "path too close to a singularity (a joint would exceed its maximum speed)"),
    16: ("servo inactive", "servo mode is not active"),
    17: ("speed limit", "joint speed limit (a servo set-point too far for its step count)"),
    18: ("bad file name", "bad file name"),
    19: ("file exists", "a file of that name exists"),
    20: ("program line", "program error: not a valid command"),
    21: ("wrong state", "not possible in the present state"),
    22: ("file access", "a file could not be read or written"),
    23: ("no safe folder", "the controller has no safe folder for its files"),
    24: ("file too large", "file too large for the controller"),
    25: ("following error", "following error (a servo stream the arm fell a quarter turn behind)"),
    99: ("internal", "internal error (out of memory, in the controller or its probe)"),
}
_FAMILIES: Dict[int, Type[ArmError]] = {
    Code.NOT_POWERED: NotReadyError,
    Code.NOT_ENABLED: NotReadyError,
    Code.BUSY: BusyError,
    Code.UNREACHABLE: OutOfReachError,
    Code.JOINT_LIMIT: LimitError,
    Code.COLLISION: ProtectiveStopError,
    Code.SERVO_ACTIVE: ServoModeError,
    Code.FILE_NOT_FOUND: FileError,
    Code.ERROR_STATE: ProtectiveStopError,
    Code.SHUT_DOWN: NotReadyError,
    Code.ABORTED: AbortedError,
    Code.SINGULARITY: OutOfReachError,
    Code.SERVO_INACTIVE: ServoModeError,
    Code.SPEED_LIMIT: LimitError,
    Code.BAD_FILE_NAME: FileError,
    Code.FILE_EXISTS: FileError,
    Code.PROGRAM_LINE: FileError,
    Code.FILE_ACCESS: FileError,
    Code.NO_SAFE_FOLDER: FileError,
    Code.FILE_TOO_LARGE: FileError,
    Code.FOLLOWING_ERROR: LimitError,
}
# generated: end


def family(code: int) -> Type[ArmError]:
    """The ArmError subclass raised for `code` (ArmError itself when it has no family)."""
    return _FAMILIES.get(code, ArmError)


def error_for(code: int, message: Optional[str] = None, operation: str = "") -> ArmError:
    """The error of its family for a non-zero code."""
    return family(code)(code, message, operation)


def as_code(code: int) -> int:
    """`code` as a `Code` member when it is a documented one, else the int itself."""
    try:
        return Code(code)
    except ValueError:
        return int(code)


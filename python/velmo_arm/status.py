"""Values in and out: six-number vectors and the status snapshot.

Inputs are any six numbers that index like a sequence (a tuple, a list, a
NumPy array: numpy is never imported); outputs are tuples of floats.
"""

import math
from dataclasses import dataclass
from typing import Protocol, SupportsFloat, Tuple

__all__ = ["Vector", "Joints", "Pose", "Status", "six"]

Joints = Tuple[float, float, float, float, float, float]
"""Six joint angles in radians, joint 1 first."""
Pose = Tuple[float, float, float, float, float, float]
"""x, y, z in millimetres, then roll, pitch, yaw in radians."""


class Vector(Protocol):
    """What a six-number input must offer: a length and numbers by index."""

    def __len__(self) -> int: ...

    def __getitem__(self, index: int, /) -> SupportsFloat: ...


def six(values: Vector, what: str = "value") -> Joints:
    """`values` as a tuple of six finite floats; ValueError otherwise."""
    if len(values) != 6:
        raise ValueError(f"{what} needs 6 numbers, got {len(values)}")
    a, b, c, d, e, f = (float(values[i]) for i in range(6))
    result = (a, b, c, d, e, f)
    if not all(map(math.isfinite, result)):
        raise ValueError(f"{what} needs finite numbers, got {result}")
    return result


@dataclass(frozen=True, repr=False)
class Status:
    """The controller's status snapshot, every element of `get_robot_status`
    named as docs/virtual-controller.md describes it (element 0 first).

    IO groups keep the record's full length (65 or 10 entries, channel 0
    first, unused channels 0); digital values are bools.
    """

    error_code: int
    """The error state's code, 0 when none."""
    in_position: bool
    """Nothing queued (or servo mode waiting for set-points)."""
    powered: bool
    enabled: bool
    rapid_rate: float
    protective_stop: bool
    """A collision stopped the arm; only `Arm.recover()` ends it."""
    servo_mode: bool
    tool_id: int
    user_frame_id: int
    motions_queued: int
    """Motions queued, the running one included."""
    cabinet_digital_outputs: Tuple[bool, ...]
    cabinet_digital_inputs: Tuple[bool, ...]
    cabinet_analog_inputs: Tuple[float, ...]
    cabinet_analog_outputs: Tuple[float, ...]
    tool_digital_outputs: Tuple[bool, ...]
    tool_digital_inputs: Tuple[bool, ...]
    tool_analog_inputs: Tuple[float, ...]
    extension_digital_outputs: Tuple[bool, ...]
    joints: Joints
    """Joint positions, rad."""
    tcp: Pose
    """The TCP pose in the current tool and user frame."""

    def __repr__(self) -> str:
        """The state, the joints and TCP, and only the IO channels that are on (non-zero)."""
        state = ", ".join(f"{name}={getattr(self, name)!r}" for name in (
            "error_code", "in_position", "powered", "enabled", "protective_stop", "servo_mode", "motions_queued",
            "rapid_rate", "tool_id", "user_frame_id"))
        io = [f"{label} {channel}" for label, values in self._io() for channel, v in enumerate(values) if v]
        analog = {f"{label} {channel}": float(f"{v:.6g}") for label, values in self._analog()
                  for channel, v in enumerate(values) if v}
        return (f"Status({state}, joints={_short(self.joints)}, tcp={_short(self.tcp)}, on={io!r}"
                + (f", analog={analog!r}" if analog else "") + ")")

    def _io(self) -> Tuple[Tuple[str, Tuple[bool, ...]], ...]:
        return (("cabinet DO", self.cabinet_digital_outputs), ("cabinet DI", self.cabinet_digital_inputs),
                ("tool DO", self.tool_digital_outputs), ("tool DI", self.tool_digital_inputs),
                ("extension DO", self.extension_digital_outputs))

    def _analog(self) -> Tuple[Tuple[str, Tuple[float, ...]], ...]:
        return (("cabinet AI", self.cabinet_analog_inputs), ("cabinet AO", self.cabinet_analog_outputs),
                ("tool AI", self.tool_analog_inputs))

    @property
    def in_error(self) -> bool:
        """The controller is in its error state or stopped on a collision."""
        return self.error_code != 0 or self.protective_stop

    @classmethod
    def from_record(cls, record: "StatusRecord") -> "Status":
        """The status from velmo's 20-tuple (`get_robot_status()[1]`)."""
        r = record
        return cls(
            r[0], bool(r[1]), bool(r[2]), bool(r[3]), float(r[4]), bool(r[5]), bool(r[6]), r[7], r[8], r[9],
            _flags(r[10]), _flags(r[11]), _floats(r[12]), _floats(r[13]),
            _flags(r[14]), _flags(r[15]), _floats(r[16]), _flags(r[17]),
            _six(r[18]), _six(r[19]),
        )


StatusRecord = Tuple[
    int, int, int, int, float, int, int, int, int, int,
    Tuple[int, ...], Tuple[int, ...], Tuple[float, ...], Tuple[float, ...], Tuple[float, ...],
    Tuple[int, ...], Tuple[float, ...], Tuple[float, ...], Tuple[float, ...], Tuple[float, ...],
]
"""velmo's status tuple, as its stubs type it."""


def _short(values: Tuple[float, ...]) -> str:
    return "(" + ", ".join(f"{v:.6g}" for v in values) + ")"


def _flags(values: Tuple[float, ...]) -> Tuple[bool, ...]:
    return tuple(v != 0 for v in values)


def _floats(values: Tuple[float, ...]) -> Tuple[float, ...]:
    return tuple(float(v) for v in values)


def _six(values: Tuple[float, ...]) -> Joints:
    a, b, c, d, e, f = (float(v) for v in values)
    return (a, b, c, d, e, f)

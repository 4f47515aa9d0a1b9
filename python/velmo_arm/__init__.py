"""velmo_arm: a safe, typed layer over velmo.RC.

    import velmo_arm

    with velmo_arm.connect("192.168.2.10", enable=True) as arm:
        arm.move_joints(HOME, speed=1.0)           # Ctrl-C stops the arm
        print(arm.status().tcp)

- `connect()` logs in at once, bound to its own address, and its Arm, used
  as a context manager, stops what it started, leaves servo mode and logs
  out on every exit.
- Failures raise `ArmError` subclasses carrying the controller's `Code`.
- Moves wait in short sleeps (`wait=True`), so Ctrl-C and timeouts stop the
  arm; `*_async` twins wait with asyncio.
- `Arm.servo()` paces a set-point stream on absolute deadlines.
- Error events reach `Arm.on_error` callbacks: the library has one handler
  per process, so every Arm's callbacks receive every arm's codes.

See docs/velmo_arm.md.
"""

from .arm import Arm, IOGroup, JogSpace, connect
from .errors import (
    AbortedError, ArmError, BusyError, Code, FileError, LimitError, NotReadyError, OutOfReachError,
    ProtectiveStopError, ServoModeError,
)
from .servo import CartesianNonLinear, Filter, JointLowPass, JointMovingMean, JointNonLinear, ServoStream
from .status import Joints, Pose, Status, Vector

__all__ = [
    "connect", "Arm", "IOGroup", "JogSpace",
    "Code", "ArmError", "NotReadyError", "OutOfReachError", "LimitError", "ProtectiveStopError", "BusyError",
    "ServoModeError", "FileError", "AbortedError",
    "ServoStream", "Filter", "JointLowPass", "JointNonLinear", "CartesianNonLinear", "JointMovingMean",
    "Status", "Joints", "Pose", "Vector",
]

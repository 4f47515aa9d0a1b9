"""velmo_arm: a safe, typed layer over velmo.RC.

    import velmo_arm

    with velmo_arm.connect("192.168.2.10", enable=True) as arm:
        arm.move_joints(HOME, speed=1.0)           # Ctrl-C stops the arm
        print(arm.status().tcp)

- `connect()` logs in at once, bound to its own address, and its Arm, used
  as a context manager, stops what it started (every motion of the arm when
  the block ends by an exception), leaves servo mode and logs out.
- Failures raise `ArmError` subclasses carrying the controller's `Code`.
- Moves wait in short sleeps (`wait=True`), so Ctrl-C and timeouts stop the
  arm; `*_async` twins wait with asyncio. A wait reports a move done only
  when it ended at its target; a move stopped short raises.
- `Arm.move_path()` runs waypoints as one blended motion.
- `Arm.servo()` / `servo_async()` pace a set-point stream on absolute deadlines.
- `Arm.record()` samples the arm into arrays, CSV and a plot.
- Error events reach `Arm.on_error` callbacks: the library has one handler
  per process, so every Arm's callbacks receive every open arm's codes.

See docs/velmo_arm.md.
"""

from .arm import Arm, connect
from .constants import (
    ANY_AXIS, ComplianceType, IdentifyStatus, IOGroup, JogMode, JogSpace, MoveMode, NetworkReaction, ProgramState,
    SampleMode, SensorLink,
)
from .errors import (
    AbortedError, ArmError, BusyError, Code, FileError, LimitError, NotReadyError, OutOfReachError,
    ProtectiveStopError, ServoModeError,
)
from .limits import ZANDREL, Limits, Tolerance
from .path import ArcTo, JointTo, LineTo, Waypoint
from .record import CSV_COLUMNS, Recorder, Sample
from .servo import (
    AsyncServoStream, CartesianNonLinear, Filter, JointLowPass, JointMovingMean, JointNonLinear, ServoStream,
)
from .status import Joints, Pose, Status, Vector
from .trajectory import Trajectory, TrajectorySample, read_trajectory

__all__ = [
    "connect", "Arm",
    "MoveMode", "JogMode", "JogSpace", "IOGroup", "ProgramState", "SampleMode", "IdentifyStatus", "SensorLink",
    "ComplianceType", "NetworkReaction", "ANY_AXIS",
    "Code", "ArmError", "NotReadyError", "OutOfReachError", "LimitError", "ProtectiveStopError", "BusyError",
    "ServoModeError", "FileError", "AbortedError",
    "Limits", "Tolerance", "ZANDREL",
    "JointTo", "LineTo", "ArcTo", "Waypoint",
    "ServoStream", "AsyncServoStream", "Filter", "JointLowPass", "JointNonLinear", "CartesianNonLinear",
    "JointMovingMean",
    "Recorder", "Sample", "CSV_COLUMNS", "Trajectory", "TrajectorySample", "read_trajectory",
    "Status", "Joints", "Pose", "Vector",
]

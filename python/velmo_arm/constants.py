"""Names for the numbers the controller library takes as modes and frames.

velmo's own methods take these as plain ints (their names are fixed);
velmo_arm's methods take the enums below, and raw `arm.rc` calls read better
with them too:

    arm.rc.jog(2, JogMode.BY, JogSpace.JOINT, 0.5, -0.1)
    arm.rc.joint_move(target, MoveMode.RELATIVE, False, 1.0)

docs/api.md lists the same numbers beside each method.
"""

import enum

__all__ = [
    "MoveMode", "JogMode", "JogSpace", "IOGroup", "ProgramState", "SampleMode", "IdentifyStatus",
    "SensorLink", "ComplianceType", "NetworkReaction", "ANY_AXIS",
]


class MoveMode(enum.IntEnum):
    """`move_mode` of joint_move, linear_move, circular_move and the servo set-points."""

    ABSOLUTE = 0
    """To the position given."""
    RELATIVE = 1
    """By the values given: from where the queue leaves the arm (a servo
    set-point: from the previous one)."""


class JogMode(enum.IntEnum):
    """`move_mode` of jog."""

    TO = 0
    """To the position `pos_cmd` (not in the tool frame)."""
    BY = 1
    """By `pos_cmd`."""
    CONTINUOUS = 2
    """Continuously in the direction of `jog_vel`'s sign, until jog_stop or a limit."""


class JogSpace(enum.IntEnum):
    """What a jog's axis means (`coord_type` of jog)."""

    CARTESIAN = 0
    """x, y, z, rx, ry, rz of the TCP in the user frame."""
    JOINT = 1
    """joints 1 to 6."""
    TOOL = 2
    """x, y, z, rx, ry, rz in the tool frame (rotations about its axes through the TCP)."""


class IOGroup(enum.IntEnum):
    """The IO groups (`iotype` of the IO methods)."""

    CABINET = 0
    TOOL = 1
    EXTENSION = 2


class ProgramState(enum.IntEnum):
    """What get_program_state reports."""

    IDLE = 0
    RUNNING = 1
    PAUSED = 2
    STOPPED_BY_ERROR = 3


class SampleMode(enum.IntEnum):
    """`mode` of set_traj_sample_mode: any non-zero mode starts sampling."""

    STOP = 0
    """Stop sampling and save the trajectory."""
    START = 1


class IdentifyStatus(enum.IntEnum):
    """What get_torq_sensor_identify_staus reports."""

    NONE = 0
    """None yet, or the latest one was ended before it finished."""
    IDENTIFYING = 1
    DONE = 2


class SensorLink(enum.IntEnum):
    """`type` of set_torque_sensor_comm: how the force sensor is reached."""

    TCP = 0
    FLANGE = 1
    """Through the tool flange (address and port are not used)."""
    UDP = 2


class ComplianceType(enum.IntEnum):
    """`compliance_type` of set_compliant_type."""

    OFF = 0
    CONSTANT_FORCE = 1
    VELOCITY = 2


class NetworkReaction(enum.IntEnum):
    """`mnt` of set_network_exception_handle: what the arm does when the link goes silent."""

    KEEP_GOING = 0
    PAUSE = 1
    STOP = 2


ANY_AXIS = -1
"""`num` of jog_stop: stop the jog of whichever axis."""

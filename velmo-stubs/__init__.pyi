# Type stubs for velmo, the Python face of the zandrel controller library.
#
# Every RC method but set_error_handler and call_func returns a tuple whose
# first item is the library's code (0: success). Methods with outputs add them
# after the code on success and return (code,) alone on failure; a few report
# their outputs whatever the code. Parameters after "/" are positional only.
#
# Each method's docstring says what it does, its arguments with their units
# and its result (docs/api.md says the same, with the result types).
#
# Why these types (they accept what runs, not every shape a call can return):
#
# - A query is typed by its success shape, Tuple[int, value]. The exact type,
#   Union[Tuple[int], Tuple[int, value]], would reject the documented idiom
#   `code, joints = robot.get_joint_position()` ("need more than 1 value to
#   unpack"), and no tuple type both allows that unpacking and admits the
#   one-element failure. So check the code before using the value: unpacking
#   a failed result raises ValueError at run time, which no checker can see.
#   A helper typed `Union[Tuple[int], Tuple[int, V]] -> V` accepts these
#   results too (examples/quickstart.py's `value`).
# - Six numbers (joints, poses) and other number vectors are typed _Floats:
#   anything with a length whose items index as numbers (tuples, lists, NumPy
#   arrays, array.array), which is what velmo's "(dddddd)" parsing takes.
#   Sequence[float] would reject `servo_j(np.zeros(6), 0)`, which runs: an
#   ndarray is not registered as a Sequence. _Rows is the same for the three
#   rows of a rotation matrix. The length itself is checked at run time
#   (TypeError), as types cannot count.

from typing import Callable, List, Protocol, SupportsFloat, Tuple

from typing_extensions import disjoint_base

class _Floats(Protocol):
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> SupportsFloat: ...

class _Rows(Protocol):
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> _Floats: ...

_Six = Tuple[float, float, float, float, float, float]
_Four = Tuple[float, float, float, float]
_Three = Tuple[float, float, float]
_AxisConfig = Tuple[float, float, float, float, float]  # opt, ftUser, ftConstant, ftReboundFK, ftNnormalTrack
_RobotStatus = Tuple[
    int, int, int, int, float, int, int, int, int, int,
    Tuple[int, ...], Tuple[int, ...], Tuple[float, ...], Tuple[float, ...], Tuple[float, ...],
    Tuple[int, ...], Tuple[float, ...], Tuple[float, ...], Tuple[float, ...], Tuple[float, ...],
]

@disjoint_base  # instances carry the handle in their own layout
class RC:
    ip_addr: object
    handle: int
    def __init__(self, address: str, /, **ignored: object) -> None: ...

    # connection, power, enable and recovery
    def login(self) -> Tuple[int]:
        """Connect to the controller at the address given to the latest RC(...), and store the handle.

        Arguments: none. Makes no handle check.
        Result: (0,) on success; (code,), and handle becomes -1 on failure.
        """
    def logout(self) -> Tuple[int]:
        """Close the connection (the handle keeps its value).

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def power_on(self, *ignored: object) -> Tuple[int]:
        """Power the arm on.

        Arguments: any positional arguments, ignored; keywords are refused.
        Result: (0,) on success; (code,) on failure.
        """
    def power_off(self) -> Tuple[int]:
        """Power the arm off.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def shut_down(self) -> Tuple[int]:
        """Shut the controller down.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def enable_robot(self) -> Tuple[int]:
        """Enable the servos.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def disable_robot(self) -> Tuple[int]:
        """Disable the servos.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def collision_recover(self) -> Tuple[int]:
        """Recover from a collision stop.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def clear_error(self) -> Tuple[int]:
        """Clear the controller's error state.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def motion_abort(self) -> Tuple[int]:
        """Stop the current motion.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """

    # jog and moves
    def jog(self, aj_num: int, move_mode: int, coord_type: int, jog_vel: float, pos_cmd: float = ...) -> Tuple[int]:
        """Jog one axis, continuously or by a step.

        Arguments: aj_num the axis, 0 to 5: joint 1 to 6, or x, y, z, rx, ry, rz; move_mode 0 to the
        position pos_cmd, 1 by the step pos_cmd, 2 continuously in the direction of jog_vel's sign
        (velmo_arm.JogMode); coord_type 0 Cartesian in the user frame, 1 joint space, 2 Cartesian in the
        tool frame (velmo_arm.JogSpace); jog_vel the speed, rad/s or mm/s; pos_cmd the position or step,
        rad or mm (0.0 when left out).
        Result: (0,) on success; (code,) on failure.
        """
    def jog_stop(self, num: int, /) -> Tuple[int]:
        """Stop jogging an axis.

        Arguments: num the axis, 0 to 5, or -1 for whichever jogs (velmo_arm.ANY_AXIS).
        Result: (0,) on success; (code,) on failure.
        """
    def joint_move(self, joint_pos: _Floats, move_mode: int, is_block: int, speed: float) -> Tuple[int]:
        """Move in joint space to a joint position.

        Arguments: joint_pos six joint angles, rad; move_mode 0 absolute, 1 relative to where the queued
        moves leave the arm (velmo_arm.MoveMode); is_block non-zero (or True) to return once the move
        has ended; speed rad/s of the joint that travels furthest.
        Result: (0,) on success; (code,) on failure.
        """
    def joint_move_extend(
        self, joint_pos: _Floats, move_mode: int, is_block: int, speed: float, acc: float, tol: float
    ) -> Tuple[int]:
        """joint_move with acceleration and end-point tolerance.

        Arguments: joint_pos six joint angles, rad; move_mode 0 absolute, 1 relative; is_block non-zero
        to return once the move has ended; speed rad/s of the joint that travels furthest; acc its
        acceleration, rad/s²; tol the blend tolerance, rad (0: stop at the target).
        Result: (0,) on success; (code,) on failure.
        """
    def linear_move(self, end_pos: _Floats, move_mode: int, is_block: int, speed: float) -> Tuple[int]:
        """Move the tool in a straight line to a Cartesian pose.

        Arguments: end_pos the target pose (mm, rad); move_mode (0 absolute, 1 relative), is_block as
        joint_move; speed in mm/s.
        Result: (0,) on success; (code,) on failure.
        """
    def linear_move_extend(
        self, end_pos: _Floats, move_mode: int, is_block: int, speed: float, acc: float, tol: float
    ) -> Tuple[int]:
        """linear_move with acceleration and end-point tolerance.

        Arguments: end_pos the target pose (mm, rad); move_mode 0 absolute, 1 relative; is_block non-
        zero to return once the move has ended; speed in mm/s; acc in mm/s²; tol the blend tolerance, mm
        (0: stop at the target).
        Result: (0,) on success; (code,) on failure.
        """
    def circular_move(
        self,
        end_pos: _Floats,
        mid_pos: _Floats,
        move_mode: int,
        is_block: int,
        speed: float,
        acc: float,
        tol: float,
    ) -> Tuple[int]:
        """Move the tool along the circular arc through mid_pos to end_pos.

        Arguments: end_pos the end pose and mid_pos a pose the arc passes through (mm, rad); move_mode 0
        absolute, 1 both relative to the start; is_block non-zero to return once the move has ended;
        speed in mm/s; acc in mm/s²; tol the blend tolerance, mm.
        Result: (0,) on success; (code,) on failure.
        """

    # servo streaming and its filters
    def servo_move_enable(self, enable: int, /) -> Tuple[int]:
        """Enter (non-zero) or leave (0) servo streaming mode.

        Arguments: enable.
        Result: (0,) on success; (code,) on failure.
        """
    def servo_j(self, joint_pos: _Floats, move_mode: int) -> Tuple[int]:
        """Stream one joint-space set point.

        Arguments: joint_pos six joint angles, rad; move_mode 0 absolute, 1 added to the previous set-
        point.
        Result: (0,) on success; (code,) on failure.
        """
    def servo_j_extend(self, joint_pos: _Floats, move_mode: int, step_num: int) -> Tuple[int]:
        """Stream one joint-space set point, spread over step_num control cycles.

        Arguments: joint_pos six joint angles, rad; move_mode 0 absolute, 1 added to the previous set-
        point; step_num the control cycles (8 ms each) to reach it over, at least 1.
        Result: (0,) on success; (code,) on failure.
        """
    def servo_p(self, cartesian_pose: _Floats, move_mode: int) -> Tuple[int]:
        """Stream one Cartesian set point.

        Arguments: cartesian_pose a pose (mm, rad); move_mode 0 absolute, 1 relative to the previous
        set-point.
        Result: (0,) on success; (code,) on failure.
        """
    def servo_p_extend(self, end_pos: _Floats, move_mode: int, step_num: int) -> Tuple[int]:
        """Stream one Cartesian set point, spread over step_num control cycles.

        Arguments: end_pos a pose (mm, rad); move_mode 0 absolute, 1 relative; step_num the control
        cycles (8 ms each) to reach it over, at least 1.
        Result: (0,) on success; (code,) on failure.
        """
    def servo_move_use_none_filter(self) -> Tuple[int]:
        """Stream set points unfiltered.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def servo_move_use_joint_LPF(self, cutoffFreq: float, /) -> Tuple[int]:
        """Filter streamed joint set points through a low-pass filter.

        Arguments: cutoffFreq the cut-off frequency in Hz.
        Result: (0,) on success; (code,) on failure.
        """
    def servo_move_use_joint_NLF(self, max_vr: float, max_ar: float, max_jr: float) -> Tuple[int]:
        """Filter streamed joint set points through a non-linear filter.

        Arguments: the limits of joint speed max_vr, acceleration max_ar and jerk max_jr.
        Result: (0,) on success; (code,) on failure.
        """
    def servo_move_use_carte_NLF(
        self, max_vp: float, max_ap: float, max_jp: float, max_vr: float, max_ar: float, max_jr: float
    ) -> Tuple[int]:
        """Filter streamed Cartesian set points through a non-linear filter.

        Arguments: the limits of speed, acceleration and jerk for position (max_vp, max_ap, max_jp) and
        orientation (max_vr, max_ar, max_jr).
        Result: (0,) on success; (code,) on failure.
        """
    def servo_move_use_joint_MMF(self, max_buf: int, kp: float, kv: float, ka: float) -> Tuple[int]:
        """Filter streamed joint set points through a moving-mean filter.

        Arguments: max_buf the buffer length; kp, kv, ka the position, speed and acceleration gains.
        Result: (0,) on success; (code,) on failure.
        """
    def servo_speed_foresight(self, max_buf: int, kp: float) -> Tuple[int]:
        """Smooth streamed set points by looking ahead in a buffer.

        Arguments: max_buf the buffer length; kp the gain.
        Result: (0,) on success; (code,) on failure.
        """

    # digital and analog IO
    def set_digital_output(self, iotype: int, index: int, value: int) -> Tuple[int]:
        """Set a digital output.

        Arguments: iotype the IO group: 0 cabinet, 1 tool, 2 extension (velmo_arm.IOGroup); index the
        output, from 0; value its new level (non-zero: on).
        Result: (0,) on success; (code,) on failure.
        """
    def set_analog_output(self, iotype: int, index: int, value: float) -> Tuple[int]:
        """Set an analog output (sent as a 32-bit float).

        Arguments: iotype, index as set_digital_output; value.
        Result: (0,) on success; (code,) on failure.
        """
    def get_digital_input(self, iotype: int, index: int) -> Tuple[int, int]:
        """Read a digital input.

        Arguments: iotype the IO group: 0 cabinet, 1 tool, 2 extension; index the input, from 0.
        Result: (0, level) on success; (code,) on failure.
        """
    def get_digital_output(self, iotype: int, index: int) -> Tuple[int, int]:
        """Read back a digital output.

        Arguments: iotype, index.
        Result: (0, level) on success; (code,) on failure.
        """
    def get_analog_input(self, iotype: int, index: int) -> Tuple[int, float]:
        """Read an analog input (a 32-bit float widened to a Python float).

        Arguments: iotype, index.
        Result: (0, value) on success; (code,) on failure.
        """
    def get_analog_output(self, iotype: int, index: int) -> Tuple[int, float]:
        """Read back an analog output.

        Arguments: iotype, index.
        Result: (0, value) on success; (code,) on failure.
        """
    def is_extio_running(self) -> Tuple[int, int]:
        """Tell whether the extension IO is running.

        Arguments: none.
        Result: (0, running) on success; (code,) on failure.
        """

    # programs and speed
    def program_run(self) -> Tuple[int]:
        """Run the loaded program.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def program_pause(self) -> Tuple[int]:
        """Pause the running program.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def program_resume(self) -> Tuple[int]:
        """Resume the paused program.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def program_abort(self) -> Tuple[int]:
        """Abort the program.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def program_load(self, file: str, /) -> Tuple[int]:
        """Load a program by name.

        Arguments: file the program's name.
        Result: (0,) on success; (code,) on failure.
        """
    def get_loaded_program(self) -> Tuple[int, str]:
        """Name the loaded program.

        Arguments: none.
        Result: (0, name), at most 100 bytes of UTF-8 on success; (code,) on failure.
        """
    def get_current_line(self) -> Tuple[int, int]:
        """Read the line the program is at.

        Arguments: none.
        Result: (0, line) on success; (code,) on failure.
        """
    def get_program_state(self) -> Tuple[int, int]:
        """Read the program state (an unsigned 32-bit value; see Platform above).

        Arguments: none.
        Result: (0, state): 0 idle, 1 running, 2 paused, 3 stopped by an error (velmo_arm.ProgramState)
        on success; (code,) on failure.
        """
    def set_rapidrate(self, rapid_rate: float, /) -> Tuple[int]:
        """Set the speed override.

        Arguments: rapid_rate the override factor.
        Result: (0,) on success; (code,) on failure.
        """
    def get_rapidrate(self) -> Tuple[int, float]:
        """Read the speed override.

        Arguments: none.
        Result: (0, rate) on success; (code,) on failure.
        """

    # tools, user frames, payload
    def set_tool_data(self, id: int, tcp: _Floats, name: str) -> Tuple[int]:
        """Store a tool: its tool centre point as a pose in the flange frame, and a name.

        Arguments: id the tool slot; tcp a pose; name.
        Result: (0,) on success; (code,) on failure.
        """
    def set_tool_id(self, id: int, /) -> Tuple[int]:
        """Select the active tool.

        Arguments: id the tool slot.
        Result: (0,) on success; (code,) on failure.
        """
    def get_tool_id(self) -> Tuple[int, int]:
        """Read the active tool.

        Arguments: none.
        Result: (0, id) on success; (code,) on failure.
        """
    def get_tool_data(self, id: int, /) -> Tuple[int, int, List[float]]:
        """Read a stored tool.

        Arguments: id the tool slot.
        Result: (0, id, [x, y, z, rx, ry, rz]), the id echoed on success; (code,) on failure.
        """
    def set_user_frame_data(self, id: int, user_frame: _Floats, name: str) -> Tuple[int]:
        """Store a user frame: its pose in the base frame, and a name.

        Arguments: id the frame slot; user_frame a pose; name.
        Result: (0,) on success; (code,) on failure.
        """
    def set_user_frame_id(self, id: int, /) -> Tuple[int]:
        """Select the active user frame.

        Arguments: id the frame slot.
        Result: (0,) on success; (code,) on failure.
        """
    def get_user_frame_id(self) -> Tuple[int, int]:
        """Read the active user frame.

        Arguments: none.
        Result: (0, id) on success; (code,) on failure.
        """
    def get_user_frame_data(self, id: int, /) -> Tuple[int, int, List[float]]:
        """Read a stored user frame.

        Arguments: id the frame slot.
        Result: (0, id, [x, y, z, rx, ry, rz]), the id echoed on success; (code,) on failure.
        """
    def set_payload(self, mass: float, centroid: _Floats) -> Tuple[int]:
        """Set the payload the arm carries.

        Arguments: mass in kg; centroid its centre of mass (x, y, z) in mm.
        Result: (0,) on success; (code,) on failure.
        """
    def get_payload(self) -> Tuple[int, Tuple[float, _Three]]:
        """Read the payload.

        Arguments: none.
        Result: (0, (mass, (x, y, z))) on success; (code,) on failure.
        """

    # positions and state
    def drag_mode_enable(self, enable: int, /) -> Tuple[int]:
        """Enter (non-zero) or leave (0) hand-guiding mode.

        Arguments: enable.
        Result: (0,) on success; (code,) on failure.
        """
    def get_robot_state(self) -> Tuple[int, Tuple[int, int, int]]:
        """Read the emergency stop, power and servo flags.

        Arguments: none.
        Result: (0, (emergency_stop, power_on, servo_enabled)) on success; (code,) on failure.
        """
    def get_tcp_position(self) -> Tuple[int, List[float]]:
        """Read the tool pose.

        Arguments: none.
        Result: (0, [x, y, z, rx, ry, rz]) on success; (code,) on failure.
        """
    def get_joint_position(self) -> Tuple[int, List[float]]:
        """Read the joint angles.

        Arguments: none.
        Result: (0, [j1, j2, j3, j4, j5, j6]) on success; (code,) on failure.
        """
    def is_in_collision(self) -> Tuple[int, int]:
        """Tell whether the arm stopped on a collision.

        Arguments: none.
        Result: (0, flag) on success; (code,) on failure.
        """
    def is_in_drag_mode(self) -> Tuple[int, int]:
        """Tell whether hand-guiding mode is on.

        Arguments: none.
        Result: (0, flag) on success; (code,) on failure.
        """
    def is_on_limit(self) -> Tuple[int, int]:
        """Tell whether an axis is at a limit.

        Arguments: none.
        Result: (0, flag) on success; (code,) on failure.
        """
    def is_in_pos(self) -> Tuple[int, int]:
        """Tell whether the arm has reached its target.

        Arguments: none.
        Result: (0, flag) on success; (code,) on failure.
        """
    def get_robot_status(self) -> Tuple[int, _RobotStatus]:
        """Read the whole status snapshot (velmo_arm.Status names every element).

        Arguments: none.
        Result: (0, status): element *i* of status is the record's status_i; 0 to 9 are numbers (4 a
        float, 7 to 9 unsigned 32-bit, see Platform), 10 to 19 tuples of 65, 65, 65, 65, 10, 10, 10, 65,
        6 and 6 numbers, 14 and 17 integers reported as floats on success; (code,) on failure.
        """

    # kinematics and orientation
    def kine_inverse(self, ref_pos: _Floats, cartesian_pose: _Floats) -> Tuple[int, _Six]:
        """Solve the joint angles that put the tool at a pose, nearest to a reference.

        Arguments: ref_pos six reference joint angles, rad; cartesian_pose the pose (mm, rad) of the TCP
        in the current tool and user frame.
        Result: (0, (j1, j2, j3, j4, j5, j6)) on success; (code,) on failure.
        """
    def kine_forward(self, joint_pos: _Floats, /) -> Tuple[int, _Six]:
        """Compute the tool pose of a joint position.

        Arguments: joint_pos six joint angles, rad.
        Result: (0, (x, y, z, rx, ry, rz)), mm and rad on success; (code,) on failure.
        """
    def rpy_to_rot_matrix(self, rpy: _Floats, /) -> Tuple[int, List[List[float]]]:
        """Convert roll, pitch, yaw to a rotation matrix.

        Arguments: rpy (rx, ry, rz).
        Result: (0, [[...], [...], [...]]), three rows on success; (code,) on failure.
        """
    def rot_matrix_to_rpy(self, rot_matrix: _Rows, /) -> Tuple[int, List[float]]:
        """Convert a rotation matrix to roll, pitch, yaw.

        Arguments: rot_matrix three rows of three.
        Result: (0, [rx, ry, rz]) on success; (code,) on failure.
        """
    def quaternion_to_rot_matrix(self, quaternion: _Floats, /) -> Tuple[int, List[List[float]]]:
        """Convert a quaternion to a rotation matrix.

        Arguments: quaternion (s, x, y, z), scalar part first.
        Result: (0, [[...], [...], [...]]), three rows on success; (code,) on failure.
        """
    def rot_matrix_to_quaternion(self, rot_matrix: _Rows, /) -> Tuple[int, List[float]]:
        """Convert a rotation matrix to a quaternion.

        Arguments: rot_matrix three rows of three.
        Result: (0, [s, x, y, z]) on success; (code,) on failure.
        """

    # settings and diagnostics
    def set_error_handler(self, func: Callable[[int], object], /) -> None:
        """Have func(code) called when the controller reports an error; one handler for all RC objects, the
        latest set wins.

        Arguments: func any callable taking the code (an int); it may be called from a thread of the
        library. An exception it raises is reported through sys.unraisablehook.
        Result: None; raises TypeError when func is not callable.
        """
    def get_sdk_version(self) -> Tuple[int, str]:
        """Read the library's version text.

        Arguments: none.
        Result: (0, version) on success; (code,) on failure.
        """
    def set_collision_level(self, level: int, /) -> Tuple[int]:
        """Set the collision sensitivity.

        Arguments: level 0 (detection off), 1 (most sensitive) to 5 (least).
        Result: (0,) on success; (code,) on failure.
        """
    def get_collision_level(self, *ignored: object) -> Tuple[int, int]:
        """Read the collision sensitivity.

        Arguments: any positional arguments, ignored.
        Result: (0, level) on success; (code,) on failure.
        """
    def call_func(self, func: Callable[[float, float], float], x: float, y: float, /) -> float:
        """Call func(x, y) and return its float: a check of the bridge between the module and Python
        callables. Makes no handle check and no library call.

        Arguments: func a callable returning a float; x, y two floats.
        Result: func(x, y); raises TypeError when func is not callable or returns no float; an exception
        from func is printed and raised again.
        """
    def set_debug_mode(self, enable: int, /) -> Tuple[int]:
        """Switch the library's debug output on (non-zero) or off (0).

        Arguments: enable.
        Result: (0,) on success; (code,) on failure.
        """
    def set_errorcode_file_path(self, path: str, /) -> Tuple[int]:
        """Name the file the library reads its error texts from.

        Arguments: path.
        Result: (0,) on success; (code,) on failure.
        """
    def get_last_error(self) -> Tuple[int, Tuple[int, str]]:
        """Read the controller's last error.

        Arguments: none.
        Result: (0, (error_code, message)); the error code is a C long (32-bit on Windows) on success;
        (code,) on failure.
        """
    def get_controller_ip(self) -> Tuple[int, str]:
        """List the addresses of the controllers the library finds.

        Arguments: none (the library is asked with an empty controller name).
        Result: (0, addresses), the library's text on success; (code, text), whatever the library wrote
        on failure.
        """
    def set_SDK_filepath(self, filepath: str, /) -> Tuple[int]:
        """Name the library's log file.

        Arguments: filepath.
        Result: (0,) on success; (code,) on failure.
        """
    def set_network_exception_handle(self, millisecond: float, mnt: int, /) -> Tuple[int]:
        """Set how long a connection may be silent and what the controller does then.

        Arguments: millisecond the time (sent as a 32-bit float); mnt the reaction: 0 keep going, 1
        pause, 2 stop (velmo_arm.NetworkReaction).
        Result: (0,) on success; (code,) on failure.
        """
    def set_status_data_update_time_interval(self, millisecond: float, /) -> Tuple[int]:
        """Set the status refresh period.

        Arguments: millisecond (sent as a 32-bit float).
        Result: (0,) on success; (code,) on failure.
        """

    # trajectory recording
    def set_traj_config(self, config: _Floats, /) -> Tuple[int]:
        """Configure trajectory recording.

        Arguments: config (xyz_interval, rpy_interval, vel, acc): the sample spacing in mm and radians,
        the replay speed and acceleration.
        Result: (0,) on success; (code,) on failure.
        """
    def get_traj_config(self) -> Tuple[int, _Four]:
        """Read the recording configuration.

        Arguments: none.
        Result: (0, (xyz_interval, rpy_interval, vel, acc)) on success; (code,) on failure.
        """
    def set_traj_sample_mode(self, mode: int, filename: str, /) -> Tuple[int]:
        """Start (non-zero) or stop (0) recording into a file.

        Arguments: mode 0 stop and save, 1 (any non-zero) start (velmo_arm.SampleMode); filename the
        trajectory's name.
        Result: (0,) on success; (code,) on failure.
        """
    def get_traj_sample_status(self) -> Tuple[int, int]:
        """Read the recording status (a 64-bit value; see Platform above).

        Arguments: none.
        Result: (0, status) on success; (code,) on failure.
        """
    def get_exist_traj_file_name(self, *ignored: object) -> Tuple[int, List[str]]:
        """List the recorded trajectory files.

        Arguments: any positional arguments, ignored.
        Result: (0, [name, ...]) on success; (code,) on failure.
        """
    def rename_traj_file_name(self, src: str, dest: str, /) -> Tuple[int]:
        """Rename a recorded trajectory.

        Arguments: src the current name; dest the new one.
        Result: (0,) on success; (code,) on failure.
        """
    def remove_traj_file(self, filename: str, /) -> Tuple[int]:
        """Delete a recorded trajectory.

        Arguments: filename.
        Result: (0,) on success; (code,) on failure.
        """
    def generate_traj_exe_file(self, filename: str, /) -> Tuple[int]:
        """Turn a recorded trajectory into a program.

        Arguments: filename.
        Result: (0,) on success; (code,) on failure.
        """

    # torque control and the force/torque sensor
    def torque_control_enable(self, enable: int, /) -> Tuple[int]:
        """Switch torque control on (non-zero) or off (0).

        Arguments: enable.
        Result: (0,) on success; (code,) on failure.
        """
    def torque_feedforward(self, tor_val: _Floats, grv_flag: int, /) -> Tuple[int]:
        """Send feed-forward joint torques.

        Arguments: tor_val six torques in N·m; grv_flag whether they include gravity compensation.
        Result: (0,) on success; (code,) on failure.
        """
    def set_torsenosr_brand(self, sensor_brand: int, /) -> Tuple[int]:
        """Select the force/torque sensor model.

        Arguments: sensor_brand 0 (none) to 10.
        Result: (0,) on success; (code,) on failure.
        """
    def get_torsenosr_brand(self, *ignored: object) -> Tuple[int, int]:
        """Read the sensor model; reported whatever the code.

        Arguments: any positional arguments, ignored.
        Result: (0, sensor_brand) on success; (code, sensor_brand) on failure.
        """
    def set_torque_sensor_mode(self, sensor_mode: int, /) -> Tuple[int]:
        """Switch the sensor on (non-zero) or off (0).

        Arguments: sensor_mode 0 off, 1 on.
        Result: (0,) on success; (code,) on failure.
        """
    def set_torque_sensor_comm(self, type: int, ip_addr: str, port: int, /) -> Tuple[int]:
        """Set how the controller talks to the sensor.

        Arguments: type the link: 0 TCP, 1 through the tool flange, 2 UDP (velmo_arm.SensorLink);
        ip_addr and port the sensor's address for network links.
        Result: (0,) on success; (code,) on failure.
        """
    def get_torque_sensor_comm(self) -> Tuple[int, int, str, int]:
        """Read the sensor link; reported whatever the code. Link type 1 has no address: "" and port 0.

        Arguments: none.
        Result: (0, type, ip_addr, port) on success; (code, type, ip_addr, port) on failure.
        """
    def start_torq_sensor_payload_identify(self, joint_pos: _Floats) -> Tuple[int]:
        """Start identifying the payload on the sensor, moving to a joint position.

        Arguments: joint_pos six joint angles, rad.
        Result: (0,) on success; (code,) on failure.
        """
    def get_torq_sensor_identify_staus(self, *ignored: object) -> Tuple[int, int]:
        """Read the identification status; reported whatever the code.

        Arguments: any positional arguments, ignored.
        Result: (0, status): 0 none, 1 identifying, 2 done (velmo_arm.IdentifyStatus) on success; (code,
        status) on failure.
        """
    def get_torq_sensor_payload_identify_result(self, *ignored: object, **ignored_keywords: object) -> Tuple[int, _Four]:
        """Read the identified payload; reported whatever the code.

        Arguments: any arguments, ignored.
        Result: (0, (mass, x, y, z)) on success; (code, (mass, x, y, z)) on failure.
        """
    def set_torq_sensor_tool_payload(self, mass: float, centroid: _Floats) -> Tuple[int]:
        """Set the tool payload on the sensor.

        Arguments: mass in kg; centroid (x, y, z) in mm.
        Result: (0,) on success; (code,) on failure.
        """
    def get_torq_sensor_tool_payload(self, *ignored: object, **ignored_keywords: object) -> Tuple[int, _Four]:
        """Read the tool payload on the sensor; reported whatever the code.

        Arguments: any arguments, ignored.
        Result: (0, (mass, x, y, z)) on success; (code, (mass, x, y, z)) on failure.
        """

    # admittance and compliance control
    def set_admit_ctrl_config(
        self, axis: int, opt: int, ftUser: float, ftConstant: float, ftNnormalTrack: int, ftReboundFK: float
    ) -> Tuple[int]:
        """Configure admittance control of one Cartesian axis.

        Arguments: axis 0 to 5; opt whether the axis is compliant; ftUser the force that moves the arm
        at full speed; ftConstant the constant force to keep; ftNnormalTrack whether to track the
        surface normal; ftReboundFK the rebound stiffness.
        Result: (0,) on success; (code,) on failure.
        """
    def get_admit_ctrl_config(
        self,
    ) -> Tuple[int, Tuple[_AxisConfig, _AxisConfig, _AxisConfig, _AxisConfig, _AxisConfig, _AxisConfig]]:
        """Read the admittance configuration of all six axes; reported whatever the code. Each axis is
        (opt, ftUser, ftConstant, ftReboundFK, ftNnormalTrack), all floats (note the order: the setter
        takes ftNnormalTrack before ftReboundFK).

        Arguments: none.
        Result: (0, (axis0, ..., axis5)) on success; (code, (axis0, ..., axis5)) on failure.
        """
    def enable_admittance_ctrl(self, enable_flag: int, /) -> Tuple[int]:
        """Switch admittance control on (non-zero) or off (0).

        Arguments: enable_flag.
        Result: (0,) on success; (code,) on failure.
        """
    def set_compliant_type(self, sensor_compensation: int, compliance_type: int, /) -> Tuple[int]:
        """Select the compliance control type.

        Arguments: sensor_compensation whether sensor readings are compensated (0, 1); compliance_type 0
        off, 1 constant force, 2 velocity (velmo_arm.ComplianceType).
        Result: (0,) on success; (code,) on failure.
        """
    def get_compliant_type(self, *ignored: object) -> Tuple[int, int, int]:
        """Read the compliance control type; reported whatever the code.

        Arguments: any positional arguments, ignored.
        Result: (0, sensor_compensation, compliance_type) on success; (code, sensor_compensation,
        compliance_type) on failure.
        """
    def disable_force_control(self) -> Tuple[int]:
        """Switch all force control off.

        Arguments: none.
        Result: (0,) on success; (code,) on failure.
        """
    def set_vel_compliant_ctrl(self, vc_level: int, rate1: float, rate2: float, rate3: float, rate4: float, /) -> Tuple[int]:
        """Configure speed compliance control.

        Arguments: vc_level the level, 1 to 3; rate1, rate2, rate3, rate4 its speed rates, each in (0,
        1].
        Result: (0,) on success; (code,) on failure.
        """
    def set_compliance_condition(
        self, fx: float, fy: float, fz: float, tx: float, ty: float, tz: float, /
    ) -> Tuple[int]:
        """Set the force (N) and torque (N·m) limits of compliance control.

        Arguments: fx, fy, fz, tx, ty, tz.
        Result: (0,) on success; (code,) on failure.
        """

"""One row per RC method that forwards to the library: how it is called and
what the library must receive. Shared by the method tests."""

import struct
from typing import NamedTuple, Optional, Tuple

N, V, VK = "N", "V", "VK"


def f32(x):
    """The double a 32-bit float argument carries."""
    return struct.unpack("f", struct.pack("f", x))[0]


class Row(NamedTuple):
    name: str
    kind: str
    args: tuple                      # a sample call
    lib_args: list                   # what the library receives after the handle
    keywords: Optional[Tuple[str, ...]] = None  # VK methods that parse
    ignores_args: bool = False       # takes arguments of its kind without looking at them
    always: int = 0                  # result length whatever the code (0: the ResultTuple rule)


J = (0, 0.5, 1, 0, 1.57, -0.25)
JL = [0.0, 0.5, 1.0, 0.0, 1.57, -0.25]
E = [100, -200.5, 300, 3.14, 0, -1.5]
M = [10.25, 20, -30, 0, 1.5, 0]
MATRIX = ((1, 0, 0), (0, 0.5, -1), (0.25, 1, 0))
MATRIX_FLAT = [1, 0, 0, 0, 0.5, -1, 0.25, 1, 0]
OUT = "out"

ROWS = [
    Row("power_on", V, (), [], ignores_args=True),
    Row("power_off", N, (), []),
    Row("shut_down", N, (), []),
    Row("enable_robot", N, (), []),
    Row("disable_robot", N, (), []),
    Row("jog", VK, (2, 1, 0, 0.1, 5.0), [2, 1, 0, 0.1, 5.0],
        ("aj_num", "move_mode", "coord_type", "jog_vel", "pos_cmd")),
    Row("jog_stop", V, (3,), [3]),
    Row("joint_move", VK, (J, 0, 2, 0.5), [JL, 0, 2, 0.5], ("joint_pos", "move_mode", "is_block", "speed")),
    Row("joint_move_extend", VK, (J, 1, 1, 0.5, 2, 0.1), [JL, 1, 1, 0.5, 2.0, 0.1, None],
        ("joint_pos", "move_mode", "is_block", "speed", "acc", "tol")),
    Row("linear_move", VK, (E, 0, True, 10), [E, 0, 1, 10.0], ("end_pos", "move_mode", "is_block", "speed")),
    Row("linear_move_extend", VK, (E, 0, 1, 10, 20, 0.5), [E, 0, 1, 10.0, 20.0, 0.5, None],
        ("end_pos", "move_mode", "is_block", "speed", "acc", "tol")),
    Row("servo_move_enable", V, (2,), [2]),
    Row("servo_j", VK, (J, 1), [JL, 1], ("joint_pos", "move_mode")),
    Row("servo_j_extend", VK, (J, 1, 4), [JL, 1, 4], ("joint_pos", "move_mode", "step_num")),
    Row("servo_p", VK, (E, 0), [E, 0], ("cartesian_pose", "move_mode")),
    Row("servo_p_extend", VK, (E, 0, 2), [E, 0, 2], ("end_pos", "move_mode", "step_num")),
    Row("set_digital_output", VK, (0, 3, 2), [0, 3, 2], ("iotype", "index", "value")),
    Row("set_analog_output", VK, (0, 1, 0.1), [0, 1, f32(0.1)], ("iotype", "index", "value")),
    Row("get_digital_input", VK, (1, 2), [1, 2, OUT], ("iotype", "index")),
    Row("get_digital_output", VK, (1, 2), [1, 2, OUT], ("iotype", "index")),
    Row("get_analog_input", VK, (1, 2), [1, 2, OUT], ("iotype", "index")),
    Row("get_analog_output", VK, (1, 2), [1, 2, OUT], ("iotype", "index")),
    Row("is_extio_running", N, (), [OUT]),
    Row("program_run", N, (), []),
    Row("program_pause", N, (), []),
    Row("program_resume", N, (), []),
    Row("program_abort", N, (), []),
    Row("program_load", V, ("pick and place.jks",), ["pick and place.jks"]),
    Row("get_loaded_program", N, (), [OUT]),
    Row("get_current_line", N, (), [OUT]),
    Row("get_program_state", N, (), [OUT]),
    Row("set_rapidrate", V, (1,), [1.0]),
    Row("get_rapidrate", N, (), [OUT]),
    Row("set_tool_data", VK, (1, [0, 0, 0.1, 0, 0, 0], "gripper"), [1, [0, 0, 0.1, 0, 0, 0], "gripper"],
        ("id", "tcp", "name")),
    Row("set_tool_id", V, (2,), [2]),
    Row("get_tool_id", N, (), [OUT]),
    Row("get_tool_data", V, (3,), [3, OUT]),
    Row("set_user_frame_data", VK, (4, M, "table"), [4, M, "table"], ("id", "user_frame", "name")),
    Row("set_user_frame_id", V, (5,), [5]),
    Row("get_user_frame_id", N, (), [OUT]),
    Row("get_user_frame_data", V, (6,), [6, OUT]),
    Row("set_payload", VK, (1.5, (0, 0, 0.05)), [[1.5, 0, 0, 0.05]], ("mass", "centroid")),
    Row("get_payload", N, (), [OUT]),
    Row("drag_mode_enable", V, (1,), [1]),
    Row("get_robot_state", N, (), [OUT]),
    Row("get_tcp_position", N, (), [OUT]),
    Row("get_joint_position", N, (), [OUT]),
    Row("is_in_collision", N, (), [OUT]),
    Row("is_in_drag_mode", N, (), [OUT]),
    Row("is_on_limit", N, (), [OUT]),
    Row("is_in_pos", N, (), [OUT]),
    Row("collision_recover", N, (), []),
    Row("clear_error", N, (), []),
    Row("kine_inverse", VK, (J, E), [JL, E, OUT], ("ref_pos", "cartesian_pose")),
    Row("kine_forward", V, (J,), [JL, OUT]),
    Row("rpy_to_rot_matrix", V, ((0.1, -0.2, 3),), [[0.1, -0.2, 3.0], OUT]),
    Row("rot_matrix_to_rpy", V, (MATRIX,), [MATRIX_FLAT, OUT]),
    Row("quaternion_to_rot_matrix", V, ((1, 0, 0.5, -0.5),), [[1, 0, 0.5, -0.5], OUT]),
    Row("rot_matrix_to_quaternion", V, ([list(r) for r in MATRIX],), [MATRIX_FLAT, OUT]),
    Row("torque_control_enable", V, (1,), [1]),
    Row("torque_feedforward", V, ((1, 2, 3, 4, 5, 6.5), 1), [[1, 2, 3, 4, 5, 6.5], 1]),
    Row("get_sdk_version", N, (), [OUT]),
    Row("set_collision_level", V, (3,), [3]),
    Row("get_collision_level", V, (), [OUT], ignores_args=True),
    Row("set_debug_mode", V, (1,), [1]),
    Row("motion_abort", N, (), []),
    Row("set_errorcode_file_path", V, ("/tmp/codes.txt",), ["/tmp/codes.txt"]),
    Row("get_last_error", N, (), [OUT]),
    Row("get_robot_status", N, (), [OUT]),
    Row("set_traj_config", V, ((1.0, 0.5, 100, 500),), [[1.0, 0.5, 100.0, 500.0]]),
    Row("get_traj_config", N, (), [OUT]),
    Row("get_traj_sample_status", N, (), [OUT]),
    Row("get_exist_traj_file_name", V, (), [OUT], ignores_args=True),
    Row("rename_traj_file_name", V, ("old", "new"), ["old", "new"]),
    Row("remove_traj_file", V, ("old",), ["old"]),
    Row("generate_traj_exe_file", V, ("track",), ["track"]),
    Row("circular_move", VK, (E, M, 0, 0, 1, 1, 0), [E, M, 0, 0, 1.0, 1.0, 0.0, None],
        ("end_pos", "mid_pos", "move_mode", "is_block", "speed", "acc", "tol")),
    Row("servo_move_use_none_filter", N, (), []),
    Row("servo_move_use_joint_LPF", V, (0.5,), [0.5]),
    Row("servo_move_use_joint_NLF", VK, (1, 2.5, 3), [1.0, 2.5, 3.0], ("max_vr", "max_ar", "max_jr")),
    Row("servo_move_use_carte_NLF", VK, (1, 2, 3, 4, 5, 6), [1.0, 2.0, 3.0, 4.0, 5.0, 6.0],
        ("max_vp", "max_ap", "max_jp", "max_vr", "max_ar", "max_jr")),
    Row("servo_move_use_joint_MMF", VK, (10, 1.0, 0.5, 0.1), [10, 1.0, 0.5, 0.1], ("max_buf", "kp", "kv", "ka")),
    Row("servo_speed_foresight", VK, (15, 0.8), [15, 0.8], ("max_buf", "kp")),
    Row("set_SDK_filepath", V, ("/tmp/zandrel.log",), ["/tmp/zandrel.log"]),
    Row("set_torsenosr_brand", V, (2,), [2]),
    Row("get_torsenosr_brand", V, (), [OUT], ignores_args=True, always=2),
    Row("set_torque_sensor_mode", V, (1,), [1]),
    Row("set_admit_ctrl_config", VK, (2, 1, 20, 0, 0, 0.5), [2, 1, 20.0, 0.0, 0, 0.5],
        ("axis", "opt", "ftUser", "ftConstant", "ftNnormalTrack", "ftReboundFK")),
    Row("start_torq_sensor_payload_identify", VK, ((0, 0, 1.57, 0, 1.57, 0),), [[0, 0, 1.57, 0, 1.57, 0]],
        ("joint_pos",)),
    Row("get_torq_sensor_identify_staus", V, (), [OUT], ignores_args=True, always=2),
    Row("get_torq_sensor_payload_identify_result", VK, (), [OUT], ignores_args=True, always=2),
    Row("set_torq_sensor_tool_payload", VK, (1.5, (0, 0, 50)), [[1.5, 0, 0, 50]], ("mass", "centroid")),
    Row("get_torq_sensor_tool_payload", VK, (), [OUT], ignores_args=True, always=2),
    Row("enable_admittance_ctrl", V, (1,), [1]),
    Row("set_compliant_type", V, (1, 2), [1, 2]),
    Row("get_compliant_type", V, (), [OUT, OUT], ignores_args=True, always=3),
    Row("get_admit_ctrl_config", N, (), [OUT], always=2),
    Row("set_traj_sample_mode", V, (1, "track"), [1, "track"]),
    Row("set_torque_sensor_comm", V, (0, "192.168.1.5", 8080), [0, "192.168.1.5", 8080]),
    Row("get_torque_sensor_comm", N, (), [OUT, OUT, OUT], always=4),
    Row("disable_force_control", N, (), []),
    Row("set_vel_compliant_ctrl", V, (1, 0.5, 0.4, 0.3, 0.2), [[1, 0.5, 0.4, 0.3, 0.2]]),
    Row("set_compliance_condition", V, (10, 10, 10, 1, 1, 1), [[10, 10, 10, 1, 1, 1]]),
    Row("set_network_exception_handle", V, (100.1, 2), [f32(100.1), 2]),
    Row("set_status_data_update_time_interval", V, (8.5,), [8.5]),
]

BY_NAME = {row.name: row for row in ROWS}
PARSING = [row for row in ROWS if row.args and not row.ignores_args]

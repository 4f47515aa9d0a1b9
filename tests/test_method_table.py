"""The whole method table: 110 names in order, each one's calling kind and doc."""

import pytest

import velmo
from test_api_docs import runtime_kind

# name: N (no arguments), V (positional only), VK (positional or keywords)
TABLE = """
login N, logout N, power_on V, power_off N, shut_down N, enable_robot N, disable_robot N, jog VK,
jog_stop V, joint_move VK, joint_move_extend VK, linear_move VK, linear_move_extend VK,
servo_move_enable V, servo_j VK, servo_j_extend VK, servo_p VK, servo_p_extend VK,
set_digital_output VK, set_analog_output VK, get_digital_input VK, get_digital_output VK,
get_analog_input VK, get_analog_output VK, is_extio_running N, program_run N, program_pause N,
program_resume N, program_abort N, program_load V, get_loaded_program N, get_current_line N,
get_program_state N, set_rapidrate V, get_rapidrate N, set_tool_data VK, set_tool_id V,
get_tool_id N, get_tool_data V, set_user_frame_data VK, set_user_frame_id V, get_user_frame_id N,
get_user_frame_data V, set_payload VK, get_payload N, drag_mode_enable V, get_robot_state N,
get_tcp_position N, get_joint_position N, is_in_collision N, is_in_drag_mode N, is_on_limit N,
is_in_pos N, collision_recover N, clear_error N, kine_inverse VK, kine_forward V,
rpy_to_rot_matrix V, rot_matrix_to_rpy V, quaternion_to_rot_matrix V, rot_matrix_to_quaternion V,
torque_control_enable V, torque_feedforward V, set_error_handler V, get_sdk_version N,
set_collision_level V, get_collision_level V, call_func V, set_debug_mode V, motion_abort N,
set_errorcode_file_path V, get_last_error N, get_robot_status N, get_controller_ip N,
set_traj_config V, get_traj_config N, get_traj_sample_status N, get_exist_traj_file_name V,
rename_traj_file_name V, remove_traj_file V, generate_traj_exe_file V, circular_move VK,
servo_move_use_none_filter N, servo_move_use_joint_LPF V, servo_move_use_joint_NLF VK,
servo_move_use_carte_NLF VK, servo_move_use_joint_MMF VK, servo_speed_foresight VK,
set_SDK_filepath V, set_torsenosr_brand V, get_torsenosr_brand V, set_torque_sensor_mode V,
set_admit_ctrl_config VK, start_torq_sensor_payload_identify VK, get_torq_sensor_identify_staus V,
get_torq_sensor_payload_identify_result VK, set_torq_sensor_tool_payload VK,
get_torq_sensor_tool_payload VK, enable_admittance_ctrl V, set_compliant_type V,
get_compliant_type V, get_admit_ctrl_config N, set_traj_sample_mode V, set_torque_sensor_comm V,
get_torque_sensor_comm N, disable_force_control N, set_vel_compliant_ctrl V,
set_compliance_condition V, set_network_exception_handle V, set_status_data_update_time_interval V
"""
EXPECTED = [tuple(item.split()) for item in TABLE.replace("\n", " ").split(",")]


def test_110_methods_in_table_order():
    methods = [name for name, value in vars(velmo.RC).items() if callable(value) and not name.startswith("__")]
    assert len(EXPECTED) == 110
    assert methods == [name for name, _ in EXPECTED]


@pytest.mark.parametrize("name, kind", EXPECTED, ids=[name for name, _ in EXPECTED])
def test_calling_kind_and_doc(sim, name, kind):
    robot = velmo.RC("10.0.0.1")
    robot.handle = -1  # keeps every method but login and call_func away from the library
    sim.inject("create_handler", 0)
    assert runtime_kind(robot, name) == kind
    doc = {"login": "Log in the specified robot", "logout": "Log out the specified robot"}
    assert getattr(velmo.RC, name).__doc__ == doc.get(name, "description")

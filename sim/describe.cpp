/*
 * The probe learns every entry point's name and out-parameter sizes by calling
 * each once with empty arguments while describing() is true (probe.h).
 */
#include "probe.h"

namespace {

template <class... A>
void describe_one(ErrorCode (*entry)(A...))
{
    entry(A{}...);
}

template <class... F>
void describe_each(F... entries)
{
    static_assert(sizeof...(F) == 109, "every zandrelAPI function is listed once");
    (describe_one(entries), ...);
}

} // namespace

void zsim::describe_entry_points()
{
    describe_each(
        create_handler, destory_handler, power_on, power_off, shut_down, enable_robot,
        disable_robot, clear_error, collision_recover, motion_abort, jog, jog_stop, joint_move,
        joint_move_extend, linear_move, linear_move_extend, circular_move, servo_move_enable,
        servo_j, servo_j_extend, servo_p, servo_p_extend, servo_move_use_none_filter,
        servo_move_use_joint_LPF, servo_move_use_joint_NLF, servo_move_use_carte_NLF,
        servo_move_use_joint_MMF, servo_speed_foresight, set_digital_output, set_analog_output,
        get_digital_input, get_digital_output, get_analog_input, get_analog_output,
        is_extio_running, program_run, program_pause, program_resume, program_abort,
        program_load, get_loaded_program, get_current_line, get_program_state, set_rapidrate,
        get_rapidrate, set_tool_data, set_tool_id, get_tool_id, get_tool_data,
        set_user_frame_data, set_user_frame_id, get_user_frame_id, get_user_frame_data,
        set_payload, get_payload, drag_mode_enable, get_robot_state, get_tcp_position,
        get_joint_position, is_in_collision, is_in_drag_mode, is_on_limit, is_in_pos,
        get_robot_status, kine_inverse, kine_forward, rpy_to_rot_matrix, rot_matrix_to_rpy,
        quaternion_to_rot_matrix, rot_matrix_to_quaternion, set_error_handler, get_sdk_version,
        set_collision_level, get_collision_level, set_debug_mode, set_errorcode_file_path,
        get_last_error, get_controller_ip, set_SDK_filepath, set_network_exception_handle,
        set_status_data_update_time_interval, set_traj_config, get_traj_config,
        set_traj_sample_mode, get_traj_sample_status, get_exist_traj_file_name,
        rename_traj_file_name, remove_traj_file, generate_traj_exe_file, torque_control_enable,
        torque_feedforward, set_torsenosr_brand, get_torsenosr_brand, set_torque_sensor_mode,
        set_torque_sensor_comm, get_torque_sensor_comm, start_torq_sensor_payload_identify,
        get_torq_sensor_identify_staus, get_torq_sensor_payload_identify_result,
        set_torq_sensor_tool_payload, get_torq_sensor_tool_payload, set_admit_ctrl_config,
        get_admit_ctrl_config, enable_admittance_ctrl, set_compliant_type, get_compliant_type,
        disable_force_control, set_vel_compliant_ctrl, set_compliance_condition);
}

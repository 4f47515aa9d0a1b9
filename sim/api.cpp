/*
 * The zandrelAPI entry points of the stand-in controller.
 *
 * Each one hands its arguments to the probe (journal and injections, see
 * probe.h). The stand-in's own behaviour is small: out-parameters are zeroed,
 * create_handler numbers handles from 1, and set_error_handler keeps the
 * callback. An entry point that grows real behaviour takes this shape:
 *
 *     ErrorCode get_rapidrate(const RobotHandle *handle, double *rapid_rate)
 *     {
 *         zsim::Call c(__func__, handle, rapid_rate);
 *         if (c.overridden())
 *             return c.code();
 *         ...  // the controller's behaviour
 *     }
 */
#include "probe.h"

#include <atomic>

namespace {

/* Handles given out since load or the last reset. */
std::atomic<RobotHandle> g_last_handle{0};

} // namespace

using zsim::call;
using zsim::out_text;

/* ---- connection ------------------------------------------------------- */

ErrorCode create_handler(const char *ip, RobotHandle *handle)
{
    zsim::Call c(__func__, ip, zsim::handle_out(handle));
    if (c.overridden())
        return c.code();
    if (handle)
        *handle = ++g_last_handle;
    return 0;
}
ErrorCode destory_handler(const RobotHandle *handle) { return call(__func__, handle); }

/* ---- power, enable, recovery ------------------------------------------ */

ErrorCode power_on(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode power_off(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode shut_down(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode enable_robot(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode disable_robot(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode clear_error(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode collision_recover(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode motion_abort(const RobotHandle *handle) { return call(__func__, handle); }

/* ---- jog and moves ------------------------------------------------------ */

ErrorCode jog(const RobotHandle *handle, int32_t aj_num, int32_t move_mode, int32_t coord_type,
              double jog_vel, double pos_cmd)
{
    return call(__func__, handle, aj_num, move_mode, coord_type, jog_vel, pos_cmd);
}
ErrorCode jog_stop(const RobotHandle *handle, int32_t num) { return call(__func__, handle, num); }
ErrorCode joint_move(const RobotHandle *handle, const JointVector *joint_pos, int32_t move_mode,
                     int32_t is_block, double speed)
{
    return call(__func__, handle, joint_pos, move_mode, is_block, speed);
}
ErrorCode joint_move_extend(const RobotHandle *handle, const JointVector *joint_pos,
                            int32_t move_mode, int32_t is_block, double speed, double acc,
                            double tol, const void *option)
{
    return call(__func__, handle, joint_pos, move_mode, is_block, speed, acc, tol, option);
}
ErrorCode linear_move(const RobotHandle *handle, const CartPose *end_pos, int32_t move_mode,
                      int32_t is_block, double speed)
{
    return call(__func__, handle, end_pos, move_mode, is_block, speed);
}
ErrorCode linear_move_extend(const RobotHandle *handle, const CartPose *end_pos,
                             int32_t move_mode, int32_t is_block, double speed, double acc,
                             double tol, const void *option)
{
    return call(__func__, handle, end_pos, move_mode, is_block, speed, acc, tol, option);
}
ErrorCode circular_move(const RobotHandle *handle, const CartPose *end_pos,
                        const CartPose *mid_pos, int32_t move_mode, int32_t is_block,
                        double speed, double acc, double tol, const void *option)
{
    return call(__func__, handle, end_pos, mid_pos, move_mode, is_block, speed, acc, tol, option);
}

/* ---- servo streaming ---------------------------------------------------- */

ErrorCode servo_move_enable(const RobotHandle *handle, int32_t enable)
{
    return call(__func__, handle, enable);
}
ErrorCode servo_j(const RobotHandle *handle, const JointVector *joint_pos, int32_t move_mode)
{
    return call(__func__, handle, joint_pos, move_mode);
}
ErrorCode servo_j_extend(const RobotHandle *handle, const JointVector *joint_pos,
                         int32_t move_mode, int32_t step_num)
{
    return call(__func__, handle, joint_pos, move_mode, step_num);
}
ErrorCode servo_p(const RobotHandle *handle, const CartPose *cartesian_pose, int32_t move_mode)
{
    return call(__func__, handle, cartesian_pose, move_mode);
}
ErrorCode servo_p_extend(const RobotHandle *handle, const CartPose *end_pos, int32_t move_mode,
                         int32_t step_num)
{
    return call(__func__, handle, end_pos, move_mode, step_num);
}
ErrorCode servo_move_use_none_filter(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode servo_move_use_joint_LPF(const RobotHandle *handle, double cutoffFreq)
{
    return call(__func__, handle, cutoffFreq);
}
ErrorCode servo_move_use_joint_NLF(const RobotHandle *handle, double max_vr, double max_ar,
                                   double max_jr)
{
    return call(__func__, handle, max_vr, max_ar, max_jr);
}
ErrorCode servo_move_use_carte_NLF(const RobotHandle *handle, double max_vp, double max_ap,
                                   double max_jp, double max_vr, double max_ar, double max_jr)
{
    return call(__func__, handle, max_vp, max_ap, max_jp, max_vr, max_ar, max_jr);
}
ErrorCode servo_move_use_joint_MMF(const RobotHandle *handle, int32_t max_buf, double kp,
                                   double kv, double ka)
{
    return call(__func__, handle, max_buf, kp, kv, ka);
}
ErrorCode servo_speed_foresight(const RobotHandle *handle, int32_t max_buf, double kp)
{
    return call(__func__, handle, max_buf, kp);
}

/* ---- IO ------------------------------------------------------------------- */

ErrorCode set_digital_output(const RobotHandle *handle, int32_t iotype, int32_t index,
                             int32_t value)
{
    return call(__func__, handle, iotype, index, value);
}
ErrorCode set_analog_output(const RobotHandle *handle, int32_t iotype, int32_t index,
                            float value)
{
    return call(__func__, handle, iotype, index, value);
}
ErrorCode get_digital_input(const RobotHandle *handle, int32_t iotype, int32_t index,
                            int32_t *result)
{
    return call(__func__, handle, iotype, index, result);
}
ErrorCode get_digital_output(const RobotHandle *handle, int32_t iotype, int32_t index,
                             int32_t *result)
{
    return call(__func__, handle, iotype, index, result);
}
ErrorCode get_analog_input(const RobotHandle *handle, int32_t iotype, int32_t index,
                           float *result)
{
    return call(__func__, handle, iotype, index, result);
}
ErrorCode get_analog_output(const RobotHandle *handle, int32_t iotype, int32_t index,
                            float *result)
{
    return call(__func__, handle, iotype, index, result);
}
ErrorCode is_extio_running(const RobotHandle *handle, int32_t *is_running)
{
    return call(__func__, handle, is_running);
}

/* ---- programs and rapid rate --------------------------------------------- */

ErrorCode program_run(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode program_pause(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode program_resume(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode program_abort(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode program_load(const RobotHandle *handle, const char *file)
{
    return call(__func__, handle, file);
}
ErrorCode get_loaded_program(const RobotHandle *handle, char *file)
{
    return call(__func__, handle, out_text(file, 100));
}
ErrorCode get_current_line(const RobotHandle *handle, int32_t *curr_line)
{
    return call(__func__, handle, curr_line);
}
ErrorCode get_program_state(const RobotHandle *handle, uint32_t *status)
{
    return call(__func__, handle, status);
}
ErrorCode set_rapidrate(const RobotHandle *handle, double rapid_rate)
{
    return call(__func__, handle, rapid_rate);
}
ErrorCode get_rapidrate(const RobotHandle *handle, double *rapid_rate)
{
    return call(__func__, handle, rapid_rate);
}

/* ---- tools, user frames, payload ------------------------------------------ */

ErrorCode set_tool_data(const RobotHandle *handle, int32_t id, const CartPose *tcp,
                        const char *name)
{
    return call(__func__, handle, id, tcp, name);
}
ErrorCode set_tool_id(const RobotHandle *handle, int32_t id) { return call(__func__, handle, id); }
ErrorCode get_tool_id(const RobotHandle *handle, int32_t *id) { return call(__func__, handle, id); }
ErrorCode get_tool_data(const RobotHandle *handle, int32_t id, CartPose *tcp)
{
    return call(__func__, handle, id, tcp);
}
ErrorCode set_user_frame_data(const RobotHandle *handle, int32_t id, const CartPose *user_frame,
                              const char *name)
{
    return call(__func__, handle, id, user_frame, name);
}
ErrorCode set_user_frame_id(const RobotHandle *handle, int32_t id)
{
    return call(__func__, handle, id);
}
ErrorCode get_user_frame_id(const RobotHandle *handle, int32_t *id)
{
    return call(__func__, handle, id);
}
ErrorCode get_user_frame_data(const RobotHandle *handle, int32_t id, CartPose *user_frame)
{
    return call(__func__, handle, id, user_frame);
}
ErrorCode set_payload(const RobotHandle *handle, const PayloadData *payload)
{
    return call(__func__, handle, payload);
}
ErrorCode get_payload(const RobotHandle *handle, PayloadData *payload)
{
    return call(__func__, handle, payload);
}

/* ---- positions and state -------------------------------------------------- */

ErrorCode drag_mode_enable(const RobotHandle *handle, int32_t enable)
{
    return call(__func__, handle, enable);
}
ErrorCode get_robot_state(const RobotHandle *handle, RobotStateRecord *state)
{
    return call(__func__, handle, state);
}
ErrorCode get_tcp_position(const RobotHandle *handle, CartPose *tcp_position)
{
    return call(__func__, handle, tcp_position);
}
ErrorCode get_joint_position(const RobotHandle *handle, JointVector *joint_pos)
{
    return call(__func__, handle, joint_pos);
}
ErrorCode is_in_collision(const RobotHandle *handle, int32_t *in_collision)
{
    return call(__func__, handle, in_collision);
}
ErrorCode is_in_drag_mode(const RobotHandle *handle, int32_t *in_drag)
{
    return call(__func__, handle, in_drag);
}
ErrorCode is_on_limit(const RobotHandle *handle, int32_t *on_limit)
{
    return call(__func__, handle, on_limit);
}
ErrorCode is_in_pos(const RobotHandle *handle, int32_t *in_pos)
{
    return call(__func__, handle, in_pos);
}
ErrorCode get_robot_status(const RobotHandle *handle, RobotStatusRecord *status)
{
    return call(__func__, handle, status);
}

/* ---- kinematics and orientation ------------------------------------------- */

ErrorCode kine_inverse(const RobotHandle *handle, const JointVector *ref_pos,
                       const CartPose *cartesian_pose, JointVector *joint_pos)
{
    return call(__func__, handle, ref_pos, cartesian_pose, joint_pos);
}
ErrorCode kine_forward(const RobotHandle *handle, const JointVector *joint_pos,
                       CartPose *cartesian_pose)
{
    return call(__func__, handle, joint_pos, cartesian_pose);
}
ErrorCode rpy_to_rot_matrix(const RobotHandle *handle, const RpyAngles *rpy,
                            RotationMatrix *rot_matrix)
{
    return call(__func__, handle, rpy, rot_matrix);
}
ErrorCode rot_matrix_to_rpy(const RobotHandle *handle, const RotationMatrix *rot_matrix,
                            RpyAngles *rpy)
{
    return call(__func__, handle, rot_matrix, rpy);
}
ErrorCode quaternion_to_rot_matrix(const RobotHandle *handle, const QuaternionValue *quaternion,
                                   RotationMatrix *rot_matrix)
{
    return call(__func__, handle, quaternion, rot_matrix);
}
ErrorCode rot_matrix_to_quaternion(const RobotHandle *handle, const RotationMatrix *rot_matrix,
                                   QuaternionValue *quaternion)
{
    return call(__func__, handle, rot_matrix, quaternion);
}

/* ---- settings and diagnostics --------------------------------------------- */

ErrorCode set_error_handler(const RobotHandle *handle, CallBackFuncType func)
{
    zsim::keep_error_callback(func); /* registered whatever the probe injects */
    return call(__func__, handle, func);
}
ErrorCode get_sdk_version(const RobotHandle *handle, char *version)
{
    return call(__func__, handle, out_text(version, 80));
}
ErrorCode set_collision_level(const RobotHandle *handle, int32_t level)
{
    return call(__func__, handle, level);
}
ErrorCode get_collision_level(const RobotHandle *handle, int32_t *level)
{
    return call(__func__, handle, level);
}
ErrorCode set_debug_mode(const RobotHandle *handle, int32_t enable)
{
    return call(__func__, handle, enable);
}
ErrorCode set_errorcode_file_path(const RobotHandle *handle, const char *path)
{
    return call(__func__, handle, path);
}
ErrorCode get_last_error(const RobotHandle *handle, LastErrorRecord *last_error)
{
    return call(__func__, handle, last_error);
}
ErrorCode get_controller_ip(const char *controller_name, char *ip_list)
{
    return call(__func__, controller_name, out_text(ip_list, 3000));
}
ErrorCode set_SDK_filepath(const RobotHandle *handle, const char *filepath)
{
    return call(__func__, handle, filepath);
}
ErrorCode set_network_exception_handle(const RobotHandle *handle, float millisecond, int32_t mnt)
{
    return call(__func__, handle, millisecond, mnt);
}
ErrorCode set_status_data_update_time_interval(const RobotHandle *handle, float millisecond)
{
    return call(__func__, handle, millisecond);
}

/* ---- trajectory recording ------------------------------------------------- */

ErrorCode set_traj_config(const RobotHandle *handle, const TrajectoryConfig *config)
{
    return call(__func__, handle, config);
}
ErrorCode get_traj_config(const RobotHandle *handle, TrajectoryConfig *config)
{
    return call(__func__, handle, config);
}
ErrorCode set_traj_sample_mode(const RobotHandle *handle, int32_t mode, const char *filename)
{
    return call(__func__, handle, mode, filename);
}
ErrorCode get_traj_sample_status(const RobotHandle *handle, int64_t *sample_status)
{
    return call(__func__, handle, sample_status);
}
ErrorCode get_exist_traj_file_name(const RobotHandle *handle, TrajectoryFileList *files)
{
    return call(__func__, handle, files);
}
ErrorCode rename_traj_file_name(const RobotHandle *handle, const char *src, const char *dest)
{
    return call(__func__, handle, src, dest);
}
ErrorCode remove_traj_file(const RobotHandle *handle, const char *filename)
{
    return call(__func__, handle, filename);
}
ErrorCode generate_traj_exe_file(const RobotHandle *handle, const char *filename)
{
    return call(__func__, handle, filename);
}

/* ---- torque control and force sensor ------------------------------------- */

ErrorCode torque_control_enable(const RobotHandle *handle, int32_t enable)
{
    return call(__func__, handle, enable);
}
ErrorCode torque_feedforward(const RobotHandle *handle, JointVector tor_val, int32_t grv_flag)
{
    return call(__func__, handle, tor_val, grv_flag);
}
ErrorCode set_torsenosr_brand(const RobotHandle *handle, int32_t sensor_brand)
{
    return call(__func__, handle, sensor_brand);
}
ErrorCode get_torsenosr_brand(const RobotHandle *handle, int32_t *sensor_brand)
{
    return call(__func__, handle, sensor_brand);
}
ErrorCode set_torque_sensor_mode(const RobotHandle *handle, int32_t sensor_mode)
{
    return call(__func__, handle, sensor_mode);
}
ErrorCode set_torque_sensor_comm(const RobotHandle *handle, int32_t type, const char *ip_addr,
                                 int32_t port)
{
    return call(__func__, handle, type, ip_addr, port);
}
ErrorCode get_torque_sensor_comm(const RobotHandle *handle, int32_t *type, char *ip_addr,
                                 int32_t *port)
{
    return call(__func__, handle, type, out_text(ip_addr, 20), port);
}
ErrorCode start_torq_sensor_payload_identify(const RobotHandle *handle,
                                             const JointVector *joint_pos)
{
    return call(__func__, handle, joint_pos);
}
ErrorCode get_torq_sensor_identify_staus(const RobotHandle *handle, int32_t *identify_status)
{
    return call(__func__, handle, identify_status);
}
ErrorCode get_torq_sensor_payload_identify_result(const RobotHandle *handle, PayloadData *payload)
{
    return call(__func__, handle, payload);
}
ErrorCode set_torq_sensor_tool_payload(const RobotHandle *handle, const PayloadData *payload)
{
    return call(__func__, handle, payload);
}
ErrorCode get_torq_sensor_tool_payload(const RobotHandle *handle, PayloadData *payload)
{
    return call(__func__, handle, payload);
}

/* ---- admittance and compliance -------------------------------------------- */

ErrorCode set_admit_ctrl_config(const RobotHandle *handle, int32_t axis, int32_t opt,
                                double ftUser, double ftConstant, int32_t ftNnormalTrack,
                                double ftReboundFK)
{
    return call(__func__, handle, axis, opt, ftUser, ftConstant, ftNnormalTrack, ftReboundFK);
}
ErrorCode get_admit_ctrl_config(const RobotHandle *handle, AdmittanceConfig *config)
{
    return call(__func__, handle, config);
}
ErrorCode enable_admittance_ctrl(const RobotHandle *handle, int32_t enable_flag)
{
    return call(__func__, handle, enable_flag);
}
ErrorCode set_compliant_type(const RobotHandle *handle, int32_t sensor_compensation,
                             int32_t compliance_type)
{
    return call(__func__, handle, sensor_compensation, compliance_type);
}
ErrorCode get_compliant_type(const RobotHandle *handle, int32_t *sensor_compensation,
                             int32_t *compliance_type)
{
    return call(__func__, handle, sensor_compensation, compliance_type);
}
ErrorCode disable_force_control(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode set_vel_compliant_ctrl(const RobotHandle *handle, const VelocityComplianceConfig *vel)
{
    return call(__func__, handle, vel);
}
ErrorCode set_compliance_condition(const RobotHandle *handle, const ComplianceCondition *ft)
{
    return call(__func__, handle, ft);
}

/* ---- what the probe needs from here ---------------------------------------- */

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

void zsim::controller_reset() noexcept { g_last_handle = 0; }

/*
 * Robot operations: power and recovery, motion, servo streaming, IO, programs,
 * tools and frames, positions and status, kinematics, settings, trajectories.
 * Each method is one forward() into the library (forward.h).
 */
#include "forward.h"

#include <cstdlib>
#include <memory>

using namespace velmo;

/* ---- power, enable and error recovery ---------------------------------- */

PyObject *RC_power_on(PyObject *self, PyObject *) { return forward(self, no_args, power_on); }
PyObject *RC_power_off(PyObject *self, PyObject *) { return forward(self, no_args, power_off); }
PyObject *RC_shut_down(PyObject *self, PyObject *) { return forward(self, no_args, shut_down); }
PyObject *RC_enable_robot(PyObject *self, PyObject *) { return forward(self, no_args, enable_robot); }
PyObject *RC_disable_robot(PyObject *self, PyObject *) { return forward(self, no_args, disable_robot); }
PyObject *RC_clear_error(PyObject *self, PyObject *) { return forward(self, no_args, clear_error); }
PyObject *RC_collision_recover(PyObject *self, PyObject *) { return forward(self, no_args, collision_recover); }
PyObject *RC_motion_abort(PyObject *self, PyObject *) { return forward(self, no_args, motion_abort); }

/* ---- jog and point-to-point motion -------------------------------------- */

/* pos_cmd may be left out; the library then receives 0.0 (the Arg is value-initialised). */
PyObject *RC_jog(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"aj_num", "move_mode", "coord_type", "jog_vel", "pos_cmd", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("iiid|d"), keywords), jog);
}

PyObject *RC_jog_stop(PyObject *self, PyObject *args) { return forward(self, Parse(args, FORMAT("i")), jog_stop); }

PyObject *RC_joint_move(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"joint_pos", "move_mode", "is_block", "speed", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)iid"), keywords), joint_move);
}

PyObject *RC_joint_move_extend(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"joint_pos", "move_mode", "is_block", "speed", "acc", "tol", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)iiddd"), keywords), joint_move_extend);
}

PyObject *RC_linear_move(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"end_pos", "move_mode", "is_block", "speed", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)iid"), keywords), linear_move);
}

PyObject *RC_linear_move_extend(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"end_pos", "move_mode", "is_block", "speed", "acc", "tol", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)iiddd"), keywords), linear_move_extend);
}

PyObject *RC_circular_move(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"end_pos", "mid_pos", "move_mode", "is_block",
                                           "speed",   "acc",     "tol",       nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)(dddddd)iiddd"), keywords), circular_move);
}

/* ---- servo streaming and its filters ------------------------------------ */

PyObject *RC_servo_move_enable(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("i")), servo_move_enable);
}

PyObject *RC_servo_j(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"joint_pos", "move_mode", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)i"), keywords), servo_j);
}

PyObject *RC_servo_j_extend(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"joint_pos", "move_mode", "step_num", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)ii"), keywords), servo_j_extend);
}

PyObject *RC_servo_p(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"cartesian_pose", "move_mode", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)i"), keywords), servo_p);
}

PyObject *RC_servo_p_extend(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"end_pos", "move_mode", "step_num", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)ii"), keywords), servo_p_extend);
}

PyObject *RC_servo_move_use_none_filter(PyObject *self, PyObject *)
{
    return forward(self, no_args, servo_move_use_none_filter);
}

PyObject *RC_servo_move_use_joint_LPF(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("d")), servo_move_use_joint_LPF);
}

PyObject *RC_servo_move_use_joint_NLF(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"max_vr", "max_ar", "max_jr", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("ddd"), keywords), servo_move_use_joint_NLF);
}

PyObject *RC_servo_move_use_carte_NLF(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"max_vp", "max_ap", "max_jp", "max_vr", "max_ar", "max_jr", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("dddddd"), keywords), servo_move_use_carte_NLF);
}

PyObject *RC_servo_move_use_joint_MMF(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"max_buf", "kp", "kv", "ka", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("iddd"), keywords), servo_move_use_joint_MMF);
}

PyObject *RC_servo_speed_foresight(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"max_buf", "kp", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("id"), keywords), servo_speed_foresight);
}

/* ---- digital and analog IO ---------------------------------------------- */

static const char *const io_set_keywords[] = {"iotype", "index", "value", nullptr};
static const char *const io_get_keywords[] = {"iotype", "index", nullptr};

PyObject *RC_set_digital_output(PyObject *self, PyObject *args, PyObject *kwds)
{
    return forward(self, Parse(args, kwds, FORMAT("iii"), io_set_keywords), set_digital_output);
}

PyObject *RC_set_analog_output(PyObject *self, PyObject *args, PyObject *kwds)
{
    return forward(self, Parse(args, kwds, FORMAT("iif"), io_set_keywords), set_analog_output);
}

PyObject *RC_get_digital_input(PyObject *self, PyObject *args, PyObject *kwds)
{
    return forward(self, Parse(args, kwds, FORMAT("ii"), io_get_keywords), get_digital_input, on_success(as_int));
}

PyObject *RC_get_digital_output(PyObject *self, PyObject *args, PyObject *kwds)
{
    return forward(self, Parse(args, kwds, FORMAT("ii"), io_get_keywords), get_digital_output, on_success(as_int));
}

PyObject *RC_get_analog_input(PyObject *self, PyObject *args, PyObject *kwds)
{
    return forward(self, Parse(args, kwds, FORMAT("ii"), io_get_keywords), get_analog_input, on_success(as_single));
}

PyObject *RC_get_analog_output(PyObject *self, PyObject *args, PyObject *kwds)
{
    return forward(self, Parse(args, kwds, FORMAT("ii"), io_get_keywords), get_analog_output, on_success(as_single));
}

PyObject *RC_is_extio_running(PyObject *self, PyObject *)
{
    return forward(self, no_args, is_extio_running, on_success(as_int));
}

/* ---- program execution ---------------------------------------------------- */

PyObject *RC_program_run(PyObject *self, PyObject *) { return forward(self, no_args, program_run); }
PyObject *RC_program_pause(PyObject *self, PyObject *) { return forward(self, no_args, program_pause); }
PyObject *RC_program_resume(PyObject *self, PyObject *) { return forward(self, no_args, program_resume); }
PyObject *RC_program_abort(PyObject *self, PyObject *) { return forward(self, no_args, program_abort); }

PyObject *RC_program_load(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("s")), program_load);
}

PyObject *RC_get_loaded_program(PyObject *self, PyObject *)
{
    const RobotHandle *handle = checked_handle(self);
    if (handle == nullptr)
        return nullptr;
    char file[100] = {0}; /* the library writes the name here */
    ErrorCode code = get_loaded_program(handle, file);
    if (code != 0)
        return result_tuple(code);
    return result_tuple(0, py_text(file, sizeof file));
}

PyObject *RC_get_current_line(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_current_line, on_success(as_int));
}

PyObject *RC_get_program_state(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_program_state, on_success(as_ulong));
}

PyObject *RC_set_rapidrate(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("d")), set_rapidrate);
}

PyObject *RC_get_rapidrate(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_rapidrate, on_success(as_float));
}

/* ---- tool, user frame and payload ----------------------------------------- */

PyObject *RC_set_tool_data(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"id", "tcp", "name", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("i(dddddd)s"), keywords), set_tool_data);
}

PyObject *RC_set_tool_id(PyObject *self, PyObject *args) { return forward(self, Parse(args, FORMAT("i")), set_tool_id); }

PyObject *RC_get_tool_id(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_tool_id, on_success(as_int));
}

/* The getters of stored frames echo the requested id: (0, id, [x, y, z, rx, ry, rz]). */
static PyObject *frame_data(PyObject *self, PyObject *args,
                            ErrorCode (*function)(const RobotHandle *, int32_t, CartPose *))
{
    const RobotHandle *handle = checked_handle(self);
    if (handle == nullptr)
        return nullptr;
    int32_t id = 0;
    if (!parse_tuple(args, FORMAT("i"), &id))
        return nullptr;
    CartPose pose{};
    ErrorCode code = function(handle, id, &pose);
    if (code != 0)
        return result_tuple(code);
    return result_tuple(0, py(id), as_list(pose));
}

PyObject *RC_get_tool_data(PyObject *self, PyObject *args) { return frame_data(self, args, get_tool_data); }

PyObject *RC_set_user_frame_data(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"id", "user_frame", "name", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("i(dddddd)s"), keywords), set_user_frame_data);
}

PyObject *RC_set_user_frame_id(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("i")), set_user_frame_id);
}

PyObject *RC_get_user_frame_id(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_user_frame_id, on_success(as_int));
}

PyObject *RC_get_user_frame_data(PyObject *self, PyObject *args)
{
    return frame_data(self, args, get_user_frame_data);
}

static const char *const payload_keywords[] = {"mass", "centroid", nullptr};

PyObject *RC_set_payload(PyObject *self, PyObject *args, PyObject *kwds)
{
    return forward(self, Parse(args, kwds, FORMAT("d(ddd)"), payload_keywords), set_payload);
}

/* (mass, (x, y, z)) */
static PyObject *as_mass_and_centroid(const PayloadData &p)
{
    return tuple_of(py(p.mass), as_tuple(p.centroid));
}

PyObject *RC_get_payload(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_payload, on_success(as_mass_and_centroid));
}

/* ---- position and state queries ------------------------------------------- */

PyObject *RC_drag_mode_enable(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("i")), drag_mode_enable);
}

static PyObject *as_state(const RobotStateRecord &s)
{
    int32_t state[] = {s.emergency_stop, s.power_on, s.servo_enabled};
    return sequence_of<AsTuple>(state);
}

PyObject *RC_get_robot_state(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_robot_state, on_success(as_state));
}

PyObject *RC_get_tcp_position(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_tcp_position, on_success(as_list<CartPose>));
}

PyObject *RC_get_joint_position(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_joint_position, on_success(as_list<JointVector>));
}

PyObject *RC_is_in_collision(PyObject *self, PyObject *)
{
    return forward(self, no_args, is_in_collision, on_success(as_int));
}

PyObject *RC_is_in_drag_mode(PyObject *self, PyObject *)
{
    return forward(self, no_args, is_in_drag_mode, on_success(as_int));
}

PyObject *RC_is_on_limit(PyObject *self, PyObject *)
{
    return forward(self, no_args, is_on_limit, on_success(as_int));
}

PyObject *RC_is_in_pos(PyObject *self, PyObject *)
{
    return forward(self, no_args, is_in_pos, on_success(as_int));
}

/* ---- kinematics and orientation conversions ------------------------------- */

PyObject *RC_kine_inverse(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"ref_pos", "cartesian_pose", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)(dddddd)"), keywords), kine_inverse,
                   on_success(as_tuple<JointVector>));
}

PyObject *RC_kine_forward(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("(dddddd)")), kine_forward, on_success(as_tuple<CartPose>));
}

PyObject *RC_rpy_to_rot_matrix(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("(ddd)")), rpy_to_rot_matrix, on_success(as_matrix));
}

PyObject *RC_rot_matrix_to_rpy(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("((ddd)(ddd)(ddd))")), rot_matrix_to_rpy, on_success(as_list<RpyAngles>));
}

PyObject *RC_quaternion_to_rot_matrix(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("(dddd)")), quaternion_to_rot_matrix, on_success(as_matrix));
}

PyObject *RC_rot_matrix_to_quaternion(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("((ddd)(ddd)(ddd))")), rot_matrix_to_quaternion,
                   on_success(as_list<QuaternionValue>));
}

/* ---- robot status snapshot -------------------------------------------------- */

/* The int arrays of positions 14 and 17 are reported as floats. */
template <size_t N>
static PyObject *floats_from_ints(const int32_t (&values)[N])
{
    return sequence<AsTuple>(N, [&](Py_ssize_t i) { return py(static_cast<double>(values[i])); });
}

static PyObject *as_status(const RobotStatusRecord &s)
{
    return tuple_of(py(s.status_0), py(s.status_1), py(s.status_2), py(s.status_3), py(s.status_4),
                    py(s.status_5), py(s.status_6), py_long(s.status_7), py_long(s.status_8),
                    py_long(s.status_9), sequence_of<AsTuple>(s.status_10), sequence_of<AsTuple>(s.status_11),
                    sequence_of<AsTuple>(s.status_12), sequence_of<AsTuple>(s.status_13),
                    floats_from_ints(s.status_14), sequence_of<AsTuple>(s.status_15),
                    sequence_of<AsTuple>(s.status_16), floats_from_ints(s.status_17),
                    sequence_of<AsTuple>(s.status_18), sequence_of<AsTuple>(s.status_19));
}

PyObject *RC_get_robot_status(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_robot_status, on_success(as_status));
}

/* ---- controller settings and diagnostics ------------------------------------ */

PyObject *RC_get_sdk_version(PyObject *self, PyObject *)
{
    const RobotHandle *handle = checked_handle(self);
    if (handle == nullptr)
        return nullptr;
    char version[80] = {0};
    ErrorCode code = get_sdk_version(handle, version);
    if (code != 0)
        return result_tuple(code);
    return result_tuple(0, py_text(version, sizeof version));
}

PyObject *RC_set_collision_level(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("i")), set_collision_level);
}

PyObject *RC_get_collision_level(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_collision_level, on_success(as_int));
}

PyObject *RC_set_debug_mode(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("i")), set_debug_mode);
}

PyObject *RC_set_errorcode_file_path(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("s")), set_errorcode_file_path);
}

/* (code, message) */
static PyObject *as_error(const LastErrorRecord &e)
{
    return tuple_of(PyLong_FromLong(e.code), py_text(e.message, sizeof e.message));
}

PyObject *RC_get_last_error(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_last_error, on_success(as_error));
}

/* Takes no arguments, so the library always gets an empty controller name; the
 * address list comes back whatever the code. */
PyObject *RC_get_controller_ip(PyObject *self, PyObject *)
{
    if (checked_handle(self) == nullptr)
        return nullptr;
    char controller_name[10] = {0};
    char ip_list[3000] = {0};
    ErrorCode code = get_controller_ip(controller_name, ip_list);
    return result_tuple(code, py_text(ip_list, sizeof ip_list));
}

PyObject *RC_set_SDK_filepath(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("s")), set_SDK_filepath);
}

PyObject *RC_set_network_exception_handle(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("fi")), set_network_exception_handle);
}

PyObject *RC_set_status_data_update_time_interval(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("f")), set_status_data_update_time_interval);
}

/* ---- trajectory recording ------------------------------------------------------ */

PyObject *RC_set_traj_config(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("(dddd)")), set_traj_config);
}

PyObject *RC_get_traj_config(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_traj_config, on_success(as_tuple<TrajectoryConfig>));
}

PyObject *RC_set_traj_sample_mode(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("is")), set_traj_sample_mode);
}

PyObject *RC_get_traj_sample_status(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_traj_sample_status, on_success(as_long));
}

/* The names in slot order; the count is clamped to the slots there are. */
static PyObject *as_names(const TrajectoryFileList &files)
{
    Py_ssize_t count = files.count < 0 ? 0 : files.count;
    if (count > ZANDREL_TRAJ_FILE_SLOTS)
        count = ZANDREL_TRAJ_FILE_SLOTS;
    return sequence<AsList>(count, [&](Py_ssize_t i) { return py_text(files.name[i], sizeof files.name[i]); });
}

/* Takes any arguments and ignores them. The 1.6 MB record is too big for a
 * thread's stack, so it lives on the heap for the call. */
PyObject *RC_get_exist_traj_file_name(PyObject *self, PyObject *)
{
    const RobotHandle *handle = checked_handle(self);
    if (handle == nullptr)
        return nullptr;
    std::unique_ptr<TrajectoryFileList, void (*)(void *)> files(
        static_cast<TrajectoryFileList *>(std::calloc(1, sizeof(TrajectoryFileList))), std::free);
    if (!files)
        return PyErr_NoMemory();
    ErrorCode code = get_exist_traj_file_name(handle, files.get());
    if (code != 0)
        return result_tuple(code);
    return result_tuple(0, as_names(*files));
}

PyObject *RC_rename_traj_file_name(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("ss")), rename_traj_file_name);
}

PyObject *RC_remove_traj_file(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("s")), remove_traj_file);
}

PyObject *RC_generate_traj_exe_file(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("s")), generate_traj_exe_file);
}

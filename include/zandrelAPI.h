/*
 * zandrelAPI: the controller library's C interface, as velmo uses it.
 *
 * Every function returns an ErrorCode (0 = success). All but two take the
 * address of the caller's RobotHandle first; create_handler writes that handle,
 * get_controller_ip takes none. Records are plain structs of doubles and 32-bit
 * integers; their layouts are part of the calling interface and are pinned by
 * the static assertions at the end of this file.
 *
 * Units (virtual controller; the maker's library documents its own):
 * millimetres, radians, seconds, kilograms, newtons.
 */
#ifndef ZANDREL_API_H
#define ZANDREL_API_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(ZANDREL_BUILD)
#    define ZANDREL_API __declspec(dllexport)
#  else
#    define ZANDREL_API __declspec(dllimport)
#  endif
#else
#  define ZANDREL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t RobotHandle; /* negative: not a usable connection */
typedef int32_t ErrorCode;   /* 0: success; anything else is the library's code */

/* Error callback: one error code, called from any thread. */
typedef void (*CallBackFuncType)(int32_t error_code);

/* ---- shared records --------------------------------------------------- */

typedef struct JointVector {
    double jVal[6]; /* joint 1 first, radians (torques in N*m where noted) */
} JointVector;

typedef struct Translation {
    double x, y, z; /* millimetres */
} Translation;

typedef struct RpyAngles {
    double rx, ry, rz; /* roll, pitch, yaw in radians */
} RpyAngles;

typedef struct CartPose {
    Translation tran;
    RpyAngles rpy;
} CartPose;

typedef struct PayloadData {
    double mass; /* kilograms */
    Translation centroid;
} PayloadData;

/* Three rows of a rotation matrix, member x first. */
typedef struct RotationMatrix {
    Translation x, y, z;
} RotationMatrix;

typedef struct QuaternionValue {
    double s, x, y, z; /* scalar part first */
} QuaternionValue;

typedef struct RobotStateRecord {
    int32_t emergency_stop;
    int32_t power_on;
    int32_t servo_enabled;
} RobotStateRecord;

/* The controller status. Fields are named after the element of velmo's
 * get_robot_status result that they feed; the reserved bytes are the library's. */
typedef struct RobotStatusRecord {
    int32_t status_0;
    int32_t status_1;
    int32_t status_2;
    int32_t status_3;
    double status_4;
    int32_t status_5;
    int32_t reserved_28;
    int32_t status_10[65];
    int32_t status_14[10];
    int32_t status_17[65];
    int32_t status_11[65];
    int32_t status_15[10];
    int32_t reserved_892;
    double status_13[65];
    double status_16[10];
    double status_12[65];
    uint32_t status_9;
    int32_t reserved_2020;
    double status_18[6];
    double status_19[6];
    uint32_t status_7;
    uint32_t status_8;
    int32_t status_6;
    unsigned char reserved_2132[356];
} RobotStatusRecord;

/* The platform's long: 8 bytes on Linux, 4 on Windows. */
typedef struct LastErrorRecord {
    long code;
    char message[120];
} LastErrorRecord;

typedef struct TrajectoryConfig {
    double xyz_interval; /* millimetres between position samples */
    double rpy_interval; /* radians between orientation samples */
    double vel;          /* replay speed, mm/s */
    double acc;          /* replay acceleration, mm/s^2 */
} TrajectoryConfig;

#define ZANDREL_TRAJ_FILE_SLOTS 8192
#define ZANDREL_TRAJ_FILE_NAME_SIZE 200

/* Names of the stored trajectory files: `count` slots are used, each one a
 * NUL-terminated name. */
typedef struct TrajectoryFileList {
    int32_t count;
    char name[ZANDREL_TRAJ_FILE_SLOTS][ZANDREL_TRAJ_FILE_NAME_SIZE];
    char reserved[396];
} TrajectoryFileList;

typedef struct AdmittanceAxisConfig {
    int32_t opt;
    double ftUser;
    double ftConstant;
    double ftReboundFK;
    int32_t ftNnormalTrack;
} AdmittanceAxisConfig;

typedef struct AdmittanceConfig {
    AdmittanceAxisConfig axis[6];
} AdmittanceConfig;

typedef struct VelocityComplianceConfig {
    int32_t vc_level;
    double rate1, rate2, rate3, rate4;
} VelocityComplianceConfig;

typedef struct ComplianceCondition {
    double fx, fy, fz; /* newtons */
    double tx, ty, tz; /* newton metres */
} ComplianceCondition;

/* ---- connection ------------------------------------------------------- */

ZANDREL_API ErrorCode create_handler(const char *ip, RobotHandle *handle);
ZANDREL_API ErrorCode destory_handler(const RobotHandle *handle);

/* ---- power, enable, recovery ------------------------------------------ */

ZANDREL_API ErrorCode power_on(const RobotHandle *handle);
ZANDREL_API ErrorCode power_off(const RobotHandle *handle);
ZANDREL_API ErrorCode shut_down(const RobotHandle *handle);
ZANDREL_API ErrorCode enable_robot(const RobotHandle *handle);
ZANDREL_API ErrorCode disable_robot(const RobotHandle *handle);
ZANDREL_API ErrorCode clear_error(const RobotHandle *handle);
ZANDREL_API ErrorCode collision_recover(const RobotHandle *handle);
ZANDREL_API ErrorCode motion_abort(const RobotHandle *handle);

/* ---- jog and moves (option: always NULL from velmo) ------------------- */

ZANDREL_API ErrorCode jog(const RobotHandle *handle, int32_t aj_num, int32_t move_mode,
                          int32_t coord_type, double jog_vel, double pos_cmd);
ZANDREL_API ErrorCode jog_stop(const RobotHandle *handle, int32_t num);
ZANDREL_API ErrorCode joint_move(const RobotHandle *handle, const JointVector *joint_pos,
                                 int32_t move_mode, int32_t is_block, double speed);
ZANDREL_API ErrorCode joint_move_extend(const RobotHandle *handle, const JointVector *joint_pos,
                                        int32_t move_mode, int32_t is_block, double speed,
                                        double acc, double tol, const void *option);
ZANDREL_API ErrorCode linear_move(const RobotHandle *handle, const CartPose *end_pos,
                                  int32_t move_mode, int32_t is_block, double speed);
ZANDREL_API ErrorCode linear_move_extend(const RobotHandle *handle, const CartPose *end_pos,
                                         int32_t move_mode, int32_t is_block, double speed,
                                         double acc, double tol, const void *option);
ZANDREL_API ErrorCode circular_move(const RobotHandle *handle, const CartPose *end_pos,
                                    const CartPose *mid_pos, int32_t move_mode, int32_t is_block,
                                    double speed, double acc, double tol, const void *option);

/* ---- servo streaming -------------------------------------------------- */

ZANDREL_API ErrorCode servo_move_enable(const RobotHandle *handle, int32_t enable);
ZANDREL_API ErrorCode servo_j(const RobotHandle *handle, const JointVector *joint_pos,
                              int32_t move_mode);
ZANDREL_API ErrorCode servo_j_extend(const RobotHandle *handle, const JointVector *joint_pos,
                                     int32_t move_mode, int32_t step_num);
ZANDREL_API ErrorCode servo_p(const RobotHandle *handle, const CartPose *cartesian_pose,
                              int32_t move_mode);
ZANDREL_API ErrorCode servo_p_extend(const RobotHandle *handle, const CartPose *end_pos,
                                     int32_t move_mode, int32_t step_num);
ZANDREL_API ErrorCode servo_move_use_none_filter(const RobotHandle *handle);
ZANDREL_API ErrorCode servo_move_use_joint_LPF(const RobotHandle *handle, double cutoffFreq);
ZANDREL_API ErrorCode servo_move_use_joint_NLF(const RobotHandle *handle, double max_vr,
                                               double max_ar, double max_jr);
ZANDREL_API ErrorCode servo_move_use_carte_NLF(const RobotHandle *handle, double max_vp,
                                               double max_ap, double max_jp, double max_vr,
                                               double max_ar, double max_jr);
ZANDREL_API ErrorCode servo_move_use_joint_MMF(const RobotHandle *handle, int32_t max_buf,
                                               double kp, double kv, double ka);
ZANDREL_API ErrorCode servo_speed_foresight(const RobotHandle *handle, int32_t max_buf, double kp);

/* ---- IO --------------------------------------------------------------- */

ZANDREL_API ErrorCode set_digital_output(const RobotHandle *handle, int32_t iotype,
                                         int32_t index, int32_t value);
ZANDREL_API ErrorCode set_analog_output(const RobotHandle *handle, int32_t iotype,
                                        int32_t index, float value);
ZANDREL_API ErrorCode get_digital_input(const RobotHandle *handle, int32_t iotype,
                                        int32_t index, int32_t *result);
ZANDREL_API ErrorCode get_digital_output(const RobotHandle *handle, int32_t iotype,
                                         int32_t index, int32_t *result);
ZANDREL_API ErrorCode get_analog_input(const RobotHandle *handle, int32_t iotype,
                                       int32_t index, float *result);
ZANDREL_API ErrorCode get_analog_output(const RobotHandle *handle, int32_t iotype,
                                        int32_t index, float *result);
ZANDREL_API ErrorCode is_extio_running(const RobotHandle *handle, int32_t *is_running);

/* ---- programs and rapid rate ------------------------------------------ */

ZANDREL_API ErrorCode program_run(const RobotHandle *handle);
ZANDREL_API ErrorCode program_pause(const RobotHandle *handle);
ZANDREL_API ErrorCode program_resume(const RobotHandle *handle);
ZANDREL_API ErrorCode program_abort(const RobotHandle *handle);
ZANDREL_API ErrorCode program_load(const RobotHandle *handle, const char *file);
/* file: ZANDREL_PROGRAM_NAME_SIZE bytes, receives a NUL-terminated name */
#define ZANDREL_PROGRAM_NAME_SIZE 100
ZANDREL_API ErrorCode get_loaded_program(const RobotHandle *handle, char *file);
ZANDREL_API ErrorCode get_current_line(const RobotHandle *handle, int32_t *curr_line);
ZANDREL_API ErrorCode get_program_state(const RobotHandle *handle, uint32_t *status);
ZANDREL_API ErrorCode set_rapidrate(const RobotHandle *handle, double rapid_rate);
ZANDREL_API ErrorCode get_rapidrate(const RobotHandle *handle, double *rapid_rate);

/* ---- tools, user frames, payload -------------------------------------- */

ZANDREL_API ErrorCode set_tool_data(const RobotHandle *handle, int32_t id, const CartPose *tcp,
                                    const char *name);
ZANDREL_API ErrorCode set_tool_id(const RobotHandle *handle, int32_t id);
ZANDREL_API ErrorCode get_tool_id(const RobotHandle *handle, int32_t *id);
ZANDREL_API ErrorCode get_tool_data(const RobotHandle *handle, int32_t id, CartPose *tcp);
ZANDREL_API ErrorCode set_user_frame_data(const RobotHandle *handle, int32_t id,
                                          const CartPose *user_frame, const char *name);
ZANDREL_API ErrorCode set_user_frame_id(const RobotHandle *handle, int32_t id);
ZANDREL_API ErrorCode get_user_frame_id(const RobotHandle *handle, int32_t *id);
ZANDREL_API ErrorCode get_user_frame_data(const RobotHandle *handle, int32_t id,
                                          CartPose *user_frame);
ZANDREL_API ErrorCode set_payload(const RobotHandle *handle, const PayloadData *payload);
ZANDREL_API ErrorCode get_payload(const RobotHandle *handle, PayloadData *payload);

/* ---- positions and state ---------------------------------------------- */

ZANDREL_API ErrorCode drag_mode_enable(const RobotHandle *handle, int32_t enable);
ZANDREL_API ErrorCode get_robot_state(const RobotHandle *handle, RobotStateRecord *state);
ZANDREL_API ErrorCode get_tcp_position(const RobotHandle *handle, CartPose *tcp_position);
ZANDREL_API ErrorCode get_joint_position(const RobotHandle *handle, JointVector *joint_pos);
ZANDREL_API ErrorCode is_in_collision(const RobotHandle *handle, int32_t *in_collision);
ZANDREL_API ErrorCode is_in_drag_mode(const RobotHandle *handle, int32_t *in_drag);
ZANDREL_API ErrorCode is_on_limit(const RobotHandle *handle, int32_t *on_limit);
ZANDREL_API ErrorCode is_in_pos(const RobotHandle *handle, int32_t *in_pos);
ZANDREL_API ErrorCode get_robot_status(const RobotHandle *handle, RobotStatusRecord *status);

/* ---- kinematics and orientation --------------------------------------- */

ZANDREL_API ErrorCode kine_inverse(const RobotHandle *handle, const JointVector *ref_pos,
                                   const CartPose *cartesian_pose, JointVector *joint_pos);
ZANDREL_API ErrorCode kine_forward(const RobotHandle *handle, const JointVector *joint_pos,
                                   CartPose *cartesian_pose);
ZANDREL_API ErrorCode rpy_to_rot_matrix(const RobotHandle *handle, const RpyAngles *rpy,
                                        RotationMatrix *rot_matrix);
ZANDREL_API ErrorCode rot_matrix_to_rpy(const RobotHandle *handle, const RotationMatrix *rot_matrix,
                                        RpyAngles *rpy);
ZANDREL_API ErrorCode quaternion_to_rot_matrix(const RobotHandle *handle,
                                               const QuaternionValue *quaternion,
                                               RotationMatrix *rot_matrix);
ZANDREL_API ErrorCode rot_matrix_to_quaternion(const RobotHandle *handle,
                                               const RotationMatrix *rot_matrix,
                                               QuaternionValue *quaternion);

/* ---- settings and diagnostics ----------------------------------------- */

ZANDREL_API ErrorCode set_error_handler(const RobotHandle *handle, CallBackFuncType func);
/* version: ZANDREL_SDK_VERSION_SIZE bytes, receives a NUL-terminated text */
#define ZANDREL_SDK_VERSION_SIZE 80
ZANDREL_API ErrorCode get_sdk_version(const RobotHandle *handle, char *version);
ZANDREL_API ErrorCode set_collision_level(const RobotHandle *handle, int32_t level);
ZANDREL_API ErrorCode get_collision_level(const RobotHandle *handle, int32_t *level);
ZANDREL_API ErrorCode set_debug_mode(const RobotHandle *handle, int32_t enable);
ZANDREL_API ErrorCode set_errorcode_file_path(const RobotHandle *handle, const char *path);
ZANDREL_API ErrorCode get_last_error(const RobotHandle *handle, LastErrorRecord *last_error);
/* controller_name: NUL-terminated, may be empty; ip_list: ZANDREL_IP_LIST_SIZE
 * bytes, receives text */
#define ZANDREL_IP_LIST_SIZE 3000
ZANDREL_API ErrorCode get_controller_ip(const char *controller_name, char *ip_list);
ZANDREL_API ErrorCode set_SDK_filepath(const RobotHandle *handle, const char *filepath);
ZANDREL_API ErrorCode set_network_exception_handle(const RobotHandle *handle, float millisecond,
                                                   int32_t mnt);
ZANDREL_API ErrorCode set_status_data_update_time_interval(const RobotHandle *handle,
                                                           float millisecond);

/* ---- trajectory recording --------------------------------------------- */

ZANDREL_API ErrorCode set_traj_config(const RobotHandle *handle, const TrajectoryConfig *config);
ZANDREL_API ErrorCode get_traj_config(const RobotHandle *handle, TrajectoryConfig *config);
ZANDREL_API ErrorCode set_traj_sample_mode(const RobotHandle *handle, int32_t mode,
                                           const char *filename);
ZANDREL_API ErrorCode get_traj_sample_status(const RobotHandle *handle, int64_t *sample_status);
ZANDREL_API ErrorCode get_exist_traj_file_name(const RobotHandle *handle, TrajectoryFileList *files);
ZANDREL_API ErrorCode rename_traj_file_name(const RobotHandle *handle, const char *src,
                                            const char *dest);
ZANDREL_API ErrorCode remove_traj_file(const RobotHandle *handle, const char *filename);
ZANDREL_API ErrorCode generate_traj_exe_file(const RobotHandle *handle, const char *filename);

/* ---- torque control and force sensor ---------------------------------- */

ZANDREL_API ErrorCode torque_control_enable(const RobotHandle *handle, int32_t enable);
/* tor_val is passed by value */
ZANDREL_API ErrorCode torque_feedforward(const RobotHandle *handle, JointVector tor_val,
                                         int32_t grv_flag);
ZANDREL_API ErrorCode set_torsenosr_brand(const RobotHandle *handle, int32_t sensor_brand);
ZANDREL_API ErrorCode get_torsenosr_brand(const RobotHandle *handle, int32_t *sensor_brand);
ZANDREL_API ErrorCode set_torque_sensor_mode(const RobotHandle *handle, int32_t sensor_mode);
ZANDREL_API ErrorCode set_torque_sensor_comm(const RobotHandle *handle, int32_t type,
                                             const char *ip_addr, int32_t port);
/* ip_addr: ZANDREL_SENSOR_ADDRESS_SIZE bytes, receives a NUL-terminated text */
#define ZANDREL_SENSOR_ADDRESS_SIZE 20
ZANDREL_API ErrorCode get_torque_sensor_comm(const RobotHandle *handle, int32_t *type,
                                             char *ip_addr, int32_t *port);
ZANDREL_API ErrorCode start_torq_sensor_payload_identify(const RobotHandle *handle,
                                                         const JointVector *joint_pos);
ZANDREL_API ErrorCode get_torq_sensor_identify_staus(const RobotHandle *handle,
                                                     int32_t *identify_status);
ZANDREL_API ErrorCode get_torq_sensor_payload_identify_result(const RobotHandle *handle,
                                                              PayloadData *payload);
ZANDREL_API ErrorCode set_torq_sensor_tool_payload(const RobotHandle *handle,
                                                   const PayloadData *payload);
ZANDREL_API ErrorCode get_torq_sensor_tool_payload(const RobotHandle *handle, PayloadData *payload);

/* ---- admittance and compliance ---------------------------------------- */

ZANDREL_API ErrorCode set_admit_ctrl_config(const RobotHandle *handle, int32_t axis, int32_t opt,
                                            double ftUser, double ftConstant,
                                            int32_t ftNnormalTrack, double ftReboundFK);
ZANDREL_API ErrorCode get_admit_ctrl_config(const RobotHandle *handle, AdmittanceConfig *config);
ZANDREL_API ErrorCode enable_admittance_ctrl(const RobotHandle *handle, int32_t enable_flag);
ZANDREL_API ErrorCode set_compliant_type(const RobotHandle *handle, int32_t sensor_compensation,
                                         int32_t compliance_type);
ZANDREL_API ErrorCode get_compliant_type(const RobotHandle *handle, int32_t *sensor_compensation,
                                         int32_t *compliance_type);
ZANDREL_API ErrorCode disable_force_control(const RobotHandle *handle);
ZANDREL_API ErrorCode set_vel_compliant_ctrl(const RobotHandle *handle,
                                             const VelocityComplianceConfig *vel);
ZANDREL_API ErrorCode set_compliance_condition(const RobotHandle *handle,
                                               const ComplianceCondition *ft);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- layouts ------------------------------------------------------------ */

#ifdef __cplusplus
#  define ZANDREL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#  define ZANDREL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
#define ZANDREL_AT(type, field, offset) \
    ZANDREL_STATIC_ASSERT(offsetof(type, field) == (offset), #type "." #field " offset")
#define ZANDREL_SIZE(type, size) ZANDREL_STATIC_ASSERT(sizeof(type) == (size), #type " size")

ZANDREL_SIZE(RobotHandle, 4);
ZANDREL_SIZE(ErrorCode, 4);
ZANDREL_SIZE(JointVector, 48);
ZANDREL_SIZE(Translation, 24);
ZANDREL_SIZE(RpyAngles, 24);
ZANDREL_SIZE(CartPose, 48);
ZANDREL_AT(CartPose, rpy, 24);
ZANDREL_SIZE(PayloadData, 32);
ZANDREL_AT(PayloadData, centroid, 8);
ZANDREL_SIZE(RotationMatrix, 72);
ZANDREL_AT(RotationMatrix, y, 24);
ZANDREL_AT(RotationMatrix, z, 48);
ZANDREL_SIZE(QuaternionValue, 32);
ZANDREL_SIZE(RobotStateRecord, 12);

ZANDREL_SIZE(RobotStatusRecord, 2488);
ZANDREL_AT(RobotStatusRecord, status_0, 0);
ZANDREL_AT(RobotStatusRecord, status_1, 4);
ZANDREL_AT(RobotStatusRecord, status_2, 8);
ZANDREL_AT(RobotStatusRecord, status_3, 12);
ZANDREL_AT(RobotStatusRecord, status_4, 16);
ZANDREL_AT(RobotStatusRecord, status_5, 24);
ZANDREL_AT(RobotStatusRecord, status_10, 32);
ZANDREL_AT(RobotStatusRecord, status_14, 292);
ZANDREL_AT(RobotStatusRecord, status_17, 332);
ZANDREL_AT(RobotStatusRecord, status_11, 592);
ZANDREL_AT(RobotStatusRecord, status_15, 852);
ZANDREL_AT(RobotStatusRecord, status_13, 896);
ZANDREL_AT(RobotStatusRecord, status_16, 1416);
ZANDREL_AT(RobotStatusRecord, status_12, 1496);
ZANDREL_AT(RobotStatusRecord, status_9, 2016);
ZANDREL_AT(RobotStatusRecord, status_18, 2024);
ZANDREL_AT(RobotStatusRecord, status_19, 2072);
ZANDREL_AT(RobotStatusRecord, status_7, 2120);
ZANDREL_AT(RobotStatusRecord, status_8, 2124);
ZANDREL_AT(RobotStatusRecord, status_6, 2128);
ZANDREL_AT(RobotStatusRecord, reserved_2132, 2132);

ZANDREL_SIZE(LastErrorRecord, sizeof(long) + 120);
ZANDREL_AT(LastErrorRecord, message, sizeof(long));
#if defined(_WIN32)
ZANDREL_SIZE(LastErrorRecord, 124);
#else
ZANDREL_SIZE(LastErrorRecord, 128);
#endif

ZANDREL_SIZE(TrajectoryConfig, 32);
ZANDREL_SIZE(TrajectoryFileList, 1638800);
ZANDREL_AT(TrajectoryFileList, name, 4);
ZANDREL_SIZE(AdmittanceAxisConfig, 40);
ZANDREL_AT(AdmittanceAxisConfig, ftUser, 8);
ZANDREL_AT(AdmittanceAxisConfig, ftConstant, 16);
ZANDREL_AT(AdmittanceAxisConfig, ftReboundFK, 24);
ZANDREL_AT(AdmittanceAxisConfig, ftNnormalTrack, 32);
ZANDREL_SIZE(AdmittanceConfig, 240);
ZANDREL_SIZE(VelocityComplianceConfig, 40);
ZANDREL_AT(VelocityComplianceConfig, rate1, 8);
ZANDREL_AT(VelocityComplianceConfig, rate4, 32);
ZANDREL_SIZE(ComplianceCondition, 48);

#endif /* ZANDREL_API_H */

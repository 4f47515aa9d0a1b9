/*
 * Torque control, force sensor, admittance and compliance: stand-ins for now
 * (journal and injections, zeroed outputs, 0).
 */
#include "probe.h"

using zsim::call;
using zsim::out_text;

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

/*
 * Torque control, the force/torque sensor, admittance and compliance.
 *
 * The virtual arm meets no contact forces, so none of this changes how it
 * moves: the controller checks and keeps what it is told and reports it
 * (through the getters, and the rest through the probe's zsim_settings).
 *
 *   torque_control_enable   0 or 1; switching on needs an enabled arm
 *   torque_feedforward      needs torque control on (kWrongState); six finite
 *                           torques within the joints' limits (kMaxTorque),
 *                           grv_flag 0 or 1
 *   set_torsenosr_brand     0 (none) to kMaxBrand; refused while the sensor is on
 *   set_torque_sensor_mode  0 off, 1 on (needs a brand: kWrongState)
 *   set_torque_sensor_comm  type 0 (TCP) or 2 (UDP): a dotted IPv4 address and
 *                           a port 1..65535; type 1 (through the tool flange):
 *                           no address (kept as "" and 0); refused while the
 *                           sensor is on
 *   payload identification  needs the sensor on and an arm ready to move and at
 *                           rest; a joint move to joint_pos (0.5 rad/s), then 5 s
 *                           of simulated time at rest; the result is the payload
 *                           the arm carries (set_payload). Status: 0 none (or
 *                           the latest was ended before it finished), 1 running,
 *                           2 done. The result is the latest finished one
 *                           (zeros before); asked while identifying: kBusy.
 *   sensor tool payload     mass 0..10 kg (kMaxPayload), finite centroid
 *   set_admit_ctrl_config   axis 0..5, opt 0/1, ftUser >= 0, ftConstant finite,
 *                           ftNnormalTrack 0/1, ftReboundFK >= 0
 *   enable_admittance_ctrl  0 or 1; on needs the sensor on, an enabled arm and
 *                           at least one axis with opt 1 (kWrongState)
 *   set_compliant_type      sensor_compensation 0/1; type 0 off, 1 constant
 *                           force, 2 velocity; a type other than 0 needs the
 *                           sensor on
 *   set_vel_compliant_ctrl  vc_level 1..3, rates in (0, 1]
 *   set_compliance_condition six finite limits > 0
 *   disable_force_control   admittance off, compliance type 0, torque control
 *                           off; what was configured stays
 */
#include "api_support.h"
#include "force_motion.h"
#include "procedures.h"

#include <cstdio>
#include <cstring>

using zsim::Controller;
using zsim::Lock;

namespace {

constexpr int32_t kMaxBrand = 10;
constexpr double kMaxTorque[6] = {300, 300, 150, 50, 50, 50}; /* N*m */

bool flag(int32_t v) { return v == 0 || v == 1; }
bool real(double v) { return std::isfinite(v); }

/* A dotted IPv4 address of four numbers 0..255 without leading zeros. */
bool ipv4(const char *text)
{
    if (!text)
        return false;
    int parts = 0;
    const char *p = text;
    for (;;) {
        if (*p < '0' || *p > '9')
            return false;
        int value = 0, digits = 0;
        const char *start = p;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + (*p - '0');
            if (++digits > 3)
                return false;
            ++p;
        }
        if (value > 255 || (digits > 1 && *start == '0'))
            return false;
        ++parts;
        if (*p == '\0')
            return parts == 4;
        if (*p != '.' || parts == 4)
            return false;
        ++p;
    }
}

ErrorCode check_feedforward(const JointVector &tor_val, int32_t grv_flag)
{
    if (!flag(grv_flag))
        return zsim::kInvalidArgument;
    for (std::size_t j = 0; j < 6; ++j)
        if (!real(tor_val.jVal[j]) || std::abs(tor_val.jVal[j]) > kMaxTorque[j])
            return zsim::kInvalidArgument;
    return zsim::kOk;
}

/* type 1 (through the tool flange) needs no address; 0 and 2 an IPv4 address and a port. */
ErrorCode check_sensor_link(int32_t type, const char *ip_addr, int32_t port)
{
    return zsim::check(type >= 0 && type <= 2 && (type == 1 || (ipv4(ip_addr) && port >= 1 && port <= 65535)));
}

ErrorCode check_admittance_axis(int32_t axis, int32_t opt, double ftUser, double ftConstant,
                                int32_t ftNnormalTrack, double ftReboundFK)
{
    return zsim::check(axis >= 0 && axis <= 5 && flag(opt) && flag(ftNnormalTrack) && real(ftUser) && ftUser >= 0 &&
                       real(ftConstant) && real(ftReboundFK) && ftReboundFK >= 0);
}

ErrorCode check_velocity_compliance(const VelocityComplianceConfig *vel)
{
    if (!vel || vel->vc_level < 1 || vel->vc_level > 3)
        return zsim::kInvalidArgument;
    for (double rate : {vel->rate1, vel->rate2, vel->rate3, vel->rate4})
        if (!real(rate) || rate <= 0 || rate > 1)
            return zsim::kInvalidArgument;
    return zsim::kOk;
}

ErrorCode check_compliance_condition(const ComplianceCondition *ft)
{
    if (!ft)
        return zsim::kInvalidArgument;
    for (double limit : {ft->fx, ft->fy, ft->fz, ft->tx, ft->ty, ft->tz})
        if (!zsim::positive(limit))
            return zsim::kInvalidArgument;
    return zsim::kOk;
}

ErrorCode enabled_arm(const Controller &rc)
{
    if (!rc.powered)
        return zsim::kNotPowered;
    if (!rc.enabled)
        return zsim::kNotEnabled;
    return zsim::kOk;
}

} // namespace

namespace zsim {
namespace api {

ErrorCode torque_control_enable(const RobotHandle *handle, int32_t enable)
{
    return zsim::with_controller(handle, zsim::check(flag(enable)), [enable](Controller &rc, Lock &) {
        if (enable)
            if (const ErrorCode refused = enabled_arm(rc))
                return refused;
        rc.force.torque_control = enable != 0;
        return zsim::kOk;
    });
}

ErrorCode torque_feedforward(const RobotHandle *handle, JointVector tor_val, int32_t grv_flag)
{
    return zsim::with_controller(handle, check_feedforward(tor_val, grv_flag), [&](Controller &rc, Lock &) {
        if (!rc.force.torque_control)
            return zsim::kWrongState;
        rc.force.feedforward = tor_val;
        rc.force.gravity_flag = grv_flag;
        return zsim::kOk;
    });
}

ErrorCode set_torsenosr_brand(const RobotHandle *handle, int32_t sensor_brand)
{
    const ErrorCode checked = zsim::check(sensor_brand >= 0 && sensor_brand <= kMaxBrand);
    return zsim::with_controller(handle, checked, [sensor_brand](Controller &rc, Lock &) {
        if (rc.force.sensor_on)
            return zsim::kWrongState;
        rc.force.brand = sensor_brand;
        return zsim::kOk;
    });
}

ErrorCode get_torsenosr_brand(const RobotHandle *handle, int32_t *sensor_brand)
{
    return zsim::with_controller(handle, zsim::present(sensor_brand), [sensor_brand](Controller &rc, Lock &) {
        *sensor_brand = rc.force.brand;
        return zsim::kOk;
    });
}

ErrorCode set_torque_sensor_mode(const RobotHandle *handle, int32_t sensor_mode)
{
    return zsim::with_controller(handle, zsim::check(flag(sensor_mode)), [sensor_mode](Controller &rc, Lock &) {
        if (sensor_mode && rc.force.brand == 0)
            return zsim::kWrongState;
        rc.force.sensor_on = sensor_mode != 0;
        return zsim::kOk;
    });
}

ErrorCode set_torque_sensor_comm(const RobotHandle *handle, int32_t type, const char *ip_addr,
                                 int32_t port)
{
    return zsim::with_controller(handle, check_sensor_link(type, ip_addr, port), [&](Controller &rc, Lock &) {
        if (rc.force.sensor_on)
            return zsim::kWrongState;
        rc.force.link_type = type;
        rc.force.link_address = type == 1 ? std::string() : std::string(ip_addr);
        rc.force.link_port = type == 1 ? 0 : port;
        return zsim::kOk;
    });
}

ErrorCode get_torque_sensor_comm(const RobotHandle *handle, int32_t *type, char *ip_addr,
                                 int32_t *port)
{
    const ErrorCode checked = zsim::check(type && ip_addr && port);
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        *type = rc.force.link_type;
        const std::string &address = rc.force.link_address; /* at most 15 bytes */
        zsim::put_text(ip_addr, ZANDREL_SENSOR_ADDRESS_SIZE, address);
        *port = rc.force.link_port;
        return zsim::kOk;
    });
}

ErrorCode start_torq_sensor_payload_identify(const RobotHandle *handle,
                                             const JointVector *joint_pos)
{
    const ErrorCode checked = zsim::check(joint_pos && zsim::finite(zsim::to_joints(*joint_pos)));
    return zsim::with_controller(handle, checked, [joint_pos](Controller &rc, Lock &) {
        const zsim::Joints pose = zsim::to_joints(*joint_pos);
        if (!rc.force.sensor_on)
            return zsim::kWrongState;
        if (const ErrorCode refused = zsim::ready_to_move(rc))
            return refused;
        if (rc.moving())
            return zsim::kBusy;
        if (!zsim::within_limits(pose))
            return zsim::kJointLimit;
        const std::shared_ptr<zsim::Completion> done =
            zsim::motion::enqueue(rc, std::make_unique<zsim::IdentifySegment>(pose, rc.force, rc.monitor), pose);
        if (!done)
            return zsim::kBusy;
        rc.force.identify = done;
        return zsim::kOk;
    });
}

ErrorCode get_torq_sensor_identify_staus(const RobotHandle *handle, int32_t *identify_status)
{
    return zsim::with_controller(handle, zsim::present(identify_status), [identify_status](Controller &rc, Lock &) {
        *identify_status = zsim::identify_status(rc.force);
        return zsim::kOk;
    });
}

ErrorCode get_torq_sensor_payload_identify_result(const RobotHandle *handle, PayloadData *payload)
{
    return zsim::with_controller(handle, zsim::present(payload), [payload](Controller &rc, Lock &) {
        if (zsim::identify_status(rc.force) == 1)
            return zsim::kBusy;
        *payload = rc.force.identified;
        return zsim::kOk;
    });
}

ErrorCode set_torq_sensor_tool_payload(const RobotHandle *handle, const PayloadData *payload)
{
    const ErrorCode checked = zsim::check(payload && zsim::valid_payload(*payload));
    return zsim::with_controller(handle, checked, [payload](Controller &rc, Lock &) {
        rc.force.tool_payload = *payload;
        return zsim::kOk;
    });
}

ErrorCode get_torq_sensor_tool_payload(const RobotHandle *handle, PayloadData *payload)
{
    return zsim::with_controller(handle, zsim::present(payload), [payload](Controller &rc, Lock &) {
        *payload = rc.force.tool_payload;
        return zsim::kOk;
    });
}

/* ---- admittance and compliance -------------------------------------------- */

ErrorCode set_admit_ctrl_config(const RobotHandle *handle, int32_t axis, int32_t opt,
                                double ftUser, double ftConstant, int32_t ftNnormalTrack,
                                double ftReboundFK)
{
    const ErrorCode checked = check_admittance_axis(axis, opt, ftUser, ftConstant, ftNnormalTrack, ftReboundFK);
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        AdmittanceAxisConfig &a = rc.force.admittance.axis[axis];
        a.opt = opt;
        a.ftUser = ftUser;
        a.ftConstant = ftConstant;
        a.ftReboundFK = ftReboundFK;
        a.ftNnormalTrack = ftNnormalTrack;
        if (rc.force.admittance_on)
            zsim::feel_at_rest(rc); /* a new constant force may move the arm */
        return zsim::kOk;
    });
}

ErrorCode get_admit_ctrl_config(const RobotHandle *handle, AdmittanceConfig *config)
{
    return zsim::with_controller(handle, zsim::present(config), [config](Controller &rc, Lock &) {
        std::memset(config, 0, sizeof *config); /* the padding too */
        for (std::size_t i = 0; i < 6; ++i) {
            const AdmittanceAxisConfig &a = rc.force.admittance.axis[i];
            config->axis[i].opt = a.opt;
            config->axis[i].ftUser = a.ftUser;
            config->axis[i].ftConstant = a.ftConstant;
            config->axis[i].ftReboundFK = a.ftReboundFK;
            config->axis[i].ftNnormalTrack = a.ftNnormalTrack;
        }
        return zsim::kOk;
    });
}

ErrorCode enable_admittance_ctrl(const RobotHandle *handle, int32_t enable_flag)
{
    return zsim::with_controller(handle, zsim::check(flag(enable_flag)), [enable_flag](Controller &rc, Lock &) {
        if (enable_flag) {
            if (const ErrorCode refused = enabled_arm(rc))
                return refused;
            bool any = false;
            for (const AdmittanceAxisConfig &a : rc.force.admittance.axis)
                any = any || a.opt == 1;
            if (!rc.force.sensor_on || !any)
                return zsim::kWrongState;
        }
        return zsim::switch_admittance(rc, enable_flag != 0);
    });
}

ErrorCode set_compliant_type(const RobotHandle *handle, int32_t sensor_compensation,
                             int32_t compliance_type)
{
    const ErrorCode checked = zsim::check(flag(sensor_compensation) && compliance_type >= 0 && compliance_type <= 2);
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        if (compliance_type != 0 && !rc.force.sensor_on)
            return zsim::kWrongState;
        rc.force.sensor_compensation = sensor_compensation;
        rc.force.compliance_type = compliance_type;
        return zsim::kOk;
    });
}

ErrorCode get_compliant_type(const RobotHandle *handle, int32_t *sensor_compensation,
                             int32_t *compliance_type)
{
    const ErrorCode checked = zsim::check(sensor_compensation && compliance_type);
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        *sensor_compensation = rc.force.sensor_compensation;
        *compliance_type = rc.force.compliance_type;
        return zsim::kOk;
    });
}

ErrorCode disable_force_control(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        rc.force.admittance_on = false;
        rc.force.compliance_type = 0;
        rc.force.torque_control = false;
        zsim::end_force_motion(rc);
        return zsim::kOk;
    });
}

ErrorCode set_vel_compliant_ctrl(const RobotHandle *handle, const VelocityComplianceConfig *vel)
{
    return zsim::with_controller(handle, check_velocity_compliance(vel), [vel](Controller &rc, Lock &) {
        rc.force.velocity = *vel;
        return zsim::kOk;
    });
}

ErrorCode set_compliance_condition(const RobotHandle *handle, const ComplianceCondition *ft)
{
    return zsim::with_controller(handle, check_compliance_condition(ft), [ft](Controller &rc, Lock &) {
        rc.force.condition = *ft;
        return zsim::kOk;
    });
}

} // namespace api
} // namespace zsim

/*
 * Force control: torque control, the force/torque sensor and its payload, and
 * admittance and compliance control. Several getters here report their values
 * whatever the code; their out-values are cleared first, so a library that
 * fails without writing yields zeros.
 */
#include "forward.h"

using namespace velmo;

/* ---- torque control and force-sensor setup ---------------------------------- */

PyObject *RC_torque_control_enable(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("i")), torque_control_enable);
}

PyObject *RC_torque_feedforward(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("(dddddd)i")), torque_feedforward);
}

PyObject *RC_set_torsenosr_brand(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("i")), set_torsenosr_brand);
}

PyObject *RC_get_torsenosr_brand(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_torsenosr_brand, always(as_int));
}

PyObject *RC_set_torque_sensor_mode(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("i")), set_torque_sensor_mode);
}

PyObject *RC_set_torque_sensor_comm(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("isi")), set_torque_sensor_comm);
}

/* (code, type, address, port) whatever the code; link type 1 has no address or port. */
PyObject *RC_get_torque_sensor_comm(PyObject *self, PyObject *)
{
    const RobotHandle *handle = checked_handle(self);
    if (handle == nullptr)
        return nullptr;
    int32_t type = 0, port = 0;
    char ip_addr[20] = {0};
    ErrorCode code = get_torque_sensor_comm(handle, &type, ip_addr, &port);
    if (type == 1) {
        ip_addr[0] = '\0';
        port = 0;
    }
    return result_tuple(code, py(type), py_text(ip_addr, sizeof ip_addr), py(port));
}

PyObject *RC_start_torq_sensor_payload_identify(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"joint_pos", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("(dddddd)"), keywords), start_torq_sensor_payload_identify);
}

PyObject *RC_get_torq_sensor_identify_staus(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_torq_sensor_identify_staus, always(as_int));
}

/* The sensor payload comes back flat: (code, (mass, x, y, z)). */
PyObject *RC_get_torq_sensor_payload_identify_result(PyObject *self, PyObject *, PyObject *)
{
    return forward(self, no_args, get_torq_sensor_payload_identify_result, always(as_tuple<PayloadData>));
}

PyObject *RC_set_torq_sensor_tool_payload(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"mass", "centroid", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("d(ddd)"), keywords), set_torq_sensor_tool_payload);
}

PyObject *RC_get_torq_sensor_tool_payload(PyObject *self, PyObject *, PyObject *)
{
    return forward(self, no_args, get_torq_sensor_tool_payload, always(as_tuple<PayloadData>));
}

/* ---- admittance and compliance control ---------------------------------------- */

PyObject *RC_set_admit_ctrl_config(PyObject *self, PyObject *args, PyObject *kwds)
{
    static const char *const keywords[] = {"axis",           "opt",         "ftUser", "ftConstant",
                                           "ftNnormalTrack", "ftReboundFK", nullptr};
    return forward(self, Parse(args, kwds, FORMAT("iiddid"), keywords), set_admit_ctrl_config);
}

/* Six 5-tuples of floats, each entry's fields in record order. */
static PyObject *as_admittance(const AdmittanceConfig &config)
{
    return sequence<AsTuple>(6, [&](Py_ssize_t i) {
        const AdmittanceAxisConfig &a = config.axis[i];
        double fields[] = {static_cast<double>(a.opt), a.ftUser, a.ftConstant, a.ftReboundFK,
                           static_cast<double>(a.ftNnormalTrack)};
        return sequence_of<AsTuple>(fields);
    });
}

PyObject *RC_get_admit_ctrl_config(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_admit_ctrl_config, always(as_admittance));
}

PyObject *RC_enable_admittance_ctrl(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("i")), enable_admittance_ctrl);
}

PyObject *RC_set_compliant_type(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("ii")), set_compliant_type);
}

/* (code, sensor_compensation, compliance_type) */
static std::tuple<PyObject *, PyObject *> as_compliance(int32_t sensor_compensation, int32_t compliance_type)
{
    return {py(sensor_compensation), py(compliance_type)};
}

PyObject *RC_get_compliant_type(PyObject *self, PyObject *)
{
    return forward(self, no_args, get_compliant_type, always(as_compliance));
}

PyObject *RC_disable_force_control(PyObject *self, PyObject *)
{
    return forward(self, no_args, disable_force_control);
}

PyObject *RC_set_vel_compliant_ctrl(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("idddd")), set_vel_compliant_ctrl);
}

PyObject *RC_set_compliance_condition(PyObject *self, PyObject *args)
{
    return forward(self, Parse(args, FORMAT("dddddd")), set_compliance_condition);
}

/*
 * Torque control, the force/torque sensor, admittance and compliance, and
 * the communication settings of a controller: what is stored per controller
 * (guarded by the library lock). The ranges are checked by the entry points
 * (api_force.cpp, api_settings.cpp).
 */
#ifndef ZSIM_FORCE_H
#define ZSIM_FORCE_H

#include "zandrelAPI.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

namespace zsim {

struct Completion;

/* What force control keeps as plain values: a copy of it (the settings
 * report's, readout.h) needs no lock to read. */
struct ForceSettings {
    bool torque_control = false;
    JointVector feedforward{};       /* the latest feed-forward torques, N*m */
    std::int32_t gravity_flag = 0;

    std::int32_t brand = 0;          /* 0: none chosen */
    bool sensor_on = false;
    std::int32_t link_type = 0;
    std::string link_address;
    std::int32_t link_port = 0;
    PayloadData tool_payload{};

    PayloadData identified{};             /* the latest payload identification's result once done */

    AdmittanceConfig admittance{};
    bool admittance_on = false;
    std::int32_t sensor_compensation = 0;
    std::int32_t compliance_type = 0;     /* 0 off, 1 constant force, 2 velocity */
    VelocityComplianceConfig velocity{};
    ComplianceCondition condition{};
};

/* ... and the motion that owns the arm while it identifies the payload. */
struct ForceControl : ForceSettings {
    std::shared_ptr<Completion> identify; /* the latest payload identification */
};

/* A payload: 0 <= mass <= kMaxPayload kg, a finite centroid (mm). */
constexpr double kMaxPayload = 10.0;

inline bool valid_payload(const PayloadData &p)
{
    return std::isfinite(p.mass) && p.mass >= 0 && p.mass <= kMaxPayload && std::isfinite(p.centroid.x) &&
           std::isfinite(p.centroid.y) && std::isfinite(p.centroid.z);
}

struct LinkSettings {
    float silence_ms = 1000.0f;           /* set_network_exception_handle */
    std::int32_t silence_reaction = 0;
    float status_interval_ms = 8.0f;      /* set_status_data_update_time_interval */
};

} // namespace zsim

#endif /* ZSIM_FORCE_H */

/*
 * What a controller keeps and no library getter reports, as one JSON object
 * (api::describe_settings, read through zsim_settings), written from its
 * readout (readout.h) after the library lock is released.
 */
#include "api.h"
#include "debug_log.h"
#include "json.h"
#include "readout.h"

namespace {

using zsim::Json;
using Object = zsim::JsonObject;

void payload(Object &o, const char *name, const PayloadData &p)
{
    o.numbers(name, {p.mass, p.centroid.x, p.centroid.y, p.centroid.z});
}

void describe_into(std::string &out, const zsim::ControllerReadout &rc)
{
    const zsim::SettingsReadout &set = rc.settings;
    Object o(out);
    o.integer("collision_level", set.collision_level);
    payload(o, "payload", set.payload);
    {
        Object n(o.key("network_exception"));
        n.number("milliseconds", set.link.silence_ms);
        n.integer("reaction", set.link.silence_reaction);
    }
    o.number("status_interval_ms", set.link.status_interval_ms);
    const zsim::ForceSettings &f = set.force;
    o.integer("torque_control", f.torque_control);
    {
        Object ff(o.key("feedforward"));
        const double *t = f.feedforward.jVal;
        ff.numbers("torques", {t[0], t[1], t[2], t[3], t[4], t[5]});
        ff.integer("gravity", f.gravity_flag);
    }
    {
        Object s(o.key("sensor"));
        s.integer("brand", f.brand);
        s.integer("on", f.sensor_on);
        {
            Object l(s.key("link"));
            l.integer("type", f.link_type);
            l.text("address", f.link_address);
            l.integer("port", f.link_port);
        }
        payload(s, "tool_payload", f.tool_payload);
        s.integer("identify_status", set.identify_status);
        payload(s, "identified", f.identified);
    }
    {
        Object a(o.key("admittance"));
        a.integer("on", f.admittance_on);
        Json axes(a.key("axes"));
        axes.begin_array();
        for (const AdmittanceAxisConfig &x : f.admittance.axis) {
            axes.begin_array();
            for (double v : {static_cast<double>(x.opt), x.ftUser, x.ftConstant,
                             static_cast<double>(x.ftNnormalTrack), x.ftReboundFK})
                axes.number(v);
            axes.end_array();
        }
        axes.end_array();
    }
    {
        Object c(o.key("compliance"));
        c.integer("sensor_compensation", f.sensor_compensation);
        c.integer("type", f.compliance_type);
        const VelocityComplianceConfig &v = f.velocity;
        c.numbers("velocity", {static_cast<double>(v.vc_level), v.rate1, v.rate2, v.rate3, v.rate4});
        const ComplianceCondition &k = f.condition;
        c.numbers("condition", {k.fx, k.fy, k.fz, k.tx, k.ty, k.tz});
    }
    {
        Object r(o.key("recording"));
        r.integer("active", set.recording.active);
        r.text("name", set.recording.name);
        r.integer("samples", static_cast<long long>(set.recording.samples));
    }
    {
        Object p(o.key("program"));
        p.text("loaded", rc.program.name);
        p.integer("state", rc.program.state);
        p.integer("line", rc.program.line);
    }
    {
        Object d(o.key("debug"));
        d.integer("on", zsim::debug_log::enabled());
        d.text("file", zsim::debug_log::chosen_path());
    }
}

} // namespace

bool zsim::api::describe_settings(const char *address, std::string &json)
{
    zsim::ControllerReadout readout;
    if (!zsim::read_controller(address, zsim::kReadProgram | zsim::kReadSettings, readout))
        return false;
    json.clear();
    describe_into(json, readout);
    return true;
}

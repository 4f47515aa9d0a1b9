/*
 * The probe's controls of the simulation: time scale, inputs, faults, and the
 * controller's share of zsim_reset.
 */
#include "controller.h"
#include "debug_log.h"
#include "events.h"
#include "motion.h"
#include "probe.h"
#include "zsim_probe.h"

#include <cmath>

namespace {

template <class Body>
int on_address(const char *address, Body &&body) noexcept
{
    try {
        zsim::Lock lock(zsim::library_mutex());
        const std::shared_ptr<zsim::Controller> c = zsim::find_controller(address);
        if (!c)
            return -1;
        return body(*c);
    } catch (...) {
        return -1;
    }
}

} // namespace

void zsim::controller_reset() noexcept
{
    try {
        Lock lock(library_mutex());
        forget_controllers();
        motion::reset_time_scale();
    } catch (...) {
    }
    drop_pending_events();
    debug_log::reset();
}

extern "C" {

int zsim_set_time_scale(double factor)
{
    if (!std::isfinite(factor) || factor < 0)
        return -1;
    try {
        zsim::Lock lock(zsim::library_mutex());
        zsim::motion::set_time_scale(factor);
        return 0;
    } catch (...) {
        return -1;
    }
}

int zsim_set_digital_input(const char *address, int iotype, int index, int value)
{
    return on_address(address, [&](zsim::Controller &c) {
        if (!zsim::io_valid(iotype, zsim::kDigitalIn, index))
            return -1;
        c.io.digital_in[static_cast<std::size_t>(iotype)][static_cast<std::size_t>(index)] = value != 0;
        return 0;
    });
}

int zsim_set_analog_input(const char *address, int iotype, int index, float value)
{
    return on_address(address, [&](zsim::Controller &c) {
        if (!zsim::io_valid(iotype, zsim::kAnalogIn, index) || !std::isfinite(value))
            return -1;
        c.io.analog_in[static_cast<std::size_t>(iotype)][static_cast<std::size_t>(index)] = value;
        return 0;
    });
}

int zsim_trigger_fault(const char *address, int code)
{
    return on_address(address, [&](zsim::Controller &c) {
        if (code == 0 || c.shut_down)
            return -1;
        zsim::motion::fail(c, code);
        return 0;
    });
}

} // extern "C"

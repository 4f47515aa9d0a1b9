/*
 * Digital and analog IO (the map is in io.h). Outputs are set and read here,
 * inputs are read here and set through the probe. A digital value is stored
 * as 0 or 1 (any non-zero value sets it). Works whenever the controller is on.
 */
#include "api_support.h"

using zsim::Controller;
using zsim::Lock;

namespace {

/* body(bank, type, index) on a channel that exists; `checked` is what the
 * check of the call's other arguments found (an unknown channel comes first). */
template <class Body>
ErrorCode with_channel(const RobotHandle *handle, int32_t iotype, zsim::IoKind kind, int32_t index,
                       ErrorCode checked, Body &&body)
{
    const ErrorCode channel = zsim::io_valid(iotype, kind, index) ? checked : zsim::kIoRange;
    return zsim::with_controller(handle, channel, [&](Controller &rc, Lock &) {
        return body(rc.io, static_cast<std::size_t>(iotype), static_cast<std::size_t>(index));
    });
}

/* Reads one channel of `bank` into *result. */
template <class Value, class Bank>
ErrorCode read_channel(const RobotHandle *handle, int32_t iotype, zsim::IoKind kind, int32_t index,
                       Value *result, Bank zsim::IoBank::*bank)
{
    return with_channel(handle, iotype, kind, index, zsim::present(result),
                        [result, bank](zsim::IoBank &io, std::size_t t, std::size_t i) {
                            *result = (io.*bank)[t][i];
                            return zsim::kOk;
                        });
}

} // namespace

namespace zsim {
namespace api {

ErrorCode set_digital_output(const RobotHandle *handle, int32_t iotype, int32_t index,
                             int32_t value)
{
    return with_channel(handle, iotype, zsim::kDigitalOut, index, zsim::kOk,
                        [value](zsim::IoBank &io, std::size_t t, std::size_t i) {
                            io.digital_out[t][i] = value != 0;
                            return zsim::kOk;
                        });
}

ErrorCode set_analog_output(const RobotHandle *handle, int32_t iotype, int32_t index,
                            float value)
{
    return with_channel(handle, iotype, zsim::kAnalogOut, index, zsim::check(std::isfinite(value)),
                        [value](zsim::IoBank &io, std::size_t t, std::size_t i) {
                            io.analog_out[t][i] = value;
                            return zsim::kOk;
                        });
}

ErrorCode get_digital_input(const RobotHandle *handle, int32_t iotype, int32_t index,
                            int32_t *result)
{
    return read_channel(handle, iotype, zsim::kDigitalIn, index, result, &zsim::IoBank::digital_in);
}

ErrorCode get_digital_output(const RobotHandle *handle, int32_t iotype, int32_t index,
                             int32_t *result)
{
    return read_channel(handle, iotype, zsim::kDigitalOut, index, result, &zsim::IoBank::digital_out);
}

ErrorCode get_analog_input(const RobotHandle *handle, int32_t iotype, int32_t index,
                           float *result)
{
    return read_channel(handle, iotype, zsim::kAnalogIn, index, result, &zsim::IoBank::analog_in);
}

ErrorCode get_analog_output(const RobotHandle *handle, int32_t iotype, int32_t index,
                            float *result)
{
    return read_channel(handle, iotype, zsim::kAnalogOut, index, result, &zsim::IoBank::analog_out);
}

/* The extension IO module runs whenever its controller is on: always 1. */
ErrorCode is_extio_running(const RobotHandle *handle, int32_t *is_running)
{
    return zsim::with_controller(handle, zsim::present(is_running), [is_running](Controller &, Lock &) {
        *is_running = 1;
        return zsim::kOk;
    });
}

} // namespace api
} // namespace zsim

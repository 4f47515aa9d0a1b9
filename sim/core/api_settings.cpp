/*
 * Settings and diagnostics. The error callback, the last error and the
 * message file live in api_connection.cpp; the debug log in debug_log.h.
 *
 *   collision level          0 (detection off) to 5; 1 is the most sensitive,
 *                            5 the least; 3 for a new controller
 *   set_debug_mode           0 off, anything else on (debug_log.h)
 *   set_SDK_filepath         the debug log's file (its folder must exist)
 *   set_network_exception_handle
 *                            0 < millisecond <= 60000, mnt 0 (keep going),
 *                            1 (pause) or 2 (stop); 1000 ms and 0 at first
 *   set_status_data_update_time_interval
 *                            8 <= millisecond <= 1000; 8 at first
 *   get_sdk_version          "velmo virtual controller <version>"
 *   get_controller_ip        the addresses of this process's controllers (each
 *                            address a create_handler named since the library
 *                            was loaded or reset), sorted bytewise, joined by
 *                            ';'; a non-empty name keeps only that address;
 *                            cut after the last whole address that fits
 * The virtual controller's connection never goes silent and its status is
 * always current, so the last two are checked and kept (zsim_settings
 * reports them) and change nothing else.
 */
#include "api_files.h"
#include "debug_log.h"

#include <cstring>

#ifndef ZSIM_VERSION
#define ZSIM_VERSION "0.0.0"
#endif

using zsim::Controller;
using zsim::Lock;

namespace {

constexpr std::size_t kVersionBytes = ZANDREL_SDK_VERSION_SIZE;
constexpr std::size_t kIpListBytes = ZANDREL_IP_LIST_SIZE;

} // namespace

namespace zsim {
namespace api {

ErrorCode get_sdk_version(const RobotHandle *handle, char *version)
{
    return zsim::with_controller(handle, zsim::present(version), [version](Controller &, Lock &) {
        zsim::put_text(version, kVersionBytes, "velmo virtual controller " ZSIM_VERSION);
        return zsim::kOk;
    });
}

ErrorCode set_collision_level(const RobotHandle *handle, int32_t level)
{
    return zsim::with_controller(handle, zsim::check(level >= 0 && level <= 5), [level](Controller &rc, Lock &) {
        rc.collision_level = level;
        return zsim::kOk;
    });
}

ErrorCode get_collision_level(const RobotHandle *handle, int32_t *level)
{
    return zsim::with_controller(handle, zsim::present(level), [level](Controller &rc, Lock &) {
        *level = rc.collision_level;
        return zsim::kOk;
    });
}

ErrorCode set_debug_mode(const RobotHandle *handle, int32_t enable)
{
    return zsim::with_files(handle, zsim::kOk, [enable] { return zsim::debug_log::enable(enable != 0); });
}

ErrorCode get_controller_ip(const char *controller_name, char *ip_list)
{
    if (!controller_name || !ip_list)
        return zsim::kInvalidArgument;
    std::string list;
    Lock lock(zsim::library_mutex());
    zsim::each_controller([&](Controller &rc) {
        if (*controller_name && rc.address != controller_name)
            return;
        const std::size_t needed = rc.address.size() + (list.empty() ? 0 : 1);
        if (list.size() + needed >= kIpListBytes)
            return;
        if (!list.empty())
            list += ';';
        list += rc.address;
    });
    zsim::put_text(ip_list, kIpListBytes, list);
    return zsim::kOk;
}

ErrorCode set_SDK_filepath(const RobotHandle *handle, const char *filepath)
{
    return zsim::with_files(handle, zsim::kOk, [filepath] { return zsim::debug_log::choose(filepath); });
}

ErrorCode set_network_exception_handle(const RobotHandle *handle, float millisecond, int32_t mnt)
{
    const ErrorCode checked =
        zsim::check(std::isfinite(millisecond) && millisecond > 0 && millisecond <= 60000 && mnt >= 0 && mnt <= 2);
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        rc.link.silence_ms = millisecond;
        rc.link.silence_reaction = mnt;
        return zsim::kOk;
    });
}

ErrorCode set_status_data_update_time_interval(const RobotHandle *handle, float millisecond)
{
    const ErrorCode checked = zsim::check(std::isfinite(millisecond) && millisecond >= 8 && millisecond <= 1000);
    return zsim::with_controller(handle, checked, [millisecond](Controller &rc, Lock &) {
        rc.link.status_interval_ms = millisecond;
        return zsim::kOk;
    });
}

} // namespace api
} // namespace zsim

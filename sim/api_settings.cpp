/*
 * Settings and diagnostics: stand-ins for now (journal and injections, zeroed
 * outputs, 0). The error callback, the last error and the message file live
 * in api_connection.cpp.
 */
#include "probe.h"

using zsim::call;
using zsim::out_text;

ErrorCode get_sdk_version(const RobotHandle *handle, char *version)
{
    return call(__func__, handle, out_text(version, 80));
}
ErrorCode set_collision_level(const RobotHandle *handle, int32_t level)
{
    return call(__func__, handle, level);
}
ErrorCode get_collision_level(const RobotHandle *handle, int32_t *level)
{
    return call(__func__, handle, level);
}
ErrorCode set_debug_mode(const RobotHandle *handle, int32_t enable)
{
    return call(__func__, handle, enable);
}
ErrorCode get_controller_ip(const char *controller_name, char *ip_list)
{
    return call(__func__, controller_name, out_text(ip_list, 3000));
}
ErrorCode set_SDK_filepath(const RobotHandle *handle, const char *filepath)
{
    return call(__func__, handle, filepath);
}
ErrorCode set_network_exception_handle(const RobotHandle *handle, float millisecond, int32_t mnt)
{
    return call(__func__, handle, millisecond, mnt);
}
ErrorCode set_status_data_update_time_interval(const RobotHandle *handle, float millisecond)
{
    return call(__func__, handle, millisecond);
}

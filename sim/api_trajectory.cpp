/*
 * Trajectory recording: stand-ins for now (journal and injections, zeroed
 * outputs, 0).
 */
#include "probe.h"

using zsim::call;
using zsim::out_text;

ErrorCode set_traj_config(const RobotHandle *handle, const TrajectoryConfig *config)
{
    return call(__func__, handle, config);
}
ErrorCode get_traj_config(const RobotHandle *handle, TrajectoryConfig *config)
{
    return call(__func__, handle, config);
}
ErrorCode set_traj_sample_mode(const RobotHandle *handle, int32_t mode, const char *filename)
{
    return call(__func__, handle, mode, filename);
}
ErrorCode get_traj_sample_status(const RobotHandle *handle, int64_t *sample_status)
{
    return call(__func__, handle, sample_status);
}
ErrorCode get_exist_traj_file_name(const RobotHandle *handle, TrajectoryFileList *files)
{
    return call(__func__, handle, files);
}
ErrorCode rename_traj_file_name(const RobotHandle *handle, const char *src, const char *dest)
{
    return call(__func__, handle, src, dest);
}
ErrorCode remove_traj_file(const RobotHandle *handle, const char *filename)
{
    return call(__func__, handle, filename);
}
ErrorCode generate_traj_exe_file(const RobotHandle *handle, const char *filename)
{
    return call(__func__, handle, filename);
}

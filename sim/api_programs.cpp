/*
 * Controller programs: stand-ins for now (journal and injections, zeroed
 * outputs, 0). Programs will run on the motion thread as queued segments.
 */
#include "probe.h"

using zsim::call;
using zsim::out_text;

ErrorCode program_run(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode program_pause(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode program_resume(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode program_abort(const RobotHandle *handle) { return call(__func__, handle); }
ErrorCode program_load(const RobotHandle *handle, const char *file)
{
    return call(__func__, handle, file);
}
ErrorCode get_loaded_program(const RobotHandle *handle, char *file)
{
    return call(__func__, handle, out_text(file, 100));
}
ErrorCode get_current_line(const RobotHandle *handle, int32_t *curr_line)
{
    return call(__func__, handle, curr_line);
}
ErrorCode get_program_state(const RobotHandle *handle, uint32_t *status)
{
    return call(__func__, handle, status);
}

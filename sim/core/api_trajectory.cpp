/*
 * Trajectory recording (the sampling and the file format are in
 * recording.h; the folder and its names in files.h).
 *
 * set_traj_config: xyz_interval (mm), rpy_interval (rad), each finite and
 * > 0, vel (mm/s) and acc (mm/s^2) at least the lower bounds of a linear
 * move (motion_bounds.h), as the replay program moves by them; refused
 * (kBusy) while sampling. The defaults are 1 mm, 0.01 rad, 100 mm/s and
 * 500 mm/s^2.
 * set_traj_sample_mode: a non-zero mode starts sampling into the named
 * trajectory (kBusy when sampling already); 0 stops and saves it as
 * trajectories/<name>, replacing a file of that name (the name given with 0
 * is not used; 0 while not sampling does nothing). get_traj_sample_status:
 * 1 while sampling, else 0.
 * get_exist_traj_file_name: the files in trajectories/, sorted; names that
 * are not valid file names are left out. rename_traj_file_name refuses to
 * replace a file (kFileExists). generate_traj_exe_file writes
 * programs/<name>, replacing a program of that name, from
 * trajectories/<name>; it refuses a file that is not a trajectory or has a
 * number out of its range (kFileAccess) and a program that program_load
 * would refuse (kFileTooLarge), and then writes nothing.
 */
#include "api_files.h"

#include <cstring>

using zsim::Controller;
using zsim::Lock;
using zsim::files::Folder;

namespace zsim {
namespace api {

ErrorCode set_traj_config(const RobotHandle *handle, const TrajectoryConfig *config)
{
    return zsim::with_controller(handle, zsim::check(config && zsim::recording::valid_config(*config)), [config](Controller &rc, Lock &) {
        if (rc.recorder.active)
            return zsim::kBusy;
        rc.recorder.config = *config;
        return zsim::kOk;
    });
}

ErrorCode get_traj_config(const RobotHandle *handle, TrajectoryConfig *config)
{
    return zsim::with_controller(handle, zsim::present(config), [config](Controller &rc, Lock &) {
        *config = rc.recorder.config;
        return zsim::kOk;
    });
}

ErrorCode set_traj_sample_mode(const RobotHandle *handle, int32_t mode, const char *filename)
{
    zsim::Trajectory taken;
    std::string name;
    bool stopped = false;
    const ErrorCode checked = mode != 0 ? zsim::files::check_name(filename) : zsim::kOk; /* with 0 it is not used */
    const ErrorCode code = zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        if (mode != 0) {
            if (rc.recorder.active)
                return zsim::kBusy;
            rc.recorder.start(filename, rc.context(), rc.joints, rc.tool_id, rc.user_frame_id);
            return zsim::kOk;
        }
        if (!rc.recorder.active)
            return zsim::kOk;
        name = rc.recorder.name;
        taken = rc.recorder.stop(rc.context(), rc.joints);
        stopped = true;
        return zsim::kOk;
    });
    if (code != zsim::kOk || !stopped)
        return code;
    return zsim::with_files(handle, zsim::kOk, [&] {
        return zsim::files::write_file(Folder::kTrajectories, name, zsim::recording::format(taken));
    });
}

ErrorCode get_traj_sample_status(const RobotHandle *handle, int64_t *sample_status)
{
    return zsim::with_controller(handle, zsim::present(sample_status), [sample_status](Controller &rc, Lock &) {
        *sample_status = rc.recorder.active ? 1 : 0;
        return zsim::kOk;
    });
}

ErrorCode get_exist_traj_file_name(const RobotHandle *handle, TrajectoryFileList *files)
{
    std::vector<std::string> names;
    return zsim::with_files(
        handle, zsim::present(files), [&] { return zsim::files::list(Folder::kTrajectories, names); },
        [&](Controller &, Lock &, ErrorCode listed) {
            if (listed != zsim::kOk)
                return listed;
            std::memset(files, 0, sizeof *files);
            const std::size_t n = std::min<std::size_t>(names.size(), ZANDREL_TRAJ_FILE_SLOTS);
            files->count = static_cast<int32_t>(n);
            for (std::size_t i = 0; i < n; ++i)
                zsim::put_text(files->name[i], ZANDREL_TRAJ_FILE_NAME_SIZE, names[i]);
            return zsim::kOk;
        });
}

ErrorCode rename_traj_file_name(const RobotHandle *handle, const char *src, const char *dest)
{
    const ErrorCode checked =
        zsim::files::check_name(src) || zsim::files::check_name(dest) ? zsim::kBadFileName : zsim::kOk;
    return zsim::with_files(handle, checked, [&] { return zsim::files::rename(Folder::kTrajectories, src, dest); });
}

ErrorCode remove_traj_file(const RobotHandle *handle, const char *filename)
{
    return zsim::with_files(handle, zsim::files::check_name(filename),
                            [&] { return zsim::files::remove(Folder::kTrajectories, filename); });
}

ErrorCode generate_traj_exe_file(const RobotHandle *handle, const char *filename)
{
    return zsim::with_files(handle, zsim::files::check_name(filename), [&] {
        std::string program;
        {
            std::string text;
            if (const ErrorCode read = zsim::files::read_file(Folder::kTrajectories, filename, text))
                return read;
            if (const ErrorCode converted = zsim::recording::replay_program(filename, text,
                                                                            zsim::files::kMaxFileSize, program))
                return converted;
        } /* the trajectory's text is gone before the program is written */
        return zsim::files::write_file(Folder::kPrograms, filename, program);
    });
}

} // namespace api
} // namespace zsim

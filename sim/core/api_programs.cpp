/*
 * Controller programs (the format is in program_format.h, the runner in
 * procedures.h).
 *
 * program_load reads programs/<file> from the controller's folder (files.h)
 * and keeps it as the loaded program; it is refused (kBusy) while a program
 * runs or is paused. program_run starts the loaded program from its first
 * line on the motion thread and returns at once (at time scale 0 the whole
 * program has run when it returns); it needs an arm ready to move and at
 * rest. While the program runs or is paused it owns the arm: moves, jogs,
 * servo mode and drag mode are refused (kBusy). program_pause holds the arm
 * where it is at the next cycle; program_resume goes on from there;
 * program_abort ends the program and every queued motion (as motion_abort:
 * a move under way comes to a controlled stop along its path).
 * A line that is not a valid command stops the program with kProgramLine,
 * and a command that fails (a target beyond a limit or out of reach, an IO
 * channel that does not exist) with its code: the arm stops, the controller
 * enters its error state and the code goes to the error callback.
 *
 * get_current_line: the line (from 1) running, or where the latest run
 * stopped; 0 after a load. get_program_state: program_format.h's codes.
 */
#include "api_files.h"
#include "procedures.h"

using zsim::Controller;
using zsim::Lock;

namespace {

bool program_active(const Controller &rc)
{
    const std::uint32_t state = zsim::program_state(rc.program);
    return state == zsim::kProgramRunning || state == zsim::kProgramPaused;
}

} // namespace

namespace zsim {
namespace api {

ErrorCode program_load(const RobotHandle *handle, const char *file)
{
    std::shared_ptr<const zsim::Program> program;
    return zsim::with_files(
        handle, zsim::files::check_name(file),
        [&] {
            std::string text;
            if (const ErrorCode read = zsim::files::read_file(zsim::files::Folder::kPrograms, file, text))
                return read;
            auto parsed = std::make_shared<zsim::Program>();
            const ErrorCode code = zsim::parse_program(file, text, *parsed);
            program = std::move(parsed);
            return code;
        },
        [&](Controller &rc, Lock &, ErrorCode read) {
            if (read != zsim::kOk)
                return read;
            if (program_active(rc))
                return zsim::kBusy;
            rc.program = zsim::ProgramSlot{};
            rc.program.loaded = std::move(program);
            return zsim::kOk;
        });
}

ErrorCode get_loaded_program(const RobotHandle *handle, char *file)
{
    return zsim::with_controller(handle, zsim::present(file), [file](Controller &rc, Lock &) {
        zsim::put_text(file, ZANDREL_PROGRAM_NAME_SIZE, rc.program.loaded ? rc.program.loaded->name : std::string());
        return zsim::kOk;
    });
}

ErrorCode program_run(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &lock) {
        if (!rc.program.loaded)
            return zsim::kWrongState;
        if (program_active(rc))
            return zsim::kBusy;
        if (const ErrorCode refused = zsim::ready_to_move(rc))
            return refused;
        if (rc.moving())
            return zsim::kBusy;
        rc.program.line = 0;
        rc.program.paused = false;
        auto runner = std::make_unique<zsim::ProgramSegment>(rc.program.loaded, rc.program, rc.io);
        rc.program.run = zsim::motion::enqueue(rc, std::move(runner), rc.joints);
        (void)lock;
        return rc.program.run ? zsim::kOk : zsim::kBusy;
    });
}

ErrorCode program_pause(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        if (zsim::program_state(rc.program) != zsim::kProgramRunning)
            return zsim::kWrongState;
        rc.program.paused = true;
        return zsim::kOk;
    });
}

ErrorCode program_resume(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        if (zsim::program_state(rc.program) != zsim::kProgramPaused)
            return zsim::kWrongState;
        rc.program.paused = false;
        zsim::motion::feed(rc);
        return zsim::kOk;
    });
}

ErrorCode program_abort(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        if (program_active(rc))
            zsim::motion::stop(rc, zsim::StopKind::kControlled, zsim::kAborted);
        rc.program.paused = false;
        return zsim::kOk;
    });
}

ErrorCode get_current_line(const RobotHandle *handle, int32_t *curr_line)
{
    return zsim::with_controller(handle, zsim::present(curr_line), [curr_line](Controller &rc, Lock &) {
        *curr_line = rc.program.line;
        return zsim::kOk;
    });
}

ErrorCode get_program_state(const RobotHandle *handle, uint32_t *status)
{
    return zsim::with_controller(handle, zsim::present(status), [status](Controller &rc, Lock &) {
        *status = zsim::program_state(rc.program);
        return zsim::kOk;
    });
}

} // namespace api
} // namespace zsim

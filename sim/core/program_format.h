/*
 * Controller programs: the text format and its parsed form.
 *
 * One command a line; words are separated by spaces or tabs; '#' starts a
 * comment that runs to the end of the line; empty lines are skipped. Lines
 * are numbered from 1, counting every line of the file.
 *
 *   movj j1 j2 j3 j4 j5 j6 speed [acc]     joint move to absolute joints (rad),
 *                                          rad/s and rad/s^2 as joint_move
 *   movl x y z rx ry rz speed [acc]        straight-line move of the TCP to a pose
 *                                          in the current tool and user frame
 *                                          (mm, rad), mm/s and mm/s^2 as linear_move
 *   dout type index value                  set a digital output (value 0 or 1)
 *   wait seconds                           wait (simulated seconds, >= 0)
 *
 * Parsing never fails: a line that is not one of these commands (unknown
 * word, wrong count, a number that does not parse, is not finite or is out
 * of range) is kept as a bad line, and the program stops there with an
 * error when it reaches it.
 */
#ifndef ZSIM_PROGRAM_FORMAT_H
#define ZSIM_PROGRAM_FORMAT_H

#include "zandrelAPI.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zsim {

struct Completion;

struct ProgramLine {
    enum Kind { kEmpty, kJointMove, kLinearMove, kDigitalOut, kWait, kBad } kind = kEmpty;
    /* movj: 6 joints, speed, acc; movl: 6 pose values, speed, acc;
     * dout: type, index, value; wait: seconds. A missing acc is 0 (the default). */
    std::array<double, 8> values{};
};

struct Program {
    std::string name;
    std::vector<ProgramLine> lines; /* lines[n - 1] is line n */
};

Program parse_program(const std::string &name, const std::string &text);

/* Program state codes (get_program_state). */
constexpr std::uint32_t kProgramIdle = 0;    /* nothing running: none loaded, not run, ended or aborted */
constexpr std::uint32_t kProgramRunning = 1;
constexpr std::uint32_t kProgramPaused = 2;
constexpr std::uint32_t kProgramError = 3;   /* stopped by an error at get_current_line */

/* A controller's program (guarded by the library lock). */
struct ProgramSlot {
    std::shared_ptr<const Program> loaded;
    std::shared_ptr<Completion> run; /* the latest run; null until the first run after a load */
    std::int32_t line = 0;           /* the line running, or where the latest run stopped */
    bool paused = false;
};

/* Shortest round-trip text of a number (as the journal writes it). */
std::string number_text(double value);

} // namespace zsim

#endif /* ZSIM_PROGRAM_FORMAT_H */

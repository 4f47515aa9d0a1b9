/*
 * Controller programs: the text format and its parsed form.
 *
 * One command a line; words are separated by spaces or tabs; '#' starts a
 * comment that runs to the end of the line; empty lines are skipped. Lines
 * are numbered from 1, counting every line of the file.
 *
 *   movj j1 j2 j3 j4 j5 j6 speed [acc]     joint move to absolute joints (rad),
 *                                          rad/s and rad/s^2 as joint_move (and
 *                                          the same lower bounds, motion_bounds.h)
 *   movl x y z rx ry rz speed [acc]        straight-line move of the TCP to a pose
 *                                          in the current tool and user frame
 *                                          (mm, rad), mm/s and mm/s^2 as linear_move
 *   dout type index value                  set a digital output (value 0 or 1)
 *   wait seconds                           wait (simulated seconds, 0 to 86400)
 *
 * Parsing does not judge the lines: a line that is not one of these commands
 * (unknown word, wrong count, a number that does not parse, is not finite or
 * is out of range) is kept as a bad line, and the program stops there with
 * an error when it reaches it.
 *
 * Memory: a program keeps its commands only (empty and comment lines cost
 * nothing), each in 8 bytes and 8 per number (a movj or movl line of at
 * least 19 bytes keeps 72), so a loaded program takes less than four times
 * the size of its file. A file is at most files::kMaxFileSize bytes and
 * Program::kMaxCommands commands.
 */
#ifndef ZSIM_PROGRAM_FORMAT_H
#define ZSIM_PROGRAM_FORMAT_H

#include "errors.h"
#include "zandrelAPI.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace zsim {

struct Completion;

/* One command line, as the runner reads it. */
struct ProgramLine {
    enum Kind : std::uint8_t { kJointMove, kLinearMove, kDigitalOut, kWait, kBad } kind = kBad;
    std::int32_t number = 0; /* its line in the file, from 1 */
    /* movj: 6 joints, speed, acc; movl: 6 pose values, speed, acc;
     * dout: type, index, value; wait: seconds. A missing acc is 0 (the default). */
    std::array<double, 8> values{};
};

/* A parsed program: its command lines, in order, kept compactly. */
class Program {
public:
    static constexpr std::size_t kMaxCommands = 1000000;

    std::string name;

    /* The command lines (lines that are neither empty nor only a comment). */
    std::size_t size() const { return commands_.size(); }
    ProgramLine command(std::size_t index) const;
    void add(const ProgramLine &line);

private:
    struct Command {
        std::uint32_t number_and_kind; /* line number << 3 | kind */
        std::uint32_t first;           /* its first number in values_ */
    };
    std::deque<Command> commands_; /* a deque grows without copying what it holds */
    std::deque<double> values_;
};

/* kOk, or kFileTooLarge for more than Program::kMaxCommands commands. */
ErrorCode parse_program(const std::string &name, const std::string &text, Program &out);

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
/* The same into `text` (no NUL); returns its length. */
constexpr std::size_t kNumberChars = 32;
std::size_t number_chars(double value, char (&text)[kNumberChars]);

} // namespace zsim

#endif /* ZSIM_PROGRAM_FORMAT_H */

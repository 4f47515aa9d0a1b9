/*
 * Segments that own the arm for a while: a controller program, and the force
 * sensor's payload identification. While one is queued other motion is
 * refused (kBusy, ArmMotion::owned); it lets go when it leaves the queue
 * (done, failed or aborted).
 *
 * Each works on the parts of its controller that it is given when it is made
 * (they outlive it: the controller owns the queue it sits in).
 */
#ifndef ZSIM_PROCEDURES_H
#define ZSIM_PROCEDURES_H

#include "force.h"
#include "io.h"
#include "program_format.h"
#include "segment.h"

#include <memory>

namespace zsim {

/* Walks a program line by line on the motion thread. Instant commands
 * (dout, an empty wait) run within the cycle that reaches them; a move or a
 * wait takes the cycles it needs. A pause brings its move to rest along its
 * path (a controlled stop), then holds (a wait stands still too) until
 * program_resume feeds it again: the move goes on from there to its end. Moves follow
 * the rapid rate, waits do not. A stop ends the program once its move (if
 * any) has come to rest along its path. */
class ProgramSegment final : public Segment {
public:
    /* Runs `program`; reports its line and reads its pause flag in `slot`,
     * sets outputs in `io`. */
    ProgramSegment(std::shared_ptr<const Program> program, ProgramSlot &slot, IoBank &io);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    bool request_stop(StopKind kind) override;
    bool owns_arm() const override { return true; }

private:
    /* Starts a line: kOk, or the error that stops the program. */
    ErrorCode start_line(const MotionContext &ctx, const ProgramLine &line, const Joints &q);

    std::shared_ptr<const Program> program_;
    ProgramSlot &slot_;
    IoBank &io_;
    std::size_t next_ = 0; /* the next command */
    std::unique_ptr<Segment> move_;
    double wait_left_ = 0;
    bool ending_ = false; /* stopped: no further line */
};

/* A joint move to the identification pose, then kSeconds of measuring at
 * rest; then the payload the arm carries (`carried`) is the result, kept in
 * `force.identified`. A stop ends it once the move has come to rest. */
class IdentifySegment final : public Segment {
public:
    static constexpr double kSeconds = 5.0; /* simulated, at rest */
    static constexpr double kSpeed = 0.5;   /* rad/s of the move to the pose */

    IdentifySegment(const Joints &pose, ForceControl &force, const PayloadData &carried);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    bool request_stop(StopKind kind) override;
    bool owns_arm() const override { return true; }

private:
    std::unique_ptr<Segment> move_;
    ForceControl &force_;
    const PayloadData &carried_;
    double measured_ = 0;
    bool ending_ = false;
};

/* get_program_state's code for a controller's program (a program being
 * stopped counts as ended). */
std::uint32_t program_state(const ProgramSlot &p);

/* get_torq_sensor_identify_staus's code: 0 none (or the latest was ended, or
 * is being stopped, before it finished), 1 identifying, 2 done. */
std::int32_t identify_status(const ForceControl &f);

} // namespace zsim

#endif /* ZSIM_PROCEDURES_H */

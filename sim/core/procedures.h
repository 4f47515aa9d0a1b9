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
#include "torque_monitor.h"

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

/* The force sensor's payload identification: a joint move to the
 * identification pose (kSpeed), then the wrist turned to kTurns other
 * orientations and back (kWristSpeed). At each of these poses the arm rests
 * kSettle seconds and reads its joint torques; what they hold beyond the
 * bare arm's (the dynamics model without payload) is the payload's weight,
 * linear in its mass m and in m times its centre: a least-squares fit over
 * every joint of every pose gives both. The result, kept in
 * `force.identified`, is what the arm really carries (and whatever else
 * pushes on it meanwhile). A stop ends it once the arm is at rest. */
class IdentifySegment final : public Segment {
public:
    static constexpr double kSpeed = 0.5;      /* rad/s of the move to the pose */
    static constexpr double kWristSpeed = 1.0; /* rad/s of the wrist's turns */
    static constexpr double kSettle = 0.5;     /* s at rest before each reading */
    static constexpr std::size_t kTurns = 3;   /* wrist orientations besides the pose's */

    IdentifySegment(const Joints &pose, ForceControl &force, const TorqueMonitor &monitor);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    bool request_stop(StopKind kind) override;
    bool owns_arm() const override { return true; }

private:
    /* The pose of reading `n` (0: the identification pose; the last one too). */
    Joints reading_pose(std::size_t n) const;
    void read(const Joints &q);
    void solve();

    static constexpr std::size_t kReadings = kTurns + 2;
    Joints pose_;
    std::unique_ptr<Segment> move_;
    ForceControl &force_;
    const TorqueMonitor &monitor_;
    std::size_t readings_ = 0;
    double rested_ = 0;
    Eigen::Matrix<double, 6 * kReadings, 4> weights_; /* per joint: d tau / d(m, m c) */
    Eigen::Matrix<double, 6 * kReadings, 1> payload_torques_;
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

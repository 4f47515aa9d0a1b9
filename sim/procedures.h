/*
 * Segments that own the arm for a while: a controller program, and the force
 * sensor's payload identification. While one is queued the controller's
 * `owner` points at it and other motion is refused (kBusy); it lets go when
 * it leaves the queue (done, failed or aborted).
 */
#ifndef ZSIM_PROCEDURES_H
#define ZSIM_PROCEDURES_H

#include "motion.h"
#include "program_format.h"

#include <memory>

namespace zsim {

class OwningSegment : public Segment {
public:
    explicit OwningSegment(Controller &c) : c_(c) { c_.owner = this; }
    ~OwningSegment() override
    {
        if (c_.owner == this)
            c_.owner = nullptr;
    }

protected:
    Controller &c_;
};

/* Walks a program line by line on the motion thread. Instant commands
 * (dout, an empty wait) run within the cycle that reaches them; a move or a
 * wait takes the cycles it needs. While the program is paused it holds: the
 * arm stays where it is until program_resume feeds it again. Moves follow
 * the rapid rate, waits do not. */
class ProgramSegment : public OwningSegment {
public:
    ProgramSegment(Controller &c, std::shared_ptr<const Program> program);
    ErrorCode begin(Controller &c, const Joints &now) override;
    StepResult step(Controller &c, double dt, Joints &q) override;
    bool follows_rapid_rate() const override { return false; }

private:
    /* Starts line `index`: kOk, or the error that stops the program. */
    ErrorCode start_line(Controller &c, const ProgramLine &line, const Joints &q);

    std::shared_ptr<const Program> program_;
    std::size_t next_ = 0;
    std::unique_ptr<Segment> move_;
    double wait_left_ = 0;
};

/* A joint move to the identification pose, then kSeconds of measuring at
 * rest; then the payload the arm carries is the result. */
class IdentifySegment : public OwningSegment {
public:
    static constexpr double kSeconds = 5.0; /* simulated, at rest */
    static constexpr double kSpeed = 0.5;   /* rad/s of the move to the pose */

    IdentifySegment(Controller &c, const Joints &pose);
    ErrorCode begin(Controller &c, const Joints &now) override;
    StepResult step(Controller &c, double dt, Joints &q) override;
    bool follows_rapid_rate() const override { return false; } /* the move does, the measuring not */

private:
    std::unique_ptr<Segment> move_;
    double measured_ = 0;
};

/* get_program_state's code for a controller's program. */
std::uint32_t program_state(const ProgramSlot &p);

/* get_torq_sensor_identify_staus's code: 0 none (or the latest was ended
 * before it finished), 1 identifying, 2 done. */
std::int32_t identify_status(const ForceControl &f);

} // namespace zsim

#endif /* ZSIM_PROCEDURES_H */

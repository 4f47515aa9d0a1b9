/*
 * Trajectory recording: samples of the arm's motion, and the trajectory file.
 *
 * A controller's Recorder watches its arm's motion cycles (motion.h). While
 * sampling, a sample is taken when the TCP has moved at least xyz_interval
 * mm, or turned at least rpy_interval rad, since the last sample, and where
 * each motion (a move, a jog, a program) ends, so that the corners between
 * moves are kept. Sampling starts with a sample of where the arm stands;
 * stopping adds one of where it stopped. No two samples in a row hold the
 * same joints.
 *
 * File (trajectories/<name>), text, one record a line, words separated by
 * one space, numbers in their shortest round-trip form:
 *
 *   zandrel-trajectory 1
 *   config <xyz_interval> <rpy_interval> <vel> <acc>
 *   frames <tool id> <user frame id>
 *   <t> <x> <y> <z> <rx> <ry> <rz> <j1> <j2> <j3> <j4> <j5> <j6>     (one line per sample)
 *
 * t is seconds of motion since sampling started (the cycles in which the arm
 * was moving); the pose is the TCP in the tool and user frame in use (mm,
 * rad); the joints are radians.
 */
#ifndef ZSIM_RECORDING_H
#define ZSIM_RECORDING_H

#include "errors.h"
#include "kinematics.h"
#include "motion.h"

#include <string>
#include <string_view>
#include <vector>

namespace zsim {

struct TrajectorySample {
    double t = 0;
    CartPose tcp{};
    Joints q{};
};

struct Trajectory {
    TrajectoryConfig config{};
    int tool_id = 0, user_frame_id = 0;
    std::vector<TrajectorySample> samples;
};

/* A controller's recorder (guarded by the library lock), an observer of its
 * arm's cycles. */
class Recorder final : public CycleObserver {
public:
    static constexpr std::size_t kMaxSamples = 200000; /* later samples are dropped */

    TrajectoryConfig config{1.0, 0.01, 100.0, 500.0};
    bool active = false;
    std::string name;
    Trajectory taken;

    /* Starts sampling into `name` with a sample of the arm at q; the ids are
     * the tool and user frame in use, kept with the trajectory. */
    void start(const std::string &trajectory, const MotionContext &ctx, const Joints &q, int tool_id,
               int user_frame_id);
    /* Stops sampling (with a sample of where the arm stopped) and hands over
     * what was taken. */
    Trajectory stop(const MotionContext &ctx, const Joints &q);

    /* Samples when due. */
    void on_cycle(const ArmMotion &arm, const MotionContext &ctx, bool segment_ended) override;

private:
    void take(const MotionContext &ctx, const Joints &q);

    Pose last_ = Pose::Identity(); /* the TCP (base frame) at the last sample */
    double t_ = 0;
};

namespace recording {

/* Tool and user frame ids are 0 .. kFrameIds - 1 (the controller's slots). */
constexpr int kFrameIds = 16;

/* A configuration a trajectory may be recorded and replayed with: intervals
 * finite and > 0, vel and acc at least a linear move's lower bounds
 * (motion_bounds.h), since the replay moves by them. */
bool valid_config(const TrajectoryConfig &c);

std::string format(const Trajectory &t);

/* The program that replays the trajectory file `text` (saved as `name`): a
 * joint move to its first sample, then a straight-line move to each later
 * one at the configured vel and acc. Every number is checked against its
 * range first (finite; the configuration valid; frame ids whole numbers of
 * a slot). kOk; kFileAccess for text that is not a trajectory file;
 * kFileTooLarge for a program that program_load would refuse: more than
 * max_bytes, or more than Program::kMaxCommands commands. The text is read
 * in place and the program written once at its exact size, so the
 * conversion needs little more than the file and the program. */
ErrorCode replay_program(const std::string &name, std::string_view text, std::size_t max_bytes,
                         std::string &program);

} // namespace recording

} // namespace zsim

#endif /* ZSIM_RECORDING_H */

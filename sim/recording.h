/*
 * Trajectory recording: samples of the arm's motion, and the trajectory file.
 *
 * While sampling, every motion cycle of the controller (motion.cpp) calls
 * observe(): a sample is taken when the TCP has moved at least xyz_interval
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

#include <string>
#include <vector>

namespace zsim {

struct Controller;

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

/* A controller's recorder (guarded by the library lock). */
struct Recorder {
    static constexpr std::size_t kMaxSamples = 200000; /* later samples are dropped */

    TrajectoryConfig config{1.0, 0.01, 100.0, 500.0};
    bool active = false;
    std::string name;
    Trajectory taken;
    Pose last = Pose::Identity(); /* the TCP (base frame) at the last sample */
    double t = 0;
};

namespace recording {

/* Starts sampling into `name` (the controller's lock held). */
void start(Controller &c, const std::string &name);
/* One motion cycle of the controller (`ended`: its motion segment ended in
 * it): samples when due. */
void observe(Controller &c, bool ended);
/* Stops sampling and hands over what was taken. */
Trajectory stop(Controller &c);

std::string format(const Trajectory &t);
/* kOk, or kFileAccess for text that is not a trajectory file. */
ErrorCode parse(const std::string &text, Trajectory &out);

/* The program that replays a trajectory: a joint move to its first sample,
 * then a straight-line move to each later one at the configured vel and acc. */
std::string replay_program(const std::string &name, const Trajectory &t);

} // namespace recording

} // namespace zsim

#endif /* ZSIM_RECORDING_H */

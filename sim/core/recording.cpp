/*
 * Sampling the arm's motion, and the trajectory file (recording.h).
 */
#include "recording.h"

#include "cycle.h"
#include "program_format.h"

#include <charconv>
#include <cmath>
#include <sstream>

namespace zsim {

void Recorder::take(const MotionContext &ctx, const Joints &q)
{
    last_ = ctx.tcp_in_base(q);
    if (taken.samples.size() < kMaxSamples) {
        TrajectorySample s;
        s.t = t_;
        s.tcp = to_cart(ctx.tcp(q));
        s.q = q;
        taken.samples.push_back(s);
    }
}

void Recorder::start(const std::string &trajectory, const MotionContext &ctx, const Joints &q, int tool_id,
                     int user_frame_id)
{
    active = true;
    name = trajectory;
    t_ = 0;
    taken = Trajectory{};
    taken.config = config;
    taken.tool_id = tool_id;
    taken.user_frame_id = user_frame_id;
    take(ctx, q);
}

void Recorder::on_cycle(const ArmMotion &arm, const MotionContext &ctx, bool segment_ended)
{
    if (!active)
        return;
    t_ += kCycle;
    const Pose here = ctx.tcp_in_base(arm.joints);
    const double moved = (here.translation() - last_.translation()).norm();
    const double turned =
        Eigen::Quaterniond(here.linear()).angularDistance(Eigen::Quaterniond(last_.linear()));
    if (moved >= taken.config.xyz_interval || turned >= taken.config.rpy_interval ||
        (segment_ended && taken.samples.back().q != arm.joints))
        take(ctx, arm.joints);
}

Trajectory Recorder::stop(const MotionContext &ctx, const Joints &q)
{
    if (taken.samples.empty() || taken.samples.back().q != q)
        take(ctx, q);
    active = false;
    Trajectory out = std::move(taken);
    taken = Trajectory{};
    return out;
}

namespace recording {

namespace {

constexpr const char *kMagic = "zandrel-trajectory 1";
constexpr double kReplayJointSpeed = 1.0; /* rad/s of the joint move to the first sample */

void put(std::string &out, double value)
{
    out += number_text(value);
}

void put_sample(std::string &out, const TrajectorySample &s)
{
    const double values[] = {s.t,        s.tcp.tran.x, s.tcp.tran.y, s.tcp.tran.z, s.tcp.rpy.rx,
                             s.tcp.rpy.ry, s.tcp.rpy.rz, s.q[0],       s.q[1],       s.q[2],
                             s.q[3],     s.q[4],       s.q[5]};
    for (std::size_t i = 0; i < 13; ++i) {
        if (i)
            out += ' ';
        put(out, values[i]);
    }
    out += '\n';
}

bool numbers(const std::string &line, std::vector<double> &out)
{
    out.clear();
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        double v = 0;
        const auto r = std::from_chars(word.data(), word.data() + word.size(), v);
        if (r.ec != std::errc() || r.ptr != word.data() + word.size() || !std::isfinite(v))
            return false;
        out.push_back(v);
    }
    return true;
}

/* "word rest": true when the line starts with `word` and a space. */
bool keyed(const std::string &line, const char *word, std::string &rest)
{
    const std::string key = std::string(word) + ' ';
    if (line.compare(0, key.size(), key) != 0)
        return false;
    rest = line.substr(key.size());
    return true;
}

} // namespace

std::string format(const Trajectory &t)
{
    std::string out = kMagic;
    out += "\nconfig ";
    put(out, t.config.xyz_interval);
    out += ' ';
    put(out, t.config.rpy_interval);
    out += ' ';
    put(out, t.config.vel);
    out += ' ';
    put(out, t.config.acc);
    out += "\nframes " + std::to_string(t.tool_id) + ' ' + std::to_string(t.user_frame_id) + '\n';
    for (const TrajectorySample &s : t.samples)
        put_sample(out, s);
    return out;
}

ErrorCode parse(const std::string &text, Trajectory &out)
{
    std::istringstream in(text);
    std::string line, rest;
    std::vector<double> v;
    Trajectory t;
    if (!std::getline(in, line) || line != kMagic)
        return kFileAccess;
    if (!std::getline(in, line) || !keyed(line, "config", rest) || !numbers(rest, v) || v.size() != 4)
        return kFileAccess;
    t.config = TrajectoryConfig{v[0], v[1], v[2], v[3]};
    if (!std::getline(in, line) || !keyed(line, "frames", rest) || !numbers(rest, v) || v.size() != 2)
        return kFileAccess;
    t.tool_id = static_cast<int>(v[0]);
    t.user_frame_id = static_cast<int>(v[1]);
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        if (!numbers(line, v) || v.size() != 13)
            return kFileAccess;
        TrajectorySample s;
        s.t = v[0];
        s.tcp = CartPose{{v[1], v[2], v[3]}, {v[4], v[5], v[6]}};
        for (std::size_t j = 0; j < 6; ++j)
            s.q[j] = v[7 + j];
        t.samples.push_back(s);
    }
    if (t.samples.empty() || !(t.config.vel > 0) || !(t.config.acc > 0))
        return kFileAccess;
    out = std::move(t);
    return kOk;
}

std::string replay_program(const std::string &name, const Trajectory &t)
{
    std::string out = "# replays trajectory " + name + " (" + std::to_string(t.samples.size()) +
                      " samples)\n# recorded with tool " + std::to_string(t.tool_id) +
                      " and user frame " + std::to_string(t.user_frame_id) +
                      ": select them before running\n";
    const TrajectorySample &first = t.samples.front();
    out += "movj";
    for (double q : first.q) {
        out += ' ';
        put(out, q);
    }
    out += ' ';
    put(out, kReplayJointSpeed);
    out += '\n';
    for (std::size_t i = 1; i < t.samples.size(); ++i) {
        const CartPose &p = t.samples[i].tcp;
        out += "movl";
        for (double v : {p.tran.x, p.tran.y, p.tran.z, p.rpy.rx, p.rpy.ry, p.rpy.rz, t.config.vel, t.config.acc}) {
            out += ' ';
            put(out, v);
        }
        out += '\n';
    }
    return out;
}

} // namespace recording
} // namespace zsim

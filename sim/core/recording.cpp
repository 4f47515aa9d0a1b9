/*
 * Sampling the arm's motion, and the trajectory file (recording.h).
 */
#include "recording.h"

#include "cycle.h"
#include "program_format.h"

#include "motion_bounds.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

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
    char text[kNumberChars];
    out.append(text, number_chars(value, text));
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

/* ---- reading a trajectory file in place -------------------------------------- */

constexpr std::size_t kSampleNumbers = 13;

/* The lines of a text, one after the other, without copying it. */
class Lines {
public:
    explicit Lines(std::string_view text) : rest_(text) {}
    bool next(std::string_view &line)
    {
        if (done_)
            return false;
        const std::size_t end = rest_.find('\n');
        line = rest_.substr(0, end);
        if (end == std::string_view::npos)
            done_ = true; /* the last line, with or without its newline */
        else
            rest_.remove_prefix(end + 1);
        return !(done_ && line.empty());
    }

private:
    std::string_view rest_;
    bool done_ = false;
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

/* Exactly `count` finite numbers, separated by blanks, into out. */
bool numbers(std::string_view line, double *out, std::size_t count)
{
    std::size_t found = 0, i = 0;
    while (i < line.size()) {
        while (i < line.size() && blank(line[i]))
            ++i;
        std::size_t j = i;
        while (j < line.size() && !blank(line[j]))
            ++j;
        if (j == i)
            break;
        double v = 0;
        const auto r = std::from_chars(line.data() + i, line.data() + j, v);
        if (found == count || r.ec != std::errc() || r.ptr != line.data() + j || !std::isfinite(v))
            return false;
        out[found++] = v;
        i = j;
    }
    return found == count;
}

/* "word rest": true when the line starts with `word` and a space. */
bool keyed(std::string_view line, std::string_view word, std::string_view &rest)
{
    if (line.size() <= word.size() || line.substr(0, word.size()) != word || line[word.size()] != ' ')
        return false;
    rest = line.substr(word.size() + 1);
    return true;
}

/* A tool or user frame id: a whole number of the ids a controller has. */
bool frame_id(double value, int &id)
{
    if (!(value >= 0 && value < kFrameIds) || value != std::floor(value))
        return false;
    id = static_cast<int>(value);
    return true;
}

/* The header of a trajectory file (magic, config, frames), each number in
 * its range; `lines` is left at the first sample. */
bool header(Lines &lines, Trajectory &t)
{
    std::string_view line, rest;
    double v[4];
    if (!lines.next(line) || line != kMagic)
        return false;
    if (!lines.next(line) || !keyed(line, "config", rest) || !numbers(rest, v, 4))
        return false;
    t.config = TrajectoryConfig{v[0], v[1], v[2], v[3]};
    if (!valid_config(t.config))
        return false;
    return lines.next(line) && keyed(line, "frames", rest) && numbers(rest, v, 2) && frame_id(v[0], t.tool_id) &&
           frame_id(v[1], t.user_frame_id);
}

/* Calls each(sample) for every sample line (empty lines are skipped); false
 * at the first line that is not a sample. */
template <class Each>
bool each_sample(Lines &lines, Each &&each)
{
    std::string_view line;
    double v[kSampleNumbers];
    while (lines.next(line)) {
        if (line.empty())
            continue;
        if (!numbers(line, v, kSampleNumbers))
            return false;
        TrajectorySample s;
        s.t = v[0];
        s.tcp = CartPose{{v[1], v[2], v[3]}, {v[4], v[5], v[6]}};
        for (std::size_t j = 0; j < 6; ++j)
            s.q[j] = v[7 + j];
        each(s);
    }
    return true;
}

/* The replay program, written by `put` (into a string, or only counted). */
template <class Put>
void write_replay(const std::string &name, const Trajectory &t, std::size_t samples, const TrajectorySample &first,
                  Put &&put_text, std::string_view text)
{
    put_text("# replays trajectory " + name + " (" + std::to_string(samples) + " samples)\n# recorded with tool " +
             std::to_string(t.tool_id) + " and user frame " + std::to_string(t.user_frame_id) +
             ": select them before running\nmovj");
    char digits[kNumberChars];
    const auto put_number = [&](double value) {
        put_text(" ");
        put_text(std::string_view(digits, number_chars(value, digits)));
    };
    for (double q : first.q)
        put_number(q);
    put_number(kReplayJointSpeed);
    put_text("\n");
    Lines lines(text);
    Trajectory ignored;
    header(lines, ignored);
    bool later = false;
    each_sample(lines, [&](const TrajectorySample &s) {
        if (!std::exchange(later, true))
            return;
        put_text("movl");
        for (double v : {s.tcp.tran.x, s.tcp.tran.y, s.tcp.tran.z, s.tcp.rpy.rx, s.tcp.rpy.ry, s.tcp.rpy.rz,
                         t.config.vel, t.config.acc})
            put_number(v);
        put_text("\n");
    });
}

} // namespace

bool valid_config(const TrajectoryConfig &c)
{
    return std::isfinite(c.xyz_interval) && c.xyz_interval > 0 && std::isfinite(c.rpy_interval) &&
           c.rpy_interval > 0 && bounds::at_least(c.vel, bounds::kMinLinearSpeed) &&
           bounds::at_least(c.acc, bounds::kMinLinearAcc);
}

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

ErrorCode replay_program(const std::string &name, std::string_view text, std::size_t max_bytes,
                         std::string &program)
{
    /* First pass: every line checked, the samples counted and the program's
     * exact size found, without keeping anything; then the program is
     * written into a string of that size. */
    Lines lines(text);
    Trajectory t;
    if (!header(lines, t))
        return kFileAccess;
    std::size_t samples = 0;
    TrajectorySample first;
    if (!each_sample(lines, [&](const TrajectorySample &s) {
            if (samples++ == 0)
                first = s;
        }))
        return kFileAccess;
    if (samples == 0)
        return kFileAccess;
    if (samples > Program::kMaxCommands) /* a movj, then a movl per later sample */
        return kFileTooLarge;
    std::size_t size = 0;
    write_replay(name, t, samples, first, [&size](std::string_view part) { size += part.size(); }, text);
    if (size > max_bytes)
        return kFileTooLarge;
    std::string out;
    out.reserve(size);
    write_replay(name, t, samples, first, [&out](std::string_view part) { out.append(part); }, text);
    program = std::move(out);
    return kOk;
}

} // namespace recording
} // namespace zsim

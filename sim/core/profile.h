/*
 * The speed profile every move follows along its path.
 */
#ifndef ZSIM_PROFILE_H
#define ZSIM_PROFILE_H

#include <array>

namespace zsim {

/* Motion along one coordinate u (a path parameter, 0 to length) as pieces of
 * constant acceleration from a known state. Planned from rest and re-planned
 * from wherever it is; position and speed never jump, so samples taken at any
 * times show no speed or acceleration beyond those of its pieces. */
class Profile {
public:
    struct Limits {
        double speed; /* cruise, > 0 */
        double acc;   /* speeding up, > 0 */
        double dec;   /* slowing down, > 0 */
    };

    /* From rest at 0 to rest at `length`. */
    void plan(double length, const Limits &limits);
    /* From rest at 0: `wait` seconds at rest, then speeding up evenly to
     * `speed` over `time` (a blend's head), then on to rest at `length`.
     * False (and nothing planned) when the limits cannot do that. */
    bool plan_with_head(double length, const Limits &limits, double wait, double speed, double time);
    /* From here to rest at the end under new limits; a speed above the new
     * cruise speed comes down at `transition`. Nothing changes while stopping. */
    void retime(const Limits &limits, double transition);
    /* From here on: reach length - speed * time / 2 at `speed`, then slow down
     * evenly to rest at the end over `time` (a blend's tail). Returns the time
     * until the tail starts, or a negative number (nothing changed) when the
     * limits cannot do that. */
    double end_with_tail(double speed, double time);
    /* Comes to rest at deceleration `dec`, or sooner where the plan already
     * does (the end, an earlier stop). */
    void stop(double dec);
    /* Comes to rest exactly at `at` (from here to the end), at the limits
     * when it can, harder when it must. */
    void stop_at(double at);
    /* From speed `speed` at 0 to rest at deceleration `dec` (a stop of a
     * motion that had no profile: the servo stream). */
    void brake(double speed, double dec);

    void advance(double dt);

    double position() const { return u_; }
    double speed() const { return w_; }
    double length() const { return length_; }
    /* Where the plan comes to rest. */
    double rest() const { return rest_; }
    /* A stop was ordered: it rests short of the end and keeps its plan. */
    bool stopping() const { return stopping_; }
    bool finished() const { return t_ >= total_; }
    const Limits &limits() const { return limits_; }

private:
    struct Piece {
        double duration, acc;
    };
    static constexpr int kMaxPieces = 8;

    /* The present state becomes the start of a new plan without pieces. */
    void rebase();
    void append(double duration, double acc);
    /* Pieces from speed w0 over distance d to speed w1 at the limits (a
     * speed above the cruise speed comes down at first_dec). False when that
     * needs more acceleration or deceleration than allowed: the pieces then
     * take what they need. */
    bool add_trapezoid(double d, double w0, double w1, const Limits &limits, double first_dec);
    /* One piece of constant acceleration from w0 to w1 over d; false when it
     * needs more than the limits. */
    bool add_ramp(double d, double w0, double w1, const Limits &limits);
    void evaluate();

    double u0_ = 0, w0_ = 0; /* where the pieces start */
    std::array<Piece, kMaxPieces> pieces_{};
    int count_ = 0;
    double total_ = 0; /* their duration */
    double t_ = 0;     /* time since they started */
    double u_ = 0, w_ = 0;
    double length_ = 0, rest_ = 0;
    bool stopping_ = false;
    Limits limits_{1, 1, 1};
};

} // namespace zsim

#endif /* ZSIM_PROFILE_H */

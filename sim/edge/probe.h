/*
 * The probe: the journal of library calls and what a test injected into the
 * next ones. Only the export layer (entry.h) and the probe's C interface
 * (probe_api.cpp) use it; the simulator core never knows it is watched.
 *
 * One mutex guards the journal, the injections and the probe's record of the
 * error callback. It is never held while a callback runs, an injected delay
 * passes or the library lock is taken, so callbacks may call back into the
 * library.
 */
#ifndef ZSIM_EDGE_PROBE_H
#define ZSIM_EDGE_PROBE_H

#include "core/json.h"
#include "zandrelAPI.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

namespace zsim {
namespace probe {

/* ---- a call as one journal line ------------------------------------------ */

/* fields<T>::each(record, f) calls f on each field in memory order. Only the
 * records the library reads need one; they journal as flat arrays. */
template <class T>
struct fields {
    static constexpr bool known = false;
};

#define ZSIM_FIELDS(Type, ...)                                   \
    template <>                                                  \
    struct fields<Type> {                                        \
        static constexpr bool known = true;                      \
        template <class F>                                       \
        static void each(const Type &r, F &&f) { __VA_ARGS__; } \
    }

ZSIM_FIELDS(JointVector, for (double v : r.jVal) f(v));
ZSIM_FIELDS(Translation, f(r.x); f(r.y); f(r.z));
ZSIM_FIELDS(RpyAngles, f(r.rx); f(r.ry); f(r.rz));
ZSIM_FIELDS(CartPose, f(r.tran); f(r.rpy));
ZSIM_FIELDS(PayloadData, f(r.mass); f(r.centroid));
ZSIM_FIELDS(RotationMatrix, f(r.x); f(r.y); f(r.z));
ZSIM_FIELDS(QuaternionValue, f(r.s); f(r.x); f(r.y); f(r.z));
ZSIM_FIELDS(TrajectoryConfig, f(r.xyz_interval); f(r.rpy_interval); f(r.vel); f(r.acc));
ZSIM_FIELDS(VelocityComplianceConfig, f(r.vc_level); f(r.rate1); f(r.rate2); f(r.rate3);
            f(r.rate4));
ZSIM_FIELDS(ComplianceCondition, f(r.fx); f(r.fy); f(r.fz); f(r.tx); f(r.ty); f(r.tz));

#undef ZSIM_FIELDS

template <class T>
constexpr bool is_record_v = fields<T>::known;

inline void put_field(Json &j, double v) { j.number(v); }
inline void put_field(Json &j, std::int32_t v) { j.integer(v); }
template <class T>
std::enable_if_t<is_record_v<T>> put_field(Json &j, const T &r)
{
    fields<T>::each(r, [&j](const auto &f) { put_field(j, f); }); /* nested records flatten */
}

template <class T>
void put_record(Json &j, const T &r)
{
    j.begin_array();
    put_field(j, r);
    j.end_array();
}

template <class>
constexpr bool always_false = false;

/* encode<T>(j, value): the journal form of an argument the library reads. */
template <class T>
void encode(Json &j, const T &v)
{
    if constexpr (std::is_integral_v<T> && std::is_signed_v<T>)
        j.integer(v);
    else if constexpr (std::is_integral_v<T>)
        j.unsigned_integer(v);
    else if constexpr (std::is_floating_point_v<T>)
        j.number(static_cast<double>(v));
    else if constexpr (std::is_same_v<T, const char *>)
        j.text(v);
    else if constexpr (std::is_same_v<T, CallBackFuncType>)
        v ? j.text("callback") : j.null();
    else if constexpr (std::is_same_v<T, const void *>) /* opaque options: always null from velmo */
        v ? j.text("pointer") : j.null();
    else if constexpr (is_record_v<T>)
        put_record(j, v);
    else if constexpr (std::is_pointer_v<T> && is_record_v<std::remove_const_t<std::remove_pointer_t<T>>>)
        v ? put_record(j, *v) : j.null();
    else if constexpr (std::is_same_v<T, const RobotHandle *> || std::is_same_v<T, RobotHandle *>)
        v ? j.integer(*v) : j.null(); /* the caller's handle, as it holds on entry */
    else
        static_assert(always_false<T>, "no journal encoding for this argument type");
}

/* ---- state ------------------------------------------------------------------ */

constexpr std::size_t kMaxOuts = 4;

/* A library function as the probe knows it: its name and the sizes of its
 * out-parameters (the pointer or buffer arguments the library writes),
 * numbered from 0 in argument order. */
struct Function {
    const char *name;
    std::size_t out_count;
    std::array<std::size_t, kMaxOuts> out_sizes;
};

/* The function of that name, or null (the table is edge/exports.cpp's). */
const Function *find_function(const char *name);

/* What the probe injected for one call. */
struct Injection {
    bool has_code = false;
    ErrorCode code = 0;
    std::map<std::size_t, std::vector<unsigned char>> outs;
    bool has_callback = false;
    std::int32_t callback_code = 0;
    int delay_ms = 0;

    /* An injected code or out bytes: the call returns at once. */
    bool decides_result() const { return has_code || !outs.empty(); }
};

/* Without the probe's lock: whether calls are recorded, and whether any
 * injection waits at all (so that a quiet call takes no lock). */
bool journal_on();
bool anything_injected();

/* The probe is used (any zsim_* function): the first use starts the journal,
 * which until then records nothing. */
void note_use();

/* Appends a call's line to the journal. */
void record(std::string &&line);
/* Takes the injection waiting for this call of `function`: false when none. */
bool take_injection(const char *function, Injection &out);

/* set_error_handler's registration, kept whatever the call then does: an
 * injected callback and zsim_raise_error call it. */
void keep_error_callback(CallBackFuncType callback);
CallBackFuncType error_callback();

/* Sleeps for at least `milliseconds`. */
void sleep_at_least(int milliseconds);

/* ---- the probe's C interface (probe_api.cpp) -------------------------------- */

/* The journal, the injections and the callback registration forgotten, the
 * journal on: the probe's share of zsim_reset. */
void reset();
void enable_journal(bool on);
std::uint64_t journal_count();
/* Entry `index` (0 = oldest kept); false when there is none. */
bool journal_entry(std::size_t index, std::string &line);
void clear_journal();

/* Changes what waits for the calls `first` to `first + count - 1` of
 * `function` from now on (0 is the next call): change(injection, function)
 * returns 0, or -1 to refuse. -1 for an unknown function (or a refusal). */
int inject(const char *function, std::size_t first, std::size_t count,
           const std::function<int(Injection &, const Function &)> &change);

} // namespace probe
} // namespace zsim

#endif /* ZSIM_EDGE_PROBE_H */

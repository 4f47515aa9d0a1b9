/*
 * The probe core behind every entry point of the stand-in controller library.
 *
 * An entry point opens a zsim::Call with its name and arguments. The Call
 *   1. encodes the arguments into one journal line, one encoder per C type
 *      (arg_traits below), and numbers the out-parameters in argument order;
 *   2. records the line and takes whatever the probe injected for this function;
 *   3. runs the injected callback and delay, then writes the injected out bytes.
 * After that the entry point asks overridden(): true when the probe decided the
 * result (an injected code or out bytes), in which case it returns code() and
 * touches nothing else. Otherwise it runs the controller's own behaviour.
 *
 * Nothing here throws: a failure inside the core turns into kCoreFailure.
 */
#ifndef ZSIM_PROBE_CORE_H
#define ZSIM_PROBE_CORE_H

#include "zandrelAPI.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace zsim {

/* Returned by an entry point when the core itself failed (out of memory). */
constexpr ErrorCode kCoreFailure = -1;

/* ---- argument wrappers --------------------------------------------------- */

/* A text buffer the library fills. Its C type carries no size, so the entry
 * point states the declared one. */
struct OutText {
    char *ptr;
    std::size_t size;
};
inline OutText out_text(char *ptr, std::size_t size) { return {ptr, size}; }

/* create_handler's handle: journaled as the value it holds on entry, and an
 * out-parameter all the same. */
struct HandleOut {
    RobotHandle *ptr;
};
inline HandleOut handle_out(RobotHandle *ptr) { return {ptr}; }

/* ---- JSON writer for one journal line ------------------------------------ */

class Json {
public:
    explicit Json(std::string &out) : out_(out) {}
    void null();
    void integer(long long value);
    void unsigned_integer(unsigned long long value);
    void number(double value); /* shortest round trip; non-finite as strings */
    void text(const char *value); /* escaped string, null for a null pointer */
    void begin_array();
    void end_array();

private:
    void separate();
    std::string &out_;
    bool need_separator_ = false;
};

/* ---- records ----------------------------------------------------------- */

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

/* ---- one encoder per C argument type ------------------------------------- */

/* arg_traits<T>: encode(j, value) writes the journal form. Out-parameters also
 * give their address and declared size. */
template <class>
constexpr bool always_false = false;

template <class T, class = void>
struct arg_traits {
    static_assert(always_false<T>, "no journal encoding for this argument type");
};

struct in_arg {
    static constexpr bool is_out = false;
};

template <class T>
struct arg_traits<T, std::enable_if_t<std::is_integral_v<T>>> : in_arg {
    static void encode(Json &j, T v)
    {
        if constexpr (std::is_signed_v<T>)
            j.integer(v);
        else
            j.unsigned_integer(v);
    }
};

template <>
struct arg_traits<double> : in_arg {
    static void encode(Json &j, double v) { j.number(v); }
};

template <>
struct arg_traits<float> : in_arg {
    static void encode(Json &j, float v) { j.number(static_cast<double>(v)); }
};

template <>
struct arg_traits<const char *> : in_arg {
    static void encode(Json &j, const char *v) { j.text(v); }
};

template <class T>
struct arg_traits<T *, std::enable_if_t<std::is_same_v<T, char>>> {
    static_assert(always_false<T>, "wrap a text out-buffer in zsim::out_text(ptr, size)");
};

/* The only const int32_t pointer the library takes is the caller's handle. */
template <>
struct arg_traits<const RobotHandle *> : in_arg {
    static void encode(Json &j, const RobotHandle *v)
    {
        if (v)
            j.integer(*v);
        else
            j.null();
    }
};

template <class T>
struct arg_traits<const T *, std::enable_if_t<is_record_v<T>>> : in_arg {
    static void encode(Json &j, const T *v)
    {
        if (v)
            put_record(j, *v);
        else
            j.null();
    }
};

template <class T>
struct arg_traits<T, std::enable_if_t<is_record_v<T>>> : in_arg {
    static void encode(Json &j, const T &v) { put_record(j, v); }
};

/* Opaque option pointers: always null from velmo. */
template <>
struct arg_traits<const void *> : in_arg {
    static void encode(Json &j, const void *v)
    {
        if (v)
            j.text("pointer");
        else
            j.null();
    }
};

template <>
struct arg_traits<CallBackFuncType> : in_arg {
    static void encode(Json &j, CallBackFuncType v)
    {
        if (v)
            j.text("callback");
        else
            j.null();
    }
};

struct out_arg {
    static constexpr bool is_out = true;
    template <class T>
    static void encode(Json &j, const T &) { j.text("out"); }
};

/* Any other writable pointer is an out-parameter of sizeof its pointee. */
template <class T>
struct arg_traits<T *, std::enable_if_t<!std::is_const_v<T> && !std::is_same_v<T, char> &&
                                        (std::is_arithmetic_v<T> || std::is_class_v<T>)>>
    : out_arg {
    static void *address(T *v) { return v; }
    static std::size_t size(T *) { return sizeof(T); }
};

template <>
struct arg_traits<OutText> : out_arg {
    static void *address(const OutText &v) { return v.ptr; }
    static std::size_t size(const OutText &v) { return v.size; }
};

template <>
struct arg_traits<HandleOut> : out_arg {
    static void encode(Json &j, const HandleOut &v)
    {
        arg_traits<const RobotHandle *>::encode(j, v.ptr);
    }
    static void *address(const HandleOut &v) { return v.ptr; }
    static std::size_t size(const HandleOut &) { return sizeof(RobotHandle); }
};

/* ---- the call ------------------------------------------------------------ */

struct OutSlot {
    void *ptr;
    std::size_t size;
};

constexpr std::size_t kMaxOuts = 4;

/* True on the thread that is listing the entry points (see describe_entry_points). */
bool describing() noexcept;

/* False after zsim_journal_enable(0): calls are neither encoded nor recorded. */
bool journal_enabled() noexcept;

class Call {
public:
    template <class... A>
    explicit Call(const char *function, const A &...args) noexcept
    {
        static_assert((0 + ... + (arg_traits<A>::is_out ? 1 : 0)) <= kMaxOuts,
                      "raise kMaxOuts");
        (add_out(args), ...);
        if (describing()) {
            describe(function);
            return;
        }
        if (!journal_enabled()) {
            start(function, nullptr, true);
            return;
        }
        std::string line;
        const bool encoded = encode(line, function, args...);
        start(function, &line, encoded);
    }

    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;

    /* The probe decided this call's result: return code() and do nothing else. */
    bool overridden() const noexcept { return overridden_; }
    ErrorCode code() const noexcept { return code_; }

    std::size_t out_count() const noexcept { return out_count_; }
    const OutSlot &out(std::size_t index) const noexcept { return outs_[index]; }
    void zero_outs() const noexcept;

private:
    template <class T>
    void add_out(const T &arg) noexcept
    {
        if constexpr (arg_traits<T>::is_out)
            outs_[out_count_++] = {arg_traits<T>::address(arg), arg_traits<T>::size(arg)};
    }

    template <class... A>
    static bool encode(std::string &line, const char *function, const A &...args) noexcept
    {
        try {
            line.reserve(64);
            line += "{\"fn\": \"";
            line += function; /* a C identifier: nothing to escape */
            line += "\", \"args\": [";
            Json j(line);
            (arg_traits<A>::encode(j, args), ...);
            line += "]}";
            return true;
        } catch (...) {
            return false;
        }
    }

    void describe(const char *function) noexcept;
    /* Records *line (none when null) and applies the pending injection. */
    void start(const char *function, std::string *line, bool encoded) noexcept;

    std::array<OutSlot, kMaxOuts> outs_{};
    std::size_t out_count_ = 0;
    bool overridden_ = false;
    ErrorCode code_ = 0;
};

/* The whole of the stand-in's default behaviour: zero every out-parameter, return 0. */
template <class... A>
ErrorCode call(const char *function, const A &...args) noexcept
{
    Call c(function, args...);
    if (c.overridden())
        return c.code();
    c.zero_outs();
    return 0;
}

/* ---- shared state --------------------------------------------------------- */

/* set_error_handler's registration: kept whatever the probe injects. */
void keep_error_callback(CallBackFuncType callback) noexcept;
CallBackFuncType error_callback() noexcept;

/* Provided by api.cpp. describe_entry_points calls every entry point once with
 * empty arguments while describing() is true, so the probe learns each name and
 * its out-parameter sizes from the entry points themselves. controller_reset is
 * the controller's share of zsim_reset. */
void describe_entry_points();
void controller_reset() noexcept;

} // namespace zsim

#endif /* ZSIM_PROBE_CORE_H */

/*
 * The library's parameters as parser targets: one Arg<> trait per parameter
 * type, saying where the parser writes the value and how it is handed to the
 * library, and the fields of each input record in the order a format fills
 * them.
 */
#ifndef VELMO_ARGUMENTS_H
#define VELMO_ARGUMENTS_H

#include "velmo.h"

#include <tuple>
#include <type_traits>
#include <utility>

namespace velmo {

/* ---- record fields as parser targets ----------------------------------- */

inline auto fields(JointVector &r)
{
    double *v = r.jVal;
    return std::make_tuple(v, v + 1, v + 2, v + 3, v + 4, v + 5);
}
inline auto fields(Translation &t) { return std::make_tuple(&t.x, &t.y, &t.z); }
inline auto fields(RpyAngles &r) { return std::make_tuple(&r.rx, &r.ry, &r.rz); }
inline auto fields(CartPose &p) { return std::tuple_cat(fields(p.tran), fields(p.rpy)); }
inline auto fields(PayloadData &p) { return std::tuple_cat(std::make_tuple(&p.mass), fields(p.centroid)); }
inline auto fields(RotationMatrix &m) { return std::tuple_cat(fields(m.x), fields(m.y), fields(m.z)); }
inline auto fields(QuaternionValue &q) { return std::make_tuple(&q.s, &q.x, &q.y, &q.z); }
inline auto fields(TrajectoryConfig &c)
{
    return std::make_tuple(&c.xyz_interval, &c.rpy_interval, &c.vel, &c.acc);
}
inline auto fields(VelocityComplianceConfig &c)
{
    return std::make_tuple(&c.vc_level, &c.rate1, &c.rate2, &c.rate3, &c.rate4);
}
inline auto fields(ComplianceCondition &c)
{
    return std::make_tuple(&c.fx, &c.fy, &c.fz, &c.tx, &c.ty, &c.tz);
}

/* ---- one trait per library parameter type ------------------------------- */

/* What a parameter takes from a positional call: nothing (outputs, the
 * option pointer), one value, a group of values (a record), or something
 * only the parser decodes (text, other scalar types). */
enum class Shape { none, value, group, parser_only };

/* Scalars: parsed in place, passed by value. */
template <class T>
struct Arg {
    static_assert(std::is_arithmetic<T>::value, "no conversion for this library parameter type");
    static constexpr Shape shape =
        std::is_same<T, double>::value || std::is_same<T, int32_t>::value ? Shape::value : Shape::parser_only;
    T value{};
    auto targets() { return std::make_tuple(&value); }
    T pass() const { return value; }
    std::tuple<> output() { return {}; }
};

/* An input record: parsed field by field, passed by address. */
template <class R>
struct Arg<const R *> {
    static constexpr Shape shape = Shape::group;
    R value{};
    auto targets() { return fields(value); }
    const R *pass() const { return &value; }
    std::tuple<> output() { return {}; }
};

/* A text: the interpreter's UTF-8 buffer, borrowed for the call. */
template <>
struct Arg<const char *> {
    static constexpr Shape shape = Shape::parser_only;
    const char *value = nullptr;
    auto targets() { return std::make_tuple(&value); }
    const char *pass() const { return value; }
    std::tuple<> output() { return {}; }
};

/* The trailing option pointer of the extended moves: always null, never parsed. */
template <>
struct Arg<const void *> {
    static constexpr Shape shape = Shape::none;
    std::tuple<> targets() { return {}; }
    const void *pass() const { return nullptr; }
    std::tuple<> output() { return {}; }
};

/* An input record handed over by value (torque_feedforward). */
template <>
struct Arg<JointVector> {
    static constexpr Shape shape = Shape::group;
    JointVector value{};
    auto targets() { return fields(value); }
    JointVector pass() const { return value; }
    std::tuple<> output() { return {}; }
};

/* An out-parameter: cleared before the call, so a library that fails without
 * writing leaves zeros, never stack garbage. */
template <class R>
struct Arg<R *> {
    static_assert(!std::is_same<R, char>::value, "text buffers need their size: write the method out");
    static constexpr Shape shape = Shape::none;
    R value{};
    std::tuple<> targets() { return {}; }
    R *pass() { return &value; }
    std::tuple<const R &> output() const { return std::tie(value); }
};

/* The parser targets of one Arg, as a tuple type of pointers (double *, int *, ...). */
template <class A>
using Targets = decltype(std::declval<A &>().targets());

} // namespace velmo

#endif /* VELMO_ARGUMENTS_H */

/*
 * What the probe knows of each parameter of a library function, read off the
 * header's parameter types: param<&::name, I>.
 *
 *   a writable pointer to a number or a record   an out-parameter of sizeof its pointee
 *   char *                                       a text out-parameter; the C type has
 *                                                no size, text_capacity gives the
 *                                                contract's (zandrelAPI.h)
 *   anything else                                read by the library, journaled by value
 *
 * create_handler's handle is both: the library writes it, and the journal
 * shows what it held on entry.
 */
#ifndef ZSIM_EDGE_PARAMETERS_H
#define ZSIM_EDGE_PARAMETERS_H

#include "core/json.h"
#include "edge/probe.h"
#include "zandrelAPI.h"

#include <cstddef>
#include <tuple>
#include <type_traits>

namespace zsim {
namespace edge {

template <class F>
struct signature;
template <class... A>
struct signature<ErrorCode (*)(A...)> {
    using params = std::tuple<A...>;
};

template <auto F>
constexpr std::size_t arity = std::tuple_size_v<typename signature<decltype(F)>::params>;

template <auto F, std::size_t I>
using param_t = std::tuple_element_t<I, typename signature<decltype(F)>::params>;

/* The size of text parameter I of F that the library fills. */
template <auto F, std::size_t I>
constexpr std::size_t text_capacity = 0;
template <>
constexpr std::size_t text_capacity<&::get_loaded_program, 1> = ZANDREL_PROGRAM_NAME_SIZE;
template <>
constexpr std::size_t text_capacity<&::get_sdk_version, 1> = ZANDREL_SDK_VERSION_SIZE;
template <>
constexpr std::size_t text_capacity<&::get_controller_ip, 1> = ZANDREL_IP_LIST_SIZE;
template <>
constexpr std::size_t text_capacity<&::get_torque_sensor_comm, 2> = ZANDREL_SENSOR_ADDRESS_SIZE;

/* Out-parameters that the journal shows with the value they hold on entry. */
template <auto F, std::size_t I>
constexpr bool journals_value = false;
template <>
constexpr bool journals_value<&::create_handler, 1> = true;

template <class T>
constexpr bool is_writable_pointer_v =
    std::is_pointer_v<T> && !std::is_const_v<std::remove_pointer_t<T>> && std::is_object_v<std::remove_pointer_t<T>>;

template <auto F, std::size_t I>
struct param {
    using type = param_t<F, I>;
    static constexpr bool is_text = std::is_same_v<type, char *>;
    static constexpr bool is_out = is_writable_pointer_v<type>;
    static constexpr std::size_t out_size = [] {
        if constexpr (is_text)
            return text_capacity<F, I>;
        else if constexpr (is_out)
            return sizeof(std::remove_pointer_t<type>);
        else
            return std::size_t{0};
    }();
    static_assert(!is_text || out_size > 0, "state the text buffer's size in text_capacity");

    static void *address(type v)
    {
        if constexpr (is_out)
            return v;
        else
            return nullptr;
    }

    static void encode(Json &j, type v)
    {
        if constexpr (is_out && !journals_value<F, I>)
            j.text("out");
        else
            probe::encode(j, v);
    }
};

template <auto F, std::size_t... I>
constexpr std::size_t count_outs(std::index_sequence<I...>)
{
    return (std::size_t{0} + ... + (param<F, I>::is_out ? 1 : 0));
}

template <auto F>
constexpr std::size_t out_count()
{
    return count_outs<F>(std::make_index_sequence<arity<F>>{});
}

} // namespace edge
} // namespace zsim

#endif /* ZSIM_EDGE_PARAMETERS_H */

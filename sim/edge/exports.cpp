/*
 * The library's exported functions: the only extern "C" definitions of
 * include/zandrelAPI.h. Each one, expanded from core/library_functions.def,
 * takes its parameter types from the header's declaration and goes through
 * enter() (entry.h): observers, injections, then the core.
 */
#include "edge/entry.h"

/* Parameter lists built from the header's types: a0 .. a8. */
#define ZSIM_P(name, i) zsim::edge::param_t<&::name, i> a##i
#define ZSIM_PARAMS_1(name) ZSIM_P(name, 0)
#define ZSIM_PARAMS_2(name) ZSIM_PARAMS_1(name), ZSIM_P(name, 1)
#define ZSIM_PARAMS_3(name) ZSIM_PARAMS_2(name), ZSIM_P(name, 2)
#define ZSIM_PARAMS_4(name) ZSIM_PARAMS_3(name), ZSIM_P(name, 3)
#define ZSIM_PARAMS_5(name) ZSIM_PARAMS_4(name), ZSIM_P(name, 4)
#define ZSIM_PARAMS_6(name) ZSIM_PARAMS_5(name), ZSIM_P(name, 5)
#define ZSIM_PARAMS_7(name) ZSIM_PARAMS_6(name), ZSIM_P(name, 6)
#define ZSIM_PARAMS_8(name) ZSIM_PARAMS_7(name), ZSIM_P(name, 7)
#define ZSIM_PARAMS_9(name) ZSIM_PARAMS_8(name), ZSIM_P(name, 8)
#define ZSIM_ARGS_1 a0
#define ZSIM_ARGS_2 ZSIM_ARGS_1, a1
#define ZSIM_ARGS_3 ZSIM_ARGS_2, a2
#define ZSIM_ARGS_4 ZSIM_ARGS_3, a3
#define ZSIM_ARGS_5 ZSIM_ARGS_4, a4
#define ZSIM_ARGS_6 ZSIM_ARGS_5, a5
#define ZSIM_ARGS_7 ZSIM_ARGS_6, a6
#define ZSIM_ARGS_8 ZSIM_ARGS_7, a7
#define ZSIM_ARGS_9 ZSIM_ARGS_8, a8

#define ZSIM_FUNCTION(name, count)                                                           \
    ErrorCode name(ZSIM_PARAMS_##count(name))                                                \
    {                                                                                        \
        static_assert(zsim::edge::arity<&::name> == count, "the row's count of parameters"); \
        return zsim::edge::enter<&::name, &zsim::api::name>(#name, ZSIM_ARGS_##count);       \
    }
#include "core/library_functions.def"
#undef ZSIM_FUNCTION

namespace {

/* The probe's table of functions, in header order. */
constexpr zsim::probe::Function kFunctions[] = {
#define ZSIM_FUNCTION(name, count) zsim::edge::describe<&::name>(#name),
#include "core/library_functions.def"
#undef ZSIM_FUNCTION
};

} // namespace

const zsim::probe::Function *zsim::probe::find_function(const char *name)
{
    for (const Function &f : kFunctions)
        if (std::strcmp(f.name, name) == 0)
            return &f;
    return nullptr;
}

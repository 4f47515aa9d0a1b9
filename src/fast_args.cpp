/*
 * The argument fast path: the common calls, decoded without the interpreter's
 * argument parser.
 *
 * It takes formats made of "d", "i", flat groups "(d...)" and "|", and only
 * arguments whose exact type it knows: float and int for "d", int and bool
 * for "i", tuple and list for a group, str keys in a dict for keywords. It
 * runs no Python code (no __index__, __float__, __eq__ or sequence protocol)
 * and raises nothing. For anything else - another type, a wrong count, an
 * unknown or repeated keyword, an int out of range, another format - it
 * answers "not mine" and the caller hands the same arguments to the parser,
 * which writes every target again or raises its own exception.
 *
 * Each format is compiled once into a plan of units, and each keyword list
 * into interned names; both are found by the address of their literal.
 */
#include "fast_values.h"
#include "forward.h"

#include <cstdint>
#include <type_traits>

namespace velmo {

/* "i" writes an int, as the parser does, into an int32_t target. */
static_assert(std::is_same<int, int32_t>::value, "int32_t is int");

namespace {

constexpr int kMaxUnits = 16; /* top-level format units, and keywords, per method */

/* ---- interned keyword names ------------------------------------------------ */

/* Each method's keyword list as interned str objects, found by the list's
 * address. Keyword names in calls are interned by the compiler, so a key is
 * usually the very object kept here. Read and written with the GIL held;
 * the strong references are kept for the life of the process. */
struct KeywordNames {
    const char *const *keywords = nullptr;
    int count = 0;
    PyObject *names[kMaxUnits] = {};
};

constexpr size_t kTableSize = 256;
KeywordNames keyword_table[kTableSize];

const KeywordNames *keyword_names(const char *const *keywords)
{
    size_t slot = (reinterpret_cast<uintptr_t>(keywords) >> 3) % kTableSize;
    for (size_t probe = 0; probe < kTableSize; probe++, slot = (slot + 1) % kTableSize) {
        KeywordNames &entry = keyword_table[slot];
        if (entry.keywords == keywords)
            return &entry;
        if (entry.keywords != nullptr)
            continue;
        KeywordNames made;
        while (keywords[made.count] != nullptr) {
            PyObject *name = made.count < kMaxUnits ? PyUnicode_InternFromString(keywords[made.count]) : nullptr;
            if (name == nullptr) {
                if (PyErr_Occurred())
                    PyErr_Clear();
                for (int i = 0; i < made.count; i++)
                    Py_DECREF(made.names[i]);
                return nullptr;
            }
            made.names[made.count++] = name;
        }
        made.keywords = keywords;
        entry = made;
        return &entry;
    }
    return nullptr;
}

/* The unit a keyword names, or -1. */
int keyword_index(const KeywordNames &kw, PyObject *key)
{
    for (int i = 0; i < kw.count; i++)
        if (kw.names[i] == key)
            return i;
    for (int i = 0; i < kw.count; i++)
        if (PyUnicode_CompareWithASCIIString(key, kw.keywords[i]) == 0)
            return i;
    return -1;
}

/* ---- formats ---------------------------------------------------------------- */

/* A format compiled once: its top-level units, each a 'd', an 'i' or a flat
 * group, with the index of its first target. Found by the format's address,
 * like the keyword names. */
struct Unit {
    enum Kind : unsigned char { Double, Int, Doubles, Mixed } kind;
    unsigned char size;  /* targets: 1, or the group's */
    unsigned char first; /* index of its first target */
    const char *chars;   /* a Mixed group's units */
};

struct Plan {
    const char *format = nullptr;
    bool usable = false; /* false: a format the fast path leaves to the parser */
    Py_ssize_t units = 0, required = 0;
    size_t targets = 0;
    Unit unit[kMaxUnits] = {};
};

Plan plans[kTableSize];

Plan compile(const char *format)
{
    Plan plan;
    plan.format = format;
    plan.required = -1;
    size_t slot = 0;
    for (const char *f = format; *f != '\0';) {
        if (*f == '|') {
            if (plan.required >= 0)
                return plan;
            plan.required = plan.units;
            f++;
            continue;
        }
        if (plan.units == kMaxUnits)
            return plan;
        Unit &u = plan.unit[plan.units++];
        u.first = static_cast<unsigned char>(slot);
        if (*f == 'd' || *f == 'i') {
            u.kind = *f == 'd' ? Unit::Double : Unit::Int;
            u.size = 1;
            f++;
        } else if (*f == '(') {
            const char *units = ++f;
            bool doubles = true;
            for (; *f == 'd' || *f == 'i'; f++)
                doubles = doubles && *f == 'd';
            if (*f != ')' || f == units || f - units > 255)
                return plan; /* nested or empty group, or another unit inside */
            u.kind = doubles ? Unit::Doubles : Unit::Mixed;
            u.size = static_cast<unsigned char>(f - units);
            u.chars = units;
            f++;
        } else {
            return plan; /* a unit the fast path does not decode */
        }
        slot += u.size;
        if (slot > 255)
            return plan;
    }
    if (plan.required < 0)
        plan.required = plan.units;
    plan.targets = slot;
    plan.usable = true;
    return plan;
}

const Plan &plan_of(const char *format)
{
    size_t slot = (reinterpret_cast<uintptr_t>(format) >> 3) % kTableSize;
    for (size_t probe = 0; probe < kTableSize; probe++, slot = (slot + 1) % kTableSize) {
        Plan &entry = plans[slot];
        if (entry.format == format)
            return entry;
        if (entry.format == nullptr)
            return entry = compile(format);
    }
    static const Plan none{}; /* table full: leave every other format to the parser */
    return none;
}

/* ---- values --------------------------------------------------------------- */

inline bool to_double(PyObject *value, void *target) { return fast::take(value, static_cast<double *>(target)); }
inline bool to_int(PyObject *value, void *target) { return fast::take(value, static_cast<int *>(target)); }

/* A group from an exact tuple or list of its length. Items are read by index:
 * nothing here runs code that could change the list. */
bool convert_group(const Unit &u, PyObject *value, void *const *targets)
{
    PyObject *(*item)(PyObject *, Py_ssize_t);
    Py_ssize_t length;
    if (PyTuple_CheckExact(value)) {
        item = PyTuple_GetItem;
        length = PyTuple_Size(value);
    } else if (PyList_CheckExact(value)) {
        item = PyList_GetItem;
        length = PyList_Size(value);
    } else {
        return false;
    }
    if (length != u.size)
        return false;
    if (u.kind == Unit::Doubles) {
        for (Py_ssize_t i = 0; i < length; i++)
            if (!to_double(item(value, i), targets[i]))
                return false;
        return true;
    }
    for (Py_ssize_t i = 0; i < length; i++) {
        PyObject *v = item(value, i);
        if (!(u.chars[i] == 'd' ? to_double(v, targets[i]) : to_int(v, targets[i])))
            return false;
    }
    return true;
}

inline bool convert(const Unit &u, PyObject *value, void *const *targets)
{
    switch (u.kind) {
    case Unit::Double:
        return to_double(value, targets[u.first]);
    case Unit::Int:
        return to_int(value, targets[u.first]);
    default:
        return convert_group(u, value, targets + u.first);
    }
}

/* Keyword arguments: each key an exact str naming a unit that no positional
 * argument fills, and every unit after the positional ones either named or
 * optional. */
[[gnu::noinline]] bool parse_keywords(const Plan &plan, Py_ssize_t nargs, PyObject *kwds,
                                      const char *const *keywords, void *const *targets)
{
    if (keywords == nullptr)
        return false;
    const KeywordNames *kw = keyword_names(keywords);
    if (kw == nullptr || kw->count != plan.units)
        return false;
    PyObject *given[kMaxUnits] = {};
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwds, &position, &key, &value)) {
        if (!PyUnicode_CheckExact(key))
            return false;
        const int unit = keyword_index(*kw, key);
        if (unit < 0 || unit < nargs) /* unknown, or also given by position */
            return false;
        given[unit] = value;
    }
    for (Py_ssize_t u = nargs; u < plan.units; u++) {
        if (given[u] == nullptr) {
            if (u < plan.required)
                return false; /* missing: the parser says which */
        } else if (!convert(plan.unit[u], given[u], targets)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool fast::int_to_double(PyObject *value, double *target)
{
    double d = PyLong_AsDouble(value);
    if (d == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    *target = d;
    return true;
}

bool parse_fast(PyObject *args, PyObject *kwds, const char *format, const char *const *keywords,
                void *const *targets, size_t count)
{
    const Plan &plan = plan_of(format);
    if (!plan.usable || plan.targets != count || !PyTuple_CheckExact(args))
        return false;
    const Py_ssize_t nargs = PyTuple_Size(args);
    if (nargs > plan.units)
        return false;
    for (Py_ssize_t u = 0; u < nargs; u++)
        if (!convert(plan.unit[u], PyTuple_GetItem(args, u), targets))
            return false;
    if (kwds != nullptr) {
        if (!PyDict_CheckExact(kwds))
            return false;
        if (PyDict_Size(kwds) != 0)
            return parse_keywords(plan, nargs, kwds, keywords, targets);
    }
    return nargs >= plan.required;
}

} // namespace velmo

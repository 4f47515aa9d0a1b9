"""velmo decides every call exactly as the interpreter's argument parser does.

For each method whose format has only floats, ints and flat groups (the
calls the argument fast path may take), the outcome of a velmo call - the
exception's type and text, or the values the library receives - must equal
what PyArg_ParseTuple(AndKeywords) makes of the same arguments with the same
format and keywords, and hostile __float__/__index__ hooks must be consulted
as often. True of the build with the fast path and of the one without
(.ci/parser-path.sh runs this file against that build too).
"""

import ctypes
import math
import pathlib
import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from methods_table import BY_NAME, VK
from test_fuzz import values as hostile_values

SRC = pathlib.Path(__file__).resolve().parents[1] / "src"


def formats():
    """{method: format} for the methods that parse through forward()."""
    functions = dict(re.findall(r"RC_METHOD\((\w+), (\w+),", (SRC / "methods.def").read_text()))
    code = "\n".join((SRC / name).read_text() for name in ("operations.cpp", "force.cpp"))
    bodies = re.split(r"\n(?=PyObject \*RC_)", code)
    found = {}
    for method, function in functions.items():
        for body in bodies:
            if body.startswith("PyObject *%s(" % function):
                parse = re.search(r'Parse\(args(?:, kwds)?, FORMAT\("([^"]*)"\)', body)
                if parse:
                    found[method] = parse.group(1)
    return found


FORMATS = formats()
FAST = sorted(m for m, f in FORMATS.items() if re.fullmatch(r"[di()|]+", f) and m in BY_NAME)


def test_the_table_covers_the_servo_and_move_methods():
    assert {"servo_j", "servo_p", "joint_move", "linear_move", "circular_move", "jog"} <= set(FAST)
    assert FORMATS["servo_j"] == "(dddddd)i"


def interpreter_parse(method, args, kwargs):
    """The values PyArg_ParseTuple(AndKeywords) writes for these arguments."""
    fmt = FORMATS[method]
    slots = [ctypes.c_double() if c == "d" else ctypes.c_int() for c in fmt if c in "di"]
    pointers = [ctypes.byref(s) for s in slots]
    api = ctypes.pythonapi
    row = BY_NAME[method]
    if row.kind == VK:
        names = (ctypes.c_char_p * (len(row.keywords) + 1))(*[k.encode() for k in row.keywords], None)
        api.PyArg_ParseTupleAndKeywords(ctypes.py_object(tuple(args)),
                                        ctypes.py_object(kwargs) if kwargs else None,
                                        fmt.encode(), names, *pointers)
    else:
        assert not kwargs
        api.PyArg_ParseTuple(ctypes.py_object(tuple(args)), fmt.encode(), *pointers)
    return [s.value for s in slots]


def flat(values):
    """Numbers in order, records flattened; out-parameters and null options dropped."""
    out = []
    for v in values:
        if isinstance(v, list):
            out += flat(v)
        elif v not in ("out", None):
            out.append(float(v) if isinstance(v, str) else v)  # "nan", "inf", "-inf"
    return ["nan" if isinstance(v, float) and math.isnan(v) else v for v in out]


class Counting:
    """A number that counts how often the parser asks it for its value."""

    calls = 0

    def __init__(self, value):
        self.value = value

    def __float__(self):
        Counting.calls += 1
        return float(self.value)

    def __index__(self):
        Counting.calls += 1
        return int(self.value)


def outcome(call):
    Counting.calls = 0
    try:
        result = ("ok", call())
    except Exception as e:  # the parser's own exceptions, or the hostile objects'
        result = ("raised", type(e), str(e))
    return result, Counting.calls


numbers = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True), st.integers(-2 ** 70, 2 ** 70), st.booleans(),
    st.sampled_from([2 ** 31 - 1, 2 ** 31, -2 ** 31, -2 ** 31 - 1, 2 ** 63, 2 ** 1100, -0.0]),
    st.builds(Counting, st.integers(-5, 5)))
groups = st.one_of(st.lists(numbers, min_size=2, max_size=7),
                   st.lists(numbers, min_size=2, max_size=7).map(tuple))
items = st.one_of(numbers, groups, hostile_values)
keywords = st.sampled_from(sorted({k for m in FAST for k in (BY_NAME[m].keywords or ())}) + ["colour"])


def compare(rc, sim, method, args, kwargs):
    sim.inject(method, 0)  # the controller returns at once, whatever the call asks
    sim.clear()
    got, got_calls = outcome(lambda: (getattr(rc, method)(*args, **kwargs), sim.journal()))
    expected, expected_calls = outcome(lambda: interpreter_parse(method, args, kwargs))
    assert got_calls == expected_calls
    if expected[0] == "raised":
        assert got == expected and sim.journal() == []
    else:
        assert got[0] == "ok", got
        result, [entry] = got[1]
        assert result[0] == 0 and entry["fn"] == method
        assert flat(entry["args"][1:]) == flat(expected[1])


fuzz = settings(max_examples=60, deadline=None, suppress_health_check=list(HealthCheck))


@pytest.mark.parametrize("method", FAST)
def test_random_calls(rc, sim, method):
    row = BY_NAME[method]
    kwarg_st = (st.dictionaries(st.one_of(st.sampled_from(row.keywords), keywords), items, max_size=4)
                if row.kind == VK else st.just({}))
    units = len(re.findall(r"\([di]*\)|[di]", FORMATS[method]))

    @fuzz
    @given(args=st.lists(items, max_size=units + 1), kwargs=kwarg_st)
    def check(args, kwargs):
        compare(rc, sim, method, args, kwargs)

    check()


@pytest.mark.parametrize("method", FAST)
def test_calls_near_a_valid_one(rc, sim, method):
    """The sample call, split between positions and keywords, then changed once."""
    row = BY_NAME[method]
    n = len(row.args)

    @fuzz
    @given(data=st.data())
    def check(data):
        args = list(row.args)
        if data.draw(st.booleans()):
            args[data.draw(st.integers(0, n - 1))] = data.draw(items)
        split = data.draw(st.integers(0, n)) if row.kind == VK else n
        positional, kwargs = args[:split], dict(zip(row.keywords or (), args))
        kwargs = {k: kwargs[k] for k in (row.keywords or ())[split:]}
        change = data.draw(st.sampled_from(["none", "drop", "extra", "name twice", "unknown name"]))
        if change == "drop" and (positional or kwargs):
            positional, kwargs = (positional[:-1], kwargs) if not kwargs else (positional, dict(list(kwargs.items())[:-1]))
        elif change == "extra":
            positional.append(data.draw(items))
        elif change == "name twice" and row.kind == VK and positional:
            kwargs[row.keywords[data.draw(st.integers(0, len(positional) - 1))]] = data.draw(items)
        elif change == "unknown name" and row.kind == VK:
            kwargs["colour"] = 1
        if row.kind != VK:
            positional, kwargs = positional + list(kwargs.values()), {}
        compare(rc, sim, method, positional, kwargs)

    check()

"""Arguments of every kind for every method: a result of the documented
shape, or a clean exception and no library call. Never a crash or a
SystemError."""

import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import velmo
from methods_table import OUT, ROWS


class Boom(Exception):
    """Raised by the hostile objects below, so the test can tell it apart."""


class BadFloat:
    def __float__(self):
        raise Boom("float")


class BadIndex:
    def __index__(self):
        raise Boom("index")

    def __int__(self):
        raise Boom("int")


class BadSequence:
    def __len__(self):
        return 6

    def __getitem__(self, index):
        raise Boom("item")


scalars = st.one_of(
    st.none(), st.booleans(),
    st.integers(min_value=-2 ** 70, max_value=2 ** 70),
    st.floats(allow_nan=True, allow_infinity=True),
    st.text(max_size=40), st.text(alphabet="ab\0", max_size=5), st.binary(max_size=10),
    st.sampled_from([BadFloat(), BadIndex(), BadSequence(), object(), math.pi]),
)
values = st.recursive(scalars, lambda inner: st.one_of(st.lists(inner, max_size=8),
                                                       st.lists(inner, max_size=8).map(tuple)), max_leaves=20)

ALLOWED = (TypeError, ValueError, OverflowError, Boom)


def result_lengths(row):
    if row.always:
        return {row.always}
    if OUT not in row.lib_args:
        return {1}
    return {1, 3} if row.name in ("get_tool_data", "get_user_frame_data") else {1, 2}


def check_call(sim, robot, row, args, kwargs):
    sim.clear()
    method = getattr(robot, row.name)
    try:
        result = method(*args, **kwargs)
    except ALLOWED:
        assert sim.journal() == [], "a rejected call reached the library"
        return
    assert type(result) is tuple and type(result[0]) is int
    assert len(result) in result_lengths(row)
    assert len(sim.journal()) == 1


fuzz_settings = settings(max_examples=25, deadline=None, suppress_health_check=list(HealthCheck))


@pytest.mark.parametrize("row", ROWS, ids=[row.name for row in ROWS])
def test_positional_fuzz(sim, row):
    robot = velmo.RC("10.9.9.9")

    @fuzz_settings
    @given(args=st.lists(values, max_size=8))
    def run(args):
        sim.inject(row.name, 0)
        check_call(sim, robot, row, args, {})

    run()


@pytest.mark.parametrize("row", [r for r in ROWS if r.kind == "VK"], ids=lambda r: r.name)
def test_keyword_fuzz(sim, row):
    robot = velmo.RC("10.9.9.9")
    names = st.sampled_from(list(row.keywords or ()) + ["speed", "x", "joint_pos", ""])

    @fuzz_settings
    @given(args=st.lists(values, max_size=4), kwargs=st.dictionaries(names, values, max_size=6))
    def run(args, kwargs):
        sim.inject(row.name, 0)
        check_call(sim, robot, row, args, kwargs)

    run()


@pytest.mark.parametrize("row", [r for r in ROWS if r.args and not r.ignores_args], ids=lambda r: r.name)
def test_one_bad_item_in_a_valid_call(sim, row):
    """Each argument of a valid call, replaced by a hostile value in turn."""
    robot = velmo.RC("10.9.9.9")

    @fuzz_settings
    @given(position=st.integers(0, len(row.args) - 1), bad=values)
    def run(position, bad):
        args = list(row.args)
        args[position] = bad
        sim.inject(row.name, 0)
        check_call(sim, robot, row, args, {})

    run()


@fuzz_settings
@given(callable_=st.one_of(values, st.just(lambda x, y: x)), x=values, y=values)
def test_call_func_fuzz(callable_, x, y):
    robot = velmo.RC("10.9.9.9")
    try:
        result = robot.call_func(callable_, x, y)
    except ALLOWED:
        return
    assert isinstance(result, float)


@fuzz_settings
@given(handler=values)
def test_error_handler_fuzz(sim, handler):
    robot = velmo.RC("10.9.9.9")
    with pytest.raises(TypeError):
        robot.set_error_handler(handler)

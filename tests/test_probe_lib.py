"""The virtual controller's probe: the journal's exact text, injections it
refuses, and what only a caller that bypasses velmo can see (null pointers,
calls that run while others wait). The method tests rely on the probe for
everything else: every function's journal entry and injected results.

ctypes calls release the interpreter lock, so the threads here are really
inside the library at the same time; velmo's calls keep the lock."""

import ctypes as C
import struct
import threading

import pytest

import velmo

from simkit import wait_until

Callback = C.CFUNCTYPE(None, C.c_int32)


def doubles(*values):
    return (C.c_double * len(values))(*values)


@pytest.fixture
def lib(sim):
    """The library velmo loaded. Its functions declare no argument types here,
    so the tests pass doubles and floats as ctypes objects."""
    return sim.lib


@pytest.fixture
def handle(rc):
    return C.byref(C.c_int32(rc.handle))


VELOCITY = struct.pack("<i4x4d", 3, 0.5, 1.5, 2.5, 3.5)

# a call (h: the logged-in handle), and its journal line; the handle is 1 after a reset
LINES = [
    (lambda lib, h: lib.program_load(h, b'q"b\\s'), rb'"program_load", "args": [1, "q\"b\\s"]'),
    (lambda lib, h: lib.program_load(h, b"\n\t\x01\x1f ~"),
     rb'"program_load", "args": [1, "\u000a\u0009\u0001\u001f ~"]'),
    (lambda lib, h: lib.program_load(h, b"\xc3\xa9\x80\x7f\xff"),  # bytes go through as they are
     b'"program_load", "args": [1, "\xc3\xa9\x80\x7f\xff"]'),
    (lambda lib, h: lib.program_load(h, None), b'"program_load", "args": [1, null]'),
    (lambda lib, h: lib.power_on(C.POINTER(C.c_int32)()), b'"power_on", "args": [null]'),
    (lambda lib, h: lib.joint_move(h, None, 0, 1, C.c_double(2.0)), b'"joint_move", "args": [1, null, 0, 1, 2]'),
    (lambda lib, h: lib.circular_move(h, doubles(1, 2, 3, 0.5, -0.25, 6), None, 0, 1, C.c_double(1.5),
                                      C.c_double(2), C.c_double(0.1), doubles(*range(6))),
     b'"circular_move", "args": [1, [1, 2, 3, 0.5, -0.25, 6], null, 0, 1, 1.5, 2, 0.1, "pointer"]'),
    (lambda lib, h: lib.get_controller_ip(None, C.create_string_buffer(3000)),
     b'"get_controller_ip", "args": [null, "out"]'),
    (lambda lib, h: lib.create_handler(b"10.0.0.2", None), b'"create_handler", "args": ["10.0.0.2", null]'),
    (lambda lib, h: lib.set_error_handler(h, None), b'"set_error_handler", "args": [1, null]'),
    (lambda lib, h: lib.set_vel_compliant_ctrl(h, C.create_string_buffer(VELOCITY, len(VELOCITY))),
     b'"set_vel_compliant_ctrl", "args": [1, [3, 0.5, 1.5, 2.5, 3.5]]'),
    # floats are widened exactly; doubles are written in the fewest digits that read back the same
    (lambda lib, h: lib.set_analog_output(h, 1, 2, C.c_float(16777217.0)),
     b'"set_analog_output", "args": [1, 1, 2, 16777216]'),
    (lambda lib, h: lib.set_analog_output(h, 1, 2, C.c_float(float("nan"))),
     b'"set_analog_output", "args": [1, 1, 2, "nan"]'),
    (lambda lib, h: lib.set_rapidrate(h, C.c_double(1 / 3)), b'"set_rapidrate", "args": [1, 0.3333333333333333]'),
    (lambda lib, h: lib.set_rapidrate(h, C.c_double(-0.0)), b'"set_rapidrate", "args": [1, -0.0]'),
    (lambda lib, h: lib.set_rapidrate(h, C.c_double(5e-324)), b'"set_rapidrate", "args": [1, 5e-324]'),
    (lambda lib, h: lib.jog(h, -2 ** 31, 2 ** 31 - 1, 0, C.c_double(float("-inf")), C.c_double(-1.0)),
     b'"jog", "args": [1, -2147483648, 2147483647, 0, "-inf", -1]'),
]


def line_id(n):
    return "%d-%s" % (n, LINES[n][1].split(b'"')[1].decode())


@pytest.mark.parametrize("call, line", LINES, ids=[line_id(n) for n in range(len(LINES))])
def test_journal_line(lib, handle, sim, call, line):
    call(lib, handle)
    assert sim.entry(0).encode("utf-8", "surrogateescape") == b'{"fn": ' + line + b"}"


@pytest.mark.parametrize("size", [0, 1, 2, 10, "full", "full+1", 4096])
def test_entry_is_cut_to_size_and_ended(lib, handle, sim, size):
    lib.program_load(handle, b"cell.prog")
    line = b'{"fn": "program_load", "args": [1, "cell.prog"]}'
    size = {"full": len(line), "full+1": len(line) + 1}.get(size, size)
    buf = C.create_string_buffer(b"\xee" * 4100, 4100)
    assert lib.zsim_journal_entry(0, buf, size) == len(line)
    kept = min(len(line), max(size - 1, 0))
    want = line[:kept] + (b"\0" if size > 0 else b"")
    assert buf.raw[:len(want) + 4] == want + b"\xee" * 4


def test_journal_keeps_at_least_the_last_1024_calls(rc, sim):
    total = 5000
    for i in range(total):
        rc.set_tool_id(i)
    assert sim.count() == total
    kept = [e["args"][1] for e in sim.journal()]
    assert len(kept) >= 1024 and kept == list(range(total - len(kept), total))
    assert sim.entry(len(kept)) is None and sim.entry(-1) is None


def test_clear_keeps_injections_and_probe_calls_are_not_recorded(rc, sim):
    rc.power_on()
    sim.inject("power_on", 1)
    sim.inject("power_on", 2)  # a later injection replaces an earlier one
    sim.inject_out("get_tool_id", 0, struct.pack("<i", 10))
    sim.inject_out("get_tool_id", 0, struct.pack("<i", 20))
    sim.raise_error(1, 0)
    assert sim.count() == 1
    sim.clear()
    assert sim.count() == 0 and sim.journal() == []
    assert rc.power_on() == (2,) and rc.get_tool_id() == (0, 20)
    assert sim.journal() == [{"fn": "power_on", "args": [rc.handle]}, {"fn": "get_tool_id", "args": [rc.handle, "out"]}]


@pytest.mark.parametrize("method, args", [
    ("inject", ("no_such_call", 1)),
    ("inject", ("zsim_reset", 1)),
    ("inject", ("Power_on", 1)),
    ("inject_out", ("no_such_call", 0, b"x")),
    ("inject_out", ("power_on", 0, b"x")),               # has no out-parameter
    ("inject_out", ("get_tool_id", 1, b"x")),
    ("inject_out", ("get_torque_sensor_comm", 3, b"x")),
    ("inject_out", ("get_tool_id", -1, b"x")),
    ("inject_callback", ("no_such_call", 1)),
    ("inject_delay", ("no_such_call", 10)),
])
def test_unknown_function_or_out_index_is_refused(rc, sim, method, args):
    with pytest.raises(ValueError):
        getattr(sim, method)(*args)
    assert rc.power_on() == (0,) and rc.get_tool_id() == (0, 0)  # nothing was injected


def test_raise_error_needs_a_callback_and_a_known_mode(rc, sim):
    assert [sim.raise_error(1, mode) for mode in (0, 1, 2)] == [-1, -1, -1]
    codes = []
    rc.set_error_handler(codes.append)
    assert sim.raise_error(1, 3) == -1 and codes == []


@pytest.mark.parametrize("trigger", ["inject_callback", "raise_error"])
def test_callback_may_call_into_the_library(lib, handle, sim, trigger):
    """The library holds no lock while the callback runs."""
    def reenter(code):
        lib.zsim_inject(b"power_off", code)
        lib.power_on(handle)
    inner = Callback(reenter)
    lib.set_error_handler(handle, inner)

    def outer():
        if trigger == "inject_callback":
            lib.zsim_inject_callback(b"get_tool_id", 8)
            lib.get_tool_id(handle, C.byref(C.c_int32()))
        else:
            lib.zsim_raise_error(8, 0)
    worker = threading.Thread(target=outer, daemon=True)
    worker.start()
    worker.join(10)
    assert not worker.is_alive(), "deadlocked inside the callback"
    assert sim.journal()[-1]["fn"] == "power_on"
    assert lib.power_off(handle) == 8


def test_a_delay_holds_only_the_delayed_call(lib, handle, sim):
    sim.inject_delay("power_on", 1000)
    done = []
    worker = threading.Thread(target=lambda: done.append(lib.power_on(handle)))
    worker.start()
    assert wait_until(lambda: sim.count() == 1)  # the delayed call has begun
    assert lib.get_tool_id(handle, C.byref(C.c_int32())) == 0  # answered meanwhile
    assert worker.is_alive() and done == []
    worker.join()
    assert done == [0]


def test_concurrent_calls_are_all_recorded_whole(lib, handle, sim):
    pose = doubles(1, 2, 3, 0.5, -0.25, 6)

    def work(n):
        for i in range(300):
            lib.set_tool_data(handle, n * 1000 + i, pose, b"tool-%d" % n)
    workers = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert sim.count() == 1200
    ids = sorted(e["args"][1] for e in sim.journal())
    assert ids == sorted(n * 1000 + i for n in range(4) for i in range(300))


# ---- queued injections, the last error, method names -----------------------------------

@pytest.mark.parametrize("injections, codes", [
    ([dict(times=3)], [17, 17, 17, 0, 0]),
    ([dict(skip=2)], [0, 0, 17, 0, 0]),                        # only the third call
    ([dict(times=2, skip=1)], [0, 17, 17, 0, 0]),
    ([dict(), dict(skip=2)], [17, 0, 17, 0, 0]),               # the next call and the third
    ([dict(times=4), dict(skip=1, code=5)], [17, 5, 17, 17, 0]),  # a later injection for one call wins
])
def test_queued_injections_reach_exactly_the_calls_they_name(rc, sim, injections, codes):
    for spec in injections:
        spec = dict(spec)
        sim.inject("get_tool_id", spec.pop("code", 17), **spec)
    assert [rc.get_tool_id()[0] for _ in codes] == codes


@pytest.mark.parametrize("spec", [dict(times=0), dict(skip=-1), dict(times=-2, skip=1)])
def test_a_queue_that_names_no_call_is_refused(rc, sim, spec):
    with pytest.raises(ValueError):
        sim.inject("get_tool_id", 17, **spec)
    assert [rc.get_tool_id() for _ in range(3)] == [(0, 0)] * 3


def test_an_injected_failure_is_the_controllers_last_error(rc, sim):
    sim.inject("power_on", 6)
    assert rc.power_on() == (6,)
    assert rc.get_last_error() == (0, (6, "target or path out of reach"))
    sim.inject("power_on", 0)                        # an injected success leaves it alone
    assert rc.power_on() == (0,) and rc.get_last_error()[1][0] == 6
    rc.clear_error()
    sim.inject("get_last_error", 3)                  # the failing getter itself reports nothing
    assert rc.get_last_error() == (3,) and rc.get_last_error() == (0, (3, "the arm is not powered"))


def test_velmo_method_names_reach_their_library_functions(sim):
    robot = velmo.RC("10.9.9.9")
    sim.inject("login", 13)
    assert robot.login() == (13,) and robot.login() == (0,)
    logins = sim.calls("login")
    assert logins == sim.calls("create_handler") and [address for address, _ in logins] == ["10.9.9.9"] * 2
    sim.inject("logout", 2)
    assert robot.logout() == (2,)
    assert sim.calls("logout") == [[robot.handle]]

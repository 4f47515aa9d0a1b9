"""The stand-in libzandrelAPI's probe, driven directly through ctypes.

Signatures and record sizes are read from include/zandrelAPI.h, so every one of
the library's functions is exercised against the header it must match.
"""
import ctypes as C
import json
import math
import os
import pathlib
import re
import struct
import threading
import time

import pytest

LIB_PATH = os.environ.get("ZANDREL_LIB")
if not LIB_PATH:
    import zandrel_sim  # the library installed beside velmo

    LIB_PATH = zandrel_sim.library_path()

HEADER = (pathlib.Path(__file__).resolve().parents[1] / "include" / "zandrelAPI.h").read_text()
SIZES = {name: int(size) for name, size in re.findall(r"ZANDREL_SIZE\((\w+), (\d+)\)", HEADER)}
SIZES.update(int32_t=4, uint32_t=4, int64_t=8, float=4, double=8, RobotHandle=4,
             LastErrorRecord=C.sizeof(C.c_long) + 120)
TEXT_SIZES = {name: int(size) for name, size in re.findall(r"(?:/\* |; )(\w+): (\d+) bytes", HEADER)}


class JointVector(C.Structure):
    _fields_ = [("jVal", C.c_double * 6)]


Callback = C.CFUNCTYPE(None, C.c_int32)


def parse_params(text):
    """(kind, type, name) per parameter of one declaration."""
    params = []
    for p in " ".join(text.split()).split(", "):
        ctype, name = re.match(r"(.*?)\s*(\w+)$", p).groups()
        ctype = ctype.replace(" *", "*")
        if ctype == "const RobotHandle*":
            kind = "handle"
        elif ctype == "const char*":
            kind = "text"
        elif ctype == "const void*":
            kind = "option"
        elif ctype.startswith("const "):
            kind = "record"
        elif ctype.endswith("*"):
            kind = "out"
        else:
            kind = {"int32_t": "int", "double": "double", "float": "float",
                    "JointVector": "value", "CallBackFuncType": "callback"}[ctype]
        params.append((kind, ctype.replace("const ", "").rstrip("*"), name))
    return params


FUNCTIONS = {name: parse_params(params) for name, params in
             re.findall(r"ZANDREL_API ErrorCode (\w+)\(([^)]*)\);", HEADER)}
CTYPES = {"handle": C.POINTER(C.c_int32), "text": C.c_char_p, "option": C.c_void_p,
          "record": C.c_void_p, "out": C.c_void_p, "int": C.c_int32, "double": C.c_double,
          "float": C.c_float, "value": JointVector, "callback": C.c_void_p}


def out_size(ctype, name):
    return TEXT_SIZES[name] if ctype == "char" else SIZES[ctype]


@pytest.fixture(scope="module")
def lib():
    lib = C.CDLL(LIB_PATH)
    for name, params in FUNCTIONS.items():
        getattr(lib, name).argtypes = [CTYPES[kind] for kind, _, _ in params]
        getattr(lib, name).restype = C.c_int32
    lib.zsim_journal_entry.argtypes = [C.c_int, C.c_void_p, C.c_int]
    lib.zsim_inject_out.argtypes = [C.c_char_p, C.c_int, C.c_char_p, C.c_int]
    return lib


def open_handle_five(lib):
    """Handles count from 1 after a reset: the fifth is the one the tests use."""
    handle = C.c_int32()
    for _ in range(5):
        assert lib.create_handler(b"10.0.0.5", C.byref(handle)) == 0
    assert handle.value == 5
    lib.zsim_journal_clear()


@pytest.fixture(autouse=True)
def fresh(lib):
    lib.zsim_reset()
    open_handle_five(lib)
    yield
    lib.zsim_reset()


def entry_bytes(lib, index):
    size = lib.zsim_journal_entry(index, None, 0)
    buf = C.create_string_buffer(size + 1)
    assert lib.zsim_journal_entry(index, buf, size + 1) == size
    return buf.raw[:size]


def journal(lib):
    lines = []
    while lib.zsim_journal_entry(len(lines), None, 0) >= 0:
        lines.append(json.loads(entry_bytes(lib, len(lines))))
    return lines


def last_args(lib, function):
    entry = journal(lib)[-1]
    assert entry["fn"] == function
    return entry["args"]


HANDLE = C.c_int32(5)
H = C.byref(HANDLE)


class Outs:
    """Out buffers for one call, pre-filled with 0xAA and followed by guard bytes."""

    GUARD = 8

    def __init__(self, function):
        self.sizes = [out_size(t, n) for k, t, n in FUNCTIONS[function] if k == "out"]
        self.bufs = [C.create_string_buffer(b"\xaa" * (s + self.GUARD), s + self.GUARD)
                     for s in self.sizes]

    def snapshot(self):
        self.before = [b.raw for b in self.bufs]

    def untouched(self):
        return [b.raw for b in self.bufs] == self.before

    def declared(self, i):
        return self.bufs[i].raw[:self.sizes[i]]

    def guard(self, i):
        return self.bufs[i].raw[self.sizes[i]:]


def sample_call(lib, function):
    """Calls `function` with a distinct value at each position; returns (code, outs, expected)."""
    outs, args, expected, keep, out_index = Outs(function), [], [], [], 0
    for i, (kind, ctype, _) in enumerate(FUNCTIONS[function]):
        if kind == "handle":
            args.append(H), expected.append(HANDLE.value)
        elif kind == "out":
            buf, out_index = outs.bufs[out_index], out_index + 1
            if ctype == "RobotHandle":  # create_handler's handle: journaled by value
                buf[:4] = struct.pack("<i", -9)
            args.append(buf), expected.append(-9 if ctype == "RobotHandle" else "out")
        elif kind == "int":
            args.append(100 + i), expected.append(100 + i)
        elif kind in ("double", "float"):
            args.append(i + 0.25), expected.append(i + 0.25)
        elif kind == "text":
            args.append(b"t%d" % i), expected.append("t%d" % i)
        elif kind in ("record", "value"):
            fields = [i + f / 8 for f in range(SIZES[ctype] // 8)]  # all 8-byte fields
            if ctype == "VelocityComplianceConfig":
                fields[0] = i
                raw = struct.pack("<i4x4d", *fields)
            else:
                raw = struct.pack("<%dd" % len(fields), *fields)
            buf = C.create_string_buffer(raw, len(raw))
            keep.append(buf)
            args.append(JointVector.from_buffer_copy(raw) if kind == "value" else buf)
            expected.append(fields)
        else:  # option, callback
            args.append(None), expected.append(None)
    outs.snapshot()
    return getattr(lib, function)(*args), outs, expected


def test_header_lists_the_whole_contract():
    assert len(FUNCTIONS) == 109
    assert set(TEXT_SIZES) == {"file", "version", "ip_list", "ip_addr"}


@pytest.mark.parametrize("function", sorted(FUNCTIONS))
def test_every_function_records_and_takes_injections(lib, function):
    """Whatever the controller answers, the call is journaled and nothing is
    written past an out-parameter's declared size; an injected code wins."""
    _, outs, expected = sample_call(lib, function)
    assert journal(lib) == [{"fn": function, "args": expected}]
    for i in range(len(outs.sizes)):
        assert outs.guard(i) == b"\xaa" * Outs.GUARD, "wrote past out %d" % i

    n_outs = len(outs.sizes)
    assert lib.zsim_inject_out(function.encode(), n_outs, b"x", 1) == -1
    assert lib.zsim_inject(function.encode(), 7) == 0
    code, outs, _ = sample_call(lib, function)
    assert code == 7 and outs.untouched()


@pytest.mark.parametrize("value", [
    0.1, 1 / 3, -2.5, 123.0, 1e16, 1e300, -1e-300, 5e-324, 2.2250738585072014e-308,
    2.0 ** 53 + 2, 0.30000000000000004, -0.0, 1.7976931348623157e308])
def test_double_is_shortest_round_trip(lib, value):
    lib.set_rapidrate(H, value)
    raw = entry_bytes(lib, 0)
    token = json.loads(raw, parse_float=str, parse_int=str)["args"][1]
    assert float(token).hex() == value.hex()

    def digits(text):
        return text.lower().split("e")[0].lstrip("-").replace(".", "").strip("0")
    assert digits(token) == digits(repr(value))


@pytest.mark.parametrize("value, expected", [
    (0.1, 0.10000000149011612),
    (1 / 3, struct.unpack("<f", struct.pack("<f", 1 / 3))[0]),
    (16777217.0, 16777216.0),
    (-3.0e38, struct.unpack("<f", struct.pack("<f", -3.0e38))[0]),
    (float("inf"), "inf"), (float("-inf"), "-inf"), (float("nan"), "nan")])
def test_float_is_widened_exactly(lib, value, expected):
    lib.set_analog_output(H, 1, 2, value)
    assert last_args(lib, "set_analog_output") == [5, 1, 2, expected]


@pytest.mark.parametrize("text, encoded", [
    (b"plain name", b'"plain name"'),
    (b'q"b\\s', b'"q\\"b\\\\s"'),
    (b"\n\t\x01\x1f ~", b'"\\u000a\\u0009\\u0001\\u001f ~"'),
    (b"\xc3\xa9\x80\x7f\xff", b'"\xc3\xa9\x80\x7f\xff"'),
    (b"", b'""'),
    (None, b"null")])
def test_text_is_json_escaped(lib, text, encoded):
    lib.program_load(H, text)
    assert entry_bytes(lib, 0) == b'{"fn": "program_load", "args": [5, ' + encoded + b"]}"


def doubles(*values):
    return (C.c_double * len(values))(*values)


POSE, MID = doubles(1, 2, 3, 0.5, -0.25, 6), doubles(-1, -2, -3, 4, 5, 6.5)
VEL = C.create_string_buffer(struct.pack("<i4x4d", 3, 0.5, 1.5, 2.5, 3.5), 40)
CB = Callback(lambda code: None)
NULL_HANDLE = C.POINTER(C.c_int32)()


@pytest.mark.parametrize("function, args, expected", [
    ("linear_move", (H, POSE, 1, 0, 10.0), [5, [1, 2, 3, 0.5, -0.25, 6], 1, 0, 10]),
    ("circular_move", (H, POSE, MID, 0, 1, 1.5, 2.0, 0.1, None),
     [5, [1, 2, 3, 0.5, -0.25, 6], [-1, -2, -3, 4, 5, 6.5], 0, 1, 1.5, 2, 0.1, None]),
    ("circular_move", (H, POSE, None, 0, 1, 1.5, 2.0, 0.1, MID),
     [5, [1, 2, 3, 0.5, -0.25, 6], None, 0, 1, 1.5, 2, 0.1, "pointer"]),
    ("joint_move", (H, None, 0, 1, 2.0), [5, None, 0, 1, 2]),
    ("rot_matrix_to_rpy", (H, doubles(*range(1, 10)), doubles(0, 0, 0)),
     [5, list(range(1, 10)), "out"]),
    ("set_vel_compliant_ctrl", (H, VEL), [5, [3, 0.5, 1.5, 2.5, 3.5]]),
    ("set_payload", (H, doubles(1.5, -1, 0, 2)), [5, [1.5, -1, 0, 2]]),
    ("torque_feedforward", (H, JointVector((C.c_double * 6)(1, 2, 3, 4, 5, 6.5)), -1),
     [5, [1, 2, 3, 4, 5, 6.5], -1]),
    ("kine_inverse", (H, doubles(*range(6)), POSE, doubles(*range(6))),
     [5, [0, 1, 2, 3, 4, 5], [1, 2, 3, 0.5, -0.25, 6], "out"]),
    ("set_admit_ctrl_config", (H, 2, -3, 1.5, 2.5, 4, 3.5), [5, 2, -3, 1.5, 2.5, 4, 3.5]),
    ("set_error_handler", (H, CB), [5, "callback"]),
    ("set_error_handler", (H, None), [5, None]),
    ("get_controller_ip", (b"cell-2", C.create_string_buffer(3000)), ["cell-2", "out"]),
    ("get_controller_ip", (None, C.create_string_buffer(3000)), [None, "out"]),
    ("create_handler", (b"10.0.0.2", None), ["10.0.0.2", None]),
    ("power_on", (NULL_HANDLE,), [None]),
    ("jog", (H, -2147483648, 2147483647, 0, 0.5, -1.0), [5, -2147483648, 2147483647, 0, 0.5, -1]),
    ("jog", (H, 1, 2, 3, math.nan, -math.inf), [5, 1, 2, 3, "nan", "-inf"]),
    ("servo_move_use_joint_NLF", (H, math.inf, 0.0, math.nan), [5, "inf", 0, "nan"]),
])
def test_argument_encoding(lib, function, args, expected):
    getattr(lib, function)(*args)
    assert last_args(lib, function) == expected


def test_record_fields_keep_their_number_type(lib):
    lib.set_vel_compliant_ctrl(H, VEL)
    level, *rates = last_args(lib, "set_vel_compliant_ctrl")[1]
    assert type(level) is int and all(type(r) is float for r in rates)


def test_handle_is_journaled_as_it_was_on_entry_and_numbered_from_one(lib):
    lib.zsim_reset()
    handle = C.c_int32(-5)
    written = []
    for _ in range(3):
        assert lib.create_handler(b"10.0.0.2", C.byref(handle)) == 0
        written.append(handle.value)
    assert written == [1, 2, 3]
    assert [e["args"][1] for e in journal(lib)] == [-5, 1, 2]
    lib.zsim_reset()
    lib.create_handler(b"10.0.0.2", C.byref(handle))
    assert handle.value == 1


@pytest.mark.parametrize("function, index, data, declared", [
    ("get_sdk_version", 0, b"v1.2", 80),
    ("get_sdk_version", 0, bytes(range(80)), 80),
    ("get_sdk_version", 0, bytes(range(200)), 80),
    ("get_loaded_program", 0, b"z" * 150, 100),
    ("get_controller_ip", 0, b"1" * 4000, 3000),
    ("get_torque_sensor_comm", 0, b"\x01\x02\x03\x04\x05", 4),
    ("get_torque_sensor_comm", 1, b"192.168.7.7\0" + b"#" * 30, 20),
    ("get_torque_sensor_comm", 2, b"\x10\x27", 4),
    ("get_tcp_position", 0, struct.pack("<6d", *range(6)), 48),
    ("create_handler", 0, struct.pack("<i", 42), 4),
])
def test_injected_out_bytes_are_clipped_and_others_untouched(lib, function, index, data, declared):
    assert lib.zsim_inject_out(function.encode(), index, data, len(data)) == 0
    code, outs, _ = sample_call(lib, function)
    assert code == 0
    n = min(len(data), declared)
    assert outs.declared(index) == data[:n] + b"\xaa" * (declared - n)
    assert outs.guard(index) == b"\xaa" * Outs.GUARD
    others = [i for i in range(len(outs.sizes)) if i != index]
    assert all(outs.bufs[i].raw == outs.before[i] for i in others)


@pytest.mark.parametrize("probe, args", [
    ("zsim_inject", (b"no_such_call", 1)),
    ("zsim_inject", (b"zsim_reset", 1)),
    ("zsim_inject", (b"Power_on", 1)),
    ("zsim_inject", (None, 1)),
    ("zsim_inject_out", (b"no_such_call", 0, b"x", 1)),
    ("zsim_inject_out", (b"power_on", 0, b"x", 1)),
    ("zsim_inject_out", (b"get_tool_id", 1, b"x", 1)),
    ("zsim_inject_out", (b"get_torque_sensor_comm", 3, b"x", 1)),
    ("zsim_inject_out", (b"get_tool_id", -1, b"x", 1)),
    ("zsim_inject_callback", (b"no_such_call", 1)),
    ("zsim_inject_delay", (b"no_such_call", 10)),
])
def test_unknown_function_or_index_is_refused(lib, probe, args):
    assert getattr(lib, probe)(*args) == -1
    assert lib.power_on(H) == 0 and lib.get_tool_id(H, C.byref(C.c_int32())) == 0


class Recorder:
    def __init__(self):
        self.calls, self.event = [], threading.Event()
        self.fn = Callback(self)

    def __call__(self, code):
        self.calls.append((code, threading.get_ident()))
        self.event.set()

    def codes(self):
        return [code for code, _ in self.calls]


@pytest.fixture
def recorder(lib):
    rec = Recorder()
    assert lib.set_error_handler(H, rec.fn) == 0
    return rec


def test_injections_combine_and_are_used_up_by_one_call(lib, recorder):
    port = struct.pack("<i", 502)
    assert lib.zsim_inject(b"get_torque_sensor_comm", 33) == 0
    assert lib.zsim_inject_out(b"get_torque_sensor_comm", 2, port, 4) == 0
    assert lib.zsim_inject_callback(b"get_torque_sensor_comm", 44) == 0
    assert lib.zsim_inject_delay(b"get_torque_sensor_comm", 100) == 0
    assert lib.zsim_inject(b"power_off", 55) == 0

    start = time.monotonic()
    code, outs, _ = sample_call(lib, "get_torque_sensor_comm")
    assert time.monotonic() - start >= 0.08
    assert code == 33 and recorder.codes() == [44]
    assert outs.declared(2) == port and outs.declared(0) == b"\xaa" * 4

    code, outs, _ = sample_call(lib, "get_torque_sensor_comm")
    assert code == 0 and recorder.codes() == [44]
    assert [outs.declared(i) for i in range(3)] == [bytes(4), bytes(20), bytes(4)]
    assert lib.power_off(H) == 55 and lib.power_off(H) == 0


def test_later_injection_replaces_earlier_one(lib):
    lib.zsim_inject(b"get_tool_id", 1)
    lib.zsim_inject(b"get_tool_id", 2)
    lib.zsim_inject_out(b"get_tool_id", 0, struct.pack("<i", 10), 4)
    lib.zsim_inject_out(b"get_tool_id", 0, struct.pack("<i", 20), 4)
    tool = C.c_int32(-1)
    assert lib.get_tool_id(H, C.byref(tool)) == 2 and tool.value == 20


@pytest.mark.parametrize("registered", [True, False])
def test_callback_injection_alone_keeps_default_behaviour(lib, registered):
    rec = Recorder()
    if registered:
        lib.set_error_handler(H, rec.fn)
    assert lib.zsim_inject_callback(b"get_tool_id", 9) == 0
    tool = C.c_int32(-1)
    assert lib.get_tool_id(H, C.byref(tool)) == 0 and tool.value == 0
    assert rec.calls == ([(9, threading.get_ident())] if registered else [])


@pytest.mark.parametrize("mode", [0, 1, 2])
def test_raise_error_modes(lib, recorder, mode):
    assert lib.zsim_raise_error(31 + mode, mode) == 0
    if mode < 2:  # called before zsim_raise_error returned
        assert recorder.codes() == [31 + mode]
    assert recorder.event.wait(10)
    [(code, thread)] = recorder.calls
    assert code == 31 + mode
    assert (thread == threading.get_ident()) == (mode == 0)


@pytest.mark.parametrize("unregister", [None, "set_none", "reset"])
def test_raise_error_without_callback(lib, unregister):
    rec = Recorder()
    if unregister:
        lib.set_error_handler(H, rec.fn)
        if unregister == "set_none":
            lib.set_error_handler(H, None)
        else:
            lib.zsim_reset()
    assert [lib.zsim_raise_error(1, mode) for mode in (0, 1, 2)] == [-1, -1, -1]
    time.sleep(0.05)  # room for a wrongly started thread to show up
    assert rec.calls == []


def test_raise_error_refuses_unknown_mode(lib, recorder):
    assert lib.zsim_raise_error(1, 3) == -1 and recorder.calls == []


def test_callback_stays_registered_when_set_error_handler_fails(lib):
    rec = Recorder()
    lib.zsim_inject(b"set_error_handler", 12)
    assert lib.set_error_handler(H, rec.fn) == 12
    assert lib.zsim_raise_error(6, 0) == 0 and rec.codes() == [6]


@pytest.mark.parametrize("trigger", ["inject_callback", "raise_error"])
def test_callback_may_call_into_the_library(lib, trigger):
    """The library holds no lock while the callback runs."""
    def reenter(code):
        lib.zsim_inject(b"power_off", code)
        lib.power_on(H)
    inner = Callback(reenter)
    lib.set_error_handler(H, inner)

    def outer():
        if trigger == "inject_callback":
            lib.zsim_inject_callback(b"get_tool_id", 8)
            lib.get_tool_id(H, C.byref(C.c_int32()))
        else:
            lib.zsim_raise_error(8, 0)
    worker = threading.Thread(target=outer, daemon=True)
    worker.start()
    worker.join(10)
    assert not worker.is_alive(), "deadlocked inside the callback"
    assert [e["fn"] for e in journal(lib)][-1] == "power_on"
    assert lib.power_off(H) == 8


def test_delay_holds_only_the_delayed_call(lib):
    lib.zsim_inject_delay(b"power_on", 1500)
    done = []
    start = time.monotonic()
    worker = threading.Thread(target=lambda: done.append(lib.power_on(H)))
    worker.start()
    while lib.zsim_journal_count() == 0:
        time.sleep(0.005)
    assert lib.get_tool_id(H, C.byref(C.c_int32())) == 0  # not blocked meanwhile
    assert worker.is_alive() and done == []
    worker.join()
    assert time.monotonic() - start >= 1.4 and done == [0]


def test_journal_keeps_at_least_the_last_1024_calls(lib):
    total = 5000
    for i in range(total):
        lib.set_tool_id(H, i)
    assert lib.zsim_journal_count() == total
    kept = [e["args"][1] for e in journal(lib)]
    assert len(kept) >= 1024
    assert kept == list(range(total - len(kept), total))
    assert lib.zsim_journal_entry(len(kept), None, 0) == -1
    assert lib.zsim_journal_entry(-1, None, 0) == -1


def test_probe_calls_are_not_recorded_and_clear_empties(lib, recorder):
    lib.power_on(H)
    lib.zsim_inject(b"power_on", 1)
    lib.zsim_raise_error(1, 0)
    assert lib.zsim_journal_count() == 2  # set_error_handler, power_on
    lib.zsim_journal_clear()
    assert lib.zsim_journal_count() == 0 and lib.zsim_journal_entry(0, None, 0) == -1
    assert lib.power_on(H) == 1  # clearing the journal keeps injections
    assert journal(lib) == [{"fn": "power_on", "args": [5]}]


@pytest.mark.parametrize("size", [0, 1, 2, 10, "full", "full+1", 4096])
def test_entry_is_cut_to_size(lib, size):
    lib.program_load(H, b"cell.prog")
    line = b'{"fn": "program_load", "args": [5, "cell.prog"]}'
    size = {"full": len(line), "full+1": len(line) + 1}.get(size, size)
    buf = C.create_string_buffer(b"\xee" * 4100, 4100)
    assert lib.zsim_journal_entry(0, buf, size) == len(line)
    kept = min(len(line), max(size - 1, 0))
    want = line[:kept] + (b"\0" if size > 0 else b"")
    assert buf.raw[:len(want) + 4] == want + b"\xee" * 4


def test_reset_forgets_journal_injections_callback_and_handles(lib, recorder):
    handle = C.c_int32()
    lib.create_handler(b"x", C.byref(handle))
    lib.zsim_inject(b"power_on", 3)
    lib.zsim_inject_callback(b"power_on", 3)
    lib.zsim_reset()
    assert lib.zsim_journal_count() == 0
    lib.power_on(H)
    assert recorder.calls == []
    assert lib.zsim_raise_error(1, 0) == -1
    lib.create_handler(b"x", C.byref(handle))
    assert handle.value == 1


def test_concurrent_calls_are_all_recorded_whole(lib):
    def work(n):
        for i in range(300):
            lib.set_tool_data(H, n * 1000 + i, POSE, b"tool-%d" % n)
    workers = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert lib.zsim_journal_count() == 1200
    ids = sorted(e["args"][1] for e in journal(lib))
    assert ids == sorted(n * 1000 + i for n in range(4) for i in range(300))

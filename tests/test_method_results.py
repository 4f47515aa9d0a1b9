"""What the methods build from the library's out-parameters: shapes,
containers, number types, and hostile buffers."""

import random
import struct

import pytest

from builds import LONG, WINDOWS


def pack(fmt, *values):
    return struct.pack("<" + fmt, *values)


POSE = (100.0, 200.0, 300.0, 0.5, -0.25, 3.0)
JOINTS = (0.1, -0.2, 0.3, -0.4, 0.5, -0.6)
MATRIX = [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0], [7.0, 8.0, 9.0]]
IDENTITY = ((1, 0, 0), (0, 1, 0), (0, 0, 1))

# method, call arguments, bytes written into out-parameter 0, expected result
SUCCESS = [
    ("get_digital_input", (0, 1), pack("i", 1), (0, 1)),
    ("get_digital_output", (0, 1), pack("i", -7), (0, -7)),
    ("get_analog_input", (0, 1), pack("f", 0.1), (0, 0.10000000149011612)),
    ("get_analog_output", (0, 1), pack("f", -2.5), (0, -2.5)),
    ("is_extio_running", (), pack("i", 1), (0, 1)),
    ("get_current_line", (), pack("i", 42), (0, 42)),
    ("get_program_state", (), pack("I", 2), (0, 2)),
    # unsigned 32 bits, through Windows' 32-bit long: signed there
    ("get_program_state", (), pack("I", 2 ** 32 - 1), (0, -1 if WINDOWS else 2 ** 32 - 1)),
    ("get_program_state", (), pack("I", 2 ** 31), (0, -2 ** 31 if WINDOWS else 2 ** 31)),
    ("get_rapidrate", (), pack("d", 0.75), (0, 0.75)),
    ("get_tool_id", (), pack("i", 3), (0, 3)),
    ("get_user_frame_id", (), pack("i", 4), (0, 4)),
    ("get_tool_data", (3,), pack("6d", *POSE), (0, 3, list(POSE))),
    ("get_user_frame_data", (9,), pack("6d", *POSE), (0, 9, list(POSE))),
    ("get_payload", (), pack("4d", 1.5, 0.5, 0.0, 50.25), (0, (1.5, (0.5, 0.0, 50.25)))),
    ("get_robot_state", (), pack("3i", 0, 1, 1), (0, (0, 1, 1))),
    ("get_tcp_position", (), pack("6d", *POSE), (0, list(POSE))),
    ("get_joint_position", (), pack("6d", *JOINTS), (0, list(JOINTS))),
    ("is_in_collision", (), pack("i", 1), (0, 1)),
    ("is_in_drag_mode", (), pack("i", 0), (0, 0)),
    ("is_on_limit", (), pack("i", 2), (0, 2)),
    ("is_in_pos", (), pack("i", 1), (0, 1)),
    ("kine_inverse", (JOINTS, POSE), pack("6d", *JOINTS), (0, JOINTS)),
    ("kine_forward", ((0,) * 6,), pack("6d", 100, 200, 300, 0, 0, 0), (0, (100.0, 200.0, 300.0, 0.0, 0.0, 0.0))),
    ("rpy_to_rot_matrix", ((0, 0, 0),), pack("9d", *range(1, 10)), (0, MATRIX)),
    ("quaternion_to_rot_matrix", ((1, 0, 0, 0),), pack("9d", *range(1, 10)), (0, MATRIX)),
    ("rot_matrix_to_rpy", (IDENTITY,), pack("3d", 0.1, 0.2, 0.3), (0, [0.1, 0.2, 0.3])),
    ("rot_matrix_to_quaternion", (IDENTITY,), pack("4d", 1, 0, 0, 0), (0, [1.0, 0.0, 0.0, 0.0])),
    ("get_sdk_version", (), b"zandrel 1.2.3\0", (0, "zandrel 1.2.3")),
    ("get_collision_level", (), pack("i", 5), (0, 5)),
    # a long code, the 120-byte message right after it (124 bytes in all on Windows, 128 on Linux)
    ("get_last_error", (), pack(LONG, -12) + b"joint 3 limit\0", (0, (-12, "joint 3 limit"))),
    ("get_controller_ip", (), b"10.0.0.1;10.0.0.2\0", (0, "10.0.0.1;10.0.0.2")),
    ("get_traj_config", (), pack("4d", 1.0, 0.5, 100, 500), (0, (1.0, 0.5, 100.0, 500.0))),
    # 64 bits, through Windows' 32-bit long: the low 32 bits there, signed
    ("get_traj_sample_status", (), pack("q", 2 ** 40 + 3), (0, 3 if WINDOWS else 2 ** 40 + 3)),
    ("get_traj_sample_status", (), pack("q", 2 ** 33 + 2 ** 31), (0, -2 ** 31 if WINDOWS else 2 ** 33 + 2 ** 31)),
    ("get_traj_sample_status", (), pack("q", -1), (0, -1)),
    ("get_loaded_program", (), b"weld.jks\0", (0, "weld.jks")),
    ("get_torsenosr_brand", (), pack("i", 6), (0, 6)),
    ("get_torq_sensor_identify_staus", (), pack("i", 2), (0, 2)),
    ("get_torq_sensor_payload_identify_result", (), pack("4d", 1.5, 0.5, 0, 50.25), (0, (1.5, 0.5, 0.0, 50.25))),
    ("get_torq_sensor_tool_payload", (), pack("4d", 1.5, 0.5, 0, 50.25), (0, (1.5, 0.5, 0.0, 50.25))),
]


def same(a, b):
    """Equal, with the same container and number types all the way down."""
    if type(a) is not type(b):
        return False
    if isinstance(a, (tuple, list)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


@pytest.mark.parametrize("name, args, written, expected", SUCCESS, ids=[s[0] for s in SUCCESS])
def test_outputs_become_python_values(rc, sim, name, args, written, expected):
    sim.inject_out(name, 0, written)
    result = getattr(rc, name)(*args)
    assert same(result, expected), result


@pytest.mark.parametrize("name", ["get_joint_position", "get_tcp_position", "get_tool_data", "rpy_to_rot_matrix"])
def test_results_are_new_objects(rc, sim, name):
    args = {"get_tool_data": (1,), "rpy_to_rot_matrix": ((0, 0, 0),)}.get(name, ())
    method = getattr(rc, name)
    sim.inject(name, 0)
    first = method(*args)
    first[-1].append("changed")
    sim.inject(name, 0)
    assert "changed" not in method(*args)[-1]


# ---- values reported whatever the code -----------------------------------------------

ALWAYS = [
    ("get_torsenosr_brand", [pack("i", 3)], (-4, 3), (-4, 0)),
    ("get_torq_sensor_identify_staus", [pack("i", 1)], (-4, 1), (-4, 0)),
    ("get_torq_sensor_payload_identify_result", [pack("4d", 2, 1, 0, 5)], (-4, (2.0, 1.0, 0.0, 5.0)),
     (-4, (0.0, 0.0, 0.0, 0.0))),
    ("get_torq_sensor_tool_payload", [pack("4d", 2, 1, 0, 5)], (-4, (2.0, 1.0, 0.0, 5.0)),
     (-4, (0.0, 0.0, 0.0, 0.0))),
    ("get_compliant_type", [pack("i", 1), pack("i", 2)], (-4, 1, 2), (-4, 0, 0)),
    ("get_torque_sensor_comm", [pack("i", 2), b"10.0.0.9\0", pack("i", 502)], (-4, 2, "10.0.0.9", 502),
     (-4, 0, "", 0)),
    ("get_controller_ip", [b"10.1.1.1\0"], (-4, "10.1.1.1"), (-4, "")),
]


@pytest.mark.parametrize("name, written, with_outputs, without", ALWAYS, ids=[a[0] for a in ALWAYS])
def test_failing_getters_still_report_cleared_values(rc, sim, name, written, with_outputs, without):
    method = getattr(rc, name)
    for index, data in enumerate(written):
        sim.inject_out(name, index, data)
    sim.inject(name, -4)
    assert same(method(), with_outputs)
    sim.inject(name, -4)
    assert same(method(), without)


def test_sensor_link_type_one_has_no_address_or_port(rc, sim):
    for index, data in enumerate([pack("i", 1), b"10.0.0.9\0", pack("i", 502)]):
        sim.inject_out("get_torque_sensor_comm", index, data)
    assert rc.get_torque_sensor_comm() == (0, 1, "", 0)


# ---- text buffers the library filled without a NUL, or with bad bytes -------------------

TEXTS = [  # method, out index, buffer size, text prefix of the out-parameter
    ("get_loaded_program", 0, 100, b""),
    ("get_sdk_version", 0, 80, b""),
    ("get_last_error", 0, 120, pack(LONG, 1)),
    ("get_controller_ip", 0, 3000, b""),
    ("get_torque_sensor_comm", 1, 20, b""),
]


def text_of(result):
    return [x for x in result if isinstance(x, str)] or [result[1][1]]


@pytest.mark.parametrize("name, index, size, prefix", TEXTS, ids=[t[0] for t in TEXTS])
def test_text_without_a_nul_is_read_to_the_buffers_end(rc, sim, name, index, size, prefix):
    sim.inject_out(name, index, prefix + b"x" * size + b"OVERRUN")
    assert text_of(getattr(rc, name)()) == ["x" * size]
    sim.inject_out(name, index, prefix + b"y" * (size - 1) + b"\0")
    assert text_of(getattr(rc, name)()) == ["y" * (size - 1)]


@pytest.mark.parametrize("name, index, size, prefix", TEXTS, ids=[t[0] for t in TEXTS])
def test_invalid_utf8_raises_decode_error_unless_the_call_failed(rc, sim, name, index, size, prefix):
    sim.inject_out(name, index, prefix + b"bad \xff\xfe text\0")
    with pytest.raises(UnicodeDecodeError):
        getattr(rc, name)()
    sim.inject_out(name, index, prefix + b"bad \xff\xfe text\0")
    sim.inject(name, 2)
    if name in {always[0] for always in ALWAYS}:  # reported whatever the code
        with pytest.raises(UnicodeDecodeError):
            getattr(rc, name)()
    else:
        assert getattr(rc, name)() == (2,)  # a failed call's text is never read


# ---- the stored trajectory files --------------------------------------------------------

SLOT = 200


def file_list(count, names):
    return pack("i", count) + b"".join(name.ljust(SLOT, b"\0")[:SLOT] for name in names)


@pytest.mark.parametrize("count, names, expected", [
    (0, [b"ignored"], []),
    (2, [b"a.traj", "\u00e9t\u00e9.traj".encode()], ["a.traj", "\u00e9t\u00e9.traj"]),
    (-3, [b"a"], []),
    (1, [b"z" * SLOT + b"next"], ["z" * SLOT]),
    (2 ** 31 - 1, [b"f"], ["f"] + [""] * 8191),  # clamped to the 8192 slots
])
def test_trajectory_file_names(rc, sim, count, names, expected):
    sim.inject_out("get_exist_traj_file_name", 0, file_list(count, names))
    assert same(rc.get_exist_traj_file_name(), (0, expected))


# ---- the status snapshot ----------------------------------------------------------------

STATUS_SIZE = 2488


def status_record():
    """A record with distinct values in every read field and noise in every unread byte, so a
    field read from the wrong place shows."""
    rng = random.Random(7)
    record = bytearray(rng.getrandbits(8) for _ in range(STATUS_SIZE))
    expected = {}

    def put(offset, fmt, values, position, convert=lambda v: v):
        struct.pack_into("<%d%s" % (len(values), fmt), record, offset, *values)
        expected[position] = tuple(convert(v) for v in values) if len(values) > 1 else convert(values[0])

    put(0, "i", [-1], 0)
    put(4, "i", [2], 1)
    put(8, "i", [3], 2)
    put(12, "i", [2 ** 31 - 1], 3)
    put(16, "d", [4.5], 4)
    put(24, "i", [-6], 5)
    put(32, "i", list(range(100, 165)), 10)
    put(292, "i", [k * (7 if k == 3 else 1) for k in range(10)], 14, float)
    put(332, "i", list(range(-65, 0)), 17, float)
    put(592, "i", list(range(200, 265)), 11)
    put(852, "i", [7 if k == 3 else -k for k in range(10)], 15)
    put(896, "d", [k + 0.5 for k in range(65)], 13)
    put(1416, "d", [k / 4 for k in range(10)], 16)
    put(1496, "d", [-k - 0.25 for k in range(65)], 12)
    # the three unsigned fields pass through Windows' 32-bit long: signed there
    put(2016, "I", [2 ** 31], 9, lambda v: v - 2 ** 32 if WINDOWS else v)
    put(2024, "d", [1.0, 2.0, 3.0, 4.0, 5.0, 6.0], 18)
    put(2072, "d", [-1.0, -2.0, -3.0, -4.0, -5.0, -6.0], 19)
    put(2120, "I", [4294967295], 7, lambda v: -1 if WINDOWS else v)
    put(2124, "I", [17], 8)
    put(2128, "i", [-28], 6)
    return bytes(record), tuple(expected[p] for p in range(20))


def test_status_snapshot_reads_every_field_into_its_position(rc, sim):
    record, expected = status_record()
    sim.inject_out("get_robot_status", 0, record)
    assert same(rc.get_robot_status(), (0, expected))

"""Every forwarding method, one table: what reaches the library, what is
refused before it, and the handle check that comes first. The calling kinds
and the codes that come back are test_api_docs.py's."""

import sys

import pytest

from methods_table import N, OUT, PARSING, ROWS, VK, J, E

HANDLE_ERROR = "invalid robot control handle"
ids = [row.name for row in ROWS]


@pytest.mark.parametrize("row", ROWS, ids=ids)
def test_arguments_reach_the_library_in_order(rc, sim, row):
    sim.inject(row.name, 0)  # success without outputs, whatever the controller's state
    result = getattr(rc, row.name)(*row.args)
    assert sim.calls(row.name) == [[rc.handle] + row.lib_args]
    assert type(result) is tuple and result[0] == 0
    if OUT not in row.lib_args:
        assert result == (0,)


@pytest.mark.parametrize("row", [r for r in ROWS if r.keywords], ids=lambda r: r.name)
def test_keywords_give_the_same_call(rc, sim, row):
    method = getattr(rc, row.name)
    method(*row.args)
    by_keyword = dict(reversed(list(zip(row.keywords, row.args))))
    method(**by_keyword)
    half = len(row.args) // 2
    method(*row.args[:half], **dict(zip(row.keywords[half:], row.args[half:])))
    first, second, third = sim.calls(row.name)
    assert first == second == third


@pytest.mark.parametrize("code", [0, 16, 127, 128, -1, 2**31 - 1])
def test_code_only_results_keep_their_references(rc, sim, code):
    # The common codes come back as one shared tuple: every call must hand
    # out a reference of its own, or dropping results would free it.
    sim.inject("servo_j", code)
    kept = rc.servo_j((0,) * 6, 0)
    references = sys.getrefcount(kept)
    for _ in range(100):
        sim.inject("servo_j", code)
        assert rc.servo_j([0.5] * 6, 1) == (code,)
    assert sys.getrefcount(kept) == references
    assert kept == (code,) and type(kept) is tuple and type(kept[0]) is int


@pytest.mark.parametrize("row", ROWS, ids=ids)
def test_negative_handle_is_refused_before_parsing(rc, sim, row):
    rc.handle = -2
    bad = () if row.kind == N else (object(), object())
    with pytest.raises(Exception) as raised:
        getattr(rc, row.name)(*bad)
    assert type(raised.value) is Exception and str(raised.value) == HANDLE_ERROR
    assert sim.journal() == []


@pytest.mark.parametrize("row", PARSING, ids=lambda r: r.name)
def test_mismatched_arguments_never_reach_the_library(rc, sim, row):
    method = getattr(rc, row.name)
    wrong_type = (object(),) + row.args[1:]
    for args in [(), row.args + (0,), wrong_type]:
        with pytest.raises(TypeError):
            method(*args)
    if row.kind == VK:
        with pytest.raises(TypeError):
            method(*row.args, colour=1)
    assert sim.journal() == []


@pytest.mark.parametrize("row", [r for r in ROWS if r.ignores_args], ids=lambda r: r.name)
def test_ignoring_methods_reach_the_library_with_any_arguments(rc, sim, row):
    method = getattr(rc, row.name)
    method(1, "two", [3])
    if row.kind == VK:
        method(key=3)
        method(1, 2, key=3)
    calls = sim.calls(row.name)
    assert calls and all(call == [rc.handle] + row.lib_args for call in calls)


REJECTED = [
    ("joint_move", ((0, 0, 0, 0, 0), 0, 1, 0.5), {}, TypeError),
    ("joint_move", ((0,) * 7, 0, 1, 0.5), {}, TypeError),
    ("joint_move", (("0",) * 6, 0, 1, 0.5), {}, TypeError),
    ("joint_move", (J, 0.5, 1, 0.5), {}, TypeError),
    ("set_digital_output", (0, 1, 2 ** 31), {}, OverflowError),
    ("set_digital_output", (0, -2 ** 31 - 1, 1), {}, OverflowError),
    ("get_digital_input", (0, 1), {"value": 1}, TypeError),
    ("servo_p", (), {"end_pos": E, "move_mode": 0}, TypeError),
    ("servo_p_extend", (), {"cartesian_pose": E, "move_mode": 0, "step_num": 2}, TypeError),
    ("servo_move_use_joint_MMF", (10.5, 1.0, 0.5, 0.1), {}, TypeError),
    ("set_user_frame_data", (), {"id": 1, "tcp": E, "name": "table"}, TypeError),
    ("set_tool_data", (1, (0, 0, 0), "gripper"), {}, TypeError),
    ("set_tool_data", (1, E, "grip\0per"), {}, ValueError),
    ("set_payload", (1.5, (0, 0)), {}, TypeError),
    ("program_load", (b"prog.jks",), {}, TypeError),
    ("set_errorcode_file_path", ("/tmp/a\0b",), {}, ValueError),
    ("rot_matrix_to_rpy", ((1, 0, 0, 0, 1, 0, 0, 0, 1),), {}, TypeError),
    ("rot_matrix_to_rpy", (((1, 0), (0, 1), (0, 0)),), {}, TypeError),
    ("quaternion_to_rot_matrix", ((1, 0, 0),), {}, TypeError),
    ("torque_feedforward", ((1, 2, 3, 4, 5), 1), {}, TypeError),
    ("set_compliance_condition", ((10, 10, 10, 1, 1, 1),), {}, TypeError),
    ("set_traj_config", (1.0, 0.5, 100, 500), {}, TypeError),
    ("set_traj_sample_mode", (2 ** 31, "track"), {}, OverflowError),
    ("set_admit_ctrl_config", (2.0, 1, 20, 0, 0, 0.5), {}, TypeError),
    ("set_torque_sensor_comm", (0, "10.0.0.1\0", 80), {}, ValueError),
    ("set_torque_sensor_comm", (0, 17, 80), {}, TypeError),
    ("rename_traj_file_name", ("old",), {}, TypeError),
    ("remove_traj_file", (5,), {}, TypeError),
    ("set_rapidrate", ("fast",), {}, TypeError),
    ("set_network_exception_handle", (100, "2"), {}, TypeError),
]


@pytest.mark.parametrize("name, args, kwargs, error", REJECTED, ids=[r[0] for r in REJECTED])
def test_listed_rejections(rc, sim, name, args, kwargs, error):
    with pytest.raises(error):
        getattr(rc, name)(*args, **kwargs)
    assert sim.journal() == []


def test_jog_without_position_command_sends_zero(rc, sim):
    rc.jog(1, 0, 1, 0.2)
    rc.jog(aj_num=1, move_mode=0, coord_type=1, jog_vel=0.2)
    assert sim.calls("jog") == [[rc.handle, 1, 0, 1, 0.2, 0.0]] * 2


def test_controller_ip_takes_no_handle_and_an_empty_name(rc, sim):
    sim.inject("get_controller_ip", 0)
    assert rc.get_controller_ip() == (0, "")
    rc.handle = -1
    with pytest.raises(Exception, match=HANDLE_ERROR):
        rc.get_controller_ip()
    assert sim.calls("get_controller_ip") == [["", OUT]]

"""Arguments the virtual controller refuses, in one table: each call returns
its code and changes nothing the controller keeps. The controller starts
configured away from its defaults, so a refusal that resets a value shows."""

import math

import pytest

from simkit import ADDRESS, INVALID_ARGUMENT, JOINT_LIMIT, Q1, UNREACHABLE, UPPER

NAN, INF = math.nan, math.inf
FLOAT_MAX = 3.4028234663852886e38  # the largest 32-bit float
TRAJ_CONFIG = [2.0, 0.5, 10.0, 20.0]
POSE = [0, 0, 100, 0, 0, 0]

CONFIGURED = [
    ("set_payload", (1.0, (1, 2, 3))),
    ("set_collision_level", (1,)),
    ("set_rapidrate", (0.5,)),
    ("set_tool_data", (1, [0, 0, 50, 0, 0, 0.5], "probe")),
    ("set_user_frame_data", (1, [100, 0, 0, 0, 0, 0.1], "table")),
    ("set_traj_config", (TRAJ_CONFIG,)),
    ("set_network_exception_handle", (250.5, 1)),
    ("set_status_data_update_time_interval", (16,)),
    ("set_torsenosr_brand", (3,)),
    ("set_torque_sensor_comm", (0, "10.9.9.9", 502)),
    ("set_torq_sensor_tool_payload", (1.25, (0, 0, 50))),
    ("set_admit_ctrl_config", (2, 1, 20.0, -5.0, 1, 0.5)),
    ("set_compliant_type", (1, 0)),
    ("set_vel_compliant_ctrl", (2, 1.0, 0.75, 0.5, 0.25)),
    ("set_compliance_condition", (20, 20, 30, 1.5, 1.5, 2)),
    ("torque_control_enable", (1,)),
    ("torque_feedforward", ([10.0, -20.5, 5.0, 1.0, -2.0, 0.5], 1)),
]

REFUSED = [
    # kinematics and orientations
    ("kine_forward", ([0, 0, NAN, 0, 0, 0],)),
    ("kine_inverse", (Q1, [300, 0, INF, 0, 0, 0])),
    ("kine_inverse", ([NAN] * 6, [300, 0, 300, 0, 0, 0])),
    ("kine_inverse", (Q1, [2000.0, 0, 500, math.pi, 0, 0]), UNREACHABLE),  # beyond reach
    ("kine_inverse", (Q1, [0.0, 0, 152, math.pi, 0, 0]), UNREACHABLE),     # on the base axis
    ("kine_inverse", (Q1, [0.0, 0, 5000, 0, 0, 0]), UNREACHABLE),
    ("rot_matrix_to_rpy", (((1, 0, 0), (0, 0.5, -1), (0.25, 1, 0)),)),     # not a rotation
    ("rot_matrix_to_rpy", (((-1, 0, 0), (0, 1, 0), (0, 0, 1)),)),          # a reflection
    ("rot_matrix_to_quaternion", (((1, 0, 0), (0, 1, 0), (0, 0, NAN)),)),
    ("quaternion_to_rot_matrix", ((0, 0, 0, 0),)),
    ("rpy_to_rot_matrix", ((0, INF, 0),)),
    # frames: id 0 is the flange itself, names hold 32 bytes
    ("set_tool_data", (0, POSE, "flange")),
    ("set_tool_data", (16, POSE, "x")),
    ("set_tool_data", (1, POSE, "n" * 33)),
    ("set_user_frame_data", (-1, POSE, "x")),
    ("set_tool_id", (16,)),
    ("set_user_frame_id", (-1,)),
    ("get_tool_data", (16,)),
    # moves and jogs
    ("joint_move", ([UPPER[0] + 0.01] + Q1[1:], 0, True, 1.0), JOINT_LIMIT),
    ("joint_move", ([0, 0, math.radians(170), 0, 0, 0], 0, True, 1.0), JOINT_LIMIT),
    ("joint_move", ([0, 0, NAN, 0, 0, 0], 0, True, 1.0)),
    ("linear_move", ([1500.0, 0, 400, math.pi, 0, 0], 0, True, 100), UNREACHABLE),
    ("linear_move", ([0.0, 0, 2000, math.pi, 0, 0], 0, True, 100), UNREACHABLE),
    ("circular_move", ([20, 0, 0, 0, 0, 0], [10, 0, 0, 0, 0, 0], 1, True, 100, 500, 0)),  # collinear
    *[(name, (target, mode, True, speed * scale, acc * scale, 0))
      for speed, acc in [(0, 1), (-1, 1), (1, 0), (NAN, 1), (1, INF)]
      for name, target, mode, scale in [("joint_move_extend", Q1, 0, 1),
                                        ("linear_move_extend", [0, 0, -10, 0, 0, 0], 1, 100)]],
    *[("set_rapidrate", (rate,)) for rate in (0, -0.5, 1.5, NAN)],
    *[("jog", args) for args in [(6, 2, 1, 0.1, 0), (0, 3, 1, 0.1, 0), (0, 2, 3, 0.1, 0), (0, 2, 1, 0.0, 0),
                                 (0, 0, 2, 1.0, 5.0), (0, 1, 1, 0.1, NAN)]],
    # servo filters
    ("servo_move_use_joint_LPF", (0.0,)),
    ("servo_move_use_joint_LPF", (NAN,)),
    ("servo_move_use_joint_NLF", (1, -2.5, 3)),
    ("servo_move_use_carte_NLF", (1, 2, 3, 4, 0, 6)),
    ("servo_move_use_joint_MMF", (0, 1.0, 0.5, 0.1)),
    ("servo_move_use_joint_MMF", (10, -1.0, 0.5, 0.1)),
    ("servo_speed_foresight", (0, 0.8)),
    # payload, torque control and the sensor
    *[("set_payload", args) for args in [(-0.1, (0, 0, 0)), (10.001, (0, 0, 0)), (NAN, (0, 0, 0)),
                                         (1.0, (0, INF, 0)), (1.0, (0, 0, NAN))]],
    ("torque_control_enable", (2,)),
    ("set_torque_sensor_mode", (-1,)),
    ("enable_admittance_ctrl", (5,)),
    *[("torque_feedforward", args) for args in [([301, 0, 0, 0, 0, 0], 0), ([0, 0, 0, 0, 0, -51], 0),
                                                ([0, 0, NAN, 0, 0, 0], 0), ([0] * 6, 2), ([0] * 6, -1)]],
    ("set_torsenosr_brand", (-1,)),
    ("set_torsenosr_brand", (11,)),
    ("set_torq_sensor_tool_payload", (11, (0, 0, 0))),
    *[("set_torque_sensor_comm", link) for link in [
        (3, "10.0.0.1", 80), (-1, "10.0.0.1", 80), (0, "10.0.0.1", 0), (2, "10.0.0.1", 65536),
        (0, "10.0.0", 80), (0, "10.0.0.1.2", 80), (0, "256.0.0.1", 80), (0, "01.0.0.1", 80),
        (0, "a.b.c.d", 80), (0, "", 80), (0, "10..0.1", 80), (0, "1.2.3.4 ", 80)]],
    # admittance and compliance
    *[("set_admit_ctrl_config", args) for args in [
        (6, 1, 1, 0, 0, 0), (-1, 1, 1, 0, 0, 0), (0, 2, 1, 0, 0, 0), (0, 1, -1, 0, 0, 0),
        (0, 1, INF, 0, 0, 0), (0, 1, 1, NAN, 0, 0), (0, 1, 1, 0, 2, 0), (0, 1, 1, 0, 0, -0.5)]],
    *[("set_compliant_type", args) for args in [(2, 0), (0, 3), (-1, 0), (0, -1)]],
    *[("set_vel_compliant_ctrl", args) for args in [
        (0, 1, 1, 1, 1), (4, 1, 1, 1, 1), (1, 0, 1, 1, 1), (1, 1, 1, 1, 1.01), (1, 1, NAN, 1, 1)]],
    *[("set_compliance_condition", args) for args in [
        (0, 1, 1, 1, 1, 1), (1, 1, 1, 1, 1, -1), (1, 1, INF, 1, 1, 1)]],
    # settings and the recorder
    *[("set_collision_level", (level,)) for level in (-1, 6, 2 ** 31 - 1)],
    *[("set_network_exception_handle", args) for args in [
        (0, 0), (-5, 0), (60000.01, 0), (NAN, 0), (100, 3), (100, -1), (FLOAT_MAX * 2, 0)]],
    *[("set_status_data_update_time_interval", (ms,)) for ms in (7.99, 1000.5, INF)],
    *[("set_traj_config", (TRAJ_CONFIG[:n] + [bad] + TRAJ_CONFIG[n + 1:],))
      for n in range(4) for bad in (0.0, -1.0, NAN, INF)],
]


@pytest.mark.parametrize("row", REFUSED, ids=["%s-%d" % (row[0], n) for n, row in enumerate(REFUSED)])
def test_a_refused_call_changes_nothing(arm, instant, sim, row):
    name, args, code = row if len(row) == 3 else row + (INVALID_ARGUMENT,)
    for setter, values in CONFIGURED:
        assert getattr(arm, setter)(*values) == (0,), setter
    def kept():  # everything the controller keeps that a refused call might touch
        return (sim.settings(ADDRESS), arm.get_robot_status(), arm.get_traj_config(), arm.get_tool_data(1),
                arm.get_user_frame_data(1))

    before = kept()
    assert getattr(arm, name)(*args) == (code,)
    assert kept() == before

"""Torque control, the force/torque sensor and its payload identification,
admittance and compliance: what needs what, and what is kept and reported
(the plain set-and-read-back values are test_sim2_settings.py's)."""

import math

import pytest

from simkit import (ADDRESS, BUSY, HOME, INVALID_ARGUMENT, JOINT_LIMIT, NOT_ENABLED, NOT_POWERED, UPPER,
                    WRONG_STATE, joints, value, wait_until)


IDENTIFY_POSE = [0.2, 1.2, -1.1, -1.5, -1.4, 0.3]


def settings(sim):
    return sim.settings(ADDRESS)


@pytest.fixture
def sensor(arm):
    """An enabled arm with its force sensor chosen and on."""
    assert arm.set_torsenosr_brand(3) == (0,)
    assert arm.set_torque_sensor_mode(1) == (0,)
    return arm


# ---- what needs what -------------------------------------------------------------------------

ENABLED = [("power_on",), ("enable_robot",)]
SENSOR_ON = [("set_torsenosr_brand", 3), ("set_torque_sensor_mode", 1)]
COMPLIANT_AXIS = [("set_admit_ctrl_config", 0, 1, 10, 0, 0, 0)]

# what is done first, then a call refused with its code
NEEDS = [
    ([], "torque_control_enable", (1,), NOT_POWERED),
    ([("power_on",)], "torque_control_enable", (1,), NOT_ENABLED),
    (ENABLED, "torque_feedforward", ([10.0, -20.5, 5.0, 1.0, -2.0, 0.5], 1), WRONG_STATE),  # torque control off
    ([], "set_torque_sensor_mode", (1,), WRONG_STATE),  # no sensor chosen
    (SENSOR_ON, "set_torsenosr_brand", (4,), WRONG_STATE),  # not while the sensor is on
    (SENSOR_ON, "set_torque_sensor_comm", (0, "10.0.0.2", 80), WRONG_STATE),
    ([], "set_compliant_type", (1, 1), WRONG_STATE),  # a compliance type needs the sensor
    (ENABLED + COMPLIANT_AXIS, "enable_admittance_ctrl", (1,), WRONG_STATE),  # ... and so does admittance
    (ENABLED + SENSOR_ON, "enable_admittance_ctrl", (1,), WRONG_STATE),  # no axis with opt 1
    (SENSOR_ON + COMPLIANT_AXIS, "enable_admittance_ctrl", (1,), NOT_POWERED),
]


@pytest.mark.parametrize("steps, call, args, code", NEEDS, ids=[f"{row[1]}-{n}" for n, row in enumerate(NEEDS)])
def test_what_force_control_needs(rc, sim, steps, call, args, code):
    for name, *step_args in steps:
        assert getattr(rc, name)(*step_args) == (0,), name
    before = settings(sim)
    assert getattr(rc, call)(*args) == (code,)
    assert settings(sim) == before


def test_feed_forward_is_kept_under_torque_control(arm, sim):
    torques = [10.0, -20.5, 5.0, 1.0, -2.0, 0.5]
    assert arm.torque_control_enable(1) == (0,)
    assert arm.torque_feedforward(torques, 1) == (0,)
    kept = settings(sim)
    assert (kept["torque_control"], kept["feedforward"]) == (1, {"torques": torques, "gravity": 1})


def test_a_brand_is_chosen_while_the_sensor_is_off(rc, sim):
    assert rc.get_torsenosr_brand() == (0, 0)
    assert rc.set_torsenosr_brand(10) == (0,) and rc.set_torque_sensor_mode(1) == (0,)
    assert (rc.get_torsenosr_brand(), settings(sim)["sensor"]["on"]) == ((0, 10), 1)
    assert rc.set_torque_sensor_mode(0) == (0,) and rc.set_torsenosr_brand(0) == (0,)
    assert rc.get_torsenosr_brand() == (0, 0)


@pytest.mark.parametrize("link, reported", [
    ((0, "192.168.1.5", 8080), (0, "192.168.1.5", 8080)),
    ((2, "10.0.0.255", 1), (2, "10.0.0.255", 1)),
    ((1, "ignored", -4), (1, "", 0)),
])
def test_sensor_link_is_kept(rc, sim, link, reported):
    assert rc.get_torque_sensor_comm() == (0, 0, "", 0)
    assert rc.set_torque_sensor_comm(*link) == (0,)
    assert rc.get_torque_sensor_comm() == (0, *reported)
    kept = settings(sim)["sensor"]["link"]
    assert (kept["type"], kept["address"], kept["port"]) == reported


# ---- payload identification --------------------------------------------------------------------

def test_identification_finds_the_payload_the_arm_carries(sensor, instant):
    sensor.set_payload(3.5, (1.0, 2.0, 60.0))
    assert sensor.get_torq_sensor_identify_staus() == (0, 0)
    assert sensor.get_torq_sensor_payload_identify_result() == (0, (0.0, 0.0, 0.0, 0.0))
    assert sensor.start_torq_sensor_payload_identify(IDENTIFY_POSE) == (0,)
    assert sensor.get_torq_sensor_identify_staus() == (0, 2)
    code, found = sensor.get_torq_sensor_payload_identify_result()  # fitted to the torques: to rounding
    assert (code, found) == (0, pytest.approx((3.5, 1.0, 2.0, 60.0), abs=1e-9))
    assert joints(sensor) == pytest.approx(IDENTIFY_POSE, abs=1e-12)
    sensor.set_payload(1.0, (0, 0, 0))  # the result stays until the next identification
    assert sensor.get_torq_sensor_payload_identify_result() == (0, found)


def test_identification_owns_the_arm_and_an_abort_leaves_no_result(sensor, sim):
    sensor.set_payload(2.0, (0, 0, 0))
    sim.set_time_scale(1)
    assert sensor.start_torq_sensor_payload_identify(IDENTIFY_POSE) == (0,)
    assert sensor.get_torq_sensor_identify_staus() == (0, 1)
    assert sensor.get_torq_sensor_payload_identify_result() == (BUSY, (0.0, 0.0, 0.0, 0.0))
    assert sensor.joint_move(HOME, 0, False, 1.0) == (BUSY,)
    assert sensor.start_torq_sensor_payload_identify(IDENTIFY_POSE) == (BUSY,)
    assert wait_until(lambda: joints(sensor) != HOME)
    assert sensor.motion_abort() == (0,)
    assert sensor.get_torq_sensor_identify_staus() == (0, 0)
    assert sensor.get_torq_sensor_payload_identify_result() == (0, (0.0, 0.0, 0.0, 0.0))


@pytest.mark.parametrize("prepare, pose, code", [
    (lambda r: r.set_torque_sensor_mode(0), IDENTIFY_POSE, WRONG_STATE),
    (lambda r: r.disable_robot(), IDENTIFY_POSE, NOT_ENABLED),
    (lambda r: None, [0, 0, 0, 0, 0, UPPER[5] + 0.5], JOINT_LIMIT),
    (lambda r: None, [0, 0, math.nan, 0, 0, 0], INVALID_ARGUMENT),
])
def test_identification_needs(sensor, instant, prepare, pose, code):
    prepare(sensor)
    assert sensor.start_torq_sensor_payload_identify(pose) == (code,)
    assert sensor.get_torq_sensor_identify_staus() == (0, 0)
    assert joints(sensor) == HOME


# ---- admittance and compliance -----------------------------------------------------------------

def test_admittance_and_a_compliance_type_with_the_sensor_on(sensor, sim):
    assert sensor.set_admit_ctrl_config(0, 1, 10, 0, 0, 0) == (0,)
    assert sensor.enable_admittance_ctrl(1) == (0,)
    assert settings(sim)["admittance"]["on"] == 1
    assert sensor.enable_admittance_ctrl(0) == (0,)
    assert settings(sim)["admittance"]["on"] == 0
    assert sensor.set_compliant_type(0, 2) == (0,)
    assert sensor.get_compliant_type() == (0, 0, 2)


def test_disable_force_control_ends_it_and_keeps_the_configuration(sensor, sim):
    sensor.set_admit_ctrl_config(1, 1, 15, 2, 1, 0.25)
    sensor.enable_admittance_ctrl(1)
    sensor.set_compliant_type(1, 1)
    sensor.set_vel_compliant_ctrl(1, 0.5, 0.5, 0.5, 0.5)
    sensor.torque_control_enable(1)
    assert sensor.disable_force_control() == (0,)
    kept = settings(sim)
    assert (kept["admittance"]["on"], kept["compliance"]["type"], kept["torque_control"]) == (0, 0, 0)
    assert sensor.get_compliant_type() == (0, 1, 0)
    assert value(sensor.get_admit_ctrl_config())[1] == (1.0, 15.0, 2.0, 0.25, 1.0)
    assert kept["compliance"]["velocity"] == [1, 0.5, 0.5, 0.5, 0.5]
    assert kept["sensor"]["on"] == 1

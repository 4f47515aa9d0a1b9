"""velmo_arm's named state: the status dataclass against velmo's 20-tuple,
the state properties and the typed IO accessors."""

import asyncio
import dataclasses
import math
import threading

import pytest

import velmo_arm
from velmo_arm import IOGroup
from simkit import Q1

ADDRESS = "127.0.0.1"


def test_every_status_element_has_its_documented_name(sim, instant):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.move_joints(Q1, 1.0)
        arm.set_digital_output(3, True)
        arm.set_digital_output(1, True, group=IOGroup.TOOL)
        arm.set_digital_output(7, True, group=IOGroup.EXTENSION)
        arm.set_analog_output(2, 4.5)
        sim.set_digital_input(ADDRESS, 1, 0, 1)
        sim.set_analog_input(ADDRESS, 1, 0, 0.25)
        assert arm.rc.set_rapidrate(0.5) == (0,) and arm.rc.set_tool_id(0) == (0,)
        code, record = arm.rc.get_robot_status()
        status = arm.status()
    names = [f.name for f in dataclasses.fields(status)]
    assert names == [
        "error_code", "in_position", "powered", "enabled", "rapid_rate", "protective_stop", "servo_mode",
        "tool_id", "user_frame_id", "motions_queued", "cabinet_digital_outputs", "cabinet_digital_inputs",
        "cabinet_analog_inputs", "cabinet_analog_outputs", "tool_digital_outputs", "tool_digital_inputs",
        "tool_analog_inputs", "extension_digital_outputs", "joints", "tcp"]
    for name, raw in zip(names, record):
        value = getattr(status, name)
        if isinstance(raw, tuple):
            assert type(value) is tuple and len(value) == len(raw), name
            assert all(type(v) in (bool, float) for v in value), name
        assert value == raw, name  # bools and floats compare equal to the ints they came from
    assert (status.powered, status.enabled, status.rapid_rate) == (True, True, 0.5)
    assert status.cabinet_digital_outputs[3] and status.tool_digital_outputs[1] and status.extension_digital_outputs[7]
    assert status.tool_digital_inputs[0] and status.tool_analog_inputs[0] == 0.25
    assert status.cabinet_analog_outputs[2] == 4.5
    with pytest.raises(dataclasses.FrozenInstanceError):
        status.powered = False  # type: ignore[misc]


@pytest.mark.parametrize("power, enable", [(False, False), (True, False), (True, True)])
def test_state_properties(sim, instant, power, enable):
    with velmo_arm.connect(ADDRESS) as arm:
        if power:
            arm.power_on()
        if enable:
            arm.enable()
        assert (arm.powered, arm.enabled, arm.in_error) == (power, enable, False)
        assert arm.joints == arm.status().joints and arm.tcp == arm.status().tcp
        sim.trigger_fault(ADDRESS, 12)
        assert arm.in_error and arm.status().error_code == velmo_arm.Code.ERROR_STATE
        arm.recover()
        assert not arm.in_error


IO = [  # group, channel, read input, what the probe sets, read back as
    (IOGroup.CABINET, 15, "digital_input", 1, True),
    (IOGroup.TOOL, 1, "digital_input", 1, True),
    (IOGroup.EXTENSION, 0, "analog_input", 2.5, 2.5),
    (IOGroup.TOOL, 0, "analog_input", -1.25, -1.25),
]


@pytest.mark.parametrize("group, channel, read, value, expected", IO)
def test_inputs_read_as_typed_values(sim, instant, group, channel, read, value, expected):
    with velmo_arm.connect(ADDRESS) as arm:
        setter = sim.set_digital_input if read == "digital_input" else sim.set_analog_input
        setter(ADDRESS, int(group), channel, value)
        got = getattr(arm, read)(channel, group=group)
        assert got == expected and type(got) is type(expected)


@pytest.mark.parametrize("group, channel", [(IOGroup.CABINET, 0), (IOGroup.EXTENSION, 7)])
def test_outputs_round_trip(sim, instant, group, channel):
    with velmo_arm.connect(ADDRESS) as arm:
        arm.set_digital_output(channel, True, group=group)
        arm.set_analog_output(channel % 4, 3.25, group=group)
        assert arm.digital_output(channel, group=group) is True
        assert arm.analog_output(channel % 4, group=group) == 3.25
        arm.set_digital_output(channel, False, group=group)
        assert arm.digital_output(channel, group=group) is False
        with pytest.raises(velmo_arm.ArmError) as caught:
            arm.digital_output(99, group=group)
        assert caught.value.code == velmo_arm.Code.IO_RANGE


def test_kinematics_round_trip(sim, instant):
    with velmo_arm.connect(ADDRESS) as arm:
        pose = arm.forward(Q1)
        assert arm.inverse(pose, near=Q1) == pytest.approx(Q1, abs=1e-9)
        with pytest.raises(velmo_arm.OutOfReachError):
            arm.inverse((5000.0, 0, 0, 0, 0, 0))


def test_waiting_for_an_input(sim, instant):
    with velmo_arm.connect(ADDRESS, timeout=5.0) as arm:
        sim.set_digital_input(ADDRESS, 1, 0, 1)
        arm.wait_for_input(0, group=IOGroup.TOOL)  # already there: at once
        with pytest.raises(TimeoutError, match="tool input 1 did not read True"):
            arm.wait_for_input(1, group=IOGroup.TOOL, timeout=0.05)
        setter = threading.Timer(0.05, lambda: sim.set_digital_input(ADDRESS, 0, 3, 1))
        setter.start()
        arm.wait_for_input(3)  # the part arrives while waiting
        setter.join()
        with pytest.raises(TimeoutError, match="cabinet input 3 did not read False"):
            asyncio.run(arm.wait_for_input_async(3, value=False, timeout=0.05))
        with pytest.raises(velmo_arm.ArmError) as caught:
            arm.wait_for_input(99)
        assert caught.value.code == velmo_arm.Code.IO_RANGE
    assert sim.calls("motion_abort") == []  # waiting for an input stops nothing


def test_connects_timeout_is_every_waits_default(sim):
    sim.set_time_scale(10)
    far = (1.5, *Q1[1:])
    with velmo_arm.connect(ADDRESS, enable=True, timeout=0.02) as arm:
        with pytest.raises(TimeoutError):
            arm.move_joints(far, 1.0)  # about 0.15 s of real time
        arm.wait(timeout=5)
        arm.move_joints(far, 1.0, timeout=math.inf)  # no timeout for this one
        assert arm.joints == pytest.approx(far, abs=1e-9)
        assert arm.timeout == 0.02

"""Written as a user of velmo_arm would test a script: with the fixtures of
velmo's pytest plugin (loaded from its entry point, or by `pytest -p
velmo_pytest`; tests/test_plugin.py runs this file both ways)."""

import os

import pytest

import velmo
import velmo_arm

FAR = (2.5, 1.57, -1.57, -1.57, -1.57, 0.0)


def test_an_arm_on_a_fresh_controller_in_a_folder_of_its_own(virtual_controller, virtual_arm):
    assert virtual_arm.enabled and virtual_controller.address == "127.0.0.1"
    assert virtual_controller.files_folder() == str(virtual_controller.folder)
    assert os.listdir(virtual_controller.folder / "programs") == []
    virtual_arm.move_joints(FAR, 0.5)  # time scale 0 by default: the move ends inside its call
    assert virtual_arm.joints == pytest.approx(FAR, abs=1e-9)
    assert [c.method for c in virtual_controller.entries("joint_move")] == ["joint_move"]


def test_the_next_test_gets_a_fresh_one(virtual_arm):
    assert virtual_arm.joints != pytest.approx(FAR, abs=1e-3)  # back home: the last test's arm is forgotten


@pytest.mark.virtual_controller(manual_time=True)
def test_a_fault_mid_move_falls_at_the_same_cycle_on_every_run(virtual_controller, virtual_arm):
    virtual_controller.trigger_fault(virtual_controller.address, 7, cycles=50)
    virtual_arm.move_joints(FAR, 0.5, wait=False)
    virtual_controller.advance_time(10.0)
    with pytest.raises(velmo_arm.LimitError):
        virtual_arm.wait()
    assert 0 < virtual_arm.joints[0] < 0.5


@pytest.mark.virtual_controller(address="127.0.0.9", time_scale=0)
def test_the_marker_alone_gives_a_fresh_controller():
    robot = velmo.RC("127.0.0.9")
    assert robot.login() == (0,) and robot.handle == 1  # handles count from 1 again after the reset
    assert robot.power_on() == (0,)

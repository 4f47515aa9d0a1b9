"""What velmo_arm refuses before anything reaches the controller: speeds and
accelerations beyond the arm's documented maxima (a unit slip, named with
the maximum and its unit), blends that cannot be, circular points given by
position, and paths that are no paths. And the small things a script reads:
a compact status repr, the right name on a failed close."""

import math

import pytest

import velmo_arm
from velmo_arm import ArcTo, JointTo, JogSpace, LineTo
from simkit import HOME, MAX_SPEED, Q1

ADDRESS = "127.0.0.1"
POSE = (300.0, -100.0, 400.0, math.pi, 0.0, 0.0)

# call, the maximum its message must name, and the unit
TOO_FAST = [
    ("joint move 100 rad/s", lambda arm: arm.move_joints(Q1, 100.0), "3.14159 rad/s"),
    ("joint move acc", lambda arm: arm.move_joints(Q1, 1.0, 50.0), "12.5664 rad/s^2"),
    ("line 1e6 mm/s", lambda arm: arm.move_linear(POSE, 1e6), "1500 mm/s"),
    ("line acc", lambda arm: arm.move_linear(POSE, 100.0, 1e5), "5000 mm/s^2"),
    ("arc", lambda arm: arm.move_circular(via=POSE, end=POSE, speed=2000.0), "1500 mm/s"),
    ("joint jog", lambda arm: arm.jog(4, -4.0, by=0.1), f"{MAX_SPEED[4]:.6g} rad/s"),
    ("Cartesian jog", lambda arm: arm.jog(0, 1e4, space=JogSpace.CARTESIAN, by=1.0), "1500 mm/s"),
    ("rotation jog", lambda arm: arm.jog(5, 10.0, space=JogSpace.TOOL, by=0.1), "3.14159 rad/s"),
    ("path", lambda arm: arm.move_path([JointTo(Q1, 1.0), LineTo(POSE, 1e6)]), "1500 mm/s"),
]


@pytest.mark.parametrize("name, call, maximum", TOO_FAST, ids=[t[0] for t in TOO_FAST])
def test_a_speed_beyond_the_arms_maximum_is_a_unit_slip(sim, instant, name, call, maximum):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        sim.clear()
        with pytest.raises(ValueError, match="beyond the arm's maximum") as caught:
            call(arm)
        assert maximum in str(caught.value)
        assert sim.journal() == []  # nothing reached the controller


def test_the_maxima_themselves_are_allowed(sim, instant):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.move_joints(Q1, math.pi, 4 * math.pi)
        arm.jog(5, MAX_SPEED[5], by=0.1)
        x, y, z, rx, ry, rz = arm.tcp
        arm.move_linear((x, y, z - 2, rx, ry, rz), 1500.0, 5000.0)  # short: it never comes near that pace
        assert arm.tcp[2] == pytest.approx(z - 2, abs=1e-6)


REFUSED = [
    ("zero speed", lambda arm: arm.move_joints(Q1, 0.0), ValueError, "positive"),
    ("NaN speed", lambda arm: arm.move_linear(POSE, math.nan), ValueError, "finite"),
    ("text speed", lambda arm: arm.move_joints(Q1, "1"), TypeError, "number"),
    ("zero jog", lambda arm: arm.jog(0, 0.0), ValueError, "positive"),
    ("jog axis 6", lambda arm: arm.jog(6, 0.1, by=0.1), ValueError, "axis"),
    ("jog to in the tool frame", lambda arm: arm.jog(0, 10.0, space=JogSpace.TOOL, to=1.0), ValueError, "tool frame"),
    ("blend on a waited move", lambda arm: arm.move_joints(Q1, 1.0, blend=0.1), ValueError, "wait=False"),
    ("negative blend", lambda arm: arm.move_linear(POSE, 100.0, blend=-1.0, wait=False), ValueError, "blend"),
    ("empty path", lambda arm: arm.move_path([]), ValueError, "at least one"),
    ("not a waypoint", lambda arm: arm.move_path([Q1]), TypeError, "waypoint"),
    ("a long path not waited for", lambda arm: arm.move_path([JointTo(Q1, 1.0)] * 65, wait=False), ValueError,
     "wait=True"),
    ("five numbers in a path", lambda arm: arm.move_path([ArcTo(POSE, POSE[:5], 100.0)]), ValueError, "6 numbers"),
    ("circular points by position", lambda arm: arm.move_circular(POSE, POSE, 100.0), TypeError, "positional"),
]


@pytest.mark.parametrize("name, call, error, words", REFUSED, ids=[r[0] for r in REFUSED])
def test_what_cannot_be_a_motion_is_refused_before_the_controller(sim, instant, name, call, error, words):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        sim.clear()
        with pytest.raises(error, match=words):
            call(arm)
        assert sim.journal() == []


def test_limits_of_another_arm_are_kept(sim, instant):
    slow = velmo_arm.Limits(**{**velmo_arm.ZANDREL.__dict__, "joint_move_speed": 0.5})
    with velmo_arm.connect(ADDRESS, enable=True, limits=slow) as arm:
        with pytest.raises(ValueError, match="0.5 rad/s"):
            arm.move_joints(Q1, 0.6)
        arm.move_joints(Q1, 0.5)


def test_the_status_repr_is_short_and_names_only_what_is_on(sim, instant):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.set_digital_output(3, True)
        arm.set_analog_output(1, 2.5)
        sim.set_digital_input(ADDRESS, 1, 0, 1)
        text = repr(arm.status())
    assert len(text) < 500
    assert "on=['cabinet DO 3', 'tool DI 0']" in text and "analog={'cabinet AO 1': 2.5}" in text
    assert "powered=True" in text and "error_code=0" in text and "joints=(0, 1.5708, -1.5708" in text


def test_a_close_after_a_shut_down_names_the_call_that_failed(sim, instant):
    arm = velmo_arm.connect(ADDRESS, enable=True)
    assert arm.rc.shut_down() == (0,)
    with pytest.raises(velmo_arm.NotReadyError) as caught:
        arm.close()
    assert caught.value.operation == "get_robot_status" and caught.value.code == velmo_arm.Code.SHUT_DOWN

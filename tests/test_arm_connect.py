"""velmo_arm.connect: each Arm bound to its own address, never a cut one, and
what leaving an Arm does (stop what it started, leave servo mode, log out)."""

import socket

import pytest

import velmo
import velmo_arm
from simkit import HOME, Q1, login, wait_until

LEFT, RIGHT = "127.0.0.1", "127.0.0.2"
FAR = (2.5, 1.57, -1.57, -1.57, -1.57, 0.0)  # joint 1 travels 2.5 rad: seconds at 0.2 rad/s


def handles(sim, fn):
    return [args[0] for args in sim.calls(fn)]


def test_two_arms_each_drive_their_own_controller(sim):
    # The trap of the exact module: RC(a); RC(b); a.login() logs a in to b.
    left = velmo_arm.connect(LEFT)
    right = velmo_arm.connect(RIGHT)
    try:
        assert [args[0] for args in sim.calls("create_handler")] == [LEFT, RIGHT]
        velmo.RC("127.0.0.3")  # a raw RC made afterwards takes the shared address, not an Arm's
        left.power_on()
        assert (left.powered, right.powered) == (True, False)
        right.power_on()
        right.enable()
        assert (left.enabled, right.enabled) == (False, True)
        assert handles(sim, "power_on") == [left.rc.handle, right.rc.handle]
    finally:
        left.close()
        right.close()


def resolver(table):
    """A getaddrinfo that knows only `table` (name -> addresses) and asks no network."""
    def getaddrinfo(host, port, *args, **kwargs):
        if host not in table:
            raise socket.gaierror(socket.EAI_NONAME, "Name or service not known")
        return [(socket.AF_INET6 if ":" in a else socket.AF_INET, socket.SOCK_STREAM, 6, "", (a, 0))
                for a in table[host]]
    return getaddrinfo


LONG = "robot-cell-07.factory.example.com"  # 33 bytes: velmo alone would log in to its first 29


@pytest.mark.parametrize("addresses, expected", [
    (["127.0.0.7"], "127.0.0.7"),
    (["::1", "127.0.0.7"], "127.0.0.7"),  # IPv4 first
    (["2001:db8:1234:5678:9abc:def0:1234:5678", "::1"], "::1"),  # the one that fits
    ([], None),
    (["2001:db8:1234:5678:9abc:def0:1234:5678"], None),  # 38 bytes: nothing fits
    (None, None),  # not resolvable
])
def test_a_long_name_is_resolved_or_refused_never_cut(sim, monkeypatch, addresses, expected):
    table = {} if addresses is None else {LONG: addresses}
    monkeypatch.setattr(socket, "getaddrinfo", resolver(table))
    if expected is None:
        with pytest.raises(ValueError, match="longer than 29 bytes"):
            velmo_arm.connect(LONG)
        assert sim.calls("create_handler") == []  # nothing reached the library
        return
    with velmo_arm.connect(LONG) as arm:
        assert (arm.address, arm.login_address) == (LONG, expected)
        assert [args[0] for args in sim.calls("create_handler")] == [expected]


def test_a_numeric_long_address_resolves_without_a_resolver_service(sim):
    spelled_out = "0000:0000:0000:0000:0000:0000:0000:0001"  # 39 bytes of ::1
    with velmo_arm.connect(spelled_out) as arm:
        assert arm.login_address == "::1"


def test_an_address_that_fits_is_used_as_given(sim, monkeypatch):
    def no_lookup(*args, **kwargs):
        raise AssertionError("an address that fits needs no lookup")
    monkeypatch.setattr(socket, "getaddrinfo", no_lookup)
    name = "cell-7.example" + "x" * 15  # exactly 29 bytes
    with velmo_arm.connect(name):
        assert [args[0] for args in sim.calls("create_handler")] == [name]


def test_a_failed_login_raises_with_the_documented_text(sim):
    sim.inject("create_handler", 13)
    with pytest.raises(velmo_arm.NotReadyError) as caught:
        velmo_arm.connect(LEFT)
    assert caught.value.code == velmo_arm.Code.SHUT_DOWN
    assert caught.value.message == "the controller is shut down"


def test_leaving_stops_the_motion_it_started_and_keeps_power_and_enable(sim):
    sim.set_time_scale(1)
    with velmo_arm.connect(LEFT, enable=True) as arm:
        arm.move_joints(FAR, 0.2, wait=False)
        handle = arm.rc.handle
    robot = login(LEFT)
    code, (estop, powered, enabled) = robot.get_robot_state()
    assert (powered, enabled) == (1, 1)
    assert wait_until(lambda: robot.is_in_pos() == (0, 1), timeout=5)  # at rest ...
    assert robot.get_joint_position()[1][0] < FAR[0] - 1.0  # ... well short of the target
    fns = [(e["fn"], e["args"][0]) for e in sim.journal()]
    assert fns.index(("motion_abort", handle)) < fns.index(("destory_handler", handle))


def test_leaving_by_an_exception_stops_the_arm_and_leaves_servo_mode(sim):
    sim.set_time_scale(1)
    with pytest.raises(RuntimeError, match="script failed"):
        with velmo_arm.connect(LEFT, enable=True) as arm:
            stream = arm.servo(rate_hz=None).__enter__()  # left open on purpose: the Arm must clean up
            for k in range(50):
                stream.send([q + 0.004 * k for q in HOME])
            raise RuntimeError("script failed")
    robot = login(LEFT)
    assert wait_until(lambda: robot.is_in_pos() == (0, 1), timeout=5)
    status = robot.get_robot_status()[1]
    assert status[6] == 0 and status[1] == 1  # servo mode off, nothing queued
    assert robot.get_joint_position()[1][0] < 0.004 * 49  # the queued set-points were dropped
    assert sim.calls("destory_handler")


def test_leaving_a_motion_that_ended_sends_no_abort(sim, instant):
    with velmo_arm.connect(LEFT, enable=True) as arm:
        arm.move_joints(Q1, 1.0)
    assert sim.calls("motion_abort") == []
    assert sim.calls("servo_move_enable") == []


@pytest.mark.parametrize("options, powered, enabled", [
    ({}, 1, 1),
    ({"disable_on_exit": True}, 1, 0),
    ({"power_off_on_exit": True}, 0, 0),
])
def test_power_and_enable_change_on_exit_only_when_asked(sim, instant, options, powered, enabled):
    with velmo_arm.connect(LEFT, enable=True, **options):
        pass
    assert login(LEFT).get_robot_state()[1][1:] == (powered, enabled)


def test_a_closed_arm_refuses_work_and_closes_again_quietly(sim, instant):
    arm = velmo_arm.connect(LEFT)
    arm.close()
    arm.close()
    assert arm.closed and len(sim.calls("destory_handler")) == 1
    with pytest.raises(ValueError, match="closed Arm"):
        arm.power_on()


def test_a_failed_logout_is_raised_from_a_normal_exit(sim, instant):
    arm = velmo_arm.connect(LEFT)
    sim.inject("destory_handler", 1)
    with pytest.raises(velmo_arm.ArmError) as caught:
        arm.close()
    assert caught.value.code == velmo_arm.Code.UNKNOWN_HANDLE and arm.closed

"""The module, the RC type, construction, login and logout, the call frame."""

import ctypes
import sys

import pytest

import velmo
from builds import WINDOWS

HANDLE_ERROR = "invalid robot control handle"


def ipaddr_text():
    """The module's address buffer, which the Linux module exports (None on Windows)."""
    if WINDOWS:
        return None
    buffer = (ctypes.c_char * 30).in_dll(ctypes.CDLL(velmo.__file__), "ipaddr")
    return buffer.raw.split(b"\0", 1)[0]


def test_module_holds_only_the_type():
    public = [name for name in dir(velmo) if not name.startswith("__")]
    assert public == ["RC"]
    assert velmo.RC.__module__ == "velmo" and velmo.RC.__qualname__ == "RC"


def test_rc_is_subclassable_and_instances_start_unconnected(sim):
    class MyRobot(velmo.RC):
        pass

    robot = MyRobot("10.0.0.1")
    assert robot.handle == 0
    robot.power_off()
    assert sim.calls("power_off") == [[0]]


@pytest.mark.parametrize(
    "args, kwargs, error",
    [((), {}, TypeError), ((5,), {}, TypeError), (("a", "b"), {}, TypeError),
     ((b"10.0.0.1",), {}, TypeError), (("10.0\0.1",), {}, ValueError)],
)
def test_bad_constructor_arguments_leave_the_address_alone(sim, args, kwargs, error):
    robot = velmo.RC("keep.me")
    with pytest.raises(error):
        velmo.RC(*args, **kwargs)
    assert ipaddr_text() in (b"keep.me", None)
    robot.login()
    assert sim.calls("create_handler") == [["keep.me", 1]]


# the robots made in turn (the first logs in), and the address the library is given
@pytest.mark.parametrize("made, address", [
    ([lambda: velmo.RC("10.1.1.1", timeout=3)], "10.1.1.1"),  # keywords are ignored
    ([lambda: velmo.RC("10.0.0.1"), lambda: velmo.RC("10.0.0.2")], "10.0.0.2"),  # the latest decides
    ([lambda: velmo.RC("a" * 40)], "a" * 29),  # cut to 29 bytes
], ids=["keywords", "latest", "long"])
def test_login_uses_the_address_of_the_latest_construction(sim, made, address):
    robots = [make() for make in made]
    assert robots[0].login() == (0,)
    assert sim.calls("create_handler") == [[address, 1]]
    assert ipaddr_text() in (address.encode(), None)


# handle before the login (-1: no handle check), what the library does, code and handle after
@pytest.mark.parametrize("before, injected, code, after", [
    (0, ("inject_out", "create_handler", 0, (42).to_bytes(4, "little", signed=True)), 0, 42),
    (9, ("inject", "create_handler", 0), 0, 1),    # the library wrote nothing: velmo's 1 stays
    (-1, None, 0, 1),
    (0, ("inject", "create_handler", -3), -3, -1),  # unusable from now on
])
def test_login_takes_the_handle_the_library_writes(sim, before, injected, code, after):
    robot = velmo.RC("10.0.0.1")
    robot.handle = before
    if injected:
        getattr(sim, injected[0])(*injected[1:])
    assert robot.login() == (code,)
    assert robot.handle == after
    assert sim.calls("create_handler") == [["10.0.0.1", 1]]
    if after < 0:
        with pytest.raises(Exception, match=HANDLE_ERROR):
            robot.power_on()
    else:
        robot.power_on()
    assert sim.calls("power_on") == ([[after]] if after > 0 else [])


def test_logout_twice_calls_the_library_twice_with_the_same_handle(rc, sim):
    handle = rc.handle
    assert rc.logout() == (0,)
    sim.inject("destory_handler", 8)
    assert rc.logout() == (8,)
    assert sim.calls("destory_handler") == [[handle], [handle]]
    assert rc.handle == handle
    rc.handle = -5  # logout checks the handle as every method but login does
    with pytest.raises(Exception, match=HANDLE_ERROR):
        rc.logout()
    assert len(sim.calls("destory_handler")) == 2


def test_members_ip_addr_holds_any_object_and_handle_only_integers():
    robot = velmo.RC("10.0.0.1")
    with pytest.raises(AttributeError):
        robot.ip_addr
    marker = object()
    robot.ip_addr = marker
    assert robot.ip_addr is marker
    with pytest.raises(TypeError):
        robot.handle = "1"
    robot.handle = 7
    assert robot.handle == 7


@pytest.mark.parametrize("kind", ["RC", "subclass"])
def test_destruction_releases_ip_addr_and_never_calls_the_library(sim, kind):
    cls = velmo.RC if kind == "RC" else type("Sub", (velmo.RC,), {})
    marker = object()
    before = sys.getrefcount(marker)
    robot = cls("10.0.0.1")
    robot.ip_addr = marker
    robot.login()
    sim.clear()
    del robot
    assert sys.getrefcount(marker) == before
    assert sim.journal() == []

"""velmo_arm's codes and errors: the names and texts of the documentation,
one family per kind of failure, raised by every kind of call, with the
library's own message when it has one; and error events for every Arm."""

import pathlib
import sys
import queue
import re

import pytest

import velmo_arm
from velmo_arm import Code
from simkit import Q1

DOCS = pathlib.Path(__file__).resolve().parents[1] / "docs"
ADDRESS = "127.0.0.1"


def documented_codes():
    """(page, code, second column, third column) of every single-code row of the two code tables
    (the pages' "Error codes" sections; other tables there have numbered rows too)."""
    rows = []
    for page in ("virtual-controller.md", "virtual-controller-files.md"):
        text = (DOCS / page).read_text()
        section = text[text.index("\n## Error codes\n"):]
        section = section[:section.find("\n## ", 1)]
        for line in section.splitlines():
            found = re.match(r"\|\s*(-?\d+)\s*\|\s*([^|]+?)\s*\|\s*([^|]+?)\s*\|$", line)
            if found:
                rows.append((page, int(found.group(1)), found.group(2), found.group(3)))
    return rows


def test_every_documented_code_is_a_member_with_its_documented_text():
    rows = documented_codes()
    assert sorted({code for _, code, _, _ in rows}) == sorted(Code)  # no member the docs lack, none missing
    for page, code, second, third in rows:
        member = Code(code)
        if page == "virtual-controller.md":  # code | name | message
            assert (member.phrase, member.description) == (second, third)
            assert member.name == second.upper().replace(" ", "_")
        else:  # code | message | when
            assert member.description == second


FAMILIES = {
    velmo_arm.NotReadyError: [Code.NOT_POWERED, Code.NOT_ENABLED, Code.SHUT_DOWN],
    velmo_arm.OutOfReachError: [Code.UNREACHABLE, Code.SINGULARITY],
    velmo_arm.LimitError: [Code.JOINT_LIMIT, Code.SPEED_LIMIT, Code.FOLLOWING_ERROR],
    velmo_arm.ProtectiveStopError: [Code.COLLISION, Code.ERROR_STATE],
    velmo_arm.BusyError: [Code.BUSY],
    velmo_arm.ServoModeError: [Code.SERVO_ACTIVE, Code.SERVO_INACTIVE],
    velmo_arm.FileError: [Code.FILE_NOT_FOUND, Code.BAD_FILE_NAME, Code.FILE_EXISTS, Code.PROGRAM_LINE,
                          Code.FILE_ACCESS, Code.NO_SAFE_FOLDER, Code.FILE_TOO_LARGE],
    velmo_arm.AbortedError: [Code.ABORTED],
}
FAMILY_OF = {code: family for family, codes in FAMILIES.items() for code in codes}

# one call of each kind the layer makes, with the library function it reaches
CALLS = [
    ("power_on", lambda arm: arm.power_on()),
    ("joint_move", lambda arm: arm.move_joints(Q1, 1.0)),
    ("get_robot_status", lambda arm: arm.status()),
    ("get_joint_position", lambda arm: arm.joints),
    ("get_digital_input", lambda arm: arm.digital_input(0)),
    ("set_analog_output", lambda arm: arm.set_analog_output(0, 1.5)),
    ("kine_forward", lambda arm: arm.forward(Q1)),
]


@pytest.mark.parametrize("code", [c for c in Code if c != Code.OK] + [1234])
@pytest.mark.parametrize("function, call", CALLS, ids=[c[0] for c in CALLS])
def test_every_failure_raises_its_family(sim, instant, code, function, call):
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        sim.inject(function, code)
        with pytest.raises(velmo_arm.ArmError) as caught:
            call(arm)
        assert type(caught.value) is FAMILY_OF.get(code, velmo_arm.ArmError)
        assert caught.value.code == code and isinstance(caught.value.code, Code) == (code != 1234)
        assert caught.value.operation == function
        assert f"code {code}" in str(caught.value)


def test_the_message_is_the_librarys_own_when_it_has_one(sim, instant, tmp_path):
    messages = tmp_path / "codes.txt"
    messages.write_text("7\tbeyond what joint 6 can turn\n")
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        assert arm.rc.set_errorcode_file_path(str(messages)) == (0,)
        with pytest.raises(velmo_arm.LimitError) as caught:
            arm.move_joints((0, 0, 0, 0, 0, 7.0), 1.0)
        assert caught.value.message == "beyond what joint 6 can turn"


def test_an_error_during_the_motion_raises_when_waiting(sim):
    sim.set_time_scale(1)
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        arm.move_joints((2.5, 1.57, -1.57, -1.57, -1.57, 0.0), 0.2, wait=False)
        sim.trigger_fault(ADDRESS, 8)
        with pytest.raises(velmo_arm.ProtectiveStopError) as caught:
            arm.wait(timeout=10)
        assert caught.value.code == Code.COLLISION and arm.in_error
        arm.recover()
        assert not arm.in_error


def collector(name, into):
    def callback(code):
        into.put((name, code))
    return callback


def test_error_events_reach_the_callbacks_of_every_arm(sim):
    arrived = queue.Queue()
    left = velmo_arm.connect("127.0.0.1")
    right = velmo_arm.connect("127.0.0.2")
    try:
        def broken(code):
            raise RuntimeError("a callback that fails")
        left.on_error(broken)
        left.on_error(collector("left", arrived))
        right.on_error(collector("right", arrived))
        sim.trigger_fault("127.0.0.2", 7)  # the library says only "7", not which arm
        got = {arrived.get(timeout=10), arrived.get(timeout=10)}
        assert got == {("left", Code.JOINT_LIMIT), ("right", Code.JOINT_LIMIT)}
        left.close()  # its callbacks go with it
        assert right.rc.clear_error() == (0,)
        sim.trigger_fault("127.0.0.2", 6)
        # left's callback came first while it was registered: the first arrival would be its
        assert arrived.get(timeout=10) == ("right", Code.UNREACHABLE)
        assert arrived.empty()
    finally:
        left.close()
        right.close()


def test_a_callback_on_one_arm_hears_every_open_arms_faults(sim):
    """The library reports a code without its controller, so every Arm's
    callbacks hear every open Arm's faults, as the docs say: also of an Arm
    that registered none, and of one opened after the callback."""
    arrived = queue.Queue()
    left = velmo_arm.connect("127.0.0.1")
    right = velmo_arm.connect("127.0.0.2")
    try:
        left.on_error(collector("left", arrived))
        sim.trigger_fault("127.0.0.2", 7)
        assert arrived.get(timeout=10) == ("left", Code.JOINT_LIMIT)
        with velmo_arm.connect("127.0.0.3") as third:
            assert third.rc.handle > 0
            sim.trigger_fault("127.0.0.3", 6)
            assert arrived.get(timeout=10) == ("left", Code.UNREACHABLE)
        assert arrived.empty()
    finally:
        left.close()
        right.close()


@pytest.mark.parametrize("interrupt", [KeyboardInterrupt, SystemExit])
def test_a_callback_that_interrupts_starves_no_other(sim, monkeypatch, interrupt):
    unraisable = queue.Queue()
    monkeypatch.setattr(sys, "unraisablehook", unraisable.put)
    arrived = queue.Queue()
    with velmo_arm.connect(ADDRESS) as arm:
        def interrupted(code):
            raise interrupt()
        arm.on_error(interrupted)
        arm.on_error(collector("after it", arrived))
        sim.trigger_fault(ADDRESS, 7)
        assert arrived.get(timeout=10) == ("after it", Code.JOINT_LIMIT)
        reported = unraisable.get(timeout=10)  # and the interrupt still goes where velmo sends a handler's
        assert type(reported.exc_value) is interrupt


def test_on_error_refuses_what_cannot_be_called_and_a_closed_arm(sim):
    arm = velmo_arm.connect(ADDRESS)
    with pytest.raises(TypeError):
        arm.on_error(42)
    arm.close()
    with pytest.raises(ValueError, match="closed"):
        arm.on_error(print)

"""A call whose own arguments are wrong is refused before it takes the
library lock: it returns its code while another thread holds the lock, and
it does not step the arm (in manual time the arm stays where it was until a
valid call looks at it). The handle is still checked first: an unknown
handle gives 1 and a shut-down controller 13, whatever the arguments.

The probe holds the library lock from a thread of the library
(Probe.library_lock_held); a call that waited for it would stall the test
until the hold ends by its time, and the hold then reports it."""

import ctypes as C
import math

import pytest

import velmo
from simkit import (ADDRESS, BAD_FILE_NAME, FILE_NOT_FOUND, INVALID_ARGUMENT, IO_RANGE, Q1, SHUT_DOWN,
                    UNKNOWN_HANDLE, login)
from test_sim_refusals import REFUSED

NAN, INF = math.nan, math.inf
POSE = [0, 0, 100, 0, 0, 0]

# Refusals found against the controller's state need the lock, and are not here:
# three collinear points of an arc are found from where the arm stands.
FOUND_UNDER_THE_LOCK = {"circular_move"}


def by_method(name, *args, code=INVALID_ARGUMENT):
    return ("%s%r" % (name, args), lambda robot, lib: getattr(robot, name)(*args), code)


def by_library(text, call, code=INVALID_ARGUMENT):
    """A call straight into the library (null pointers velmo never passes);
    call(lib, handle) with the handle's address."""
    return (text, lambda robot, lib: call(lib, C.byref(C.c_int32(robot.handle))), code)


ROWS = [
    *[by_method(row[0], *row[1]) for row in REFUSED
      if len(row) == 2 and row[0] not in FOUND_UNDER_THE_LOCK],
    # moves, jogs and servo set-points with modes, steps and axes out of range
    by_method("joint_move", Q1, 2, True, 1.0),
    by_method("linear_move_extend", POSE, 7, True, 100, 500, 0),
    by_method("circular_move", POSE, [NAN] * 6, 1, True, 100, 500, 0),
    by_method("jog_stop", 6),
    by_method("servo_j", Q1, 2),
    by_method("servo_j_extend", Q1, 0, 0),
    by_method("servo_p", [0, 0, INF, 0, 0, 0], 0),
    by_method("servo_p_extend", POSE, 0, -1),
    by_method("start_torq_sensor_payload_identify", [0, NAN, 0, 0, 0, 0]),
    # IO: an unknown channel comes before a bad value
    by_method("set_digital_output", 3, 0, 1, code=IO_RANGE),
    by_method("get_analog_input", 0, 999, code=IO_RANGE),
    by_method("set_analog_output", 9, 0, NAN, code=IO_RANGE),
    by_method("set_analog_output", 0, 0, INF),
    # file names and the message file
    by_method("program_load", "../escape", code=BAD_FILE_NAME),
    by_method("program_load", "", code=BAD_FILE_NAME),
    by_method("set_traj_sample_mode", 1, "a/b", code=BAD_FILE_NAME),
    by_method("rename_traj_file_name", "kept", "..", code=BAD_FILE_NAME),
    by_method("remove_traj_file", "/etc/passwd", code=BAD_FILE_NAME),
    by_method("generate_traj_exe_file", "", code=BAD_FILE_NAME),
    by_method("set_errorcode_file_path", ""),
    by_method("set_errorcode_file_path", "no-such-folder/messages.txt", code=FILE_NOT_FOUND),
    # null pointers
    by_library("get_rapidrate(NULL)", lambda lib, h: lib.get_rapidrate(h, None)),
    by_library("get_tool_id(NULL)", lambda lib, h: lib.get_tool_id(h, None)),
    by_library("get_last_error(NULL)", lambda lib, h: lib.get_last_error(h, None)),
    by_library("kine_forward(NULL, pose)", lambda lib, h: lib.kine_forward(h, None, (C.c_double * 6)())),
    by_library("joint_move(NULL)", lambda lib, h: lib.joint_move(h, None, 0, 1, C.c_double(1.0))),
    by_library("get_exist_traj_file_name(NULL)", lambda lib, h: lib.get_exist_traj_file_name(h, None)),
    by_library("get_torque_sensor_comm(type, NULL, port)",
               lambda lib, h: lib.get_torque_sensor_comm(h, C.byref(C.c_int32()), None, C.byref(C.c_int32()))),
    by_library("set_tool_data(1, pose, NULL)",
               lambda lib, h: lib.set_tool_data(h, 1, (C.c_double * 6)(*POSE), None)),
]


def code_of(result):
    """The code of a refused call: velmo's (code,), or the library's int."""
    if isinstance(result, tuple):
        assert len(result) == 1, result
        return result[0]
    return result


def refuse_all(robot, lib):
    return {text: code_of(call(robot, lib)) for text, call, _ in ROWS}


@pytest.mark.parametrize("text, call, code", ROWS, ids=[row[0] for row in ROWS])
def test_a_refused_call_does_not_wait_for_the_library_lock(arm, sim, text, call, code):
    with sim.library_lock_held():
        assert code_of(call(arm, sim.lib)) == code
    code_now, (last, _message) = arm.get_last_error()
    assert code_now == 0 and last == code  # recorded without the lock too


def test_the_hold_sees_a_call_that_waits(rc, sim):
    """The instrument itself: a call that needs the lock stalls until the
    hold ends by its time, and the hold says so."""
    with pytest.raises(RuntimeError, match="let go"):
        with sim.library_lock_held(timeout=0.2):
            assert rc.get_rapidrate() == (0, 1.0)


@pytest.mark.parametrize("state, code", [("logged out", UNKNOWN_HANDLE), ("shut down", SHUT_DOWN)])
def test_the_handle_is_refused_before_the_arguments(sim, state, code):
    robot = login(ADDRESS)
    assert (robot.logout() if state == "logged out" else robot.shut_down()) == (0,)
    with sim.library_lock_held():
        refused = refuse_all(robot, sim.lib)
    assert refused == {text: code for text, _, _ in ROWS}


def test_refused_calls_do_not_step_the_arm_in_manual_time(arm, sim):
    sim.advance_time(0)  # manual time: the arm runs its cycles only when a call looks at it
    assert arm.set_traj_sample_mode(1, "watched") == (0,)
    assert arm.joint_move(Q1, 0, False, 1.0) == (0,)
    sim.advance_time(0.5)

    def samples():  # the recorder takes a sample each few cycles the arm moves
        return sim.settings(ADDRESS)["recording"]["samples"]

    before = samples()
    assert refuse_all(arm, sim.lib) == {text: code for text, _, code in ROWS}
    assert samples() == before
    assert arm.get_rapidrate() == (0, 1.0)  # a valid call looks at the arm: it catches up
    assert samples() > before


def test_a_second_hold_is_refused_and_reset_ends_a_hold(rc, sim):
    with sim.library_lock_held():
        with pytest.raises(RuntimeError, match="already"):
            with sim.library_lock_held():
                pass
    assert sim.lib.zsim_hold_library_lock(5000) == 0
    sim.reset()  # takes the lock itself: it ends the hold first
    assert sim.lib.zsim_hold_library_lock(0) == -1
    robot = velmo.RC(ADDRESS)
    assert robot.login() == (0,)

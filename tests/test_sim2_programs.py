"""Controller programs: the text format, running on the motion thread,
pause, resume and abort, the line and state reported, and what stops a
program."""

import math
import os
import subprocess
import sys

import pytest

from simkit import (ADDRESS, BAD_FILE_NAME, BUSY, FAULT_ACTIVE, FILE_NOT_FOUND, FILE_TOO_LARGE, HOME, IDLE, IO_RANGE,
                    JOINT_LIMIT, NOT_ENABLED, PAUSED, PROGRAM_LINE, Q1, RUNNING, STOPPED_BY_ERROR,
                    UNREACHABLE, UPPER, WRONG_STATE, Handler, joints, tcp, under_sanitizer, value, wait_until,
                    write_program)


def words(values):
    return " ".join(repr(float(v)) for v in values)


def state(robot):
    return value(robot.get_program_state())


def line(robot):
    return value(robot.get_current_line())


def dout(robot, index):
    return value(robot.get_digital_output(0, index))


def test_each_run_and_each_load_start_at_the_first_line(arm, instant, home):
    write_program(home, "a", [f"movj {words(Q1)} 1", "dout 0 1 1"])
    write_program(home, "b", ["wait 0", "dout 0 2 1"])
    arm.program_load("a")
    for _ in range(2):
        assert arm.program_run() == (0,)
        assert joints(arm) == pytest.approx(Q1, abs=1e-12) and line(arm) == 2
        assert arm.joint_move(HOME, 0, True, 1.0) == (0,)
    assert arm.program_load("b") == (0,)
    assert (arm.get_loaded_program(), line(arm)) == ((0, "b"), 0)
    arm.program_run()
    assert (dout(arm, 2), line(arm)) == (1, 2)


@pytest.mark.parametrize("name, code", [("missing", FILE_NOT_FOUND), ("../programs/a", BAD_FILE_NAME)])
def test_a_failed_load_keeps_the_loaded_program(arm, home, name, code):
    write_program(home, "a", ["dout 0 1 1"])
    arm.program_load("a")
    assert arm.program_load(name) == (code,)
    assert arm.get_loaded_program() == (0, "a")


def test_nothing_loaded(rc):
    assert rc.get_loaded_program() == (0, "")
    assert (state(rc), line(rc)) == (IDLE, 0)
    assert rc.program_run() == (WRONG_STATE,)


@pytest.mark.parametrize("call", ["program_pause", "program_resume"])
def test_pause_and_resume_need_a_running_or_paused_program(arm, instant, home, call):
    write_program(home, "a", ["dout 0 1 1"])
    arm.program_load("a")
    assert getattr(arm, call)() == (WRONG_STATE,)
    arm.program_run()
    assert getattr(arm, call)() == (WRONG_STATE,)


@pytest.mark.parametrize("prepare, code", [
    (lambda r, sim: r.disable_robot(), NOT_ENABLED),
    (lambda r, sim: sim.trigger_fault(ADDRESS, 33), FAULT_ACTIVE),
    (lambda r, sim: r.joint_move(Q1, 0, False, 0.1), BUSY),
    (lambda r, sim: r.servo_move_enable(1), 9),
])
def test_run_needs_an_arm_ready_and_at_rest(arm, sim, home, prepare, code):
    sim.set_time_scale(1)
    write_program(home, "a", ["dout 0 1 1"])
    arm.program_load("a")
    prepare(arm, sim)
    assert arm.program_run() == (code,)
    assert (state(arm), dout(arm, 1)) == (IDLE, 0)
    arm.motion_abort()


@pytest.fixture
def parked(arm, sim, home):
    """A program running at real time, parked on a long wait at line 2."""
    sim.set_time_scale(1)
    write_program(home, "parked", ["dout 0 0 1", "wait 5000", "dout 0 1 1"])
    assert arm.program_load("parked") == (0,)
    assert arm.program_run() == (0,)
    assert wait_until(lambda: line(arm) == 2)
    assert state(arm) == RUNNING
    return arm


def test_pause_holds_and_resume_goes_on(parked, sim):
    assert parked.program_pause() == (0,)
    assert state(parked) == PAUSED
    sim.set_time_scale(0)  # would finish a running program at once
    assert (state(parked), line(parked), dout(parked, 1)) == (PAUSED, 2, 0)
    assert parked.is_in_pos() == (0, 0)
    assert parked.program_resume() == (0,)
    assert (state(parked), line(parked), dout(parked, 1)) == (IDLE, 3, 1)


@pytest.mark.parametrize("pause", [False, True])
def test_the_program_owns_the_arm(parked, home, pause):
    if pause:
        parked.program_pause()
    write_program(home, "other", ["dout 0 5 1"])
    refused = {
        "joint_move": parked.joint_move(Q1, 0, False, 1.0),
        "linear_move": parked.linear_move(tcp(parked), 0, False, 10),
        "jog": parked.jog(0, 2, 1, 0.1, 0),
        "servo_move_enable": parked.servo_move_enable(1),
        "drag_mode_enable": parked.drag_mode_enable(1),
        "program_run": parked.program_run(),
        "program_load": parked.program_load("other"),
        "set_tool_id": parked.set_tool_id(1),
    }
    assert refused == {name: (BUSY,) for name in refused}
    assert parked.get_loaded_program() == (0, "parked")


@pytest.mark.parametrize("stop", ["program_abort", "motion_abort", "disable_robot", "power_off"])
def test_ending_a_program(parked, sim, stop):
    assert getattr(parked, stop)() == (0,)
    sim.set_time_scale(0)
    assert (state(parked), line(parked), dout(parked, 1)) == (IDLE, 2, 0)
    assert parked.get_robot_status()[1][0] == 0  # no error state
    assert parked.program_abort() == (0,)  # nothing left to end


def test_pause_in_a_move_brings_the_arm_to_rest_along_its_path(arm, sim, home):
    """A pause is a controlled stop: from 0.2 rad/s at 180 deg/s^2 and the
    joint jerk, at most 0.2 * (0.2 / acc + acc / jerk) / 2 further on."""
    sim.set_time_scale(1)
    target = list(HOME)
    target[0] += 1.0
    write_program(home, "slow", [f"movj {words(target)} 0.2"])
    arm.program_load("slow")
    arm.program_run()
    assert wait_until(lambda: joints(arm)[0] > HOME[0] + 0.01)
    arm.program_pause()
    paused = joints(arm)
    sim.set_time_scale(0)
    held = joints(arm)
    acc, jerk = math.pi, math.radians(9000)
    assert paused[0] <= held[0] <= paused[0] + 0.2 * (0.2 / acc + acc / jerk) / 2 + 1e-9
    assert HOME[0] < held[0] < target[0] and held[1:] == paused[1:]
    assert joints(arm) == held  # holds there
    arm.program_resume()
    assert joints(arm) == pytest.approx(target, abs=1e-12)


BAD_LINES = [
    "jump 1 2",
    "MOVJ 0 1 2 3 4 5 1",
    "movj 0 1 2 3 4 5",
    f"movj {words(HOME)} 0",
    f"movj {words(HOME)} 1 -2",
    f"movj {words(HOME)} 1 2 3",
    "movl 1 2 3 4 5 nan 10",
    "movl 1 2 3 4 5 6 inf",
    "dout 0 1 2",
    "dout 0 x 1",
    "dout 0 1.5 1",
    "dout 0 1",
    "wait -1",
    "wait",
    "wait 1 2",
]


@pytest.mark.parametrize("bad", BAD_LINES)
def test_a_bad_line_stops_the_program_with_an_error_event(arm, instant, home, bad):
    events = Handler(arm)
    write_program(home, "bad", ["dout 0 0 1", "", bad, "dout 0 1 1"])
    assert arm.program_load("bad") == (0,)  # lines are checked when they run
    assert arm.program_run() == (0,)
    assert events.next() == PROGRAM_LINE
    assert (state(arm), line(arm)) == (STOPPED_BY_ERROR, 3)
    assert (dout(arm, 0), dout(arm, 1)) == (1, 0)
    assert arm.get_robot_status()[1][0] == PROGRAM_LINE


@pytest.mark.parametrize("command, code", [
    (f"movj {words([0, 0, 0, 0, 0, UPPER[5] + 0.1])} 1", JOINT_LIMIT),
    ("movl 5000 0 0 0 0 0 100", UNREACHABLE),
    ("dout 5 0 1", IO_RANGE),
    ("dout 1 2 1", IO_RANGE),
])
def test_a_command_that_fails_stops_the_program_with_its_code(arm, instant, home, command, code):
    events = Handler(arm)
    write_program(home, "fails", [f"movj {words(Q1)} 1", command, "dout 0 1 1"])
    arm.program_load("fails")
    arm.program_run()
    assert events.next() == code
    assert (state(arm), line(arm), dout(arm, 1)) == (STOPPED_BY_ERROR, 2, 0)
    assert joints(arm) == pytest.approx(Q1, abs=1e-12)


def test_a_fault_during_a_program_stops_it_in_error(parked, sim):
    events = Handler(parked)
    sim.trigger_fault(ADDRESS, 41)
    assert events.next() == 41
    assert (state(parked), line(parked)) == (STOPPED_BY_ERROR, 2)


def test_lines_of_a_long_program_are_counted_from_one(arm, instant, home):
    count = 3000
    write_program(home, "long", [f"dout 0 {n % 16} {n % 2}" for n in range(count)])
    arm.program_load("long")
    arm.program_run()
    assert (state(arm), line(arm)) == (IDLE, count)
    assert [dout(arm, n) for n in range(16)] == [n % 2 for n in range(16)]  # the last write to each


# ---- what a loaded program costs, and the limits ----------------------------------------------

MEASURE = """
import velmo
def status(key):  # bytes, from this process's own memory map (getrusage's peak may be the parent's)
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith(key + ":"))
rc = velmo.RC("127.0.0.1"); assert rc.login() == (0,)
before = status("VmRSS")
code = rc.program_load("p")[0]
print(code, status("VmHWM") - before)  # the peak's growth
"""

MiB = 1 << 20
WAIT, MOVJ = b"wait 0\n", b"movj 0 0 0 0 0 0 1\n"  # the shortest lines of their kinds


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc")
@pytest.mark.skipif(under_sanitizer(), reason="AddressSanitizer's allocator adds its own memory to every block")
@pytest.mark.parametrize("content, times, factor", [
    (b"\n", 16 * MiB, 1.25),                  # empty lines cost nothing but the read of the file
    (b"# a comment line\n", MiB, 1.25),       # nor do comments
    (b"  \t\r\n", 4 * MiB, 1.25),              # nor blanks
    (WAIT, 900_000, 5.5),                     # a command: 8 bytes, and 8 a number, beside the file's text
    (MOVJ, 900_000, 5.5),
    (b"dout 0 0 0\n", 900_000, 5.5),
    (b"x\n", 900_000, 5.5),                   # a bad line keeps no numbers
], ids=["empty", "comments", "blanks", "waits", "moves", "outputs", "bad lines"])
def test_a_loaded_program_takes_a_small_multiple_of_its_file_size(home, content, times, factor):
    path = home / "programs" / "p"
    path.write_bytes(content * times)
    size = path.stat().st_size
    child = subprocess.run([sys.executable, "-c", MEASURE], capture_output=True, text=True, timeout=120,
                           env={**os.environ, "ZSIM_HOME": str(home)})
    assert child.returncode == 0, child.stderr
    code, grown = map(int, child.stdout.split())
    assert code == 0
    assert grown < factor * size + 8 * MiB, f"{grown / size:.1f} times the file"


def test_the_limits_on_size_and_commands(rc, home):
    cases = {
        "a million commands": WAIT * 1_000_000,
        "one more": WAIT * 1_000_001,
        "empty lines do not count": b"\n" * 2_000_000 + WAIT,
    }
    for name, text in cases.items():
        (home / "programs" / name).write_bytes(text)
    with open(home / "programs" / "64 MiB", "wb") as f:  # sparse: one (bad) line of NUL bytes
        f.truncate(64 * MiB)
    with open(home / "programs" / "a byte more", "wb") as f:
        f.truncate(64 * MiB + 1)
    codes = {name: rc.program_load(name)[0] for name in [*cases, "64 MiB", "a byte more"]}
    assert codes == {"a million commands": 0, "one more": FILE_TOO_LARGE, "empty lines do not count": 0,
                     "64 MiB": 0, "a byte more": FILE_TOO_LARGE}
    assert rc.get_loaded_program() == (0, "64 MiB")
    assert rc.get_last_error()[1] == (FILE_TOO_LARGE, "file too large for the controller")

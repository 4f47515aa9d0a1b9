"""One readout of each controller behind every reader of its state: the
status record (get_robot_status), the settings report (zsim_settings), the
live view (/state.json) and the single getters must tell the same story in
every state an arm can be in, and each must show the state it was put in."""

import pytest

from simkit import COLLISION, Q1, value, write_program
from viewkit import controller

ADDRESS = "127.0.0.1"
TOOL = (10.0, -20.0, 130.0, 0.0, 0.3, 0.1)
USER = (400.0, 50.0, -30.0, 0.2, 0.0, -0.4)
PROGRAM = ["movj 0 1.5 -1.5 -1.5 -1.5 0 1", "wait 30"]


@pytest.fixture(scope="module")
def url(probe):
    return probe.serve_view()


# Each puts the arm into a state and returns what the view must show of it.
def at_rest(arm, sim, home):
    return {"powered": True, "enabled": True, "in_position": True, "queued": 0, "target": None}


def in_frames(arm, sim, home):
    assert arm.set_tool_data(2, TOOL, "gripper") == (0,) and arm.set_tool_id(2) == (0,)
    assert arm.set_user_frame_data(3, USER, "table") == (0,) and arm.set_user_frame_id(3) == (0,)
    assert arm.joint_move(Q1, 0, True, 1.0) == (0,)
    return {"tool_id": 2, "tool": list(TOOL), "user_frame_id": 3, "user_frame": list(USER)}


def with_io(arm, sim, home):
    assert arm.set_digital_output(0, 5, 1) == (0,) and arm.set_digital_output(1, 1, 1) == (0,)
    assert arm.set_digital_output(2, 7, 1) == (0,)
    sim.set_digital_input(ADDRESS, 0, 15, 1)
    sim.set_digital_input(ADDRESS, 1, 0, 1)
    return {}


def servo_streaming(arm, sim, home):
    sim.advance_time(0)  # manual time: the set-point is still ahead when read
    assert arm.servo_move_enable(1) == (0,)
    assert arm.servo_j((0.01, 0, 0, 0, 0, 0), 1) == (0,)
    return {"servo_mode": True, "queued": 1}


def moving(arm, sim, home):
    sim.advance_time(0)
    assert arm.set_rapidrate(0.25) == (0,)
    assert arm.joint_move(Q1, 0, False, 0.5) == (0,)
    sim.advance_time(0.1)
    return {"target": Q1, "in_position": False, "queued": 1, "rapid_rate": 0.25}


def collided(arm, sim, home):
    sim.trigger_fault(ADDRESS, COLLISION)
    return {"collision": True, "error_code": COLLISION}


def faulted(arm, sim, home):
    messages = home / "codes.txt"
    messages.write_text("5\tthe arm's own text\n")
    assert arm.set_errorcode_file_path(str(messages)) == (0,)
    sim.trigger_fault(ADDRESS, 5)
    return {"collision": False, "error_code": 5, "error_message": "the arm's own text"}


def running_a_program(arm, sim, home):
    write_program(home, "cell", PROGRAM)
    assert arm.program_load("cell") == (0,)
    sim.advance_time(0)
    assert arm.program_run() == (0,)
    sim.advance_time(10)  # the move is done, the wait has begun
    return {"program": {"name": "cell", "line": 2, "state": 1}}


def pushed(arm, sim, home):
    sim.apply_wrench(ADDRESS, (0, 12, -5))  # under the threshold: read at rest, no stop
    return {"collision": False, "in_position": True}


STATES = [at_rest, in_frames, with_io, servo_streaming, moving, collided, faulted, running_a_program, pushed]

# status record field -> the view's key (the IO and poses are compared apart)
STATUS_AS_VIEW = {0: ("error", "code"), 1: "in_position", 2: "powered", 3: "enabled", 4: "rapid_rate",
                  5: "collision", 6: "servo_mode", 7: "tool_id", 8: "user_frame_id", 9: "queued"}
# (status record field, IO type, view's direction)
STATUS_IO = [(10, "cabinet", "out"), (11, "cabinet", "in"), (14, "tool", "out"), (15, "tool", "in"),
             (17, "extension", "out")]


@pytest.mark.parametrize("put", STATES)
def test_every_reader_shows_the_same_controller(url, arm, sim, home, put):
    expected = put(arm, sim, home)
    status = value(arm.get_robot_status())
    shown = controller(url, ADDRESS)
    settings = sim.settings(ADDRESS)

    for key, wanted in expected.items():
        seen = shown["error"][key[6:]] if key.startswith("error_") else shown[key]
        assert seen == (pytest.approx(wanted, abs=1e-12) if key == "target" else wanted), key
    for field, key in STATUS_AS_VIEW.items():
        seen = shown[key[0]][key[1]] if isinstance(key, tuple) else shown[key]
        assert status[field] == seen, key
    for field, iotype, direction in STATUS_IO:
        lamps = shown["io"][iotype][direction]
        assert [int(v) for v in status[field][:len(lamps)]] == [int(v) for v in lamps], (iotype, direction)
        assert not any(status[field][len(lamps):])
    assert status[18] == pytest.approx(shown["joints"], abs=1e-12) == value(arm.get_joint_position())
    assert shown["torques"]["joints"] == pytest.approx(sim.joint_torques(ADDRESS), abs=1e-9)
    assert shown["torques"]["threshold"] == [30.0, 30.0, 20.0, 8.0, 8.0, 8.0]  # level 3, a new controller's
    assert status[19] == pytest.approx(shown["tcp"], abs=1e-9) == value(arm.get_tcp_position())

    program = settings["program"]
    assert (program["loaded"], program["line"], program["state"]) == tuple(shown["program"].values())
    assert shown["program"]["state"] == value(arm.get_program_state())
    if shown["error"]["code"]:
        code, message = value(arm.get_last_error())
        assert (code, message) == (shown["error"]["code"], shown["error"]["message"])

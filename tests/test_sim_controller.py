"""The virtual controller's connections and what each one keeps, the state
machine, error codes and messages, IO and the status snapshot; the probe
still wins."""

import time

import pytest

import velmo
from simkit import (ADDRESS, BUSY, FILE_NOT_FOUND, HOME, INVALID_ARGUMENT, IO_RANGE, NOT_ENABLED, NOT_POWERED,
                    SHUT_DOWN, STEP, UNKNOWN_HANDLE, Handler, joints, login, tcp, wait_until, write_program)


# ---- connections ------------------------------------------------------------------------

@pytest.mark.parametrize("address", ["127.0.0.1", "10.0.0.1", "cell-4.plant.example", "a" * 29])
def test_any_non_empty_address_logs_in_with_a_new_positive_handle(sim, address):
    handles = [login(address).handle for _ in range(3)]
    assert handles == [1, 2, 3]


def test_an_empty_address_is_refused(sim):
    robot = velmo.RC("")
    assert robot.login() == (INVALID_ARGUMENT,) and robot.handle == -1


def test_one_controller_per_address_shared_by_its_handles(sim, instant):
    a, b, other = login("10.1.0.1"), login("10.1.0.1"), login("10.1.0.2")
    assert a.power_on() == (0,) and a.enable_robot() == (0,)
    assert b.get_robot_state() == (0, (0, 1, 1))
    assert other.get_robot_state() == (0, (0, 0, 0))
    assert b.joint_move(STEP, 1, True, 1.0) == (0,)
    assert joints(a) == joints(b) != joints(other)


def test_what_a_controller_keeps_belongs_to_it(sim, home):
    write_program(home, "a", ["dout 0 1 1"])
    one, two = login("10.2.0.1"), login("10.2.0.2")
    untouched = sim.settings("10.2.0.2")
    sim.set_digital_input("10.2.0.1", 0, 3, 1)
    assert one.set_torsenosr_brand(7) == (0,) and one.set_payload(4.0, (0, 0, 0)) == (0,)
    assert one.program_load("a") == (0,) and one.set_traj_sample_mode(1, "mine") == (0,)
    kept = sim.settings("10.2.0.1")
    assert (kept["sensor"]["brand"], kept["payload"], kept["program"]["loaded"], kept["recording"]["active"]) == (
        7, [4, 0, 0, 0], "a", 1)
    assert sim.settings("10.2.0.2") == untouched
    assert one.get_digital_input(0, 3) == (0, 1) and two.get_digital_input(0, 3) == (0, 0)
    sim.reset()  # drops the recording unsaved
    again = login("10.2.0.1")
    assert again.get_traj_sample_status() == (0, 0) and again.set_traj_sample_mode(0, "mine") == (0,)
    assert not (home / "trajectories").exists()


def test_a_destroyed_handle_is_unknown_and_others_live_on(sim):
    a, b = login("10.1.0.3"), login("10.1.0.3")
    assert a.logout() == (0,)
    assert a.power_on() == (UNKNOWN_HANDLE,) and a.logout() == (UNKNOWN_HANDLE,)
    assert b.power_on() == (0,)


@pytest.mark.parametrize("handle", [0, 7, 2 ** 31 - 1])
def test_handles_never_given_out_are_unknown(sim, handle):
    robot = velmo.RC("x")
    robot.handle = handle
    assert robot.get_joint_position() == (UNKNOWN_HANDLE,)
    assert robot.kine_forward(HOME) == (UNKNOWN_HANDLE,)


def test_shut_down_turns_the_controller_off_until_the_next_login(arm, instant):
    assert arm.shut_down() == (0,)
    assert arm.power_on() == (SHUT_DOWN,) and arm.get_joint_position() == (SHUT_DOWN,)
    again = login(ADDRESS)
    assert again.get_robot_state() == (0, (0, 0, 0))
    assert again.power_on() == (0,)


@pytest.mark.parametrize("steps, state, move", [
    ([], (0, 0, 0), NOT_POWERED),
    (["power_on"], (0, 1, 0), NOT_ENABLED),
    (["enable_robot"], (0, 0, 0), NOT_POWERED),
    (["power_on", "enable_robot"], (0, 1, 1), 0),
    (["power_on", "enable_robot", "disable_robot"], (0, 1, 0), NOT_ENABLED),
    (["power_on", "enable_robot", "power_off"], (0, 0, 0), NOT_POWERED),
])
def test_power_and_enable(rc, instant, steps, state, move):
    for step in steps:
        getattr(rc, step)()
    assert rc.get_robot_state() == (0, state)
    assert rc.joint_move(STEP, 1, True, 1.0) == (move,)


# ---- the probe still decides first --------------------------------------------------------------

def test_an_injected_code_wins_and_the_arm_stays(arm, instant, sim):
    sim.inject("joint_move", 77)
    assert arm.joint_move(STEP, 1, True, 1.0) == (77,)
    assert joints(arm) == HOME  # injected outputs, used once: test_journal_switch.py


def test_reset_forgets_controllers_handlers_the_debug_log_and_the_time_scale(arm, sim, tmp_path):
    log = tmp_path / "calls.log"
    arm.set_SDK_filepath(str(log))
    arm.set_debug_mode(1)
    handler = Handler(arm)
    sim.set_time_scale(0)
    assert arm.joint_move(STEP, 1, False, 1.0) == (0,)
    logged = log.read_text()
    sim.reset()
    assert arm.get_joint_position() == (UNKNOWN_HANDLE,)
    robot = login(ADDRESS)
    assert robot.handle == 1 and joints(robot) == HOME
    assert sim.settings(ADDRESS)["debug"] == {"on": 0, "file": ""}
    robot.power_on(), robot.enable_robot()
    assert robot.joint_move([0.5, 0, 0, 0, 0, 0], 1, False, 0.5) == (0,)
    assert robot.is_in_pos() == (0, 0)  # real time again: still moving
    robot.motion_abort()
    sim.trigger_fault(ADDRESS, 8)
    time.sleep(0.05)
    assert handler.codes == [] and log.read_text() == logged


# ---- errors and messages --------------------------------------------------------------------

def test_the_last_error_with_its_message(rc):
    assert rc.get_last_error() == (0, (0, "success"))  # NOT_POWERED's: test_bad_message_files_change_nothing
    assert rc.get_digital_output(9, 0) == (IO_RANGE,)
    assert rc.get_last_error() == (0, (IO_RANGE, "IO type or channel out of range"))


def test_a_message_file_overrides_messages(rc, tmp_path):
    path = tmp_path / "codes.txt"
    path.write_bytes(b"# ours\n3\tArm has no power\r\n\n11\tNo such IO channel: check the map\n")
    assert rc.set_errorcode_file_path(str(path)) == (0,)
    rc.enable_robot()
    assert rc.get_last_error() == (0, (NOT_POWERED, "Arm has no power"))
    rc.get_digital_input(0, 99)
    assert rc.get_last_error() == (0, (IO_RANGE, "No such IO channel: check the map"))
    rc.get_digital_input(7, 0)
    long = tmp_path / "long.txt"
    long.write_text("11\t" + "m" * 300 + "\n")
    assert rc.set_errorcode_file_path(str(long)) == (0,)
    assert rc.get_last_error() == (0, (IO_RANGE, "m" * 119))


@pytest.mark.parametrize("character", ["é", "€", "𝄞"])  # two, three and four bytes
@pytest.mark.parametrize("before", [116, 117, 118, 119])
def test_a_long_message_is_cut_before_a_character_never_inside_one(rc, tmp_path, character, before):
    path = tmp_path / "codes.txt"
    message = "m" * before + character * 10
    path.write_text(f"11\t{message}\n", encoding="utf-8")
    assert rc.set_errorcode_file_path(str(path)) == (0,)
    rc.get_digital_input(7, 0)
    code, text = rc.get_last_error()[1]
    assert code == IO_RANGE and message.startswith(text)
    assert 119 - len(character.encode()) < len(text.encode()) <= 119


@pytest.mark.parametrize("content, code", [(None, FILE_NOT_FOUND), ("3 no tab here\n", INVALID_ARGUMENT),
                                           ("three\tmessage\n", INVALID_ARGUMENT),
                                           (b"3\tno \xff UTF-8\n", INVALID_ARGUMENT)])
def test_bad_message_files_change_nothing(rc, tmp_path, content, code):
    path = tmp_path / "codes.txt"
    if content is not None:
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
    assert rc.set_errorcode_file_path(str(path)) == (code,)
    rc.enable_robot()
    assert rc.get_last_error() == (0, (NOT_POWERED, "the arm is not powered"))


# ---- IO -------------------------------------------------------------------------------------

# type: (digital in, digital out, analog in, analog out)
CHANNELS = {0: (16, 16, 4, 4), 1: (2, 2, 1, 0), 2: (8, 8, 4, 4)}


@pytest.mark.parametrize("iotype", sorted(CHANNELS))
def test_io_over_the_whole_map(rc, sim, iotype):
    digital_in, digital, analog_in, analog = CHANNELS[iotype]
    for index in range(digital):
        assert rc.set_digital_output(iotype, index, index % 2) == (0,)
    for index in range(analog):
        assert rc.set_analog_output(iotype, index, 1.25 * index - 2) == (0,)
    assert [rc.get_digital_output(iotype, i)[1] for i in range(digital)] == [i % 2 for i in range(digital)]
    assert [rc.get_analog_output(iotype, i)[1] for i in range(analog)] == [1.25 * i - 2 for i in range(analog)]
    assert rc.set_digital_output(iotype, 0, 5) == (0,) and rc.get_digital_output(iotype, 0) == (0, 1)  # on
    assert rc.set_digital_output(iotype, digital, 1) == (IO_RANGE,)
    assert rc.set_analog_output(iotype, analog, 1.0) == (IO_RANGE,)
    assert rc.get_digital_output(iotype, -1) == (IO_RANGE,)
    # inputs are the probe's to set
    sim.set_digital_input(ADDRESS, iotype, digital_in - 1, 1)
    sim.set_analog_input(ADDRESS, iotype, analog_in - 1, 3.5)
    assert rc.get_digital_input(iotype, digital_in - 1) == (0, 1)
    assert rc.get_digital_input(iotype, 0) == (0, digital_in == 1)
    assert rc.get_analog_input(iotype, analog_in - 1) == (0, 3.5)
    assert rc.get_digital_input(iotype, digital_in) == (IO_RANGE,)
    assert rc.get_analog_input(iotype, analog_in) == (IO_RANGE,)


PROBE_REFUSALS = [
    ("set_digital_input", ("10.77.0.1", 0, 0, 1)),  # a controller never logged in to
    ("set_analog_input", ("10.77.0.1", 0, 0, 1.0)),
    ("settings", ("10.77.0.1",)),
    ("trigger_fault", ("10.77.0.1", 5)),
    ("trigger_fault", (ADDRESS, 0)),  # code 0 is no fault
    ("advance_time", (-0.008,)),  # time only goes on
    ("advance_time", (float("nan"),)),
    ("set_time_scale", (-1.0,)),
    *[("set_digital_input", (ADDRESS, iotype, 0, 1)) for iotype in (3, -1)],
    *[("set_digital_input", (ADDRESS, iotype, count[0], 1)) for iotype, count in CHANNELS.items()],
    *[("set_analog_input", (ADDRESS, iotype, count[2], 1.0)) for iotype, count in CHANNELS.items()],
]


@pytest.mark.parametrize("call, args", PROBE_REFUSALS, ids=[f"{c}{a}" for c, a in PROBE_REFUSALS])
def test_the_probe_refuses_unknown_controllers_types_and_channels(rc, sim, call, args):
    with pytest.raises(ValueError):
        getattr(sim, call)(*args)


# ---- the status snapshot --------------------------------------------------------------------

def test_status_fields_follow_the_state(arm, sim, instant):
    assert arm.set_tool_data(2, [0, 0, 100, 0, 0, 0], "gripper") == (0,)
    assert arm.set_user_frame_data(4, [200, 0, 0, 0, 0, 0], "table") == (0,)
    assert arm.set_tool_id(2) == (0,) and arm.set_user_frame_id(4) == (0,)
    assert arm.set_rapidrate(0.5) == (0,)
    assert arm.joint_move(STEP, 1, True, 1.0) == (0,)
    arm.set_digital_output(0, 3, 1)
    arm.set_analog_output(0, 1, 2.5)
    arm.set_digital_output(1, 1, 1)
    arm.set_digital_output(2, 7, 1)
    sim.set_digital_input(ADDRESS, 0, 15, 1)
    sim.set_analog_input(ADDRESS, 0, 2, -1.5)
    sim.set_digital_input(ADDRESS, 1, 0, 1)
    sim.set_analog_input(ADDRESS, 1, 0, 0.75)
    code, s = arm.get_robot_status()
    assert code == 0
    assert s[:10] == (0, 1, 1, 1, 0.5, 0, 0, 2, 4, 0)
    assert s[10][3] == 1 and sum(s[10]) == 1                        # cabinet DO
    assert s[11][15] == 1 and sum(s[11]) == 1                       # cabinet DI
    assert s[12][2] == -1.5 and sum(s[12]) == -1.5                  # cabinet AI
    assert s[13][1] == 2.5 and sum(s[13]) == 2.5                    # cabinet AO
    assert s[14] == (0.0, 1.0) + (0.0,) * 8                         # tool DO
    assert s[15] == (1,) + (0,) * 9                                 # tool DI
    assert s[16] == (0.75,) + (0.0,) * 9                            # tool AI
    assert s[17][7] == 1.0 and sum(s[17]) == 1.0                    # extension DO
    assert list(s[18]) == joints(arm)
    assert list(s[19]) == tcp(arm)  # in the tool and user frame: test_sim_kinematics.py


def test_status_and_frames_while_moving_and_in_servo_mode(arm, sim):
    sim.set_time_scale(1)
    assert arm.joint_move([0.5, 0, 0, 0, 0, 0], 1, False, 0.5) == (0,)
    assert arm.joint_move([0.5, 0, 0, 0, 0, 0], 1, False, 0.5) == (0,)
    status = arm.get_robot_status()[1]
    assert status[1] == 0 and status[9] == 2
    assert arm.set_tool_id(1) == (BUSY,)  # the frames in use stay while moving
    assert arm.set_tool_data(3, [0, 0, 1, 0, 0, 0], "spare") == (0,)  # not in use
    arm.motion_abort()
    assert arm.set_tool_id(1) == (0,)
    assert arm.servo_move_enable(1) == (0,)
    status = arm.get_robot_status()[1]
    assert status[6] == 1 and status[9] == 1
    assert wait_until(lambda: arm.get_robot_status()[1][1] == 1, timeout=5)  # waits for set-points


def test_drag_mode(arm):
    assert arm.drag_mode_enable(1) == (0,) and arm.is_in_drag_mode() == (0, 1)
    assert arm.joint_move(STEP, 1, True, 1.0) == (BUSY,)
    assert arm.drag_mode_enable(0) == (0,) and arm.is_in_drag_mode() == (0, 0)


# ---- threads --------------------------------------------------------------------------------

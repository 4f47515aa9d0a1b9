"""The probe's controls for tests of scripts: faults scheduled in simulated
time (after seconds, or after cycles of motion) fall at the same point of a
motion on every run; the simulated clock; and journal entries read as velmo
calls (method, named arguments, the controller's address)."""

import math
import queue
import re
import os

import pytest

import velmo
import zandrel_sim
from simkit import ADDRESS, HOME, JOINT_LIMIT, UNREACHABLE, login

FAR = [2.5, 1.57, -1.57, -1.57, -1.57, 0.0]
SLOW = 0.5


def moved_until_fault(sim, schedule, manual):
    """Where a joint move towards FAR comes to rest, and the error state, when
    `schedule(sim)` has scheduled a fault first."""
    sim.reset()
    if manual:
        sim.advance_time(0.0)
    else:
        sim.set_time_scale(0)
    robot = login(ADDRESS)
    assert robot.power_on() == (0,) and robot.enable_robot() == (0,)
    schedule(sim)
    assert robot.joint_move(FAR, 0, False, SLOW) == (0,)
    if manual:
        for _ in range(40):  # 20 s of simulated time: the move alone would last 5
            sim.advance_time(0.5)
            robot.is_in_pos()
    status = robot.get_robot_status()[1]
    return tuple(status[18]), status[0], status[1]


def test_a_fault_after_cycles_falls_at_the_same_point_on_every_run(sim):
    fault_at_50 = lambda s: s.trigger_fault(ADDRESS, JOINT_LIMIT, cycles=50)  # noqa: E731
    first = moved_until_fault(sim, fault_at_50, manual=False)
    again = moved_until_fault(sim, fault_at_50, manual=False)
    manual = moved_until_fault(sim, fault_at_50, manual=True)
    assert first == again == manual
    joints, error, in_position = first
    assert error == JOINT_LIMIT and in_position == 1
    assert 0 < joints[0] - HOME[0] < FAR[0] - HOME[0] - 1.0  # stopped mid-move
    later = moved_until_fault(sim, lambda s: s.trigger_fault(ADDRESS, JOINT_LIMIT, cycles=100), manual=False)
    assert later[0][0] > joints[0]  # 50 cycles more of motion before it


def test_after_seconds_is_counted_in_the_arms_cycles(sim):
    # 0.404 s lies between the 50th cycle (0.400 s) and the 51st (0.408 s): 50 cycles run first
    by_time = moved_until_fault(sim, lambda s: s.trigger_fault(ADDRESS, UNREACHABLE, after=0.404), manual=True)
    by_cycles = moved_until_fault(sim, lambda s: s.trigger_fault(ADDRESS, UNREACHABLE, cycles=50), manual=False)
    assert by_time == by_cycles and by_time[1] == UNREACHABLE


def test_a_fault_before_the_first_cycle_stops_the_arm_where_it_stands(sim):
    joints, error, _ = moved_until_fault(sim, lambda s: s.trigger_fault(ADDRESS, 12, cycles=0), manual=False)
    assert joints == pytest.approx(HOME, abs=1e-12) and error == 12


def test_a_fault_due_while_the_arm_rests_falls_when_a_call_looks(sim):
    sim.advance_time(0.0)
    robot = login(ADDRESS)
    codes = queue.Queue()
    robot.set_error_handler(codes.put)
    sim.trigger_fault(ADDRESS, 7, after=0.5)
    sim.advance_time(0.49)
    assert robot.get_robot_status()[1][0] == 0
    sim.advance_time(0.02)
    assert robot.get_robot_status()[1][0] == 7
    assert codes.get(timeout=10) == 7  # and reported from the event thread, as any fault


def test_scheduled_faults_fall_in_their_order_and_go_with_a_reset_or_a_shut_down(sim):
    sim.advance_time(0.0)
    robot = login(ADDRESS)
    sim.trigger_fault(ADDRESS, 6, after=1.0)
    sim.trigger_fault(ADDRESS, 7, after=0.5)
    sim.advance_time(0.6)
    assert robot.get_robot_status()[1][0] == 7
    assert robot.clear_error() == (0,)
    sim.advance_time(0.6)
    assert robot.get_robot_status()[1][0] == 6
    assert robot.clear_error() == (0,)
    sim.trigger_fault(ADDRESS, 7, after=0.5)
    assert robot.shut_down() == (0,)
    robot = login(ADDRESS)  # boots it again
    sim.advance_time(1.0)
    assert robot.get_robot_status()[1][0] == 0
    sim.trigger_fault(ADDRESS, 7, after=0.5)
    sim.reset()
    sim.advance_time(1.0)
    assert login(ADDRESS).get_robot_status()[1][0] == 0


@pytest.mark.parametrize("options", [
    {"after": -0.1}, {"after": math.nan}, {"after": math.inf}, {"cycles": -1}, {"after": 1.0, "cycles": 1},
])
def test_a_schedule_that_names_no_moment_is_refused(sim, options):
    login(ADDRESS)
    with pytest.raises(ValueError):
        sim.trigger_fault(ADDRESS, 7, **options)


@pytest.mark.parametrize("address, code", [("10.9.9.9", 7), (ADDRESS, 0)])
@pytest.mark.parametrize("when", [{"after": 0.1}, {"cycles": 3}])
def test_a_schedule_for_no_arm_or_no_fault_is_refused(sim, address, code, when):
    login(ADDRESS)
    with pytest.raises(ValueError, match="refused"):
        sim.trigger_fault(address, code, **when)


def test_the_simulated_clock_moves_with_manual_time_and_stands_still_at_scale_0(sim):
    sim.advance_time(0.0)
    start = sim.time()
    sim.advance_time(1.25)
    sim.advance_time(0.5)
    assert sim.time() - start == pytest.approx(1.75, abs=1e-12)
    sim.set_time_scale(0)
    frozen = sim.time()
    robot = login(ADDRESS)
    robot.power_on(), robot.enable_robot()
    assert robot.joint_move(FAR, 0, True, 1.0) == (0,)  # the whole move runs inside the call
    assert sim.time() == frozen


# ---- journal entries read as velmo calls ----------------------------------------------------

def test_entries_carry_the_method_named_arguments_and_the_address(sim, instant):
    left, right = login("127.0.0.1"), login("127.0.0.2")
    assert left.power_on() == (0,)
    sim.clear()
    right.set_digital_output(1, 0, 1)
    right.logout()
    assert left.enable_robot() == (0,)
    assert left.joint_move_extend(HOME, 0, True, 1.0, 2.0, 0.0) == (0,)
    calls = sim.entries()
    assert [(c.method, c.address) for c in calls] == [
        ("set_digital_output", "127.0.0.2"), ("logout", "127.0.0.2"), ("enable_robot", "127.0.0.1"),
        ("joint_move_extend", "127.0.0.1")]
    assert calls[3].args == {"joint_pos": HOME, "move_mode": 0, "is_block": 1, "speed": 1.0, "acc": 2.0,
                             "tol": 0.0, "option": None}
    assert calls[0].args == {"iotype": 1, "index": 0, "value": 1} and calls[0].handle == right.handle
    assert calls[1].function == "destory_handler" and calls[1].args == {}
    assert [c.method for c in sim.entries(address="127.0.0.2")] == ["set_digital_output", "logout"]
    assert [c.address for c in sim.entries("logout")] == ["127.0.0.2"]
    assert sim.entries("destory_handler") == sim.entries("logout")


def test_a_handle_tells_its_address_until_a_reset(sim):
    first, second = login("127.0.0.1"), login("10.0.0.9")
    assert second.logout() == (0,)
    assert [sim.address_of(h) for h in (first.handle, second.handle, 0, -1, 99)] == [
        "127.0.0.1", "10.0.0.9", None, None, None]
    login_entries = sim.entries("login")
    assert [(c.function, c.args, c.address) for c in login_entries] == [
        ("create_handler", {"ip": "127.0.0.1"}, "127.0.0.1"),
        ("create_handler", {"ip": "10.0.0.9"}, "10.0.0.9")]
    sim.reset()
    assert sim.address_of(first.handle) is None


def test_the_parameter_names_are_the_headers():
    """zandrel_sim's table against the header itself, function by function."""
    header = open(os.path.join(os.path.dirname(__file__), "..", "include", "zandrelAPI.h")).read()
    declared = re.findall(r"^ZANDREL_API ErrorCode (\w+)\(([^)]*)\);", header, re.M | re.S)
    assert len(declared) == 109
    for function, parameters in declared:
        names = [re.search(r"(\w+)\s*(\[\w*\])?\s*$", p).group(1) for p in parameters.split(",")
                 if p.strip() not in ("", "void")]
        assert zandrel_sim.parameters_of(function) == names, function
    assert zandrel_sim.method_of("create_handler") == "login" and zandrel_sim.function_of("logout") == "destory_handler"
    assert all(zandrel_sim.method_of(f) == f for f, _ in declared if f not in ("create_handler", "destory_handler"))
    assert {m for m in dir(velmo.RC) if not m.startswith("_")} >= {zandrel_sim.method_of(f) for f, _ in declared
                                                                   if f != "set_error_handler"}

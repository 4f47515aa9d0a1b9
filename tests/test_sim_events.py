"""Error events: a controller entering an error state during motion reaches
the Python handler from the library's event thread, never blocks the
library, and is delivered even while another thread sits in a blocking move."""

import threading
import time

import pytest

from simkit import ADDRESS, COLLISION, HOME, JOINT_LIMIT, STEP, UPPER, Handler, joints, login, wait_until


@pytest.mark.parametrize("code", [42, COLLISION, -7])
def test_a_triggered_fault_reaches_the_handler_from_another_thread(arm, sim, code):
    handler = Handler(arm)
    sim.trigger_fault(ADDRESS, code)
    assert handler.next() == code and handler.codes == [code]
    assert handler.threads[0] != threading.get_ident()
    status = arm.get_robot_status()[1]
    assert status[0] == code and status[5] == (code == COLLISION)
    assert arm.get_last_error()[1][0] == code


def test_a_fault_stops_a_moving_arm(arm, sim):
    sim.set_time_scale(1)
    target = list(HOME)
    target[0] += 1.5
    assert arm.joint_move(target, 0, False, 0.3) == (0,)
    assert wait_until(lambda: joints(arm)[0] > HOME[0], timeout=5)
    sim.trigger_fault(ADDRESS, 31)
    assert arm.get_robot_status()[1][0] == 31  # the error state at once; the quick stop takes a few cycles
    assert wait_until(lambda: arm.is_in_pos() == (0, 1), timeout=5)
    stopped = joints(arm)
    assert HOME[0] < stopped[0] < target[0]
    time.sleep(0.05)
    assert joints(arm) == stopped


def test_collision_needs_collision_recover(arm, instant, sim):
    sim.trigger_fault(ADDRESS, COLLISION)
    assert arm.is_in_collision() == (0, 1)
    assert arm.clear_error() == (COLLISION,)
    assert arm.joint_move(HOME, 0, True, 1.0) == (COLLISION,)
    assert arm.collision_recover() == (0,)
    assert arm.is_in_collision() == (0, 0) and arm.get_robot_status()[1][0] == 0
    assert arm.joint_move(STEP, 1, True, 1.0) == (0,)


def test_events_go_to_the_controller_that_failed(sim, instant):
    """velmo has one handler for all robots, so only the second controller
    is given the callback: a fault of the first must reach no one."""
    login("10.0.0.1")
    handler = Handler(login("10.0.0.2"))
    sim.trigger_fault("10.0.0.1", 8)
    sim.trigger_fault("10.0.0.2", 9)
    assert handler.next() == 9
    time.sleep(0.05)
    assert handler.codes == [9]


def test_an_event_arrives_while_another_thread_is_inside_a_blocking_move(sim):
    """Thread A holds the interpreter lock for a whole blocking move on one
    controller; the other controller's jog runs into a limit meanwhile. The
    move must finish (the motion thread needs no interpreter lock) and the
    handler then gets the event (the event thread waited for the lock)."""
    mover, jogger = login("10.0.0.1"), login("10.0.0.2")
    for robot in (mover, jogger):
        assert robot.power_on() == (0,) and robot.enable_robot() == (0,)
    near_limit = list(HOME)
    near_limit[0] = UPPER[0] - 0.05
    sim.set_time_scale(0)
    assert jogger.joint_move(near_limit, 0, True, 1.0) == (0,)
    handler = Handler(jogger)
    sim.set_time_scale(5)
    target = list(HOME)
    target[1] += 0.6
    outcome = {}

    def move():
        assert jogger.jog(0, 2, 1, 0.5, 0) == (0,)  # hits the limit after about 0.1 s of motion
        outcome["move"] = mover.joint_move(target, 0, True, 0.5)  # about 1.5 s of motion

    thread = threading.Thread(target=move)
    thread.start()
    thread.join(30)
    assert not thread.is_alive()
    assert outcome["move"] == (0,) and joints(mover) == target
    assert handler.next() == JOINT_LIMIT and handler.codes == [JOINT_LIMIT]
    assert handler.threads[0] != thread.ident


def test_a_slow_handler_never_holds_up_the_library(arm, sim):
    release = threading.Event()
    entered = threading.Event()

    def slow(code):
        entered.set()
        release.wait(10)

    arm.set_error_handler(slow)
    sim.trigger_fault(ADDRESS, 3)
    assert entered.wait(10)
    try:
        # The handler runs (and waits) on the event thread: the library answers meanwhile.
        assert arm.clear_error() == (0,)
        sim.trigger_fault(ADDRESS, 4)  # queued behind the slow one, returns at once
        assert arm.get_last_error()[1][0] == 4
    finally:
        release.set()

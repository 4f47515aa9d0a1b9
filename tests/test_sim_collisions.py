"""Collision detection from torques: the arm makes its protective stop when
the torques of the arm that really is (the payload it carries, the forces
on it) differ from those the controller expects (the declared payload,
nothing pushing) by more than the collision level allows; Pinocchio gives
both sides independently. A script whose arm is pushed by nothing and
declares its payload right moves exactly as before."""

import math

import pytest

from simkit import (ADDRESS, COLLISION, CYCLE, ERROR_STATE, HOME, OK, Handler, joints, value)

np = pytest.importorskip("numpy")
pytest.importorskip("pinocchio")

from dynkit import at_rest, threshold, torques, wrench_torques  # noqa: E402

FAST = (math.pi, 4 * math.pi)            # rad/s, rad/s^2 of the joint that travels furthest
SLOW = (0.3, 1.0)
REACH = [0.0, 0.6, -0.6, -1.5, -1.5, 0.0]  # forward and down from home: the payload far out
QUICK_JOINT_DEC = math.radians(1440)     # the quick stop's deceleration and jerk (of the joint that travels furthest)
QUICK_JOINT_JERK = math.radians(18000)


def stopping_distance(speed, dec, jerk, acceleration=0.0):
    """How far a jerk-limited stop from `speed` (and `acceleration` along it)
    goes at most: the acceleration turned to nothing at the jerk, then a
    stop whose deceleration rises, holds and falls (its mean speed is half
    the speed it starts from)."""
    turning = max(acceleration, 0.0) / jerk
    speed += max(acceleration, 0.0) ** 2 / (2 * jerk)
    lasting = 2 * math.sqrt(speed / jerk) if speed <= dec ** 2 / jerk else speed / dec + dec / jerk
    return speed * turning + speed * lasting / 2


def stopped(arm):
    """The arm is in its protective stop, as every reading shows it."""
    return (arm.is_in_collision() == (0, 1) and arm.get_last_error()[1][0] == COLLISION
            and arm.get_robot_status()[1][0] == COLLISION and arm.get_robot_status()[1][5] == 1)


def carrying(arm, sim, declared, actual):
    assert arm.set_payload(declared, (0, 0, 50)) == (0,)
    sim.set_actual_payload(ADDRESS, actual, (0, 0, 50))


# ---- a payload declared wrong ------------------------------------------------------------------

@pytest.mark.parametrize("level, pace, stops", [
    (1, FAST, True),    # the most sensitive level: a 3 kg error shows in a fast move
    (2, FAST, True),
    (0, FAST, False),   # detection off
    (5, FAST, False),   # the least sensitive level tolerates it
])
def test_a_payload_declared_3_kg_too_light(arm, sim, instant, level, pace, stops):
    handler = Handler(arm)
    assert arm.set_collision_level(level) == (0,)
    carrying(arm, sim, 1.0, 4.0)
    code = arm.joint_move_extend(REACH, 0, True, *pace, 0)
    if stops:
        assert code == (COLLISION,) and stopped(arm)
        assert joints(arm) != pytest.approx(REACH, abs=1e-3)
        assert handler.next() == COLLISION
    else:
        assert code == (OK,) and arm.is_in_collision() == (0, 0)
        assert joints(arm) == pytest.approx(REACH, abs=1e-12)


def test_the_stop_comes_at_the_cycle_the_difference_passes_the_threshold(arm, sim):
    """Stepped cycle by cycle: the arm stops at the first cycle where, by
    Pinocchio, the actual arm's torques and the expected arm's differ by more
    than the threshold on some joint, and comes to rest within the quick
    stop's distance."""
    assert arm.set_collision_level(2) == (0,)
    carrying(arm, sim, 1.0, 4.0)
    sim.advance_time(0)
    assert arm.joint_move_extend(REACH, 0, False, *FAST, 0) == (0,)
    previous, velocity, limit = np.array(HOME), np.zeros(6), threshold(2)
    for cycle in range(400):
        sim.advance_time(CYCLE)
        q = np.array(joints(arm))
        v = (q - previous) / CYCLE
        a = (v - velocity) / CYCLE
        difference = torques(q, v, a, (4.0, 0, 0, 50)) - torques(q, v, a, (1.0, 0, 0, 50))
        passed = bool(np.any(np.abs(difference) > limit))
        assert arm.is_in_collision() == (0, int(passed)), cycle
        if passed:
            break
        previous, velocity = q, v
    else:
        pytest.fail("the difference never passed the threshold")
    lead = int(np.argmax(np.abs(v)))
    speed, acceleration = abs(v[lead]), a[lead] * np.sign(v[lead])
    sim.advance_time(2.0)
    assert arm.is_in_pos() == (0, 1)
    travelled = np.max(np.abs(np.array(joints(arm)) - q))
    reach = stopping_distance(speed, QUICK_JOINT_DEC, QUICK_JOINT_JERK, acceleration)
    assert travelled <= reach + speed * CYCLE + 1e-9


def test_a_payload_declared_right_moves_exactly_as_with_detection_off(arm, sim):
    """The same moves, sampled every cycle: detection off and no payload, or
    the most sensitive level and 8 kg that the arm really carries."""
    def trace(level, payload):
        sim.reset()
        robot = __import__("velmo").RC(ADDRESS)
        assert robot.login() == (0,) and robot.power_on() == (0,) and robot.enable_robot() == (0,)
        assert robot.set_collision_level(level) == (0,)
        assert robot.set_payload(payload, (5, -5, 80)) == (0,)
        sim.advance_time(0)
        moves = [lambda: robot.joint_move_extend(REACH, 0, False, *FAST, 0),
                 lambda: robot.linear_move_extend([462.5, 99.4, 363.8, 3.05, 0.05, 1.77], 0, False, 400, 2000, 20),
                 lambda: robot.linear_move_extend([294.7, -260.6, 333.6, 2.87, -0.03, 1.18], 0, False, 400, 2000, 0),
                 lambda: robot.joint_move(HOME, 0, False, 3.0)]
        for move in moves:
            assert move() == (0,)
        samples = []
        for _ in range(2000):
            sim.advance_time(CYCLE)
            samples.append(value(robot.get_joint_position()))
            if robot.is_in_pos() == (0, 1):
                break
        assert robot.is_in_collision() == (0, 0) and robot.get_robot_status()[1][0] == 0
        return samples

    plain = trace(0, 0.0)
    assert len(plain) > 100
    assert trace(1, 8.0) == plain


# ---- a wrench on the arm ------------------------------------------------------------------------

@pytest.mark.parametrize("level", [1, 2, 3, 4, 5])
def test_a_wrench_stops_the_resting_arm_just_beyond_the_threshold(arm, sim, level):
    """Wrenches at the TCP in random directions, scaled so that the joint
    nearest its threshold (by Pinocchio's Jacobian) stands just under it,
    then just over it."""
    rng = np.random.default_rng(level)
    tool = [0.0, 0.0, 150.0, 0.0, 0.0, 0.0]
    assert arm.set_tool_data(1, tool, "gripper") == (0,) and arm.set_tool_id(1) == (0,)
    assert arm.set_collision_level(level) == (0,)
    q = joints(arm)
    for _ in range(4):
        force, torque = rng.normal(size=3) * 10, rng.normal(size=3)
        ratio = np.max(np.abs(wrench_torques(q, tool, force, torque)) / threshold(level))
        sim.apply_wrench(ADDRESS, force / ratio * 0.99, torque / ratio * 0.99)
        assert arm.is_in_collision() == (0, 0)
        sim.apply_wrench(ADDRESS, force / ratio * 1.01, torque / ratio * 1.01)
        assert stopped(arm)
        sim.apply_wrench(ADDRESS)
        assert arm.collision_recover() == (0,) and arm.is_in_collision() == (0, 0)


def test_level_0_detects_nothing(arm, sim, instant):
    assert arm.set_collision_level(0) == (0,)
    sim.apply_wrench(ADDRESS, (900, -900, 900), (50, 50, -50))
    carrying(arm, sim, 0.0, 60.0)
    assert arm.joint_move_extend(REACH, 0, True, *FAST, 0) == (0,)
    assert arm.is_in_collision() == (0, 0)


def test_a_wrench_during_a_move_makes_the_protective_stop(arm, sim):
    handler = Handler(arm)
    sim.advance_time(0)
    assert arm.joint_move(REACH, 0, False, 0.5) == (0,)
    sim.advance_time(0.3)
    assert arm.is_in_collision() == (0, 0)
    sim.apply_wrench(ADDRESS, (0, 0, -80))  # pressed down hard at the TCP
    sim.advance_time(CYCLE)
    assert stopped(arm) and handler.next() == COLLISION
    # until it is recovered from, moves get 8 and clear_error does not end it
    sim.advance_time(1.0)
    assert arm.joint_move(HOME, 0, False, 0.5) == (COLLISION,)
    assert arm.clear_error() == (COLLISION,)
    sim.apply_wrench(ADDRESS)
    assert arm.collision_recover() == (0,)
    assert arm.get_last_error()[1][0] == 0 and arm.get_robot_status()[1][0] == 0
    assert arm.joint_move(HOME, 0, False, 0.5) == (0,)
    sim.advance_time(5.0)
    assert joints(arm) == pytest.approx(HOME, abs=1e-12) and arm.is_in_collision() == (0, 0)


def test_a_fault_already_stopping_the_arm_is_not_made_a_collision(arm, sim):
    sim.advance_time(0)
    assert arm.joint_move(REACH, 0, False, 0.5) == (0,)
    sim.advance_time(0.3)
    sim.trigger_fault(ADDRESS, 17)
    sim.apply_wrench(ADDRESS, (0, 0, -200))
    sim.advance_time(1.0)
    assert arm.is_in_collision() == (0, 0) and arm.get_robot_status()[1][0] == 17
    assert arm.joint_move(HOME, 0, False, 0.5) == (ERROR_STATE,)


def test_the_arm_at_rest_is_read_only_when_something_changes(arm, sim):
    """A resting arm costs nothing: its torques are read when the payload or
    the wrench change, not every cycle. An arm that is not enabled makes no
    protective stop."""
    assert arm.disable_robot() == (0,)
    sim.apply_wrench(ADDRESS, (0, 0, -500))
    assert arm.is_in_collision() == (0, 0)
    assert arm.enable_robot() == (0,)
    carrying(arm, sim, 0.0, 0.0)  # any change reads it again
    assert stopped(arm)
    assert sim.joint_torques(ADDRESS) == pytest.approx(
        at_rest(HOME) - wrench_torques(HOME, [0] * 6, (0, 0, -500)), rel=1e-9, abs=1e-9)


def test_after_the_stop_the_arm_moves_out_of_the_contact_not_further_in(arm, sim, instant):
    """Pressed past the threshold, the arm may ease off (every joint's
    difference shrinks) but not press further (joint 2's grows); once the
    contact is gone, so is what it allowed."""
    out, further, press = [0, 1.9, -2.2, -1.25, -math.pi / 2, 0], [0, 1.2, -1.2, -math.pi / 2, -math.pi / 2, 0], (0, 0, -60)
    start = np.abs(wrench_torques(HOME, [0] * 6, press))
    assert np.all(np.abs(wrench_torques(out, [0] * 6, press)) <= start + 1e-9)
    assert np.abs(wrench_torques(further, [0] * 6, press))[1] > max(start[1], threshold(1)[1])
    assert arm.set_collision_level(1) == (0,)
    sim.apply_wrench(ADDRESS, press)
    assert stopped(arm)
    assert arm.collision_recover() == (0,)
    assert arm.joint_move(further, 0, True, 0.5) == (COLLISION,)
    assert arm.collision_recover() == (0,)
    assert arm.joint_move(out, 0, True, 0.5) == (OK,) and arm.is_in_collision() == (0, 0)
    sim.apply_wrench(ADDRESS)  # out of the contact
    sim.apply_wrench(ADDRESS, press)  # and into it again: a collision like the first
    assert stopped(arm)


# ---- a box in the way ------------------------------------------------------------------------------

CONTACT_STIFFNESS = 10.0   # N per mm of overlap (the world's penalty force)
QUICK_LINEAR_DEC = 10000.0  # mm/s^2, mm/s^3: the quick stop of a Cartesian move
QUICK_LINEAR_JERK = 100000.0
BOX_TOP = 200.0
PROBE_TOOL = [0.0, 0.0, 150.0, 0.0, 0.0, 0.0]


def over_a_box(arm, sim):
    """A 150 mm tool pointing down over a box whose top is 200 mm above the
    floor, 170 mm under the TCP; the TCP's pose."""
    assert arm.set_tool_data(1, PROBE_TOOL, "probe") == (0,) and arm.set_tool_id(1) == (0,)
    start = value(arm.get_tcp_position())
    sim.add_box("box", [start[0], start[1], BOX_TOP / 2, 0, 0, 0], [300, 300, BOX_TOP])
    return start


def tripping_force(q, level):
    """The force (N) straight up at the TCP that passes the level's threshold on some joint."""
    per_newton = np.abs(wrench_torques(q, PROBE_TOOL, (0, 0, 1)))
    return 1 / np.max(per_newton / threshold(level))


@pytest.mark.parametrize("level, speed", [(1, 50), (3, 50), (3, 250), (5, 250), (3, 500)])
def test_a_move_into_a_box_stops_once_the_contact_passes_the_threshold(arm, sim, level, speed):
    """Straight down into the box at a steady speed: the arm goes in until the
    contact's force (10 N per mm) passes the threshold, then makes its quick
    stop; it rests no further in than that, one cycle's travel and the quick
    stop's distance."""
    handler = Handler(arm)
    assert arm.set_collision_level(level) == (0,)
    start = over_a_box(arm, sim)
    sim.advance_time(0)
    assert arm.linear_move_extend(start[:2] + [BOX_TOP - 100] + start[3:], 0, False, speed, 2000, 0) == (0,)
    sim.advance_time(5.0)
    assert stopped(arm) and handler.next() == COLLISION
    depth = BOX_TOP - value(arm.get_tcp_position())[2]
    touching = sim.contacts(ADDRESS)
    assert [c["link"] for c in touching] == [6] and touching[0]["depth"] == pytest.approx(depth, abs=1e-6)
    trip = tripping_force(joints(arm), level) / CONTACT_STIFFNESS
    assert trip <= depth <= trip + speed * CYCLE + stopping_distance(speed, QUICK_LINEAR_DEC, QUICK_LINEAR_JERK) + 0.5
    # after collision_recover: further in it stops again, out of the box it goes
    assert arm.collision_recover() == (0,)
    assert arm.linear_move_extend(start[:2] + [BOX_TOP - 50] + start[3:], 0, False, 50, 500, 0) == (0,)
    sim.advance_time(2.0)
    assert stopped(arm)
    assert arm.collision_recover() == (0,)
    assert arm.linear_move(start, 0, False, 100) == (0,)
    sim.advance_time(5.0)
    assert arm.is_in_collision() == (0, 0) and value(arm.get_tcp_position()) == pytest.approx(start, abs=1e-6)


def test_a_move_that_stops_short_of_the_box_is_not_a_collision(arm, sim, instant):
    assert arm.set_collision_level(1) == (0,)
    start = over_a_box(arm, sim)
    assert arm.linear_move(start[:2] + [BOX_TOP + 1] + start[3:], 0, True, 250) == (0,)
    assert arm.is_in_collision() == (0, 0) and sim.contacts(ADDRESS) == []


@pytest.mark.parametrize("level, stops", [(1, True), (5, False)])
def test_declaring_the_payload_far_too_light_at_rest_stops_the_arm(arm, sim, level, stops):
    """The arm holds 10 kg; the script declares nothing: at home the
    shoulder and elbow hold about 29 N m more than the controller expects."""
    assert arm.set_collision_level(level) == (0,)
    carrying(arm, sim, 10.0, 10.0)
    assert arm.is_in_collision() == (0, 0)
    assert arm.set_payload(0.0, (0, 0, 0)) == (0,)
    difference = at_rest(HOME, (10.0, 0, 0, 50)) - at_rest(HOME)
    assert bool(np.any(np.abs(difference) > threshold(level))) == stops
    assert arm.is_in_collision() == (0, int(stops))

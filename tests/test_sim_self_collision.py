"""The arm's geometric self-collision check: turning the wrist onto the
forearm makes the protective stop in every mode, before the two touch, and
the arm may be moved away after collision_recover. A motion that stays clear
of everything moves exactly as in an empty world. Distances at rest are
coal's, on the documented body (bodykit)."""

import math

import pytest

coal = pytest.importorskip("coal")
pytest.importorskip("numpy")

import bodykit  # noqa: E402  (needs numpy and coal)
from motionkit import record_cycles  # noqa: E402
from simkit import ADDRESS, COLLISION, CYCLE, HOME, Q1, Handler, joints  # noqa: E402

# Joint 5 from home towards -170 deg swings wrist 3 into the forearm near -150 deg.
FOLDED = HOME[:4] + [math.radians(-170), 0.0]
MARGIN = 10.0  # mm


def wrist_to_forearm(q):
    return bodykit.self_distances(q)[(2, 5)]


def jog(robot, rate):
    """A continuous jog of joint 5 at `rate` rad/s (at time scale 0 it runs until it ends)."""
    assert robot.jog(4, 2, 1, rate, 0) == (0,)
    return (robot.get_robot_status()[1][0],)


def stream(robot, rate):
    """servo_j set-points turning joint 5 at `rate` rad/s until the arm stops."""
    assert robot.servo_move_enable(1) == (0,)
    q = joints(robot)
    for _ in range(2000):
        q[4] -= rate * CYCLE
        if robot.servo_j(q, 0)[0] != 0:
            break
    return (robot.get_robot_status()[1][0],)


FOLDS = {
    "joint move": lambda r: r.joint_move(FOLDED, 0, True, 0.3),
    "fast joint move": lambda r: r.joint_move_extend(FOLDED, 0, True, math.pi, 4 * math.pi, 0),
    "joint jog": lambda r: jog(r, -0.5),
    "servo stream": lambda r: stream(r, 1.0),
}


@pytest.mark.parametrize("fold", FOLDS.values(), ids=FOLDS.keys())
def test_folding_the_wrist_onto_the_forearm_stops_before_they_touch(sim, arm, instant, fold):
    handler = Handler(arm)
    assert fold(arm) == (COLLISION,)
    assert arm.is_in_collision() == (0, 1) and arm.get_robot_status()[1][5] == 1
    assert handler.next() == COLLISION
    q = joints(arm)
    gap = wrist_to_forearm(q)
    assert 0 < gap < MARGIN + 30, gap  # stopped before touching, where they came near
    [near] = sim.contacts(ADDRESS)
    assert (near["with"], near["link"], near["other_link"]) == ("self", 2, 5)
    assert MARGIN / 2 < -near["depth"] and gap <= -near["depth"] + 1e-9  # the gap when the check stopped it
    assert arm.joint_move(HOME, 0, True, 1.0) == (COLLISION,)  # refused until recovered


def test_after_the_stop_the_arm_moves_away_but_not_closer(sim, arm, instant):
    assert arm.joint_move(FOLDED, 0, True, 0.3) == (COLLISION,)
    stopped = joints(arm)
    assert arm.collision_recover() == (0,)
    closer = stopped[:4] + [stopped[4] - 0.05, 0.0]
    assert arm.joint_move(closer, 0, True, 0.3) == (COLLISION,)
    assert abs(joints(arm)[4] - stopped[4]) < 0.025  # stopped as it began, well short of the 0.05 asked
    assert wrist_to_forearm(joints(arm)) > 0
    assert arm.collision_recover() == (0,)
    assert arm.joint_move(HOME, 0, True, 0.3) == (0,)
    assert sim.contacts(ADDRESS) == []  # the stop is history once the arm moves on


def test_an_arm_without_a_body_folds_through_itself(sim, arm, instant):
    sim.set_body(ADDRESS, False)
    assert arm.joint_move(FOLDED, 0, True, 0.3) == (0,)
    assert wrist_to_forearm(FOLDED) < 0
    sim.set_body(ADDRESS, True)
    assert arm.joint_move(HOME, 0, True, 0.3) == (0,)  # moving apart is allowed


@pytest.mark.parametrize("q", [HOME, Q1, [0, 0.5, 1.0, 0, 1.57, 0], [0.0, 1.2, -1.5, -1.2708, -math.pi / 2, 0.0]],
                         ids=["home", "Q1", "spec", "ready"])
def test_the_documented_poses_are_clear_of_the_floor_and_of_the_arm_itself(q):
    assert min(bodykit.self_distances(q).values()) > MARGIN
    assert bodykit.floor_clearance(q) > 0


def test_a_motion_clear_of_everything_moves_as_in_an_empty_world(sim, arm, home):
    sim.advance_time(0)  # manual time: every cycle at a known time

    def moves(robot):
        for target in (Q1, HOME):
            assert robot.joint_move(target, 0, False, 1.5) == (0,)
        assert robot.linear_move([0, 150, -100, 0, 0, 0.3], 1, False, 200.0) == (0,)
        for _ in range(800):
            sim.advance_time(CYCLE)
        assert robot.is_in_pos() == (0, 1)
        return (0,)

    assert arm.joint_move(HOME, 0, False, 1.0) == (0,)
    sim.advance_time(5)
    _, empty = record_cycles(arm, home, [moves], "empty")
    assert arm.joint_move(HOME, 0, False, 1.0) == (0,)
    sim.advance_time(5)
    sim.set_base(ADDRESS, [0, 0, 0, 0, 0, 0])
    sim.set_base("10.0.0.9", [2500, 0, 0, 0, 0, math.pi])
    for n in range(20):  # a crowded cell, nothing within reach
        sim.add_box(f"box {n}", [1500 + 100 * n, -1500, 300, 0, 0, 0.1 * n], [80, 80, 600])
    _, crowded = record_cycles(arm, home, [moves], "crowded")
    assert crowded.q == empty.q and crowded.t == empty.t

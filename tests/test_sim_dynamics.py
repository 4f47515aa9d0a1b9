"""The virtual arm's dynamics against Pinocchio: the documented rigid-body
model (docs/virtual-controller.md, "Dynamics") built in Pinocchio from the
same numbers, and its recursive Newton-Euler torques compared with the
library's, for the pure function on random states and for the arm itself,
at rest and moving."""

import math

import pytest

from simkit import ADDRESS, CYCLE, HOME, LOWER, UPPER, rpy_matrix

np = pytest.importorskip("numpy")
pytest.importorskip("pinocchio")

from dynkit import GRAVITY, assert_torques, tcp_point, torques as reference, wrench_torques  # noqa: E402


def random_state(rng, kind):
    q = rng.uniform(LOWER, UPPER)
    v = rng.uniform(-3, 3, 6) if kind != "gravity" else np.zeros(6)
    a = rng.uniform(-12, 12, 6) if kind != "gravity" else np.zeros(6)
    payload = (rng.uniform(0, 10), *rng.uniform(-150, 150, 3)) if kind in ("payload", "everything") else (0, 0, 0, 0)
    gravity = GRAVITY
    if kind in ("tilted", "everything"):  # an arm on a wall or a slope: gravity any way in its base frame
        direction = rng.normal(size=3)
        gravity = tuple(9.81 * direction / np.linalg.norm(direction))
    forces = []
    if kind in ("pushed", "everything"):
        for _ in range(rng.integers(1, 5)):
            forces.append((int(rng.integers(0, 7)), tuple(rng.uniform(-900, 900, 3)), tuple(rng.uniform(-300, 300, 3))))
    return [list(x) for x in (q, v, a)], payload, gravity, forces


@pytest.mark.parametrize("kind", ["gravity", "moving", "payload", "tilted", "pushed", "everything"])
def test_inverse_dynamics_is_pinocchios(probe, kind):
    rng = np.random.default_rng(sum(map(ord, kind)))
    for _ in range(40):
        (q, v, a), payload, gravity, forces = random_state(rng, kind)
        found = probe.inverse_dynamics(q, v, a, payload=payload, gravity=gravity, forces=forces)
        assert_torques(found, reference(q, v, a, payload, gravity, forces))


@pytest.mark.parametrize("declared, actual, force, torque", [
    ((0.0, (0, 0, 0)), None, (0, 0, 0), (0, 0, 0)),
    ((2.5, (10, -20, 60)), None, (0, 0, 0), (0, 0, 0)),
    ((2.5, (10, -20, 60)), (6.0, (-30, 5, 90)), (0, 0, 0), (0, 0, 0)),
    ((0.0, (0, 0, 0)), None, (12, -30, 25), (1.5, 0, -2)),
    ((1.0, (0, 0, 40)), (4.0, (0, 20, 80)), (-40, 0, -60), (0, 3, 0)),
])
def test_a_resting_arm_holds_its_payload_and_the_wrench(arm, sim, instant, declared, actual, force, torque):
    """At rest the joints give what gravity on the arm and on the payload it
    really carries needs, less what the wrench at the TCP does for them."""
    tool = [5.0, -8.0, 120.0, 0.1, -0.2, 0.3]
    q = [0.4, 1.2, -1.4, -1.1, -1.3, 0.7]
    assert arm.set_collision_level(0) == (0,)  # detection apart: test_sim_collisions.py
    assert arm.set_tool_data(1, tool, "probe") == (0,) and arm.set_tool_id(1) == (0,)
    assert arm.set_payload(*declared) == (0,)
    assert arm.joint_move(q, 0, True, 1.0) == (0,)
    if actual:
        sim.set_actual_payload(ADDRESS, actual[0], actual[1])
    sim.apply_wrench(ADDRESS, force, torque)
    mass, centre = actual or declared
    payload = (mass, *centre)
    expected = reference(q, [0] * 6, [0] * 6, payload) - wrench_torques(q, tool, force, torque)
    assert_torques(sim.joint_torques(ADDRESS), expected)
    # the same through Pinocchio's outside forces: the force at the TCP
    pushed = reference(q, [0] * 6, [0] * 6, payload, forces=[(6, tcp_point(q, tool), force)])
    assert_torques(pushed - wrench_torques(q, tool, (0, 0, 0), torque), expected)


def test_a_moving_arm_needs_what_its_motion_does(arm, sim):
    """Cycle by cycle in manual time, the torques of the arm moving with a
    payload are Pinocchio's at the velocity and acceleration of its
    positions by backward differences (from rest at the first cycle)."""
    assert arm.set_payload(3.0, (0, 10, 50)) == (0,)
    sim.advance_time(0)
    target = [0.6, 1.1, -1.0, -1.9, -1.2, 0.5]
    assert arm.joint_move_extend(target, 0, False, 2.0, 8.0, 0) == (0,)
    previous, velocity = list(HOME), np.zeros(6)
    compared = 0
    for _ in range(400):
        sim.advance_time(CYCLE)
        q = arm.get_joint_position()[1]
        if arm.is_in_pos() == (0, 1):
            break
        v = (np.array(q) - np.array(previous)) / CYCLE
        a = (v - velocity) / CYCLE
        assert_torques(sim.joint_torques(ADDRESS), reference(q, v, a, (3.0, 0, 10, 50)))
        previous, velocity = q, v
        compared += 1
    assert compared > 50 and arm.get_joint_position()[1] == pytest.approx(target, abs=1e-9)
    # at rest again: gravity alone
    assert_torques(sim.joint_torques(ADDRESS), reference(target, [0] * 6, [0] * 6, (3.0, 0, 10, 50)))


@pytest.mark.parametrize("call, args", [
    ("inverse_dynamics", ([0] * 5, [0] * 6, [0] * 6)),
    ("inverse_dynamics", ([0] * 6, [math.nan] * 6, [0] * 6)),
    ("inverse_dynamics", ([0] * 6, [0] * 6, [0] * 6, (0, 0, 0, 0), GRAVITY, [(7, (0, 0, 0), (1, 0, 0))])),
    ("set_actual_payload", (ADDRESS, -1.0)),
    ("set_actual_payload", (ADDRESS, 101.0)),
    ("set_actual_payload", (ADDRESS, 2.0, (0, math.inf, 0))),
    ("apply_wrench", (ADDRESS, (0, 0, math.nan))),
    ("apply_wrench", ("10.9.9.9", (1, 0, 0))),
    ("joint_torques", ("10.9.9.9",)),
])
def test_bad_input_is_refused(rc, sim, call, args):
    with pytest.raises(ValueError):
        getattr(sim, call)(*args)


@pytest.mark.parametrize("base", [
    (0.0, 0.0, 1500.0, math.pi, 0.0, 0.0),   # hung from the ceiling
    (200.0, -100.0, 800.0, 0.5, -0.3, 0.2),  # on a tilted bracket
    (0.0, 0.0, 500.0, math.pi / 2, 0.0, 0.0),  # on a wall
])
def test_a_placed_arm_feels_gravity_in_its_own_base_frame(arm, sim, instant, base):
    sim.set_base(ADDRESS, base)
    assert arm.set_collision_level(0) == (0,) and arm.set_payload(2.0, (0, 30, 60)) == (0,)
    rx, ry, rz = base[3:]
    rotation = np.array(rpy_matrix(rx, ry, rz))
    gravity = rotation.T @ np.array(GRAVITY)
    for q in ([0.3, 1.1, -1.3, -1.4, -1.6, 0.4], HOME):
        assert arm.joint_move(q, 0, True, 1.0) == (0,)
        assert_torques(sim.joint_torques(ADDRESS), reference(q, [0] * 6, [0] * 6, (2.0, 0, 30, 60), gravity))

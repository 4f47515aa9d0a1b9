"""The virtual arm's dynamics against Pinocchio: the documented rigid-body
model (docs/virtual-controller.md, "Dynamics") built in Pinocchio from the
same numbers, and its recursive Newton-Euler torques compared with the
library's, for the pure function on random states and for the arm itself,
at rest and moving."""

import math

import pytest

from simkit import ADDRESS, CYCLE, DH, HOME, LOWER, UPPER, flange, pose_matrix

np = pytest.importorskip("numpy")
pin = pytest.importorskip("pinocchio")

# The documented model: per link, mass (kg), centre (mm) and principal moments
# about it (kg m^2), in the link's joint frame (DH frame i-1 turned by q_i).
LINKS = [
    (3.70, (0.0, -5.0, 120.0), (0.0102, 0.0102, 0.0067)),
    (8.40, (220.0, 0.0, 0.0), (0.0105, 0.1534, 0.1534)),
    (2.60, (190.0, 0.0, 15.0), (0.0021, 0.0357, 0.0357)),
    (1.30, (0.0, -5.0, 115.0), (0.00197, 0.00132, 0.00197)),
    (1.30, (0.0, 5.0, 90.0), (0.00197, 0.00132, 0.00197)),
    (0.35, (0.0, 0.0, 75.0), (0.000166, 0.000166, 0.00028)),
]
GRAVITY = (0.0, 0.0, -9.81)


def dh_step(a, alpha, d):
    """Tz(d) Tx(a) Rx(alpha), in metres."""
    c, s = math.cos(alpha), math.sin(alpha)
    return pin.SE3(np.array([[1, 0, 0], [0, c, -s], [0, s, c]]), np.array([a, 0.0, d]) / 1000)


def build(payload=(0.0, 0.0, 0.0, 0.0), gravity=GRAVITY):
    """The arm in Pinocchio: six revolute joints about z, each placed at the
    end of the DH step before it, each carrying its link; the payload a point
    mass on the last joint's body."""
    model = pin.Model()
    parent, placement = 0, pin.SE3.Identity()
    for n, ((a, alpha, d), (mass, centre, moments)) in enumerate(zip(DH, LINKS)):
        joint = model.addJoint(parent, pin.JointModelRZ(), placement, f"joint{n + 1}")
        model.appendBodyToJoint(joint, pin.Inertia(mass, np.array(centre) / 1000, np.diag(moments)),
                                pin.SE3.Identity())
        parent, placement = joint, dh_step(a, alpha, d)
    mass, *centre = payload
    if mass:
        lever = placement.act(np.array(centre) / 1000)  # the flange is the last step
        model.appendBodyToJoint(parent, pin.Inertia(mass, lever, np.zeros((3, 3))), pin.SE3.Identity())
    model.gravity = pin.Motion(np.array(gravity), np.zeros(3))
    return model


def reference(q, v, a, payload=(0.0, 0.0, 0.0, 0.0), gravity=GRAVITY, forces=()):
    """Pinocchio's rnea, each outside force (body, point mm, force N; base
    frame) moved into the local frame of the joint that carries it."""
    model = build(payload, gravity)
    data = model.createData()
    q = np.array(q)
    pin.forwardKinematics(model, data, q)
    fext = [pin.Force.Zero() for _ in range(model.njoints)]
    for body, point, force in forces:
        joint = min(body, 5) + 1
        frame = data.oMi[joint]
        lever = np.array(point) / 1000 - frame.translation
        local = frame.rotation.T
        fext[joint] += pin.Force(local @ np.array(force), local @ np.cross(lever, force))
    return pin.rnea(model, data, q, np.array(v), np.array(a), fext)


def assert_torques(found, expected):
    scale = max(1.0, float(np.max(np.abs(expected))))
    np.testing.assert_allclose(found, expected, rtol=1e-9, atol=1e-9 * scale)


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


def tcp_point(q, tool):
    """The TCP (base frame, mm) for joints q and a tool pose."""
    t = np.array(flange(q)) @ np.array(pose_matrix(tool))
    return tuple(t[:3, 3])


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
    pushes = [(6, tcp_point(q, tool), force)]
    expected = reference(q, [0] * 6, [0] * 6, payload, forces=pushes)
    # the wrench's pure torque: on every joint's axis it acts on, as J^T of a moment
    frames = reference_axes(q)
    expected = expected - np.array([axis @ np.array(torque) for axis in frames])
    assert_torques(sim.joint_torques(ADDRESS), expected)


def reference_axes(q):
    """Each joint's axis in the base frame, from Pinocchio's placements."""
    model = build()
    data = model.createData()
    pin.forwardKinematics(model, data, np.array(q))
    return [data.oMi[j].rotation[:, 2] for j in range(1, 7)]


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

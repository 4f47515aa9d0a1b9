"""The documented rigid-body model of the virtual arm (docs/virtual-controller.md,
"Dynamics"), built in Pinocchio from the documented numbers: the independent
reference the dynamics, the collision detection and force control are
checked against. Import it after pytest.importorskip("pinocchio") (the
Windows run under Wine has no Pinocchio)."""

import math

import numpy as np
import pinocchio as pin

from simkit import DH, flange, pose_matrix

# Per link: mass (kg), centre (mm) and principal moments about it (kg m^2),
# in the link's joint frame (DH frame i-1 turned by q_i).
LINKS = [
    (3.70, (0.0, -5.0, 120.0), (0.0102, 0.0102, 0.0067)),
    (8.40, (220.0, 0.0, 0.0), (0.0105, 0.1534, 0.1534)),
    (2.60, (190.0, 0.0, 15.0), (0.0021, 0.0357, 0.0357)),
    (1.30, (0.0, -5.0, 115.0), (0.00197, 0.00132, 0.00197)),
    (1.30, (0.0, 5.0, 90.0), (0.00197, 0.00132, 0.00197)),
    (0.35, (0.0, 0.0, 75.0), (0.000166, 0.000166, 0.00028)),
]
GRAVITY = (0.0, 0.0, -9.81)
NO_PAYLOAD = (0.0, 0.0, 0.0, 0.0)

# The torque difference each collision level allows a joint (N m).
SENSITIVE = (15.0, 15.0, 10.0, 4.0, 4.0, 4.0)
LEVEL_FACTOR = {1: 1.0, 2: 1.5, 3: 2.0, 4: 3.0, 5: 4.0}


def threshold(level):
    return np.array(SENSITIVE) * LEVEL_FACTOR[level]


def dh_step(a, alpha, d):
    """Tz(d) Tx(a) Rx(alpha), in metres."""
    c, s = math.cos(alpha), math.sin(alpha)
    return pin.SE3(np.array([[1, 0, 0], [0, c, -s], [0, s, c]]), np.array([a, 0.0, d]) / 1000)


def build(payload=NO_PAYLOAD, gravity=GRAVITY):
    """The arm in Pinocchio: six revolute joints about z, each placed at the
    end of the DH step before it, each carrying its link; the payload (mass,
    centre in mm in the flange frame) a point mass on the last body. A frame
    "flange" marks the flange."""
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
    model.addFrame(pin.Frame("flange", parent, 0, placement, pin.FrameType.OP_FRAME))
    model.gravity = pin.Motion(np.array(gravity), np.zeros(3))
    return model


def torques(q, v, a, payload=NO_PAYLOAD, gravity=GRAVITY, forces=()):
    """Pinocchio's rnea; each outside force (body 0..6, point mm, force N;
    base frame) moved into the local frame of the joint that carries it."""
    model = build(payload, gravity)
    data = model.createData()
    q = np.array(q, dtype=float)
    pin.forwardKinematics(model, data, q)
    fext = [pin.Force.Zero() for _ in range(model.njoints)]
    for body, point, force in forces:
        joint = min(body, 5) + 1
        frame = data.oMi[joint]
        lever = np.array(point) / 1000 - frame.translation
        local = frame.rotation.T
        fext[joint] += pin.Force(local @ np.array(force), local @ np.cross(lever, force))
    return pin.rnea(model, data, q, np.array(v, dtype=float), np.array(a, dtype=float), fext)


def at_rest(q, payload=NO_PAYLOAD):
    return torques(q, np.zeros(6), np.zeros(6), payload)


def wrench_torques(q, tool, force, torque=(0.0, 0.0, 0.0)):
    """J^T w: the joint torques a wrench at the TCP (base frame) puts on the
    arm, from Pinocchio's Jacobian of a frame at the TCP."""
    model = build()
    tcp = model.frames[model.getFrameId("flange")].placement * pin.SE3(
        np.array(pose_matrix(tool))[:3, :3], np.array(tool[:3]) / 1000)
    frame = model.addFrame(pin.Frame("tcp", 6, 0, tcp, pin.FrameType.OP_FRAME))
    data = model.createData()
    q = np.array(q, dtype=float)
    jacobian = pin.computeFrameJacobian(model, data, q, frame, pin.LOCAL_WORLD_ALIGNED)
    return jacobian.T @ np.concatenate([force, torque])


def tcp_point(q, tool):
    """The TCP (base frame, mm) for joints q and a tool pose."""
    t = np.array(flange(q)) @ np.array(pose_matrix(tool))
    return tuple(t[:3, 3])


def assert_torques(found, expected):
    scale = max(1.0, float(np.max(np.abs(expected))))
    np.testing.assert_allclose(found, expected, rtol=1e-9, atol=1e-9 * scale)

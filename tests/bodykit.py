"""The arm's collision body as docs/virtual-controller.md ("The body")
documents it, built here with numpy from the DH table, and distances
between its capsules and other shapes measured with coal: the independent
reference of the world's tests. Import it only where numpy and coal load
(pytest.importorskip("coal") first)."""

import math

import numpy as np

import coal
from simkit import DH

# The documented body: (part, from, to, radius); a point is ("o", i) = the
# origin of DH frame i, ("o+z", i, k) = o_i + k z_i, ("flange-back", k) =
# o_6 - k z_6. A sphere has the same point twice.
PARTS = [
    (0, ("o+z", 0, 70.0), ("o", 1), 62.0),
    (1, ("o", 1), ("o", 1), 62.0), (1, ("o", 1), ("o", 2), 48.0),
    (2, ("o", 2), ("o", 2), 62.0), (2, ("o", 2), ("o", 3), 48.0),
    (3, ("o", 3), ("o", 3), 46.0), (3, ("o", 3), ("o", 4), 38.0),
    (4, ("o", 4), ("o", 4), 46.0), (4, ("o", 4), ("o", 5), 38.0),
    (5, ("o", 5), ("o", 5), 46.0), (5, ("o", 5), ("o+z", 6, -38.0), 38.0),
]
TOOL_RADIUS = 20.0
SELF_PAIRS = [(i, j) for i in range(7) for j in range(i + 2, 7)]
STIFFNESS = 10.0  # N per mm of overlap


def capsule_part(index):
    """The part a capsule of the body belongs to (the tool's comes last)."""
    return PARTS[index][0] if index < len(PARTS) else 6


def rpy(rx, ry, rz):
    cx, sx, cy, sy, cz, sz = map(float, (math.cos(rx), math.sin(rx), math.cos(ry), math.sin(ry),
                                          math.cos(rz), math.sin(rz)))
    return (np.array([[cz, -sz, 0], [sz, cz, 0], [0, 0, 1]]) @ np.array([[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]])
            @ np.array([[1, 0, 0], [0, cx, -sx], [0, sx, cx]]))


def pose_matrix(pose):
    m = np.eye(4)
    m[:3, :3] = rpy(*pose[3:6])
    m[:3, 3] = pose[:3]
    return m


def frames(q, base=None):
    """The DH frames 0..6 in the world (4x4 matrices)."""
    t = np.eye(4) if base is None else np.asarray(base, float)
    out = [t]
    for (a, alpha, d), angle in zip(DH, q):
        ct, st, ca, sa = math.cos(angle), math.sin(angle), math.cos(alpha), math.sin(alpha)
        link = np.array([[ct, -st * ca, st * sa, a * ct], [st, ct * ca, -ct * sa, a * st], [0, sa, ca, d], [0, 0, 0, 1]])
        t = t @ link
        out.append(t)
    return out


def capsules(q, tool=(0, 0, 0, 0, 0, 0), base=None):
    """[(part, a, b, radius)] of the body, world frame."""
    f = frames(q, base)

    def point(spec):
        kind = spec[0]
        if kind == "o":
            return f[spec[1]][:3, 3]
        return f[spec[1]][:3, 3] + spec[2] * f[spec[1]][:3, 2]

    out = [(part, point(a), point(b), r) for part, a, b, r in PARTS]
    tcp = (f[6] @ pose_matrix(tool))[:3, 3]
    o6 = f[6][:3, 3]
    length = np.linalg.norm(tcp - o6)
    if length > TOOL_RADIUS:
        out.append((6, o6, tcp - (tcp - o6) * TOOL_RADIUS / length, TOOL_RADIUS))
    return out



def capsule_object(a, b, radius):
    """A coal capsule and its transform for the segment a-b."""
    a, b = np.asarray(a, float), np.asarray(b, float)
    axis = b - a
    length = float(np.linalg.norm(axis))
    z = axis / length if length > 1e-12 else np.array([0.0, 0.0, 1.0])
    helper = np.array([1.0, 0.0, 0.0]) if abs(z[0]) < 0.9 else np.array([0.0, 1.0, 0.0])
    x = np.cross(helper, z)
    x /= np.linalg.norm(x)
    rotation = np.column_stack([x, np.cross(z, x), z])
    return coal.Capsule(radius, length), coal.Transform3s(rotation, (a + b) / 2)


def scene_object(obj):
    """A coal shape and transform for a scene dict."""
    shape = obj["shape"]
    if shape == "sphere":
        return coal.Sphere(obj["radius"]), coal.Transform3s(np.eye(3), np.asarray(obj["centre"], float))
    m = pose_matrix(obj["pose"])
    if shape == "box":
        geometry = coal.Box(*obj["size"])
    elif shape == "cylinder":
        geometry = coal.Cylinder(obj["radius"], obj["length"])
    else:  # plane: solid below the pose's xy plane
        normal = m[:3, 2]
        return coal.Halfspace(normal, float(normal @ m[:3, 3])), coal.Transform3s(np.eye(3), np.zeros(3))
    return geometry, coal.Transform3s(m[:3, :3], m[:3, 3])


def distance(first, second):
    """coal's signed distance and its witness points and normal between two (shape, transform) pairs."""
    request, result = coal.DistanceRequest(), coal.DistanceResult()
    request.enable_signed_distance = True
    # coal's defaults (1e-6, relative) leave some 1e-5 mm on curved shapes of this size
    request.gjk_tolerance = request.epa_tolerance = 1e-12
    request.gjk_max_iterations = request.epa_max_iterations = 10000
    coal.distance(first[0], first[1], second[0], second[1], request, result)
    return result.min_distance, np.array(result.getNearestPoint1()), np.array(result.getNearestPoint2())


def self_distances(q, tool=(0, 0, 0, 0, 0, 0)):
    """{(i, j): least distance between parts i and j} for the watched pairs."""
    caps = capsules(q, tool)
    out = {}
    for i, j in SELF_PAIRS:
        best = math.inf
        for pi, a, b, r in caps:
            if pi != i:
                continue
            for pj, c, d, s in caps:
                if pj == j:
                    best = min(best, distance(capsule_object(a, b, r), capsule_object(c, d, s))[0])
        out[(i, j)] = best
    return out


def floor_clearance(q, tool=(0, 0, 0, 0, 0, 0), base=None):
    """The lowest point of the body above z = 0 of the world."""
    return min(min(a[2], b[2]) - r for _, a, b, r in capsules(q, tool, base))

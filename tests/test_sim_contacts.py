"""The arm's body in its world: contacts with scene objects, the floor and
other placed arms, measured against coal on the documented capsules
(bodykit), with the documented penalty force."""

import math
import random

import pytest

coal = pytest.importorskip("coal")
np = pytest.importorskip("numpy")

import bodykit  # noqa: E402  (needs numpy and coal)
import velmo  # noqa: E402
from simkit import ADDRESS, HOME, Q1  # noqa: E402

SPEC_POSE = [0, 0.5, 1.0, 0, 1.57, 0]
READY = [0.0, 1.2, -1.5, -1.2708, -math.pi / 2, 0.0]
POSES = [HOME, Q1, SPEC_POSE, READY]
TOLERANCE = 1e-6  # mm: depths and points against coal's


def at(robot, q):
    assert robot.joint_move(q, 0, True, 1.0) == (0,)


def random_object(rng, near, n):
    """A box, cylinder or sphere of random size and turn, centred within 60 mm of `near`."""
    centre = [c + rng.uniform(-60, 60) for c in near]
    turn = [rng.uniform(-math.pi, math.pi) for _ in range(3)]
    kind = ("box", "cylinder", "sphere")[n % 3]
    if kind == "box":
        return {"name": f"o{n}", "shape": "box", "pose": centre + turn,
                "size": [rng.uniform(5, 200) for _ in range(3)]}
    if kind == "cylinder":
        return {"name": f"o{n}", "shape": "cylinder", "pose": centre + turn,
                "radius": rng.uniform(3, 100), "length": rng.uniform(5, 300)}
    return {"name": f"o{n}", "shape": "sphere", "centre": centre, "radius": rng.uniform(3, 100)}


def reference_contacts(caps, objects):
    """{(capsule, object name): (signed distance, point on the capsule, on the object)} from coal."""
    out = {}
    for index, (_, a, b, r) in enumerate(caps):
        for obj in objects:
            out[(index, obj["name"])] = bodykit.distance(bodykit.capsule_object(a, b, r), bodykit.scene_object(obj))
    return out


def check_against_coal(contacts, reference, caps, base):
    """Every overlap coal finds is reported once, with its depth, point and force; nothing else is."""
    reported = {(c["capsule"], c["other"]): c for c in contacts}
    assert len(reported) == len(contacts)
    for key, (distance, on_capsule, on_other) in reference.items():
        if distance < -TOLERANCE:
            assert key in reported, (key, distance)
        elif distance > TOLERANCE:
            assert key not in reported, (key, distance)
        if key not in reported:
            continue
        c = reported[key]
        radius = caps[key[0]][3]
        if distance > -radius:  # the capsule's axis outside the object: the exact overlap
            assert c["depth"] == pytest.approx(-distance, abs=TOLERANCE)
            assert c["world_point"] == pytest.approx((on_capsule + on_other) / 2, abs=1e-3)
            if distance < -1e-3:  # pushed out from the object's surface to the capsule's deepest point
                away = (on_other - on_capsule) / np.linalg.norm(on_other - on_capsule)
                assert c["normal"] == pytest.approx(away, abs=1e-5)
        else:  # axis inside: the depth of its deepest point, at most the whole overlap
            assert radius <= c["depth"] <= -distance * (1 + 1e-6) + 1e-3
        assert c["link"] == bodykit.capsule_part(key[0])
        normal = np.array(c["normal"])
        assert np.linalg.norm(normal) == pytest.approx(1, abs=1e-12)
        rotation, origin = base[:3, :3], base[:3, 3]
        assert c["force"] == pytest.approx(rotation.T @ (bodykit.STIFFNESS * c["depth"] * normal), abs=1e-9)
        assert c["point"] == pytest.approx(rotation.T @ (np.array(c["world_point"]) - origin), abs=1e-9)


@pytest.mark.parametrize("seed", range(12))
def test_contacts_with_random_objects_match_coal(sim, arm, instant, seed):
    rng = random.Random(seed)
    q = POSES[seed % len(POSES)]
    at(arm, q)
    base = [rng.uniform(-500, 500), rng.uniform(-500, 500), rng.uniform(0, 300)] + \
        [rng.uniform(-0.3, 0.3), rng.uniform(-0.3, 0.3), rng.uniform(-math.pi, math.pi)]
    sim.set_base(ADDRESS, base)
    base_matrix = bodykit.pose_matrix(base)
    caps = bodykit.capsules(q, base=base_matrix)
    objects = []
    for n in range(8):
        _, a, b, _ = caps[rng.randrange(len(caps))]
        t = rng.random()
        objects.append(random_object(rng, list((1 - t) * a + t * b), n))
    sim.set_scene(objects)
    contacts = sim.contacts(ADDRESS)
    assert contacts, "the objects were placed on the body: some must overlap"
    check_against_coal(contacts, reference_contacts(caps, objects), caps, base_matrix)


def test_the_floor_pushes_a_sunken_arm_up(sim, rc):
    base = [100, -200, -400, 0, 0, 0.7]
    sim.set_base(ADDRESS, base)
    base_matrix = bodykit.pose_matrix(base)
    caps = bodykit.capsules(HOME, base=base_matrix)
    floor = {"name": "floor", "shape": "plane", "pose": [0, 0, 0, 0, 0, 0]}
    contacts = sim.contacts(ADDRESS)
    check_against_coal(contacts, reference_contacts(caps, [floor]), caps, base_matrix)
    assert {c["link"] for c in contacts} == {0, 1}  # the column and the upper arm stand in it
    for c in contacts:
        assert c["normal"] == pytest.approx([0, 0, 1], abs=1e-12)
    sim.remove("floor")
    assert sim.contacts(ADDRESS) == []


def test_the_tool_body_follows_the_tool_data(sim, rc):
    # 150 mm straight out of the flange: its tip 150 mm below the flange at home
    tool = [0, 0, 150, 0, 0, 0]
    assert rc.set_tool_data(1, tool, "probe") == (0,)
    flange = bodykit.frames(HOME)[6]
    tip = (flange @ bodykit.pose_matrix(tool))[:3, 3]
    sim.add_sphere("bead", list(tip - [0, 0, 4]), 5)  # the tool's tip dips 1 mm into it
    assert sim.contacts(ADDRESS) == []  # tool 0: the flange alone
    assert rc.set_tool_id(1) == (0,)
    [contact] = sim.contacts(ADDRESS)
    assert contact["link"] == 6 and contact["other"] == "bead"
    assert contact["depth"] == pytest.approx(1.0, abs=1e-9)
    assert contact["force"] == pytest.approx([0, 0, 10.0], abs=1e-9)  # base frame = world frame here
    assert rc.set_tool_data(2, [0, 0, 19.9, 0, 0, 0], "short") == (0,) and rc.set_tool_id(2) == (0,)
    assert sim.contacts(ADDRESS) == []  # shorter than the tool's radius: no body of its own


def test_placed_arms_push_each_other_equally_and_unplaced_arms_never_touch(sim, rc):
    other = "10.0.0.2"
    robot = velmo.RC(other)
    assert robot.login() == (0,)
    assert sim.contacts(ADDRESS) == [] and sim.contacts(other) == []  # both at the origin, unplaced
    sim.set_base(other, [700, 80, 0, 0, 0, math.pi])  # facing the first arm, wrists overlapping
    assert sim.contacts(ADDRESS) == [] and sim.contacts(other) == []  # the first is still unplaced
    sim.set_base(ADDRESS, [0, 0, 0, 0, 0, 0])
    mine, theirs = sim.contacts(ADDRESS), sim.contacts(other)
    assert mine and len(mine) == len(theirs)
    assert all(c["with"] == "arm" for c in mine + theirs)
    assert {c["other"] for c in mine} == {other} and {c["other"] for c in theirs} == {ADDRESS}
    # pairwise: the same overlap seen from each arm, forces equal and opposite (world frame)
    turn = bodykit.pose_matrix([700, 80, 0, 0, 0, math.pi])[:3, :3]
    a_caps = bodykit.capsules(HOME)
    b_caps = bodykit.capsules(HOME, base=bodykit.pose_matrix([700, 80, 0, 0, 0, math.pi]))
    for c in theirs:
        match = [m for m in mine if m["other_link"] == c["link"] and bodykit.capsule_part(m["capsule"]) == c["other_link"]
                 and m["depth"] == pytest.approx(c["depth"], abs=1e-9)
                 and np.array(m["force"]) == pytest.approx(-(turn @ np.array(c["force"])), abs=1e-6)]
        assert match, c
    for c in mine:  # each overlap is one of coal's, capsule against capsule
        _, a, b, r = a_caps[c["capsule"]]
        distances = [bodykit.distance(bodykit.capsule_object(a, b, r), bodykit.capsule_object(e, f, s))[0]
                     for part, e, f, s in b_caps if part == c["other_link"]]
        assert min(abs(c["depth"] + d) for d in distances) < TOLERANCE

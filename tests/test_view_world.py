"""What the live view's /state.json shows of the world: the scene, each
arm's base, its body's capsules (the documented ones, bodykit) and its
contacts (as the probe reports them)."""

import math

import pytest

pytest.importorskip("coal")
np = pytest.importorskip("numpy")

import bodykit  # noqa: E402  (needs numpy and coal)
import velmo  # noqa: E402
from simkit import ADDRESS, HOME  # noqa: E402
from viewkit import controller, state  # noqa: E402

FACING = [700, 80, 0, 0, 0, math.pi]  # a second arm whose wrist overlaps the first's at home


def test_the_view_shows_the_scene_bases_bodies_and_contacts(probe, sim, rc):
    url = probe.serve_view()
    other = velmo.RC("10.0.0.2")
    assert other.login() == (0,)
    ghost = velmo.RC("10.0.0.3")
    assert ghost.login() == (0,)
    sim.set_body("10.0.0.3", False)
    sim.add_box("table", [500, 0, 350, 0, 0, 0.5], [800, 600, 700])
    sim.set_base(ADDRESS, [0, 0, 0, 0, 0, 0])
    sim.set_base("10.0.0.2", FACING)

    seen = state(url)
    assert seen["scene"] == sim.scene()
    mine, theirs, unseen = (controller(url, a) for a in (ADDRESS, "10.0.0.2", "10.0.0.3"))
    assert mine["base"] == [0] * 6 and theirs["base"] == pytest.approx(FACING) and unseen["base"] is None
    for arm, base in ((mine, None), (theirs, bodykit.pose_matrix(FACING))):
        expected = bodykit.capsules(HOME, base=base)
        assert [c["link"] for c in arm["body"]] == [part for part, *_ in expected]
        for shown, (_, a, b, r) in zip(arm["body"], expected):
            assert shown["from"] == pytest.approx(a, abs=1e-9) and shown["to"] == pytest.approx(b, abs=1e-9)
            assert shown["radius"] == r
    assert unseen["body"] == [] and unseen["contacts"] == []

    for address, shown in ((ADDRESS, mine), ("10.0.0.2", theirs)):
        reported = sim.contacts(address)
        assert {c["with"] for c in reported} == {"object", "arm"}  # the table and the other arm
        assert [(c["link"], c["with"], c["other"], c["other_link"]) for c in shown["contacts"]] == \
            [(c["link"], c["with"], c["other"], c["other_link"]) for c in reported]
        for c, r in zip(shown["contacts"], reported):
            assert c["point"] == pytest.approx(r["world_point"], abs=1e-9)
            assert c["normal"] == pytest.approx(r["normal"], abs=1e-12)
            assert c["depth"] == pytest.approx(r["depth"], abs=1e-9)

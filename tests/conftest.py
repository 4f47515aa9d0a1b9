import os

import pytest

import velmo
import zandrel_sim


@pytest.fixture(scope="session", autouse=True)
def controller_home(tmp_path_factory):
    """The virtual controller keeps its files (programs, trajectories) in a
    folder of the test session, never in the user's own (ZSIM_HOME is read at
    each use)."""
    saved = os.environ.get("ZSIM_HOME")
    os.environ["ZSIM_HOME"] = str(tmp_path_factory.mktemp("zsim-home"))
    yield
    if saved is None:
        del os.environ["ZSIM_HOME"]
    else:
        os.environ["ZSIM_HOME"] = saved


@pytest.fixture(scope="session")
def probe():
    return zandrel_sim.Probe()


@pytest.fixture
def sim(probe):
    """The virtual controller, reset: empty journal, no injections, no state."""
    probe.reset()
    yield probe
    probe.reset()


@pytest.fixture
def ghost(sim):
    """The arm at 127.0.0.1 (the rc fixture's) without a body, for tests of
    motion alone that drive it to random configurations: it moves through
    the floor and through itself, as before the arm had a world."""
    sim.set_body("127.0.0.1", False)
    return sim


@pytest.fixture
def rc(sim):
    """A robot object logged in to the virtual controller, journal cleared."""
    robot = velmo.RC("127.0.0.1")
    assert robot.login() == (0,)
    sim.clear()
    return robot


@pytest.fixture
def instant(sim):
    """Time scale 0: every motion completes inside the call that starts it."""
    sim.set_time_scale(0)
    return sim


@pytest.fixture
def arm(rc):
    """The rc fixture's robot, powered and enabled."""
    assert rc.power_on() == (0,) and rc.enable_robot() == (0,)
    return rc


@pytest.fixture
def home(monkeypatch, tmp_path):
    """A fresh controller folder (ZSIM_HOME), with programs/ made."""
    folder = tmp_path / "zsim-home"
    (folder / "programs").mkdir(parents=True)
    monkeypatch.setenv("ZSIM_HOME", str(folder))
    return folder

import pytest

import velmo
import zandrel_sim


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
def rc(sim):
    """A robot object logged in to the virtual controller, journal cleared."""
    robot = velmo.RC("127.0.0.1")
    assert robot.login() == (0,)
    sim.clear()
    return robot

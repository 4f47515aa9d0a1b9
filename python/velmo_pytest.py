"""pytest fixtures for testing scripts against the virtual controller.

Installed with velmo as a pytest plugin (the `pytest11` entry point
`velmo_pytest`; with plugin autoloading off, `pytest -p velmo_pytest`). It
changes nothing for a test that neither uses its fixtures nor carries its
marker: importing it loads no library (velmo, and with it the controller
library, is imported when a fixture is first used).

    import pytest, velmo_arm

    def test_pick(virtual_arm):                        # a fresh controller, an enabled Arm on it
        virtual_arm.move_joints(ABOVE_PICK, speed=1.0)  # time scale 0: ends inside the call

    @pytest.mark.virtual_controller(manual_time=True)
    def test_a_fault_mid_move(virtual_controller, virtual_arm):
        virtual_controller.trigger_fault(virtual_controller.address, 7, cycles=50)
        with pytest.raises(velmo_arm.LimitError):
            virtual_arm.move_joints(FAR, speed=1.0, wait=False)
            virtual_controller.advance_time(1.0)
            virtual_arm.wait()

- `virtual_controller`: the probe (zandrel_sim.Probe) of a controller reset
  for this test, keeping its files in a folder of the test's own
  (`.folder`, its ZSIM_HOME), its time as the marker says, reset again
  afterwards. `.address` is the address to log in to, `.connect(**options)`
  an Arm on it.
- `virtual_arm`: `velmo_arm.connect(address, enable=True)` on it, closed
  afterwards.
- `@pytest.mark.virtual_controller(time_scale=0, manual_time=False,
  address="127.0.0.1")`: how the controller's time runs (0: every motion
  ends inside the call that starts it; 1: real time; manual: only
  advance_time moves it) and its address. The marker alone also gives the
  test a fresh controller.
"""

import pathlib
from typing import TYPE_CHECKING, Any, Iterator

import pytest

import zandrel_sim

if TYPE_CHECKING:
    from velmo_arm import Arm

__all__ = ["VirtualController"]

MARKER = "virtual_controller"


class VirtualController(zandrel_sim.Probe):
    """The probe of the test's fresh controller."""

    def __init__(self, address: str, folder: pathlib.Path) -> None:
        super().__init__()
        self.address = address
        """The controller's address: log in there."""
        self.folder = folder
        """The folder the controller keeps its programs and trajectories in (ZSIM_HOME)."""

    def connect(self, **options: Any) -> "Arm":
        """velmo_arm.connect to this controller, with connect's options."""
        import velmo_arm

        return velmo_arm.connect(self.address, **options)


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line(
        "markers", f"{MARKER}(time_scale=0, manual_time=False, address='127.0.0.1'): a fresh virtual "
        "controller for the test (velmo's pytest plugin), its time and address")


@pytest.fixture
def virtual_controller(request: pytest.FixtureRequest, tmp_path: pathlib.Path,
                       monkeypatch: pytest.MonkeyPatch) -> Iterator[VirtualController]:
    """A virtual controller reset for this test, in a folder of its own."""
    marker = request.node.get_closest_marker(MARKER)
    options = dict(marker.kwargs) if marker is not None else {}
    time_scale = float(options.pop("time_scale", 0.0))
    manual_time = bool(options.pop("manual_time", False))
    address = str(options.pop("address", "127.0.0.1"))
    if options or (marker is not None and marker.args):
        raise TypeError(f"@pytest.mark.{MARKER} takes time_scale, manual_time and address only")
    folder = tmp_path / "virtual-controller"
    (folder / "programs").mkdir(parents=True)
    monkeypatch.setenv("ZSIM_HOME", str(folder))
    controller = VirtualController(address, folder)
    controller.reset()
    if manual_time:
        controller.advance_time(0.0)
    else:
        controller.set_time_scale(time_scale)
    yield controller
    controller.reset()


@pytest.fixture
def virtual_arm(virtual_controller: VirtualController) -> Iterator["Arm"]:
    """An Arm logged in to the test's virtual controller, powered and enabled."""
    arm = virtual_controller.connect(enable=True)
    try:
        yield arm
    finally:
        arm.close()


@pytest.fixture(autouse=True)
def _virtual_controller_by_marker(request: pytest.FixtureRequest) -> None:
    """The marker alone gives the test its fresh controller; unmarked tests are left alone."""
    if request.node.get_closest_marker(MARKER) is not None and MARKER not in request.fixturenames:
        request.getfixturevalue(MARKER)

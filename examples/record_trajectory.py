"""Record a trajectory, replay it as a program, and plot it to a PNG.

Samples the arm while it moves around a square, seen from above, whose
second side slopes down and fourth side up (one sample each 5 mm of the
TCP, or 0.05 rad of turn, and one where each move ends), saves the
trajectory in the controller's trajectories/ folder, turns it into a replay
program and runs that from elsewhere. The samples are read back from the file (its format is
in docs/virtual-controller-files.md) and drawn with matplotlib: the path
seen from above and the height over time. Without matplotlib
(pip install "velmo[plot]") the plot is skipped and everything else runs.

The virtual controller's time runs ZSIM_TIME_SCALE times as fast as real
time; at 0 every move and the replay finish inside their calls.

    python examples/record_trajectory.py [png] [address]
"""

import importlib
import math
import os
import sys
import time
from typing import Any, List, Tuple, TypeVar, Union

import velmo
import zandrel_sim

Value = TypeVar("Value")

NAME = "square"
START = [0.3, 1.3, -1.2, -1.6, -1.5, 0.2]
SIDE = 80.0  # mm
DROP = 30.0  # mm down along the second side, up along the fourth
CONFIG = (5.0, 0.05, 150.0, 600.0)  # xyz_interval, rpy_interval, replay vel, replay acc


def check(what: str, result: Tuple[object, ...]) -> None:
    if result[0] != 0:
        raise SystemExit(f"{what} failed with controller code {result[0]}")


def value(what: str, result: Union[Tuple[int], Tuple[int, Value]]) -> Value:
    check(what, result)
    if len(result) != 2:
        raise SystemExit(f"{what} returned no value")
    return result[1]


def read_samples(path: str) -> List[List[float]]:
    """Each sample as [t, x, y, z, rx, ry, rz, j1, ..., j6]."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    if not lines or lines[0] != "zandrel-trajectory 1":
        raise SystemExit(f"{path} is not a trajectory file")
    return [[float(w) for w in line.split()] for line in lines[3:] if line]


def wait_for_program(robot: velmo.RC, timeout: float) -> int:
    deadline = time.monotonic() + timeout
    while value("get_program_state", robot.get_program_state()) == 1:
        if time.monotonic() > deadline:
            raise SystemExit("the replay did not finish in time")
        time.sleep(0.005)
    return value("get_program_state", robot.get_program_state())


def plot(samples: List[List[float]], png: str) -> None:
    try:
        matplotlib: Any = importlib.import_module("matplotlib")
    except ImportError:
        print('matplotlib is not installed: skipping the plot (pip install "velmo[plot]")')
        return
    matplotlib.use("Agg")
    pyplot: Any = importlib.import_module("matplotlib.pyplot")
    figure, (top, height) = pyplot.subplots(1, 2, figsize=(10, 4.5))
    top.plot([s[1] for s in samples], [s[2] for s in samples], marker=".")
    top.set(title="TCP seen from above", xlabel="x (mm)", ylabel="y (mm)", aspect="equal")
    height.plot([s[0] for s in samples], [s[3] for s in samples], marker=".")
    height.set(title="TCP height", xlabel="time of motion (s)", ylabel="z (mm)")
    figure.tight_layout()
    figure.savefig(png, dpi=80)
    pyplot.close(figure)
    print("plot written to", png)


def main(png: str = "trajectory.png", address: str = "127.0.0.1") -> None:
    sim = zandrel_sim.Probe()  # the virtual controller's folder
    robot = velmo.RC(address)
    check("login", robot.login())
    try:
        check("power_on", robot.power_on())
        check("enable_robot", robot.enable_robot())
        check("joint_move to the start", robot.joint_move(START, 0, True, 1.0))
        check("set_traj_config", robot.set_traj_config(CONFIG))
        print("recording configuration:", value("get_traj_config", robot.get_traj_config()))

        corner = list(value("get_tcp_position", robot.get_tcp_position()))
        check("set_traj_sample_mode(1)", robot.set_traj_sample_mode(1, NAME))
        print("sampling:", value("get_traj_sample_status", robot.get_traj_sample_status()))
        for dx, dy, dz in [(SIDE, 0.0, 0.0), (0.0, SIDE, -DROP), (-SIDE, 0.0, 0.0), (0.0, -SIDE, DROP)]:
            corner[0] += dx
            corner[1] += dy
            corner[2] += dz
            check("linear_move", robot.linear_move(corner, 0, True, 100.0))
        check("set_traj_sample_mode(0)", robot.set_traj_sample_mode(0, NAME))
        print("saved trajectories:", value("get_exist_traj_file_name", robot.get_exist_traj_file_name()))

        samples = read_samples(os.path.join(sim.files_folder(), "trajectories", NAME))
        length = sum(math.dist(a[1:4], b[1:4]) for a, b in zip(samples, samples[1:]))
        print(f"{len(samples)} samples over {length:.1f} mm and {samples[-1][0]:.2f} s of motion")

        check("generate_traj_exe_file", robot.generate_traj_exe_file(NAME))
        home = [0.0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0.0]
        check("joint_move home", robot.joint_move(home, 0, True, 1.0))
        check("program_load", robot.program_load(NAME))
        check("program_run", robot.program_run())
        state = wait_for_program(robot, timeout=300.0)
        end = value("get_tcp_position", robot.get_tcp_position())
        miss = math.dist(end[:3], samples[-1][1:4])
        print(f"replay ended in state {state}, {miss:.6f} mm from the recorded end")
        if state != 0:
            raise SystemExit(f"the replay stopped: {robot.get_last_error()}")

        plot(samples, png)
        check("remove_traj_file", robot.remove_traj_file(NAME))
        check("disable_robot", robot.disable_robot())
        check("power_off", robot.power_off())
    finally:
        check("logout", robot.logout())


if __name__ == "__main__":
    main(*sys.argv[1:3])

"""A reader for the controller's trajectory files (set_traj_sample_mode).

A real controller keeps its recorded trajectories on its own storage, where
the script's machine cannot read them: there, record on the script's side
(`Arm.record`) or replay them on the controller (generate_traj_exe_file).
The virtual controller keeps them in the `trajectories/` folder of its files
folder (`zandrel_sim.Probe().files_folder()`), so reading one here is a
convenience of the virtual controller:

    path = os.path.join(zandrel_sim.Probe().files_folder(), "trajectories", "square")
    square = velmo_arm.read_trajectory(path)

The format (docs/virtual-controller-files.md): a `zandrel-trajectory 1` line,
`config <xyz_interval> <rpy_interval> <vel> <acc>`, `frames <tool> <user>`,
then one `<t> <x> <y> <z> <rx> <ry> <rz> <j1> ... <j6>` line per sample; `t`
counts only the cycles in which the arm moved, so pauses do not show in it.
"""

import math
from dataclasses import dataclass
from typing import Any, List, Tuple

from .record import as_array
from .status import Joints, Pose

__all__ = ["Trajectory", "TrajectorySample", "read_trajectory"]

Four = Tuple[float, float, float, float]


@dataclass(frozen=True)
class TrajectorySample:
    time: float
    """Seconds of motion since sampling started (pauses left out)."""
    pose: Pose
    """The TCP in the tool and user frame of `Trajectory.frames`, mm and rad."""
    joints: Joints


@dataclass(frozen=True)
class Trajectory:
    config: Four
    """xyz_interval (mm), rpy_interval (rad), replay speed (mm/s) and acceleration (mm/s^2)."""
    tool_id: int
    user_frame_id: int
    samples: Tuple[TrajectorySample, ...]

    @property
    def times(self) -> Any:
        return as_array([s.time for s in self.samples])

    @property
    def poses(self) -> Any:
        return as_array([s.pose for s in self.samples])

    @property
    def joints(self) -> Any:
        return as_array([s.joints for s in self.samples])


def _numbers(words: List[str], count: int, where: str) -> Tuple[float, ...]:
    if len(words) != count:
        raise ValueError(f"{where}: {count} numbers expected, got {len(words)}")
    try:
        values = tuple(float(w) for w in words)
    except ValueError:
        raise ValueError(f"{where}: not a number in {' '.join(words)!r}") from None
    if not all(math.isfinite(v) for v in values):
        raise ValueError(f"{where}: a number that is not finite")
    return values


def read_trajectory(path: str) -> Trajectory:
    """The trajectory file at `path`; ValueError naming the line when it is not one."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    if not lines or lines[0] != "zandrel-trajectory 1":
        raise ValueError(f"{path}: not a trajectory file (no 'zandrel-trajectory 1' line first)")
    if len(lines) < 3 or not lines[1].startswith("config ") or not lines[2].startswith("frames "):
        raise ValueError(f"{path}: the config and frames lines are missing")
    a, b, c, d = _numbers(lines[1].split()[1:], 4, f"{path}:2")
    frames = lines[2].split()[1:]
    if len(frames) != 2 or not all(w.isdigit() for w in frames):
        raise ValueError(f"{path}:3: two frame ids expected")
    samples: List[TrajectorySample] = []
    for number, line in enumerate(lines[3:], start=4):
        if not line:
            continue
        v = _numbers(line.split(), 13, f"{path}:{number}")
        samples.append(TrajectorySample(v[0], (v[1], v[2], v[3], v[4], v[5], v[6]),
                                        (v[7], v[8], v[9], v[10], v[11], v[12])))
    return Trajectory((a, b, c, d), int(frames[0]), int(frames[1]), tuple(samples))

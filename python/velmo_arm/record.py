"""The recorder: what the arm did, sampled by the script's side.

    with arm.record(rate_hz=125) as rec:
        arm.move_joints(target, speed=1.0)
    rec.to_csv("move.csv")
    rec.plot("move.png")          # matplotlib: pip install "velmo[plot]"

A thread of the recorder reads the controller's status `rate_hz` times a
second on one absolute grid (`rate_hz=None`: only when `sample()` is called)
and keeps each reading with three times: seconds since the recording began
(`time.perf_counter`), the wall clock (`time.time`) and the controller's
clock. Only the virtual controller tells its clock (simulated seconds, which
run `ZSIM_TIME_SCALE` times as fast as real time and stand still in manual
time); with another library it is NaN. Speeds are taken over the
controller's clock when it is known, else over the recorder's own.

The arrays (`times`, `joints`, ...) are NumPy arrays when NumPy is
installed, tuples of floats (or of rows) otherwise.
"""

import csv
import importlib
import math
import threading
import time
from dataclasses import dataclass
from types import TracebackType
from typing import Any, Callable, List, Optional, Sequence, Tuple, Type, Union

from .limits import ZANDREL, Limits
from .status import Status

__all__ = ["Recorder", "Sample", "CSV_COLUMNS"]

DIGITAL, ANALOG, TOOL_DIGITAL = 16, 4, 2  # cabinet digital, cabinet analog and tool digital channels kept per row

CSV_COLUMNS: Tuple[str, ...] = (
    ("time", "wall_time", "controller_time")
    + tuple(f"j{i}" for i in range(1, 7)) + ("x", "y", "z", "rx", "ry", "rz")
    + ("powered", "enabled", "in_position", "error_code", "protective_stop", "servo_mode", "motions_queued")
    + tuple(f"di{i}" for i in range(DIGITAL)) + tuple(f"do{i}" for i in range(DIGITAL))
    + tuple(f"ai{i}" for i in range(ANALOG)) + tuple(f"ao{i}" for i in range(ANALOG))
    + tuple(f"tool_di{i}" for i in range(TOOL_DIGITAL)) + tuple(f"tool_do{i}" for i in range(TOOL_DIGITAL))
)
"""The columns of `Recorder.to_csv`: times (s), joints (rad), TCP (mm, rad),
state, the cabinet's digital inputs and outputs 0-15 and analog inputs and
outputs 0-3, the tool's digital inputs and outputs 0-1."""


@dataclass(frozen=True)
class Sample:
    """One reading of the controller."""

    time: float
    """Seconds since the recording began (time.perf_counter)."""
    wall_time: float
    """Seconds since 1970 (time.time)."""
    controller_time: float
    """The controller's clock, seconds (NaN when it does not tell it)."""
    status: Status

    def row(self) -> Tuple[Union[float, int], ...]:
        """The sample as one row of CSV_COLUMNS."""
        s = self.status
        return ((self.time, self.wall_time, self.controller_time) + s.joints + s.tcp
                + (int(s.powered), int(s.enabled), int(s.in_position), s.error_code, int(s.protective_stop),
                   int(s.servo_mode), s.motions_queued)
                + tuple(int(v) for v in s.cabinet_digital_inputs[:DIGITAL])
                + tuple(int(v) for v in s.cabinet_digital_outputs[:DIGITAL])
                + s.cabinet_analog_inputs[:ANALOG] + s.cabinet_analog_outputs[:ANALOG]
                + tuple(int(v) for v in s.tool_digital_inputs[:TOOL_DIGITAL])
                + tuple(int(v) for v in s.tool_digital_outputs[:TOOL_DIGITAL]))


def controller_clock() -> Optional[Callable[[], float]]:
    """The virtual controller's clock when velmo drives it, else None."""
    try:
        import zandrel_sim

        if not zandrel_sim.is_virtual_controller():
            return None
        return zandrel_sim.simulated_clock()
    except (ImportError, OSError, AttributeError):
        return None


def as_array(rows: Sequence[Any]) -> Any:
    """A NumPy array of floats when NumPy is installed, else the tuple of rows."""
    try:
        numpy: Any = importlib.import_module("numpy")  # optional: typed loosely on purpose
    except ImportError:
        return tuple(rows)
    return numpy.asarray(rows, dtype=float)


class Recorder:
    """Samples of one Arm; made by `Arm.record()`, used in a with block.

    The samples stay readable after the block; `close()` (also by the
    block's end or the Arm's close) stops the sampling thread.
    """

    def __init__(self, read: Callable[[], Status], *, rate_hz: Optional[float], limits: Limits = ZANDREL,
                 on_close: Optional[Callable[[Callable[[], None]], None]] = None,
                 clock: Optional[Callable[[], float]] = None) -> None:
        if rate_hz is not None and not (rate_hz > 0 and math.isfinite(rate_hz)):
            raise ValueError(f"rate_hz must be a positive number or None, got {rate_hz!r}")
        self._read = read
        self._period = None if rate_hz is None else 1.0 / rate_hz
        self.limits = limits
        """What plot() draws the joints and speeds against."""
        self._on_close = on_close
        self._controller_clock = clock if clock is not None else controller_clock()
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._thread: Optional[threading.Thread] = None
        self._began = 0.0
        self.samples: List[Sample] = []
        """Every sample, oldest first."""
        self.error: Optional[BaseException] = None
        """What ended the sampling thread early (the controller refused a read)."""

    # ---- the recording -------------------------------------------------------------------

    def __enter__(self) -> "Recorder":
        self._began = time.perf_counter()
        self.sample()
        if self._period is not None:
            self._thread = threading.Thread(target=self._run, name="velmo_arm recorder", daemon=True)
            self._thread.start()
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]], exc: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        self.close()
        if exc_type is None and self.error is not None:
            raise self.error

    def close(self) -> None:
        """Stop sampling (closing twice is fine)."""
        self._stop.set()
        thread, self._thread = self._thread, None
        if thread is not None:
            thread.join()
            # The recording ends with the state at the block's end: the last
            # tick may have come up to a period before the final cycle.
            if self.error is None:
                try:
                    self.sample()
                except Exception as e:
                    self.error = e
        if self._on_close is not None:
            on_close, self._on_close = self._on_close, None
            try:
                on_close(self.close)
            except ValueError:  # the Arm let go of it already
                pass

    def sample(self) -> Sample:
        """Read the controller now and keep the reading."""
        now = time.perf_counter()
        wall = time.time()
        controller = self._controller_clock() if self._controller_clock is not None else math.nan
        taken = Sample(now - self._began, wall, controller, self._read())
        with self._lock:
            self.samples.append(taken)
        return taken

    def _run(self) -> None:
        assert self._period is not None
        tick = 1
        while not self._stop.wait(max(0.0, self._began + tick * self._period - time.perf_counter())):
            try:
                self.sample()
            except Exception as e:  # the controller refused: stop, and say why at the block's end
                self.error = e
                return
            tick = max(tick + 1, math.floor((time.perf_counter() - self._began) / self._period) + 1)

    # ---- the samples as arrays ---------------------------------------------------------------

    def _taken(self) -> List[Sample]:
        with self._lock:
            return list(self.samples)

    @property
    def times(self) -> Any:
        """Seconds since the recording began, one per sample."""
        return as_array([s.time for s in self._taken()])

    @property
    def wall_times(self) -> Any:
        return as_array([s.wall_time for s in self._taken()])

    @property
    def controller_times(self) -> Any:
        return as_array([s.controller_time for s in self._taken()])

    @property
    def joints(self) -> Any:
        """One row of six joint angles (rad) per sample."""
        return as_array([s.status.joints for s in self._taken()])

    @property
    def tcp(self) -> Any:
        """One TCP pose (mm, rad) per sample."""
        return as_array([s.status.tcp for s in self._taken()])

    @property
    def digital_inputs(self) -> Any:
        """The cabinet's digital inputs 0-15 (1.0 or 0.0), one row per sample."""
        return as_array([[float(v) for v in s.status.cabinet_digital_inputs[:DIGITAL]] for s in self._taken()])

    @property
    def digital_outputs(self) -> Any:
        return as_array([[float(v) for v in s.status.cabinet_digital_outputs[:DIGITAL]] for s in self._taken()])

    @property
    def speed_times(self) -> Any:
        """The clock speeds are taken over: the controller's when it told it, else the recorder's."""
        return as_array(self._speed_clock(self._taken()))

    @property
    def joint_speeds(self) -> Any:
        """Each joint's speed (rad/s) from one sample to the next over
        `speed_times` (the first row repeats the second; NaN where the clock
        did not move)."""
        return as_array(self._speeds(self._taken()))

    @staticmethod
    def _speed_clock(samples: List[Sample]) -> List[float]:
        controller = [s.controller_time for s in samples]
        return controller if samples and all(math.isfinite(t) for t in controller) else [s.time for s in samples]

    def _speeds(self, samples: List[Sample]) -> List[Tuple[float, ...]]:
        t = self._speed_clock(samples)
        rows: List[Tuple[float, ...]] = []
        for i in range(1, len(samples)):
            dt = t[i] - t[i - 1]
            a, b = samples[i - 1].status.joints, samples[i].status.joints
            rows.append(tuple((y - x) / dt if dt > 0 else math.nan for x, y in zip(a, b)))
        if rows:
            rows.insert(0, rows[0])
        elif samples:
            rows.append((0.0,) * 6)
        return rows

    # ---- out -----------------------------------------------------------------------------

    def to_csv(self, path: str) -> None:
        """Write every sample as one row of CSV_COLUMNS, with a header row."""
        with open(path, "w", newline="", encoding="utf-8") as f:
            writer = csv.writer(f)
            writer.writerow(CSV_COLUMNS)
            for s in self._taken():
                writer.writerow([repr(v) if isinstance(v, float) else v for v in s.row()])

    def plot(self, path: Optional[str] = None) -> Any:
        """Draw the joints and their speeds over time (the speeds' clock, from
        the first sample) against the arm's limits (dashed, each joint's in
        its colour) and return the
        matplotlib Figure; with `path`, also save it there (PNG, SVG, PDF by
        the name). Needs matplotlib (pip install "velmo[plot]")."""
        try:
            from matplotlib.figure import Figure
        except ImportError as e:
            raise ImportError('Recorder.plot needs matplotlib: pip install "velmo[plot]"') from e
        samples = self._taken()
        clock = self._speed_clock(samples)
        t = [v - clock[0] for v in clock]  # from the first sample
        speeds = self._speeds(samples)
        figure: Any = Figure(figsize=(10, 7))
        angles, rates = figure.subplots(2, 1, sharex=True)
        for j in range(6):
            color = f"C{j}"
            angles.plot(t, [s.status.joints[j] for s in samples], color=color, label=f"joint {j + 1}")
            for bound in (self.limits.joint_lower[j], self.limits.joint_upper[j]):
                angles.axhline(bound, color=color, linestyle="--", linewidth=0.8)
            rates.plot(t, [row[j] for row in speeds], color=color, label=f"joint {j + 1}")
            for bound in (-self.limits.joint_speed[j], self.limits.joint_speed[j]):
                rates.axhline(bound, color=color, linestyle="--", linewidth=0.8)
        which = "controller time" if samples and all(math.isfinite(s.controller_time) for s in samples) else "time"
        angles.set(title="joints (dashed: limits)", ylabel="rad")
        rates.set(title="joint speeds (dashed: maximum speeds)", ylabel="rad/s",
                  xlabel=f"{which} since the first sample (s)")
        angles.legend(loc="upper right", fontsize="small", ncol=3)
        figure.tight_layout()
        if path is not None:
            figure.savefig(path, dpi=80)
        return figure

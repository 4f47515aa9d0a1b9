"""Servo streaming: a joint-space sine, one servo_j set-point every 8 ms (125 Hz).

The script paces itself: it sends each set-point when its 8 ms of simulated
time are due, then reads the joints back. The controller smooths the stream
with its joint low-pass filter, so the arm lags a little behind. At the end
the script reports the rate it achieved and how closely the arm tracked the
set-points (the largest and the root-mean-square difference between the
latest set-point and the joints read back, over all joints).

The virtual controller's time runs ZSIM_TIME_SCALE times as fast as real time
(read here as the library reads it): at 10 the stream takes a tenth of the
time; at 0 every set-point is reached inside its own call, so there is
nothing to pace and the tracking error is 0.

    python examples/servo_sine.py [address] [seconds]
"""

import math
import os
import sys
import time
from typing import List, Sequence, Tuple, TypeVar, Union

import velmo

Value = TypeVar("Value")

RATE_HZ = 125.0
PERIOD = 1.0 / RATE_HZ
START = (0.0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0.0)
AMPLITUDE = (0.3, 0.15, 0.2, 0.0, 0.25, 0.4)  # rad per joint
FREQUENCY = 0.5  # Hz
CUTOFF_HZ = 20.0  # the joint low-pass filter


def time_scale() -> float:
    """ZSIM_TIME_SCALE as the virtual controller reads it: a number >= 0, else 1."""
    try:
        scale = float(os.environ.get("ZSIM_TIME_SCALE", "1"))
    except ValueError:
        return 1.0
    return scale if math.isfinite(scale) and scale >= 0 else 1.0


def check(what: str, result: Tuple[object, ...]) -> None:
    if result[0] != 0:
        raise SystemExit(f"{what} failed with controller code {result[0]}")


def value(what: str, result: Union[Tuple[int], Tuple[int, Value]]) -> Value:
    check(what, result)
    if len(result) != 2:
        raise SystemExit(f"{what} returned no value")
    return result[1]


def set_point(t: float) -> List[float]:
    """The sine at time t: every joint starts at START and swings about it."""
    return [q + a * math.sin(2 * math.pi * FREQUENCY * t) for q, a in zip(START, AMPLITUDE)]


def stream(robot: velmo.RC, count: int, scale: float) -> Tuple[float, List[float]]:
    """Sends `count` set-points; returns the real seconds taken and the
    tracking error after each one."""
    pace = PERIOD / scale if scale > 0 else 0.0
    errors: List[float] = []
    begin = time.perf_counter()
    for k in range(1, count + 1):
        target = set_point(k * PERIOD)
        check("servo_j", robot.servo_j(target, 0))
        due = begin + k * pace
        while pace and time.perf_counter() < due:
            time.sleep(max(0.0, min(due - time.perf_counter(), 0.002)))
        actual: Sequence[float] = value("get_joint_position", robot.get_joint_position())
        errors.append(max(abs(a - b) for a, b in zip(actual, target)))
    return time.perf_counter() - begin, errors


def main(address: str = "127.0.0.1", seconds: float = 2.0) -> None:
    scale = time_scale()
    robot = velmo.RC(address)
    check("login", robot.login())
    try:
        check("power_on", robot.power_on())
        check("enable_robot", robot.enable_robot())
        check("joint_move to the start", robot.joint_move(START, 0, True, 1.0))
        check("servo_move_use_joint_LPF", robot.servo_move_use_joint_LPF(CUTOFF_HZ))
        check("servo_move_enable(1)", robot.servo_move_enable(1))
        count = int(round(seconds * RATE_HZ))
        print(f"streaming {count} set-points at {RATE_HZ:g} Hz through a {CUTOFF_HZ:g} Hz joint low-pass "
              f"filter (time scale {scale:g})")
        elapsed, errors = stream(robot, count, scale)
        check("servo_move_enable(0)", robot.servo_move_enable(0))
        check("servo_move_use_none_filter", robot.servo_move_use_none_filter())
        if scale > 0:
            simulated = elapsed * scale
            print(f"achieved rate: {count / simulated:.1f} Hz "
                  f"({count} set-points in {simulated:.3f} s of simulated time)")
        else:
            print(f"achieved rate: {count / elapsed:.0f} calls/s of real time "
                  "(time scale 0: each set-point is reached inside its call)")
        rms = math.sqrt(sum(e * e for e in errors) / len(errors))
        print(f"tracking error: max {max(errors):.6f} rad, rms {rms:.6f} rad")
        check("disable_robot", robot.disable_robot())
        check("power_off", robot.power_off())
    finally:
        check("logout", robot.logout())


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "127.0.0.1", float(sys.argv[2]) if len(sys.argv) > 2 else 2.0)

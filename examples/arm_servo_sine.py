"""Servo streaming with velmo_arm: the joint-space sine of servo_sine.py.

`arm.servo()` does the pacing servo_sine.py writes by hand: each send waits
for its deadline on an absolute grid (no drift), counts the sends that came
late, and leaving the block waits until the arm has taken every set-point
before servo mode is left.

The virtual controller's time runs ZSIM_TIME_SCALE times as fast as real
time, so the stream runs that much faster; at 0 every set-point is reached
inside its call and the stream is not paced.

    python examples/arm_servo_sine.py [address] [seconds]
"""

import math
import os
import sys
import time
from typing import List

import velmo_arm

RATE_HZ = 125.0  # one set-point per 8 ms cycle of the controller
START = (0.0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0.0)
AMPLITUDE = (0.3, 0.15, 0.2, 0.0, 0.25, 0.4)  # rad per joint
FREQUENCY = 0.5  # Hz


def time_scale() -> float:
    """ZSIM_TIME_SCALE as the virtual controller reads it: a number >= 0, else 1."""
    try:
        scale = float(os.environ.get("ZSIM_TIME_SCALE", "1"))
    except ValueError:
        return 1.0
    return scale if math.isfinite(scale) and scale >= 0 else 1.0


def set_point(t: float) -> List[float]:
    return [q + a * math.sin(2 * math.pi * FREQUENCY * t) for q, a in zip(START, AMPLITUDE)]


def main(address: str = "127.0.0.1", seconds: float = 2.0) -> None:
    scale = time_scale()
    count = int(round(seconds * RATE_HZ))
    with velmo_arm.connect(address, enable=True) as arm:
        arm.move_joints(START, speed=1.0)
        print(f"streaming {count} set-points at {RATE_HZ:g} Hz through a 20 Hz joint low-pass filter "
              f"(time scale {scale:g})")
        errors: List[float] = []
        began = time.perf_counter()  # fine-grained on Windows too, where monotonic ticks in 16 ms
        with arm.servo(rate_hz=RATE_HZ * scale if scale > 0 else None,
                       filter=velmo_arm.JointLowPass(20.0), steps=1) as stream:
            for k in range(1, count + 1):
                target = set_point(k / RATE_HZ)
                stream.send(target)
                errors.append(max(abs(a - b) for a, b in zip(arm.joints, target)))
            elapsed = time.perf_counter() - began  # before the drain
        print(f"sent {stream.sent}, {stream.overruns} late; servo mode now {arm.status().servo_mode}")
        if scale > 0:
            print(f"achieved rate: {count / (elapsed * scale):.1f} Hz of simulated time")
        else:
            print(f"achieved rate: {count / elapsed:.0f} calls/s of real time (not paced at time scale 0)")
        rms = math.sqrt(sum(e * e for e in errors) / len(errors))
        print(f"tracking error: max {max(errors):.6f} rad, rms {rms:.6f} rad")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "127.0.0.1", float(sys.argv[2]) if len(sys.argv) > 2 else 2.0)

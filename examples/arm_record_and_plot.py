"""Record what the arm does from the script's side, write it as CSV, plot it.

`arm.record()` samples the controller on a thread of its own while the
script moves the arm: joints, TCP, IO and state, each with the recorder's
time, the wall clock and the controller's clock (the virtual controller's
simulated seconds). The CSV holds every sample; the plot (matplotlib: pip
install "velmo[plot]") draws the joints and their speeds against the arm's
limits. Without matplotlib the plot is skipped and everything else runs.

The virtual controller's time runs ZSIM_TIME_SCALE times as fast as real
time; at 0 every move ends inside its call and the controller's clock stands
still, so the recording holds the samples the script takes itself and no
speeds.

    python examples/arm_record_and_plot.py [csv] [png] [address]
"""

import math
import sys

import velmo_arm
from velmo_arm import JointTo

START = (0.0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0.0)
WAYPOINTS = [(0.6, 1.3, -1.2, -1.6, -1.5, 0.2), (0.2, 1.1, -0.9, -1.7, -1.4, 0.5), START]
RATE_HZ = 100.0


def main(csv_path: str = "motion.csv", png_path: str = "motion.png", address: str = "127.0.0.1") -> None:
    with velmo_arm.connect(address, enable=True) as arm:
        arm.move_joints(START, speed=1.0)
        with arm.record(rate_hz=RATE_HZ) as rec:
            arm.move_path([JointTo(q, 1.0, blend=0.1) for q in WAYPOINTS])
            rec.sample()  # where the path ended, whatever the rate
        samples = rec.samples
        span = samples[-1].controller_time - samples[0].controller_time
        print(f"{len(samples)} samples over {span:.2f} s of controller time")
        rec.to_csv(csv_path)
        print(f"CSV written to {csv_path}: {len(velmo_arm.CSV_COLUMNS)} columns")

        speeds = [abs(v) for sample_speeds in rec.joint_speeds for v in sample_speeds if not math.isnan(v)]
        if speeds:
            print(f"fastest joint speed: {max(speeds):.3f} rad/s "
                  f"(the arm's slowest joint maximum: {min(arm.limits.joint_speed):.3f} rad/s)")
        else:
            print("no speeds: the controller's clock did not move (time scale 0)")
        try:
            rec.plot(png_path)
        except ImportError:
            print('matplotlib is not installed: skipping the plot (pip install "velmo[plot]")')
        else:
            print("plot written to", png_path)


if __name__ == "__main__":
    main(*sys.argv[1:4])

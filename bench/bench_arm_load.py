"""What the arms' dynamics and collision detection cost per cycle.

    python bench/bench_arm_load.py [--arms 100] [--seconds 2] [--repeats 5] [--write]

Runs bench/build/arm_load_cost (build_refs.sh builds it) and reports, from
the thread's CPU time:

- the share of a core that `arms` arms moving back and forth by joint moves
  need in real time (every cycle: the motion, the world's checks, the
  joint torques, the collision detection), the payload declared right and
  nothing pushing, then declared 1 kg off with a wrench at the TCP (the
  detection's full work), then that in a scene of the floor and 20 boxes
  around the arms. Goal: 15% of a core for 100 arms in a 20-object scene;
- ns per cycle of the torque monitor alone (both cases, and with a contact
  force), and per inverse dynamics (recursive Newton-Euler, one arm).
"""

import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from _results import machine, stamp, write_section  # noqa: E402

PROGRAM = os.path.join(HERE, "build", "arm_load_cost")
LABELS = {
    "library_plain": "arms moving, payload declared right, nothing pushing",
    "library_loaded": "arms moving, payload declared 1 kg off, a wrench at the TCP",
    "library_scene": "the same in a scene of the floor and 20 boxes around the arms",
    "monitor_plain": "torque monitor, one cycle: payload right, nothing pushing",
    "monitor_loaded": "torque monitor, one cycle: payload off, a wrench and a contact",
    "inverse_dynamics": "inverse dynamics, one arm (recursive Newton-Euler)",
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--arms", type=int, default=100)
    parser.add_argument("--seconds", type=float, default=2.0)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--write", action="store_true", help="replace the arm-load section of RESULTS.md")
    args = parser.parse_args()
    if not os.path.exists(PROGRAM):
        sys.exit(f"{PROGRAM} is missing: run bash bench/build_refs.sh first")
    where = machine()
    out = subprocess.run([PROGRAM, "--arms", str(args.arms), "--seconds", str(args.seconds), "--repeats",
                          str(args.repeats)], check=True, capture_output=True, text=True).stdout
    rows = []
    for line in out.splitlines():
        name, median, low, high, unit = line.split()
        label = LABELS[name] + (f" ({args.arms} arms)" if name.startswith("library") else "")
        rows.append(f"| {label} | {float(median):.3g} {unit} ({float(low):.3g}–{float(high):.3g}) |")
    body = "\n".join([
        "## Dynamics and collision detection: cost per cycle (thread CPU time)",
        "",
        f"{stamp()}. {where}; {args.repeats} repeats, median (25th–75th percentile); "
        f"{args.seconds:g} s of simulated time per repeat, 8 ms cycles, manual time (every cycle on the "
        "measuring thread). % of a core: CPU seconds per simulated second, less the same calls on arms at rest.",
        "",
        "| case | cost |",
        "|---|---|",
        *rows,
    ])
    print(body)
    if args.write:
        write_section("arm-load", body)


if __name__ == "__main__":
    main()

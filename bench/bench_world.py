"""What the world's checks cost: arms against a scene, each other and themselves.

    python bench/bench_world.py [--arms 100] [--seconds 2] [--repeats 5] [--write]

Runs bench/build/world_cost (build_refs.sh builds it) and reports, from the
thread's CPU time:

- the share of a core that `arms` arms moving back and forth by joint moves
  need in real time in a cell of 20 objects: every arm at the origin (the
  scene and itself checked every cycle), every arm placed on a grid (the
  other arms too), and the same arms without bodies (the motion alone).
  Goal: 100 moving arms in a 20-object scene within 15% of a core;
- ns per capsule-to-shape distance (box, cylinder, sphere, plane, capsule)
  and per body (the arm's 12 capsules for a joint position).
"""

import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from _results import machine, stamp, write_section  # noqa: E402

PROGRAM = os.path.join(HERE, "build", "world_cost")
LABELS = {
    "cell_origin": "arms moving at the origin, unplaced: scene and self checked",
    "cell_placed": "arms moving, placed 2.5 m apart: scene, self and the other arms checked",
    "no_body": "the same arms without bodies: the motion alone",
    "capsule_box": "capsule to box",
    "capsule_cylinder": "capsule to cylinder (line search)",
    "capsule_sphere": "capsule to sphere",
    "capsule_plane": "capsule to plane",
    "capsule_capsule": "capsule to capsule",
    "body": "the body for a joint position (12 capsules, bounding spheres)",
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--arms", type=int, default=100)
    parser.add_argument("--seconds", type=float, default=2.0)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--write", action="store_true", help="replace the world section of RESULTS.md")
    args = parser.parse_args()
    if not os.path.exists(PROGRAM):
        sys.exit(f"{PROGRAM} is missing: run bash bench/build_refs.sh first")
    where = machine()
    out = subprocess.run([PROGRAM, "--arms", str(args.arms), "--seconds", str(args.seconds), "--repeats",
                          str(args.repeats)], check=True, capture_output=True, text=True).stdout
    rows, shares = [], {}
    for line in out.splitlines():
        name, median, low, high, unit = line.split()
        if unit == "%core":
            shares[name] = float(median)
        label = LABELS[name] + (f" ({args.arms} arms)" if unit == "%core" else "")
        rows.append(f"| {label} | {float(median):.3g} {unit} ({float(low):.3g}–{float(high):.3g}) |")
    worst = max(shares["cell_origin"], shares["cell_placed"])
    verdict = "met" if worst <= 15 else "MISSED"
    body = "\n".join([
        "## The world: cost of the bodies' checks (thread CPU time)",
        "",
        f"{stamp()}. {where}; {args.repeats} repeats, median (25th–75th percentile); "
        f"{args.seconds:g} s of simulated time per repeat, 8 ms cycles, manual time (every cycle on the "
        "measuring thread), a cell of 20 objects. % of a core: CPU seconds per simulated second, less the "
        "same calls on arms at rest.",
        "",
        "| case | cost |",
        "|---|---|",
        *rows,
        "",
        f"Goal: {args.arms} moving arms in a 20-object scene within 15% of a core: {worst:.3g}% ({verdict}); "
        f"the world's own share is {worst - shares['no_body']:.3g}% of a core.",
    ])
    print(body)
    if args.write:
        write_section("world", body)


if __name__ == "__main__":
    main()

"""What converting a trajectory file into a program (generate_traj_exe_file)
costs in memory: the growth of the converting process's peak resident
memory over its resident memory just before the call, as a multiple of the
file's size, and the time the call took.

    python bench/bench_traj_convert.py [--mib 64] [--write]

Each case runs in a child process of its own (Linux: /proc/self/status) on a
file written beforehand in a temporary ZSIM_HOME:

- recorded: samples as the recorder writes them (every number in its
  shortest round-trip form, most with 16 to 18 digits), about 200 bytes a
  sample, up to the size;
- short samples: the shortest sample lines ("0 0 ... 0", 26 bytes), more
  than the 1,000,000 commands a program may hold: refused with 24.
"""

import argparse
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from _results import machine, stamp, write_section  # noqa: E402

MiB = 1 << 20

CHILD = """
import time, velmo
def status(key):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith(key + ":"))
rc = velmo.RC("127.0.0.1"); assert rc.login() == (0,)
before = status("VmRSS")
start = time.perf_counter()
code = rc.generate_traj_exe_file("t")[0]
seconds = time.perf_counter() - start
print(code, status("VmHWM") - before, seconds)
"""


def recorded(size, rng):
    """A trajectory of at most `size` bytes, numbers as the recorder writes them."""
    lines = ["zandrel-trajectory 1", "config 1 0.01 100 500", "frames 0 0"]
    total, t = sum(len(l) + 1 for l in lines), 0.0
    while True:
        t += 0.008
        numbers = [t] + [rng.uniform(-800, 800) for _ in range(3)] + [rng.uniform(-3.1, 3.1) for _ in range(9)]
        line = " ".join(repr(v) for v in numbers)
        if total + len(line) + 1 > size:
            break
        lines.append(line)
        total += len(line) + 1
    return ("\n".join(lines) + "\n").encode()


def short(size):
    head = b"zandrel-trajectory 1\nconfig 1 0.01 100 500\nframes 0 0\n"
    sample = b" ".join([b"0"] * 13) + b"\n"
    return head + sample * ((size - len(head)) // len(sample))


def measure(content):
    with tempfile.TemporaryDirectory() as home:
        os.makedirs(os.path.join(home, "trajectories"))
        with open(os.path.join(home, "trajectories", "t"), "wb") as f:
            f.write(content)
        child = subprocess.run([sys.executable, "-c", CHILD], capture_output=True, text=True, timeout=600,
                               env={**os.environ, "ZSIM_HOME": home})
        if child.returncode != 0:
            raise SystemExit(child.stderr)
        code, grown, seconds = child.stdout.split()
        program = os.path.join(home, "programs", "t")
        written = os.path.getsize(program) if os.path.exists(program) else 0
    return int(code), int(grown), float(seconds), written


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=float, default=64, help="the file's size, MiB (at most 64)")
    parser.add_argument("--write", action="store_true")
    args = parser.parse_args()
    size = int(args.mib * MiB)
    started = "%s. %s" % (stamp(), machine())
    rows = []
    for name, content in [("recorded", recorded(size, random.Random(1))), ("short samples", short(size))]:
        code, grown, seconds, written = measure(content)
        rows.append("| %s | %.1f | %d | %.1f | %.2f | %.1f | %.2f |" % (
            name, len(content) / MiB, code, written / MiB, grown / MiB / (len(content) / MiB),
            grown / MiB, seconds))
        print(rows[-1], flush=True)
    body = "\n".join([
        "## Trajectory conversion: memory",
        "",
        "%s; generate_traj_exe_file in a child process per case; peak growth = VmHWM after the call less VmRSS "
        "before it (the file's text is part of it). Goal: under 2 times the file." % started,
        "",
        "| trajectory | file MiB | code | program MiB | peak growth / file | peak growth MiB | seconds |",
        "|---|---|---|---|---|---|---|",
        *rows,
    ])
    if args.write:
        write_section("trajectory", body)
    else:
        print(body)


if __name__ == "__main__":
    main()

"""A long run of velmo calls against the virtual controller, reporting how the
process's resident memory (RSS) grows per million calls.

    python bench/bench_soak.py [--million 50] [--journal] [--write]

Each round makes ten calls: servo_j by tuple, list and keywords,
get_joint_position, joint_move by keywords, get_robot_status (389 objects),
a servo_j refused for a bad argument (TypeError), a call on a robot object
with a negative handle (Exception), get_tool_data with an out-of-range int
(OverflowError) and one more positional servo_j; every 1000th round also
lists the trajectory files (a 1.6 MB record). The controller is fresh and
logged in, nothing powered, so calls return at once. After the first million
calls (warm-up: allocator pools, interned names, caches), RSS is sampled at
every million; the growth is the least-squares slope over those samples.
"""

import argparse
import gc
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import velmo  # noqa: E402
import zandrel_sim  # noqa: E402

from _results import machine, stamp, write_section  # noqa: E402

CALLS_PER_ROUND = 10
PAGE = os.sysconf("SC_PAGE_SIZE")


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def slope(xs, ys):
    n = len(xs)
    mx, my = sum(xs) / n, sum(ys) / n
    sxx = sum((x - mx) ** 2 for x in xs)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sxx if sxx else 0.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--million", type=float, default=50, help="calls, in millions")
    parser.add_argument("--journal", action="store_true", help="leave the controller's journal on")
    parser.add_argument("--write", action="store_true")
    args = parser.parse_args()

    probe = zandrel_sim.Probe()
    probe.reset()
    rc = velmo.RC("127.0.0.1")
    assert rc.login() == (0,)
    stale = velmo.RC("127.0.0.1")
    stale.handle = -1
    probe.journal_enable(args.journal)
    J = (0.0, 0.5, 1.0, 0.0, 1.57, -0.25)
    JL = list(J)
    bad = (0.0, 0.5, "one", 0.0, 1.57, -0.25)

    def one_round(i):
        rc.servo_j(J, 0)
        rc.servo_j(JL, 0)
        rc.servo_j(joint_pos=J, move_mode=0)
        rc.get_joint_position()
        rc.joint_move(joint_pos=J, move_mode=0, is_block=0, speed=1.0)
        rc.get_robot_status()
        try:
            rc.servo_j(bad, 0)
        except TypeError:
            pass
        try:
            stale.servo_j(J, 0)
        except Exception:
            pass
        try:
            rc.get_tool_data(2 ** 40)
        except OverflowError:
            pass
        rc.servo_j(J, 1)
        if i % 1000 == 0:
            rc.get_exist_traj_file_name()

    rounds_per_million = 1_000_000 // CALLS_PER_ROUND
    total = int(args.million)
    samples = []  # (million calls done, RSS bytes, gc-tracked objects)
    start = time.perf_counter()
    for m in range(1, total + 1):
        base = (m - 1) * rounds_per_million
        for i in range(base, base + rounds_per_million):
            one_round(i)
        samples.append((m, rss_bytes(), len(gc.get_objects())))
    elapsed = time.perf_counter() - start
    probe.reset()

    steady = samples[1:] if len(samples) > 2 else samples
    growth = slope([s[0] for s in steady], [s[1] for s in steady])
    mib = 1024 * 1024
    rows = [
        ("calls", "%d million in %.0f s (%.0f ns per call on average)" % (total, elapsed, elapsed / (total * 1e6) * 1e9)),
        ("RSS after the first million", "%.1f MiB" % (samples[0][1] / mib)),
        ("RSS at the end", "%.1f MiB (largest %.1f MiB)" % (samples[-1][1] / mib, max(s[1] for s in samples) / mib)),
        ("RSS growth per million calls", "%+.1f KiB (least squares over millions 2 to %d)" % (growth / 1024, total)),
        ("objects tracked by the collector", "%d after the first million, %d at the end" % (samples[0][2], samples[-1][2])),
    ]
    text = "\n".join(
        ["## Soak: RSS over %d million calls" % total, "",
         "%s. %s; journal %s; ten calls per round as described in bench_soak.py." % (
             stamp(), machine(), "on" if args.journal else "off"),
         "", "| | |", "|---|---|"] + ["| %s | %s |" % row for row in rows]
        + ["", "RSS by million calls (MiB): " + ", ".join("%.1f" % (s[1] / mib) for s in samples)])
    print(text)
    if args.write:
        write_section("soak", text)


if __name__ == "__main__":
    main()

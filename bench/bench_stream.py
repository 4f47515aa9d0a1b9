"""servo_j streamed at a fixed rate against the virtual controller: achieved
rate, call latency (worst case included), lateness of each tick and the CPU
the process used.

    python bench/bench_stream.py [--rate 1000] [--seconds 10] [--spin-us 0] [--journal] [--write]

The arm is powered, enabled and put in servo mode, then follows a slow sine
around where it stands (0.05 rad, 0.5 Hz on every joint). The virtual arm
takes one set-point per 8 ms cycle; to take one per period of the stream its
clock runs 8 ms / period times faster than real time (zsim_set_time_scale),
so the set-point queue neither fills nor drains. Ticks follow an absolute
schedule: each waits with time.sleep until its due time (or sleeps until
--spin-us before it and spins the rest), and a late tick is run at once
without catching up on missed ones. CPU is the whole process (the
controller's threads included) and the calling thread alone.
"""

import argparse
import math
import os
import resource
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import velmo  # noqa: E402
import zandrel_sim  # noqa: E402

from _results import machine, stamp, write_section  # noqa: E402

ARM_CYCLE_S = 0.008


def percentile(sorted_values, p):
    return sorted_values[min(len(sorted_values) - 1, int(p * len(sorted_values)))]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rate", type=float, default=1000.0, help="set-points per second")
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--spin-us", type=float, default=0.0, help="spin this long before each tick instead of sleeping")
    parser.add_argument("--journal", action="store_true", help="leave the controller's journal on")
    parser.add_argument("--write", action="store_true")
    args = parser.parse_args()

    period = 1.0 / args.rate
    probe = zandrel_sim.Probe()
    probe.reset()
    probe.set_time_scale(ARM_CYCLE_S / period)
    rc = velmo.RC("127.0.0.1")
    for step in ("login", "power_on", "enable_robot"):
        code, *_ = getattr(rc, step)()
        assert code == 0, "%s returned %d" % (step, code)
    assert rc.servo_move_enable(1) == (0,)
    probe.journal_enable(args.journal)
    code, home = rc.get_joint_position()
    assert code == 0

    ticks = int(args.seconds * args.rate)
    latency = [0] * ticks
    lateness = [0] * ticks
    codes = {}
    spin = args.spin_us * 1e-6
    servo_j = rc.servo_j
    clock = time.perf_counter
    usage0, thread0 = resource.getrusage(resource.RUSAGE_SELF), time.thread_time()
    start = clock()
    for k in range(ticks):
        due = start + k * period
        now = clock()
        if due - now > spin:
            time.sleep(due - now - spin)
        while clock() < due:
            pass
        t = clock() - start
        phase = math.sin(2 * math.pi * 0.5 * t) * 0.05
        point = tuple(q + phase for q in home)
        before = clock()
        code, = servo_j(point, 0)
        after = clock()
        latency[k] = after - before
        lateness[k] = before - due
        codes[code] = codes.get(code, 0) + 1
    elapsed = clock() - start
    usage1, thread1 = resource.getrusage(resource.RUSAGE_SELF), time.thread_time()
    rc.servo_move_enable(0)
    probe.reset()

    cpu = (usage1.ru_utime - usage0.ru_utime) + (usage1.ru_stime - usage0.ru_stime)
    lat = sorted(latency)
    late = sorted(lateness)
    us = 1e6
    rows = [
        ("set-points", "%d in %.3f s" % (ticks, elapsed)),
        ("achieved rate", "%.1f per s (asked %.0f)" % (ticks / elapsed, args.rate)),
        ("servo_j latency", "median %.1f µs, 99th %.1f µs, 99.9th %.1f µs, worst %.1f µs" % (
            percentile(lat, 0.5) * us, percentile(lat, 0.99) * us, percentile(lat, 0.999) * us, lat[-1] * us)),
        ("tick lateness", "median %.1f µs, 99th %.1f µs, worst %.1f µs; %d ticks more than one period late" % (
            percentile(late, 0.5) * us, percentile(late, 0.99) * us, late[-1] * us,
            sum(1 for v in lateness if v > period))),
        ("CPU, whole process", "%.1f %% of one core (%.2f s)" % (100 * cpu / elapsed, cpu)),
        ("CPU, calling thread", "%.1f %% of one core" % (100 * (thread1 - thread0) / elapsed)),
        ("codes returned", ", ".join("%d: %d" % kv for kv in sorted(codes.items()))),
    ]
    text = "\n".join(
        ["## Stream: servo_j at %.0f Hz for %.0f s" % (args.rate, args.seconds), "",
         "%s. %s; arm clock ×%.0f, journal %s, %s." % (
             stamp(), machine(), ARM_CYCLE_S / period, "on" if args.journal else "off",
             "spinning the last %.0f µs of each wait" % args.spin_us if args.spin_us else "sleeping until each tick"),
         "", "| | |", "|---|---|"] + ["| %s | %s |" % row for row in rows])
    print(text)
    if args.write:
        write_section("stream", text)


if __name__ == "__main__":
    main()

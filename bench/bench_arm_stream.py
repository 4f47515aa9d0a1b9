"""A 125 Hz servo_j stream three ways: velmo_arm's `Arm.servo()` against two
hand-written loops over velmo.RC.

    python bench/bench_arm_stream.py [--seconds 10] [--rate 125] [--rounds 3] [--write]

- *hand-written, sleep(period)*: send, then time.sleep(period): the loop most
  scripts start with; the time each call and computation takes adds up;
- *hand-written, absolute deadlines*: each tick sleeps until start + k
  periods (what bench_stream.py and examples/servo_sine.py do);
- *velmo_arm*: `with arm.servo(rate_hz) as stream: stream.send(q)`.

Each streams the same slow sine around the home position on a powered,
enabled arm in servo mode (the virtual arm takes one set-point per 8 ms, so
at 125 Hz its clock runs at real time), journal off; the variants take turns,
in a new random order each round, so that load from elsewhere falls on all
of them. Reported per variant, over all rounds (rate and drift: the median
round):
achieved rate, drift (how late the last set-point went out against the
ideal schedule), lateness of each call against its ideal time (start + k
periods), CPU of the calling thread per set-point, and codes returned. A
second table times one set-point without pacing (ns per call, `timeit`):
the layer's conversion and checks against a bare `rc.servo_j`.
"""

import argparse
import math
import os
import random
import statistics
import sys
import time
import timeit

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import velmo  # noqa: E402
import velmo_arm  # noqa: E402
import zandrel_sim  # noqa: E402

from _results import machine, stamp, write_section  # noqa: E402

HOME = (0.0, math.pi / 2, -math.pi / 2, -math.pi / 2, -math.pi / 2, 0.0)
ADDRESS = "127.0.0.1"


def set_point(k, period):
    phase = 0.05 * math.sin(2 * math.pi * 0.5 * k * period)
    return tuple(q + phase for q in HOME)


def naive(rc, count, period, record):
    for k in range(count):
        record(k, rc.servo_j(set_point(k, period), 0)[0])
        time.sleep(period)


def deadlines(rc, count, period, record):
    start = time.monotonic()
    for k in range(count):
        due = start + k * period
        now = time.monotonic()
        if due > now:
            time.sleep(due - now)
        record(k, rc.servo_j(set_point(k, period), 0)[0])


def layer(stream, count, period, record):
    for k in range(count):
        stream.send(set_point(k, period))
        record(k, 0)  # a refused set-point raises


def run(variant, count, period):
    """Streams `count` set-points; returns (call times, codes, thread CPU seconds)."""
    probe = zandrel_sim.Probe()
    probe.reset()
    probe.set_time_scale(0.008 / period)
    times = [0.0] * count
    codes = {}

    def record(k, code):
        times[k] = time.monotonic()
        codes[code] = codes.get(code, 0) + 1

    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        probe.journal_enable(False)
        cpu = time.thread_time()
        if variant == "velmo_arm":
            with arm.servo(rate_hz=1 / period) as stream:
                layer(stream, count, period, record)
                cpu = time.thread_time() - cpu
        else:
            assert arm.rc.servo_move_enable(1) == (0,)
            (naive if variant.endswith("sleep(period)") else deadlines)(arm.rc, count, period, record)
            cpu = time.thread_time() - cpu
            arm.wait(timeout=10)
            assert arm.rc.servo_move_enable(0) == (0,)
    return times, codes, cpu


def per_call(number=20000, repeat=7):
    """ns per set-point without pacing: bare rc.servo_j against stream.send."""
    probe = zandrel_sim.Probe()
    probe.reset()
    probe.set_time_scale(0)  # every set-point is reached inside its call: the queue never fills
    rows = []
    with velmo_arm.connect(ADDRESS, enable=True) as arm:
        probe.journal_enable(False)
        rc = arm.rc
        point = HOME
        as_list = list(HOME)
        with arm.servo(rate_hz=None) as stream:
            cases = [
                ("rc.servo_j(tuple, 0)", lambda: rc.servo_j(point, 0)),
                ("stream.send(tuple)", lambda: stream.send(point)),
                ("stream.send(list)", lambda: stream.send(as_list)),
            ]
            for name, call in cases:
                best = min(timeit.repeat(call, number=number, repeat=repeat)) / number
                rows.append((name, best * 1e9))
    probe.reset()
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--rate", type=float, default=125.0)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--write", action="store_true")
    args = parser.parse_args()
    period = 1.0 / args.rate
    count = int(args.seconds * args.rate)
    us = 1e6
    variants = ["hand-written, sleep(period)", "hand-written, absolute deadlines", "velmo_arm"]
    runs = {variant: [] for variant in variants}
    for _ in range(args.rounds):
        for variant in random.sample(variants, len(variants)):
            runs[variant].append(run(variant, count, period))
    rows = []
    for variant in variants:
        late, rates, drifts, cpu, codes = [], [], [], 0.0, {}
        for times, round_codes, round_cpu in runs[variant]:
            start = times[0]
            late += [t - (start + k * period) for k, t in enumerate(times)]
            rates.append((count - 1) / (times[-1] - start))
            drifts.append(times[-1] - (start + (count - 1) * period))
            cpu += round_cpu
            for code, n in round_codes.items():
                codes[code] = codes.get(code, 0) + n
        late.sort()
        rows.append("| %s | %.2f | %.1f | %.0f / %.0f / %.0f | %.1f | %s |" % (
            variant, statistics.median(rates), statistics.median(drifts) * 1e3,
            statistics.median(late) * us, late[int(0.99 * (len(late) - 1))] * us, late[-1] * us,
            cpu / (count * args.rounds) * us, ", ".join("%d: %d" % kv for kv in sorted(codes.items()))))
        print(rows[-1], flush=True)
    calls = per_call()
    text = "\n".join([
        "## velmo_arm: a %.0f Hz servo stream, layer against hand-written loops" % args.rate, "",
        "%s. %s; %d rounds of %d set-points (%.0f s) per variant, arm clock ×%g, journal off." % (
            stamp(), machine(), args.rounds, count, args.seconds, 0.008 / period), "",
        "| variant | achieved rate (Hz) | drift at the end (ms) | lateness median / 99th / worst (µs) "
        "| thread CPU per set-point (µs) | codes |",
        "|---|---|---|---|---|---|",
        *rows, "",
        "One set-point without pacing (time scale 0, best of 7 × 20000, ns per call):", "",
        "| call | ns |", "|---|---|",
        *["| %s | %.0f |" % row for row in calls],
    ])
    print(text)
    if args.write:
        write_section("arm-stream", text)


if __name__ == "__main__":
    main()

"""servo_j latency while the virtual controller is busy: ten other arms
moving, a poller thread per arm, and one 125 Hz servo stream.

    python bench/bench_contention.py [--arms 10] [--seconds 20] [--poll-ms 2] [--write]

Each of the ten arms runs Cartesian lines and joint moves back and forth
(non-blocking, re-issued by its poller when it is in position), so the
motion thread steps ten arms every 8 ms cycle, half of them by inverse
kinematics along a line with its look-ahead. Each arm has a poller thread
that reads its status, joints and TCP every --poll-ms. An eleventh arm is in
servo mode and gets one servo_j every 8 ms on an absolute schedule from the
main thread; the time around each call (perf_counter, the call alone) is the
latency reported. Time scale 1, journal off. The load the run put on the
machine is reported with the figures: the motion cycles run, the polls
done, and the CPU of the process and of the machine.
"""

import argparse
import math
import os
import resource
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import velmo  # noqa: E402
import zandrel_sim  # noqa: E402

from _results import machine, stamp, write_section  # noqa: E402

PERIOD = 0.008
TARGET_P99_US = 100.0


def percentile(sorted_values, p):
    return sorted_values[min(len(sorted_values) - 1, int(p * len(sorted_values)))]


def ready(address):
    rc = velmo.RC(address)
    for step in ("login", "power_on", "enable_robot"):
        code, *_ = getattr(rc, step)()
        assert code == 0, "%s on %s returned %d" % (step, address, code)
    return rc


class Poller(threading.Thread):
    """Reads one arm's state every `period` and keeps it moving."""

    def __init__(self, rc, index, period, stop):
        super().__init__(daemon=True)
        self.rc, self.index, self.period, self.stop = rc, index, period, stop
        self.polls = 0
        self.moves = 0
        code, self.home = rc.get_joint_position()
        code, self.pose = rc.get_tcp_position()
        self.forth = True

    def move(self):
        rc = self.rc
        if self.index % 2:  # a line of 200 mm down and back up
            target = list(self.pose)
            if self.forth:
                target[2] -= 200
            code, = rc.linear_move(target, 0, False, 300)
        else:  # a joint move of joints 1 and 4 and back
            target = list(self.home)
            if self.forth:
                target[0] += 1.0
                target[3] += 0.8
            code, = rc.joint_move(target, 0, False, 1.5)
        assert code == 0, "a move on arm %d returned %d" % (self.index, code)
        self.forth = not self.forth
        self.moves += 1

    def run(self):
        rc = self.rc
        self.move()
        next_poll = time.perf_counter()
        while not self.stop.is_set():
            status = rc.get_robot_status()
            rc.get_joint_position()
            rc.get_tcp_position()
            self.polls += 1
            if status[0] == 0 and status[1][1]:
                self.move()
            next_poll += self.period
            delay = next_poll - time.perf_counter()
            if delay > 0:
                time.sleep(delay)
            else:
                next_poll = time.perf_counter()


def machine_cpu():
    with open("/proc/stat") as f:
        fields = [float(x) for x in f.readline().split()[1:]]
    return sum(fields) - fields[3] - fields[4], sum(fields)  # busy, total


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--arms", type=int, default=10, help="moving arms, each with a poller thread")
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--poll-ms", type=float, default=2.0, help="each poller's period")
    parser.add_argument("--write", action="store_true")
    args = parser.parse_args()

    probe = zandrel_sim.Probe()
    probe.reset()
    probe.set_time_scale(1.0)
    probe.journal_enable(False)
    arms = [ready("10.13.0.%d" % (k + 1)) for k in range(args.arms)]
    stop = threading.Event()
    pollers = [Poller(rc, k, args.poll_ms / 1000, stop) for k, rc in enumerate(arms)]
    streamer = ready("10.13.1.1")
    assert streamer.servo_move_enable(1) == (0,)
    code, home = streamer.get_joint_position()
    for p in pollers:
        p.start()
    time.sleep(1.0)  # every arm under way

    ticks = int(args.seconds / PERIOD)
    latency = [0.0] * ticks
    codes = {}
    servo_j = streamer.servo_j
    clock = time.perf_counter
    usage0, busy0 = resource.getrusage(resource.RUSAGE_SELF), machine_cpu()
    polls0 = sum(p.polls for p in pollers)
    start = clock()
    for k in range(ticks):
        due = start + k * PERIOD
        delay = due - clock()
        if delay > 0:
            time.sleep(delay)
        phase = 0.2 * math.sin(2 * math.pi * 0.25 * k * PERIOD)
        point = (home[0] + phase,) + tuple(home[1:])
        before = clock()
        code, = servo_j(point, 0)
        latency[k] = clock() - before
        codes[code] = codes.get(code, 0) + 1
    elapsed = clock() - start
    usage1, busy1 = resource.getrusage(resource.RUSAGE_SELF), machine_cpu()
    polls = sum(p.polls for p in pollers) - polls0
    moves = sum(p.moves for p in pollers)
    stop.set()
    for p in pollers:
        p.join(5)
    probe.reset()

    lat = sorted(latency)
    us = 1e6
    p99 = percentile(lat, 0.99) * us
    cpu = (usage1.ru_utime - usage0.ru_utime) + (usage1.ru_stime - usage0.ru_stime)
    machine_busy = (busy1[0] - busy0[0]) / (busy1[1] - busy0[1])
    rows = [
        ("load", "%d arms moving (lines and joint moves, re-issued at rest: %d moves), %d poller threads "
                 "(status, joints and TCP every %.0f ms: %.0f polls per s in all), one servo stream at 125 Hz"
         % (args.arms, moves, args.arms, args.poll_ms, polls / elapsed)),
        ("servo_j calls", "%d in %.1f s; codes %s" % (ticks, elapsed, ", ".join("%d: %d" % kv for kv in sorted(codes.items())))),
        ("servo_j latency", "median %.1f µs, 99th %.1f µs, 99.9th %.1f µs, worst %.1f µs" % (
            percentile(lat, 0.5) * us, p99, percentile(lat, 0.999) * us, lat[-1] * us)),
        ("target", "99th ≤ %.0f µs: %s" % (TARGET_P99_US, "met" if p99 <= TARGET_P99_US else "MISSED")),
        ("CPU", "this process %.0f %% of one core; the machine %.0f %% busy (both cores, every process)"
         % (100 * cpu / elapsed, 100 * machine_busy)),
    ]
    text = "\n".join(
        ["## Contention: servo_j at 125 Hz beside %d moving, polled arms" % args.arms, "",
         "%s. %s; time scale 1, journal off." % (stamp(), machine()),
         "", "| | |", "|---|---|"] + ["| %s | %s |" % row for row in rows])
    print(text)
    if args.write:
        write_section("contention", text)


if __name__ == "__main__":
    main()

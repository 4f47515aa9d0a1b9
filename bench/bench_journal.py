"""What the probe's journal costs a script: ns per `servo_j` call through
velmo on the virtual controller, in three kinds of process:

- probe never used: the script makes no probe call at all (the journal never
  starts);
- journal off: a Probe made, then `journal_enable(False)` (how the other
  benchmarks time the library);
- journal on: a Probe made and left as it is (every call encoded and kept).

    python bench/bench_journal.py [--rounds R] [--write]

The journal starts once per process, so each kind runs in child interpreters
of its own: every round starts one child of each kind in a shuffled order,
and each child times --repeats loops of --calls calls on a fresh controller
(one login, nothing powered: the arm refuses servo_j with code 16, the same
work every call). The clock is the calling thread's CPU time. Reported:
median (25th-75th percentile) over every loop of every child, and the goal
that a script that never uses the probe runs within 1.2 times the journal-off
figure.
"""

import argparse
import json
import os
import random
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from _results import machine, quantiles, stamp, write_section  # noqa: E402

KINDS = ["probe never used", "journal off", "journal on"]
LIMIT = 1.2  # never used over journal off, at most

# The child: sets its kind up, then prints the ns per call of each loop.
CHILD = """
import json, sys, time, timeit
import velmo
kind, calls, repeats = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rc = velmo.RC("127.0.0.1")
assert rc.login() == (0,)
if kind != "probe never used":
    import zandrel_sim
    probe = zandrel_sim.Probe()
    probe.journal_enable(kind == "journal on")
    probe.clear()
J = (0.0, 0.5, 1.0, 0.0, 1.57, -0.25)
assert rc.servo_j(J, 0) == (16,)
timer = timeit.Timer("rc.servo_j(J, 0)", setup="rc = _rc; J = _J", timer=time.thread_time,
                     globals={"_rc": rc, "_J": J})
print(json.dumps([timer.timeit(calls) / calls * 1e9 for _ in range(repeats)]))
"""


def child(kind, calls, repeats):
    run = subprocess.run([sys.executable, "-c", CHILD, kind, str(calls), str(repeats)],
                         check=True, capture_output=True, text=True, env=os.environ.copy())
    return json.loads(run.stdout)


def measure(rounds, calls, repeats):
    found = {kind: [] for kind in KINDS}
    for _ in range(rounds):
        order = list(KINDS)
        random.shuffle(order)
        for kind in order:
            found[kind] += child(kind, calls, repeats)
    return found


def report(found, rounds, calls, repeats):
    q = {kind: quantiles(values) for kind, values in found.items()}
    off = q["journal off"][0]
    lines = ["## The journal: servo_j per call, with and without the probe", "",
             "%s. %s; %d rounds of one child interpreter per kind in shuffled order, each %d loops of %d "
             "calls; median (25th–75th percentile) ns per call, thread clock, loop included; × = over "
             "the journal-off median. The arm refuses each call (code 16, servo mode off): the same "
             "work in every kind." % (stamp(), machine(), rounds, repeats, calls),
             "", "| process | ns per call | × |", "|---|---|---|"]
    for kind in KINDS:
        median, p25, p75 = q[kind]
        lines.append("| %s | %.0f (%.0f–%.0f) | %.2f |" % (kind, median, p25, p75, median / off))
    ratio = q["probe never used"][0] / off
    lines += ["", "| target | ratio | limit | |", "|---|---|---|---|",
              "| probe never used vs journal off | %.3f | %.1f | %s |"
              % (ratio, LIMIT, "met" if ratio <= LIMIT else "MISSED")]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--calls", type=int, default=40000)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--write", action="store_true", help="write the table to RESULTS.md")
    args = parser.parse_args()
    found = measure(args.rounds, args.calls, args.repeats)
    text = report(found, args.rounds, args.calls, args.repeats)
    print(text)
    if args.write:
        write_section("journal", text)


if __name__ == "__main__":
    main()

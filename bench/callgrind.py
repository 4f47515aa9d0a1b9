"""Instructions per call under valgrind's callgrind, which, unlike time, do not
move with the load of a shared machine.

    python bench/callgrind.py [--label TEXT] [--write] [--bindings velmo,pybind11,...]

For each binding and case of bench_calls.py, the interpreter runs the case
twice under callgrind, with N1 and N2 calls; (I2 - I1) / (N2 - N1) is the
cost of one call with start-up, imports and set-up cancelled out. The
library's own share comes from sim_cost run the same way. Every figure
includes the Python loop around the call.
"""

import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from _results import machine, stamp, write_section  # noqa: E402
from bench_calls import BINDINGS, CASES, LIBRARY_FUNCTION, supports  # noqa: E402

N1, N2 = 1000, 11000
COLLECTED = re.compile(r"Collected : (\d+)")


def instructions(command, env=None):
    run = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + command,
                         capture_output=True, text=True, env=env)
    found = COLLECTED.search(run.stderr)
    if run.returncode != 0 or not found:
        raise RuntimeError("callgrind run failed: %s\n%s" % (" ".join(command), run.stderr[-2000:]))
    return int(found.group(1))


def per_call(make_command, env=None, n1=N1, n2=N2):
    return (instructions(make_command(n2), env) - instructions(make_command(n1), env)) / (n2 - n1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--label", default="velmo as installed")
    parser.add_argument("--section", default="instructions")
    parser.add_argument("--bindings", default=",".join(BINDINGS))
    parser.add_argument("--cases", default="", help="';'-separated case names (default: all)")
    parser.add_argument("--write", action="store_true")
    args = parser.parse_args()
    bindings = args.bindings.split(",")
    cases = [c for c in CASES if not args.cases or c[0] in args.cases.split(";")]
    env = dict(os.environ, PYTHONHASHSEED="0")

    import zandrel_sim
    sim_cost = os.path.join(HERE, "build", "sim_cost")
    sim_env = dict(env, LD_LIBRARY_PATH=os.path.dirname(zandrel_sim.library_path()))
    library = {}
    for function in sorted({LIBRARY_FUNCTION[c[0]] for c in cases}):
        n1, n2 = (10, 110) if function == "get_exist_traj_file_name" else (N1, N2)
        library[function] = per_call(
            lambda n: [sim_cost, "--repeats", "1", "--calls", str(n), "--only", function], sim_env, n1, n2)

    table = {}
    for case, _, _, _ in cases:
        for b in bindings:
            if not supports(b, case):
                continue
            n1, n2 = (10, 110) if "traj" in case else (N1, N2)
            table[(case, b)] = per_call(
                lambda n: [sys.executable, os.path.join(HERE, "bench_calls.py"), "--one", b, case, str(n)],
                env, n1, n2)
            print("%-34s %-9s %10.0f" % (case, b, table[(case, b)]), flush=True)

    head = ["case"] + bindings + ["library alone"]
    lines = ["## Instructions per call (%s)" % args.label, "",
             "%s. %s; callgrind, (I(N2) - I(N1)) / (N2 - N1) with N2 - N1 = %d (100 for the trajectory "
             "list), loop included; library alone: sim_cost, journal off." % (stamp(), machine(), N2 - N1),
             "", "| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for case, _, _, _ in cases:
        cells = ["%.0f" % table[(case, b)] if (case, b) in table else "–" for b in bindings]
        lines.append("| %s | %s | %.0f |" % (case, " | ".join(cells), library[LIBRARY_FUNCTION[case]]))
    text = "\n".join(lines)
    print(text)
    if args.write:
        write_section(args.section, text)


if __name__ == "__main__":
    main()

"""Nanoseconds per call, side by side in one process on one virtual controller:
velmo, a ctypes binding (what a user would write without velmo), a pybind11
binding and, for get_robot_status and positional servo_j, a hand-written
full-API extension. The references are built by build_refs.sh.

    python bench/bench_calls.py [--repeats R] [--label TEXT] [--write]
    python bench/bench_calls.py --one BINDING CASE N    # N calls, nothing else (for callgrind)

The controller is fresh: reset, one login, no power or enable, journal off.
Every binding calls the same library functions with the same arguments on the
same handle, and the script checks that they return equal results before it
times anything. Each repeat times a loop of calls; repeats are interleaved
across bindings in a shuffled order, the garbage collector is off while timing
(timeit's default), and the loop's own cost is included (reported as "empty
loop"), which pulls every ratio towards 1.

The clock is the calling thread's CPU time by default: every call here runs
on the calling thread, and on a shared machine this leaves out the time other
processes held the core (not their effect on caches). --clock wall times
elapsed time instead.
"""

import argparse
import ctypes as C
import os
import random
import subprocess
import sys
import time
import timeit

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(HERE, "build")
sys.path.insert(0, HERE)
sys.path.insert(0, BUILD)

import velmo  # noqa: E402
import zandrel_sim  # noqa: E402

from _results import machine, quantiles, stamp, write_section  # noqa: E402

J = (0.0, 0.5, 1.0, 0.0, 1.57, -0.25)
JL = list(J)


# ---- the ctypes binding ---------------------------------------------------


class JointVector(C.Structure):
    _fields_ = [("jVal", C.c_double * 6)]


def _status_fields():
    i32, u32, f64 = C.c_int32, C.c_uint32, C.c_double
    return [
        ("status_0", i32), ("status_1", i32), ("status_2", i32), ("status_3", i32),
        ("status_4", f64), ("status_5", i32), ("reserved_28", i32),
        ("status_10", i32 * 65), ("status_14", i32 * 10), ("status_17", i32 * 65),
        ("status_11", i32 * 65), ("status_15", i32 * 10), ("reserved_892", i32),
        ("status_13", f64 * 65), ("status_16", f64 * 10), ("status_12", f64 * 65),
        ("status_9", u32), ("reserved_2020", i32), ("status_18", f64 * 6), ("status_19", f64 * 6),
        ("status_7", u32), ("status_8", u32), ("status_6", i32), ("reserved_2132", C.c_ubyte * 356)]


class RobotStatusRecord(C.Structure):
    _fields_ = _status_fields()


class TrajectoryFileList(C.Structure):
    _fields_ = [("count", C.c_int32), ("name", (C.c_char * 200) * 8192), ("reserved", C.c_char * 396)]


assert C.sizeof(RobotStatusRecord) == 2488 and C.sizeof(TrajectoryFileList) == 1638800


class CtypesRC:
    """The five methods over ctypes, with argtypes declared as a user would."""

    def __init__(self, path, handle):
        lib = self.lib = C.CDLL(path)
        h = C.POINTER(C.c_int32)
        for name, args in [
                ("servo_j", [h, C.POINTER(JointVector), C.c_int32]),
                ("joint_move", [h, C.POINTER(JointVector), C.c_int32, C.c_int32, C.c_double]),
                ("get_joint_position", [h, C.POINTER(JointVector)]),
                ("get_robot_status", [h, C.POINTER(RobotStatusRecord)]),
                ("get_exist_traj_file_name", [h, C.POINTER(TrajectoryFileList)])]:
            getattr(lib, name).argtypes = args
            getattr(lib, name).restype = C.c_int32
        self.handle = C.c_int32(handle)
        self._h = C.byref(self.handle)

    def _check(self):
        if self.handle.value < 0:
            raise Exception("invalid robot control handle")

    def servo_j(self, joint_pos, move_mode):
        self._check()
        return (self.lib.servo_j(self._h, JointVector(tuple(joint_pos)), move_mode),)

    def joint_move(self, joint_pos, move_mode, is_block, speed):
        self._check()
        return (self.lib.joint_move(self._h, JointVector(tuple(joint_pos)), move_mode, is_block, speed),)

    def get_joint_position(self):
        self._check()
        v = JointVector()
        code = self.lib.get_joint_position(self._h, v)
        return (code,) if code else (0, list(v.jVal))

    def get_robot_status(self):
        self._check()
        s = RobotStatusRecord()
        code = self.lib.get_robot_status(self._h, s)
        if code:
            return (code,)
        return (0, (s.status_0, s.status_1, s.status_2, s.status_3, s.status_4, s.status_5, s.status_6,
                    s.status_7, s.status_8, s.status_9, tuple(s.status_10), tuple(s.status_11),
                    tuple(s.status_12), tuple(s.status_13), tuple(map(float, s.status_14)),
                    tuple(s.status_15), tuple(s.status_16), tuple(map(float, s.status_17)),
                    tuple(s.status_18), tuple(s.status_19)))

    def get_exist_traj_file_name(self):
        self._check()
        files = TrajectoryFileList()
        code = self.lib.get_exist_traj_file_name(self._h, files)
        if code:
            return (code,)
        count = max(0, min(files.count, 8192))
        return (0, [files.name[i].value.decode() for i in range(count)])


# ---- cases ----------------------------------------------------------------

# (case, method, statement, calls per repeat); `rc` is the binding's robot
# object, called the way a script calls it (attribute lookup included).
CASES = [
    ("servo_j(tuple, mode)", "servo_j", "rc.servo_j(J, 0)", 40000),
    ("servo_j(list, mode)", "servo_j", "rc.servo_j(JL, 0)", 40000),
    ("servo_j(joint_pos=, move_mode=)", "servo_j", "rc.servo_j(joint_pos=J, move_mode=0)", 40000),
    ("get_joint_position()", "get_joint_position", "rc.get_joint_position()", 40000),
    ("get_robot_status()", "get_robot_status", "rc.get_robot_status()", 4000),
    ("joint_move(keywords)", "joint_move", "rc.joint_move(joint_pos=J, move_mode=0, is_block=0, speed=1.0)", 40000),
    ("get_exist_traj_file_name()", "get_exist_traj_file_name", "rc.get_exist_traj_file_name()", 200),
]
BINDINGS = ["velmo", "ctypes", "pybind11", "C API"]
CAPI_CASES = {"servo_j(tuple, mode)", "servo_j(list, mode)", "get_robot_status()"}
LIBRARY_FUNCTION = {case: method for case, method, _, _ in CASES}

# velmo's time over a reference's, from the same run: (what, case, reference, at most)
TARGETS = [
    ("servo_j positional vs pybind11", "servo_j(tuple, mode)", "pybind11", 0.5),
    ("servo_j positional vs ctypes", "servo_j(tuple, mode)", "ctypes", 0.1),
    ("servo_j keywords vs pybind11 keywords", "servo_j(joint_pos=, move_mode=)", "pybind11", 0.7),
    ("get_robot_status vs full-API builder", "get_robot_status()", "C API", 1.3),
]


def setup():
    """A fresh controller, one login, journal off; every binding on its handle."""
    probe = zandrel_sim.Probe()
    probe.reset()
    rc = velmo.RC("127.0.0.1")
    code, = rc.login()
    assert code == 0, "login failed with %d" % code
    probe.journal_enable(False)
    import ref_capi
    import ref_pybind11
    return {"velmo": rc, "ctypes": CtypesRC(zandrel_sim.library_path(), rc.handle),
            "pybind11": ref_pybind11.RC(rc.handle), "C API": ref_capi.RC(rc.handle)}


def supports(binding, case):
    return binding != "C API" or case in CAPI_CASES


CLOCKS = {"thread": time.thread_time, "wall": time.perf_counter}
clock = CLOCKS["thread"]


def make_timer(statement, robot):
    """A timeit.Timer whose loop sees rc, J and JL as local variables."""
    return timeit.Timer(statement, setup="rc = _rc; J = _J; JL = _JL", timer=clock,
                        globals={"_rc": robot, "_J": J, "_JL": JL})


def library_alone():
    """{function: (median ns, p25, p75, code)} from sim_cost, journal off."""
    exe = os.path.join(BUILD, "sim_cost")
    out = subprocess.run([exe, "--repeats", "11"], check=True, capture_output=True, text=True,
                         env=dict(os.environ, LD_LIBRARY_PATH=os.path.dirname(zandrel_sim.library_path())))
    found = {}
    for line in out.stdout.splitlines():
        name, median, p25, p75, code = line.split()
        found[name] = (float(median), float(p25), float(p75), int(code))
    return found


def run_one(binding, case, n):
    objects = setup()
    statement = next(c[2] for c in CASES if c[0] == case)
    make_timer(statement, objects[binding]).timeit(n)


def measure(repeats, cases):
    objects = setup()
    codes = {}
    for case, _, statement, _ in cases:
        results = {b: eval(statement, {"rc": objects[b], "J": J, "JL": JL})
                   for b in BINDINGS if supports(b, case)}
        first = results["velmo"]
        for b, r in results.items():
            assert r == first, "%s: %s returned %r, velmo %r" % (case, b, r[:1], first[:1])
        codes[case] = first[0]
    timings = {(case, b): [] for case, _, _, _ in cases for b in BINDINGS}
    empty = make_timer("pass", None)
    loop = []
    for _ in range(repeats):
        loop.append(empty.timeit(100000) / 100000 * 1e9)
        for case, _, statement, n in cases:
            order = [b for b in BINDINGS if supports(b, case)]
            random.shuffle(order)
            for b in order:
                seconds = make_timer(statement, objects[b]).timeit(n)
                timings[(case, b)].append(seconds / n * 1e9)
    return timings, codes, quantiles(loop)[0]


def fmt(q):
    median, p25, p75 = q[:3]
    return "%.0f (%.0f–%.0f)" % (median, p25, p75)


def report(timings, codes, loop_ns, library, label, repeats, cases):
    head = ["case", "velmo", "ctypes", "×", "pybind11", "×", "C API", "×", "library alone", "code"]
    rows = []
    q = {k: quantiles(v) for k, v in timings.items() if v}
    for case, _, _, _ in cases:
        v = q[(case, "velmo")][0]
        row = [case, fmt(q[(case, "velmo")])]
        for b in ("ctypes", "pybind11", "C API"):
            if (case, b) in q:
                row += [fmt(q[(case, b)]), "%.2f" % (q[(case, b)][0] / v)]
            else:
                row += ["–", ""]
        lib = library.get(LIBRARY_FUNCTION[case])
        row += ["%.0f" % lib[0] if lib else "?", str(codes[case])]
        rows.append(row)

    def net(case, binding):
        lib = library.get(LIBRARY_FUNCTION[case])
        return q[(case, binding)][0] - (lib[0] if lib else 0)

    targets = [(name, q[(case, "velmo")][0] / q[(case, ref)][0], net(case, "velmo") / net(case, ref), limit)
               for name, case, ref, limit in TARGETS if (case, ref) in q]
    lines = ["## Calls: ns per call (%s)" % label, "",
             "%s. %s; %d interleaved repeats, median (25th–75th percentile) ns per call; "
             "× = that binding's median over velmo's. Empty timing loop: %.0f ns per iteration, "
             "included in every figure. Library alone: the same call from C++ (sim_cost), journal off. "
             "Code: what the call returned (all bindings alike)." % (stamp(), machine(), repeats, loop_ns),
             "",
             "| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    lines += ["", "| target | velmo / reference | limit | | net of the library alone |", "|---|---|---|---|---|"]
    lines += ["| %s | %.3f | %.1f | %s | %.3f |" % (name, r, limit, "met" if r <= limit else "MISSED", n)
              for name, r, n, limit in targets]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=15)
    parser.add_argument("--label", default="velmo as installed")
    parser.add_argument("--section", default="calls", help="RESULTS.md section to replace")
    parser.add_argument("--write", action="store_true", help="write the table to RESULTS.md")
    parser.add_argument("--clock", choices=sorted(CLOCKS), default="thread",
                        help="thread: CPU time of the calling thread (default); wall: elapsed time")
    parser.add_argument("--cases", default="", help="';'-separated case names (default: all)")
    parser.add_argument("--one", nargs=3, metavar=("BINDING", "CASE", "N"))
    args = parser.parse_args()
    global clock
    clock = CLOCKS[args.clock]
    if args.one:
        binding, case, n = args.one
        run_one(binding, case, int(n))
        return
    cases = [c for c in CASES if not args.cases or c[0] in args.cases.split(";")]
    library = library_alone()
    timings, codes, loop_ns = measure(args.repeats, cases)
    text = report(timings, codes, loop_ns, library, "%s, %s clock" % (args.label, args.clock), args.repeats, cases)
    print(text)
    if args.write:
        write_section(args.section, text)


if __name__ == "__main__":
    main()

"""Shared by the benchmarks: where they run, and their sections of RESULTS.md."""

import datetime
import os
import platform
import re
import statistics

HERE = os.path.dirname(os.path.abspath(__file__))
RESULTS = os.path.join(HERE, "RESULTS.md")
HEADER = """# Benchmark results

Written by the scripts in this folder (see README.md); each section is
replaced by the script that owns it. Times are nanoseconds per call on a
shared virtual machine (each section names its clock and the load when it
started): compare ratios within one section, not absolute numbers across
sections.
"""


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def machine():
    """One line: processor, cores, load, OS, interpreter (its version: where
    it lives on this machine says nothing to a reader of another)."""
    return "%s, %d cores, load average %.1f at the start; %s; %s %s" % (
        cpu_model(), os.cpu_count() or 0, os.getloadavg()[0], platform.platform(),
        platform.python_implementation(), platform.python_version())


def stamp():
    return datetime.datetime.now().strftime("%Y-%m-%d %H:%M")


def quantiles(values):
    """(median, 25th percentile, 75th percentile)."""
    if len(values) == 1:
        return values[0], values[0], values[0]
    q1, q2, q3 = statistics.quantiles(values, n=4, method="inclusive")
    return q2, q1, q3


def write_section(name, body):
    """Replace (or append) the section `name` of RESULTS.md."""
    begin, end = "<!-- %s -->" % name, "<!-- /%s -->" % name
    block = "%s\n%s\n%s" % (begin, body.rstrip(), end)
    text = open(RESULTS).read() if os.path.exists(RESULTS) else HEADER
    pattern = re.compile(re.escape(begin) + ".*?" + re.escape(end), re.S)
    if pattern.search(text):
        text = pattern.sub(lambda _: block, text)
    else:
        text = text.rstrip() + "\n\n" + block + "\n"
    with open(RESULTS, "w") as f:
        f.write(text if text.endswith("\n") else text + "\n")

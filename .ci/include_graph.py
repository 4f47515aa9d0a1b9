"""The #include "..." edges between the units of the virtual controller
(sim/): a unit is a header and its source (core/motion.h and core/motion.cpp
are core/motion). Prints every edge, then fails on a cycle.

    python .ci/include_graph.py [SIM_FOLDER]
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def unit_of(path, root):
    return os.path.splitext(os.path.relpath(path, root))[0].replace(os.sep, "/")


def resolve(name, including_dir, root):
    """Where a quoted include lands: beside the including file, else from sim/."""
    for base in (including_dir, root):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None  # outside sim/ (the library's header, the standard library)


def edges(root):
    found = set()
    for folder, _, files in os.walk(root):
        for file in files:
            if not file.endswith((".h", ".cpp", ".def")):
                continue
            path = os.path.join(folder, file)
            with open(path, encoding="utf-8") as f:
                text = f.read()
            for name in INCLUDE.findall(text):
                target = resolve(name, folder, root)
                if target:
                    a, b = unit_of(path, root), unit_of(target, root)
                    if a != b:
                        found.add((a, b))
    return found


def find_cycle(graph):
    """One cycle as a list of units, or None."""
    state, stack = {}, []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                cycle = visit(nxt)
                if cycle:
                    return cycle
        stack.pop()
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            cycle = visit(node)
            if cycle:
                return cycle
    return None


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "sim")
    found = edges(root)
    graph = {}
    for a, b in sorted(found):
        print(f"{a} -> {b}")
        graph.setdefault(a, set()).add(b)
    cycle = find_cycle(graph)
    if cycle:
        print("include cycle: " + " -> ".join(cycle), file=sys.stderr)
        return 1
    print(f"{len(found)} edges, no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

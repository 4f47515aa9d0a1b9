"""The layers of the project's code, held against the code itself.

docs/architecture.md keeps one table of layers (between <!-- layers --> and
<!-- /layers -->), from the top down: each row names its units and the layers
it uses. A unit is a header and its source (sim/core/motion.h and
sim/core/motion.cpp are sim/core/motion), a .def manifest, or a Python
module of python/. This script reads the `#include "..."` edges of src/ and
sim/ and the imports of python/, prints them, and fails when

- a unit of the tree is in no row, or a row names a unit that is not there;
- a unit includes or imports one of a layer above its own;
- a layer uses a layer that its row does not list, or lists one it does not use;
- units include each other in a cycle.

    python .ci/include_graph.py [PROJECT_ROOT]
"""

import ast
import fnmatch
import os
import re
import sys

TREES = ("src", "sim", "python")
PAGE = os.path.join("docs", "architecture.md")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
TABLE = re.compile(r"<!-- layers -->(.*?)<!-- /layers -->", re.S)
CODE = re.compile(r"`([^`]+)`")


def unit_of(path, root):
    return os.path.splitext(os.path.relpath(path, root))[0].replace(os.sep, "/")


def sources(root):
    """Every file of the trees that makes a unit."""
    for tree in TREES:
        for folder, dirs, files in os.walk(os.path.join(root, tree)):
            dirs[:] = sorted(d for d in dirs if d != "__pycache__")
            for file in sorted(files):
                if file.endswith((".h", ".cpp", ".def", ".py")):
                    yield os.path.join(folder, file)


def resolve_include(name, including_dir, tree_root):
    """Where a quoted include lands: beside the including file, else from its tree's root."""
    for base in (including_dir, tree_root):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None  # outside the tree (the library's header, the standard library)


def module_file(root, dotted):
    """python/<dotted>.py or its package's __init__.py, if it is in the tree."""
    base = os.path.join(root, "python", *dotted.split("."))
    for candidate in (base + ".py", os.path.join(base, "__init__.py")):
        if os.path.isfile(candidate):
            return candidate
    return None


def imported_files(path, root):
    """The files of python/ that a module imports (velmo, the standard library: not files of the tree)."""
    with open(path, encoding="utf-8") as f:
        tree = ast.parse(f.read(), path)
    package = unit_of(os.path.dirname(path), os.path.join(root, "python")).replace("/", ".")
    found = []
    for node in ast.walk(tree):
        names = []
        if isinstance(node, ast.Import):
            names = [alias.name for alias in node.names]
        elif isinstance(node, ast.ImportFrom):
            base = node.module or ""
            if node.level:
                parts = package.split(".") if package != "." else []
                parts = parts[:len(parts) - (node.level - 1)]
                base = ".".join(parts + ([node.module] if node.module else []))
            names = [base + "." + alias.name for alias in node.names]
            if not any(module_file(root, name) for name in names):
                names = [base]  # names taken from the module `base`, not modules of a package
        for name in names:
            target = module_file(root, name) if name else None
            if target and os.path.abspath(target) != os.path.abspath(path):
                found.append(target)
    return found


def edges(root):
    """{(unit, unit)} over the three trees; units carry their tree (sim/core/motion)."""
    found = set()
    for path in sources(root):
        tree = os.path.relpath(path, root).split(os.sep)[0]
        if path.endswith(".py"):
            targets = imported_files(path, root)
        else:
            with open(path, encoding="utf-8") as f:
                text = f.read()
            targets = [resolve_include(name, os.path.dirname(path), os.path.join(root, tree))
                       for name in INCLUDE.findall(text)]
        for target in targets:
            if target:
                a, b = unit_of(path, root), unit_of(target, root)
                if a != b:
                    found.add((a, b))
    return found


def read_layers(root):
    """[(layer, [unit patterns], [layers it uses])] from the page, top row first."""
    with open(os.path.join(root, PAGE), encoding="utf-8") as f:
        match = TABLE.search(f.read())
    if not match:
        raise SystemExit(f"{PAGE} has no <!-- layers --> table")
    rows = []
    for line in match.group(1).splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) < 3 or not cells[1].startswith("`"):
            continue  # the header, its rule, blank lines
        uses = [u.strip() for u in cells[2].split(",") if u.strip() not in ("", "-", "–", "nothing")]
        rows.append((cells[0].strip("*` "), CODE.findall(cells[1]), uses))
    return rows


def place(units, rows):
    """{unit: row index}, and the problems: units in no row or in two, rows that match nothing."""
    where, problems = {}, []
    for unit in sorted(units):
        hits = [n for n, (_, patterns, _) in enumerate(rows) if any(fnmatch.fnmatchcase(unit, p) for p in patterns)]
        if not hits:
            problems.append(f"{unit} is in no layer of {PAGE}: add it to the row of the layer it belongs to")
        elif len(set(hits)) > 1:
            problems.append(f"{unit} is in two layers: {', '.join(rows[n][0] for n in sorted(set(hits)))}")
        else:
            where[unit] = hits[0]
    for name, patterns, _ in rows:
        for pattern in patterns:
            if not any(fnmatch.fnmatchcase(unit, pattern) for unit in units):
                problems.append(f"the layer {name} names {pattern}, which is no unit of the tree")
    return where, problems


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


def check(root):
    """(edges, problems)."""
    found = edges(root)
    units = {unit_of(p, root) for p in sources(root)}
    rows = read_layers(root)
    names = [name for name, _, _ in rows]
    where, problems = place(units, rows)
    used = {name: set() for name in names}
    for a, b in sorted(found):
        if a not in where or b not in where:
            continue
        if where[b] < where[a]:
            problems.append(f"{a} ({names[where[a]]}) reaches up to {b} ({names[where[b]]})")
        elif where[b] != where[a]:
            used[names[where[a]]].add(names[where[b]])
    for name, _, listed in rows:
        for other in listed:
            if other not in names:
                problems.append(f"the layer {name} uses {other}, which is no layer")
        if used[name] != set(listed):
            problems.append(f"the layer {name} uses {', '.join(sorted(used[name])) or 'nothing'}; "
                            f"its row says {', '.join(sorted(listed)) or 'nothing'}")
    graph = {}
    for a, b in found:
        graph.setdefault(a, set()).add(b)
    cycle = find_cycle(graph)
    if cycle:
        problems.append("include cycle: " + " -> ".join(cycle))
    return found, problems


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    found, problems = check(root)
    for a, b in sorted(found):
        print(f"{a} -> {b}")
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    print(f"{len(found)} edges, every unit in its layer, none reaching up, no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

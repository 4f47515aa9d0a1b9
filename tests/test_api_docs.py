"""RC's methods are described three times: by the running module's method
table, by the type stubs (velmo-stubs/__init__.pyi) and by the API reference
(docs/api.md). All three must name the same methods, with the same calling
kind and parameters; the stubs type each method by its success shape, which
is the reference's Success type, and what the methods return must have the
reference's Success and Failure shapes."""

import ast
import copy
import os
import re
from typing import Dict, List, NamedTuple, Optional, Tuple

import pytest

import velmo
from methods_table import ROWS

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
STUB_FILE = os.path.join(ROOT, "velmo-stubs", "__init__.pyi")
DOCS_FILE = os.path.join(ROOT, "docs", "api.md")
HANDLE_ERROR = "invalid robot control handle"


class Param(NamedTuple):
    name: str
    style: str  # "positional" (before /), "keyword", "*" or "**"
    annotation: str  # ast dump; empty for * and **
    has_default: bool


class Signature(NamedTuple):
    kind: str  # N: no arguments, V: positional only, VK: keywords too
    params: Tuple[Param, ...]
    returns: Optional[ast.expr]


def dump(node: Optional[ast.expr]) -> str:
    return ast.dump(node) if node is not None else ""


def signature(function: ast.FunctionDef, method: bool) -> Signature:
    a = function.args
    assert not a.kwonlyargs, f"{function.name}: keyword-only parameters are not a calling kind of RC"
    positional, keyword = list(a.posonlyargs), list(a.args)
    if method:
        (positional or keyword).pop(0)  # self
    named = [(p, "positional") for p in positional] + [(p, "keyword") for p in keyword]
    first_default = len(named) - len(a.defaults)
    params = [Param(p.arg, style, dump(p.annotation), i >= first_default) for i, (p, style) in enumerate(named)]
    if a.vararg:
        params.append(Param(a.vararg.arg, "*", "", False))
    if a.kwarg:
        params.append(Param(a.kwarg.arg, "**", "", False))
    kind = "VK" if keyword or a.kwarg else "V" if positional or a.vararg else "N"
    return Signature(kind, tuple(params), function.returns)


def expression(text: str) -> ast.expr:
    return ast.parse(text.strip(), mode="eval").body


def expand(node: ast.expr, aliases: Dict[str, ast.expr]) -> ast.expr:
    """A copy of the type with every alias name replaced by what it stands for."""

    class Expand(ast.NodeTransformer):
        def visit_Name(self, name: ast.Name) -> ast.AST:
            return self.visit(copy.deepcopy(aliases[name.id])) if name.id in aliases else name

    return Expand().visit(copy.deepcopy(node))


def items(node: ast.Subscript) -> List[ast.expr]:
    """The parameters of a subscripted type (Python 3.8 wraps them in ast.Index)."""
    inner = node.slice
    if type(inner).__name__ == "Index":
        inner = inner.value  # type: ignore[attr-defined]
    return list(inner.elts) if isinstance(inner, ast.Tuple) else [inner]


def same_type(a: ast.expr, a_aliases: Dict[str, ast.expr], b: ast.expr, b_aliases: Dict[str, ast.expr]) -> bool:
    return ast.dump(expand(a, a_aliases)) == ast.dump(expand(b, b_aliases))


# ---- the stubs --------------------------------------------------------------------

# The stubs' private protocols for number vectors, by the names the reference gives them.
STUB_PROTOCOLS = {"_Floats": "Floats", "_Rows": "Rows"}


class PublicNames(ast.NodeTransformer):
    def visit_Name(self, name: ast.Name) -> ast.AST:
        return ast.copy_location(ast.Name(STUB_PROTOCOLS.get(name.id, name.id), name.ctx), name)


def read_stubs():
    tree = PublicNames().visit(ast.parse(open(STUB_FILE, encoding="utf-8").read()))
    aliases = {}
    for node in tree.body:
        if isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name):
            aliases[node.targets[0].id] = node.value
    [rc] = [node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "RC"]
    methods = {f.name: signature(f, True) for f in rc.body if isinstance(f, ast.FunctionDef) and f.name != "__init__"}
    members = {m.target.id: dump(m.annotation) for m in rc.body if isinstance(m, ast.AnnAssign)}
    return methods, members, aliases


STUBS, STUB_MEMBERS, STUB_ALIASES = read_stubs()


# ---- the reference ------------------------------------------------------------------

class Entry(NamedTuple):
    signature: Signature
    purpose: str
    parameters: str
    success: str  # type text
    failure: Optional[str]  # type text; None when the method raises instead


def last_code(text: str) -> str:
    spans = re.findall(r"`([^`]*)`", text)
    return spans[-1] if spans else ""


def read_docs():
    text = open(DOCS_FILE, encoding="utf-8").read()
    aliases = {name: expression(value) for name, value in re.findall(r"^\| `(\w+)` \| `(.+)` \|$", text, re.M)}
    members = {name: dump(expression(annotation)) for name, annotation in re.findall(r"^- `(\w+): (\w+)`", text, re.M)}
    entries = {}
    for block in re.split(r"^### ", text, flags=re.M)[1:]:
        heading, *lines = block.strip().splitlines()
        function = ast.parse("def " + heading.strip("`") + ": ...").body[0]
        assert isinstance(function, ast.FunctionDef)
        fields = {line[2:].split(":", 1)[0]: line.split(":", 1)[1].strip() for line in lines if line.startswith("- ")}
        failure = fields.get("Failure", "")
        entries[function.name] = Entry(
            signature(function, False),
            lines[0] if lines and not lines[0].startswith("- ") else "",
            fields.get("Parameters", ""),
            last_code(fields.get("Success", "")),
            None if failure.startswith("raises") else last_code(failure),
        )
    return entries, members, aliases


DOCS, DOC_MEMBERS, DOC_ALIASES = read_docs()
RUNTIME = sorted(name for name, value in vars(velmo.RC).items() if callable(value) and not name.startswith("_"))


def stub_result(name: str) -> ast.expr:
    returns = STUBS[name].returns
    assert returns is not None, f"{name} has no result type in the stubs"
    return returns


# ---- runtime ---------------------------------------------------------------------

def runtime_kind(robot: "velmo.RC", name: str) -> str:
    """The calling kind, from how the interpreter and the method react to a robot whose handle is -1."""
    method = getattr(robot, name)
    try:
        method(1)
    except TypeError as error:
        if "takes no arguments" in str(error):
            return "N"
    except Exception:
        pass  # the handle check, or the method's own parse
    try:
        method(probe_keyword=1)
    except TypeError as error:
        assert "takes no keyword arguments" in str(error), error
        return "V"
    except Exception as error:
        assert type(error) is Exception and str(error) == HANDLE_ERROR, error
        return "VK"
    raise AssertionError(f"{name} accepted an unknown keyword with an invalid handle")


SAMPLES = {row.name: row.args for row in ROWS}
SAMPLES.update({"set_error_handler": (lambda code: None,), "call_func": (lambda x, y: x * y, 1.5, 2.0)})
LIBRARY = {"login": "create_handler", "logout": "destory_handler", "call_func": None}
SCALARS = {"int": int, "float": float, "str": str, "None": type(None)}


def matches(value: object, node: ast.expr) -> bool:
    """Whether a result has the shape a (fully expanded) type expression describes; ints are not floats."""
    if isinstance(node, ast.Constant) and node.value is None:
        return value is None
    if isinstance(node, ast.Name):
        return type(value) is SCALARS[node.id]
    assert isinstance(node, ast.Subscript), ast.dump(node)
    base, inner = getattr(node.value, "id", None), items(node)
    if base == "Union":
        return any(matches(value, item) for item in inner)
    if base == "List":
        return type(value) is list and all(matches(v, inner[0]) for v in value)
    assert base == "Tuple", ast.dump(node)
    if type(value) is not tuple:
        return False
    if len(inner) == 2 and isinstance(inner[1], ast.Constant) and inner[1].value is Ellipsis:
        return all(matches(v, inner[0]) for v in value)
    return len(value) == len(inner) and all(matches(v, item) for v, item in zip(value, inner))


# ---- the three agree ---------------------------------------------------------------

def test_the_same_methods_and_members_everywhere():
    assert len(RUNTIME) == 110
    assert sorted(STUBS) == RUNTIME
    assert sorted(DOCS) == RUNTIME
    members = {name for name, value in vars(velmo.RC).items() if type(value).__name__ == "member_descriptor"}
    assert members == set(STUB_MEMBERS) == set(DOC_MEMBERS) == {"handle", "ip_addr"}
    assert STUB_MEMBERS == DOC_MEMBERS


@pytest.mark.parametrize("name", RUNTIME)
def test_kind_and_parameters_agree(name):
    robot = velmo.RC("10.0.0.1")
    robot.handle = -1
    stub, entry = STUBS[name], DOCS[name]
    assert runtime_kind(robot, name) == stub.kind == entry.signature.kind
    assert stub.params == entry.signature.params


@pytest.mark.parametrize("name", RUNTIME)
def test_reference_entry_is_complete_and_its_results_are_the_stubs(name):
    entry = DOCS[name]
    assert entry.purpose and entry.parameters and entry.success
    assert same_type(expression(entry.success), DOC_ALIASES, stub_result(name), STUB_ALIASES)
    if entry.failure is None:  # raises instead of returning a code
        assert name in ("set_error_handler", "call_func")
    else:  # the code alone, or the same shape whatever the code
        assert entry.failure in ("Tuple[int]", entry.success)


# ---- the stubs against the running module -------------------------------------------------------

@pytest.mark.parametrize("row", ROWS, ids=[row.name for row in ROWS])
def test_stub_parameters_are_the_method_tables(row):
    """test_method_calls.py holds the running methods to the table: its
    keywords, its sample call's length, the methods that ignore arguments."""
    params = STUBS[row.name].params
    assert ("*" in {p.style for p in params}) == row.ignores_args
    if not row.ignores_args:
        assert len(params) == len(row.args)
    if row.keywords:
        assert tuple(p.name for p in params) == row.keywords
    # the one argument that may be left out (test_jog_without_position_command_sends_zero)
    assert [p.name for p in params if p.has_default] == (["pos_cmd"] if row.name == "jog" else [])


@pytest.mark.parametrize("name", RUNTIME)
def test_results_have_the_stubs_shapes(rc, sim, name):
    success = expand(stub_result(name), STUB_ALIASES)
    method, args, library = getattr(rc, name), SAMPLES.get(name, ()), LIBRARY.get(name, name)
    if library:
        sim.inject(library, 0)  # success, out-parameters left as velmo cleared them
    result = method(*args)
    assert matches(result, success), (result, ast.dump(success))
    if name in ("set_error_handler", "call_func"):
        return
    failure = expand(expression(DOCS[name].failure or ""), DOC_ALIASES)
    sim.inject(library, -5)
    result = method(*args)
    assert result[0] == -5 and matches(result, failure), (result, ast.dump(failure))


# ---- what an editor shows: the stubs' docstrings ------------------------------------------

def stub_docstrings():
    tree = ast.parse(open(STUB_FILE, encoding="utf-8").read())
    [rc] = [node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "RC"]
    return {f.name: (f, ast.get_docstring(f) or "") for f in rc.body
            if isinstance(f, ast.FunctionDef) and f.name != "__init__"}


# parameters whose docstring must say their unit
UNITS = {"joint_pos": "rad", "ref_pos": "rad", "end_pos": "mm", "cartesian_pose": "mm", "mid_pos": "mm",
         "jog_vel": "rad/s or mm/s", "cutoffFreq": "Hz", "mass": "kg", "centroid": "mm"}


@pytest.mark.parametrize("name", RUNTIME)
def test_every_stub_method_says_what_it_does_its_arguments_and_its_result(name):
    function, doc = stub_docstrings()[name]
    purpose, _, rest = doc.partition("\n\n")
    assert " ".join(purpose.split()) == DOCS[name].purpose.replace("`", "")  # the reference's own words
    assert "Arguments:" in rest and "Result:" in rest
    flat = " ".join(rest.split())
    for param in STUBS[name].params:
        if param.style == "keyword" or param.style == "positional":
            assert param.name in flat, f"{name}: {param.name} not described"
            if param.name in UNITS:
                assert UNITS[param.name] in flat, f"{name}: {param.name} without its unit"
    if name in ("joint_move", "joint_move_extend"):
        assert "rad/s" in flat
    if name.startswith(("linear_move", "circular_move")):
        assert "mm/s" in flat or "linear_move" in flat

#!/usr/bin/env python3
"""Write what comes from the one table of error codes, sim/core/error_codes.def.

    python scripts/error_codes.py           rewrite the generated parts
    python scripts/error_codes.py --check   list the files that disagree with the table (status 1)

The virtual controller expands the table itself when it is compiled. This
script writes the rest from it: velmo_arm's `Code` members, their texts and
families (python/velmo_arm/errors.py, between its "generated" markers), the
code table of docs/virtual-controller.md, the messages of
docs/virtual-controller-files.md's table and the codes of each family in
docs/velmo_arm.md. tests/test_error_codes.py runs the check.
"""

import argparse
import pathlib
import re
import sys
from typing import Callable, Dict, List, NamedTuple

ROOT = pathlib.Path(__file__).resolve().parents[1]
TABLE = ROOT / "sim" / "core" / "error_codes.def"
MESSAGE_LIMIT = 119  # bytes of get_last_error's message, before its NUL

ROW = re.compile(r'^ZSIM_ERROR_CODE\((\d+), (k[A-Z][A-Za-z0-9]*), ([A-Z][A-Za-z]*), "([^"\\]*)", "([^"\\]*)"\)$')


class Code(NamedTuple):
    number: int
    constant: str  # kIoRange
    family: str  # NotReady, or Arm for ArmError itself
    phrase: str
    message: str

    @property
    def name(self) -> str:
        """The constant in capitals: kIoRange -> IO_RANGE."""
        return re.sub(r"(?<!^)(?=[A-Z])", "_", self.constant[1:]).upper()

    @property
    def error_class(self) -> str:
        return self.family + "Error"


def read_table(path: pathlib.Path = TABLE) -> List[Code]:
    """The rows of the table, checked: every line outside the comment is a row."""
    text = path.read_text(encoding="utf-8")
    body = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    codes = []
    for number, line in enumerate(body.splitlines(), 1):
        if not line.strip():
            continue
        found = ROW.match(line)
        if not found:
            raise ValueError(f"{path.name}: not a row of the table: {line!r}")
        code = Code(int(found.group(1)), *found.groups()[1:])
        if len(code.message.encode("utf-8")) > MESSAGE_LIMIT:
            raise ValueError(f"{path.name}: the message of {code.constant} is longer than {MESSAGE_LIMIT} bytes")
        codes.append(code)
    for field in ("number", "constant", "phrase"):
        values = [getattr(code, field) for code in codes]
        if len(set(values)) != len(values):
            raise ValueError(f"{path.name}: two rows share a {field}")
    if [code.number for code in codes] != sorted(code.number for code in codes):
        raise ValueError(f"{path.name}: the rows are not in the order of their numbers")
    return codes


# ---- what each file gets ----------------------------------------------------------------------------------

BEGIN = "generated from sim/core/error_codes.def by scripts/error_codes.py: begin"
END = "generated: end"


def replace_blocks(text: str, blocks: List[str], opening: str, closing: str = "") -> str:
    """Replace, in order, the lines between each pair of marker lines (opening BEGIN closing ... opening END
    closing); the markers may be indented."""
    pattern = re.compile(r"(^([ \t]*)" + re.escape(opening + BEGIN + closing) + r"\n).*?(^\2"
                         + re.escape(opening + END + closing) + r"$)", re.S | re.M)
    found = list(pattern.finditer(text))
    if len(found) != len(blocks):
        raise ValueError(f"expected {len(blocks)} generated blocks, found {len(found)}")
    for match, block in reversed(list(zip(found, blocks))):
        text = text[:match.end(1)] + block + text[match.start(3):]
    return text


def section(text: str, heading: str) -> "tuple[int, int]":
    """Where the section under `heading` (a "## " line) starts and ends."""
    start = text.index(f"\n{heading}\n")
    end = text.find("\n## ", start + 1)
    return start, end if end > 0 else len(text)


def python_errors(text: str, codes: List[Code]) -> str:
    """The members of `Code`, and the texts and families the module reads."""
    for code in codes:
        if code.family != "Arm" and not re.search(rf"^class {code.error_class}\(ArmError\):", text, re.M):
            raise ValueError(f"{code.constant}'s family {code.error_class} is not a class of errors.py")
    members = "".join(f"    {code.name} = {code.number}\n" for code in codes)
    texts = "".join(f'    {code.number}: ("{code.phrase}", "{code.message}"),\n' for code in codes)
    families = "".join(f"    Code.{code.name}: {code.error_class},\n" for code in codes if code.family != "Arm")
    data = ("_TEXTS: Dict[int, Tuple[str, str]] = {  # number: (phrase, description)\n" + texts + "}\n"
            "_FAMILIES: Dict[int, Type[ArmError]] = {\n" + families + "}\n")
    return replace_blocks(text, [members, data], "# ")


def controller_page(text: str, codes: List[Code]) -> str:
    """The table of every code: code | name | message."""
    rows = "| code | name | message |\n|---:|---|---|\n" + "".join(
        f"| {code.number} | {code.phrase} | {code.message} |\n" for code in codes)
    return replace_blocks(text, [rows], "<!-- ", " -->")


def cells(line: str) -> List[str]:
    return [cell.strip() for cell in line.strip()[1:-1].split("|")]


def rewrite_rows(text: str, heading: str, rewrite: Callable[[List[str]], "List[str] | None"]) -> str:
    """Each table row of a section through `rewrite` (its cells in, its cells or None out)."""
    start, end = section(text, heading)
    lines = text[start:end].split("\n")
    for i, line in enumerate(lines):
        if line.startswith("|") and line.endswith("|"):
            new = rewrite(cells(line))
            if new is not None:
                lines[i] = "|" + "|".join(f" {cell} " if cell else " " for cell in new) + "|"
    return text[:start] + "\n".join(lines) + text[end:]


def files_page(text: str, codes: List[Code]) -> str:
    """The message column of its "Error codes" table: code | message | when."""
    by_number = {code.number: code for code in codes}

    def row(cell: List[str]) -> "List[str] | None":
        if not cell[0].isdigit():
            return None
        if int(cell[0]) not in by_number:
            raise ValueError(f"virtual-controller-files.md lists code {cell[0]}, which the table does not have")
        return [cell[0], by_number[int(cell[0])].message] + cell[2:]

    return rewrite_rows(text, "## Error codes", row)


def arm_page(text: str, codes: List[Code]) -> str:
    """The codes column of the table of families: `NotReadyError` | 3 not powered, ... | what to do."""
    seen = set()

    def row(cell: List[str]) -> "List[str] | None":
        found = re.fullmatch(r"`(\w+)Error`( itself)?", cell[0])
        if not found:
            return None
        family = found.group(1)
        listed = ", ".join(f"{c.number} {c.phrase}" for c in codes if c.family == family and c.number != 0)
        if not listed:
            raise ValueError(f"docs/velmo_arm.md lists {family}Error, which no code of the table raises")
        seen.add(family)
        return [cell[0], listed + (", and unknown codes" if found.group(2) else "")] + cell[2:]

    text = rewrite_rows(text, "## Errors", row)
    missing = {code.error_class for code in codes if code.family not in seen}
    if missing:
        raise ValueError(f"docs/velmo_arm.md's table of families lacks {', '.join(sorted(missing))}")
    return text


TARGETS: Dict[str, Callable[[str, List[Code]], str]] = {
    "python/velmo_arm/errors.py": python_errors,
    "docs/virtual-controller.md": controller_page,
    "docs/virtual-controller-files.md": files_page,
    "docs/velmo_arm.md": arm_page,
}


def stale(root: pathlib.Path = ROOT, codes: "List[Code] | None" = None) -> Dict[str, str]:
    """{file: what it should read} for every file that disagrees with the table."""
    codes = read_table() if codes is None else codes
    out = {}
    for name, write in TARGETS.items():
        text = (root / name).read_text(encoding="utf-8")
        wanted = write(text, codes)
        if wanted != text:
            out[name] = wanted
    return out


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="change nothing; fail when a file disagrees")
    args = parser.parse_args()
    changed = stale()
    for name, text in changed.items():
        if args.check:
            print(f"{name} disagrees with sim/core/error_codes.def: run python scripts/error_codes.py")
        else:
            (ROOT / name).write_text(text, encoding="utf-8")
            print(f"wrote {name}")
    return 1 if args.check and changed else 0


if __name__ == "__main__":
    sys.exit(main())

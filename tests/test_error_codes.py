"""The one table of error codes (sim/core/error_codes.def) and everything that
comes from it: the library's messages, velmo_arm's Code with its texts and
families, the docs' tables and simkit's constants all say the same of every
code, and a code added to the table reaches each of them."""

import importlib.util
import pathlib
import re

import pytest

import simkit
import velmo_arm
from velmo_arm import Code, errors

ROOT = pathlib.Path(__file__).resolve().parents[1]


def load_writer():
    spec = importlib.util.spec_from_file_location("error_codes", ROOT / "scripts" / "error_codes.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


writer = load_writer()
TABLE = writer.read_table()
FAMILY_CLASSES = {cls.__name__: cls for cls in vars(velmo_arm).values()
                  if isinstance(cls, type) and issubclass(cls, velmo_arm.ArmError)}


def docs_rows():
    """{code: (name, message)} of docs/virtual-controller.md's table of codes."""
    text = (ROOT / "docs" / "virtual-controller.md").read_text(encoding="utf-8")
    start = text.index("\n## Error codes\n")
    section = text[start:text.index("\n## ", start + 1)]
    return {int(number): (name, message)
            for number, name, message in re.findall(r"^\| (\d+) \| ([^|]+) \| ([^|]+) \|$", section, re.M)}


def test_every_file_written_from_the_table_agrees_with_it():
    assert writer.stale() == {}, "run python scripts/error_codes.py"


def test_the_table_keeps_the_codes_the_layer_promises():
    """The public names of velmo_arm.Code that scripts use stay, with their numbers."""
    numbers = {code.name: code.number for code in TABLE}
    assert numbers["OK"] == 0 and numbers["INVALID_ARGUMENT"] == 2 and numbers["ERROR_STATE"] == 12
    assert numbers["FILE_TOO_LARGE"] == 24 and numbers["INTERNAL"] == 99
    assert [code.name for code in TABLE] == [member.name for member in Code]


@pytest.mark.parametrize("row", TABLE, ids=[code.name for code in TABLE])
def test_library_layer_docs_and_tests_say_the_same_of_each_code(rc, sim, row):
    # the library: an injected failure becomes the controller's last error, with its message
    if row.number == 0:
        rc.clear_error()
    else:
        sim.inject("power_on", row.number)
        assert rc.power_on() == (row.number,)
    assert rc.get_last_error() == (0, (row.number, row.message))
    # velmo_arm: the member, its texts, and the family an error of this code is raised as
    member = Code(row.number)
    assert (member.name, member.phrase, member.description) == (row.name, row.phrase, row.message)
    assert errors.describe(row.number) == row.message
    assert type(errors.error_for(row.number)) is FAMILY_CLASSES[row.error_class]
    # the docs' table and the tests' constants
    assert docs_rows()[row.number] == (row.phrase, row.message)
    assert getattr(simkit, row.name) == row.number


def test_codes_outside_the_table_have_no_text_of_their_own(rc, sim):
    sim.inject("power_on", 1234)
    assert rc.power_on() == (1234,)
    assert rc.get_last_error() == (0, (1234, "unknown error"))
    assert errors.describe(1234) == "controller error 1234"
    assert type(errors.error_for(1234)) is velmo_arm.ArmError
    assert set(docs_rows()) == {code.number for code in TABLE}


def test_a_code_added_to_the_table_reaches_every_file():
    added = writer.Code(120, "kServoFollowing", "Limit", "servo following", "servo stream: the arm fell behind")
    codes = sorted(TABLE + [added], key=lambda code: code.number)
    written = {name: write((ROOT / name).read_text(encoding="utf-8"), codes)
               for name, write in writer.TARGETS.items()}
    errors = written["python/velmo_arm/errors.py"]
    assert "    SERVO_FOLLOWING = 120\n" in errors
    assert '    120: ("servo following", "servo stream: the arm fell behind"),\n' in errors
    assert "    Code.SERVO_FOLLOWING: LimitError,\n" in errors
    assert "| 120 | servo following | servo stream: the arm fell behind |\n" in written["docs/virtual-controller.md"]
    assert "| `LimitError` | 7 joint limit, 17 speed limit, 25 following error, 120 servo following |" in written["docs/velmo_arm.md"]
    # what the new row does not concern stays as it was
    assert written["docs/virtual-controller-files.md"] == (
        ROOT / "docs" / "virtual-controller-files.md").read_text(encoding="utf-8")


GOOD = 'ZSIM_ERROR_CODE(120, kServoFollowing, Limit, "servo following", "the arm fell behind")'


@pytest.mark.parametrize("row, complaint", [
    (GOOD.replace("the arm fell behind", "m" * 120), "longer than 119 bytes"),
    (GOOD.replace("120", "99"), "share a number"),
    (GOOD.replace("kServoFollowing", "kFileTooLarge"), "share a constant"),
    (GOOD.replace('"servo following"', '"busy"'), "share a phrase"),
    (GOOD.replace("fell behind", 'said \\"no\\"'), "not a row"),
    (GOOD.replace("120", "50"), "not in the order"),
    (GOOD.replace("kServoFollowing", "SERVO_FOLLOWING"), "not a row"),
])
def test_a_table_the_writer_would_misread_is_refused(tmp_path, row, complaint):
    table = tmp_path / "error_codes.def"
    table.write_text(writer.TABLE.read_text(encoding="utf-8") + row + "\n", encoding="utf-8")
    with pytest.raises(ValueError, match=complaint):
        writer.read_table(table)


@pytest.mark.parametrize("target, complaint", [
    ("python/velmo_arm/errors.py", "JamError is not a class of errors.py"),
    ("docs/velmo_arm.md", "table of families lacks JamError"),
])
def test_a_new_family_needs_its_class_and_its_row_first(target, complaint):
    added = writer.Code(120, "kJammed", "Jam", "jammed", "the gripper is jammed")
    with pytest.raises(ValueError, match=complaint):
        writer.TARGETS[target]((ROOT / target).read_text(encoding="utf-8"), TABLE + [added])
